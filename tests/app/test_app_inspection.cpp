// The inspection commands driven for real under Xvfb: Surface Properties on a file with two
// holes, Show Holes, the standard views on a cube whose faces carry six colours, the mouse
// wheel, Save Image read back and compared with the screen, the window's size and place
// across a restart, and the lists the viewer finishes after the first frame read at once.
#include "tests/app/AppHarness.h"

#include "app/KV_ImageSizeDlg.h"
#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_SurfacePropertiesDlg.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"
#include "document/KV_SurfacePreparation.h"
#include "document/KV_SurfaceProperties.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "tests/support/SurfaceFileWriter.h"

#include <wx/statusbr.h>
#include <wx/testing.h>

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <X11/Xlib.h>

#include <wx/clipbrd.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/regex.h>
#include <wx/timer.h>
#include <wx/toolbar.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

namespace
{
// The unit cube without its top and bottom: a tube with two holes (each a unit square,
// boundary length 4). The front is two triangles, the other three sides quadrilaterals.
//
//   7 ---- 6      top ring (y = 1), back z = 0, front z = 1
//   3 ---- 2      bottom ring (y = 0)
OsfSurface TwoHoleTube()
{
    OsfSurface s;
    s.vertices = {{0, 0, 1}, {1, 0, 1}, {1, 0, 0}, {0, 0, 0},
                  {0, 1, 1}, {1, 1, 1}, {1, 1, 0}, {0, 1, 0}};
    s.polygons = {{0, 1, 5}, {0, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
    return s;
}

// The unit cube centred on the origin, each side one column of an 8 x 8 texture: front (+z)
// red, back (-z) green, left (-x) blue, right (+x) yellow, top (+y) cyan, bottom (-y)
// magenta. Sides wind counter-clockwise seen from outside.
OsfSurface MarkedCube()
{
    OsfSurface s;
    s.vertices = {{-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1},
                  {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}};
    s.polygons = {{0, 1, 2, 3}, {5, 4, 7, 6}, {4, 0, 3, 7},
                  {1, 5, 6, 2}, {3, 2, 6, 7}, {4, 5, 1, 0}};
    // Four coordinates per side, all at the middle of its texel: each texture coordinate
    // stands for one corner.
    for (unsigned int i = 0; i < 6; ++i)
    {
        for (int k = 0; k < 4; ++k) s.textureCoordinates.push_back({(i + 0.5f) / 8.0f, 0.5f});
        s.texturePolygons.push_back({4 * i, 4 * i + 1, 4 * i + 2, 4 * i + 3});
    }
    s.textureKind = 3;
    s.textureRows = 8;
    s.textureColumns = 8;
    const unsigned char colours[8][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255}, {255, 255, 0},
                                         {0, 255, 255}, {255, 0, 255}, {0, 0, 0},   {0, 0, 0}};
    for (int row = 0; row < 8; ++row)
        for (const auto& colour : colours)
            s.texturePixels.insert(s.texturePixels.end(), colour, colour + 3);
    return s;
}

// A flat grid of n x n unit squares, two triangles each (2 n^2 triangles).
OsfSurface Grid(unsigned int n)
{
    OsfSurface s;
    s.vertices.reserve((n + 1) * (n + 1));
    for (unsigned int y = 0; y <= n; ++y)
        for (unsigned int x = 0; x <= n; ++x)
            s.vertices.push_back({static_cast<float>(x), static_cast<float>(y), 0.0f});
    s.polygons.reserve(2 * n * n);
    for (unsigned int y = 0; y < n; ++y)
        for (unsigned int x = 0; x < n; ++x)
        {
            const unsigned int a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
            s.polygons.push_back({a, b, c});
            s.polygons.push_back({a, c, d});
        }
    return s;
}

// The grid with every square at (x, y) = (10, 10) mod 20 left out: a hole each.
OsfSurface GridWithHoles(unsigned int n)
{
    OsfSurface grid = Grid(n);
    OsfSurface s;
    s.vertices = grid.vertices;
    for (std::size_t k = 0; k < grid.polygons.size(); ++k)
    {
        const std::size_t square = k / 2, x = square % n, y = square / n;
        if (x % 20 != 10 || y % 20 != 10)
            s.polygons.push_back(grid.polygons[k]);
    }
    return s;
}

// The entries of a list of lists, for comparing two of them whole.
template <typename Inner>
std::vector<std::vector<unsigned int>> Entries(const KV_List<Inner>* lists)
{
    std::vector<std::vector<unsigned int>> result;
    for (unsigned int i = 0; lists != nullptr && i < lists->Count(); ++i)
    {
        result.emplace_back();
        for (unsigned int k = 0; k < (*lists)[i].Count(); ++k)
            result.back().push_back((*lists)[i][k]);
    }
    return result;
}

// Coordinates as their bits.
std::vector<std::uint32_t> Bits(const KV_List<KV_Vector3D>* vectors)
{
    std::vector<std::uint32_t> result;
    for (unsigned int i = 0; vectors != nullptr && i < vectors->Count(); ++i)
        for (float c : {(*vectors)[i].x, (*vectors)[i].y, (*vectors)[i].z})
        {
            std::uint32_t bits;
            std::memcpy(&bits, &c, sizeof bits);
            result.push_back(bits);
        }
    return result;
}

std::vector<int> Flags(const KV_List<char>* flags)
{
    std::vector<int> result;
    for (unsigned int i = 0; flags != nullptr && i < flags->Count(); ++i)
        result.push_back((*flags)[i]);
    return result;
}

std::string Write(const std::string& name, const OsfSurface& surface)
{
    const std::string path = AppHarness::ScratchPath(name);
    WriteOsfFile(path, EncodeRawSurface(surface, OsfRawOptions()));
    return path;
}

// The colour name of a lit texel: which channels are well above the darkest.
std::string ColourAt(const wxImage& image, int x, int y)
{
    const int r = image.GetRed(x, y), g = image.GetGreen(x, y), b = image.GetBlue(x, y);
    const int top = std::max(r, std::max(g, b));
    if (top < 24)
        return "dark";
    const bool R = r > top / 2, G = g > top / 2, B = b > top / 2;
    static const std::map<int, std::string> names = {{4, "red"},    {2, "green"}, {1, "blue"},
                                                     {6, "yellow"}, {3, "cyan"},  {5, "magenta"},
                                                     {7, "white"}};
    return names.at((R ? 4 : 0) | (G ? 2 : 0) | (B ? 1 : 0));
}

// Answers the Surface Properties dialog after reading its rows, and, shown on the screen,
// counts the rows that hide below its list's visible part (-1: no list).
class ReadProperties : public wxExpectModalBase<KV_SurfacePropertiesDlg, ReadProperties>
{
public:
    explicit ReadProperties(std::map<std::string, std::string>* rows, wxString* title,
                            int* hidden = nullptr)
        : mpkRows(rows), mpkTitle(title), mpnHidden(hidden)
    {
    }

protected:
    int OnInvoked(KV_SurfacePropertiesDlg* dialog) const override
    {
        *mpkTitle = dialog->GetTitle();
        for (const auto& row : dialog->Rows()) (*mpkRows)[row.first] = row.second;
        if (mpnHidden != nullptr)
        {
            *mpnHidden = -1;
            dialog->Show();
            for (int i = 0; i < 40; ++i)
            {
                wxTheApp->Yield(true);
                wxMilliSleep(10);
            }
            for (wxWindow* child : dialog->GetChildren())
                if (auto* list = dynamic_cast<wxListCtrl*>(child))
                {
                    *mpnHidden = 0;
                    for (long i = 0; i < list->GetItemCount(); ++i)
                    {
                        wxRect row;
                        if (!list->GetItemRect(i, row) ||
                            row.GetBottom() >= list->GetClientSize().y)
                            ++*mpnHidden;
                    }
                }
            dialog->Hide();
        }
        return wxID_OK;
    }

private:
    std::map<std::string, std::string>* mpkRows;
    wxString* mpkTitle;
    int* mpnHidden;
};

// Answers the image size dialog with a size (or the proposed one when empty).
class ChooseSize : public wxExpectModalBase<KV_ImageSizeDlg, ChooseSize>
{
public:
    explicit ChooseSize(wxSize size, wxSize* proposed) : mkSize(size), mpkProposed(proposed) {}

protected:
    int OnInvoked(KV_ImageSizeDlg* dialog) const override
    {
        *mpkProposed = dialog->GetImageSize();
        if (mkSize.x > 0)
            dialog->SetImageSize(mkSize);
        return wxID_OK;
    }

private:
    wxSize mkSize;
    wxSize* mpkProposed;
};

class InspectionTest : public ::testing::Test
{
protected:
    void StartWith(const std::string& path)
    {
        ASSERT_TRUE(mkApp.Start({path}));
        ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
        ASSERT_TRUE(mkApp.PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 5000));
        ASSERT_TRUE(mkApp.WaitForFrame());
    }
    KV_VerovuriRezaroView* View() { return mkApp.App().GetView(); }
    wxImage Picture()
    {
        mkApp.WaitForFrame();
        return AppHarness::Capture(View());
    }

    AppHarness mkApp;
};
}  // namespace

