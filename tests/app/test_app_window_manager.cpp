// The program under a real window manager (openbox on the test's own X server), driven with
// real X input (xdotool), as a person at a desktop meets it: the digit keys after the 3D view
// has been clicked and dragged, and the window's place and size across restarts of the
// installed program, each closed with the manager's Alt+F4; Measure mode's key and a real
// click on the surface.
#include "tests/app/AppHarness.h"

#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"
#include "tests/support/ScratchPath.h"

#include <wx/statusbr.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace
{
// Sum over the pixels of the absolute channel differences.
long Difference(const wxImage& a, const wxImage& b)
{
    if (a.GetSize() != b.GetSize())
        return -1;
    long sum = 0;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            sum += std::abs(a.GetRed(x, y) - b.GetRed(x, y)) +
                   std::abs(a.GetGreen(x, y) - b.GetGreen(x, y)) +
                   std::abs(a.GetBlue(x, y) - b.GetBlue(x, y));
    return sum;
}

// Shell lines that wait (at most 15 s) for the one shown window titled `title` of the
// process `owner` (a number or "$variable") to stay the same for a quarter of a second, and
// put its id in $id; exit 3 when it never came.
std::string FindWindow(const std::string& owner, const std::string& title)
{
    return "id=''; previous=''; for i in $(seq 60); do "
           "id=$(xdotool search --all --onlyvisible --pid " +
           owner + " --name '^" + title +
           "$' 2>/dev/null | tail -1); "
           "[ -n \"$id\" ] && [ \"$id\" = \"$previous\" ] && break; previous=$id; id=''; "
           "sleep 0.25; done; [ -n \"$id\" ] || exit 3\n";
}

class WindowManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        AppHarness::UseWindowManager();
        mpkApp = std::make_unique<AppHarness>();
        ASSERT_TRUE(AppHarness::HasWindowManager())
            << "openbox did not start on the test's own X server (is it installed?)";
    }

    // Runs the script while the program handles its events, until it has ended.
    void Drive(const std::string& script, const std::string& what, int timeoutMs = 30000)
    {
        ShellActor actor(script);
        EXPECT_TRUE(mpkApp->PumpUntil([&] { return actor.Finished(); }, timeoutMs)) << what;
        EXPECT_EQ(actor.ExitStatus(), 0) << what;
    }

    // Starts the program on the sample and waits for its first frame, the splash gone.
    void StartOnTheSample(KV_VerovuriRezaroView*& view)
    {
        setenv("GSETTINGS_BACKEND", "memory", 1);
        ASSERT_TRUE(mpkApp->Start({AppHarness::SamplePath()}));
        view = mpkApp->App().GetView();
        ASSERT_TRUE(mpkApp->PumpUntil([&] { return view->IsRendererReady(); }, 5000));
        ASSERT_TRUE(mpkApp->PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 5000));
        ASSERT_TRUE(mpkApp->WaitForFrame());
    }

    std::unique_ptr<AppHarness> mpkApp;
};
}  // namespace

