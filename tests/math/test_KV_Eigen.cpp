#include "math/KV_Covariance.h"
#include "math/KV_Eigen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

KV_Matrix Symmetric(int n, std::initializer_list<float> lower)
{
    KV_Matrix m(n, n);
    auto it = lower.begin();
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= i; ++j)
            m(i, j) = m(j, i) = *it++;
    return m;
}

KV_Matrix RandomSymmetric(std::mt19937& rng, int n, float magnitude)
{
    std::uniform_real_distribution<float> value(-magnitude, magnitude);
    KV_Matrix m(n, n);
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= i; ++j)
            m(i, j) = m(j, i) = value(rng);
    return m;
}

float LargestElement(const KV_Matrix& a)
{
    float largest = 0.0f;
    for (unsigned int k = 0; k < a.Count(); ++k)
        largest = std::max(largest, std::fabs(a.Data()[k]));
    return largest;
}

// Checks the decomposition against its definition: A·v_k = λ_k·v_k for every column, V
// orthonormal, the eigenvalues summing to the trace; all in double, against a tolerance
// scaled by the size of A.
void ExpectDecomposition(const KV_Matrix& a, const KV_Matrix& v, const KV_Vector& d)
{
    const int n = a.Rows();
    ASSERT_EQ(d.Length(), n);
    ASSERT_EQ(v.Rows(), n);
    ASSERT_EQ(v.Cols(), n);
    const double scale = std::max(1e-30, double(LargestElement(a)));
    const double tolerance = 4e-6 * n;
    double trace = 0.0;
    double sum = 0.0;
    for (int k = 1; k <= n; ++k)
    {
        trace += a(k, k);
        sum += d[k];
        for (int i = 1; i <= n; ++i)
        {
            double av = 0.0;
            for (int j = 1; j <= n; ++j)
                av += double(a(i, j)) * v(j, k);
            EXPECT_NEAR(av / scale, double(d[k]) * v(i, k) / scale, tolerance)
                << "row " << i << " of A·v for eigenvalue " << k;
        }
        for (int l = 1; l <= n; ++l)
        {
            double dot = 0.0;
            for (int i = 1; i <= n; ++i)
                dot += double(v(i, k)) * v(i, l);
            EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, tolerance) << "columns " << k << ", " << l;
        }
    }
    EXPECT_NEAR(sum / scale, trace / scale, tolerance);
}

// The eigenvalues of a symmetric 3 x 3 matrix in closed form (double), ascending.
std::vector<double> ClosedFormEigenvalues(const KV_Matrix& a)
{
    const double a11 = a(1, 1), a22 = a(2, 2), a33 = a(3, 3);
    const double a12 = a(1, 2), a13 = a(1, 3), a23 = a(2, 3);
    const double p1 = a12 * a12 + a13 * a13 + a23 * a23;
    const double q = (a11 + a22 + a33) / 3.0;
    const double p2 = (a11 - q) * (a11 - q) + (a22 - q) * (a22 - q) + (a33 - q) * (a33 - q) +
                      2.0 * p1;
    const double p = std::sqrt(p2 / 6.0);
    if (p == 0.0)
        return {q, q, q};
    const double b11 = (a11 - q) / p, b22 = (a22 - q) / p, b33 = (a33 - q) / p;
    const double b12 = a12 / p, b13 = a13 / p, b23 = a23 / p;
    const double det = b11 * (b22 * b33 - b23 * b23) - b12 * (b12 * b33 - b23 * b13) +
                       b13 * (b12 * b23 - b22 * b13);
    const double phi = std::acos(std::max(-1.0, std::min(1.0, det / 2.0))) / 3.0;
    const double largest = q + 2.0 * p * std::cos(phi);
    const double smallest = q + 2.0 * p * std::cos(phi + 2.0 * M_PI / 3.0);
    return {smallest, 3.0 * q - largest - smallest, largest};
}

std::vector<double> Sorted(const KV_Vector& d)
{
    std::vector<double> values;
    for (int i = 1; i <= d.Length(); ++i)
        values.push_back(d[i]);
    std::sort(values.begin(), values.end());
    return values;
}

}  // namespace

