#include "meshfile/KV_PlyReader.h"

#include "foundation/KV_Counted.h"
#include "foundation/KV_Executor.h"
#include "foundation/KV_Report.h"
#include "image/KV_MultiImage.h"
#include "meshfile/KV_BitWelder.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_ModelAppearance.h"
#include "meshfile/KV_ReadStop.h"
#include "meshfile/KV_TextureLookup.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_ByteCursor.h"
#include "surfacefile/KV_FileBytes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
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
    bool ascii = false;
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

enum class HeaderKind
{
    Known,    // every line understood: ASCII or binary, known types
    Unknown,  // something this reader does not know (the library may)
    Unended   // no end_header line before the end of the file
};

// The header line by line: Known when every line is understood.
HeaderKind ParseKnownHeader(const unsigned char* data, std::size_t size, Header& header,
                            bool binaryOnly)
{
    std::size_t position = 0;
    bool first = true, format = false;
    for (;;)
    {
        const void* newline = std::memchr(data + position, '\n', size - position);
        if (newline == nullptr)
            return first ? HeaderKind::Unknown : HeaderKind::Unended;
        const std::size_t end = static_cast<const unsigned char*>(newline) - data;
        std::string line(reinterpret_cast<const char*>(data) + position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first)
        {
            if (line != "ply")
                return HeaderKind::Unknown;
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
            return format ? HeaderKind::Known : HeaderKind::Unknown;
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
            else if (words[1] == "ascii" && !binaryOnly)
                header.ascii = true;
            else
                return HeaderKind::Unknown;
            format = true;
        }
        else if (keyword == "element" && words.size() == 3)
        {
            Element element;
            element.name = words[1];
            if (!ParseCount(words[2], element.count))
                return HeaderKind::Unknown;
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
                return HeaderKind::Unknown;
            header.elements.back().properties.push_back(property);
        }
        // Other lines (obj_info, a writer's note without "comment") say nothing about the
        // data; the library passes over them too.
    }
}

// Whether a line of only end_header follows the first line.
bool HasEndOfHeader(const unsigned char* data, std::size_t size)
{
    std::size_t position = 0;
    while (position < size)
    {
        const void* newline = std::memchr(data + position, '\n', size - position);
        if (newline == nullptr)
            return false;
        const std::size_t end = static_cast<const unsigned char*>(newline) - data;
        const std::vector<std::string> words =
            Words(std::string(reinterpret_cast<const char*>(data) + position, end - position));
        if (words.size() == 1 && (words[0] == "end_header" || words[0] == "end_header\r"))
            return true;
        position = end + 1;
    }
    return false;
}

// The header, when it is one of known types. With binary only, an ASCII one is Unknown. A
// header of lines this does not know is Unended all the same when it does not end.
HeaderKind ParseHeader(const unsigned char* data, std::size_t size, Header& header,
                       bool binaryOnly)
{
    const HeaderKind kind = ParseKnownHeader(data, size, header, binaryOnly);
    if (kind == HeaderKind::Unknown && size >= 4 && std::memcmp(data, "ply", 3) == 0 &&
        (data[3] == '\n' || data[3] == '\r') && !HasEndOfHeader(data, size))
        return HeaderKind::Unended;
    return kind;
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

    // Values lie in this machine's byte order.
    bool Native() const { return !mbSwap; }

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

// The header declares more of an element than the bytes left can hold.
struct Declared
{
    std::string reason;
};

std::string DeclaredTooMany(const Element& element, std::uint64_t bytes)
{
    const std::string one = element.name == "vertex" ? "vertex"
                            : element.name == "face" ? "face"
                                                     : "\"" + element.name + "\" element";
    const std::string many = element.name == "vertex" ? "vertices"
                             : element.name == "face" ? "faces"
                                                      : "\"" + element.name + "\" elements";
    return "the file declares " + KV_Counted(element.count, one.c_str(), many.c_str()) +
           " but holds only " + KV_Counted(bytes, "byte", "bytes");
}

// Throws Declared unless the bytes left can hold the element's instances at their smallest
// (one byte each for an element of no properties, which no writer makes in numbers).
void RequireDeclared(const KV_ByteCursor& in, const Element& element)
{
    const std::uint64_t size = std::max<std::uint64_t>(element.MinimumSize(), 1);
    if (element.count > in.Remaining() / size)
        throw Declared{DeclaredTooMany(element, in.Remaining())};
}

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
    RequireDeclared(in, element);
    if (element.Fixed())
    {
        in.Skip(element.count * element.MinimumSize());
        return;
    }
    // Every instance takes at least one byte (a list count): the walk ends within the file.
    for (std::uint64_t i = 0; i < element.count; ++i)
        for (const Property& property : element.properties)
            in.Skip(property.list ? ListCount(in, values, property) * SizeOf(property.value)
                                  : SizeOf(property.value));
}

