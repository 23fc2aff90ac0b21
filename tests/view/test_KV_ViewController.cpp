// The view's rules without a window: drags, the wheel, the standard views and the rotation
// move a real renderer's camera and world exactly as the display tests of the program see
// them (tests/app), and the timers and frame times decide when the coarse copy is drawn and
// begun.
#include "view/KV_ViewController.h"

#include "render/KV_OGLEnvironmentRenderer.h"
#include "render/KV_ViewDefaults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace
{
constexpr float kPi = 3.14159265f;
const float kSin5 = std::sin(5 * kPi / 180);
const float kCos5 = std::cos(5 * kPi / 180);
constexpr unsigned int L = KV_ViewController::KEY_LEFT;
constexpr unsigned int R = KV_ViewController::KEY_RIGHT;
constexpr unsigned int S = KV_ViewController::KEY_SHIFT;

// The renderer's own camera arithmetic (no OpenGL context needed), with the calls that need
// one counted instead.
class Scene : public KV_ViewScene
{
public:
    Scene() { mkRenderer.SetClippingVolume(KV_ViewClippingVolume()); }

    bool IsReady() const override { return mbReady; }
    bool HasActors() const override { return mbActors; }
    const KV_ClippingVolume* ClippingVolume() const override
    {
        return mkRenderer.GetClippingVolume();
    }
    void Dolly(float d) override { mkRenderer.Dolly(d); }
    void Pan(float a, float b) override { mkRenderer.Pan(a, b); }
    void Roll(float angle) override { mkRenderer.Roll(angle); }
    void RotateWorld(const KV_Vector3D& axis, float angle) override
    {
        mkRenderer.RotateWorld(axis, angle);
    }
    void UpdateNearFar() override { ++mnNearFarUpdates; }
    void ResetCamera() override
    {
        ++mnResets;
        mkRenderer.ResetWorldTransform();
        mkRenderer.SetCameraTransform(KV_OGLTransform());
    }

    const KV_Matrix& World() const { return mkRenderer.GetWorldTransform().mkTransform; }
    KV_Vector3D Camera() const { return mkRenderer.GetCameraTransform().GetTranslation(); }

    KV_OGLEnvironmentRenderer mkRenderer;
    bool mbReady = true;
    bool mbActors = true;
    int mnNearFarUpdates = 0;
    int mnResets = 0;
};

class Host : public KV_ViewHost
{
public:
    struct Timer
    {
        bool running = false;
        int ms = 0;
        bool once = false;
        int starts = 0;
    };

    void StartTimer(KV_ViewTimer timer, int milliseconds, bool once) override
    {
        Timer& t = mkTimers[timer];
        t.running = true;
        t.ms = milliseconds;
        t.once = once;
        ++t.starts;
    }
    void StopTimer(KV_ViewTimer timer) override { mkTimers[timer].running = false; }
    void Repaint() override { ++mnRepaints; }
    bool IsCompletingSurface() const override { return mbCompleting; }
    void MakeCoarseCopy(double seconds) override { mkCopies.push_back(seconds); }

    // Fires a timer as the window does: a one-shot one stops first.
    void Fire(KV_ViewController& controller, KV_ViewTimer timer)
    {
        if (mkTimers[timer].once)
            mkTimers[timer].running = false;
        controller.OnTimer(timer);
    }

    std::map<KV_ViewTimer, Timer> mkTimers;
    int mnRepaints = 0;
    bool mbCompleting = false;
    std::vector<double> mkCopies;
};

struct Entry
{
    int row, column;
    float value;
};

void ExpectWorld(const Scene& scene, const std::vector<Entry>& entries)
{
    for (const Entry& e : entries)
        EXPECT_NEAR(scene.World()(e.row, e.column), e.value, 1e-4)
            << "(" << e.row << ", " << e.column << ")";
}

class ViewControllerTest : public ::testing::Test
{
protected:
    // A press at (x0, y0), one move to (x1, y1) with flags held, the release.
    void Drag(int x0, int y0, int x1, int y1, unsigned int flags)
    {
        mkController.ButtonDown(x0, y0, flags & ~(L | R), (flags & L) != 0);
        if ((flags & (L | R)) == (L | R))
            mkController.ButtonDown(x0, y0, flags, false);
        mkController.MouseMove(x1, y1, flags, kWidth, kHeight);
        mkController.ButtonUp();
    }

    static constexpr int kWidth = 400, kHeight = 300;
    Scene mkScene;
    Host mkHost;
    KV_ViewController mkController{mkScene, mkHost};
};
}  // namespace

