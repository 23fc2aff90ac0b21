#include "surfacefile/KV_RawSurfaceReader.h"

#include "SurfaceFileTestUtil.h"
#include "foundation/KV_Executor.h"
#include "surface/KV_PolySurface.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace
{
// Version v, geometry and texture blocks as given, no coordinates, no vertices, no texture.
OsfBytes RawPrefix(int version)
{
    OsfBytes out;
    if (version == 2)
        out.Text("02").U32(0);
    return out;
}
// Calls check with a reader of a fresh surface, once on one thread and once with an
// executor of two threads.
template <typename Check>
void WithAndWithoutExecutor(Check check)
{
    KV_Executor two(2);
    for (KV_Executor* executor : {static_cast<KV_Executor*>(nullptr), &two})
    {
        SCOPED_TRACE(executor ? "executor" : "no executor");
        KV_PolySurface surface;
        KV_RawSurfaceReader reader(surface);
        reader.SetExecutor(executor);
        check(reader, surface);
    }
}
}  // namespace

class RawRoundTrip : public testing::TestWithParam<std::tuple<int, int>>
{
};

TEST_P(RawRoundTrip, EveryStoredValueComesBack)
{
    const int version = std::get<0>(GetParam());
    const int kind = std::get<1>(GetParam());
    const OsfSurface expected = version < 2 ? TrianglePyramidSurface(kind) : PyramidSurface(kind);
    OsfRawOptions options;
    options.version = version;
    const std::string path = WriteTmp("round.osf", EncodeRawSurface(expected, options));

    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    ASSERT_TRUE(reader.Read(path.c_str()));
    EXPECT_EQ(reader.Version(), version);
    EXPECT_EQ(reader.Integrity(), version == 3 ? KV_ChecksumState::Matched : KV_ChecksumState::Absent);
    ExpectSurfaceMatches(surface, expected);
    EXPECT_EQ(surface.mpVertices->BlockSize(), 1024u);
    EXPECT_EQ(surface.mpPolygons->BlockSize(), 1024u);
    EXPECT_EQ(surface.mpTextureCoordinates->BlockSize(), 256u);
}

INSTANTIATE_TEST_SUITE_P(VersionsAndTextureKinds, RawRoundTrip,
                         testing::Combine(testing::Values(0, 1, 2, 3), testing::Values(1, 3)));

TEST(KV_RawSurfaceReader, ExtensionIsMatchedInAnyLetterCase)
{
    const auto bytes = EncodeRawSurface(PyramidSurface());
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    EXPECT_TRUE(reader.Read(WriteTmp("CAPITALS.OSF", bytes).c_str()));
    EXPECT_TRUE(reader.Read(WriteTmp("mixed.oSf", bytes).c_str()));
    EXPECT_TRUE(KV_RawSurfaceReader::HasRawExtension("x.osf"));
    EXPECT_FALSE(KV_RawSurfaceReader::HasRawExtension("x.osf2"));
    EXPECT_FALSE(KV_RawSurfaceReader::HasRawExtension("x.ost"));
}

TEST(KV_RawSurfaceReader, OtherExtensionsAreDeclinedWithoutTouchingTheSurface)
{
    const std::string path = WriteTmp("surface.dat", EncodeRawSurface(PyramidSurface()));
    KV_PolySurface surface;
    surface.Vertices().Append(KV_Vector3D(7, 8, 9));
    KV_RawSurfaceReader reader(surface);
    EXPECT_FALSE(reader.Read(path.c_str()));
    EXPECT_EQ(reader.Version(), -1);
    ASSERT_EQ(surface.VertexCount(), 1u);
    EXPECT_EQ((*surface.mpVertices)[0].z, 9.0f);
}

TEST(KV_RawSurfaceReader, PathsShorterThanThreeCharactersAreReportedAndDeclined)
{
    ReportRecorder recorder;
    EXPECT_FALSE(KV_RawSurfaceReader::HasRawExtension("sf"));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, "KV_String error");
    EXPECT_EQ(recorder.Reports()[0].caption, "Request for an invalid number of characters");
}

TEST(KV_RawSurfaceReader, UnopenableFileEmptiesTheSurfaceAndFails)
{
    KV_PolySurface surface;
    surface.Vertices().Append(KV_Vector3D(1, 2, 3));
    KV_RawSurfaceReader reader(surface);
    EXPECT_FALSE(reader.Read(TmpPath("missing.osf").c_str()));
    EXPECT_EQ(surface.mpVertices, nullptr);
}

