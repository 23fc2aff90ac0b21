#include "surfacefile/KV_FieldContainerReader.h"

#include "SurfaceFileTestUtil.h"
#include "surface/KV_PolySurface.h"

#include <gtest/gtest.h>

namespace
{
bool ReadContainer(KV_TexturedPolySurface& surface, const std::vector<unsigned char>& bytes,
                   KV_FieldContainerReader** keep = nullptr)
{
    static KV_FieldContainerReader* last = nullptr;
    delete last;
    last = new KV_FieldContainerReader(surface);
    if (keep)
        *keep = last;
    return last->Read(bytes.data(), bytes.size());
}

// A field entry with one component of the given size and the given extents.
OsfEntry ValuesField(const std::string& name, unsigned char size, std::vector<std::uint32_t> extents,
                     std::vector<unsigned char> data)
{
    OsfEntry e;
    e.name = name;
    e.components = {{'u', size}};
    e.extents = std::move(extents);
    e.data = std::move(data);
    return e;
}
}  // namespace

class ContainerRoundTrip : public testing::TestWithParam<std::tuple<unsigned int, bool, bool>>
{
};

TEST_P(ContainerRoundTrip, EveryStoredValueComesBack)
{
    OsfContainerOptions options;
    options.indexWidth = std::get<0>(GetParam());
    options.trianglesWhenPossible = std::get<1>(GetParam());
    options.skipEntries = std::get<2>(GetParam());
    options.unreadEntries = std::get<2>(GetParam());
    for (const OsfSurface& expected : {PyramidSurface(3), TrianglePyramidSurface(1)})
    {
        const std::string path = WriteTmp("round.ufc", EncodeContainerSurface(expected, options));
        KV_PolySurface surface;
        KV_FieldContainerReader reader(surface);
        ASSERT_TRUE(reader.Read(path.c_str()));
        EXPECT_TRUE(reader.ChecksumMatched());
        ExpectSurfaceMatches(surface, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(IndexWidthsFieldKindsAndUnreadEntries, ContainerRoundTrip,
                         testing::Combine(testing::Values(1u, 2u, 4u), testing::Bool(),
                                          testing::Bool()));

TEST(KV_FieldContainerReader, SignatureMustBeFollowedByAZeroByte)
{
    KV_PolySurface surface;
    OsfContainer file;
    file.Add(VerticesField({{1, 2, 3}}));
    auto bytes = file.Bytes();
    EXPECT_TRUE(ReadContainer(surface, bytes));
    bytes[41] = 'X';
    EXPECT_FALSE(ReadContainer(surface, bytes));
    bytes[41] = 0;
    bytes[20] = 'X';  // "UnivXrsal"
    EXPECT_FALSE(ReadContainer(surface, bytes));
    // Too short to hold the signature at all.
    bytes.resize(41);
    EXPECT_FALSE(ReadContainer(surface, bytes));
}

TEST(KV_FieldContainerReader, WrongSignatureLeavesTheSurfaceUntouched)
{
    KV_PolySurface surface;
    surface.Vertices().Append(KV_Vector3D(4, 5, 6));
    auto bytes = EncodeContainerSurface(PyramidSurface());
    bytes[16] = 'u';
    EXPECT_FALSE(ReadContainer(surface, bytes));
    EXPECT_EQ(surface.VertexCount(), 1u);
    EXPECT_EQ(surface.mpPolygons, nullptr);
}

TEST(KV_FieldContainerReader, FirstEntryOffsetIsHonoured)
{
    KV_PolySurface surface;
    OsfContainer file(300);
    file.Add(VerticesField({{1, 2, 3}, {4, 5, 6}}));
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(surface.VertexCount(), 2u);

    // An offset past the end reads no field, but the file carries the signature.
    auto beyond = file.Bytes();
    beyond[0] = 0xFF;
    beyond[1] = 0xFF;
    KV_PolySurface other;
    EXPECT_TRUE(ReadContainer(other, beyond));
    EXPECT_EQ(other.mpVertices, nullptr);
}

TEST(KV_FieldContainerReader, SkipEntryTakesExactlyTwelveBytes)
{
    OsfContainer file;
    file.AddSkipEntry();
    file.AddSkipEntry();
    file.Add(VerticesField({{1, 2, 3}}));
    EXPECT_EQ(file.Bytes().size(), 64u + 24u + EncodeEntry(VerticesField({{1, 2, 3}})).size());
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(surface.VertexCount(), 1u);
}

TEST(KV_FieldContainerReader, FlaggedAndUnknownFieldsAreNotRead)
{
    OsfContainer file;
    file.AddUnreadEntry("Vertices", 1);      // known, flagged: no body follows
    file.AddUnreadEntry("Normals", 0);       // unknown
    file.AddUnreadEntry("vertices", 0);      // names compare case-sensitively
    file.AddUnreadEntry("TextureMap", 0xFFFFFFFFu);
    file.Add(VerticesField({{1, 2, 3}}));
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    ASSERT_EQ(surface.VertexCount(), 1u);
    EXPECT_EQ((*surface.mpVertices)[0].y, 2.0f);
    EXPECT_EQ(surface.mpTextureMap, nullptr);
}

TEST(KV_FieldContainerReader, NameEndsAtItsFirstZeroByteOrAfterAllItsBytes)
{
    OsfContainer file;
    OsfEntry padded = VerticesField({{1, 2, 3}});
    padded.name = std::string("Vertices\0junk", 13);
    file.Add(padded);
    OsfEntry unterminated = TextureCoordinatesField({{0.5f, 0.25f}});
    unterminated.terminateName = false;
    file.Add(unterminated);
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(surface.VertexCount(), 1u);
    ASSERT_NE(surface.mpTextureCoordinates, nullptr);
    EXPECT_EQ((*surface.mpTextureCoordinates)[0].v, 0.25f);
}

TEST(KV_FieldContainerReader, FieldRecordSizeIsComponentSumTimesExtents)
{
    const auto record = [](std::vector<std::pair<unsigned char, unsigned char>> components,
                           std::vector<std::uint32_t> extents) {
        OsfBytes body;
        body.U32(3).Text("xyz").U32(static_cast<std::uint32_t>(components.size()));
        for (auto c : components)
            body.U8(c.first).U8(c.second);
        body.U32(static_cast<std::uint32_t>(extents.size()));
        for (auto e : extents)
            body.U32(e);
        return body.Data();
    };
    KV_PolySurface surface;
    KV_FieldContainerReader reader(surface);
    auto bytes = record({{'f', 4}, {'f', 4}, {'f', 4}}, {10});
    KV_ByteCursor cursor(bytes.data(), bytes.size());
    EXPECT_EQ(reader.ReadFieldRecord(cursor), 120u);
    EXPECT_TRUE(cursor.AtEnd());
    ASSERT_EQ(reader.ComponentSizes().Count(), 3u);
    EXPECT_EQ(reader.ComponentTypes()[2], 'f');
    EXPECT_EQ(reader.ComponentSizes().BlockSize(), 3u);
    EXPECT_EQ(reader.Extents().BlockSize(), 3u);

    bytes = record({{'f', 4}, {'f', 4}, {'f', 4}}, {});
    cursor = KV_ByteCursor(bytes.data(), bytes.size());
    EXPECT_EQ(reader.ReadFieldRecord(cursor), 12u);

    bytes = record({{'u', 1}, {'u', 2}}, {3, 5, 7});
    cursor = KV_ByteCursor(bytes.data(), bytes.size());
    EXPECT_EQ(reader.ReadFieldRecord(cursor), 3u * 105u);
    EXPECT_EQ(reader.Extents()[2], 7ul);

    // A zero extent makes the size 0, whatever the other factors.
    bytes = record({{'u', 255}}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0});
    cursor = KV_ByteCursor(bytes.data(), bytes.size());
    EXPECT_EQ(reader.ReadFieldRecord(cursor), 0u);

    // The largest size that fits, and the first that does not.
    bytes = record({{'u', 1}}, {0xFFFFFFFFu});
    cursor = KV_ByteCursor(bytes.data(), bytes.size());
    EXPECT_EQ(reader.ReadFieldRecord(cursor), 0xFFFFFFFFu);
    bytes = record({{'u', 1}, {'u', 1}}, {0x80000000u});
    cursor = KV_ByteCursor(bytes.data(), bytes.size());
    EXPECT_THROW(reader.ReadFieldRecord(cursor), KV_BadFile);
    bytes = record({{'u', 4}}, {0x10000u, 0x10000u, 0x10000u});
    cursor = KV_ByteCursor(bytes.data(), bytes.size());
    EXPECT_THROW(reader.ReadFieldRecord(cursor), KV_BadFile);
}

TEST(KV_FieldContainerReader, PolygonsFieldCountsValuesNotPolygons)
{
    OsfContainer file;
    file.Add(ValuesField("Polygons", 1, {8}, {3, 0, 1, 2, 3, 2, 3, 0}));
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(PolygonsOf(surface.mpPolygons), (std::vector<std::vector<unsigned int>>{{0, 1, 2}, {2, 3, 0}}));
}

TEST(KV_FieldContainerReader, PolygonsFieldStopsAtItsLastValue)
{
    // Values 0 | 2 7 8 | 4 5 6: a zero count gives an empty polygon, which is kept; the last
    // polygon claims four indices but only two values remain.
    OsfContainer file;
    file.Add(ValuesField("TexturePolygons", 2, {7}, {0, 0, 2, 0, 7, 0, 8, 0, 4, 0, 5, 0, 6, 0}));
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(PolygonsOf(surface.mpTexturePolygons),
              (std::vector<std::vector<unsigned int>>{{}, {7, 8}, {5, 6}}));
}

TEST(KV_FieldContainerReader, PolygonsFieldReplacesEarlierPolygons)
{
    OsfContainer file;
    file.Add(IndexField("Polygons", {{0, 1, 2, 3}, {4, 5, 6}}, 4));
    file.Add(IndexField("Polygons", {{7, 8, 9}}, 4));
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(PolygonsOf(surface.mpPolygons), (std::vector<std::vector<unsigned int>>{{7, 8, 9}}));
}

TEST(KV_FieldContainerReader, TrianglesReuseExistingPolygonsAndKeepUnsuppliedValues)
{
    OsfContainer file;
    file.Add(IndexField("Polygons", {{10, 11, 12, 13}, {14, 15, 16}, {17, 18}}, 4));
    // Two triangles declared, data for four indices only.
    file.Add(ValuesField("Triangles", 1, {2}, {0, 1, 2, 3}));
    OsfEntry shortTriangles = ValuesField("Triangles", 1, {2}, {});
    shortTriangles.components = {{'u', 1}, {'u', 1}};  // S = 4 with two components
    shortTriangles.data = {0, 1, 2, 3};
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    // The extent of 2 with one 1-byte component gives only two values.
    EXPECT_EQ(PolygonsOf(surface.mpPolygons),
              (std::vector<std::vector<unsigned int>>{{0, 1, 12}, {14, 15, 16}}));

    OsfContainer second;
    second.Add(IndexField("Polygons", {{10, 11, 12, 13}, {14, 15, 16}, {17, 18}}, 4));
    second.Add(shortTriangles);
    KV_PolySurface other;
    ASSERT_TRUE(ReadContainer(other, second.Bytes()));
    EXPECT_EQ(PolygonsOf(other.mpPolygons),
              (std::vector<std::vector<unsigned int>>{{0, 1, 2}, {3, 15, 16}}));
}

TEST(KV_FieldContainerReader, VerticesKeepValuesTheDataCannotSupply)
{
    OsfContainer file;
    file.Add(VerticesField({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}));
    OsfEntry shorter = VerticesField({{7, 8, 9}});
    shorter.components = {{'f', 4}};  // S = 4 x 2 = 8 bytes: not even one whole vertex
    shorter.extents = {2};
    shorter.data.resize(8);
    file.Add(shorter);
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    ASSERT_EQ(surface.VertexCount(), 2u);
    EXPECT_EQ((*surface.mpVertices)[0].x, 1.0f);
    EXPECT_EQ((*surface.mpVertices)[1].z, 2.0f);
}

TEST(KV_FieldContainerReader, TextureMapKindFollowsTheComponentCount)
{
    KV_PolySurface surface;
    OsfContainer grey;
    grey.Add(TextureMapField(1, 2, 2, {1, 2, 3, 4}));
    ASSERT_TRUE(ReadContainer(surface, grey.Bytes()));
    ASSERT_NE(surface.mpTextureMap, nullptr);
    EXPECT_FALSE(surface.mpTextureMap->IsColour());
    EXPECT_EQ(TextureBytesOf(surface), (std::vector<unsigned char>{1, 2, 3, 4}));
    // Row 0 is the first row stored.
    EXPECT_EQ((*surface.mpTextureMap->GreyImage())(1, 0), 3);

    OsfContainer two;
    OsfEntry field = TextureMapField(3, 1, 2, {1, 2, 3, 4});
    field.components = {{'u', 1}, {'u', 1}};
    two.Add(TextureMapField(3, 1, 1, {9, 9, 9}));
    two.Add(field);
    ASSERT_TRUE(ReadContainer(surface, two.Bytes()));
    ASSERT_NE(surface.mpTextureMap, nullptr);
    EXPECT_FALSE(surface.mpTextureMap->HasImage());
    EXPECT_FALSE(surface.HasTextureMap());

    // Shorter data fills the first pixels; the rest stay black.
    OsfContainer partial;
    OsfEntry shortData = TextureMapField(3, 1, 2, {5, 6, 7, 8});
    shortData.components = {{'u', 1}, {'u', 1}, {'u', 0}};  // S = 2 x 2: four bytes
    partial.Add(shortData);
    ASSERT_TRUE(ReadContainer(surface, partial.Bytes()));
    EXPECT_EQ(TextureBytesOf(surface), (std::vector<unsigned char>{5, 6, 7, 8, 0, 0}));
}

TEST(KV_FieldContainerReader, TextureMapWithoutAnImageNeedsNoExtents)
{
    // Two components and a single extent: no image is made, so the extents go unused and
    // the file loads with an empty texture image.
    OsfContainer file;
    file.Add(VerticesField({{1, 2, 3}}));
    OsfEntry field = TextureMapField(3, 1, 1, {});
    field.components = {{'u', 1}, {'u', 1}};
    field.extents = {3};
    field.data = {1, 2, 3, 4, 5, 6};
    file.Add(field);
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(surface.VertexCount(), 1u);
    ASSERT_NE(surface.mpTextureMap, nullptr);
    EXPECT_FALSE(surface.HasTextureMap());
}

TEST(KV_FieldContainerReader, LastOfSeveralChecksumsDecides)
{
    auto checksumEntry = [](std::uint32_t covered, std::uint32_t expected)
    {
        OsfEntry checksum;
        checksum.name = "Overall Checksum";
        checksum.components = {{'u', 4}, {'u', 4}};
        OsfBytes data;
        data.U32(covered).U32(expected);
        checksum.data = data.Data();
        return checksum;
    };
    for (const bool lastMatches : {false, true})
    {
        OsfContainer file;
        file.Add(VerticesField({{1, 2, 3}}));
        const std::vector<unsigned char> covered = file.Bytes();
        const std::uint32_t good = OsfChecksum(covered.data(), covered.size());
        const auto size = static_cast<std::uint32_t>(covered.size());
        for (int k = 0; k < 3; ++k) file.Add(checksumEntry(size, lastMatches ? good ^ 1u : good));
        file.Add(checksumEntry(size, lastMatches ? good : good ^ 1u));
        KV_PolySurface surface;
        KV_FieldContainerReader* reader = nullptr;
        ASSERT_TRUE(ReadContainer(surface, file.Bytes(), &reader));
        EXPECT_EQ(reader->Checksum(),
                  lastMatches ? KV_ChecksumState::Matched : KV_ChecksumState::Mismatched);
    }
}

TEST(KV_FieldContainerReader, FieldsTogetherDeclareNoMoreElementsThanTheFileHasBytes)
{
    // Fields of no data (a zero extent) may each declare as many triangles as bytes follow
    // them; together they may not declare more than the file holds, or a file of many of
    // them would cost its size once per field. The field that passes the total is a short
    // read: what came before stands.
    auto emptyTriangles = [](std::uint32_t count)
    {
        OsfEntry e;
        e.name = "Triangles";
        e.components = {{'u', 4}};
        e.extents = {count, 0};
        return e;
    };
    OsfEntry filler;
    filler.name = "Filler";
    filler.flag = 1;
    filler.hasBody = false;
    filler.description = std::string(1000, 'x');
    OsfContainer file;
    file.Add(emptyTriangles(700));
    file.Add(emptyTriangles(650));
    file.Add(filler);
    ASSERT_LT(file.Bytes().size(), 1350u);
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(surface.PolygonCount(), 700u);
}

TEST(KV_FieldContainerReader, ChecksumFlagFollowsTheCoveredBytes)
{
    const auto good = EncodeContainerSurface(PyramidSurface());
    KV_PolySurface surface;
    KV_FieldContainerReader* reader = nullptr;
    ASSERT_TRUE(ReadContainer(surface, good, &reader));
    EXPECT_TRUE(reader->ChecksumMatched());
    EXPECT_EQ(reader->Checksum(), KV_ChecksumState::Matched);

    // A changed vertex coordinate inside the covered range: still loaded, flag cleared.
    auto changed = good;
    const std::size_t firstVertexByte = 64 + EncodeEntry(VerticesField({})).size() - 5;
    changed[firstVertexByte] ^= 0x40;
    KV_PolySurface other;
    ASSERT_TRUE(ReadContainer(other, changed, &reader));
    EXPECT_FALSE(reader->ChecksumMatched());
    EXPECT_EQ(reader->Checksum(), KV_ChecksumState::Mismatched);
    EXPECT_EQ(other.VertexCount(), 5u);
    EXPECT_NE((*other.mpVertices)[0].x, 0.0f);

    const auto none = EncodeContainerSurface(PyramidSurface(), OsfContainerOptions{4, true, false});
    ASSERT_TRUE(ReadContainer(other, none, &reader));
    EXPECT_EQ(reader->Checksum(), KV_ChecksumState::Absent);
}

TEST(KV_FieldContainerReader, ChecksumIsVerifiedWhateverItsFlag)
{
    OsfContainer file;
    file.Add(VerticesField({{1, 2, 3}}));
    const std::vector<unsigned char> covered = file.Bytes();
    OsfEntry checksum;
    checksum.name = "Overall Checksum";
    checksum.flag = 7;
    checksum.components = {{'u', 4}, {'u', 4}};
    OsfBytes data;
    data.U32(static_cast<std::uint32_t>(covered.size()))
        .U32(OsfChecksum(covered.data(), covered.size()));
    checksum.data = data.Data();
    file.Add(checksum);
    KV_PolySurface surface;
    KV_FieldContainerReader* reader = nullptr;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes(), &reader));
    EXPECT_TRUE(reader->ChecksumMatched());
}