// The whitespace-separated words of an ASCII PLY body, one after another.
class AsciiWords
{
public:
    AsciiWords(const unsigned char* begin, const unsigned char* end) : mpAt(begin), mpEnd(end) {}
    std::size_t Remaining() const { return static_cast<std::size_t>(mpEnd - mpAt); }
    // The next word, or false at the end.
    bool Next(const unsigned char*& word, std::size_t& length)
    {
        while (mpAt < mpEnd && IsSpace(*mpAt)) ++mpAt;
        if (mpAt == mpEnd)
            return false;
        word = mpAt;
        while (mpAt < mpEnd && !IsSpace(*mpAt)) ++mpAt;
        length = static_cast<std::size_t>(mpAt - word);
        return true;
    }

private:
    static bool IsSpace(unsigned char c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }
    const unsigned char* mpAt;
    const unsigned char* mpEnd;
};

enum class BodyKind
{
    Fits,
    Short,   // reason says which element the data ends in
    Unknown  // a value this check cannot read (the library may)
};

// Walks an ASCII body word by word: every instance of every element, every list as long as
// its count says. Linear in the file's size: each word read is a word the file holds.
BodyKind WalkAscii(const Header& header, const unsigned char* begin, const unsigned char* end,
                   std::string& reason)
{
    AsciiWords words(begin, end);
    const unsigned char* word = nullptr;
    std::size_t length = 0;
    for (const Element& element : header.elements)
    {
        // At their smallest, the element's values are one character and a space each.
        const std::uint64_t smallest =
            std::max<std::uint64_t>(2 * element.properties.size(), 1);
        if (element.count > (words.Remaining() + 1) / smallest)
        {
            reason = DeclaredTooMany(element, words.Remaining());
            return BodyKind::Short;
        }
        for (std::uint64_t i = 0; i < element.count; ++i)
            for (const Property& property : element.properties)
            {
                // A scalar is one word; a list its count, then as many words.
                std::uint64_t values = 0;
                bool whole = words.Next(word, length);
                if (whole && property.list)
                {
                    for (std::size_t k = 0; k < length; ++k)
                    {
                        if (word[k] < '0' || word[k] > '9' || values > 0xFFFFFFFFull)
                            return BodyKind::Unknown;
                        values = values * 10 + static_cast<unsigned int>(word[k] - '0');
                    }
                }
                for (std::uint64_t k = 0; whole && k < values; ++k)
                    whole = words.Next(word, length);
                if (!whole)
                {
                    reason = "the file ends inside its element " + element.name +
                             " (it holds fewer values than its header declares)";
                    return BodyKind::Short;
                }
            }
    }
    return BodyKind::Fits;
}

// The texture's picture, found and decoded away from the geometry.
struct TextureResult
{
    std::unique_ptr<KV_MultiImage> image;
    bool loaded = false;
    std::string message, caption;
};

