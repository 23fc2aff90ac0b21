#include "meshfile/KV_MeshExporter.h"

#include "image/KV_MultiImage.h"
#include "foundation/KV_Report.h"
#include "image/KV_PngWriter.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_CRC32.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const char kGenerator[] = "Orvane Image View";

using Bytes = std::vector<unsigned char>;

void Put32(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void PutFloat(Bytes& out, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    Put32(out, bits);
}

void PutText(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

// Shortest text that reads back as the same float.
std::string Real(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// The files written for one export; removed again when a later one fails.
class OutputFiles
{
public:
    ~OutputFiles()
    {
        if (!mbKept)
            for (const std::string& path : mkWritten) std::remove(path.c_str());
    }
    bool Write(const std::string& path, const Bytes& bytes, std::string& error)
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr)
        {
            error = "cannot create " + path;
            return false;
        }
        mkWritten.push_back(path);
        bool written =
            bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        written = std::fclose(file) == 0 && written;
        if (!written)
            error = "cannot write " + path;
        return written;
    }
    bool WritePng(const std::string& path, const KV_MultiImage& image, std::string& error)
    {
        Bytes png;
        if (!KV_PngWriter::Encode(image, png, error))
        {
            error = "the texture cannot be encoded: " + error;
            return false;
        }
        return Write(path, png, error);
    }
    void Keep() { mbKept = true; }

private:
    std::vector<std::string> mkWritten;
    bool mbKept = false;
};

const std::uint32_t kNone = 0xffffffffu;

// A material as written: its name as the model gives it, and its picture (an index into
// Source::pictures), or none for a plain one.
struct Material
{
    std::string name;
    std::uint32_t picture = kNone;
    unsigned long polygons = 0;
};

// The surface and its table as the writers see them: whether its texture coordinates pair
// with its polygons, the materials that polygons use (in the table's order, then a plain one
// for the polygons that name none) and their distinct pictures, the vertex colours and the
// file's normals, each only where it fits the surface.
struct Source
{
    const KV_TexturedPolySurface& surface;
    KV_SurfaceAppearance table;  // a fitted copy; empty without one
    bool given = false;          // a table came with the surface (losses are reported)
    bool coordinates = false;
    bool image = false;  // the surface's own picture goes with the coordinates
    // Materials are declared in the file; false for a surface without any picture or table,
    // written bare as it always was.
    bool declared = false;
    std::vector<Material> materials;
    std::vector<std::uint32_t> polygonMaterial;  // index into materials, one per polygon
    std::vector<const KV_MultiImage*> pictures;

    Source(const KV_TexturedPolySurface& s, const KV_SurfaceAppearance* appearance) : surface(s)
    {
        const unsigned int polygons = s.PolygonCount();
        coordinates = s.mpTextureCoordinates != nullptr && s.mpTexturePolygons != nullptr &&
                      s.mpTexturePolygons->Count() == polygons && polygons > 0;
        for (unsigned int i = 0; coordinates && i < polygons; ++i)
        {
            const KV_PolygonView& tp = (*s.mpTexturePolygons)[i];
            coordinates = tp.Count() == (*s.mpPolygons)[i].Count();
            for (unsigned int j = 0; coordinates && j < tp.Count(); ++j)
                coordinates = tp[j] < s.mpTextureCoordinates->Count();
        }
        image = coordinates && Drawable(s.mpTextureMap);
        if (appearance != nullptr)
        {
            given = true;
            table = *appearance;
            table.Fit(s);
        }
        polygonMaterial.assign(polygons, 0);
        if (table.polygonMaterials.empty())
        {
            declared = image;
            materials.push_back({"surface", image ? Picture(s.mpTextureMap) : kNone, polygons});
            return;
        }
        // Materials in the table's order, each once, as far as polygons use them.
        declared = true;
        std::vector<std::uint32_t> written(table.materials.size() + 1, kNone);
        std::vector<unsigned long> uses(table.materials.size() + 1, 0);
        for (std::uint32_t m : table.polygonMaterials)
            ++uses[m == KV_SurfaceAppearance::kNoMaterial ? table.materials.size() : m];
        for (std::size_t m = 0; m <= table.materials.size(); ++m)
        {
            if (uses[m] == 0)
                continue;
            written[m] = static_cast<std::uint32_t>(materials.size());
            if (m == table.materials.size())
            {
                materials.push_back({"plain", kNone, uses[m]});
                continue;
            }
            const KV_MultiImage* picture =
                coordinates ? table.MaterialImage(static_cast<std::uint32_t>(m), s) : nullptr;
            materials.push_back(
                {table.materials[m].name, Drawable(picture) ? Picture(picture) : kNone, uses[m]});
        }
        for (unsigned int p = 0; p < polygons; ++p)
        {
            const std::uint32_t m = table.polygonMaterials[p];
            polygonMaterial[p] =
                written[m == KV_SurfaceAppearance::kNoMaterial ? table.materials.size() : m];
        }
    }

    const KV_List<KV_Polygon>& Polygons() const { return *surface.mpPolygons; }
    const KV_Vector3D& Vertex(unsigned int i) const { return (*surface.mpVertices)[i]; }
    bool Colours() const { return table.HasVertexColours(); }
    const std::uint8_t* Colour(unsigned int vertex) const
    {
        return table.vertexColours.data() + 4 * std::size_t(vertex);
    }
    bool Normals() const { return table.HasNormals(); }

    // The materials whose pictures a format with one picture (the surface's own) leaves out,
    // as a phrase; empty when there are none.
    std::string OtherPictures() const
    {
        std::string names;
        unsigned long polygons = 0, count = 0;
        const unsigned long named = 8;  // then "and N more"
        for (std::size_t k = 0; k < materials.size(); ++k)
        {
            const Material& material = materials[k];
            if (material.picture == kNone || pictures[material.picture] == surface.mpTextureMap)
                continue;
            if (++count <= named)
                names += (names.empty() ? "" : ", ") +
                         (material.name.empty() ? "#" + std::to_string(k + 1) : material.name);
            polygons += material.polygons;
        }
        if (count == 0)
            return "";
        if (count > named)
            names += " and " + std::to_string(count - named) + " more";
        return "the pictures of the materials " + names + " (" + std::to_string(polygons) +
               " polygons; only the surface's own picture is kept)";
    }

private:
    static bool Drawable(const KV_MultiImage* picture)
    {
        return picture != nullptr && picture->HasImage() && picture->Rows() > 0 &&
               picture->Cols() > 0;
    }
    // The index of a picture among the distinct ones, added when new: materials that share a
    // picture share its file.
    std::uint32_t Picture(const KV_MultiImage* picture)
    {
        const auto found =
            mkPictureIndex.emplace(picture, static_cast<std::uint32_t>(pictures.size()));
        if (found.second)
            pictures.push_back(picture);
        return found.first->second;
    }
    std::unordered_map<const KV_MultiImage*, std::uint32_t> mkPictureIndex;
};

// Says, as a message, what the written file leaves out of the surface's table because its
// format cannot hold it; nothing when the table left nothing out or none came.
void ReportLeftOut(const Source& source, const std::string& path, KV_MeshFormat format,
                   const std::vector<std::string>& parts)
{
    std::string list;
    for (std::size_t k = 0; k < parts.size(); ++k)
    {
        if (parts[k].empty())
            continue;
        list += (list.empty() ? "" : "; ") + parts[k];
    }
    if (!source.given || list.empty())
        return;
    std::string name = KV_MeshExporter::FormatName(format);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ReportMessage(
        (path + " was written without what the " + name + " format cannot hold: " + list + ".")
            .c_str(),
        "Left out of the saved file");
}

// A polygon corner as formats with one value of each kind per vertex see it.
struct CornerKey
{
    std::uint32_t vertex, coordinate, normal;
    bool operator==(const CornerKey& other) const
    {
        return vertex == other.vertex && coordinate == other.coordinate && normal == other.normal;
    }
};

struct CornerKeyHash
{
    std::size_t operator()(const CornerKey& key) const
    {
        std::uint64_t h =
            ((std::uint64_t(key.vertex) << 32) | key.coordinate) * 0x9E3779B97F4A7C15ull ^
            std::uint64_t(key.normal) * 0xC2B2AE3D27D4EB4Full;
        return static_cast<std::size_t>(h ^ (h >> 31));
    }
};

// One vertex per (position, texture coordinate, normal) of a corner, for formats that carry
// one of each per vertex. Entry v < vertex count is vertex v with the coordinate and normal of
// its first corner; further combinations follow in order of first use, so that welding the
// positions restores the vertex list. Expected linear time (one hash look-up per corner that
// differs from its vertex's first).
struct SplitVertices
{
    std::vector<std::uint32_t> vertex;      // geometry vertex of each output vertex
    std::vector<std::uint32_t> coordinate;  // its texture coordinate, kNone when none
    std::vector<std::uint32_t> normal;      // its normal in the table, kNone when none
    std::vector<std::uint32_t> corners;     // output vertex of each corner, in polygon order
    std::vector<std::size_t> start;         // first corner of each polygon, and the end

    explicit SplitVertices(const Source& source)
    {
        const unsigned int count = source.surface.VertexCount();
        const KV_List<KV_Polygon>& polygons = source.Polygons();
        const KV_SurfaceAppearance& table = source.table;
        const bool cornerNormals = table.HasCornerNormals();
        const bool vertexNormals = table.HasVertexNormals();
        vertex.resize(count);
        for (unsigned int v = 0; v < count; ++v) vertex[v] = v;
        coordinate.assign(count, kNone);
        normal.assign(count, kNone);
        if (vertexNormals)
            normal = vertex;
        std::vector<bool> used(count, false);
        std::unordered_map<CornerKey, std::uint32_t, CornerKeyHash> extra;
        start.resize(polygons.Count() + 1);
        std::size_t corner = 0;
        for (unsigned int p = 0; p < polygons.Count(); ++p)
        {
            start[p] = corner;
            corner += polygons[p].Count();
        }
        start[polygons.Count()] = corner;
        corners.resize(corner);
        for (unsigned int p = 0; p < polygons.Count(); ++p)
        {
            const KV_PolygonView& polygon = polygons[p];
            for (unsigned int j = 0; j < polygon.Count(); ++j)
            {
                const std::size_t c = start[p] + j;
                const CornerKey key{
                    polygon[j],
                    source.coordinates ? (*source.surface.mpTexturePolygons)[p][j] : kNone,
                    cornerNormals ? table.cornerNormals[c] : normal[polygon[j]]};
                const std::uint32_t v = key.vertex;
                if (!used[v])
                {
                    used[v] = true;
                    coordinate[v] = key.coordinate;
                    normal[v] = key.normal;
                }
                if (coordinate[v] == key.coordinate && normal[v] == key.normal)
                {
                    corners[c] = v;
                    continue;
                }
                auto found = extra.find(key);
                if (found == extra.end())
                {
                    found = extra.emplace(key, static_cast<std::uint32_t>(vertex.size())).first;
                    vertex.push_back(v);
                    coordinate.push_back(key.coordinate);
                    normal.push_back(key.normal);
                }
                corners[c] = found->second;
            }
        }
    }
    std::size_t Count() const { return vertex.size(); }
    KV_Vector2D Coordinate(const Source& source, std::size_t i) const
    {
        return coordinate[i] == kNone ? KV_Vector2D()
                                      : (*source.surface.mpTextureCoordinates)[coordinate[i]];
    }
};

std::string Stem(const std::string& path)
{
    return fs::path(path).stem().string();
}

std::string Sibling(const std::string& path, const std::string& extension)
{
    fs::path p(path);
    p.replace_extension(extension);
    return p.string();
}

// The file name of picture k of an output: named after the output and its format, so that
// the outputs of one model in several formats never write over each other's pictures (their
// rows run in opposite directions).
std::string PictureName(const std::string& path, KV_MeshFormat format, std::size_t k)
{
    return Stem(path) + "_" + KV_MeshExporter::FormatName(format) +
           (k == 0 ? "" : "_" + std::to_string(k)) + ".png";
}

std::string PicturePath(const std::string& path, KV_MeshFormat format, std::size_t k)
{
    return (fs::path(path).parent_path() / PictureName(path, format, k)).string();
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20)
        {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// The polygons of each material, in polygon order: polygon order[first[m]] .. order[first[m+1]-1].
void PolygonsByMaterial(const Source& source, std::vector<std::uint32_t>& order,
                        std::vector<std::size_t>& first)
{
    first.assign(source.materials.size() + 1, 0);
    for (std::uint32_t m : source.polygonMaterial) ++first[m + 1];
    for (std::size_t m = 1; m < first.size(); ++m) first[m] += first[m - 1];
    std::vector<std::size_t> next(first.begin(), first.end() - 1);
    order.resize(source.polygonMaterial.size());
    for (std::size_t p = 0; p < source.polygonMaterial.size(); ++p)
        order[next[source.polygonMaterial[p]]++] = static_cast<std::uint32_t>(p);
}

// ---- glTF 2.0

bool WriteGltf(const Source& source, const std::string& path, bool binary, std::string& error)
{
    const SplitVertices split(source);
    const std::size_t vertexCount = split.Count();
    Bytes buffer;
    std::vector<std::string> views, accessors;
    auto view = [&](std::size_t offset, const char* target)
    {
        views.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                        ",\"byteLength\":" + std::to_string(buffer.size() - offset) +
                        (target ? std::string(",\"target\":") + target : "") + "}");
        return std::to_string(views.size() - 1);
    };
    auto attribute = [&](std::size_t offset, const char* type, int component, bool normalized)
    {
        accessors.push_back("{\"bufferView\":" + view(offset, "34962") + ",\"componentType\":" +
                            std::to_string(component) + (normalized ? ",\"normalized\":true" : "") +
                            ",\"count\":" + std::to_string(vertexCount) + ",\"type\":\"" + type +
                            "\"}");
        return std::to_string(accessors.size() - 1);
    };
    // Positions, with the bounds glTF requires.
    float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (std::uint32_t v : split.vertex)
    {
        const KV_Vector3D& p = source.Vertex(v);
        const float xyz[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k)
        {
            PutFloat(buffer, xyz[k]);
            low[k] = std::min(low[k], xyz[k]);
            high[k] = std::max(high[k], xyz[k]);
        }
    }
    view(0, "34962");
    accessors.push_back(
        "{\"bufferView\":0,\"componentType\":5126,\"count\":" + std::to_string(vertexCount) +
        ",\"type\":\"VEC3\",\"min\":[" + Real(low[0]) + "," + Real(low[1]) + "," + Real(low[2]) +
        "],\"max\":[" + Real(high[0]) + "," + Real(high[1]) + "," + Real(high[2]) + "]}");
    std::string attributes = "\"POSITION\":0";
    // glTF counts v from the top of the picture. Instead of turning every v into 1 - v, which
    // would lose the low bits of a v below 0.5, the pictures are stored upside down: the same
    // texel lands on every corner and the coordinates are written exactly, tiled ones too.
    if (source.coordinates)
    {
        const std::size_t offset = buffer.size();
        for (std::size_t i = 0; i < vertexCount; ++i)
        {
            const KV_Vector2D t = split.Coordinate(source, i);
            PutFloat(buffer, t.u);
            PutFloat(buffer, t.v);
        }
        attributes += ",\"TEXCOORD_0\":" + attribute(offset, "VEC2", 5126, false);
    }
    // glTF asks for unit normals: the file's are scaled to length 1, and a vertex without one
    // (used by no polygon) or with none of any length gets +z.
    if (source.Normals())
    {
        const std::size_t offset = buffer.size();
        for (std::size_t i = 0; i < vertexCount; ++i)
        {
            KV_Vector3D n(0.0f, 0.0f, 1.0f);
            if (split.normal[i] != kNone)
            {
                const KV_Vector3D& given = source.table.normals[split.normal[i]];
                const float length =
                    std::sqrt(given.x * given.x + given.y * given.y + given.z * given.z);
                if (std::isfinite(length) && length > 0.0f)
                    n = KV_Vector3D(given.x / length, given.y / length, given.z / length);
            }
            PutFloat(buffer, n.x);
            PutFloat(buffer, n.y);
            PutFloat(buffer, n.z);
        }
        attributes += ",\"NORMAL\":" + attribute(offset, "VEC3", 5126, false);
    }
    if (source.Colours())
    {
        const std::size_t offset = buffer.size();
        for (std::uint32_t v : split.vertex)
            buffer.insert(buffer.end(), source.Colour(v), source.Colour(v) + 4);
        attributes += ",\"COLOR_0\":" + attribute(offset, "VEC4", 5121, true);
    }
    // One primitive per material, all sharing the vertices; its triangles are the fans of its
    // polygons, in polygon order.
    std::vector<std::uint32_t> order;
    std::vector<std::size_t> first;
    PolygonsByMaterial(source, order, first);
    const std::size_t indexOffset = buffer.size();
    std::string primitives;
    std::vector<std::pair<std::size_t, std::size_t>> indexRanges;  // per primitive: offset, count
    for (std::size_t m = 0; m < source.materials.size(); ++m)
    {
        const std::size_t begin = buffer.size();
        for (std::size_t k = first[m]; k < first[m + 1]; ++k)
        {
            const std::size_t p = order[k];
            const std::size_t corners = split.start[p + 1] - split.start[p];
            const std::uint32_t* corner = split.corners.data() + split.start[p];
            for (std::size_t j = 2; j < corners; ++j)
            {
                Put32(buffer, corner[0]);
                Put32(buffer, corner[j - 1]);
                Put32(buffer, corner[j]);
            }
        }
        if (buffer.size() == begin)
            continue;
        primitives +=
            std::string(primitives.empty() ? "" : ",") + "{\"attributes\":{" + attributes +
            "},\"indices\":" + std::to_string(accessors.size() + indexRanges.size()) +
            ",\"mode\":4" + (source.declared ? ",\"material\":" + std::to_string(m) : "") + "}";
        indexRanges.push_back({begin - indexOffset, (buffer.size() - begin) / 4});
    }
    if (indexRanges.empty())
    {
        error = "the surface has no polygon of three corners or more";
        return false;
    }
    const std::string indexView = view(indexOffset, "34963");
    for (const auto& range : indexRanges)
        accessors.push_back("{\"bufferView\":" + indexView +
                            ",\"byteOffset\":" + std::to_string(range.first) +
                            ",\"componentType\":5125,\"count\":" + std::to_string(range.second) +
                            ",\"type\":\"SCALAR\"}");

    // The pictures, upside down (see above); embedded in a binary file.
    std::vector<Bytes> pngs(source.pictures.size());
    std::string images;
    for (std::size_t k = 0; k < source.pictures.size(); ++k)
    {
        if (!KV_PngWriter::Encode(*source.pictures[k], pngs[k], error, true))
        {
            error = "the texture cannot be encoded: " + error;
            return false;
        }
        images += k == 0 ? "{" : ",{";
        if (binary)
        {
            while (buffer.size() % 4 != 0) buffer.push_back(0);
            const std::size_t offset = buffer.size();
            buffer.insert(buffer.end(), pngs[k].begin(), pngs[k].end());
            images += "\"bufferView\":" + view(offset, nullptr) + ",\"mimeType\":\"image/png\"}";
        }
        else
        {
            images += "\"uri\":" + JsonString(PictureName(path, KV_MeshFormat::Gltf, k)) + "}";
        }
    }
    while (buffer.size() % 4 != 0) buffer.push_back(0);

    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":" + JsonString(kGenerator) +
                       "},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0}],";
    json += "\"meshes\":[{\"primitives\":[" + primitives + "]}],";
    if (source.declared)
    {
        json += "\"materials\":[";
        for (std::size_t m = 0; m < source.materials.size(); ++m)
        {
            const Material& material = source.materials[m];
            json += m == 0 ? "{" : ",{";
            if (!material.name.empty())
                json += "\"name\":" + JsonString(material.name) + ",";
            json += "\"pbrMetallicRoughness\":{";
            if (material.picture != kNone)
                json +=
                    "\"baseColorTexture\":{\"index\":" + std::to_string(material.picture) + "},";
            json += "\"metallicFactor\":0}}";
        }
        json += "],";
    }
    if (!source.pictures.empty())
    {
        // Coordinates outside [0, 1] tile the picture (10497: repeat).
        json +=
            "\"samplers\":[{\"magFilter\":9729,\"minFilter\":9729,\"wrapS\":10497,"
            "\"wrapT\":10497}],\"textures\":[";
        for (std::size_t k = 0; k < source.pictures.size(); ++k)
            json += std::string(k == 0 ? "" : ",") +
                    "{\"sampler\":0,\"source\":" + std::to_string(k) + "}";
        json += "],\"images\":[" + images + "],";
    }
    json += "\"buffers\":[{\"byteLength\":" + std::to_string(buffer.size());
    if (!binary)
        json += ",\"uri\":" + JsonString(Stem(path) + ".bin");
    json += "}],\"bufferViews\":[";
    for (std::size_t k = 0; k < views.size(); ++k) json += (k == 0 ? "" : ",") + views[k];
    json += "],\"accessors\":[";
    for (std::size_t k = 0; k < accessors.size(); ++k) json += (k == 0 ? "" : ",") + accessors[k];
    json += "]}";

    OutputFiles files;
    if (binary)
    {
        while (json.size() % 4 != 0) json += ' ';
        Bytes glb;
        Put32(glb, 0x46546C67u);  // "glTF"
        Put32(glb, 2);
        Put32(glb, static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + buffer.size()));
        Put32(glb, static_cast<std::uint32_t>(json.size()));
        Put32(glb, 0x4E4F534Au);  // "JSON"
        PutText(glb, json);
        Put32(glb, static_cast<std::uint32_t>(buffer.size()));
        Put32(glb, 0x004E4942u);  // "BIN"
        glb.insert(glb.end(), buffer.begin(), buffer.end());
        if (!files.Write(path, glb, error))
            return false;
    }
    else
    {
        if (!files.Write(Sibling(path, ".bin"), buffer, error))
            return false;
        for (std::size_t k = 0; k < pngs.size(); ++k)
            if (!files.Write(PicturePath(path, KV_MeshFormat::Gltf, k), pngs[k], error))
                return false;
        Bytes text(json.begin(), json.end());
        if (!files.Write(path, text, error))
            return false;
    }
    files.Keep();
    return true;
}

