#include "meshfile/KV_SceneImport.h"

#include "foundation/KV_Counted.h"
#include "foundation/KV_Report.h"
#include "meshfile/KV_BitWelder.h"
#include "meshfile/KV_GltfCoordinates.h"
#include "meshfile/KV_MaterialTextures.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_ModelAppearance.h"
#include "meshfile/KV_TextureLookup.h"
#include "image/KV_ImageReader.h"
#include "image/KV_MultiImage.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_TexturedPolySurface.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace
{

void ClearResult(KV_TexturedPolySurface& surface, KV_SurfaceAppearance* appearance)
{
    surface.Clear();
    if (appearance != nullptr)
        appearance->Clear();
}

bool IsIdentity(const aiMatrix4x4& m)
{
    return m.IsIdentity();
}

struct MeshInstance
{
    const aiMesh* mesh;
    aiMatrix4x4 transform;
};

// The mesh instances of the node tree, walked without recursion (a file may nest nodes
// deeper than the stack allows).
bool CollectInstances(const aiScene& scene, std::vector<MeshInstance>& instances,
                      std::string& reason)
{
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending;
    if (scene.mRootNode != nullptr)
        pending.emplace_back(scene.mRootNode, scene.mRootNode->mTransformation);
    std::uint64_t elements = 0;
    while (!pending.empty())
    {
        const aiNode* node = pending.back().first;
        const aiMatrix4x4 transform = pending.back().second;
        pending.pop_back();
        for (unsigned int i = 0; i < node->mNumMeshes; ++i)
        {
            const unsigned int index = node->mMeshes[i];
            if (index >= scene.mNumMeshes || scene.mMeshes[index] == nullptr)
            {
                reason = "a node names a mesh the scene lacks";
                return false;
            }
            const aiMesh* mesh = scene.mMeshes[index];
            // Shared meshes repeat with each node: vertices, faces and corners of all
            // instances are bounded before anything is made.
            elements += std::uint64_t(mesh->mNumVertices) + mesh->mNumFaces;
            for (unsigned int f = 0;
                 f < mesh->mNumFaces && elements <= KV_MeshImporter::kMaxCorners; ++f)
                elements += mesh->mFaces[f].mNumIndices;
            if (elements > KV_MeshImporter::kMaxCorners)
            {
                reason = "the scene is too large (more than " +
                         std::to_string(KV_MeshImporter::kMaxCorners) +
                         " vertices, faces and polygon corners)";
                return false;
            }
            instances.push_back({mesh, transform});
        }
        for (unsigned int i = 0; i < node->mNumChildren; ++i)
            if (node->mChildren[i] != nullptr)
                pending.emplace_back(node->mChildren[i],
                                     transform * node->mChildren[i]->mTransformation);
    }
    return true;
}

bool TexturePath(const aiMaterial& material, aiString& path)
{
    return material.GetTexture(aiTextureType_BASE_COLOR, 0, &path) == AI_SUCCESS ||
           material.GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS;
}

bool DecodeEmbedded(const aiTexture& texture, KV_MultiImage& image, std::string& error)
{
    if (texture.mHeight == 0)
        return KV_ImageReader::Decode(reinterpret_cast<const unsigned char*>(texture.pcData),
                                      texture.mWidth, image, error);
    if (texture.mWidth > KV_ImageReader::kMaxSide || texture.mHeight > KV_ImageReader::kMaxSide)
    {
        error = "the embedded picture is too large";
        return false;
    }
    // Uncompressed texels, top row first.
    const int rows = static_cast<int>(texture.mHeight);
    const int cols = static_cast<int>(texture.mWidth);
    auto colour = std::make_unique<KV_Image<KV_RGB8>>(rows, cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
        {
            const aiTexel& t = texture.pcData[std::size_t(r) * cols + c];
            (*colour)(rows - 1 - r, c) = KV_RGB8(t.r, t.g, t.b);
        }
    image.SetImage(colour.release());
    return true;
}

// Loads a material's picture; on failure reports which file was looked for and where.
void LoadTexture(const aiScene& scene, const std::string& modelPath, KV_MaterialTexture& texture)
{
    std::string error;
    if (const aiTexture* embedded = scene.GetEmbeddedTexture(texture.name.c_str()))
    {
        texture.loaded = DecodeEmbedded(*embedded, *texture.image, error);
        if (!texture.loaded)
            ReportMessage(("The embedded texture " + texture.name + " of " + modelPath +
                           " cannot be decoded: " + error + ". The surface is shown without it.")
                              .c_str(),
                          "Texture not loaded");
        return;
    }
    std::string message, caption;
    texture.loaded = KV_ReadModelTexture(modelPath, texture.name, *texture.image, message, caption);
    if (!texture.loaded)
        ReportMessage(message.c_str(), caption.c_str());
}

// Turns a picture upside down (row 0 becomes the last row).
void FlipRows(KV_MultiImage& image)
{
    auto flip = [](auto* picture)
    {
        if (picture == nullptr)
            return;
        for (int r = 0, s = picture->Rows() - 1; r < s; ++r, --s)
            std::swap_ranges(picture->Row(r), picture->Row(r) + picture->Cols(), picture->Row(s));
    };
    if (image.IsColour())
        flip(&image.GetColourImage());
    else if (image.HasImage())
        flip(&image.GetGreyImage());
}

// The library's reason for refusing a file, in words for the user: where it passes on the
// name of a C++ exception (a count it tried to allocate for), what that means instead.
std::string LibraryReason(const std::string& reason)
{
    if (reason.empty())
        return "the file cannot be read";
    if (reason.find("bad_alloc") != std::string::npos)
        return "the import library ran out of memory on this file (it declares more than it "
               "holds, or more than this computer can hold)";
    if (reason.find("length_error") != std::string::npos ||
        reason.find("vector::") != std::string::npos ||
        reason.find("basic_string") != std::string::npos ||
        reason.find("bad_array_new_length") != std::string::npos)
        return "the file declares a size the import library cannot make";
    if (reason.rfind("std::", 0) == 0)
        return "the import library stopped on this file (an internal error)";
    return reason;
}

// glTF stores v with 0 at the top of the picture, and the library hands back 1 - v in single
// precision, which loses the low bits of a v below 0.5. For glTF 2.0 the surface keeps v as
// stored and the picture's top row as its row 0 instead: the same texel lands on every
// corner, and a file this program wrote comes back bit for bit. Each mesh takes the file's
// own values where they are what the library read (same count, u equal, 1 - v equal);
// otherwise its coordinates are turned back from the library's. False (nothing changed)
// when the file is not glTF 2.0 that can be parsed here.
bool KeepStoredGltfCoordinates(const std::string& path, const aiScene& scene)
{
    std::size_t values = 0;
    for (unsigned int k = 0; k < scene.mNumMeshes; ++k)
        values += 2 * std::size_t(scene.mMeshes[k]->mNumVertices);
    const KV_GltfCoordinates stored = KV_ReadGltfCoordinates(path, values);
    if (!stored.mbParsed)
        return false;
    const bool sameMeshes = stored.mkPrimitives.size() == scene.mNumMeshes;
    for (unsigned int k = 0; k < scene.mNumMeshes; ++k)
    {
        aiMesh& mesh = *scene.mMeshes[k];
        if (!mesh.HasTextureCoords(0))
            continue;
        aiVector3D* uv = mesh.mTextureCoords[0];
        const std::vector<float>* file = sameMeshes ? &stored.mkPrimitives[k] : nullptr;
        if (file != nullptr && file->size() != 2 * std::size_t(mesh.mNumVertices))
            file = nullptr;
        for (unsigned int i = 0; file != nullptr && i < mesh.mNumVertices; ++i)
            if (uv[i].x != (*file)[2 * i] || uv[i].y != 1.0f - (*file)[2 * i + 1])
                file = nullptr;
        for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
            uv[i].y = file != nullptr ? (*file)[2 * i + 1] : 1.0f - uv[i].y;
    }
    return true;
}

}  // namespace

bool KV_ImportScene(const std::string& path, const std::string& format,
                    KV_TexturedPolySurface& surface, KV_SurfaceAppearance* appearance,
                    std::string& reason)
{
    ClearResult(surface, appearance);
    reason.clear();

    Assimp::Importer importer;
    // Only the library's own check of the scene runs: everything else it could do to a mesh
    // (triangulation, welding, sorting by primitive type) is left undone so that the surface
    // keeps the file's polygons and their order. Points and lines are skipped below.
    const aiScene* scene = importer.ReadFile(path, aiProcess_ValidateDataStructure);
    if (scene == nullptr)
    {
        reason = LibraryReason(importer.GetErrorString());
        return false;
    }

    std::vector<MeshInstance> instances;
    if (!CollectInstances(*scene, instances, reason))
        return false;
    const bool topRowFirst =
        (format == "gltf" || format == "glb") && KeepStoredGltfCoordinates(path, *scene);

    std::size_t vertexTotal = 0, polygonTotal = 0;
    bool anyCoordinates = false, anyColours = false, allNormals = true;
    for (const MeshInstance& instance : instances)
    {
        const aiMesh& mesh = *instance.mesh;
        vertexTotal += mesh.mNumVertices;
        std::size_t meshPolygons = 0;
        for (unsigned int f = 0; f < mesh.mNumFaces; ++f)
            meshPolygons += mesh.mFaces[f].mNumIndices >= 3;
        polygonTotal += meshPolygons;
        anyCoordinates = anyCoordinates || mesh.HasTextureCoords(0);
        anyColours = anyColours || mesh.HasVertexColors(0);
        // The file's normals are used only where every polygon has them: a mesh without
        // them would leave corners with nothing to draw by.
        allNormals = allNormals && (meshPolygons == 0 || mesh.HasNormals());
    }
    if (polygonTotal == 0)
    {
        reason = "the file holds no polygons";
        return false;
    }
    const bool table = appearance != nullptr;

    // Geometry: vertices welded across every mesh instance, polygons in file order; with a
    // table, the first colour given to each welded vertex and each corner's normal.
    KV_BitWelder<3> vertices(vertexTotal);
    KV_List<KV_Polygon>& polygons = surface.Polygons();
    // One flat run when every face kept has the same number of corners, then filled in place.
    unsigned int uniform = 0;
    bool mixed = false;
    for (const MeshInstance& instance : instances)
        for (unsigned int f = 0; f < instance.mesh->mNumFaces && !mixed; ++f)
        {
            const unsigned int n = instance.mesh->mFaces[f].mNumIndices;
            if (n < 3)
                continue;
            mixed = uniform != 0 && n != uniform;
            uniform = n;
        }
    polygons.SetFlatCount(static_cast<unsigned int>(polygonTotal),
                          mixed || uniform > KV_List<KV_Polygon>::kMaxFlatCorners ? 0 : uniform);
    std::unique_ptr<KV_ColourCollector> colours;
    if (table && anyColours)
        colours = std::make_unique<KV_ColourCollector>(vertexTotal);
    std::unique_ptr<KV_NormalCollector> normals;
    if (table && allNormals)
        normals = std::make_unique<KV_NormalCollector>(vertexTotal, vertexTotal);
    std::vector<unsigned int> welded, normalClass;
    unsigned int polygon = 0;
    for (const MeshInstance& instance : instances)
    {
        const aiMesh& mesh = *instance.mesh;
        const bool transform = !IsIdentity(instance.transform);
        welded.resize(mesh.mNumVertices);
        for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
        {
            aiVector3D p = mesh.mVertices[i];
            if (transform)
                p = instance.transform * p;
            const float xyz[3] = {p.x, p.y, p.z};
            welded[i] = vertices.Index(xyz);
        }
        if (colours && mesh.HasVertexColors(0))
            for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
            {
                const aiColor4D& c = mesh.mColors[0][i];
                const std::uint8_t rgba[4] = {KV_ColourByte(c.r), KV_ColourByte(c.g),
                                              KV_ColourByte(c.b), KV_ColourByte(c.a)};
                colours->Set(welded[i], rgba);
            }
        if (normals && mesh.HasNormals())
        {
            // Normals turn with the inverse transpose of the node's transform, kept unit (a
            // transform that flattens the mesh has none: its normals stay as they are).
            aiMatrix3x3 turn(instance.transform);
            const float determinant = turn.Determinant();
            const bool turned = transform && std::isfinite(determinant) && determinant != 0.0f;
            if (turned)
                turn.Inverse().Transpose();
            normalClass.resize(mesh.mNumVertices);
            for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
            {
                aiVector3D n = mesh.mNormals[i];
                if (turned)
                    n = (turn * n).NormalizeSafe();
                const float xyz[3] = {n.x, n.y, n.z};
                normalClass[i] = normals->Weld(xyz);
            }
        }
        for (unsigned int f = 0; f < mesh.mNumFaces; ++f)
        {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices < 3)
                continue;
            KV_PolygonRef target = polygons[polygon++];
            target.SetCount(face.mNumIndices);
            for (unsigned int j = 0; j < face.mNumIndices; ++j)
            {
                const unsigned int index = face.mIndices[j];
                if (index >= mesh.mNumVertices)
                {
                    ClearResult(surface, appearance);
                    reason = "a face names vertex " + std::to_string(index) + " of a mesh of " +
                               KV_Counted(mesh.mNumVertices, "vertex", "vertices");
                    return false;
                }
                target[j] = welded[index];
                if (normals)
                    normals->Corner(welded[index], normalClass[index]);
            }
        }
    }
    KV_List<KV_Vector3D>& positions = surface.Vertices();
    positions.SetCount(static_cast<unsigned int>(vertices.Count()));
    for (std::size_t i = 0; i < vertices.Count(); ++i)
        std::memcpy(&positions[static_cast<unsigned int>(i)].x, vertices.Key(i).data(), 12);
    if (colours)
        colours->Finish(*appearance, vertices.Count());
    if (normals)
        normals->Finish(*appearance, vertices.Count());

    if (!anyCoordinates)
        return true;

    // Textures: one per textured material that polygons use.
    std::map<unsigned int, KV_MaterialTexture> textures;
    for (const MeshInstance& instance : instances)
    {
        const aiMesh& mesh = *instance.mesh;
        const unsigned int material = mesh.mMaterialIndex;
        aiString name;
        if (material >= scene->mNumMaterials || scene->mMaterials[material] == nullptr ||
            (textures.count(material) == 0 && !TexturePath(*scene->mMaterials[material], name)))
            continue;
        KV_MaterialTexture& texture = textures[material];
        if (texture.name.empty())
        {
            texture.name = name.C_Str();
            texture.material = scene->mMaterials[material]->GetName().C_Str();
        }
        for (unsigned int f = 0; f < mesh.mNumFaces; ++f)
            texture.polygons += mesh.mFaces[f].mNumIndices >= 3;
        const aiVector3D* uv = mesh.HasTextureCoords(0) ? mesh.mTextureCoords[0] : nullptr;
        for (unsigned int i = 0; uv != nullptr && i < mesh.mNumVertices; ++i)
            texture.inUnitSquare = texture.inUnitSquare && uv[i].x >= 0.0f && uv[i].x <= 1.0f &&
                                   uv[i].y >= 0.0f && uv[i].y <= 1.0f;
    }
    // Materials that share one picture file share one entry (in the packed image, or in
    // the table).
    std::vector<KV_MaterialTexture*> loaded;
    std::map<std::string, KV_MaterialTexture*> byName;
    for (auto& entry : textures)
    {
        KV_MaterialTexture& texture = entry.second;
        auto same = byName.find(texture.name);
        if (same != byName.end())
        {
            same->second->polygons += texture.polygons;
            same->second->inUnitSquare = same->second->inUnitSquare && texture.inUnitSquare;
            continue;
        }
        byName[texture.name] = &texture;
    }
    // (Pictures only once every material that shares one has counted its polygons: with a
    // table, a picture no polygon uses is not kept.)
    for (auto& entry : textures)
    {
        KV_MaterialTexture& texture = entry.second;
        if (byName[texture.name] != &texture || (table && texture.polygons == 0))
            continue;
        LoadTexture(*scene, path, texture);
        if (texture.loaded && topRowFirst)
            FlipRows(*texture.image);
        if (texture.loaded)
            loaded.push_back(&texture);
    }

    if (loaded.empty())
        return true;  // without a picture, coordinates would be texture data nothing draws
    // Without a table, one picture: several packed, or the one on most polygons. With a
    // table, each its own, and each polygon its material's index.
    std::vector<KV_MaterialTexture*> kept;
    if (table)
    {
        const std::vector<std::uint32_t> index =
            KV_KeepEveryTexture(loaded, surface.mpTextureMap, *appearance);
        std::map<const KV_MaterialTexture*, std::uint32_t> entryOf;
        for (std::size_t k = 0; k < loaded.size(); ++k) entryOf[loaded[k]] = index[k];
        std::vector<std::uint32_t>& uses = appearance->polygonMaterials;
        uses.reserve(polygonTotal);
        for (const MeshInstance& instance : instances)
        {
            std::uint32_t use = KV_SurfaceAppearance::kNoMaterial;
            const auto texture = textures.find(instance.mesh->mMaterialIndex);
            if (texture != textures.end())
            {
                const auto found = entryOf.find(byName[texture->second.name]);
                if (found != entryOf.end())
                    use = found->second;
            }
            for (unsigned int f = 0; f < instance.mesh->mNumFaces; ++f)
                if (instance.mesh->mFaces[f].mNumIndices >= 3)
                    uses.push_back(use);
        }
        KV_FinishMaterials(*appearance);
    }
    else
        kept = KV_KeepTextures(path, loaded, surface.mpTextureMap);

    // Texture coordinates welded mesh by mesh in vertex order (packed materials' moved into
    // their part of the image); one texture polygon per polygon.
    KV_BitWelder<2> coordinates(vertexTotal + 16);
    KV_List<KV_Polygon>& texturePolygons = KV_Ensure(surface.mpTexturePolygons, 1024);
    texturePolygons.SetFlatCount(polygons.Count(), polygons.FlatCornerCount());
    polygon = 0;
    for (const MeshInstance& instance : instances)
    {
        const aiMesh& mesh = *instance.mesh;
        const aiVector3D* uv = mesh.HasTextureCoords(0) ? mesh.mTextureCoords[0] : nullptr;
        const KV_MaterialTexture* packed = nullptr;
        if (kept.size() > 1)
        {
            auto entry = textures.find(mesh.mMaterialIndex);
            if (entry != textures.end() && byName[entry->second.name]->loaded)
                packed = byName[entry->second.name];
        }
        welded.resize(mesh.mNumVertices);
        for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
        {
            float st[2] = {uv ? uv[i].x : 0.0f, uv ? uv[i].y : 0.0f};
            if (packed != nullptr)
            {
                st[0] = st[0] * packed->uScale + packed->uOffset;
                st[1] = st[1] * packed->vScale + packed->vOffset;
            }
            welded[i] = coordinates.Index(st);
        }
        for (unsigned int f = 0; f < mesh.mNumFaces; ++f)
        {
            const aiFace& face = mesh.mFaces[f];
            if (face.mNumIndices < 3)
                continue;
            KV_PolygonRef target = texturePolygons[polygon++];
            target.SetCount(face.mNumIndices);
            for (unsigned int j = 0; j < face.mNumIndices; ++j)
                target[j] = welded[face.mIndices[j]];
        }
    }
    KV_List<KV_Vector2D>& list = KV_Ensure(surface.mpTextureCoordinates, 1024);
    list.SetCount(static_cast<unsigned int>(coordinates.Count()));
    for (std::size_t i = 0; i < coordinates.Count(); ++i)
        std::memcpy(&list[static_cast<unsigned int>(i)].u, coordinates.Key(i).data(), 8);
    return true;
}