TextureResult ReadTexture(const std::string& modelPath, const std::string& name,
                          const std::atomic<bool>* stop)
{
    TextureResult result;
    try
    {
        result.image = std::make_unique<KV_MultiImage>();
        result.loaded =
            KV_ReadModelTexture(modelPath, name, *result.image, result.message, result.caption,
                                stop);
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

// Below this many vertices a piece of their own costs more than it saves.
const std::uint64_t kConcurrentVerticesFrom = 65536;

const char* const kUnended = "the file ends inside its header (it has no end_header line)";

std::string TooLarge()
{
    return "the scene is too large (more than " + std::to_string(KV_MeshImporter::kMaxCorners) +
           " vertices, faces and polygon corners)";
}

}  // namespace

KV_PlyReader::Outcome KV_PlyReader::Read(const std::string& path)
{
    mkReason.clear();
    if (KV_IsStopped(mpStop))
    {
        ClearResult();
        mkReason = "stopped";
        return Outcome::Refused;
    }
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
    if (!bytes->Load(path.c_str(), mpStop))
    {
        if (!KV_IsStopped(mpStop))
            return Outcome::NotHandled;
        ClearResult();
        mkReason = "stopped";
        return Outcome::Refused;
    }
    Header header;
    switch (ParseHeader(bytes->Data(), bytes->Size(), header, true))
    {
        case HeaderKind::Known:
            break;
        case HeaderKind::Unended:
            mkReason = kUnended;
            return Outcome::Refused;
        case HeaderKind::Unknown:
            return Outcome::NotHandled;
    }

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
    // With a table: colours (any of red, green, blue and alpha; the others 0, alpha 255) and
    // normals (any of nx, ny, nz; the others 0), as the library reads them. Colours of bytes
    // or floating point only: the library's scale for the other types is its own.
    const int rgba[4] = {vertex.Find({"red", "r"}), vertex.Find({"green", "g"}),
                         vertex.Find({"blue", "b"}), vertex.Find({"alpha"})};
    const int nxyz[3] = {vertex.Find({"nx"}), vertex.Find({"ny"}), vertex.Find({"nz"})};
    const bool table = mpAppearance != nullptr;
    const bool withColours =
        table && (rgba[0] >= 0 || rgba[1] >= 0 || rgba[2] >= 0 || rgba[3] >= 0);
    const bool withNormals = table && (nxyz[0] >= 0 || nxyz[1] >= 0 || nxyz[2] >= 0);
    for (int k : rgba)
        if (withColours && k >= 0 &&
            (vertex.properties[k].list || (vertex.properties[k].value != ValueType::UInt8 &&
                                           IsInteger(vertex.properties[k].value))))
            return Outcome::NotHandled;
    for (int k : nxyz)
        if (withNormals && k >= 0 &&
            (vertex.properties[k].list || IsInteger(vertex.properties[k].value)))
            return Outcome::NotHandled;

    ClearResult();
    // The picture decodes as a piece of its own while this thread reads the geometry (on
    // this thread at the end, without an executor). A read that ends early lets go of it:
    // a piece no thread has begun then does nothing, and one begun is waited for.
    std::atomic<bool> abandoned{false};
    KV_Task<TextureResult> texture;
    struct Abandon
    {
        std::atomic<bool>& flag;
        ~Abandon() { flag.store(true, std::memory_order_relaxed); }
    } abandon{abandoned};
    if (textured)
        texture = KV_Spawn(mpExecutor,
                           [&path, &abandoned, stop = mpStop, name = header.texture]
                           {
                               if (abandoned.load(std::memory_order_relaxed) || KV_IsStopped(stop))
                                   return TextureResult();
                               return ReadTexture(path, name, stop);
                           });

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
        RequireDeclared(in, vertex);
        const std::uint64_t vertexCount = vertex.count;
        if (vertexCount > KV_MeshImporter::kMaxCorners)
        {
            ClearResult();
            mkReason = TooLarge();
            return Outcome::Refused;
        }
        // The values first, then the welding, which looks a few vertices ahead: its table is
        // far larger than the caches, and waiting for each probe took most of the read.
        const bool withCoordinates = textured && vertexCoordinates;
        std::vector<float> point(3 * vertexCount), st(withCoordinates ? 2 * vertexCount : 0);
        std::vector<float> normal(withNormals ? 3 * vertexCount : 0);
        std::vector<std::uint8_t> colour(withColours ? 4 * vertexCount : 0);
        for (std::uint64_t i = 0; withColours && rgba[3] < 0 && i < vertexCount; ++i)
            colour[4 * i + 3] = 255;
        const bool fixed = vertex.Fixed();
        // A row of fixed size has each wanted value at one offset: those alone are read, each
        // straight into its place.
        struct Wanted
        {
            std::size_t offset;
            ValueType type;
            float* values;  // null for a colour
            unsigned int stride, component;
        };
        std::vector<Wanted> wanted;
        if (fixed)
        {
            std::vector<std::size_t> offsets(vertex.properties.size(), 0);
            for (std::size_t k = 1; k < offsets.size(); ++k)
                offsets[k] = offsets[k - 1] + SizeOf(vertex.properties[k - 1].value);
            auto want = [&](int k, float* values, unsigned int stride, unsigned int component)
            {
                if (k >= 0)
                    wanted.push_back(
                        {offsets[k], vertex.properties[k].value, values, stride, component});
            };
            for (unsigned int c = 0; c < 3; ++c) want(xyz[c], point.data(), 3, c);
            for (unsigned int c = 0; withCoordinates && c < 2; ++c) want(uv[c], st.data(), 2, c);
            for (unsigned int c = 0; withNormals && c < 3; ++c) want(nxyz[c], normal.data(), 3, c);
            for (unsigned int c = 0; withColours && c < 4; ++c) want(rgba[c], nullptr, 4, c);
        }
        // Rows [first, last), the first at rows.
        auto readRows = [&](std::uint64_t first, std::uint64_t last, const unsigned char* row)
        {
            const std::size_t rowSize = vertex.MinimumSize();
            for (std::uint64_t i = first; i < last; ++i, row += rowSize)
            {
                if (i % kStopCheckEvery == 0)
                    KV_CheckStop(mpStop);
                for (const Wanted& w : wanted)
                {
                    const unsigned char* value = row + w.offset;
                    if (w.values != nullptr)
                        w.values[w.stride * i + w.component] = values.Float(value, w.type);
                    else
                        colour[4 * i + w.component] =
                            w.type == ValueType::UInt8 ? value[0]
                                                       : KV_ColourByte(values.Float(value, w.type));
                }
            }
        };
        if (fixed)
        {
            // The declared rows fit the file (RequireDeclared). Those of a large element are
            // read in two halves at once: each value has a place of its own.
            const unsigned char* rows = in.Take(vertexCount * vertex.MinimumSize());
            const std::uint64_t half =
                mpExecutor != nullptr && vertexCount >= kConcurrentVerticesFrom ? vertexCount / 2
                                                                                : vertexCount;
            KV_Task<void> second;
            if (half < vertexCount)
                second = KV_Spawn(mpExecutor, [&readRows, half, vertexCount,
                                               at = rows + half * vertex.MinimumSize()]
                                  { readRows(half, vertexCount, at); });
            try
            {
                readRows(0, half, rows);
            }
            catch (...)
            {
                second.Abandon();
                throw;
            }
            if (second.Valid())
                second.Get();
        }
        for (std::uint64_t i = 0; !fixed && i < vertexCount; ++i)
        {
            if (i % kStopCheckEvery == 0)
                KV_CheckStop(mpStop);
            for (std::size_t k = 0; k < vertex.properties.size(); ++k)
            {
                const Property& property = vertex.properties[k];
                if (property.list)
                {
                    in.Skip(ListCount(in, values, property) * SizeOf(property.value));
                    continue;
                }
                const unsigned char* value = in.Take(SizeOf(property.value));
                for (int c = 0; c < 3; ++c)
                    if (static_cast<int>(k) == xyz[c])
                        point[3 * i + c] = values.Float(value, property.value);
                for (int c = 0; withCoordinates && c < 2; ++c)
                    if (static_cast<int>(k) == uv[c])
                        st[2 * i + c] = values.Float(value, property.value);
                for (int c = 0; withNormals && c < 3; ++c)
                    if (static_cast<int>(k) == nxyz[c])
                        normal[3 * i + c] = values.Float(value, property.value);
                for (int c = 0; withColours && c < 4; ++c)
                    if (static_cast<int>(k) == rgba[c])
                        colour[4 * i + c] = property.value == ValueType::UInt8
                                                ? value[0]
                                                : KV_ColourByte(values.Float(value, property.value));
            }
        }
        const std::uint64_t kAhead = 16;
        // The tuples stay in the rows read (point, st) until the lists are made from them.
        KV_BitWelder<3> positions(vertexCount, point.data());
        std::vector<unsigned int> welded(vertexCount);
        KV_BitWelder<2> coordinates(textured ? vertexCount + 16 : 0, st.data());
        std::vector<unsigned int> weldedCoordinates(withCoordinates ? vertexCount : 0);
        auto weldCoordinates = [&]
        {
            for (std::uint64_t i = 0; withCoordinates && i < vertexCount; ++i)
            {
                if (i % kStopCheckEvery == 0)
                    KV_CheckStop(mpStop);
                if (i + kAhead < vertexCount)
                    coordinates.Prefetch(&st[2 * (i + kAhead)]);
                weldedCoordinates[i] = coordinates.IndexAt(i);
            }
        };
        // The two welders share nothing: those of a large element work at once.
        KV_Task<void> coordinatesWelded;
        if (withCoordinates && mpExecutor != nullptr && vertexCount >= kConcurrentVerticesFrom)
            coordinatesWelded = KV_Spawn(mpExecutor, weldCoordinates);
        try
        {
            for (std::uint64_t i = 0; i < vertexCount; ++i)
            {
                if (i % kStopCheckEvery == 0)
                    KV_CheckStop(mpStop);
                if (i + kAhead < vertexCount)
                    positions.Prefetch(&point[3 * (i + kAhead)]);
                welded[i] = positions.IndexAt(i);
            }
        }
        catch (...)
        {
            coordinatesWelded.Abandon();
            throw;
        }
        if (coordinatesWelded.Valid())
            coordinatesWelded.Get();
        else
            weldCoordinates();
        // The first colour of each welded vertex, in file order; each file vertex's normal.
        std::unique_ptr<KV_ColourCollector> colours;
        if (withColours)
        {
            colours = std::make_unique<KV_ColourCollector>(positions.Count());
            for (std::uint64_t i = 0; i < vertexCount; ++i)
                colours->Set(welded[i], &colour[4 * i]);
            colours->Finish(*mpAppearance, positions.Count());
            std::vector<std::uint8_t>().swap(colour);
        }
        std::unique_ptr<KV_NormalCollector> normals;
        std::vector<unsigned int> normalClass(withNormals ? vertexCount : 0);
        if (withNormals)
        {
            normals = std::make_unique<KV_NormalCollector>(positions.Count(), vertexCount);
            for (std::uint64_t i = 0; i < vertexCount; ++i)
                normalClass[i] = normals->Weld(&normal[3 * i]);
            std::vector<float>().swap(normal);
        }
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
            RequireDeclared(in, face);
            std::uint64_t elements = vertexCount + face.count;
            if (elements > KV_MeshImporter::kMaxCorners)
            {
                ClearResult();
                mkReason = TooLarge();
                return Outcome::Refused;
            }
            const Property& indexList = face.properties[indexProperty];
            const unsigned int indexSize = SizeOf(indexList.value);
            // Each face is gathered here and appended whole, so that faces of one size stay
            // in one flat run.
            std::vector<unsigned int> faceCorners, faceCoordinates;
            const float origin[2] = {0.0f, 0.0f};
            auto badIndex = [&](std::uint32_t index)
            {
                ClearResult();
                mkReason = "a face names vertex " + std::to_string(index) + " of a mesh of " +
                           KV_Counted(vertexCount, "vertex", "vertices");
            };
            std::uint64_t f = 0;
            // The usual faces (triangles of a byte count and 32-bit indices in this machine's
            // order, and nothing else) go straight into the flat lists made for all of them;
            // the first other face leaves the rest to the loop below.
            const bool plainTriangles =
                face.properties.size() == 1 && indexList.count == ValueType::UInt8 &&
                indexSize == 4 && values.Native() && !polygons.HasStorage() &&
                (texturePolygons == nullptr || !texturePolygons->HasStorage());
            // A large block of such faces alone, each coordinate with its vertex, is read in
            // two halves at once: each face has its own place in the lists, and a face that
            // names a vertex outside the mesh is reported as the first of them in the file.
            const std::uint64_t kRecord = 1 + 3 * sizeof(std::uint32_t);
            bool halves = plainTriangles && !normals && mpExecutor != nullptr &&
                          face.count >= kConcurrentVerticesFrom &&
                          (texturePolygons == nullptr || !weldedCoordinates.empty()) &&
                          in.Remaining() / kRecord >= face.count &&
                          elements + 3 * face.count <= KV_MeshImporter::kMaxCorners;
            const unsigned char* records = halves ? in.Take(0) : nullptr;
            for (std::uint64_t k = 0; halves && k < face.count; ++k)
                halves = records[kRecord * k] == 3;
            if (halves)
            {
                // Every tuple is welded (the faces take their coordinates from the vertices):
                // the tables go first, so that the lists below can have their memory.
                positions.ReleaseTable();
                coordinates.ReleaseTable();
                // The lists' memory is made ready (the system zeroes it) on two threads too.
                KV_Task<void> textureRoom;
                if (texturePolygons != nullptr)
                    textureRoom = KV_Spawn(mpExecutor,
                                           [texturePolygons, &face] {
                                               texturePolygons->SetFlatCount(
                                                   static_cast<unsigned int>(face.count), 3);
                                           });
                polygons.SetFlatCount(static_cast<unsigned int>(face.count), 3);
                if (textureRoom.Valid())
                    textureRoom.Get();
                in.Skip(kRecord * face.count);
                elements += 3 * face.count;
                struct Fault
                {
                    std::uint64_t face = UINT64_MAX;
                    std::uint32_t index = 0;
                };
                auto readFaces = [&](std::uint64_t first, std::uint64_t last, Fault& fault)
                {
                    for (std::uint64_t k = first; k < last; ++k)
                    {
                        if (k % kStopCheckEvery == 0)
                            KV_CheckStop(mpStop);
                        std::uint32_t index[3];
                        std::memcpy(index, records + kRecord * k + 1, sizeof index);
                        const unsigned int at = static_cast<unsigned int>(k);
                        unsigned int* target = &polygons[at][0];
                        for (unsigned int j = 0; j < 3; ++j)
                        {
                            if (index[j] >= vertexCount)
                            {
                                fault = Fault{k, index[j]};
                                return;
                            }
                            target[j] = welded[index[j]];
                        }
                        if (texturePolygons != nullptr)
                        {
                            unsigned int* mapped = &(*texturePolygons)[at][0];
                            for (unsigned int j = 0; j < 3; ++j)
                                mapped[j] = weldedCoordinates[index[j]];
                        }
                    }
                };
                const std::uint64_t half = face.count / 2;
                Fault early, late;
                KV_Task<void> second = KV_Spawn(mpExecutor, [&readFaces, half, &face, &late]
                                                { readFaces(half, face.count, late); });
                try
                {
                    readFaces(0, half, early);
                }
                catch (...)
                {
                    second.Abandon();
                    throw;
                }
                second.Get();
                const Fault& first = early.face != UINT64_MAX ? early : late;
                if (first.face != UINT64_MAX)
                {
                    badIndex(first.index);
                    return Outcome::Refused;
                }
                made = static_cast<unsigned int>(face.count);
                f = face.count;
            }
            else if (plainTriangles)
            {
                polygons.SetFlatCount(static_cast<unsigned int>(face.count), 3);
                if (texturePolygons != nullptr)
                    texturePolygons->SetFlatCount(static_cast<unsigned int>(face.count), 3);
                for (; f < face.count; ++f)
                {
                    if (f % kStopCheckEvery == 0)
                        KV_CheckStop(mpStop);
                    const std::size_t at = in.Position();
                    if (*in.Take(1) != 3)
                    {
                        in.Seek(at);
                        // Faces of another size from the first on: their own flat run.
                        if (made == 0)
                        {
                            polygons.Clear();
                            if (texturePolygons != nullptr)
                                texturePolygons->Clear();
                        }
                        break;
                    }
                    std::uint32_t index[3];
                    std::memcpy(index, in.Take(sizeof index), sizeof index);
                    elements += 3;
                    if (elements > KV_MeshImporter::kMaxCorners)
                    {
                        ClearResult();
                        mkReason = TooLarge();
                        return Outcome::Refused;
                    }
                    unsigned int* target = &polygons[made][0];
                    for (unsigned int j = 0; j < 3; ++j)
                    {
                        if (index[j] >= vertexCount)
                        {
                            badIndex(index[j]);
                            return Outcome::Refused;
                        }
                        target[j] = welded[index[j]];
                        if (normals)
                            normals->Corner(welded[index[j]], normalClass[index[j]]);
                    }
                    if (texturePolygons != nullptr)
                    {
                        unsigned int* mapped = &(*texturePolygons)[made][0];
                        for (unsigned int j = 0; j < 3; ++j)
                            mapped[j] = weldedCoordinates.empty() ? coordinates.Index(origin)
                                                                  : weldedCoordinates[index[j]];
                    }
                    ++made;
                }
                polygons.SetCount(made);
                if (texturePolygons != nullptr)
                    texturePolygons->SetCount(made);
            }
            for (; f < face.count; ++f)
            {
                if (f % kStopCheckEvery == 0)
                    KV_CheckStop(mpStop);
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
                    ClearResult();
                    mkReason = TooLarge();
                    return Outcome::Refused;
                }
                if (count < 3)
                    continue;
                std::vector<unsigned int>& target = faceCorners;
                target.resize(count);
                std::vector<unsigned int>* mapped = nullptr;
                const Property* list = nullptr;
                if (texturePolygons != nullptr)
                {
                    mapped = &faceCoordinates;
                    mapped->resize(count);
                    if (cornerValues == 2 * count)
                        list = &face.properties[cornerCoordinates];
                }
                for (unsigned int j = 0; j < count; ++j)
                {
                    const std::uint32_t index = static_cast<std::uint32_t>(
                        values.Integer(indices + std::size_t(j) * indexSize, indexList.value));
                    if (index >= vertexCount)
                    {
                        badIndex(index);
                        return Outcome::Refused;
                    }
                    target[j] = welded[index];
                    if (normals)
                        normals->Corner(welded[index], normalClass[index]);
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
                polygons.AppendCorners(target.data(), static_cast<unsigned int>(count));
                if (mapped != nullptr)
                    texturePolygons->AppendCorners(mapped->data(), static_cast<unsigned int>(count));
                ++made;
            }
            for (++e; e < header.elements.size(); ++e)
            {
                where = header.elements[e].name.c_str();
                SkipElement(in, values, header.elements[e]);
            }
        }
        const bool changed = bytes->Changed();
        bytes.reset();
        KV_CheckStop(mpStop);
        if (changed)
        {
            // Cut short by another program meanwhile: the bytes read are not the file's.
            ClearResult();
            mkReason = "the file changed while it was read";
            return Outcome::Refused;
        }
        if (made == 0)
        {
            ClearResult();
            mkReason = "the file holds no polygons";
            return Outcome::Refused;
        }
        if (normals)
            normals->Finish(*mpAppearance, positions.Count());
        // The coordinates' list is made beside the positions' (each in one piece, as a
        // surface file's are read: the drawing can take them as they lie). It goes with the
        // rest of the texture data when the picture does not load.
        KV_List<KV_Vector2D>* madePairs =
            textured ? &KV_Ensure(mkSurface.mpTextureCoordinates, 1024) : nullptr;
        auto makePairs = [madePairs, &coordinates]
        {
            KV_List<KV_Vector2D>& pairs = *madePairs;
            pairs.SetCountInOnePiece(static_cast<unsigned int>(coordinates.Count()));
            for (std::size_t i = 0; i < coordinates.Count(); ++i)
                std::memcpy(&pairs[static_cast<unsigned int>(i)].u, coordinates.KeyOf(i).data(), 8);
        };
        KV_Task<void> pairsMade;
        if (textured && coordinates.Count() >= kConcurrentVerticesFrom)
            pairsMade = KV_Spawn(mpExecutor, makePairs);
        KV_List<KV_Vector3D>& list = mkSurface.Vertices();
        list.SetCountInOnePiece(static_cast<unsigned int>(positions.Count()));
        for (std::size_t i = 0; i < positions.Count(); ++i)
            std::memcpy(&list[static_cast<unsigned int>(i)].x, positions.KeyOf(i).data(), 12);
        if (pairsMade.Valid())
            pairsMade.Get();
        else if (textured)
            makePairs();
        // The welders read their tuples from the rows until here.
        std::vector<float>().swap(point);
        std::vector<float>().swap(st);

        if (!textured)
            return Outcome::Handled;
        TextureResult picture = texture.Get();
        KV_CheckStop(mpStop);
        if (!picture.loaded)
        {
            // Without a picture, coordinates would be texture data nothing draws.
            mkSurface.ClearTexture();
            ReportMessage(picture.message.c_str(), picture.caption.c_str());
            return Outcome::Handled;
        }
        mkSurface.mpTextureMap = picture.image.release();
        return Outcome::Handled;
    }
    catch (const KV_StopSeen&)
    {
        mkReason = "stopped";
    }
    catch (const Declared& declared)
    {
        mkReason = declared.reason;
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
    ClearResult();
    return Outcome::Refused;
}

