#include "tests/support/SurfaceFileWriter.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

OsfBytes& OsfBytes::U8(unsigned int value)
{
    mkData.push_back(static_cast<unsigned char>(value));
    return *this;
}

OsfBytes& OsfBytes::U16(unsigned int value)
{
    U8(value & 0xFF);
    return U8((value >> 8) & 0xFF);
}

OsfBytes& OsfBytes::U32(std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        U8((value >> shift) & 0xFF);
    return *this;
}

OsfBytes& OsfBytes::U32BigEndian(std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        U8((value >> shift) & 0xFF);
    return *this;
}

OsfBytes& OsfBytes::F32(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return U32(bits);
}

OsfBytes& OsfBytes::Index(unsigned int value, unsigned int width)
{
    if (width < 4 && value >> (8 * width) != 0)
        throw std::invalid_argument("index does not fit its width");
    switch (width)
    {
    case 1:
        return U8(value);
    case 2:
        return U16(value);
    case 4:
        return U32(value);
    default:
        throw std::invalid_argument("index width must be 1, 2 or 4");
    }
}

OsfBytes& OsfBytes::Text(const std::string& text)
{
    mkData.insert(mkData.end(), text.begin(), text.end());
    return *this;
}

OsfBytes& OsfBytes::Bytes(const std::vector<unsigned char>& bytes)
{
    mkData.insert(mkData.end(), bytes.begin(), bytes.end());
    return *this;
}

OsfBytes& OsfBytes::Fill(std::size_t count, unsigned char value)
{
    mkData.insert(mkData.end(), count, value);
    return *this;
}

std::uint32_t OsfChecksum(const unsigned char* data, std::size_t count)
{
    std::uint32_t r = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i)
    {
        r ^= static_cast<std::uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    }
    return r;
}

// ---- Raw encoding

void AppendRawPolygonBlock(OsfBytes& out, const std::vector<std::vector<unsigned int>>& polygons,
                           int version)
{
    const unsigned int width = polygons.size() < 65536 ? 2 : 4;
    out.I32(static_cast<std::int32_t>(polygons.size()));
    for (const auto& polygon : polygons)
    {
        if (version >= 2)
        {
            if (polygon.size() > 255)
                throw std::invalid_argument("raw polygon vertex count must fit one byte");
            out.U8(static_cast<unsigned int>(polygon.size()));
        }
        else if (polygon.size() != 3)
        {
            throw std::invalid_argument("raw versions 0 and 1 hold triangles only");
        }
        for (unsigned int index : polygon)
            out.Index(index, width);
    }
}

