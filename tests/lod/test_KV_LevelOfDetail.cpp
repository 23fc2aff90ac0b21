// The coarse triangle list: fewer triangles over the same elements, the surface still
// covered edge to edge, texture seams kept, and bad indices never read.
#include "lod/KV_LevelOfDetail.h"

#include "foundation/KV_Executor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <tuple>
#include <vector>

namespace
{
// A flat n x n grid of unit cells in two texture charts: elements of columns 0 to n/2 belong
// to the left chart, columns n/2 to n to the right one, so the seam column has two elements
// per point (same position, one per chart). Two triangles per cell.
struct SeamGrid
{
    std::vector<float> positions;
    std::vector<bool> rightChart;  // per element
    std::vector<int> triangles;
};

SeamGrid MakeSeamGrid(int n)
{
    SeamGrid g;
    const int half = n / 2;
    std::vector<int> left((n + 1) * (n + 1), -1), right((n + 1) * (n + 1), -1);
    auto element = [&](int x, int y, bool onRight)
    {
        std::vector<int>& map = onRight ? right : left;
        int& e = map[y * (n + 1) + x];
        if (e < 0)
        {
            e = static_cast<int>(g.rightChart.size());
            g.positions.insert(g.positions.end(), {float(x), float(y), 0.0f});
            g.rightChart.push_back(onRight);
        }
        return e;
    };
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
        {
            const bool onRight = x >= half;
            const int a = element(x, y, onRight), b = element(x + 1, y, onRight),
                      c = element(x + 1, y + 1, onRight), d = element(x, y + 1, onRight);
            g.triangles.insert(g.triangles.end(), {a, b, c, a, c, d});
        }
    return g;
}

double Area(const std::vector<float>& p, const std::vector<unsigned int>& t)
{
    double area = 0.0;
    for (std::size_t i = 0; i + 2 < t.size(); i += 3)
    {
        const float* a = &p[3 * t[i]];
        const float* b = &p[3 * t[i + 1]];
        const float* c = &p[3 * t[i + 2]];
        area += 0.5 * std::fabs((b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]));
    }
    return area;
}
}  // namespace

TEST(LevelOfDetail, FewerTrianglesCoveringTheSameSurfaceWithSeamsKept)
{
    // Small lists are simplified in one go, large ones piece by piece and then as a whole;
    // triangles naming no element may sit anywhere in the list. Where the pieces met, their
    // fixed outlines leave slivers, a few of which fold over in the last pass (a flat grid,
    // all of whose points lie in lines, is the worst case: half a percent of the area at most).
    const struct
    {
        int n;
        std::size_t target;
        bool withUnusable;
        double areaTolerance;
    } cases[] = {{200, 5000, false, 1e-3},                    // 80,000 triangles
                 {420, 20000, true, 420.0 * 420.0 * 0.005}};  // 352,800
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.n);
        const SeamGrid g = MakeSeamGrid(c.n);
        const std::size_t elements = g.rightChart.size();
        std::vector<int> triangles;
        for (std::size_t i = 0; i < g.triangles.size(); i += 3)
        {
            triangles.insert(triangles.end(), &g.triangles[i], &g.triangles[i] + 3);
            if (c.withUnusable && i % 30 == 0)
                triangles.insert(triangles.end(), {0, -1, static_cast<int>(elements)});
        }
        const std::vector<unsigned int> coarse = KV_SimplifyTriangles(
            g.positions.data(), elements, triangles.data(), triangles.size() / 3, c.target);
        ASSERT_FALSE(coarse.empty());
        ASSERT_EQ(coarse.size() % 3, 0u);
        EXPECT_LE(coarse.size() / 3, c.target * 3 / 2);
        for (unsigned int e : coarse) ASSERT_LT(e, elements);
        // Edge to edge, no holes and no folds: the grid's area.
        EXPECT_NEAR(Area(g.positions, coarse), double(c.n) * c.n, c.areaTolerance);
        // No triangle mixes the two charts' elements: the texture stays on its own side.
        for (std::size_t i = 0; i < coarse.size(); i += 3)
        {
            const bool r = g.rightChart[coarse[i]];
            ASSERT_EQ(g.rightChart[coarse[i + 1]], r);
            ASSERT_EQ(g.rightChart[coarse[i + 2]], r);
        }
        // The pieces simplified beside each other on two threads make the same list.
        KV_Executor executor(2);
        EXPECT_EQ(KV_SimplifyTriangles(g.positions.data(), elements, triangles.data(),
                                       triangles.size() / 3, c.target, nullptr, &executor),
                  coarse);
        // Asked to stop, it gives nothing.
        const std::atomic<bool> stop{true};
        EXPECT_TRUE(KV_SimplifyTriangles(g.positions.data(), elements, triangles.data(),
                                         triangles.size() / 3, c.target, &stop)
                        .empty());
    }
}