TEST_F(ViewControllerTest, DragsTurnRollMoveAndZoom)
{
    const KV_ClippingVolume& volume = *mkScene.ClippingVolume();
    const float width = std::fabs(volume.GetWidth()), height = std::fabs(volume.GetHeight());
    const float depth = volume.mrFar - volume.mrNear;
    const struct
    {
        const char* name;
        int x0, y0, x1, y1;
        unsigned int flags;
        std::vector<Entry> world;
        KV_Vector3D camera;  // the camera's move
        int nearFarUpdates;
    } drags[] = {
        // Five degrees about +y: the front of the surface follows the pointer right.
        {"left, right", 100, 100, 110, 100, L,
         {{1, 1, kCos5}, {3, 1, -kSin5}, {1, 3, kSin5}, {2, 2, 1}}, {}, 1},
        // Five degrees about +x: the top comes forward.
        {"left, down", 100, 100, 100, 130, L, {{3, 2, kSin5}, {1, 1, 1}}, {}, 1},
        {"left, same pixel", 50, 50, 50, 50, L, {{1, 1, 1}, {3, 1, 0}}, {}, 0},
        // Clockwise on screen for a move to the right, anticlockwise to the left.
        {"shift left, right", 100, 100, 120, 100, L | S, {{2, 1, -kSin5}, {1, 1, kCos5}}, {}, 1},
        {"shift left, left", 120, 100, 100, 100, L | S, {{2, 1, kSin5}, {1, 1, kCos5}}, {}, 1},
        // Right by 20 pixels and up by 10: the surface follows across the mid-depth plane;
        // the depth is unchanged, so are the near and far planes.
        {"right", 100, 100, 120, 90, R, {{1, 1, 1}},
         {width * 20 / kWidth, height * 10 / kHeight, 0}, 0},
        // Both buttons: down zooms in by a tenth of the depth, any other way out.
        {"both, down", 100, 100, 100, 110, L | R, {{1, 1, 1}}, {0, 0, depth * 0.1f}, 1},
        {"both, sideways", 100, 110, 120, 110, L | R, {{1, 1, 1}}, {0, 0, -depth * 0.1f}, 1},
        {"both, up", 100, 110, 100, 100, L | R, {{1, 1, 1}}, {0, 0, -depth * 0.1f}, 1},
    };
    for (const auto& drag : drags)
    {
        SCOPED_TRACE(drag.name);
        mkScene.ResetCamera();
        mkScene.mnNearFarUpdates = 0;
        const KV_Vector3D before = mkScene.Camera();
        Drag(drag.x0, drag.y0, drag.x1, drag.y1, drag.flags);
        ExpectWorld(mkScene, drag.world);
        const KV_Vector3D moved = mkScene.Camera() - before;
        EXPECT_NEAR(moved.x, drag.camera.x, 1e-4 * width);
        EXPECT_NEAR(moved.y, drag.camera.y, 1e-4 * height);
        EXPECT_NEAR(moved.z, drag.camera.z, 1e-3 * depth);
        EXPECT_EQ(mkScene.mnNearFarUpdates, drag.nearFarUpdates);
    }
}

TEST_F(ViewControllerTest, HoverAndAnUnreadySceneMoveNothing)
{
    mkController.MouseMove(10, 10, 0, kWidth, kHeight);
    mkController.MouseMove(60, 90, 0, kWidth, kHeight);
    mkScene.mbReady = false;
    Drag(100, 100, 130, 100, L);
    Drag(100, 100, 130, 100, R);
    mkController.Wheel(120);
    ExpectWorld(mkScene, {{1, 1, 1}, {3, 1, 0}});
    EXPECT_EQ(mkScene.Camera().z, 0.0f);
    EXPECT_EQ(mkScene.Camera().x, 0.0f);
    EXPECT_EQ(mkHost.mnRepaints, 0);
    EXPECT_EQ(mkHost.mkTimers[KV_ViewTimer::Still].starts, 0);
}

TEST_F(ViewControllerTest, ButtonsChooseTheCursorAndTheKeyFlags)
{
    const struct
    {
        unsigned int flags;
        bool left;
        KV_ViewController::Cursor cursor;
        unsigned int keys;
    } presses[] = {
        {0, true, KV_ViewController::Cursor::Rotate, L},
        {S, true, KV_ViewController::Cursor::Rotate, L | S},
        {0, false, KV_ViewController::Cursor::Translate, R},
        {L, false, KV_ViewController::Cursor::Zoom, L | R},
        {R, true, KV_ViewController::Cursor::Zoom, L | R},
    };
    for (const auto& press : presses)
    {
        EXPECT_EQ(mkController.ButtonDown(5, 5, press.flags, press.left), press.cursor);
        EXPECT_EQ(mkController.KeyFlags(), press.keys);
    }
}

