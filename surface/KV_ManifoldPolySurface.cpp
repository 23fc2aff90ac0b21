#include "surface/KV_ManifoldPolySurface.h"

#include "surface/KV_SurfaceTopology.h"

#include <algorithm>

namespace topology = KV_SurfaceTopology;

KV_ManifoldPolySurface::KV_ManifoldPolySurface(const KV_ManifoldPolySurface& other)
    : KV_PolySurface()
{
    *this = other;
}

KV_ManifoldPolySurface& KV_ManifoldPolySurface::operator=(const KV_ManifoldPolySurface& other)
{
    if (&other == this)
        return *this;
    Clear();
    KV_PolySurface::operator=(other);
    mpCharParameters = KV_CopyOf(other.mpCharParameters);
    mpFloatParameters = KV_CopyOf(other.mpFloatParameters);
    mpVectorParameters = KV_CopyOf(other.mpVectorParameters);
    return *this;
}

KV_ManifoldPolySurface& KV_ManifoldPolySurface::operator=(const KV_PolySurface& other)
{
    KV_PolySurface::operator=(other);
    return *this;
}

KV_ManifoldPolySurface::~KV_ManifoldPolySurface()
{
    KV_ManifoldPolySurface::Clear();
}

void KV_ManifoldPolySurface::Clear()
{
    KV_PolySurface::Clear();
    KV_ManifoldPolySurface::ClearDerived();
}

void KV_ManifoldPolySurface::ClearDerived()
{
    KV_PolySurface::ClearDerived();
    KV_Release(mpCharParameters);
    KV_Release(mpFloatParameters);
    KV_Release(mpVectorParameters);
}

KV_MultiImage& KV_ManifoldPolySurface::TextureMap()
{
    if (mpTextureMap == nullptr)
        mpTextureMap = new KV_MultiImage;
    return *mpTextureMap;
}

void KV_ManifoldPolySurface::RemovePolygonEntries(const KV_List<unsigned int>& polygons)
{
    KeepPolygonsExcept(polygons, std::min(PolygonCount(), 2048u));
    ClearDerived();
}

void KV_ManifoldPolySurface::RemovePolygons(const KV_List<unsigned int>& polygons)
{
    RemovePolygonEntries(polygons);
    if (PolygonCount() > 0)
    {
        ComputeVertexPolygons();
        CompactVertices(nullptr);
    }
    if (HasTextureMap() && mpTexturePolygons)
    {
        RemoveTexturePolygons(polygons);
        CompactTextureCoordinates();
    }
    ComputeVertexPolygons();
}

void KV_ManifoldPolySurface::RemoveVertices(const KV_List<unsigned int>& vertices)
{
    KV_PolySurface::RemoveVertices(vertices);
}