TEST(EigenDecompose, DiagonalMatrixIsReturnedUnchanged)
{
    KV_Matrix a(3, 3);
    a.SetRows(KV_Vector3D(5, 0, 0), KV_Vector3D(0, -2, 0), KV_Vector3D(0, 0, 7));
    KV_Matrix v(3, 3);
    KV_Vector d;
    EXPECT_TRUE(EigenDecompose(a, v, d));
    ASSERT_EQ(d.Length(), 3);
    EXPECT_EQ(d[1], 5.0f);
    EXPECT_EQ(d[2], -2.0f);
    EXPECT_EQ(d[3], 7.0f);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            EXPECT_EQ(v(i, j), i == j ? 1.0f : 0.0f);
}

TEST(EigenDecompose, TwoByTwo)
{
    const KV_Matrix a = Symmetric(2, {2, 1, 2});
    KV_Matrix v(2, 2);
    KV_Vector d;
    EigenDecompose(a, v, d);
    ASSERT_EQ(d.Length(), 2);
    const int low = d[1] < d[2] ? 1 : 2;
    const int high = 3 - low;
    EXPECT_NEAR(d[low], 1.0f, 1e-6f);
    EXPECT_NEAR(d[high], 3.0f, 1e-6f);
    const float r = std::sqrt(0.5f);
    // Columns are determined up to sign: compare with the sign of the first component.
    const float sLow = v(1, low) < 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(sLow * v(1, low), r, 1e-6f);
    EXPECT_NEAR(sLow * v(2, low), -r, 1e-6f);
    const float sHigh = v(1, high) < 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(sHigh * v(1, high), r, 1e-6f);
    EXPECT_NEAR(sHigh * v(2, high), r, 1e-6f);
}

TEST(EigenDecompose, LeavesTheInputAndSizesTheOutputs)
{
    const KV_Matrix a = Symmetric(3, {4, 1, 3, -2, 0.5f, 1});
    const KV_Matrix copy(a);
    KV_Matrix v;  // not sized by the caller
    KV_Vector d(7);
    EigenDecompose(a, v, d);
    for (unsigned int k = 0; k < a.Count(); ++k)
        EXPECT_EQ(a.Data()[k], copy.Data()[k]);
    EXPECT_EQ(v.RowLow(), 1);
    EXPECT_EQ(d.Low(), 1);
    ExpectDecomposition(a, v, d);

    KV_Matrix empty;
    EXPECT_TRUE(EigenDecompose(empty, v, d));
    EXPECT_EQ(d.Length(), 0);
    EXPECT_EQ(v.Rows(), 0);
}

TEST(EigenDecompose, RandomSymmetricThreeByThree)
{
    std::mt19937 rng(3);
    for (int trial = 0; trial < 2000; ++trial)
    {
        const KV_Matrix a = RandomSymmetric(rng, 3, 10.0f);
        KV_Matrix v(3, 3);
        KV_Vector d;
        ASSERT_TRUE(EigenDecompose(a, v, d));
        ExpectDecomposition(a, v, d);
        const std::vector<double> expected = ClosedFormEigenvalues(a);
        const std::vector<double> actual = Sorted(d);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(actual[k], expected[k], 1e-5 * LargestElement(a)) << "trial " << trial;
        if (HasFailure())
            FAIL() << "trial " << trial;
    }
}

TEST(EigenDecompose, RandomSymmetricFourByFourAndLarger)
{
    std::mt19937 rng(4);
    for (int trial = 0; trial < 2000; ++trial)
    {
        const int n = trial % 10 == 0 ? 7 : 4;  // seven is past the small-order storage
        const KV_Matrix a = RandomSymmetric(rng, n, 1.0f);
        KV_Matrix v(n, n);
        KV_Vector d;
        ASSERT_TRUE(EigenDecompose(a, v, d));
        ExpectDecomposition(a, v, d);
        if (HasFailure())
            FAIL() << "trial " << trial;
    }
}

