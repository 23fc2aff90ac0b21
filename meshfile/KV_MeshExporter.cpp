#include "meshfile/KV_MeshExporter.h"

#include "image/KV_MultiImage.h"
#include "image/KV_PngWriter.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_CRC32.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

// The surface as the writers see it: whether its texture coordinates pair with its polygons
// and whether an image goes with them.
struct Source
{
    const KV_TexturedPolySurface& surface;
    bool coordinates = false;
    bool image = false;

    explicit Source(const KV_TexturedPolySurface& s) : surface(s)
    {
        const unsigned int polygons = s.PolygonCount();
        coordinates = s.mpTextureCoordinates != nullptr && s.mpTexturePolygons != nullptr &&
                      s.mpTexturePolygons->Count() == polygons && polygons > 0;
        for (unsigned int i = 0; coordinates && i < polygons; ++i)
        {
            const KV_Polygon& tp = (*s.mpTexturePolygons)[i];
            coordinates = tp.Count() == (*s.mpPolygons)[i].Count();
            for (unsigned int j = 0; coordinates && j < tp.Count(); ++j)
                coordinates = tp[j] < s.mpTextureCoordinates->Count();
        }
        image = coordinates && s.mpTextureMap != nullptr && s.mpTextureMap->HasImage() &&
                s.mpTextureMap->Rows() > 0 && s.mpTextureMap->Cols() > 0;
    }
    const KV_List<KV_Polygon>& Polygons() const { return *surface.mpPolygons; }
    const KV_Vector3D& Vertex(unsigned int i) const { return (*surface.mpVertices)[i]; }
    const KV_Vector2D& Coordinate(unsigned int polygon, unsigned int corner) const
    {
        return (*surface.mpTextureCoordinates)[(*surface.mpTexturePolygons)[polygon][corner]];
    }
};

// One vertex per (position, texture coordinate) pair, for formats that carry a coordinate
// per vertex. Entry v < vertex count is vertex v with the first coordinate it is used with;
// further pairs follow in order of first use.
struct SplitVertices
{
    std::vector<unsigned int> vertex;     // geometry vertex of each output vertex
    std::vector<KV_Vector2D> coordinate;  // its texture coordinate
    std::vector<std::vector<unsigned int>> polygons;

