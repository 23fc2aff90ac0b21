// Every command a user can reach, driven for real under Xvfb: each menu command, the Ctrl+P
// accelerator and each toolbar button, with every dialog the toolkit shows (the GTK print
// and page setup dialogs, the colour and file choosers, the about box, the preview frame,
// message boxes) opened for real and answered by another process with X events, as a
// person would. After each the program must still draw frames. Also the installed program
// itself, started on a file that does not open: its message box, then exit status 1.
#include "tests/app/AppHarness.h"

#include "app/KV_AppPictures.h"
#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"
#include "tests/support/ScratchPath.h"

#include <wx/toolbar.h>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace
{
using Actor = ShellActor;

// The keyboard focus and the pointer are the display's, shared by every test running on it:
// whoever gives a window the keyboard and types, or raises a window and clicks in it, holds
// this lock meanwhile (flock), or another test's keys would land in this test's window.
std::string InputLock()
{
    return AppHarness::InputLock();
}

// Script lines: wait (at most 15 s) for a shown window titled exactly `title` of the process
// `owner` (a shell word: a number or "$variable"), give it the keyboard, then type keys; the
// window must then go within 10 s. Exits 3 when the window never came, 4 when it stayed (it
// is then closed with Escape, so that the test goes on). Only the owner's windows: tests
// running beside this one on the same display show windows of the same titles.
std::string Answer(const std::string& title, const std::string& keys,
                   const std::string& owner = std::to_string(getpid()))
{
    const std::string find = "xdotool search --all --onlyvisible --pid " + owner + " --name '^" +
                             title + "$' 2>/dev/null | tail -1";
    return "id=''; for i in $(seq 150); do id=$(" + find +
           "); [ -n \"$id\" ] && break; sleep 0.1; done; "
           "[ -n \"$id\" ] || exit 3; "
           "flock " +
           InputLock() + " xdotool windowfocus \"$id\" sleep 0.4 key --clearmodifiers " + keys +
           "; for i in $(seq 100); do xdotool getwindowname \"$id\" >/dev/null 2>&1 && "
           "xwininfo -id \"$id\" | grep -q IsViewable || break; sleep 0.1; done; "
           "if xwininfo -id \"$id\" 2>/dev/null | grep -q IsViewable; then "
           "xdotool windowfocus \"$id\" key Escape; exit 4; fi\n";
}

// Where a toolbar button's picture is on the screen: found in the toolbar's pixels.
wxPoint FindButton(wxToolBar* bar, int command)
{
    const wxImage shot = AppHarness::Capture(bar);
    const wxImage icon = KV_ToolbarBitmap(command).ConvertToImage();
    for (int y = 0; y + icon.GetHeight() <= shot.GetHeight(); ++y)
        for (int x = 0; x + icon.GetWidth() <= shot.GetWidth(); ++x)
        {
            bool same = true;
            for (int v = 0; v < icon.GetHeight() && same; ++v)
                for (int u = 0; u < icon.GetWidth() && same; ++u)
                {
                    if ((icon.HasMask() && icon.IsTransparent(u, v)) ||
                        (icon.HasAlpha() && icon.GetAlpha(u, v) < 255))
                        continue;
                    same = std::abs(icon.GetRed(u, v) - shot.GetRed(x + u, y + v)) < 8 &&
                           std::abs(icon.GetGreen(u, v) - shot.GetGreen(x + u, y + v)) < 8 &&
                           std::abs(icon.GetBlue(u, v) - shot.GetBlue(x + u, y + v)) < 8;
                }
            if (same)
                return bar->GetScreenPosition() +
                       wxPoint(x + icon.GetWidth() / 2, y + icon.GetHeight() / 2);
        }
    return wxDefaultPosition;
}

class CommandSweep : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The toolkit starts once per process, and its print system keeps what one case
        // chose for the next: each case runs in a process of its own, as ctest runs them.
        static bool started = false;
        if (started)
            GTEST_SKIP() << "run each case in a process of its own (ctest does)";
        started = true;
    }

    void Start()
    {
        // Printing to a file goes to the working folder or the home folder: both are the
        // test's own. The desktop settings stay in memory.
        setenv("HOME", TestScratchDir().c_str(), 1);
        ASSERT_EQ(chdir(TestScratchDir().c_str()), 0);
        // What an earlier run printed would make the print system ask before replacing it.
        for (const char* name : {"output.pdf", "output.png", "sample.ps"})
            std::filesystem::remove(TestScratchPath(name));
        // A dialog nobody answers would hold the test in its modal loop: end it instead.
        alarm(120);
        setenv("GSETTINGS_BACKEND", "memory", 1);
        mpkApp = std::make_unique<AppHarness>();
        KV_Prompts::Install(nullptr);  // the toolkit's own dialogs and message boxes
        ASSERT_TRUE(mpkApp->Start({AppHarness::SamplePath()}));
        ASSERT_TRUE(mpkApp->PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
        ASSERT_TRUE(mpkApp->PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 5000));
        ASSERT_TRUE(mpkApp->WaitForFrame());
    }

    KV_VerovuriRezaroView* View() { return mpkApp->App().GetView(); }

    // Runs the actor while the program handles its events (and the dialogs it opens) until
    // the actor is done; then the program must draw a frame again.
    void Drive(Actor& actor, const std::string& what)
    {
        EXPECT_TRUE(mpkApp->PumpUntil([&] { return actor.Finished(); }, 30000)) << what;
        EXPECT_EQ(actor.ExitStatus(), 0) << what << ": the window never came";
        EXPECT_TRUE(mpkApp->WaitForFrame()) << what << ": no frame drawn after it";
    }

    // A menu command whose dialog (title) is answered with keys by another process.
    void CommandWithDialog(int command, const std::string& title, const std::string& keys)
    {
        Actor actor(Answer(title, keys));
        mpkApp->Command(command);
        Drive(actor, "command " + std::to_string(command));
    }

    std::unique_ptr<AppHarness> mpkApp;
};
}  // namespace

