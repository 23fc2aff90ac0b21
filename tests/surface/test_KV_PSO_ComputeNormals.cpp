// Polygon normals, averaged and refined vertex normals, the plane fit, and which stored
// adjacency the computation reuses.

#include "GeneralPathNormals.h"
#include "SurfaceFixtures.h"
#include "foundation/KV_Executor.h"
#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_SurfaceTopology.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{
const double kPi = 3.14159265358979323846;

void ExpectNear(const KV_Vector3D& a, const KV_Vector3D& b, float tolerance = 1e-5f)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

KV_List<KV_List<unsigned int>>* ListsOf(
    std::initializer_list<std::initializer_list<unsigned int>> lists)
{
    auto* result = new KV_List<KV_List<unsigned int>>(16);
    for (const auto& inner : lists)
    {
        KV_List<unsigned int> list(6);
        for (unsigned int v : inner) list.Append(v);
        result->Append(list);
    }
    return result;
}

// A unit sphere of rings x sectors, triangles counter-clockwise seen from outside.
void MakeSphere(KV_PolySurface& s, unsigned int rings, unsigned int sectors)
{
    s.Vertices().Append(KV_Vector3D(0, 0, 1));
    for (unsigned int r = 1; r < rings; ++r)
    {
        const double theta = kPi * r / rings;
        for (unsigned int j = 0; j < sectors; ++j)
        {
            const double phi = 2 * kPi * j / sectors;
            s.Vertices().Append(KV_Vector3D(static_cast<float>(std::sin(theta) * std::cos(phi)),
                                            static_cast<float>(std::sin(theta) * std::sin(phi)),
                                            static_cast<float>(std::cos(theta))));
        }
    }
    const unsigned int south = s.VertexCount();
    s.Vertices().Append(KV_Vector3D(0, 0, -1));
    auto ring = [&](unsigned int r, unsigned int j) { return 1 + (r - 1) * sectors + j % sectors; };
    for (unsigned int j = 0; j < sectors; ++j)
    {
        s.Polygons().Append(MakePolygon({0, ring(1, j), ring(1, j + 1)}));
        for (unsigned int r = 1; r + 1 < rings; ++r)
        {
            const unsigned int a = ring(r, j), b = ring(r + 1, j), c = ring(r + 1, j + 1),
                               d = ring(r, j + 1);
            s.Polygons().Append(MakePolygon({a, b, c}));
            s.Polygons().Append(MakePolygon({a, c, d}));
        }
        s.Polygons().Append(MakePolygon({south, ring(rings - 1, j + 1), ring(rings - 1, j)}));
    }
}
}  // namespace

TEST(ComputeNormals, TriangleNormalFollowsTheVertexOrder)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}});
    AddPolygons(s, {{0, 1, 2}, {0, 2, 1}, {0, 1, 3}});
    KV_PSO_ComputeNormals(&s).ComputePolygonNormals();
    ASSERT_EQ(s.mpPolygonNormals->Count(), 3u);
    EXPECT_EQ((*s.mpPolygonNormals)[0], KV_Vector3D(0, 0, 1));
    EXPECT_EQ((*s.mpPolygonNormals)[1], KV_Vector3D(0, 0, -1));
    EXPECT_EQ((*s.mpPolygonNormals)[2], KV_Vector3D(0, 0, 0));  // collinear: no error
    EXPECT_EQ(s.mpPolygonNormals->BlockSize(), 3u);
}

TEST(ComputeNormals, PlanarQuadrilateralFitsItsOwnPlaneWithTheSameSign)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {2, 0, 1}, {2, 1, 1.2f}, {0, 1, 0.2f}});
    AddPolygons(s, {{0, 1, 2, 3}, {0, 3, 2, 1}});
    KV_PSO_ComputeNormals(&s).ComputePolygonNormals();
    KV_Vector3D expected(-1.0f, -0.4f, 2.0f);
    expected.Normalise();
    ExpectNear((*s.mpPolygonNormals)[0], expected);
    ExpectNear((*s.mpPolygonNormals)[1], -expected);
}

