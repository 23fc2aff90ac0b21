#include "surfacefile/KV_CRC32.h"
#include "tests/support/SurfaceFileWriter.h"

#include <gtest/gtest.h>

#include <array>
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

TEST(KV_CRC32, AgreesWithABitwiseChecksumAtEveryLengthAndSplit)
{
    // The writer's checksum is computed bit by bit, independently of the library. Short
    // blocks at every length, then long ones, folded many bytes a step with a head and a tail
    // of their own: starts off every alignment, lengths on both sides of the step sizes.
    std::vector<unsigned char> bytes(70000);
    std::uint32_t seed = 12345;
    for (auto& b : bytes)
    {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    std::vector<std::array<std::size_t, 3>> cases;  // start, length, split
    for (std::size_t n = 0; n <= 100; ++n) cases.push_back({0, n, n / 3});
    cases.insert(cases.end(), {{1, 128, 1}, {3, 129, 64}, {7, 255, 128}, {5, 256, 255},
                               {13, 4099, 4098}, {11, 69000, 12345}});
    for (const auto& [start, n, at] : cases)
    {
        const unsigned char* block = bytes.data() + start;
        const std::uint32_t expected = OsfChecksum(block, n);
        ASSERT_EQ(KV_CRC32::Of(block, n), expected) << start << " " << n;
        KV_CRC32 split;
        split.Update(block, at);
        split.Update(block + at, n - at);
        ASSERT_EQ(split.Value(), expected) << start << " " << n;
    }
}
