// The 3D view and the document driven for real under Xvfb: the command line's surface on
// screen, the Edit commands and their states, mouse drags, colours, replacing, failing and
// closing, export, print preview and printing to a PostScript file read back by Ghostscript.
#include "tests/app/AppHarness.h"

#include "app/KV_PrintFit.h"
#include "document/KV_SurfacePreparation.h"
#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "render/KV_TexturedActor3D.h"
#include "surface/KV_PolySurface.h"
#include "tests/support/SurfaceFileWriter.h"

#include <wx/dir.h>
#include <wx/dnd.h>
#include <wx/filename.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/dcmemory.h>
#include <wx/print.h>

#include <gtest/gtest.h>
#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace
{
constexpr float kPi = 3.14159265f;

bool IsDark(const wxImage& image, int x, int y)
{
    return image.GetRed(x, y) < 16 && image.GetGreen(x, y) < 16 && image.GetBlue(x, y) < 16;
}

// Lit pixels of a picture (anything not background black).
int LitPixels(const wxImage& image)
{
    int count = 0;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) count += IsDark(image, x, y) ? 0 : 1;
    return count;
}

// Lit pixels away from the middle band, where an empty view shows its hint text.
int LitPixelsBesideHint(const wxImage& image)
{
    int count = 0;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            count += !IsDark(image, x, y) && std::abs(y - image.GetHeight() / 2) > 20;
    return count;
}

long Difference(const wxImage& a, const wxImage& b)
{
    long total = 0;
    const unsigned char* p = a.GetData();
    const unsigned char* q = b.GetData();
    for (long i = 0; i < 3L * a.GetWidth() * a.GetHeight(); ++i) total += std::abs(p[i] - q[i]);
    return total;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string CopySample(const std::string& name)
{
    const std::string path = AppHarness::ScratchPath(name);
    std::ofstream(path, std::ios::binary) << ReadFile(AppHarness::SamplePath());
    return path;
}

class ViewTest : public ::testing::Test
{
protected:
    void StartWithSample()
    {
        ASSERT_TRUE(mkApp.Start({AppHarness::SamplePath()}));
        ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
        // The splash window lies over the view for its 750 ms.
        ASSERT_TRUE(mkApp.PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 5000));
        ASSERT_TRUE(mkApp.WaitForFrame());
    }

    KV_VerovuriRezaroView* View() { return mkApp.App().GetView(); }
    KV_VerovuriRezaroDoc* Doc() { return mkApp.App().GetDocument(); }
    KV_OGLRenderer& Renderer() { return View()->Renderer(); }
    KV_Actor3D* FirstActor() { return Renderer().GetActors().begin()->second.Get(); }

    wxImage Picture()
    {
        mkApp.WaitForFrame();
        return AppHarness::Capture(View());
    }

    const KV_Matrix& World() { return Renderer().GetWorldTransform().mkTransform; }
    KV_Vector3D CameraTranslation() { return Renderer().GetCameraTransform().GetTranslation(); }

    // A drag of the view from (x0, y0) to (x1, y1) in one move.
    void Drag(int x0, int y0, int x1, int y1, bool left, bool right, bool shift = false)
    {
        mkApp.Mouse(left ? wxEVT_LEFT_DOWN : wxEVT_RIGHT_DOWN, x0, y0, left, right, shift);
        mkApp.Mouse(wxEVT_MOTION, x1, y1, left, right, shift);
        mkApp.Mouse(left ? wxEVT_LEFT_UP : wxEVT_RIGHT_UP, x1, y1, false, false, shift);
    }

    AppHarness mkApp;
};
}  // namespace

TEST_F(ViewTest, CommandLineFileIsShownAndTitled)
{
    StartWithSample();
    EXPECT_EQ(mkApp.Frame()->GetTitle(), wxString("sample.osf - Orvane Image View"));
    EXPECT_EQ(Doc()->GetPathName(), wxString(AppHarness::SamplePath()));
    ASSERT_NE(Doc()->mpkSurfaceGeometry, nullptr);
    EXPECT_EQ(Renderer().GetActorCount(), 1u);
    const wxImage picture = Picture();
    ASSERT_TRUE(picture.IsOk());
    const int w = picture.GetWidth(), h = picture.GetHeight();
    // The framed surface fills the middle; the corners show the black background.
    EXPECT_FALSE(IsDark(picture, w / 2, h / 2));
    EXPECT_TRUE(IsDark(picture, 2, 2));
    EXPECT_TRUE(IsDark(picture, w - 3, h - 3));
    EXPECT_GT(LitPixels(picture), w * h / 20);
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
    // The file went into the recent-file list.
    ASSERT_GE(mkApp.App().RecentFiles().GetCount(), 1u);
    EXPECT_EQ(mkApp.App().RecentFiles().GetHistoryFile(0), wxString(AppHarness::SamplePath()));
}

TEST_F(ViewTest, DroppedFileOpensLikeTheCommandLine)
{
    ASSERT_TRUE(mkApp.Start());
    ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
    // The view covers the frame's client area, so both take drops.
    for (wxWindow* target : {static_cast<wxWindow*>(mkApp.Frame()), static_cast<wxWindow*>(View())})
    {
        auto* drop = dynamic_cast<wxFileDropTarget*>(target->GetDropTarget());
        ASSERT_NE(drop, nullptr);
    }
    wxArrayString files;
    files.Add(wxString(AppHarness::SamplePath()));
    dynamic_cast<wxFileDropTarget*>(View()->GetDropTarget())->OnDropFiles(10, 10, files);
    mkApp.WaitForLoad();
    ASSERT_NE(Doc()->mpkSurfaceGeometry, nullptr);
    EXPECT_EQ(Renderer().GetActorCount(), 1u);
    EXPECT_EQ(mkApp.Frame()->GetTitle(), wxString("sample.osf - Orvane Image View"));
}

TEST_F(ViewTest, LoadTimeLeavesOutTheTimeAWarningStayedOpen)
{
    // A textured triangle whose picture is missing: the load warns, and the warning stays
    // open 2.5 s, far longer than the load itself takes.
    const std::string model = AppHarness::ScratchPath("missing-texture.obj");
    std::ofstream(AppHarness::ScratchPath("missing-texture.mtl")) << "newmtl skin\nmap_Kd gone.png\n";
    std::ofstream(model) << "mtllib missing-texture.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
                            "vt 0 0\nvt 1 0\nvt 0 1\nusemtl skin\nf 1/1 2/2 3/3\n";
    mkApp.Prompts().mnMessageMs = 2500;
    auto loadedIn = [this]
    {
        const wxString status = mkApp.Frame()->GetStatusBar()->GetStatusText(0);
        double seconds = -1.0;
        EXPECT_EQ(std::sscanf(status.utf8_str(),
                              "3 vertices, 1 polygon, no texture, loaded in %lf s", &seconds),
                  1)
            << status;
        return seconds;
    };
    // From the command line (read before the window shows), then opened in the background.
    ASSERT_TRUE(mkApp.Start({model}));
    EXPECT_LT(loadedIn(), 2.5) << "command line";
    Doc()->CloseSurface();
    ASSERT_TRUE(mkApp.Open(model));
    EXPECT_LT(loadedIn(), 2.5) << "opened";
    ASSERT_EQ(mkApp.Prompts().mkMessages.size(), 2u);
    EXPECT_EQ(mkApp.Prompts().mkMessages[1].caption, "Texture not found");
}