TEST_F(ViewControllerTest, WheelZoomsByOneTwoButtonStepWithoutCountingAsMotion)
{
    const float step = (mkScene.ClippingVolume()->mrFar - mkScene.ClippingVolume()->mrNear) * 0.1f;
    const struct
    {
        int rotation;
        float move;
    } notches[] = {{120, step}, {-120, -step}, {0, 0.0f}, {-1, -step}};
    for (const auto& notch : notches)
    {
        const float before = mkScene.Camera().z;
        mkController.Wheel(notch.rotation);
        EXPECT_NEAR(mkScene.Camera().z - before, notch.move, step * 1e-3f) << notch.rotation;
    }
    // The same as a two-button zoom of one message towards the surface.
    const float before = mkScene.Camera().z;
    Drag(100, 100, 100, 110, L | R);
    EXPECT_NEAR(mkScene.Camera().z - before, step, step * 1e-3f);
    EXPECT_EQ(mkScene.mnNearFarUpdates, 4);
    // Only the drag counted as motion.
    EXPECT_EQ(mkHost.mkTimers[KV_ViewTimer::Still].starts, 1);
}

TEST_F(ViewControllerTest, EachStandardViewSetsItsTurnFromAnyTurnedWorld)
{
    const struct
    {
        KV_StandardView view;
        std::vector<Entry> world;
    } views[] = {
        {KV_StandardView::Front, {{1, 1, 1}, {2, 2, 1}, {3, 3, 1}}},
        {KV_StandardView::Back, {{1, 1, -1}, {2, 2, 1}, {3, 3, -1}}},
        {KV_StandardView::Left, {{3, 1, -1}, {1, 3, 1}, {2, 2, 1}}},
        {KV_StandardView::Right, {{3, 1, 1}, {1, 3, -1}, {2, 2, 1}}},
        {KV_StandardView::Top, {{3, 2, 1}, {2, 3, -1}, {1, 1, 1}}},
        {KV_StandardView::Bottom, {{3, 2, -1}, {2, 3, 1}, {1, 1, 1}}},
        {KV_StandardView::Fit, {{1, 1, 1}, {2, 2, 1}, {3, 3, 1}}},
    };
    for (const auto& view : views)
    {
        SCOPED_TRACE(static_cast<int>(view.view));
        Drag(100, 100, 130, 120, L);
        mkController.ToggleRotation();
        const int resets = mkScene.mnResets;
        mkController.ShowStandardView(view.view);
        EXPECT_EQ(mkScene.mnResets, resets + 1);
        EXPECT_FALSE(mkController.IsRotating());
        EXPECT_FALSE(mkHost.mkTimers[KV_ViewTimer::Rotation].running);
        ExpectWorld(mkScene, view.world);
    }

    // Without a surface nothing is framed or turned.
    mkScene.mbActors = false;
    Drag(100, 100, 130, 120, L);
    const float turned = mkScene.World()(1, 1);
    const int resets = mkScene.mnResets;
    mkController.ShowStandardView(KV_StandardView::Back);
    mkController.ResetView();
    EXPECT_EQ(mkScene.mnResets, resets);
    EXPECT_EQ(mkScene.World()(1, 1), turned);
}

TEST_F(ViewControllerTest, RotationTurnsOnItsTimerUntilAButtonGoesDown)
{
    mkController.ToggleRotation();
    EXPECT_TRUE(mkController.IsRotating());
    const Host::Timer& rotation = mkHost.mkTimers[KV_ViewTimer::Rotation];
    EXPECT_TRUE(rotation.running);
    EXPECT_EQ(rotation.ms, 50);
    EXPECT_FALSE(rotation.once);
    // Each tick turns the world five degrees about the vertical screen axis, and is motion.
    mkHost.Fire(mkController, KV_ViewTimer::Rotation);
    ExpectWorld(mkScene, {{3, 1, -kSin5}, {1, 1, kCos5}, {2, 2, 1}});
    EXPECT_TRUE(mkController.IsMoving());
    // The still timer finds the rotation going: still moving, looked at again later.
    mkHost.Fire(mkController, KV_ViewTimer::Still);
    EXPECT_TRUE(mkController.IsMoving());
    EXPECT_TRUE(mkHost.mkTimers[KV_ViewTimer::Still].running);

    mkController.ButtonDown(10, 10, 0, false);
    EXPECT_FALSE(mkController.IsRotating());
    EXPECT_FALSE(rotation.running);
    EXPECT_FALSE(mkController.IsMoving());

    mkController.ToggleRotation();
    mkController.ToggleRotation();
    EXPECT_FALSE(mkController.IsRotating());
    EXPECT_FALSE(rotation.running);
    mkController.ToggleRotation();
    mkController.StopTimers();
    for (const auto& timer : mkHost.mkTimers) EXPECT_FALSE(timer.second.running);
}

