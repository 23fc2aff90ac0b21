#include "math/KV_Eigen.h"

#include "foundation/KV_Report.h"
#include "math/KV_Scalar.h"
#include "math/KV_Vector3D.h"

#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <memory>

namespace {

const int kMaxIterations = 50;
const float kScaleAbove = 0x1p64f;
const float kScaleBelow = 0x1p-64f;

// A square matrix stored row after row and indexed from 1, over storage owned elsewhere.
class SquareView
{
public:
    SquareView(float* data, int n) : mptData(data), mnOrder(n) {}
    float& operator()(int i, int j) const { return mptData[(i - 1) * mnOrder + (j - 1)]; }

private:
    float* mptData;
    int mnOrder;
};

// Householder reduction of z to tridiagonal form, with the transformations accumulated in z.
// On return d holds the diagonal and e(2..n) the subdiagonal (e(1) = 0); d, e 1-based.
void Tridiagonalise(const SquareView& z, int n, float* d, float* e)
{
    for (int i = n; i >= 2; --i)
    {
        const int l = i - 1;
        float h = 0.0f;
        float scale = 0.0f;
        for (int k = 1; k <= l; ++k)
            scale += std::fabs(z(i, k));
        if (scale == 0.0f)
        {
            e[i] = z(i, l);
        }
        else
        {
            for (int k = 1; k <= l; ++k)
            {
                z(i, k) /= scale;
                h += z(i, k) * z(i, k);
            }
            float f = z(i, l);
            float g = static_cast<float>(-KV_Sign(static_cast<float>(KV_Sqrt(h)), f));
            e[i] = scale * g;
            h -= f * g;
            z(i, l) = f - g;
            f = 0.0f;
            for (int j = 1; j <= l; ++j)
            {
                z(j, i) = z(i, j) / h;
                g = 0.0f;
                for (int k = 1; k <= j; ++k)
                    g += z(j, k) * z(i, k);
                for (int k = j + 1; k <= l; ++k)
                    g += z(k, j) * z(i, k);
                e[j] = g / h;
                f += e[j] * z(i, j);
            }
            const float hh = f / (h + h);
            for (int j = 1; j <= l; ++j)
            {
                f = z(i, j);
                e[j] = g = e[j] - hh * f;
                for (int k = 1; k <= j; ++k)
                    z(j, k) -= (f * e[k] + g * z(i, k));
            }
        }
        d[i] = h;
    }
    d[1] = 0.0f;
    e[1] = 0.0f;

    for (int i = 1; i <= n; ++i)
    {
        const int l = i - 1;
        if (d[i] != 0.0f)
        {
            for (int j = 1; j <= l; ++j)
            {
                float g = 0.0f;
                for (int k = 1; k <= l; ++k)
                    g += z(i, k) * z(k, j);
                for (int k = 1; k <= l; ++k)
                    z(k, j) -= g * z(k, i);
            }
        }
        d[i] = z(i, i);
        z(i, i) = 1.0f;
        for (int j = 1; j <= l; ++j)
            z(j, i) = z(i, j) = 0.0f;
    }
}

// The QL iteration with implicit shifts on the tridiagonal (d, e), turning the columns of
// v along. e is destroyed.
void DiagonaliseTridiagonal(const SquareView& v, int n, float* d, float* e)
{
    for (int i = 2; i <= n; ++i)
        e[i - 1] = e[i];
    e[n] = 0.0f;

    for (int l = 1; l <= n; ++l)
    {
        int iterations = 0;
        int m;
        do
        {
            for (m = l; m <= n - 1; ++m)
            {
                // The sum is compared in double: an off-diagonal element counts as zero only
                // when it is below double resolution of the diagonal pair.
                const float dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
                if (static_cast<double>(std::fabs(e[m])) + static_cast<double>(dd) ==
                    static_cast<double>(dd))
                    break;
            }
            if (m == l)
                break;
            if (iterations == kMaxIterations)
            {
                // Off-diagonal elements of a matrix with tiny eigenvalues can stall in the
                // denormal range, where they never fall below double resolution. One that is
                // negligible in single precision, the precision of the result, or denormal
                // (the matrix is at least 2^-64 in size) is accepted; only a real failure to
                // converge ends the program.
                const float dd = std::fabs(d[l]) + std::fabs(d[l + 1]);
                if (std::fabs(e[l]) + dd != dd && std::fabs(e[l]) >= FLT_MIN)
                    ReportFatal("Eigen Analysis Error", "Too many iterations required.");
                e[l] = 0.0f;
                break;
            }
            ++iterations;

            float g = (d[l + 1] - d[l]) / (2.0f * e[l]);
            float r = static_cast<float>(KV_Hypot(g, 1.0f));
            g = static_cast<float>(d[m] - d[l] + e[l] / (g + KV_Sign(r, g)));
            float s = 1.0f;
            float c = 1.0f;
            float p = 0.0f;
            int i;
            for (i = m - 1; i >= l; --i)
            {
                float f = s * e[i];
                const float b = c * e[i];
                e[i + 1] = r = static_cast<float>(KV_Hypot(f, g));
                if (r == 0.0f)
                {
                    d[i + 1] -= p;
                    e[m] = 0.0f;
                    break;
                }
                s = f / r;
                c = g / r;
                g = d[i + 1] - p;
                r = (d[i] - g) * s + 2.0f * c * b;
                p = s * r;
                d[i + 1] = g + p;
                g = c * r - b;
                for (int k = 1; k <= n; ++k)
                {
                    f = v(k, i + 1);
                    v(k, i + 1) = s * v(k, i) + c * f;
                    v(k, i) = c * v(k, i) - s * f;
                }
            }
            if (r == 0.0f && i >= l)
                continue;
            d[l] -= p;
            e[l] = g;
            e[m] = 0.0f;
        } while (m != l);
    }
}

}  // namespace

