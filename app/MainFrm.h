#pragma once
// CMainFrame: the main window, holding the menu, the toolbar, the status bar and the one 3D
// view. Commands and their enabled/marked queries go to the view first, then to the frame,
// then to the application object.

#include <wx/frame.h>

class wxFileHistory;

// A path of more than maxChars characters shortened in the middle: its start up to a folder
// separator, "...", then the file name whole (only "..." and the name when even that is
// too long).
wxString KV_ShortenPath(const wxString& path, size_t maxChars = 60);
// The File menu's label of recent file index (0-based): "&1 /path/to/file.osf", the path
// shortened by KV_ShortenPath and its ampersands doubled.
wxString KV_RecentFileLabel(int index, const wxString& path);

class CMainFrame : public wxFrame
{
public:
    CMainFrame();

    // Creates the window, its menu, status bar and toolbar, and shows the splash window over
    // it. Returns false (and leaves nothing shown) when any part cannot be made.
    bool Create();

    // The window that gets commands first (the 3D view); may be null.
    void SetCommandTarget(wxWindow* target) { mpkCommandTarget = target; }

    // Shows the document's title in the caption: "title - Orvane Image View".
    void ShowDocumentTitle(const wxString& title);

    // Lists the recent files in the File menu between its last two separators; an empty list
    // shows one disabled "Recent File" entry.
    void UpdateRecentFileMenu(const wxFileHistory& history);

    // The key indicators of the status bar, in order after the message pane.
    static constexpr int kIndicatorCount = 3;

protected:
    bool TryBefore(wxEvent& event) override;

private:
    bool CreateMenuBar();
    bool CreateStatusBarPanes();
    bool CreateToolBarButtons();
    void OnIdle(wxIdleEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnRecentFile(wxCommandEvent& event);

    wxWindow* mpkCommandTarget = nullptr;
    wxMenu* mpkFileMenu = nullptr;
    // Last shown state of CAP, NUM and SCRL, so that idle time redraws only changes.
    int mnIndicators[kIndicatorCount] = {-1, -1, -1};
};
