// Reading and completing a scan-sized textured surface with and without the program's
// executor: a grid of 4,000,000 triangles (2001 x 1001 vertices, one texture coordinate per
// vertex, a few holes) with a 2048 x 2048 colour texture, in a version-3 raw surface file.
// Each stage runs on the calling thread alone (/0) and with an executor of 2 threads (/2,
// the cores every machine here has).
//
// Goals: with 2 threads the completion no slower than the two threads it started of its own
// before it took an executor; a stage asked to stop returns within 0.2 s: StopLatency times
// the worst wait over flags set at several moments into each stage, and prints it per stage.

#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_Executor.h"
#include "surface/KV_PolySurface.h"
#include "tests/support/SurfaceFileWriter.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace
{
const unsigned int kColumns = 2000;  // cells across, two triangles each
const unsigned int kRows = 1000;
const unsigned int kTextureSize = 2048;

const std::string& SurfacePath()
{
    static const std::string path = []
    {
        OsfSurface s;
        const unsigned int across = kColumns + 1;
        for (unsigned int y = 0; y <= kRows; ++y)
            for (unsigned int x = 0; x <= kColumns; ++x)
            {
                const float z = 0.05f * static_cast<float>(std::sin(0.05 * x) * std::cos(0.07 * y));
                s.vertices.push_back({0.01f * x, 0.01f * y, z});
                s.textureCoordinates.push_back(
                    {static_cast<float>(x) / kColumns, static_cast<float>(y) / kRows});
            }
        for (unsigned int y = 0; y < kRows; ++y)
            for (unsigned int x = 0; x < kColumns; ++x)
            {
                if (x % 97 == 5 && y % 89 == 7)
                    continue;  // a hole of one cell
                const unsigned int a = y * across + x, b = a + 1, c = a + across + 1,
                                   d = a + across;
                s.polygons.push_back({a, b, c});
                s.polygons.push_back({a, c, d});
            }
        s.texturePolygons = s.polygons;
        s.textureKind = 3;
        s.textureRows = s.textureColumns = kTextureSize;
        s.texturePixels.resize(std::size_t(kTextureSize) * kTextureSize * 3);
        for (std::size_t i = 0; i < s.texturePixels.size(); ++i)
            s.texturePixels[i] = static_cast<unsigned char>(i * 31 + (i >> 12));
        char dir[] = "/tmp/bench_preparation.XXXXXX";
        const std::string file = std::string(mkdtemp(dir) ? dir : "/tmp") + "/grid.osf";
        WriteOsfFile(file, EncodeRawSurface(s));
        std::printf("Benchmark surface: %zu vertices, %zu triangles, %ux%u colour texture\n",
                    s.vertices.size(), s.polygons.size(), kTextureSize, kTextureSize);
        return file;
    }();
    return path;
}

const KV_PolySurface& ReadSurface()
{
    static const KV_PolySurface* surface = []
    {
        auto* read = new KV_PolySurface;
        KV_SurfaceReadReport report;
        if (!KV_ReadSurfaceFile(SurfacePath().c_str(), *read, report))
            std::fprintf(stderr, "the benchmark surface does not read\n");
        return read;
    }();
    return *surface;
}

// The executor of state.range(0) threads, none for 0.
std::unique_ptr<KV_Executor> ExecutorFor(const benchmark::State& state)
{
    if (state.range(0) == 0)
        return nullptr;
    return std::make_unique<KV_Executor>(static_cast<unsigned int>(state.range(0)));
}

void BM_Read(benchmark::State& state)
{
    const std::unique_ptr<KV_Executor> executor = ExecutorFor(state);
    for (auto _ : state)
    {
        auto surface = std::make_unique<KV_PolySurface>();
        KV_SurfaceReadReport report;
        if (!KV_ReadSurfaceFile(SurfacePath().c_str(), *surface, report, nullptr, executor.get()))
            state.SkipWithError("the file does not read");
        state.PauseTiming();
        surface.reset();
        state.ResumeTiming();
    }
}

// Times complete on a fresh copy of the read surface; prepare runs first, untimed.
void TimeCompletion(benchmark::State& state,
                    const std::function<void(KV_PolySurface&, KV_Executor*)>& prepare,
                    const std::function<void(KV_PolySurface&, KV_Executor*)>& complete)
{
    const std::unique_ptr<KV_Executor> executor = ExecutorFor(state);
    for (auto _ : state)
    {
        state.PauseTiming();
        auto surface = std::make_unique<KV_PolySurface>(ReadSurface());
        prepare(*surface, executor.get());
        state.ResumeTiming();
        complete(*surface, executor.get());
        state.PauseTiming();
        surface.reset();
        state.ResumeTiming();
    }
}

void Nothing(KV_PolySurface&, KV_Executor*) {}

void BM_Complete(benchmark::State& state)
{
    TimeCompletion(state, Nothing,
                   [](KV_PolySurface& s, KV_Executor* e) { KV_CompleteSurface(s, e); });
}

void BM_CompleteForDrawing(benchmark::State& state)
{
    TimeCompletion(state, Nothing,
                   [](KV_PolySurface& s, KV_Executor* e) { KV_CompleteSurfaceForDrawing(s, e); });
}

void BM_CompleteAfterDrawing(benchmark::State& state)
{
    TimeCompletion(
        state, [](KV_PolySurface& s, KV_Executor* e) { KV_CompleteSurfaceForDrawing(s, e); },
        [](KV_PolySurface& s, KV_Executor* e) { KV_CompleteSurfaceAfterDrawing(s, nullptr, e); });
}

// The worst time from setting the flag to the stage's return, over flags set at several
// moments into the stage (those set after it ended do not count).
double WorstStopWait(const std::function<void(KV_PolySurface&)>& prepare,
                     const std::function<void(KV_PolySurface&, const std::atomic<bool>*)>& stage)
{
    using Clock = std::chrono::steady_clock;
    double worst = 0.0;
    for (int delay : {5, 40, 120, 250, 400, 700, 1000})
    {
        auto surface = std::make_unique<KV_PolySurface>(ReadSurface());
        prepare(*surface);
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
        Clock::time_point set;
        std::thread setter(
            [&]
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                set = Clock::now();
                stop = !done;
            });
        stage(*surface, &stop);
        done = true;
        const Clock::time_point end = Clock::now();
        setter.join();
        if (stop)
            worst = std::max(worst, std::chrono::duration<double>(end - set).count());
    }
    return worst;
}