// Triangles, planar quadrilaterals and degenerate triangles mixed over more than a few
// batches of the computation: each polygon gets its own normal in its own slot.
TEST(ComputeNormals, MixedPolygonsKeepTheirOwnNormals)
{
    KV_PolySurface s;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<KV_Vector3D> expected;
    for (unsigned int p = 0; p < 150; ++p)
    {
        const unsigned int first = s.VertexCount();
        const KV_Vector3D a(value(rng), value(rng), value(rng));
        const KV_Vector3D u(value(rng), value(rng), value(rng));
        const KV_Vector3D w(value(rng), value(rng), value(rng));
        KV_Vector3D normal = CrossProduct(u, w);
        normal.Normalise();
        switch (p % 3)
        {
            case 0:  // a triangle
                AddVertices(s, {a, a + u, a + w});
                s.Polygons().Append(MakePolygon({first, first + 1, first + 2}));
                break;
            case 1:  // a planar quadrilateral, the same turn
                AddVertices(s, {a, a + u, a + u + w, a + w});
                s.Polygons().Append(MakePolygon({first, first + 1, first + 2, first + 3}));
                break;
            default:  // two corners at one point: no normal
                AddVertices(s, {a, a, a + u});
                s.Polygons().Append(MakePolygon({first, first + 1, first + 2}));
                normal = KV_Vector3D(0, 0, 0);
                break;
        }
        expected.push_back(normal);
    }
    KV_PSO_ComputeNormals(&s).ComputePolygonNormals();
    ASSERT_EQ(s.mpPolygonNormals->Count(), expected.size());
    for (unsigned int p = 0; p < expected.size(); ++p)
    {
        SCOPED_TRACE("polygon " + std::to_string(p));
        ExpectNear((*s.mpPolygonNormals)[p], expected[p], p % 3 == 2 ? 1e-6f : 2e-4f);
    }
}

// Vertices without a polygon list (a file may hold only vertices): empty normal lists, and
// no polygon list is read (the sanitizer build catches a reference made to none).
TEST(ComputeNormals, VerticesWithoutPolygonsGiveEmptyPolygonNormals)
{
    KV_PolySurface s;
    s.Vertices().Append(KV_Vector3D(0, 0, 0));
    s.Vertices().Append(KV_Vector3D(1, 0, 0));
    KV_PSO_ComputeNormals normals(&s);
    normals.ComputePolygonNormals();
    ASSERT_NE(s.mpPolygonNormals, nullptr);
    EXPECT_EQ(s.mpPolygonNormals->Count(), 0u);
    normals.RefineVertexNormals();
    ASSERT_NE(s.mpVertexNormals, nullptr);
    EXPECT_EQ(s.mpVertexNormals->Count(), 2u);
    EXPECT_EQ(s.mpPolygons, nullptr);
}

TEST(ComputeNormals, FitPlaneNormalTurnsTowardsTheReference)
{
    KV_List<KV_Vector3D> points(8);
    for (float x : {0.0f, 1.0f})
        for (float y : {0.0f, 1.0f}) points.Append(KV_Vector3D(x, y, 3.0f));
    ExpectNear(FitPlaneNormal(points, KV_Vector3D(0.1f, 0, 1)), KV_Vector3D(0, 0, 1));
    ExpectNear(FitPlaneNormal(points, KV_Vector3D(0.1f, 0, -1)), KV_Vector3D(0, 0, -1));
}