TEST_F(CommandSweep, MenuCommandsWithTheirRealDialogs)
{
    Start();
    CommandWithDialog(ID_FILE_PRINT_SETUP, "Page Setup", "Escape");
    CommandWithDialog(ID_FILE_PRINT, "Print", "Escape");
    CommandWithDialog(ID_EDIT_BACKGROUND_COLOUR, "Choose colour", "Escape");
    CommandWithDialog(ID_EDIT_SURFACE_COLOUR, "Choose colour", "Escape");
    CommandWithDialog(ID_FILE_OPEN, "Load", "Escape");
    CommandWithDialog(ID_FILE_EXPORT, "Export", "Escape");
    CommandWithDialog(ID_APP_ABOUT, "About Orvane Image View", "Return");
    // The preview is a frame of its own beside the main one.
    {
        Actor actor(Answer("Print Preview", "Escape"));
        mpkApp->Command(ID_FILE_PRINT_PREVIEW);
        Drive(actor, "Print Preview");
        EXPECT_TRUE(mpkApp->PumpUntil([] { return wxTopLevelWindows.size() == 1; }, 5000));
    }
    // The recent-file list holds the sample: opening it again asks before replacing; No.
    CommandWithDialog(ID_FILE_MRU_FILE1, "Orvane Image View", "Escape");
    EXPECT_NE(mpkApp->App().GetDocument()->mpkSurfaceGeometry, nullptr);
    // Save Selection As asks only once something is selected.
    mpkApp->Command(ID_EDIT_SELECT_ALL);
    CommandWithDialog(ID_FILE_SAVE_SELECTION, "Save Selection As", "Escape");

    const int plain[] = {ID_EDIT_RESET_POSITION,    ID_EDIT_ROTATE,           ID_EDIT_ROTATE,
                         ID_EDIT_WIREFRAME_DISPLAY, ID_EDIT_SMOOTH_SHADING,   ID_EDIT_TOGGLE_TEXTURE,
                         ID_EDIT_TOGGLE_TEXTURE,    ID_VIEW_MEASURE,          ID_VIEW_ORTHOGRAPHIC,
                         ID_EDIT_INVERT_SELECTION,  ID_EDIT_CLEAR_SELECTION,  ID_VIEW_ORTHOGRAPHIC,
                         ID_VIEW_MEASURE,           ID_FILE_PRINT_DIRECT,     ID_FILE_CLOSE};
    for (int command : plain)
    {
        mpkApp->Command(command);
        EXPECT_TRUE(mpkApp->WaitForFrame()) << command;
    }
    EXPECT_TRUE(std::filesystem::exists(TestScratchPath("sample.ps")));
    EXPECT_EQ(mpkApp->App().GetDocument()->mpkSurfaceGeometry, nullptr);
    mpkApp->Command(ID_APP_EXIT);
    EXPECT_TRUE(mpkApp->PumpUntil([] { return wxTopLevelWindows.empty(); }, 5000));
}

TEST_F(CommandSweep, PrintDialogPrintsToAFile)
{
    Start();
    // Ctrl+P on the main window; the dialog's Print button (its default) prints.
    const std::string frame = "sample.osf - Orvane Image View";
    Actor actor("xdotool search --all --onlyvisible --pid " + std::to_string(getpid()) +
                " --name '^" + frame + "$' | tail -1 | xargs -I@ flock " + InputLock() +
                " xdotool windowfocus @ sleep 0.3 key --clearmodifiers ctrl+p\n" +
                Answer("Print", "Down Return"));
    Drive(actor, "Ctrl+P");
    const std::string pdf = TestScratchPath("output.pdf");
    ASSERT_TRUE(mpkApp->PumpUntil([&] { return std::filesystem::exists(pdf); }, 10000));
    mpkApp->Pump(500);  // the file is complete once the print job has ended

    // The page read back at 60 dpi: the view's picture from the printable area's top-left
    // corner across its width (the window is wider than the area's shape).
    const std::string png = TestScratchPath("output.png");
    ASSERT_EQ(std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r60 -sOutputFile='" +
                           png + "' '" + pdf + "'")
                              .c_str()),
              0);
    wxImage page;
    ASSERT_TRUE(page.LoadFile(wxString(png), wxBITMAP_TYPE_PNG));
    const double margin = KV_VerovuriRezaroApp::kDefaultMarginMM * 60 / 25.4;
    const int y = static_cast<int>(margin) + 4;
    auto dark = [&](int x, int y)
    { return page.GetRed(x, y) < 16 && page.GetGreen(x, y) < 16 && page.GetBlue(x, y) < 16; };
    int first = -1, last = -1;
    for (int x = 0; x < page.GetWidth(); ++x)
        if (dark(x, y))
        {
            first = first < 0 ? x : first;
            last = x;
        }
    EXPECT_NEAR(first, margin, 2);
    EXPECT_NEAR(last + 1, page.GetWidth() - margin, 2);
    EXPECT_EQ(page.GetRed(first - 4, y), 255);
}

