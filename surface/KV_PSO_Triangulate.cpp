#include "surface/KV_PSO_Triangulate.h"

#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_PolySurface.h"

#include <memory>

namespace
{
bool NonEmpty(const KV_List<KV_List<unsigned int>>* list)
{
    return list && list->Count() > 0;
}
bool NonEmpty(const KV_List<KV_List<int>>* list)
{
    return list && list->Count() > 0;
}
bool NonEmpty(const KV_List<KV_Vector3D>* list)
{
    return list && list->Count() > 0;
}
bool NonEmpty(const KV_List<KV_Edge>* list)
{
    return list && list->Count() > 0;
}

void AppendTriangle(KV_List<KV_Polygon>& list, const KV_PolygonView& polygon, unsigned int k)
{
    // Appended whole: a list of triangles keeps them in one flat run.
    const unsigned int corners[3] = {polygon[0], polygon[k - 1], polygon[k]};
    list.AppendCorners(corners, 3);
}
}  // namespace

void KV_PSO_Triangulate::Triangulate()
{
    KV_PolySurface& surface = *mpSurface;
    if (surface.PolygonCount() == 0)
        return;
    if (surface.mpExtents == nullptr)
        surface.mpExtents = new KV_SurfaceExtents;
    if (surface.mpExtents->MaximumPolygonSize() < 3)
        surface.ComputeExtents();
    if (surface.mpExtents->MaximumPolygonSize() < 4)
        return;

    const KV_List<KV_Polygon>& polygons = *surface.mpPolygons;
    const unsigned int count = polygons.Count();
    const bool textureFollows =
        surface.HasTextureMap() && KV_Ensure(surface.mpTexturePolygons, 1024).Count() == count;

    mkReplacements.Resize(0, static_cast<int>(count) - 1);
    for (unsigned int j = 0; j < count; ++j)
    {
        mkReplacements[j].Clear();
        mkReplacements[j].SetBlockSize(2);
    }

    std::unique_ptr<KV_List<KV_Polygon>> newPolygons(new KV_List<KV_Polygon>(256));
    std::unique_ptr<KV_List<KV_Polygon>> newTexture(textureFollows ? new KV_List<KV_Polygon>(256)
                                                                   : nullptr);
    for (unsigned int j = 0; j < count; ++j)
    {
        if (j % 65536 == 0 && mpStop != nullptr && mpStop->load(std::memory_order_relaxed))
            return;  // the new lists go, the surface keeps its polygons
        const KV_PolygonView& polygon = polygons[j];
        const unsigned int n = polygon.Count();
        if (n < 4)
        {
            mkReplacements[j].Append(newPolygons->Count());
            newPolygons->Append(polygon);
            if (newTexture)
                newTexture->Append((*surface.mpTexturePolygons)[j]);
            continue;
        }
        // A texture polygon shorter than its polygon (a file can hold one) cannot be split
        // the same way without reading past its end: it is kept whole, and only it.
        const KV_PolygonView texture =
            newTexture ? (*surface.mpTexturePolygons)[j] : KV_PolygonView(nullptr, 0);
        const bool splitTexture = newTexture && texture.Count() >= n;
        if (newTexture && !splitTexture)
            newTexture->Append(texture);
        for (unsigned int k = 2; k < n; ++k)
        {
            mkReplacements[j].Append(newPolygons->Count());
            AppendTriangle(*newPolygons, polygon, k);
            if (splitTexture)
                AppendTriangle(*newTexture, texture, k);
        }
    }

    const bool vertexPolygons = NonEmpty(surface.mpVertexPolygons);
    const bool polygonNormals = NonEmpty(surface.mpPolygonNormals);
    const bool vertexNormals = NonEmpty(surface.mpVertexNormals);
    const bool edges = NonEmpty(surface.mpEdges);
    const bool polygonEdges = NonEmpty(surface.mpPolygonEdges);
    const bool polygonPolygons = NonEmpty(surface.mpPolygonPolygons);

    delete surface.mpPolygons;
    surface.mpPolygons = newPolygons.release();
    if (newTexture)
    {
        delete surface.mpTexturePolygons;
        surface.mpTexturePolygons = newTexture.release();
    }

    if (vertexPolygons)
        surface.ComputeVertexPolygons();
    if (polygonNormals)
    {
        KV_PSO_ComputeNormals normals(&surface);
        normals.ComputePolygonNormals();
        if (vertexNormals)
            normals.ComputeVertexNormals();
    }
    if (edges)
        surface.ComputeEdges();
    if (polygonEdges)
        surface.ComputePolygonEdges();
    if (polygonPolygons)
        surface.ComputePolygonPolygons();

    surface.mpExtents->MinimumPolygonSize() = 3;
    surface.mpExtents->MaximumPolygonSize() = 3;
}