// One fitter reused over fits of other sizes (a failed two-point-short fit among them) gives
// what a fresh fit gives, bit for bit.
TEST(ComputeNormals, ReusedPlaneFitterEqualsFreshFitsBitForBit)
{
    const std::vector<std::vector<KV_Vector3D>> sets = {
        {{0, 0, 3}, {1, 0, 3}, {0, 1, 3}, {1, 1, 3.1f}},
        {{1e4f, 2e4f, -3e4f},
         {1e4f + 1, 2e4f, -3e4f},
         {1e4f, 2e4f + 1, -3e4f + 0.5f},
         {1e4f - 1, 2e4f - 0.25f, -3e4f},
         {1e4f, 2e4f - 1, -3e4f - 0.5f}},
        {{0.5f, 0.5f, 0.5f}},
        {{0, 0, 0}, {1, 2, 3}},
        {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
        {{0.3f, -0.7f, 0.2f},
         {0.9f, 0.1f, -0.4f},
         {-0.2f, 0.8f, 0.6f},
         {0.5f, 0.5f, -0.7f},
         {-0.6f, -0.3f, 0.7f},
         {0.1f, 0.95f, 0.1f},
         {-0.9f, 0.2f, -0.3f}},
        {{0, 0, 3}, {1, 0, 3}, {0, 1, 3}, {1, 1, 3.1f}},
    };
    KV_PlaneFitter fitter;
    for (const KV_Vector3D reference : {KV_Vector3D(0.1f, 0, 1), KV_Vector3D(0, -1, -0.2f)})
        for (const auto& set : sets)
        {
            KV_List<KV_Vector3D> points(8);
            for (const KV_Vector3D& p : set) points.Append(p);
            const KV_Vector3D fresh = FitPlaneNormal(points, reference);
            const KV_Vector3D reused = fitter.Normal(points, reference);
            EXPECT_EQ(std::memcmp(&fresh, &reused, sizeof fresh), 0) << set.size() << " points";
        }
}

TEST(ComputeNormals, VertexNormalsAreAveragedNotNormalised)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {5, 5, 5}});
    AddPolygons(s, {{0, 1, 2}, {0, 3, 1}});
    KV_PSO_ComputeNormals normals(&s);
    normals.ComputePolygonNormals();
    EXPECT_EQ((*s.mpPolygonNormals)[1], KV_Vector3D(0, 1, 0));
    normals.ComputeVertexNormals();
    EXPECT_EQ(AsVector(*s.mpVertexNormals),
              (std::vector<KV_Vector3D>{
                  {0, 0.5f, 0.5f}, {0, 0.5f, 0.5f}, {0, 0, 1}, {0, 1, 0}, {0, 0, 0}}));
    EXPECT_EQ(s.mpVertexNormals->BlockSize(), 5u);
    // Nothing stored on the way.
    EXPECT_EQ(s.mpVertexPolygons, nullptr);
}

TEST(ComputeNormals, StoredVertexPolygonsAreUsedOnlyWithOneListPerVertex)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    AddPolygons(s, {{0, 1, 2}, {0, 3, 1}});
    KV_PSO_ComputeNormals normals(&s);
    normals.ComputePolygonNormals();

    s.mpVertexPolygons = ListsOf({{1}, {0}, {0}, {1}});
    normals.ComputeVertexNormals();
    EXPECT_EQ((*s.mpVertexNormals)[0], KV_Vector3D(0, 1, 0));

    KV_Release(s.mpVertexPolygons);
    s.mpVertexPolygons = ListsOf({{1}});
    normals.ComputeVertexNormals();
    EXPECT_EQ((*s.mpVertexNormals)[0], KV_Vector3D(0, 0.5f, 0.5f));
    EXPECT_EQ(s.mpVertexPolygons->Count(), 1u);  // left as it was
}

TEST(ComputeNormals, VertexNormalsWithoutPolygonNormalsComputeThemFirst)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    KV_PSO_ComputeNormals(&s).ComputeVertexNormals();
    ASSERT_NE(s.mpPolygonNormals, nullptr);
    EXPECT_EQ((*s.mpVertexNormals)[3], KV_Vector3D(0, 0, 1));
}

