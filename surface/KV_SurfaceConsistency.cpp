// The consistency checks of the surface classes. Each step either finds its member absent,
// which passes, or recomputes the data into a temporary with the same derivations the
// surface uses and compares. Every step writes one line to stderr; the first failing step
// ends the check with false.

#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceTopology.h"

#include <iostream>

namespace topology = KV_SurfaceTopology;

namespace
{
using IndexLists = KV_List<KV_List<unsigned int>>;

void Line(const char* text)
{
    std::cerr << text << std::endl;
}

// Writes the line "head value tail", then ends it.
template <typename V>
void Line(const char* head, V value, const char* tail = "")
{
    std::cerr << head << value << tail << std::endl;
}

bool Fail(const char* text)
{
    Line(text);
    return false;
}

bool InUnitRange(float x)
{
    return x >= 0.0f && x <= 1.0f;
}
}  // namespace

bool KV_BasePolySurface::CheckConsistency()
{
    Line("KV_BasePolySurface consistency check");
    const unsigned int vertexCount = VertexCount();

    if (PolygonCount() == 0)
    {
        Line("No polygons to check");
    }
    else
    {
        Line("Checking consistency of polygons");
        for (unsigned int i = 0; i < mpPolygons->Count(); ++i)
        {
            const KV_PolygonView& polygon = (*mpPolygons)[i];
            for (unsigned int j = 0; j < polygon.Count(); ++j)
            {
                if (polygon[j] >= vertexCount)
                {
                    std::cerr << "Vertex index " << polygon[j] << " out of range in polygon " << i
                              << std::endl;
                    return false;
                }
            }
        }
    }

    if (mpVertexVertices == nullptr)
    {
        Line("No vertex vertices present");
    }
    else
    {
        Line("Checking consistency of vertex vertices");
        if (Polygons().Count() == 0)
            return Fail("Error - no polygons present, yet vertex vertices exist");
        KV_List<KV_Edge> edges(16);
        IndexLists vertexEdges(16);
        IndexLists vertexVertices(16);
        topology::Edges(vertexCount, mpPolygons, &edges, nullptr);
        topology::VertexEdges(vertexCount, edges, vertexEdges);
        topology::VertexVerticesFromEdges(vertexCount, edges, vertexEdges, vertexVertices);
        if (!topology::SameLists(vertexVertices, *mpVertexVertices))
            return Fail(
                "Vertex vertices calculated for surface different from those stored in "
                "class");
    }

    if (mpVertexPolygons == nullptr)
    {
        Line("No vertex polygons present");
    }
    else
    {
        Line("Checking consistency of vertex polygons");
        if (Polygons().Count() == 0)
            return Fail("Error - no polygons present, yet vertex polygons exist");
        IndexLists vertexPolygons(16);
        topology::VertexPolygons(vertexCount, mpPolygons, vertexPolygons);
        if (!topology::SameLists(vertexPolygons, *mpVertexPolygons))
            return Fail(
                "Vertex polygons calculated for surface different from those stored in "
                "class");
    }

    if (mpPolygonPolygons == nullptr)
    {
        Line("No polygon polygons present");
    }
    else
    {
        Line("Checking consistency of polygon polygons");
        if (Polygons().Count() == 0)
            return Fail("Error - no polygons present, yet polygon polygons exist");
        const topology::CompactVertexPolygons vertexPolygons(vertexCount, mpPolygons);
        IndexLists polygonPolygons(16);
        topology::PolygonPolygons(mpPolygons, vertexPolygons, polygonPolygons);
        if (!topology::SameLists(polygonPolygons, *mpPolygonPolygons))
            return Fail(
                "Polygon polygons calculated for surface different from those stored in "
                "class");
    }

    Line("KV_BasePolySurface consistent");
    return true;
}

