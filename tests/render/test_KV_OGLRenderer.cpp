// The renderer, its actors and their texture, drawn on Xvfb with Mesa and checked by the
// pixels read back: colours at known points, coverage and symmetry, never stored pictures.

#include "GLTestSupport.h"
#include "RenderTestSurfaces.h"

#include "foundation/KV_Exception.h"
#include "foundation/KV_Executor.h"
#include "render/KV_OGLRenderer.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "render/KV_ViewDefaults.h"
#include "surface/KV_PSO_ComputeNormals.h"

#include <cmath>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

namespace
{
constexpr int kSize = 64;

// A renderer that can draw its actors for colour picking instead of the normal frame.
class PickingRenderer : public KV_OGLRenderer
{
public:
    void RenderScene() override
    {
        if (munPickFirstId == 0)
        {
            KV_OGLRenderer::RenderScene();
            return;
        }
        KV_OGLEnvironmentRenderer::RenderScene();
        for (auto& entry : mkActors) munNextId = entry.second->DrawForColourPicking(munPickFirstId);
    }
    unsigned int munPickFirstId = 0;
    unsigned int munNextId = 0;
};

bool IsBackground(const KV_RGB8& p)
{
    return p.red == 0 && p.green == 0 && p.blue == 0;
}

int Coverage(const KV_Image<KV_RGB8>& image)
{
    int covered = 0;
    for (int r = 0; r < image.Rows(); ++r)
        for (int c = 0; c < image.Cols(); ++c) covered += IsBackground(image(r, c)) ? 0 : 1;
    return covered;
}

int Brightness(const KV_RGB8& p)
{
    return p.red + p.green + p.blue;
}
}  // namespace

// A renderer set up as the view sets it up, with one window, two lights and a perspective
// volume; surfaces are shown as the view shows a freshly loaded one.
class SceneTest : public DisplayTest
{
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        if (IsSkipped())
            return;
        KV_PixelFormat chosen;
        ASSERT_EQ(0, mkRenderer.Initialise(mkWindow.GetDeviceContext(), chosen,
                                           KV_WGLRenderer::WindowPixelFormat(), 0));
        KV_AddViewLights(mkRenderer);
        mkRenderer.SetClippingVolume(KV_ViewClippingVolume());
        mkRenderer.SetBackgroundColour(KV_OGLColour(0, 0, 0, 0));
        mkRenderer.SetWindowSize(kSize, kSize);
    }

    void TearDown() override
    {
        if (mkRenderer.IsInitialised())
            mkRenderer.CleanUp();
    }

    // Loads surface into the geometry and adds its actor, as the view does after opening.
    KV_PolySurfaceActor3D* Show(const KV_PolySurface& surface, bool selected = false)
    {
        mkGeometry.SetSurface(surface, selected);
        auto* actor = static_cast<KV_PolySurfaceActor3D*>(mkGeometry.CreateActor());
        actor->SetVertexLayoutFrom(munVertexLayoutFrom);
        mkRenderer.AddActor(actor);
        mkRenderer.ResetCamera(1);
        mkRenderer.mkWorldCentreOfRotation = mkGeometry.GetCentre();
        return actor;
    }

    // One frame drawn into a memory context of the window's size.
    KV_Image<KV_RGB8> Picture(const char* name = nullptr)
    {
        KV_Image<KV_RGB8> image;
        EXPECT_EQ(0, mkRenderer.BeginMemoryContext(kSize, kSize, nullptr, 0));
        mkRenderer.Render();
        image = mkRenderer.MemoryImage();
        mkRenderer.EndMemoryContext();
        if (name != nullptr)
            SaveForInspection(image, name);
        return image;
    }

    KV_PolySurfaceGeometry3D mkGeometry;  // outlives the renderer's actors
    PickingRenderer mkRenderer;
    unsigned int munVertexLayoutFrom = 65536;  // as the actor has it
};

TEST_F(SceneTest, EmptySceneIsBackgroundOnly)
{
    mkRenderer.SetBackgroundColour(KV_OGLColour(0.2f, 0.4f, 0.6f, 1.0f));
    const KV_Image<KV_RGB8> image = Picture();
    for (int r = 0; r < kSize; r += 5)
        for (int c = 0; c < kSize; c += 5)
            ASSERT_TRUE(Near(image(r, c), 51, 102, 153)) << r << "," << c;
}

TEST_F(SceneTest, ResetCameraFramesTheSurfaceInTheMiddle)
{
    Show(Square());
    const KV_Image<KV_RGB8> image = Picture("framed");
    // The unit square's height fills half the picture's height, centred.
    int rowLo = kSize, rowHi = -1, colLo = kSize, colHi = -1;
    for (int r = 0; r < kSize; ++r)
        for (int c = 0; c < kSize; ++c)
            if (!IsBackground(image(r, c)))
            {
                rowLo = std::min(rowLo, r);
                rowHi = std::max(rowHi, r);
                colLo = std::min(colLo, c);
                colHi = std::max(colHi, c);
            }
    EXPECT_NEAR(16, rowLo, 1);
    EXPECT_NEAR(47, rowHi, 1);
    EXPECT_NEAR(16, colLo, 1);
    EXPECT_NEAR(47, colHi, 1);
    EXPECT_NEAR(32 * 32, Coverage(image), 64);

    // The square is lit evenly (all normals equal): the frame is symmetric left to right.
    for (int r = 20; r < 44; r += 4)
        for (int c = 20; c < 32; c += 4)
            EXPECT_TRUE(Near(image(r, c), image(r, kSize - 1 - c).red,
                             image(r, kSize - 1 - c).green, image(r, kSize - 1 - c).blue, 3))
                << r << "," << c;
}

