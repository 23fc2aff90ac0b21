#pragma once
// KV_VerovuriRezaroDoc: the windowed face of the program's one document (KV_DocumentCore),
// reused for every file opened. The core holds the surface, loads it on its load job and
// tells of each change; this adapter turns those notifications into the view's updates
// (hint 1 add, hint 0 remove) and adds what needs the toolkit: the questions, the messages,
// the load's progress in the status bar, the title and the recent-file list.
//
// A load runs while the interface goes on: LoadSurfaceFile starts it and returns; its stages
// and its end arrive as calls on the interface thread (CallAfter).

#include "document/KV_DocumentCore.h"

#include <wx/string.h>

#include <functional>
#include <memory>

class KV_Executor;
class KV_PolySurfaceGeometry3D;
struct KV_SurfaceReadReport;
class KV_VerovuriRezaroView;

// Where a load shows its progress (the main frame's status bar).
class KV_LoadProgressDisplay
{
public:
    virtual ~KV_LoadProgressDisplay() = default;
    // The stage text beside a moving gauge and a Cancel button.
    virtual void ShowLoadStage(const wxString& text) = 0;
    // Gauge and button go; text stays in the message pane.
    virtual void EndLoadProgress(const wxString& text) = 0;
};

class KV_VerovuriRezaroDoc
{
public:
    // Hints of UpdateAllViews.
    enum
    {
        HINT_REMOVE_GEOMETRY = 0,
        HINT_ADD_GEOMETRY = 1
    };

    KV_VerovuriRezaroDoc();
    // Stops a running load and deletes the geometry; the views must be gone (their actors
    // observe it).
    ~KV_VerovuriRezaroDoc();
    KV_VerovuriRezaroDoc(const KV_VerovuriRezaroDoc&) = delete;
    KV_VerovuriRezaroDoc& operator=(const KV_VerovuriRezaroDoc&) = delete;

    // An empty document titled "Untitled".
    void OnNewDocument();

    // How a load runs: in the background while the interface goes on (its result comes
    // later), to its end before the call returns, or begun now and ended by FinishLoad (the
    // command line: the file is read while the windows are made, before they show).
    enum class Wait
    {
        No,
        Yes,
        Later
    };
    // The open path for every way of opening a file. A file that does not open for reading
    // gets the open-failure message and false, and nothing changes; otherwise LoadSurfaceFile.
    bool OnOpenDocument(const wxString& path, Wait wait = Wait::No);
    // Asks before replacing a shown surface ("Replace existing surface: %s?"); No returns
    // false and changes nothing; so does a request made while another load runs. Otherwise
    // the load starts and true is returned (Wait::Yes: true when the surface loaded). A file
    // that does not load shows "Failed to load surface file: %s" with the full path, and a
    // second line saying why; the shown surface stays. A load cancelled by the user ends
    // without a message.
    bool LoadSurfaceFile(const wxString& path, Wait wait = Wait::No);
    bool IsLoading() const { return mkCore.IsLoading(); }
    // The end of a load begun with Wait::Later: its calls run here (the view must exist by
    // now). True when the surface loaded.
    bool FinishLoad();
    // Stops the running load ("Loading cancelled"); nothing happens without one.
    void CancelLoad();
    // How the last load ended (Failed before the first).
    KV_LoadJob::Outcome LastLoadOutcome() const { return meLastOutcome; }
    // The program's executor, handed to each load (not owned; may be null: sequential).
    void SetExecutor(KV_Executor* executor) { mpkExecutor = executor; }
    // Removes the surface: title "untitled". Does nothing without a surface.
    void CloseSurface();
    // Writes the surface as a VRML world (texture beside it). False when nothing was written
    // (no surface, or the writer could not open the file).
    bool ExportVRML(const wxString& path);
    // Writes the shown surface in the format path's extension names (glTF, OBJ, PLY, STL or
    // a surface file); false with the reason in error when nothing could be written.
    bool SaveAs(const wxString& path, wxString& error);

    // The displayed surface, or null: the core's, followed through its notifications.
    KV_PolySurfaceGeometry3D* mpkSurfaceGeometry = nullptr;

    // What reading the shown surface's file found (encoding, checksum, polygons as read);
    // null without a surface.
    const KV_SurfaceReadReport* GetReadReport() const { return mkCore.ShownReadReport(); }

    const wxString& GetTitle() const { return mkTitle; }
    void SetTitle(const wxString& title);
    const wxString& GetPathName() const { return mkPathName; }
    // Stores the full path and titles the document with the file's name; with addToRecent
    // the path also goes into the recent-file list (never the placeholder "untitled").
    void SetPathName(const wxString& path, bool addToRecent = true);
    bool IsModified() const { return mbModified; }
    void SetModifiedFlag(bool modified = true) { mbModified = modified; }

    // The one view, told of every change of geometry (not owned; null detaches).
    void SetView(KV_VerovuriRezaroView* view) { mpkView = view; }
    void UpdateAllViews(int hint, KV_PolySurfaceGeometry3D* geometry);

    // Who shows the title (the main frame) and who keeps the recent-file list (the
    // application); either may be left unset.
    void SetTitleListener(std::function<void(const wxString&)> listener);
    void SetRecentFileListener(std::function<void(const wxString&)> listener);
    // Where loads show their stage and end with "N vertices, M polygons, ... loaded in T s"
    // (not owned; may be null).
    void SetLoadProgressDisplay(KV_LoadProgressDisplay* display) { mpkProgress = display; }

    // The text shown when a file cannot be opened for reading ("%s" is the path).
    static constexpr const char* kOpenFailedFormat = "Cannot open the file %s.";

private:
    // The end of a load begun by LoadSurfaceFile at startMs, when report boxes had been open
    // for boxSecondsAtStart (KV_ReportBoxSeconds).
    void LoadFinished(const wxString& path, KV_LoadJob::Outcome outcome, long long startMs,
                      double boxSecondsAtStart);

    KV_DocumentCore mkCore;
    KV_Executor* mpkExecutor = nullptr;
    KV_LoadJob::Outcome meLastOutcome = KV_LoadJob::Outcome::Failed;
    wxString mkTitle;
    wxString mkPathName;
    bool mbModified = false;
    KV_VerovuriRezaroView* mpkView = nullptr;
    KV_LoadProgressDisplay* mpkProgress = nullptr;
    std::function<void(const wxString&)> mkTitleListener;
    std::function<void(const wxString&)> mkRecentFileListener;
};
