#include "surface/KV_PolySurface.h"

#include "surface/KV_SurfaceTopology.h"

#include <algorithm>
#include <vector>

namespace topology = KV_SurfaceTopology;

KV_PolySurface::KV_PolySurface(const KV_PolySurface& other) : KV_TexturedPolySurface()
{
    *this = other;
}

KV_PolySurface& KV_PolySurface::operator=(const KV_PolySurface& other)
{
    if (&other == this)
        return *this;
    KV_TexturedPolySurface::operator=(other);
    mpEdges = KV_CopyOf(other.mpEdges);
    mpBoundaries = KV_CopyOf(other.mpBoundaries);
    mpVertexBoundaries = KV_CopyOf(other.mpVertexBoundaries);
    mpVertexNormals = KV_CopyOf(other.mpVertexNormals);
    mpPolygonNormals = KV_CopyOf(other.mpPolygonNormals);
    mpExtents = KV_CopyOf(other.mpExtents);
    mpVertexEdges = KV_CopyOf(other.mpVertexEdges);
    mpPolygonEdges = KV_CopyOf(other.mpPolygonEdges);
    mpEdgePolygons = KV_CopyOf(other.mpEdgePolygons);
    return *this;
}

KV_PolySurface::~KV_PolySurface()
{
    KV_PolySurface::Clear();
}

void KV_PolySurface::Clear()
{
    KV_TexturedPolySurface::Clear();
    KV_PolySurface::ClearDerived();
}

void KV_PolySurface::ClearDerived()
{
    KV_TexturedPolySurface::ClearDerived();
    KV_Release(mpEdges);
    KV_Release(mpBoundaries);
    KV_Release(mpVertexBoundaries);
    KV_Release(mpVertexNormals);
    KV_Release(mpPolygonNormals);
    KV_Release(mpExtents);
    KV_Release(mpVertexEdges);
    KV_Release(mpPolygonEdges);
    KV_Release(mpEdgePolygons);
}

void KV_PolySurface::ComputeEdges()
{
    topology::Edges(VertexCount(), mpPolygons, &KV_Ensure(mpEdges, 1024), nullptr);
}

void KV_PolySurface::ComputeVertexBoundaries()
{
    topology::Edges(VertexCount(), mpPolygons, nullptr, &KV_Ensure(mpVertexBoundaries, 1024));
}

void KV_PolySurface::ComputeEdgesAndVertexBoundaries()
{
    topology::Edges(VertexCount(), mpPolygons, &KV_Ensure(mpEdges, 1024),
                    &KV_Ensure(mpVertexBoundaries, 1024));
}

void KV_PolySurface::ComputeBoundaries()
{
    Polygons();
    topology::Boundaries(mpPolygons, KV_Ensure(mpBoundaries, 1024));
}

void KV_PolySurface::ComputeVertexEdges()
{
    ComputeEdges();
    topology::VertexEdges(VertexCount(), *mpEdges,
                          KV_Ensure(mpVertexEdges, std::max(1024u, VertexCount())));
}

void KV_PolySurface::ComputePolygonEdges()
{
    ComputeEdges();
    const topology::CompactVertexPolygons vertexPolygons(VertexCount(), mpPolygons);
    topology::PolygonEdges(mpPolygons, *mpEdges, vertexPolygons,
                           KV_Ensure(mpPolygonEdges, std::max(1024u, PolygonCount())));
}

void KV_PolySurface::ComputeEdgePolygons()
{
    if (mpEdges == nullptr)
        ComputeEdges();
    KV_List<KV_List<unsigned int>>& result = KV_Ensure(mpEdgePolygons, 1024);
    if (mpVertexPolygons)
    {
        EnsureVertexPolygons();
        topology::EdgePolygons(mpPolygons, *mpEdges, *mpVertexPolygons, result);
    }
    else
    {
        topology::EdgePolygons(mpPolygons, *mpEdges,
                               topology::CompactVertexPolygons(VertexCount(), mpPolygons), result);
    }
}

