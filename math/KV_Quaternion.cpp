#include "math/KV_Quaternion.h"

#include "math/KV_Scalar.h"

KV_Quaternion KV_Quaternion::FromAxisAngle(float degrees, KV_Vector3D axis)
{
    axis.Normalise();
    const float half = degrees * KV_DegreesToRadians / 2.0f;
    const float s = static_cast<float>(KV_Sin(half));
    return KV_Quaternion(static_cast<float>(KV_Cos(half)), s * axis.x, s * axis.y, s * axis.z);
}

KV_Matrix RotationFromQuaternion(const KV_Quaternion& q)
{
    const KV_Vector3D v(q.x, q.y, q.z);

    KV_Matrix cross(3, 3);
    cross.SetRows(KV_Vector3D(0.0f, -q.z, q.y), KV_Vector3D(q.z, 0.0f, -q.x),
                  KV_Vector3D(-q.y, q.x, 0.0f));

    KV_Matrix r = (q.w * q.w - DotProduct(v, v)) * KV_Matrix::Identity(3);
    r += (2.0f * q.w) * cross;
    r += 2.0f * KV_Matrix::OuterProduct(v, v);
    return r;
}
