// Measure mode in the real viewer under Xvfb, as a user meets it: clicks on the surface
// give the numbers "osftool pick" and "osftool measure" give for the same pixels of a
// picture of the same size, a drag still turns the view and picks nothing, Esc clears.
#include "tests/app/AppHarness.h"

#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"

#include <wx/frame.h>
#include <wx/image.h>
#include <wx/statusbr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace
{
// osftool's answer for the pixels, its lines joined by "|".
std::string Osftool(const std::string& command, const wxSize& size,
                    const std::vector<wxPoint>& pixels)
{
    std::ostringstream line;
    line << ORVANE_OSFTOOL_PATH << " " << command << " --size " << size.x << "x" << size.y
         << " '" << AppHarness::SamplePath() << "'";
    for (const wxPoint& p : pixels)
        line << " " << p.x << "," << p.y;
    std::string output;
    if (FILE* pipe = popen(line.str().c_str(), "r"))
    {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        {
            std::string text = buffer;
            if (!text.empty() && text.back() == '\n')
                text.pop_back();
            output += (output.empty() ? "" : "|") + text;
        }
        pclose(pipe);
    }
    return output;
}

// The numbers of a text, in order.
std::vector<double> Numbers(const std::string& text)
{
    std::vector<double> numbers;
    const char* p = text.c_str();
    while (*p != '\0')
    {
        char* end = nullptr;
        const bool starts = (*p >= '0' && *p <= '9') ||
                            ((*p == '-' || *p == '.') && p[1] >= '0' && p[1] <= '9');
        const double value = starts ? std::strtod(p, &end) : 0.0;
        if (starts && end != p)
        {
            numbers.push_back(value);
            p = end;
        }
        else
            ++p;
    }
    return numbers;
}

void ExpectSameNumbers(const std::string& status, const std::vector<double>& expected)
{
    const std::vector<double> shown = Numbers(status);
    ASSERT_GE(shown.size(), expected.size()) << status;
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(shown[i], expected[i], 1e-5) << i << " of " << status;
}

void ExpectSameNumbers(const std::string& status, const std::string& osftool)
{
    ASSERT_FALSE(osftool.empty());
    ExpectSameNumbers(status, Numbers(osftool));
}

// A flat grid of side x side unit squares in the plane z = 0, facing +z (the viewer), each
// square two triangles: a known count, area and outline for every block of squares.
std::string GridFile(int side)
{
    const std::string path = AppHarness::ScratchPath("grid.obj");
    std::ofstream out(path);
    for (int y = 0; y <= side; ++y)
        for (int x = 0; x <= side; ++x)
            out << "v " << x << " " << y << " 0\n";
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
        {
            const int a = y * (side + 1) + x + 1, b = a + 1, c = a + side + 2, d = a + side + 1;
            out << "f " << a << " " << b << " " << c << "\nf " << a << " " << c << " " << d
                << "\n";
        }
    return path;
}

class MeasureTest : public ::testing::Test
{
protected:
    void SetUp() override {}

    void Start(const std::string& path)
    {
        ASSERT_TRUE(mkApp.Start({path}));
        ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
        ASSERT_TRUE(mkApp.PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 5000));
        ASSERT_TRUE(mkApp.WaitForFrame());
    }

    KV_VerovuriRezaroView* View() { return mkApp.App().GetView(); }
    std::string Status() { return mkApp.Frame()->GetStatusBar()->GetStatusText(0).ToStdString(); }

    void Click(const wxPoint& p)
    {
        mkApp.Mouse(wxEVT_LEFT_DOWN, p.x, p.y, true, false);
        mkApp.Mouse(wxEVT_LEFT_UP, p.x, p.y, false, false);
        mkApp.WaitForFrame();
    }

    // Where a point of the surface shows in the view.
    wxPoint Screen(double x, double y, double z)
    {
        KV_PickCamera camera;
        double px = 0.0, py = 0.0, depth = 0.0;
        EXPECT_TRUE(View()->LastCamera(camera));
        EXPECT_TRUE(camera.Project({x, y, z}, px, py, depth));
        return wxPoint(static_cast<int>(px), static_cast<int>(py));
    }

    // A left drag from a to b with Shift held, and Ctrl when control.
    void ShiftDrag(const wxPoint& a, const wxPoint& b, bool control)
    {
        for (const auto& step : {std::make_pair(wxEVT_LEFT_DOWN, a),
                                 std::make_pair(wxEVT_MOTION, (a + b) / 2),
                                 std::make_pair(wxEVT_MOTION, b), std::make_pair(wxEVT_LEFT_UP, b)})
        {
            wxMouseEvent event(step.first);
            event.SetEventObject(View());
            event.SetPosition(step.second);
            event.m_leftDown = step.first != wxEVT_LEFT_UP;
            event.m_shiftDown = true;
            event.m_controlDown = control;
            View()->GetEventHandler()->ProcessEvent(event);
        }
        mkApp.WaitForFrame();
    }

    void Wheel(const wxPoint& p, int rotation)
    {
        wxMouseEvent event(wxEVT_MOUSEWHEEL);
        event.SetEventObject(View());
        event.SetPosition(p);
        event.m_wheelRotation = rotation;
        event.m_wheelDelta = 120;
        event.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
        View()->GetEventHandler()->ProcessEvent(event);
        mkApp.WaitForFrame();
    }

    AppHarness mkApp;
};
}  // namespace

