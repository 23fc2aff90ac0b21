// Triangulation into fans, with the texture following and the derived lists recomputed.

#include "SurfaceFixtures.h"
#include "surface/KV_PSO_Triangulate.h"

#include <gtest/gtest.h>

#include <atomic>

using Lists = std::vector<std::vector<unsigned int>>;

namespace
{
Lists MapOf(const KV_PSO_Triangulate& triangulate)
{
    Lists map;
    const KV_Array<KV_List<unsigned int>>& replacements = triangulate.ReplacementMap();
    for (int j = replacements.Low(); j <= replacements.High(); ++j)
        map.push_back(AsVector(replacements[j]));
    return map;
}
}  // namespace

TEST(Triangulate, QuadrilateralAndItsTextureBecomeTwoTriangles)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(s, {{0, 1, 2, 3}});
    AddTextureCoordinates(s, 8);
    AddTexturePolygons(s, {{4, 5, 6, 7}});
    AddTextureMap(s);

    KV_PSO_Triangulate triangulate(&s);
    triangulate.Triangulate();
    EXPECT_EQ(AsVectors(*s.mpPolygons), (Lists{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(AsVectors(*s.mpTexturePolygons), (Lists{{4, 5, 6}, {4, 6, 7}}));
    EXPECT_EQ(MapOf(triangulate), (Lists{{0, 1}}));
    EXPECT_EQ(s.mpPolygons->BlockSize(), 256u);
    EXPECT_EQ(s.mpExtents->MinimumPolygonSize(), 3u);
    EXPECT_EQ(s.mpExtents->MaximumPolygonSize(), 3u);
}

TEST(Triangulate, StopFlagSetBeforehandLeavesThePolygonsAsTheyWere)
{
    KV_PolySurface s;
    MakeGrid(s, 4, 0.0, 1, true);
    const KV_List<KV_Polygon>* before = s.mpPolygons;
    const std::atomic<bool> stop{true};
    KV_PSO_Triangulate triangulate(&s);
    triangulate.SetStopFlag(&stop);
    triangulate.Triangulate();
    EXPECT_EQ(s.mpPolygons, before);
    EXPECT_EQ(s.PolygonCount(), 16u);
    EXPECT_EQ((*s.mpPolygons)[0].Count(), 4u);
}

TEST(Triangulate, PentagonBecomesAFan)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {1, 2, 0}, {0, 1, 0}});
    AddPolygons(s, {{0, 1, 2, 3, 4}, {0, 1, 2}});
    KV_PSO_Triangulate triangulate(&s);
    triangulate.Triangulate();
    EXPECT_EQ(AsVectors(*s.mpPolygons), (Lists{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 1, 2}}));
    EXPECT_EQ(MapOf(triangulate), (Lists{{0, 1, 2}, {3}}));
}

TEST(Triangulate, TrianglesAreLeftAlone)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    const KV_List<KV_Polygon>* before = s.mpPolygons;
    KV_PSO_Triangulate triangulate(&s);
    triangulate.Triangulate();
    EXPECT_EQ(s.mpPolygons, before);
    EXPECT_EQ(s.mpExtents->MinimumPolygonSize(), 3u);
    EXPECT_EQ(s.mpExtents->MaximumPolygonSize(), 3u);
    EXPECT_EQ(s.mpExtents->Maximum(), KV_Vector3D(1, 1, 0));

    KV_PolySurface empty;
    KV_PSO_Triangulate(&empty).Triangulate();
    EXPECT_EQ(empty.mpExtents, nullptr);
}