TEST_F(WindowManagerTest, DigitKeysAfterADragInTheViewShowTheMenusStandardViews)
{
    KV_VerovuriRezaroView* view = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartOnTheSample(view));
    const std::string frame = FindWindow(std::to_string(getpid()), "sample.osf - Orvane Image View");
    const std::string lock = "flock " + AppHarness::InputLock() + " ";

    // Front from the menu, then a drag across the middle of the view with the real pointer,
    // which gives the view the keyboard as a click does; the picture after it.
    auto frontThenDrag = [&](const std::string& what)
    {
        mpkApp->Command(ID_VIEW_FRONT);
        EXPECT_TRUE(mpkApp->WaitForFrame());
        const wxPoint middle = view->GetScreenPosition() + view->GetClientSize() / 2;
        std::ostringstream drag;
        drag << frame << lock << "xdotool windowactivate --sync $id mousemove --sync " << middle.x
             << " " << middle.y << " mousedown 1 sleep 0.2 mousemove --sync " << middle.x + 90
             << " " << middle.y + 40 << " sleep 0.2 mouseup 1\n";
        Drive(drag.str(), "drag before " + what);
        mpkApp->Pump(200);
        EXPECT_EQ(wxWindow::FindFocus(), view) << "the view has not taken the keyboard";
        EXPECT_TRUE(mpkApp->WaitForFrame());
        return AppHarness::Capture(view);
    };
    const struct
    {
        const char* key;
        int command;
    } keys[] = {{"2", ID_VIEW_BACK}, {"6", ID_VIEW_BOTTOM}, {"0", ID_VIEW_FIT}};
    for (const auto& k : keys)
    {
        // The key after the drag, and the menu's command after the same drag: both start
        // from the same view (what a standard view shows depends a little on the view
        // before it), so the two pictures must be the same to the pixel.
        const wxImage dragged = frontThenDrag(std::string("key ") + k.key);
        Drive(frame + lock + "xdotool key --clearmodifiers " + k.key + "\n",
              std::string("key ") + k.key);
        mpkApp->Pump(200);
        ASSERT_TRUE(mpkApp->WaitForFrame());
        const wxImage keyed = AppHarness::Capture(view);

        frontThenDrag(std::string("menu ") + k.key);
        mpkApp->Command(k.command);
        ASSERT_TRUE(mpkApp->WaitForFrame());
        const wxImage menu = AppHarness::Capture(view);
        ASSERT_TRUE(menu.IsOk());
        EXPECT_GT(Difference(dragged, menu), 255L * 50) << k.key << ": the drag turned nothing";
        EXPECT_EQ(Difference(keyed, menu), 0) << k.key;
        if (HasFailure())
        {
            keyed.SaveFile(TestScratchPath(std::string("key-") + k.key + ".png"), wxBITMAP_TYPE_PNG);
            menu.SaveFile(TestScratchPath(std::string("menu-") + k.key + ".png"), wxBITMAP_TYPE_PNG);
        }
    }
}

