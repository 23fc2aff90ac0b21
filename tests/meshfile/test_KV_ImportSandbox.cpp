// The rights the import helper drops before the library reads a file, tried in a forked child
// that drops them for a scratch folder holding a model: what an import needs (the model, its
// texture beside it or below, the result channel) still works, and reading elsewhere,
// sockets, writing, removing, starting programs and looking into other processes are
// refused. The real import of a duck with its texture gives the same surface and picture with
// the rights dropped as without.

#include "foundation/KV_Report.h"
#include "meshfile/KV_ImportSandbox.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_SceneImport.h"
#include "surface/KV_TexturedPolySurface.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{

const std::string kDuckFolder = "/usr/share/assimp/models/Collada/";

// Whether this kernel has Landlock, asked without the code under test.
int KernelLandlockAbi()
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1u /* version */);
    return abi < 0 ? 0 : static_cast<int>(abi);
}

// What a sandboxed child sends back: what the set-up said, what the kernel says of this
// process, and what the body found.
struct Answer
{
    int noNewPrivileges = -1, landlock = -1, seccomp = -1;
    int kernelNoNewPrivileges = -1, kernelSeccompMode = -1;
    int error = -1;  // the errno of the attempt, 0 when it worked
    // An import's result.
    int read = 0;
    unsigned int vertices = 0, polygons = 0;
    int columns = 0, rows = 0;
    std::uint64_t pixelHash = 0;
    int reports = 0;
    char reason[160] = {};
};

