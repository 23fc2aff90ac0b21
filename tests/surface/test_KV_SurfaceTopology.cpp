// Derived topology on hand-built surfaces with known answers, and the fast edge pass and
// chainings against direct transcriptions of the searches they replace.

#include "DirectSearches.h"
#include "SurfaceFixtures.h"
#include "foundation/KV_Executor.h"
#include "surface/KV_SurfaceTopology.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <vector>

namespace topology = KV_SurfaceTopology;
using Lists = std::vector<std::vector<unsigned int>>;
using SignedLists = std::vector<std::vector<int>>;

namespace
{
std::vector<std::pair<unsigned int, unsigned int>> EdgePairs(const KV_List<KV_Edge>& edges)
{
    std::vector<std::pair<unsigned int, unsigned int>> pairs;
    for (unsigned int i = 0; i < edges.Count(); ++i)
        pairs.push_back({edges[i].first, edges[i].second});
    return pairs;
}

// ---- Direct transcriptions of the described searches (quadratic; for comparison only) ----

using Directed = topology::DirectedEdge;

bool Opposite(const Directed& a, const Directed& b)
{
    return a.first == b.second && a.second == b.first;
}

// Collect, sort (stably, by smaller then larger vertex), cancel, chain by searching from
// position i onwards, build loops: every step as described.
bool SlowBoundaries(const KV_List<KV_Polygon>& polygons, Lists& loops)
{
    std::vector<Directed> e;
    for (unsigned int p = 0; p < polygons.Count(); ++p)
        for (unsigned int j = 0; j < polygons[p].Count(); ++j)
            e.push_back({polygons[p][j], polygons[p][(j + 1) % polygons[p].Count()]});
    std::stable_sort(e.begin(), e.end(),
                     [](const Directed& a, const Directed& b)
                     {
                         const unsigned int a0 = std::min(a.first, a.second),
                                            b0 = std::min(b.first, b.second);
                         if (a0 != b0)
                             return a0 < b0;
                         return std::max(a.first, a.second) < std::max(b.first, b.second);
                     });
    int count = static_cast<int>(e.size());
    int i = count - 1;
    while (i >= 2)
    {
        if (Opposite(e[i], e[i - 1]))
        {
            e[i] = e[count - 1];
            --count;
            e[i - 1] = e[count - 1];
            --count;
            i -= 2;
        }
        else
        {
            --i;
        }
    }
    if (count >= 2 && Opposite(e[1], e[0]))
    {
        e[1] = e[count - 1];
        --count;
        e[0] = e[count - 1];
        --count;
    }
    e.resize(count);
    if (e.empty())
        return false;
    DirectSearches::ChainEdges(e);
    loops.assign(1, {e[0].first});
    for (std::size_t k = 0; k < e.size();)
    {
        std::vector<unsigned int>* loop = &loops.back();
        if (e[k].first == loop->back() && e[k].second == loop->front() && k != e.size() - 1)
        {
            loop->push_back(loop->front());
            loops.push_back({e[k + 1].first});
            ++k;
        }
        else if (e[k].first != loop->back())
        {
            loops.push_back({e[k].first});
        }
        loops.back().push_back(e[k].second);
        ++k;
    }
    for (auto& loop : loops)
        if (!loop.empty())
            loop.pop_back();
    return true;
}

unsigned int EdgeOf(int r)
{
    return r >= 0 ? r : -r - 1;
}
unsigned int StartOf(const KV_List<KV_Edge>& edges, int r)
{
    return r >= 0 ? edges[EdgeOf(r)].first : edges[EdgeOf(r)].second;
}
unsigned int EndOf(const KV_List<KV_Edge>& edges, int r)
{
    return r >= 0 ? edges[EdgeOf(r)].second : edges[EdgeOf(r)].first;
}

// The polygon-edge chain: after each move, search again from the first remaining entry.
std::vector<int> SlowChain(const KV_List<KV_Edge>& edges, std::vector<int> list)
{
    if (list.size() <= 1)
        return list;
    std::size_t start = 0;
    for (std::size_t k = 1; k < list.size(); ++k)
        if (EdgeOf(list[k]) < EdgeOf(list[start]))
            start = k;
    std::vector<int> chain{list[start]};
    list.erase(list.begin() + start);
    std::size_t k = 0;
    while (list.size() > 1 && k < list.size())
    {
        if (StartOf(edges, list[k]) == EndOf(edges, chain.back()))
        {
            chain.push_back(list[k]);
            list.erase(list.begin() + k);
            k = 0;
        }
        else
        {
            ++k;
        }
    }
    if (!list.empty())
        chain.push_back(list[0]);
    return chain;
}

// A grid with holes, some triangles turned over and some repeated, so that boundary loops
// meet at vertices and edges are used one to four times.
void MakeRoughSurface(KV_PolySurface& s, unsigned int cells, unsigned int seed)
{
    MakeGrid(s, cells, 0.25, seed);
    std::mt19937 random(seed * 7919u + 1);
    KV_List<KV_Polygon>& polygons = s.Polygons();
    const unsigned int count = polygons.Count();
    for (unsigned int i = 0; i < count; ++i)
    {
        const unsigned int roll = random() % 20;
        if (roll == 0)
            std::swap(polygons[i][1], polygons[i][2]);
        else if (roll == 1)
            polygons.Append(polygons[i]);
    }
}
}  // namespace