TEST(ComputeNormals, RefinementFitsPlanesThroughUnitNeighbourDirections)
{
    KV_PolySurface s;
    MakeGrid(s, 2);  // the centre vertex 4 has six neighbours, the corners three or fewer
    for (unsigned int v = 0; v < s.VertexCount(); ++v)
        (*s.mpVertices)[v].z = 0.1f * static_cast<float>((*s.mpVertices)[v].x);
    KV_PSO_ComputeNormals normals(&s);
    normals.ComputePolygonNormals();
    normals.RefineVertexNormals();
    KV_Vector3D tilted(-0.1f, 0, 1);
    tilted.Normalise();
    ExpectNear((*s.mpVertexNormals)[4], tilted);
    EXPECT_NEAR((*s.mpVertexNormals)[4].Length(), 1.0f, 1e-6f);
    EXPECT_EQ(s.mpVertexVertices, nullptr);
    EXPECT_EQ(s.mpVertexPolygons, nullptr);

    // With stored vertex vertices of one list per vertex, those are used: no neighbours,
    // no refinement, the averaged normals stay.
    KV_PolySurface t;
    MakeGrid(t, 2);
    t.mpVertexVertices = ListsOf({{}, {}, {}, {}, {}, {}, {}, {}, {}});
    KV_PSO_ComputeNormals(&t).RefineVertexNormals();
    KV_List<KV_Vector3D> averaged(16);
    averaged = *t.mpVertexNormals;
    KV_PSO_ComputeNormals(&t).ComputeVertexNormals();
    EXPECT_EQ(AsVector(averaged), AsVector(*t.mpVertexNormals));
}

TEST(ComputeNormals, RefinedNormalsOfASpherePointOutwards)
{
    KV_PolySurface s;
    MakeSphere(s, 60, 120);
    KV_PSO_ComputeNormals normals(&s);
    normals.ComputePolygonNormals();
    normals.RefineVertexNormals();
    const double cosThreeDegrees = std::cos(3.0 * kPi / 180.0);
    for (unsigned int v = 0; v < s.VertexCount(); ++v)
    {
        KV_Vector3D outward = (*s.mpVertices)[v];
        outward.Normalise();
        const KV_Vector3D& normal = (*s.mpVertexNormals)[v];
        ASSERT_NEAR(normal.Length(), 1.0f, 1e-4f) << "vertex " << v;
        ASSERT_GT(DotProduct(normal, outward), cosThreeDegrees) << "vertex " << v;
    }
}

// A bumpy sphere, near the origin and far from it: the refinement gives the normals of the
// general fits to within their condition.
TEST(ComputeNormals, RefinedNormalsMatchTheGeneralFits)
{
    for (const float offset : {0.0f, 1e3f})
    {
        KV_PolySurface s;
        MakeSphere(s, 50, 100);
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> bump(0.97f, 1.03f);
        for (unsigned int v = 0; v < s.VertexCount(); ++v)
        {
            KV_Vector3D& p = (*s.mpVertices)[v];
            p = p * bump(rng) + KV_Vector3D(offset, offset, offset);
        }
        KV_PSO_ComputeNormals normals(&s);
        normals.ComputeVertexNormals();
        const KV_List<KV_Vector3D> averaged = *s.mpVertexNormals;
        normals.RefineVertexNormals();
        ExpectRefinedAsByGeneralFits(s, averaged, "sphere at " + std::to_string(offset));
    }
}

TEST(ComputeNormals, FlatGridFarFromTheOriginKeepsItsNormal)
{
    // Survey or millimetre coordinates: the plane fits must not lose the flatness of the
    // points to the size of their coordinates.
    for (const float offset : {0.0f, 1e3f, 1e5f, 1e6f})
    {
        KV_PolySurface s;
        MakeGrid(s, 20);
        for (unsigned int v = 0; v < s.VertexCount(); ++v)
        {
            KV_Vector3D& p = (*s.mpVertices)[v];
            p = KV_Vector3D(p.x + offset, p.y + offset, p.z + offset);
        }
        KV_PSO_ComputeNormals normals(&s);
        normals.ComputePolygonNormals();
        normals.RefineVertexNormals();
        for (unsigned int v = 0; v < s.VertexCount(); ++v)
        {
            const KV_Vector3D& n = (*s.mpVertexNormals)[v];
            ASSERT_NEAR(n.x, 0.0f, 1e-4f) << "offset " << offset << ", vertex " << v;
            ASSERT_NEAR(n.y, 0.0f, 1e-4f) << "offset " << offset << ", vertex " << v;
            ASSERT_NEAR(n.z, 1.0f, 1e-4f) << "offset " << offset << ", vertex " << v;
        }
    }
}

