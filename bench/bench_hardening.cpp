// Inputs shaped to make loading or the derivations expensive, each beside its ordinary
// counterpart:
// - a triangle soup of 1,000,000 triangles (every triangle on its own three vertices, as
//   STL-derived data is) beside the same triangles on shared vertices: load plus completion
//   as the document does it, time and peak resident memory, each in a fresh child process.
//   Goal: the soup within 3x the time and 2.5x the peak memory of the shared surface (it has
//   six times the vertices).
// - a container file of about 3 MB with 10,000 "Overall Checksum" fields beside the same
//   file with one. Goal: within 2x.
// - the derivations on a fan of triangles about one vertex (the fan's centre has every
//   triangle), at 20,000, 40,000 and 1,000,000 triangles. Goal: under 1 s each at 1,000,000.
//   A lookup linear in the polygons of a vertex makes these quadratic; pass
//   --benchmark_filter=-/1000000 to leave out the largest fan where that would take hours.

#include "document/KV_DocumentCore.h"
#include "foundation/KV_Executor.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_PolySurface.h"
#include "surfacefile/KV_CRC32.h"
#include "surfacefile/KV_SurfaceLoader.h"
#include "tests/support/SurfaceFileWriter.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace
{
// The program's one pool of worker threads, as the viewer hands it to each load.
KV_Executor& Pool()
{
    static KV_Executor executor;
    return executor;
}

const unsigned int kColumns = 500;  // cells across, two triangles each: 1,000,000 triangles
const unsigned int kRows = 1000;

std::string ScratchDirectory()
{
    static const std::string dir = []
    {
        char name[] = "/tmp/bench_hardening.XXXXXX";
        const char* made = mkdtemp(name);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A gently waved grid of triangles; with soup, every triangle gets its own three vertices.
OsfSurface Grid(unsigned int columns, unsigned int rows, bool soup)
{
    OsfSurface s;
    const unsigned int across = columns + 1;
    std::vector<std::array<float, 3>> points;
    for (unsigned int y = 0; y <= rows; ++y)
        for (unsigned int x = 0; x <= columns; ++x)
        {
            const float z = 0.05f * static_cast<float>(std::sin(0.05 * x) * std::cos(0.07 * y));
            points.push_back({0.01f * x, 0.01f * y, z});
        }
    for (unsigned int y = 0; y < rows; ++y)
        for (unsigned int x = 0; x < columns; ++x)
        {
            const unsigned int a = y * across + x, b = a + 1, c = a + across + 1, d = a + across;
            s.polygons.push_back({a, b, c});
            s.polygons.push_back({a, c, d});
        }
    if (!soup)
    {
        s.vertices = points;
        return s;
    }
    s.vertices.reserve(3 * s.polygons.size());
    for (std::vector<unsigned int>& polygon : s.polygons)
        for (unsigned int& v : polygon)
        {
            s.vertices.push_back(points[v]);
            v = static_cast<unsigned int>(s.vertices.size() - 1);
        }
    return s;
}

const std::string& GridFile(bool soup)
{
    static std::map<bool, std::string> paths;
    auto found = paths.find(soup);
    if (found != paths.end())
        return found->second;
    const OsfSurface s = Grid(kColumns, kRows, soup);
    const std::string path = ScratchDirectory() + (soup ? "/soup.osf" : "/shared.osf");
    WriteOsfFile(path, EncodeRawSurface(s));
    std::printf("%s: %zu vertices, %zu triangles\n", soup ? "Soup" : "Shared", s.vertices.size(),
                s.polygons.size());
    return paths.emplace(soup, path).first->second;
}

// Loads and completes the file in a child process, as the document does; returns the time
// the child measured and its peak resident memory in MB.
bool LoadInChild(const std::string& path, double& seconds, double& peakMegabytes)
{
    int channel[2];
    if (pipe(channel) != 0)
        return false;
    const pid_t child = fork();
    if (child == 0)
    {
        close(channel[0]);
        const auto start = std::chrono::steady_clock::now();
        KV_PolySurfaceGeometry3D* geometry = KV_DocumentCore::LoadGeometry(path.c_str(), nullptr, &Pool());
        // The whole completion: the lists the viewer makes after its first frame too.
        if (geometry != nullptr)
            geometry->FinishCompletion();
        const double took = geometry ? Seconds(start) : -1.0;
        const ssize_t written = write(channel[1], &took, sizeof took);
        _exit(written == sizeof took ? 0 : 1);
    }
    close(channel[1]);
    double took = -1.0;
    const bool read = ::read(channel[0], &took, sizeof took) == sizeof took;
    close(channel[0]);
    int status = 0;
    struct rusage usage = {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !read || took < 0)
        return false;
    seconds = took;
    peakMegabytes = usage.ru_maxrss / 1024.0;  // kilobytes on Linux
    return true;
}

// Measured once per process, so that the soup can print its ratios to the shared surface.
std::map<bool, std::pair<double, double>> gLoads;

void BM_LoadAndComplete(benchmark::State& state)
{
    const bool soup = state.range(0) != 0;
    const std::string& path = GridFile(soup);
    double seconds = 0, peak = 0;
    for (auto _ : state)
    {
        if (!LoadInChild(path, seconds, peak))
        {
            state.SkipWithError("the child could not load the file");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["peak_MB"] = peak;
    gLoads[soup] = {seconds, peak};
    if (soup && gLoads.count(false))
    {
        const auto& shared = gLoads[false];
        state.counters["time_x_shared"] = seconds / shared.first;
        state.counters["peak_x_shared"] = peak / shared.second;
        std::printf("Soup against shared: time %.2fx (goal 3x), peak memory %.2fx (goal 2.5x)\n",
                    seconds / shared.first, peak / shared.second);
    }
}

const std::string& ChecksumFile(unsigned int checksums)
{
    static std::map<unsigned int, std::string> paths;
    auto found = paths.find(checksums);
    if (found != paths.end())
        return found->second;
    const OsfSurface s = Grid(300, 300, false);
    OsfContainer file;
    file.Add(VerticesField(s.vertices));
    file.Add(IndexField("Triangles", s.polygons, 4));
    // The fields OsfContainer::AddChecksum writes (each covering every byte before it),
    // with the register carried along instead of recomputed from the start per field.
    KV_CRC32 crc;
    std::size_t fed = 0;
    for (unsigned int k = 0; k < checksums; ++k)
    {
        const std::vector<unsigned char>& bytes = file.Bytes();
        crc.Update(bytes.data() + fed, bytes.size() - fed);
        fed = bytes.size();
        OsfEntry entry;
        entry.name = "Overall Checksum";
        entry.description = "CRC of the preceding bytes";
        entry.layout = "length, value";
        entry.components = {{'u', 4}, {'u', 4}};
        OsfBytes data;
        data.U32(static_cast<std::uint32_t>(fed)).U32(crc.Value());
        entry.data = data.Data();
        file.Add(entry);
    }
    const std::string path =
        ScratchDirectory() + "/checksums-" + std::to_string(checksums) + ".osf";
    WriteOsfFile(path, file.Bytes());
    std::printf("Container with %u checksum fields: %zu bytes\n", checksums, file.Bytes().size());
    return paths.emplace(checksums, path).first->second;
}

std::map<unsigned int, double> gChecksumLoads;

void BM_LoadWithChecksums(benchmark::State& state)
{
    const unsigned int checksums = static_cast<unsigned int>(state.range(0));
    const std::string& path = ChecksumFile(checksums);
    double seconds = 0;
    for (auto _ : state)
    {
        KV_PolySurface surface;
        KV_SurfaceLoader loader(surface);
        const auto start = std::chrono::steady_clock::now();
        if (!loader.Load(path.c_str()))
        {
            state.SkipWithError("the file did not load");
            return;
        }
        seconds = Seconds(start);
        state.SetIterationTime(seconds);
    }
    gChecksumLoads[checksums] = seconds;
    if (checksums > 1 && gChecksumLoads.count(1))
    {
        state.counters["x_one_checksum"] = seconds / gChecksumLoads[1];
        std::printf("%u checksums against one: %.2fx (goal 2x)\n", checksums,
                    seconds / gChecksumLoads[1]);
    }
}

// Triangles (0, k, k + 1) about vertex 0.
KV_PolySurface& Fan(unsigned int triangles)
{
    static std::map<unsigned int, KV_PolySurface*> fans;
    auto found = fans.find(triangles);
    if (found != fans.end())
        return *found->second;
    KV_PolySurface* s = new KV_PolySurface;
    s->Vertices().Append(KV_Vector3D(0, 0, 0));
    for (unsigned int k = 0; k <= triangles; ++k)
    {
        const double angle = 3.0 * k / triangles;
        s->Vertices().Append(KV_Vector3D(static_cast<float>(std::cos(angle)),
                                         static_cast<float>(std::sin(angle)),
                                         static_cast<float>(0.1 * std::sin(7.0 * angle))));
    }
    KV_List<KV_Polygon>& polygons = s->Polygons();
    polygons.SetCount(triangles);
    for (unsigned int k = 0; k < triangles; ++k)
    {
        polygons[k].Append(0);
        polygons[k].Append(k + 1);
        polygons[k].Append(k + 2);
    }
    return *fans.emplace(triangles, s).first->second;
}

template <typename Derive>
void DeriveOnFan(benchmark::State& state, Derive derive)
{
    KV_PolySurface& s = Fan(static_cast<unsigned int>(state.range(0)));
    for (auto _ : state) derive(s);
}

void BM_FanVertexPolygons(benchmark::State& state)
{
    DeriveOnFan(state, [](KV_PolySurface& s) { s.ComputeVertexPolygons(); });
}
void BM_FanPolygonPolygons(benchmark::State& state)
{
    DeriveOnFan(state, [](KV_PolySurface& s) { s.ComputePolygonPolygons(); });
}
void BM_FanEdgePolygons(benchmark::State& state)
{
    DeriveOnFan(state, [](KV_PolySurface& s) { s.ComputeEdgePolygons(); });
}
void BM_FanPolygonEdges(benchmark::State& state)
{
    DeriveOnFan(state, [](KV_PolySurface& s) { s.ComputePolygonEdges(); });
}
void BM_FanEdgesAndVertexBoundaries(benchmark::State& state)
{
    DeriveOnFan(state, [](KV_PolySurface& s) { s.ComputeEdgesAndVertexBoundaries(); });
}
void BM_FanVertexVertices(benchmark::State& state)
{
    DeriveOnFan(state, [](KV_PolySurface& s) { s.ComputeVertexVertices(); });
}
void BM_FanBoundaries(benchmark::State& state)
{
    DeriveOnFan(state, [](KV_PolySurface& s) { s.ComputeBoundaries(); });
}
void BM_FanRefinedNormals(benchmark::State& state)
{
    DeriveOnFan(state,
                [](KV_PolySurface& s)
                {
                    KV_PSO_ComputeNormals normals(&s);
                    normals.ComputePolygonNormals();
                    normals.RefineVertexNormals();
                });
}

void FanSizes(benchmark::internal::Benchmark* b)
{
    b->Arg(20000)->Arg(40000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
}
}  // namespace

BENCHMARK(BM_LoadAndComplete)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_LoadWithChecksums)
    ->Arg(1)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_FanVertexPolygons)->Apply(FanSizes);
BENCHMARK(BM_FanPolygonPolygons)->Apply(FanSizes);
BENCHMARK(BM_FanEdgePolygons)->Apply(FanSizes);
BENCHMARK(BM_FanPolygonEdges)->Apply(FanSizes);
BENCHMARK(BM_FanEdgesAndVertexBoundaries)->Apply(FanSizes);
BENCHMARK(BM_FanVertexVertices)->Apply(FanSizes);
BENCHMARK(BM_FanBoundaries)->Apply(FanSizes);
BENCHMARK(BM_FanRefinedNormals)->Apply(FanSizes);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (std::system(("rm -rf " + ScratchDirectory()).c_str()) != 0)
        std::printf("Could not remove %s\n", ScratchDirectory().c_str());
    return 0;
}