bool KV_TexturedPolySurface::CheckConsistency()
{
    if (!KV_BasePolySurface::CheckConsistency())
        return false;
    Line("KV_TexturedPolySurface consistency check");
    const unsigned int coordinateCount = mpTextureCoordinates ? mpTextureCoordinates->Count() : 0;

    if (mpTexturePolygons == nullptr || mpTexturePolygons->Count() == 0)
    {
        Line("No texture polygons present");
    }
    else
    {
        Line("Checking consistency of texture polygons ");
        if (mpTexturePolygons->Count() != PolygonCount())
        {
            std::cerr << "Number of texture polygons (" << mpTexturePolygons->Count()
                      << ") != number of polygons (" << PolygonCount() << ") " << std::endl;
            return false;
        }
        for (unsigned int i = 0; i < mpTexturePolygons->Count(); ++i)
        {
            const KV_PolygonView& texturePolygon = (*mpTexturePolygons)[i];
            const KV_PolygonView& polygon = (*mpPolygons)[i];
            if (texturePolygon.Count() != polygon.Count())
            {
                std::cerr << "Texture polygon " << i << " has " << texturePolygon.Count()
                          << " elements whereas corresponding geometry polygon has "
                          << polygon.Count() << " elements" << std::endl;
                return false;
            }
            for (unsigned int j = 0; j < texturePolygon.Count(); ++j)
            {
                if (texturePolygon[j] >= coordinateCount)
                {
                    Line("Texture coordinate index ", j, " is out of range ");
                    return false;
                }
            }
        }
        if (!HasTextureMap())
            return Fail("No texture map present although texture polygons present ");
    }

    if (coordinateCount == 0)
    {
        Line("No texture coordinates to check ");
    }
    else
    {
        Line("Checking texture coordinate values all in range 0-1 ");
        for (unsigned int i = 0; i < coordinateCount; ++i)
        {
            const KV_Vector2D& t = (*mpTextureCoordinates)[i];
            if (!InUnitRange(t.u) || !InUnitRange(t.v))
            {
                std::cerr << "Texture coordinate " << i << " has invalid coordinates: ";
                t.Dump(std::cerr);
                std::cerr << std::endl;
                return false;
            }
        }
    }

    if (mpTextureCoordinatePolygons == nullptr || mpTextureCoordinatePolygons->Count() == 0)
    {
        Line("No texture coordinate polygons present");
    }
    else
    {
        if (mpTextureCoordinates == nullptr || mpTexturePolygons == nullptr ||
            mpTexturePolygons->Count() == 0)
            return Fail(
                "No texture vertices or polygons present although texture coordinate "
                "polygons present");
        IndexLists coordinatePolygons(256);
        topology::TextureCoordinatePolygons(coordinateCount, mpTexturePolygons, coordinatePolygons);
        KV_Release(mpTextureCoordinatePolygons);
        ComputeTextureCoordinatePolygons();
        if (!topology::SameLists(coordinatePolygons, *mpTextureCoordinatePolygons))
            return Fail(
                "Texture coordinate polygons inconsistent with existing texture polygon "
                "data");
    }

    if (mpTextureCoordinateVertices == nullptr ||
        RecomputeTextureCoordinateVertices()->Count() == 0)
    {
        Line("No texture coordinate vertices present");
    }
    else
    {
        if (mpTextureCoordinates == nullptr || mpPolygons == nullptr ||
            mpTexturePolygons == nullptr || mpTexturePolygons->Count() == 0)
            return Fail(
                "Some of texture vertices or texture polygons or polygons missing "
                "although texture coordinate vertices present");
        KV_List<unsigned int> coordinateVertices(topology::BlockFor(coordinateCount));
        coordinateVertices.SetCount(coordinateCount);
        for (unsigned int t = 0; t < coordinateCount; ++t) coordinateVertices[t] = ~0u;
        topology::AssignTextureCoordinateVertices(mpPolygons, mpTexturePolygons,
                                                  coordinateVertices);
        if (!topology::SameList(coordinateVertices, *RecomputeTextureCoordinateVertices()))
            return Fail("Texture coordinate vertices inconsistent with existing class data");
    }

    Line("KV_TexturedPolySurface consistent");
    return true;
}

