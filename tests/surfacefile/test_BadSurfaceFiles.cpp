// Surface files are untrusted: every file here is broken in one named way, and each must be
// refused or cut short exactly as documented, without reading outside the file or
// allocating for counts the file cannot hold. Readers are run on heap copies of exactly the
// file's size, so that the sanitizer build catches any read past the end.

#include "surfacefile/KV_FieldContainerReader.h"
#include "surfacefile/KV_RawSurfaceReader.h"
#include "surfacefile/KV_SurfaceLoader.h"

#include "SurfaceFileTestUtil.h"
#include "surface/KV_PolySurface.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{
bool ReadRaw(const std::vector<unsigned char>& bytes, KV_TexturedPolySurface& surface)
{
    // An exact-size heap copy: one byte too far is a sanitizer finding.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    KV_RawSurfaceReader reader(surface);
    return reader.Read(copy.get(), bytes.size());
}

bool ReadRaw(const std::vector<unsigned char>& bytes)
{
    KV_PolySurface surface;
    return ReadRaw(bytes, surface);
}

bool ReadContainer(const std::vector<unsigned char>& bytes, KV_TexturedPolySurface& surface)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    KV_FieldContainerReader reader(surface);
    return reader.Read(copy.get(), bytes.size());
}

bool ReadContainer(const std::vector<unsigned char>& bytes)
{
    KV_PolySurface surface;
    return ReadContainer(bytes, surface);
}

// A version-2 raw file: header text, then the given blocks and a texture kind.
OsfBytes RawHeader(std::uint32_t textLength = 0)
{
    OsfBytes out;
    out.Text("02").U32(textLength).Fill(textLength, 't');
    return out;
}

OsfBytes RawWithPolygon(unsigned int vertices)
{
    OsfBytes out = RawHeader();
    out.I32(1).U8(vertices);
    for (unsigned int i = 0; i < vertices; ++i)
        out.U16(i);
    out.I32(0).I32(0).I32(0).U8(0);
    return out;
}

OsfBytes RawWithTexture(unsigned int kind, std::uint32_t rows, std::uint32_t columns,
                        std::size_t pixelBytes)
{
    OsfBytes out = RawHeader();
    out.I32(0).I32(0).I32(0).I32(0).U8(kind).U32(rows).U32(columns).Fill(pixelBytes, 0x55);
    return out;
}

// A container holding one entry.
std::vector<unsigned char> ContainerWith(const OsfEntry& entry)
{
    OsfContainer file;
    file.Add(entry);
    return file.Bytes();
}

OsfEntry Field(const std::string& name, std::vector<std::pair<unsigned char, unsigned char>> components,
               std::vector<std::uint32_t> extents, std::vector<unsigned char> data)
{
    OsfEntry e;
    e.name = name;
    e.components = std::move(components);
    e.extents = std::move(extents);
    e.data = std::move(data);
    return e;
}
}  // namespace

// ---- Raw encoding

TEST(BadRawFile, HeaderTextOver1024BytesIsRefused)
{
    OsfBytes limit = RawHeader(1024);
    limit.I32(0).I32(0).I32(0).I32(0).U8(0);
    EXPECT_TRUE(ReadRaw(limit.Data()));
    OsfBytes over = RawHeader(1025);
    over.I32(0).I32(0).I32(0).I32(0).U8(0);
    EXPECT_FALSE(ReadRaw(over.Data()));
}

TEST(BadRawFile, HeaderTextLongerThanTheFileIsAShortRead)
{
    OsfBytes out;
    out.Text("03").U32(1000).Fill(10, 't');
    EXPECT_FALSE(ReadRaw(out.Data()));
}

TEST(BadRawFile, PolygonOf17VerticesIsRefused)
{
    EXPECT_TRUE(ReadRaw(RawWithPolygon(16).Data()));
    EXPECT_FALSE(ReadRaw(RawWithPolygon(17).Data()));
    EXPECT_FALSE(ReadRaw(RawWithPolygon(255).Data()));
}

