// Stopping a model import and handing it an executor. A stop set before or during a read
// (through the helper process, a forked child, our PLY reader, our OBJ reader) ends it with
// "stopped", nothing read and no process left behind; the moment "during" is made certain, not
// waited for: a child blocked for good on a named pipe, a pipe fed half-way, a message raised
// half-way. An executor changes nothing read, bit for bit.

#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_Executor.h"
#include "foundation/KV_Report.h"
#include "image/KV_PngWriter.h"
#include "meshfile/KV_MeshExporter.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_ObjReader.h"
#include "meshfile/KV_PlyReader.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceAppearance.h"
#include "tests/meshfile/AppearanceExpect.h"
#include "tests/support/ReportRecorder.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{

const std::string kModels = "/usr/share/assimp/models/";

void WriteText(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

void WritePicture(const std::string& path, int rows, int cols)
{
    KV_Image<KV_RGB8> image(rows, cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            image(r, c) = KV_RGB8(static_cast<unsigned char>(r * 7), static_cast<unsigned char>(c * 5), 90);
    std::string error;
    ASSERT_TRUE(KV_PngWriter::Write(image, path.c_str(), error)) << error;
}

// A binary PLY of an n x n grid of textured vertices and its quads (far more than a pipe holds),
// naming grid.png as its texture.
std::string GridPly(int n)
{
    std::string out = "ply\nformat binary_little_endian 1.0\ncomment TextureFile grid.png\n"
                      "element vertex " + std::to_string(n * n) +
                      "\nproperty float x\nproperty float y\nproperty float z\nproperty float u\n"
                      "property float v\nelement face " + std::to_string((n - 1) * (n - 1)) +
                      "\nproperty list uchar int vertex_indices\nend_header\n";
    auto put = [&out](const void* value, std::size_t size)
    { out.append(static_cast<const char*>(value), size); };
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
        {
            const float values[5] = {float(x), float(y), float((x * y) % 7), x / float(n - 1),
                                     y / float(n - 1)};
            put(values, sizeof values);
        }
    for (int y = 0; y + 1 < n; ++y)
        for (int x = 0; x + 1 < n; ++x)
        {
            const unsigned char four = 4;
            const std::int32_t corners[4] = {y * n + x, y * n + x + 1, (y + 1) * n + x + 1,
                                             (y + 1) * n + x};
            put(&four, 1);
            put(corners, sizeof corners);
        }
    return out;
}

// Two textured materials, the second's picture missing (the message about it comes half-way
// through the read, after the geometry).
const char* const kTwoMaterialsObj =
    "mtllib two.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "usemtl a\nf 1/1 2/2 3/3\nusemtl b\nf 1/1 3/3 4/4\n";
const char* const kTwoMaterialsMtl = "newmtl a\nmap_Kd grid.png\nnewmtl b\nmap_Kd nowhere.png\n";

// data/sample.osf written by our exporter (PLY or OBJ, its picture beside it as PNG).
std::string ExportedSample(KV_MeshFormat format, const std::string& name)
{
    KV_PolySurface sample;
    KV_SurfaceReadReport report;
    const std::string osf = std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf";
    EXPECT_TRUE(KV_ReadSurfaceFile(osf.c_str(), sample, report));
    const std::string path = TestScratchPath(name);
    std::string error;
    EXPECT_TRUE(KV_MeshExporter::Write(sample, path, format, error)) << error;
    return path;
}

// The children this thread has started and not yet reaped.
std::vector<pid_t> ChildrenOf(pid_t thread)
{
    std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/children");
    std::vector<pid_t> children;
    for (pid_t pid; in >> pid;) children.push_back(pid);
    return children;
}

void ExpectNoChildLeft()
{
    int status = 0;
    errno = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD) << "a child process is left behind";
}

// Writes bytes to a pipe. While it has no reader: with wait (between one closing and the next
// opening), tries again; else gives up (the reader has stopped and closed it).
void WriteToPipe(int fd, const std::string& bytes, std::size_t from, std::size_t to, bool wait)
{
    while (from < to)
    {
        const ssize_t n = write(fd, bytes.data() + from, to - from);
        if (n > 0)
            from += static_cast<std::size_t>(n);
        else if (wait)
            std::this_thread::yield();
        else
            return;
    }
}

// Feeds a PLY file through a named pipe as our PLY reader opens it (its first 4096 bytes, then
// the whole), and sets the stop flag half-way through the whole: the reader is then certainly
// in the middle of its read. One descriptor serves both openings, so that the second never
// waits for a writer.
void FeedPlyAndStopHalfWay(const std::string& fifo, const std::string& bytes,
                           std::atomic<bool>& stop)
{
    sigset_t broken;
    sigemptyset(&broken);
    sigaddset(&broken, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &broken, nullptr);  // writing while no reader has it open
    const int fd = open(fifo.c_str(), O_WRONLY);
    WriteToPipe(fd, bytes, 0, 4096, true);
    for (int left = 1; ioctl(fd, FIONREAD, &left) == 0 && left > 0;) std::this_thread::yield();
    WriteToPipe(fd, bytes, 0, bytes.size() / 2, true);
    stop = true;
    WriteToPipe(fd, bytes, bytes.size() / 2, bytes.size(), false);
    close(fd);
}

enum class Reader
{
    Importer,
    Ply,
    Obj
};

enum class When
{
    Before,           // set before Read
    ChildStarted,     // set once the import's child exists; it blocks for good on a named pipe
    ForkStarted,      // the same with no helper program: a fork of this process
    PipeHalfFed,      // the PLY file comes through a named pipe, set half-way
    MessageHalfWay,   // set by the message about the missing picture
};

struct StopCase
{
    const char* name;
    Reader reader;
    When when;
};

const StopCase kStopCases[] = {
    {"helper_model_before", Reader::Importer, When::Before},
    {"helper_while_waiting", Reader::Importer, When::ChildStarted},
    {"fork_while_waiting", Reader::Importer, When::ForkStarted},
    {"importer_ply_before", Reader::Importer, When::Before},
    {"importer_ply_half_fed", Reader::Importer, When::PipeHalfFed},
    {"importer_obj_half_way", Reader::Importer, When::MessageHalfWay},
    {"ply_reader_before", Reader::Ply, When::Before},
    {"ply_reader_half_fed", Reader::Ply, When::PipeHalfFed},
    {"obj_reader_before", Reader::Obj, When::Before},
    {"obj_reader_half_way", Reader::Obj, When::MessageHalfWay},
};

class ImportStop : public ::testing::TestWithParam<std::tuple<StopCase, bool>>
{
};

}  // namespace