TEST_F(MeasureTest, ClicksGiveOsftoolsNumbersForTheSamePixels)
{
    Start(AppHarness::SamplePath());
    EXPECT_FALSE(mkApp.IsChecked(ID_VIEW_MEASURE));
    ASSERT_TRUE(mkApp.IsEnabled(ID_VIEW_MEASURE));
    mkApp.Command(ID_VIEW_MEASURE);
    ASSERT_TRUE(mkApp.IsChecked(ID_VIEW_MEASURE));
    const wxSize size = View()->DrawingSize();
    ASSERT_EQ(View()->GetContentScaleFactor(), 1.0);
    const wxPoint first(size.x / 2, size.y / 2), second(size.x / 2 + size.x / 10, size.y / 3);

    Click(first);
    // osftool: "point: x y z|polygon: N|normal: x y z|texture coordinate: u v"; the viewer
    // reads its matrices back from OpenGL, so the last digits may differ.
    ExpectSameNumbers(Status(), Osftool("pick", size, {first}));
    ASSERT_EQ(View()->Measure().Picks().size(), 1u);

    // A drag turns the view and picks nothing; the turn is undone by the standard view.
    mkApp.Mouse(wxEVT_LEFT_DOWN, first.x, first.y, true, false);
    mkApp.Mouse(wxEVT_MOTION, first.x + 40, first.y, true, false);
    mkApp.Mouse(wxEVT_LEFT_UP, first.x + 40, first.y, false, false);
    EXPECT_EQ(View()->Measure().Picks().size(), 1u);
    mkApp.Command(ID_VIEW_FIT);
    mkApp.WaitForFrame();

    Click(second);
    const std::string status = Status();
    EXPECT_EQ(status.rfind("Distance ", 0), 0u) << status;
    EXPECT_NE(status.find("in the file's units"), std::string::npos) << status;
    // osftool: "from: ...|to: ...|distance: d|x: dx|y: dy|z: dz|unit: ..."; the points
    // come first there.
    const std::vector<double> measured = Numbers(Osftool("measure", size, {first, second}));
    ASSERT_EQ(measured.size(), 10u);
    ExpectSameNumbers(status, std::vector<double>(measured.begin() + 6, measured.end()));

    // Both points are marked in the view, where they were clicked.
    const wxImage marked = AppHarness::Capture(View());
    for (const wxPoint& p : {first, second})
        EXPECT_TRUE(marked.GetRed(p.x, p.y) > 200 && marked.GetGreen(p.x, p.y) < 100)
            << p.x << "," << p.y;

    // Esc clears the points and the marks.
    wxKeyEvent escape(wxEVT_KEY_DOWN);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(View());
    View()->GetEventHandler()->ProcessEvent(escape);
    EXPECT_TRUE(View()->Measure().Picks().empty());
    EXPECT_EQ(Status(), KV_IDLE_PROMPT);

    // Out of Measure mode a click picks nothing.
    mkApp.Command(ID_VIEW_MEASURE);
    EXPECT_FALSE(mkApp.IsChecked(ID_VIEW_MEASURE));
    Click(first);
    EXPECT_TRUE(View()->Measure().Picks().empty());

    // The whole textured surface as a selection keeps its texture coordinates.
    mkApp.Command(ID_EDIT_SELECT_ALL);
    const std::string saved = AppHarness::ScratchPath("all.obj");
    mkApp.Prompts().mkSavePaths.push_back(saved);
    mkApp.Command(ID_FILE_SAVE_SELECTION);
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
    std::ifstream in(saved);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\nvt "), std::string::npos);
    EXPECT_NE(text.find("\nf "), std::string::npos);
}

