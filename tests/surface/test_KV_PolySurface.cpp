// The surface classes: dump, validity, copying, clearing, removal, extents, texture data and
// the manifold surface.

#include "SurfaceFixtures.h"
#include "surface/KV_ManifoldPolySurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using Lists = std::vector<std::vector<unsigned int>>;

namespace
{
std::string DumpOf(KV_BasePolySurface& s)
{
    std::ostringstream os;
    s.Dump(os);
    return os.str();
}

// Two textured triangles: texture polygons (0,1,2) and (3,4,5) over six coordinates.
void MakeTexturedPair(KV_TexturedPolySurface& s)
{
    MakeTwoTriangles(s);
    AddTextureCoordinates(s, 6);
    AddTexturePolygons(s, {{0, 1, 2}, {3, 4, 5}});
    AddTextureMap(s);
}
}  // namespace

// ---- Dump and validity ----------------------------------------------------------------------

TEST(PolySurface, DumpOfAnEmptySurfaceCreatesTheLists)
{
    KV_PolySurface s;
    EXPECT_EQ(DumpOf(s), "BasePolySurface: 0 vertices 0 faces \nVertices:\nFaces: \n\n");
    ASSERT_NE(s.mpVertices, nullptr);
    ASSERT_NE(s.mpPolygons, nullptr);
    EXPECT_EQ(s.mpVertices->BlockSize(), 1024u);
}

TEST(PolySurface, DumpListsVerticesAndFaces)
{
    KV_BasePolySurface s;
    AddVertices(s, {{0.5f, 1, -2}, {1e7f, 0, 0}, {0, 0, 0}});
    AddPolygons(s, {{0, 1, 2}});
    EXPECT_EQ(DumpOf(s),
              "BasePolySurface: 3 vertices 1 faces \n"
              "Vertices:\n"
              "    0: (0.5,1,-2)\n"
              "    1: (1e+07,0,0)\n"
              "    2: (0,0,0)\n"
              "Faces: \n"
              "    0: (0,1,2)\n"
              "\n");
}

TEST(PolySurface, IsValidChecksPolygonSizeAndVertexRange)
{
    KV_PolySurface s;
    EXPECT_TRUE(s.IsValid(3));
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(s, {{0, 1, 2, 3}});
    EXPECT_TRUE(s.IsValid(4));
    EXPECT_FALSE(s.IsValid(3));
    AddPolygons(s, {{0, 1, 4}});
    EXPECT_FALSE(s.IsValid(4));
}

TEST(PolySurface, TextureIndexPastTheCoordinatesDropsTheTextureButStaysValid)
{
    KV_PolySurface s;
    MakeTexturedPair(s);
    EXPECT_TRUE(s.IsValid(3));
    EXPECT_NE(s.mpTexturePolygons, nullptr);

    (*s.mpTexturePolygons)[1][2] = 6;
    s.ComputeTextureCoordinateVertices();
    EXPECT_TRUE(s.IsValid(3));
    EXPECT_EQ(s.mpTextureCoordinates, nullptr);
    EXPECT_EQ(s.mpTexturePolygons, nullptr);
    EXPECT_EQ(s.mpTextureMap, nullptr);
    EXPECT_EQ(s.mpTextureCoordinateVertices, nullptr);
    EXPECT_EQ(s.PolygonCount(), 2u);
}

TEST(PolySurface, TexturePolygonsWithoutCoordinatesAreDroppedToo)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    AddTexturePolygons(s, {{0, 1, 2}, {0, 2, 3}});
    AddTextureMap(s);
    EXPECT_TRUE(s.IsValid(3));
    EXPECT_EQ(s.mpTexturePolygons, nullptr);
    EXPECT_FALSE(s.HasTextureMap());
}

// ---- Copy and clear -------------------------------------------------------------------------