// ---- Hand-built surfaces -------------------------------------------------------------------

// The flags made alone, a slice of smaller vertices at a time, at every slice size from one
// edge use up, are the flags of the whole pass.
void ExpectSlicedFlags(const KV_PolySurface& s, const std::vector<char>& flags)
{
    for (std::size_t slice : {std::size_t(1), std::size_t(3), std::size_t(40), std::size_t(0)})
    {
        KV_List<char> sliced(16);
        topology::Edges(s.VertexCount(), s.mpPolygons, nullptr, &sliced, slice);
        EXPECT_EQ(AsVector(sliced), flags) << "slice " << slice;
    }
}

TEST(SurfaceTopology, TwoTrianglesEdgesVertexEdgesAndPolygonEdges)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    s.ComputeEdges();
    EXPECT_EQ(EdgePairs(*s.mpEdges), (std::vector<std::pair<unsigned int, unsigned int>>{
                                         {0, 1}, {1, 2}, {0, 2}, {2, 3}, {0, 3}}));
    EXPECT_EQ(s.mpEdges->BlockSize(), 2u + 4u + 256u);

    s.ComputeVertexEdges();
    EXPECT_EQ(AsVectors(*s.mpVertexEdges), (Lists{{0, 2, 4}, {0, 1}, {1, 2, 3}, {3, 4}}));

    s.ComputePolygonEdges();
    EXPECT_EQ(AsVectors(*s.mpPolygonEdges), (SignedLists{{0, 1, -3}, {2, 3, -5}}));

    s.ComputeEdgePolygons();
    EXPECT_EQ(AsVectors(*s.mpEdgePolygons), (Lists{{0}, {0}, {0, 1}, {1}, {1}}));
}

TEST(SurfaceTopology, TwoTrianglesBoundaryFlagsAndAdjacency)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    s.ComputeBoundaries();
    EXPECT_EQ(AsVectors(*s.mpBoundaries), (Lists{{0, 1, 2, 3}}));
    s.ComputeVertexBoundaries();
    EXPECT_EQ(AsVector(*s.mpVertexBoundaries), (std::vector<char>{1, 1, 1, 1}));

    s.ComputeVertexPolygons();
    EXPECT_EQ(AsVectors(*s.mpVertexPolygons), (Lists{{0, 1}, {0}, {0, 1}, {1}}));
    EXPECT_EQ(s.mpVertexPolygons->BlockSize(), 4u);
    EXPECT_EQ((*s.mpVertexPolygons)[0].BlockSize(), 6u);

    s.ComputePolygonPolygons();
    EXPECT_EQ(AsVectors(*s.mpPolygonPolygons), (Lists{{1}, {0}}));

    // The polygon surface always goes through the edges.
    s.ComputeVertexVertices();
    EXPECT_EQ(AsVectors(*s.mpVertexVertices), (Lists{{1, 2, 3}, {0, 2}, {1, 0, 3}, {2, 0}}));
}

