#include "math/KV_Matrix.h"
#include "math/KV_Vector.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

KV_Matrix FromRows(int rows, int cols, std::initializer_list<float> values)
{
    KV_Matrix m(rows, cols);
    auto it = values.begin();
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j)
            m(i, j) = *it++;
    return m;
}

void ExpectMatrix(const KV_Matrix& m, int rows, int cols, std::initializer_list<float> values)
{
    ASSERT_EQ(m.RowLow(), 1);
    ASSERT_EQ(m.ColLow(), 1);
    ASSERT_EQ(m.Rows(), rows);
    ASSERT_EQ(m.Cols(), cols);
    auto it = values.begin();
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j)
            EXPECT_EQ(m(i, j), *it++) << "element (" << i << ", " << j << ")";
}

}  // namespace

TEST(KV_Vector, RangeStartsAtOne)
{
    KV_Vector empty;
    EXPECT_EQ(empty.Length(), 0);
    EXPECT_EQ(empty.Data(), nullptr);

    KV_Vector v(3);
    EXPECT_EQ(v.Low(), 1);
    EXPECT_EQ(v.High(), 3);
    v[1] = 1.0f;
    v[3] = 3.0f;
    EXPECT_EQ(v.Data()[0], 1.0f);
    EXPECT_EQ(v.Data()[2], 3.0f);

    KV_Vector copy(v);
    EXPECT_EQ(copy.Low(), 1);
    EXPECT_EQ(copy[3], 3.0f);
    copy[3] = 9.0f;
    EXPECT_EQ(v[3], 3.0f);
}

TEST(KV_Vector, DivideAndAdd)
{
    KV_Vector v(3);
    v[1] = 2.0f;
    v[2] = -4.0f;
    v[3] = 1.0f;
    KV_Vector w(v);
    v += w;
    EXPECT_EQ(v[1], 4.0f);
    EXPECT_EQ(v[2], -8.0f);
    EXPECT_EQ(v[3], 2.0f);
    v /= 4.0f;
    EXPECT_EQ(v[1], 1.0f);
    EXPECT_EQ(v[2], -2.0f);
    EXPECT_EQ(v[3], 0.5f);
}

TEST(KV_Vector, IndexOfSmallestTakesTheFirstOfEqualValues)
{
    KV_Vector v(3);
    v[1] = 3.0f;
    v[2] = 1.0f;
    v[3] = 1.0f;
    EXPECT_EQ(v.IndexOfSmallest(), 2);
    v[3] = -1.0f;
    EXPECT_EQ(v.IndexOfSmallest(), 3);
    EXPECT_EQ(KV_Vector().IndexOfSmallest(), 1);
    KV_Vector one(1);
    EXPECT_EQ(one.IndexOfSmallest(), 1);
}

