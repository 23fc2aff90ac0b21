// Transforms, geometries, actors and the environment's arithmetic: everything that needs no
// OpenGL context.

#include "RenderTestSurfaces.h"

#include "render/KV_OGLRenderer.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <vector>

namespace
{
void ExpectNear(const KV_Vector3D& expected, const KV_Vector3D& actual, float tolerance = 1e-5f)
{
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

void ExpectIdentity(const KV_OGLTransform& t, float tolerance = 1e-5f)
{
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j)
            EXPECT_NEAR(i == j ? 1.0f : 0.0f, t.mkTransform(i, j), tolerance) << i << "," << j;
}
}  // namespace

TEST(OGLTransform, TranslationsAndRotationsComposeOnTheRight)
{
    KV_OGLTransform t;
    ExpectIdentity(t);
    EXPECT_FALSE(t.mbResetGLMatrix);

    t.Rotate(90.0f, KV_Vector3D(0, 0, 2));  // the axis is normalised
    ExpectNear(KV_Vector3D(0, 1, 0), t.TransformPoint(KV_Vector3D(1, 0, 0)));
    ExpectNear(KV_Vector3D(0, 1, 0), t.GetAxis(1));

    // M·T(v): the translation happens first, in the rotated frame.
    t.Translate(KV_Vector3D(1, 0, 0));
    ExpectNear(KV_Vector3D(0, 1, 0), t.GetTranslation());
    ExpectNear(KV_Vector3D(0, 2, 0), t.TransformPoint(KV_Vector3D(1, 0, 0)));

    t.SetTranslation(KV_Vector3D(5, 6, 7));
    ExpectNear(KV_Vector3D(5, 6, 7), t.TransformPoint(KV_Vector3D(0, 0, 0)));
    const KV_Matrix r = t.GetRotation();
    EXPECT_EQ(3, r.Rows());
    EXPECT_NEAR(-1.0f, r(1, 2), 1e-6f);

    t.Reset();
    ExpectIdentity(t);
}

TEST(OGLTransform, RotateAboutKeepsTheCentreFixed)
{
    KV_OGLTransform t;
    const KV_Vector3D centre(1, 2, 3);
    t.RotateAbout(centre, KV_Vector3D(0, 0, 1), 90.0f);
    ExpectNear(centre, t.TransformPoint(centre));
    ExpectNear(KV_Vector3D(1, 3, 3), t.TransformPoint(KV_Vector3D(2, 2, 3)));
    // A zero axis is not normalised and gives no turn.
    KV_OGLTransform still;
    still.Rotate(45.0f, KV_Vector3D(0, 0, 0));
    EXPECT_NEAR(std::cos(22.5 * M_PI / 180) * std::cos(22.5 * M_PI / 180), still.mkTransform(1, 1),
                1e-5);
    EXPECT_NEAR(0.0f, still.mkTransform(1, 2), 1e-6f);
}

TEST(OGLTransform, DumpStartsWithItsIndentedName)
{
    std::ostringstream os;
    KV_OGLTransform().Dump(os);
    EXPECT_EQ(0u, os.str().find(" KV_OGLTransform: \n mkTransform:  KV_Matrix: \n"));
    EXPECT_NE(std::string::npos, os.str().find(" mbResetGLMatrix: 0\n"));
}

TEST(Geometry3D, IdsCountUpAndAreNeverReused)
{
    const unsigned int next = KV_Geometry3D::munIDCounter;
    KV_PolySurfaceGeometry3D a;
    unsigned int bId = 0;
    {
        KV_PolySurfaceGeometry3D b;
        bId = b.munID;
    }
    KV_PolySurfaceGeometry3D c;
    EXPECT_EQ(next, a.munID);
    EXPECT_EQ(next + 1, bId);
    EXPECT_EQ(next + 2, c.munID);
    EXPECT_EQ(next + 3, KV_Geometry3D::munIDCounter.load());
}