TEST(PolySurface, CopyIsDeepKeepsBlockSizesAndAbsence)
{
    KV_PolySurface s;
    MakeTexturedPair(s);
    s.ComputeBoundaries();
    s.ComputeExtents();
    s.mpVertexNormals = new KV_List<KV_Vector3D>(7);
    s.mpVertexNormals->Append(KV_Vector3D(0, 0, 1));

    KV_PolySurface copy;
    MakeTetrahedron(copy);
    copy.ComputeEdges();
    copy = s;
    EXPECT_EQ(copy.mpEdges, nullptr);  // cleared first, absent in the source
    EXPECT_EQ(copy.mpPolygonNormals, nullptr);
    ASSERT_NE(copy.mpVertexNormals, nullptr);
    EXPECT_EQ(copy.mpVertexNormals->BlockSize(), 7u);
    EXPECT_EQ(AsVectors(*copy.mpPolygons), (Lists{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(AsVectors(*copy.mpBoundaries), (Lists{{0, 1, 2, 3}}));
    EXPECT_EQ(copy.mpExtents->Maximum(), KV_Vector3D(1, 1, 0));
    EXPECT_TRUE(copy.HasTextureMap());
    EXPECT_NE(copy.mpTextureMap, s.mpTextureMap);

    (*s.mpPolygons)[0][0] = 3;
    s.mpVertices->Append(KV_Vector3D(9, 9, 9));
    EXPECT_EQ((*copy.mpPolygons)[0][0], 0u);
    EXPECT_EQ(copy.VertexCount(), 4u);

    KV_PolySurface& alias = copy;
    copy = alias;
    EXPECT_EQ(copy.VertexCount(), 4u);

    KV_PolySurface constructed(copy);
    EXPECT_EQ(constructed.PolygonCount(), 2u);
    EXPECT_EQ(constructed.mpTexturePolygons->Count(), 2u);
}

TEST(PolySurface, ClearDerivedKeepsDataAndTextureCoordinateVertices)
{
    KV_PolySurface s;
    MakeTexturedPair(s);
    s.ComputeEdges();
    s.ComputeExtents();
    s.ComputeVertexPolygons();
    s.ComputeTextureCoordinatePolygons();
    s.ComputeTextureCoordinateVertices();
    s.mpPolygonNormals = new KV_List<KV_Vector3D>(4);
    s.ClearDerived();
    EXPECT_EQ(s.mpEdges, nullptr);
    EXPECT_EQ(s.mpExtents, nullptr);
    EXPECT_EQ(s.mpVertexPolygons, nullptr);
    EXPECT_EQ(s.mpPolygonNormals, nullptr);
    EXPECT_EQ(s.mpTextureCoordinatePolygons, nullptr);
    EXPECT_NE(s.mpTextureCoordinateVertices, nullptr);
    EXPECT_EQ(s.VertexCount(), 4u);

    s.Clear();
    EXPECT_EQ(s.mpVertices, nullptr);
    EXPECT_EQ(s.mpTextureCoordinateVertices, nullptr);
    EXPECT_EQ(s.mpTextureMap, nullptr);
}

// ---- Removal --------------------------------------------------------------------------------

TEST(PolySurface, RemovingNoPolygonStillDropsUnusedVertices)
{
    KV_BasePolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}});
    AddPolygons(s, {{1, 2, 4}});
    s.RemovePolygons(KV_List<unsigned int>(16));
    EXPECT_EQ(AsVectors(*s.mpPolygons), (Lists{{0, 1, 2}}));
    ASSERT_EQ(s.VertexCount(), 3u);
    EXPECT_EQ((*s.mpVertices)[2], KV_Vector3D(4, 0, 0));
    EXPECT_EQ(AsVectors(*s.mpVertexPolygons), (Lists{{0}, {0}, {0}}));
}

TEST(PolySurface, VertexNormalsFollowRemovalOrAreDiscarded)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    AddPolygons(s, {{0, 1, 2}, {1, 2, 3}});
    s.mpVertexNormals = new KV_List<KV_Vector3D>(16);
    for (int i = 0; i < 4; ++i) s.mpVertexNormals->Append(KV_Vector3D(static_cast<float>(i), 0, 0));
    s.RemovePolygons(Indices({0}));
    EXPECT_EQ(AsVectors(*s.mpPolygons), (Lists{{0, 1, 2}}));
    ASSERT_NE(s.mpVertexNormals, nullptr);
    ASSERT_EQ(s.mpVertexNormals->Count(), 3u);
    EXPECT_EQ((*s.mpVertexNormals)[0], KV_Vector3D(1, 0, 0));

    s.mpVertexNormals->Append(KV_Vector3D(0, 0, 0));  // now one too many
    s.RemovePolygons(KV_List<unsigned int>(16));
    EXPECT_EQ(s.mpVertexNormals, nullptr);
}

