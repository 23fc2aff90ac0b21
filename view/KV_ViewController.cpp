#include "view/KV_ViewController.h"

#include "render/KV_ClippingVolume.h"

#include <cmath>

namespace
{
// The world turn that brings each side of the surface towards the viewer after the camera
// reset (which looks at the front, along -z): the viewpoints of the VRML export.
struct StandardTurn
{
    KV_StandardView view;
    KV_Vector3D axis;
    float angle;  // degrees; 0 for none
};

const StandardTurn kStandardTurns[] = {
    {KV_StandardView::Front, KV_Vector3D(0, 1, 0), 0.0f},
    {KV_StandardView::Back, KV_Vector3D(0, 1, 0), 180.0f},
    {KV_StandardView::Left, KV_Vector3D(0, 1, 0), 90.0f},
    {KV_StandardView::Right, KV_Vector3D(0, 1, 0), -90.0f},
    {KV_StandardView::Top, KV_Vector3D(1, 0, 0), 90.0f},
    {KV_StandardView::Bottom, KV_Vector3D(1, 0, 0), -90.0f},
    {KV_StandardView::Fit, KV_Vector3D(0, 1, 0), 0.0f},
};
}  // namespace

KV_ViewController::KV_ViewController(KV_ViewScene& scene, KV_ViewHost& host)
    : mkScene(scene), mkHost(host)
{
}

// ---- Mouse

KV_ViewController::Cursor KV_ViewController::ButtonDown(int x, int y, unsigned int flags,
                                                        bool left)
{
    if (mbRotating)
        StopRotation();
    mnPreviousX = mnCurrentX = x;
    mnPreviousY = mnCurrentY = y;
    munKeyFlags = flags | (left ? KEY_LEFT : KEY_RIGHT);
    const unsigned int both = KEY_LEFT | KEY_RIGHT;
    if ((munKeyFlags & both) == both)
        return Cursor::Zoom;
    if (munKeyFlags & KEY_LEFT)
        return Cursor::Rotate;
    return Cursor::Translate;
}

void KV_ViewController::ButtonUp()
{
    mbMoving = false;
    if (mbLastFrameCoarse)
        mkHost.Repaint();
}

void KV_ViewController::MouseMove(int x, int y, unsigned int flags, int width, int height)
{
    mnPreviousX = mnCurrentX;
    mnPreviousY = mnCurrentY;
    mnCurrentX = x;
    mnCurrentY = y;
    munKeyFlags = flags;
    if ((mnCurrentX == mnPreviousX && mnCurrentY == mnPreviousY) || !mkScene.IsReady())
        return;
    const bool left = (munKeyFlags & KEY_LEFT) != 0;
    const bool right = (munKeyFlags & KEY_RIGHT) != 0;
    if (!left && !right)
        return;  // hovering changes nothing on screen

    if (left && right)
    {
        // Zoom: a tenth of the clipping depth per message, towards the surface when the
        // pointer moves down.
        if (const KV_ClippingVolume* volume = mkScene.ClippingVolume())
        {
            float d = (volume->mrFar - volume->mrNear) * kZoomFraction;
            if (!(mnCurrentY > mnPreviousY))
                d = -d;
            mkScene.Dolly(d);
        }
    }
    else if (left && (munKeyFlags & KEY_SHIFT))
    {
        // Roll about the viewing axis, clockwise for a move to the right.
        mkScene.Roll(mnPreviousX < mnCurrentX ? -kRotationStep : kRotationStep);
    }
    else if (left)
    {
        // Turn about the screen axis perpendicular to the drag.
        const float dx = static_cast<float>(mnPreviousX - mnCurrentX);
        const float dy = static_cast<float>(mnCurrentY - mnPreviousY);
        const float l = std::sqrt(dx * dx + dy * dy);
        mkScene.RotateWorld(KV_Vector3D(dy / l, -dx / l, 0.0f), kRotationStep);
    }
    else
    {
        // Translate: the surface follows the pointer across the mid-depth plane. The near
        // and far planes stay: the depth of the scene has not changed.
        const KV_ClippingVolume* volume = mkScene.ClippingVolume();
        if (volume != nullptr && width > 0 && height > 0)
        {
            const float a =
                -(std::fabs(volume->GetWidth()) * (mnCurrentX - mnPreviousX) / width);
            const float b =
                -(std::fabs(volume->GetHeight()) * (mnPreviousY - mnCurrentY) / height);
            mkScene.Pan(a, b);
        }
        NoteMotion();
        mkHost.Repaint();
        return;
    }
    Moved();
}