TEST(Geometry3D, DefaultAndSelectedMaterials)
{
    KV_PolySurfaceGeometry3D g;
    EXPECT_FALSE(g.IsSelected());
    EXPECT_EQ(3, g.mkMaterial.meMaterialFaces);
    EXPECT_EQ(KV_OGLColour(0.2f, 0.2f, 0.2f, 1), g.mkMaterial.mkAmbient);
    EXPECT_EQ(25.0f, g.mkMaterial.mrShininess);
    EXPECT_EQ(KV_OGLColour(0.55f, 0, 0, 1), KV_Geometry3D::mkSelectedMaterial.mkAmbient);
    EXPECT_EQ(KV_OGLColour(1, 0, 0, 1), KV_Geometry3D::mkSelectedMaterial.mkDiffuse);

    KV_OGLTransform moved;
    moved.SetTranslation(KV_Vector3D(1, 2, 3));
    moved.mbResetGLMatrix = true;
    g.SetTransform(moved);
    ExpectNear(KV_Vector3D(1, 2, 3), g.GetTransform().GetTranslation());
    EXPECT_FALSE(g.GetTransform().mbResetGLMatrix);  // only the matrix is copied
}

TEST(PolySurfaceGeometry3D, SetSurfaceSplitsPolygonsAndNotifiesTwice)
{
    KV_PolySurfaceGeometry3D g;
    std::unique_ptr<KV_Actor3D> actor(g.CreateActor());
    EXPECT_EQ(1u, g.ObserverCount());

    g.SetSurface(Square(), false);
    EXPECT_TRUE(actor->IsUpdatePending(0));
    EXPECT_TRUE(actor->IsUpdatePending(1));
    EXPECT_EQ(2u, g.UnselectedPolyIndices().Count());
    EXPECT_EQ(0u, g.SelectedPolyIndices().Count());
    ASSERT_EQ(2u, g.PolygonSelection().size());
    EXPECT_EQ(std::make_pair(false, 1u), g.PolygonSelection()[1]);
    EXPECT_EQ(4u, g.GetSurface().VertexCount());

    g.SetSurface(Square(), true);
    EXPECT_EQ(0u, g.UnselectedPolyIndices().Count());
    EXPECT_EQ(1u, g.SelectedPolyIndices()[1]);

    std::ostringstream os;
    g.Dump(os);
    EXPECT_NE(std::string::npos,
              os.str().find("KV_PolySurfaceGeometry3D: \n mkSelectedPolyIndices: 0 1 \n"
                            " mkUnselectedPolyIndices: \n"));
    EXPECT_NE(std::string::npos, os.str().find(" mkMaterial:KV_Material: \n"));

    // A surface without polygons still notifies both hints.
    KV_PolySurfaceGeometry3D empty;
    std::unique_ptr<KV_Actor3D> watcher(empty.CreateActor());
    KV_PolySurface noPolygons;
    noPolygons.Vertices().Append(KV_Vector3D(1, 1, 1));
    empty.SetSurface(noPolygons, false);
    EXPECT_TRUE(watcher->IsUpdatePending(0));
    EXPECT_TRUE(watcher->IsUpdatePending(1));
    EXPECT_EQ(0u, empty.UnselectedPolyIndices().Count());
}