TEST_F(SceneTest, ResetCameraNumbersForTheUnitBox)
{
    KV_PolySurface s = Square();
    (*s.mpVertices)[2].z = 1.0f;  // extents 0..1 in every axis
    s.ComputeExtents();
    Show(s);
    const float d = std::sqrt(3.0f);
    const float l = 6.0f * d;
    const KV_Vector3D t = mkRenderer.GetCameraTransform().GetTranslation();
    EXPECT_NEAR(-0.5f, t.x, 1e-5f);
    EXPECT_NEAR(-0.5f, t.y, 1e-5f);
    EXPECT_NEAR(-l, t.z, 1e-4f);
    const auto* volume =
        dynamic_cast<const KV_PerspectiveClippingVolume*>(mkRenderer.GetClippingVolume());
    ASSERT_NE(nullptr, volume);
    EXPECT_NEAR(std::atan(1.0f / l) * 114.59156f, volume->mrFieldOfView, 1e-4f);
    EXPECT_NEAR(l - 1.0f - d, volume->mrNear, 1e-4f);
    EXPECT_NEAR(l + d, volume->mrFar, 1e-4f);
    EXPECT_FLOAT_EQ(1.0f, volume->mrAspectRatio);
    // Light 0 shines along the viewing axis; the world turns about the centroid.
    EXPECT_EQ(KV_Vector3D(0.0f, 0.0f, 1.0f), mkRenderer.GetLight(0).mkPosition);
    EXPECT_EQ(KV_Vector3D(0.5f, 0.5f, 0.25f), mkRenderer.mkWorldCentreOfRotation);

    mkRenderer.ResetCamera(0);
    const auto* ortho =
        dynamic_cast<const KV_OrthographicClippingVolume*>(mkRenderer.GetClippingVolume());
    ASSERT_NE(nullptr, ortho);
    EXPECT_FLOAT_EQ(-1.0f, ortho->mrLeft);
    EXPECT_FLOAT_EQ(1.0f, ortho->mrTop);
}

TEST_F(SceneTest, ZeroSizedSceneGivesADegenerateProjectionWithoutFailing)
{
    KV_PolySurface point;
    point.Vertices().Append(KV_Vector3D(2, 2, 2));
    point.ComputeExtents();
    Show(point);
    EXPECT_EQ(0.0f, mkRenderer.GetClippingVolume()->mrNear);
    EXPECT_EQ(0.0f, mkRenderer.GetClippingVolume()->mrFar);
    EXPECT_NO_THROW(Picture());
}

TEST_F(SceneTest, SmoothFlatAndWireframeDiffer)
{
    // Normals leaning differently at each corner: smooth shading blends them, flat shading
    // gives each triangle one colour.
    KV_PolySurface s = Square();
    const KV_Vector3D normals[4] = {KV_Vector3D(-0.6f, -0.6f, 0.5f), KV_Vector3D(0.6f, -0.6f, 0.5f),
                                    KV_Vector3D(0.6f, 0.6f, 0.5f), KV_Vector3D(-0.6f, 0.6f, 0.5f)};
    for (int i = 0; i < 4; ++i)
    {
        KV_Vector3D n = normals[i];
        n.Normalise();
        (*s.mpVertexNormals)[i] = n;
    }
    KV_PolySurfaceActor3D* actor = Show(s);
    mkGeometry.mkMaterial.mkSpecular = KV_OGLColour(0, 0, 0, 1);

    // Colours inside the lower-right triangle (0, 1, 2), away from its edges.
    auto coloursInTriangle = [](const KV_Image<KV_RGB8>& image)
    {
        std::set<std::tuple<int, int, int>> colours;
        for (int r = 19; r < 45; ++r)
            for (int c = 19; c < 45; ++c)
                if (c - r > 3)
                    colours.insert({image(r, c).red, image(r, c).green, image(r, c).blue});
        return colours;
    };
    const KV_Image<KV_RGB8> smooth = Picture("smooth");
    EXPECT_GT(coloursInTriangle(smooth).size(), 10u);

    actor->SetDisplayedSmooth(false);
    const KV_Image<KV_RGB8> flat = Picture("flat");
    EXPECT_EQ(1u, coloursInTriangle(flat).size());
    EXPECT_NEAR(32 * 32, Coverage(flat), 64);

    // Wireframe overrides smooth: outlines only, flat-coloured, the inside left empty.
    actor->SetDisplayedSmooth(true);
    actor->SetDisplayedWireframe(true);
    const KV_Image<KV_RGB8> wire = Picture("wireframe");
    EXPECT_TRUE(IsBackground(wire(36, 28)));
    EXPECT_GT(Coverage(wire), 100);
    EXPECT_LT(Coverage(wire), 400);
    EXPECT_FALSE(IsBackground(wire(32, 32)) && IsBackground(wire(31, 31)) &&
                 IsBackground(wire(33, 33)));  // the diagonal is drawn
}

