#pragma once
// KV_Quaternion: a rotation as the scalar part w and the vector part (x, y, z). A default
// quaternion has w = -1 and a zero vector part until it is set.

#include "math/KV_Matrix.h"
#include "math/KV_Vector3D.h"

class KV_Quaternion
{
public:
    float w = -1.0f;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    KV_Quaternion() = default;
    KV_Quaternion(float aw, float ax, float ay, float az) : w(aw), x(ax), y(ay), z(az) {}

    // The turn of `degrees` about `axis`: (cos(a/2), sin(a/2)·axis) with a in radians. The
    // axis is normalised first unless it is zero; a zero axis gives a zero vector part.
    static KV_Quaternion FromAxisAngle(float degrees, KV_Vector3D axis);
};

// Degrees to radians, as the scene transforms convert them.
const float KV_DegreesToRadians = 0.017453292f;

// The 3 x 3 rotation (w² − |v|²)·I + 2w·K + 2·v·vᵀ with v = (x, y, z) and K its
// cross-product matrix, so that RotationFromQuaternion(q) * p turns p. Exact for unit
// quaternions; other quaternions also scale.
KV_Matrix RotationFromQuaternion(const KV_Quaternion& q);
