// The coarse copy's simplification of a 4M-triangle height field, on the calling thread and
// with its pieces spread over an executor of one and two threads (the same result each time).
#include "foundation/KV_Executor.h"
#include "lod/KV_LevelOfDetail.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

namespace
{
struct HeightField
{
    std::vector<float> positions;
    std::vector<int> triangles;
};

const HeightField& FourMillionTriangles()
{
    static const HeightField field = []
    {
        const int n = 1415;
        HeightField f;
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x)
                f.positions.insert(f.positions.end(),
                                   {static_cast<float>(x), static_cast<float>(y),
                                    std::sin(x * 0.1f) * std::cos(y * 0.07f)});
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
            {
                const int a = y * (n + 1) + x, b = a + 1, c = a + n + 1, d = c + 1;
                f.triangles.insert(f.triangles.end(), {a, b, d, a, d, c});
            }
        return f;
    }();
    return field;
}
}  // namespace

static void BM_CoarseCopy4M(benchmark::State& state)
{
    const HeightField& f = FourMillionTriangles();
    const unsigned int threads = static_cast<unsigned int>(state.range(0));
    KV_Executor executor(threads == 0 ? 1 : threads);
    for (auto _ : state)
    {
        std::vector<unsigned int> coarse =
            KV_SimplifyTriangles(f.positions.data(), f.positions.size() / 3, f.triangles.data(),
                                 f.triangles.size() / 3, kCoarseTriangleLimit, nullptr,
                                 threads == 0 ? nullptr : &executor);
        benchmark::DoNotOptimize(coarse.data());
    }
    state.SetLabel(threads == 0 ? "calling thread" : std::to_string(threads) + " threads");
}
BENCHMARK(BM_CoarseCopy4M)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