TEST_F(SceneTest, TextureShowsWhenOnAndNotWhenOff)
{
    KV_PolySurfaceActor3D* actor = Show(RedGreenSquare());
    EXPECT_NE(0u, actor->GetTextureName());
    EXPECT_TRUE(actor->HasTexturedLayout());
    const KV_Image<KV_RGB8> textured = Picture("textured");
    const KV_RGB8 left = textured(32, 22);
    const KV_RGB8 right = textured(32, 42);
    EXPECT_GT(left.red, 100);
    EXPECT_LT(left.green, 20);
    EXPECT_GT(right.green, 100);
    EXPECT_LT(right.red, 20);

    actor->SetDisplayedTextured(false);
    const KV_Image<KV_RGB8> plain = Picture("untextured");
    for (const KV_RGB8& p : {plain(32, 22), plain(32, 42)})
    {
        EXPECT_GT(p.red, 40);
        EXPECT_NEAR(p.red, p.green, 2);
        EXPECT_NEAR(p.red, p.blue, 2);
    }
}

// Models with tiled textures (coordinates beyond the unit square) repeat the picture; the
// square with u running to 2 shows red, green, red, green instead of green from the middle on.
TEST_F(SceneTest, CoordinatesBeyondTheUnitSquareRepeatThePicture)
{
    KV_PolySurface s = RedGreenSquare();
    for (unsigned int i = 0; i < s.mpTextureCoordinates->Count(); ++i)
        (*s.mpTextureCoordinates)[i].u *= 2.0f;
    Show(s);
    const KV_Image<KV_RGB8> image = Picture("tiled");
    const int columns[4] = {20, 28, 36, 44};
    for (int k = 0; k < 4; ++k)
    {
        const KV_RGB8 p = image(32, columns[k]);
        const bool red = k % 2 == 0;
        EXPECT_GT(red ? p.red : p.green, 100) << "column " << columns[k];
        EXPECT_LT(red ? p.green : p.red, 20) << "column " << columns[k];
    }
}

TEST_F(SceneTest, GreyTextureShowsToo)
{
    KV_PolySurface s = Square();
    auto* grey = new KV_Image<unsigned char>(4, 4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) (*grey)(r, c) = c < 2 ? 255 : 0;
    AddTexture(s, nullptr, grey);
    KV_PolySurfaceActor3D* actor = Show(s);
    EXPECT_NE(0u, actor->GetTextureName());
    const KV_Image<KV_RGB8> image = Picture("grey");
    const KV_RGB8 left = image(32, 22);
    const KV_RGB8 right = image(32, 42);
    EXPECT_GT(left.red, 150);
    EXPECT_NEAR(left.red, left.green, 2);
    EXPECT_NEAR(left.red, left.blue, 2);
    EXPECT_LT(Brightness(right), 30);

    // A sub-image update of a grey texture changes nothing.
    KV_UpdateTextureSubImageHint hint(0, 0, 3, 3);
    mkGeometry.GetSurface().mpTextureMap->GreyImage();
    mkGeometry.Notify(7, &hint);
    const KV_Image<KV_RGB8> again = Picture();
    EXPECT_EQ(left, again(32, 22));
}

TEST_F(SceneTest, UntexturedSurfaceHasNoTextureObject)
{
    KV_PolySurfaceActor3D* actor = Show(Square());
    EXPECT_EQ(0u, actor->GetTextureName());
    EXPECT_FALSE(actor->HasTexturedLayout());
    const KV_Image<KV_RGB8> on = Picture();
    actor->SetDisplayedTextured(false);
    const KV_Image<KV_RGB8> off = Picture();
    for (int r = 0; r < kSize; r += 3)
        for (int c = 0; c < kSize; c += 3) ASSERT_EQ(on(r, c), off(r, c));
}

TEST_F(SceneTest, BackFacesAreAQuarterAsBright)
{
    // Front faces towards the camera, then the same square turned inside out (clockwise, with
    // the normals reversed) so that its back faces look at the camera with the same lighting.
    // A dull material, so that the front stays below white with light 0 head-on.
    mkGeometry.mkMaterial.mkSpecular = KV_OGLColour(0, 0, 0, 1);
    mkGeometry.mkMaterial.mkDiffuse = KV_OGLColour(0.3f, 0.3f, 0.3f, 1);
    Show(Square());
    const KV_RGB8 front = Picture("front")(32, 32);
    mkRenderer.RemoveActor(mkGeometry.munID);
    Show(Square(0.0f, true, KV_Vector3D(0, 0, -1)));
    const KV_RGB8 back = Picture("back")(32, 32);
    EXPECT_GT(front.red, 60);
    EXPECT_NEAR(front.red / 4.0, back.red, 1.5);
    EXPECT_NEAR(front.green / 4.0, back.green, 1.5);
    EXPECT_NEAR(front.blue / 4.0, back.blue, 1.5);
}