TEST(BadRawFile, CountsBeyondTheFileAreShortReadsMadeBeforeAllocating)
{
    // Each count is the largest an i32 holds; allocating for any of them first would take
    // gigabytes (and minutes): the check against the bytes left must come first.
    OsfBytes polygons = RawHeader();
    polygons.I32(INT32_MAX).U8(3).U16(0).U16(1).U16(2);
    EXPECT_FALSE(ReadRaw(polygons.Data()));

    OsfBytes oldTriangles;
    oldTriangles.U8(0).U8(0).I32(INT32_MAX).Fill(64, 0);
    EXPECT_FALSE(ReadRaw(oldTriangles.Data()));

    OsfBytes coordinates = RawHeader();
    coordinates.I32(0).I32(0).I32(INT32_MAX).Fill(16, 0);
    EXPECT_FALSE(ReadRaw(coordinates.Data()));

    OsfBytes vertices = RawHeader();
    vertices.I32(0).I32(0).I32(0).I32(INT32_MAX).Fill(24, 0);
    EXPECT_FALSE(ReadRaw(vertices.Data()));

    // One element short.
    OsfBytes oneShort = RawHeader();
    oneShort.I32(0).I32(0).I32(0).I32(2).Fill(23, 0).U8(0);
    EXPECT_FALSE(ReadRaw(oneShort.Data()));
}

TEST(BadRawFile, ShortReadKeepsOnlyWholePolygons)
{
    OsfBytes out = RawHeader();
    out.I32(3).U8(3).U16(4).U16(5).U16(6).U8(3).U16(7);
    KV_PolySurface surface;
    EXPECT_FALSE(ReadRaw(out.Data(), surface));
    EXPECT_EQ(PolygonsOf(surface.mpPolygons), (std::vector<std::vector<unsigned int>>{{4, 5, 6}}));
}

TEST(BadRawFile, ImageLargerThanTheFileIsAShortRead)
{
    EXPECT_TRUE(ReadRaw(RawWithTexture(3, 2, 2, 12).Data()));
    EXPECT_FALSE(ReadRaw(RawWithTexture(3, 2, 2, 11).Data()));
    EXPECT_FALSE(ReadRaw(RawWithTexture(1, 50000, 40000, 64).Data()));
}

TEST(BadRawFile, ImageSizesThatOverflow32BitsAreRefused)
{
    // 65536 x 65536 grey pixels wrap to 0 bytes in 32 bits; 37838 x 37838 colour pixels
    // wrap to a few bytes.
    EXPECT_FALSE(ReadRaw(RawWithTexture(1, 65536, 65536, 0).Data()));
    EXPECT_FALSE(ReadRaw(RawWithTexture(3, 37838, 37838, 64).Data()));
    // No image holds more than 2^31 - 1 rows or columns, even with no pixels.
    EXPECT_FALSE(ReadRaw(RawWithTexture(3, 0x80000000u, 0, 0).Data()));
    EXPECT_FALSE(ReadRaw(RawWithTexture(1, 0, 0xFFFFFFFFu, 0).Data()));
}

// ---- Universal Field Container

TEST(BadContainerFile, IndexWidthOtherThan124IsRefused)
{
    for (unsigned char width : {1, 2, 4})
        EXPECT_TRUE(ReadContainer(ContainerWith(Field("Polygons", {{'u', width}}, {4}, std::vector<unsigned char>(4u * width, 0)))));
    for (unsigned char width : {0, 3, 8})
    {
        EXPECT_FALSE(ReadContainer(ContainerWith(Field("Polygons", {{'u', width}}, {4}, std::vector<unsigned char>(4u * width, 0)))));
        EXPECT_FALSE(ReadContainer(ContainerWith(Field("TextureTriangles", {{'u', width}, {'u', width}, {'u', width}}, {1}, std::vector<unsigned char>(3u * width, 0)))));
    }
    // Without any component there is no index width at all.
    EXPECT_FALSE(ReadContainer(ContainerWith(Field("Triangles", {}, {0}, {}))));
}

TEST(BadContainerFile, FieldWithFewerExtentsThanItsReaderUsesIsRefused)
{
    EXPECT_FALSE(ReadContainer(ContainerWith(Field("Vertices", {{'f', 4}, {'f', 4}, {'f', 4}}, {}, std::vector<unsigned char>(12, 0)))));
    EXPECT_FALSE(ReadContainer(ContainerWith(Field("TextureCoordinates", {{'f', 4}, {'f', 4}}, {}, std::vector<unsigned char>(8, 0)))));
    EXPECT_FALSE(ReadContainer(ContainerWith(Field("TexturePolygons", {{'u', 1}}, {}, {0}))));
    EXPECT_FALSE(ReadContainer(ContainerWith(Field("TextureMap", {{'u', 1}}, {4}, {1, 2, 3, 4}))));
}

TEST(BadContainerFile, RefusedFieldKeepsEarlierFields)
{
    OsfContainer file;
    file.Add(VerticesField({{1, 2, 3}}));
    file.Add(Field("Triangles", {{'u', 3}, {'u', 3}, {'u', 3}}, {1}, std::vector<unsigned char>(9, 0)));
    file.Add(TextureCoordinatesField({{0, 0}}));
    KV_PolySurface surface;
    EXPECT_FALSE(ReadContainer(file.Bytes(), surface));
    EXPECT_EQ(surface.VertexCount(), 1u);
    EXPECT_EQ(surface.mpTextureCoordinates, nullptr);
}

