#include "surfacefile/KV_CRC32.h"
#include "tests/support/SurfaceFileWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
const unsigned char kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
}

TEST(KV_CRC32, CheckValueOfTheDigitsOneToNine)
{
    EXPECT_EQ(KV_CRC32::Of(kDigits, sizeof kDigits), 0x0376E6E7u);
}

TEST(KV_CRC32, EmptyInputLeavesTheInitialRegister)
{
    EXPECT_EQ(KV_CRC32::Of(nullptr, 0), 0xFFFFFFFFu);
    KV_CRC32 crc;
    EXPECT_EQ(crc.Value(), 0xFFFFFFFFu);
}

TEST(KV_CRC32, KnownValuesOfSingleBytes)
{
    // Worked by hand from the polynomial: a zero byte shifts the all-ones register left by
    // eight and folds in the remainder of 0xFF shifted into the top byte.
    const unsigned char zero = 0;
    EXPECT_EQ(KV_CRC32::Of(&zero, 1), 0x4E08BFB4u);
    const unsigned char ff = 0xFF;
    EXPECT_EQ(KV_CRC32::Of(&ff, 1), 0xFFFFFF00u);
}

TEST(KV_CRC32, UpdatesInPiecesEqualOneUpdate)
{
    KV_CRC32 crc;
    crc.Update(kDigits, 4);
    crc.Update(kDigits + 4, 5);
    EXPECT_EQ(crc.Value(), 0x0376E6E7u);
    crc.Reset();
    crc.Update(kDigits, sizeof kDigits);
    EXPECT_EQ(crc.Value(), 0x0376E6E7u);
}

TEST(KV_CRC32, BlockFollowedByItsChecksumMostSignificantByteFirstClosesAtZero)
{
    std::vector<unsigned char> block(kDigits, kDigits + sizeof kDigits);
    const std::uint32_t value = KV_CRC32::Of(block.data(), block.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        block.push_back(static_cast<unsigned char>(value >> shift));
    EXPECT_EQ(KV_CRC32::Of(block.data(), block.size()), 0u);
}

namespace
{
std::vector<unsigned char> RandomBytes(std::size_t count, std::uint32_t seed)
{
    std::vector<unsigned char> bytes(count);
    for (auto& b : bytes)
    {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    return bytes;
}

// The checksum of a block, whole and fed in two pieces split bytes apart, is the writer's,
// which is computed bit by bit, independently of the library.
void ExpectAsBitwise(const unsigned char* block, std::size_t count, std::size_t split)
{
    const std::uint32_t expected = OsfChecksum(block, count);
    EXPECT_EQ(KV_CRC32::Of(block, count), expected) << count;
    KV_CRC32 pieces;
    pieces.Update(block, split);
    pieces.Update(block + split, count - split);
    EXPECT_EQ(pieces.Value(), expected) << count << " split at " << split;
}
}  // namespace

TEST(KV_CRC32, AgreesWithABitwiseChecksumAtEveryLengthAndSplit)
{
    const std::vector<unsigned char> bytes = RandomBytes(100, 12345);
    for (std::size_t n = 0; n <= bytes.size(); ++n) ExpectAsBitwise(bytes.data(), n, n / 3);
}

TEST(KV_CRC32, AgreesWithABitwiseChecksumOnLongAndMisalignedBlocks)
{
    // Long blocks are folded many bytes a step, with a head and a tail taken on their own:
    // starts off every alignment, lengths on both sides of the step sizes, and splits that
    // leave each piece its own head and tail.
    const std::vector<unsigned char> bytes = RandomBytes(70000, 987654321);
    const struct
    {
        std::size_t start, count, split;
    } kCases[] = {{0, 127, 60},      {1, 128, 1},       {3, 129, 64},  {7, 255, 128},
                  {5, 256, 255},     {2, 1024, 511},    {9, 4096, 17}, {13, 4099, 4098},
                  {0, 65536, 32768}, {11, 69000, 12345}};
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.start);
        ExpectAsBitwise(bytes.data() + c.start, c.count, c.split);
    }
}
