#include "math/KV_SymmetricEigen3.h"

#include <algorithm>
#include <cmath>

namespace
{
// Eigenvalues closer than this, relative to the largest element, count as equal: below it
// the rounding of the matrix itself decides the eigenvector.
const double kTie = 1e-12;

void Set(double v[3], double x, double y, double z)
{
    v[0] = x;
    v[1] = y;
    v[2] = z;
}

// The unit vector along (x, y, z) into v; false when that is zero or not finite.
bool SetUnit(double v[3], double x, double y, double z)
{
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0) || !std::isfinite(length))
        return false;
    Set(v, x / length, y / length, z / length);
    return true;
}

// The unit null vector of the rank-2 matrix b - beta I (rows b), as the longest cross
// product of two of its rows: the pair that is furthest from parallel is the best
// conditioned. False when every cross product vanishes.
bool NullVector(const double b[3][3], double beta, double v[3])
{
    const double r0[3] = {b[0][0] - beta, b[0][1], b[0][2]};
    const double r1[3] = {b[1][0], b[1][1] - beta, b[1][2]};
    const double r2[3] = {b[2][0], b[2][1], b[2][2] - beta};
    const double c01[3] = {r0[1] * r1[2] - r0[2] * r1[1], r0[2] * r1[0] - r0[0] * r1[2],
                           r0[0] * r1[1] - r0[1] * r1[0]};
    const double c02[3] = {r0[1] * r2[2] - r0[2] * r2[1], r0[2] * r2[0] - r0[0] * r2[2],
                           r0[0] * r2[1] - r0[1] * r2[0]};
    const double c12[3] = {r1[1] * r2[2] - r1[2] * r2[1], r1[2] * r2[0] - r1[0] * r2[2],
                           r1[0] * r2[1] - r1[1] * r2[0]};
    const double n01 = c01[0] * c01[0] + c01[1] * c01[1] + c01[2] * c01[2];
    const double n02 = c02[0] * c02[0] + c02[1] * c02[1] + c02[2] * c02[2];
    const double n12 = c12[0] * c12[0] + c12[1] * c12[1] + c12[2] * c12[2];
    const double* best = c01;
    double longest = n01;
    if (n02 > longest)
    {
        best = c02;
        longest = n02;
    }
    if (n12 > longest)
    {
        best = c12;
        longest = n12;
    }
    if (!(longest > 0.0))
        return false;
    const double toUnit = 1.0 / std::sqrt(longest);
    Set(v, best[0] * toUnit, best[1] * toUnit, best[2] * toUnit);
    return true;
}

double Dot(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void Times(const double b[3][3], const double u[3], double bu[3])
{
    for (int i = 0; i < 3; ++i) bu[i] = b[i][0] * u[0] + b[i][1] * u[1] + b[i][2] * u[2];
}
}  // namespace

KV_Symmetric3 KV_Scatter3::Scatter() const
{
    KV_Symmetric3 s;
    if (mnCount < 2)
        return s;
    const double n = static_cast<double>(mnCount);
    const double mx = mkSum[0] / n, my = mkSum[1] / n, mz = mkSum[2] / n;
    s.xx = mkProducts.xx - mkSum[0] * mx;
    s.xy = mkProducts.xy - mkSum[0] * my;
    s.xz = mkProducts.xz - mkSum[0] * mz;
    s.yy = mkProducts.yy - mkSum[1] * my;
    s.yz = mkProducts.yz - mkSum[1] * mz;
    s.zz = mkProducts.zz - mkSum[2] * mz;
    return s;
}