TEST(SurfaceTopology, BaseVertexVerticesUseVertexPolygonsWhenPresent)
{
    KV_BasePolySurface s;
    MakeTwoTriangles(s);
    s.ComputeVertexVertices();  // no vertex polygons yet: through the edges
    EXPECT_EQ(AsVectors(*s.mpVertexVertices), (Lists{{1, 2, 3}, {0, 2}, {1, 0, 3}, {2, 0}}));
    s.ComputeVertexPolygons();
    s.ComputeVertexVertices();
    EXPECT_EQ(AsVectors(*s.mpVertexVertices), (Lists{{1, 2, 3}, {0, 2}, {0, 1, 3}, {0, 2}}));
}

TEST(SurfaceTopology, QuadrilateralSharesItsDiagonal)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(s, {{0, 1, 2, 3}});
    KV_List<KV_List<unsigned int>> vertexPolygons(16);
    topology::VertexPolygons(4, s.mpPolygons, vertexPolygons);
    std::vector<unsigned int> shared;
    topology::SharedEdgePolygons(s.mpPolygons, vertexPolygons, 0, 2, shared);
    EXPECT_EQ(shared, (std::vector<unsigned int>{0}));

    // So its vertex vertices through vertex polygons include the opposite corner.
    s.ComputeVertexPolygons();
    KV_List<KV_List<unsigned int>> neighbours(16);
    topology::VertexVerticesFromPolygons(4, s.mpPolygons, *s.mpVertexPolygons, neighbours);
    EXPECT_EQ(AsVectors(neighbours), (Lists{{1, 2, 3}, {0, 2, 3}, {0, 1, 3}, {0, 1, 2}}));
}

TEST(SurfaceTopology, ClosedTetrahedronHasNoBoundary)
{
    KV_PolySurface s;
    MakeTetrahedron(s);
    s.mpBoundaries = new KV_List<KV_Boundary>(8);
    KV_Boundary stale;
    stale.Append(7);
    s.mpBoundaries->Append(stale);
    s.ComputeBoundaries();
    EXPECT_EQ(AsVectors(*s.mpBoundaries), (Lists{{7}}));  // left as it was

    s.ComputeEdgesAndVertexBoundaries();
    EXPECT_EQ(s.mpEdges->Count(), 6u);
    EXPECT_EQ(AsVector(*s.mpVertexBoundaries), (std::vector<char>{0, 0, 0, 0}));

    s.ComputePolygonEdges();
    EXPECT_EQ(AsVectors(*s.mpPolygonEdges),
              (SignedLists{{0, -2, -3}, {2, 3, -5}, {-1, 4, -6}, {1, 5, -4}}));
}

TEST(SurfaceTopology, EdgeOfThreePolygonsIsStoredTwiceAndFlagged)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {5, 5, 5}});
    AddPolygons(s, {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}});
    s.ComputeEdgesAndVertexBoundaries();
    EXPECT_EQ(EdgePairs(*s.mpEdges),
              (std::vector<std::pair<unsigned int, unsigned int>>{
                  {0, 1}, {1, 2}, {0, 2}, {0, 3}, {1, 3}, {0, 1}, {1, 4}, {0, 4}}));
    EXPECT_EQ(AsVector(*s.mpVertexBoundaries), (std::vector<char>{1, 1, 1, 1, 1, 0}));

    // A fourth use closes it again: stored twice, not flagged by it.
    AddPolygons(s, {{1, 0, 5}});
    std::vector<std::pair<unsigned int, unsigned int>> slowEdges;
    std::vector<char> slowFlags;
    DirectSearches::EdgePass(6, *s.mpPolygons, slowEdges, slowFlags);
    s.ComputeEdgesAndVertexBoundaries();
    EXPECT_EQ(EdgePairs(*s.mpEdges), slowEdges);
    EXPECT_EQ(AsVector(*s.mpVertexBoundaries), slowFlags);
    ExpectSlicedFlags(s, slowFlags);
}

TEST(SurfaceTopology, LoopsMeetingAtAVertex)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-1, 0, 0}, {-1, -1, 0}});
    AddPolygons(s, {{0, 1, 2}, {0, 3, 4}});
    s.ComputeBoundaries();
    EXPECT_EQ(AsVectors(*s.mpBoundaries), (Lists{{0, 1, 2}, {0, 3, 4}}));
    EXPECT_EQ(s.mpBoundaries->BlockSize(), 8u);
    EXPECT_EQ((*s.mpBoundaries)[0].BlockSize(), 256u);
}

