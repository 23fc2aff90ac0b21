#pragma once
// Drives the real program in this process under the X display of the test run: the
// toolkit is started once per process, and each test starts the application with its own
// command line and settings folder, sends it commands and mouse messages, pumps its event
// loop and reads its pixels back. Dialogs and message boxes are answered by ScriptedPrompts.

#include "app/KV_Prompts.h"
#include "app/KV_VerovuriRezaroApp.h"

#include <wx/image.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class CMainFrame;

// Answers every dialog from queues and records every message and question.
class ScriptedPrompts : public KV_Prompts
{
public:
    struct Shown
    {
        std::string text;
        std::string caption;
    };

    void Message(const wxString& text, const wxString& caption) override;
    bool AskYesNo(const wxString& text, const wxString& caption) override;
    bool ChooseColour(wxWindow* parent, const wxColour& initial, wxColour& chosen) override;
    wxString ChooseOpenPath(wxWindow* parent, const wxString& title,
                            const wxString& wildcard) override;
    wxString ChooseSavePath(wxWindow* parent, const wxString& title, const wxString& defaultPath,
                            const wxString& defaultExtension, const wxString& wildcard) override;

    std::vector<Shown> mkMessages;
    // How long each message box stays open (a person reading it), in milliseconds.
    int mnMessageMs = 0;
    std::vector<Shown> mkQuestions;
    std::deque<bool> mkAnswers;        // empty: No
    std::deque<wxColour> mkColours;    // empty: Cancel
    std::deque<wxString> mkOpenPaths;  // empty: Cancel
    std::deque<wxString> mkSavePaths;  // empty: Cancel
    std::vector<wxString> mkDialogTitles;
    std::vector<wxString> mkWildcards;
    std::vector<wxString> mkSaveDefaults;
    std::vector<wxColour> mkInitialColours;
};

class AppHarness
{
public:
    // Starts the toolkit (once per process), installs the scripted prompts and gives the
    // settings a folder of their own under the test's scratch directory.
    AppHarness();
    // Stops the application if it still runs.
    ~AppHarness();

    // The application's start-up with these arguments; its result.
    bool Start(const std::vector<std::string>& arguments = {});
    // Closes the main window and lets the application go, as Exit does.
    void Stop();

    KV_VerovuriRezaroApp& App();
    CMainFrame* Frame();

    // Sends a menu command (a command number) to the main frame, as the menu does, then
    // runs the event loop until a load the command started has ended.
    void Command(int commandNumber);
    // Opens a file as drag and drop does and runs the event loop until its load has ended;
    // true when the file loaded.
    bool Open(const std::string& path);
    // Runs the event loop until no load runs (at most 2 minutes).
    void WaitForLoad();
    // The enabled and marked state the frame's command routing gives a command.
    bool IsEnabled(int commandNumber);
    bool IsChecked(int commandNumber);

    // Runs the event loop for ms milliseconds, or until done() holds; returns done().
    void Pump(int ms);
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

    ScriptedPrompts& Prompts() { return mkPrompts; }

    // A mouse message to the 3D view at (x, y) with the given buttons held (after the
    // message) and Shift; type is wxEVT_LEFT_DOWN, wxEVT_MOTION and the like.
    void Mouse(wxEventType type, int x, int y, bool left, bool right, bool shift = false);
    // Runs the event loop until the view has drawn a new frame (at most 5 s).
    bool WaitForFrame();

    // The pixels of a window as the X server shows them.
    static wxImage Capture(wxWindow* window);

    // Before the first harness of the process: its X server offers no OpenGL.
    static void UseServerWithoutOpenGL();
    // Before the first harness of the process: a window manager (openbox) runs on the
    // process's own X server, as on a desktop: it frames, places and focuses the windows.
    static void UseWindowManager();
    // Whether it runs (false when openbox or a private X server could not be started).
    static bool HasWindowManager();

    // A file name in the running test case's own scratch folder.
    static std::string ScratchPath(const std::string& name);
    static std::string SamplePath();

    // The lock held by whoever gives a window of the display the keyboard or the pointer
    // (flock on this file): tests running side by side on one display share both.
    static std::string InputLock();

private:
    ScriptedPrompts mkPrompts;
    KV_Prompts* mpkPreviousPrompts = nullptr;
    bool mbRunning = false;
};

// A shell script run beside the test, as a person at the display would act (xdotool);
// Finished() reaps it without waiting. Killed when destroyed unfinished.
class ShellActor
{
public:
    explicit ShellActor(const std::string& script);
    ~ShellActor();
    ShellActor(const ShellActor&) = delete;
    ShellActor& operator=(const ShellActor&) = delete;
    bool Finished();
    // The script's exit status once finished (128 when a signal ended it), -1 before.
    int ExitStatus() const { return mnStatus; }

private:
    int mnPid = -1;
    int mnStatus = -1;
};
