#include "measure/KV_PickCamera.h"

#include <cmath>

namespace
{
using Matrix = std::array<double, 16>;

double At(const Matrix& m, int row, int column)
{
    return m[column * 4 + row];
}

// M·(x, y, z, w).
std::array<double, 4> Transform(const Matrix& m, const std::array<double, 4>& v)
{
    std::array<double, 4> out{};
    for (int r = 0; r < 4; ++r)
        out[r] = At(m, r, 0) * v[0] + At(m, r, 1) * v[1] + At(m, r, 2) * v[2] + At(m, r, 3) * v[3];
    return out;
}

bool Finite(const std::array<double, 4>& v)
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]) && std::isfinite(v[3]);
}
}  // namespace

std::array<double, 16> KV_MultiplyMatrices(const Matrix& a, const Matrix& b)
{
    Matrix out{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
        {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += At(a, r, k) * At(b, k, c);
            out[c * 4 + r] = sum;
        }
    return out;
}

bool KV_InvertMatrix(const Matrix& m, Matrix& inverse)
{
    // Gauss-Jordan with partial pivoting on [M | I], rows as arrays of 8.
    double rows[4][8];
    double largest = 0.0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
        {
            rows[r][c] = At(m, r, c);
            rows[r][c + 4] = r == c ? 1.0 : 0.0;
            if (!std::isfinite(rows[r][c]))
                return false;
            largest = std::fmax(largest, std::fabs(rows[r][c]));
        }
    if (largest == 0.0)
        return false;
    for (int c = 0; c < 4; ++c)
    {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(rows[r][c]) > std::fabs(rows[pivot][c]))
                pivot = r;
        // Relative to the matrix's scale: a projection of a flat scene is singular in
        // practice long before its pivot is exactly zero.
        if (std::fabs(rows[pivot][c]) <= largest * 1e-14)
            return false;
        if (pivot != c)
            for (int k = 0; k < 8; ++k) std::swap(rows[c][k], rows[pivot][k]);
        const double scale = 1.0 / rows[c][c];
        for (int k = 0; k < 8; ++k) rows[c][k] *= scale;
        for (int r = 0; r < 4; ++r)
        {
            if (r == c || rows[r][c] == 0.0)
                continue;
            const double factor = rows[r][c];
            for (int k = 0; k < 8; ++k) rows[r][k] -= factor * rows[c][k];
        }
    }
    Matrix out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
        {
            if (!std::isfinite(rows[r][c + 4]))
                return false;
            out[c * 4 + r] = rows[r][c + 4];
        }
    inverse = out;
    return true;
}

std::array<double, 16> KV_PerspectiveMatrix(double fieldOfView, double aspect, double nearPlane,
                                            double farPlane)
{
    // As gluPerspective computes it; a degenerate volume gives a matrix that does not invert.
    const double half = fieldOfView / 2.0 * M_PI / 180.0;
    const double sine = std::sin(half);
    const double depth = farPlane - nearPlane;
    Matrix m{};
    if (depth == 0.0 || sine == 0.0 || aspect == 0.0)
        return m;
    const double cotangent = std::cos(half) / sine;
    m[0] = cotangent / aspect;
    m[5] = cotangent;
    m[10] = -(farPlane + nearPlane) / depth;
    m[11] = -1.0;
    m[14] = -2.0 * nearPlane * farPlane / depth;
    return m;
}

bool KV_PickCamera::RayThroughPoint(double x, double y, KV_Ray& ray) const
{
    const double width = mkViewport[2], height = mkViewport[3];
    if (mkViewport[2] <= 0 || mkViewport[3] <= 0 || mnPictureHeight <= 0 || !std::isfinite(x) ||
        !std::isfinite(y))
        return false;
    // Picture rows run down, window rows up.
    const double windowX = x, windowY = static_cast<double>(mnPictureHeight) - y;
    const double ndcX = 2.0 * (windowX - mkViewport[0]) / width - 1.0;
    const double ndcY = 2.0 * (windowY - mkViewport[1]) / height - 1.0;
    if (ndcX < -1.0 || ndcX > 1.0 || ndcY < -1.0 || ndcY > 1.0)
        return false;
    Matrix inverse;
    if (!KV_InvertMatrix(KV_MultiplyMatrices(mkProjection, mkModelView), inverse))
        return false;
    std::array<double, 4> nearPoint = Transform(inverse, {ndcX, ndcY, -1.0, 1.0});
    std::array<double, 4> farPoint = Transform(inverse, {ndcX, ndcY, 1.0, 1.0});
    if (!Finite(nearPoint) || !Finite(farPoint) || nearPoint[3] == 0.0 || farPoint[3] == 0.0)
        return false;
    KV_Ray out;
    for (int i = 0; i < 3; ++i)
    {
        const double a = nearPoint[i] / nearPoint[3], b = farPoint[i] / farPoint[3];
        out.origin[i] = a;
        out.direction[i] = b - a;
    }
    if (out.direction[0] == 0.0 && out.direction[1] == 0.0 && out.direction[2] == 0.0)
        return false;
    out.tMin = 0.0;
    out.tMax = 1.0;
    ray = out;
    return true;
}

bool KV_PickCamera::RayThroughPixel(int pixelX, int pixelY, KV_Ray& ray) const
{
    return RayThroughPoint(pixelX + 0.5, pixelY + 0.5, ray);
}

bool KV_PickCamera::Project(const std::array<double, 3>& p, double& x, double& y,
                            double& depth) const
{
    const std::array<double, 4> eye = Transform(mkModelView, {p[0], p[1], p[2], 1.0});
    const std::array<double, 4> clip = Transform(mkProjection, eye);
    if (!Finite(clip) || clip[3] <= 0.0)
        return false;
    const double ndcX = clip[0] / clip[3], ndcY = clip[1] / clip[3], ndcZ = clip[2] / clip[3];
    const double windowX = mkViewport[0] + (ndcX + 1.0) * 0.5 * mkViewport[2];
    const double windowY = mkViewport[1] + (ndcY + 1.0) * 0.5 * mkViewport[3];
    if (!std::isfinite(windowX) || !std::isfinite(windowY) || !std::isfinite(ndcZ))
        return false;
    x = windowX;
    y = static_cast<double>(mnPictureHeight) - windowY;
    depth = (ndcZ + 1.0) * 0.5;
    return true;
}