TEST(BadContainerFile, TextureDataLongerThanItsImageIsRefused)
{
    EXPECT_TRUE(ReadContainer(ContainerWith(TextureMapField(3, 1, 2, {1, 2, 3, 4, 5, 6}))));
    OsfEntry longer = TextureMapField(3, 1, 2, std::vector<unsigned char>(12, 0));
    longer.components = {{'u', 2}, {'u', 2}, {'u', 2}};
    EXPECT_FALSE(ReadContainer(ContainerWith(longer)));
    OsfEntry thirdExtent = TextureMapField(1, 2, 2, std::vector<unsigned char>(8, 0));
    thirdExtent.extents.push_back(2);
    EXPECT_FALSE(ReadContainer(ContainerWith(thirdExtent)));
}

TEST(BadContainerFile, TextureTooLargeForAnImageIsRefused)
{
    // No pixel bytes at all (a zero extent), but 2^31 rows.
    EXPECT_FALSE(ReadContainer(ContainerWith(TextureMapField(1, 0x80000000u, 0, {}))));
    EXPECT_FALSE(ReadContainer(ContainerWith(TextureMapField(3, 0, 0xFFFFFFFFu, {}))));
}

TEST(BadContainerFile, FieldSizeThatOverflows32BitsIsRefused)
{
    // 12 bytes x 0x15555556 vertices is 0x100000008, 8 when wrapped: eight bytes of data
    // would otherwise satisfy it.
    EXPECT_FALSE(ReadContainer(ContainerWith(Field("Vertices", {{'f', 4}, {'f', 4}, {'f', 4}}, {0x15555556u}, std::vector<unsigned char>(8, 0)))));
    OsfEntry checksum = Field("Overall Checksum", {{'u', 4}, {'u', 4}}, {0x20000000u}, {});
    EXPECT_FALSE(ReadContainer(ContainerWith(checksum)));
}

TEST(BadContainerFile, CountsBeyondTheFileEndTheEntryWalk)
{
    // Elements declared but no data bytes to hold them (zero-sized components): a count of
    // 2^32 - 1 must not be allocated. The walk ends; later fields are not read.
    for (const char* name : {"Vertices", "TextureCoordinates", "Triangles", "Polygons"})
    {
        OsfContainer file;
        file.Add(VerticesField({{1, 2, 3}}));
        // Index fields need a valid index width; the coordinates fields' size is 0.
        const bool indices = std::string(name) == "Triangles" || std::string(name) == "Polygons";
        const unsigned char size = indices ? 4 : 0;
        file.Add(Field(name, {{'u', size}}, {0xFFFFFFFFu, 0}, {}));
        file.Add(TextureCoordinatesField({{0.5f, 0.5f}}));
        KV_PolySurface surface;
        EXPECT_TRUE(ReadContainer(file.Bytes(), surface)) << name;
        EXPECT_EQ(surface.VertexCount(), 1u) << name;
        EXPECT_EQ(surface.mpTextureCoordinates, nullptr) << name;
        EXPECT_EQ(surface.mpPolygons, nullptr) << name;
    }
    // A zero-sized texture of 46340 x 46340 pixels.
    OsfEntry texture = TextureMapField(3, 46340, 46340, {});
    texture.components = {{'u', 0}, {'u', 0}, {'u', 0}};
    KV_PolySurface surface;
    EXPECT_TRUE(ReadContainer(ContainerWith(texture), surface));
    EXPECT_EQ(surface.mpTextureMap, nullptr);
}