void KV_PolySurface::ComputeVertexVertices()
{
    KV_List<KV_Edge> edges(16);
    KV_List<KV_List<unsigned int>> vertexEdges(16);
    topology::Edges(VertexCount(), mpPolygons, &edges, nullptr);
    topology::VertexEdges(VertexCount(), edges, vertexEdges);
    topology::VertexVerticesFromEdges(VertexCount(), edges, vertexEdges,
                                      KV_Ensure(mpVertexVertices, 1024));
}

void KV_PolySurface::ComputeExtents()
{
    if (mpExtents == nullptr)
        mpExtents = new KV_SurfaceExtents;
    mpExtents->Compute(mpVertices, mpPolygons);
}

void KV_PolySurface::RemovePolygonEntries(const KV_List<unsigned int>& polygons)
{
    if (mpPolygons == nullptr)
        return;
    const unsigned int count = mpPolygons->Count();
    std::vector<char> removed(count, 0);
    unsigned int removedCount = 0;
    for (unsigned int k = 0; k < polygons.Count(); ++k)
    {
        if (polygons[k] < count && !removed[polygons[k]])
        {
            removed[polygons[k]] = 1;
            ++removedCount;
        }
    }
    // Sized by the polygons actually kept: repeated or out-of-range indices must not make
    // the block size wrap around.
    const unsigned int blockSize = topology::BlockFor(count - removedCount);
    const bool normalsInStep = mpPolygonNormals && mpPolygonNormals->Count() == count;
    if (mpPolygonNormals && !normalsInStep)
        KV_Release(mpPolygonNormals);

    KV_List<KV_Polygon>* kept = new KV_List<KV_Polygon>(blockSize);
    KV_List<KV_Vector3D>* keptNormals =
        normalsInStep ? new KV_List<KV_Vector3D>(blockSize) : nullptr;
    for (unsigned int i = 0; i < count; ++i)
    {
        if (removed[i])
            continue;
        kept->Append((*mpPolygons)[i]);
        if (keptNormals)
            keptNormals->Append((*mpPolygonNormals)[i]);
    }
    delete mpPolygons;
    mpPolygons = kept;
    if (keptNormals)
    {
        delete mpPolygonNormals;
        mpPolygonNormals = keptNormals;
    }

    // Stored vertex polygons name the old polygon numbers; the lists below are built from
    // them.
    if (mpVertexPolygons && (mpPolygonPolygons || mpEdgePolygons))
        ComputeVertexPolygons();
    if (mpPolygonPolygons)
        ComputePolygonPolygons();
    if (mpPolygonEdges)
        ComputePolygonEdges();
    if (mpEdgePolygons)
        ComputeEdgePolygons();
}

void KV_PolySurface::RecomputeAfterRemoval()
{
    if (mpEdges && mpVertexBoundaries)
        ComputeEdgesAndVertexBoundaries();
    else if (mpEdges)
        ComputeEdges();
    else if (mpVertexBoundaries)
        ComputeVertexBoundaries();
    if (mpBoundaries)
    {
        // Loops of the old vertex numbers must not outlive the edit when no boundary is left.
        mpBoundaries->Clear();
        ComputeBoundaries();
    }
    if (mpVertexVertices)
        ComputeVertexVertices();
    if (mpVertexPolygons)
        ComputeVertexPolygons();
    if (mpVertexEdges)
        ComputeVertexEdges();
}

void KV_PolySurface::RemovePolygons(const KV_List<unsigned int>& polygons)
{
    RemovePolygonEntries(polygons);
    ComputeVertexPolygons();
    CompactVertices(&mpVertexNormals);
    if (mpTextureCoordinates && mpTexturePolygons)
    {
        RemoveTexturePolygons(polygons);
        CompactTextureCoordinates();
    }
    RecomputeAfterRemoval();
}

void KV_PolySurface::RemoveVertices(const KV_List<unsigned int>& vertices)
{
    KV_TexturedPolySurface::RemoveVertices(vertices);
}
