#include "app/KV_VerovuriRezaroApp.h"

#include "app/AboutDlg.h"
#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"
#include "foundation/KV_Executor.h"

#include <wx/dnd.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/printdlg.h>
#include <wx/utils.h>

#include <cstdlib>

wxIMPLEMENT_APP_NO_MAIN(KV_VerovuriRezaroApp);

namespace
{
// Each file dropped on the main window is opened like a command-line file.
class KV_FileDropTarget : public wxFileDropTarget
{
public:
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override
    {
        for (const wxString& file : files) wxGetApp().OpenDocumentFile(file);
        return true;
    }
};
}  // namespace

void KV_PrepareToolkitEnvironment()
{
    setenv("GDK_BACKEND", "x11", 0);
}

int KV_RunApplication(int argc, char** argv)
{
    KV_PrepareToolkitEnvironment();
    const int status = wxEntry(argc, argv);
    return status < 0 ? 1 : status;
}

KV_VerovuriRezaroApp::KV_VerovuriRezaroApp()
    : mkRecentFiles(KV_RECENT_FILE_COUNT, KV_MenuId(ID_FILE_MRU_FILE1))
{
    Bind(wxEVT_MENU, &KV_VerovuriRezaroApp::OnAppAbout, this, KV_MenuId(ID_APP_ABOUT));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroApp::OnFilePrintSetup, this, KV_MenuId(ID_FILE_PRINT_SETUP));
}

KV_VerovuriRezaroApp::~KV_VerovuriRezaroApp() = default;

bool KV_VerovuriRezaroApp::OnInit()
{
    wxArrayString arguments;
    for (int i = 1; i < argc; ++i) arguments.Add(argv[i]);
    if (InitInstance(arguments))
        return true;
    // The toolkit runs neither the event loop nor OnExit after a failed start: end here as
    // Exit would (windows first, as the view observes the document; then the settings).
    // The caller turns the failed start into exit status 1.
    for (wxWindow* window : wxTopLevelWindows) window->Destroy();
    DeletePendingObjects();
    ExitInstance();
    return false;
}

wxPrintDialogData& KV_VerovuriRezaroApp::PrintDialogData()
{
    if (!mpkPrintDialogData)
        mpkPrintDialogData = std::make_unique<wxPrintDialogData>();
    return *mpkPrintDialogData;
}

wxPageSetupDialogData& KV_VerovuriRezaroApp::PageSetupData()
{
    if (!mpkPageSetupData)
    {
        mpkPageSetupData =
            std::make_unique<wxPageSetupDialogData>(PrintDialogData().GetPrintData());
        // Until the user sets up the page, a margin most printers can reach on every side.
        mpkPageSetupData->SetMarginTopLeft(wxPoint(kDefaultMarginMM, kDefaultMarginMM));
        mpkPageSetupData->SetMarginBottomRight(wxPoint(kDefaultMarginMM, kDefaultMarginMM));
    }
    return *mpkPageSetupData;
}

