#include "meshfile/KV_MeshImporter.h"

#include "foundation/KV_Report.h"
#include "meshfile/KV_BitWelder.h"
#include "meshfile/KV_DeclaredSizes.h"
#include "meshfile/KV_GltfCoordinates.h"
#include "meshfile/KV_MaterialTextures.h"
#include "meshfile/KV_ModelAppearance.h"
#include "meshfile/KV_ObjReader.h"
#include "meshfile/KV_PlyReader.h"
#include "meshfile/KV_TextureLookup.h"
#include "image/KV_ImageReader.h"
#include "image/KV_MultiImage.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_ByteCursor.h"

#include <assimp/Importer.hpp>
#include <assimp/importerdesc.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <chrono>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
double gdTimeLimitSeconds = 60.0;
bool gbDirectReaders = true;
}  // namespace

void KV_MeshImporter::SetTimeLimit(double seconds)
{
    gdTimeLimitSeconds = seconds;
}

void KV_MeshImporter::UseDirectReaders(bool use)
{
    gbDirectReaders = use;
}

namespace
{

std::string LowerExtension(const std::string& path)
{
    const std::string name = fs::path(path).filename().string();
    const std::size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
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

KV_MeshImporter::KV_MeshImporter(KV_TexturedPolySurface& surface,
                                 KV_SurfaceAppearance* appearance)
    : mkSurface(surface), mpAppearance(appearance)
{
}

void KV_MeshImporter::ClearResult()
{
    mkSurface.Clear();
    if (mpAppearance != nullptr)
        mpAppearance->Clear();
}

bool KV_MeshImporter::CanRead(const std::string& path)
{
    const std::string extension = LowerExtension(path);
    return !extension.empty() && Assimp::Importer().IsExtensionSupported("." + extension);
}

std::vector<KV_MeshImporter::FormatInfo> KV_MeshImporter::ReadableFormats()
{
    Assimp::Importer importer;
    std::vector<FormatInfo> formats;
    for (std::size_t i = 0; i < importer.GetImporterCount(); ++i)
    {
        const aiImporterDesc* description = importer.GetImporterInfo(i);
        if (description == nullptr || description->mFileExtensions == nullptr)
            continue;
        FormatInfo format;
        format.name = description->mName != nullptr ? description->mName : "";
        std::stringstream stream(description->mFileExtensions);
        std::string extension;
        while (stream >> extension)
        {
            for (char& c : extension)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (std::find(format.extensions.begin(), format.extensions.end(), extension) ==
                format.extensions.end())
                format.extensions.push_back(extension);
        }
        if (!format.extensions.empty())
            formats.push_back(format);
    }
    return formats;
}

std::vector<std::string> KV_MeshImporter::ReadableExtensions()
{
    std::string list;
    Assimp::Importer().GetExtensionList(list);
    std::vector<std::string> extensions;
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ';'))
    {
        const std::size_t dot = item.find('.');
        if (dot == std::string::npos)
            continue;
        std::string extension = item.substr(dot + 1);
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        extensions.push_back(extension);
    }
    std::sort(extensions.begin(), extensions.end());
    extensions.erase(std::unique(extensions.begin(), extensions.end()), extensions.end());
    return extensions;
}

