// The application shell driven for real: start-up, the main frame's menu, toolbar and status
// bar, the splash window, the about box, settings and the recent-file list, the report sink.
#include "tests/app/AppHarness.h"

#include "app/AboutDlg.h"
#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/MainFrm.h"
#include "foundation/KV_Report.h"

#include <wx/menu.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>

#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace
{
struct MenuEntry
{
    int command;  // 0: separator
    const char* label;
    const char* help;
};

void ExpectMenu(wxMenu* menu, const std::vector<MenuEntry>& expected)
{
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->GetMenuItemCount(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        const wxMenuItem* item = menu->FindItemByPosition(i);
        SCOPED_TRACE(i);
        if (expected[i].command == 0)
        {
            EXPECT_TRUE(item->IsSeparator());
            continue;
        }
        EXPECT_EQ(item->GetId(), KV_MenuId(expected[i].command));
        if (expected[i].label != nullptr)
        {
            EXPECT_EQ(item->GetItemLabel(), wxString(expected[i].label));
        }
        if (expected[i].help != nullptr)
        {
            EXPECT_EQ(item->GetHelp(), wxString(expected[i].help));
        }
    }
}

std::vector<wxString> StaticTexts(wxWindow* window)
{
    std::vector<wxString> texts;
    for (wxWindow* child : window->GetChildren())
    {
        if (auto* text = dynamic_cast<wxStaticText*>(child))
            texts.push_back(text->GetLabel());
        if (auto* box = dynamic_cast<wxStaticBox*>(child))
            texts.push_back(box->GetLabel());
        for (const wxString& inner : StaticTexts(child)) texts.push_back(inner);
    }
    return texts;
}
}  // namespace

TEST(AppShell, EnvironmentAsksForX11UnlessTheUserChose)
{
    const char* before = std::getenv("GDK_BACKEND");
    const std::string saved = before ? before : "";
    unsetenv("GDK_BACKEND");
    KV_PrepareToolkitEnvironment();
    EXPECT_STREQ(std::getenv("GDK_BACKEND"), "x11");
    setenv("GDK_BACKEND", "wayland", 1);
    KV_PrepareToolkitEnvironment();
    EXPECT_STREQ(std::getenv("GDK_BACKEND"), "wayland");
    if (before)
        setenv("GDK_BACKEND", saved.c_str(), 1);
    else
        unsetenv("GDK_BACKEND");
}

TEST(AppShell, StartsEmptyWithTheUntitledTitle)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    ASSERT_NE(app.Frame(), nullptr);
    EXPECT_TRUE(app.Frame()->IsShown());
    EXPECT_EQ(app.Frame()->GetTitle(), wxString("Untitled - Orvane Image View"));
    EXPECT_EQ(app.App().GetDocument()->mpkSurfaceGeometry, nullptr);
    EXPECT_TRUE(app.Prompts().mkMessages.empty());
}

