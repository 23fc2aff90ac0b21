#include "surfacefile/KV_SurfaceLoader.h"

#include "SurfaceFileTestUtil.h"
#include "surface/KV_PolySurface.h"
#include "tests/support/SurfaceFileFromSurface.h"

#include "foundation/KV_Executor.h"

#include <gtest/gtest.h>

#include <atomic>

namespace
{
// The pyramid with a picture large enough (over 4 MB) for the raw reader to split its work.
OsfSurface LargePictureSurface()
{
    OsfSurface big = PyramidSurface();
    big.textureRows = 1200;
    big.textureColumns = 1300;
    big.texturePixels.resize(std::size_t(1200) * 1300 * 3);
    for (std::size_t i = 0; i < big.texturePixels.size(); ++i)
        big.texturePixels[i] = static_cast<unsigned char>(i * 31 + i / 977);
    return big;
}

struct EncodedCase
{
    const char* name;
    OsfSurface surface;
    std::vector<unsigned char> bytes;
    KV_ChecksumState checksum;
};

std::vector<EncodedCase> EveryEncoding()
{
    OsfRawOptions version2;
    version2.version = 2;
    const OsfSurface small = PyramidSurface(), large = LargePictureSurface();
    const KV_ChecksumState matched = KV_ChecksumState::Matched;
    return {{"raw v2", small, EncodeRawSurface(small, version2), KV_ChecksumState::Absent},
            {"raw v3", small, EncodeRawSurface(small), matched},
            {"large raw v3", large, EncodeRawSurface(large), matched},
            {"container", small, EncodeContainerSurface(small), matched},
            {"large container", large, EncodeContainerSurface(large), matched}};
}
}  // namespace

// Each encoding, small and large, read on the calling thread and with executors of 2 and 4
// threads: the same surface every time.
TEST(KV_SurfaceLoader, ExecutorsReadTheSameSurface)
{
    KV_Executor two(2), four(4);
    for (const EncodedCase& c : EveryEncoding())
        for (KV_Executor* executor : {static_cast<KV_Executor*>(nullptr), &two, &four})
        {
            SCOPED_TRACE(std::string(c.name) + (executor ? ", executor" : ""));
            KV_PolySurface surface;
            KV_SurfaceLoader loader(surface);
            loader.SetExecutor(executor);
            ASSERT_TRUE(loader.Load(WriteTmp("executor.osf", c.bytes).c_str()));
            EXPECT_EQ(loader.Checksum(), c.checksum);
            ExpectSurfaceMatches(surface, c.surface);
        }
}

// A flag already set: no encoding is read, whichever reader would take it, and the loader
// says so rather than trying the other reader or naming a fault of the file.
TEST(KV_SurfaceLoader, StopFlagSetBeforehandReadsNothing)
{
    const std::atomic<bool> stop{true};
    KV_Executor two(2);
    for (const EncodedCase& c : EveryEncoding())
        for (KV_Executor* executor : {static_cast<KV_Executor*>(nullptr), &two})
        {
            SCOPED_TRACE(std::string(c.name) + (executor ? ", executor" : ""));
            KV_PolySurface surface;
            KV_SurfaceLoader loader(surface);
            loader.SetExecutor(executor);
            loader.SetStop(&stop);
            EXPECT_FALSE(loader.Load(WriteTmp("stopped.osf", c.bytes).c_str()));
            EXPECT_TRUE(loader.Stopped());
            EXPECT_STREQ(loader.FailureReason().c_str(), "stopped");
            EXPECT_EQ(loader.Encoding(), KV_SurfaceEncoding::None);
        }
}

TEST(KV_SurfaceLoader, RawFilesLoadAsRawWithTheirVersion)
{
    for (int version = 0; version <= 3; ++version)
    {
        OsfRawOptions options;
        options.version = version;
        const OsfSurface expected = TrianglePyramidSurface();
        const std::string path = WriteTmp("raw.osf", EncodeRawSurface(expected, options));
        KV_PolySurface surface;
        KV_SurfaceLoader loader(surface);
        ASSERT_TRUE(loader.Load(path.c_str())) << version;
        EXPECT_EQ(loader.Encoding(), KV_SurfaceEncoding::Raw);
        EXPECT_EQ(loader.Version(), version);
        EXPECT_EQ(loader.Checksum(), version == 3 ? KV_ChecksumState::Matched : KV_ChecksumState::Absent);
        ExpectSurfaceMatches(surface, expected);
    }
}

TEST(KV_SurfaceLoader, ContainerFilesLoadWhateverTheirName)
{
    const OsfSurface expected = PyramidSurface();
    const auto bytes = EncodeContainerSurface(expected);
    for (const char* name : {"container.osf", "container.OSF", "container.ufc"})
    {
        KV_PolySurface surface;
        KV_SurfaceLoader loader(surface);
        ASSERT_TRUE(loader.Load(WriteTmp(name, bytes).c_str())) << name;
        EXPECT_EQ(loader.Encoding(), KV_SurfaceEncoding::Container);
        EXPECT_EQ(loader.Version(), -1);
        EXPECT_EQ(loader.Checksum(), KV_ChecksumState::Matched);
        ExpectSurfaceMatches(surface, expected);
    }
}

TEST(KV_SurfaceLoader, ContainerChecksumStateIsReported)
{
    OsfContainerOptions options;
    options.checksum = false;
    KV_PolySurface surface;
    KV_SurfaceLoader loader(surface);
    ASSERT_TRUE(loader.Load(WriteTmp("plain.osf", EncodeContainerSurface(PyramidSurface(), options)).c_str()));
    EXPECT_EQ(loader.Checksum(), KV_ChecksumState::Absent);

    auto changed = EncodeContainerSurface(PyramidSurface());
    changed[100] ^= 0x10;  // inside the vertices, covered by the checksum
    ASSERT_TRUE(loader.Load(WriteTmp("changed.osf", changed).c_str()));
    EXPECT_EQ(loader.Encoding(), KV_SurfaceEncoding::Container);
    EXPECT_EQ(loader.Checksum(), KV_ChecksumState::Mismatched);
}

