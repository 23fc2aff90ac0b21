// The coarse copy on the program's executor: made when the view has threads, delivered only
// while it is still wanted, and let go of without waiting (the executor's one thread is held
// busy while the maker lets go, so a wait would never end).
#include "view/KV_CoarseCopy.h"

#include "foundation/KV_Executor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
// An n x n vertex grid of 2 (n - 1)^2 triangles.
struct Grid
{
    explicit Grid(int n)
    {
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) positions.insert(positions.end(), {float(i), float(j), 0});
        for (int j = 0; j + 1 < n; ++j)
            for (int i = 0; i + 1 < n; ++i)
            {
                const int a = j * n + i;
                triangles.insert(triangles.end(), {a, a + 1, a + n + 1, a, a + n + 1, a + n});
            }
    }
    std::vector<float> positions;
    std::vector<int> triangles;
};

// What reached the view, and a latch that holds the executor's thread.
struct Outcome
{
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<unsigned long, std::size_t>> delivered;  // serial, triangles
    std::size_t largestIndex = 0;
    bool released = false;

    KV_CoarseCopy::Deliver Deliver()
    {
        return [this](unsigned long serial, std::vector<unsigned int> coarse)
        {
            std::lock_guard<std::mutex> hold(lock);
            delivered.emplace_back(serial, coarse.size() / 3);
            for (unsigned int index : coarse) largestIndex = std::max<std::size_t>(largestIndex, index);
            changed.notify_all();
        };
    }
    void HoldThread(KV_Executor& executor)
    {
        executor.Post(
            [this]
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [this] { return released; });
            });
    }
    void Release()
    {
        std::lock_guard<std::mutex> hold(lock);
        released = true;
        changed.notify_all();
    }
};
std::shared_ptr<const std::vector<float>> Shared(const std::vector<float>& list)
{
    return std::make_shared<const std::vector<float>>(list);
}
std::shared_ptr<const KV_TriangleCorners> Shared(const std::vector<int>& list)
{
    auto corners = std::make_shared<KV_TriangleCorners>();
    corners->Own() = list;
    return corners;
}
}  // namespace

TEST(CoarseCopy, NotMadeWithoutAThread)
{
    Grid grid(60);
    Outcome outcome;
    KV_CoarseCopy copy;
    EXPECT_EQ(copy.Begin(nullptr, Shared(grid.positions), Shared(grid.triangles), 1000,
                         outcome.Deliver()),
              0u);
    EXPECT_FALSE(copy.IsMaking());
    EXPECT_FALSE(copy.IsCurrent(0));
    EXPECT_TRUE(outcome.delivered.empty());
}

TEST(CoarseCopy, MadeOnTheExecutorAndDeliveredOnce)
{
    const Grid grid(200);  // 79,202 triangles
    Outcome outcome;
    KV_Executor executor(1);
    ASSERT_EQ(executor.ThreadCount(), 1u);
    KV_CoarseCopy copy;
    // The lists are shared with the copy while it is made, and let go of when it is handed over.
    const auto positions = Shared(grid.positions);
    const auto triangles = Shared(grid.triangles);
    const unsigned long serial = copy.Begin(&executor, positions, triangles, 20000, outcome.Deliver());
    ASSERT_NE(serial, 0u);
    EXPECT_TRUE(copy.IsCurrent(serial));
    {
        std::unique_lock<std::mutex> hold(outcome.lock);
        outcome.changed.wait(hold, [&] { return !outcome.delivered.empty(); });
    }
    // Delivered under the job's lock, which is let go of right after.
    while (copy.IsMaking())
        std::this_thread::yield();
    ASSERT_EQ(outcome.delivered.size(), 1u);
    EXPECT_EQ(outcome.delivered[0].first, serial);
    EXPECT_GT(outcome.delivered[0].second, 0u);
    EXPECT_LT(outcome.delivered[0].second, grid.triangles.size() / 3);
    EXPECT_LT(outcome.largestIndex, grid.positions.size() / 3);
    EXPECT_EQ(positions.use_count(), 1);
    EXPECT_EQ(triangles.use_count(), 1);
    EXPECT_TRUE(copy.IsCurrent(serial));
    copy.Abandon();
    EXPECT_FALSE(copy.IsCurrent(serial));
}

TEST(CoarseCopy, LetGoOfWithoutWaitingAndNeverDelivered)
{
    const Grid grid(120);
    const struct
    {
        const char* name;
        int how;  // 0: Abandon, 1: a new copy begun, 2: the maker destroyed
    } ways[] = {{"abandoned", 0}, {"replaced", 1}, {"maker gone", 2}};
    for (const auto& way : ways)
    {
        SCOPED_TRACE(way.name);
        Outcome outcome;
        unsigned long second = 0;
        {
            KV_Executor executor(1);
            outcome.HoldThread(executor);
            auto copy = std::make_unique<KV_CoarseCopy>();
            const unsigned long first = copy->Begin(&executor, Shared(grid.positions),
                                                    Shared(grid.triangles), 5000, outcome.Deliver());
            ASSERT_NE(first, 0u);
            EXPECT_TRUE(copy->IsMaking());
            // The executor's one thread is held: each of these returns only if it does not wait.
            if (way.how == 0)
                copy->Abandon();
            else if (way.how == 1)
                second = copy->Begin(&executor, Shared(grid.positions),
                                     Shared(grid.triangles), 5000, outcome.Deliver());
            else
                copy.reset();
            if (copy)
            {
                EXPECT_FALSE(copy->IsCurrent(first));
                EXPECT_EQ(copy->IsMaking(), way.how == 1);
            }
            outcome.Release();
            if (way.how == 1)
            {
                std::unique_lock<std::mutex> hold(outcome.lock);
                outcome.changed.wait(hold, [&] { return !outcome.delivered.empty(); });
            }
            // The executor's end runs what is queued and joins its thread.
        }
        if (way.how == 1)
        {
            ASSERT_EQ(outcome.delivered.size(), 1u);
            EXPECT_EQ(outcome.delivered[0].first, second);
        }
        else
        {
            EXPECT_TRUE(outcome.delivered.empty());
        }
    }
}
