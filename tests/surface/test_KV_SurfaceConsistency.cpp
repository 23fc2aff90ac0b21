// The consistency checks: their exact report, each failure provoked once, and their side
// effects.

#include "SurfaceFixtures.h"
#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_ManifoldPolySurface.h"
#include "surface/KV_PSO_Triangulate.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
struct CheckResult
{
    bool consistent;
    std::string report;
};

CheckResult Check(KV_BasePolySurface& s)
{
    testing::internal::CaptureStderr();
    const bool consistent = s.CheckConsistency();
    return {consistent, testing::internal::GetCapturedStderr()};
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The check fails and its last line is message.
void ExpectFailure(KV_BasePolySurface& s, const std::string& message)
{
    const CheckResult result = Check(s);
    EXPECT_FALSE(result.consistent) << result.report;
    EXPECT_TRUE(EndsWith(result.report, message + "\n")) << result.report;
}

const char* kFreshReport =
    "KV_BasePolySurface consistency check\n"
    "No polygons to check\n"
    "No vertex vertices present\n"
    "No vertex polygons present\n"
    "No polygon polygons present\n"
    "KV_BasePolySurface consistent\n"
    "KV_TexturedPolySurface consistency check\n"
    "No texture polygons present\n"
    "No texture coordinates to check \n"
    "No texture coordinate polygons present\n"
    "No texture coordinate vertices present\n"
    "KV_TexturedPolySurface consistent\n"
    "KV_PolySurface consistency check\n"
    "No edges to check\n"
    "No boundaries to check\n"
    "No vertex boundaries to check\n"
    "No vertex normals present \n"
    "No polygon normals present \n"
    "No extents to check\n"
    "No vertex edges to check\n"
    "No polygon edges to check\n"
    "No edge polygons to check\n"
    "KV_PolySurface consistent\n";

// A textured grid of quadrilaterals completed as the document completes a loaded surface.
void MakeCompletedSurface(KV_PolySurface& s)
{
    const unsigned int cells = 6;
    MakeGrid(s, cells, 0.0, 1, true);
    s.mpTextureCoordinates = new KV_List<KV_Vector2D>(256);
    for (unsigned int v = 0; v < s.VertexCount(); ++v)
        s.mpTextureCoordinates->Append(
            KV_Vector2D((*s.mpVertices)[v].x / cells, (*s.mpVertices)[v].y / cells));
    s.mpTexturePolygons = new KV_List<KV_Polygon>(*s.mpPolygons);
    AddTextureMap(s);
    (*s.mpVertices)[10].z = 0.3f;  // not quite flat

    KV_PSO_Triangulate(&s).Triangulate();
    KV_PSO_ComputeNormals normals(&s);
    normals.ComputePolygonNormals();
    normals.RefineVertexNormals();
    s.ComputeExtents();
    s.ComputeBoundaries();
    s.ComputeVertexPolygons();
    s.ComputeVertexBoundaries();
    if (s.HasTextureMap())
        s.ComputeTextureCoordinateVertices();
}
}  // namespace

TEST(SurfaceConsistency, FreshSurfacesPassWithEveryAbsentLine)
{
    KV_PolySurface poly;
    CheckResult result = Check(poly);
    EXPECT_TRUE(result.consistent);
    EXPECT_EQ(result.report, kFreshReport);

    const std::string fresh(kFreshReport);
    KV_BasePolySurface base;
    result = Check(base);
    EXPECT_TRUE(result.consistent);
    EXPECT_EQ(result.report, fresh.substr(0, fresh.find("KV_TexturedPolySurface")));

    KV_ManifoldPolySurface manifold;
    result = Check(manifold);
    EXPECT_TRUE(result.consistent);
    EXPECT_EQ(result.report, kFreshReport);
}