void KV_PlyReader::ClearResult()
{
    mkSurface.Clear();
    if (mpAppearance != nullptr)
        mpAppearance->Clear();
}

bool KV_PlyReader::CheckDeclaredSizes(const std::string& path, std::string& reason,
                                      const std::atomic<bool>* stop)
{
    {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr)
            return true;
        char head[5] = {};
        const std::size_t got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        const std::string start(head, got);
        if (start.compare(0, 4, "ply\n") != 0 && start.compare(0, 5, "ply\r\n") != 0)
            return true;
    }
    KV_FileBytes bytes;
    if (!bytes.Load(path.c_str(), stop))
        return true;
    Header header;
    switch (ParseHeader(bytes.Data(), bytes.Size(), header, false))
    {
        case HeaderKind::Known:
            break;
        case HeaderKind::Unended:
            reason = kUnended;
            return false;
        case HeaderKind::Unknown:
            return true;
    }
    if (header.ascii)
        return WalkAscii(header, bytes.Data() + header.dataStart, bytes.Data() + bytes.Size(),
                         reason) != BodyKind::Short;
    const ValueLoader values(header.bigEndian);
    KV_ByteCursor in(bytes.Data(), bytes.Size());
    const char* where = "";
    try
    {
        in.Seek(header.dataStart);
        for (const Element& element : header.elements)
        {
            where = element.name.c_str();
            SkipElement(in, values, element);
        }
        return true;
    }
    catch (const Declared& declared)
    {
        reason = declared.reason;
    }
    catch (const KV_ShortRead&)
    {
        reason = std::string("the file ends inside its element ") + where +
                 " (it holds fewer bytes than its header declares)";
    }
    catch (const KV_BadFile&)
    {
        reason = std::string("a list in element ") + where + " has a negative length";
    }
    return false;
}