TEST(AppShell, MenuTextsNumbersAndPrompts)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    wxMenuBar* bar = app.Frame()->GetMenuBar();
    // The View menu and the items marked "added" come beside the original menus.
    ASSERT_EQ(bar->GetMenuCount(), 4u);
    EXPECT_EQ(bar->GetMenuLabel(0), wxString("&File"));
    EXPECT_EQ(bar->GetMenuLabel(1), wxString("&Edit"));
    EXPECT_EQ(bar->GetMenuLabel(2), wxString("&View"));
    EXPECT_EQ(bar->GetMenuLabel(3), wxString("&Help"));

    ExpectMenu(bar->GetMenu(0),
               {{ID_FILE_OPEN, "&Open...\tCtrl+O", "Open a 3D surface file"},
                {ID_FILE_CLOSE, "&Close\tCtrl+C", "Close the 3D surface file"},
                {0, nullptr, nullptr},
                {ID_FILE_EXPORT, "&Export", "Export 3D surface as VRML"},
                {ID_FILE_SAVE_AS_FORMAT, "Save &As...",
                 "Save the 3D surface as glTF, OBJ, PLY, STL or surface file"},
                {ID_FILE_SAVE_SELECTION, "Save Se&lection As...",
                 "Save only the selected polygons as glTF, OBJ, PLY, STL or surface file"},
                {ID_FILE_SAVE_IMAGE, "Save &Image...",
                 "Save the view as a PNG or JPEG picture"},  // added
                {0, nullptr, nullptr},
                {ID_FILE_PRINT, "&Print...\tCtrl+P", "Print the contents of the main window"},
                {ID_FILE_PRINT_SETUP, "P&rint Setup...", "Change the printer and printing options"},
                {ID_FILE_PRINT_PREVIEW, "Print Pre&view", "Display full pages"},
                {0, nullptr, nullptr},
                {ID_FILE_MRU_FILE1, "Recent File", nullptr},
                {0, nullptr, nullptr},
                {ID_APP_EXIT, "E&xit", "Quit the application"}});
    EXPECT_FALSE(bar->GetMenu(0)->FindItem(KV_MenuId(ID_FILE_MRU_FILE1))->IsEnabled());

    ExpectMenu(
        bar->GetMenu(1),
        {{ID_EDIT_RESET_POSITION, "&Reset Position", "Reset viewing position"},
         {ID_EDIT_ROTATE, "R&otate",
          "Continuously rotate the surface until mouse button pressed in 3D view"},
         {0, nullptr, nullptr},
         {ID_EDIT_SMOOTH_SHADING, "&Smooth Shading", "View the surface in smooth mode"},
         {ID_EDIT_WIREFRAME_DISPLAY, "&Wireframe Display", "View the surface in wireframe mode"},
         {0, nullptr, nullptr},
         {ID_EDIT_TOGGLE_TEXTURE, "&Toggle Texture", "Toggle display of surface texture"},
         {0, nullptr, nullptr},
         {ID_EDIT_BACKGROUND_COLOUR, "&Background Colour", "Edit background color"},
         {ID_EDIT_SURFACE_COLOUR, "Surface &Colour", "Edit surface color"},
         {0, nullptr, nullptr},  // added
         {ID_EDIT_COPY_VIEW, "Copy &View",
          "Copy the view to the clipboard as a picture"},  // added
         {0, nullptr, nullptr},
         {ID_EDIT_SELECT_ALL, "Select A&ll", "Select every polygon of the surface"},
         {ID_EDIT_INVERT_SELECTION, "&Invert Selection",
          "Select the polygons not selected and deselect the others"},
         {ID_EDIT_CLEAR_SELECTION, "Cl&ear Selection", "Deselect every polygon"}});

    ExpectMenu(bar->GetMenu(2),
               {{ID_VIEW_PROPERTIES, "Surface &Properties...\tAlt+Enter",
                 "Show the counts, extents, holes and consistency of the surface"},
                {ID_VIEW_SHOW_HOLES, "Show &Holes", "Outline every boundary loop of the surface"},
                {ID_VIEW_MEASURE, "&Measure\tM",
                 "Click the surface to show a point; a second click measures the distance "
                 "(Esc clears); Shift+drag selects polygons, Ctrl+Shift+drag deselects"},
                {ID_VIEW_ORTHOGRAPHIC, "Orthogr&aphic",
                 "Draw the surface in parallel projection, without perspective"},
                {0, nullptr, nullptr},
                {ID_VIEW_FRONT, "&Front\t1", "Look at the surface from the front"},
                {ID_VIEW_BACK, "&Back\t2", "Look at the surface from the back"},
                {ID_VIEW_LEFT, "&Left\t3", "Look at the surface from the left"},
                {ID_VIEW_RIGHT, "&Right\t4", "Look at the surface from the right"},
                {ID_VIEW_TOP, "&Top\t5", "Look at the surface from the top"},
                {ID_VIEW_BOTTOM, "B&ottom\t6", "Look at the surface from the bottom"},
                {ID_VIEW_FIT, "F&it\t0", "Frame the whole surface"}});

    ExpectMenu(bar->GetMenu(3), {{ID_APP_ABOUT, "&About Orvane Image View...",
                                  "Display program information, version number and copyright"}});

    // The accelerators the menu texts declare.
    const wxMenuItem* open = bar->FindItem(KV_MenuId(ID_FILE_OPEN));
    ASSERT_NE(open->GetAccel(), nullptr);
    EXPECT_EQ(open->GetAccel()->GetKeyCode(), 'O');
    EXPECT_EQ(open->GetAccel()->GetFlags(), wxACCEL_CTRL);
    EXPECT_EQ(bar->FindItem(KV_MenuId(ID_FILE_CLOSE))->GetAccel()->GetKeyCode(), 'C');
    EXPECT_EQ(bar->FindItem(KV_MenuId(ID_FILE_PRINT))->GetAccel()->GetKeyCode(), 'P');
}