TEST(SurfaceConsistency, CompletedSurfacePassesItsOwnCheck)
{
    KV_PolySurface s;
    MakeCompletedSurface(s);
    ASSERT_EQ(s.PolygonCount(), 72u);
    const CheckResult result = Check(s);
    EXPECT_TRUE(result.consistent) << result.report;
    EXPECT_NE(result.report.find("Checking consistency of texture polygons \n"), std::string::npos);
    EXPECT_NE(result.report.find("Checking boundaries \n"), std::string::npos);
    EXPECT_NE(result.report.find("Checking extents \n"), std::string::npos);
    EXPECT_TRUE(EndsWith(result.report, "KV_PolySurface consistent\n"));

    // With every other derived list as well.
    s.ComputeEdges();
    s.ComputeVertexEdges();
    s.ComputePolygonEdges();
    s.ComputeEdgePolygons();
    s.ComputePolygonPolygons();
    s.ComputeVertexVertices();
    s.ComputeTextureCoordinatePolygons();
    EXPECT_TRUE(Check(s).consistent);
}

// ---- Block A --------------------------------------------------------------------------------

TEST(SurfaceConsistency, PolygonNamingAMissingVertex)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}});
    AddPolygons(s, {{0, 1, 2}, {0, 7, 2}});
    ExpectFailure(s, "Vertex index 7 out of range in polygon 1");
}

TEST(SurfaceConsistency, PolygonNamingTheVertexCount)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}});
    AddPolygons(s, {{0, 1, 2}, {0, 5, 2}});
    ExpectFailure(s, "Vertex index 5 out of range in polygon 1");
}

TEST(SurfaceConsistency, BaseListsWithoutPolygons)
{
    KV_PolySurface a;
    AddVertices(a, {{0, 0, 0}});
    a.mpVertexVertices = new KV_List<KV_List<unsigned int>>(16);
    ExpectFailure(a, "Error - no polygons present, yet vertex vertices exist");
    ASSERT_NE(a.mpPolygons, nullptr);  // created by the check
    EXPECT_EQ(a.mpPolygons->BlockSize(), 1024u);

    KV_PolySurface b;
    b.mpVertexPolygons = new KV_List<KV_List<unsigned int>>(16);
    ExpectFailure(b, "Error - no polygons present, yet vertex polygons exist");

    KV_PolySurface c;
    c.mpPolygonPolygons = new KV_List<KV_List<unsigned int>>(16);
    ExpectFailure(c, "Error - no polygons present, yet polygon polygons exist");
}

TEST(SurfaceConsistency, VertexVerticesThroughPolygonsDifferFromThoseThroughEdges)
{
    KV_PolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(s, {{0, 1, 2, 3}});
    s.ComputeVertexPolygons();
    s.KV_BasePolySurface::ComputeVertexVertices();
    ExpectFailure(s, "Vertex vertices calculated for surface different from those stored in class");
}

TEST(SurfaceConsistency, ChangedVertexPolygonsAndPolygonPolygons)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    s.ComputeVertexPolygons();
    (*s.mpVertexPolygons)[3].Append(0);
    ExpectFailure(s, "Vertex polygons calculated for surface different from those stored in class");

    KV_PolySurface t;
    MakeTwoTriangles(t);
    t.ComputePolygonPolygons();
    (*t.mpPolygonPolygons)[0].Append(1);
    ExpectFailure(t,
                  "Polygon polygons calculated for surface different from those stored in class");
}

// ---- Block B --------------------------------------------------------------------------------

TEST(SurfaceConsistency, TexturePolygonFailures)
{
    KV_PolySurface count;
    MakeTwoTriangles(count);
    AddTextureCoordinates(count, 3);
    AddTexturePolygons(count, {{0, 1, 2}});
    AddTextureMap(count);
    ExpectFailure(count, "Number of texture polygons (1) != number of polygons (2) ");

    KV_PolySurface size;
    MakeTwoTriangles(size);
    AddTextureCoordinates(size, 3);
    AddTexturePolygons(size, {{0, 1, 2}, {0, 1}});
    AddTextureMap(size);
    ExpectFailure(size,
                  "Texture polygon 1 has 2 elements whereas corresponding geometry polygon has 3 "
                  "elements");

    KV_PolySurface range;
    MakeTwoTriangles(range);
    AddTextureCoordinates(range, 3);
    AddTexturePolygons(range, {{0, 1, 2}, {0, 1, 3}});
    AddTextureMap(range);
    ExpectFailure(range, "Texture coordinate index 2 is out of range ");

    KV_PolySurface map;
    MakeTwoTriangles(map);
    AddTextureCoordinates(map, 3);
    AddTexturePolygons(map, {{0, 1, 2}, {0, 1, 2}});
    ExpectFailure(map, "No texture map present although texture polygons present ");
}