TEST(Triangulate, ShortPolygonIsCopiedYetSizesBecomeThree)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(s, {{0, 1}, {0, 1, 2, 3}});
    KV_PSO_Triangulate(&s).Triangulate();
    EXPECT_EQ(AsVectors(*s.mpPolygons), (Lists{{0, 1}, {0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(s.mpExtents->MinimumPolygonSize(), 3u);
    EXPECT_EQ(s.mpExtents->MaximumPolygonSize(), 3u);
}

TEST(Triangulate, TextureStaysWhenItDoesNotMatchThePolygons)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(s, {{0, 1, 2, 3}, {0, 1, 2, 3}});
    AddTextureCoordinates(s, 4);
    AddTexturePolygons(s, {{0, 1, 2, 3}});
    AddTextureMap(s);
    KV_PSO_Triangulate(&s).Triangulate();
    EXPECT_EQ(s.PolygonCount(), 4u);
    EXPECT_EQ(AsVectors(*s.mpTexturePolygons), (Lists{{0, 1, 2, 3}}));

    // Same count, but a texture polygon shorter than its polygon.
    KV_PolySurface t;
    AddVertices(t, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(t, {{0, 1, 2, 3}});
    AddTextureCoordinates(t, 4);
    AddTexturePolygons(t, {{0, 1, 2}});
    AddTextureMap(t);
    KV_PSO_Triangulate(&t).Triangulate();
    EXPECT_EQ(t.PolygonCount(), 2u);
    EXPECT_EQ(AsVectors(*t.mpTexturePolygons), (Lists{{0, 1, 2}}));

    // Without a texture map the texture polygons are not touched either.
    KV_PolySurface u;
    AddVertices(u, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(u, {{0, 1, 2, 3}});
    KV_PSO_Triangulate(&u).Triangulate();
    EXPECT_EQ(u.mpTexturePolygons, nullptr);
}

TEST(Triangulate, NonEmptyDerivedListsAreRecomputed)
{
    KV_PolySurface s;
    MakeGrid(s, 3, 0.0, 1, true);
    s.ComputeVertexPolygons();
    s.ComputeEdges();
    s.ComputePolygonEdges();
    s.ComputePolygonPolygons();
    s.mpPolygonNormals = new KV_List<KV_Vector3D>(16);
    s.mpPolygonNormals->Append(KV_Vector3D(1, 0, 0));
    s.mpVertexNormals = new KV_List<KV_Vector3D>(16);  // empty: stays as it is
    s.mpEdgePolygons = new KV_List<KV_List<unsigned int>>(16);

    KV_PSO_Triangulate(&s).Triangulate();
    ASSERT_EQ(s.PolygonCount(), 18u);
    EXPECT_EQ(s.mpVertexPolygons->Count(), 16u);
    EXPECT_EQ((*s.mpVertexPolygons)[0].Count(), 2u);
    EXPECT_EQ(s.mpEdges->Count(), 33u);
    EXPECT_EQ(s.mpPolygonEdges->Count(), 18u);
    EXPECT_EQ(s.mpPolygonPolygons->Count(), 18u);
    ASSERT_EQ(s.mpPolygonNormals->Count(), 18u);
    EXPECT_EQ((*s.mpPolygonNormals)[17], KV_Vector3D(0, 0, 1));
    EXPECT_EQ(s.mpVertexNormals->Count(), 0u);
    EXPECT_EQ(s.mpEdgePolygons->Count(), 0u);
}

TEST(Triangulate, TextureFollowsWhenATriangleHasALongerTexturePolygon)
{
    // Only a polygon of four or more vertices with too short a texture polygon keeps it
    // whole; a triangle whose texture polygon differs in length does not stop the others.
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}});
    AddPolygons(s, {{0, 1, 2, 3}, {1, 4, 2}});
    AddTextureCoordinates(s, 8);
    AddTexturePolygons(s, {{0, 1, 2, 3}, {4, 5, 6, 7}});
    AddTextureMap(s);
    KV_PSO_Triangulate(&s).Triangulate();
    EXPECT_EQ(AsVectors(*s.mpPolygons), (Lists{{0, 1, 2}, {0, 2, 3}, {1, 4, 2}}));
    EXPECT_EQ(AsVectors(*s.mpTexturePolygons), (Lists{{0, 1, 2}, {0, 2, 3}, {4, 5, 6, 7}}));
}