TEST(ExportName, PathWithoutItsLastFourCharactersAndWrl)
{
    EXPECT_EQ(KV_DefaultExportName("/data/face.osf"), wxString("/data/face.wrl"));
    EXPECT_EQ(KV_DefaultExportName("/data/face.OSF"), wxString("/data/face.wrl"));
    EXPECT_EQ(KV_DefaultExportName("osf"), wxString(".wrl"));
    EXPECT_EQ(KV_DefaultExportName(""), wxString(".wrl"));
}

TEST(ViewDeathTest, NoOpenGLEndsTheProgramAfterItsMessage)
{
    EXPECT_EXIT(
        {
            AppHarness::UseServerWithoutOpenGL();
            AppHarness app;
            app.Start();
            app.Pump(3000);
        },
        ::testing::ExitedWithCode(1),
        "message box: Error - unable to initialise, Please contact Orvane Support");
}

TEST_F(ViewTest, ResizingTheWindowScalesTheViewport)
{
    StartWithSample();
    const wxSize before = View()->GetClientSize();
    EXPECT_EQ(Renderer().GetViewport().munWidth, static_cast<unsigned int>(before.x));
    mkApp.Frame()->SetSize(mkApp.Frame()->GetSize() + wxSize(200, 100));
    ASSERT_TRUE(mkApp.PumpUntil([&] { return View()->GetClientSize() != before; }, 5000));
    mkApp.Pump(100);
    const wxSize after = View()->GetClientSize();
    EXPECT_EQ(Renderer().GetViewport().munWidth, static_cast<unsigned int>(after.x));
    EXPECT_EQ(Renderer().GetViewport().munHeight, static_cast<unsigned int>(after.y));
    const wxImage picture = Picture();
    EXPECT_FALSE(IsDark(picture, after.x / 2, after.y / 2));
    EXPECT_TRUE(IsDark(picture, 2, 2));
}

TEST_F(ViewTest, CommandsNeedASurface)
{
    ASSERT_TRUE(mkApp.Start());
    ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
    for (int command : {ID_EDIT_RESET_POSITION, ID_EDIT_SURFACE_COLOUR, ID_FILE_CLOSE,
                        ID_FILE_EXPORT, ID_EDIT_ROTATE, ID_EDIT_SMOOTH_SHADING,
                        ID_EDIT_WIREFRAME_DISPLAY, ID_EDIT_TOGGLE_TEXTURE})
    {
        EXPECT_FALSE(mkApp.IsEnabled(command)) << command;
        EXPECT_FALSE(mkApp.IsChecked(command)) << command;
    }
    EXPECT_TRUE(mkApp.IsEnabled(ID_FILE_OPEN));
    EXPECT_TRUE(mkApp.IsEnabled(ID_EDIT_BACKGROUND_COLOUR));
    // Reset without a surface changes nothing and says nothing.
    mkApp.Command(ID_EDIT_RESET_POSITION);
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
}

TEST_F(ViewTest, SmoothAndWireframeActAsRadioItems)
{
    StartWithSample();
    EXPECT_TRUE(mkApp.IsEnabled(ID_EDIT_SMOOTH_SHADING));
    EXPECT_TRUE(mkApp.IsChecked(ID_EDIT_SMOOTH_SHADING));
    EXPECT_FALSE(mkApp.IsChecked(ID_EDIT_WIREFRAME_DISPLAY));
    const wxImage smooth = Picture();

    mkApp.Command(ID_EDIT_WIREFRAME_DISPLAY);
    EXPECT_TRUE(FirstActor()->IsDisplayedWireframe());
    EXPECT_TRUE(mkApp.IsChecked(ID_EDIT_WIREFRAME_DISPLAY));
    EXPECT_FALSE(mkApp.IsChecked(ID_EDIT_SMOOTH_SHADING));
    const wxImage wireframe = Picture();
    // Lines leave most of the surface's area showing the background.
    EXPECT_LT(LitPixels(wireframe), LitPixels(smooth));

    // The toolbar buttons follow.
    mkApp.Frame()->UpdateWindowUI(wxUPDATE_UI_RECURSE);
    wxToolBar* bar = mkApp.Frame()->GetToolBar();
    EXPECT_TRUE(bar->GetToolState(KV_MenuId(ID_EDIT_WIREFRAME_DISPLAY)));
    EXPECT_FALSE(bar->GetToolState(KV_MenuId(ID_EDIT_SMOOTH_SHADING)));

    mkApp.Command(ID_EDIT_SMOOTH_SHADING);
    EXPECT_FALSE(FirstActor()->IsDisplayedWireframe());
    EXPECT_TRUE(FirstActor()->IsDisplayedSmooth());
    EXPECT_TRUE(mkApp.IsChecked(ID_EDIT_SMOOTH_SHADING));
    EXPECT_EQ(Difference(Picture(), smooth), 0);
}

TEST_F(ViewTest, ToggleTextureAndSurfaceColour)
{
    StartWithSample();
    EXPECT_TRUE(mkApp.IsEnabled(ID_EDIT_TOGGLE_TEXTURE));
    EXPECT_TRUE(mkApp.IsChecked(ID_EDIT_TOGGLE_TEXTURE));
    const wxImage textured = Picture();
    mkApp.Command(ID_EDIT_TOGGLE_TEXTURE);
    EXPECT_FALSE(FirstActor()->IsDisplayedTextured());
    EXPECT_FALSE(mkApp.IsChecked(ID_EDIT_TOGGLE_TEXTURE));
    const wxImage plain = Picture();
    EXPECT_GT(Difference(plain, textured), 0);
    mkApp.Command(ID_EDIT_TOGGLE_TEXTURE);
    EXPECT_TRUE(FirstActor()->IsDisplayedTextured());
    EXPECT_EQ(Difference(Picture(), textured), 0);

    // Surface Colour, answered green: texture off, the material's ambient green.
    mkApp.Prompts().mkColours.push_back(wxColour(0, 255, 0));
    mkApp.Command(ID_EDIT_SURFACE_COLOUR);
    ASSERT_EQ(mkApp.Prompts().mkInitialColours.size(), 1u);
    EXPECT_EQ(mkApp.Prompts().mkInitialColours[0], *wxBLACK);
    EXPECT_FALSE(FirstActor()->IsDisplayedTextured());
    const KV_Material& material = Doc()->mpkSurfaceGeometry->mkMaterial;
    EXPECT_EQ(material.meMaterialFaces, 3);
    EXPECT_EQ(material.mkAmbient, KV_OGLColour(0, 1, 0, 0));
    EXPECT_EQ(material.mkDiffuse, KV_OGLColour(0.8f, 0.8f, 0.8f, 1));
    EXPECT_EQ(material.mrShininess, 25.0f);
    // The colour reaches the picture through the ambient term (the lit middle saturates to
    // white): green gives more green than red gives, and less red.
    const wxImage green = Picture();
    mkApp.Prompts().mkColours.push_back(wxColour(255, 0, 0));
    mkApp.Command(ID_EDIT_SURFACE_COLOUR);
    const wxImage red = Picture();
    mkApp.Prompts().mkColours.push_back(wxColour(0, 255, 0));
    mkApp.Command(ID_EDIT_SURFACE_COLOUR);
    long greenOfGreen = 0, redOfGreen = 0, greenOfRed = 0, redOfRed = 0;
    for (int y = 0; y < green.GetHeight(); ++y)
        for (int x = 0; x < green.GetWidth(); ++x)
        {
            greenOfGreen += green.GetGreen(x, y);
            redOfGreen += green.GetRed(x, y);
            greenOfRed += red.GetGreen(x, y);
            redOfRed += red.GetRed(x, y);
        }
    EXPECT_GT(greenOfGreen, greenOfRed);
    EXPECT_GT(redOfRed, redOfGreen);
    // Toggle Texture brings the texture back.
    mkApp.Command(ID_EDIT_TOGGLE_TEXTURE);
    EXPECT_TRUE(FirstActor()->IsDisplayedTextured());

    // Cancel leaves the material alone.
    mkApp.Command(ID_EDIT_SURFACE_COLOUR);
    EXPECT_EQ(Doc()->mpkSurfaceGeometry->mkMaterial.mkAmbient, KV_OGLColour(0, 1, 0, 0));
}

