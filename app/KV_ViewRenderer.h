#pragma once
// KV_ViewRenderer: the 3D view's renderer. It draws the scene exactly as KV_OGLRenderer
// does and, on screen while the scene holds no actor, lays the view's hint picture over
// the empty frame. On screen it also keeps the camera each frame was drawn with (so that a
// click can be turned into a ray through the surface) and draws Measure mode's marks over
// the surface. Pictures in memory (printing, saved images) carry neither hint nor marks.

#include "measure/KV_PickCamera.h"
#include "render/KV_OGLRenderer.h"
#include "render/KV_ScreenPicture.h"

#include <array>
#include <vector>

class KV_ViewRenderer : public KV_OGLRenderer
{
public:
    void SetHint(KV_ScreenPicture hint) { mkHint = std::move(hint); }
    const KV_ScreenPicture& GetHint() const { return mkHint; }

    // Points in the first actor's surface coordinates, drawn as dots in front of
    // everything, the first two joined by a line; label is laid beside that line's middle.
    void SetMarks(std::vector<std::array<double, 3>> points, KV_ScreenPicture label)
    {
        mkMarks = std::move(points);
        mkMarkLabel = std::move(label);
    }
    // The selection rectangle being dragged, in picture coordinates (y down); none when
    // shown is false.
    void SetRubberBand(bool shown, int x0, int y0, int x1, int y1)
    {
        mbRubberBand = shown;
        mkRubberBand = {x0, y0, x1, y1};
    }
    // The camera of the last frame drawn on screen, the first actor's own transform
    // included; false before a frame with an actor.
    bool LastCamera(KV_PickCamera& camera) const
    {
        if (!mbHasCamera)
            return false;
        camera = mkLastCamera;
        return true;
    }

    void RenderScene() override
    {
        KV_OGLRenderer::RenderScene();
        if (IsRenderingToMemory())
            return;
        if (GetActorCount() == 0)
            KV_DrawScreenPictureCentred(mkHint);
        else
            CaptureCameraAndDrawMarks();
    }

private:
    // KV_ViewMeasure.cpp.
    void CaptureCameraAndDrawMarks();
    // The distance label and the selection rectangle, in window pixels.
    void DrawOverlay(const int viewport[4]);

    KV_ScreenPicture mkHint;
    std::vector<std::array<double, 3>> mkMarks;
    KV_ScreenPicture mkMarkLabel;
    KV_PickCamera mkLastCamera;
    bool mbHasCamera = false;
    bool mbRubberBand = false;
    std::array<int, 4> mkRubberBand{};
};
