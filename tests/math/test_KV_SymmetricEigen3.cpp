// The closed-form smallest eigenvector against matrices built from known eigenvectors and
// against the general EigenDecompose; the rules for eigenvalues that are not unique; the
// scatter of points far from the origin.

#include "math/KV_Eigen.h"
#include "math/KV_SymmetricEigen3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace
{
struct Vec
{
    double x, y, z;
};

double Dot(const Vec& a, const Vec& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec Cross(const Vec& a, const Vec& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec Unit(const Vec& a)
{
    const double l = std::sqrt(Dot(a, a));
    return {a.x / l, a.y / l, a.z / l};
}

// The angle between the lines along a and b (unit vectors), sign ignored.
double LineAngle(const Vec& a, const Vec& b)
{
    const Vec c = Cross(a, b);
    return std::atan2(std::sqrt(Dot(c, c)), std::fabs(Dot(a, b)));
}

// A random orthonormal frame (e0, e1, e2).
void RandomFrame(std::mt19937& rng, Vec e[3])
{
    std::normal_distribution<double> g;
    e[0] = Unit({g(rng), g(rng), g(rng)});
    Vec t = Unit({g(rng), g(rng), g(rng)});
    e[1] = Unit(Cross(e[0], t));
    e[2] = Cross(e[0], e[1]);
}

// sum over k of l[k] e_k e_k^T, in long double and rounded once.
KV_Symmetric3 FromEigen(const Vec e[3], const double l[3])
{
    long double m[3][3] = {};
    for (int k = 0; k < 3; ++k)
    {
        const long double v[3] = {e[k].x, e[k].y, e[k].z};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) m[i][j] += l[k] * v[i] * v[j];
    }
    KV_Symmetric3 a;
    a.xx = static_cast<double>(m[0][0]);
    a.xy = static_cast<double>(m[0][1]);
    a.xz = static_cast<double>(m[0][2]);
    a.yy = static_cast<double>(m[1][1]);
    a.yz = static_cast<double>(m[1][2]);
    a.zz = static_cast<double>(m[2][2]);
    return a;
}

Vec Solve(const KV_Symmetric3& a, const Vec& reference)
{
    const double r[3] = {reference.x, reference.y, reference.z};
    double v[3] = {0, 0, 0};
    EXPECT_TRUE(SmallestEigenvector(a, r, v));
    return {v[0], v[1], v[2]};
}

// The general decomposition of a rounded to single precision.
Vec General(const KV_Symmetric3& a)
{
    KV_Matrix m(3, 3);
    const double e[3][3] = {{a.xx, a.xy, a.xz}, {a.xy, a.yy, a.yz}, {a.xz, a.yz, a.zz}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) m(i, j) = static_cast<float>(e[i - 1][j - 1]);
    KV_Matrix vectors;
    KV_Vector values;
    EXPECT_TRUE(EigenDecompose(m, vectors, values));
    const int k = values.IndexOfSmallest();
    return {vectors(1, k), vectors(2, k), vectors(3, k)};
}
}  // namespace

// Each family: eigenvalues (smallest first) times a scale, in random frames. The angle to the
// exact smallest eigenvector stays within a few double roundings of the largest element over
// the gap to the next eigenvalue; the general solver, in single precision, within a few
// float roundings over that gap, for the families where the gap leaves it any accuracy.
TEST(SymmetricEigen3, SmallestEigenvectorOfKnownMatrices)
{
    struct Family
    {
        const char* name;
        double l0, l1, l2;
        bool general;  // gap wide enough for single precision
    };
    const Family families[] = {
        {"plane fit", 1e-4, 0.8, 1.0, true},
        {"flat plane", 0.0, 0.5, 1.0, true},
        {"flat, rotationally even", 0.0, 1.0, 1.0 + 1e-9, true},
        {"generic", -0.7, 0.2, 0.9, true},
        {"negative definite", -3.0, -2.0, -1.0, true},
        {"smallest two close", 1.0, 1.0 + 1e-6, 3.0, false},
        {"smallest two very close", 1.0, 1.0 + 1e-10, 3.0, false},
        {"elongated", 1e-3, 2e-3, 1.0, true},
        {"all close", 1.0, 1.0 + 1e-5, 1.0 + 2e-5, false},
    };
    const double scales[] = {1.0, 1e-30, 1e30, 1e-150, 1e150};
    const double eps = 2.220446049250313e-16;
    std::mt19937 rng(15);
    for (const Family& f : families)
        for (const double scale : scales)
            for (int trial = 0; trial < 200; ++trial)
            {
                Vec e[3];
                RandomFrame(rng, e);
                const double l[3] = {f.l0 * scale, f.l1 * scale, f.l2 * scale};
                const KV_Symmetric3 a = FromEigen(e, l);
                const Vec v = Solve(a, e[0]);
                const std::string where = std::string(f.name) + ", scale " + std::to_string(scale) +
                                          ", trial " + std::to_string(trial);
                ASSERT_NEAR(Dot(v, v), 1.0, 4 * eps) << where;
                const double largest =
                    std::max(std::fabs(f.l0), std::max(std::fabs(f.l1), std::fabs(f.l2)));
                const double gap = f.l1 - f.l0;
                ASSERT_LE(LineAngle(v, e[0]), 64 * eps * largest / gap) << where;
                if (f.general && scale >= 1e-30 && scale <= 1e30)
                {
                    ASSERT_LE(LineAngle(v, General(a)), 64 * 1.2e-7 * largest / gap) << where;
                }
            }
}

// Where the smallest eigenvalue is not unique the answer is a rule, not an accident of
// rounding: axes for diagonal matrices, the eigenspace's vector nearest the reference
// otherwise.
TEST(SymmetricEigen3, RepeatedSmallestEigenvaluesFollowTheRules)
{
    const Vec reference = Unit({0.3, -0.5, 0.8});
    struct Case
    {
        const char* name;
        KV_Symmetric3 a;
        Vec expected;
    };
    KV_Symmetric3 zero;
    KV_Symmetric3 alongX;
    alongX.xx = 2.0;
    KV_Symmetric3 flatXY;
    flatXY.xx = flatXY.yy = 1.0;
    KV_Symmetric3 ties;
    ties.xx = 1.0;
    ties.yy = ties.zz = 0.5;
    const Case cases[] = {
        {"zero (coincident points)", zero, {1, 0, 0}},
        {"along x (collinear on an axis)", alongX, {0, 1, 0}},
        {"flat in x and y", flatXY, {0, 0, 1}},
        {"diagonal tie", ties, {0, 1, 0}},
    };
    for (const Case& c : cases)
    {
        const Vec v = Solve(c.a, reference);
        EXPECT_EQ(v.x, c.expected.x) << c.name;
        EXPECT_EQ(v.y, c.expected.y) << c.name;
        EXPECT_EQ(v.z, c.expected.z) << c.name;
    }

    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial)
    {
        Vec e[3];
        RandomFrame(rng, e);
        // Collinear: the two smallest equal; the answer is reference less its part along
        // the line, normalised.
        const double line[3] = {0.0, 0.0, 4.0};
        const Vec v = Solve(FromEigen(e, line), reference);
        const double along = Dot(reference, e[2]);
        const Vec nearest = Unit({reference.x - along * e[2].x, reference.y - along * e[2].y,
                                  reference.z - along * e[2].z});
        ASSERT_LE(LineAngle(v, nearest), 1e-12) << "collinear, trial " << trial;
        ASSERT_GT(Dot(v, reference), 0.0) << "collinear, trial " << trial;
        // A multiple of the identity, rotated and rounded: the reference itself.
        const double even[3] = {2.5, 2.5, 2.5};
        ASSERT_LE(LineAngle(Solve(FromEigen(e, even), reference), reference), 1e-12)
            << "isotropic, trial " << trial;
    }

    // Subnormal elements: eigenvalues 1, 3, 5 times 1e-310, the smallest along (1, -1, 0).
    KV_Symmetric3 subnormal;
    subnormal.xx = subnormal.yy = 2e-310;
    subnormal.xy = 1e-310;
    subnormal.zz = 5e-310;
    EXPECT_LE(LineAngle(Solve(subnormal, reference), Unit({1, -1, 0})), 1e-12);

    const double r[3] = {0, 0, 1};
    double v[3] = {7, 7, 7};
    KV_Symmetric3 bad;
    bad.xy = std::nan("");
    EXPECT_FALSE(SmallestEigenvector(bad, r, v));
    bad.xy = 0.0;
    bad.zz = HUGE_VAL;
    EXPECT_FALSE(SmallestEigenvector(bad, r, v));
    EXPECT_EQ(v[0], 7.0);
}