TEST(SurfaceTopology, LoopsOfASoupHoldOnlyTheirOwnVertices)
{
    // Every triangle on its own vertices is its own loop: a loop's storage is its length (or
    // the room for four indices inside the list object), not a block of 256, in the surface
    // and in a copy of it.
    KV_PolySurface s;
    for (unsigned int t = 0; t < 50; ++t)
    {
        const float x = static_cast<float>(t);
        AddVertices(s, {{x, 0, 0}, {x + 1, 0, 0}, {x, 1, 0}});
        AddPolygons(s, {{3 * t, 3 * t + 1, 3 * t + 2}});
    }
    s.ComputeBoundaries();
    const KV_PolySurface copy(s);
    for (const KV_PolySurface* surface : {static_cast<const KV_PolySurface*>(&s), &copy})
    {
        ASSERT_EQ(surface->mpBoundaries->Count(), 50u);
        for (unsigned int t = 0; t < 50; ++t)
        {
            const KV_Boundary& loop = (*surface->mpBoundaries)[t];
            ASSERT_EQ(AsVector(loop), (std::vector<unsigned int>{3 * t, 3 * t + 1, 3 * t + 2}));
            EXPECT_LE(loop.Capacity(), 4u);
            EXPECT_EQ(loop.BlockSize(), 256u);
        }
    }
}

TEST(SurfaceTopology, PolygonNamingAVertexTwiceIsListedTwice)
{
    KV_BasePolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
    AddPolygons(s, {{0, 1, 0, 2}});
    s.ComputeVertexPolygons();
    EXPECT_EQ(AsVectors(*s.mpVertexPolygons), (Lists{{0, 0}, {0}, {0}}));
    // Edge (0, 1) is met at both uses of 0 in the polygon: the polygon counts once per use
    // of vertex 0 and per occurrence of vertex 1.
    std::vector<unsigned int> shared;
    topology::SharedEdgePolygons(s.mpPolygons, *s.mpVertexPolygons, 0, 1, shared);
    EXPECT_EQ(shared, (std::vector<unsigned int>{0, 0}));
}

TEST(SurfaceTopology, OutOfRangeIndicesAreSkippedNotFollowed)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
    AddPolygons(s, {{0, 1, 2}, {0, 9, 2}});
    s.ComputeVertexPolygons();
    EXPECT_EQ(AsVectors(*s.mpVertexPolygons), (Lists{{0, 1}, {0}, {0, 1}}));
    s.ComputeEdgesAndVertexBoundaries();
    EXPECT_EQ(EdgePairs(*s.mpEdges),
              (std::vector<std::pair<unsigned int, unsigned int>>{{0, 1}, {1, 2}, {0, 2}}));
    s.ComputePolygonPolygons();
    s.ComputePolygonEdges();
    s.ComputeEdgePolygons();
    s.ComputeVertexVertices();
    s.ComputeBoundaries();
    s.ComputeExtents();
    EXPECT_EQ(s.mpExtents->PolygonMaximum(), KV_Vector3D(1, 1, 0));
}

// ---- Fast searches against the direct ones ---------------------------------------------------