    explicit SplitVertices(const Source& source)
    {
        const unsigned int count = source.surface.VertexCount();
        const KV_List<KV_Polygon>& polygonList = source.Polygons();
        const unsigned int none = ~0u;
        vertex.resize(count);
        coordinate.assign(count, KV_Vector2D());
        for (unsigned int v = 0; v < count; ++v) vertex[v] = v;
        std::vector<unsigned int> firstCoordinate(count, none);
        std::unordered_map<std::uint64_t, unsigned int> extra;
        polygons.resize(polygonList.Count());
        for (unsigned int p = 0; p < polygonList.Count(); ++p)
        {
            const KV_Polygon& polygon = polygonList[p];
            std::vector<unsigned int>& out = polygons[p];
            out.resize(polygon.Count());
            for (unsigned int j = 0; j < polygon.Count(); ++j)
            {
                const unsigned int v = polygon[j];
                if (!source.coordinates)
                {
                    out[j] = v;
                    continue;
                }
                const unsigned int t = (*source.surface.mpTexturePolygons)[p][j];
                if (firstCoordinate[v] == none || firstCoordinate[v] == t)
                {
                    firstCoordinate[v] = t;
                    coordinate[v] = (*source.surface.mpTextureCoordinates)[t];
                    out[j] = v;
                    continue;
                }
                const std::uint64_t key = (std::uint64_t(v) << 32) | t;
                auto found = extra.find(key);
                if (found == extra.end())
                {
                    found = extra.emplace(key, static_cast<unsigned int>(vertex.size())).first;
                    vertex.push_back(v);
                    coordinate.push_back((*source.surface.mpTextureCoordinates)[t]);
                }
                out[j] = found->second;
            }
        }
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

// ---- glTF 2.0

bool WriteGltf(const Source& source, const std::string& path, bool binary, std::string& error)
{
    const SplitVertices split(source);
    Bytes buffer;
    // Positions, with the bounds glTF requires.
    float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (unsigned int v : split.vertex)
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
    const std::size_t positionBytes = buffer.size();
    std::size_t coordinateBytes = 0;
    // glTF counts v from the top of the picture. Instead of turning every v into 1 - v, which
    // would lose the low bits of a v below 0.5, the picture is stored upside down: the same
    // texel lands on every corner and the coordinates are written exactly.
    if (source.coordinates)
    {
        for (const KV_Vector2D& t : split.coordinate)
        {
            PutFloat(buffer, t.u);
            PutFloat(buffer, t.v);
        }
        coordinateBytes = buffer.size() - positionBytes;
    }
    std::size_t indexCount = 0;
    for (const std::vector<unsigned int>& polygon : split.polygons)
        for (std::size_t k = 2; k < polygon.size(); ++k)
        {
            Put32(buffer, polygon[0]);
            Put32(buffer, polygon[k - 1]);
            Put32(buffer, polygon[k]);
            indexCount += 3;
        }
    const std::size_t indexOffset = positionBytes + coordinateBytes;
    const std::size_t indexBytes = buffer.size() - indexOffset;
    Bytes png;
    if (source.image && !KV_PngWriter::Encode(*source.surface.mpTextureMap, png, error, true))
    {
        error = "the texture cannot be encoded: " + error;
        return false;
    }
    const std::size_t imageOffset = buffer.size();
    if (binary)
        buffer.insert(buffer.end(), png.begin(), png.end());
    while (buffer.size() % 4 != 0) buffer.push_back(0);

    const std::string stem = Stem(path);
    const std::size_t vertexCount = split.vertex.size();
    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":" + JsonString(kGenerator) +
                       "},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0}],";
    json += "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0";
    if (source.coordinates)
        json += ",\"TEXCOORD_0\":1";
    json += "},\"indices\":" + std::to_string(source.coordinates ? 2 : 1) + ",\"mode\":4";
    if (source.image)
        json += ",\"material\":0";
    json += "}]}],";
    if (source.image)
    {
        json +=
            "\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0},"
            "\"metallicFactor\":0}}],\"samplers\":[{\"magFilter\":9729,\"minFilter\":9729}],"
            "\"textures\":[{\"sampler\":0,\"source\":0}],\"images\":[{";
        json += binary ? "\"bufferView\":" + std::to_string(source.coordinates ? 3 : 2) +
                             ",\"mimeType\":\"image/png\""
                       : "\"uri\":" + JsonString(stem + ".png");
        json += "}],";
    }
    json += "\"buffers\":[{\"byteLength\":" + std::to_string(buffer.size());
    if (!binary)
        json += ",\"uri\":" + JsonString(stem + ".bin");
    json += "}],\"bufferViews\":[";
    auto view = [&](std::size_t offset, std::size_t length, const char* target)
    {
        return "{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
               ",\"byteLength\":" + std::to_string(length) +
               (target ? std::string(",\"target\":") + target : "") + "}";
    };
    json += view(0, positionBytes, "34962");
    if (source.coordinates)
        json += "," + view(positionBytes, coordinateBytes, "34962");
    json += "," + view(indexOffset, indexBytes, "34963");
    if (source.image && binary)
        json += "," + view(imageOffset, png.size(), nullptr);
    json += "],\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":" +
            std::to_string(vertexCount) + ",\"type\":\"VEC3\",\"min\":[" + Real(low[0]) + "," +
            Real(low[1]) + "," + Real(low[2]) + "],\"max\":[" + Real(high[0]) + "," +
            Real(high[1]) + "," + Real(high[2]) + "]}";
    if (source.coordinates)
        json +=
            ",{\"bufferView\":1,\"componentType\":5126,\"count\":" + std::to_string(vertexCount) +
            ",\"type\":\"VEC2\"}";
    json += ",{\"bufferView\":" + std::to_string(source.coordinates ? 2 : 1) +
            ",\"componentType\":5125,\"count\":" + std::to_string(indexCount) +
            ",\"type\":\"SCALAR\"}]}";

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
        if (!files.Write(Sibling(path, ".bin"), buffer, error) ||
            (source.image && !files.Write(Sibling(path, ".png"), png, error)))
            return false;
        Bytes text(json.begin(), json.end());
        if (!files.Write(path, text, error))
            return false;
    }
    files.Keep();
    return true;
}

// ---- OBJ

bool WriteObj(const Source& source, const std::string& path, std::string& error)
{
    const std::string stem = Stem(path);
    std::string text = std::string("# ") + kGenerator + "\n";
    if (source.image)
        text += "mtllib " + stem + ".mtl\n";
    const KV_TexturedPolySurface& s = source.surface;
    for (unsigned int i = 0; i < s.VertexCount(); ++i)
    {
        const KV_Vector3D& p = source.Vertex(i);
        text += "v " + Real(p.x) + " " + Real(p.y) + " " + Real(p.z) + "\n";
    }
    if (source.coordinates)
        for (unsigned int i = 0; i < s.mpTextureCoordinates->Count(); ++i)
        {
            const KV_Vector2D& t = (*s.mpTextureCoordinates)[i];
            text += "vt " + Real(t.u) + " " + Real(t.v) + "\n";
        }
    if (source.image)
        text += "usemtl surface\n";
    const KV_List<KV_Polygon>& polygons = source.Polygons();
    for (unsigned int p = 0; p < polygons.Count(); ++p)
    {
        text += 'f';
        for (unsigned int j = 0; j < polygons[p].Count(); ++j)
        {
            text += ' ' + std::to_string(polygons[p][j] + 1);
            if (source.coordinates)
                text += '/' + std::to_string((*s.mpTexturePolygons)[p][j] + 1);
        }
        text += '\n';
    }
    OutputFiles files;
    if (source.image)
    {
        const std::string mtl = "# " + std::string(kGenerator) +
                                "\nnewmtl surface\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nmap_Kd " + stem +
                                ".png\n";
        if (!files.WritePng(Sibling(path, ".png"), *s.mpTextureMap, error) ||
            !files.Write(Sibling(path, ".mtl"), Bytes(mtl.begin(), mtl.end()), error))
            return false;
    }
    if (!files.Write(path, Bytes(text.begin(), text.end()), error))
        return false;
    files.Keep();
    return true;
}

// ---- PLY

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
        header += "comment TextureFile " + Stem(path) + ".png\n";
    header += "element vertex " + std::to_string(split.vertex.size()) +
              "\nproperty float x\nproperty float y\nproperty float z\n";
    if (source.coordinates)
        header += "property float s\nproperty float t\n";
    header += "element face " + std::to_string(polygons.Count()) + "\nproperty list " +
              (wideCounts ? "uint" : "uchar") + " int vertex_indices\nend_header\n";
    Bytes out(header.begin(), header.end());
    for (std::size_t i = 0; i < split.vertex.size(); ++i)
    {
        const KV_Vector3D& p = source.Vertex(split.vertex[i]);
        PutFloat(out, p.x);
        PutFloat(out, p.y);
        PutFloat(out, p.z);
        if (source.coordinates)
        {
            PutFloat(out, split.coordinate[i].u);
            PutFloat(out, split.coordinate[i].v);
        }
    }
    for (const std::vector<unsigned int>& polygon : split.polygons)
    {
        if (wideCounts)
            Put32(out, static_cast<std::uint32_t>(polygon.size()));
        else
            out.push_back(static_cast<unsigned char>(polygon.size()));
        for (unsigned int index : polygon) Put32(out, index);
    }
    OutputFiles files;
    if (source.image && !files.WritePng(Sibling(path, ".png"), *source.surface.mpTextureMap, error))
        return false;
    if (!files.Write(path, out, error))
        return false;
    files.Keep();
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
        const KV_Polygon& polygon = polygons[p];
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
                            const KV_SurfaceAppearance* /*appearance*/)
{
    if (surface.VertexCount() == 0 || surface.PolygonCount() == 0)
    {
        error = "the surface is empty";
        return false;
    }
    const Source source(surface);
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