// Light 0 lies along the viewing axis after a camera reset, whatever the last frame in the
// window turned: a standard view or a newly opened file is lit the same whatever came before
// it, and as a picture drawn off-screen (a fresh context) lights it.
TEST_F(SceneTest, LightZeroFollowsTheViewingAxisWhateverTheLastFrameTurned)
{
    Show(Square());
    for (float angle : {0.0f, 70.0f, 180.0f})
    {
        mkRenderer.RotateWorld(KV_Vector3D(0.3f, 1.0f, 0.0f), angle);
        mkRenderer.Render();
        mkRenderer.ResetCamera(1);
        GLfloat position[4] = {};
        glGetLightfv(GL_LIGHT0, GL_POSITION, position);
        EXPECT_NEAR(position[0], 0.0f, 1e-5f) << angle;
        EXPECT_NEAR(position[1], 0.0f, 1e-5f) << angle;
        EXPECT_NEAR(position[2], 1.0f, 1e-5f) << angle;
        EXPECT_EQ(position[3], 0.0f) << angle;
    }
}

TEST_F(SceneTest, SelectedPolygonsUseTheSelectedMaterialEvenWhenTextured)
{
    KV_PolySurfaceActor3D* actor = Show(RedGreenSquare(), true);
    EXPECT_NE(0u, actor->GetTextureName());
    const KV_Image<KV_RGB8> image = Picture("selected");
    for (const KV_RGB8& p : {image(32, 22), image(32, 42)})
    {
        EXPECT_GT(p.red, 100);
        EXPECT_LT(p.green, 10);
        EXPECT_LT(p.blue, 10);
    }
    EXPECT_EQ(image(32, 22).red, image(32, 42).red);
}

TEST_F(SceneTest, TexturesAreLimitedTo8192TexelsOnASide)
{
    struct Case
    {
        int width, height, expectedWidth, expectedHeight;
    };
    for (const Case& c :
         {Case{10000, 500, 8192, 500}, Case{500, 10000, 500, 8192}, Case{8192, 16, 8192, 16}})
    {
        KV_PolySurfaceGeometry3D geometry;
        KV_PolySurface s = Square();
        AddTexture(s, new KV_Image<KV_RGB8>(c.height, c.width));
        geometry.SetSurface(s, false);
        auto* actor = static_cast<KV_PolySurfaceActor3D*>(geometry.CreateActor());
        mkRenderer.AddActor(actor);
        EXPECT_EQ(c.expectedWidth, actor->UploadedWidth()) << c.width << "x" << c.height;
        EXPECT_EQ(c.expectedHeight, actor->UploadedHeight()) << c.width << "x" << c.height;
        GLint width = 0;
        glBindTexture(GL_TEXTURE_2D, actor->GetTextureName());
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        EXPECT_LE(width, 8192);
        mkRenderer.RemoveActor(geometry.munID);
    }
}

TEST_F(SceneTest, TextureNameSurvivesRenderToMemory)
{
    KV_PolySurfaceActor3D* actor = Show(RedGreenSquare());
    const unsigned int name = actor->GetTextureName();
    ASSERT_NE(0u, name);
    ASSERT_EQ(0, mkRenderer.BeginMemoryContext(kSize, kSize, nullptr, 0));
    EXPECT_TRUE(actor->IsRenderingToMemory());
    mkRenderer.Render();
    // The memory context has its own copy of the texture.
    EXPECT_GT(mkRenderer.MemoryImage()(32, 22).red, 100);
    mkRenderer.EndMemoryContext();
    EXPECT_FALSE(actor->IsRenderingToMemory());
    EXPECT_EQ(name, actor->GetTextureName());

    // The window's frame still has its texture.
    mkRenderer.Render();
    const KV_Image<KV_RGB8> window = ReadFront();
    EXPECT_GT(window(32, 22).red, 100);
}

TEST_F(SceneTest, SubImageUpdateReplacesARectangleOfTheTexture)
{
    Show(RedGreenSquare());
    KV_Image<KV_RGB8>& image = mkGeometry.GetSurface().mpTextureMap->GetColourImage();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 2; ++c) image(r, c) = KV_RGB8(0, 0, 255);
    // Out-of-range corners are clipped to the image.
    KV_UpdateTextureSubImageHint hint(-5, -5, 1, 9);
    mkGeometry.Notify(7, &hint);
    const KV_Image<KV_RGB8> picture = Picture("subimage");
    EXPECT_GT(picture(32, 22).blue, 100);
    EXPECT_LT(picture(32, 22).red, 20);
    EXPECT_GT(picture(32, 42).green, 100);
}

