#include "meshfile/KV_ModelAppearance.h"

#include "meshfile/KV_MaterialTextures.h"
#include "surface/KV_SurfaceAppearance.h"

#include <algorithm>
#include <cmath>
#include <cstring>

KV_NormalCollector::KV_NormalCollector(std::size_t vertexCount, std::size_t expectedNormals)
    : mkWelder(expectedNormals), mkVertex(vertexCount, kUnset)
{
}

void KV_NormalCollector::Corner(unsigned int vertex, unsigned int normal)
{
    if (normal >= mkNumber.size())
        mkNumber.resize(std::max<std::size_t>(normal + 1, 2 * mkNumber.size()), kUnset);
    if (mkNumber[normal] == kUnset)
    {
        mkNumber[normal] = static_cast<std::uint32_t>(mkClasses.size());
        mkClasses.push_back(normal);
    }
    const std::uint32_t number = mkNumber[normal];
    mkCorners.push_back(number);
    if (mkVertex[vertex] == kUnset)
        mkVertex[vertex] = number;
    else
        mbPerCorner = mbPerCorner || mkVertex[vertex] != number;
}

void KV_NormalCollector::Finish(KV_SurfaceAppearance& appearance, std::size_t vertexCount)
{
    appearance.normals.clear();
    appearance.cornerNormals.clear();
    if (mkCorners.empty())
        return;
    auto value = [this](std::uint32_t number)
    {
        float xyz[3];
        std::memcpy(xyz, mkWelder.Key(mkClasses[number]).data(), sizeof xyz);
        return KV_Vector3D(xyz[0], xyz[1], xyz[2]);
    };
    if (mbPerCorner)
    {
        appearance.normals.resize(mkClasses.size());
        for (std::size_t i = 0; i < mkClasses.size(); ++i)
            appearance.normals[i] = value(static_cast<std::uint32_t>(i));
        appearance.cornerNormals.swap(mkCorners);
    }
    else
    {
        vertexCount = std::min(vertexCount, mkVertex.size());
        appearance.normals.resize(vertexCount, KV_Vector3D(0.0f, 0.0f, 0.0f));
        for (std::size_t v = 0; v < vertexCount; ++v)
            if (mkVertex[v] != kUnset)
                appearance.normals[v] = value(mkVertex[v]);
    }
    mkCorners = {};
    mkVertex = {};
}

KV_ColourCollector::KV_ColourCollector(std::size_t vertexCount)
    : mkColours(4 * vertexCount, 255), mkSet(vertexCount, false)
{
}

void KV_ColourCollector::Set(unsigned int vertex, const std::uint8_t* rgba)
{
    if (mkSet[vertex])
        return;
    mkSet[vertex] = true;
    std::memcpy(&mkColours[4 * std::size_t(vertex)], rgba, 4);
}

void KV_ColourCollector::Finish(KV_SurfaceAppearance& appearance, std::size_t vertexCount)
{
    mkColours.resize(4 * std::min(vertexCount, mkSet.size()));
    mkColours.shrink_to_fit();
    appearance.vertexColours.swap(mkColours);
    mkColours = {};
    mkSet = {};
}

std::uint8_t KV_ColourByte(float value)
{
    if (!(value > 0.0f))
        return 0;
    if (value >= 1.0f)
        return 255;
    return static_cast<std::uint8_t>(std::lround(value * 255.0f));
}

std::vector<std::uint32_t> KV_KeepEveryTexture(const std::vector<KV_MaterialTexture*>& loaded,
                                               KV_MultiImage*& map,
                                               KV_SurfaceAppearance& appearance)
{
    map = nullptr;
    std::vector<std::uint32_t> index(loaded.size());
    if (loaded.empty())
        return index;
    const auto most = std::max_element(loaded.begin(), loaded.end(),
                                       [](const KV_MaterialTexture* a, const KV_MaterialTexture* b)
                                       { return a->polygons < b->polygons; });
    for (std::size_t i = 0; i < loaded.size(); ++i)
    {
        KV_MaterialTexture& texture = *loaded[i];
        KV_SurfaceMaterial material;
        material.name = texture.material;
        material.textured = true;
        // Pictures of millions of pixels move; none is copied.
        if (loaded.begin() + static_cast<long>(i) == most)
            map = texture.image.release();
        else
            material.image = std::shared_ptr<const KV_MultiImage>(std::move(texture.image));
        index[i] = static_cast<std::uint32_t>(appearance.materials.size());
        appearance.materials.push_back(std::move(material));
    }
    return index;
}

void KV_FinishMaterials(KV_SurfaceAppearance& appearance)
{
    const std::vector<std::uint32_t>& uses = appearance.polygonMaterials;
    const bool none = std::all_of(uses.begin(), uses.end(), [](std::uint32_t m)
                                  { return m == KV_SurfaceAppearance::kNoMaterial; });
    const bool oneForAll = appearance.materials.size() == 1 &&
                           std::all_of(uses.begin(), uses.end(), [](std::uint32_t m)
                                       { return m == 0; });
    if (none || oneForAll)
    {
        appearance.materials.clear();
        appearance.polygonMaterials.clear();
    }
}