TEST_F(ViewTest, BackgroundColourFromTheDialog)
{
    StartWithSample();
    mkApp.Prompts().mkColours.push_back(wxColour(255, 0, 0));
    mkApp.Command(ID_EDIT_BACKGROUND_COLOUR);
    EXPECT_EQ(Renderer().GetBackgroundColour(), KV_OGLColour(1, 0, 0, 0));
    const wxImage picture = Picture();
    EXPECT_EQ(picture.GetRed(2, 2), 255);
    EXPECT_EQ(picture.GetGreen(2, 2), 0);
    // Cancelled: unchanged.
    mkApp.Command(ID_EDIT_BACKGROUND_COLOUR);
    EXPECT_EQ(Renderer().GetBackgroundColour(), KV_OGLColour(1, 0, 0, 0));
}

TEST_F(ViewTest, LeftDragTurnsAboutTheScreenAxisAcrossTheDrag)
{
    StartWithSample();
    // Pointer to the right: five degrees about +y, the front of the surface moves right.
    Drag(100, 100, 110, 100, true, false);
    const KV_Matrix& m = World();
    EXPECT_NEAR(m(1, 1), std::cos(5 * kPi / 180), 1e-4);
    EXPECT_NEAR(m(3, 1), -std::sin(5 * kPi / 180), 1e-4);
    EXPECT_NEAR(m(1, 3), std::sin(5 * kPi / 180), 1e-4);
    EXPECT_NEAR(m(2, 2), 1.0f, 1e-5);

    // Pointer down from the reset view: five degrees about +x, the top comes forward.
    mkApp.Command(ID_EDIT_RESET_POSITION);
    EXPECT_NEAR(World()(1, 1), 1.0f, 1e-6);
    Drag(100, 100, 100, 130, true, false);
    EXPECT_NEAR(World()(3, 2), std::sin(5 * kPi / 180), 1e-4);
    EXPECT_NEAR(World()(1, 1), 1.0f, 1e-5);

    // A move that returns to the same pixel changes nothing.
    mkApp.Command(ID_EDIT_RESET_POSITION);
    mkApp.Mouse(wxEVT_LEFT_DOWN, 50, 50, true, false);
    mkApp.Mouse(wxEVT_MOTION, 50, 50, true, false);
    EXPECT_NEAR(World()(1, 1), 1.0f, 1e-6);
    EXPECT_NEAR(World()(3, 1), 0.0f, 1e-6);
    mkApp.Mouse(wxEVT_LEFT_UP, 50, 50, false, false);
}

TEST_F(ViewTest, ShiftLeftDragRolls)
{
    StartWithSample();
    // To the right: -5 degrees about the viewing axis (clockwise on screen).
    Drag(100, 100, 120, 100, true, false, true);
    EXPECT_NEAR(World()(2, 1), -std::sin(5 * kPi / 180), 1e-4);
    EXPECT_NEAR(World()(1, 1), std::cos(5 * kPi / 180), 1e-4);
    Drag(120, 100, 100, 100, true, false, true);
    EXPECT_NEAR(World()(2, 1), 0.0f, 1e-4);
}

TEST_F(ViewTest, RightDragMovesTheSurfaceWithThePointer)
{
    StartWithSample();
    const KV_Vector3D before = CameraTranslation();
    const KV_ClippingVolume* volume = Renderer().GetClippingVolume();
    const float width = std::fabs(volume->GetWidth());
    const float height = std::fabs(volume->GetHeight());
    const wxSize size = View()->GetClientSize();
    Drag(100, 100, 120, 90, false, true);
    const KV_Vector3D after = CameraTranslation();
    // Right by 20 pixels and up by 10: the surface follows (+x, +y in eye space).
    EXPECT_NEAR(after.x - before.x, width * 20 / size.x, 1e-4 * width);
    EXPECT_NEAR(after.y - before.y, height * 10 / size.y, 1e-4 * height);
    EXPECT_NEAR(after.z, before.z, 1e-5);
}

TEST_F(ViewTest, BothButtonsZoomByATenthOfTheDepth)
{
    StartWithSample();
    const KV_Vector3D before = CameraTranslation();
    const KV_ClippingVolume* volume = Renderer().GetClippingVolume();
    const float depth = volume->mrFar - volume->mrNear;
    const wxImage far = Picture();
    // Down: towards the surface.
    mkApp.Mouse(wxEVT_LEFT_DOWN, 100, 100, true, false);
    mkApp.Mouse(wxEVT_RIGHT_DOWN, 100, 100, true, true);
    EXPECT_EQ(View()->GetKeyFlags() & 3u, 3u);
    mkApp.Mouse(wxEVT_MOTION, 100, 110, true, true);
    const KV_Vector3D closer = CameraTranslation();
    EXPECT_NEAR(closer.z - before.z, depth * 0.1f, 1e-3 * depth);
    EXPECT_GT(LitPixels(Picture()), LitPixels(far));
    // Purely sideways: away from the surface.
    const float depthNow =
        Renderer().GetClippingVolume()->mrFar - Renderer().GetClippingVolume()->mrNear;
    mkApp.Mouse(wxEVT_MOTION, 120, 110, true, true);
    EXPECT_NEAR(CameraTranslation().z - closer.z, -depthNow * 0.1f, 1e-3 * depthNow);
    mkApp.Mouse(wxEVT_LEFT_UP, 120, 110, false, true);
    mkApp.Mouse(wxEVT_RIGHT_UP, 120, 110, false, false);
}