// ---- OBJ

// A material name an OBJ reader takes as one word, unique among those written.
std::string ObjName(const std::string& name, std::size_t index, std::set<std::string>& taken)
{
    std::string word;
    for (char c : name)
        word += std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'
                    ? c
                    : '_';
    if (word.empty())
        word = "material_" + std::to_string(index + 1);
    std::string unique = word;
    for (int k = 2; !taken.insert(unique).second; ++k) unique = word + "_" + std::to_string(k);
    return unique;
}

// Vertex colours are written as the common extension "v x y z r g b" (red, green and blue
// from 0 to 1; the opacity is left out), which many readers take and the rest ignore.
bool WriteObj(const Source& source, const std::string& path, std::string& error)
{
    const std::string stem = Stem(path);
    const KV_TexturedPolySurface& s = source.surface;
    const KV_SurfaceAppearance& table = source.table;
    std::string text = std::string("# ") + kGenerator + "\n";
    if (source.declared)
        text += "mtllib " + stem + ".mtl\n";
    bool opaque = true;
    for (unsigned int i = 0; i < s.VertexCount(); ++i)
    {
        const KV_Vector3D& p = source.Vertex(i);
        text += "v " + Real(p.x) + " " + Real(p.y) + " " + Real(p.z);
        if (source.Colours())
        {
            const std::uint8_t* rgba = source.Colour(i);
            for (int k = 0; k < 3; ++k) text += " " + Real(rgba[k] / 255.0f);
            opaque = opaque && rgba[3] == 255;
        }
        text += '\n';
    }
    if (source.coordinates)
        for (unsigned int i = 0; i < s.mpTextureCoordinates->Count(); ++i)
        {
            const KV_Vector2D& t = (*s.mpTextureCoordinates)[i];
            text += "vt " + Real(t.u) + " " + Real(t.v) + "\n";
        }
    for (const KV_Vector3D& n : table.normals)
        text += "vn " + Real(n.x) + " " + Real(n.y) + " " + Real(n.z) + "\n";

    std::set<std::string> taken;
    std::vector<std::string> names;
    for (std::size_t m = 0; m < source.materials.size(); ++m)
        names.push_back(ObjName(source.materials[m].name, m, taken));
    const KV_List<KV_Polygon>& polygons = source.Polygons();
    std::size_t corner = 0;
    std::uint32_t current = kNone;
    for (unsigned int p = 0; p < polygons.Count(); ++p)
    {
        if (source.declared && source.polygonMaterial[p] != current)
        {
            current = source.polygonMaterial[p];
            text += "usemtl " + names[current] + "\n";
        }
        text += 'f';
        for (unsigned int j = 0; j < polygons[p].Count(); ++j, ++corner)
        {
            text += ' ' + std::to_string(polygons[p][j] + 1);
            if (source.coordinates || source.Normals())
                text += '/';
            if (source.coordinates)
                text += std::to_string((*s.mpTexturePolygons)[p][j] + 1);
            if (source.Normals())
                text += '/' + std::to_string((table.HasCornerNormals() ? table.cornerNormals[corner]
                                                                       : polygons[p][j]) +
                                             1);
        }
        text += '\n';
    }
    OutputFiles files;
    if (source.declared)
    {
        // No ambient or specular part and full diffuse: the picture as it is, under the light.
        std::string mtl = "# " + std::string(kGenerator) + "\n";
        for (std::size_t m = 0; m < source.materials.size(); ++m)
        {
            mtl += "newmtl " + names[m] + "\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nillum 1\n";
            if (source.materials[m].picture != kNone)
                mtl += "map_Kd " +
                       PictureName(path, KV_MeshFormat::Obj, source.materials[m].picture) + "\n";
        }
        for (std::size_t k = 0; k < source.pictures.size(); ++k)
            if (!files.WritePng(PicturePath(path, KV_MeshFormat::Obj, k), *source.pictures[k],
                                error))
                return false;
        if (!files.Write(Sibling(path, ".mtl"), Bytes(mtl.begin(), mtl.end()), error))
            return false;
    }
    if (!files.Write(path, Bytes(text.begin(), text.end()), error))
        return false;
    files.Keep();
    ReportLeftOut(source, path, KV_MeshFormat::Obj,
                  {opaque ? "" : "the opacity of the vertex colours"});
    return true;
}