TEST(KV_RawSurfaceReader, HeaderBytesDecideTheVersion)
{
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    // Two spaces and 96 further header bytes, then triangles without count bytes.
    OsfBytes v1;
    v1.Text("  ").Fill(96, 'h');
    v1.I32(1).U16(0).U16(1).U16(2);  // one triangle, 2-byte indices
    v1.I32(0).I32(0).I32(0).U8(0);
    ASSERT_TRUE(reader.Read(v1.Data().data(), v1.Size()));
    EXPECT_EQ(reader.Version(), 1);
    EXPECT_EQ(PolygonsOf(surface.mpPolygons), (std::vector<std::vector<unsigned int>>{{0, 1, 2}}));

    for (const auto& header : std::vector<std::vector<unsigned char>>{
             {0, 1}, {1, 0}, {' ', 0}, {'0', '4'}, {'0', '1'}, {'0', '0'}, {'3', '0'}})
    {
        OsfBytes bad;
        bad.Bytes(header).U32(0).I32(0).I32(0).I32(0).I32(0).U8(0);
        EXPECT_FALSE(reader.Read(bad.Data().data(), bad.Size()));
        EXPECT_EQ(reader.Version(), -1) << int(header[0]) << " " << int(header[1]);
    }
}

TEST(KV_RawSurfaceReader, IndexWidthFollowsThePolygonCount)
{
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    for (std::uint32_t count : {65535u, 65536u})
    {
        const unsigned int width = count < 65536 ? 2 : 4;
        OsfBytes file = RawPrefix(2);
        file.I32(static_cast<std::int32_t>(count));
        for (std::uint32_t i = 0; i < count; ++i)
            file.U8(1).Index(width == 2 ? i : 100000 + i, width);
        file.I32(0).I32(0).I32(0).U8(0);
        ASSERT_TRUE(reader.Read(file.Data().data(), file.Size())) << count;
        ASSERT_EQ(surface.PolygonCount(), count);
        const KV_PolygonView& last = (*surface.mpPolygons)[count - 1];
        ASSERT_EQ(last.Count(), 1u);
        EXPECT_EQ(last[0], width == 2 ? count - 1 : 100000 + count - 1);
    }
}

TEST(KV_RawSurfaceReader, TextureKindZeroDropsTheStoredTextureData)
{
    OsfSurface stored = PyramidSurface(0);
    ASSERT_FALSE(stored.textureCoordinates.empty());
    const std::string path = WriteTmp("untextured.osf", EncodeRawSurface(stored));
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    ASSERT_TRUE(reader.Read(path.c_str()));
    ExpectSurfaceMatches(surface, stored);  // no texture members at all
    EXPECT_EQ(surface.mpTextureCoordinatePolygons, nullptr);
    EXPECT_EQ(surface.mpTextureCoordinateVertices, nullptr);
}

TEST(KV_RawSurfaceReader, UnknownTextureKindIsNoTexture)
{
    OsfSurface stored = PyramidSurface(0);
    stored.textureKind = 2;
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    const auto bytes = EncodeRawSurface(stored);
    ASSERT_TRUE(reader.Read(bytes.data(), bytes.size()));
    EXPECT_EQ(surface.mpTextureMap, nullptr);
    EXPECT_EQ(surface.mpTexturePolygons, nullptr);
}

TEST(KV_RawSurfaceReader, ZeroByZeroImageDropsTheTextureButOneEmptySideDoesNot)
{
    OsfSurface stored = PyramidSurface(3);
    stored.textureRows = 0;
    stored.textureColumns = 0;
    stored.texturePixels.clear();
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    auto bytes = EncodeRawSurface(stored);
    ASSERT_TRUE(reader.Read(bytes.data(), bytes.size()));
    EXPECT_EQ(surface.mpTextureMap, nullptr);
    EXPECT_EQ(surface.mpTextureCoordinates, nullptr);

    stored.textureColumns = 5;
    bytes = EncodeRawSurface(stored);
    ASSERT_TRUE(reader.Read(bytes.data(), bytes.size()));
    ASSERT_NE(surface.mpTextureMap, nullptr);
    EXPECT_EQ(surface.mpTextureMap->Rows(), 0);
    EXPECT_NE(surface.mpTextureCoordinates, nullptr);
}

TEST(KV_RawSurfaceReader, CountsOfZeroOrLessGiveEmptyLists)
{
    OsfBytes file = RawPrefix(2);
    file.I32(-1).I32(0).I32(-5).I32(INT32_MIN).U8(0);
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    ASSERT_TRUE(reader.Read(file.Data().data(), file.Size()));
    ASSERT_NE(surface.mpPolygons, nullptr);
    EXPECT_EQ(surface.PolygonCount(), 0u);
    ASSERT_NE(surface.mpVertices, nullptr);
    EXPECT_EQ(surface.VertexCount(), 0u);
}