bool KV_PolySurface::CheckConsistency()
{
    if (!KV_TexturedPolySurface::CheckConsistency())
        return false;
    Line("KV_PolySurface consistency check");
    const unsigned int vertexCount = VertexCount();

    if (mpEdges == nullptr)
    {
        Line("No edges to check");
    }
    else
    {
        Line("Checking edges");
        if (mpPolygons == nullptr)
            return Fail("Edges exist but no polygons exist - error");
        KV_List<KV_Edge> edges(16);
        topology::Edges(vertexCount, mpPolygons, &edges, nullptr);
        if (!topology::SameList(edges, *mpEdges))
            return Fail("Calculated edges different from ones stored in class ");
    }

    if (mpBoundaries == nullptr)
    {
        Line("No boundaries to check");
    }
    else
    {
        Line("Checking boundaries ");
        if (mpPolygons == nullptr)
            return Fail("Boundaries exist but no polygons exist - error");
        KV_List<KV_Boundary> boundaries(1024);
        topology::Boundaries(mpPolygons, boundaries);
        if (!topology::SameLists(boundaries, *mpBoundaries))
            return Fail("Calculated boundaries different from ones stored in class ");
    }

    if (mpVertexBoundaries == nullptr)
    {
        Line("No vertex boundaries to check");
    }
    else
    {
        Line("Checking vertex boundaries ");
        if (mpPolygons == nullptr)
            return Fail("Vertex Boundaries exist but no polygons exist - error");
        KV_List<char> flags(16);
        topology::Edges(vertexCount, mpPolygons, nullptr, &flags);
        if (!topology::SameList(flags, *mpVertexBoundaries))
            return Fail("Calculated vertex boundaries different from ones stored in class ");
    }

    if (mpVertexNormals)
    {
        Line("Checking consistency of vertex normals ");
        if (mpVertexNormals->Count() != vertexCount)
        {
            Line("Number of vertex normals incorrect: ", mpVertexNormals->Count());
            return false;
        }
    }
    else
    {
        Line("No vertex normals present ");
    }

    if (mpPolygonNormals)
    {
        Line("Checking consistency of polygon normals ");
        if (mpPolygonNormals->Count() != PolygonCount())
        {
            Line("Number of polygon normals incorrect: ", mpPolygonNormals->Count());
            return false;
        }
    }
    else
    {
        Line("No polygon normals present ");
    }

    if (mpExtents == nullptr)
    {
        Line("No extents to check");
    }
    else
    {
        Line("Checking extents ");
        if (mpPolygons == nullptr || mpVertices == nullptr)
            return Fail("Extents exist but no polygons and/or vertices exist - error");
        KV_SurfaceExtents extents;
        extents.Compute(mpVertices, mpPolygons);
        if (extents != *mpExtents)
            return Fail("Calculated extents different from ones stored in class ");
    }

    if (mpVertexEdges == nullptr)
    {
        Line("No vertex edges to check");
    }
    else
    {
        Line("Checking vertex edges ");
        if (mpEdges == nullptr || mpVertices == nullptr)
            return Fail("Vertex edges exist but no edges and/or vertices exist - error");
        IndexLists vertexEdges(16);
        topology::VertexEdges(vertexCount, *mpEdges, vertexEdges);
        if (!topology::SameLists(vertexEdges, *mpVertexEdges))
            return Fail("Calculated vertex edges different from ones stored in class ");
    }

    if (mpPolygonEdges == nullptr)
    {
        Line("No polygon edges to check");
    }
    else
    {
        Line("Checking polygon edges ");
        if (mpPolygons == nullptr || mpVertices == nullptr)
            return Fail("Polygon Edges exist but no polygons and/or vertices exist - error");
        const topology::CompactVertexPolygons vertexPolygons(vertexCount, mpPolygons);
        KV_List<KV_Edge> edges(16);
        KV_List<KV_List<int>> polygonEdges(16);
        topology::Edges(vertexCount, mpPolygons, &edges, nullptr);
        topology::PolygonEdges(mpPolygons, edges, vertexPolygons, polygonEdges);
        if (!topology::SameLists(polygonEdges, *mpPolygonEdges))
            return Fail("Calculated polygon edges different from ones stored in class ");
    }

    if (mpEdgePolygons == nullptr)
    {
        Line("No edge polygons to check");
    }
    else
    {
        Line("Checking edge polygons ");
        if (mpPolygons == nullptr || mpVertices == nullptr)
            return Fail("Edge polygons exist but no polygons and/or vertices exist - error");
        const topology::CompactVertexPolygons vertexPolygons(vertexCount, mpPolygons);
        KV_List<KV_Edge> edges(16);
        IndexLists edgePolygons(16);
        topology::Edges(vertexCount, mpPolygons, &edges, nullptr);
        topology::EdgePolygons(mpPolygons, edges, vertexPolygons, edgePolygons);
        if (!topology::SameLists(edgePolygons, *mpEdgePolygons))
            return Fail("Calculated edge polygons different from ones stored in class ");
    }

    Line("KV_PolySurface consistent");
    return true;
}