TEST_F(InspectionTest, PropertiesOfATubeWithTwoHoles)
{
    const std::string path = Write("tube.osf", TwoHoleTube());
    StartWith(path);
    EXPECT_TRUE(mkApp.IsEnabled(ID_VIEW_PROPERTIES));
    std::map<std::string, std::string> rows;
    wxString title;
    int hidden = -2;
    wxTEST_DIALOG(mkApp.Command(ID_VIEW_PROPERTIES), ReadProperties(&rows, &title, &hidden));
    EXPECT_EQ(title, wxString("Surface Properties"));
    // Every row shows without scrolling.
    EXPECT_EQ(hidden, 0);
    EXPECT_EQ(rows["file"], path);
    EXPECT_EQ(rows["encoding"], "raw");
    EXPECT_EQ(rows["vertices"], "8");
    EXPECT_EQ(rows["polygons"], "5");
    EXPECT_EQ(rows["polygons by corners"], "2 of 3, 3 of 4");
    EXPECT_EQ(rows["triangles"], "8");
    EXPECT_EQ(rows["texture"], "none");
    EXPECT_EQ(rows["surface area"], "4");
    EXPECT_EQ(rows["boundaries"], "2");
    EXPECT_EQ(rows["boundary length"], "8");
    EXPECT_EQ(rows["boundary vertices"], "8");
    EXPECT_EQ(rows["edges of more than two polygons"], "0");
    EXPECT_EQ(rows["consistency"], "consistent");

    // Without a surface there is nothing to show.
    mkApp.Command(ID_FILE_CLOSE);
    EXPECT_FALSE(mkApp.IsEnabled(ID_VIEW_PROPERTIES));
}