TEST_F(ViewTest, RotateRunsUntilAButtonIsPressedAndResetClearsIt)
{
    StartWithSample();
    const wxImage start = Picture();
    EXPECT_TRUE(mkApp.IsEnabled(ID_EDIT_ROTATE));
    mkApp.Command(ID_EDIT_ROTATE);
    EXPECT_TRUE(View()->IsRotating());
    EXPECT_TRUE(mkApp.IsChecked(ID_EDIT_ROTATE));
    // The timer turns the world about the vertical screen axis.
    ASSERT_TRUE(mkApp.PumpUntil([this] { return World()(3, 1) < -0.1f; }, 5000));
    EXPECT_NEAR(World()(2, 2), 1.0f, 1e-4);
    EXPECT_GT(Difference(Picture(), start), 0);

    mkApp.Mouse(wxEVT_RIGHT_DOWN, 10, 10, false, true);
    EXPECT_FALSE(View()->IsRotating());
    EXPECT_FALSE(mkApp.IsChecked(ID_EDIT_ROTATE));
    mkApp.Mouse(wxEVT_RIGHT_UP, 10, 10, false, false);
    const float stopped = World()(3, 1);
    mkApp.Pump(200);
    EXPECT_EQ(World()(3, 1), stopped);

    // Reset frames the surface as at the start (the lights keep the direction they were
    // given in the turned view, so only the outline is compared).
    mkApp.Command(ID_EDIT_RESET_POSITION);
    EXPECT_NEAR(World()(3, 1), 0.0f, 1e-6);
    EXPECT_NEAR(World()(1, 1), 1.0f, 1e-6);
    EXPECT_EQ(LitPixels(Picture()), LitPixels(start));
}

// Every mipmap level of the texture object `name`, read back from the current context.
std::vector<std::vector<unsigned char>> TextureLevels(GLuint name)
{
    std::vector<std::vector<unsigned char>> levels;
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (GLint level = 0;; ++level)
    {
        GLint width = 0, height = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &height);
        if (width <= 0 || height <= 0)
            break;
        levels.emplace_back(std::size_t(width) * height * 3);
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGB, GL_UNSIGNED_BYTE, levels.back().data());
    }
    return levels;
}

// The texture goes up while the surface is completed, on the command line (before the window
// is shown) and from File > Open alike; the actor adopts it, and every level is what the
// usual upload of the same picture gives.
TEST_F(ViewTest, TextureUploadedDuringTheLoadIsAdoptedWithEveryLevelOfTheUsualUpload)
{
    StartWithSample();
    mkApp.Prompts().mkOpenPaths.push_back(wxString(CopySample("second.osf")));
    mkApp.Prompts().mkAnswers.push_back(true);
    for (int open = 0; open < 2; ++open)
    {
        SCOPED_TRACE(open == 0 ? "command line" : "File > Open");
        if (open == 1)
            mkApp.Command(ID_FILE_OPEN);
        ASSERT_TRUE(mkApp.WaitForFrame());
        EXPECT_EQ(View()->AdoptedTextureCount(), open + 1u);
        const KV_PolySurface& surface = Doc()->mpkSurfaceGeometry->GetSurface();
        ASSERT_TRUE(surface.HasTextureMap());
        const KV_Image<KV_RGB8>* image = surface.mpTextureMap->ColourImage();
        ASSERT_NE(image, nullptr);

        Renderer().MakeCurrent();
        const std::vector<std::vector<unsigned char>> adopted =
            TextureLevels(FirstActor()->GetTextureName());
        GLuint fresh = 0;
        glGenTextures(1, &fresh);
        glBindTexture(GL_TEXTURE_2D, fresh);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        ASSERT_EQ(gluBuild2DMipmaps(GL_TEXTURE_2D, 3, image->Cols(), image->Rows(), GL_RGB,
                                    GL_UNSIGNED_BYTE, image->Data()),
                  0);
        const std::vector<std::vector<unsigned char>> expected = TextureLevels(fresh);
        glDeleteTextures(1, &fresh);
        glBindTexture(GL_TEXTURE_2D, FirstActor()->GetTextureName());
        ASSERT_GT(expected.size(), 1u);
        EXPECT_EQ(adopted.size(), expected.size());
        for (std::size_t level = 0; level < std::min(adopted.size(), expected.size()); ++level)
            EXPECT_TRUE(adopted[level] == expected[level]) << "level " << level;
    }
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
}

TEST_F(ViewTest, ReplacementRefusedKeepsTheFirstSurface)
{
    StartWithSample();
    KV_PolySurfaceGeometry3D* first = Doc()->mpkSurfaceGeometry;
    const KV_OGLColour firstAmbient = first->mkMaterial.mkAmbient;
    const std::string second = CopySample("second.osf");
    mkApp.Prompts().mkOpenPaths.push_back(wxString(second));
    mkApp.Command(ID_FILE_OPEN);  // answered No
    ASSERT_EQ(mkApp.Prompts().mkDialogTitles.size(), 1u);
    EXPECT_EQ(mkApp.Prompts().mkDialogTitles[0], wxString("Load"));
    // The surface files' filter of old comes second, after all the readable formats.
    const wxString wildcard = mkApp.Prompts().mkWildcards[0];
    EXPECT_TRUE(wildcard.StartsWith("All supported surfaces|")) << wildcard;
    EXPECT_NE(wildcard.Find("|Orvane Surface Files (*.osf)|*.osf|"), wxNOT_FOUND) << wildcard;
    ASSERT_EQ(mkApp.Prompts().mkQuestions.size(), 1u);
    EXPECT_EQ(mkApp.Prompts().mkQuestions[0].text, "Replace existing surface: sample.osf?");
    EXPECT_EQ(mkApp.Prompts().mkQuestions[0].caption, "Orvane Image View");
    EXPECT_EQ(Doc()->mpkSurfaceGeometry, first);
    EXPECT_EQ(mkApp.Frame()->GetTitle(), wxString("sample.osf - Orvane Image View"));

    // Yes: the second surface replaces it, with a colour of its own.
    mkApp.Prompts().mkOpenPaths.push_back(wxString(second));
    mkApp.Prompts().mkAnswers.push_back(true);
    mkApp.Command(ID_FILE_OPEN);
    ASSERT_NE(Doc()->mpkSurfaceGeometry, nullptr);
    EXPECT_NE(Doc()->mpkSurfaceGeometry, first);
    EXPECT_FALSE(Doc()->mpkSurfaceGeometry->mkMaterial.mkAmbient == firstAmbient);
    EXPECT_EQ(Renderer().GetActorCount(), 1u);
    EXPECT_EQ(mkApp.Frame()->GetTitle(), wxString("second.osf - Orvane Image View"));
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
}