TEST(KV_RawSurfaceReader, Version3NeedsItsIntegrityTail)
{
    const auto good = EncodeRawSurface(PyramidSurface());
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    ASSERT_TRUE(reader.Read(good.data(), good.size()));

    // Any changed byte before the tag breaks the checksum, except the one that turns the
    // header "03" into "02": a version-2 file has no integrity check and ignores the tail.
    for (std::size_t i = 0; i + 8 < good.size(); ++i)
    {
        if (i == 1)
            continue;
        auto bad = good;
        bad[i] ^= 0x01;
        EXPECT_FALSE(reader.Read(bad.data(), bad.size())) << "byte " << i;
    }
    // Decoding the changed value byte leaves the register non-zero too.
    auto badValue = good;
    badValue.back() ^= 0x80;
    EXPECT_FALSE(reader.Read(badValue.data(), badValue.size()));
    EXPECT_EQ(reader.Integrity(), KV_ChecksumState::Mismatched);

    // A tail that closes the checksum but carries another tag.
    auto otherTag = good;
    otherTag.resize(good.size() - 8);
    otherTag.insert(otherTag.end(), {'K', 'V', '0', '2'});
    const std::uint32_t value = OsfChecksum(otherTag.data(), otherTag.size());
    OsfBytes tail;
    tail.U32BigEndian(value);
    otherTag.insert(otherTag.end(), tail.Data().begin(), tail.Data().end());
    ASSERT_EQ(OsfChecksum(otherTag.data(), otherTag.size()), 0u);
    EXPECT_FALSE(reader.Read(otherTag.data(), otherTag.size()));

    // No tail at all.
    OsfRawOptions options;
    options.integrityTail = false;
    const auto untagged = EncodeRawSurface(PyramidSurface(), options);
    EXPECT_FALSE(reader.Read(untagged.data(), untagged.size()));
}

// A file large enough that its checksum runs beside the reading, and its picture (colour or
// grey) is copied beside the lists before it (with an executor): the same pixels and
// verdicts as without, and a reading that stops early (truncation, bad data) leaves no
// checksum running on freed bytes.
TEST(KV_RawSurfaceReader, LargeFilesAreCheckedWhileTheyAreRead)
{
    for (const auto& [kind, rows, columns] : {std::tuple{3, 1200, 1300}, std::tuple{1, 2100, 2000}})
    {
        SCOPED_TRACE(kind == 3 ? "colour" : "grey");
        OsfSurface big = PyramidSurface(kind);
        big.textureRows = rows;
        big.textureColumns = columns;
        big.texturePixels.resize(std::size_t(rows) * columns * kind);
        for (std::size_t i = 0; i < big.texturePixels.size(); ++i)
            big.texturePixels[i] = static_cast<unsigned char>(i * 31 + i / 977);
        const auto good = EncodeRawSurface(big);
        ASSERT_GT(big.texturePixels.size(), std::size_t(4) << 20);
        auto check = [&](KV_RawSurfaceReader& reader, KV_PolySurface& surface)
        {
            ASSERT_TRUE(reader.Read(good.data(), good.size()));
            EXPECT_EQ(reader.Integrity(), KV_ChecksumState::Matched);
            const KV_MultiImage& picture = *surface.mpTextureMap;
            ASSERT_EQ(picture.Rows(), rows);
            ASSERT_EQ(picture.Cols(), columns);
            const unsigned char* pixels =
                kind == 3 ? reinterpret_cast<const unsigned char*>(picture.ColourImage()->Data())
                          : picture.GreyImage()->Data();
            EXPECT_EQ(std::memcmp(pixels, big.texturePixels.data(), big.texturePixels.size()), 0);

            // One changed bit in the polygons, in the picture, and in the checksum itself.
            for (std::size_t at : {std::size_t(40), good.size() / 2, good.size() - 1})
            {
                auto bad = good;
                bad[at] ^= 0x10;
                EXPECT_FALSE(reader.Read(bad.data(), bad.size())) << "byte " << at;
            }
            auto flipped = good;
            flipped[good.size() / 2] ^= 0x10;
            reader.Read(flipped.data(), flipped.size());
            EXPECT_EQ(reader.Integrity(), KV_ChecksumState::Mismatched);

            // Cut short in the picture: refused as truncated (the checksum was already going).
            for (int round = 0; round < 8; ++round)
            {
                std::vector<unsigned char> cut(good.begin(), good.begin() + good.size() * 3 / 4);
                EXPECT_FALSE(reader.Read(cut.data(), cut.size()));
                EXPECT_TRUE(reader.Truncated());
            }
        };
        WithAndWithoutExecutor(check);
    }
}

