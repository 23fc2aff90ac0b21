#include "math/KV_Quaternion.h"
#include "math/KV_Scalar.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const float kTolerance = 1e-6f;

void ExpectNear(const KV_Vector3D& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, kTolerance);
    EXPECT_NEAR(v.y, y, kTolerance);
    EXPECT_NEAR(v.z, z, kTolerance);
}

}  // namespace

TEST(KV_Quaternion, DefaultHasMinusOneScalarPart)
{
    const KV_Quaternion q;
    EXPECT_EQ(q.w, -1.0f);
}

TEST(RotationFromQuaternion, KnownTurns)
{
    const KV_Matrix identity = RotationFromQuaternion(KV_Quaternion(1, 0, 0, 0));
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            EXPECT_EQ(identity(i, j), i == j ? 1.0f : 0.0f);

    const float c = std::cos(0.25 * M_PI);
    const float s = std::sin(0.25 * M_PI);
    const KV_Matrix quarterZ = RotationFromQuaternion(KV_Quaternion(c, 0, 0, s));
    ExpectNear(quarterZ * KV_Vector3D_X, 0, 1, 0);
    ExpectNear(quarterZ * KV_Vector3D_Y, -1, 0, 0);
    ExpectNear(quarterZ * KV_Vector3D_Z, 0, 0, 1);
    // The transposed product turns the other way.
    ExpectNear(KV_Vector3D_X * quarterZ, 0, -1, 0);

    const KV_Matrix quarterX = RotationFromQuaternion(KV_Quaternion(c, s, 0, 0));
    ExpectNear(quarterX * KV_Vector3D_Y, 0, 0, 1);
    const KV_Matrix quarterY = RotationFromQuaternion(KV_Quaternion(c, 0, s, 0));
    ExpectNear(quarterY * KV_Vector3D_Z, 1, 0, 0);

    // Half a turn about (1, 1, 0)/√2 exchanges x and y and reverses z.
    const KV_Matrix half = RotationFromQuaternion(KV_Quaternion(0, s, s, 0));
    ExpectNear(half * KV_Vector3D(1, 2, 3), 2, 1, -3);
}

TEST(RotationFromQuaternion, FromAxisAngleInDegrees)
{
    // A third of a turn about (1, 1, 1) cycles the axes; the axis need not be unit length.
    const KV_Matrix r =
        RotationFromQuaternion(KV_Quaternion::FromAxisAngle(120.0f, KV_Vector3D(2, 2, 2)));
    ExpectNear(r * KV_Vector3D_X, 0, 1, 0);
    ExpectNear(r * KV_Vector3D_Y, 0, 0, 1);
    ExpectNear(r * KV_Vector3D_Z, 1, 0, 0);

    // Seventy-two turns of 5 degrees come back to the start.
    KV_Matrix total = KV_Matrix::Identity(3);
    const KV_Matrix step =
        RotationFromQuaternion(KV_Quaternion::FromAxisAngle(5.0f, KV_Vector3D(0, 1, 0)));
    for (int k = 0; k < 72; ++k)
        total *= step;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            EXPECT_NEAR(total(i, j), i == j ? 1.0f : 0.0f, 1e-5f);

    const KV_Quaternion noAxis = KV_Quaternion::FromAxisAngle(90.0f, KV_Vector3D_Zero);
    EXPECT_EQ(noAxis.x, 0.0f);
    EXPECT_NEAR(noAxis.w, std::cos(0.25 * M_PI), 1e-7);
}

TEST(RotationFromQuaternion, IsOrthonormalForUnitQuaternions)
{
    const KV_Quaternion q = KV_Quaternion::FromAxisAngle(37.0f, KV_Vector3D(0.3f, -1.2f, 0.7f));
    const KV_Matrix r = RotationFromQuaternion(q);
    KV_Matrix product = r.Transpose();
    product *= r;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            EXPECT_NEAR(product(i, j), i == j ? 1.0f : 0.0f, 1e-6f);
    // The axis stays put.
    KV_Vector3D axis(0.3f, -1.2f, 0.7f);
    axis.Normalise();
    const KV_Vector3D turned = r * axis;
    ExpectNear(turned, axis.x, axis.y, axis.z);
}

TEST(KV_Scalar, RoundsHalvesAwayFromZero)
{
    EXPECT_EQ(KV_Round(2.5f), 3.0);
    EXPECT_EQ(KV_Round(-2.5f), -3.0);
    EXPECT_EQ(KV_Round(2.4999f), 2.0);
    EXPECT_EQ(KV_Round(-2.4999f), -2.0);
    EXPECT_EQ(KV_Round(0.49999997f), 0.0);
    EXPECT_EQ(KV_Round(0.0f), 0.0);
    EXPECT_EQ(KV_Round(16777215.0f), 16777215.0);
}

TEST(KV_Scalar, SignTransfer)
{
    EXPECT_EQ(KV_Sign(3.0f, 1.0f), 3.0);
    EXPECT_EQ(KV_Sign(-3.0f, 1.0f), 3.0);
    EXPECT_EQ(KV_Sign(3.0f, -0.5f), -3.0);
    EXPECT_EQ(KV_Sign(-3.0f, 0.0f), 3.0);
    EXPECT_EQ(KV_Sign(-3.0f, -0.0f), 3.0);
}

TEST(KV_Scalar, HypotenuseAvoidsOverflow)
{
    EXPECT_EQ(KV_Hypot(0.0f, 0.0f), 0.0);
    EXPECT_DOUBLE_EQ(KV_Hypot(3.0f, 4.0f), 5.0);
    EXPECT_DOUBLE_EQ(KV_Hypot(-3.0f, -4.0f), 5.0);
    EXPECT_DOUBLE_EQ(KV_Hypot(4.0f, -3.0f), 5.0);
    EXPECT_DOUBLE_EQ(KV_Hypot(0.0f, -2.0f), 2.0);
    EXPECT_NEAR(KV_Hypot(3e38f, 2e38f), std::sqrt(13.0) * 1e38, 1e32);
    const float a = 3e-44f, b = 4e-44f;  // denormals
    EXPECT_DOUBLE_EQ(KV_Hypot(a, b), std::sqrt(double(a) * a + double(b) * b));
}

TEST(KV_Scalar, ElementaryFunctions)
{
    EXPECT_DOUBLE_EQ(KV_Sin(0.5f), std::sin(double(0.5f)));
    EXPECT_DOUBLE_EQ(KV_Cos(0.5f), std::cos(double(0.5f)));
    EXPECT_DOUBLE_EQ(KV_Tan(0.5f), std::tan(double(0.5f)));
    EXPECT_DOUBLE_EQ(KV_Atan2(1.0f, -1.0f), 0.75 * M_PI);
    EXPECT_DOUBLE_EQ(KV_Pow(2.0f, 10.0f), 1024.0);
    EXPECT_DOUBLE_EQ(KV_Sqrt(2.0f), std::sqrt(2.0));
    EXPECT_EQ(KV_Abs(-1.5f), 1.5);
}