void KV_ViewController::Wheel(int rotation)
{
    const KV_ClippingVolume* volume = mkScene.ClippingVolume();
    if (!mkScene.IsReady() || volume == nullptr || rotation == 0)
        return;
    // One step of the two-button zoom per notch: away from the user brings the camera in.
    float d = (volume->mrFar - volume->mrNear) * kZoomFraction;
    if (rotation < 0)
        d = -d;
    mkScene.Dolly(d);
    if (mkScene.HasActors())
        mkScene.UpdateNearFar();
    mkHost.Repaint();
}

void KV_ViewController::Moved()
{
    if (mkScene.HasActors())
        mkScene.UpdateNearFar();
    NoteMotion();
    // Requested, not drawn here: the window folds a burst of moves into one frame.
    mkHost.Repaint();
}

// ---- Commands

void KV_ViewController::ResetView()
{
    if (!mkScene.HasActors())
        return;
    mkScene.ResetCamera();
    mkHost.Repaint();
}

void KV_ViewController::ShowStandardView(KV_StandardView view)
{
    if (!mkScene.HasActors())
        return;
    if (mbRotating)
        StopRotation();
    ResetView();
    for (const StandardTurn& turn : kStandardTurns)
        if (turn.view == view && turn.angle != 0.0f)
        {
            mkScene.RotateWorld(turn.axis, turn.angle);
            mkScene.UpdateNearFar();
        }
    mkHost.Repaint();
}

void KV_ViewController::ToggleRotation()
{
    if (mbRotating)
    {
        StopRotation();
        return;
    }
    mkHost.StartTimer(KV_ViewTimer::Rotation, kRotationMs, false);
    mbRotating = true;
}

void KV_ViewController::StopRotation()
{
    mkHost.StopTimer(KV_ViewTimer::Rotation);
    mbRotating = false;
    mbMoving = false;
    if (mbLastFrameCoarse)
        mkHost.Repaint();
}

// ---- Timers

void KV_ViewController::OnTimer(KV_ViewTimer timer)
{
    switch (timer)
    {
        case KV_ViewTimer::Rotation:
            // About the vertical screen axis.
            mkScene.RotateWorld(KV_Vector3D(0.0f, 1.0f, 0.0f), kRotationStep);
            Moved();
            break;
        case KV_ViewTimer::Still:
            // The rotation is motion that no move message reports.
            if (mbRotating)
            {
                mkHost.StartTimer(KV_ViewTimer::Still, kStillMs, true);
                return;
            }
            mbMoving = false;
            if (mbLastFrameCoarse)
                mkHost.Repaint();
            break;
        case KV_ViewTimer::LevelOfDetail:
            if (mkHost.IsCompletingSurface())
            {
                mkHost.StartTimer(KV_ViewTimer::LevelOfDetail, kLodDelayMs, true);
                return;
            }
            mbLodScheduled = false;
            mkHost.MakeCoarseCopy(mdLodFrameSeconds);
            break;
    }
}

void KV_ViewController::StopTimers()
{
    mkHost.StopTimer(KV_ViewTimer::Rotation);
    mkHost.StopTimer(KV_ViewTimer::Still);
    mkHost.StopTimer(KV_ViewTimer::LevelOfDetail);
}

// ---- Motion detail

void KV_ViewController::NoteMotion()
{
    mbMoving = true;
    mkHost.StartTimer(KV_ViewTimer::Still, kStillMs, true);
}

bool KV_ViewController::WantsCoarseFrame() const
{
    return mbMoving && mdLastFullFrame > mdCoarseThreshold;
}

void KV_ViewController::FrameDrawn(bool coarse, double seconds)
{
    mbLastFrameCoarse = coarse;
    if (coarse)
        return;
    mdLastFullFrame = seconds;
    if (mbLodPending && mkScene.HasActors())
    {
        mbLodPending = false;
        mdLodFrameSeconds = seconds;
        mbLodScheduled = true;
        mkHost.StartTimer(KV_ViewTimer::LevelOfDetail, kLodDelayMs, true);
    }
}

void KV_ViewController::SurfaceAdded()
{
    mdLastFullFrame = 0.0;
    CancelCoarseCopy();
    mbLodPending = true;
}

void KV_ViewController::CancelCoarseCopy()
{
    mbLodScheduled = false;
    mkHost.StopTimer(KV_ViewTimer::LevelOfDetail);
}