TEST_F(InspectionTest, StandardViewsAnswerTheDigitKeys)
{
    ASSERT_TRUE(mkApp.Start());
    const std::pair<int, int> keys[] = {
        {ID_VIEW_FRONT, '1'}, {ID_VIEW_BACK, '2'},   {ID_VIEW_LEFT, '3'}, {ID_VIEW_RIGHT, '4'},
        {ID_VIEW_TOP, '5'},   {ID_VIEW_BOTTOM, '6'}, {ID_VIEW_FIT, '0'}};
    for (const auto& key : keys)
    {
        const wxMenuItem* item = mkApp.Frame()->GetMenuBar()->FindItem(KV_MenuId(key.first));
        ASSERT_NE(item, nullptr);
        ASSERT_NE(item->GetAccel(), nullptr);
        EXPECT_EQ(item->GetAccel()->GetKeyCode(), key.second);
        EXPECT_EQ(item->GetAccel()->GetFlags(), wxACCEL_NORMAL);
    }
    const wxMenuItem* properties =
        mkApp.Frame()->GetMenuBar()->FindItem(KV_MenuId(ID_VIEW_PROPERTIES));
    EXPECT_EQ(properties->GetAccel()->GetKeyCode(), WXK_RETURN);
    EXPECT_EQ(properties->GetAccel()->GetFlags(), wxACCEL_ALT);
}

TEST_F(InspectionTest, ShowHolesOutlinesTheLoopsAndCountsThem)
{
    StartWith(Write("tube.osf", TwoHoleTube()));
    // Looking down the tube from above, both rims face the viewer.
    mkApp.Command(ID_VIEW_TOP);
    const wxImage before = Picture();
    EXPECT_FALSE(mkApp.IsChecked(ID_VIEW_SHOW_HOLES));
    mkApp.Command(ID_VIEW_SHOW_HOLES);
    EXPECT_TRUE(mkApp.IsChecked(ID_VIEW_SHOW_HOLES));
    const wxImage after = Picture();
    EXPECT_EQ(mkApp.Frame()->GetStatusBar()->GetStatusText(0),
              wxString("2 boundary loops (holes) outlined"));
    // The outline colour (0.55, 0, 0): dark red pixels that were not there before.
    int outlined = 0;
    for (int y = 0; y < after.GetHeight(); ++y)
        for (int x = 0; x < after.GetWidth(); ++x)
        {
            const bool red = after.GetRed(x, y) > 100 && after.GetRed(x, y) < 180 &&
                             after.GetGreen(x, y) < 20 && after.GetBlue(x, y) < 20;
            const bool wasRed = before.GetRed(x, y) > 100 && before.GetGreen(x, y) < 20 &&
                                before.GetBlue(x, y) < 20;
            outlined += red && !wasRed;
        }
    EXPECT_GT(outlined, 100);
    mkApp.Command(ID_VIEW_SHOW_HOLES);
    EXPECT_FALSE(mkApp.IsChecked(ID_VIEW_SHOW_HOLES));
}