TEST(EigenDecompose, RepeatedAndZeroEigenvalues)
{
    KV_Matrix v;
    KV_Vector d;
    const KV_Matrix ones = Symmetric(3, {1, 1, 1, 1, 1, 1});
    EigenDecompose(ones, v, d);
    ExpectDecomposition(ones, v, d);
    std::vector<double> values = Sorted(d);
    EXPECT_NEAR(values[0], 0.0, 1e-6);
    EXPECT_NEAR(values[1], 0.0, 1e-6);
    EXPECT_NEAR(values[2], 3.0, 1e-6);

    const KV_Matrix zero = Symmetric(4, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EigenDecompose(zero, v, d);
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(d[i], 0.0f);
    ExpectDecomposition(zero, v, d);
}

TEST(EigenDecompose, SmallestEigenvectorOfCoplanarPointsIsThePlaneNormal)
{
    // Eight points of the plane x + 2y + 2z = 3, scattered in it.
    KV_Vector3D normal(1, 2, 2);
    normal.Normalise();
    const KV_Vector3D u = CrossProduct(normal, KV_Vector3D_X) / CrossProduct(normal, KV_Vector3D_X).Length();
    const KV_Vector3D w = CrossProduct(normal, u);
    const KV_Vector3D origin = normal * 1.0f;
    const float s[8][2] = {{0, 0}, {1, 0}, {0, 1}, {-1, 2}, {3, -1}, {0.5f, 0.5f}, {-2, -2}, {2, 1}};
    KV_Covariance c;
    for (const auto& st : s)
        c.AddObservation(origin + u * st[0] + w * st[1]);
    c.BuildCovariance(false);
    KV_Matrix v(3, 3);
    KV_Vector d;
    EigenDecompose(c.Matrix(), v, d);
    const KV_Vector3D fitted = v.Column3D(d.IndexOfSmallest());
    EXPECT_NEAR(std::fabs(DotProduct(fitted, normal)), 1.0f, 1e-5f);
    EXPECT_NEAR(d[d.IndexOfSmallest()], 0.0f, 1e-5f);
}

TEST(EigenDecompose, TinyEigenvaluesBesideALargeOneConverge)
{
    // Nearly rank one: the two small eigenvalues (about 1e-30) sit where the off-diagonal
    // element between them can shrink only into denormals, never below double resolution
    // of their sum; the iteration must still finish without a fatal report.
    const KV_Matrix a = Symmetric(3, {1.0f,                                 //
                                      -0x1.f19af8p-29f, -0x1.12fddcp-100f,  //
                                      0.0f, 0x1.6b5afap-101f, -0x1.61ef22p-101f});
    KV_Matrix v(3, 3);
    KV_Vector d;
    ASSERT_TRUE(EigenDecompose(a, v, d));
    ExpectDecomposition(a, v, d);
    const std::vector<double> values = Sorted(d);
    EXPECT_NEAR(values[0], 0.0, 1e-12);
    EXPECT_NEAR(values[1], 0.0, 1e-12);
    EXPECT_NEAR(values[2], 1.0, 1e-6);
}

TEST(EigenDecompose, ExtremeMagnitudesScaleExactly)
{
    std::mt19937 rng(5);
    for (int trial = 0; trial < 200; ++trial)
    {
        const int n = 3 + trial % 2;
        const KV_Matrix unit = RandomSymmetric(rng, n, 0.9f);
        KV_Matrix v(n, n);
        KV_Vector d;
        EigenDecompose(unit, v, d);
        for (int power : {-120, -80, 80, 120})
        {
            KV_Matrix scaled(unit);
            for (unsigned int k = 0; k < scaled.Count(); ++k)
                scaled.Data()[k] = std::ldexp(unit.Data()[k], power);
            KV_Matrix sv(n, n);
            KV_Vector sd;
            ASSERT_TRUE(EigenDecompose(scaled, sv, sd));
            for (int i = 1; i <= n; ++i)
            {
                EXPECT_NEAR(sd[i], std::ldexp(d[i], power), std::ldexp(1e-6f, power));
                for (int j = 1; j <= n; ++j)
                    EXPECT_NEAR(sv(i, j), v(i, j), 1e-6f);
            }
        }
        if (HasFailure())
            FAIL() << "trial " << trial;
    }
}

TEST(EigenDecompose, NonFiniteInputIsNotIterated)
{
    KV_Matrix a = Symmetric(3, {1, 0, 1, 0, 0, 1});
    a(2, 3) = a(3, 2) = std::nanf("");
    KV_Matrix v(3, 3);
    KV_Vector d;
    EXPECT_FALSE(EigenDecompose(a, v, d));
    for (int i = 1; i <= 3; ++i)
    {
        EXPECT_TRUE(std::isnan(d[i]));
        for (int j = 1; j <= 3; ++j)
            EXPECT_EQ(v(i, j), i == j ? 1.0f : 0.0f);
    }
    a(2, 3) = a(3, 2) = INFINITY;
    EXPECT_FALSE(EigenDecompose(a, v, d));
    EXPECT_EQ(d.IndexOfSmallest(), 1);
}