// A selection splits the polygons into two increasing lists holding each polygon once; a
// list of every polygon from 0 on stays a run (drawn in one batch).
TEST(PolySurfaceGeometry3D, SelectionSplitsThePolygonsIntoTwoLists)
{
    KV_PolySurface strip;
    for (unsigned int v = 0; v < 7; ++v)
        strip.Vertices().Append(KV_Vector3D(0.5f * v, v % 2 ? 1.0f : 0.0f, 0));
    for (unsigned int p = 0; p < 5; ++p) AppendTriangle(strip.Polygons(), p, p + 1, p + 2);
    const struct
    {
        std::vector<unsigned int> selected, expectOn, expectOff;
        bool onRun, offRun;
    } cases[] = {
        {{}, {}, {0, 1, 2, 3, 4}, true, true},
        {{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, {}, true, true},
        {{0, 1}, {0, 1}, {2, 3, 4}, true, false},
        {{3, 4}, {3, 4}, {0, 1, 2}, false, true},
        {{1, 3, 9, 40}, {1, 3}, {0, 2, 4}, false, false},  // past the polygons: ignored
    };
    KV_PolySurfaceGeometry3D g;
    g.SetSurface(strip, false);
    for (const auto& c : cases)
    {
        g.SetSelectedPolygons(c.selected);
        std::vector<unsigned int> on, off;
        for (unsigned int i = 0; i < g.SelectedPolyIndices().Count(); ++i)
            on.push_back(g.SelectedPolyIndices()[i]);
        for (unsigned int i = 0; i < g.UnselectedPolyIndices().Count(); ++i)
            off.push_back(g.UnselectedPolyIndices()[i]);
        EXPECT_EQ(c.expectOn, on);
        EXPECT_EQ(c.expectOff, off);
        EXPECT_EQ(c.onRun, g.SelectedPolyIndices().IsRun()) << on.size();
        EXPECT_EQ(c.offRun, g.UnselectedPolyIndices().IsRun()) << off.size();
        for (unsigned int p : on) EXPECT_TRUE(g.PolygonSelection()[p].first);
    }
}

TEST(PolySurfaceGeometry3D, BoundingBoxFollowsTheTransform)
{
    KV_PolySurfaceGeometry3D g;
    KV_PolySurface s = Square();
    (*s.mpVertices)[2] = KV_Vector3D(2, 1, 3);  // box 0..2, 0..1, 0..3
    s.ComputeExtents();
    g.SetSurface(s, false);
    KV_BoundingBox3D box = g.GetBoundingBox();
    EXPECT_FLOAT_EQ(0.0f, box.mrXLo);
    EXPECT_FLOAT_EQ(2.0f, box.mrXHi);
    EXPECT_FLOAT_EQ(1.0f, box.mrYHi);
    EXPECT_FLOAT_EQ(3.0f, box.mrZHi);

    // A quarter turn about z swaps the x and y ranges, with sign.
    g.mkTransform.Rotate(90.0f, KV_Vector3D(0, 0, 1));
    box = g.GetBoundingBox();
    EXPECT_NEAR(-1.0f, box.mrXLo, 1e-6f);
    EXPECT_NEAR(0.0f, box.mrXHi, 1e-6f);
    EXPECT_NEAR(0.0f, box.mrYLo, 1e-6f);
    EXPECT_NEAR(2.0f, box.mrYHi, 1e-6f);
    EXPECT_NEAR(3.0f, box.mrZHi, 1e-6f);
    // The centre is the untransformed centroid.
    ExpectNear(KV_Vector3D(0.75f, 0.5f, 0.75f), g.GetCentre());
}

TEST(Actor3D, NewActorDefaultsAndPendingUpdates)
{
    KV_PolySurfaceGeometry3D g;
    std::unique_ptr<KV_Actor3D> actor(g.CreateActor());
    EXPECT_TRUE(actor->IsVisible());
    EXPECT_TRUE(actor->IsDisplayedSmooth());
    EXPECT_TRUE(actor->IsDisplayedTextured());
    EXPECT_TRUE(actor->IsPickable());
    EXPECT_FALSE(actor->IsDisplayedWireframe());
    EXPECT_FALSE(actor->IsBoundingBoxDisplayed());
    EXPECT_FALSE(actor->IsDrawnLast());
    EXPECT_EQ(0u, actor->GetTextureName());
    EXPECT_EQ(&g, actor->GetGeometry());

    // Hint 7 and unknown indices set no flag; a hint object is kept as a copy.
    KV_UpdateTextureSubImageHint hint(0, 0, 1, 1);
    g.Notify(7, &hint);
    g.Notify(9, nullptr);
    g.Notify(-1, nullptr);
    for (int i = 0; i < KV_Actor3D::kPendingFlagCount; ++i)
        EXPECT_FALSE(actor->IsUpdatePending(i)) << i;
    EXPECT_EQ(1u, actor->PendingHintCount());
    g.Notify(4, nullptr);
    EXPECT_TRUE(actor->IsUpdatePending(4));

    std::ostringstream os;
    actor->Dump(os);
    EXPECT_EQ(0u, os.str().find("KV_Actor3D: \n mkGeometry: KV_Geometry3D: \n"));
    EXPECT_NE(std::string::npos,
              os.str().find(" mbRenderToMemory: 0\nKV_TexturedActor3D: \n munTextureName: 0\n"
                            " munSavedTextureName: 0\n munMaxTextureImageSizePow2: 13\n"));
}

TEST(Actor3D, DetachesOnDestructionAndOutlivesItsGeometry)
{
    KV_PolySurfaceGeometry3D g;
    KV_Actor3D* first = g.CreateActor();
    std::unique_ptr<KV_Actor3D> second(g.CreateActor());
    EXPECT_EQ(2u, g.ObserverCount());
    delete first;
    EXPECT_EQ(1u, g.ObserverCount());

    std::unique_ptr<KV_Actor3D> orphan;
    {
        KV_PolySurfaceGeometry3D shortLived;
        orphan.reset(shortLived.CreateActor());
    }
    EXPECT_EQ(nullptr, orphan->GetGeometry());
    std::ostringstream os;
    orphan->Dump(os);
    EXPECT_NE(std::string::npos, os.str().find(" mkGeometry: null pointer\n"));
}

TEST(Environment, ResizeScalesTheViewportAndFitsTheVolume)
{
    KV_OGLRenderer renderer;
    renderer.SetWindowSize(200, 100);
    EXPECT_EQ(200u, renderer.GetViewport().munWidth);
    renderer.SetViewport(KV_Viewport(10, 20, 100, 50));
    KV_PerspectiveClippingVolume perspective;
    perspective.mrAspectRatio = 2.0f;
    renderer.SetClippingVolume(perspective);

    // A minimised window changes nothing.
    renderer.Resize(0, 100);
    renderer.Resize(200, 0);
    EXPECT_EQ(10, renderer.GetViewport().mkLowerLeft[0]);
    EXPECT_EQ(100u, renderer.GetViewport().munWidth);

    renderer.Resize(400, 100);
    EXPECT_EQ(20, renderer.GetViewport().mkLowerLeft[0]);
    EXPECT_EQ(20, renderer.GetViewport().mkLowerLeft[1]);
    EXPECT_EQ(200u, renderer.GetViewport().munWidth);
    EXPECT_EQ(50u, renderer.GetViewport().munHeight);
    const auto* fitted =
        dynamic_cast<const KV_PerspectiveClippingVolume*>(renderer.GetClippingVolume());
    ASSERT_NE(nullptr, fitted);
    EXPECT_FLOAT_EQ(4.0f, fitted->mrAspectRatio);

    // An orthographic volume widens about its centre and keeps its height.
    KV_OrthographicClippingVolume ortho;
    ortho.mrLeft = 1;
    ortho.mrRight = 3;
    ortho.mrTop = 1;
    ortho.mrBottom = -1;
    renderer.SetClippingVolume(ortho);
    renderer.Resize(800, 100);
    const auto* wide =
        dynamic_cast<const KV_OrthographicClippingVolume*>(renderer.GetClippingVolume());
    ASSERT_NE(nullptr, wide);
    EXPECT_FLOAT_EQ(2.0f - 8.0f, wide->mrLeft);  // centre 2, half-width 1 · 400 / 50
    EXPECT_FLOAT_EQ(2.0f + 8.0f, wide->mrRight);
    EXPECT_FLOAT_EQ(1.0f, wide->mrTop);
}

TEST(Environment, ResizeBeforeAnyWindowSizeTakesTheWholeWindow)
{
    KV_OGLRenderer renderer;
    renderer.Resize(300, 150);
    EXPECT_EQ(0, renderer.GetViewport().mkLowerLeft[0]);
    EXPECT_EQ(300u, renderer.GetViewport().munWidth);
    EXPECT_EQ(150u, renderer.GetViewport().munHeight);
    renderer.Resize(600, 150);
    EXPECT_EQ(600u, renderer.GetViewport().munWidth);
}

TEST(Environment, RollThereAndBackIsTheIdentity)
{
    KV_OGLRenderer renderer;
    renderer.mkWorldCentreOfRotation = KV_Vector3D(1, 2, 3);
    renderer.RotateWorld(KV_Vector3D(0, 1, 0), 30.0f);
    const KV_OGLTransform turned = renderer.GetWorldTransform();
    renderer.Roll(5.0f);
    renderer.Roll(-5.0f);
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j)
            EXPECT_NEAR(turned.mkTransform(i, j), renderer.GetWorldTransform().mkTransform(i, j),
                        1e-5f);
    renderer.ResetWorldTransform();
    renderer.Roll(5.0f);
    renderer.Roll(-5.0f);
    ExpectIdentity(renderer.GetWorldTransform());
}