// ---- PLY

// Holds the surface's own picture only, named in a "comment TextureFile" line.
bool WritePly(const Source& source, const std::string& path, std::string& error)
{
    const SplitVertices split(source);
    const KV_List<KV_Polygon>& polygons = source.Polygons();
    unsigned int largest = 0;
    for (unsigned int p = 0; p < polygons.Count(); ++p)
        largest = std::max(largest, polygons[p].Count());
    const bool wideCounts = largest > 255;
    std::string header =
        "ply\nformat binary_little_endian 1.0\ncomment " + std::string(kGenerator) + "\n";
    if (source.image)
        header += "comment TextureFile " + PictureName(path, KV_MeshFormat::Ply, 0) + "\n";
    header += "element vertex " + std::to_string(split.Count()) +
              "\nproperty float x\nproperty float y\nproperty float z\n";
    if (source.coordinates)
        header += "property float s\nproperty float t\n";
    if (source.Normals())
        header += "property float nx\nproperty float ny\nproperty float nz\n";
    if (source.Colours())
        header +=
            "property uchar red\nproperty uchar green\nproperty uchar blue\n"
            "property uchar alpha\n";
    header += "element face " + std::to_string(polygons.Count()) + "\nproperty list " +
              (wideCounts ? "uint" : "uchar") + " int vertex_indices\nend_header\n";
    Bytes out(header.begin(), header.end());
    for (std::size_t i = 0; i < split.Count(); ++i)
    {
        const KV_Vector3D& p = source.Vertex(split.vertex[i]);
        PutFloat(out, p.x);
        PutFloat(out, p.y);
        PutFloat(out, p.z);
        if (source.coordinates)
        {
            const KV_Vector2D t = split.Coordinate(source, i);
            PutFloat(out, t.u);
            PutFloat(out, t.v);
        }
        if (source.Normals())
        {
            const KV_Vector3D n =
                split.normal[i] == kNone ? KV_Vector3D() : source.table.normals[split.normal[i]];
            PutFloat(out, n.x);
            PutFloat(out, n.y);
            PutFloat(out, n.z);
        }
        if (source.Colours())
            out.insert(out.end(), source.Colour(split.vertex[i]),
                       source.Colour(split.vertex[i]) + 4);
    }
    for (unsigned int p = 0; p < polygons.Count(); ++p)
    {
        const std::size_t count = split.start[p + 1] - split.start[p];
        if (wideCounts)
            Put32(out, static_cast<std::uint32_t>(count));
        else
            out.push_back(static_cast<unsigned char>(count));
        for (std::size_t c = split.start[p]; c < split.start[p + 1]; ++c)
            Put32(out, split.corners[c]);
    }
    OutputFiles files;
    if (source.image && !files.WritePng(PicturePath(path, KV_MeshFormat::Ply, 0),
                                        *source.surface.mpTextureMap, error))
        return false;
    if (!files.Write(path, out, error))
        return false;
    files.Keep();
    ReportLeftOut(source, path, KV_MeshFormat::Ply, {source.OtherPictures()});
    return true;
}

