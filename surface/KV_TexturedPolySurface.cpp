#include "surface/KV_TexturedPolySurface.h"

#include "surface/KV_SurfaceTopology.h"

#include <algorithm>
#include <vector>

namespace topology = KV_SurfaceTopology;

KV_TexturedPolySurface::KV_TexturedPolySurface(const KV_TexturedPolySurface& other)
    : KV_BasePolySurface()
{
    *this = other;
}

KV_TexturedPolySurface& KV_TexturedPolySurface::operator=(const KV_TexturedPolySurface& other)
{
    if (&other == this)
        return *this;
    KV_BasePolySurface::operator=(other);
    mpTextureCoordinates = KV_CopyOf(other.mpTextureCoordinates);
    mpTexturePolygons = KV_CopyOf(other.mpTexturePolygons);
    mpTextureMap = KV_CopyOf(other.mpTextureMap);
    mpTextureCoordinatePolygons = KV_CopyOf(other.mpTextureCoordinatePolygons);
    mpTextureCoordinateVertices = KV_CopyOf(other.mpTextureCoordinateVertices);
    return *this;
}

KV_TexturedPolySurface::~KV_TexturedPolySurface()
{
    KV_TexturedPolySurface::Clear();
}

void KV_TexturedPolySurface::Clear()
{
    KV_BasePolySurface::Clear();
    ClearTexture();
}

void KV_TexturedPolySurface::ClearDerived()
{
    KV_BasePolySurface::ClearDerived();
    KV_Release(mpTextureCoordinatePolygons);
}

void KV_TexturedPolySurface::ClearTexture()
{
    KV_Release(mpTextureCoordinates);
    KV_Release(mpTexturePolygons);
    KV_Release(mpTextureMap);
    KV_Release(mpTextureCoordinatePolygons);
    KV_Release(mpTextureCoordinateVertices);
}

bool KV_TexturedPolySurface::HasTextureMap() const
{
    return mpTextureMap != nullptr && mpTextureMap->HasImage();
}

bool KV_TexturedPolySurface::IsValid(unsigned int maximumPolygonSize)
{
    if (!KV_BasePolySurface::IsValid(maximumPolygonSize))
        return false;
    if (mpTexturePolygons == nullptr)
        return true;
    // Without coordinates every texture index is out of range as well.
    const unsigned int coordinateCount = mpTextureCoordinates ? mpTextureCoordinates->Count() : 0;
    for (unsigned int i = 0; i < mpTexturePolygons->Count(); ++i)
    {
        const KV_PolygonView& polygon = (*mpTexturePolygons)[i];
        for (unsigned int k = 0; k < polygon.Count(); ++k)
        {
            if (polygon[k] >= coordinateCount)
            {
                ClearTexture();
                return true;
            }
        }
    }
    return true;
}

void KV_TexturedPolySurface::ComputeTextureCoordinatePolygons()
{
    const unsigned int count = mpTextureCoordinates ? mpTextureCoordinates->Count() : 0;
    topology::TextureCoordinatePolygons(count, mpTexturePolygons,
                                        KV_Ensure(mpTextureCoordinatePolygons, 256));
}

void KV_TexturedPolySurface::ComputeTextureCoordinateVertices()
{
    if (mpTextureCoordinateVertices == nullptr)
    {
        const unsigned int count = mpTextureCoordinates ? mpTextureCoordinates->Count() : 0;
        mpTextureCoordinateVertices = new KV_List<unsigned int>(topology::BlockFor(count));
        mpTextureCoordinateVertices->SetCount(count);
        for (unsigned int t = 0; t < count; ++t) (*mpTextureCoordinateVertices)[t] = ~0u;
    }
    topology::AssignTextureCoordinateVertices(mpPolygons, mpTexturePolygons,
                                              *mpTextureCoordinateVertices);
}

KV_List<unsigned int>* KV_TexturedPolySurface::RecomputeTextureCoordinateVertices()
{
    KV_Release(mpTextureCoordinateVertices);
    ComputeTextureCoordinateVertices();
    return mpTextureCoordinateVertices;
}

void KV_TexturedPolySurface::RemoveTexturePolygons(const KV_List<unsigned int>& polygons)
{
    if (mpTextureCoordinates == nullptr || mpTexturePolygons == nullptr)
        return;
    const unsigned int count = mpTexturePolygons->Count();
    std::vector<char> removed(count, 0);
    for (unsigned int k = 0; k < polygons.Count(); ++k)
        if (polygons[k] < count)
            removed[polygons[k]] = 1;
    KV_List<KV_Polygon>* kept = new KV_List<KV_Polygon>(topology::BlockFor(std::min(count, 2048u)));
    for (unsigned int i = 0; i < count; ++i)
        if (!removed[i])
            kept->Append((*mpTexturePolygons)[i]);
    delete mpTexturePolygons;
    mpTexturePolygons = kept;
}

void KV_TexturedPolySurface::CompactTextureCoordinates()
{
    if (mpTextureCoordinates == nullptr || mpTexturePolygons == nullptr)
        return;
    const unsigned int count = mpTextureCoordinates->Count();
    KV_List<KV_List<unsigned int>> users(256);
    topology::TextureCoordinatePolygons(count, mpTexturePolygons, users);

    const unsigned int kMissing = ~0u;
    std::vector<unsigned int> newIndex(count, kMissing);
    KV_List<KV_Vector2D>* kept = new KV_List<KV_Vector2D>(256);
    for (unsigned int t = 0; t < count; ++t)
    {
        if (users[t].Count() == 0)
            continue;
        newIndex[t] = kept->Count();
        kept->Append((*mpTextureCoordinates)[t]);
    }
    delete mpTextureCoordinates;
    mpTextureCoordinates = kept;

    for (unsigned int i = 0; i < mpTexturePolygons->Count(); ++i)
    {
        KV_PolygonRef polygon = (*mpTexturePolygons)[i];
        for (unsigned int k = 0; k < polygon.Count(); ++k)
            polygon[k] = polygon[k] < count ? newIndex[polygon[k]] : kMissing;
    }
    KV_Release(mpTextureCoordinatePolygons);
    KV_Release(mpTextureCoordinateVertices);
}

void KV_TexturedPolySurface::RemovePolygonEntries(const KV_List<unsigned int>& polygons)
{
    KV_BasePolySurface::RemovePolygonEntries(polygons);
    RemoveTexturePolygons(polygons);
}

void KV_TexturedPolySurface::RemovePolygons(const KV_List<unsigned int>& polygons)
{
    KV_BasePolySurface::RemovePolygons(polygons);
    CompactTextureCoordinates();
}

void KV_TexturedPolySurface::RemoveVertices(const KV_List<unsigned int>& vertices)
{
    KV_BasePolySurface::RemoveVertices(vertices);
}