TEST(Environment, RotationsTurnAboutScreenAxesThroughTheCentre)
{
    KV_OGLRenderer renderer;
    const KV_Vector3D centre(1, 1, 1);
    renderer.mkWorldCentreOfRotation = centre;
    renderer.RotateWorld(KV_Vector3D(0, 1, 0), 90.0f);
    ExpectNear(centre, renderer.GetWorldTransform().TransformPoint(centre));
    // After a turn about y, a turn about the screen's x axis still turns about screen x.
    renderer.RotateWorld(KV_Vector3D(1, 0, 0), 90.0f);
    const KV_OGLTransform& w = renderer.GetWorldTransform();
    // A point above the centre (screen y) goes to screen -z or +z, not along x.
    const KV_Vector3D p = w.TransformPoint(centre + KV_Vector3D(0, 1, 0)) - centre;
    EXPECT_NEAR(0.0f, p.x, 1e-5f);
    EXPECT_NEAR(0.0f, p.y, 1e-5f);
    EXPECT_NEAR(1.0f, std::fabs(p.z), 1e-5f);

    // Roll turns about the viewing axis.
    KV_OGLRenderer rolling;
    rolling.Roll(90.0f);
    ExpectNear(KV_Vector3D(0, 1, 0),
               rolling.GetWorldTransform().TransformPoint(KV_Vector3D(1, 0, 0)));
}