TEST(BadContainerFile, SizesBeyondTheFileEndTheEntryWalk)
{
    OsfContainer file;
    file.Add(VerticesField({{1, 2, 3}}));
    OsfBytes entry;
    entry.U32(0).U32(0).U32(0).U32(0xFFFFFFF0u).Text("Vertices");  // name length
    file.AddBytes(entry.Data());
    KV_PolySurface surface;
    EXPECT_TRUE(ReadContainer(file.Bytes(), surface));
    EXPECT_EQ(surface.VertexCount(), 1u);

    // Declared data longer than what is left.
    auto bytes = ContainerWith(VerticesField({{1, 2, 3}, {4, 5, 6}}));
    bytes.resize(bytes.size() - 10);
    KV_PolySurface other;
    EXPECT_TRUE(ReadContainer(bytes, other));
    EXPECT_EQ(other.mpVertices, nullptr);

    // Layout text, component and extent counts past the end.
    for (std::uint32_t count : {0xFFFFFFFFu, 0x80000000u})
    {
        OsfBytes body;
        body.U32(0).U32(0).U32(0).U32(9).Text("Vertices").U8(0).U32(0).U32(1).U8(0);
        std::vector<unsigned char> base = OsfContainer().Bytes();
        for (int part = 0; part < 3; ++part)
        {
            OsfBytes b = body;
            if (part == 0)
                b.U32(count);
            else if (part == 1)
                b.U32(0).U32(count).Fill(8, 4);
            else
                b.U32(0).U32(1).U8('f').U8(4).U32(count).Fill(8, 1);
            auto file2 = base;
            file2.insert(file2.end(), b.Data().begin(), b.Data().end());
            EXPECT_TRUE(ReadContainer(file2)) << part;
        }
    }
}

TEST(BadContainerFile, EntryOffsetInsideTheHeaderIsWalkedSafely)
{
    auto bytes = EncodeContainerSurface(PyramidSurface());
    for (unsigned char offset : {0, 1, 16, 41})
    {
        bytes[0] = offset;
        EXPECT_TRUE(ReadContainer(bytes));
    }
}

// ---- Every truncated prefix

TEST(TruncatedSurfaceFile, EveryRawPrefixFails)
{
    for (int version = 0; version <= 3; ++version)
    {
        OsfRawOptions options;
        options.version = version;
        const auto full = EncodeRawSurface(version < 2 ? TrianglePyramidSurface() : PyramidSurface(), options);
        ASSERT_TRUE(ReadRaw(full));
        for (std::size_t n = 0; n < full.size(); ++n)
            EXPECT_FALSE(ReadRaw(std::vector<unsigned char>(full.begin(), full.begin() + n)))
                << "version " << version << ", " << n << " of " << full.size() << " bytes";
    }
}

TEST(TruncatedSurfaceFile, EveryContainerPrefixKeepsWholeFieldsOnly)
{
    OsfContainerOptions options;
    options.skipEntries = true;
    options.unreadEntries = true;
    const OsfSurface expected = PyramidSurface();
    const auto full = EncodeContainerSurface(expected, options);
    KV_PolySurface whole;
    ASSERT_TRUE(ReadContainer(full, whole));
    ExpectSurfaceMatches(whole, expected);

    for (std::size_t n = 0; n < full.size(); ++n)
    {
        KV_PolySurface surface;
        const bool read = ReadContainer(std::vector<unsigned char>(full.begin(), full.begin() + n), surface);
        EXPECT_EQ(read, n >= 42) << n;
        // Each member is either absent or exactly as in the whole file.
        if (surface.mpVertices)
        {
            EXPECT_EQ(surface.VertexCount(), 5u) << n;
        }
        if (surface.mpPolygons)
        {
            EXPECT_EQ(PolygonsOf(surface.mpPolygons), expected.polygons) << n;
        }
        if (surface.mpTexturePolygons)
        {
            EXPECT_EQ(PolygonsOf(surface.mpTexturePolygons), expected.texturePolygons) << n;
        }
        if (surface.mpTextureCoordinates)
        {
            EXPECT_EQ(surface.mpTextureCoordinates->Count(), 6u) << n;
        }
        if (surface.mpTextureMap)
        {
            EXPECT_EQ(TextureBytesOf(surface), expected.texturePixels) << n;
        }
    }
}

TEST(TruncatedSurfaceFile, EveryPrefixThroughTheLoaderFailsOrLoadsWholeFields)
{
    const auto raw = EncodeRawSurface(PyramidSurface());
    const auto container = EncodeContainerSurface(PyramidSurface());
    for (std::size_t n = 0; n < raw.size(); n += 7)
    {
        KV_PolySurface surface;
        KV_SurfaceLoader loader(surface);
        EXPECT_FALSE(loader.Load(WriteTmp("prefix.osf", std::vector<unsigned char>(raw.begin(), raw.begin() + n)).c_str())) << n;
    }
    for (std::size_t n = 42; n < container.size(); n += 7)
    {
        KV_PolySurface surface;
        KV_SurfaceLoader loader(surface);
        EXPECT_TRUE(loader.Load(WriteTmp("prefix.osf", std::vector<unsigned char>(container.begin(), container.begin() + n)).c_str())) << n;
        EXPECT_EQ(loader.Encoding(), KV_SurfaceEncoding::Container);
        EXPECT_EQ(loader.Checksum(), KV_ChecksumState::Absent);
    }
}