TEST_F(InspectionTest, ShowHolesSaysOneLoopInTheSingular)
{
    // The tube with its top closed: a cup, open at the bottom only.
    OsfSurface cup = TwoHoleTube();
    cup.polygons.push_back({4, 5, 6, 7});
    StartWith(Write("cup.osf", cup));
    mkApp.Command(ID_VIEW_SHOW_HOLES);
    EXPECT_EQ(mkApp.Frame()->GetStatusBar()->GetStatusText(0),
              wxString("1 boundary loop (hole) outlined"));
}

TEST_F(InspectionTest, EachStandardViewShowsItsSideOfTheCube)
{
    StartWith(Write("cube.osf", MarkedCube()));
    const struct
    {
        int command;
        const char* colour;
    } views[] = {{ID_VIEW_FRONT, "red"},    {ID_VIEW_BACK, "green"}, {ID_VIEW_LEFT, "blue"},
                 {ID_VIEW_RIGHT, "yellow"}, {ID_VIEW_TOP, "cyan"},   {ID_VIEW_BOTTOM, "magenta"},
                 {ID_VIEW_FIT, "red"}};
    for (const auto& view : views)
    {
        // From a turned world, so that each view sets the turn rather than adding to it.
        mkApp.Mouse(wxEVT_LEFT_DOWN, 100, 100, true, false);
        mkApp.Mouse(wxEVT_MOTION, 130, 120, true, false);
        mkApp.Mouse(wxEVT_LEFT_UP, 130, 120, false, false);
        mkApp.Command(view.command);
        const wxImage picture = Picture();
        const std::string seen = ColourAt(picture, picture.GetWidth() / 2, picture.GetHeight() / 2);
        EXPECT_EQ(seen, view.colour) << "command " << view.command;
        if (seen != view.colour)
            picture.SaveFile(AppHarness::ScratchPath(std::to_string(view.command) + ".png"),
                             wxBITMAP_TYPE_PNG);
    }
}

TEST_F(InspectionTest, WheelZoomsByOneTwoButtonStep)
{
    StartWith(AppHarness::SamplePath());
    KV_OGLRenderer& renderer = View()->Renderer();
    const float before = renderer.GetCameraTransform().GetTranslation().z;
    const KV_ClippingVolume* volume = renderer.GetClippingVolume();
    const float step = (volume->mrFar - volume->mrNear) * 0.1f;
    wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
    wheel.SetEventObject(View());
    wheel.m_wheelRotation = 120;
    wheel.m_wheelDelta = 120;
    wheel.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
    View()->GetEventHandler()->ProcessEvent(wheel);
    const float after = renderer.GetCameraTransform().GetTranslation().z;
    EXPECT_NEAR(std::fabs(after - before), step, step * 1e-3f);

    // Two-button zoom of one message, towards the surface, moves the camera the same way.
    mkApp.Command(ID_VIEW_FIT);
    mkApp.Mouse(wxEVT_LEFT_DOWN, 100, 100, true, false);
    mkApp.Mouse(wxEVT_RIGHT_DOWN, 100, 100, true, true);
    mkApp.Mouse(wxEVT_MOTION, 100, 110, true, true);
    mkApp.Mouse(wxEVT_LEFT_UP, 100, 110, false, false);
    EXPECT_NEAR(renderer.GetCameraTransform().GetTranslation().z, after, step * 1e-3f);
}