TEST(PolySurface, PolygonNormalsFollowTheRemovedEntries)
{
    KV_PolySurface s;
    MakeTetrahedron(s);
    s.mpPolygonNormals = new KV_List<KV_Vector3D>(16);
    for (int i = 0; i < 4; ++i)
        s.mpPolygonNormals->Append(KV_Vector3D(static_cast<float>(i), 0, 0));
    s.RemovePolygonEntries(Indices({1, 1, 99}));
    EXPECT_EQ(AsVectors(*s.mpPolygons), (Lists{{0, 2, 1}, {0, 3, 2}, {1, 2, 3}}));
    EXPECT_EQ(s.mpPolygons->BlockSize(), 3u);
    EXPECT_EQ(AsVector(*s.mpPolygonNormals),
              (std::vector<KV_Vector3D>{{0, 0, 0}, {2, 0, 0}, {3, 0, 0}}));
}

TEST(PolySurface, RemovingPolygonsRecomputesThePresentDerivedLists)
{
    KV_PolySurface s;
    MakeGrid(s, 3);
    s.ComputeEdgesAndVertexBoundaries();
    s.ComputeBoundaries();
    s.ComputeVertexVertices();
    s.ComputeVertexEdges();
    s.ComputePolygonEdges();
    s.ComputeEdgePolygons();
    s.ComputePolygonPolygons();
    s.RemovePolygons(Indices({0, 1, 7, 17}));
    EXPECT_EQ(s.PolygonCount(), 14u);
    EXPECT_EQ(s.VertexCount(), 15u);  // only corner vertex 0 lost all its polygons
    testing::internal::CaptureStderr();
    const bool consistent = s.CheckConsistency();
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(consistent) << report;
}

TEST(PolySurface, RemovingEveryPolygonLeavesNoStaleBoundary)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    s.ComputeBoundaries();
    s.RemovePolygons(Indices({0, 1}));
    EXPECT_EQ(s.VertexCount(), 0u);
    ASSERT_NE(s.mpBoundaries, nullptr);
    EXPECT_EQ(s.mpBoundaries->Count(), 0u);
}

TEST(PolySurface, RemoveVerticesRemovesTheirPolygons)
{
    KV_PolySurface s;
    MakeGrid(s, 2);                  // 9 vertices, 8 triangles
    s.RemoveVertices(Indices({4}));  // the centre is in six triangles
    EXPECT_EQ(s.PolygonCount(), 2u);
    EXPECT_EQ(s.VertexCount(), 6u);
}

TEST(PolySurface, TexturePolygonsAreRemovedOnceWithTheirPolygons)
{
    KV_TexturedPolySurface textured;
    MakeTexturedPair(textured);
    textured.RemovePolygons(Indices({0}));
    EXPECT_EQ(AsVectors(*textured.mpPolygons), (Lists{{0, 1, 2}}));
    EXPECT_EQ(AsVectors(*textured.mpTexturePolygons), (Lists{{0, 1, 2}}));
    ASSERT_EQ(textured.mpTextureCoordinates->Count(), 3u);
    EXPECT_FLOAT_EQ((*textured.mpTextureCoordinates)[0].u, 0.3f);

    KV_PolySurface poly;
    MakeTexturedPair(poly);
    poly.ComputeTextureCoordinatePolygons();
    poly.RemovePolygons(Indices({0}));
    EXPECT_EQ(AsVectors(*poly.mpTexturePolygons), (Lists{{0, 1, 2}}));
    EXPECT_EQ(poly.mpTextureCoordinates->Count(), 3u);
    EXPECT_EQ(poly.mpTextureCoordinatePolygons, nullptr);
}

