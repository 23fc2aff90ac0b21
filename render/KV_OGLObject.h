#pragma once
// KV_OGLColour: an RGBA colour of four floats in 0..1, as OpenGL takes it.
// KV_OGLObject: anything that can push its state into the current OpenGL context and dump
// itself (materials, transforms, lights, viewports, clipping volumes).

#include <ostream>

class KV_OGLColour
{
public:
    KV_OGLColour() = default;
    KV_OGLColour(float red, float green, float blue, float alpha)
        : mrRed(red), mrGreen(green), mrBlue(blue), mrAlpha(alpha)
    {
    }
    virtual ~KV_OGLColour() = default;
    KV_OGLColour(const KV_OGLColour&) = default;
    KV_OGLColour& operator=(const KV_OGLColour&) = default;

    static KV_OGLColour Red() { return KV_OGLColour(1.0f, 0.0f, 0.0f, 1.0f); }
    static KV_OGLColour Black() { return KV_OGLColour(0.0f, 0.0f, 0.0f, 1.0f); }

    // The four components in OpenGL's order, for glMaterialfv, glLightfv and the like.
    const float* Data() const { return &mrRed; }

    bool operator==(const KV_OGLColour& other) const
    {
        return mrRed == other.mrRed && mrGreen == other.mrGreen && mrBlue == other.mrBlue &&
               mrAlpha == other.mrAlpha;
    }
    bool operator!=(const KV_OGLColour& other) const { return !(*this == other); }

    virtual void Dump(std::ostream& os) const;

    // Kept adjacent and in this order: Data() hands them to OpenGL as one array.
    float mrRed = 0.0f;
    float mrGreen = 0.0f;
    float mrBlue = 0.0f;
    float mrAlpha = 0.0f;
};

class KV_OGLObject
{
public:
    virtual ~KV_OGLObject() = default;
    // Pushes the object's state into the OpenGL context that is current; needs one.
    virtual void Apply() const = 0;
    virtual void Dump(std::ostream& os) const = 0;

protected:
    KV_OGLObject() = default;
    KV_OGLObject(const KV_OGLObject&) = default;
    KV_OGLObject& operator=(const KV_OGLObject&) = default;
};