TEST_F(InspectionTest, SaveImageWritesTheViewAsPng)
{
    StartWith(AppHarness::SamplePath());
    const std::string path = AppHarness::ScratchPath("view.png");
    mkApp.Prompts().mkSavePaths.push_back(path);
    wxSize proposed;
    wxTEST_DIALOG(mkApp.Command(ID_FILE_SAVE_IMAGE), ChooseSize(wxSize(), &proposed));
    EXPECT_EQ(mkApp.Prompts().mkDialogTitles.back(), wxString("Save Image"));
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
    EXPECT_EQ(proposed, View()->GetClientSize());

    const wxImage screen = Picture();
    wxImage saved;
    ASSERT_TRUE(saved.LoadFile(path, wxBITMAP_TYPE_PNG));
    ASSERT_EQ(saved.GetSize(), screen.GetSize());
    long difference = 0, lit = 0;
    for (int y = 0; y < saved.GetHeight(); ++y)
        for (int x = 0; x < saved.GetWidth(); ++x)
        {
            difference += std::abs(saved.GetRed(x, y) - screen.GetRed(x, y)) +
                          std::abs(saved.GetGreen(x, y) - screen.GetGreen(x, y)) +
                          std::abs(saved.GetBlue(x, y) - screen.GetBlue(x, y));
            lit += saved.GetRed(x, y) + saved.GetGreen(x, y) + saved.GetBlue(x, y) > 48;
        }
    EXPECT_GT(lit, saved.GetWidth() * saved.GetHeight() / 20);
    // Same frame drawn twice: at most a level or two per channel of rounding.
    EXPECT_LT(difference, 3L * saved.GetWidth() * saved.GetHeight());

    // A chosen size, as JPEG.
    const std::string jpeg = AppHarness::ScratchPath("big.jpg");
    mkApp.Prompts().mkSavePaths.push_back(jpeg);
    wxTEST_DIALOG(mkApp.Command(ID_FILE_SAVE_IMAGE), ChooseSize(wxSize(1600, 1000), &proposed));
    wxImage big;
    ASSERT_TRUE(big.LoadFile(jpeg, wxBITMAP_TYPE_JPEG));
    EXPECT_EQ(big.GetSize(), wxSize(1600, 1000));
    EXPECT_EQ(View()->RenderImage(8193, 10).IsOk(), false);
}

// Once shown, the texture is kept packed, and whatever reads its pixels later gets them as
// the file has them: Save As a PLY writes the picture beside it, which a PNG decoder reads
// back pixel for pixel as the sample's own picture.
TEST_F(InspectionTest, PackedTextureIsSavedAsTheFileHasIt)
{
    StartWith(AppHarness::SamplePath());
    const KV_MultiImage* texture =
        mkApp.App().GetDocument()->mpkSurfaceGeometry->DrawingSurface().mpTextureMap;
    ASSERT_NE(texture, nullptr);
    ASSERT_TRUE(mkApp.PumpUntil([texture] { return texture->IsPacked(); }, 20000));
    const std::string path = AppHarness::ScratchPath("packed.ply");
    const std::string picture = AppHarness::ScratchPath("packed_ply.png");
    std::remove(path.c_str());
    std::remove(picture.c_str());
    mkApp.Prompts().mkSavePaths.push_back(path);
    mkApp.Command(ID_FILE_SAVE_AS_FORMAT);
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
    EXPECT_FALSE(texture->IsPacked());

    KV_PolySurface sample;
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(KV_String(AppHarness::SamplePath().c_str()), sample, report));
    const KV_Image<KV_RGB8>* expected = sample.mpTextureMap->ColourImage();
    ASSERT_NE(expected, nullptr);
    wxImage saved;
    ASSERT_TRUE(saved.LoadFile(picture, wxBITMAP_TYPE_PNG));
    ASSERT_EQ(saved.GetSize(), wxSize(expected->Cols(), expected->Rows()));
    // Row 0 is the picture's bottom row, the PNG's last.
    EXPECT_EQ(std::memcmp(saved.Mirror(false).GetData(), expected->Data(), 3 * expected->Count()), 0);
}

TEST_F(InspectionTest, WindowSizeAndPlaceSurviveARestart)
{
    ASSERT_TRUE(mkApp.Start());
    const wxRect chosen(70, 60, 700, 520);
    mkApp.Frame()->SetSize(chosen);
    mkApp.Pump(200);
    const wxRect shown = mkApp.Frame()->GetRect();
    mkApp.Frame()->Close();
    mkApp.Stop();

    ASSERT_TRUE(mkApp.Start());
    mkApp.Pump(200);
    EXPECT_EQ(mkApp.Frame()->GetRect(), shown);
    EXPECT_EQ(mkApp.Frame()->GetSize(), chosen.GetSize());
}