// ---- STL

bool WriteStl(const Source& source, const std::string& path, std::string& error)
{
    Bytes out(80, ' ');
    std::memcpy(out.data(), kGenerator, sizeof kGenerator - 1);
    const KV_List<KV_Polygon>& polygons = source.Polygons();
    std::uint32_t triangles = 0;
    for (unsigned int p = 0; p < polygons.Count(); ++p)
        triangles += polygons[p].Count() >= 3 ? polygons[p].Count() - 2 : 0;
    Put32(out, triangles);
    for (unsigned int p = 0; p < polygons.Count(); ++p)
        for (unsigned int k = 2; k < polygons[p].Count(); ++k)
        {
            const KV_Vector3D& a = source.Vertex(polygons[p][0]);
            const KV_Vector3D& b = source.Vertex(polygons[p][k - 1]);
            const KV_Vector3D& c = source.Vertex(polygons[p][k]);
            const float e1[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
            const float e2[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
            float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                          e1[0] * e2[1] - e1[1] * e2[0]};
            const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            for (float& value : n) value = length > 0.0f ? value / length : 0.0f;
            for (float value : n) PutFloat(out, value);
            for (const KV_Vector3D* v : {&a, &b, &c})
            {
                PutFloat(out, v->x);
                PutFloat(out, v->y);
                PutFloat(out, v->z);
            }
            out.push_back(0);
            out.push_back(0);
        }
    OutputFiles files;
    if (!files.Write(path, out, error))
        return false;
    files.Keep();
    const std::size_t pictures = source.pictures.size();
    ReportLeftOut(
        source, path, KV_MeshFormat::Stl,
        {pictures == 0   ? ""
         : pictures == 1 ? "the texture"
                         : "the " + std::to_string(pictures) + " pictures",
         source.Colours() ? "the vertex colours" : "", source.Normals() ? "the normals" : ""});
    return true;
}

// ---- .osf, raw version 3

bool PutOsfPolygons(Bytes& out, const KV_List<KV_Polygon>& polygons, std::string& error)
{
    const unsigned int count = polygons.Count();
    const bool narrow = count < 65536;
    Put32(out, count);
    for (unsigned int p = 0; p < count; ++p)
    {
        const KV_PolygonView& polygon = polygons[p];
        if (polygon.Count() > 16)
        {
            error = "the surface file format holds polygons of at most 16 vertices (polygon " +
                    std::to_string(p) + " has " + std::to_string(polygon.Count()) + ")";
            return false;
        }
        out.push_back(static_cast<unsigned char>(polygon.Count()));
        for (unsigned int j = 0; j < polygon.Count(); ++j)
        {
            if (narrow && polygon[j] > 65535)
            {
                error = "the surface file format cannot hold index " + std::to_string(polygon[j]) +
                        " in a list of fewer than 65536 polygons";
                return false;
            }
            out.push_back(static_cast<unsigned char>(polygon[j]));
            out.push_back(static_cast<unsigned char>(polygon[j] >> 8));
            if (!narrow)
            {
                out.push_back(static_cast<unsigned char>(polygon[j] >> 16));
                out.push_back(static_cast<unsigned char>(polygon[j] >> 24));
            }
        }
    }
    return true;
}

bool WriteOsf(const Source& source, const std::string& path, std::string& error)
{
    const KV_TexturedPolySurface& s = source.surface;
    Bytes out{'0', '3'};
    const std::string text = kGenerator;
    Put32(out, static_cast<std::uint32_t>(text.size()));
    PutText(out, text);
    if (!PutOsfPolygons(out, source.Polygons(), error))
        return false;
    const KV_List<KV_Polygon> none;
    if (!PutOsfPolygons(out, source.image ? *s.mpTexturePolygons : none, error))
        return false;
    const unsigned int coordinates = source.image ? s.mpTextureCoordinates->Count() : 0;
    Put32(out, coordinates);
    for (unsigned int i = 0; i < coordinates; ++i)
    {
        PutFloat(out, (*s.mpTextureCoordinates)[i].u);
        PutFloat(out, (*s.mpTextureCoordinates)[i].v);
    }
    Put32(out, s.VertexCount());
    for (unsigned int i = 0; i < s.VertexCount(); ++i)
    {
        const KV_Vector3D& p = source.Vertex(i);
        PutFloat(out, p.x);
        PutFloat(out, p.y);
        PutFloat(out, p.z);
    }
    if (!source.image)
    {
        out.push_back(0);
    }
    else
    {
        const KV_MultiImage& map = *s.mpTextureMap;
        const bool colour = map.ColourImage() != nullptr;
        out.push_back(colour ? 3 : 1);
        Put32(out, static_cast<std::uint32_t>(map.Rows()));
        Put32(out, static_cast<std::uint32_t>(map.Cols()));
        const unsigned char* pixels =
            colour ? reinterpret_cast<const unsigned char*>(map.ColourImage()->Data())
                   : map.GreyImage()->Data();
        out.insert(out.end(), pixels,
                   pixels + std::size_t(map.Rows()) * map.Cols() * (colour ? 3 : 1));
    }
    // "KV01", then the checksum of everything before it, most significant byte first.
    PutText(out, "KV01");
    const std::uint32_t crc = KV_CRC32::Of(out.data(), out.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(crc >> shift));
    OutputFiles files;
    if (!files.Write(path, out, error))
        return false;
    files.Keep();
    ReportLeftOut(source, path, KV_MeshFormat::Osf,
                  {source.OtherPictures(), source.Colours() ? "the vertex colours" : "",
                   source.Normals() ? "the normals" : ""});
    return true;
}

}  // namespace