TEST_F(SceneTest, ColourPickingEncodesPolygonIds)
{
    Show(Square());
    mkRenderer.munPickFirstId = 256;
    const KV_Image<KV_RGB8> image = Picture("picking");
    EXPECT_EQ(258u, mkRenderer.munNextId);
    EXPECT_EQ(KV_RGB8(0, 1, 0), image(24, 40));  // polygon 0, lower right: id 256
    EXPECT_EQ(KV_RGB8(1, 1, 0), image(40, 24));  // polygon 1, upper left: id 257

    // Not pickable: nothing drawn, the id unchanged.
    mkRenderer.GetActors().begin()->second->SetPickable(false);
    const KV_Image<KV_RGB8> none = Picture();
    EXPECT_EQ(256u, mkRenderer.munNextId);
    EXPECT_TRUE(IsBackground(none(24, 40)));
}

TEST_F(SceneTest, PendingUpdatesWaitForTheDrawAndRebuildOnce)
{
    KV_PolySurfaceActor3D* actor = Show(Square());
    const unsigned int builds = actor->ArrayBuildCount();
    mkGeometry.Notify(0, nullptr);
    mkGeometry.Notify(0, nullptr);
    EXPECT_EQ(builds, actor->ArrayBuildCount());
    // An invisible actor still applies its updates when drawn.
    actor->SetVisible(false);
    mkRenderer.Render();
    EXPECT_EQ(builds + 1, actor->ArrayBuildCount());
    EXPECT_FALSE(actor->IsUpdatePending(0));
    EXPECT_EQ(0, Coverage(ReadFront()));
}

TEST_F(SceneTest, BadPolygonsAreSkippedNotRead)
{
    KV_PolySurface s = Square();
    (*s.mpPolygons)[1][2] = 99;  // past the vertices
    KV_Polygon two;
    two.Append(0);
    two.Append(1);
    s.Polygons().Append(two);
    KV_PolySurfaceActor3D* actor = Show(s);
    ASSERT_EQ(9u, actor->Triangles().size());
    EXPECT_EQ(-1, actor->Triangles()[3]);
    EXPECT_EQ(-1, actor->Triangles()[6]);
    const KV_Image<KV_RGB8> image = Picture();
    EXPECT_FALSE(IsBackground(image(24, 40)));  // polygon 0 drawn
    EXPECT_TRUE(IsBackground(image(40, 24)));   // polygon 1 skipped
}

TEST_F(SceneTest, RemovingTheOnlyActorKeepsTheBoxAndANewActorReplacesIt)
{
    Show(Square());
    const KV_BoundingBox3D box = mkRenderer.GetSceneBoundingBox();
    mkRenderer.RemoveActor(12345);  // unknown: nothing happens
    EXPECT_EQ(1u, mkRenderer.GetActorCount());
    mkRenderer.RemoveActor(mkGeometry.munID);
    EXPECT_EQ(0u, mkRenderer.GetActorCount());
    EXPECT_EQ(box.mrXHi, mkRenderer.GetSceneBoundingBox().mrXHi);

    KV_PolySurfaceGeometry3D other;
    other.SetSurface(Square(5.0f), false);
    mkRenderer.AddActor(other.CreateActor());
    EXPECT_EQ(1u, mkRenderer.GetActorCount());
    EXPECT_EQ(5.0f, mkRenderer.GetSceneBoundingBox().mrZLo);

    // A second actor widens the box; one for an id already present is dropped.
    mkGeometry.SetSurface(Square(), false);
    mkRenderer.AddActor(mkGeometry.CreateActor());
    mkRenderer.AddActor(mkGeometry.CreateActor());
    EXPECT_EQ(2u, mkRenderer.GetActorCount());
    EXPECT_EQ(1u, mkGeometry.ObserverCount());  // the dropped actor detached
    EXPECT_EQ(0.0f, mkRenderer.GetSceneBoundingBox().mrZLo);
    EXPECT_EQ(5.0f, mkRenderer.GetSceneBoundingBox().mrZHi);
    mkRenderer.RemoveActor(other.munID);
}

TEST_F(SceneTest, ReportsAndDump)
{
    Show(Square());
    mkRenderer.Render();
    std::ostringstream report;
    mkRenderer.ReportGLSettings(report);
    const std::string text = report.str();
    EXPECT_EQ(0u, text.find("Windows GL settings\n"));
    EXPECT_NE(std::string::npos, text.find("\nEnvironment Settings\n  Viewport    0  0  64  64\n"));
    EXPECT_NE(std::string::npos, text.find("\n  Lighting Enabled  1\n"));
    EXPECT_NE(std::string::npos, text.find("\n      Light 0\n        Position  "));
    EXPECT_NE(std::string::npos, text.find("\n      Light 2\nInactive\n"));
    EXPECT_NE(std::string::npos, text.find("\n  Projection Matrix    \n    "));

    std::ostringstream dump;
    mkRenderer.Dump(dump);
    const std::string d = dump.str();
    EXPECT_EQ(0u, d.find("KV_WGLRenderer: \n mbOGLInitialised: 1\n"));
    EXPECT_NE(std::string::npos, d.find(" mpkDC Assigned\nKV_OGLEnvironmentRenderer: \n"));
    EXPECT_NE(std::string::npos, d.find(" mkLights[1]: KV_Light: \n"));
    EXPECT_NE(std::string::npos, d.find(" mkWindowSize: 64 64\n"));
    EXPECT_NE(std::string::npos,
              d.find("KV_OGLRenderer: \n mkActors: \nKV_SmartPtr: \n mptData: KV_Actor3D: \n"));
    EXPECT_NE(std::string::npos, d.find(" mkSceneBoundingBox: KV_BoundingBox3D: \n"));
}