TEST_F(InspectionTest, EmptyViewShowsTheHintAndASurfaceReplacesIt)
{
    ASSERT_TRUE(mkApp.Start());
    ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
    ASSERT_TRUE(mkApp.PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 5000));
    const wxImage empty = Picture();
    // Grey text in a band across the middle, nothing elsewhere.
    int middle = 0, corners = 0;
    for (int y = 0; y < empty.GetHeight(); ++y)
        for (int x = 0; x < empty.GetWidth(); ++x)
        {
            const bool grey =
                empty.GetRed(x, y) > 60 && std::abs(empty.GetRed(x, y) - empty.GetBlue(x, y)) < 8;
            (std::abs(y - empty.GetHeight() / 2) < 20 ? middle : corners) += grey;
        }
    EXPECT_GT(middle, 200);
    EXPECT_EQ(corners, 0);

    ASSERT_TRUE(mkApp.Open(AppHarness::SamplePath()));
    const wxImage shown = Picture();
    EXPECT_EQ(View()->Renderer().GetActorCount(), 1u);
    // The hint is gone: the sample's picture differs from the empty one across the middle.
    int changed = 0;
    for (int x = 0; x < shown.GetWidth(); ++x)
        changed += shown.GetRed(x, shown.GetHeight() / 2) != empty.GetRed(x, empty.GetHeight() / 2);
    EXPECT_GT(changed, shown.GetWidth() / 4);
}

TEST_F(InspectionTest, FourMillionTriangleLoadKeepsDrawingAndEscCancelsIt)
{
    StartWith(AppHarness::SamplePath());
    const std::string big = Write("big.osf", Grid(1415));  // 4,004,450 triangles
    KV_VerovuriRezaroDoc* doc = mkApp.App().GetDocument();
    KV_PolySurfaceGeometry3D* shown = doc->mpkSurfaceGeometry;

    // Inside the load, a timer looks at the window twice, then presses Esc.
    unsigned long framesBefore = 0, framesDuring = 0;
    bool gauge = false, cancelEnabled = false, openEnabled = true, printButton = true;
    wxToolBar* bar = mkApp.Frame()->GetToolBar();
    wxString stage;
    int ticks = 0;
    wxTimer look;
    look.Bind(wxEVT_TIMER,
              [&](wxTimerEvent&)
              {
                  if (++ticks == 1)
                  {
                      framesBefore = View()->FrameCount();
                      gauge = mkApp.Frame()->IsShowingLoadProgress();
                      wxWindow* cancel = mkApp.Frame()->FindWindow(KV_MenuId(ID_LOAD_CANCEL));
                      // Everything else waits, the Cancel button does not.
                      mkApp.Frame()->UpdateWindowUI(wxUPDATE_UI_RECURSE);
                      cancelEnabled = cancel != nullptr && cancel->IsEnabled();
                      openEnabled = mkApp.IsEnabled(ID_FILE_OPEN);
                      printButton = bar->GetToolEnabled(KV_MenuId(ID_FILE_PRINT));
                      stage = mkApp.Frame()->GetStatusBar()->GetStatusText(0);
                      View()->Refresh(false);
                  }
                  else if (ticks == 3)
                  {
                      framesDuring = View()->FrameCount();
                      wxKeyEvent escape(wxEVT_CHAR_HOOK);
                      escape.m_keyCode = WXK_ESCAPE;
                      escape.SetEventObject(mkApp.Frame());
                      mkApp.Frame()->GetEventHandler()->ProcessEvent(escape);
                  }
                  else if (ticks == 2)
                  {
                      View()->Refresh(false);
                  }
              });
    look.Start(120);
    mkApp.Prompts().mkAnswers.push_back(true);  // replace the sample
    EXPECT_FALSE(mkApp.Open(big));
    look.Stop();

    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(gauge);
    EXPECT_TRUE(cancelEnabled);
    EXPECT_FALSE(openEnabled);
    EXPECT_FALSE(printButton);
    // Once the load has ended, the commands that no state governs are available again, on
    // the toolbar and in the menus (they stayed disabled for good).
    mkApp.Frame()->UpdateWindowUI(wxUPDATE_UI_RECURSE);
    for (int command : {ID_FILE_OPEN, ID_FILE_PRINT, ID_APP_ABOUT})
        EXPECT_TRUE(bar->GetToolEnabled(KV_MenuId(command))) << command;
    EXPECT_TRUE(mkApp.Frame()->GetMenuBar()->IsEnabled(KV_MenuId(ID_APP_EXIT)));
    EXPECT_TRUE(mkApp.Frame()->IsEnabled());
    EXPECT_EQ(stage, wxString("Reading big.osf..."));
    EXPECT_GT(framesDuring, framesBefore);
    EXPECT_FALSE(mkApp.Frame()->IsShowingLoadProgress());
    EXPECT_EQ(mkApp.Frame()->GetStatusBar()->GetStatusText(0), wxString("Loading cancelled"));
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
    // The sample stays, drawn.
    EXPECT_EQ(doc->mpkSurfaceGeometry, shown);
    EXPECT_EQ(mkApp.Frame()->GetTitle(), wxString("sample.osf - Orvane Image View"));
    const wxImage picture = Picture();
    EXPECT_NE(ColourAt(picture, picture.GetWidth() / 2, picture.GetHeight() / 2), "dark");

    // A load that runs to its end says what it loaded.
    mkApp.Prompts().mkAnswers.push_back(true);
    EXPECT_TRUE(mkApp.Open(Write("tube.osf", TwoHoleTube())));
    EXPECT_TRUE(wxRegEx("^8 vertices, 5 polygons, no texture, loaded in [0-9]+\\.[0-9] s$")
                    .Matches(mkApp.Frame()->GetStatusBar()->GetStatusText(0)))
        << mkApp.Frame()->GetStatusBar()->GetStatusText(0);
}