TEST_F(MeasureTest, RectanglesSelectAndDeselectAndTheSelectionSavesAlone)
{
    Start(GridFile(10));
    mkApp.Command(ID_VIEW_MEASURE);
    EXPECT_FALSE(mkApp.IsEnabled(ID_FILE_SAVE_SELECTION));
    const wxImage before = AppHarness::Capture(View());
    const wxPoint inside = Screen(3.5, 3.5, 0.0);

    struct Case
    {
        // A rectangle from grid point (x0, y0) to (x1, y1); or a command.
        double x0, y0, x1, y1;
        bool remove;
        int command;
        const char* status;
        std::size_t count;
    };
    const Case cases[] = {
        // 4 x 4 squares: their triangles' centres lie inside, the neighbours' a third out.
        {2, 2, 6, 6, false, 0, "32 polygons selected, area 16, boundary length 16", 32},
        // Dragged the other way round, overlapping: only the 8 new squares add.
        {8, 6, 4, 2, false, 0, "48 polygons selected, area 24, boundary length 20", 48},
        {2, 2, 4, 6, true, 0, "32 polygons selected, area 16, boundary length 16", 32},
        // The rest: the grid's outline and the hole's.
        {0, 0, 0, 0, false, ID_EDIT_INVERT_SELECTION,
         "168 polygons selected, area 84, boundary length 56", 168},
        {0, 0, 0, 0, false, ID_EDIT_SELECT_ALL,
         "200 polygons selected, area 100, boundary length 40", 200},
        {0, 0, 0, 0, false, ID_EDIT_CLEAR_SELECTION, "No polygons selected", 0},
        {2, 2, 4, 6, false, 0, "16 polygons selected, area 8, boundary length 12", 16},
    };
    for (const Case& c : cases)
    {
        if (c.command != 0)
            mkApp.Command(c.command);
        else
            ShiftDrag(Screen(c.x0, c.y0, 0), Screen(c.x1, c.y1, 0), c.remove);
        EXPECT_EQ(Status(), std::string(c.status) + (c.count ? " (the file's units)" : ""))
            << c.status;
        EXPECT_EQ(View()->Selection().size(), c.count) << c.status;
    }
    // The rectangles did not roll the view, and the selected polygons show in their own
    // material.
    EXPECT_NE(before.GetRed(inside.x, inside.y) + 256 * before.GetGreen(inside.x, inside.y),
              AppHarness::Capture(View()).GetRed(inside.x, inside.y) +
                  256 * AppHarness::Capture(View()).GetGreen(inside.x, inside.y));
    EXPECT_EQ(Screen(3.5, 3.5, 0.0), inside);

    // Save Selection As writes those 16 triangles and the 15 grid points they use.
    const std::string saved = AppHarness::ScratchPath("selection.obj");
    mkApp.Prompts().mkSavePaths.push_back(saved);
    ASSERT_TRUE(mkApp.IsEnabled(ID_FILE_SAVE_SELECTION));
    mkApp.Command(ID_FILE_SAVE_SELECTION);
    std::ifstream in(saved);
    int faces = 0, vertices = 0;
    double xMin = 1e9, xMax = -1e9, yMin = 1e9, yMax = -1e9;
    for (std::string line; std::getline(in, line);)
    {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        faces += kind == "f";
        if (kind == "v")
        {
            double x = 0, y = 0;
            words >> x >> y;
            ++vertices;
            xMin = std::min(xMin, x), xMax = std::max(xMax, x);
            yMin = std::min(yMin, y), yMax = std::max(yMax, y);
        }
    }
    EXPECT_EQ(faces, 16);
    EXPECT_EQ(vertices, 15);
    EXPECT_EQ(xMin, 2.0);
    EXPECT_EQ(xMax, 4.0);
    EXPECT_EQ(yMin, 2.0);
    EXPECT_EQ(yMax, 6.0);
    EXPECT_TRUE(mkApp.Prompts().mkMessages.empty());
}