bool EigenDecompose(const KV_Matrix& a, KV_Matrix& eigenvectors, KV_Vector& eigenvalues)
{
    assert(a.Rows() == a.Cols());
    const int n = a.Rows();
    eigenvectors.Resize(n, n);
    eigenvalues.Resize(n);
    if (n == 0)
        return true;

    float largest = 0.0f;
    const float* src = a.Data();
    for (int k = 0; k < n * n; ++k)
    {
        if (!std::isfinite(src[k]))
        {
            eigenvectors = KV_Matrix::Identity(n);
            for (int i = 1; i <= n; ++i)
                eigenvalues[i] = KV_UndefinedFloat;
            return false;
        }
        largest = std::max(largest, std::fabs(src[k]));
    }

    // Elements near the ends of the float range overflow or underflow inside the iteration.
    // Such a matrix is scaled by a power of two, which the iteration carries exactly, and
    // the eigenvalues are scaled back.
    int exponent = 0;
    if (largest > kScaleAbove || (largest < kScaleBelow && largest > 0.0f))
        std::frexp(largest, &exponent);

    // The plane fits decompose millions of 3 x 3 matrices: small orders stay off the heap.
    // d and e are indexed from 1; element 0 is unused.
    const int kSmallOrder = 4;
    float small[2 * (kSmallOrder + 1)];
    std::unique_ptr<float[]> large;
    float* d = small;
    if (n > kSmallOrder)
    {
        large.reset(new float[2 * (n + 1)]);
        d = large.get();
    }
    float* e = d + n + 1;
    for (int i = 0; i < 2 * (n + 1); ++i)
        d[i] = 0.0f;

    // The reduction works in place on a copy of a held by the eigenvector matrix, which the
    // QL iteration then turns into the eigenvectors.
    float* z = eigenvectors.Data();
    for (int k = 0; k < n * n; ++k)
        z[k] = exponent == 0 ? src[k] : std::ldexp(src[k], -exponent);

    const SquareView view(z, n);
    Tridiagonalise(view, n, d, e);
    DiagonaliseTridiagonal(view, n, d, e);
    for (int i = 1; i <= n; ++i)
        eigenvalues[i] = exponent == 0 ? d[i] : std::ldexp(d[i], exponent);
    return true;
}