namespace
{
// A rippled 12 x 12 grid over the unit square with its true normals. With mixedWinding every
// other row of triangles runs clockwise (back faces towards the camera); with shortPolygon a
// two-corner polygon sits among the triangles (not drawable, so the batched path draws from
// its own corner list). n: the squares along each side.
KV_PolySurface Ripple(bool mixedWinding, bool shortPolygon, int n = 12)
{
    KV_PolySurface s;
    s.mpVertexNormals = new KV_List<KV_Vector3D>(64);
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
        {
            const float x = static_cast<float>(i) / n, y = static_cast<float>(j) / n;
            s.Vertices().Append(KV_Vector3D(x, y, 0.25f * std::sin(6 * x) * std::cos(5 * y)));
            KV_Vector3D normal(-1.5f * std::cos(6 * x) * std::cos(5 * y),
                               1.25f * std::sin(6 * x) * std::sin(5 * y), 1.0f);
            normal.Normalise();
            s.mpVertexNormals->Append(normal);
        }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
        {
            const unsigned int a = j * (n + 1) + i, b = a + 1, c = b + n + 1, d = a + n + 1;
            if (mixedWinding && j % 2 == 1)
            {
                AppendTriangle(s.Polygons(), a, c, b);
                AppendTriangle(s.Polygons(), a, d, c);
            }
            else
            {
                AppendTriangle(s.Polygons(), a, b, c);
                AppendTriangle(s.Polygons(), a, c, d);
            }
            if (shortPolygon && i == 5 && j == 5)
            {
                KV_Polygon p;
                p.Append(a);
                p.Append(b);
                s.Polygons().Append(p);
            }
        }
    s.ComputeExtents();
    s.ComputeBoundaries();
    return s;
}
}  // namespace

TEST_F(SceneTest, BatchedDrawingGivesThePerTrianglePixels)
{
    struct Case
    {
        const char* name;
        bool smooth, wireframe, textured, selected, mixedWinding, shortPolygon;
        int squares;  // along each side: 130 gives 33,800 triangles, drawn in steps
    };
    const Case cases[] = {
        {"smooth", true, false, false, false, false, false, 12},
        {"flat", false, false, false, false, false, false, 12},
        {"wireframe", true, true, false, false, false, false, 12},
        {"textured", true, false, true, false, false, false, 12},
        {"textured-wireframe", true, true, true, false, false, false, 12},
        {"back-faces", true, false, false, false, true, false, 12},
        {"back-faces-flat-textured", false, false, true, false, true, false, 12},
        {"selected", true, false, true, true, false, false, 12},
        {"selected-wireframe", true, true, false, true, true, false, 12},
        {"short-polygon", true, false, false, false, false, true, 12},
        {"short-polygon-wireframe", true, true, false, false, false, true, 12},
        {"steps-textured", true, false, true, false, true, false, 130},
        {"steps-wireframe", true, true, false, false, false, false, 130},
        {"steps-flat-short-polygon", false, false, false, false, false, true, 130},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        KV_PolySurface s = Ripple(c.mixedWinding, c.shortPolygon, c.squares);
        if (c.textured)
            AddTexture(s, ColourImage(16, 16,
                                      [](int r, int col)
                                      {
                                          return KV_RGB8(static_cast<unsigned char>(16 * r),
                                                         static_cast<unsigned char>(16 * col),
                                                         (r + col) % 2 ? 255 : 40);
                                      }));
        KV_PolySurfaceActor3D* actor = Show(s, c.selected);
        mkRenderer.RotateWorld(KV_Vector3D(1.0f, 0.6f, 0.0f), 40.0f);
        actor->SetDisplayedSmooth(c.smooth);
        actor->SetDisplayedWireframe(c.wireframe);
        actor->SetDisplayedTextured(c.textured);
        ASSERT_TRUE(actor->IsBatchedDrawing());
        const KV_Image<KV_RGB8> batched = Picture();
        actor->SetBatchedDrawing(false);
        const KV_Image<KV_RGB8> perTriangle = Picture();
        EXPECT_GT(Coverage(perTriangle), c.wireframe ? 200 : 600);
        int differing = 0;
        for (int r = 0; r < kSize; ++r)
            for (int col = 0; col < kSize; ++col)
                differing += batched(r, col) == perTriangle(r, col) ? 0 : 1;
        EXPECT_EQ(0, differing);
        if (differing != 0)
        {
            SaveForInspection(batched, std::string("batched-") + c.name);
            SaveForInspection(perTriangle, std::string("per-triangle-") + c.name);
        }
        mkRenderer.RemoveActor(mkGeometry.munID);
    }
}

