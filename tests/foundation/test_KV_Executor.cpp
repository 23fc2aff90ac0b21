#include "foundation/KV_Executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <stdexcept>
#include <thread>

namespace
{
// Sums 0..n-1 by splitting the range in halves down to pieces of 16, each half a task of
// its own: tasks that wait for tasks, many more than the executor has threads.
long long SplitSum(KV_Executor* executor, long long begin, long long end)
{
    if (end - begin <= 16)
    {
        long long sum = 0;
        for (long long i = begin; i < end; ++i) sum += i;
        return sum;
    }
    const long long middle = (begin + end) / 2;
    KV_Task<long long> low =
        KV_Spawn(executor, [=] { return SplitSum(executor, begin, middle); });
    const long long high = SplitSum(executor, middle, end);
    return low.Get() + high;
}
}  // namespace

TEST(KV_ExecutorTest, NestedPiecesGiveTheSequentialResultWithAnyNumberOfThreads)
{
    for (unsigned int threads : {0u, 1u, 2u, 4u})
    {
        std::unique_ptr<KV_Executor> executor;
        if (threads > 0)
            executor = std::make_unique<KV_Executor>(threads);
        EXPECT_EQ(SplitSum(executor.get(), 0, 20000), 20000LL * 19999 / 2) << threads;
    }
}

TEST(KV_ExecutorTest, WithoutExecutorWorkRunsOnTheCallerWhenAskedAndNotBefore)
{
    bool ran = false;
    KV_Task<std::thread::id> task = KV_Spawn(nullptr, [&ran] {
        ran = true;
        return std::this_thread::get_id();
    });
    EXPECT_FALSE(ran);
    EXPECT_EQ(task.Get(), std::this_thread::get_id());
    EXPECT_TRUE(ran);
}

TEST(KV_ExecutorTest, ExceptionsReachTheWaiterAndTasksLeftUnreadStillFinish)
{
    KV_Executor executor(2);
    KV_Task<void> failing = KV_Spawn(&executor, [] { throw std::runtime_error("no"); });
    EXPECT_THROW(failing.Get(), std::runtime_error);

    std::atomic<int> done{0};
    {
        KV_Task<void> a = KV_Spawn(&executor, [&done] { ++done; });
        KV_Task<void> b = KV_Spawn(nullptr, [&done] { ++done; });
    }  // both waited for (or run) here, as their work uses this frame
    EXPECT_EQ(done.load(), 2);
}