TEST(AppShell, ToolbarOrderTooltipsAndImages)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    wxToolBar* bar = app.Frame()->GetToolBar();
    ASSERT_NE(bar, nullptr);
    struct Tool
    {
        int command;
        const char* tooltip;
    };
    const Tool expected[] = {{ID_FILE_OPEN, "Open"},
                             {ID_FILE_CLOSE, "Close"},
                             {0, nullptr},
                             {ID_EDIT_ROTATE, "Rotate"},
                             {ID_EDIT_RESET_POSITION, "Reset View"},
                             {ID_EDIT_SMOOTH_SHADING, "Smooth"},
                             {ID_EDIT_WIREFRAME_DISPLAY, "Wireframe"},
                             {ID_EDIT_TOGGLE_TEXTURE, "Toggle Texture"},
                             {ID_EDIT_SURFACE_COLOUR, "Surface color"},
                             {ID_VIEW_MEASURE, "Measure"},
                             {0, nullptr},
                             {ID_FILE_PRINT, "Print"},
                             {0, nullptr},
                             {ID_APP_ABOUT, "About"}};
    ASSERT_EQ(bar->GetToolsCount(), sizeof(expected) / sizeof(expected[0]));
    for (size_t i = 0; i < bar->GetToolsCount(); ++i)
    {
        SCOPED_TRACE(i);
        const wxToolBarToolBase* tool = bar->GetToolByPos(static_cast<int>(i));
        if (expected[i].command == 0)
        {
            EXPECT_TRUE(tool->IsSeparator());
            continue;
        }
        EXPECT_EQ(tool->GetId(), KV_MenuId(expected[i].command));
        EXPECT_EQ(tool->GetShortHelp(), wxString(expected[i].tooltip));
        const wxString prompt = wxString(KV_CommandPrompt(expected[i].command)).BeforeFirst('\n');
        EXPECT_EQ(tool->GetLongHelp(), prompt);
        EXPECT_EQ(tool->GetNormalBitmap().GetWidth(), 16);
        EXPECT_EQ(tool->GetNormalBitmap().GetHeight(), 16);
    }
}

TEST(AppShell, StatusBarHasTheMessagePaneAndThreeIndicators)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    wxStatusBar* bar = app.Frame()->GetStatusBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->GetFieldsCount(), 4);
    EXPECT_EQ(bar->GetStatusText(0), wxString("Ready"));
    // An indicator shows its text only while its key is on; Xvfb starts with all off.
    const wxKeyCode keys[] = {WXK_CAPITAL, WXK_NUMLOCK, WXK_SCROLL};
    const char* texts[] = {"CAP", "NUM", "SCRL"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bar->GetStatusText(1 + i),
                  wxGetKeyState(keys[i]) ? wxString(texts[i]) : wxString());
}

TEST(AppShell, CapsLockShowsInItsIndicator)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    wxStatusBar* bar = app.Frame()->GetStatusBar();
    Display* display = static_cast<Display*>(wxGetDisplay());
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    XSync(display, False);
    EXPECT_TRUE(app.PumpUntil([bar] { return bar->GetStatusText(1) == "CAP"; }, 3000));
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
    XSync(display, False);
    EXPECT_TRUE(app.PumpUntil([bar] { return bar->GetStatusText(1).empty(); }, 3000));
}

TEST(AppShell, SplashShowsOverTheFrameAndIgnoresClicksUntilItsTime)
{
    AppHarness app;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(app.Start());
    KV_SplashWnd* splash = KV_SplashWnd::Current();
    ASSERT_NE(splash, nullptr);
    EXPECT_EQ(splash->GetWindowStyleFlag() & wxCAPTION, 0);
    EXPECT_EQ(splash->GetSize(), wxSize(420, 260));

    // A click and a key press on the splash do not close it.
    wxMouseEvent click(wxEVT_LEFT_DOWN);
    click.SetEventObject(splash);
    splash->GetEventHandler()->ProcessEvent(click);
    wxKeyEvent key(wxEVT_KEY_DOWN);
    key.SetEventObject(splash);
    splash->GetEventHandler()->ProcessEvent(key);
    app.Pump(20);
    if (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(700))
    {
        EXPECT_EQ(KV_SplashWnd::Current(), splash);
    }

    ASSERT_TRUE(app.PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 10000));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(750));
}

// Moves the top-level window of that title from a connection of its own to the X server,
// as a window manager would; false when there is no such window.
bool MoveTopLevelWindow(const std::string& title, const wxPoint& to)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    bool moved = false;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned int i = 0; i < count && !moved; ++i)
    {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) && name != nullptr)
        {
            if (title == name)
            {
                XMoveWindow(display, children[i], to.x, to.y);
                moved = true;
            }
            XFree(name);
        }
    }
    if (children != nullptr)
        XFree(children);
    XSync(display, False);
    XCloseDisplay(display);
    return moved;
}