TEST_F(ViewControllerTest, CoarseFramesOnlyWhileMovingAndFullFramesAreSlow)
{
    const struct
    {
        double fullFrame, threshold;
        bool moving, coarse;
    } cases[] = {
        {0.2, 0.05, true, true},    {0.2, 0.05, false, false}, {0.05, 0.05, true, false},
        {0.01, 0.05, true, false},  {0.001, 0.0, true, true},  {0.0, 0.0, true, false},
    };
    for (const auto& c : cases)
    {
        KV_ViewController controller(mkScene, mkHost);
        controller.SetCoarseThreshold(c.threshold);
        controller.FrameDrawn(false, c.fullFrame);
        if (c.moving)
            controller.OnTimer(KV_ViewTimer::Rotation);
        EXPECT_EQ(controller.WantsCoarseFrame(), c.coarse)
            << c.fullFrame << " s over " << c.threshold << (c.moving ? ", moving" : "");
    }

    // A drag: coarse frames while it moves (their own time is not a full frame's); 150 ms
    // after the last move the motion has stopped, and a coarse last frame is drawn again.
    mkController.FrameDrawn(false, 0.2);
    mkController.ButtonDown(100, 100, 0, true);
    mkController.MouseMove(110, 100, L, kWidth, kHeight);
    EXPECT_TRUE(mkController.WantsCoarseFrame());
    EXPECT_EQ(mkHost.mkTimers[KV_ViewTimer::Still].ms, 150);
    EXPECT_TRUE(mkHost.mkTimers[KV_ViewTimer::Still].once);
    mkController.FrameDrawn(true, 0.001);
    EXPECT_TRUE(mkController.WantsCoarseFrame());
    int repaints = mkHost.mnRepaints;
    mkHost.Fire(mkController, KV_ViewTimer::Still);
    EXPECT_FALSE(mkController.WantsCoarseFrame());
    EXPECT_EQ(mkHost.mnRepaints, repaints + 1);
    // Moving again, and the button comes up after a full frame: nothing to draw again.
    mkController.MouseMove(120, 100, L, kWidth, kHeight);
    mkController.FrameDrawn(false, 0.2);
    repaints = mkHost.mnRepaints;
    mkController.ButtonUp();
    EXPECT_FALSE(mkController.WantsCoarseFrame());
    EXPECT_EQ(mkHost.mnRepaints, repaints);
    // A right drag moves too, whatever the window's size.
    mkController.ButtonDown(100, 100, 0, false);
    mkController.MouseMove(120, 90, R, 0, 0);
    EXPECT_TRUE(mkController.IsMoving());
}

TEST_F(ViewControllerTest, CoarseCopyBegunShortlyAfterTheFirstFullFrameOfEachSurface)
{
    const Host::Timer& lod = mkHost.mkTimers[KV_ViewTimer::LevelOfDetail];
    // Frames without a surface schedule nothing.
    mkScene.mbActors = false;
    mkController.SurfaceAdded();
    mkController.FrameDrawn(false, 0.5);
    EXPECT_EQ(lod.starts, 0);
    // The first full frame with one does (a coarse frame does not), once.
    mkScene.mbActors = true;
    mkController.FrameDrawn(true, 0.5);
    EXPECT_EQ(lod.starts, 0);
    mkController.FrameDrawn(false, 0.25);
    mkController.FrameDrawn(false, 0.75);
    EXPECT_EQ(lod.starts, 1);
    EXPECT_TRUE(lod.running);
    EXPECT_EQ(lod.ms, 300);
    EXPECT_TRUE(lod.once);
    // It waits while the surface's remaining lists are made, then begins, sized by that
    // first full frame.
    mkHost.mbCompleting = true;
    mkHost.Fire(mkController, KV_ViewTimer::LevelOfDetail);
    EXPECT_TRUE(lod.running);
    EXPECT_TRUE(mkHost.mkCopies.empty());
    mkHost.mbCompleting = false;
    mkHost.Fire(mkController, KV_ViewTimer::LevelOfDetail);
    ASSERT_EQ(mkHost.mkCopies, std::vector<double>{0.25});

    // A new surface: a copy scheduled for the old one is not begun, and until its own
    // first full frame nothing is drawn coarse.
    mkController.SurfaceAdded();
    mkController.FrameDrawn(false, 0.4);
    EXPECT_TRUE(lod.running);
    mkController.SurfaceAdded();
    EXPECT_FALSE(lod.running);
    mkController.OnTimer(KV_ViewTimer::Rotation);
    EXPECT_FALSE(mkController.WantsCoarseFrame());
    mkController.FrameDrawn(false, 0.4);
    mkController.CancelCoarseCopy();
    EXPECT_FALSE(lod.running);
    EXPECT_EQ(mkHost.mkCopies.size(), 1u);
}