// A tilted, slightly rough patch of single-precision points at growing distances from the
// origin: the scatter about the first point keeps the plane, where raw sums of squares
// would cancel it away.
TEST(SymmetricEigen3, ScatterKeepsThePlaneOfPointsFarFromTheOrigin)
{
    const Vec normal = Unit({0.2, -0.1, 1.0});
    const Vec u = Unit(Cross(normal, {1, 0, 0}));
    const Vec w = Cross(normal, u);
    for (const double offset : {0.0, 1e3, 1e5, 1e6})
    {
        // A patch of 49 points, as wide as a scan at that distance would be.
        const double step = 0.3 * (1.0 + offset * 1e-3);
        KV_Scatter3 scatter;
        for (int i = -3; i <= 3; ++i)
            for (int j = -3; j <= 3; ++j)
            {
                const double s = step * i, t = step * j;
                const float p[3] = {static_cast<float>(offset + s * u.x + t * w.x),
                                    static_cast<float>(offset + s * u.y + t * w.y),
                                    static_cast<float>(offset + s * u.z + t * w.z)};
                scatter.Add(p[0], p[1], p[2]);
            }
        ASSERT_EQ(scatter.Count(), 49u);
        // Single-precision positions at this offset are off the plane by their rounding.
        const double rounding = 1.2e-7 * std::max(1.0, offset) / (6 * step);
        EXPECT_LE(LineAngle(Solve(scatter.Scatter(), normal), normal), 4 * rounding)
            << "offset " << offset;
    }
    KV_Scatter3 one;
    one.Add(1e6, 2e6, 3e6);
    const KV_Symmetric3 s = one.Scatter();
    EXPECT_EQ(s.xx + s.xy + s.xz + s.yy + s.yz + s.zz, 0.0);
}
