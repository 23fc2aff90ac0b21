#pragma once
// KV_OGLEnvironmentRenderer: everything about a view that is not an actor: the camera and
// world transforms, the projection (clipping volume), the viewport, the shading model, the
// lights, the centre the world turns about and the window size. The view's mouse and timer
// input arrive here as dolly, pan, roll and rotate operations.
//
// The camera transform starts the model-view matrix of every frame and the world transform
// is multiplied after it. Lights are sent when they are set (and when a memory context is
// made), so their directions stay fixed in the model-view space current at that moment.

#include "foundation/KV_SmartPtr.h"
#include "math/KV_Vector3D.h"
#include "render/KV_ClippingVolume.h"
#include "render/KV_Light.h"
#include "render/KV_OGLTransform.h"
#include "render/KV_Viewport.h"
#include "render/KV_WGLRenderer.h"

#include <vector>

class KV_OGLEnvironmentRenderer : public KV_WGLRenderer
{
public:
    // meShadingModel values.
    enum
    {
        SHADING_FLAT = 0,
        SHADING_SMOOTH = 1
    };

    KV_OGLEnvironmentRenderer();

    // Lighting on, two-sided lighting, depth test.
    void InitialiseGLState() override;
    // Projection, shading model, blending, viewport, camera and world transforms.
    void RenderScene() override;
    // The memory context, then every light sent to it.
    int BeginMemoryContext(int width, int height, const KV_DeviceContext* dc,
                           unsigned int flags) override;
    // The window-system report, then the "Environment Settings" report.
    void ReportGLSettings(std::ostream& os) override;
    void Dump(std::ostream& os) const override;

    // Stores the size and makes the viewport the whole window.
    void SetWindowSize(int width, int height);
    void SetViewport(const KV_Viewport& viewport);
    // The window was resized: the viewport scales with the window and the clipping volume
    // follows its shape. A size with a zero side (a minimised window) changes nothing; before
    // any window size is known the viewport becomes the whole window.
    void Resize(int width, int height);
    // Keeps a copy of volume; the caller keeps its own.
    void SetClippingVolume(const KV_ClippingVolume& volume);
    // The current volume; null before one is set.
    const KV_ClippingVolume* GetClippingVolume() const { return mkClippingVolumePtr.Get(); }
    const KV_Viewport& GetViewport() const { return mkViewport; }
    // Light i, 0-based in insertion order; i must be below GetLightCount().
    const KV_Light& GetLight(unsigned int i) const { return mkLights[i]; }
    unsigned int GetLightCount() const { return static_cast<unsigned int>(mkLights.size()); }
    // Both make the context current and send the light; they throw KV_WindowsException
    // when the context cannot be made current. SetLight ignores an index without a light.
    void AddLight(const KV_Light& light);
    void SetLight(const KV_Light& light, unsigned int i);

    void SetCameraTransform(const KV_OGLTransform& transform);
    void SetCameraTranslation(const KV_Vector3D& v);
    void ResetWorldTransform();
    const KV_OGLTransform& GetCameraTransform() const { return mkCameraTransform; }
    const KV_OGLTransform& GetWorldTransform() const { return mkWorldTransform; }
    void SetShadingModel(int model) { meShadingModel = model; }

    // Moves the camera d along its own z axis (towards the scene for positive d).
    void Dolly(float d);
    // Moves the camera by -a along its x axis and -b along its y axis.
    void Pan(float a, float b);
    // Turns the world angle degrees about the viewing axis through the centre of rotation.
    void Roll(float angle);
    // Turns the world angle degrees about axis, given in eye coordinates, through the centre
    // of rotation: the surface always turns about a screen-fixed axis.
    void RotateWorld(const KV_Vector3D& axis, float angle);

    // The point the world turns about (the view sets the surface centroid).
    KV_Vector3D mkWorldCentreOfRotation;

protected:
    KV_OGLTransform mkCameraTransform;
    KV_OGLTransform mkWorldTransform;
    KV_SmartPtr<KV_ClippingVolume> mkClippingVolumePtr;
    KV_Viewport mkViewport;
    bool mbIsViewportSet = false;
    int meShadingModel = SHADING_SMOOTH;
    std::vector<KV_Light> mkLights;
    int mkWindowSize[2] = {0, 0};
    bool mbIsWindowSizeSet = false;
};
