#include "tests/app/AppHarness.h"

#include "app/KV_VerovuriRezaroDoc.h"

#include "app/KV_Resource.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"
#include "tests/support/ScratchPath.h"

#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/log.h>

#include <gtest/gtest.h>
#include <wx/utils.h>

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <cstdlib>
#include <thread>

namespace
{
pid_t gnServerPid = 0;
bool gbServerWithoutGLX = false;
bool gbWindowManagerWanted = false;
pid_t gnWindowManagerPid = 0;

// Test programs of one executable may run side by side: each process keeps its settings in
// a folder of its own, removed at exit when every test passed (kept for a look otherwise).
// Files a test makes go to its test case's scratch folder (ScratchPath).
std::string ProcessFolder()
{
    static const std::string folder = []
    {
        const std::string path = std::string(ORVANE_TEST_TMP) + "/run-" + std::to_string(getpid());
        std::filesystem::create_directories(path);
        std::atexit(
            []
            {
                if (::testing::UnitTest::GetInstance()->Passed())
                {
                    std::error_code ignored;
                    std::filesystem::remove_all(
                        std::string(ORVANE_TEST_TMP) + "/run-" + std::to_string(getpid()), ignored);
                }
            });
        return path;
    }();
    return folder;
}

void StopPrivateServer()
{
    if (gnServerPid > 0)
    {
        kill(gnServerPid, SIGTERM);
        waitpid(gnServerPid, nullptr, 0);
        gnServerPid = 0;
    }
}

// Pictures are read back from the screen, so test programs running side by side must not
// cover each other's windows: each gets an X server of its own when Xvfb is there (the
// display of the run otherwise).
void StartPrivateServer()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    const pid_t pid = fork();
    if (pid == 0)
    {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
        {
            dup2(null, 1);
            dup2(null, 2);
        }
        if (gbServerWithoutGLX)
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", "-extension", "GLX", static_cast<char*>(nullptr));
        else
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0)
    {
        close(fds[0]);
        return;
    }
    // The server writes its display number once it accepts connections.
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty())
    {
        waitpid(pid, nullptr, 0);
        return;
    }
    gnServerPid = pid;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    std::atexit(StopPrivateServer);
}

void StopWindowManager()
{
    if (gnWindowManagerPid > 0)
    {
        kill(gnWindowManagerPid, SIGTERM);
        waitpid(gnWindowManagerPid, nullptr, 0);
        gnWindowManagerPid = 0;
    }
}

// Whether a window manager has announced itself on the display's root window.
bool WindowManagerAnnounced(Display* display)
{
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                          XA_WINDOW, &type, &format, &count, &after,
                                          &data) == Success &&
                       type == XA_WINDOW && count == 1;
    if (data != nullptr)
        XFree(data);
    return found;
}

