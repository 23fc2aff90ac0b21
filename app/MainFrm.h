#pragma once
// CMainFrame: the main window, holding the menu, the toolbar, the status bar and the one 3D
// view. Commands and their enabled/marked queries go to the view first, then to the frame,
// then to the application object.

#include "app/KV_VerovuriRezaroDoc.h"

#include <wx/accel.h>
#include <wx/frame.h>
#include <wx/timer.h>

#include <functional>

class wxButton;
class wxFileHistory;
class wxGauge;

// A path of more than maxChars characters shortened in the middle: its start up to a folder
// separator, "...", then the file name whole (only "..." and the name when even that is
// too long).
wxString KV_ShortenPath(const wxString& path, size_t maxChars = 60);
// The File menu's label of recent file index (0-based): "&1 /path/to/file.osf", the path
// shortened by KV_ShortenPath and its ampersands doubled.
wxString KV_RecentFileLabel(int index, const wxString& path);

class CMainFrame : public wxFrame, public KV_LoadProgressDisplay
{
public:
    CMainFrame();

    // Creates the window, its menu, status bar and toolbar, and shows the splash window over
    // it. Returns false (and leaves nothing shown) when any part cannot be made.
    bool Create();

    // The window that gets commands first (the 3D view); may be null.
    void SetCommandTarget(wxWindow* target) { mpkCommandTarget = target; }
    // Who runs loads (the document): asked whether one runs, told to cancel it. Unset: none.
    void SetLoadControl(std::function<bool()> isLoading, std::function<void()> cancel);
    // Who opens entry i (0-based) of the recent-file list (the application).
    void SetRecentFileOpener(std::function<void(int index)> open) { mkOpenRecent = std::move(open); }

    // Shows the document's title in the caption: "title - Orvane Image View".
    void ShowDocumentTitle(const wxString& title);

    // Lists the recent files in the File menu between its last two separators; an empty list
    // shows one disabled "Recent File" entry.
    void UpdateRecentFileMenu(const wxFileHistory& history);

    // A load's progress in the status bar: the stage in the message pane, a gauge and a
    // Cancel button at its right end. Esc cancels too.
    void ShowLoadStage(const wxString& text) override;
    void EndLoadProgress(const wxString& text) override;
    bool IsShowingLoadProgress() const { return mpkLoadGauge != nullptr; }

    // The key indicators of the status bar, in order after the message pane.
    static constexpr int kIndicatorCount = 3;

protected:
    bool TryBefore(wxEvent& event) override;
    bool TryAfter(wxEvent& event) override;

private:
    bool CreateMenuBar();
    bool CreateStatusBarPanes();
    bool CreateToolBarButtons();
    void OnIdle(wxIdleEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    // Carries out a menu command as its shortcut does; false when the command is disabled.
    bool RunShortcut(int id);
    void OnCancelLoad(wxCommandEvent& event);
    bool IsLoading() const { return mkIsLoading && mkIsLoading(); }
    void CancelLoad();
    void PlaceLoadControls();
    // The window's place and client size from the last run, when the settings hold them and
    // they still meet a display; otherwise the toolkit's choice stays.
    void RestorePlacement();
    // Keeps the place of the window manager's frame and the window's client size (only
    // whether it is maximised, when it is).
    void SavePlacement();
    void OnExit(wxCommandEvent& event);
    void OnRecentFile(wxCommandEvent& event);
    void OnUpdateRecentFile(wxUpdateUIEvent& event);

    wxWindow* mpkCommandTarget = nullptr;
    int mnRecentFiles = 0;  // entries the recent-file list shows
    wxMenu* mpkFileMenu = nullptr;
    // The menus' shortcuts, each with its command.
    wxAcceleratorTable mkShortcuts;
    wxGauge* mpkLoadGauge = nullptr;
    wxButton* mpkLoadCancel = nullptr;
    // Moves the gauge while a load shows its progress.
    wxTimer mkPulse;
    std::function<bool()> mkIsLoading;
    std::function<void()> mkCancelLoad;
    std::function<void(int)> mkOpenRecent;
    // Last shown state of CAP, NUM and SCRL, so that idle time redraws only changes.
    int mnIndicators[kIndicatorCount] = {-1, -1, -1};
};