KV_MeshFormat KV_MeshExporter::FormatFromName(const std::string& name)
{
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (KV_MeshFormat format : {KV_MeshFormat::Glb, KV_MeshFormat::Gltf, KV_MeshFormat::Obj,
                                 KV_MeshFormat::Ply, KV_MeshFormat::Stl, KV_MeshFormat::Osf})
        if (lower == FormatName(format))
            return format;
    return KV_MeshFormat::None;
}

KV_MeshFormat KV_MeshExporter::FormatOfPath(const std::string& path)
{
    const std::string extension = fs::path(path).extension().string();
    return extension.empty() ? KV_MeshFormat::None : FormatFromName(extension.substr(1));
}

const char* KV_MeshExporter::FormatName(KV_MeshFormat format)
{
    switch (format)
    {
        case KV_MeshFormat::Glb:
            return "glb";
        case KV_MeshFormat::Gltf:
            return "gltf";
        case KV_MeshFormat::Obj:
            return "obj";
        case KV_MeshFormat::Ply:
            return "ply";
        case KV_MeshFormat::Stl:
            return "stl";
        case KV_MeshFormat::Osf:
            return "osf";
        default:
            return "";
    }
}

bool KV_MeshExporter::Write(const KV_TexturedPolySurface& surface, const std::string& path,
                            KV_MeshFormat format, std::string& error,
                            const KV_SurfaceAppearance* appearance)
{
    if (surface.VertexCount() == 0 || surface.PolygonCount() == 0)
    {
        error = "the surface is empty";
        return false;
    }
    const Source source(surface, appearance);
    switch (format)
    {
        case KV_MeshFormat::Glb:
            return WriteGltf(source, path, true, error);
        case KV_MeshFormat::Gltf:
            return WriteGltf(source, path, false, error);
        case KV_MeshFormat::Obj:
            return WriteObj(source, path, error);
        case KV_MeshFormat::Ply:
            return WritePly(source, path, error);
        case KV_MeshFormat::Stl:
            return WriteStl(source, path, error);
        case KV_MeshFormat::Osf:
            return WriteOsf(source, path, error);
        default:
            error = "no format is known by that name";
            return false;
    }
}