TEST_F(MeasureTest, WheelZoomsTowardThePointerAndADoubleClickSetsTheTurningCentre)
{
    Start(GridFile(10));
    const wxPoint corner = Screen(0, 0, 0), middle = Screen(5, 5, 0);
    // Over the surface, in and out: the point under the pointer stays within 2 pixels
    // while the grid grows or shrinks about it.
    struct Case
    {
        double x, y;
        int rotation;
        bool grows;
    };
    const Case cases[] = {{7.3, 2.6, 120, true}, {7.3, 2.6, 120, true}, {1.2, 8.9, -120, false}};
    for (const Case& c : cases)
    {
        const wxPoint p = Screen(c.x, c.y, 0);
        KV_PickHit hit;
        ASSERT_TRUE(View()->PickAt(p.x, p.y, hit));
        const int before = Screen(10, 0, 0).x - Screen(0, 0, 0).x;
        Wheel(p, c.rotation);
        const wxPoint after = Screen(hit.mkPoint[0], hit.mkPoint[1], hit.mkPoint[2]);
        EXPECT_LE(std::abs(after.x - p.x), 2) << c.x << "," << c.y;
        EXPECT_LE(std::abs(after.y - p.y), 2) << c.x << "," << c.y;
        EXPECT_EQ(Screen(10, 0, 0).x - Screen(0, 0, 0).x > before, c.grows);
    }

    // Beside the surface the wheel zooms toward the middle, as before.
    mkApp.Command(ID_VIEW_FIT);
    mkApp.WaitForFrame();
    EXPECT_EQ(Screen(0, 0, 0), corner);
    Wheel(wxPoint(2, 2), 120);
    EXPECT_LE(std::abs(Screen(5, 5, 0).x - middle.x), 1);
    EXPECT_LT(Screen(0, 0, 0).x, corner.x);

    // A double-click on the surface: a roll (Shift+drag) turns the view about the point
    // clicked.
    const auto roll = [this] {
        mkApp.Mouse(wxEVT_LEFT_DOWN, 100, 100, true, false, true);
        mkApp.Mouse(wxEVT_MOTION, 130, 110, true, false, true);
        mkApp.Mouse(wxEVT_LEFT_UP, 130, 110, false, false, true);
        mkApp.WaitForFrame();
    };
    mkApp.Command(ID_VIEW_FIT);
    mkApp.WaitForFrame();
    const wxPoint clicked = Screen(8, 2, 0);
    mkApp.Mouse(wxEVT_LEFT_DCLICK, clicked.x, clicked.y, true, false);
    mkApp.Mouse(wxEVT_LEFT_UP, clicked.x, clicked.y, false, false);
    roll();
    EXPECT_LE(std::abs(Screen(8, 2, 0).x - clicked.x), 2);
    EXPECT_LE(std::abs(Screen(8, 2, 0).y - clicked.y), 2);
    EXPECT_GT(std::abs(Screen(5, 5, 0).x - middle.x) + std::abs(Screen(5, 5, 0).y - middle.y), 5);
    // Fit brings back the usual centre and view: the same roll turns about the middle.
    mkApp.Command(ID_VIEW_FIT);
    mkApp.WaitForFrame();
    roll();
    EXPECT_LE(std::abs(Screen(5, 5, 0).x - middle.x), 2);
    EXPECT_LE(std::abs(Screen(5, 5, 0).y - middle.y), 2);
    EXPECT_GT(std::abs(Screen(8, 2, 0).x - clicked.x) + std::abs(Screen(8, 2, 0).y - clicked.y), 5);
}

