#pragma once
// KV_Matrix: a dense float matrix on KV_Array2D<float>. Every matrix the operations below
// build has rows and columns starting at 1. Element (i, j) is operator()(i, j); indexing is
// unchecked. Operations on two matrices require the sizes they state (checked only by
// assertions in debug builds). Storage that cannot be allocated is a fatal
// "KV_Array<T>::Resize()" report.

#include "foundation/KV_Array.h"
#include "math/KV_Vector.h"
#include "math/KV_Vector3D.h"

#include <ostream>

class KV_Matrix : public KV_Array2D<float>
{
public:
    KV_Matrix() = default;
    // Bounds [1, rows] x [1, columns]; elements start at zero.
    KV_Matrix(int rows, int columns) { Resize(rows, columns); }
    KV_Matrix(const KV_Matrix& other) = default;
    KV_Matrix& operator=(const KV_Matrix& other) = default;
    ~KV_Matrix() override = default;

    // The n x n identity.
    static KV_Matrix Identity(int n);
    // The 3 x 3 matrix with element (i, j) = a_i * b_j.
    static KV_Matrix OuterProduct(const KV_Vector3D& a, const KV_Vector3D& b);

    // Makes the bounds [1, rows] x [1, columns]; nothing happens when they already are. The
    // contents stay when the element count is unchanged and are undefined otherwise. Hides
    // the one-dimensional resize of the array, which would break the row table.
    void Resize(int rows, int columns) { SetBounds(1, rows, 1, columns); }

    // Element-wise; require a matrix of the same bounds.
    KV_Matrix& operator+=(const KV_Matrix& other);
    KV_Matrix& operator-=(const KV_Matrix& other);
    KV_Matrix& operator/=(float s);
    KV_Matrix& operator*=(float s);
    // this = this * other, for square matrices of the same order.
    KV_Matrix& operator*=(const KV_Matrix& other);

    KV_Matrix Transpose() const;
    // Column j of a matrix with three rows.
    KV_Vector3D Column3D(int j) const;
    // Column j as a vector of length Rows().
    KV_Vector Column(int j) const;
    // Rows 1, 2, 3 of a 3 x 3 matrix become a, b and c.
    void SetRows(const KV_Vector3D& a, const KV_Vector3D& b, const KV_Vector3D& c);

    // " KV_Matrix: ", " KV_Array2D", the four bounds on one line, then one line per row.
    void Dump(std::ostream& os) const;
};

KV_Matrix operator*(float s, const KV_Matrix& m);
// The product of an r x n and an n x c matrix.
KV_Matrix operator*(const KV_Matrix& a, const KV_Matrix& b);