// A textured surface large enough to have its arrays built on the executor beside the
// texture upload gives the arrays and pixels of a rebuild on this thread alone, whether the
// load marked its texture-coordinate vertices current or a change through the writable
// surface spoiled that list (drawing finds each coordinate's vertex from the polygons).
TEST_F(SceneTest, ArraysBuiltBesideTheUploadMatchARebuild)
{
    KV_Executor executor(2);
    for (const bool changed : {false, true})
    {
        SCOPED_TRACE(changed ? "list changed after the mark" : "list current");
        KV_PolySurface s = TexturedSeamGrid(200, 170);  // 68,000 triangles
        KV_PSO_ComputeNormals(&s).ComputeVertexNormals();
        s.RecomputeTextureCoordinateVertices();
        mkGeometry.SetSurface(s, false);
        mkGeometry.MarkTextureCoordinateVerticesCurrent();
        if (changed)
        {
            KV_List<unsigned int>& list = *mkGeometry.GetSurface().mpTextureCoordinateVertices;
            for (unsigned int i = 0; i < list.Count(); ++i) list[i] = 0;
        }
        auto* actor = static_cast<KV_PolySurfaceActor3D*>(mkGeometry.CreateActor());
        actor->SetExecutor(&executor);
        mkRenderer.AddActor(actor);
        mkRenderer.ResetCamera(1);
        mkRenderer.RotateWorld(KV_Vector3D(1.0f, 0.4f, 0.0f), 35.0f);
        const std::vector<float> positions = actor->Positions();
        const std::vector<float> normals = actor->Normals();
        const std::vector<float> coordinates = actor->TextureCoordinates();
        const std::vector<int> triangles = actor->Triangles().ToVector();
        const KV_Image<KV_RGB8> beside = Picture();

        const unsigned int builds = actor->ArrayBuildCount();
        mkGeometry.Notify(KV_Subject::HINT_SURFACE_CHANGED, nullptr);
        const KV_Image<KV_RGB8> rebuilt = Picture();
        ASSERT_GT(actor->ArrayBuildCount(), builds);
        EXPECT_TRUE(positions == actor->Positions());
        EXPECT_TRUE(normals == actor->Normals());
        EXPECT_TRUE(coordinates == actor->TextureCoordinates());
        EXPECT_TRUE(triangles == actor->Triangles().ToVector());
        EXPECT_GT(Coverage(rebuilt), 600);
        int differing = 0;
        for (int r = 0; r < kSize; ++r)
            for (int c = 0; c < kSize; ++c) differing += beside(r, c) == rebuilt(r, c) ? 0 : 1;
        EXPECT_EQ(0, differing);
        mkRenderer.RemoveActor(mkGeometry.munID);
    }
}

// A surface file's triangles are its texture polygons' run, shared: drawn in every mode as the
// same surface with a copy of its own, and kept as they were when the surface is written.
TEST_F(SceneTest, SharedTexturePolygonRunDrawsAsACopyDoes)
{
    const KV_PolySurface shared = TexturedSeamGrid(100, 90);  // 18,000 triangles: two pieces
    KV_PolySurface copied = shared;
    copied.mpTexturePolygons->Editable(0);  // list objects: the actor copies the corners
    std::vector<KV_Image<KV_RGB8>> pictures[2];
    for (int variant = 0; variant < 2; ++variant)
    {
        KV_PolySurfaceActor3D* actor = Show(variant == 0 ? shared : copied);
        EXPECT_EQ(variant == 0, actor->Triangles().IsShared());
        // The coordinates too, as the geometry's copy of the surface holds them.
        EXPECT_EQ(variant == 0,
                  actor->TextureCoordinateData() ==
                      reinterpret_cast<const float*>(
                          mkGeometry.DrawingSurface().mpTextureCoordinates->FirstBlock()));
        for (int mode = 0; mode < 3; ++mode)  // smooth, flat, wireframe
        {
            actor->SetDisplayedSmooth(mode != 1);
            actor->SetDisplayedWireframe(mode == 2);
            pictures[variant].push_back(Picture());
        }
        mkRenderer.RemoveActor(mkGeometry.munID);
    }
    for (int mode = 0; mode < 3; ++mode)
    {
        int lit = 0, differ = 0;
        for (int r = 0; r < kSize; ++r)
            for (int c = 0; c < kSize; ++c)
            {
                const KV_RGB8 p = pictures[0][mode](r, c);
                lit += p.red + p.green + p.blue > 0;
                differ += !(p == pictures[1][mode](r, c));
            }
        EXPECT_GT(lit, kSize * kSize / 8) << mode;
        EXPECT_EQ(0, differ) << mode;
    }
    KV_PolySurfaceActor3D* actor = Show(shared);
    const std::vector<int> before = actor->Triangles().ToVector();
    (*mkGeometry.GetSurface().mpTexturePolygons)[17000][1] = 0;
    EXPECT_EQ(before, actor->Triangles().ToVector());
}

namespace
{
// The list's elements again, in one piece as a surface file's reader leaves them.
template <typename T>
void InOnePiece(KV_List<T>*& list)
{
    auto* piece = new KV_List<T>(1024);
    piece->SetCountInOnePiece(list->Count());
    for (unsigned int i = 0; i < list->Count(); ++i) (*piece)[i] = (*list)[i];
    delete list;
    list = piece;
}
}  // namespace

