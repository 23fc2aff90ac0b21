#pragma once
// Eigen analysis of one real symmetric 3 x 3 matrix in closed form, in double precision,
// and the scatter matrix of a set of 3D points, both on the stack: the plane fits of the
// normal refinement run one per vertex, millions per surface, where the general iterative
// EigenDecompose spends most of its time in its rotations.

// The six distinct elements of a symmetric 3 x 3 matrix.
struct KV_Symmetric3
{
    double xx = 0.0, xy = 0.0, xz = 0.0, yy = 0.0, yz = 0.0, zz = 0.0;
};

// Accumulates the scatter (n times the population covariance) of the points added, from
// sums about the first point: for points far from the origin the sums stay as small as the
// spread of the points instead of cancelling every significant digit.
class KV_Scatter3
{
public:
    void Add(double x, double y, double z)
    {
        if (mnCount == 0)
        {
            mkFirst[0] = x;
            mkFirst[1] = y;
            mkFirst[2] = z;
        }
        ++mnCount;
        const double dx = x - mkFirst[0], dy = y - mkFirst[1], dz = z - mkFirst[2];
        mkSum[0] += dx;
        mkSum[1] += dy;
        mkSum[2] += dz;
        mkProducts.xx += dx * dx;
        mkProducts.xy += dx * dy;
        mkProducts.xz += dx * dz;
        mkProducts.yy += dy * dy;
        mkProducts.yz += dy * dz;
        mkProducts.zz += dz * dz;
    }
    unsigned int Count() const { return mnCount; }
    // The sum over the points of (p - mean)(p - mean)^T; zero for fewer than two points.
    KV_Symmetric3 Scatter() const;

private:
    unsigned int mnCount = 0;
    double mkFirst[3] = {0.0, 0.0, 0.0};
    double mkSum[3] = {0.0, 0.0, 0.0};
    KV_Symmetric3 mkProducts;
};

// Writes to vector the unit eigenvector of the smallest eigenvalue of a, with either sign,
// and returns true; returns false, vector untouched, when an element of a is not finite.
//
// Where the smallest eigenvalue is not unique the answer is chosen, not computed:
//  - a diagonal matrix (the zero matrix included) gives the coordinate axis of its smallest
//    diagonal element, the first of equal ones;
//  - otherwise, when the two smallest eigenvalues are equal to within 1e-12 of the largest
//    element (collinear points), or all three are (points spread alike in every direction),
//    the result is the unit vector of that eigenspace nearest reference, or a fixed one of
//    the eigenspace when reference has no part in it.
// Elsewhere the angle to the exact eigenvector is a few units of double rounding times the
// largest element over the gap between the two smallest eigenvalues.
bool SmallestEigenvector(const KV_Symmetric3& a, const double reference[3], double vector[3]);