void AppendRawIntegrityTail(std::vector<unsigned char>& file)
{
    const char tag[] = {'K', 'V', '0', '1'};
    file.insert(file.end(), tag, tag + 4);
    const std::uint32_t value = OsfChecksum(file.data(), file.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        file.push_back(static_cast<unsigned char>(value >> shift));
}

std::vector<unsigned char> EncodeRawSurface(const OsfSurface& surface, const OsfRawOptions& options)
{
    OsfBytes out;
    switch (options.version)
    {
    case 0:
        out.U8(0).U8(0);
        break;
    case 1:
    {
        std::string text = options.headerText.substr(0, 94);
        text.resize(94, ' ');
        out.Text("  ").Text(text).U8(0).U8(0);
        break;
    }
    case 2:
    case 3:
        out.Text(options.version == 2 ? "02" : "03");
        out.U32(static_cast<std::uint32_t>(options.headerText.size())).Text(options.headerText);
        break;
    default:
        throw std::invalid_argument("raw version must be 0 to 3");
    }

    AppendRawPolygonBlock(out, surface.polygons, options.version);
    AppendRawPolygonBlock(out, surface.texturePolygons, options.version);
    out.I32(static_cast<std::int32_t>(surface.textureCoordinates.size()));
    for (const auto& t : surface.textureCoordinates)
        out.F32(t[0]).F32(t[1]);
    out.I32(static_cast<std::int32_t>(surface.vertices.size()));
    for (const auto& v : surface.vertices)
        out.F32(v[0]).F32(v[1]).F32(v[2]);

    out.U8(static_cast<unsigned int>(surface.textureKind));
    if (surface.textureKind == 1 || surface.textureKind == 3)
        out.U32(surface.textureRows).U32(surface.textureColumns).Bytes(surface.texturePixels);

    if (options.version == 3 && options.integrityTail)
        AppendRawIntegrityTail(out.Data());
    return out.Data();
}

// ---- Universal Field Container

namespace
{
void AppendString(OsfBytes& out, const std::string& text, bool terminate)
{
    out.U32(static_cast<std::uint32_t>(text.size() + (terminate ? 1 : 0))).Text(text);
    if (terminate)
        out.U8(0);
}

const unsigned char kFloatType = 'f';
const unsigned char kUnsignedType = 'u';
}  // namespace

std::vector<unsigned char> EncodeEntry(const OsfEntry& entry)
{
    OsfBytes out;
    out.U32(entry.word1).U32(entry.word2).U32(entry.skipWord);
    if (entry.skipWord != 0)
        return out.Data();
    AppendString(out, entry.name, entry.terminateName);
    out.U32(entry.flag);
    AppendString(out, entry.description, true);
    if (!entry.hasBody)
        return out.Data();
    AppendString(out, entry.layout, true);
    out.U32(static_cast<std::uint32_t>(entry.components.size()));
    for (const auto& c : entry.components)
        out.U8(c.first).U8(c.second);
    out.U32(static_cast<std::uint32_t>(entry.extents.size()));
    for (std::uint32_t e : entry.extents)
        out.U32(e);
    out.Bytes(entry.data);
    out.U8(entry.padding).Fill(entry.padding, 0xAA);
    out.U32(entry.trailer);
    return out.Data();
}

OsfContainer::OsfContainer(std::uint32_t firstEntryOffset)
{
    if (firstEntryOffset < 42)
        throw std::invalid_argument("the first entry cannot start inside the signature");
    mkFile.U32(firstEntryOffset).Fill(12, 0);
    mkFile.Text("Universal Field Container").U8(0);
    mkFile.Fill(firstEntryOffset - 42, 0);
}

void OsfContainer::Add(const OsfEntry& entry) { mkFile.Bytes(EncodeEntry(entry)); }

void OsfContainer::AddSkipEntry()
{
    OsfEntry entry;
    entry.word1 = 0x11111111;
    entry.word2 = 0x22222222;
    entry.skipWord = 1;
    Add(entry);
}

void OsfContainer::AddUnreadEntry(const std::string& name, std::uint32_t flag)
{
    OsfEntry entry;
    entry.name = name;
    entry.flag = flag;
    entry.description = "not read";
    entry.hasBody = false;
    Add(entry);
}

void OsfContainer::AddBytes(const std::vector<unsigned char>& bytes) { mkFile.Bytes(bytes); }

void OsfContainer::AddChecksum()
{
    const std::uint32_t covered = static_cast<std::uint32_t>(mkFile.Size());
    const std::uint32_t value = OsfChecksum(mkFile.Data().data(), mkFile.Size());
    OsfEntry entry;
    entry.name = "Overall Checksum";
    entry.description = "CRC of the preceding bytes";
    entry.layout = "length, value";
    entry.components = {{kUnsignedType, 4}, {kUnsignedType, 4}};
    OsfBytes data;
    data.U32(covered).U32(value);
    entry.data = data.Data();
    Add(entry);
}

OsfEntry VerticesField(const std::vector<std::array<float, 3>>& vertices)
{
    OsfEntry entry;
    entry.name = "Vertices";
    entry.description = "vertex positions";
    entry.layout = "x y z";
    entry.components = {{kFloatType, 4}, {kFloatType, 4}, {kFloatType, 4}};
    entry.extents = {static_cast<std::uint32_t>(vertices.size())};
    OsfBytes data;
    for (const auto& v : vertices)
        data.F32(v[0]).F32(v[1]).F32(v[2]);
    entry.data = data.Data();
    entry.padding = static_cast<unsigned char>(entry.data.size() % 4);
    return entry;
}

OsfEntry TextureCoordinatesField(const std::vector<std::array<float, 2>>& coordinates)
{
    OsfEntry entry;
    entry.name = "TextureCoordinates";
    entry.description = "texture coordinates";
    entry.layout = "u v";
    entry.components = {{kFloatType, 4}, {kFloatType, 4}};
    entry.extents = {static_cast<std::uint32_t>(coordinates.size())};
    OsfBytes data;
    for (const auto& t : coordinates)
        data.F32(t[0]).F32(t[1]);
    entry.data = data.Data();
    return entry;
}

OsfEntry IndexField(const std::string& name, const std::vector<std::vector<unsigned int>>& polygons,
                    unsigned int indexWidth)
{
    const bool triangles = name == "Triangles" || name == "TextureTriangles";
    OsfEntry entry;
    entry.name = name;
    entry.description = "polygon vertex indices";
    entry.layout = triangles ? "a b c" : "count, indices";
    // A triangle is one element of three indices; a polygon field is a flat run of values.
    const std::pair<unsigned char, unsigned char> index(kUnsignedType,
                                                        static_cast<unsigned char>(indexWidth));
    if (triangles)
        entry.components = {index, index, index};
    else
        entry.components = {index};
    OsfBytes data;
    std::uint32_t values = 0;
    for (const auto& polygon : polygons)
    {
        if (triangles)
        {
            if (polygon.size() != 3)
                throw std::invalid_argument("a triangle field holds triangles only");
            ++values;
        }
        else
        {
            data.Index(static_cast<unsigned int>(polygon.size()), indexWidth);
            values += 1 + static_cast<std::uint32_t>(polygon.size());
        }
        for (unsigned int index : polygon)
            data.Index(index, indexWidth);
    }
    entry.extents = {values};
    entry.data = data.Data();
    entry.padding = static_cast<unsigned char>((4 - entry.data.size() % 4) % 4);
    return entry;
}

OsfEntry TextureMapField(int kind, std::uint32_t rows, std::uint32_t columns,
                         const std::vector<unsigned char>& pixels)
{
    OsfEntry entry;
    entry.name = "TextureMap";
    entry.description = "texture image";
    entry.layout = kind == 3 ? "r g b" : "grey";
    if (kind == 3)
        entry.components = {{kUnsignedType, 1}, {kUnsignedType, 1}, {kUnsignedType, 1}};
    else
        entry.components = {{kUnsignedType, 1}};
    entry.extents = {rows, columns};
    entry.data = pixels;
    return entry;
}

std::vector<unsigned char> EncodeContainerSurface(const OsfSurface& surface,
                                                  const OsfContainerOptions& options)
{
    auto allTriangles = [](const std::vector<std::vector<unsigned int>>& polygons) {
        for (const auto& p : polygons)
            if (p.size() != 3)
                return false;
        return true;
    };
    const bool triangles = options.trianglesWhenPossible && allTriangles(surface.polygons) &&
                           allTriangles(surface.texturePolygons);

    OsfContainer file;
    if (options.unreadEntries)
    {
        file.AddUnreadEntry("Surface Name", 0);
        file.AddUnreadEntry("Vertices", 1);
    }
    auto add = [&](const OsfEntry& entry) {
        if (options.skipEntries)
            file.AddSkipEntry();
        file.Add(entry);
    };
    if (!surface.vertices.empty())
        add(VerticesField(surface.vertices));
    if (!surface.polygons.empty())
        add(IndexField(triangles ? "Triangles" : "Polygons", surface.polygons, options.indexWidth));
    if (!surface.textureCoordinates.empty())
        add(TextureCoordinatesField(surface.textureCoordinates));
    if (!surface.texturePolygons.empty())
        add(IndexField(triangles ? "TextureTriangles" : "TexturePolygons", surface.texturePolygons,
                       options.indexWidth));
    if (surface.textureKind == 1 || surface.textureKind == 3)
        add(TextureMapField(surface.textureKind, surface.textureRows, surface.textureColumns,
                            surface.texturePixels));
    if (options.checksum)
        file.AddChecksum();
    return file.Bytes();
}

bool WriteOsfFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

OsfSurface TexturedGridSurface(unsigned int n, unsigned int textureSize)
{
    OsfSurface s;
    s.vertices.reserve(std::size_t(n + 1) * (n + 1));
    s.textureCoordinates.reserve(s.vertices.capacity());
    for (unsigned int y = 0; y <= n; ++y)
        for (unsigned int x = 0; x <= n; ++x)
        {
            s.vertices.push_back({static_cast<float>(x), static_cast<float>(y),
                                  static_cast<float>((x * 7 + y * 3) % 5) * 0.1f});
            s.textureCoordinates.push_back({static_cast<float>(x) / n, static_cast<float>(y) / n});
        }
    s.polygons.reserve(std::size_t(2) * n * n);
    for (unsigned int y = 0; y < n; ++y)
        for (unsigned int x = 0; x < n; ++x)
        {
            const unsigned int a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
            s.polygons.push_back({a, b, c});
            s.polygons.push_back({a, c, d});
        }
    s.texturePolygons = s.polygons;
    s.textureKind = 3;
    s.textureRows = s.textureColumns = textureSize;
    s.texturePixels.resize(std::size_t(textureSize) * textureSize * 3);
    for (std::size_t i = 0; i < s.texturePixels.size(); ++i)
        s.texturePixels[i] = static_cast<unsigned char>(i % 3 == 2 ? 200 : 90 + (i / 3) % 100);
    return s;
}
