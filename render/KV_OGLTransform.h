#pragma once
// KV_OGLTransform: a 4 x 4 model transform (rows and columns 1..4) acting on column vectors:
// a point p maps to M·(p, 1), the translation being column 4. Every matrix operation
// multiplies on the right, so a later operation acts first on the points.

#include "math/KV_Matrix.h"
#include "math/KV_Vector3D.h"
#include "render/KV_OGLObject.h"

class KV_OGLTransform : public KV_OGLObject
{
public:
    // The identity, multiplied onto the current matrix when applied.
    KV_OGLTransform();

    // Selects the model-view matrix and multiplies mkTransform onto it (replaces it when
    // mbResetGLMatrix is set).
    void Apply() const override;
    void Dump(std::ostream& os) const override;

    void SetTranslation(const KV_Vector3D& v);
    KV_Vector3D GetTranslation() const;
    // The upper-left 3 x 3 block.
    KV_Matrix GetRotation() const;
    // Column k (1, 2 or 3), rows 1 to 3: the transform's x, y and z axes.
    KV_Vector3D GetAxis(int k) const;
    // M = M·T(v).
    void Translate(const KV_Vector3D& v);
    // M = M·R, R the turn by angle degrees about axis (normalised unless zero).
    void Rotate(float angle, const KV_Vector3D& axis);
    // M = M·[R | (I - R)·centre]: the turn by angle degrees about the line through centre
    // along axis.
    void RotateAbout(const KV_Vector3D& centre, const KV_Vector3D& axis, float angle);
    void Reset();
    // M·(p, 1), the image of point p.
    KV_Vector3D TransformPoint(const KV_Vector3D& p) const;

    KV_Matrix mkTransform;
    bool mbResetGLMatrix;
};
