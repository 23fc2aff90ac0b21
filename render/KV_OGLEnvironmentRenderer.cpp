#include "render/KV_OGLEnvironmentRenderer.h"

#include "foundation/KV_Dump.h"
#include "math/KV_Scalar.h"

#include <GL/gl.h>

#include <string>

namespace
{
int Rounded(float x)
{
    // Add a half and truncate: sizes and positions here are never negative.
    return static_cast<int>(x + 0.5f);
}

// One report line: the label, then each value after two blanks, or "Not Available" when the
// query set an OpenGL error.
template <typename T>
void ReportValues(std::ostream& os, const char* label, const T* values, int count)
{
    os << label;
    if (glGetError() != GL_NO_ERROR)
    {
        os << "Not Available" << std::endl;
        return;
    }
    for (int i = 0; i < count; ++i) os << (i ? "  " : "") << values[i];
    os << std::endl;
}

void ReportIntegers(std::ostream& os, const char* label, GLenum what, int count)
{
    GLint values[4] = {0, 0, 0, 0};
    glGetIntegerv(what, values);
    ReportValues(os, label, values, count);
}

void ReportMatrix(std::ostream& os, const char* label, GLenum what)
{
    GLdouble m[16] = {};
    glGetDoublev(what, m);
    os << label;
    if (glGetError() != GL_NO_ERROR)
    {
        os << "Not Available" << std::endl;
        return;
    }
    os << std::endl;
    for (int r = 0; r < 4; ++r)
    {
        os << "    ";
        for (int c = 0; c < 4; ++c) os << (c ? "  " : "") << m[c * 4 + r];
        os << std::endl;
    }
}
}  // namespace

KV_OGLEnvironmentRenderer::KV_OGLEnvironmentRenderer() = default;

void KV_OGLEnvironmentRenderer::InitialiseGLState()
{
    glEnable(GL_LIGHTING);
    const GLfloat twoSided = 1.0f;
    glLightModelfv(GL_LIGHT_MODEL_TWO_SIDE, &twoSided);
    glEnable(GL_DEPTH_TEST);
}

void KV_OGLEnvironmentRenderer::RenderScene()
{
    if (!mkClippingVolumePtr.IsNull())
        mkClippingVolumePtr->Apply();
    glShadeModel(meShadingModel == SHADING_SMOOTH ? GL_SMOOTH : GL_FLAT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    mkViewport.Apply();
    mkCameraTransform.mbResetGLMatrix = true;
    mkCameraTransform.Apply();
    mkWorldTransform.mbResetGLMatrix = false;
    mkWorldTransform.Apply();
}

int KV_OGLEnvironmentRenderer::BeginMemoryContext(int width, int height, const KV_DeviceContext* dc,
                                                  unsigned int flags)
{
    const int result = KV_WGLRenderer::BeginMemoryContext(width, height, dc, flags);
    // Only a context made here may receive the lights.
    if (result == RESULT_OK)
        for (const KV_Light& light : mkLights) light.Apply();
    return result;
}

void KV_OGLEnvironmentRenderer::SetWindowSize(int width, int height)
{
    mkWindowSize[0] = width;
    mkWindowSize[1] = height;
    mbIsWindowSizeSet = true;
    SetViewport(KV_Viewport(0, 0, static_cast<unsigned int>(width > 0 ? width : 0),
                            static_cast<unsigned int>(height > 0 ? height : 0)));
}

void KV_OGLEnvironmentRenderer::SetViewport(const KV_Viewport& viewport)
{
    mkViewport = viewport;
    mbIsViewportSet = true;
}

void KV_OGLEnvironmentRenderer::Resize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    KV_Viewport viewport(0, 0, static_cast<unsigned int>(width), static_cast<unsigned int>(height));
    // Scaling needs a known, non-empty old size; without one the viewport is the window.
    if (mbIsWindowSizeSet && mkWindowSize[0] > 0 && mkWindowSize[1] > 0)
    {
        const float sx = static_cast<float>(width) / static_cast<float>(mkWindowSize[0]);
        const float sy = static_cast<float>(height) / static_cast<float>(mkWindowSize[1]);
        viewport.mkLowerLeft[0] = Rounded(mkViewport.mkLowerLeft[0] * sx);
        viewport.mkLowerLeft[1] = Rounded(mkViewport.mkLowerLeft[1] * sy);
        viewport.munWidth = static_cast<unsigned int>(Rounded(mkViewport.munWidth * sx));
        viewport.munHeight = static_cast<unsigned int>(Rounded(mkViewport.munHeight * sy));
    }
    if (!mkClippingVolumePtr.IsNull())
        mkClippingVolumePtr->FitToViewport(viewport);
    SetViewport(viewport);
    mkWindowSize[0] = width;
    mkWindowSize[1] = height;
    mbIsWindowSizeSet = true;
}

void KV_OGLEnvironmentRenderer::SetClippingVolume(const KV_ClippingVolume& volume)
{
    mkClippingVolumePtr = KV_SmartPtr<KV_ClippingVolume>(volume.Clone());
}

void KV_OGLEnvironmentRenderer::AddLight(const KV_Light& light)
{
    MakeCurrent();
    mkLights.push_back(light);
    mkLights.back().Apply();
}

void KV_OGLEnvironmentRenderer::SetLight(const KV_Light& light, unsigned int i)
{
    MakeCurrent();
    if (i >= mkLights.size())
        return;
    mkLights[i] = light;
    mkLights[i].Apply();
}

void KV_OGLEnvironmentRenderer::SetCameraTransform(const KV_OGLTransform& transform)
{
    mkCameraTransform.mkTransform = transform.mkTransform;
}

