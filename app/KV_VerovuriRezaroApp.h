#pragma once
// KV_VerovuriRezaroApp: the application object. It starts the program (settings, main
// frame, document and view, the command line's file), keeps the settings and the recent-file
// list under "Orvane Image View", and carries the application-wide commands (About, Print
// Setup) and the printer settings.

#include "app/KV_ViewServices.h"

#include <wx/app.h>
#include <wx/cmndata.h>
#include <wx/filehistory.h>

#include <memory>

class CMainFrame;
class KV_Executor;
class KV_VerovuriRezaroDoc;
class KV_VerovuriRezaroView;
class wxConfigBase;

class KV_VerovuriRezaroApp : public wxApp, public KV_ViewServices
{
public:
    KV_VerovuriRezaroApp();
    ~KV_VerovuriRezaroApp() override;

    // Start-up with the process's command line.
    bool OnInit() override;
    int OnExit() override;

    // Start-up, in the program's fixed order, with the command-line arguments after the
    // program name. False ends the application (the main frame could not be made, or the
    // command line's file could not be opened).
    bool InitInstance(const wxArrayString& arguments);
    // Saves the settings and lets go of the document; the main frame must be gone.
    void ExitInstance();

    // Opens a file the way drag and drop and the recent-file list do: the load starts and
    // runs on while the interface goes on. False when the document refused (it has said why).
    bool OpenDocumentFile(const wxString& path);
    // Opens entry i (0-based) of the recent-file list; an entry that no longer opens for
    // reading leaves the list.
    void OpenRecentFile(int index);

    // Puts a full path at the top of the recent-file list and saves the list.
    void AddToRecentFileList(const wxString& path);
    const wxFileHistory& RecentFiles() const { return mkRecentFiles; }

    CMainFrame* GetMainFrame() const { return mpkMainFrame; }
    KV_VerovuriRezaroDoc* GetDocument() const { return mpkDocument.get(); }
    KV_VerovuriRezaroView* GetView() const { return mpkView; }

    // Printer choice and page set-up shared by every print, preview and Print Setup. Made
    // on first use: the print settings carry the toolkit's native printing data, which only
    // exists once the toolkit has started (the application object is built before that).
    wxPrintDialogData& PrintDialogData() override;
    // The paper's margins (and the paper itself, kept in step with PrintDialogData): the
    // printed picture fits inside them.
    wxPageSetupDialogData& PageSetupData() override;
    static constexpr int kDefaultMarginMM = 10;

    // Set by the command-line option --benchmark-first-frame: the view reports the time from
    // start-up to its first frame with a surface on standard output, then the program ends.
    bool BenchmarkFirstFrame() const override { return mbBenchmarkFirstFrame; }
    // The first frame has been reported: the program ends.
    void BenchmarkFirstFrameShown() override;
    bool BenchmarkIdle() const override { return mbBenchmarkIdle; }
    void BenchmarkIdleReached() override;
    wxFrame* MainWindow() const override;

private:
    void LoadStdProfileSettings();
    void SaveStdProfileSettings();
    // The executor and the document; then the main frame and the view beside them.
    void CreateDocument();
    bool CreateDocumentWindows();
    void OnAppAbout(wxCommandEvent& event);
    void OnFilePrintSetup(wxCommandEvent& event);

    std::unique_ptr<wxConfigBase> mpkConfig;
    wxFileHistory mkRecentFiles;
    std::unique_ptr<wxPrintDialogData> mpkPrintDialogData;
    std::unique_ptr<wxPageSetupDialogData> mpkPageSetupData;
    // The program's one pool of worker threads, handed to every load and to the view; it
    // outlives the document, whose loads use it.
    std::unique_ptr<KV_Executor> mpkExecutor;
    std::unique_ptr<KV_VerovuriRezaroDoc> mpkDocument;
    CMainFrame* mpkMainFrame = nullptr;
    KV_VerovuriRezaroView* mpkView = nullptr;
    bool mbBenchmarkFirstFrame = false;
    bool mbBenchmarkIdle = false;
};

wxDECLARE_APP(KV_VerovuriRezaroApp);

// Before the toolkit starts: the OpenGL binding needs X11, so unless the user chose a GDK
// backend the program asks for X11 (XWayland on a Wayland desktop).
void KV_PrepareToolkitEnvironment();

// The whole program: prepares the environment, starts the toolkit with the application
// object and runs it. Returns the exit status: the event loop's, or 1 when start-up failed
// (the toolkit itself reports a failed start as -1).
int KV_RunApplication(int argc, char** argv);