TEST_F(MeasureTest, OrthographicKeepsThePictureSizeAndZoomsTowardThePointer)
{
    Start(GridFile(10));
    const auto width = [this] { return Screen(10, 0, 0).x - Screen(0, 0, 0).x; };
    const auto parallel = [this] {
        KV_PickCamera camera;
        EXPECT_TRUE(View()->LastCamera(camera));
        return camera.mkProjection[11] == 0.0 && camera.mkProjection[15] == 1.0;
    };
    const int perspectiveWidth = width();
    EXPECT_FALSE(parallel());
    EXPECT_FALSE(mkApp.IsChecked(ID_VIEW_ORTHOGRAPHIC));
    mkApp.Command(ID_VIEW_ORTHOGRAPHIC);
    mkApp.WaitForFrame();
    EXPECT_TRUE(mkApp.IsChecked(ID_VIEW_ORTHOGRAPHIC));
    EXPECT_TRUE(parallel());
    // The grid lies at the depth of the centre: it keeps its size.
    EXPECT_LE(std::abs(width() - perspectiveWidth), 2);

    // The wheel and the two-button zoom scale the picture; the point under the pointer stays.
    const wxPoint p = Screen(7.5, 2.5, 0);
    Wheel(p, 120);
    EXPECT_GT(width(), perspectiveWidth + 4);
    EXPECT_LE(std::abs(Screen(7.5, 2.5, 0).x - p.x), 2);
    EXPECT_LE(std::abs(Screen(7.5, 2.5, 0).y - p.y), 2);
    const int zoomed = width();
    mkApp.Mouse(wxEVT_LEFT_DOWN, 100, 100, true, false);
    mkApp.Mouse(wxEVT_RIGHT_DOWN, 100, 100, true, true);
    mkApp.Mouse(wxEVT_MOTION, 100, 90, true, true);
    mkApp.Mouse(wxEVT_LEFT_UP, 100, 90, false, false);
    mkApp.WaitForFrame();
    EXPECT_LT(width(), zoomed);

    // Fit frames the grid again, still in parallel; picks and selections work there too.
    mkApp.Command(ID_VIEW_FIT);
    mkApp.WaitForFrame();
    EXPECT_TRUE(parallel());
    EXPECT_LE(std::abs(width() - perspectiveWidth), 2);
    KV_PickHit hit;
    const wxPoint q = Screen(3.25, 6.5, 0);
    ASSERT_TRUE(View()->PickAt(q.x, q.y, hit));
    EXPECT_NEAR(hit.mkPoint[0], 3.25, 0.05);
    EXPECT_NEAR(hit.mkPoint[1], 6.5, 0.05);

    mkApp.Command(ID_VIEW_ORTHOGRAPHIC);
    mkApp.WaitForFrame();
    EXPECT_FALSE(parallel());
    EXPECT_LE(std::abs(width() - perspectiveWidth), 2);
}
