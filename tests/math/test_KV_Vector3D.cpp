#include "foundation/KV_List.h"
#include "math/KV_Vector2D.h"
#include "math/KV_Vector3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <type_traits>

namespace {

std::uint32_t Bits(float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

void ExpectVector(const KV_Vector3D& v, float x, float y, float z)
{
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

}  // namespace

TEST(KV_Vector3D, IsAPlainValueOfThreeFloats)
{
    static_assert(sizeof(KV_Vector3D) == 3 * sizeof(float), "no padding, no vtable");
    static_assert(sizeof(KV_Vector2D) == 2 * sizeof(float), "no padding, no vtable");
    static_assert(std::is_trivially_copyable<KV_Vector3D>::value, "copied as bytes");
    static_assert(std::is_trivially_copyable<KV_Vector2D>::value, "copied as bytes");
    ExpectVector(KV_Vector3D(), 0.0f, 0.0f, 0.0f);
}

TEST(KV_Vector3D, InPlaceArithmetic)
{
    KV_Vector3D v(1.0f, -2.0f, 4.0f);
    v *= 2.0f;
    ExpectVector(v, 2.0f, -4.0f, 8.0f);
    v /= 4.0f;
    ExpectVector(v, 0.5f, -1.0f, 2.0f);
    v += KV_Vector3D(1.5f, 1.0f, -2.0f);
    ExpectVector(v, 2.0f, 0.0f, 0.0f);
    v -= KV_Vector3D(2.0f, 3.0f, -1.0f);
    ExpectVector(v, 0.0f, -3.0f, 1.0f);
    ExpectVector(KV_Vector3D(1, 2, 3) + KV_Vector3D(10, 20, 30), 11, 22, 33);
    ExpectVector(KV_Vector3D(1, 2, 3) - KV_Vector3D(10, 20, 30), -9, -18, -27);
    ExpectVector(-KV_Vector3D(1, -2, 3), -1, 2, -3);
    ExpectVector(2.0f * KV_Vector3D(1, 2, 3), 2, 4, 6);
    ExpectVector(KV_Vector3D(1, 2, 3) * 2.0f, 2, 4, 6);
    ExpectVector(KV_Vector3D(2, 4, 6) / 2.0f, 1, 2, 3);
}

TEST(KV_Vector3D, DivisionByZeroIsNotGuarded)
{
    KV_Vector3D v(1.0f, -1.0f, 0.0f);
    v /= 0.0f;
    EXPECT_TRUE(std::isinf(v.x) && v.x > 0);
    EXPECT_TRUE(std::isinf(v.y) && v.y < 0);
    EXPECT_TRUE(std::isnan(v.z));
}

TEST(KV_Vector3D, LengthAndNormalise)
{
    EXPECT_FLOAT_EQ(KV_Vector3D(2, 3, 6).Length(), 7.0f);
    // Squares beyond the float range must not overflow the length.
    EXPECT_FLOAT_EQ(KV_Vector3D(3e30f, 4e30f, 0).Length(), 5e30f);

    KV_Vector3D v(0.0f, 3.0f, -4.0f);
    v.Normalise();
    EXPECT_FLOAT_EQ(v.x, 0.0f);
    EXPECT_FLOAT_EQ(v.y, 0.6f);
    EXPECT_FLOAT_EQ(v.z, -0.8f);

    KV_Vector3D zero;
    zero.Normalise();
    ExpectVector(zero, 0.0f, 0.0f, 0.0f);
}

TEST(KV_Vector3D, DotAndCrossProducts)
{
    EXPECT_EQ(DotProduct(KV_Vector3D(1, 2, 3), KV_Vector3D(4, -5, 6)), 12.0f);
    ExpectVector(CrossProduct(KV_Vector3D_X, KV_Vector3D_Y), 0, 0, 1);
    ExpectVector(CrossProduct(KV_Vector3D_Y, KV_Vector3D_Z), 1, 0, 0);
    ExpectVector(CrossProduct(KV_Vector3D(1, 2, 3), KV_Vector3D(4, 5, 6)), -3, 6, -3);
}

TEST(KV_Vector3D, InequalityIgnoresNaNComponents)
{
    EXPECT_FALSE(KV_Vector3D(1, 2, 3) != KV_Vector3D(1, 2, 3));
    EXPECT_TRUE(KV_Vector3D(1, 2, 3) != KV_Vector3D(1, 2, 4));
    EXPECT_TRUE(KV_Vector3D(0, 2, 3) != KV_Vector3D(1, 2, 3));
    // -0 and +0 are neither less nor greater.
    EXPECT_FALSE(KV_Vector3D(-0.0f, 0, 0) != KV_Vector3D(0.0f, 0, 0));
    const float nan = KV_UndefinedFloat;
    EXPECT_FALSE(KV_Vector3D(nan, 2, 3) != KV_Vector3D(1, 2, 3));
    EXPECT_FALSE(KV_Vector3D_Undefined != KV_Vector3D(5, 6, 7));
    EXPECT_TRUE(KV_Vector3D(nan, 2, 3) != KV_Vector3D(1, 2, 9));
    EXPECT_TRUE(KV_Vector3D(1, 2, 3) == KV_Vector3D(1, 2, 3));
}

TEST(KV_Vector3D, HeaderConstants)
{
    ExpectVector(KV_Vector3D_Zero, 0, 0, 0);
    ExpectVector(KV_Vector3D_X, 1, 0, 0);
    ExpectVector(KV_Vector3D_Y, 0, 1, 0);
    ExpectVector(KV_Vector3D_Z, 0, 0, 1);
    ExpectVector(KV_Vector3D_XY, 1, 1, 0);
    ExpectVector(KV_Vector3D_XZ, 1, 0, 1);
    ExpectVector(KV_Vector3D_YZ, 0, 1, 1);
    ExpectVector(KV_Vector3D_XYZ, 1, 1, 1);

    EXPECT_EQ(Bits(KV_LargestFloat), 0x7F7FFFFFu);
    EXPECT_EQ(KV_LargestFloat, 3.4028235e38f);
    ExpectVector(KV_Vector3D_Largest, KV_LargestFloat, KV_LargestFloat, KV_LargestFloat);

    EXPECT_EQ(Bits(KV_UndefinedFloat), 0xFFC00000u);
    EXPECT_EQ(Bits(KV_Vector3D_Undefined.x), 0xFFC00000u);
    EXPECT_EQ(Bits(KV_Vector3D_Undefined.y), 0xFFC00000u);
    EXPECT_EQ(Bits(KV_Vector3D_Undefined.z), 0xFFC00000u);
}

TEST(KV_Vector3D, Dump)
{
    std::ostringstream os;
    KV_Vector3D(1.5f, -2.0f, 1.0f / 3.0f).Dump(os);
    EXPECT_EQ(os.str(), "KV_Vector3D(1.5,-2,0.333333) \n");
}

TEST(KV_Vector2D, ConstructAndDump)
{
    const KV_Vector2D t(0.25f, 1.0f);
    EXPECT_EQ(t.u, 0.25f);
    EXPECT_EQ(t.v, 1.0f);
    std::ostringstream os;
    KV_Vector2D(0.25f, -1.0e-7f).Dump(os);
    EXPECT_EQ(os.str(), "KV_Vector2D: 0.25 -1e-07\n");
}

TEST(KV_Vector3D, StoredInBlockLists)
{
    KV_List<KV_Vector3D> points(4);
    for (int k = 0; k < 10; ++k)
        points.Append(KV_Vector3D(float(k), float(2 * k), float(3 * k)));
    ASSERT_EQ(points.Count(), 10u);
    ExpectVector(points[7], 7, 14, 21);
    KV_List<KV_Vector2D> coords(2);
    coords.Append(KV_Vector2D(0.5f, 0.75f));
    EXPECT_EQ(coords[0].v, 0.75f);
}