TEST_F(ViewTest, FailedLoadKeepsTheShownSurfaceAndNamesTheFullPath)
{
    StartWithSample();
    KV_PolySurfaceGeometry3D* first = Doc()->mpkSurfaceGeometry;
    const wxImage before = Picture();
    const std::string broken = AppHarness::ScratchPath("broken.osf");
    std::ofstream(broken, std::ios::binary) << "not a surface file at all";
    mkApp.Prompts().mkAnswers.push_back(true);
    EXPECT_FALSE(mkApp.Open(broken));
    ASSERT_EQ(mkApp.Prompts().mkMessages.size(), 1u);
    EXPECT_EQ(mkApp.Prompts().mkMessages[0].text,
              "Failed to load surface file: " + broken + "\nnot a surface file");
    EXPECT_EQ(mkApp.Prompts().mkMessages[0].caption, "Orvane Image View");
    EXPECT_EQ(Doc()->mpkSurfaceGeometry, first);
    EXPECT_EQ(Renderer().GetActorCount(), 1u);
    EXPECT_EQ(mkApp.Frame()->GetTitle(), wxString("sample.osf - Orvane Image View"));
    EXPECT_EQ(Difference(Picture(), before), 0);
}

TEST_F(ViewTest, CloseTwice)
{
    StartWithSample();
    mkApp.Command(ID_FILE_CLOSE);
    EXPECT_EQ(Doc()->mpkSurfaceGeometry, nullptr);
    EXPECT_EQ(Renderer().GetActorCount(), 0u);
    EXPECT_EQ(mkApp.Frame()->GetTitle(), wxString("untitled - Orvane Image View"));
    const wxImage closed = Picture();
    EXPECT_EQ(LitPixelsBesideHint(closed), 0);
    if (LitPixelsBesideHint(closed) != 0)
        closed.SaveFile(AppHarness::ScratchPath("closed-actual.png"), wxBITMAP_TYPE_PNG);
    EXPECT_FALSE(mkApp.IsEnabled(ID_FILE_CLOSE));
    // The placeholder names no file: the recent-file list keeps only real files.
    for (size_t i = 0; i < mkApp.App().RecentFiles().GetCount(); ++i)
        EXPECT_NE(wxFileName(mkApp.App().RecentFiles().GetHistoryFile(i)).GetFullName(),
                  wxString("untitled"));
    mkApp.Command(ID_FILE_CLOSE);
    EXPECT_EQ(mkApp.Frame()->GetTitle(), wxString("untitled - Orvane Image View"));
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
}

TEST_F(ViewTest, ExportWritesTheWorldAndItsTexture)
{
    const std::string source = CopySample("exported.osf");
    ASSERT_TRUE(mkApp.Start({source}));
    ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
    const std::string world = AppHarness::ScratchPath("exported.wrl");
    std::remove(world.c_str());
    mkApp.Prompts().mkSavePaths.push_back(wxString(world));
    mkApp.Command(ID_FILE_EXPORT);
    ASSERT_EQ(mkApp.Prompts().mkSaveDefaults.size(), 1u);
    EXPECT_EQ(mkApp.Prompts().mkSaveDefaults[0], wxString(world));
    EXPECT_EQ(mkApp.Prompts().mkDialogTitles[0], wxString("Export"));
    EXPECT_EQ(mkApp.Prompts().mkWildcards[0], wxString("VRML File (*.wrl)|*.wrl"));
    EXPECT_TRUE(mkApp.Prompts().mkQuestions.empty());
    const std::string text = ReadFile(world);
    EXPECT_EQ(text.rfind("#VRML V2.0 utf8", 0), 0u);
    // The texture beside it, as GIF.
    bool gifFound = false;
    wxString name;
    const wxString folder = wxFileName(wxString(world)).GetPath();
    wxDir dir(folder);
    for (bool more = dir.GetFirst(&name, "*.gif"); more; more = dir.GetNext(&name))
        gifFound =
            gifFound || ReadFile(std::string(wxFileName(folder, name).GetFullPath().utf8_str()))
                                .rfind("GIF8", 0) == 0;
    EXPECT_TRUE(gifFound);

    // Again: asked once; No keeps the file, Yes writes it again.
    std::ofstream(world, std::ios::binary) << "old";
    mkApp.Prompts().mkSavePaths.push_back(wxString(world));
    mkApp.Command(ID_FILE_EXPORT);
    ASSERT_EQ(mkApp.Prompts().mkQuestions.size(), 1u);
    EXPECT_EQ(mkApp.Prompts().mkQuestions[0].text,
              world + "\nThis file already exists.\nOverwrite existing file?");
    EXPECT_EQ(ReadFile(world), "old");
    mkApp.Prompts().mkSavePaths.push_back(wxString(world));
    mkApp.Prompts().mkAnswers.push_back(true);
    mkApp.Command(ID_FILE_EXPORT);
    EXPECT_EQ(ReadFile(world), text);

    // A folder that does not exist: the fixed failure message.
    const std::string nowhere = AppHarness::ScratchPath("no-such-folder/x.wrl");
    mkApp.Prompts().mkSavePaths.push_back(wxString(nowhere));
    mkApp.Command(ID_FILE_EXPORT);
    ASSERT_EQ(mkApp.Prompts().mkMessages.size(), 1u);
    EXPECT_EQ(mkApp.Prompts().mkMessages[0].text, "Failed to save file " + nowhere);
}

// A page seen as a picture of dpi dots per inch (A4, portrait): the view's picture must sit
// in the printable area (the page inside the default margins) at its top-left corner and
// fill its width or height as the fit does, within 2 pixels of the page's scale.
static void ExpectPictureWhereTheFitPutsIt(const wxImage& page, double dpi, const wxSize& client)
{
    const double dotsPerMM = dpi / 25.4;
    const double margin = KV_VerovuriRezaroApp::kDefaultMarginMM * dotsPerMM;
    // The fit in page pixels of a 600 ppi printer, seen at dpi.
    KV_PrintFit fit;
    ASSERT_TRUE(KV_FitWindowToPage(client.x, client.y, static_cast<int>((210 - 20) / 25.4 * 600),
                                   static_cast<int>((297 - 20) / 25.4 * 600), 600, 600, fit));
    const double left = margin, top = margin;
    const double right = left + fit.mnPrintedWidth * dpi / 600;
    const double bottom = top + fit.mnPrintedHeight * dpi / 600;
    const int x = static_cast<int>(left) + 4, y = static_cast<int>(top) + 4;
    // Black background with the surface in its middle, white paper around.
    EXPECT_TRUE(IsDark(page, x, y));
    EXPECT_FALSE(
        IsDark(page, static_cast<int>((left + right) / 2), static_cast<int>((top + bottom) / 2)));
    EXPECT_EQ(page.GetRed(x, static_cast<int>(bottom) + 4), 255);
    EXPECT_EQ(page.GetRed(static_cast<int>(left) - 4, y), 255);
    // The picture's edges, found along a row and a column just inside it.
    int first = -1, last = -1;
    // (2 pixels in from the sheet's edge, where the preview draws an outline.)
    for (int i = 2; i < page.GetWidth() - 2; ++i)
        if (IsDark(page, i, y))
        {
            first = first < 0 ? i : first;
            last = i;
        }
    EXPECT_NEAR(first, left, 2);
    EXPECT_NEAR(last + 1, right, 2);
    first = last = -1;
    for (int i = 2; i < page.GetHeight() - 2; ++i)
        if (IsDark(page, x, i))
        {
            first = first < 0 ? i : first;
            last = i;
        }
    EXPECT_NEAR(first, top, 2);
    EXPECT_NEAR(last + 1, bottom, 2);
}

