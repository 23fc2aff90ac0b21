// The welder with its tuples left in the caller's rows and the welder that copies them,
// against numbering by first appearance in an ordered map of the bit patterns.

#include "meshfile/KV_BitWelder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

TEST(KV_BitWelder, TuplesLeftInTheRowsWeldAsCopiedOnes)
{
    // Repeats near and far apart, 0 beside -0, NaNs of two patterns, and so many tuples for
    // the expected count that the table grows several times; every few tuples one welded by
    // copy as well (the faces' own coordinates), which may meet a row's tuple either way.
    const std::uint32_t kSpecials[] = {0x00000000u, 0x80000000u, 0x7fc00000u, 0x7fc00001u};
    std::mt19937 random(5);
    std::vector<float> rows(2 * 5000);
    for (unsigned int i = 0; i < 5000; ++i)
    {
        const unsigned int repeat = random() % 4 == 0 ? random() % (i + 1) : i;
        rows[2 * i] = static_cast<float>(repeat % 700) / 1024.0f;
        rows[2 * i + 1] = static_cast<float>(repeat / 700);
        if (i % 97 < 4)
            std::memcpy(&rows[2 * i], &kSpecials[i % 97], 4);
    }
    for (std::size_t expected : {std::size_t(0), std::size_t(10), std::size_t(5000)})
    {
        KV_BitWelder<2> copied(expected), kept(expected, rows.data());
        std::map<std::uint64_t, unsigned int> numbers;
        auto expect = [&](unsigned int got, const float* pair, unsigned int i)
        {
            std::uint64_t key;
            std::memcpy(&key, pair, 8);
            EXPECT_EQ(got, numbers.emplace(key, numbers.size()).first->second)
                << expected << ", tuple " << i;
        };
        for (unsigned int i = 0; i < 5000; ++i)
        {
            expect(kept.IndexAt(i), &rows[2 * i], i);
            expect(copied.Index(&rows[2 * i]), &rows[2 * i], i);
            const float extra[2] = {static_cast<float>(i % 11) / 1024.0f, 3.0f};
            if (i % 7 == 0)
            {
                expect(kept.Index(extra), extra, i);
                expect(copied.Index(extra), extra, i);
            }
        }
        ASSERT_EQ(kept.Count(), copied.Count());
        for (std::size_t u = 0; u < copied.Count(); ++u)
            ASSERT_EQ(kept.KeyOf(u), copied.Key(u)) << expected << ", welded " << u;
    }
}
