#include "render/KV_OGLRenderer.h"

#include "foundation/KV_Dump.h"
#include "math/KV_Scalar.h"
#include "render/KV_Geometry3D.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

KV_OGLRenderer::KV_OGLRenderer() = default;

KV_OGLRenderer::~KV_OGLRenderer() = default;

void KV_OGLRenderer::RenderScene()
{
    KV_OGLEnvironmentRenderer::RenderScene();
    for (auto& entry : mkActors)
        if (!entry.second->IsDrawnLast())
            entry.second->Draw();
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    for (auto& entry : mkActors)
        if (entry.second->IsDrawnLast())
            entry.second->Draw();
}

void KV_OGLRenderer::CleanUp()
{
    if (IsInitialised())
    {
        MakeCurrent();
        for (auto& entry : mkActors) entry.second->ReleaseGLResources();
    }
    KV_OGLEnvironmentRenderer::CleanUp();
}

int KV_OGLRenderer::BeginMemoryContext(int width, int height, const KV_DeviceContext* dc,
                                       unsigned int flags)
{
    const int result = KV_OGLEnvironmentRenderer::BeginMemoryContext(width, height, dc, flags);
    for (auto& entry : mkActors) entry.second->BeginRenderToMemory();
    return result;
}

void KV_OGLRenderer::EndMemoryContext()
{
    for (auto& entry : mkActors) entry.second->EndRenderToMemory();
    KV_OGLEnvironmentRenderer::EndMemoryContext();
}

void KV_OGLRenderer::AddActor(KV_Actor3D* actor)
{
    KV_SmartPtr<KV_Actor3D> owned(actor);
    if (owned.IsNull() || owned->GetGeometry() == nullptr)
        return;
    MakeCurrent();
    owned->CreateGLResources();
    const KV_Geometry3D* geometry = owned->GetGeometry();
    if (!mkActors.emplace(geometry->munID, owned).second)
        return;
    if (mkActors.size() == 1)
        mkSceneBoundingBox = geometry->GetBoundingBox();
    else
        mkSceneBoundingBox.Union(geometry->GetBoundingBox());
}

void KV_OGLRenderer::RemoveActor(unsigned int id)
{
    MakeCurrent();
    auto it = mkActors.find(id);
    if (it == mkActors.end())
        return;
    it->second->ReleaseGLResources();
    mkActors.erase(it);
    if (!mkActors.empty())
        RecomputeSceneBox(true);
}

void KV_OGLRenderer::RecomputeSceneBox(bool allActors)
{
    bool first = true;
    KV_BoundingBox3D box;
    for (auto& entry : mkActors)
    {
        const KV_Actor3D& actor = *entry.second;
        if ((!allActors && !actor.IsVisible()) || actor.GetGeometry() == nullptr)
            continue;
        const KV_BoundingBox3D actorBox = actor.GetGeometry()->GetBoundingBox();
        if (first)
            box = actorBox;
        else
            box.Union(actorBox);
        first = false;
    }
    if (!first)
        mkSceneBoundingBox = box;
}

void KV_OGLRenderer::ComputeNearFar(float& nearPlane, float& farPlane) const
{
    const KV_Vector3D z = mkCameraTransform.GetAxis(3);
    const KV_Vector3D t = mkCameraTransform.GetTranslation();
    // The eye in world space: Rᵀ·(-t).
    const KV_Vector3D eye = -t * mkCameraTransform.GetRotation();
    float dMin = 0.0f, dMax = 0.0f;
    for (int k = 0; k < 8; ++k)
    {
        const float d = DotProduct(eye - mkSceneBoundingBox.Corner(k), z);
        dMin = k == 0 ? d : std::min(dMin, d);
        dMax = k == 0 ? d : std::max(dMax, d);
    }
    const float diagonal = mkSceneBoundingBox.DiagonalLength();
    nearPlane = dMin - diagonal;
    farPlane = dMax + diagonal;
    if (nearPlane < 0.0f)
        nearPlane = -1.0f;
    if (farPlane < 0.0f)
        farPlane = -1.0f;
}

void KV_OGLRenderer::UpdateNearFar()
{
    if (mkClippingVolumePtr.IsNull())
        return;
    float nearPlane = 0.0f, farPlane = 0.0f;
    ComputeNearFar(nearPlane, farPlane);
    nearPlane = nearPlane > 0.5f ? nearPlane : 0.5f;
    farPlane = farPlane > 1.0f ? farPlane : 100.0f;
    KV_SmartPtr<KV_ClippingVolume> clone(mkClippingVolumePtr->Clone());
    clone->mrNear = nearPlane;
    clone->mrFar = farPlane;
    SetClippingVolume(*clone);
}

void KV_OGLRenderer::ResetCamera(int mode)
{
    MakeCurrent();
    mkCameraTransform.Reset();
    ResetWorldTransform();

    const KV_BoundingBox3D& box = mkSceneBoundingBox;
    const float diagonal = box.DiagonalLength();
    const float distance = 6.0f * diagonal;
    const float height = box.mrYHi - box.mrYLo;
    const KV_Vector3D centre = box.GetCentre();
    // The scene on the viewing axis, its far face (zLo) distance in front of the eye.
    SetCameraTranslation(KV_Vector3D(-centre.x, -centre.y, -box.mrZLo - distance));

    float nearPlane = 0.0f, farPlane = 0.0f;
    ComputeNearFar(nearPlane, farPlane);
    if (nearPlane < 0.0f)
        nearPlane = 0.5f;
    if (farPlane < 0.0f)
        farPlane = 100.0f;

    // Light 0 shines on the scene from its front, along the viewing axis. Lights are
    // directional, so this is the direction from the box's centre to its front face's centre
    // (+z, and +z too for a box without depth), never a point of the scene: read as a
    // direction, the front centre's own coordinates would light a model by where it lies
    // (grazing for one around the origin, head-on for the same model far out along z).
    if (!mkLights.empty())
    {
        KV_Light light = mkLights[0];
        light.mkPosition = KV_Vector3D(0.0f, 0.0f, 1.0f);
        SetLight(light, 0);
    }

    // A viewport without height (none set yet) would make the aspect ratio meaningless.
    const float aspect = mkViewport.munHeight > 0 ? static_cast<float>(mkViewport.munWidth) /
                                                        static_cast<float>(mkViewport.munHeight)
                                                  : 1.0f;
    if (mode == CAMERA_PERSPECTIVE)
    {
        KV_PerspectiveClippingVolume volume;
        volume.mrNear = nearPlane;
        volume.mrFar = farPlane;
        volume.mrAspectRatio = aspect;
        volume.mrFieldOfView = static_cast<float>(std::atan(height / distance) * 114.59156);
        SetClippingVolume(volume);
    }
    else if (mode == CAMERA_ORTHOGRAPHIC)
    {
        KV_OrthographicClippingVolume volume;
        volume.mrNear = nearPlane;
        volume.mrFar = farPlane;
        volume.mrLeft = -aspect * height;
        volume.mrRight = aspect * height;
        volume.mrTop = height;
        volume.mrBottom = -height;
        SetClippingVolume(volume);
    }
}

void KV_OGLRenderer::Dump(std::ostream& os) const
{
    KV_OGLEnvironmentRenderer::Dump(os);
    KV_DumpClass(os, "KV_OGLRenderer");
    os << " mkActors: " << std::endl;
    for (const auto& entry : mkActors) entry.second.Dump(os);
    KV_DumpMemberName(os, "mkSceneBoundingBox");
    mkSceneBoundingBox.Dump(os);
}