// In a large file read with an executor the polygons are a piece of their own while the
// texture polygons are read:
// a fault in either block is met where it lies, with what came before it in file order.
TEST(KV_RawSurfaceReader, LargeFilesFailWhereTheFaultLiesWhicheverBlockHoldsIt)
{
    const unsigned int n = 70000;  // four-byte indices: 13 bytes a triangle
    OsfSurface big;
    big.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    big.textureCoordinates = {{0, 0}, {1, 0}, {0, 1}};
    big.polygons.assign(n, {0, 1, 2});
    big.texturePolygons.assign(n, {2, 1, 0});
    big.textureKind = 3;
    big.textureRows = big.textureColumns = 1024;
    big.texturePixels.assign(std::size_t(1024) * 1024 * 3, 7);
    const auto good = EncodeRawSurface(big);
    ASSERT_GT(good.size(), std::size_t(4) << 20);
    const std::size_t first = 2 + 4 + OsfRawOptions().headerText.size();
    const std::size_t second = first + 4 + std::size_t(13) * n;
    ASSERT_EQ(good[first] | good[first + 1] << 8 | good[first + 2] << 16, int(n));
    ASSERT_EQ(good[second] | good[second + 1] << 8 | good[second + 2] << 16, int(n));

    struct Case
    {
        const char* name;
        std::vector<std::size_t> badCountBytes;  // set to 17 corners, more than a polygon has
        std::size_t failedAt;
        unsigned int polygons, texturePolygons;
    };
    const std::size_t inFirst = first + 4 + std::size_t(13) * 1000;
    const std::size_t inSecond = second + 4 + std::size_t(13) * 2000;
    const Case cases[] = {
        {"polygons", {inFirst}, inFirst + 1, 1000, 0},
        {"texture polygons", {inSecond}, inSecond + 1, n, 2000},
        {"both", {inFirst, inSecond}, inFirst + 1, 1000, 0},
    };
    auto check = [&](KV_RawSurfaceReader& reader, KV_PolySurface& surface)
    {
        for (const Case& c : cases)
        {
            SCOPED_TRACE(c.name);
            auto bad = good;
            for (std::size_t at : c.badCountBytes) bad[at] = 17;
            EXPECT_FALSE(reader.Read(bad.data(), bad.size()));
            EXPECT_FALSE(reader.Truncated());
            EXPECT_EQ(reader.FailedAt(), c.failedAt);
            EXPECT_EQ(surface.PolygonCount(), c.polygons);
            EXPECT_EQ(surface.mpTexturePolygons ? surface.mpTexturePolygons->Count() : 0u,
                      c.texturePolygons);
        }
        ASSERT_TRUE(reader.Read(good.data(), good.size()));
        ASSERT_EQ(surface.PolygonCount(), n);
        ASSERT_EQ(surface.mpTexturePolygons->Count(), n);
        // The lists after the texture polygons, read beside them.
        ASSERT_EQ(surface.VertexCount(), 3u);
        ASSERT_EQ(surface.mpTextureCoordinates->Count(), 3u);
        EXPECT_EQ((*surface.mpVertices)[1], KV_Vector3D(1, 0, 0));
        EXPECT_EQ((*surface.mpTextureCoordinates)[2].v, 1.0f);
        EXPECT_EQ(surface.mpTextureMap->Rows(), 1024u);
        for (unsigned int i : {0u, n / 2, n - 1})
        {
            EXPECT_EQ((*surface.mpPolygons)[i][0], 0u);
            EXPECT_EQ((*surface.mpTexturePolygons)[i][0], 2u);
        }
    };
    WithAndWithoutExecutor(check);
}

TEST(KV_RawSurfaceReader, Version2IgnoresBytesAfterTheTexture)
{
    OsfRawOptions options;
    options.version = 2;
    auto bytes = EncodeRawSurface(PyramidSurface(), options);
    bytes.insert(bytes.end(), {'K', 'V', '0', '1', 1, 2, 3, 4});
    KV_PolySurface surface;
    KV_RawSurfaceReader reader(surface);
    EXPECT_TRUE(reader.Read(bytes.data(), bytes.size()));
    EXPECT_EQ(reader.Integrity(), KV_ChecksumState::Absent);
}