TEST(KV_Matrix, ConstructionAndSpecialMatrices)
{
    KV_Matrix empty;
    EXPECT_EQ(empty.Rows(), 0);
    EXPECT_EQ(empty.Cols(), 0);
    const KV_Matrix m(2, 3);
    EXPECT_EQ(m.RowHigh(), 2);
    EXPECT_EQ(m.ColHigh(), 3);

    ExpectMatrix(KV_Matrix::Identity(3), 3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    ExpectMatrix(KV_Matrix::OuterProduct(KV_Vector3D(1, 2, 3), KV_Vector3D(4, 5, 6)), 3, 3,
                 {4, 5, 6, 8, 10, 12, 12, 15, 18});
}

TEST(KV_Matrix, CopyAndAssignmentAreDeep)
{
    KV_Matrix a = FromRows(2, 2, {1, 2, 3, 4});
    KV_Matrix b(a);
    KV_Matrix c(5, 1);
    c = a;
    a(1, 1) = 9.0f;
    ExpectMatrix(b, 2, 2, {1, 2, 3, 4});
    ExpectMatrix(c, 2, 2, {1, 2, 3, 4});
}

TEST(KV_Matrix, ResizeKeepsContentsOnlyWhenTheCountIsUnchanged)
{
    KV_Matrix m = FromRows(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    const float* before = m.Data();
    m.Resize(3, 3);
    EXPECT_EQ(m.Data(), before);
    ExpectMatrix(m, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});

    // Same element count, new shape: the block stays and the row table follows the shape.
    KV_Matrix n = FromRows(2, 3, {1, 2, 3, 4, 5, 6});
    n.Resize(3, 2);
    ExpectMatrix(n, 3, 2, {1, 2, 3, 4, 5, 6});

    n.Resize(4, 4);
    EXPECT_EQ(n.Rows(), 4);
    EXPECT_EQ(n.Cols(), 4);
    n(4, 4) = 1.0f;
    EXPECT_EQ(n.Data()[15], 1.0f);
}

TEST(KV_Matrix, ElementWiseOperations)
{
    KV_Matrix a = FromRows(2, 2, {1, 2, 3, 4});
    const KV_Matrix b = FromRows(2, 2, {10, 20, 30, 40});
    a += b;
    ExpectMatrix(a, 2, 2, {11, 22, 33, 44});
    a -= FromRows(2, 2, {1, 2, 3, 4});
    ExpectMatrix(a, 2, 2, {10, 20, 30, 40});
    a /= 10.0f;
    ExpectMatrix(a, 2, 2, {1, 2, 3, 4});
    ExpectMatrix(-2.0f * a, 2, 2, {-2, -4, -6, -8});
    ExpectMatrix(a, 2, 2, {1, 2, 3, 4});
}

TEST(KV_Matrix, ProductsAndTranspose)
{
    KV_Matrix a = FromRows(2, 2, {1, 2, 3, 4});
    a *= FromRows(2, 2, {5, 6, 7, 8});
    ExpectMatrix(a, 2, 2, {19, 22, 43, 50});

    // A product in place with itself must read the old contents throughout.
    KV_Matrix s = FromRows(2, 2, {1, 1, 0, 1});
    s *= s;
    ExpectMatrix(s, 2, 2, {1, 2, 0, 1});

    KV_Matrix rot = FromRows(4, 4, {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    KV_Matrix turn(rot);
    for (int k = 0; k < 3; ++k)
        turn *= rot;
    ExpectMatrix(turn, 4, 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});

    ExpectMatrix(FromRows(2, 3, {1, 2, 3, 4, 5, 6}) * FromRows(3, 1, {1, 0, -1}), 2, 1, {-2, -2});
    ExpectMatrix(FromRows(2, 3, {1, 2, 3, 4, 5, 6}).Transpose(), 3, 2, {1, 4, 2, 5, 3, 6});
}

TEST(KV_Matrix, RowsColumnsAndVectorProducts)
{
    KV_Matrix m(3, 3);
    m.SetRows(KV_Vector3D(1, 2, 3), KV_Vector3D(4, 5, 6), KV_Vector3D(7, 8, 10));
    ExpectMatrix(m, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 10});

    const KV_Vector3D c = m.Column3D(2);
    EXPECT_EQ(c.x, 2.0f);
    EXPECT_EQ(c.y, 5.0f);
    EXPECT_EQ(c.z, 8.0f);
    const KV_Vector col = m.Column(3);
    ASSERT_EQ(col.Length(), 3);
    EXPECT_EQ(col[1], 3.0f);
    EXPECT_EQ(col[3], 10.0f);

    const KV_Vector3D mv = m * KV_Vector3D(1, 0, -1);
    EXPECT_EQ(mv.x, -2.0f);
    EXPECT_EQ(mv.y, -2.0f);
    EXPECT_EQ(mv.z, -3.0f);
    const KV_Vector3D vm = KV_Vector3D(1, 0, -1) * m;
    EXPECT_EQ(vm.x, -6.0f);
    EXPECT_EQ(vm.y, -6.0f);
    EXPECT_EQ(vm.z, -7.0f);
}

TEST(KV_Matrix, Dump)
{
    std::ostringstream os;
    FromRows(2, 2, {1, 2.5f, -3, 1.0f / 3.0f}).Dump(os);
    EXPECT_EQ(os.str(),
              " KV_Matrix: \n KV_Array2D\n rowlow: 1  rowhigh: 2  collow: 1  colhigh: 2\n"
              "1 2.5\n-3 0.333333\n");

    std::ostringstream row;
    FromRows(1, 2, {1, 2}).Dump(row);
    const std::string text = row.str();
    EXPECT_EQ(text.substr(text.size() - 4), "1 2\n");

    std::ostringstream empty;
    KV_Matrix().Dump(empty);
    EXPECT_EQ(empty.str(),
              " KV_Matrix: \n KV_Array2D\n rowlow: 0  rowhigh: -1  collow: 0  colhigh: -1\n");
}

TEST(KV_MatrixDeathTest, UnallocatableSizesAreFatal)
{
    EXPECT_EXIT(KV_Matrix(70000, 70000), ::testing::ExitedWithCode(1),
                "run out of memory!: KV_Array<T>::Resize\\(\\)");
    EXPECT_EXIT(KV_Vector(-5), ::testing::ExitedWithCode(1),
                "run out of memory!: KV_Array<T>::Resize\\(\\)");
}