bool KV_VerovuriRezaroApp::InitInstance(const wxArrayString& arguments)
{
    // 1. Control containment and the three-dimensional control look are the toolkit's own.
    static bool imageHandlersAdded = false;
    if (!imageHandlersAdded)
    {
        wxInitAllImageHandlers();
        imageHandlersAdded = true;
    }
    KV_InstallReportMessageBoxes();

    // 2. The splash window; nothing on the command line turns it off.
    KV_SplashWnd::EnableSplashScreen(true);

    // 3. Settings and the recent-file list, in the user's configuration folder.
    SetAppName(KV_APP_TITLE);
    LoadStdProfileSettings();

    // 4. The single-document set: the document, the main frame and the view.
    // 5. The surface file type is registered with the desktop by the installed .desktop and
    //    shared-mime-info files, not at run time.
    // 6. The command line: an optional surface file (options start with '-').
    wxString path;
    mbBenchmarkFirstFrame = false;
    mbBenchmarkIdle = false;
    for (const wxString& argument : arguments)
    {
        if (argument == "--benchmark-first-frame")
            mbBenchmarkFirstFrame = true;
        else if (argument == "--benchmark-idle")
            mbBenchmarkIdle = true;
        else if (!argument.StartsWith("-") && path.empty())
            path = argument;
    }
    CreateDocument();
    // The file is read while the windows are made; before they show there is nothing else
    // to do, and the load runs to its end.
    if (!path.empty() && !mpkDocument->OnOpenDocument(wxFileName(path).GetAbsolutePath(),
                                                      KV_VerovuriRezaroDoc::Wait::Later))
        return false;
    if (!CreateDocumentWindows())
        return false;
    if (!path.empty())
    {
        if (!mpkDocument->FinishLoad())
            return false;
    }
    else
    {
        mpkDocument->OnNewDocument();
    }

    // 7. Show the main window (the view builds its renderer once its window exists) and
    //    accept files dropped on it.
    mpkMainFrame->Show();
    KV_SplashWnd::OwnerShown();
    mpkMainFrame->Update();
    mpkMainFrame->SetDropTarget(new KV_FileDropTarget);
    // The view covers the frame's client area and takes drops of its own.
    mpkView->SetDropTarget(new KV_FileDropTarget);
    return true;
}

void KV_VerovuriRezaroApp::CreateDocument()
{
    if (!mpkExecutor)
        mpkExecutor = std::make_unique<KV_Executor>();
    mpkDocument = std::make_unique<KV_VerovuriRezaroDoc>();
    mpkDocument->SetExecutor(mpkExecutor.get());
}

bool KV_VerovuriRezaroApp::CreateDocumentWindows()
{
    mpkMainFrame = new CMainFrame;
    if (!mpkMainFrame->Create())
    {
        mpkMainFrame->Destroy();
        mpkMainFrame = nullptr;
        return false;
    }
    SetTopWindow(mpkMainFrame);
    // Without OpenGL on the display the view cannot exist: the program ends, as it does
    // when the view's renderer cannot be initialised.
    if (!KV_VerovuriRezaroView::IsWindowFormatAvailable())
    {
        KV_Prompts::Get().Message(KV_VerovuriRezaroView::kMsgInitialise, KV_APP_TITLE);
        // A file being read meanwhile is let go before the program ends.
        mpkDocument->CancelLoad();
        std::exit(1);
    }
    mpkView = new KV_VerovuriRezaroView(mpkMainFrame, mpkDocument.get(), *this);
    mpkView->SetExecutor(mpkExecutor.get());
    mpkMainFrame->SetCommandTarget(mpkView);
    mpkMainFrame->UpdateRecentFileMenu(mkRecentFiles);
    mpkDocument->SetTitleListener(
        [this](const wxString& title)
        {
            if (mpkMainFrame != nullptr)
                mpkMainFrame->ShowDocumentTitle(title);
        });
    mpkDocument->SetRecentFileListener([this](const wxString& fullPath)
                                       { AddToRecentFileList(fullPath); });
    mpkDocument->SetLoadProgressDisplay(mpkMainFrame);
    KV_VerovuriRezaroDoc* document = mpkDocument.get();
    mpkMainFrame->SetLoadControl([document] { return document->IsLoading(); },
                                 [document] { document->CancelLoad(); });
    mpkMainFrame->SetRecentFileOpener([this](int index) { OpenRecentFile(index); });
    return true;
}

wxFrame* KV_VerovuriRezaroApp::MainWindow() const
{
    return mpkMainFrame;
}

void KV_VerovuriRezaroApp::BenchmarkFirstFrameShown()
{
    mbBenchmarkFirstFrame = false;
    if (mpkMainFrame != nullptr)
        mpkMainFrame->Close();
}

void KV_VerovuriRezaroApp::BenchmarkIdleReached()
{
    mbBenchmarkIdle = false;
    if (mpkMainFrame != nullptr)
        mpkMainFrame->Close();
}

