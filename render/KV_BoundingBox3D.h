#pragma once
// KV_BoundingBox3D: an axis-aligned box, the extent of a geometry or of the whole scene.

#include "math/KV_Vector3D.h"

#include <ostream>

class KV_BoundingBox3D
{
public:
    KV_BoundingBox3D() = default;
    KV_BoundingBox3D(float xLo, float xHi, float yLo, float yHi, float zLo, float zHi)
    {
        Set(xLo, xHi, yLo, yHi, zLo, zHi);
    }
    virtual ~KV_BoundingBox3D() = default;
    KV_BoundingBox3D(const KV_BoundingBox3D&) = default;
    KV_BoundingBox3D& operator=(const KV_BoundingBox3D&) = default;

    void Set(float xLo, float xHi, float yLo, float yHi, float zLo, float zHi);
    KV_Vector3D GetCentre() const;
    // Widens this box to hold other as well.
    void Union(const KV_BoundingBox3D& other);
    // Length of the diagonal from the low corner to the high corner.
    float DiagonalLength() const;
    // Corner k (0..7): bit 0 picks xHi, bit 1 yHi, bit 2 zHi.
    KV_Vector3D Corner(int k) const;

    virtual void Dump(std::ostream& os) const;

    float mrXLo = 0.0f;
    float mrXHi = 0.0f;
    float mrYLo = 0.0f;
    float mrYHi = 0.0f;
    float mrZLo = 0.0f;
    float mrZHi = 0.0f;
};