TEST_F(InspectionTest, MotionDrawsTheCoarseCopyAndStillFramesTheFullSurface)
{
    StartWith(Write("grid.osf", Grid(450)));  // 405,000 triangles
    ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->HasCoarseSurface(); }, 30000));
    // Any full frame counts as too slow here, so that motion always takes the copy.
    View()->SetCoarseThreshold(0.0);
    mkApp.WaitForFrame();
    EXPECT_FALSE(View()->LastFrameWasCoarse());

    mkApp.Mouse(wxEVT_LEFT_DOWN, 200, 200, true, false);
    mkApp.Mouse(wxEVT_MOTION, 230, 210, true, false);
    mkApp.WaitForFrame();
    EXPECT_TRUE(View()->LastFrameWasCoarse());
    const wxImage moving = AppHarness::Capture(View());
    // Held still with the button down, the motion has stopped: the full surface returns.
    mkApp.Pump(400);
    mkApp.WaitForFrame();
    EXPECT_FALSE(View()->LastFrameWasCoarse());
    mkApp.Mouse(wxEVT_LEFT_UP, 230, 210, false, false);
    mkApp.WaitForFrame();
    EXPECT_FALSE(View()->LastFrameWasCoarse());
    const wxImage still = AppHarness::Capture(View());
    // The copy covers the same flat grid: the two pictures differ in few pixels.
    long differing = 0;
    for (int y = 0; y < still.GetHeight(); ++y)
        for (int x = 0; x < still.GetWidth(); ++x)
            differing += std::abs(still.GetRed(x, y) - moving.GetRed(x, y)) > 40;
    EXPECT_LT(differing, still.GetWidth() * still.GetHeight() / 50);

    // The continuous rotation is motion too; stopping it brings the full surface back.
    mkApp.Command(ID_EDIT_ROTATE);
    mkApp.Pump(120);
    mkApp.WaitForFrame();
    EXPECT_TRUE(View()->LastFrameWasCoarse());
    mkApp.Command(ID_EDIT_ROTATE);
    mkApp.WaitForFrame();
    EXPECT_FALSE(View()->LastFrameWasCoarse());
}

// The window system asking for the window again (an expose, as a status-bar change makes)
// shows the kept frame of an unchanged scene, without drawing the surface; a refresh draws it.
TEST_F(InspectionTest, AnExposeShowsTheKeptFrameAndARefreshDrawsAnew)
{
    StartWith(Write("grid.osf", Grid(60)));
    View()->Renderer().SetKeepFramesFrom(0.0);  // every frame kept, however fast
    const wxImage drawn = Picture();
    const unsigned long frames = View()->FrameCount(), kept = View()->KeptFrameCount();

    // Something else over the window: the kept frame, not what the window still holds, must
    // come back.
    Display* display = static_cast<Display*>(wxGetDisplay());
    View()->Renderer().MakeCurrent();
    glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    View()->SwapBuffers();
    const wxImage covered = AppHarness::Capture(View());
    ASSERT_EQ(covered.GetRed(5, 5), 255);
    ASSERT_EQ(covered.GetGreen(5, 5), 0);

    XClearArea(display, View()->GetXWindow(), 0, 0, 0, 0, True);
    XFlush(display);
    ASSERT_TRUE(mkApp.PumpUntil([&] { return View()->KeptFrameCount() > kept; }, 5000));
    const wxImage shown = AppHarness::Capture(View());
    EXPECT_EQ(View()->FrameCount(), frames);
    ASSERT_EQ(shown.GetWidth(), drawn.GetWidth());
    ASSERT_EQ(shown.GetHeight(), drawn.GetHeight());
    EXPECT_EQ(std::memcmp(shown.GetData(), drawn.GetData(),
                          static_cast<std::size_t>(drawn.GetWidth()) * drawn.GetHeight() * 3),
              0);

    // A refresh, asked for by anyone, draws the scene again.
    EXPECT_TRUE(mkApp.WaitForFrame());
    EXPECT_EQ(View()->FrameCount(), frames + 1);
    EXPECT_EQ(View()->KeptFrameCount(), kept + 1);
}