TEST(Environment, DollyAndPanMoveTheCamera)
{
    KV_OGLRenderer renderer;
    renderer.Dolly(2.0f);
    renderer.Pan(1.0f, 3.0f);
    ExpectNear(KV_Vector3D(-1, -3, 2), renderer.GetCameraTransform().GetTranslation());
}

TEST(ClippingVolume, SizesAndClones)
{
    KV_PerspectiveClippingVolume p;
    p.mrNear = 1;
    p.mrFar = 3;
    p.mrFieldOfView = 90;
    p.mrAspectRatio = 2;
    EXPECT_NEAR(2.0f, p.GetHeight(), 1e-5f);  // tan 45° · mid depth 2
    EXPECT_NEAR(4.0f, p.GetWidth(), 1e-5f);
    std::unique_ptr<KV_ClippingVolume> copy(p.Clone());
    EXPECT_NE(nullptr, dynamic_cast<KV_PerspectiveClippingVolume*>(copy.get()));
    EXPECT_EQ(3.0f, copy->mrFar);

    KV_OrthographicClippingVolume o;
    o.mrLeft = -2;
    o.mrRight = 4;
    EXPECT_EQ(6.0f, o.GetWidth());
    EXPECT_EQ(2.0f, o.GetHeight());
    // A viewport without height changes nothing.
    o.FitToViewport(KV_Viewport(0, 0, 10, 0));
    EXPECT_EQ(-2.0f, o.mrLeft);
}

