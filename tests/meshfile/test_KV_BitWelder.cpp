// The welder with its tuples left in the caller's rows and the welder that copies them,
// against numbering by first appearance in an ordered map of the bit patterns.

#include "meshfile/KV_BitWelder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <vector>

TEST(KV_BitWelder, TuplesLeftInTheRowsWeldAsCopiedOnes)
{
    // Repeats near and far apart, 0 beside -0, NaNs of two patterns, and so many tuples for
    // the expected count that the table grows several times; every few tuples one welded by
    // copy as well (the faces' own coordinates), which may meet a row's tuple either way.
    std::mt19937 random(5);
    std::vector<float> rows;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float otherNan = nan;
    std::uint32_t bits;
    std::memcpy(&bits, &otherNan, 4);
    bits ^= 1;
    std::memcpy(&otherNan, &bits, 4);
    const float specials[][2] = {{0.0f, 1.0f}, {-0.0f, 1.0f}, {nan, 2.0f}, {otherNan, 2.0f}};
    for (unsigned int i = 0; i < 5000; ++i)
    {
        if (i % 97 < 4)
        {
            rows.push_back(specials[i % 97][0]);
            rows.push_back(specials[i % 97][1]);
            continue;
        }
        const unsigned int repeat = random() % 4 == 0 ? random() % (i + 1) : i;
        rows.push_back(static_cast<float>(repeat % 700) / 1024.0f);
        rows.push_back(static_cast<float>(repeat / 700));
    }
    const std::size_t count = rows.size() / 2;
    for (std::size_t expected : {std::size_t(0), std::size_t(10), count})
    {
        KV_BitWelder<2> copied(expected), kept(expected, rows.data());
        std::map<std::uint64_t, unsigned int> numbers;
        auto number = [&numbers](const float* pair)
        {
            std::uint64_t key;
            std::memcpy(&key, pair, 8);
            return numbers.emplace(key, static_cast<unsigned int>(numbers.size())).first->second;
        };
        for (std::size_t i = 0; i < count; ++i)
        {
            const unsigned int n = number(&rows[2 * i]);
            ASSERT_EQ(kept.IndexAt(i), n) << expected << ", tuple " << i;
            ASSERT_EQ(copied.Index(&rows[2 * i]), n) << expected << ", tuple " << i;
            if (i % 7 == 0)
            {
                const float extra[2] = {static_cast<float>(i % 11) / 1024.0f, 3.0f};
                const unsigned int e = number(extra);
                ASSERT_EQ(kept.Index(extra), e) << expected << ", tuple " << i;
                ASSERT_EQ(copied.Index(extra), e) << expected << ", tuple " << i;
            }
        }
        ASSERT_EQ(kept.Count(), copied.Count());
        for (std::size_t u = 0; u < copied.Count(); ++u)
            ASSERT_EQ(kept.KeyOf(u), copied.Key(u)) << expected << ", welded " << u;
    }
}
