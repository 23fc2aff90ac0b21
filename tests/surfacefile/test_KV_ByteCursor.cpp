#include "surfacefile/KV_ByteCursor.h"
#include "surfacefile/KV_FileBytes.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

TEST(KV_ByteCursor, ReadsLittleEndianValuesInOrder)
{
    const unsigned char bytes[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0x00, 0x00, 0x80, 0x3F, 0x7A};
    KV_ByteCursor cursor(bytes, sizeof bytes);
    EXPECT_EQ(cursor.U32(), 0x04030201u);
    EXPECT_EQ(cursor.I32(), -1);
    EXPECT_EQ(KV_LoadF32(cursor.Take(4)), 1.0f);
    EXPECT_EQ(cursor.U8(), 0x7A);
    EXPECT_TRUE(cursor.AtEnd());
}

TEST(KV_ByteCursor, IndexWidthsZeroExtend)
{
    const unsigned char bytes[] = {0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(KV_LoadIndex(bytes, 1), 0xFEu);
    EXPECT_EQ(KV_LoadIndex(bytes, 2), 0xFFFEu);
    EXPECT_EQ(KV_LoadIndex(bytes, 4), 0xFFFFFFFEu);
}

TEST(KV_ByteCursor, ShortReadsThrowAndDoNotMove)
{
    const unsigned char bytes[] = {1, 2, 3};
    KV_ByteCursor cursor(bytes, sizeof bytes);
    EXPECT_THROW(cursor.U32(), KV_ShortRead);
    EXPECT_EQ(cursor.Position(), 0u);
    EXPECT_THROW(cursor.Skip(4), KV_ShortRead);
    EXPECT_THROW(cursor.Seek(4), KV_ShortRead);
    cursor.Seek(3);
    EXPECT_TRUE(cursor.AtEnd());
    EXPECT_THROW(cursor.U8(), KV_ShortRead);
}

TEST(KV_ByteCursor, RequireComparesCountsWithoutWrapping)
{
    const unsigned char bytes[16] = {};
    KV_ByteCursor cursor(bytes, sizeof bytes);
    EXPECT_NO_THROW(cursor.Require(4, 4));
    EXPECT_THROW(cursor.Require(5, 4), KV_ShortRead);
    // 0x40000001 * 4 wraps to 4 in 32 bits; it must still be refused.
    EXPECT_THROW(cursor.Require(0x40000001u, 4), KV_ShortRead);
    EXPECT_THROW(cursor.Require(UINT64_MAX, 2), KV_ShortRead);
    EXPECT_NO_THROW(cursor.Require(UINT64_MAX, 0));
}

TEST(KV_ByteCursor, SubCursorStopsAtItsOwnEnd)
{
    const unsigned char bytes[] = {1, 2, 3, 4, 5, 6};
    KV_ByteCursor cursor(bytes, sizeof bytes);
    KV_ByteCursor part = cursor.Sub(2);
    EXPECT_EQ(cursor.Position(), 2u);
    EXPECT_EQ(part.U8(), 1);
    EXPECT_EQ(part.U8(), 2);
    EXPECT_THROW(part.U8(), KV_ShortRead);
    EXPECT_EQ(cursor.U8(), 3);
}

TEST(KV_FileBytes, ReadsAWholeFileAndRefusesMissingOnes)
{
    const std::string path = TestScratchPath("filebytes.bin");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const unsigned char content[] = {0, 1, 2, 250};
    ASSERT_EQ(std::fwrite(content, 1, sizeof content, f), sizeof content);
    ASSERT_EQ(std::fclose(f), 0);

    KV_FileBytes bytes;
    ASSERT_TRUE(bytes.Load(path.c_str()));
    ASSERT_EQ(bytes.Size(), sizeof content);
    EXPECT_EQ(bytes.Data()[3], 250);

    EXPECT_FALSE(bytes.Load((path + ".missing").c_str()));
    EXPECT_EQ(bytes.Size(), 0u);
    EXPECT_FALSE(bytes.Load(TestScratchDir().c_str()));  // a directory
}

TEST(KV_FileBytes, EmptyFileHasNoBytes)
{
    const std::string path = TestScratchPath("empty.bin");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fclose(f), 0);
    KV_FileBytes bytes;
    ASSERT_TRUE(bytes.Load(path.c_str()));
    EXPECT_EQ(bytes.Size(), 0u);
}

TEST(KV_FileBytes, LargeFilesAndFilesOfUnknownSizeAreReadWhole)
{
    // Over a megabyte: a buffer of mapped memory; over a few: the file itself mapped.
    for (const std::size_t size : {std::size_t(3) << 20, std::size_t(9) << 20})
    {
        const std::string path = TestScratchPath("large.bin");
        std::string content(size, '\0');
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>(i * 7 + (i >> 16));
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), f), content.size());
        ASSERT_EQ(std::fclose(f), 0);
        KV_FileBytes bytes;
        ASSERT_TRUE(bytes.Load(path.c_str()));
        ASSERT_EQ(bytes.Size(), content.size());
        EXPECT_EQ(std::memcmp(bytes.Data(), content.data(), content.size()), 0);
        EXPECT_FALSE(bytes.Changed());
    }

    // A file that states no size: read on until its end.
    KV_FileBytes bytes;
    ASSERT_TRUE(bytes.Load("/proc/self/status"));
    const std::string status(reinterpret_cast<const char*>(bytes.Data()), bytes.Size());
    EXPECT_EQ(status.compare(0, 5, "Name:"), 0);
}

TEST(KV_FileBytes, AFileCutShortWhileHeldReadsAsZerosAndSaysSo)
{
    // Another program truncating the file under a mapping would otherwise end this one
    // with a bus error at the first byte past the new end.
    const std::string path = TestScratchPath("cut.bin");
    const std::string content(std::size_t(8) << 20, '\x5a');
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), f), content.size());
    ASSERT_EQ(std::fclose(f), 0);
    KV_FileBytes bytes, other;
    ASSERT_TRUE(bytes.Load(path.c_str()));
    ASSERT_TRUE(other.Load(path.c_str()));
    ASSERT_EQ(truncate(path.c_str(), 1 << 20), 0);
    EXPECT_EQ(bytes.Data()[(1 << 20) - 1], 0x5a);
    EXPECT_EQ(bytes.Data()[content.size() - 1], 0);
    EXPECT_EQ(bytes.Data()[(std::size_t(3) << 20) + 5], 0);
    EXPECT_TRUE(bytes.Changed());
    // Each mapping answers for itself: the other has not met the cut yet.
    EXPECT_FALSE(other.Changed());
    EXPECT_EQ(other.Data()[std::size_t(5) << 20], 0);
    EXPECT_TRUE(other.Changed());
    // Loaded again, the file is what it is now.
    ASSERT_TRUE(bytes.Load(path.c_str()));
    EXPECT_EQ(bytes.Size(), std::size_t(1) << 20);
    EXPECT_FALSE(bytes.Changed());
}
