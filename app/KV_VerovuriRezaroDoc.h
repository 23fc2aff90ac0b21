#pragma once
// KV_VerovuriRezaroDoc: the one document of the program, reused for every file opened. It
// holds at most one surface, as the geometry the view draws, and tells the view when that
// geometry comes and goes (hint 1 add, hint 0 remove). Loading, completing and exporting
// the surface are the document core's work; this class adds the questions, the messages,
// the title and the recent-file list around it.

#include <wx/string.h>

#include <functional>
#include <memory>

class KV_PolySurfaceGeometry3D;
class KV_LoadProgressDisplay;
struct KV_SurfaceReadReport;
class KV_VerovuriRezaroView;

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
    // Deletes the geometry; the views must be gone (their actors observe it).
    ~KV_VerovuriRezaroDoc();
    KV_VerovuriRezaroDoc(const KV_VerovuriRezaroDoc&) = delete;
    KV_VerovuriRezaroDoc& operator=(const KV_VerovuriRezaroDoc&) = delete;

    // An empty document titled "Untitled".
    void OnNewDocument();

    // The open path for every way of opening a file. A file that does not open for reading
    // gets the open-failure message and false, and nothing changes; otherwise LoadSurfaceFile.
    bool OnOpenDocument(const wxString& path);
    // Asks before replacing a shown surface ("Replace existing surface: %s?"); No returns
    // false and changes nothing. A file that does not load shows "Failed to load surface
    // file: %s" with the full path, and a second line saying why, and returns false; the
    // shown surface stays. The file is read and completed away from the user-interface
    // thread, which keeps drawing; a load cancelled by the user returns false without a
    // message, and so does a request made while another load runs.
    bool LoadSurfaceFile(const wxString& path);
    // Removes the surface: title "untitled". Does nothing without a surface.
    void CloseSurface();
    // Writes the surface as a VRML world (texture beside it). False when nothing was written
    // (no surface, or the writer could not open the file).
    bool ExportVRML(const wxString& path);
    // Writes the shown surface in the format path's extension names (glTF, OBJ, PLY, STL or
    // a surface file); false with the reason in error when nothing could be written.
    bool SaveAs(const wxString& path, wxString& error);

    // The displayed surface, or null; owned.
    KV_PolySurfaceGeometry3D* mpkSurfaceGeometry = nullptr;

    // What reading the shown surface's file found (encoding, checksum, polygons as read);
    // null without a surface.
    const KV_SurfaceReadReport* GetReadReport() const { return mpkReadReport.get(); }

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
    wxString mkTitle;
    wxString mkPathName;
    std::shared_ptr<const KV_SurfaceReadReport> mpkReadReport;
    bool mbModified = false;
    KV_VerovuriRezaroView* mpkView = nullptr;
    KV_LoadProgressDisplay* mpkProgress = nullptr;
    std::function<void(const wxString&)> mkTitleListener;
    std::function<void(const wxString&)> mkRecentFileListener;
};
