// Reading the benchmark sphere as binary PLY (written by osftool convert, texture named in
// the file, PNG beside it) through our own reader and through the import library's path (in
// its child process), and the PNG texture alone. The file comes from ORVANE_BENCH_PLY, by
// default /tmp/orvane-peers/sphere1-converted.ply (made by bench/peers.sh); without it the
// runs are skipped. Goal: the whole PLY read no slower than the texture decode beside it.

#include "foundation/KV_Executor.h"
#include "image/KV_ImageReader.h"
#include "image/KV_MultiImage.h"
#include "meshfile/KV_MeshImporter.h"
#include "surface/KV_TexturedPolySurface.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace
{
std::string PlyPath()
{
    const char* path = std::getenv("ORVANE_BENCH_PLY");
    return path != nullptr ? path : "/tmp/orvane-peers/sphere1-converted.ply";
}

void ReadPly(benchmark::State& state, bool direct)
{
    const std::string path = PlyPath();
    if (!std::filesystem::exists(path))
    {
        state.SkipWithError("no PLY file (run bench/peers.sh or set ORVANE_BENCH_PLY)");
        return;
    }
    KV_MeshImporter::UseDirectReaders(direct);
    // As the viewer reads: its pool decodes the texture beside the geometry.
    KV_Executor executor;
    for (auto _ : state)
    {
        KV_TexturedPolySurface surface;
        KV_MeshImporter importer(surface);
        importer.SetExecutor(&executor);
        if (!importer.Read(path))
            state.SkipWithError(importer.Reason().c_str());
        benchmark::DoNotOptimize(surface.PolygonCount());
    }
    KV_MeshImporter::UseDirectReaders(true);
}

void BM_PlyDirect(benchmark::State& state)
{
    ReadPly(state, true);
}
void BM_PlyThroughLibrary(benchmark::State& state)
{
    ReadPly(state, false);
}

void BM_PlyTextureAlone(benchmark::State& state)
{
    const std::string png = std::filesystem::path(PlyPath()).replace_extension(".png").string();
    if (!std::filesystem::exists(png))
    {
        state.SkipWithError("no texture beside the PLY file");
        return;
    }
    for (auto _ : state)
    {
        KV_MultiImage image;
        std::string error;
        if (!KV_ImageReader::ReadFile(png, image, error))
            state.SkipWithError(error.c_str());
    }
}
}  // namespace

BENCHMARK(BM_PlyDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlyThroughLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlyTextureAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
