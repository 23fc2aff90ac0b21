#include "meshfile/KV_PlyReader.h"

#include "foundation/KV_Report.h"
#include "image/KV_MultiImage.h"
#include "meshfile/KV_BitWelder.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_TextureLookup.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_ByteCursor.h"
#include "surfacefile/KV_FileBytes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

namespace
{

enum class ValueType : unsigned char
{
    Int8,
    UInt8,
    Int16,
    UInt16,
    Int32,
    UInt32,
    Float32,
    Float64
};

unsigned int SizeOf(ValueType type)
{
    static const unsigned char kSizes[] = {1, 1, 2, 2, 4, 4, 4, 8};
    return kSizes[static_cast<int>(type)];
}

bool IsInteger(ValueType type)
{
    return type <= ValueType::UInt32;
}

bool ParseType(const std::string& word, ValueType& type)
{
    static const struct
    {
        const char* name;
        ValueType type;
    } kNames[] = {{"char", ValueType::Int8},      {"int8", ValueType::Int8},
                  {"uchar", ValueType::UInt8},    {"uint8", ValueType::UInt8},
                  {"short", ValueType::Int16},    {"int16", ValueType::Int16},
                  {"ushort", ValueType::UInt16},  {"uint16", ValueType::UInt16},
                  {"int", ValueType::Int32},      {"int32", ValueType::Int32},
                  {"uint", ValueType::UInt32},    {"uint32", ValueType::UInt32},
                  {"float", ValueType::Float32},  {"float32", ValueType::Float32},
                  {"double", ValueType::Float64}, {"float64", ValueType::Float64}};
    for (const auto& entry : kNames)
        if (word == entry.name)
        {
            type = entry.type;
            return true;
        }
    return false;
}

struct Property
{
    std::string name;
    bool list = false;
    ValueType count = ValueType::UInt8;  // lists only
    ValueType value = ValueType::Float32;
};

struct Element
{
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> properties;

    // The fewest bytes one instance can take (its scalars and its lists' counts), and
    // whether every instance takes just that (no lists).
    std::uint64_t MinimumSize() const
    {
        std::uint64_t size = 0;
        for (const Property& p : properties) size += SizeOf(p.list ? p.count : p.value);
        return size;
    }
    bool Fixed() const
    {
        for (const Property& p : properties)
            if (p.list)
                return false;
        return true;
    }
    // The index of the last property of one of the names, -1 when none.
    int Find(std::initializer_list<const char*> names) const
    {
        int found = -1;
        for (std::size_t i = 0; i < properties.size(); ++i)
            for (const char* name : names)
                if (properties[i].name == name)
                    found = static_cast<int>(i);
        return found;
    }
};

struct Header
{
    bool bigEndian = false;
    std::vector<Element> elements;
    std::string texture;  // from "comment TextureFile NAME", the last such line
    std::size_t dataStart = 0;
};

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        if (j > i)
            words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

bool ParseCount(const std::string& word, std::uint64_t& count)
{
    if (word.empty() || word.size() > 10)
        return false;
    count = 0;
    for (char c : word)
    {
        if (c < '0' || c > '9')
            return false;
        count = count * 10 + static_cast<unsigned int>(c - '0');
    }
    return count <= 0xFFFFFFFFull;
}

// The header, when it is one this reader takes: binary, with known types.
bool ParseHeader(const unsigned char* data, std::size_t size, Header& header)
{
    std::size_t position = 0;
    bool first = true, format = false;
    for (;;)
    {
        const void* newline = std::memchr(data + position, '\n', size - position);
        if (newline == nullptr)
            return false;
        const std::size_t end = static_cast<const unsigned char*>(newline) - data;
        std::string line(reinterpret_cast<const char*>(data) + position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first)
        {
            if (line != "ply")
                return false;
            first = false;
            continue;
        }
        const std::vector<std::string> words = Words(line);
        if (words.empty())
            continue;
        const std::string& keyword = words[0];
        if (keyword == "end_header" && words.size() == 1)
        {
            header.dataStart = position;
            return format;
        }
        if (keyword == "comment")
        {
            if (words.size() >= 2 && words[1] == "TextureFile")
            {
                std::size_t start = line.find("TextureFile") + 11;
                while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
                std::size_t stop = line.size();
                while (stop > start && (line[stop - 1] == ' ' || line[stop - 1] == '\t')) --stop;
                header.texture = line.substr(start, stop - start);
            }
        }
        else if (keyword == "format" && words.size() == 3 && !format)
        {
            if (words[1] == "binary_little_endian")
                header.bigEndian = false;
            else if (words[1] == "binary_big_endian")
                header.bigEndian = true;
            else
                return false;
            format = true;
        }
        else if (keyword == "element" && words.size() == 3)
        {
            Element element;
            element.name = words[1];
            if (!ParseCount(words[2], element.count))
                return false;
            header.elements.push_back(element);
        }
        else if (keyword == "property" && !header.elements.empty())
        {
            Property property;
            if (words.size() == 3 && ParseType(words[1], property.value))
                property.name = words[2];
            else if (words.size() == 5 && words[1] == "list" &&
                     ParseType(words[2], property.count) && IsInteger(property.count) &&
                     ParseType(words[3], property.value))
            {
                property.list = true;
                property.name = words[4];
            }
            else
                return false;
            header.elements.back().properties.push_back(property);
        }
        // Other lines (obj_info, a writer's note without "comment") say nothing about the
        // data; the library passes over them too.
    }
}

// Values in the file's byte order, converted as the import library converts them.
class ValueLoader
{
public:
    explicit ValueLoader(bool bigEndian)
    {
        const std::uint16_t probe = 1;
        unsigned char first;
        std::memcpy(&first, &probe, 1);
        mbSwap = bigEndian == (first == 1);
    }

