#include "meshfile/KV_GltfCoordinates.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace
{
using Json = nlohmann::json;

// Where a buffer's bytes lie: a span of one file.
struct Span
{
    std::string file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

std::uint32_t Le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint64_t FileSize(const std::string& path)
{
    std::error_code code;
    const auto size = std::filesystem::file_size(path, code);
    return code ? 0 : static_cast<std::uint64_t>(size);
}

bool ReadAt(const std::string& path, std::uint64_t offset, std::size_t count,
            std::vector<unsigned char>& out)
{
    std::ifstream in(path, std::ios::binary);
    out.resize(count);
    return in && in.seekg(static_cast<std::streamoff>(offset)) &&
           in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(count));
}

// A non-negative integer member, or fallback when absent; false when present but not one.
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

// The buffers the coordinates can come from: a .glb's binary chunk, or files beside the model.
std::vector<Span> Buffers(const Json& gltf, const std::string& path, const Span& binaryChunk)
{
    std::vector<Span> spans;
    const auto buffers = gltf.find("buffers");
    if (buffers == gltf.end() || !buffers->is_array())
        return spans;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    for (const Json& buffer : *buffers)
    {
        Span span;
        std::uint64_t length = 0;
        const auto uri = buffer.is_object() ? buffer.find("uri") : buffer.end();
        if (!buffer.is_object() || !Unsigned(buffer, "byteLength", 0, length))
        {
        }
        else if (uri == buffer.end())
        {
            // The one buffer without a location is the .glb's own chunk.
            if (spans.empty() && !binaryChunk.file.empty() && length <= binaryChunk.length)
                span = Span{binaryChunk.file, binaryChunk.offset, length};
        }
        else if (uri->is_string() && uri->get<std::string>().rfind("data:", 0) != 0 &&
                 uri->get<std::string>().find("://") == std::string::npos)
        {
            const std::string file = (folder / uri->get<std::string>()).string();
            if (length <= FileSize(file))
                span = Span{file, 0, length};
        }
        spans.push_back(span);
    }
    return spans;
}

// The u, v pairs of one accessor; empty when it is not VEC2 floats in a reachable buffer.
std::vector<float> Coordinates(const Json& gltf, std::uint64_t accessorIndex,
                               const std::vector<Span>& buffers, std::size_t& budget)
{
    const Json& accessors = gltf.at("accessors");
    if (!accessors.is_array() || accessorIndex >= accessors.size())
        return {};
    const Json& accessor = accessors[accessorIndex];
    std::uint64_t viewIndex = 0, accessorOffset = 0, count = 0, componentType = 0;
    if (!accessor.is_object() || accessor.contains("sparse") || !accessor.contains("bufferView") ||
        !Unsigned(accessor, "bufferView", 0, viewIndex) ||
        !Unsigned(accessor, "byteOffset", 0, accessorOffset) ||
        !Unsigned(accessor, "count", 0, count) ||
        !Unsigned(accessor, "componentType", 0, componentType) || componentType != 5126 ||
        accessor.value("type", std::string()) != "VEC2" || count == 0 || 2 * count > budget)
        return {};
    const Json& views = gltf.at("bufferViews");
    if (!views.is_array() || viewIndex >= views.size() || !views[viewIndex].is_object())
        return {};
    const Json& view = views[viewIndex];
    std::uint64_t bufferIndex = 0, viewOffset = 0, viewLength = 0, stride = 0;
    if (!Unsigned(view, "buffer", 0, bufferIndex) || !Unsigned(view, "byteOffset", 0, viewOffset) ||
        !Unsigned(view, "byteLength", 0, viewLength) || !Unsigned(view, "byteStride", 8, stride) ||
        stride < 8 || stride > 252 || bufferIndex >= buffers.size() ||
        buffers[bufferIndex].file.empty())
        return {};
    const Span& buffer = buffers[bufferIndex];
    // Every value stays inside the accessor's view, the view inside its buffer.
    const std::uint64_t span = stride * (count - 1) + 8;
    if (accessorOffset > viewLength || span > viewLength - accessorOffset ||
        viewOffset > buffer.length || viewLength > buffer.length - viewOffset)
        return {};
    std::vector<unsigned char> bytes;
    if (!ReadAt(buffer.file, buffer.offset + viewOffset + accessorOffset, span, bytes))
        return {};
    std::vector<float> values(2 * count);
    for (std::uint64_t i = 0; i < count; ++i)
        std::memcpy(&values[2 * i], bytes.data() + i * stride, 8);
    budget -= values.size();
    return values;
}
}  // namespace

KV_GltfCoordinates KV_ReadGltfCoordinates(const std::string& path, std::size_t maxValues)
{
    KV_GltfCoordinates result;
    const std::uint64_t size = FileSize(path);
    std::vector<unsigned char> head;
    if (size < 20 || !ReadAt(path, 0, 20, head))
        return result;

    std::vector<unsigned char> text;
    Span binaryChunk;
    if (std::memcmp(head.data(), "glTF", 4) == 0)
    {
        // Header (magic, version, length), then the JSON chunk and the binary chunk.
        const std::uint64_t jsonLength = Le32(head.data() + 12);
        if (Le32(head.data() + 4) != 2 || Le32(head.data() + 16) != 0x4E4F534Au ||
            jsonLength > size - 20 || !ReadAt(path, 20, jsonLength, text))
            return result;
        const std::uint64_t next = 20 + ((jsonLength + 3) & ~std::uint64_t(3));
        std::vector<unsigned char> chunk;
        if (next + 8 <= size && ReadAt(path, next, 8, chunk) &&
            Le32(chunk.data() + 4) == 0x004E4942u && Le32(chunk.data()) <= size - next - 8)
            binaryChunk = Span{path, next + 8, Le32(chunk.data())};
    }
    else if (!ReadAt(path, 0, size, text))
        return result;

    const Json gltf = Json::parse(text.begin(), text.end(), nullptr, false);
    text = {};
    try
    {
        if (gltf.is_discarded() || !gltf.is_object() || !gltf.contains("asset") ||
            gltf["asset"].value("version", std::string()).rfind("2.", 0) != 0)
            return result;
        const std::vector<Span> buffers = Buffers(gltf, path, binaryChunk);
        std::size_t budget = maxValues;
        const auto meshes = gltf.find("meshes");
        if (meshes != gltf.end() && meshes->is_array())
            for (const Json& mesh : *meshes)
            {
                const auto primitives = mesh.is_object() ? mesh.find("primitives") : mesh.end();
                if (primitives == mesh.end() || !primitives->is_array())
                    continue;
                for (const Json& primitive : *primitives)
                {
                    std::vector<float> values;
                    std::uint64_t accessor = 0;
                    if (primitive.is_object() && primitive.contains("attributes") &&
                        primitive["attributes"].is_object() &&
                        primitive["attributes"].contains("TEXCOORD_0") &&
                        Unsigned(primitive["attributes"], "TEXCOORD_0", 0, accessor) &&
                        gltf.contains("accessors") && gltf.contains("bufferViews"))
                        values = Coordinates(gltf, accessor, buffers, budget);
                    result.mkPrimitives.push_back(std::move(values));
                }
            }
        result.mbParsed = true;
    }
    catch (const std::exception&)
    {
        // A member of an unexpected type: the file is not read here, the library's values stay.
        result = KV_GltfCoordinates();
    }
    return result;
}