TEST_P(ImportStop, EndsStoppedWithNothingReadAndNoChildLeft)
{
    const StopCase& c = std::get<0>(GetParam());
    std::unique_ptr<KV_Executor> executor;
    if (std::get<1>(GetParam()))
        executor = std::make_unique<KV_Executor>(2);
    const std::string name = c.name;
    const std::string ply = TestScratchPath("grid.ply"), stuck = TestScratchPath("stuck.stl");
    WritePicture(TestScratchPath("grid.png"), 16, 16);
    const std::string grid = GridPly(300);
    fs::remove(ply);  // (a named pipe of an earlier run)
    fs::remove(stuck);

    std::string path;
    if (name == "helper_model_before")
    {
        path = kModels + "Collada/duck.dae";
        if (!fs::exists(path))
            GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    else if (c.when == When::ChildStarted || c.when == When::ForkStarted)
    {
        ASSERT_EQ(mkfifo(stuck.c_str(), 0600), 0);  // nobody ever writes to it
        path = stuck;
    }
    else if (c.when == When::PipeHalfFed)
    {
        ASSERT_EQ(mkfifo(ply.c_str(), 0600), 0);
        path = ply;
    }
    else if (c.reader == Reader::Obj || c.when == When::MessageHalfWay)
    {
        path = TestScratchPath("two.obj");
        WriteText(path, kTwoMaterialsObj);
        WriteText(TestScratchPath("two.mtl"), kTwoMaterialsMtl);
    }
    else
    {
        path = ply;
        WriteText(path, grid);
    }

    std::atomic<bool> stop{c.when == When::Before};
    std::atomic<bool> done{false};
    std::atomic<pid_t> seenChild{0};
    std::thread helper;
    const pid_t self = gettid();
    if (c.when == When::ChildStarted || c.when == When::ForkStarted)
        helper = std::thread(
            [&]
            {
                const bool listed = fs::exists("/proc/self/task/" + std::to_string(self) + "/children");
                while (!done && listed && ChildrenOf(self).empty())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (listed && !done)
                    seenChild = ChildrenOf(self).front();
                stop = true;
            });
    if (c.when == When::PipeHalfFed)
        helper = std::thread([&] { FeedPlyAndStopHalfWay(path, grid, stop); });
    KV_ReportSink previous = SetReportSink(
        [&](const char*, const char*, KV_ReportKind)
        {
            if (c.when == When::MessageHalfWay)
                stop = true;
        });
    if (c.when == When::ForkStarted)
        setenv("ORVANE_IMPORT_HELPER", "", 1);
    // Far longer than the guard below: the import's own time limit is not what ends it.
    KV_MeshImporter::SetTimeLimit(1000.0);
    alarm(30);  // a stop not seen would hang: end the test process instead

    KV_TexturedPolySurface surface;
    KV_SurfaceAppearance appearance;
    bool read = true;
    std::string reason;
    switch (c.reader)
    {
        case Reader::Importer:
        {
            KV_MeshImporter importer(surface, &appearance);
            importer.SetStop(&stop);
            importer.SetExecutor(executor.get());
            read = importer.Read(path);
            reason = importer.Reason();
            break;
        }
        case Reader::Ply:
        {
            KV_PlyReader reader(surface, &appearance);
            reader.SetStop(&stop);
            reader.SetExecutor(executor.get());
            const KV_PlyReader::Outcome outcome = reader.Read(path);
            EXPECT_NE(outcome, KV_PlyReader::Outcome::NotHandled);
            read = outcome == KV_PlyReader::Outcome::Handled;
            reason = reader.Reason();
            break;
        }
        case Reader::Obj:
        {
            KV_ObjReader reader(surface, &appearance);
            reader.SetStop(&stop);
            reader.SetExecutor(executor.get());
            read = reader.Read(path);
            reason = reader.Deferral();
            break;
        }
    }
    done = true;
    if (helper.joinable())
        helper.join();
    alarm(0);
    KV_MeshImporter::SetTimeLimit(60.0);
    unsetenv("ORVANE_IMPORT_HELPER");
    SetReportSink(previous);

    EXPECT_TRUE(stop);
    EXPECT_FALSE(read);
    EXPECT_EQ(reason, "stopped");
    EXPECT_EQ(surface.VertexCount(), 0u);
    EXPECT_EQ(surface.PolygonCount(), 0u);
    EXPECT_FALSE(surface.HasTextureMap());
    EXPECT_EQ(surface.mpTextureCoordinates, nullptr);
    EXPECT_TRUE(appearance.materials.empty());
    EXPECT_TRUE(appearance.polygonMaterials.empty());
    ExpectNoChildLeft();
    if (c.when == When::ChildStarted || c.when == When::ForkStarted)
    {
        ASSERT_NE(seenChild.load(), 0) << "the import started no child";
        EXPECT_EQ(kill(seenChild, 0), -1);
        EXPECT_EQ(errno, ESRCH) << "the child " << seenChild << " is still there";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readers, ImportStop, ::testing::Combine(::testing::ValuesIn(kStopCases), ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<StopCase, bool>>& info)
    {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "_executor" : "_sequential");
    });

namespace
{

struct Loaded
{
    bool read = false;
    std::string reason;
    KV_TexturedPolySurface surface;
    KV_SurfaceAppearance appearance;
    std::vector<std::string> messages;
};

void Load(const std::string& path, KV_Executor* executor, bool table, Loaded& out)
{
    ReportRecorder recorder;
    KV_MeshImporter importer(out.surface, table ? &out.appearance : nullptr);
    importer.SetExecutor(executor);
    out.read = importer.Read(path);
    out.reason = importer.Reason();
    for (const RecordedReport& report : recorder.Reports()) out.messages.push_back(report.text);
}

void ExpectSameLists(const KV_List<KV_Polygon>* a, const KV_List<KV_Polygon>* b)
{
    ASSERT_EQ(a == nullptr, b == nullptr);
    if (a == nullptr)
        return;
    ASSERT_EQ(a->Count(), b->Count());
    for (unsigned int p = 0; p < a->Count(); ++p)
    {
        ASSERT_EQ((*a)[p].Count(), (*b)[p].Count()) << "polygon " << p;
        for (unsigned int j = 0; j < (*a)[p].Count(); ++j)
            ASSERT_EQ((*a)[p][j], (*b)[p][j]) << "polygon " << p;
    }
}

// Bit for bit: every position, polygon, texture coordinate and texture polygon, the picture,
// the table, the messages.
void ExpectSame(const Loaded& a, const Loaded& b)
{
    EXPECT_EQ(a.read, b.read);
    EXPECT_EQ(a.reason, b.reason);
    EXPECT_EQ(a.messages, b.messages);
    ASSERT_EQ(a.surface.VertexCount(), b.surface.VertexCount());
    for (unsigned int i = 0; i < a.surface.VertexCount(); ++i)
        ASSERT_EQ(std::memcmp(&(*a.surface.mpVertices)[i], &(*b.surface.mpVertices)[i], 12), 0)
            << "vertex " << i;
    ExpectSameLists(a.surface.mpPolygons, b.surface.mpPolygons);
    ASSERT_EQ(a.surface.mpTextureCoordinates == nullptr, b.surface.mpTextureCoordinates == nullptr);
    if (a.surface.mpTextureCoordinates != nullptr)
    {
        const KV_List<KV_Vector2D>& s = *a.surface.mpTextureCoordinates;
        const KV_List<KV_Vector2D>& t = *b.surface.mpTextureCoordinates;
        ASSERT_EQ(s.Count(), t.Count());
        for (unsigned int i = 0; i < s.Count(); ++i)
            ASSERT_EQ(std::memcmp(&s[i], &t[i], 8), 0) << "texture coordinate " << i;
    }
    ExpectSameLists(a.surface.mpTexturePolygons, b.surface.mpTexturePolygons);
    ExpectSamePicture(a.surface.mpTextureMap, b.surface.mpTextureMap);
    ExpectSameAppearance(a.appearance, b.appearance, false);
}

}  // namespace

// Our PLY and OBJ readers (the files our exporter writes, a large grid, two materials with one
// picture missing, real models) and the library's path, each with and without a table.
TEST(ImportExecutor, SameResultWithAndWithoutExecutor)
{
    WritePicture(TestScratchPath("grid.png"), 64, 48);
    WriteText(TestScratchPath("grid.ply"), GridPly(200));
    WriteText(TestScratchPath("two.obj"), kTwoMaterialsObj);
    WriteText(TestScratchPath("two.mtl"), std::string(kTwoMaterialsMtl) + "newmtl c\nmap_Kd grid.png\n");
    std::vector<std::string> paths = {ExportedSample(KV_MeshFormat::Ply, "sample.ply"),
                                      ExportedSample(KV_MeshFormat::Obj, "sample.obj"),
                                      TestScratchPath("grid.ply"), TestScratchPath("two.obj")};
    for (const char* model : {"OBJ/spider.obj", "OBJ/WusonOBJ.obj", "PLY/Wuson.ply",
                              "PLY/cube_binary.ply", "Collada/duck.dae"})
        if (fs::exists(kModels + model))
            paths.push_back(kModels + model);
    KV_Executor executor(2);
    for (const std::string& path : paths)
        for (bool table : {false, true})
        {
            SCOPED_TRACE(path + (table ? " with the table" : ""));
            Loaded alone, beside;
            Load(path, nullptr, table, alone);
            Load(path, &executor, table, beside);
            EXPECT_TRUE(alone.read) << alone.reason;
            ExpectSame(alone, beside);
        }
}