void KV_OGLEnvironmentRenderer::SetCameraTranslation(const KV_Vector3D& v)
{
    mkCameraTransform.SetTranslation(v);
}

void KV_OGLEnvironmentRenderer::ResetWorldTransform()
{
    mkWorldTransform.Reset();
}

void KV_OGLEnvironmentRenderer::Dolly(float d)
{
    mkCameraTransform.Translate(d * mkCameraTransform.GetAxis(3));
}

void KV_OGLEnvironmentRenderer::Pan(float a, float b)
{
    mkCameraTransform.Translate(-a * mkCameraTransform.GetAxis(1) -
                                b * mkCameraTransform.GetAxis(2));
}

void KV_OGLEnvironmentRenderer::Roll(float angle)
{
    // The eye's viewing axis in surface coordinates: Rᵀ·Z.
    const KV_Vector3D w = mkCameraTransform.GetAxis(3) * mkWorldTransform.GetRotation();
    const KV_Vector3D& c = mkWorldCentreOfRotation;
    mkWorldTransform.Translate(c);
    mkWorldTransform.Rotate(angle, w);
    mkWorldTransform.Translate(-c);
}

void KV_OGLEnvironmentRenderer::RotateWorld(const KV_Vector3D& axis, float angle)
{
    const KV_Vector3D surfaceAxis = axis * mkWorldTransform.GetRotation();
    mkWorldTransform.RotateAbout(mkWorldCentreOfRotation, surfaceAxis, angle);
}

void KV_OGLEnvironmentRenderer::ReportGLSettings(std::ostream& os)
{
    KV_WGLRenderer::ReportGLSettings(os);
    while (glGetError() != GL_NO_ERROR)
    {
    }
    os << "Environment Settings" << std::endl;
    ReportIntegers(os, "  Viewport    ", GL_VIEWPORT, 4);
    GLint planes = 0;
    glGetIntegerv(GL_MAX_CLIP_PLANES, &planes);
    ReportValues(os, "  Max Clipping Planes   ", &planes, 1);
    for (GLint i = 0; i < planes && i < 64; ++i)
    {
        os << "    Clipping Plane " << i << std::endl;
        if (glIsEnabled(GL_CLIP_PLANE0 + i))
        {
            GLdouble equation[4] = {};
            glGetClipPlane(GL_CLIP_PLANE0 + i, equation);
            const std::string label = "     Clipping Plane " + std::to_string(i) + "  ";
            ReportValues(os, label.c_str(), equation, 4);
        }
        else
        {
            os << "Inactive" << std::endl;
        }
    }
    ReportIntegers(os, "  Shading Model   ", GL_SHADE_MODEL, 1);
    GLfloat pointSize = 0.0f;
    glGetFloatv(GL_POINT_SIZE, &pointSize);
    ReportValues(os, "  Point Size      ", &pointSize, 1);
    ReportIntegers(os, "  Polygon Mode    ", GL_POLYGON_MODE, 2);
    ReportIntegers(os, "  Lighting Enabled  ", GL_LIGHTING, 1);
    GLint lights = 0;
    glGetIntegerv(GL_MAX_LIGHTS, &lights);
    if (glGetError() == GL_NO_ERROR)
    {
        os << "    Maximum Number of Lights  " << lights << std::endl;
        for (GLint i = 0; i < lights && i < 64; ++i)
        {
            os << "      Light " << i << std::endl;
            const GLenum light = GL_LIGHT0 + i;
            if (!glIsEnabled(light))
            {
                os << "Inactive" << std::endl;
                continue;
            }
            const std::pair<const char*, GLenum> items[] = {
                {"        Position  ", GL_POSITION},
                {"        Ambient Intensity  ", GL_AMBIENT},
                {"        Diffuse Intensity  ", GL_DIFFUSE},
                {"        Specular Intensity  ", GL_SPECULAR}};
            for (const auto& item : items)
            {
                GLfloat values[4] = {};
                glGetLightfv(light, item.second, values);
                ReportValues(os, item.first, values, 4);
            }
        }
    }
    ReportMatrix(os, "  Model-View Matrix    ", GL_MODELVIEW_MATRIX);
    ReportMatrix(os, "  Projection Matrix    ", GL_PROJECTION_MATRIX);
}

void KV_OGLEnvironmentRenderer::Dump(std::ostream& os) const
{
    KV_WGLRenderer::Dump(os);
    KV_DumpClass(os, "KV_OGLEnvironmentRenderer");
    KV_DumpMemberName(os, "mkCameraTransform");
    mkCameraTransform.Dump(os);
    KV_DumpMemberName(os, "mkWorldTransform");
    mkWorldTransform.Dump(os);
    KV_DumpMemberName(os, "mkClippingVolumePtr");
    mkClippingVolumePtr.Dump(os);
    KV_DumpMemberName(os, "mkViewport");
    mkViewport.Dump(os);
    KV_DumpMember(os, "mbIsViewportSet", mbIsViewportSet ? 1 : 0);
    KV_DumpMember(os, "meShadingModel", meShadingModel);
    for (size_t i = 0; i < mkLights.size(); ++i)
    {
        os << " mkLights[" << i << "]: ";
        mkLights[i].Dump(os);
    }
    KV_DumpMemberName(os, "mkWorldCentreOfRotation");
    mkWorldCentreOfRotation.Dump(os);
    os << std::flush;
    os << " mkWindowSize: " << mkWindowSize[0] << ' ' << mkWindowSize[1] << std::endl;
    KV_DumpMember(os, "mbIsWindowSizeSet", mbIsWindowSizeSet ? 1 : 0);
}
