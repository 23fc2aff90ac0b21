#pragma once
// KV_Material: the OpenGL lighting material of a surface: which faces it goes to, its
// ambient, diffuse and specular colours and its specular exponent.

#include "render/KV_OGLObject.h"

class KV_Material : public KV_OGLObject
{
public:
    // meMaterialFaces values.
    enum
    {
        FRONT = 0,
        BACK = 1,
        FRONT_AND_BACK = 2,
        // Front and back, the back face at a quarter of the brightness (and shininess), so
        // that the inside of an open surface reads as the inside.
        FRONT_AND_DIMMED_BACK = 3
    };

    // Faces 3, ambient 0.2 grey, diffuse 0.8 grey, white specular, shininess 25: the material
    // of a new geometry.
    KV_Material();
    KV_Material(int faces, const KV_OGLColour& ambient, const KV_OGLColour& diffuse,
                const KV_OGLColour& specular, float shininess);

    // Sends the material with glMaterialfv. A faces value outside 0..3 sends nothing.
    void Apply() const override;
    void Dump(std::ostream& os) const override;

    int meMaterialFaces;
    KV_OGLColour mkAmbient;
    KV_OGLColour mkDiffuse;
    KV_OGLColour mkSpecular;
    float mrShininess;
};