// openbox on the process's own server only: on the display of the run it would take over the
// windows of every other test.
void StartWindowManager()
{
    if (gnServerPid <= 0)
        return;
    const pid_t pid = fork();
    if (pid == 0)
    {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
        {
            dup2(null, 1);
            dup2(null, 2);
        }
        execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0)
        return;
    gnWindowManagerPid = pid;
    std::atexit(StopWindowManager);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
    {
        StopWindowManager();
        return;
    }
    bool announced = false;
    for (int i = 0; i < 200 && !announced; ++i)
    {
        announced = WindowManagerAnnounced(display);
        if (!announced)
        {
            if (waitpid(pid, nullptr, WNOHANG) == pid)
            {
                gnWindowManagerPid = 0;  // it ended (not installed, or refused)
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    XCloseDisplay(display);
    if (!announced)
        StopWindowManager();
}

bool StartToolkit()
{
    static bool started = false;
    if (started)
        return true;
    StartPrivateServer();
    if (gbWindowManagerWanted)
        StartWindowManager();
    KV_PrepareToolkitEnvironment();
    setenv("XDG_CONFIG_HOME", (ProcessFolder() + "/config").c_str(), 1);
    wxApp::SetInstance(new KV_VerovuriRezaroApp);
    static int argc = 1;
    static char name[] = "orvane-view";
    static char* argv[] = {name, nullptr};
    started = wxEntryStart(argc, argv);
    if (started)
    {
        wxTheApp->SetExitOnFrameDelete(false);
        // The toolkit's own error messages would open modal boxes that nobody answers.
        delete wxLog::SetActiveTarget(new wxLogStderr);
    }
    return started;
}

std::string Utf8(const wxString& text)
{
    return std::string(text.utf8_str());
}
}  // namespace

// ---- ScriptedPrompts

void AppHarness::UseServerWithoutOpenGL()
{
    gbServerWithoutGLX = true;
}

void AppHarness::UseWindowManager()
{
    gbWindowManagerWanted = true;
}

bool AppHarness::HasWindowManager()
{
    return gnWindowManagerPid > 0;
}

std::string AppHarness::InputLock()
{
    const char* display = std::getenv("DISPLAY");
    std::string name = "/tmp/orvane-tests-input";
    for (const char* c = display != nullptr ? display : ""; *c != '\0'; ++c)
        name += std::isdigit(static_cast<unsigned char>(*c)) ? *c : '-';
    return name;
}

// ---- ShellActor

ShellActor::ShellActor(const std::string& script)
{
    mnPid = fork();
    if (mnPid == 0)
    {
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

ShellActor::~ShellActor()
{
    if (mnPid > 0 && mnStatus < 0)
    {
        kill(mnPid, SIGKILL);
        waitpid(mnPid, nullptr, 0);
    }
}

bool ShellActor::Finished()
{
    int status = 0;
    if (mnStatus < 0 && mnPid > 0 && waitpid(mnPid, &status, WNOHANG) == mnPid)
        mnStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return mnStatus >= 0;
}

void ScriptedPrompts::Message(const wxString& text, const wxString& caption)
{
    // Also on the error stream, where a test of a program that ends can see it.
    std::fprintf(stderr, "message box: %s | %s\n", Utf8(text).c_str(), Utf8(caption).c_str());
    mkMessages.push_back({Utf8(text), Utf8(caption)});
    if (mnMessageMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(mnMessageMs));
}

bool ScriptedPrompts::AskYesNo(const wxString& text, const wxString& caption)
{
    mkQuestions.push_back({Utf8(text), Utf8(caption)});
    if (mkAnswers.empty())
        return false;
    const bool answer = mkAnswers.front();
    mkAnswers.pop_front();
    return answer;
}

bool ScriptedPrompts::ChooseColour(wxWindow*, const wxColour& initial, wxColour& chosen)
{
    mkInitialColours.push_back(initial);
    if (mkColours.empty())
        return false;
    chosen = mkColours.front();
    mkColours.pop_front();
    return true;
}

wxString ScriptedPrompts::ChooseOpenPath(wxWindow*, const wxString& title, const wxString& wildcard)
{
    mkDialogTitles.push_back(title);
    mkWildcards.push_back(wildcard);
    if (mkOpenPaths.empty())
        return wxEmptyString;
    const wxString path = mkOpenPaths.front();
    mkOpenPaths.pop_front();
    return path;
}

wxString ScriptedPrompts::ChooseSavePath(wxWindow*, const wxString& title,
                                         const wxString& defaultPath, const wxString&,
                                         const wxString& wildcard)
{
    mkDialogTitles.push_back(title);
    mkWildcards.push_back(wildcard);
    mkSaveDefaults.push_back(defaultPath);
    if (mkSavePaths.empty())
        return wxEmptyString;
    const wxString path = mkSavePaths.front();
    mkSavePaths.pop_front();
    return path;
}

// ---- AppHarness

AppHarness::AppHarness()
{
    // Every test starts from no settings at all.
    std::error_code ignored;
    std::filesystem::remove_all(ProcessFolder() + "/config", ignored);
    StartToolkit();
    mpkPreviousPrompts = KV_Prompts::Install(&mkPrompts);
    KV_InstallReportMessageBoxes();
}

AppHarness::~AppHarness()
{
    Stop();
    KV_Prompts::Install(mpkPreviousPrompts);
}

KV_VerovuriRezaroApp& AppHarness::App()
{
    return static_cast<KV_VerovuriRezaroApp&>(*wxTheApp);
}

CMainFrame* AppHarness::Frame()
{
    return App().GetMainFrame();
}

bool AppHarness::Start(const std::vector<std::string>& arguments)
{
    wxArrayString list;
    for (const std::string& argument : arguments) list.Add(wxString::FromUTF8(argument.c_str()));
    mbRunning = true;
    const bool result = App().InitInstance(list);
    Pump(50);
    return result;
}

void AppHarness::Stop()
{
    if (!mbRunning)
        return;
    mbRunning = false;
    for (wxWindow* window : wxTopLevelWindows) window->Destroy();
    PumpUntil([] { return wxTopLevelWindows.empty(); }, 5000);
    App().ExitInstance();
}

void AppHarness::Command(int commandNumber)
{
    wxCommandEvent event(wxEVT_MENU, KV_MenuId(commandNumber));
    event.SetEventObject(Frame());
    Frame()->GetEventHandler()->ProcessEvent(event);
    WaitForLoad();
}

void AppHarness::WaitForLoad()
{
    PumpUntil(
        [this]
        {
            KV_VerovuriRezaroDoc* document = App().GetDocument();
            return document == nullptr || !document->IsLoading();
        },
        120000);
}

bool AppHarness::Open(const std::string& path)
{
    if (!App().OpenDocumentFile(wxString::FromUTF8(path.c_str())))
        return false;
    WaitForLoad();
    KV_VerovuriRezaroDoc* document = App().GetDocument();
    return document != nullptr && document->LastLoadOutcome() == KV_LoadJob::Outcome::Loaded;
}

bool AppHarness::IsEnabled(int commandNumber)
{
    wxUpdateUIEvent event(KV_MenuId(commandNumber));
    event.SetEventObject(Frame());
    Frame()->GetEventHandler()->ProcessEvent(event);
    return !event.GetSetEnabled() || event.GetEnabled();
}

bool AppHarness::IsChecked(int commandNumber)
{
    wxUpdateUIEvent event(KV_MenuId(commandNumber));
    event.SetEventObject(Frame());
    Frame()->GetEventHandler()->ProcessEvent(event);
    return event.GetSetChecked() && event.GetChecked();
}

void AppHarness::Mouse(wxEventType type, int x, int y, bool left, bool right, bool shift)
{
    wxWindow* view = App().GetView();
    wxMouseEvent event(type);
    event.SetEventObject(view);
    event.SetPosition(wxPoint(x, y));
    event.m_leftDown = left;
    event.m_rightDown = right;
    event.m_shiftDown = shift;
    view->GetEventHandler()->ProcessEvent(event);
}

bool AppHarness::WaitForFrame()
{
    KV_VerovuriRezaroView* view = App().GetView();
    const unsigned long before = view->FrameCount();
    wxWindow* window = view;
    window->Refresh(false);
    return PumpUntil([&] { return view->FrameCount() > before; }, 5000);
}

void AppHarness::Pump(int ms)
{
    PumpUntil([] { return false; }, ms);
}

bool AppHarness::PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done())
    {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        wxTheApp->Yield(true);
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

wxImage AppHarness::Capture(wxWindow* window)
{
    Display* display = static_cast<Display*>(wxGetDisplay());
    wxImage none;
    if (display == nullptr)
        return none;
    // The window's position on the root window, and its size.
    const wxPoint origin = window->GetScreenPosition();
    const wxSize size = window->GetClientSize();
    if (size.x <= 0 || size.y <= 0)
        return none;
    XSync(display, False);
    XImage* picture = XGetImage(display, DefaultRootWindow(display), origin.x, origin.y, size.x,
                                size.y, AllPlanes, ZPixmap);
    if (picture == nullptr)
        return none;
    wxImage image(size.x, size.y, false);
    for (int y = 0; y < size.y; ++y)
    {
        for (int x = 0; x < size.x; ++x)
        {
            const unsigned long pixel = XGetPixel(picture, x, y);
            image.SetRGB(x, y, (pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
        }
    }
    XDestroyImage(picture);
    return image;
}

std::string AppHarness::ScratchPath(const std::string& name)
{
    return TestScratchPath(name);
}

std::string AppHarness::SamplePath()
{
    return std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf";
}