bool SmallestEigenvector(const KV_Symmetric3& a, const double reference[3], double vector[3])
{
    const double elements[6] = {a.xx, a.xy, a.xz, a.yy, a.yz, a.zz};
    double largest = 0.0;
    for (const double e : elements)
    {
        if (!std::isfinite(e))
            return false;
        largest = std::max(largest, std::fabs(e));
    }
    if (a.xy == 0.0 && a.xz == 0.0 && a.yz == 0.0)
    {
        const double diagonal[3] = {a.xx, a.yy, a.zz};
        int k = 0;
        for (int i = 1; i < 3; ++i)
            if (diagonal[i] < diagonal[k])
                k = i;
        Set(vector, 0.0, 0.0, 0.0);
        vector[k] = 1.0;
        return true;
    }

    // b = (a / largest - q I) / p has eigenvalues 2 cos(phi + 2 pi k / 3), phi = acos(det(b)
    // / 2) / 3: the largest for k = 0, the smallest for k = 1. Scaling by the largest element
    // keeps the products below from overflowing or underflowing; a subnormal one is first
    // raised by a power of two (exactly) so that its reciprocal is finite.
    double raise = 1.0;
    if (largest < 0x1p-900)
    {
        raise = 0x1p900;
        largest *= raise;
    }
    const double toUnit = 1.0 / largest;
    double b[3][3] = {{a.xx * raise * toUnit, a.xy * raise * toUnit, a.xz * raise * toUnit},
                      {0.0, a.yy * raise * toUnit, a.yz * raise * toUnit},
                      {0.0, 0.0, a.zz * raise * toUnit}};
    const double q = (b[0][0] + b[1][1] + b[2][2]) / 3.0;
    for (int i = 0; i < 3; ++i) b[i][i] -= q;
    const double p = std::sqrt((b[0][0] * b[0][0] + b[1][1] * b[1][1] + b[2][2] * b[2][2] +
                                2.0 * (b[0][1] * b[0][1] + b[0][2] * b[0][2] + b[1][2] * b[1][2])) /
                               6.0);
    const double fixed[3] = {1.0, 0.0, 0.0};
    if (p < kTie)
    {
        // All three eigenvalues alike: every direction is an eigenvector.
        if (!SetUnit(vector, reference[0], reference[1], reference[2]))
            Set(vector, fixed[0], fixed[1], fixed[2]);
        return true;
    }
    const double toB = 1.0 / p;
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j) b[i][j] *= toB;
    b[1][0] = b[0][1];
    b[2][0] = b[0][2];
    b[2][1] = b[1][2];
    const double halfDeterminant = 0.5 * (b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[1][2]) -
                                          b[0][1] * (b[0][1] * b[2][2] - b[1][2] * b[0][2]) +
                                          b[0][2] * (b[0][1] * b[1][2] - b[1][1] * b[0][2]));
    const double phi = std::acos(std::min(1.0, std::max(-1.0, halfDeterminant))) / 3.0;
    const double cosPhi = std::cos(phi);

    if (halfDeterminant < 0.0)
    {
        // The smallest eigenvalue is the one furthest from the other two (at least sqrt(3)
        // from the middle one): its null vector is well conditioned.
        const double smallest = -cosPhi - std::sqrt(3.0) * std::sin(phi);
        if (NullVector(b, smallest, vector))
            return true;
    }
    else
    {
        // The largest eigenvalue stands apart and the smallest may be close to the middle
        // one: the eigenvector of the largest first, then the smaller eigenvector of the
        // 2 x 2 matrix b makes in the plane perpendicular to it.
        double w[3];
        if (NullVector(b, 2.0 * cosPhi, w))
        {
            // u: a unit vector perpendicular to w, from its two larger components.
            double u[3];
            if (std::fabs(w[0]) > std::fabs(w[1]))
            {
                const double length = std::sqrt(w[0] * w[0] + w[2] * w[2]);
                Set(u, -w[2] / length, 0.0, w[0] / length);
            }
            else
            {
                const double length = std::sqrt(w[1] * w[1] + w[2] * w[2]);
                Set(u, 0.0, w[2] / length, -w[1] / length);
            }
            const double v[3] = {w[1] * u[2] - w[2] * u[1], w[2] * u[0] - w[0] * u[2],
                                 w[0] * u[1] - w[1] * u[0]};
            double bu[3], bv[3];
            Times(b, u, bu);
            Times(b, v, bv);
            const double half = 0.5 * (Dot(u, bu) - Dot(v, bv));
            const double off = 0.5 * (Dot(u, bv) + Dot(v, bu));
            const double spread = std::sqrt(half * half + off * off);
            double s, t;
            if (2.0 * spread * p < kTie)
            {
                // Collinear points: the nearest to reference of the plane's vectors.
                s = Dot(u, reference);
                t = Dot(v, reference);
                if (!(s * s + t * t > 0.0) || !std::isfinite(s * s + t * t))
                {
                    s = 1.0;
                    t = 0.0;
                }
            }
            else if (half >= 0.0)
            {
                s = -off;
                t = half + spread;
            }
            else
            {
                s = spread - half;
                t = -off;
            }
            if (SetUnit(vector, s * u[0] + t * v[0], s * u[1] + t * v[1], s * u[2] + t * v[2]))
                return true;
        }
    }
    // Not reached for a finite matrix that is not a multiple of the identity; kept so that
    // the result is always a unit vector.
    Set(vector, fixed[0], fixed[1], fixed[2]);
    return true;
}