TEST(AppShell, SplashFollowsTheFrameToItsPlace)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    KV_SplashWnd* splash = KV_SplashWnd::Current();
    ASSERT_NE(splash, nullptr);
    // Another client moves the shown frame, as a window manager places it: the splash goes
    // along and stays centred over it.
    const wxPoint before = app.Frame()->GetScreenPosition();
    ASSERT_TRUE(MoveTopLevelWindow("Untitled - Orvane Image View", before + wxPoint(150, 90)));
    ASSERT_TRUE(app.PumpUntil([&] { return app.Frame()->GetScreenPosition() != before; }, 2000));
    app.Pump(20);
    // The splash lives 750 ms from its creation; a machine too busy to get here in that
    // time cannot tell.
    if (KV_SplashWnd::Current() != splash)
        GTEST_SKIP() << "the splash window was gone before the frame moved";
    const wxRect owner = app.Frame()->GetScreenRect();
    const wxRect shown = splash->GetScreenRect();
    EXPECT_NE(owner.GetPosition(), before);
    EXPECT_NEAR(shown.x + shown.width / 2, owner.x + owner.width / 2, 2);
    EXPECT_NEAR(shown.y + shown.height / 2, owner.y + owner.height / 2, 2);
}

TEST(AppShell, AboutBoxTexts)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    CAboutDlg dialog(app.Frame());
    EXPECT_EQ(dialog.GetTitle(), wxString("About Orvane Image View"));
    const std::vector<wxString> texts = StaticTexts(&dialog);
    const char* expected[] = {
        "Orvane Image View, Version 1.0", "Viewer Controls:", "Left Mouse Button:          Rotate",
        "Right Mouse Button:       Translate", "Both Mouse Buttons:       Zoom"};
    for (const char* text : expected)
        EXPECT_NE(std::find(texts.begin(), texts.end(), wxString(text)), texts.end()) << text;
    EXPECT_NE(dialog.FindWindow(wxID_OK), nullptr);
}

TEST(AppShell, RecentFilesPersistAcrossRunsAndKeepFour)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i)
    {
        paths.push_back(AppHarness::ScratchPath("recent" + std::to_string(i) + ".osf"));
        std::ofstream(paths.back()) << "x";
        app.App().AddToRecentFileList(wxString::FromUTF8(paths.back().c_str()));
    }
    app.Stop();

    ASSERT_TRUE(app.Start());
    const wxFileHistory& recent = app.App().RecentFiles();
    ASSERT_EQ(recent.GetCount(), 4u);
    // Most recent first; the oldest fell off.
    EXPECT_EQ(recent.GetHistoryFile(0), wxString(paths[4]));
    EXPECT_EQ(recent.GetHistoryFile(3), wxString(paths[1]));
    wxMenu* file = app.Frame()->GetMenuBar()->GetMenu(0);
    const wxMenuItem* first = file->FindItem(KV_MenuId(ID_FILE_MRU_FILE1));
    ASSERT_NE(first, nullptr);
    // The path, shortened in the middle when long, numbered.
    EXPECT_EQ(first->GetItemLabel(), "&1 " + KV_ShortenPath(wxString(paths[4])));
    EXPECT_TRUE(first->GetItemLabel().EndsWith("/recent4.osf"));
    EXPECT_NE(file->FindItem(KV_MenuId(ID_FILE_MRU_FILE1) + 3), nullptr);
    // Exit still comes last, after a separator.
    EXPECT_EQ(file->FindItemByPosition(file->GetMenuItemCount() - 1)->GetId(),
              KV_MenuId(ID_APP_EXIT));
}

