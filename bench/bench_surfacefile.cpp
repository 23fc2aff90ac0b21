// Loading a surface file beside one plain read of the same file's bytes: a 1M-triangle
// textured surface with a 4096 x 4096 colour texture, written once (with the test fixture
// writer) as a raw version-3 file and as a field container. Goal: Load under 1.5 s and
// within 10x of the plain read. After the runs the Load / plain read ratios are printed.
// Both kinds of run read into freshly mapped memory, so page faults count in both. A third
// run builds the surface's two polygon lists alone: the part of Load the readers cannot cut.

#include "foundation/KV_Executor.h"
#include "surface/KV_PolySurface.h"
#include "surfacefile/KV_SurfaceLoader.h"
#include "tests/support/SurfaceFileWriter.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
// A grid of 501 x 1001 vertices split into 1,000,000 triangles, one texture coordinate per
// vertex, and a colour texture of 4096 x 4096 pixels.
OsfSurface BigSurface()
{
    const unsigned int rows = 500, columns = 1000;
    OsfSurface s;
    for (unsigned int r = 0; r <= rows; ++r)
        for (unsigned int c = 0; c <= columns; ++c)
        {
            s.vertices.push_back({float(c), float(r), float((r * 7 + c * 3) % 11)});
            s.textureCoordinates.push_back({float(c) / columns, float(r) / rows});
        }
    for (unsigned int r = 0; r < rows; ++r)
        for (unsigned int c = 0; c < columns; ++c)
        {
            const unsigned int a = r * (columns + 1) + c, b = a + 1, d = a + columns + 1, e = d + 1;
            s.polygons.push_back({a, b, e});
            s.polygons.push_back({a, e, d});
        }
    s.texturePolygons = s.polygons;
    s.textureKind = 3;
    s.textureRows = 4096;
    s.textureColumns = 4096;
    s.texturePixels.resize(4096u * 4096u * 3u);
    for (std::size_t i = 0; i < s.texturePixels.size(); ++i)
        s.texturePixels[i] = static_cast<unsigned char>(i * 31 + (i >> 12));
    return s;
}

std::string gRawPath;
std::string gContainerPath;

void WriteFiles()
{
    const auto dir = std::filesystem::temp_directory_path() / "orvane-bench-surfacefile";
    std::filesystem::create_directories(dir);
    gRawPath = (dir / "big-raw.osf").string();
    gContainerPath = (dir / "big-container.osf").string();
    const OsfSurface surface = BigSurface();
    if (!WriteOsfFile(gRawPath, EncodeRawSurface(surface)) ||
        !WriteOsfFile(gContainerPath, EncodeContainerSurface(surface)))
        std::fprintf(stderr, "could not write the benchmark files into %s\n", dir.c_str());
    std::printf("raw v3 file %.1f MB, container file %.1f MB\n",
                std::filesystem::file_size(gRawPath) / 1e6, std::filesystem::file_size(gContainerPath) / 1e6);
}

// Each iteration starts from memory handed back to the system, as a file opened in a fresh
// program does: otherwise whichever run follows a Load finds its pages already faulted in.
void StartFromReleasedMemory(benchmark::State& state)
{
    state.PauseTiming();
    malloc_trim(0);
    state.ResumeTiming();
}

void PlainRead(benchmark::State& state, const std::string* path)
{
    for (auto _ : state)
    {
        StartFromReleasedMemory(state);
        std::ifstream in(*path, std::ios::binary | std::ios::ate);
        std::vector<char> bytes(static_cast<std::size_t>(in.tellg()));
        in.seekg(0);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        benchmark::DoNotOptimize(bytes.data());
        state.SetBytesProcessed(state.bytes_processed() + static_cast<std::int64_t>(bytes.size()));
    }
}

void Load(benchmark::State& state, const std::string* path)
{
    // The viewer's pool of two threads: the raw reader's checksum and first polygon block
    // are read beside the rest.
    KV_Executor executor(2);
    for (auto _ : state)
    {
        StartFromReleasedMemory(state);
        auto surface = std::make_unique<KV_PolySurface>();
        KV_SurfaceLoader loader(*surface);
        loader.SetExecutor(&executor);
        if (!loader.Load(path->c_str()))
            state.SkipWithError("Load failed");
        benchmark::DoNotOptimize(surface->mpVertices);
        // Releasing the surface is not part of loading it.
        state.PauseTiming();
        surface.reset();
        state.ResumeTiming();
    }
}

// The floor under both loads: the two polygon lists of the surface alone (2 x 1,000,000
// triangles, each polygon a block list of its own), built as the readers build them.
void PolygonListsOnly(benchmark::State& state)
{
    for (auto _ : state)
    {
        StartFromReleasedMemory(state);
        auto surface = std::make_unique<KV_PolySurface>();
        for (KV_List<KV_Polygon>* list :
             {&surface->Polygons(), &KV_Ensure(surface->mpTexturePolygons, 1024)})
        {
            list->SetCount(1000000);
            for (unsigned int i = 0; i < 1000000; ++i)
            {
                KV_PolygonRef triangle = (*list)[i];
                triangle.SetCount(3);
                triangle[0] = i;
                triangle[1] = i + 1;
                triangle[2] = i + 2;
            }
        }
        benchmark::DoNotOptimize(surface->mpPolygons);
        state.PauseTiming();
        surface.reset();
        state.ResumeTiming();
    }
}

// Prints the usual table and remembers each run's time per iteration.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            mkSeconds[run.run_name.function_name] = run.GetAdjustedRealTime() / 1000.0;
    }

    void PrintRatio(const char* label, const std::string& load, const std::string& plain) const
    {
        const auto l = mkSeconds.find(load), p = mkSeconds.find(plain);
        if (l == mkSeconds.end() || p == mkSeconds.end())
            return;
        std::printf("%-10s Load %8.3f s   plain read %8.3f s   ratio %6.2f\n", label, l->second,
                    p->second, l->second / p->second);
    }

    void PrintShare(const char* label, const std::string& load, const std::string& part) const
    {
        const auto l = mkSeconds.find(load), p = mkSeconds.find(part);
        if (l == mkSeconds.end() || p == mkSeconds.end())
            return;
        std::printf("%-10s of which polygon lists alone %8.3f s (%.0f%%)\n", label, p->second,
                    100.0 * p->second / l->second);
    }

private:
    std::map<std::string, double> mkSeconds;
};
}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    WriteFiles();
    benchmark::RegisterBenchmark("PlainRead/raw_v3", PlainRead, &gRawPath)
        ->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("Load/raw_v3", Load, &gRawPath)
        ->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("PlainRead/container", PlainRead, &gContainerPath)
        ->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("Load/container", Load, &gContainerPath)
        ->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("PolygonListsOnly/2x1M_triangles", PolygonListsOnly)
        ->Unit(benchmark::kMillisecond)->Iterations(3);
    RatioReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio("raw v3", "Load/raw_v3", "PlainRead/raw_v3");
    reporter.PrintRatio("container", "Load/container", "PlainRead/container");
    reporter.PrintShare("raw v3", "Load/raw_v3", "PolygonListsOnly/2x1M_triangles");
    reporter.PrintShare("container", "Load/container", "PolygonListsOnly/2x1M_triangles");
    benchmark::Shutdown();
    std::remove(gRawPath.c_str());
    std::remove(gContainerPath.c_str());
    return 0;
}