TEST(SurfaceConsistency, TextureCoordinateOutsideTheUnitSquare)
{
    KV_PolySurface s;
    s.mpTextureCoordinates = new KV_List<KV_Vector2D>(256);
    s.mpTextureCoordinates->Append(KV_Vector2D(0, 1));
    s.mpTextureCoordinates->Append(KV_Vector2D(1.5f, 0.5f));
    const CheckResult result = Check(s);
    EXPECT_FALSE(result.consistent);
    EXPECT_TRUE(EndsWith(result.report,
                         "Checking texture coordinate values all in range 0-1 \n"
                         "Texture coordinate 1 has invalid coordinates: "
                         "KV_Vector2D: 1.5 0.5\n\n"))
        << result.report;
}

TEST(SurfaceConsistency, TextureDerivedListsWithoutTheirData)
{
    KV_PolySurface polygons;
    AddTextureCoordinates(polygons, 3);
    polygons.ComputeTextureCoordinatePolygons();
    ExpectFailure(polygons,
                  "No texture vertices or polygons present although texture coordinate "
                  "polygons present");

    KV_PolySurface vertices;
    MakeTwoTriangles(vertices);
    AddTextureCoordinates(vertices, 3);
    vertices.ComputeTextureCoordinateVertices();
    ExpectFailure(vertices,
                  "Some of texture vertices or texture polygons or polygons missing "
                  "although texture coordinate vertices present");
}

TEST(SurfaceConsistency, CheckRebuildsTheTextureDerivedLists)
{
    KV_PolySurface s;
    MakeTwoTriangles(s);
    AddTextureCoordinates(s, 5);
    AddTexturePolygons(s, {{0, 1, 2}, {0, 2, 3}});
    AddTextureMap(s);
    s.ComputeTextureCoordinatePolygons();
    s.ComputeTextureCoordinateVertices();
    (*s.mpTextureCoordinatePolygons)[4].Append(1);
    (*s.mpTextureCoordinateVertices)[4] = 2;
    EXPECT_TRUE(Check(s).consistent);
    EXPECT_EQ((*s.mpTextureCoordinatePolygons)[4].Count(), 0u);
    EXPECT_EQ((*s.mpTextureCoordinateVertices)[4], ~0u);
}

// ---- Block C --------------------------------------------------------------------------------

TEST(SurfaceConsistency, EdgeListsWithoutPolygons)
{
    KV_PolySurface edges;
    AddVertices(edges, {{0, 0, 0}});
    edges.mpEdges = new KV_List<KV_Edge>(16);
    ExpectFailure(edges, "Edges exist but no polygons exist - error");

    KV_PolySurface boundaries;
    boundaries.mpBoundaries = new KV_List<KV_Boundary>(8);
    ExpectFailure(boundaries, "Boundaries exist but no polygons exist - error");

    KV_PolySurface flags;
    flags.mpVertexBoundaries = new KV_List<char>(16);
    ExpectFailure(flags, "Vertex Boundaries exist but no polygons exist - error");

    KV_PolySurface extents;
    AddVertices(extents, {{0, 0, 0}});
    extents.ComputeExtents();
    ExpectFailure(extents, "Extents exist but no polygons and/or vertices exist - error");

    KV_PolySurface vertexEdges;
    MakeTwoTriangles(vertexEdges);
    vertexEdges.ComputeVertexEdges();
    KV_Release(vertexEdges.mpEdges);
    ExpectFailure(vertexEdges, "Vertex edges exist but no edges and/or vertices exist - error");

    KV_PolySurface polygonEdges;
    AddVertices(polygonEdges, {{0, 0, 0}});
    polygonEdges.mpPolygonEdges = new KV_List<KV_List<int>>(16);
    ExpectFailure(polygonEdges,
                  "Polygon Edges exist but no polygons and/or vertices exist - error");

    KV_PolySurface edgePolygons;
    edgePolygons.mpEdgePolygons = new KV_List<KV_List<unsigned int>>(16);
    ExpectFailure(edgePolygons,
                  "Edge polygons exist but no polygons and/or vertices exist - error");
}

