#pragma once
// The projection of the view: the volume of space between the near and far planes (distances
// in front of the eye) that is drawn, perspective or orthographic.

#include "render/KV_OGLObject.h"

class KV_Viewport;

class KV_ClippingVolume : public KV_OGLObject
{
public:
    // Loads the projection matrix: glMatrixMode(GL_PROJECTION), glLoadIdentity, then
    // ApplyProjection.
    void Apply() const override;
    void Dump(std::ostream& os) const override;
    // A new copy of the same kind; the caller owns it.
    virtual KV_ClippingVolume* Clone() const = 0;
    // The width and height of the volume (at mid depth for a perspective volume).
    virtual float GetWidth() const = 0;
    virtual float GetHeight() const = 0;
    // Adapts the volume's width to the viewport's shape. A viewport without height changes
    // nothing.
    virtual void FitToViewport(const KV_Viewport& viewport) = 0;
    virtual void ApplyProjection() const = 0;

    float mrNear = 0.0f;
    float mrFar = 0.0f;
};

class KV_PerspectiveClippingVolume : public KV_ClippingVolume
{
public:
    void Dump(std::ostream& os) const override;
    KV_ClippingVolume* Clone() const override { return new KV_PerspectiveClippingVolume(*this); }
    // tan(half the field of view) · mid depth, times the aspect ratio for the width.
    float GetWidth() const override;
    float GetHeight() const override;
    // The aspect ratio becomes the viewport's width / height.
    void FitToViewport(const KV_Viewport& viewport) override;
    // gluPerspective(field of view, aspect ratio, near, far).
    void ApplyProjection() const override;

    float mrAspectRatio = 1.0f;
    float mrFieldOfView = 90.0f;  // vertical, degrees
};

class KV_OrthographicClippingVolume : public KV_ClippingVolume
{
public:
    void Dump(std::ostream& os) const override;
    KV_ClippingVolume* Clone() const override { return new KV_OrthographicClippingVolume(*this); }
    float GetWidth() const override { return mrRight - mrLeft; }
    float GetHeight() const override { return mrTop - mrBottom; }
    // Keeps the horizontal centre and the height; the width follows the viewport's shape.
    void FitToViewport(const KV_Viewport& viewport) override;
    // glOrtho(left, right, bottom, top, near, far).
    void ApplyProjection() const override;

    float mrLeft = -1.0f;
    float mrRight = 1.0f;
    float mrTop = 1.0f;
    float mrBottom = -1.0f;
};