// ---- Texture --------------------------------------------------------------------------------

TEST(PolySurface, TextureCoordinatePolygonsAndVertices)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    AddTextureCoordinates(s, 6);
    AddTexturePolygons(s, {{0, 1, 2}, {0, 4, 3}});
    EXPECT_FALSE(s.HasTextureMap());
    AddTextureMap(s);
    EXPECT_TRUE(s.HasTextureMap());

    s.ComputeTextureCoordinatePolygons();
    EXPECT_EQ(AsVectors(*s.mpTextureCoordinatePolygons), (Lists{{0, 1}, {0}, {0}, {1}, {1}, {}}));
    EXPECT_EQ(s.mpTextureCoordinatePolygons->BlockSize(), 256u);

    s.ComputeTextureCoordinateVertices();
    const unsigned int none = ~0u;
    EXPECT_EQ(AsVector(*s.mpTextureCoordinateVertices),
              (std::vector<unsigned int>{0, 1, 2, 3, 2, none}));

    // A present list is only overwritten where polygons assign; the releasing form rebuilds.
    (*s.mpTextureCoordinateVertices)[5] = 7;
    s.ComputeTextureCoordinateVertices();
    EXPECT_EQ((*s.mpTextureCoordinateVertices)[5], 7u);
    EXPECT_EQ((*s.RecomputeTextureCoordinateVertices())[5], none);

    s.ClearTexture();
    EXPECT_EQ(s.mpTextureCoordinates, nullptr);
    EXPECT_EQ(s.mpTextureCoordinateVertices, nullptr);
    EXPECT_EQ(s.VertexCount(), 4u);
}

// ---- Extents --------------------------------------------------------------------------------

TEST(PolySurface, ExtentsOfASurface)
{
    KV_SurfaceExtents fresh;
    EXPECT_EQ(fresh.Centroid(), KV_Vector3D(0, 0, 0));
    EXPECT_EQ(fresh.Minimum().x, 3.4028235e38f);
    EXPECT_EQ(fresh.Maximum().z, -3.4028235e38f);
    EXPECT_EQ(fresh.MaximumRadius(), -3.4028235e38f);
    EXPECT_EQ(fresh.MaximumPolygonSize(), 0u);

    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {10, 10, 10}});
    AddPolygons(s, {{0, 1, 2, 3}, {0, 1, 2}});
    s.ComputeExtents();
    const KV_SurfaceExtents& e = *s.mpExtents;
    EXPECT_EQ(e.Centroid(), KV_Vector3D(2.8f, 2.8f, 2.0f));
    EXPECT_EQ(e.Minimum(), KV_Vector3D(0, 0, 0));
    EXPECT_EQ(e.Maximum(), KV_Vector3D(10, 10, 10));
    EXPECT_EQ(e.PolygonMaximum(), KV_Vector3D(2, 2, 0));
    EXPECT_EQ(e.MinimumPolygonSize(), 3u);
    EXPECT_EQ(e.MaximumPolygonSize(), 4u);
    EXPECT_FLOAT_EQ(e.MaximumRadius(), (KV_Vector3D(10, 10, 10) - e.Centroid()).Length());
}

