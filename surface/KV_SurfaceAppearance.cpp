#include "surface/KV_SurfaceAppearance.h"

#include "surface/KV_TexturedPolySurface.h"

namespace
{
std::size_t CornerCount(const KV_List<KV_Polygon>& polygons)
{
    std::size_t corners = 0;
    for (unsigned int p = 0; p < polygons.Count(); ++p) corners += polygons[p].Count();
    return corners;
}
}  // namespace

std::size_t KV_SurfaceAppearance::TextureCount() const
{
    std::size_t count = 0;
    for (const KV_SurfaceMaterial& material : materials) count += material.textured ? 1 : 0;
    return count;
}

const KV_MultiImage* KV_SurfaceAppearance::MaterialImage(std::uint32_t m,
                                                         const KV_TexturedPolySurface& surface) const
{
    if (m >= materials.size() || !materials[m].textured)
        return nullptr;
    if (materials[m].image != nullptr)
        return materials[m].image.get();
    return surface.HasTextureMap() ? surface.mpTextureMap : nullptr;
}

bool KV_SurfaceAppearance::Fit(const KV_TexturedPolySurface& surface)
{
    bool fits = true;
    const std::size_t polygonCount = surface.PolygonCount();
    bool materialsFit = polygonMaterials.empty() || polygonMaterials.size() == polygonCount;
    for (std::size_t p = 0; materialsFit && p < polygonMaterials.size(); ++p)
        materialsFit = polygonMaterials[p] == kNoMaterial || polygonMaterials[p] < materials.size();
    if (!materialsFit)
    {
        materials.clear();
        polygonMaterials.clear();
        fits = false;
    }
    if (!vertexColours.empty() &&
        vertexColours.size() != 4 * static_cast<std::size_t>(surface.VertexCount()))
    {
        vertexColours.clear();
        fits = false;
    }
    bool normalsFit = cornerNormals.empty() ||
                      (surface.mpPolygons != nullptr &&
                       cornerNormals.size() == CornerCount(*surface.mpPolygons));
    for (std::size_t c = 0; normalsFit && c < cornerNormals.size(); ++c)
        normalsFit = cornerNormals[c] < normals.size();
    if (!normalsFit)
    {
        normals.clear();
        cornerNormals.clear();
        fits = false;
    }
    if (cornerNormals.empty() && !normals.empty() && normals.size() != surface.VertexCount())
    {
        normals.clear();
        fits = false;
    }
    return fits;
}

void KV_SurfaceAppearance::Triangulate(const KV_List<KV_Polygon>& polygons)
{
    const unsigned int count = polygons.Count();
    if (!polygonMaterials.empty() && polygonMaterials.size() != count)
    {
        materials.clear();
        polygonMaterials.clear();
    }
    if (!cornerNormals.empty() && cornerNormals.size() != CornerCount(polygons))
    {
        normals.clear();
        cornerNormals.clear();
    }
    if (polygonMaterials.empty() && cornerNormals.empty())
        return;
    std::vector<std::uint32_t> newMaterials;
    std::vector<std::uint32_t> newCorners;
    if (!polygonMaterials.empty())
        newMaterials.reserve(count);
    if (!cornerNormals.empty())
        newCorners.reserve(cornerNormals.size());
    std::size_t corner = 0;
    for (unsigned int p = 0; p < count; ++p)
    {
        const unsigned int n = polygons[p].Count();
        const unsigned int triangles = n < 4 ? 1 : n - 2;
        if (!polygonMaterials.empty())
            newMaterials.insert(newMaterials.end(), triangles, polygonMaterials[p]);
        if (!cornerNormals.empty())
        {
            const std::uint32_t* c = &cornerNormals[corner];
            if (n < 4)
                newCorners.insert(newCorners.end(), c, c + n);
            else
                for (unsigned int k = 2; k < n; ++k)
                {
                    newCorners.push_back(c[0]);
                    newCorners.push_back(c[k - 1]);
                    newCorners.push_back(c[k]);
                }
        }
        corner += n;
    }
    if (!polygonMaterials.empty())
        polygonMaterials.swap(newMaterials);
    if (!cornerNormals.empty())
        cornerNormals.swap(newCorners);
}

void KV_SurfaceAppearance::KeepPolygons(const KV_List<KV_Polygon>& polygons,
                                        const std::vector<bool>& keep)
{
    const unsigned int count = polygons.Count();
    if (keep.size() != count)
        return;
    if (polygonMaterials.size() == count)
    {
        std::size_t out = 0;
        for (unsigned int p = 0; p < count; ++p)
            if (keep[p])
                polygonMaterials[out++] = polygonMaterials[p];
        polygonMaterials.resize(out);
    }
    if (!cornerNormals.empty() && cornerNormals.size() == CornerCount(polygons))
    {
        std::size_t out = 0, corner = 0;
        for (unsigned int p = 0; p < count; ++p)
        {
            const unsigned int n = polygons[p].Count();
            if (keep[p])
                for (unsigned int k = 0; k < n; ++k) cornerNormals[out++] = cornerNormals[corner + k];
            corner += n;
        }
        cornerNormals.resize(out);
    }
}