TEST(AppShell, RecentFileLabelsShowThePathShortenedInTheMiddle)
{
    const struct
    {
        const char* path;
        size_t max;
        const char* shown;
    } cases[] = {
        {"/data/scan.osf", 60, "/data/scan.osf"},
        {"/home/me/scans/left/scan.osf", 28, "/home/me/scans/left/scan.osf"},
        {"/home/me/scans/left/scan.osf", 27, "/home/me/scans/.../scan.osf"},
        {"/home/me/scans/right/scan.osf", 20, "/home/.../scan.osf"},
        {"/a/very-long-folder-name/scan.osf", 20, "/a/.../scan.osf"},
        {"/folder/an-extremely-long-file-name.osf", 20, ".../an-extremely-long-file-name.osf"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KV_ShortenPath(c.path, c.max), wxString(c.shown)) << c.path;
    // Two files of one name in different folders stay apart; ampersands are no mnemonics.
    EXPECT_NE(KV_RecentFileLabel(0, "/scans/a/scan.osf"),
              KV_RecentFileLabel(0, "/scans/b/scan.osf"));
    EXPECT_EQ(KV_RecentFileLabel(2, "/R&D/scan.osf"), wxString("&3 /R&&D/scan.osf"));
}

TEST(AppShell, RecentFileThatVanishedIsReportedAndDropped)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    const std::string path = AppHarness::ScratchPath("vanished.osf");
    std::ofstream(path) << "x";
    app.App().AddToRecentFileList(wxString::FromUTF8(path.c_str()));
    std::remove(path.c_str());
    app.Command(ID_FILE_MRU_FILE1);
    ASSERT_EQ(app.Prompts().mkMessages.size(), 1u);
    EXPECT_EQ(app.Prompts().mkMessages[0].text, "Cannot open the file " + path + ".");
    EXPECT_EQ(app.Prompts().mkMessages[0].caption, "Orvane Image View");
    EXPECT_EQ(app.App().RecentFiles().GetCount(), 0u);
}

TEST(AppShell, MissingCommandLineFileEndsStartUp)
{
    AppHarness app;
    const std::string path = AppHarness::ScratchPath("no-such-file.osf");
    EXPECT_FALSE(app.Start({path}));
    ASSERT_EQ(app.Prompts().mkMessages.size(), 1u);
    EXPECT_EQ(app.Prompts().mkMessages[0].text, "Cannot open the file " + path + ".");
}

// The program's own entry (toolkit start-up, OnInit, the event loop, clean-up) in a process
// of its own, with scripted answers that print each message on the error stream.
[[noreturn]] void RunProgram(const std::string& file, const std::string& configHome)
{
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    static ScriptedPrompts prompts;
    KV_Prompts::Install(&prompts);
    static char name[] = "orvane-view";
    static std::string argument;
    argument = file;
    char* argv[] = {name, &argument[0], nullptr};
    std::exit(KV_RunApplication(2, argv));
}

std::string RegexQuoted(const std::string& text)
{
    std::string quoted;
    for (char c : text)
    {
        if (std::strchr(".[]{}()\\*+?^$|", c) != nullptr)
            quoted += '\\';
        quoted += c;
    }
    return quoted;
}

TEST(AppStartFailure, MissingEmptyOrTextFileEndsWithStatusOneAndKeepsTheSettings)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Settings of an earlier run, with one recent file.
    const std::string config = AppHarness::ScratchPath("config");
    const std::string earlier = AppHarness::ScratchPath("earlier.osf");
    std::ofstream(earlier) << "x";
    const std::string settings = config + "/Orvane Image View/Orvane Image View.conf";
    ASSERT_EQ(std::system(("mkdir -p '" + config + "/Orvane Image View'").c_str()), 0);
    std::ofstream(settings) << "[Recent File List]\nfile1=" << earlier << "\n";

    const std::string missing = AppHarness::ScratchPath("missing.osf");
    const std::string empty = AppHarness::ScratchPath("empty.osf");
    const std::string text = AppHarness::ScratchPath("notes.osf");
    std::ofstream(empty).flush();
    std::ofstream(text) << "a note, not a surface\n";
    const std::pair<std::string, std::string> cases[] = {
        {missing, "Cannot open the file " + missing + "."},
        {empty, "Failed to load surface file: " + empty + "\nthe file is empty"},
        {text, "Failed to load surface file: " + text + "\nnot a surface file"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EXIT(RunProgram(c.first, config), ::testing::ExitedWithCode(1),
                    "message box: " + RegexQuoted(c.second) + " \\| Orvane Image View")
            << c.first;
        // The settings were saved on the way out, the recent-file list intact.
        std::ifstream in(settings);
        const std::string saved((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        EXPECT_NE(saved.find("file1=" + earlier), std::string::npos) << saved;
    }
}

TEST(AppShell, ReportsBecomeMessageBoxesWithTextInTheBody)
{
    AppHarness app;
    ASSERT_TRUE(app.Start());
    ReportMessage("KV_List Block Re-Size error!", "Block size zero, re-setting to 16");
    ASSERT_EQ(app.Prompts().mkMessages.size(), 1u);
    EXPECT_EQ(app.Prompts().mkMessages[0].text, "KV_List Block Re-Size error!");
    EXPECT_EQ(app.Prompts().mkMessages[0].caption, "Block size zero, re-setting to 16");
}
