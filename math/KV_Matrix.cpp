#include "math/KV_Matrix.h"

#include <cassert>

namespace {

[[maybe_unused]] bool SameBounds(const KV_Matrix& a, const KV_Matrix& b)
{
    return a.RowLow() == b.RowLow() && a.RowHigh() == b.RowHigh() &&
           a.ColLow() == b.ColLow() && a.ColHigh() == b.ColHigh();
}

}  // namespace

KV_Matrix KV_Matrix::Identity(int n)
{
    KV_Matrix m(n, n);
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j)
            m(i, j) = i == j ? 1.0f : 0.0f;
    return m;
}

KV_Matrix KV_Matrix::OuterProduct(const KV_Vector3D& a, const KV_Vector3D& b)
{
    const float av[3] = {a.x, a.y, a.z};
    const float bv[3] = {b.x, b.y, b.z};
    KV_Matrix m(3, 3);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            m(i, j) = av[i - 1] * bv[j - 1];
    return m;
}

KV_Matrix& KV_Matrix::operator+=(const KV_Matrix& other)
{
    assert(SameBounds(*this, other));
    float* data = Data();
    const float* add = other.Data();
    for (unsigned int k = 0; k < Count(); ++k)
        data[k] += add[k];
    return *this;
}

KV_Matrix& KV_Matrix::operator-=(const KV_Matrix& other)
{
    assert(SameBounds(*this, other));
    float* data = Data();
    const float* sub = other.Data();
    for (unsigned int k = 0; k < Count(); ++k)
        data[k] -= sub[k];
    return *this;
}

KV_Matrix& KV_Matrix::operator/=(float s)
{
    float* data = Data();
    for (unsigned int k = 0; k < Count(); ++k)
        data[k] /= s;
    return *this;
}

KV_Matrix& KV_Matrix::operator*=(float s)
{
    float* data = Data();
    for (unsigned int k = 0; k < Count(); ++k)
        data[k] *= s;
    return *this;
}

KV_Matrix& KV_Matrix::operator*=(const KV_Matrix& other)
{
    assert(Rows() == Cols() && SameBounds(*this, other));
    // Each element reads a whole row of the old contents, so the product is formed apart.
    const KV_Matrix product = *this * other;
    float* data = Data();
    const float* src = product.Data();
    for (unsigned int k = 0; k < Count(); ++k)
        data[k] = src[k];
    return *this;
}

KV_Matrix operator*(const KV_Matrix& a, const KV_Matrix& b)
{
    assert(a.Cols() == b.Rows());
    KV_Matrix product(a.Rows(), b.Cols());
    const int n = a.Cols();
    for (int i = 0; i < a.Rows(); ++i)
    {
        const float* row = a.Row(a.RowLow() + i);
        for (int j = 0; j < b.Cols(); ++j)
        {
            double sum = 0.0;
            for (int k = 0; k < n; ++k)
                sum += static_cast<double>(row[k]) * b.Row(b.RowLow() + k)[j];
            product(i + 1, j + 1) = static_cast<float>(sum);
        }
    }
    return product;
}

KV_Matrix operator*(float s, const KV_Matrix& m)
{
    KV_Matrix result(m);
    result *= s;
    return result;
}

KV_Matrix KV_Matrix::Transpose() const
{
    KV_Matrix t(Cols(), Rows());
    for (int i = 0; i < Rows(); ++i)
    {
        const float* row = Row(RowLow() + i);
        for (int j = 0; j < Cols(); ++j)
            t(j + 1, i + 1) = row[j];
    }
    return t;
}

KV_Vector3D KV_Matrix::Column3D(int j) const
{
    const KV_Matrix& m = *this;
    return KV_Vector3D(m(1, j), m(2, j), m(3, j));
}

KV_Vector KV_Matrix::Column(int j) const
{
    KV_Vector column(Rows());
    for (int i = 1; i <= Rows(); ++i)
        column[i] = (*this)(RowLow() + i - 1, j);
    return column;
}

void KV_Matrix::SetRows(const KV_Vector3D& a, const KV_Vector3D& b, const KV_Vector3D& c)
{
    const KV_Vector3D* rows[3] = {&a, &b, &c};
    KV_Matrix& m = *this;
    for (int i = 1; i <= 3; ++i)
    {
        m(i, 1) = rows[i - 1]->x;
        m(i, 2) = rows[i - 1]->y;
        m(i, 3) = rows[i - 1]->z;
    }
}

void KV_Matrix::Dump(std::ostream& os) const
{
    os << " KV_Matrix: " << std::endl;
    os << " KV_Array2D" << std::endl;
    os << " rowlow: " << RowLow() << " ";
    os << " rowhigh: " << RowHigh() << " ";
    os << " collow: " << ColLow() << " ";
    os << " colhigh: " << ColHigh() << "\n";
    if (Cols() == 0)
        return;
    for (int i = RowLow(); i <= RowHigh(); ++i)
    {
        const float* row = Row(i);
        for (int j = 0; j < Cols() - 1; ++j)
            os << row[j] << " ";
        os << row[Cols() - 1] << "\n";
    }
}

KV_Vector3D operator*(const KV_Matrix& m, const KV_Vector3D& v)
{
    return KV_Vector3D(m(1, 1) * v.x + m(1, 2) * v.y + m(1, 3) * v.z,
                       m(2, 1) * v.x + m(2, 2) * v.y + m(2, 3) * v.z,
                       m(3, 1) * v.x + m(3, 2) * v.y + m(3, 3) * v.z);
}

KV_Vector3D operator*(const KV_Vector3D& v, const KV_Matrix& m)
{
    return KV_Vector3D(m(1, 1) * v.x + m(2, 1) * v.y + m(3, 1) * v.z,
                       m(1, 2) * v.x + m(2, 2) * v.y + m(3, 2) * v.z,
                       m(1, 3) * v.x + m(2, 3) * v.y + m(3, 3) * v.z);
}
