#include "render/KV_OGLTransform.h"

#include "foundation/KV_Dump.h"
#include "math/KV_Quaternion.h"

#include <GL/gl.h>

namespace
{
// The 4 x 4 matrix with rotation block r (3 x 3) and translation t.
KV_Matrix Affine(const KV_Matrix& r, const KV_Vector3D& t)
{
    KV_Matrix m = KV_Matrix::Identity(4);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) m(i, j) = r(i, j);
    m(1, 4) = t.x;
    m(2, 4) = t.y;
    m(3, 4) = t.z;
    return m;
}

KV_Matrix Rotation(float angle, const KV_Vector3D& axis)
{
    return RotationFromQuaternion(KV_Quaternion::FromAxisAngle(angle, axis));
}
}  // namespace

KV_OGLTransform::KV_OGLTransform() : mkTransform(KV_Matrix::Identity(4)), mbResetGLMatrix(false) {}

void KV_OGLTransform::Apply() const
{
    glMatrixMode(GL_MODELVIEW);
    if (mbResetGLMatrix)
        glLoadIdentity();
    GLfloat m[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) m[c * 4 + r] = mkTransform(r + 1, c + 1);
    glMultMatrixf(m);
}

void KV_OGLTransform::SetTranslation(const KV_Vector3D& v)
{
    mkTransform(1, 4) = v.x;
    mkTransform(2, 4) = v.y;
    mkTransform(3, 4) = v.z;
}

KV_Vector3D KV_OGLTransform::GetTranslation() const
{
    return KV_Vector3D(mkTransform(1, 4), mkTransform(2, 4), mkTransform(3, 4));
}

KV_Matrix KV_OGLTransform::GetRotation() const
{
    KV_Matrix r(3, 3);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) r(i, j) = mkTransform(i, j);
    return r;
}

KV_Vector3D KV_OGLTransform::GetAxis(int k) const
{
    return KV_Vector3D(mkTransform(1, k), mkTransform(2, k), mkTransform(3, k));
}

void KV_OGLTransform::Translate(const KV_Vector3D& v)
{
    mkTransform *= Affine(KV_Matrix::Identity(3), v);
}

void KV_OGLTransform::Rotate(float angle, const KV_Vector3D& axis)
{
    mkTransform *= Affine(Rotation(angle, axis), KV_Vector3D_Zero);
}

void KV_OGLTransform::RotateAbout(const KV_Vector3D& centre, const KV_Vector3D& axis, float angle)
{
    const KV_Matrix r = Rotation(angle, axis);
    // (I - R)·centre keeps the centre where it is.
    const KV_Vector3D turned = r * centre;
    mkTransform *= Affine(r, centre - turned);
}

void KV_OGLTransform::Reset()
{
    mkTransform = KV_Matrix::Identity(4);
}

KV_Vector3D KV_OGLTransform::TransformPoint(const KV_Vector3D& p) const
{
    const KV_Matrix& m = mkTransform;
    return KV_Vector3D(m(1, 1) * p.x + m(1, 2) * p.y + m(1, 3) * p.z + m(1, 4),
                       m(2, 1) * p.x + m(2, 2) * p.y + m(2, 3) * p.z + m(2, 4),
                       m(3, 1) * p.x + m(3, 2) * p.y + m(3, 3) * p.z + m(3, 4));
}

void KV_OGLTransform::Dump(std::ostream& os) const
{
    KV_DumpClass(os, " KV_OGLTransform");
    KV_DumpMemberName(os, "mkTransform");
    mkTransform.Dump(os);
    KV_DumpMember(os, "mbResetGLMatrix", mbResetGLMatrix ? 1 : 0);
}
