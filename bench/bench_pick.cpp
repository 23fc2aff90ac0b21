// Picking on a scan-sized surface: the bounding-volume hierarchy made over a grid of
// 4,000,000 triangles (2001 x 1001 vertices, a gentle bump), on the calling thread alone
// (/0) and with an executor of 2 threads (/2), and one pick straight down at a point of the
// grid; beside it, for scale, the same pick by trying every triangle. The frame time of
// drawing the same size of surface is bench_render's (it needs a display).
//
// Goal: a pick within 50 ms (a click answers at once); the hierarchy made in about the time
// the load's completion takes, so that it can be made beside it.

#include "foundation/KV_Executor.h"
#include "measure/KV_SurfacePicker.h"
#include "surface/KV_TexturedPolySurface.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace
{
const unsigned int kColumns = 2000;  // cells across, two triangles each
const unsigned int kRows = 1000;

const KV_TexturedPolySurface& Surface()
{
    static const std::unique_ptr<KV_TexturedPolySurface> surface = []
    {
        auto s = std::make_unique<KV_TexturedPolySurface>();
        const unsigned int across = kColumns + 1;
        for (unsigned int y = 0; y <= kRows; ++y)
            for (unsigned int x = 0; x <= kColumns; ++x)
            {
                const float z = 0.05f * static_cast<float>(std::sin(0.05 * x) * std::cos(0.07 * y));
                s->Vertices().Append(KV_Vector3D(0.01f * x, 0.01f * y, z));
            }
        for (unsigned int y = 0; y < kRows; ++y)
            for (unsigned int x = 0; x < kColumns; ++x)
            {
                const unsigned int a = y * across + x, b = a + 1, c = a + across + 1,
                                   d = a + across;
                const unsigned int triangles[2][3] = {{a, b, c}, {a, c, d}};
                for (const auto& t : triangles)
                {
                    KV_Polygon triangle;
                    triangle.Append(t[0]);
                    triangle.Append(t[1]);
                    triangle.Append(t[2]);
                    s->Polygons().Append(triangle);
                }
            }
        std::printf("Benchmark surface: %u vertices, %u triangles\n", s->VertexCount(),
                    s->PolygonCount());
        return s;
    }();
    return *surface;
}

const KV_SurfacePicker& BuiltPicker()
{
    static const std::unique_ptr<KV_SurfacePicker> picker = []
    {
        auto p = std::make_unique<KV_SurfacePicker>();
        p->Build(Surface());
        return p;
    }();
    return *picker;
}

// Straight down at the k-th of a spread of points over the grid.
KV_Ray RayDown(unsigned int k)
{
    KV_Ray ray;
    ray.origin = {0.01 * ((k * 7919u) % kColumns) + 0.003, 0.01 * ((k * 104729u) % kRows) + 0.004,
                  1.0};
    ray.direction = {0.001, -0.002, -2.0};
    return ray;
}

void BM_Build(benchmark::State& state)
{
    const KV_TexturedPolySurface& surface = Surface();
    std::unique_ptr<KV_Executor> executor;
    if (state.range(0) > 0)
        executor = std::make_unique<KV_Executor>(static_cast<unsigned int>(state.range(0)));
    for (auto _ : state)
    {
        KV_SurfacePicker picker;
        benchmark::DoNotOptimize(picker.Build(surface, executor.get()));
        state.counters["nodes"] = static_cast<double>(picker.NodeCount());
    }
}

void BM_Pick(benchmark::State& state)
{
    const KV_SurfacePicker& picker = BuiltPicker();
    unsigned int k = 0, met = 0;
    for (auto _ : state)
    {
        KV_PickHit hit;
        met += picker.Pick(RayDown(k++), hit);
        benchmark::DoNotOptimize(hit);
    }
    state.counters["met"] = static_cast<double>(met) / static_cast<double>(k);
}

void BM_PickEveryTriangle(benchmark::State& state)
{
    const KV_SurfacePicker& picker = BuiltPicker();
    unsigned int k = 0;
    for (auto _ : state)
    {
        KV_PickHit hit;
        benchmark::DoNotOptimize(picker.PickEveryTriangle(RayDown(k++), hit));
    }
}
}  // namespace

BENCHMARK(BM_Build)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Pick)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PickEveryTriangle)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