TEST(LevelOfDetail, SmallOrUnusableListsGiveNothing)
{
    const SeamGrid g = MakeSeamGrid(10);  // 200 triangles
    const std::size_t elements = g.rightChart.size();
    EXPECT_TRUE(KV_SimplifyTriangles(g.positions.data(), elements, g.triangles.data(),
                                     g.triangles.size() / 3, 200)
                    .empty());
    // Triangles naming no element (-1) or one past the end are left out, not read.
    std::vector<int> bad(3000, -1);
    for (std::size_t i = 0; i < bad.size(); i += 3) bad[i + 1] = static_cast<int>(elements);
    EXPECT_TRUE(
        KV_SimplifyTriangles(g.positions.data(), elements, bad.data(), bad.size() / 3, 10).empty());
    std::vector<int> mixed = g.triangles;
    mixed.insert(mixed.end(), bad.begin(), bad.end());
    const std::vector<unsigned int> coarse =
        KV_SimplifyTriangles(g.positions.data(), elements, mixed.data(), mixed.size() / 3, 50);
    ASSERT_FALSE(coarse.empty());
    for (unsigned int e : coarse) EXPECT_LT(e, elements);
    EXPECT_NEAR(Area(g.positions, coarse), 100.0, 1e-3);
}

TEST(LevelOfDetail, CoarseTargetIsWhatTheFullSurfaceDrawsInAFiftiethOfASecond)
{
    const struct
    {
        std::size_t triangles;
        double seconds;
        std::size_t target;
    } cases[] = {
        {4000000, 2.0, 40000},    // 2 s a frame: 1/100 of the triangles
        {4000000, 0.2, 250000},   // fast enough for more than the limit
        {4000000, 0.0, 250000},   // not measured
        {1000000, 100.0, 20000},  // never fewer than 20,000
    };
    for (const auto& c : cases)
        EXPECT_EQ(KV_CoarseTriangleTarget(c.triangles, c.seconds), c.target) << c.seconds;
}

// A list kept in runs (a shared triangle list's pieces) gives the list one array gives; runs
// that cannot hold the count give nothing.
TEST(LevelOfDetail, TrianglesInRunsAsInOneList)
{
    const SeamGrid g = MakeSeamGrid(400);  // 320,000 triangles: simplified in pieces
    const std::size_t elements = g.rightChart.size(), count = g.triangles.size() / 3;
    KV_Executor executor(2);
    const std::vector<unsigned int> whole = KV_SimplifyTriangles(
        g.positions.data(), elements, g.triangles.data(), count, 5000, nullptr, &executor);
    ASSERT_FALSE(whole.empty());
    // shift, runs dropped from the end, whether the list comes out the same
    for (const auto& [shift, dropped, same] :
         {std::tuple{14u, 0u, true}, {10u, 0u, true}, {63u, 0u, true}, {14u, 1u, false}})
    {
        // Each run a copy of its own, so that nothing reads on from one run into the next.
        const std::size_t per = shift == 63 ? count : std::size_t(1) << shift;
        std::vector<std::vector<int>> copies;
        std::vector<const int*> runs;
        for (std::size_t t = 0; t < count; t += per)
            copies.emplace_back(g.triangles.begin() + 3 * t,
                                g.triangles.begin() + 3 * std::min(count, t + per));
        for (std::size_t r = 0; r + dropped < copies.size(); ++r) runs.push_back(copies[r].data());
        EXPECT_EQ(same ? whole : std::vector<unsigned int>(),
                  KV_SimplifyTriangleRuns(g.positions.data(), elements, runs, shift, count, 5000,
                                          nullptr, &executor))
            << shift;
    }
}