TEST_F(InspectionTest, CopyViewPutsTheViewOnTheClipboard)
{
    StartWith(AppHarness::SamplePath());
    EXPECT_TRUE(mkApp.IsEnabled(ID_EDIT_COPY_VIEW));
    mkApp.Command(ID_EDIT_COPY_VIEW);
    const wxImage screen = Picture();
    ASSERT_TRUE(wxTheClipboard->Open());
    wxBitmapDataObject data;
    const bool got = wxTheClipboard->IsSupported(wxDF_BITMAP) && wxTheClipboard->GetData(data);
    wxTheClipboard->Close();
    ASSERT_TRUE(got);
    const wxImage copied = data.GetBitmap().ConvertToImage();
    ASSERT_EQ(copied.GetSize(), screen.GetSize());
    long difference = 0;
    for (int y = 0; y < copied.GetHeight(); ++y)
        for (int x = 0; x < copied.GetWidth(); ++x)
            difference += std::abs(copied.GetGreen(x, y) - screen.GetGreen(x, y));
    EXPECT_LT(difference, 2L * copied.GetWidth() * copied.GetHeight());

    mkApp.Command(ID_FILE_CLOSE);
    EXPECT_FALSE(mkApp.IsEnabled(ID_EDIT_COPY_VIEW));
    EXPECT_FALSE(mkApp.IsEnabled(ID_FILE_SAVE_IMAGE));
}

// The polygon normals, boundaries, vertex polygons and vertex boundary flags are made after
// the first frame.
// Commands given right after it (while they may still be in the making) get what a full
// completion gives, bit for bit; closing or replacing the surface meanwhile is safe.
TEST_F(InspectionTest, ListsFinishedAfterTheFirstFrameMatchAFullCompletion)
{
    const std::string path = Write("holes.osf", GridWithHoles(300));  // 225 holes
    KV_PolySurface full;
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(path.c_str(), full, report));
    KV_CompleteSurface(full, nullptr);
    ASSERT_NE(full.mpBoundaries, nullptr);
    ASSERT_EQ(full.mpBoundaries->Count(), 226u);

    StartWith(path);
    std::map<std::string, std::string> rows;
    wxString title;
    wxTEST_DIALOG(mkApp.Command(ID_VIEW_PROPERTIES), ReadProperties(&rows, &title));
    for (const auto& line : KV_SurfacePropertyLines(KV_MeasureSurface(path, report, full)))
        EXPECT_EQ(rows[line.first], line.second) << line.first;
    const KV_PolySurface& shown = mkApp.App().GetDocument()->mpkSurfaceGeometry->GetSurface();
    EXPECT_EQ(Entries(shown.mpBoundaries), Entries(full.mpBoundaries));
    EXPECT_EQ(Entries(shown.mpVertexPolygons), Entries(full.mpVertexPolygons));
    EXPECT_EQ(Flags(shown.mpVertexBoundaries), Flags(full.mpVertexBoundaries));
    EXPECT_EQ(Entries(shown.mpPolygons), Entries(full.mpPolygons));
    ASSERT_NE(full.mpPolygonNormals, nullptr);
    EXPECT_EQ(Bits(shown.mpPolygonNormals), Bits(full.mpPolygonNormals));
    EXPECT_EQ(Bits(shown.mpVertexNormals), Bits(full.mpVertexNormals));

    // Replaced and closed right after its first frame; opened again and its holes outlined
    // at once; replaced again, drawn with its holes from the first frame on.
    auto reopen = [&]
    {
        mkApp.Prompts().mkAnswers.push_back(true);
        ASSERT_TRUE(mkApp.Open(path));
        ASSERT_TRUE(mkApp.WaitForFrame());
    };
    reopen();
    mkApp.Command(ID_FILE_CLOSE);
    EXPECT_EQ(mkApp.App().GetDocument()->mpkSurfaceGeometry, nullptr);
    reopen();
    mkApp.Command(ID_VIEW_SHOW_HOLES);
    EXPECT_EQ(mkApp.Frame()->GetStatusBar()->GetStatusText(0),
              wxString("226 boundary loops (holes) outlined"));
    reopen();
    EXPECT_EQ(Entries(mkApp.App().GetDocument()->mpkSurfaceGeometry->GetSurface().mpBoundaries),
              Entries(full.mpBoundaries));
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
}
