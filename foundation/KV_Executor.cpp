#include "foundation/KV_Executor.h"

#include <system_error>

KV_Executor::KV_Executor(unsigned int threads)
{
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    mkThreads.reserve(threads);
    for (unsigned int i = 0; i < threads; ++i)
    {
        try
        {
            mkThreads.emplace_back([this] { Serve(); });
        }
        catch (const std::system_error&)
        {
            break;  // fewer threads; waiters run the rest
        }
    }
}

KV_Executor::~KV_Executor()
{
    {
        std::lock_guard<std::mutex> lock(mkLock);
        mbStopping = true;
    }
    mkWake.notify_all();
    for (std::thread& thread : mkThreads) thread.join();
}

void KV_Executor::Post(std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> lock(mkLock);
        mkQueue.push_back(std::move(work));
    }
    mkWake.notify_one();
}

void KV_Executor::Serve()
{
    for (;;)
    {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(mkLock);
            mkWake.wait(lock, [this] { return mbStopping || !mkQueue.empty(); });
            if (mkQueue.empty())
                return;  // stopping, and nothing left
            work = std::move(mkQueue.front());
            mkQueue.pop_front();
        }
        work();
    }
}