    float Float(const unsigned char* p, ValueType type) const
    {
        switch (type)
        {
            case ValueType::Int8:
                return static_cast<float>(static_cast<std::int8_t>(p[0]));
            case ValueType::UInt8:
                return static_cast<float>(p[0]);
            case ValueType::Int16:
                return static_cast<float>(Load<std::int16_t>(p));
            case ValueType::UInt16:
                return static_cast<float>(Load<std::uint16_t>(p));
            case ValueType::Int32:
                return static_cast<float>(Load<std::int32_t>(p));
            case ValueType::UInt32:
                return static_cast<float>(Load<std::uint32_t>(p));
            case ValueType::Float32:
                return Load<float>(p);
            case ValueType::Float64:
                return static_cast<float>(Load<double>(p));
        }
        return 0.0f;
    }

    // An integer value, sign kept (integer types only).
    std::int64_t Integer(const unsigned char* p, ValueType type) const
    {
        switch (type)
        {
            case ValueType::Int8:
                return static_cast<std::int8_t>(p[0]);
            case ValueType::UInt8:
                return p[0];
            case ValueType::Int16:
                return Load<std::int16_t>(p);
            case ValueType::UInt16:
                return Load<std::uint16_t>(p);
            case ValueType::Int32:
                return Load<std::int32_t>(p);
            default:
                return Load<std::uint32_t>(p);
        }
    }

private:
    template <typename T>
    T Load(const unsigned char* p) const
    {
        unsigned char bytes[sizeof(T)];
        if (mbSwap)
            for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = p[sizeof(T) - 1 - i];
        else
            std::memcpy(bytes, p, sizeof(T));
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    bool mbSwap = false;
};

// A list of this many values follows at the cursor; anything the file cannot hold throws.
std::uint64_t ListCount(KV_ByteCursor& in, const ValueLoader& values, const Property& property)
{
    const std::int64_t count = values.Integer(in.Take(SizeOf(property.count)), property.count);
    if (count < 0)
        throw KV_BadFile();
    in.Require(static_cast<std::uint64_t>(count), SizeOf(property.value));
    return static_cast<std::uint64_t>(count);
}

void SkipElement(KV_ByteCursor& in, const ValueLoader& values, const Element& element)
{
    if (element.Fixed())
    {
        in.Require(element.count, element.MinimumSize());
        in.Skip(element.count * element.MinimumSize());
        return;
    }
    // Every instance takes at least one byte (a list count): the walk ends within the file.
    for (std::uint64_t i = 0; i < element.count; ++i)
        for (const Property& property : element.properties)
            in.Skip(property.list ? ListCount(in, values, property) * SizeOf(property.value)
                                  : SizeOf(property.value));
}

// The texture's picture, found and decoded away from the geometry.
struct TextureResult
{
    std::unique_ptr<KV_MultiImage> image;
    bool loaded = false;
    std::string message, caption;
};

TextureResult ReadTexture(const std::string& modelPath, const std::string& name)
{
    TextureResult result;
    try
    {
        result.image = std::make_unique<KV_MultiImage>();
        result.loaded =
            KV_ReadModelTexture(modelPath, name, *result.image, result.message, result.caption);
    }
    catch (const std::bad_alloc&)
    {
        result.loaded = false;
        result.message = "The texture " + name + " of " + modelPath +
                         " cannot be decoded (not enough memory). The surface is shown without it.";
        result.caption = "Texture not loaded";
    }
    return result;
}

std::string TooLarge()
{
    return "the scene is too large (more than " + std::to_string(KV_MeshImporter::kMaxCorners) +
           " vertices, faces and polygon corners)";
}

}  // namespace

KV_PlyReader::Outcome KV_PlyReader::Read(const std::string& path)
{
    mkReason.clear();
    // The first bytes decide, so that files for the library are not read twice.
    {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr)
            return Outcome::NotHandled;
        char head[4096];
        const std::size_t got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        const std::string start(head, got);
        if (start.compare(0, 4, "ply\n") != 0 && start.compare(0, 5, "ply\r\n") != 0)
            return Outcome::NotHandled;
        if (start.find("\nformat binary_") == std::string::npos)
            return Outcome::NotHandled;
    }
    auto bytes = std::make_unique<KV_FileBytes>();
    if (!bytes->Load(path.c_str()))
        return Outcome::NotHandled;
    Header header;
    if (!ParseHeader(bytes->Data(), bytes->Size(), header))
        return Outcome::NotHandled;