bool KV_MeshImporter::ReadHere(const std::string& path)
{
    ClearResult();
    mkReason.clear();
    mkFormat = LowerExtension(path);

    Assimp::Importer importer;
    // Only the library's own check of the scene runs: everything else it could do to a mesh
    // (triangulation, welding, sorting by primitive type) is left undone so that the surface
    // keeps the file's polygons and their order. Points and lines are skipped below.
    const aiScene* scene = importer.ReadFile(path, aiProcess_ValidateDataStructure);
    if (scene == nullptr)
    {
        mkReason = LibraryReason(importer.GetErrorString());
        return false;
    }

    std::vector<MeshInstance> instances;
    if (!CollectInstances(*scene, instances, mkReason))
        return false;
    const bool topRowFirst =
        (mkFormat == "gltf" || mkFormat == "glb") && KeepStoredGltfCoordinates(path, *scene);

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
        mkReason = "the file holds no polygons";
        return false;
    }
    const bool table = mpAppearance != nullptr;

    // Geometry: vertices welded across every mesh instance, polygons in file order; with a
    // table, the first colour given to each welded vertex and each corner's normal.
    KV_BitWelder<3> vertices(vertexTotal);
    KV_List<KV_Polygon>& polygons = mkSurface.Polygons();
    polygons.SetCount(static_cast<unsigned int>(polygonTotal));
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
            KV_Polygon& target = polygons[polygon++];
            target.SetCount(face.mNumIndices);
            for (unsigned int j = 0; j < face.mNumIndices; ++j)
            {
                const unsigned int index = face.mIndices[j];
                if (index >= mesh.mNumVertices)
                {
                    ClearResult();
                    mkReason = "a face names vertex " + std::to_string(index) + " of a mesh of " +
                               std::to_string(mesh.mNumVertices) + " vertices";
                    return false;
                }
                target[j] = welded[index];
                if (normals)
                    normals->Corner(welded[index], normalClass[index]);
            }
        }
    }
    KV_List<KV_Vector3D>& positions = mkSurface.Vertices();
    positions.SetCount(static_cast<unsigned int>(vertices.Count()));
    for (std::size_t i = 0; i < vertices.Count(); ++i)
        std::memcpy(&positions[static_cast<unsigned int>(i)].x, vertices.Key(i).data(), 12);
    if (colours)
        colours->Finish(*mpAppearance, vertices.Count());
    if (normals)
        normals->Finish(*mpAppearance, vertices.Count());

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
            KV_KeepEveryTexture(loaded, mkSurface.mpTextureMap, *mpAppearance);
        std::map<const KV_MaterialTexture*, std::uint32_t> entryOf;
        for (std::size_t k = 0; k < loaded.size(); ++k) entryOf[loaded[k]] = index[k];
        std::vector<std::uint32_t>& uses = mpAppearance->polygonMaterials;
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
        KV_FinishMaterials(*mpAppearance);
    }
    else
        kept = KV_KeepTextures(path, loaded, mkSurface.mpTextureMap);

    // Texture coordinates welded mesh by mesh in vertex order (packed materials' moved into
    // their part of the image); one texture polygon per polygon.
    KV_BitWelder<2> coordinates(vertexTotal + 16);
    KV_List<KV_Polygon>& texturePolygons = KV_Ensure(mkSurface.mpTexturePolygons, 1024);
    texturePolygons.SetCount(polygons.Count());
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
            KV_Polygon& target = texturePolygons[polygon++];
            target.SetCount(face.mNumIndices);
            for (unsigned int j = 0; j < face.mNumIndices; ++j)
                target[j] = welded[face.mIndices[j]];
        }
    }
    KV_List<KV_Vector2D>& list = KV_Ensure(mkSurface.mpTextureCoordinates, 1024);
    list.SetCount(static_cast<unsigned int>(coordinates.Count()));
    for (std::size_t i = 0; i < coordinates.Count(); ++i)
        std::memcpy(&list[static_cast<unsigned int>(i)].u, coordinates.Key(i).data(), 8);
    return true;
}

// ---- The child process and what it hands back

namespace
{

using Bytes = std::vector<unsigned char>;

// Writes little-endian values into a block sized beforehand: the first pass (no block)
// only counts.
class Packer
{
public:
    explicit Packer(unsigned char* out) : mpOut(out) {}
    std::size_t Size() const { return munSize; }