TEST(SurfaceTopology, BusyVerticesAndLongPolygonsShareEdgesAsTheWalkDoes)
{
    // Vertex 0 has far more polygons than the walk is used for, some of them long, one
    // naming it twice; the indexed lookups must give the walk's lists in the walk's order.
    KV_PolySurface s;
    const unsigned int rim = 60;
    s.Vertices().Append(KV_Vector3D(0, 0, 0));
    for (unsigned int k = 0; k < rim; ++k)
        s.Vertices().Append(KV_Vector3D(static_cast<float>(k), 1, 0));
    for (unsigned int k = 1; k < rim; ++k) AddPolygons(s, {{0, k, k + 1}});
    AddPolygons(s, {{0, 5, 6, 7}, {2, 0, 4, 0, 9}});
    KV_Polygon ring;
    for (unsigned int k = 30; k > 0; --k) ring.Append(k % 7 == 0 ? 0 : k);
    s.Polygons().Append(ring);
    AddPolygons(s, {{rim, 1, 0}});

    s.ComputeVertexPolygons();
    s.ComputeEdges();
    s.ComputeEdgePolygons();
    s.ComputePolygonPolygons();
    s.ComputePolygonEdges();
    const KV_List<KV_Polygon>& polygons = *s.mpPolygons;
    const KV_List<KV_Edge>& edges = *s.mpEdges;
    auto walk = [&](unsigned int a, unsigned int b)
    {
        std::vector<unsigned int> shared;
        topology::SharedEdgePolygons(s.mpPolygons, *s.mpVertexPolygons, a, b, shared);
        return shared;
    };

    Lists edgePolygons, polygonPolygons(polygons.Count());
    SignedLists polygonEdges(polygons.Count());
    for (unsigned int j = 0; j < edges.Count(); ++j)
    {
        const unsigned int a = edges[j].first, b = edges[j].second;
        edgePolygons.push_back(walk(a, b));
        for (unsigned int p : edgePolygons.back())
        {
            const KV_PolygonView& polygon = polygons[p];
            unsigned int k = 0;
            while (polygon[k] != a) ++k;
            const bool forward = polygon[(k + 1) % polygon.Count()] == b;
            polygonEdges[p].push_back(forward ? static_cast<int>(j) : -static_cast<int>(j) - 1);
        }
    }
    for (unsigned int p = 0; p < polygons.Count(); ++p)
    {
        topology::ChainPolygonEdges(edges, polygonEdges[p]);
        const KV_PolygonView& polygon = polygons[p];
        for (unsigned int j = 0; j < polygon.Count(); ++j)
            for (unsigned int q : walk(polygon[j], polygon[(j + 1) % polygon.Count()]))
                if (q != p)
                    polygonPolygons[p].push_back(q);
    }
    ASSERT_GT((*s.mpVertexPolygons)[0].Count(), 60u);
    EXPECT_EQ(AsVectors(*s.mpEdgePolygons), edgePolygons);
    EXPECT_EQ(AsVectors(*s.mpPolygonPolygons), polygonPolygons);
    EXPECT_EQ(AsVectors(*s.mpPolygonEdges), polygonEdges);
}

TEST(SurfaceTopology, EdgePassMatchesOpenListsOnRoughSurfaces)
{
    for (unsigned int seed = 1; seed <= 20; ++seed)
    {
        KV_PolySurface s;
        MakeRoughSurface(s, 12, seed);
        std::vector<std::pair<unsigned int, unsigned int>> slowEdges;
        std::vector<char> slowFlags;
        DirectSearches::EdgePass(s.VertexCount(), *s.mpPolygons, slowEdges, slowFlags);
        s.ComputeEdgesAndVertexBoundaries();
        ASSERT_EQ(EdgePairs(*s.mpEdges), slowEdges) << "seed " << seed;
        ASSERT_EQ(AsVector(*s.mpVertexBoundaries), slowFlags) << "seed " << seed;
        ExpectSlicedFlags(s, slowFlags);
    }
}

TEST(SurfaceTopology, EdgePassMatchesOpenListsAroundAVertexWithManyEdges)
{
    // Vertex 0 in 100 separate triangles, some repeated once or twice: its open list grows
    // long, and edges close and reopen while it is long.
    KV_PolySurface s;
    s.Vertices().Append(KV_Vector3D(0, 0, 0));
    for (unsigned int i = 0; i < 200; ++i)
        s.Vertices().Append(KV_Vector3D(static_cast<float>(i), 1, 0));
    for (unsigned int round = 0; round < 3; ++round)
        for (unsigned int i = 0; i < 100; ++i)
            if (round == 0 || i % (round + 2) == 0)
                s.Polygons().Append(MakePolygon({0, 2 * i + 1, 2 * i + 2}));
    std::vector<std::pair<unsigned int, unsigned int>> slowEdges;
    std::vector<char> slowFlags;
    DirectSearches::EdgePass(s.VertexCount(), *s.mpPolygons, slowEdges, slowFlags);
    s.ComputeEdgesAndVertexBoundaries();
    EXPECT_EQ(EdgePairs(*s.mpEdges), slowEdges);
    EXPECT_EQ(AsVector(*s.mpVertexBoundaries), slowFlags);
    ExpectSlicedFlags(s, slowFlags);
}

