#include "surfacefile/KV_ByteCursor.h"
#include "surfacefile/KV_FileBytes.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

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
    // Over a megabyte: the mapped buffer.
    const std::string path = TestScratchPath("large.bin");
    std::string content(3u << 20, '\0');
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

    // A file that states no size: read on until its end.
    ASSERT_TRUE(bytes.Load("/proc/self/status"));
    const std::string status(reinterpret_cast<const char*>(bytes.Data()), bytes.Size());
    EXPECT_EQ(status.compare(0, 5, "Name:"), 0);
}