TEST(PolySurface, PolygonBoundsAreThoseOfTheCornersInCornerOrder)
{
    // The bounds met corner by corner, as a reference: the same values whatever the vertex
    // order, the sign of a zero bound included (0 and -0 compare equal: the first met stays).
    struct Case
    {
        const char* name;
        std::vector<KV_Vector3D> vertices;
        Lists polygons;
    };
    std::vector<KV_Vector3D> scattered;
    for (unsigned int i = 0; i < 200; ++i)
        scattered.push_back(KV_Vector3D(static_cast<float>((i * 37) % 101) - 50.5f,
                                        static_cast<float>((i * 53) % 89) + 1.25f,
                                        -static_cast<float>((i * 71) % 97) - 3.0f));
    Lists some;  // vertices 150 on unused, one corner past the list
    for (unsigned int p = 0; p + 2 < 150; p += 3) some.push_back({p + 2, (p * 7) % 150, p});
    some.push_back({3, 4, 900});
    const Case cases[] = {
        {"unused vertices and a corner past the list", scattered, some},
        {"zero bounds of both signs, -0 met last",
         {{-0.0f, 1, 1}, {0.0f, 2, 2}, {0.5f, 0.0f, -0.0f}, {1, -0.0f, 0.0f}},
         {{1, 3, 0}, {2, 3, 1}}},
        {"zero bounds of both signs, -0 met first",
         {{0.0f, 1, 1}, {-0.0f, 2, 2}, {0.5f, -0.0f, 0.0f}, {1, 0.0f, -0.0f}},
         {{1, 3, 0}, {2, 3, 1}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        KV_PolySurface s;
        for (const KV_Vector3D& v : c.vertices) s.Vertices().Append(v);
        for (const auto& polygon : c.polygons)
        {
            KV_Polygon made;
            for (unsigned int v : polygon) made.Append(v);
            s.Polygons().Append(made);
        }
        s.ComputeExtents();
        KV_Vector3D low(3.4028235e38f, 3.4028235e38f, 3.4028235e38f), high = -low;
        for (const auto& polygon : c.polygons)
            for (unsigned int v : polygon)
            {
                if (v >= c.vertices.size())
                    continue;
                const KV_Vector3D& p = c.vertices[v];
                low = KV_Vector3D(p.x < low.x ? p.x : low.x, p.y < low.y ? p.y : low.y,
                                  p.z < low.z ? p.z : low.z);
                high = KV_Vector3D(p.x > high.x ? p.x : high.x, p.y > high.y ? p.y : high.y,
                                   p.z > high.z ? p.z : high.z);
            }
        const KV_Vector3D got[2] = {s.mpExtents->PolygonMinimum(), s.mpExtents->PolygonMaximum()};
        const KV_Vector3D want[2] = {low, high};
        for (int b = 0; b < 2; ++b)
            for (float KV_Vector3D::*axis : {&KV_Vector3D::x, &KV_Vector3D::y, &KV_Vector3D::z})
            {
                EXPECT_EQ(got[b].*axis, want[b].*axis);
                EXPECT_EQ(std::signbit(got[b].*axis), std::signbit(want[b].*axis));
            }
    }
}

TEST(PolySurface, ExtentsOfEqualVertices)
{
    KV_PolySurface s;
    AddVertices(s, {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}});
    s.ComputeExtents();
    EXPECT_EQ(s.mpExtents->Minimum(), s.mpExtents->Maximum());
    EXPECT_EQ(s.mpExtents->MinimumRadius(), 0.0f);
    EXPECT_EQ(s.mpExtents->MaximumRadius(), 0.0f);
    EXPECT_EQ(s.mpExtents->MinimumPolygonSize(), 2147483647u);  // no polygons

    KV_PolySurface empty;
    empty.ComputeExtents();  // no division by a zero count
    EXPECT_EQ(empty.mpExtents->Centroid(), KV_Vector3D(0, 0, 0));
}

TEST(PolySurface, ExtentsOfNegativeCoordinates)
{
    KV_PolySurface s;
    AddVertices(s, {{-3, -2, -1}, {-1, -5, -2}, {-2, -1, -6}});
    AddPolygons(s, {{0, 1, 2}});
    s.ComputeExtents();
    EXPECT_EQ(s.mpExtents->Minimum(), KV_Vector3D(-3, -5, -6));
    EXPECT_EQ(s.mpExtents->Maximum(), KV_Vector3D(-1, -1, -1));
    EXPECT_EQ(s.mpExtents->PolygonMaximum(), KV_Vector3D(-1, -1, -1));
    EXPECT_EQ(s.mpExtents->Centroid(), KV_Vector3D(-2, -8.0f / 3, -3));
}

// ---- Manifold surface -----------------------------------------------------------------------

TEST(ManifoldPolySurface, CopyOfAPolySurfaceKeepsEverything)
{
    KV_PolySurface s;
    MakeTexturedPair(s);
    s.ComputeBoundaries();
    s.mpVertexNormals = new KV_List<KV_Vector3D>(16);
    s.mpPolygonNormals = new KV_List<KV_Vector3D>(16);

    KV_List<KV_ManifoldPolySurface> list(1);
    list.SetCount(1);
    list[0] = s;
    const KV_ManifoldPolySurface& m = list[0];
    EXPECT_NE(m.mpVertexNormals, nullptr);
    EXPECT_NE(m.mpPolygonNormals, nullptr);
    EXPECT_EQ(AsVectors(*m.mpBoundaries), (Lists{{0, 1, 2, 3}}));
    EXPECT_TRUE(m.HasTextureMap());
    EXPECT_EQ(m.mpCharParameters, nullptr);
    EXPECT_EQ(m.mpFloatParameters, nullptr);
    EXPECT_EQ(m.mpVectorParameters, nullptr);
}

TEST(ManifoldPolySurface, ParametersAreDeepCopiedAndReleasedAsDerivedData)
{
    KV_ManifoldPolySurface m;
    MakeTwoTriangles(m);
    m.mpFloatParameters = new KV_List<KV_ManifoldParameter<float>>(5);
    KV_ManifoldParameter<float> parameter;
    parameter.mkValues.Append(0.25f);
    parameter.mnKind = 2;
    parameter.mnSecondValue = -4;
    m.mpFloatParameters->Append(parameter);

    KV_ManifoldPolySurface copy;
    copy = m;
    ASSERT_NE(copy.mpFloatParameters, nullptr);
    EXPECT_EQ(copy.mpFloatParameters->BlockSize(), 5u);
    EXPECT_EQ((*copy.mpFloatParameters)[0].mkValues[0], 0.25f);
    EXPECT_EQ((*copy.mpFloatParameters)[0].mnKind, 2);
    EXPECT_EQ((*copy.mpFloatParameters)[0].mnSecondValue, -4);
    EXPECT_EQ(copy.mpCharParameters, nullptr);

    copy.ClearDerived();
    EXPECT_EQ(copy.mpFloatParameters, nullptr);
    EXPECT_EQ(copy.PolygonCount(), 2u);

    EXPECT_FALSE(copy.TextureMap().HasImage());
    EXPECT_NE(copy.mpTextureMap, nullptr);
}

TEST(ManifoldPolySurface, RemovingEntriesReleasesDerivedData)
{
    KV_ManifoldPolySurface m;
    MakeTetrahedron(m);
    m.ComputeEdges();
    m.ComputeBoundaries();
    m.ComputeExtents();
    m.mpVertexNormals = new KV_List<KV_Vector3D>(16);
    m.mpPolygonNormals = new KV_List<KV_Vector3D>(16);
    m.RemovePolygonEntries(Indices({2}));
    EXPECT_EQ(m.PolygonCount(), 3u);
    EXPECT_EQ(m.mpPolygons->BlockSize(), 4u);
    EXPECT_EQ(m.mpVertexNormals, nullptr);
    EXPECT_EQ(m.mpPolygonNormals, nullptr);
    EXPECT_EQ(m.mpEdges, nullptr);
    EXPECT_EQ(m.mpBoundaries, nullptr);
    EXPECT_EQ(m.mpExtents, nullptr);
}

TEST(ManifoldPolySurface, RemovingPolygons)
{
    KV_ManifoldPolySurface m;
    MakeTexturedPair(m);
    m.ComputeEdges();
    m.RemovePolygons(Indices({0}));
    EXPECT_EQ(AsVectors(*m.mpPolygons), (Lists{{0, 1, 2}}));
    EXPECT_EQ(m.VertexCount(), 3u);
    EXPECT_EQ(AsVectors(*m.mpTexturePolygons), (Lists{{0, 1, 2}}));
    EXPECT_EQ(m.mpTextureCoordinates->Count(), 3u);
    EXPECT_EQ(m.mpEdges, nullptr);
    EXPECT_EQ(AsVectors(*m.mpVertexPolygons), (Lists{{0}, {0}, {0}}));

    m.RemovePolygons(Indices({0}));
    EXPECT_EQ(m.PolygonCount(), 0u);
    EXPECT_EQ(m.VertexCount(), 3u);  // vertices stay when no polygon is left
}