TEST_F(ViewTest, PrintPreviewPageShowsTheSurfaceWhereTheFitPutsIt)
{
    StartWithSample();
    mkApp.App().PrintDialogData().GetPrintData().SetPaperId(wxPAPER_A4);
    mkApp.App().PrintDialogData().GetPrintData().SetOrientation(wxPORTRAIT);
    mkApp.Command(ID_FILE_PRINT_PREVIEW);
    mkApp.Pump(300);
    wxPreviewFrame* frame = nullptr;
    for (wxWindow* window : wxTopLevelWindows)
        if (wxPreviewFrame* f = dynamic_cast<wxPreviewFrame*>(window))
            frame = f;
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->IsShown());
    wxPrintPreviewBase* preview = nullptr;
    for (wxWindow* child : frame->GetChildren())
        if (wxPreviewControlBar* bar = dynamic_cast<wxPreviewControlBar*>(child))
            preview = bar->GetPrintPreview();
    ASSERT_NE(preview, nullptr);

    // The sheet as the preview canvas shows it on the screen, whole at half size: the white
    // paper's extent gives the page's place and scale.
    wxPreviewCanvas* canvas = preview->GetCanvas();
    ASSERT_NE(canvas, nullptr);
    preview->SetZoom(50);
    canvas->Refresh();
    mkApp.Pump(500);
    const wxImage shown = AppHarness::Capture(canvas);
    ASSERT_TRUE(shown.IsOk());
    wxRect paper;
    for (int y = 0; y < shown.GetHeight(); ++y)
        for (int x = 0; x < shown.GetWidth(); ++x)
            if (shown.GetRed(x, y) == 255 && shown.GetGreen(x, y) == 255 &&
                shown.GetBlue(x, y) == 255)
                paper = paper.IsEmpty() ? wxRect(x, y, 1, 1) : paper.Union(wxRect(x, y, 1, 1));
    ASSERT_GT(paper.width, 100);
    EXPECT_NEAR(static_cast<double>(paper.height) / paper.width, 297.0 / 210.0, 0.01);
    const wxImage page = shown.GetSubImage(paper);
    ExpectPictureWhereTheFitPutsIt(page, paper.width / (210 / 25.4), View()->GetClientSize());
    if (HasFailure())
        shown.SaveFile(AppHarness::ScratchPath("preview-actual.png"), wxBITMAP_TYPE_PNG);
    EXPECT_EQ(View()->LastPrintFit().mnMemoryWidth, View()->GetClientSize().x);
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
    frame->Close();
}

TEST_F(ViewTest, PrintWithoutDialogWritesAPostScriptPageShowingTheSurface)
{
    StartWithSample();
    const std::string postScript = AppHarness::ScratchPath("page.ps");
    const std::string png = AppHarness::ScratchPath("page.png");
    std::remove(postScript.c_str());
    std::remove(png.c_str());
    mkApp.App().PrintDialogData().GetPrintData().SetFilename(wxString(postScript));
    mkApp.App().PrintDialogData().GetPrintData().SetPaperId(wxPAPER_A4);
    mkApp.App().PrintDialogData().GetPrintData().SetOrientation(wxPORTRAIT);
    mkApp.Command(ID_FILE_PRINT_DIRECT);
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
    ASSERT_TRUE(wxFileName::FileExists(postScript));

    // 60 dpi: an A4 page of 496 x 702 pixels.
    const std::string command =
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r60 -sOutputFile=" + png + " " +
        postScript;
    ASSERT_EQ(std::system(command.c_str()), 0);
    wxImage page;
    ASSERT_TRUE(page.LoadFile(wxString(png), wxBITMAP_TYPE_PNG));
    ExpectPictureWhereTheFitPutsIt(page, 60.0, View()->GetClientSize());
}

// Opening and closing a large surface again and again gives back everything it took: under
// LeakSanitizer (scripts/run-tests) a leak of any cycle is reported when the process ends.
TEST_F(ViewTest, FiftyOpenCloseCyclesOfALargeSurface)
{
    // A 225 x 225 vertex grid of 100 352 triangles, with a colour texture.
    OsfSurface grid;
    const unsigned int n = 225;
    for (unsigned int j = 0; j < n; ++j)
        for (unsigned int i = 0; i < n; ++i)
        {
            grid.vertices.push_back({i / float(n), j / float(n), 0.1f * std::sin(i * 0.1f)});
            grid.textureCoordinates.push_back({i / float(n - 1), j / float(n - 1)});
        }
    for (unsigned int j = 0; j + 1 < n; ++j)
        for (unsigned int i = 0; i + 1 < n; ++i)
        {
            const unsigned int a = j * n + i;
            grid.polygons.push_back({a, a + 1, a + n + 1});
            grid.polygons.push_back({a, a + n + 1, a + n});
        }
    grid.texturePolygons = grid.polygons;
    grid.textureKind = 3;
    grid.textureRows = grid.textureColumns = 64;
    grid.texturePixels.assign(64 * 64 * 3, 0);
    for (size_t i = 0; i < grid.texturePixels.size(); ++i)
        grid.texturePixels[i] = static_cast<unsigned char>(i * 7);
    ASSERT_GE(grid.polygons.size(), 100000u);
    const std::string path = AppHarness::ScratchPath("grid.osf");
    WriteOsfFile(path, EncodeRawSurface(grid));

    ASSERT_TRUE(mkApp.Start());
    ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
    for (int cycle = 0; cycle < 50; ++cycle)
    {
        ASSERT_TRUE(mkApp.Open(path)) << cycle;
        ASSERT_EQ(Renderer().GetActorCount(), 1u);
        ASSERT_TRUE(mkApp.WaitForFrame()) << cycle;
        mkApp.Command(ID_FILE_CLOSE);
        ASSERT_EQ(Doc()->mpkSurfaceGeometry, nullptr);
        ASSERT_EQ(Renderer().GetActorCount(), 0u);
    }
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
}

