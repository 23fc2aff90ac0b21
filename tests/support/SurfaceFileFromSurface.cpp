#include "tests/support/SurfaceFileFromSurface.h"

#include "surface/KV_TexturedPolySurface.h"

namespace
{
std::vector<std::vector<unsigned int>> PolygonLists(const KV_List<KV_Polygon>* polygons)
{
    std::vector<std::vector<unsigned int>> out;
    if (polygons == nullptr)
        return out;
    out.reserve(polygons->Count());
    for (unsigned int i = 0; i < polygons->Count(); ++i)
    {
        const KV_PolygonView& polygon = (*polygons)[i];
        std::vector<unsigned int> indices(polygon.Count());
        for (unsigned int j = 0; j < polygon.Count(); ++j)
            indices[j] = polygon[j];
        out.push_back(std::move(indices));
    }
    return out;
}
}  // namespace

OsfSurface OsfSurfaceFrom(const KV_TexturedPolySurface& surface)
{
    OsfSurface out;
    for (unsigned int i = 0; i < surface.VertexCount(); ++i)
    {
        const KV_Vector3D& v = (*surface.mpVertices)[i];
        out.vertices.push_back({v.x, v.y, v.z});
    }
    out.polygons = PolygonLists(surface.mpPolygons);
    if (surface.mpTextureCoordinates)
        for (unsigned int i = 0; i < surface.mpTextureCoordinates->Count(); ++i)
        {
            const KV_Vector2D& t = (*surface.mpTextureCoordinates)[i];
            out.textureCoordinates.push_back({t.u, t.v});
        }
    out.texturePolygons = PolygonLists(surface.mpTexturePolygons);

    if (surface.mpTextureMap == nullptr)
        return out;
    if (const KV_Image<KV_RGB8>* colour = surface.mpTextureMap->ColourImage())
    {
        out.textureKind = 3;
        out.textureRows = static_cast<std::uint32_t>(colour->Rows());
        out.textureColumns = static_cast<std::uint32_t>(colour->Cols());
        for (int r = 0; r < colour->Rows(); ++r)
            for (int c = 0; c < colour->Cols(); ++c)
            {
                const KV_RGB8& p = (*colour)(r, c);
                out.texturePixels.insert(out.texturePixels.end(), {p.red, p.green, p.blue});
            }
    }
    else if (const KV_Image<unsigned char>* grey = surface.mpTextureMap->GreyImage())
    {
        out.textureKind = 1;
        out.textureRows = static_cast<std::uint32_t>(grey->Rows());
        out.textureColumns = static_cast<std::uint32_t>(grey->Cols());
        for (int r = 0; r < grey->Rows(); ++r)
            for (int c = 0; c < grey->Cols(); ++c)
                out.texturePixels.push_back((*grey)(r, c));
    }
    return out;
}
