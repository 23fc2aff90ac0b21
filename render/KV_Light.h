#pragma once
// KV_Light: one of OpenGL's eight lights, directional (its position is a direction, w = 0).

#include "math/KV_Vector3D.h"
#include "render/KV_OGLObject.h"

class KV_Light : public KV_OGLObject
{
public:
    // Sends ambient, specular, diffuse and the direction to GL_LIGHT0 + munLightIndex, then
    // enables or disables it. The direction is taken in the model-view space current at
    // that moment. An index above 7 sends nothing.
    void Apply() const override;
    void Dump(std::ostream& os) const override;

    unsigned char munLightIndex = 0;
    bool mbLightOn = true;
    KV_OGLColour mkSpecular{1.0f, 1.0f, 1.0f, 1.0f};
    KV_OGLColour mkDiffuse{1.0f, 1.0f, 1.0f, 1.0f};
    KV_OGLColour mkAmbient{0.0f, 0.0f, 0.0f, 1.0f};
    KV_Vector3D mkPosition{0.0f, 0.0f, 1.0f};
};