// A large surface gets a coarse copy for motion, made on a worker shortly after its first
// frame. Closing the surface, opening another and ending the program while a copy is in the
// making go ahead without it: nothing of the abandoned copy arrives, the new surface gets
// its own, and under LeakSanitizer (scripts/run-tests) the worker still busy when the
// process ends leaves nothing to report.
TEST_F(ViewTest, CoarseCopyInTheMakingHoldsUpNeitherCloseNorOpenNorExit)
{
    OsfSurface grid;  // 405,000 triangles over a wavy square
    const unsigned int n = 451;
    for (unsigned int j = 0; j < n; ++j)
        for (unsigned int i = 0; i < n; ++i)
            grid.vertices.push_back({i / float(n), j / float(n), 0.05f * std::sin(i * 0.05f)});
    for (unsigned int j = 0; j + 1 < n; ++j)
        for (unsigned int i = 0; i + 1 < n; ++i)
        {
            const unsigned int a = j * n + i;
            grid.polygons.push_back({a, a + 1, a + n + 1});
            grid.polygons.push_back({a, a + n + 1, a + n});
        }
    const std::string path = AppHarness::ScratchPath("big.osf");
    WriteOsfFile(path, EncodeRawSurface(grid));
    auto simplifying = [this] { return View()->IsSimplifying(); };

    ASSERT_TRUE(mkApp.Start({path}));
    ASSERT_TRUE(mkApp.PumpUntil(simplifying, 30000));
    mkApp.Command(ID_FILE_CLOSE);
    EXPECT_FALSE(View()->IsSimplifying());
    EXPECT_EQ(Renderer().GetActorCount(), 0u);
    mkApp.Pump(200);
    EXPECT_FALSE(View()->HasCoarseSurface());

    // Replaced while its copy is made, the surface's successor gets a copy of its own.
    ASSERT_TRUE(mkApp.Open(path));
    ASSERT_TRUE(mkApp.PumpUntil(simplifying, 30000));
    KV_PolySurfaceGeometry3D* first = Doc()->mpkSurfaceGeometry;
    // The surface's deferred lists wait for the copy: the two are never made at once.
    EXPECT_TRUE(first->IsCompletionOutstanding());
    EXPECT_FALSE(first->IsCompletionRunning());
    mkApp.Prompts().mkAnswers.push_back(true);
    ASSERT_TRUE(mkApp.Open(path));
    ASSERT_NE(Doc()->mpkSurfaceGeometry, first);
    EXPECT_FALSE(View()->HasCoarseSurface());
    ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->HasCoarseSurface(); }, 60000));
    const auto* actor = dynamic_cast<const KV_PolySurfaceActor3D*>(FirstActor());
    ASSERT_NE(actor, nullptr);
    EXPECT_GT(actor->CoarseTriangleCount(), 0u);
    // As large as this machine draws in time: fewer triangles than the surface in any case.
    EXPECT_LT(actor->CoarseTriangleCount(), grid.polygons.size());
    // Then the outlines are made on the executor, not left to their first reader; the lists
    // nothing draws wait for the first reader of the whole surface.
    const KV_PolySurfaceGeometry3D* second = Doc()->mpkSurfaceGeometry;
    ASSERT_TRUE(mkApp.PumpUntil([second] { return !second->IsCompletionOutstanding(); }, 60000));
    const KV_PolySurface& drawn = second->DrawingSurface();
    EXPECT_NE(drawn.mpBoundaries, nullptr);
    EXPECT_EQ(drawn.mpVertexPolygons, nullptr);
    EXPECT_EQ(drawn.mpPolygonNormals, nullptr);
    const KV_PolySurface& whole = second->GetSurface();
    ASSERT_NE(whole.mpVertexPolygons, nullptr);
    EXPECT_EQ(whole.mpVertexPolygons->Count(), whole.VertexCount());
    ASSERT_NE(whole.mpPolygonNormals, nullptr);
    EXPECT_EQ(whole.mpPolygonNormals->Count(), whole.PolygonCount());

    // The program ends while a copy is being made.
    mkApp.Prompts().mkAnswers.push_back(true);
    ASSERT_TRUE(mkApp.Open(path));
    ASSERT_TRUE(mkApp.PumpUntil(simplifying, 30000));
    mkApp.Stop();
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
}

// Other programs' files: the Open dialog offers them, a real model nobody here wrote opens
// with its texture on screen, File > Save As writes another format, and a broken model is
// refused with the importer's reason while the shown surface stays.
TEST_F(ViewTest, OpensOtherProgramsModelsAndSavesTheirFormats)
{
    const std::string duck = "/usr/share/assimp/models/Collada/duck.dae";
    if (!std::ifstream(duck).good())
        GTEST_SKIP() << "assimp-testmodels is not installed";
    StartWithSample();
    mkApp.Prompts().mkOpenPaths.push_back(wxString(duck));
    mkApp.Prompts().mkAnswers.push_back(true);
    mkApp.Command(ID_FILE_OPEN);
    ASSERT_EQ(mkApp.Prompts().mkWildcards.size(), 1u);
    const std::string wildcard(mkApp.Prompts().mkWildcards[0].utf8_str());
    EXPECT_EQ(wildcard.rfind("All supported surfaces|*.osf;", 0), 0u) << wildcard;
    const std::size_t surfaces = wildcard.find("|Orvane Surface Files (*.osf)|*.osf|");
    ASSERT_NE(surfaces, std::string::npos);
    for (const char* extension : {"*.obj", "*.ply", "*.stl", "*.glb", "*.gltf", "*.dae", "*.3ds"})
    {
        EXPECT_LT(wildcard.find(std::string(extension) + ";"), surfaces) << extension;
        EXPECT_NE(wildcard.find(extension, surfaces), std::string::npos) << extension;
    }
    EXPECT_EQ(Doc()->GetTitle(), wxString("duck.dae"));
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());

    // The duck is yellow because its texture arrived.
    const wxImage picture = Picture();
    const unsigned char* p = picture.GetData();
    const unsigned char background[3] = {p[0], p[1], p[2]};
    long drawn = 0, yellow = 0;
    for (long i = 0; i < long(picture.GetWidth()) * picture.GetHeight(); ++i, p += 3)
    {
        if (std::abs(p[0] - background[0]) + std::abs(p[1] - background[1]) + std::abs(p[2] - background[2]) < 30)
            continue;
        ++drawn;
        yellow += p[0] > p[2] + 60 && p[1] > p[2] + 40;
    }
    EXPECT_GT(drawn, 1000);
    EXPECT_GT(yellow, drawn * 6 / 10) << yellow << " of " << drawn;
    if (yellow <= drawn * 6 / 10)
        picture.SaveFile(AppHarness::ScratchPath("duck-actual.png"), wxBITMAP_TYPE_PNG);

    // Save As: PLY with its texture beside it, read back as the same surface.
    ASSERT_TRUE(mkApp.IsEnabled(ID_FILE_SAVE_AS_FORMAT));
    const std::string saved = AppHarness::ScratchPath("duck.ply");
    std::remove(saved.c_str());
    mkApp.Prompts().mkSavePaths.push_back(wxString(saved));
    mkApp.Command(ID_FILE_SAVE_AS_FORMAT);
    EXPECT_EQ(mkApp.Prompts().mkDialogTitles.back(), wxString("Save As"));
    EXPECT_EQ(std::string(mkApp.Prompts().mkWildcards.back().utf8_str()).rfind("glTF 2.0 binary (*.glb)|*.glb|", 0), 0u);
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
    KV_PolySurface back;
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(saved.c_str(), back, report)) << report.mkLoadFailure.c_str();
    EXPECT_EQ(back.VertexCount(), Doc()->mpkSurfaceGeometry->GetSurface().VertexCount());
    EXPECT_EQ(back.PolygonCount(), Doc()->mpkSurfaceGeometry->GetSurface().PolygonCount());
    ASSERT_TRUE(back.HasTextureMap());
    EXPECT_EQ(back.mpTextureMap->Cols(), 512);

    // A name without a format the program writes: nothing written, the reason shown.
    mkApp.Prompts().mkSavePaths.push_back(wxString(AppHarness::ScratchPath("duck.xyz")));
    mkApp.Command(ID_FILE_SAVE_AS_FORMAT);
    ASSERT_EQ(mkApp.Prompts().mkMessages.size(), 1u);
    EXPECT_NE(mkApp.Prompts().mkMessages[0].text.find("glb, gltf, obj, ply, stl or osf"), std::string::npos);

    // A broken model: the load message, the importer's reason on the next line.
    const std::string broken = AppHarness::ScratchPath("broken.obj");
    std::ofstream(broken) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 7\n";
    mkApp.Prompts().mkOpenPaths.push_back(wxString(broken));
    mkApp.Prompts().mkAnswers.push_back(true);
    mkApp.Command(ID_FILE_OPEN);
    ASSERT_EQ(mkApp.Prompts().mkMessages.size(), 2u);
    const std::string& message = mkApp.Prompts().mkMessages[1].text;
    const std::string first = "Failed to load surface file: " + broken + "\n";
    EXPECT_EQ(message.rfind(first, 0), 0u) << message;
    EXPECT_GT(message.size(), first.size()) << message;
    EXPECT_EQ(Doc()->GetTitle(), wxString("duck.dae"));
}