TEST(ComputeNormals, VertexWithThreeNeighboursKeepsItsAveragedNormal)
{
    // Every vertex of a tetrahedron has exactly three neighbours: refinement leaves the
    // averaged normals, which on this non-planar surface are not of unit length.
    KV_PolySurface s;
    MakeTetrahedron(s);
    KV_PSO_ComputeNormals normals(&s);
    normals.ComputePolygonNormals();
    normals.RefineVertexNormals();
    const std::vector<KV_Vector3D> refined = AsVector(*s.mpVertexNormals);
    normals.ComputeVertexNormals();
    EXPECT_EQ(refined, AsVector(*s.mpVertexNormals));
    EXPECT_LT(refined[0].Length(), 0.9f);
}

// The refinement finds each vertex's neighbours from stored vertex vertices, from stored
// vertex polygons, or from the polygons alone, on one thread or two: the normals are those
// of the neighbour lists the topology derives, bit for bit, on a sphere with holes and a
// quadrilateral.
TEST(ComputeNormals, EveryNeighbourSourceRefinesToTheSameNormalsBitForBit)
{
    auto make = [](KV_PolySurface& s)
    {
        MakeSphere(s, 40, 80);
        for (unsigned int p : {500u, 501u, 502u, 2000u, 4000u})
            (*s.mpPolygons)[p] = MakePolygon({0, 0, 0});  // holes (degenerate, no new neighbours)
        (*s.mpPolygons)[3000] = MakePolygon({(*s.mpPolygons)[3000][0], (*s.mpPolygons)[3000][1],
                                             (*s.mpPolygons)[3000][2], (*s.mpPolygons)[3001][2]});
    };
    KV_PolySurface reference;
    make(reference);
    const unsigned int n = reference.VertexCount();
    reference.mpVertexVertices = new KV_List<KV_List<unsigned int>>(16);
    KV_SurfaceTopology::VertexVerticesFromPolygons(
        n, reference.mpPolygons, KV_SurfaceTopology::CompactVertexPolygons(n, reference.mpPolygons),
        *reference.mpVertexVertices);
    KV_PSO_ComputeNormals(&reference).RefineVertexNormals();
    ASSERT_EQ(reference.mpVertexNormals->Count(), n);

    // Odd variants in pieces on executors of 1, 2 and 4 threads.
    KV_Executor one(1), two(2), four(4);
    KV_Executor* executors[] = {&one, &two, &four};
    for (int variant = 0; variant < 7; ++variant)
    {
        KV_PolySurface s;
        make(s);
        KV_PSO_ComputeNormals normals(&s);
        normals.SetExecutor(variant % 2 == 1 ? executors[variant / 2 % 3] : nullptr);
        if (variant >= 2 && variant < 6)
            s.ComputeVertexPolygons();
        if (variant == 4 || variant == 5)
            normals.ComputeVertexNormals();
        normals.RefineVertexNormals();
        ASSERT_EQ(s.mpVertexNormals->Count(), n);
        for (unsigned int v = 0; v < n; ++v)
            ASSERT_EQ(std::memcmp(&(*s.mpVertexNormals)[v], &(*reference.mpVertexNormals)[v],
                                  sizeof(KV_Vector3D)),
                      0)
                << "variant " << variant << ", vertex " << v;
    }
}