TEST(SurfaceTopology, BoundaryChainingMatchesTheDirectSearch)
{
    unsigned int loopsSeen = 0;
    for (unsigned int seed = 1; seed <= 60; ++seed)
    {
        KV_PolySurface s;
        MakeRoughSurface(s, 4 + seed % 17, seed);
        Lists slowLoops;
        const bool slowFound = SlowBoundaries(*s.mpPolygons, slowLoops);
        KV_List<KV_Boundary> loops(1024);
        ASSERT_EQ(topology::Boundaries(s.mpPolygons, loops), slowFound) << "seed " << seed;
        ASSERT_EQ(AsVectors(loops), slowFound ? slowLoops : Lists{}) << "seed " << seed;
        loopsSeen += loops.Count();
    }
    EXPECT_GT(loopsSeen, 500u);  // many holes, many meeting at vertices
}

TEST(SurfaceTopology, PolygonEdgeChainMatchesTheDirectSearch)
{
    std::mt19937 random(5);
    KV_List<KV_Edge> edges(64);
    for (unsigned int j = 0; j < 200; ++j)
    {
        const unsigned int a = random() % 12, b = random() % 12;
        edges.Append(KV_Edge(std::min(a, b), std::max(a, b)));
    }
    for (unsigned int trial = 0; trial < 2000; ++trial)
    {
        const unsigned int m = 1 + random() % 60;  // both the short and the indexed path
        std::vector<int> list;
        for (unsigned int k = 0; k < m; ++k)
        {
            const int j = static_cast<int>(random() % 200);
            list.push_back(random() % 2 ? j : -j - 1);
        }
        std::vector<int> fast = list;
        topology::ChainPolygonEdges(edges, fast);
        ASSERT_EQ(fast, SlowChain(edges, list)) << "trial " << trial;
    }
}

TEST(SurfaceTopology, LargePolygonEdgesFormOneChain)
{
    KV_PolySurface s;
    const unsigned int n = 40;
    KV_Polygon polygon;
    for (unsigned int i = 0; i < n; ++i)
    {
        s.Vertices().Append(KV_Vector3D(static_cast<float>(i), 0, 0));
        polygon.Append((i * 7) % n);  // 7 and 40 are coprime: every vertex once
    }
    s.Polygons().Append(polygon);
    s.ComputePolygonEdges();
    const KV_List<int>& chain = (*s.mpPolygonEdges)[0];
    ASSERT_EQ(chain.Count(), n);
    for (unsigned int k = 0; k < n; ++k)
        EXPECT_EQ(EndOf(*s.mpEdges, chain[k]), StartOf(*s.mpEdges, chain[(k + 1) % n]));
    EXPECT_EQ(chain[0], 0);
}

TEST(SurfaceTopology, DerivationsStopWhenTheirScopesFlagIsSet)
{
    // A set flag abandons each long derivation on this thread only while its scope lives;
    // scopes nest, and the outer flag is back once the inner scope ends.
    KV_PolySurface s;
    MakeTwoTriangles(s);
    const std::atomic<bool> set{true};
    const std::atomic<bool> clear{false};
    const std::pair<const char*, std::function<void()>> derivations[] = {
        {"boundaries", [&] { s.ComputeBoundaries(); }},
        {"vertex polygons", [&] { s.ComputeVertexPolygons(); }},
        {"vertex boundaries", [&] { s.ComputeVertexBoundaries(); }},
        {"edges", [&] { s.ComputeEdges(); }},
        {"compact vertex polygons",
         [&] { KV_SurfaceTopology::CompactVertexPolygons(s.VertexCount(), s.mpPolygons); }}};
    for (const auto& derivation : derivations)
    {
        SCOPED_TRACE(derivation.first);
        {
            const KV_SurfaceTopology::StopScope outer(&set);
            EXPECT_THROW(derivation.second(), KV_SurfaceTopology::Stopped);
            {
                const KV_SurfaceTopology::StopScope inner(&clear);
                EXPECT_NO_THROW(derivation.second());
            }
            EXPECT_THROW(derivation.second(), KV_SurfaceTopology::Stopped);
        }
        EXPECT_NO_THROW(derivation.second());
    }
    EXPECT_EQ(AsVectors(*s.mpBoundaries), (Lists{{0, 1, 2, 3}}));
}

