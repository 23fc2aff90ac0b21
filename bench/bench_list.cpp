// Appending to KV_List beside std::vector and std::deque: 10 million unsigned ints and
// 4 million three-float points, block size 1024. Each iteration starts from memory handed
// back to the system, as a file load does; otherwise the containers that free into the
// heap would be measured on pages already faulted in by the previous iteration.
#include "foundation/KV_List.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <deque>
#include <vector>

namespace
{
struct Point3
{
    float x, y, z;
};

constexpr unsigned int kInts = 10000000;
constexpr unsigned int kPoints = 4000000;

template <typename T>
T Value(unsigned int i);
template <>
unsigned int Value<unsigned int>(unsigned int i)
{
    return i;
}
template <>
Point3 Value<Point3>(unsigned int i)
{
    const float f = static_cast<float>(i);
    return {f, f + 1, f + 2};
}

template <typename T>
void BM_KV_List(benchmark::State& state)
{
    const auto n = static_cast<unsigned int>(state.range(0));
    for (auto _ : state)
    {
        state.PauseTiming();
        malloc_trim(0);
        state.ResumeTiming();
        KV_List<T> list(1024);
        for (unsigned int i = 0; i < n; ++i)
            list.Append(Value<T>(i));
        benchmark::DoNotOptimize(&list[n - 1]);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

template <typename T>
void BM_StdVector(benchmark::State& state)
{
    const auto n = static_cast<unsigned int>(state.range(0));
    for (auto _ : state)
    {
        state.PauseTiming();
        malloc_trim(0);
        state.ResumeTiming();
        std::vector<T> v;
        for (unsigned int i = 0; i < n; ++i)
            v.push_back(Value<T>(i));
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

template <typename T>
void BM_StdDeque(benchmark::State& state)
{
    const auto n = static_cast<unsigned int>(state.range(0));
    for (auto _ : state)
    {
        state.PauseTiming();
        malloc_trim(0);
        state.ResumeTiming();
        std::deque<T> d;
        for (unsigned int i = 0; i < n; ++i)
            d.push_back(Value<T>(i));
        benchmark::DoNotOptimize(&d.back());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
// One million triangles as a surface holds them: a list of three-index lists, block size 4.
void BM_KV_ListOfTriangles(benchmark::State& state)
{
    const auto n = static_cast<unsigned int>(state.range(0));
    for (auto _ : state)
    {
        state.PauseTiming();
        malloc_trim(0);
        state.ResumeTiming();
        auto* polygons = new KV_List<KV_List<unsigned int>>(1024);
        polygons->SetCount(n);
        for (unsigned int i = 0; i < n; ++i)
        {
            KV_List<unsigned int>& p = polygons->Editable(i);
            p.SetBlockSize(4);
            p.Append(i);
            p.Append(i + 1);
            p.Append(i + 2);
        }
        benchmark::DoNotOptimize(&(*polygons)[n - 1][2]);
        delete polygons;
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_StdVectorOfTriangles(benchmark::State& state)
{
    const auto n = static_cast<unsigned int>(state.range(0));
    for (auto _ : state)
    {
        state.PauseTiming();
        malloc_trim(0);
        state.ResumeTiming();
        auto* polygons = new std::vector<std::vector<unsigned int>>(n);
        for (unsigned int i = 0; i < n; ++i)
        {
            std::vector<unsigned int>& p = (*polygons)[i];
            p.reserve(4);
            p.push_back(i);
            p.push_back(i + 1);
            p.push_back(i + 2);
        }
        benchmark::DoNotOptimize(&(*polygons)[n - 1][2]);
        delete polygons;
    }
    state.SetItemsProcessed(state.iterations() * n);
}
}  // namespace

BENCHMARK(BM_KV_ListOfTriangles)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdVectorOfTriangles)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_KV_List, unsigned int)->Arg(kInts)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_StdVector, unsigned int)->Arg(kInts)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_StdDeque, unsigned int)->Arg(kInts)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_KV_List, Point3)->Arg(kPoints)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_StdVector, Point3)->Arg(kPoints)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_StdDeque, Point3)->Arg(kPoints)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
