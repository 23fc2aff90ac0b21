#pragma once
// KV_Vector3D: a point or direction of three floats. A plain value (no virtual table, no
// heap) so that block lists hold vertex positions and normals directly. Arithmetic is
// unchecked: dividing by zero gives infinities or NaN as float arithmetic does.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ostream>

class KV_Matrix;

class KV_Vector3D
{
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    KV_Vector3D() = default;
    KV_Vector3D(float ax, float ay, float az) : x(ax), y(ay), z(az) {}

    KV_Vector3D& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }

    KV_Vector3D& operator/=(float s)
    {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }

    KV_Vector3D& operator+=(const KV_Vector3D& other)
    {
        x += other.x;
        y += other.y;
        z += other.z;
        return *this;
    }

    KV_Vector3D& operator-=(const KV_Vector3D& other)
    {
        x -= other.x;
        y -= other.y;
        z -= other.z;
        return *this;
    }

    // The Euclidean length, summed in double so that large coordinates do not overflow.
    float Length() const
    {
        const double dx = x, dy = y, dz = z;
        return static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz));
    }

    // Makes the vector unit length; a zero vector is left as it is.
    void Normalise()
    {
        const float length = Length();
        if (length != 0.0f)
            *this /= length;
    }

    // Writes "KV_Vector3D(x,y,z) " and a newline.
    void Dump(std::ostream& os) const
    {
        os << "KV_Vector3D(" << x << "," << y << "," << z << ") \n";
    }
};

inline KV_Vector3D operator+(KV_Vector3D a, const KV_Vector3D& b) { return a += b; }
inline KV_Vector3D operator-(KV_Vector3D a, const KV_Vector3D& b) { return a -= b; }
inline KV_Vector3D operator-(const KV_Vector3D& a) { return KV_Vector3D(-a.x, -a.y, -a.z); }
inline KV_Vector3D operator*(KV_Vector3D a, float s) { return a *= s; }
inline KV_Vector3D operator*(float s, KV_Vector3D a) { return a *= s; }
inline KV_Vector3D operator/(KV_Vector3D a, float s) { return a /= s; }

// Unequal when some component compares less or greater; a NaN component on either side
// never makes two vectors unequal.
inline bool operator!=(const KV_Vector3D& a, const KV_Vector3D& b)
{
    return a.x < b.x || a.x > b.x || a.y < b.y || a.y > b.y || a.z < b.z || a.z > b.z;
}

// The negation of !=, so a NaN component matches anything.
inline bool operator==(const KV_Vector3D& a, const KV_Vector3D& b) { return !(a != b); }

inline float DotProduct(const KV_Vector3D& a, const KV_Vector3D& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline KV_Vector3D CrossProduct(const KV_Vector3D& a, const KV_Vector3D& b)
{
    return KV_Vector3D(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

// M·v for a 3 x 3 matrix (rows and columns 1..3).
KV_Vector3D operator*(const KV_Matrix& m, const KV_Vector3D& v);
// vᵀ·M, that is Mᵀ·v, for a 3 x 3 matrix.
KV_Vector3D operator*(const KV_Vector3D& v, const KV_Matrix& m);

// A float from its IEEE 754 bit pattern.
inline float KV_FloatFromBits(std::uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Constants; every translation unit holds its own copy.
static const KV_Vector3D KV_Vector3D_Zero(0.0f, 0.0f, 0.0f);
static const KV_Vector3D KV_Vector3D_X(1.0f, 0.0f, 0.0f);
static const KV_Vector3D KV_Vector3D_Y(0.0f, 1.0f, 0.0f);
static const KV_Vector3D KV_Vector3D_Z(0.0f, 0.0f, 1.0f);
static const KV_Vector3D KV_Vector3D_XY(1.0f, 1.0f, 0.0f);
static const KV_Vector3D KV_Vector3D_XZ(1.0f, 0.0f, 1.0f);
static const KV_Vector3D KV_Vector3D_YZ(0.0f, 1.0f, 1.0f);
static const KV_Vector3D KV_Vector3D_XYZ(1.0f, 1.0f, 1.0f);

// The largest finite float, 3.4028235e38 (bits 0x7F7FFFFF), in every component.
static const float KV_LargestFloat = KV_FloatFromBits(0x7F7FFFFFu);
static const KV_Vector3D KV_Vector3D_Largest(KV_LargestFloat, KV_LargestFloat, KV_LargestFloat);

// The undefined value: a quiet NaN with the bits 0xFFC00000. Compare with std::isnan, never
// with ==.
static const float KV_UndefinedFloat = KV_FloatFromBits(0xFFC00000u);
static const KV_Vector3D KV_Vector3D_Undefined(KV_UndefinedFloat, KV_UndefinedFloat,
                                               KV_UndefinedFloat);