    // The layout: one vertex element with x, y and z, before at most one face element with an
    // integer list of vertex indices.
    int vertexElement = -1, faceElement = -1;
    for (std::size_t i = 0; i < header.elements.size(); ++i)
    {
        const std::string& name = header.elements[i].name;
        int& slot = name == "vertex" ? vertexElement : faceElement;
        if (name == "tristrips" || ((name == "vertex" || name == "face") && slot >= 0))
            return Outcome::NotHandled;
        if (name == "vertex" || name == "face")
            slot = static_cast<int>(i);
    }
    if (vertexElement < 0 || (faceElement >= 0 && faceElement < vertexElement))
        return Outcome::NotHandled;
    const Element& vertex = header.elements[vertexElement];
    const int xyz[3] = {vertex.Find({"x"}), vertex.Find({"y"}), vertex.Find({"z"})};
    const int uv[2] = {vertex.Find({"u", "s", "tx", "texture_u"}),
                       vertex.Find({"v", "t", "ty", "texture_v"})};
    if (xyz[0] < 0 || xyz[1] < 0 || xyz[2] < 0)
        return Outcome::NotHandled;
    for (int k : {xyz[0], xyz[1], xyz[2], uv[0], uv[1]})
        if (k >= 0 && vertex.properties[k].list)
            return Outcome::NotHandled;
    int indexProperty = -1, cornerCoordinates = -1;
    if (faceElement >= 0)
    {
        const Element& face = header.elements[faceElement];
        indexProperty = face.Find({"vertex_indices", "vertex_index"});
        if (indexProperty < 0 || !face.properties[indexProperty].list ||
            !IsInteger(face.properties[indexProperty].value))
            return Outcome::NotHandled;
        cornerCoordinates = face.Find({"texcoord"});
        if (cornerCoordinates >= 0 && !face.properties[cornerCoordinates].list)
            cornerCoordinates = -1;
    }
    const bool vertexCoordinates = uv[0] >= 0 || uv[1] >= 0;
    const bool textured = !header.texture.empty() && (vertexCoordinates || cornerCoordinates >= 0);

    mkSurface.Clear();
    // The picture decodes on a second thread while this one reads the geometry (here, when
    // no thread can be had).
    std::future<TextureResult> texture;
    if (textured)
    {
        try
        {
            texture = std::async(std::launch::async | std::launch::deferred, ReadTexture, path,
                                 header.texture);
        }
        catch (const std::system_error&)
        {
            texture = std::async(std::launch::deferred, ReadTexture, path, header.texture);
        }
    }