TEST(KV_FieldContainerReader, ChecksumCoveringMoreThanTheFileStopsAtItsEnd)
{
    OsfContainer file;
    file.Add(VerticesField({{1, 2, 3}}));
    const std::vector<unsigned char> covered = file.Bytes();
    OsfEntry checksum;
    checksum.name = "Overall Checksum";
    checksum.components = {{'u', 4}, {'u', 4}};
    OsfBytes data;
    data.U32(0xFFFFFFFFu).U32(OsfChecksum(covered.data(), covered.size()));
    checksum.data = data.Data();
    file.Add(checksum);
    KV_PolySurface surface;
    KV_FieldContainerReader* reader = nullptr;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes(), &reader));
    EXPECT_EQ(reader->Checksum(), KV_ChecksumState::Mismatched);
    EXPECT_EQ(surface.VertexCount(), 1u);
}

TEST(KV_FieldContainerReader, ShortChecksumDataComparesZeroes)
{
    // No data at all: nothing is covered (the register stays all ones) and the expected
    // value stays 0.
    OsfContainer file;
    OsfEntry checksum;
    checksum.name = "Overall Checksum";
    file.Add(checksum);
    KV_PolySurface surface;
    KV_FieldContainerReader* reader = nullptr;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes(), &reader));
    EXPECT_EQ(reader->Checksum(), KV_ChecksumState::Mismatched);
}

TEST(KV_FieldContainerReader, FileEndingInsideAnEntryHeaderKeepsEarlierFields)
{
    OsfContainer file;
    file.Add(VerticesField({{1, 2, 3}}));
    file.AddBytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // ten bytes of an entry header
    KV_PolySurface surface;
    ASSERT_TRUE(ReadContainer(surface, file.Bytes()));
    EXPECT_EQ(surface.VertexCount(), 1u);
}
