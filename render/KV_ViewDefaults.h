#pragma once
// The lighting and projection the 3D view gives its renderer when its window is made: two
// white directional lights from the upper front, left and right, with a little ambient
// light, and a 90-degree perspective volume (the first camera reset replaces it). Shared by
// the view, osftool's render subcommand, the tests and the benchmark, so that every picture
// is lit alike.

#include "render/KV_ClippingVolume.h"
#include "render/KV_Light.h"

class KV_OGLEnvironmentRenderer;

// Light 0 (from (4, 4, 4)) or light 1 (from (-4, 4, 4)): on, white diffuse and specular,
// ambient 0.15.
KV_Light KV_ViewLight(unsigned char index);
// Near 0.1, far 100, aspect 1, field of view 90 degrees.
KV_PerspectiveClippingVolume KV_ViewClippingVolume();
// Adds both lights; throws KV_WindowsException when the context cannot be made current.
void KV_AddViewLights(KV_OGLEnvironmentRenderer& renderer);
