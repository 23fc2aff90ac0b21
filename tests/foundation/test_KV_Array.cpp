#include "foundation/KV_Array.h"

#include <gtest/gtest.h>

TEST(KV_Array, ResizeToTheSameCountMovesOnlyTheIndexRange)
{
    KV_Array<float> a;
    EXPECT_EQ(a.Count(), 0u);
    EXPECT_EQ(a.Low(), 0);
    EXPECT_EQ(a.High(), -1);
    a.Resize(0, 9);
    for (int i = 0; i <= 9; ++i)
        a[i] = static_cast<float>(i * 10);
    const float* storage = a.Data();
    a.Resize(1, 10);
    EXPECT_EQ(a.Data(), storage);
    EXPECT_EQ(a[1], 0.0f);
    EXPECT_EQ(a[10], 90.0f);
    a.Resize(-5, 4);
    EXPECT_EQ(a[-5], 0.0f);

    a.Resize(1, 3);
    EXPECT_EQ(a.Count(), 3u);
    a.Resize(1, 0);
    EXPECT_EQ(a.Count(), 0u);
    EXPECT_EQ(a.Data(), nullptr);
}

TEST(KV_Array, CopyIsDeep)
{
    KV_Array<int> a(1, 3);
    a[1] = 1;
    a[3] = 3;
    KV_Array<int> b(a);
    a[1] = 100;
    EXPECT_EQ(b.Low(), 1);
    EXPECT_EQ(b[1], 1);
    EXPECT_EQ(b[3], 3);
}

TEST(KV_Array2D, BoundsAndRowPointers)
{
    KV_Array2D<int> m;
    m.SetBounds(0, 2, 5, 7);
    EXPECT_EQ(m.Rows(), 3);
    EXPECT_EQ(m.Cols(), 3);
    EXPECT_EQ(m.Count(), 9u);
    int v = 0;
    for (int i = 0; i <= 2; ++i)
        for (int j = 5; j <= 7; ++j)
            m(i, j) = v++;
    EXPECT_EQ(&m(2, 7), m.Data() + 8);
    EXPECT_EQ(m(2, 7), 8);
    EXPECT_EQ(m(1, 5), 3);
    EXPECT_EQ(m.Row(1), m.Data() + 3);

    // Same total: storage and contents stay, only the bounds move.
    const int* storage = m.Data();
    m.SetBounds(1, 3, 1, 3);
    EXPECT_EQ(m.Data(), storage);
    EXPECT_EQ(m(1, 1), 0);
    EXPECT_EQ(m(3, 3), 8);

    m.SetBounds(0, -1, 0, 5);
    EXPECT_EQ(m.Count(), 0u);
    EXPECT_EQ(m.Rows(), 0);
}

TEST(KV_Array2D, AssignmentCopiesBoundsAndElements)
{
    KV_Array2D<float> a(1, 2, 1, 3);
    for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= 3; ++j)
            a(i, j) = static_cast<float>(i * 10 + j);
    KV_Array2D<float> b;
    b = a;
    a(2, 3) = 0;
    EXPECT_EQ(b.RowLow(), 1);
    EXPECT_EQ(b.ColHigh(), 3);
    EXPECT_EQ(b(2, 3), 23.0f);
    EXPECT_EQ(b(1, 1), 11.0f);
    b = b;
    EXPECT_EQ(b(1, 2), 12.0f);
}

TEST(KV_Array2D, UnequalBoundsHoldEveryElementApart)
{
    KV_Array2D<int> m;
    m.SetBounds(-2, 1, 3, 9);  // 4 rows of 7
    for (int i = -2; i <= 1; ++i)
        for (int j = 3; j <= 9; ++j) m(i, j) = i * 100 + j;
    for (int i = -2; i <= 1; ++i)
        for (int j = 3; j <= 9; ++j) ASSERT_EQ(m(i, j), i * 100 + j) << i << ", " << j;
    EXPECT_EQ(m.Count(), 28u);
}

TEST(KV_ArrayDeathTest, ImpossibleSizeIsFatalOutOfMemory)
{
    EXPECT_EXIT(
        {
            KV_Array2D<unsigned char> huge;
            huge.SetBounds(0, 0x10000, 0, 0x10000);
        },
        ::testing::ExitedWithCode(1), "Error!, run out of memory!: KV_Array<T>::Resize\\(\\)");
}