// A caller that lets the polygon normals go gets the vertex normals it would have had with
// them, bit for bit, on one thread or several, without the list ever being made: on a
// sphere with degenerate triangles (zero normals), a rippled one whose positions lie in one
// piece, and a fan whose centre has more neighbours than are looked up one by one.
TEST(ComputeNormals, MeansMadeAsRefinedEqualThoseOfTheKeptPolygonNormals)
{
    struct Case
    {
        const char* name;
        void (*make)(KV_PolySurface&);
    };
    const Case cases[] = {
        {"sphere with degenerate triangles",
         [](KV_PolySurface& s)
         {
             MakeSphere(s, 40, 80);
             for (unsigned int p : {500u, 501u, 2000u})
                 (*s.mpPolygons)[p] = MakePolygon({7, 7, 7});
         }},
        {"rippled sphere, positions in one piece",
         [](KV_PolySurface& s)
         {
             MakeSphere(s, 60, 90);
             const KV_List<KV_Vector3D> appended = s.Vertices();
             s.Vertices().Clear();
             s.Vertices().SetCountInOnePiece(appended.Count());
             for (unsigned int v = 0; v < appended.Count(); ++v)
                 s.Vertices()[v] = appended[v] * (1.0f + 0.02f * std::sin(0.7f * v));
             ASSERT_NE(s.Vertices().SharedPiece(), nullptr);
         }},
        {"fan of 300 triangles",
         [](KV_PolySurface& s)
         {
             s.Vertices().Append(KV_Vector3D(0, 0, 0.5f));
             for (unsigned int j = 0; j < 300; ++j)
             {
                 const double phi = 2 * kPi * j / 300;
                 s.Vertices().Append(KV_Vector3D(static_cast<float>(std::cos(phi)),
                                                 static_cast<float>(std::sin(phi)),
                                                 static_cast<float>(0.1 * std::sin(5 * phi))));
             }
             for (unsigned int j = 0; j < 300; ++j)
                 s.Polygons().Append(MakePolygon({0, 1 + j, 1 + (j + 1) % 300}));
         }},
    };
    KV_Executor two(2);
    for (const Case& c : cases)
    {
        KV_PolySurface reference;
        c.make(reference);
        KV_PSO_ComputeNormals(&reference).RefineVertexNormals();
        ASSERT_NE(reference.mpPolygonNormals, nullptr) << c.name;
        for (KV_Executor* on : {static_cast<KV_Executor*>(nullptr), &two})
        {
            KV_PolySurface s;
            c.make(s);
            KV_PSO_ComputeNormals normals(&s);
            normals.SetExecutor(on);
            normals.SetPolygonNormalsKept(false);
            normals.RefineVertexNormals();
            EXPECT_EQ(s.mpPolygonNormals, nullptr) << c.name;
            ASSERT_EQ(s.mpVertexNormals->Count(), reference.VertexCount()) << c.name;
            for (unsigned int v = 0; v < reference.VertexCount(); ++v)
                ASSERT_EQ(std::memcmp(&(*s.mpVertexNormals)[v], &(*reference.mpVertexNormals)[v],
                                      sizeof(KV_Vector3D)),
                          0)
                    << c.name << (on ? ", two threads" : "") << ", vertex " << v;
        }
    }
}

// A flag set before the call: no normal is refined, whether the pieces run here or on an
// executor.
TEST(ComputeNormals, StopFlagSetBeforehandLeavesTheAveragesUnrefined)
{
    const std::atomic<bool> stop{true};
    KV_Executor executor(2);
    for (KV_Executor* on : {static_cast<KV_Executor*>(nullptr), &executor})
    {
        KV_PolySurface s;
        MakeSphere(s, 60, 120);
        KV_PSO_ComputeNormals normals(&s);
        normals.ComputeVertexNormals();
        const std::vector<KV_Vector3D> averaged = AsVector(*s.mpVertexNormals);
        normals.SetExecutor(on);
        normals.SetStopFlag(&stop);
        normals.RefineVertexNormals();
        EXPECT_EQ(AsVector(*s.mpVertexNormals), averaged);

        // Without normals it stops before it has averaged any.
        KV_Release(s.mpPolygonNormals);
        KV_Release(s.mpVertexNormals);
        normals.RefineVertexNormals();
        EXPECT_EQ(s.mpVertexNormals, nullptr);
    }
}

TEST(ComputeNormalsDeathTest, PolygonWithTwoVerticesEndsTheProgram)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    AddPolygons(s, {{0, 1}});
    EXPECT_EXIT(KV_PSO_ComputeNormals(&s).ComputePolygonNormals(), testing::ExitedWithCode(1),
                "Cannot compute normal for polygon with less than 3 vertices!");
}