TEST(Renderer, NearAndFarEncloseTheScene)
{
    // Without a context the renderer still computes: ComputeNearFar is arithmetic.
    class Probe : public KV_OGLRenderer
    {
    public:
        void SetBox(const KV_BoundingBox3D& box) { mkSceneBoundingBox = box; }
    } renderer;
    renderer.SetBox(KV_BoundingBox3D(0, 1, 0, 1, 0, 1));
    const float d = std::sqrt(3.0f);
    renderer.SetCameraTranslation(KV_Vector3D(-0.5f, -0.5f, -6 * d));
    float nearPlane = 0, farPlane = 0;
    renderer.ComputeNearFar(nearPlane, farPlane);
    EXPECT_NEAR(6 * d - 1 - d, nearPlane, 1e-4f);
    EXPECT_NEAR(6 * d + d, farPlane, 1e-4f);

    // A camera inside the box gives no usable near plane.
    renderer.SetCameraTranslation(KV_Vector3D(-0.5f, -0.5f, -0.5f));
    renderer.ComputeNearFar(nearPlane, farPlane);
    EXPECT_EQ(-1.0f, nearPlane);

    // The refit keeps the near plane at 0.5 or beyond and the far plane beyond 1.
    KV_PerspectiveClippingVolume volume;
    volume.mrFieldOfView = 33;
    renderer.SetClippingVolume(volume);
    renderer.UpdateNearFar();
    EXPECT_EQ(0.5f, renderer.GetClippingVolume()->mrNear);
    EXPECT_GT(renderer.GetClippingVolume()->mrFar, 1.0f);
    EXPECT_EQ(33.0f, dynamic_cast<const KV_PerspectiveClippingVolume*>(renderer.GetClippingVolume())
                         ->mrFieldOfView);
    renderer.SetBox(KV_BoundingBox3D(0, 0, 0, 0, 0, 0));
    renderer.SetCameraTranslation(KV_Vector3D(0, 0, 0));
    renderer.UpdateNearFar();
    EXPECT_EQ(100.0f, renderer.GetClippingVolume()->mrFar);
}

// The texture and a material's picture are packed on the executor and let go on the reader's
// thread, only when the geometry and its pictures are as they were when packing began; the
// pixels read afterwards are the pictures' either way.
TEST(PolySurfaceGeometry3D, PicturesPackedOnlyWhenNothingChangedMeanwhile)
{
    using Geometry = std::unique_ptr<KV_PolySurfaceGeometry3D>;
    const struct
    {
        const char* name;
        std::function<void(Geometry&)> meanwhile;
        bool packed;
    } cases[] = {
        {"nothing", [](Geometry&) {}, true},
        {"writable surface asked for", [](Geometry& g) { g->GetSurface(); }, false},
        {"surface set again", [](Geometry& g) { g->SetSurface(g->DrawingSurface(), false); }, false},
        {"geometry deleted", [](Geometry& g) { g.reset(); }, false},
    };
    KV_Executor executor(1);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        KV_PolySurface surface = Square();
        AddTexture(surface, ColourImage(512, 512, [](int r, int col)
                                        { return KV_RGB8{static_cast<unsigned char>(r / 16), 0, static_cast<unsigned char>(col / 32)}; }));
        const KV_Image<KV_RGB8> picture = *surface.mpTextureMap->ColourImage();
        // Posted once at most; every change below waits for the packing work to end, and the
        // geometry goes (waiting for it) before the promise.
        std::promise<std::function<void()>> posted;
        std::future<std::function<void()>> call = posted.get_future();
        auto geometry = std::make_unique<KV_PolySurfaceGeometry3D>();
        auto material = std::make_shared<KV_MultiImage>(*surface.mpTextureMap);
        geometry->Appearance().materials.push_back({"other", material, true});
        geometry->SetSurface(surface, false);
        geometry->StartPackingPictures(&executor, [&posted](std::function<void()> f)
                                       { posted.set_value(std::move(f)); });
        EXPECT_TRUE(geometry->IsPackingPictures());
        if (c.packed)
            call.wait();
        c.meanwhile(geometry);
        if (call.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            call.get()();
        if (!geometry)
            continue;
        EXPECT_FALSE(geometry->PackPictures()) << "once a surface";
        for (const KV_MultiImage* map : {static_cast<const KV_MultiImage*>(geometry->DrawingSurface().mpTextureMap), static_cast<const KV_MultiImage*>(material.get())})
        {
            EXPECT_EQ(map->IsPacked(), c.packed);
            ASSERT_NE(map->ColourImage(), nullptr);
            EXPECT_TRUE(std::equal(picture.Data(), picture.Data() + picture.Count(), map->ColourImage()->Data()));
        }
    }
}
