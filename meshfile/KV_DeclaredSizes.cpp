#include "meshfile/KV_DeclaredSizes.h"

#include "foundation/KV_Counted.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_PlyReader.h"
#include "meshfile/KV_ReadStop.h"
#include "surfacefile/KV_ByteCursor.h"
#include "surfacefile/KV_FileBytes.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace
{

using Json = nlohmann::json;

std::uint64_t FileSize(const std::string& path)
{
    std::error_code code;
    const auto size = std::filesystem::file_size(path, code);
    return code ? 0 : static_cast<std::uint64_t>(size);
}

std::uint32_t Le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// ---- OFF

bool IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The words of an OFF file, comments (from # to the end of the line) left out.
class OffWords
{
public:
    OffWords(const unsigned char* begin, const unsigned char* end) : mpAt(begin), mpEnd(end) {}
    bool Next(std::string* word)
    {
        for (;;)
        {
            while (mpAt < mpEnd && IsSpace(*mpAt)) ++mpAt;
            if (mpAt < mpEnd && *mpAt == '#')
            {
                while (mpAt < mpEnd && *mpAt != '\n') ++mpAt;
                continue;
            }
            break;
        }
        if (mpAt == mpEnd)
            return false;
        const unsigned char* start = mpAt;
        while (mpAt < mpEnd && !IsSpace(*mpAt) && *mpAt != '#') ++mpAt;
        if (word != nullptr)
            word->assign(reinterpret_cast<const char*>(start), mpAt - start);
        return true;
    }

private:
    const unsigned char* mpAt;
    const unsigned char* mpEnd;
};

bool ParseCount(const std::string& word, std::uint64_t& count)
{
    if (word.empty() || word.size() > 18)
        return false;
    count = 0;
    for (char c : word)
    {
        if (c < '0' || c > '9')
            return false;
        count = count * 10 + static_cast<unsigned int>(c - '0');
    }
    return true;
}

// The keyword of an OFF header: [ST][C][N][4][n]OFF. Sets the values each vertex takes at
// least (before a dimension word, for nOFF).
bool OffKeyword(const std::string& word, unsigned int& perVertex, bool& dimension)
{
    std::size_t at = 0;
    perVertex = 3;
    dimension = false;
    if (word.compare(at, 2, "ST") == 0)
        at += 2;
    if (at < word.size() && word[at] == 'C')
        ++at;
    if (at < word.size() && word[at] == 'N')
        ++at;
    if (at < word.size() && word[at] == '4')
    {
        ++perVertex;
        ++at;
    }
    if (at < word.size() && word[at] == 'n')
    {
        dimension = true;
        ++at;
    }
    return word.compare(at, std::string::npos, "OFF") == 0;
}

bool CheckOff(const std::string& path, std::string& reason, const std::atomic<bool>* stop)
{
    KV_FileBytes bytes;
    if (!bytes.Load(path.c_str(), stop))
        return true;
    OffWords words(bytes.Data(), bytes.Data() + bytes.Size());
    std::string word;
    unsigned int perVertex = 3;
    bool dimension = false;
    if (!words.Next(&word))
        return true;
    if (OffKeyword(word, perVertex, dimension))
    {
        std::uint64_t dimensions = 0;
        if (dimension && (!words.Next(&word) || !ParseCount(word, dimensions) || dimensions > 16))
            return true;
        if (dimension)
            perVertex += static_cast<unsigned int>(dimensions) - 3;
        if (!words.Next(&word))
            return true;
    }
    // The counts: vertices, faces (and edges, which nothing reads).
    std::uint64_t vertices = 0, faces = 0;
    if (!ParseCount(word, vertices) || !words.Next(&word) || !ParseCount(word, faces))
        return true;
    if (perVertex == 0)
        perVertex = 1;
    // Every vertex takes its coordinates, every face at least its corner count.
    const std::uint64_t vertexWords = vertices * perVertex;
    std::uint64_t held = 0;
    while (held < vertexWords + faces && words.Next(nullptr))
        if (++held % kKV_StopCheckElements == 0 && KV_IsStopped(stop))
            return true;
    if (held >= vertexWords + faces)
        return true;
    const bool fewVertices = held < vertexWords;
    reason = "the file declares " +
             (fewVertices ? KV_Counted(vertices, "vertex", "vertices")
                          : KV_Counted(faces, "face", "faces")) +
             " but holds only " + KV_Counted(bytes.Size(), "byte", "bytes");
    return false;
}

// ---- glTF 2.0

// A non-negative integer member: fallback when absent, false when present but not one.
bool Unsigned(const Json& object, const char* name, std::uint64_t fallback, std::uint64_t& value)
{
    const auto member = object.find(name);
    if (member == object.end())
    {
        value = fallback;
        return true;
    }
    if (!member->is_number_unsigned())
        return false;
    value = member->get<std::uint64_t>();
    return true;
}

// The most bytes a data URI's text can decode to: three for every four base64 characters
// (fewer for a last group cut short or padded), one per character otherwise.
std::uint64_t DataUriBytes(const std::string& uri)
{
    const std::size_t comma = uri.find(',');
    if (comma == std::string::npos)
        return 0;
    const std::uint64_t length = uri.size() - comma - 1;
    if (comma < 7 || uri.compare(comma - 7, 7, ";base64") != 0)
        return length;
    std::uint64_t characters = length;
    for (std::size_t i = uri.size(); i > comma + 1 && uri[i - 1] == '=' && characters + 2 > length;
         --i)
        --characters;
    return characters / 4 * 3 + (characters % 4 == 0 ? 0 : characters % 4 - 1);
}

// A relative URI's file name: %XX escapes decoded.
std::string DecodeUri(const std::string& uri)
{
    std::string out;
    for (std::size_t i = 0; i < uri.size(); ++i)
    {
        auto hex = [](char c) -> int
        {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (uri[i] == '%' && i + 2 < uri.size() && hex(uri[i + 1]) >= 0 && hex(uri[i + 2]) >= 0)
        {
            out += static_cast<char>(hex(uri[i + 1]) * 16 + hex(uri[i + 2]));
            i += 2;
        }
        else
            out += uri[i];
    }
    return out;
}

std::uint64_t ComponentSize(std::uint64_t componentType)
{
    switch (componentType)
    {
        case 5120:
        case 5121:
            return 1;
        case 5122:
        case 5123:
            return 2;
        case 5125:
        case 5126:
            return 4;
        default:
            return 0;
    }
}

std::uint64_t Components(const std::string& type)
{
    static const struct
    {
        const char* name;
        std::uint64_t count;
    } kTypes[] = {{"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4},
                  {"MAT2", 4},   {"MAT3", 9}, {"MAT4", 16}};
    for (const auto& entry : kTypes)
        if (type == entry.name)
            return entry.count;
    return 0;
}

// The members of a glTF array, or none when it is absent or not an array.
const Json& ArrayOf(const Json& gltf, const char* name)
{
    static const Json kNone = Json::array();
    const auto member = gltf.find(name);
    return member != gltf.end() && member->is_array() ? *member : kNone;
}

bool CheckGltfJson(const Json& gltf, const std::string& path, bool binary,
                   std::uint64_t binaryChunk, std::string& reason)
{
    if (!gltf.is_object() || !gltf.contains("asset") || !gltf["asset"].is_object() ||
        gltf["asset"].value("version", std::string()).rfind("2.", 0) != 0)
        return true;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();

    // Buffers: what each declares against what is behind it.
    const Json& buffers = ArrayOf(gltf, "buffers");
    std::vector<std::uint64_t> bufferLength(buffers.size(), 0);
    for (std::size_t b = 0; b < buffers.size(); ++b)
    {
        const Json& buffer = buffers[b];
        std::uint64_t length = 0;
        if (!buffer.is_object() || !Unsigned(buffer, "byteLength", 0, length))
            return true;
        bufferLength[b] = length;
        const auto uri = buffer.find("uri");
        std::uint64_t held = 0;
        std::string where;
        if (uri == buffer.end())
        {
            if (!binary || b != 0)
                return true;
            held = binaryChunk;
            where = "the file's binary chunk holds";
        }
        else if (!uri->is_string())
            return true;
        else if (uri->get<std::string>().rfind("data:", 0) == 0)
        {
            held = DataUriBytes(uri->get<std::string>());
            where = "its data holds";
        }
        else if (uri->get<std::string>().find("://") != std::string::npos)
            return true;
        else
        {
            const std::string name = DecodeUri(uri->get<std::string>());
            const std::string file = (folder / name).string();
            std::error_code code;
            if (!std::filesystem::is_regular_file(file, code))
                return true;  // the library says it is missing
            held = FileSize(file);
            where = "its file " + name + " holds";
        }
        if (length > held)
        {
            reason = "buffer " + std::to_string(b) + " declares " + std::to_string(length) +
                     " bytes but " + where + " only " + std::to_string(held);
            return false;
        }
    }

    // Buffer views inside their buffers.
    const Json& views = ArrayOf(gltf, "bufferViews");
    std::vector<std::uint64_t> viewLength(views.size(), 0);
    for (std::size_t v = 0; v < views.size(); ++v)
    {
        const Json& view = views[v];
        std::uint64_t buffer = 0, offset = 0, length = 0;
        if (!view.is_object() || !Unsigned(view, "buffer", 0, buffer) ||
            !Unsigned(view, "byteOffset", 0, offset) || !Unsigned(view, "byteLength", 0, length) ||
            buffer >= buffers.size() || offset > (std::uint64_t(1) << 62) ||
            length > (std::uint64_t(1) << 62))
            return true;
        viewLength[v] = length;
        if (offset + length > bufferLength[buffer])
        {
            reason = "buffer view " + std::to_string(v) + " reaches byte " +
                     std::to_string(offset + length) + " of buffer " + std::to_string(buffer) +
                     ", which declares only " + std::to_string(bufferLength[buffer]);
            return false;
        }
    }

    // Accessors inside their views; one without a view is zeros the library makes.
    const Json& accessors = ArrayOf(gltf, "accessors");
    for (std::size_t a = 0; a < accessors.size(); ++a)
    {
        const Json& accessor = accessors[a];
        std::uint64_t count = 0, offset = 0, componentType = 0, viewIndex = 0;
        if (!accessor.is_object() || !Unsigned(accessor, "count", 0, count) ||
            !Unsigned(accessor, "byteOffset", 0, offset) ||
            !Unsigned(accessor, "componentType", 0, componentType) ||
            !accessor.contains("type") || !accessor["type"].is_string() ||
            offset > (std::uint64_t(1) << 62) || count > (std::uint64_t(1) << 40))
            return true;
        const std::uint64_t element =
            ComponentSize(componentType) * Components(accessor["type"].get<std::string>());
        if (element == 0 || count == 0)
            continue;
        // Sparse values: no more than the accessor's, each part inside its view.
        const auto sparse = accessor.find("sparse");
        if (sparse != accessor.end())
        {
            std::uint64_t sparseCount = 0;
            if (!sparse->is_object() || !Unsigned(*sparse, "count", 0, sparseCount))
                return true;
            if (sparseCount > count)
            {
                reason = "accessor " + std::to_string(a) + " declares " +
                         std::to_string(sparseCount) + " sparse values of its " +
                         std::to_string(count);
                return false;
            }
            for (const char* part : {"indices", "values"})
            {
                const auto entry = sparse->find(part);
                std::uint64_t view = 0, at = 0, type = 0;
                if (entry == sparse->end() || !entry->is_object() ||
                    !Unsigned(*entry, "bufferView", 0, view) || view >= views.size() ||
                    !Unsigned(*entry, "byteOffset", 0, at) ||
                    !Unsigned(*entry, "componentType", 0, type) || at > (std::uint64_t(1) << 62))
                    return true;
                const std::uint64_t size =
                    std::string(part) == "indices" ? ComponentSize(type) : element;
                if (size == 0)
                    return true;
                if (at + sparseCount * size > viewLength[view])
                {
                    reason = "accessor " + std::to_string(a) + " declares " +
                             std::to_string(sparseCount) + " sparse values but their buffer view " +
                             "holds only " + KV_Counted(viewLength[view], "byte", "bytes");
                    return false;
                }
            }
        }
        if (!accessor.contains("bufferView"))
        {
            if (count > KV_MeshImporter::kMaxCorners)
            {
                reason = "accessor " + std::to_string(a) + " declares " + std::to_string(count) +
                         " values without any data";
                return false;
            }
            continue;
        }
        if (!Unsigned(accessor, "bufferView", 0, viewIndex) || viewIndex >= views.size())
            return true;
        std::uint64_t stride = 0;
        if (!Unsigned(views[viewIndex], "byteStride", 0, stride) || stride > 252)
            return true;
        if (stride < element)
            stride = element;
        const std::uint64_t end = offset + stride * (count - 1) + element;
        if (end > viewLength[viewIndex])
        {
            reason = "accessor " + std::to_string(a) + " declares " + std::to_string(count) +
                     " values but its buffer view holds only " +
                     KV_Counted(viewLength[viewIndex], "byte", "bytes");
            return false;
        }
    }
    return true;
}

// Up to count bytes from offset; fewer at the end of the file.
std::vector<unsigned char> ReadAt(const std::string& path, std::uint64_t offset, std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    std::ifstream in(path, std::ios::binary);
    if (!in.seekg(static_cast<std::streamoff>(offset)))
        return {};
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

bool CheckGltf(const std::string& path, std::string& reason)
{
    const std::uint64_t size = FileSize(path);
    const std::vector<unsigned char> head = ReadAt(path, 0, 20);
    if (head.size() < 12 || std::memcmp(head.data(), "glTF", 4) != 0)
    {
        // glTF as JSON: the whole file is the document.
        const std::vector<unsigned char> text = ReadAt(path, 0, static_cast<std::size_t>(size));
        const Json gltf = Json::parse(text.begin(), text.end(), nullptr, false);
        return gltf.is_discarded() || CheckGltfJson(gltf, path, false, 0, reason);
    }
    // The binary file: its header (magic, version, length), the JSON chunk and the binary
    // chunk's header; the binary chunk itself is not read.
    if (Le32(head.data() + 4) != 2)
        return true;  // version 1, the library's own
    const std::uint64_t declared = Le32(head.data() + 8);
    if (declared > size)
    {
        reason = "the file declares " + KV_Counted(declared, "byte", "bytes") + " but holds only " +
                 std::to_string(size);
        return false;
    }
    if (head.size() < 20 || Le32(head.data() + 16) != 0x4E4F534Au)
        return true;
    const std::uint64_t jsonLength = Le32(head.data() + 12);
    if (jsonLength > size - 20)
    {
        reason = "its JSON chunk declares " + std::to_string(jsonLength) +
                 " bytes but the file holds only " + std::to_string(size - 20) + " after it";
        return false;
    }
    std::uint64_t binaryChunk = 0;
    const std::uint64_t next = 20 + ((jsonLength + 3) & ~std::uint64_t(3));
    const std::vector<unsigned char> chunk = next + 8 <= size ? ReadAt(path, next, 8)
                                                              : std::vector<unsigned char>();
    if (chunk.size() == 8 && Le32(chunk.data() + 4) == 0x004E4942u)
    {
        binaryChunk = Le32(chunk.data());
        if (binaryChunk > size - next - 8)
        {
            reason = "its binary chunk declares " + std::to_string(binaryChunk) +
                     " bytes but the file holds only " + std::to_string(size - next - 8) +
                     " after it";
            return false;
        }
    }
    const std::vector<unsigned char> text = ReadAt(path, 20, static_cast<std::size_t>(jsonLength));
    const Json gltf = Json::parse(text.begin(), text.end(), nullptr, false);
    return gltf.is_discarded() || CheckGltfJson(gltf, path, true, binaryChunk, reason);
}

}  // namespace

bool KV_CheckDeclaredSizes(const std::string& path, const std::string& format,
                           std::string& reason, const std::atomic<bool>* stop)
{
    try
    {
        if (format == "ply")
            return KV_PlyReader::CheckDeclaredSizes(path, reason, stop);
        if (format == "off")
            return CheckOff(path, reason, stop);
        if (format == "gltf" || format == "glb")
            return CheckGltf(path, reason);
    }
    catch (const std::exception&)
    {
        // Out of memory for the file's own bytes, or JSON of unexpected types: the library
        // judges the file.
    }
    return true;
}