    const ValueLoader values(header.bigEndian);
    KV_ByteCursor in(bytes->Data(), bytes->Size());
    const char* where = "";
    try
    {
        in.Seek(header.dataStart);
        std::size_t e = 0;
        for (; e < static_cast<std::size_t>(vertexElement); ++e)
        {
            where = header.elements[e].name.c_str();
            SkipElement(in, values, header.elements[e]);
        }

        // Vertices: positions welded in vertex order, then per-vertex texture coordinates
        // likewise (all of them, before any face, as the library's path does).
        where = "vertex";
        in.Require(vertex.count, vertex.MinimumSize());
        const std::uint64_t vertexCount = vertex.count;
        if (vertexCount > KV_MeshImporter::kMaxCorners)
        {
            mkSurface.Clear();
            mkReason = TooLarge();
            return Outcome::Refused;
        }
        // The values first, then the welding, which looks a few vertices ahead: its table is
        // far larger than the caches, and waiting for each probe took most of the read.
        const bool withCoordinates = textured && vertexCoordinates;
        std::vector<float> point(3 * vertexCount), st(withCoordinates ? 2 * vertexCount : 0);
        const bool fixed = vertex.Fixed();
        for (std::uint64_t i = 0; i < vertexCount; ++i)
        {
            const unsigned char* row = fixed ? in.Take(vertex.MinimumSize()) : nullptr;
            std::size_t offset = 0;
            for (std::size_t k = 0; k < vertex.properties.size(); ++k)
            {
                const Property& property = vertex.properties[k];
                const unsigned char* value;
                if (property.list)
                {
                    in.Skip(ListCount(in, values, property) * SizeOf(property.value));
                    continue;
                }
                if (fixed)
                {
                    value = row + offset;
                    offset += SizeOf(property.value);
                }
                else
                    value = in.Take(SizeOf(property.value));
                for (int c = 0; c < 3; ++c)
                    if (static_cast<int>(k) == xyz[c])
                        point[3 * i + c] = values.Float(value, property.value);
                for (int c = 0; withCoordinates && c < 2; ++c)
                    if (static_cast<int>(k) == uv[c])
                        st[2 * i + c] = values.Float(value, property.value);
            }
        }
        const std::uint64_t kAhead = 16;
        KV_BitWelder<3> positions(vertexCount);
        std::vector<unsigned int> welded(vertexCount);
        for (std::uint64_t i = 0; i < vertexCount; ++i)
        {
            if (i + kAhead < vertexCount)
                positions.Prefetch(&point[3 * (i + kAhead)]);
            welded[i] = positions.Index(&point[3 * i]);
        }
        KV_BitWelder<2> coordinates(textured ? vertexCount + 16 : 0);
        std::vector<unsigned int> weldedCoordinates(withCoordinates ? vertexCount : 0);
        for (std::uint64_t i = 0; withCoordinates && i < vertexCount; ++i)
        {
            if (i + kAhead < vertexCount)
                coordinates.Prefetch(&st[2 * (i + kAhead)]);
            weldedCoordinates[i] = coordinates.Index(&st[2 * i]);
        }
        std::vector<float>().swap(point);
        std::vector<float>().swap(st);
        for (++e; e < header.elements.size() && static_cast<int>(e) != faceElement; ++e)
        {
            where = header.elements[e].name.c_str();
            SkipElement(in, values, header.elements[e]);
        }

        // Faces: polygons in file order with welded positions; one texture polygon each.
        KV_List<KV_Polygon>& polygons = mkSurface.Polygons();
        KV_List<KV_Polygon>* texturePolygons =
            textured ? &KV_Ensure(mkSurface.mpTexturePolygons, 1024) : nullptr;
        unsigned int made = 0;
        if (faceElement >= 0)
        {
            const Element& face = header.elements[faceElement];
            where = "face";
            in.Require(face.count, face.MinimumSize());
            std::uint64_t elements = vertexCount + face.count;
            if (elements > KV_MeshImporter::kMaxCorners)
            {
                mkSurface.Clear();
                mkReason = TooLarge();
                return Outcome::Refused;
            }
            const Property& indexList = face.properties[indexProperty];
            const unsigned int indexSize = SizeOf(indexList.value);
            // Room for the polygons the remaining bytes can hold (three corners or more
            // each), not for every face the header claims: faces of no corners take a byte.
            const std::uint64_t room = std::min<std::uint64_t>(
                face.count, in.Remaining() / (face.MinimumSize() + 3 * indexSize));
            polygons.SetCount(static_cast<unsigned int>(room));
            if (texturePolygons != nullptr)
                texturePolygons->SetCount(static_cast<unsigned int>(room));
            const float origin[2] = {0.0f, 0.0f};
            for (std::uint64_t f = 0; f < face.count; ++f)
            {
                const unsigned char* indices = nullptr;
                const unsigned char* corners = nullptr;
                std::uint64_t count = 0, cornerValues = 0;
                for (std::size_t k = 0; k < face.properties.size(); ++k)
                {
                    const Property& property = face.properties[k];
                    if (!property.list)
                    {
                        in.Skip(SizeOf(property.value));
                        continue;
                    }
                    const std::uint64_t n = ListCount(in, values, property);
                    const unsigned char* list = in.Take(n * SizeOf(property.value));
                    if (static_cast<int>(k) == indexProperty)
                    {
                        indices = list;
                        count = n;
                    }
                    else if (static_cast<int>(k) == cornerCoordinates)
                    {
                        corners = list;
                        cornerValues = n;
                    }
                }
                elements += count;
                if (elements > KV_MeshImporter::kMaxCorners)
                {
                    mkSurface.Clear();
                    mkReason = TooLarge();
                    return Outcome::Refused;
                }
                if (count < 3)
                    continue;
                if (made == polygons.Count())
                    throw KV_ShortRead();  // cannot be: each polygon took its share of room
                KV_Polygon& target = polygons[made];
                target.SetCount(static_cast<unsigned int>(count));
                KV_Polygon* mapped = nullptr;
                const Property* list = nullptr;
                if (texturePolygons != nullptr)
                {
                    mapped = &(*texturePolygons)[made];
                    mapped->SetCount(static_cast<unsigned int>(count));
                    if (cornerValues == 2 * count)
                        list = &face.properties[cornerCoordinates];
                }
                for (unsigned int j = 0; j < count; ++j)
                {
                    const std::uint32_t index = static_cast<std::uint32_t>(
                        values.Integer(indices + std::size_t(j) * indexSize, indexList.value));
                    if (index >= vertexCount)
                    {
                        mkSurface.Clear();
                        mkReason = "a face names vertex " + std::to_string(index) +
                                   " of a mesh of " + std::to_string(vertexCount) + " vertices";
                        return Outcome::Refused;
                    }
                    target[j] = welded[index];
                    if (mapped == nullptr)
                        continue;
                    if (list != nullptr)
                    {
                        const unsigned int size = SizeOf(list->value);
                        const float st[2] = {
                            values.Float(corners + std::size_t(2 * j) * size, list->value),
                            values.Float(corners + std::size_t(2 * j + 1) * size, list->value)};
                        (*mapped)[j] = coordinates.Index(st);
                    }
                    else if (!weldedCoordinates.empty())
                        (*mapped)[j] = weldedCoordinates[index];
                    else
                        (*mapped)[j] = coordinates.Index(origin);
                }
                ++made;
            }
            polygons.SetCount(made);
            if (texturePolygons != nullptr)
                texturePolygons->SetCount(made);
            for (++e; e < header.elements.size(); ++e)
            {
                where = header.elements[e].name.c_str();
                SkipElement(in, values, header.elements[e]);
            }
        }
        bytes.reset();
        if (made == 0)
        {
            mkSurface.Clear();
            mkReason = "the file holds no polygons";
            return Outcome::Refused;
        }
        KV_List<KV_Vector3D>& list = mkSurface.Vertices();
        list.SetCount(static_cast<unsigned int>(positions.Count()));
        for (std::size_t i = 0; i < positions.Count(); ++i)
            std::memcpy(&list[static_cast<unsigned int>(i)].x, positions.Key(i).data(), 12);

        if (!textured)
            return Outcome::Handled;
        TextureResult picture = texture.get();
        if (!picture.loaded)
        {
            // Without a picture, coordinates would be texture data nothing draws.
            mkSurface.ClearTexture();
            ReportMessage(picture.message.c_str(), picture.caption.c_str());
            return Outcome::Handled;
        }
        mkSurface.mpTextureMap = picture.image.release();
        KV_List<KV_Vector2D>& pairs = KV_Ensure(mkSurface.mpTextureCoordinates, 1024);
        pairs.SetCount(static_cast<unsigned int>(coordinates.Count()));
        for (std::size_t i = 0; i < coordinates.Count(); ++i)
            std::memcpy(&pairs[static_cast<unsigned int>(i)].u, coordinates.Key(i).data(), 8);
        return Outcome::Handled;
    }
    catch (const KV_ShortRead&)
    {
        mkReason = std::string("the file ends inside its element ") + where +
                   " (it holds fewer bytes than its header declares)";
    }
    catch (const KV_BadFile&)
    {
        mkReason = std::string("a list in element ") + where + " has a negative length";
    }
    catch (const std::bad_alloc&)
    {
        mkReason = "not enough memory for the surface";
    }
    mkSurface.Clear();
    return Outcome::Refused;
}