TEST(KV_SurfaceLoader, RawBytesUnderAnotherExtensionFailTheSignature)
{
    const std::string path = WriteTmp("raw.dat", EncodeRawSurface(PyramidSurface()));
    KV_PolySurface surface;
    KV_SurfaceLoader loader(surface);
    EXPECT_FALSE(loader.Load(path.c_str()));
    EXPECT_EQ(loader.Encoding(), KV_SurfaceEncoding::None);
    EXPECT_EQ(loader.Version(), -1);
}

TEST(KV_SurfaceLoader, DamagedVersion3FileFailsAndSaysWhy)
{
    auto bytes = EncodeRawSurface(PyramidSurface());
    bytes[40] ^= 0x01;
    KV_PolySurface surface;
    KV_SurfaceLoader loader(surface);
    EXPECT_FALSE(loader.Load(WriteTmp("damaged.osf", bytes).c_str()));
    EXPECT_EQ(loader.Encoding(), KV_SurfaceEncoding::None);
    EXPECT_EQ(loader.Version(), 3);
    EXPECT_EQ(loader.Checksum(), KV_ChecksumState::Mismatched);
}

TEST(KV_SurfaceLoader, MissingFileFails)
{
    KV_PolySurface surface;
    KV_SurfaceLoader loader(surface);
    EXPECT_FALSE(loader.Load(TmpPath("nothing-here.osf").c_str()));
    EXPECT_FALSE(loader.Load(TmpPath("nothing-here.ufc").c_str()));
}

TEST(KV_SurfaceLoader, RawPartialReadIsNotMixedIntoTheContainerSurface)
{
    // A container whose first-entry offset 0x2020 starts with two spaces, so that the raw
    // reader takes it for version 1: it reads one triangle from the gap after the signature
    // and then fails on a vertex count beyond the file. The container then loads alone.
    OsfContainer file(0x2020);
    file.Add(VerticesField({{1, 2, 3}}));
    auto bytes = file.Bytes();
    OsfBytes gap;
    gap.I32(1).U16(7).U16(8).U16(9).I32(0).I32(0).I32(0x7FFFFFFF);
    std::copy(gap.Data().begin(), gap.Data().end(), bytes.begin() + 98);

    KV_PolySurface surface;
    KV_SurfaceLoader loader(surface);
    ASSERT_TRUE(loader.Load(WriteTmp("ambiguous.osf", bytes).c_str()));
    EXPECT_EQ(loader.Encoding(), KV_SurfaceEncoding::Container);
    EXPECT_EQ(surface.VertexCount(), 1u);
    EXPECT_EQ(surface.mpPolygons, nullptr);
    EXPECT_EQ(surface.mpTexturePolygons, nullptr);
}

TEST(KV_SurfaceLoader, StateNamesAreTheToolTexts)
{
    EXPECT_STREQ(KV_SurfaceEncodingName(KV_SurfaceEncoding::Raw), "raw");
    EXPECT_STREQ(KV_SurfaceEncodingName(KV_SurfaceEncoding::Container), "container");
    EXPECT_STREQ(KV_SurfaceEncodingName(KV_SurfaceEncoding::None), "none");
    EXPECT_STREQ(KV_ChecksumStateName(KV_ChecksumState::Matched), "matched");
    EXPECT_STREQ(KV_ChecksumStateName(KV_ChecksumState::Mismatched), "mismatched");
    EXPECT_STREQ(KV_ChecksumStateName(KV_ChecksumState::Absent), "absent");
}

TEST(KV_SurfaceLoader, EveryFuzzSeedLoads)
{
    const std::string dir = std::string(ORVANE_SOURCE_DIR) + "/fuzz/seeds/";
    for (const char* name : {"raw_v0_triangles.osf", "raw_v1_triangles_grey.osf",
                             "raw_v2_quad_colour.osf", "raw_v3_quad_colour.osf",
                             "raw_v3_untextured.osf", "container_width1_triangles.osf",
                             "container_width2_polygons_skip_unread.osf",
                             "container_width4_quad_no_checksum.osf"})
    {
        KV_PolySurface surface;
        KV_SurfaceLoader loader(surface);
        EXPECT_TRUE(loader.Load((dir + name).c_str())) << name;
        EXPECT_EQ(surface.VertexCount(), 5u) << name;
        EXPECT_EQ(loader.Encoding(), name[0] == 'r' ? KV_SurfaceEncoding::Raw : KV_SurfaceEncoding::Container);
    }
}

TEST(KV_SurfaceLoader, LoadedSurfaceWrittenAgainGivesTheSameFile)
{
    // Both encodings: load, convert back to plain data, write again, compare bytes.
    const OsfSurface original = PyramidSurface(1);
    const auto raw = EncodeRawSurface(original);
    const auto container = EncodeContainerSurface(original);
    KV_PolySurface surface;
    KV_SurfaceLoader loader(surface);
    ASSERT_TRUE(loader.Load(WriteTmp("again.osf", raw).c_str()));
    EXPECT_EQ(EncodeRawSurface(OsfSurfaceFrom(surface)), raw);
    ASSERT_TRUE(loader.Load(WriteTmp("again.ufc", container).c_str()));
    EXPECT_EQ(EncodeContainerSurface(OsfSurfaceFrom(surface)), container);
}