    void U8(unsigned char value)
    {
        if (mpOut != nullptr)
            mpOut[munSize] = value;
        ++munSize;
    }
    void U32(std::uint32_t value)
    {
        if (mpOut != nullptr)
            for (int i = 0; i < 4; ++i)
                mpOut[munSize + i] = static_cast<unsigned char>(value >> (8 * i));
        munSize += 4;
    }
    void Float(float value)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        U32(bits);
    }
    void Raw(const unsigned char* data, std::size_t count)
    {
        if (mpOut != nullptr && count > 0)
            std::memcpy(mpOut + munSize, data, count);
        munSize += count;
    }
    void Text(const std::string& text)
    {
        U32(static_cast<std::uint32_t>(text.size()));
        Raw(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
    void Image(const KV_MultiImage& image)
    {
        const bool colour = image.ColourImage() != nullptr;
        U8(colour ? 3 : 1);
        U32(static_cast<std::uint32_t>(image.Rows()));
        U32(static_cast<std::uint32_t>(image.Cols()));
        const unsigned char* pixels =
            colour ? reinterpret_cast<const unsigned char*>(image.ColourImage()->Data())
                   : image.GreyImage() != nullptr ? image.GreyImage()->Data() : nullptr;
        Raw(pixels, std::size_t(image.Rows()) * image.Cols() * (colour ? 3 : 1));
    }
    void Words(const std::vector<std::uint32_t>& words)
    {
        U32(static_cast<std::uint32_t>(words.size()));
        if (mpOut == nullptr)
            munSize += 4 * words.size();
        else
            for (std::uint32_t word : words) U32(word);
    }
    void Polygons(const KV_List<KV_Polygon>& polygons)
    {
        U32(polygons.Count());
        for (unsigned int p = 0; p < polygons.Count(); ++p)
        {
            const KV_Polygon& polygon = polygons[p];
            U32(polygon.Count());
            if (mpOut == nullptr)
            {
                munSize += 4 * std::size_t(polygon.Count());
                continue;
            }
            for (unsigned int j = 0; j < polygon.Count(); ++j) U32(polygon[j]);
        }
    }

private:
    unsigned char* mpOut;
    std::size_t munSize = 0;
};

std::string TakeText(KV_ByteCursor& in)
{
    const std::uint32_t length = in.U32();
    const unsigned char* text = in.Take(length);
    return std::string(reinterpret_cast<const char*>(text), length);
}

void TakePolygons(KV_ByteCursor& in, KV_List<KV_Polygon>& polygons)
{
    const std::uint32_t count = in.U32();
    in.Require(count, 4);
    polygons.SetCount(count);
    for (std::uint32_t p = 0; p < count; ++p)
    {
        const std::uint32_t corners = in.U32();
        in.Require(corners, 4);
        polygons[p].SetCount(corners);
        for (std::uint32_t j = 0; j < corners; ++j) polygons[p][j] = in.U32();
    }
}

void Pack(Packer& out, bool read, const std::string& reason, const std::string& format,
          const std::vector<std::pair<std::string, std::string>>& messages,
          const KV_TexturedPolySurface& surface)
{
    out.U8(read ? 1 : 0);
    out.Text(reason);
    out.Text(format);
    out.U32(static_cast<std::uint32_t>(messages.size()));
    for (const auto& message : messages)
    {
        out.Text(message.first);
        out.Text(message.second);
    }
    if (!read)
        return;
    out.U32(surface.VertexCount());
    for (unsigned int i = 0; i < surface.VertexCount(); ++i)
    {
        const KV_Vector3D& p = (*surface.mpVertices)[i];
        out.Float(p.x);
        out.Float(p.y);
        out.Float(p.z);
    }
    out.Polygons(*surface.mpPolygons);
    const bool textured = surface.HasTextureMap();
    out.U8(textured ? 1 : 0);
    if (!textured)
        return;
    out.U32(surface.mpTextureCoordinates->Count());
    for (unsigned int i = 0; i < surface.mpTextureCoordinates->Count(); ++i)
    {
        out.Float((*surface.mpTextureCoordinates)[i].u);
        out.Float((*surface.mpTextureCoordinates)[i].v);
    }
    out.Polygons(*surface.mpTexturePolygons);
    out.Image(*surface.mpTextureMap);
}

// The table after the surface: its materials (name, whether textured, the picture when it
// holds one), then its four lists, each as a count and the values.
void PackAppearance(Packer& out, const KV_SurfaceAppearance* appearance)
{
    out.U8(appearance != nullptr ? 1 : 0);
    if (appearance == nullptr)
        return;
    out.U32(static_cast<std::uint32_t>(appearance->materials.size()));
    for (const KV_SurfaceMaterial& material : appearance->materials)
    {
        out.Text(material.name);
        out.U8(material.textured ? 1 : 0);
        const bool image = material.image != nullptr && material.image->HasImage();
        out.U8(image ? 1 : 0);
        if (image)
            out.Image(*material.image);
    }
    out.Words(appearance->polygonMaterials);
    out.U32(static_cast<std::uint32_t>(appearance->vertexColours.size()));
    out.Raw(appearance->vertexColours.data(), appearance->vertexColours.size());
    out.U32(static_cast<std::uint32_t>(appearance->normals.size()));
    for (const KV_Vector3D& n : appearance->normals)
    {
        out.Float(n.x);
        out.Float(n.y);
        out.Float(n.z);
    }
    out.Words(appearance->cornerNormals);
}

// The hand-back: its size (8 bytes), then the packed result, then (when read) the table.
Bytes Encode(bool read, const std::string& reason, const std::string& format,
             const std::vector<std::pair<std::string, std::string>>& messages,
             const KV_TexturedPolySurface& surface, const KV_SurfaceAppearance* appearance)
{
    auto pack = [&](Packer& out)
    {
        Pack(out, read, reason, format, messages, surface);
        if (read)
            PackAppearance(out, appearance);
    };
    Packer count(nullptr);
    pack(count);
    Bytes out(8 + count.Size());
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(std::uint64_t(count.Size()) >> (8 * i));
    Packer fill(out.data() + 8);
    pack(fill);
    return out;
}

// A picture as Packer::Image wrote it.
std::unique_ptr<KV_MultiImage> TakeImage(KV_ByteCursor& in)
{
    const unsigned int kind = in.U8();
    const std::uint32_t rows = in.U32();
    const std::uint32_t cols = in.U32();
    if ((kind != 1 && kind != 3) || rows > KV_ImageReader::kMaxSide ||
        cols > KV_ImageReader::kMaxSide)
        throw KV_BadFile();
    const unsigned char* p = in.Take(std::uint64_t(rows) * cols * kind);
    auto picture = std::make_unique<KV_MultiImage>();
    if (kind == 3)
    {
        auto image =
            std::make_unique<KV_Image<KV_RGB8>>(static_cast<int>(rows), static_cast<int>(cols));
        std::memcpy(image->Data(), p, std::size_t(rows) * cols * 3);
        picture->SetImage(image.release());
    }
    else
    {
        auto image = std::make_unique<KV_Image<unsigned char>>(static_cast<int>(rows),
                                                               static_cast<int>(cols));
        std::memcpy(image->Data(), p, std::size_t(rows) * cols);
        picture->SetImage(image.release());
    }
    return picture;
}

std::vector<std::uint32_t> TakeWords(KV_ByteCursor& in)
{
    const std::uint32_t count = in.U32();
    const unsigned char* p = in.Take(std::uint64_t(count) * 4);
    std::vector<std::uint32_t> words(count);
    for (std::uint32_t i = 0; i < count; ++i) words[i] = KV_LoadU32(p + 4 * std::size_t(i));
    return words;
}

// The table PackAppearance wrote, checked against the surface it came with: counts that are
// not the surface's, an index past its list, a picture without a textured material, or a
// table nobody asked for throw KV_BadFile.
void TakeAppearance(KV_ByteCursor& in, const KV_TexturedPolySurface& surface,
                    KV_SurfaceAppearance* appearance)
{
    if (in.U8() == 0)
        return;
    if (appearance == nullptr)
        throw KV_BadFile();
    KV_SurfaceAppearance& table = *appearance;
    const std::uint32_t materials = in.U32();
    in.Require(materials, 6);  // a name's length and two flags at least
    table.materials.resize(materials);
    for (KV_SurfaceMaterial& material : table.materials)
    {
        material.name = TakeText(in);
        material.textured = in.U8() != 0;
        if (in.U8() != 0)
        {
            if (!material.textured)
                throw KV_BadFile();
            material.image = TakeImage(in);
        }
    }
    table.polygonMaterials = TakeWords(in);
    if (!table.polygonMaterials.empty() && table.polygonMaterials.size() != surface.PolygonCount())
        throw KV_BadFile();
    for (std::uint32_t m : table.polygonMaterials)
        if (m != KV_SurfaceAppearance::kNoMaterial && m >= materials)
            throw KV_BadFile();
    const std::uint32_t colours = in.U32();
    if (colours != 0 && colours != 4 * std::uint64_t(surface.VertexCount()))
        throw KV_BadFile();
    const unsigned char* p = in.Take(colours);
    table.vertexColours.assign(p, p + colours);
    const std::uint32_t normals = in.U32();
    p = in.Take(std::uint64_t(normals) * 12);
    table.normals.resize(normals);
    for (std::uint32_t i = 0; i < normals; ++i, p += 12)
        table.normals[i] = KV_Vector3D(KV_LoadF32(p), KV_LoadF32(p + 4), KV_LoadF32(p + 8));
    table.cornerNormals = TakeWords(in);
    std::uint64_t corners = 0;
    for (unsigned int k = 0; k < surface.PolygonCount(); ++k)
        corners += (*surface.mpPolygons)[k].Count();
    if (!table.cornerNormals.empty() && table.cornerNormals.size() != corners)
        throw KV_BadFile();
    for (std::uint32_t n : table.cornerNormals)
        if (n >= normals)
            throw KV_BadFile();
    if (table.cornerNormals.empty() && normals != 0 && normals != surface.VertexCount())
        throw KV_BadFile();
    if (!in.AtEnd())
        throw KV_BadFile();
}

// Fills the surface (and the table, when one is asked for) from what the child sent; throws
// KV_ShortRead on anything incomplete, KV_BadFile on anything inconsistent.
bool Decode(KV_ByteCursor& in, std::string& reason, std::string& format,
            KV_TexturedPolySurface& surface, KV_SurfaceAppearance* appearance)
{
    const bool read = in.U8() != 0;
    reason = TakeText(in);
    format = TakeText(in);
    const std::uint32_t messages = in.U32();
    for (std::uint32_t i = 0; i < messages; ++i)
    {
        const std::string text = TakeText(in);
        const std::string caption = TakeText(in);
        ReportMessage(text.c_str(), caption.c_str());
    }
    if (!read)
        return false;
    const std::uint32_t vertices = in.U32();
    const unsigned char* p = in.Take(std::uint64_t(vertices) * 12);
    KV_List<KV_Vector3D>& list = surface.Vertices();
    list.SetCount(vertices);
    for (std::uint32_t i = 0; i < vertices; ++i, p += 12)
        list[i] = KV_Vector3D(KV_LoadF32(p), KV_LoadF32(p + 4), KV_LoadF32(p + 8));
    TakePolygons(in, surface.Polygons());
    if (in.U8() != 0)
    {
        const std::uint32_t coordinates = in.U32();
        p = in.Take(std::uint64_t(coordinates) * 8);
        KV_List<KV_Vector2D>& uv = KV_Ensure(surface.mpTextureCoordinates, 1024);
        uv.SetCount(coordinates);
        for (std::uint32_t i = 0; i < coordinates; ++i, p += 8)
            uv[i] = KV_Vector2D(KV_LoadF32(p), KV_LoadF32(p + 4));
        TakePolygons(in, KV_Ensure(surface.mpTexturePolygons, 1024));
        surface.mpTextureMap = TakeImage(in).release();
    }
    TakeAppearance(in, surface, appearance);
    return true;
}

bool WriteAll(int fd, const Bytes& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string KV_MeshImporter::HelperProgram()
{
    if (const char* chosen = std::getenv("ORVANE_IMPORT_HELPER"))
        return chosen;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error)
    {
        const fs::path installed =
            self.parent_path().parent_path() / "libexec" / "orvane-view" / "orvane-import";
        if (access(installed.c_str(), X_OK) == 0)
            return installed.string();
    }
#ifdef ORVANE_IMPORT_HELPER_BUILT
    if (access(ORVANE_IMPORT_HELPER_BUILT, X_OK) == 0)
        return ORVANE_IMPORT_HELPER_BUILT;
#endif
    return std::string();
}

void KV_MeshImporter::ReadAndSend(const std::string& path, int fd)
{
    // A crash ends the child by its signal, which the waiting program reports; handlers the
    // program installed for itself (a sanitizer's, a fuzzer's) do not run here.
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, SIG_DFL);
    // Messages travel back with the surface instead of being shown here.
    std::vector<std::pair<std::string, std::string>> messages;
    SetReportSink([&messages](const char* text, const char* caption, KV_ReportKind)
                  { messages.emplace_back(text, caption); });
    const bool read = ReadHere(path);
    const bool sent =
        WriteAll(fd, Encode(read, mkReason, mkFormat, messages, mkSurface, mpAppearance));
    close(fd);
    // No exit handlers: the surface is the waiting program's now, and a forked child must
    // not run the program's own.
    _exit(sent ? 0 : 1);
}

void KV_MeshImporter::RunHelper(int argc, char** argv)
{
    // A child whose program has gone (killed while waiting for it) goes too; one that went
    // before this line was reached is seen by the parent's id.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 5 || std::to_string(getppid()) != argv[3])
        _exit(2);
    char* end = nullptr;
    const long fd = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || fd < 3)
        _exit(2);
    KV_TexturedPolySurface surface;
    KV_SurfaceAppearance appearance;
    const bool table = std::strcmp(argv[4], "table") == 0;
    KV_MeshImporter(surface, table ? &appearance : nullptr)
        .ReadAndSend(argv[1], static_cast<int>(fd));
}