// Forks a child that calls KV_EnterImportSandbox(model), runs body and writes the answer
// through a pipe made before (which is how the helper hands its result back too). False
// when the child ended without a whole answer.
bool InSandbox(const std::string& model, const std::function<void(Answer&)>& body, Answer& answer)
{
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
        return false;
    const pid_t child = fork();
    if (child == 0)
    {
        close(channel[0]);
        const KV_ImportSandbox applied = KV_EnterImportSandbox(model);
        Answer mine;
        mine.noNewPrivileges = applied.noNewPrivileges;
        mine.landlock = applied.landlock;
        mine.seccomp = applied.seccomp;
        mine.kernelNoNewPrivileges = prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0);
        mine.kernelSeccompMode = prctl(PR_GET_SECCOMP, 0, 0, 0, 0);
        body(mine);
        const bool sent = write(channel[1], &mine, sizeof mine) == static_cast<ssize_t>(sizeof mine);
        _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    std::size_t got = 0;
    while (child > 0 && got < sizeof answer)
    {
        const ssize_t n = read(channel[0], reinterpret_cast<char*>(&answer) + got, sizeof answer - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    close(channel[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    return got == sizeof answer && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The scratch layout: folder/model.dae, folder/textures/note.txt, and outside.txt beside
// the folder.
struct Layout
{
    std::string root, folder, model, inner, outside;
};

Layout MakeLayout()
{
    Layout layout;
    layout.root = TestScratchDir();
    // What an earlier run left (a refusal that failed) must not pass for this run's.
    for (const auto& entry : fs::directory_iterator(layout.root))
        fs::remove_all(entry.path());
    layout.folder = layout.root + "/model";
    layout.model = layout.folder + "/model.dae";
    layout.inner = layout.folder + "/textures/note.txt";
    layout.outside = layout.root + "/outside.txt";
    fs::create_directories(layout.folder + "/textures");
    std::ofstream(layout.model) << "<COLLADA/>\n";
    std::ofstream(layout.inner) << "beside the model\n";
    std::ofstream(layout.outside) << "not the model's\n";
    return layout;
}

// 0 when a read-only open and a one-byte read of path work, else the errno.
int ReadOneByte(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char byte = 0;
    const int result = read(fd, &byte, 1) == 1 ? 0 : errno;
    close(fd);
    return result;
}

int OpenWith(const std::string& path, int flags)
{
    const int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

int Result(long callResult)
{
    return callResult < 0 ? errno : 0;
}

struct Attempt
{
    const char* name;
    bool needsLandlock;                    // refused by Landlock alone (EACCES)
    int (*attempt)(const Layout& layout);  // 0, or the errno
    int expected;
};

const Attempt kAttempts[] = {
    // What an import needs.
    {"ReadsTheModel", false, [](const Layout& l) { return ReadOneByte(l.model); }, 0},
    {"ReadsBelowTheModelsFolder", false, [](const Layout& l) { return ReadOneByte(l.inner); }, 0},
    {"ListsTheModelsFolder", false,
     [](const Layout& l)
     {
         DIR* folder = opendir(l.folder.c_str());
         if (folder == nullptr)
             return errno;
         int found = ENOENT;
         while (dirent* entry = readdir(folder))
             if (std::strcmp(entry->d_name, "model.dae") == 0)
                 found = 0;
         closedir(folder);
         return found;
     },
     0},
    // The C library (the main thread's stack) and the sanitizers' runtimes may read it.
    {"ReadsItsOwnMaps", false, [](const Layout&) { return ReadOneByte("/proc/self/maps"); }, 0},
    // Reading anywhere else.
    {"ReadsBesideTheFolder", true, [](const Layout& l) { return ReadOneByte(l.outside); }, EACCES},
    {"ReadsASystemFile", true, [](const Layout&) { return ReadOneByte("/etc/passwd"); }, EACCES},
    {"ListsTheFolderAbove", true,
     [](const Layout& l) { return OpenWith(l.root, O_RDONLY | O_DIRECTORY); }, EACCES},
    // Sockets.
    {"MakesALocalSocket", false, [](const Layout&) { return Result(socket(AF_UNIX, SOCK_STREAM, 0)); },
     EPERM},
    {"MakesANetworkSocket", false,
     [](const Layout&) { return Result(socket(AF_INET, SOCK_STREAM, 0)); }, EPERM},
    {"MakesASocketPair", false,
     [](const Layout&)
     {
         int pair[2];
         return Result(socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
     },
     EPERM},
    // Writing, making, removing.
    {"WritesANewFileInTheFolder", false,
     [](const Layout& l) { return OpenWith(l.folder + "/new.txt", O_WRONLY | O_CREAT); }, EPERM},
    {"WritesANewFileOutside", false,
     [](const Layout& l) { return OpenWith(l.root + "/new.txt", O_WRONLY | O_CREAT); }, EPERM},
    {"OpensTheModelForReadingAndWriting", false,
     [](const Layout& l) { return OpenWith(l.model, O_RDWR); }, EPERM},
    {"EmptiesTheModel", false, [](const Layout& l) { return OpenWith(l.model, O_RDONLY | O_TRUNC); },
     EPERM},
    {"MakesATemporaryFile", false,
     [](const Layout& l) { return OpenWith(l.folder, O_TMPFILE | O_RDWR); }, EPERM},
    {"CreatesWithCreat", false,
     [](const Layout& l) { return Result(syscall(SYS_creat, (l.folder + "/c.txt").c_str(), 0644)); },
     EPERM},
    {"TruncatesTheModelByName", false, [](const Layout& l) { return Result(truncate(l.model.c_str(), 0)); },
     EPERM},
    {"RemovesTheModel", false, [](const Layout& l) { return Result(unlink(l.model.c_str())); }, EPERM},
    {"RenamesTheModel", false,
     [](const Layout& l) { return Result(rename(l.model.c_str(), (l.folder + "/moved.dae").c_str())); },
     EPERM},
    {"MakesAFolder", false,
     [](const Layout& l) { return Result(mkdir((l.folder + "/made").c_str(), 0755)); }, EPERM},
    {"LinksTheModel", false,
     [](const Layout& l)
     { return Result(symlink(l.model.c_str(), (l.folder + "/linked.dae").c_str())); },
     EPERM},
    // Opening by openat2, whose flags the filter cannot see: refused as unknown.
    {"OpensWithOpenat2", false,
     [](const Layout& l)
     {
         std::uint64_t how[3] = {O_RDONLY, 0, 0};
         return Result(syscall(SYS_openat2, AT_FDCWD, l.model.c_str(), how, sizeof how));
     },
     ENOSYS},
    // Other programs and processes.
    {"StartsAProgram", false,
     [](const Layout&)
     {
         const char* arguments[] = {"/bin/true", nullptr};
         execv("/bin/true", const_cast<char* const*>(arguments));
         return errno;
     },
     EPERM},
    // (Attaching to another process can be refused by other means; asking to be traced not.)
    {"AsksToBeTraced", false,
     [](const Layout&) { return Result(ptrace(PTRACE_TRACEME, 0, nullptr, nullptr)); }, EPERM},
    {"ReadsItsParentsMemory", false,
     [](const Layout&)
     {
         static char here[8], there[8];
         iovec local = {here, sizeof here}, remote = {there, sizeof there};
         return Result(process_vm_readv(getppid(), &local, 1, &remote, 1, 0));
     },
     EPERM},
    {"SignalsItself", false, [](const Layout&) { return Result(kill(getpid(), 0)); }, 0},
    {"SignalsItsParent", false, [](const Layout&) { return Result(kill(getppid(), 0)); }, EPERM},
    {"SetsUpIoUring", false,
     [](const Layout&)
     {
         char parameters[120] = {};
         return Result(syscall(SYS_io_uring_setup, 4, parameters));
     },
     EPERM},
};

void PrintTo(const Attempt& attempt, std::ostream* out)
{
    *out << attempt.name;
}

class ImportSandboxAttempt : public ::testing::TestWithParam<Attempt>
{
};

TEST_P(ImportSandboxAttempt, AllowedOrRefused)
{
    const Attempt& attempt = GetParam();
    if (attempt.needsLandlock && KernelLandlockAbi() == 0)
        GTEST_SKIP() << "this kernel has no Landlock (or it is turned off): reading outside the "
                        "model's folder cannot be refused here";
    const Layout layout = MakeLayout();
    Answer answer;
    ASSERT_TRUE(InSandbox(layout.model, [&](Answer& a) { a.error = attempt.attempt(layout); }, answer))
        << "the child ended without answering";
    EXPECT_EQ(answer.error, attempt.expected)
        << "got " << std::strerror(answer.error) << ", expected " << std::strerror(attempt.expected);
    // Nothing that was refused happened anyway.
    EXPECT_EQ(fs::file_size(layout.model), std::string("<COLLADA/>\n").size());
    for (const char* made : {"/new.txt", "/c.txt", "/moved.dae", "/made", "/linked.dae"})
        EXPECT_FALSE(fs::exists(layout.folder + made)) << made;
    EXPECT_FALSE(fs::exists(layout.root + "/new.txt"));
}

INSTANTIATE_TEST_SUITE_P(Each, ImportSandboxAttempt, ::testing::ValuesIn(kAttempts),
                         [](const ::testing::TestParamInfo<Attempt>& info)
                         { return std::string(info.param.name); });

// What the set-up says it applied is what the kernel says of the process; a kernel without
// Landlock is said in the line, and the filter still applies.
TEST(ImportSandbox, SaysWhatItApplied)
{
    const Layout layout = MakeLayout();
    Answer answer;
    ASSERT_TRUE(InSandbox(layout.model, [](Answer& a) { a.error = 0; }, answer));
    EXPECT_EQ(answer.noNewPrivileges, 1);
    EXPECT_EQ(answer.kernelNoNewPrivileges, 1);
    EXPECT_EQ(answer.seccomp, 1);
    EXPECT_EQ(answer.kernelSeccompMode, 2);  // a filter
    EXPECT_EQ(answer.landlock, KernelLandlockAbi() > 0 ? 1 : 0);
    if (KernelLandlockAbi() == 0)
        GTEST_SKIP() << "this kernel has no Landlock: only the filter was applied";
}

// What the kernel lacks is one line on stderr, said by the first import child only: the
// later ones find the word in their environment.
TEST(ImportSandbox, SaysWhatIsLackingOnce)
{
    struct Case
    {
        const char* lacking;
        bool saidBefore;
        const char* expected;
    };
    const Case cases[] = {
        {"import sandbox: this kernel has no Landlock", false,
         "import sandbox: this kernel has no Landlock\n"},
        {"import sandbox: this kernel has no Landlock", true, ""},
        {"", false, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.lacking) + (c.saidBefore ? ", said before" : ""));
        if (c.saidBefore)
            setenv(kImportSandboxSaidVariable, "1", 1);
        else
            unsetenv(kImportSandboxSaidVariable);
        KV_ImportSandbox applied;
        applied.lacking = c.lacking;
        ::testing::internal::CaptureStderr();
        KV_SayImportSandboxLacks(applied);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.expected);
    }
    unsetenv(kImportSandboxSaidVariable);
}

#if defined(__SANITIZE_ADDRESS__)
const bool kAddressSanitizer = true;
#else
const bool kAddressSanitizer = false;
#endif

// A fault in a sandboxed child is still reported in full by AddressSanitizer: what it is and,
// for each frame, the module (the symbolizer, a program, cannot be started).
TEST(ImportSandbox, AddressSanitizerStillReports)
{
    if (!kAddressSanitizer)
        GTEST_SKIP() << "only a build with AddressSanitizer has its reports to check";
    const Layout layout = MakeLayout();
    int errors[2];
    ASSERT_EQ(pipe2(errors, O_CLOEXEC), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        dup2(errors[1], 2);
        KV_EnterImportSandbox(layout.model);
        char* block = new char[8];
        volatile std::size_t size = 9;  // one past the end
        std::memset(block, 1, size);
        std::printf("%d\n", block[0]);  // keeps the block
        _exit(0);
    }
    close(errors[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) != 0;)
        if (n > 0)
            report.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    close(errors[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(report.find("heap-buffer-overflow"), std::string::npos) << report;
    // The frames name this program, read from the maps.
    EXPECT_NE(report.find("test_import_sandbox"), std::string::npos) << report;
}

// A summary of an import, in the form the child sends back.
void Summarise(bool read, const std::string& reason, const KV_TexturedPolySurface& surface,
               Answer& answer)
{
    answer.read = read;
    std::snprintf(answer.reason, sizeof answer.reason, "%s", reason.c_str());
    answer.vertices = surface.VertexCount();
    answer.polygons = surface.PolygonCount();
    if (!surface.HasTextureMap())
        return;
    KV_Image<KV_RGB8>& image = surface.mpTextureMap->GetColourImage();
    answer.columns = image.Cols();
    answer.rows = image.Rows();
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a over the pixels' bytes
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(image.Data());
    for (std::size_t i = 0; i < image.Count() * sizeof(KV_RGB8); ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    answer.pixelHash = hash;
}

// Imports through the real path (KV_MeshImporter::Read), counting the messages.
void ImportDuck(const std::string& model, Answer& answer)
{
    int reports = 0;
    const KV_ReportSink previous =
        SetReportSink([&reports](const char*, const char*, KV_ReportKind) { ++reports; });
    KV_TexturedPolySurface surface;
    KV_MeshImporter importer(surface);
    const bool read = importer.Read(model);
    SetReportSink(previous);
    Summarise(read, importer.Reason(), surface, answer);
    answer.reports = reports;
}

struct DuckCase
{
    const char* name;
    // Where the texture lies: beside the model (as the package has it) or in a folder
    // beside the model's folder, the model naming it by a path that leaves its folder.
    bool textureOutside;
    // How the sandboxed child imports: a fork of itself (ORVANE_IMPORT_HELPER empty), or
    // the helper program, which it may not start.
    bool forked;
};

void PrintTo(const DuckCase& duck, std::ostream* out)
{
    *out << duck.name;
}

class ImportSandboxDuck : public ::testing::TestWithParam<DuckCase>
{
};

TEST_P(ImportSandboxDuck, ImportsAsWithoutIt)
{
    const DuckCase& duck = GetParam();
    if (!fs::exists(kDuckFolder + "duck.dae") || !fs::exists(kDuckFolder + "duckCM.tga"))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    if (duck.textureOutside && KernelLandlockAbi() == 0)
        GTEST_SKIP() << "this kernel has no Landlock: a texture outside the folder stays readable";
    const std::string folder = TestScratchPath("duck");
    const std::string pictures = TestScratchPath("pictures");
    fs::remove_all(folder);
    fs::remove_all(pictures);
    fs::create_directories(folder);
    fs::create_directories(pictures);
    const std::string model = folder + "/duck.dae";
    std::stringstream text;
    text << std::ifstream(kDuckFolder + "duck.dae").rdbuf();
    std::string collada = text.str();
    if (duck.textureOutside)
    {
        const std::size_t at = collada.find("duckCM.tga");
        ASSERT_NE(at, std::string::npos);
        collada.replace(at, std::string("duckCM.tga").size(), "../pictures/duckCM.tga");
    }
    std::ofstream(model) << collada;
    fs::copy_file(kDuckFolder + "duckCM.tga",
                  (duck.textureOutside ? pictures : folder) + "/duckCM.tga",
                  fs::copy_options::overwrite_existing);

    // Without the sandbox: the library in this process.
    Answer without;
    {
        KV_TexturedPolySurface surface;
        std::string reason;
        const bool read = KV_ImportScene(model, "dae", surface, nullptr, reason);
        Summarise(read, reason, surface, without);
    }
    ASSERT_TRUE(without.read) << without.reason;
    EXPECT_EQ(without.polygons, 2144u);
    EXPECT_EQ(without.columns, 512);

    // The same surface and picture (none when textured is false, with the message why).
    auto expectAsWithout = [&without](const Answer& got, bool textured)
    {
        ASSERT_TRUE(got.read) << got.reason;
        EXPECT_EQ(got.polygons, without.polygons);
        EXPECT_EQ(got.vertices, without.vertices);
        EXPECT_EQ(got.columns, textured ? without.columns : 0);
        EXPECT_EQ(got.rows, textured ? without.rows : 0);
        EXPECT_EQ(got.pixelHash, textured ? without.pixelHash : 0u);
        EXPECT_EQ(got.reports, textured ? 0 : 1);
    };

    // The helper program, which drops the same rights before reading.
    if (!duck.forked)
    {
        ASSERT_FALSE(KV_MeshImporter::HelperProgram().empty());
        Answer helper;
        ImportDuck(model, helper);
        expectAsWithout(helper, true);
    }

    Answer with;
    ASSERT_TRUE(InSandbox(model,
                          [&](Answer& a)
                          {
                              if (duck.forked)
                                  setenv("ORVANE_IMPORT_HELPER", "", 1);
                              ImportDuck(model, a);
                          },
                          with))
        << "the child ended without answering";
    if (duck.forked)
    {
        // A texture outside the model's folder is not readable: the duck loads without it.
        expectAsWithout(with, !duck.textureOutside);
        return;
    }
    // No program may be started from the sandbox, the helper neither: a clean refusal.
    EXPECT_FALSE(with.read);
    EXPECT_STREQ(with.reason, "cannot start the import (no process)");
}

const DuckCase kDucks[] = {
    {"TextureBesideForked", false, true},
    {"TextureOutsideForked", true, true},
    {"HelperProgramRefused", false, false},
};

INSTANTIATE_TEST_SUITE_P(Each, ImportSandboxDuck, ::testing::ValuesIn(kDucks),
                         [](const ::testing::TestParamInfo<DuckCase>& info)
                         { return std::string(info.param.name); });

}  // namespace
