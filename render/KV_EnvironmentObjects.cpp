// The small objects of the view's environment: viewport, clipping volumes and lights.

#include "foundation/KV_Dump.h"
#include "math/KV_Scalar.h"
#include "render/KV_ClippingVolume.h"
#include "render/KV_Light.h"
#include "render/KV_Viewport.h"

#include <GL/gl.h>
#include <GL/glu.h>

void KV_Viewport::Apply() const
{
    glViewport(mkLowerLeft[0], mkLowerLeft[1], static_cast<GLsizei>(munWidth),
               static_cast<GLsizei>(munHeight));
}

void KV_Viewport::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_Viewport");
    os << " mkLowerLeft: " << mkLowerLeft[0] << ' ' << mkLowerLeft[1] << std::endl;
    KV_DumpMember(os, "munWidth", munWidth);
    KV_DumpMember(os, "munHeight", munHeight);
}

void KV_ClippingVolume::Apply() const
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    ApplyProjection();
}

void KV_ClippingVolume::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_ClippingVolume");
    KV_DumpMember(os, "mrNear", mrNear);
    KV_DumpMember(os, "mrFar", mrFar);
}

float KV_PerspectiveClippingVolume::GetHeight() const
{
    // 0.008726646 is pi / 360: the tangent of half the angle, at the mid depth.
    return static_cast<float>(KV_Tan(mrFieldOfView * 0.008726646f) * (mrNear + mrFar) * 0.5);
}

float KV_PerspectiveClippingVolume::GetWidth() const
{
    return GetHeight() * mrAspectRatio;
}

void KV_PerspectiveClippingVolume::FitToViewport(const KV_Viewport& viewport)
{
    if (viewport.munHeight == 0)
        return;
    mrAspectRatio = static_cast<float>(viewport.munWidth) / static_cast<float>(viewport.munHeight);
}

void KV_PerspectiveClippingVolume::ApplyProjection() const
{
    gluPerspective(mrFieldOfView, mrAspectRatio, mrNear, mrFar);
}

void KV_PerspectiveClippingVolume::Dump(std::ostream& os) const
{
    KV_ClippingVolume::Dump(os);
    KV_DumpClass(os, "KV_PerspectiveClippingVolume");
    KV_DumpMember(os, "mrAspectRatio", mrAspectRatio);
    KV_DumpMember(os, "mrFieldOfView", mrFieldOfView);
}

void KV_OrthographicClippingVolume::FitToViewport(const KV_Viewport& viewport)
{
    if (viewport.munHeight == 0)
        return;
    const float centre = (mrRight + mrLeft) * 0.5f;
    const float half =
        (mrTop - mrBottom) * 0.5f *
        (static_cast<float>(viewport.munWidth) / static_cast<float>(viewport.munHeight));
    mrLeft = centre - half;
    mrRight = centre + half;
}

void KV_OrthographicClippingVolume::ApplyProjection() const
{
    glOrtho(mrLeft, mrRight, mrBottom, mrTop, mrNear, mrFar);
}

void KV_OrthographicClippingVolume::Dump(std::ostream& os) const
{
    KV_ClippingVolume::Dump(os);
    KV_DumpClass(os, "KV_OrthographicClippingVolume");
    KV_DumpMember(os, "mrLeft", mrLeft);
    KV_DumpMember(os, "mrRight", mrRight);
    KV_DumpMember(os, "mrTop", mrTop);
    KV_DumpMember(os, "mrBottom", mrBottom);
}

void KV_Light::Apply() const
{
    if (munLightIndex > 7)
        return;
    const GLenum light = GL_LIGHT0 + munLightIndex;
    glLightfv(light, GL_AMBIENT, mkAmbient.Data());
    glLightfv(light, GL_SPECULAR, mkSpecular.Data());
    glLightfv(light, GL_DIFFUSE, mkDiffuse.Data());
    // GL_POSITION is taken through the model-view matrix current at the call: set under the
    // identity, a light's direction is the same in eye space whatever the last frame left
    // there (a standard view, a new file and an off-screen picture are lit alike).
    const GLfloat direction[4] = {mkPosition.x, mkPosition.y, mkPosition.z, 0.0f};
    GLint mode = GL_MODELVIEW;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glLightfv(light, GL_POSITION, direction);
    glPopMatrix();
    glMatrixMode(static_cast<GLenum>(mode));
    if (mbLightOn)
        glEnable(light);
    else
        glDisable(light);
}

void KV_Light::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_Light");
    KV_DumpMember(os, "mbLightOn", mbLightOn ? 1 : 0);
    KV_DumpMemberName(os, "mkSpecular");
    mkSpecular.Dump(os);
    KV_DumpMemberName(os, "mkDiffuse");
    mkDiffuse.Dump(os);
    KV_DumpMemberName(os, "mkAmbient");
    mkAmbient.Dump(os);
    KV_DumpMemberName(os, "mkPosition");
    mkPosition.Dump(os);
}