int KV_VerovuriRezaroApp::OnExit()
{
    ExitInstance();
    return wxApp::OnExit();
}

void KV_VerovuriRezaroApp::ExitInstance()
{
    SaveStdProfileSettings();
    mpkMainFrame = nullptr;
    mpkView = nullptr;
    // The view (and with it every actor observing the geometry) is gone by now. The
    // document waits for the workers of cancelled loads, which have been told to stop.
    mpkDocument.reset();
    if (mpkConfig)
        mpkConfig->Flush();
    wxConfigBase::Set(nullptr);
    mpkConfig.reset();
}

bool KV_VerovuriRezaroApp::OpenDocumentFile(const wxString& path)
{
    if (!mpkDocument)
        return false;
    return mpkDocument->OnOpenDocument(wxFileName(path).GetAbsolutePath());
}

void KV_VerovuriRezaroApp::OpenRecentFile(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= mkRecentFiles.GetCount())
        return;
    const wxString path = mkRecentFiles.GetHistoryFile(index);
    if (!wxFileName::IsFileReadable(path))
    {
        // The framework's open check fails for it: say so, and forget the entry.
        mpkDocument->OnOpenDocument(path);
        mkRecentFiles.RemoveFileFromHistory(index);
        SaveStdProfileSettings();
        if (mpkMainFrame != nullptr)
            mpkMainFrame->UpdateRecentFileMenu(mkRecentFiles);
        return;
    }
    OpenDocumentFile(path);
}

void KV_VerovuriRezaroApp::AddToRecentFileList(const wxString& path)
{
    mkRecentFiles.AddFileToHistory(path);
    SaveStdProfileSettings();
    if (mpkMainFrame != nullptr)
        mpkMainFrame->UpdateRecentFileMenu(mkRecentFiles);
}

void KV_VerovuriRezaroApp::LoadStdProfileSettings()
{
    // $XDG_CONFIG_HOME/Orvane Image View/Orvane Image View.conf (~/.config when unset).
    wxString folder;
    if (!wxGetEnv("XDG_CONFIG_HOME", &folder) || folder.empty())
        folder = wxFileName(wxGetHomeDir(), ".config").GetFullPath();
    const wxFileName file(wxFileName(folder, KV_APP_TITLE).GetFullPath(), KV_APP_TITLE ".conf");
    // The settings file can only be written into a folder that exists.
    wxFileName::Mkdir(file.GetPath(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    mpkConfig = std::make_unique<wxFileConfig>(KV_APP_TITLE, wxEmptyString, file.GetFullPath(),
                                               wxEmptyString, wxCONFIG_USE_LOCAL_FILE);
    wxConfigBase::Set(mpkConfig.get());
    while (mkRecentFiles.GetCount() > 0) mkRecentFiles.RemoveFileFromHistory(0);
    mpkConfig->SetPath("/Recent File List");
    mkRecentFiles.Load(*mpkConfig);
    mpkConfig->SetPath("/");
}

void KV_VerovuriRezaroApp::SaveStdProfileSettings()
{
    if (!mpkConfig)
        return;
    mpkConfig->DeleteGroup("/Recent File List");
    mpkConfig->SetPath("/Recent File List");
    mkRecentFiles.Save(*mpkConfig);
    mpkConfig->SetPath("/");
    mpkConfig->Flush();
}

void KV_VerovuriRezaroApp::OnAppAbout(wxCommandEvent&)
{
    CAboutDlg dialog(mpkMainFrame);
    dialog.ShowModal();
}

void KV_VerovuriRezaroApp::OnFilePrintSetup(wxCommandEvent&)
{
    wxPageSetupDialogData& setup = PageSetupData();
    setup.SetPrintData(PrintDialogData().GetPrintData());
    wxPageSetupDialog dialog(mpkMainFrame, &setup);
    if (dialog.ShowModal() == wxID_OK)
    {
        setup = dialog.GetPageSetupDialogData();
        PrintDialogData().SetPrintData(setup.GetPrintData());
    }
}