bool KV_MeshImporter::Read(const std::string& path)
{
    ClearResult();
    mkReason.clear();
    mkFormat = LowerExtension(path);

    // Binary PLY of the usual layouts is read by our own reader, here: see KV_PlyReader for
    // why. What it does not take goes to the library as before.
    if (gbDirectReaders && mkFormat == "ply")
    {
        KV_PlyReader direct(mkSurface, mpAppearance);
        const KV_PlyReader::Outcome outcome = direct.Read(path);
        if (outcome != KV_PlyReader::Outcome::NotHandled)
        {
            mkReason = direct.Reason();
            return outcome == KV_PlyReader::Outcome::Handled;
        }
    }
    // OBJ files likewise by KV_ObjReader, unless they hold what only the library reads alike.
    if (gbDirectReaders && mkFormat == "obj" && KV_ObjReader(mkSurface, mpAppearance).Read(path))
        return true;
    // What a file declares is held against what it holds before the library sees it: some of
    // its readers allocate for any count a header claims, or wait for data that never comes.
    if (!KV_CheckDeclaredSizes(path, mkFormat, mkReason))
        return false;

    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
    {
        mkReason = "cannot start the import (no pipe)";
        return false;
    }
    const std::string helper = HelperProgram();
    pid_t child = -1;
    if (!helper.empty())
    {
        // The write end becomes the helper's descriptor 3; every other descriptor of ours
        // closes on exec.
        const std::string parent = std::to_string(getpid());
        const char* arguments[] = {helper.c_str(),
                                   path.c_str(),
                                   "3",
                                   parent.c_str(),
                                   mpAppearance != nullptr ? "table" : "surface",
                                   nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, channel[1], 3);
        if (posix_spawn(&child, helper.c_str(), &actions, nullptr,
                        const_cast<char* const*>(arguments), environ) != 0)
            child = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    else
    {
        child = fork();
        if (child == 0)
        {
            close(channel[0]);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            ReadAndSend(path, channel[1]);
        }
    }
    if (child < 0)
    {
        close(channel[0]);
        close(channel[1]);
        mkReason = "cannot start the import (no process)";
        return false;
    }

    close(channel[1]);
    // The library's readers are not all safe from endless loops: the child gets a time
    // that grows with the file, far more than any well-formed file needs.
    struct stat file;
    const double megabytes = stat(path.c_str(), &file) == 0 ? file.st_size / 1048576.0 : 0.0;
    const double limit = gdTimeLimitSeconds * (1.0 + megabytes / 4.0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    // The size first, then the block, read straight into place.
    std::unique_ptr<unsigned char[]> received;
    unsigned char head[8];
    std::size_t expected = 0, got = 0;
    bool late = false;
    for (;;)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready = {channel[0], POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0)
        {
            late = true;
            kill(child, SIGKILL);
            break;
        }
        unsigned char* into = received ? received.get() + got : head + got;
        const std::size_t room = received ? expected - got : sizeof head - got;
        if (room == 0)
            break;
        const ssize_t n = read(channel[0], into, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
        if (!received && got == sizeof head)
        {
            std::uint64_t size = 0;
            for (int i = 0; i < 8; ++i) size |= std::uint64_t(head[i]) << (8 * i);
            // More than the largest surface the counts allow is a broken hand-back.
            if (size > (std::uint64_t(1) << 40))
                break;
            expected = static_cast<std::size_t>(size);
            received.reset(new unsigned char[expected > 0 ? expected : 1]);
            got = 0;
        }
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    if (late)
    {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.0f", limit);
        mkReason = std::string("the import library did not finish within ") + seconds + " s";
        return false;
    }
    if (WIFSIGNALED(status))
    {
        const int signal = WTERMSIG(status);
        mkReason = "the import library stopped on this file (signal " + std::to_string(signal) +
                   ", " + strsignal(signal) + ")";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    {
        mkReason = "the import library stopped on this file (exit status " +
                   std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
        return false;
    }
    KV_ByteCursor in(received.get(), received && got == expected ? expected : 0);
    try
    {
        std::string format;
        const bool read = Decode(in, mkReason, format, mkSurface, mpAppearance);
        if (!read)
            ClearResult();
        return read;
    }
    catch (const KV_ShortRead&)
    {
        mkReason = "the import ended before it handed the whole surface back";
    }
    catch (const KV_BadFile&)
    {
        mkReason = "the import handed back a surface whose parts do not fit together";
    }
    catch (const std::bad_alloc&)
    {
        mkReason = "not enough memory for the surface the import handed back";
    }
    ClearResult();
    return false;
}