namespace
{
// Pixels of the view by what they show: mostly red, mostly green, mostly blue (the lit
// surface at any shade), against the rest.
struct Hues
{
    long red = 0, green = 0, blue = 0, drawn = 0;
    double redX = 0, greenX = 0;  // sums of the columns, for where each lies
};
Hues CountHues(const wxImage& picture)
{
    Hues hues;
    const unsigned char* p = picture.GetData();
    for (long i = 0; i < long(picture.GetWidth()) * picture.GetHeight(); ++i, p += 3)
    {
        if (p[0] + p[1] + p[2] < 40)
            continue;  // the black background
        ++hues.drawn;
        const bool red = p[0] > 2 * p[1] + 20 && p[0] > 2 * p[2] + 20;
        const bool green = p[1] > 2 * p[0] + 20 && p[1] > 2 * p[2] + 20;
        hues.red += red;
        hues.green += green;
        hues.redX += red ? i % picture.GetWidth() : 0;
        hues.greenX += green ? i % picture.GetWidth() : 0;
        hues.blue += p[2] > 2 * p[0] + 20 && p[2] > 2 * p[1] + 20;
    }
    return hues;
}

void WritePicture(const std::string& path, unsigned char r, unsigned char g, unsigned char b)
{
    wxImage image(8, 8);
    image.SetRGB(wxRect(0, 0, 8, 8), r, g, b);
    ASSERT_TRUE(image.SaveFile(path, wxBITMAP_TYPE_PNG));
}
}  // namespace

// A model of two quads, each with a picture of its own (one tiled, so that the two cannot be
// packed into one; the quads share texture coordinates at different corners), keeps both
// through the view and through Save As in the formats that hold several (glTF, OBJ), even
// when both are written into one folder; a PLY whose vertices are blue draws blue.
TEST_F(ViewTest, DrawsEveryMaterialAndVertexColoursOfOtherProgramsModels)
{
    StartWithSample();
    WritePicture(AppHarness::ScratchPath("red.png"), 230, 20, 20);
    WritePicture(AppHarness::ScratchPath("green.png"), 20, 230, 20);
    std::ofstream(AppHarness::ScratchPath("two.mtl"))
        << "newmtl red\nKd 1 1 1\nmap_Kd red.png\nnewmtl green\nKd 1 1 1\nmap_Kd green.png\n";
    const std::string model = AppHarness::ScratchPath("two.obj");
    std::ofstream(model) << "mtllib two.mtl\n"
                            "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\n"
                            "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 2 2\n"
                            "usemtl red\nf 1/1 2/2 3/3 4/4\nusemtl green\nf 2/1 5/2 6/5 3/4\n";
    auto open = [this](const std::string& path)
    {
        mkApp.Prompts().mkOpenPaths.push_back(wxString(path));
        mkApp.Prompts().mkAnswers.push_back(true);
        mkApp.Command(ID_FILE_OPEN);
        mkApp.PumpUntil([this, path] { return Doc()->GetPathName() == wxString(path); }, 20000);
        EXPECT_EQ(Doc()->GetPathName(), wxString(path));
    };
    auto expectBoth = [this](const char* what)
    {
        const wxImage picture = Picture();
        const Hues hues = CountHues(picture);
        EXPECT_GT(hues.drawn, 2000) << what;
        // Each quad covers about half of what is drawn.
        EXPECT_GT(hues.red, hues.drawn / 3) << what << ": " << hues.red << " of " << hues.drawn;
        EXPECT_GT(hues.green, hues.drawn / 3) << what << ": " << hues.green << " of " << hues.drawn;
        // Red on the left quad, green on the right one, seen from the front.
        if (hues.red > 0 && hues.green > 0)
        {
            EXPECT_LT(hues.redX / hues.red, hues.greenX / hues.green) << what;
        }
        if (hues.red <= hues.drawn / 3 || hues.green <= hues.drawn / 3)
            picture.SaveFile(AppHarness::ScratchPath(std::string(what) + "-actual.png"),
                             wxBITMAP_TYPE_PNG);
    };
    open(model);
    expectBoth("obj");

    auto saveAs = [this](const std::string& name)
    {
        wxFileName::Mkdir(AppHarness::ScratchPath("saved"), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
        mkApp.Prompts().mkSavePaths.push_back(wxString(AppHarness::ScratchPath("saved/" + name)));
        mkApp.Command(ID_FILE_SAVE_AS_FORMAT);
    };
    for (const char* format : {"glb", "gltf", "obj"})
        saveAs(std::string("two.") + format);
    for (const char* format : {"gltf", "obj", "glb"})
    {
        open(AppHarness::ScratchPath(std::string("saved/two.") + format));
        expectBoth(format);
    }
    // On from the glb: OBJ -> glb -> OBJ.
    saveAs("again.obj");
    open(AppHarness::ScratchPath("saved/again.obj"));
    expectBoth("again.obj");
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());

    const std::string coloured = AppHarness::ScratchPath("blue.ply");
    std::ofstream(coloured) << "ply\nformat ascii 1.0\nelement vertex 4\n"
                               "property float x\nproperty float y\nproperty float z\n"
                               "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                               "element face 1\nproperty list uchar int vertex_indices\n"
                               "end_header\n0 0 0 10 20 240\n1 0 0 10 20 240\n"
                               "1 1 0 10 20 240\n0 1 0 10 20 240\n4 0 1 2 3\n";
    open(coloured);
    const Hues hues = CountHues(Picture());
    EXPECT_GT(hues.blue, hues.drawn * 9 / 10) << hues.blue << " of " << hues.drawn;
}
