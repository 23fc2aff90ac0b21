#pragma once
// KV_ViewController: the 3D view's rules, apart from its window. It turns mouse messages,
// the wheel, the standard views and the continuous rotation into moves of the camera and
// the world, decides when a frame may draw the coarse copy of a large surface (while the
// world moves and full frames are too slow) and when that copy is begun. The window forwards
// its events here, paints, and owns the timers, which the controller starts and stops by
// their numbers (KV_ViewTimer) and is told of when they fire.
//
// Nothing here draws or waits; every call returns at once. A scene that is not ready (no
// renderer yet) is neither moved by the mouse nor by the wheel.

#include "math/KV_Vector3D.h"

class KV_ClippingVolume;

// The view's timers, numbered here once for the window that owns them.
enum class KV_ViewTimer : int
{
    Rotation = 1,      // the continuous rotation, every kRotationMs
    Still = 2,         // once, kStillMs after the last move: the motion has stopped
    LevelOfDetail = 3  // once, kLodDelayMs after the first full frame: begin the coarse copy
};

// The seven standard views: each brings one side of the surface towards the viewer after
// the camera reset; Fit is the reset alone.
enum class KV_StandardView
{
    Front,
    Back,
    Left,
    Right,
    Top,
    Bottom,
    Fit
};

// What the controller moves: the renderer's camera and world (KV_OGLEnvironmentRenderer's
// operations, with the scene's near and far planes and its camera reset).
class KV_ViewScene
{
public:
    virtual ~KV_ViewScene() = default;
    // Whether the renderer exists, so that the camera may move.
    virtual bool IsReady() const = 0;
    virtual bool HasActors() const = 0;
    // Null before the renderer has one.
    virtual const KV_ClippingVolume* ClippingVolume() const = 0;
    virtual void Dolly(float d) = 0;
    virtual void Pan(float a, float b) = 0;
    virtual void Roll(float angle) = 0;
    virtual void RotateWorld(const KV_Vector3D& axis, float angle) = 0;
    virtual void UpdateNearFar() = 0;
    // Frames the whole scene from the front; a failure is the scene's to report (the
    // controller goes on as if it had framed it).
    virtual void ResetCamera() = 0;
};

// What the controller asks of the window around it.
class KV_ViewHost
{
public:
    virtual ~KV_ViewHost() = default;
    // A running timer started again begins its interval anew.
    virtual void StartTimer(KV_ViewTimer timer, int milliseconds, bool once) = 0;
    virtual void StopTimer(KV_ViewTimer timer) = 0;
    // Asks for a frame; drawn when the window next paints.
    virtual void Repaint() = 0;
    // Whether the lists the surface gets after its first frame are still being made: the
    // coarse copy waits for them, so that the two workers' memory does not add up.
    virtual bool IsCompletingSurface() const = 0;
    // Begins the coarse copy of the surface shown, sized by the time of its first full frame.
    virtual void MakeCoarseCopy(double fullFrameSeconds) = 0;
};

class KV_ViewController
{
public:
    // Key-flag bits of a mouse message.
    enum : unsigned int
    {
        KEY_LEFT = 1,
        KEY_RIGHT = 2,
        KEY_SHIFT = 4
    };
    // The cursor a drag shows.
    enum class Cursor
    {
        Rotate,
        Translate,
        Zoom
    };

    static constexpr float kRotationStep = 5.0f;  // degrees per move message and per tick
    static constexpr float kZoomFraction = 0.1f;  // of the clipping depth per zoom step
    static constexpr int kRotationMs = 50;
    static constexpr int kStillMs = 150;
    // The copy is begun this long after the first full frame: the frame's own working memory
    // is given back first, and a window closed at once never starts it.
    static constexpr int kLodDelayMs = 300;
    // Full frames slower than this (1/20 s) draw the coarse copy while the world moves.
    static constexpr double kCoarseThreshold = 0.05;

    // Both must outlive the controller.
    KV_ViewController(KV_ViewScene& scene, KV_ViewHost& host);

    // ---- Mouse
    // A button went down at (x, y): the left one when left, else the right one; flags are
    // the message's (the button going down may not show in them yet). Stops the rotation.
    Cursor ButtonDown(int x, int y, unsigned int flags, bool left);
    // A button came up: the motion has stopped.
    void ButtonUp();
    // The pointer at (x, y) with the buttons and Shift of flags, over a client area of
    // width x height (the pixels the pointer moves in). Both buttons zoom, left with Shift
    // rolls, left turns, right moves; hovering and a move to the same pixel change nothing.
    void MouseMove(int x, int y, unsigned int flags, int width, int height);
    // A vertical wheel turn (positive: away from the user) zooms one step in or out.
    void Wheel(int rotation);
    unsigned int KeyFlags() const { return munKeyFlags; }

    // ---- Commands
    // Frames the scene again (nothing without actors).
    void ResetView();
    // Stops the rotation, frames the scene and turns the chosen side towards the viewer;
    // nothing without actors.
    void ShowStandardView(KV_StandardView view);
    // Starts the continuous rotation, or stops it when running.
    void ToggleRotation();
    void StopRotation();
    bool IsRotating() const { return mbRotating; }
    // Whether the coarse copy of the surface shown is still to be begun (its first full
    // frame not drawn yet, or the delay after it not over).
    bool IsCoarseCopyPending() const { return mbLodPending || mbLodScheduled; }

    // ---- Timers
    // One of the controller's timers fired.
    void OnTimer(KV_ViewTimer timer);
    // The window goes: no timer runs any more.
    void StopTimers();

    // ---- Motion detail
    // Whether the next frame on screen may draw the coarse copy (the window still needs one).
    bool WantsCoarseFrame() const;
    // A frame was drawn on screen, coarse or full; a full one took seconds. The first full
    // frame of a new surface schedules its coarse copy.
    void FrameDrawn(bool coarse, double seconds);
    // A new surface is shown: its first full frame is awaited, a copy scheduled for the old
    // one is not begun.
    void SurfaceAdded();
    // A copy scheduled but not begun is not begun (the window abandons one in the making).
    void CancelCoarseCopy();
    bool LastFrameWasCoarse() const { return mbLastFrameCoarse; }
    bool IsMoving() const { return mbMoving; }
    void SetCoarseThreshold(double seconds) { mdCoarseThreshold = seconds; }

private:
    void NoteMotion();
    void Moved();

    KV_ViewScene& mkScene;
    KV_ViewHost& mkHost;
    int mnPreviousX = 0, mnPreviousY = 0;
    int mnCurrentX = 0, mnCurrentY = 0;
    unsigned int munKeyFlags = 0;
    bool mbRotating = false;
    bool mbMoving = false;
    bool mbLodPending = false;
    bool mbLodScheduled = false;
    bool mbLastFrameCoarse = false;
    double mdLastFullFrame = 0.0;
    double mdLodFrameSeconds = 0.0;
    double mdCoarseThreshold = kCoarseThreshold;
};