TEST(SurfaceTopology, SlicedEdgeSortsMatchTheWholeSort)
{
    // Rough grids, a soup of repeated and turned triangles over few vertices (long runs of
    // equal keys, pairs cancelling next to the list's first places), tiny lists, and vertex
    // numbers far past the corners (sorted whole); every slice size from one vertex up. The
    // flags of boundary vertices are made in the same slices.
    std::vector<KV_PolySurface> surfaces(26);
    for (unsigned int seed = 1; seed <= 20; ++seed) MakeRoughSurface(surfaces[seed - 1], 3 + seed % 9, seed);
    std::mt19937 random(11);
    for (unsigned int t = 0; t < 300; ++t)
    {
        const unsigned int a = random() % 6, b = random() % 6, c = random() % 6;
        surfaces[20].Polygons().Append(MakePolygon({a, b, c}));
    }
    const std::vector<std::vector<unsigned int>> small = {{0}, {0, 1}, {1, 0}, {0, 1, 2}, {2, 1, 0, 1, 2}};
    for (std::size_t k = 0; k < small.size(); ++k)
    {
        KV_Polygon polygon;
        for (unsigned int v : small[k]) polygon.Append(v);
        surfaces[21 + k].Polygons().Append(polygon);
        surfaces[21 + k].Polygons().Append(MakePolygon({0, 2, 1}));
        if (k == 4)
            surfaces[21 + k].Polygons().Append(MakePolygon({4000000000u, 1, 7}));
    }
    // A grid in rows over three stretches of polygons, with holes and, at its end, copies of
    // triangles from its start: slices read only the stretches that hold their corners.
    surfaces.emplace_back();
    const unsigned int columns = 200, rows = 100;
    for (unsigned int j = 0; j < rows; ++j)
        for (unsigned int i = 0; i < columns; ++i)
        {
            if ((i * 7 + j * 3) % 97 == 0)
                continue;
            const unsigned int a = j * (columns + 1) + i, b = a + 1, c = b + columns + 1,
                               d = a + columns + 1;
            surfaces.back().Polygons().Append(MakePolygon({a, b, c}));
            surfaces.back().Polygons().Append(MakePolygon({a, c, d}));
        }
    for (unsigned int t = 0; t < 50; ++t)
        surfaces.back().Polygons().Append(MakePolygon({5 * t, 5 * t + 1, 5 * t + columns + 2}));
    for (std::size_t k = 0; k < surfaces.size(); ++k)
    {
        // Edges of more than two polygon edges, and the ends of edges of odd use among the
        // first vertexCount, counted directly.
        const unsigned int vertexCount = 30000;
        std::map<std::pair<unsigned int, unsigned int>, unsigned int> uses;
        const KV_List<KV_Polygon>& polygons = *surfaces[k].mpPolygons;
        for (unsigned int p = 0; p < polygons.Count(); ++p)
            for (unsigned int j = 0; j < polygons[p].Count(); ++j)
            {
                const unsigned int a = polygons[p][j], b = polygons[p][(j + 1) % polygons[p].Count()];
                ++uses[{std::min(a, b), std::max(a, b)}];
            }
        std::size_t overshared = 0;
        std::vector<char> ends(vertexCount, 0);
        for (const auto& use : uses)
        {
            overshared += use.first.first != use.first.second && use.second > 2 ? 1 : 0;
            if (use.second % 2 == 1 && use.first.second < vertexCount)
                ends[use.first.first] = ends[use.first.second] = 1;
        }
        const auto whole = topology::UnchainedBoundaryEdgesBySort(surfaces[k].mpPolygons);
        const bool large = surfaces[k].mpPolygons->Count() > 16384;
        for (std::size_t slice : {std::size_t(1), std::size_t(3), std::size_t(40), std::size_t(0)})
        {
            if (large && slice < 40)
                slice *= 2000;  // a slice a vertex would pass over the list too often
            EXPECT_EQ(topology::OversharedEdgeCount(surfaces[k].mpPolygons, slice), overshared)
                << "surface " << k << ", slice " << slice;
            KV_List<char> flags;
            topology::Edges(vertexCount, surfaces[k].mpPolygons, nullptr, &flags, slice);
            EXPECT_TRUE(std::equal(ends.begin(), ends.end(), &flags[0]))
                << "surface " << k << ", slice " << slice;
            const auto sliced = topology::UnchainedBoundaryEdges(surfaces[k].mpPolygons, slice);
            ASSERT_EQ(sliced.size(), whole.size()) << "surface " << k << ", slice " << slice;
            for (std::size_t e = 0; e < whole.size(); ++e)
                ASSERT_TRUE(sliced[e].first == whole[e].first && sliced[e].second == whole[e].second)
                    << "surface " << k << ", slice " << slice << ", edge " << e;
        }
    }
}

