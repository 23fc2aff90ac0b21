#include "render/KV_ViewDefaults.h"

#include "render/KV_OGLEnvironmentRenderer.h"

KV_Light KV_ViewLight(unsigned char index)
{
    KV_Light light;
    light.munLightIndex = index;
    light.mbLightOn = true;
    light.mkSpecular = KV_OGLColour(1, 1, 1, 1);
    light.mkDiffuse = KV_OGLColour(1, 1, 1, 1);
    light.mkAmbient = KV_OGLColour(0.15f, 0.15f, 0.15f, 1);
    light.mkPosition = index == 0 ? KV_Vector3D(4, 4, 4) : KV_Vector3D(-4, 4, 4);
    return light;
}

KV_PerspectiveClippingVolume KV_ViewClippingVolume()
{
    KV_PerspectiveClippingVolume volume;
    volume.mrNear = 0.1f;
    volume.mrFar = 100.0f;
    volume.mrAspectRatio = 1.0f;
    volume.mrFieldOfView = 90.0f;
    return volume;
}

void KV_AddViewLights(KV_OGLEnvironmentRenderer& renderer)
{
    renderer.AddLight(KV_ViewLight(0));
    renderer.AddLight(KV_ViewLight(1));
}