TEST_F(WindowManagerTest, PlaceAndSizeStayTheSameOverThreeRestarts)
{
    // The installed program, four times with one settings folder: the first run's window is
    // moved and sized by the manager as a drag of its frame would; each run is closed with
    // Alt+F4, which the manager turns into the window's close request.
    const std::string settings = TestScratchPath("config");
    std::filesystem::remove_all(settings);
    setenv("XDG_CONFIG_HOME", settings.c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    const int chosenX = 123, chosenY = 77, chosenWidth = 700, chosenHeight = 500;
    struct Geometry
    {
        int x = -1, y = -1, width = -1, height = -1;  // the client window, on the root
        int left = -1, top = -1;                      // the manager's frame extents
    };
    Geometry runs[4];
    for (int run = 0; run < 4; ++run)
    {
        const std::string report = TestScratchPath("run" + std::to_string(run) + ".txt");
        std::filesystem::remove(report);
        std::ostringstream script;
        script << "'" ORVANE_VIEW_PATH "' '" << AppHarness::SamplePath() << "' & program=$!\n"
               << FindWindow("$program", "sample.osf - Orvane Image View");
        if (run == 0)
            script << "xdotool windowmove --sync $id " << chosenX << " " << chosenY
                   << " windowsize --sync $id " << chosenWidth << " " << chosenHeight
                   << "; sleep 0.5\n";
        script << "xwininfo -id $id > '" << report << "'; xprop -id $id _NET_FRAME_EXTENTS >> '"
               << report << "'\n"
               << "flock " << AppHarness::InputLock()
               << " xdotool windowactivate --sync $id key --clearmodifiers alt+F4\n"
               << "wait $program\n";
        Drive(script.str(), "run " + std::to_string(run), 60000);

        std::ifstream in(report);
        std::string line;
        Geometry& g = runs[run];
        while (std::getline(in, line))
        {
            std::sscanf(line.c_str(), " Absolute upper-left X: %d", &g.x);
            std::sscanf(line.c_str(), " Absolute upper-left Y: %d", &g.y);
            std::sscanf(line.c_str(), " Width: %d", &g.width);
            std::sscanf(line.c_str(), " Height: %d", &g.height);
            std::sscanf(line.c_str(), "_NET_FRAME_EXTENTS(CARDINAL) = %d, %*d, %d", &g.left,
                        &g.top);
        }
    }
    // The manager framed the window, and put the frame's corner where it was asked to.
    ASSERT_GT(runs[0].top, 0);
    EXPECT_EQ(runs[0].x - runs[0].left, chosenX);
    EXPECT_EQ(runs[0].y - runs[0].top, chosenY);
    EXPECT_EQ(runs[0].width, chosenWidth);
    EXPECT_EQ(runs[0].height, chosenHeight);
    for (int run = 1; run < 4; ++run)
    {
        EXPECT_EQ(runs[run].x, runs[0].x) << "run " << run;
        EXPECT_EQ(runs[run].y, runs[0].y) << "run " << run;
        EXPECT_EQ(runs[run].width, runs[0].width) << "run " << run;
        EXPECT_EQ(runs[run].height, runs[0].height) << "run " << run;
    }
}

#ifdef ORVANE_OSFTOOL_PATH
TEST_F(WindowManagerTest, MeasureKeyAndARealClickShowThePointOsftoolPicks)
{
    KV_VerovuriRezaroView* view = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartOnTheSample(view));
    ASSERT_EQ(view->GetContentScaleFactor(), 1.0);
    const std::string frame = FindWindow(std::to_string(getpid()), "sample.osf - Orvane Image View");
    const std::string lock = "flock " + AppHarness::InputLock() + " ";
    const wxPoint pixel(view->GetClientSize().x / 2 + 7, view->GetClientSize().y / 2 - 5);
    const wxPoint screen = view->GetScreenPosition() + pixel;

    // A click gives the view the keyboard (nothing is picked outside Measure mode), M turns
    // Measure mode on, a second click at the same place picks.
    std::ostringstream script;
    script << frame << lock << "xdotool windowactivate --sync $id mousemove --sync " << screen.x
           << " " << screen.y << " click 1 sleep 0.3 key --clearmodifiers m sleep 0.3 click 1\n";
    Drive(script.str(), "click, M, click");
    EXPECT_TRUE(mpkApp->PumpUntil([&] { return view->Measure().Picks().size() == 1; }, 3000));
    EXPECT_TRUE(view->IsMeasuring());
    const std::string status =
        mpkApp->Frame()->GetStatusBar()->GetStatusText(0).ToStdString();

    std::ostringstream command;
    const wxSize size = view->DrawingSize();
    command << ORVANE_OSFTOOL_PATH << " pick --size " << size.x << "x" << size.y << " '"
            << AppHarness::SamplePath() << "' " << pixel.x << "," << pixel.y;
    std::string answer;
    if (FILE* pipe = popen(command.str().c_str(), "r"))
    {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            answer += buffer;
        pclose(pipe);
    }
    // "point: x y z" and "polygon: N" against "Point x y z, polygon N, ...".
    double x = 0, y = 0, z = 0, sx = 0, sy = 0, sz = 0;
    unsigned int polygon = 0, shownPolygon = 1u << 31;
    ASSERT_EQ(std::sscanf(answer.c_str(), "point: %lf %lf %lf polygon: %u", &x, &y, &z, &polygon),
              4)
        << answer;
    ASSERT_EQ(std::sscanf(status.c_str(), "Point %lf %lf %lf, polygon %u", &sx, &sy, &sz,
                          &shownPolygon),
              4)
        << status;
    EXPECT_EQ(shownPolygon, polygon);
    EXPECT_NEAR(sx, x, 1e-5);
    EXPECT_NEAR(sy, y, 1e-5);
    EXPECT_NEAR(sz, z, 1e-5);
}
#endif