TEST(SurfaceConsistency, StaleEdgesBoundariesAndFlags)
{
    KV_PolySurface edges;
    MakeTwoTriangles(edges);
    edges.ComputeEdges();
    (*edges.mpEdges)[4].second = 2;
    ExpectFailure(edges, "Calculated edges different from ones stored in class ");

    // Boundaries stored for a surface that has since become closed.
    KV_PolySurface closed;
    MakeTetrahedron(closed);
    KV_Release(closed.mpPolygons);
    AddPolygons(closed, {{0, 2, 1}, {0, 1, 3}});
    closed.ComputeBoundaries();
    AddPolygons(closed, {{0, 3, 2}, {1, 2, 3}});
    ExpectFailure(closed, "Calculated boundaries different from ones stored in class ");

    KV_PolySurface flags;
    MakeTwoTriangles(flags);
    flags.ComputeVertexBoundaries();
    (*flags.mpVertexBoundaries)[2] = 0;
    ExpectFailure(flags, "Calculated vertex boundaries different from ones stored in class ");
}

TEST(SurfaceConsistency, NormalCounts)
{
    KV_PolySurface vertexNormals;
    MakeTwoTriangles(vertexNormals);
    vertexNormals.mpVertexNormals = new KV_List<KV_Vector3D>(16);
    vertexNormals.mpVertexNormals->SetCount(3);
    ExpectFailure(vertexNormals, "Number of vertex normals incorrect: 3");

    KV_PolySurface polygonNormals;
    MakeTwoTriangles(polygonNormals);
    polygonNormals.mpPolygonNormals = new KV_List<KV_Vector3D>(16);
    polygonNormals.mpPolygonNormals->SetCount(1);
    const CheckResult result = Check(polygonNormals);
    EXPECT_FALSE(result.consistent);
    EXPECT_TRUE(EndsWith(result.report,
                         "No vertex normals present \n"
                         "Checking consistency of polygon normals \n"
                         "Number of polygon normals incorrect: 1\n"))
        << result.report;
}

TEST(SurfaceConsistency, StaleExtentsAndEdgeLists)
{
    KV_PolySurface extents;
    MakeTwoTriangles(extents);
    extents.ComputeExtents();
    (*extents.mpVertices)[1].x = 1.5f;
    ExpectFailure(extents, "Calculated extents different from ones stored in class ");

    KV_PolySurface vertexEdges;
    MakeTwoTriangles(vertexEdges);
    vertexEdges.ComputeVertexEdges();
    (*vertexEdges.mpVertexEdges)[0][0] = 1;
    ExpectFailure(vertexEdges, "Calculated vertex edges different from ones stored in class ");

    KV_PolySurface polygonEdges;
    MakeTwoTriangles(polygonEdges);
    polygonEdges.ComputePolygonEdges();
    (*polygonEdges.mpPolygonEdges)[1][2] = 4;
    ExpectFailure(polygonEdges, "Calculated polygon edges different from ones stored in class ");

    KV_PolySurface edgePolygons;
    MakeTwoTriangles(edgePolygons);
    edgePolygons.ComputeEdgePolygons();
    (*edgePolygons.mpEdgePolygons)[2].SetCount(1);
    ExpectFailure(edgePolygons, "Calculated edge polygons different from ones stored in class ");
}