// A surface file's seamed surface drawn from the surface's own lists (one element per vertex,
// the seam triangles from their own arrays) gives, in every mode and path, the pixels of the
// one-element-per-coordinate layout; so does its coarse list, named in coordinates either way.
TEST_F(SceneTest, VertexLayoutDrawsAsTheCoordinateLayoutDoes)
{
    // Coordinates numbered as the vertices (drawn as they lie), and the same numbered
    // backwards (copied into the vertices' order).
    KV_PolySurface surfaces[2] = {TexturedSeamGrid(80, 70), {}};  // 11,200 triangles
    InOnePiece(surfaces[0].mpVertices);
    InOnePiece(surfaces[0].mpTextureCoordinates);
    KV_PSO_ComputeNormals(&surfaces[0]).ComputeVertexNormals();
    surfaces[1] = surfaces[0];
    {
        KV_List<KV_Vector2D>& uv = *surfaces[1].mpTextureCoordinates;
        const unsigned int n = uv.Count();
        for (unsigned int i = 0; i < n / 2; ++i) std::swap(uv[i], uv[n - 1 - i]);
        KV_List<KV_Polygon>& texturePolygons = *surfaces[1].mpTexturePolygons;
        for (unsigned int p = 0; p < texturePolygons.Count(); ++p)
            for (unsigned int k = 0; k < 3; ++k)
            {
                unsigned int& corner = texturePolygons[p][k];
                corner = n - 1 - corner;
            }
    }
    struct Case
    {
        const char* name;
        bool smooth, wireframe, textured, batched, coarse, picking;
    };
    const Case cases[] = {
        {"smooth-textured", true, false, true, true, false, false},
        {"wireframe-textured", true, true, true, true, false, false},
        {"untextured", true, false, false, true, false, false},
        {"per-triangle-textured", true, false, true, false, false, false},
        {"per-triangle-wireframe", true, true, true, false, false, false},
        {"coarse-textured", true, false, true, true, true, false},
        {"colour-picking", true, false, false, true, false, true},
        {"flat-textured", false, false, true, true, false, false},
    };
    for (int numbering = 0; numbering < 2; ++numbering)
        for (const Case& c : cases)
        {
            SCOPED_TRACE(std::string(c.name) + (numbering == 0 ? " as vertices" : " backwards"));
            const KV_PolySurface& s = surfaces[numbering];
            KV_Image<KV_RGB8> pictures[2];
            std::vector<float> coarseSource[2];
            for (int layout = 0; layout < 2; ++layout)
            {
                munVertexLayoutFrom = layout == 0 ? 0u : ~0u;
                KV_PolySurfaceActor3D* actor = Show(s);
                ASSERT_EQ(layout == 0, actor->HasVertexLayout());
                if (layout == 0)
                {
                    EXPECT_EQ(2u * 70u, actor->SeamTriangles().size());
                    EXPECT_EQ(
                        numbering == 0,
                        actor->TextureCoordinateData() ==
                            reinterpret_cast<const float*>(
                                mkGeometry.DrawingSurface().mpTextureCoordinates->FirstBlock()));
                }
                mkRenderer.RotateWorld(KV_Vector3D(1.0f, 0.6f, 0.0f), 40.0f);
                actor->SetDisplayedSmooth(c.smooth);
                actor->SetDisplayedWireframe(c.wireframe);
                actor->SetDisplayedTextured(c.textured);
                actor->SetBatchedDrawing(c.batched);
                coarseSource[layout] = *actor->SharedPositions();
                if (c.coarse)
                {
                    // Every third triangle of the coordinates' list, the seam's among them.
                    const std::vector<int> all = actor->SharedTriangles()->ToVector();
                    std::vector<unsigned int> coarse;
                    for (std::size_t t = 0; t < all.size() / 3; t += 3)
                        for (int k = 0; k < 3; ++k)
                            coarse.push_back(static_cast<unsigned int>(all[3 * t + k]));
                    actor->SetCoarseTriangles(coarse, actor->ArrayBuildCount());
                    actor->SetDrawCoarse(true);
                    ASSERT_TRUE(actor->HasCoarseTriangles());
                }
                mkRenderer.munPickFirstId = c.picking ? 1 : 0;
                pictures[layout] = Picture();
                if (!c.smooth)
                {
                    EXPECT_FALSE(actor->HasVertexLayout());  // flat went back to the other
                }
                mkRenderer.munPickFirstId = 0;
                mkRenderer.RemoveActor(mkGeometry.munID);
            }
            EXPECT_TRUE(coarseSource[0] == coarseSource[1]);
            EXPECT_GT(Coverage(pictures[1]), c.wireframe ? 200 : 600);
            int differing = 0;
            for (int r = 0; r < kSize; ++r)
                for (int col = 0; col < kSize; ++col)
                    differing += pictures[0](r, col) == pictures[1](r, col) ? 0 : 1;
            EXPECT_EQ(0, differing);
            if (differing != 0)
            {
                SaveForInspection(pictures[0], std::string("vertex-layout-") + c.name);
                SaveForInspection(pictures[1], std::string("coordinate-layout-") + c.name);
            }
        }
}
