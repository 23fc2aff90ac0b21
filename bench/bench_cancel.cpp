// How long a cancelled load takes to let go, at each stage of a 4M-triangle load: the time
// from Cancel() until the worker has ended (the next open and the program's exit wait no
// longer than that). Argument: milliseconds into the load before Cancel(). Goal: 0.2 s.
// ORVANE_CANCEL_FILE names another file to load (a model, say) instead of the generated grid.

#include "document/KV_LoadJob.h"
#include "foundation/KV_Executor.h"
#include "tests/support/SurfaceFileWriter.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace
{
std::string GridPath()
{
    static const std::string path = []
    {
        if (const char* chosen = std::getenv("ORVANE_CANCEL_FILE"))
            return std::string(chosen);
        // 1415 x 1415 squares: 4,004,450 triangles, with a texture.
        const OsfSurface s = TexturedGridSurface(1415, 256);
        const std::string file = "/tmp/orvane-bench-cancel-" + std::to_string(getpid()) + ".osf";
        WriteOsfFile(file, EncodeRawSurface(s));
        std::atexit([] { std::remove(("/tmp/orvane-bench-cancel-" + std::to_string(getpid()) + ".osf").c_str()); });
        return file;
    }();
    return path;
}

void BM_CancelLatency(benchmark::State& state)
{
    const std::string path = GridPath();
    KV_Executor executor(2);
    int lastStage = -1;
    for (auto _ : state)
    {
        std::atomic<int> stage{-1};
        KV_LoadJob::Listener listener;
        listener.mkStageBegins = [&stage](KV_LoadJob::Stage begun) { stage = begun; };
        // Calls run at once on the worker: the stage is known as it begins.
        KV_LoadJob job(path.c_str(), &executor, nullptr, listener);
        job.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
        const bool ended = job.IsFinished();
        const auto start = std::chrono::steady_clock::now();
        job.Cancel();
        while (!job.IsFinished()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        lastStage = ended ? 2 : stage.load();
    }
    // 0 reading, 1 completing, 2 the load had ended before the cancel.
    state.counters["stage"] = lastStage;
}
}  // namespace

BENCHMARK(BM_CancelLatency)
    ->DenseRange(0, 1800, 150)
    ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