TEST(SurfaceTopology, VertexPolygonsMadeInTwoHalvesAreTheOnePassLists)
{
    // Large enough to be made in two halves: triangles and quads in flat runs, corners past
    // the vertices in both halves, and polygons as list objects with a vertex named twice;
    // each with an executor and without, and a piece of vertices at a time, against a direct
    // count. A set flag stops the halves.
    const std::pair<const char*, std::function<void(KV_PolySurface&)>> cases[] = {
        {"triangles", [](KV_PolySurface& s) { MakeGrid(s, 190); }},
        {"quads", [](KV_PolySurface& s) { MakeGrid(s, 260, 0.0, 1, true); }},
        {"corners past the vertices",
         [](KV_PolySurface& s)
         {
             MakeGrid(s, 190);
             s.Polygons()[5][1] = 4000000000u;
             s.Polygons()[70000][2] = s.VertexCount();
         }},
        {"list objects", [](KV_PolySurface& s)
         {
             MakeGrid(s, 190);
             s.Polygons().Append(MakePolygon({0, 1, 0, 2}));
         }}};
    KV_Executor executor(2);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.first);
        KV_PolySurface s;
        c.second(s);
        const unsigned int n = s.VertexCount();
        const KV_List<KV_Polygon>& polygons = *s.mpPolygons;
        ASSERT_GE(polygons.Count(), 65536u);
        Lists expected(n);
        for (unsigned int p = 0; p < polygons.Count(); ++p)
            for (unsigned int k = 0; k < polygons[p].Count(); ++k)
                if (polygons[p][k] < n)
                    expected[polygons[p][k]].push_back(p);
        for (KV_Executor* e : {static_cast<KV_Executor*>(nullptr), &executor})
        {
            KV_List<KV_List<unsigned int>> lists(16);
            topology::VertexPolygons(n, s.mpPolygons, lists, e);
            EXPECT_EQ(AsVectors(lists), expected) << (e != nullptr ? "halves" : "one pass");
            const topology::CompactVertexPolygons compact(n, s.mpPolygons, e);
            Lists rows(compact.Count());
            for (unsigned int v = 0; v < compact.Count(); ++v)
                for (unsigned int k = 0; k < compact[v].Count(); ++k)
                    rows[v].push_back(compact[v][k]);
            EXPECT_EQ(rows, expected) << (e != nullptr ? "halves" : "one pass");
        }
        // The rows made a piece of vertices at a time in one table, each piece from the
        // stretches of polygons that meet it (the last piece asks past the vertices).
        const topology::StretchRanges stretches = topology::PolygonStretches(s.mpPolygons);
        for (unsigned int pieces : {1u, 7u, 300u})
        {
            topology::CompactVertexPolygons table;
            Lists rows(n);
            for (unsigned int k = 0; k < pieces; ++k)
            {
                const unsigned int first = n * k / pieces, last = n * (k + 1) / pieces;
                table.MakeRows(first, k + 1 == pieces ? n + 5 : last, n, s.mpPolygons, stretches);
                for (unsigned int v = first; v < last; ++v)
                    for (unsigned int j = 0; j < table[v].Count(); ++j)
                        rows[v].push_back(table[v][j]);
            }
            EXPECT_EQ(rows, expected) << pieces << " pieces";
        }
        const std::atomic<bool> set{true};
        const topology::StopScope scope(&set);
        KV_List<KV_List<unsigned int>> stopped(16);
        EXPECT_THROW(topology::VertexPolygons(n, s.mpPolygons, stopped, &executor),
                     topology::Stopped);
    }
}