TEST_F(CommandSweep, ToolbarButtonsClicked)
{
    Start();
    wxToolBar* bar = mpkApp->Frame()->GetToolBar();
    // The frame's X window, raised before each click: the frames of tests running beside
    // this one may lie over it.
    std::string frame;
    {
        const std::string find = "xdotool search --all --onlyvisible --pid " +
                                 std::to_string(getpid()) +
                                 " --name '^sample.osf - Orvane Image View$' | tail -1";
        FILE* pipe = popen(find.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[64] = {};
        if (fgets(line, sizeof line, pipe) != nullptr)
            frame = std::to_string(std::atol(line));
        pclose(pipe);
        ASSERT_NE(frame, "0");
        ASSERT_FALSE(frame.empty());
    }
    const int lock = open(InputLock().c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(lock, 0);
    const struct
    {
        int command;
        const char* dialog;  // null: none
        const char* keys;
    } buttons[] = {
        {ID_EDIT_ROTATE, nullptr, nullptr},
        {ID_EDIT_ROTATE, nullptr, nullptr},
        {ID_EDIT_RESET_POSITION, nullptr, nullptr},
        {ID_EDIT_WIREFRAME_DISPLAY, nullptr, nullptr},
        {ID_EDIT_SMOOTH_SHADING, nullptr, nullptr},
        {ID_EDIT_TOGGLE_TEXTURE, nullptr, nullptr},
        {ID_EDIT_TOGGLE_TEXTURE, nullptr, nullptr},
        {ID_EDIT_SURFACE_COLOUR, "Choose colour", "Escape"},
        {ID_FILE_PRINT, "Print", "Escape"},
        {ID_APP_ABOUT, "About Orvane Image View", "Return"},
        {ID_FILE_OPEN, "Load", "Escape"},
        {ID_FILE_CLOSE, nullptr, nullptr},
    };
    for (const auto& b : buttons)
    {
        // The toolbar's picture is this test's own: its frame on top while it is taken.
        ASSERT_EQ(flock(lock, LOCK_EX), 0);
        mpkApp->Frame()->Raise();
        mpkApp->Pump(100);
        const wxPoint at = FindButton(bar, b.command);
        flock(lock, LOCK_UN);
        ASSERT_NE(at, wxDefaultPosition) << b.command;
        const bool rotating = View()->IsRotating();
        std::string script = "flock " + InputLock() + " xdotool windowraise " + frame +
                             " mousemove " + std::to_string(at.x) + " " + std::to_string(at.y) +
                             " click 1\n";
        if (b.dialog != nullptr)
            script += Answer(b.dialog, b.keys);
        Actor actor(script);
        Drive(actor, "button " + std::to_string(b.command));
        if (b.command == ID_EDIT_ROTATE)
        {
            EXPECT_NE(View()->IsRotating(), rotating);
        }
        // The pointer leaves the toolbar, so that a button's tooltip does not cover another.
        ASSERT_EQ(std::system("xdotool mousemove 0 0"), 0);
    }
    close(lock);
    EXPECT_EQ(mpkApp->App().GetDocument()->mpkSurfaceGeometry, nullptr);
}

TEST(ProgramStart, FileThatDoesNotOpenShowsItsMessageThenEndsWithStatusOne)
{
    // The X server starts afresh when its last client leaves, and a program connecting
    // meanwhile is turned away ("Unable to initialize GTK+"): when the first program ends
    // with no other client on the display, the second could not start. A connection of the
    // test's own keeps the server as it is until both have run.
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    setenv("XDG_CONFIG_HOME", TestScratchPath("config").c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    const std::string text = TestScratchPath("notes.osf");
    std::ofstream(text) << "a note, not a surface\n";
    for (const std::string& file : {TestScratchPath("missing.osf"), text})
    {
        const std::string command = "'" ORVANE_VIEW_PATH "' '" + file + "' & program=$!\n" +
                                    Answer("Orvane Image View", "Return", "$program") +
                                    "wait $program";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << file;
        EXPECT_EQ(WEXITSTATUS(status), 1) << file;
    }
    XCloseDisplay(display);
}