void BM_StopLatency(benchmark::State& state)
{
    const std::unique_ptr<KV_Executor> owned = ExecutorFor(state);
    KV_Executor* executor = owned.get();
    const auto none = [](KV_PolySurface&) {};
    const struct
    {
        const char* name;
        std::function<void(KV_PolySurface&)> prepare;
        std::function<void(KV_PolySurface&, const std::atomic<bool>*)> stage;
    } stages[] = {
        {"read", none,
         [&](KV_PolySurface& s, const std::atomic<bool>* stop)
         {
             KV_SurfaceReadReport report;
             KV_ReadSurfaceFile(SurfacePath().c_str(), s, report, nullptr, executor, stop);
         }},
        {"complete", none, [&](KV_PolySurface& s, const std::atomic<bool>* stop)
         { KV_CompleteSurface(s, executor, nullptr, stop); }},
        {"complete for drawing", none, [&](KV_PolySurface& s, const std::atomic<bool>* stop)
         { KV_CompleteSurfaceForDrawing(s, executor, nullptr, stop); }},
        {"complete after drawing",
         [&](KV_PolySurface& s) { KV_CompleteSurfaceForDrawing(s, executor); },
         [&](KV_PolySurface& s, const std::atomic<bool>* stop)
         { KV_CompleteSurfaceAfterDrawing(s, stop, executor); }},
    };
    for (auto _ : state)
    {
        double worst = 0.0;
        for (const auto& stage : stages)
        {
            const double wait = WorstStopWait(stage.prepare, stage.stage);
            std::printf("  stop, %ld threads, %-24s worst wait %.3f s (goal 0.2 s)\n",
                        static_cast<long>(state.range(0)), stage.name, wait);
            worst = std::max(worst, wait);
        }
        state.SetIterationTime(worst);
    }
}

void Threads(benchmark::internal::Benchmark* b)
{
    b->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
}
}  // namespace

BENCHMARK(BM_Read)->Apply(Threads)->Iterations(3);
BENCHMARK(BM_Complete)->Apply(Threads)->Iterations(3);
BENCHMARK(BM_CompleteForDrawing)->Apply(Threads)->Iterations(3);
BENCHMARK(BM_CompleteAfterDrawing)->Apply(Threads)->Iterations(3);
BENCHMARK(BM_StopLatency)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

BENCHMARK_MAIN();
