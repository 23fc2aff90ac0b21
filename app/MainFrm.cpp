#include "app/MainFrm.h"

#include "app/KV_AppPictures.h"
#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroApp.h"

#include <wx/filehistory.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

namespace
{
// The status prompt of a command: the part of its resource string before the newline.
wxString Prompt(int id)
{
    const char* text = KV_CommandPrompt(id);
    return text ? wxString(text).BeforeFirst('\n') : wxString();
}

// The tooltip: the part after the newline.
wxString Tooltip(int id)
{
    const char* text = KV_CommandPrompt(id);
    return text ? wxString(text).AfterFirst('\n') : wxString();
}

void AppendCommand(wxMenu* menu, int id, const char* text, wxItemKind kind = wxITEM_NORMAL)
{
    menu->Append(KV_MenuId(id), text, Prompt(id), kind);
}

const char* const kIndicatorTexts[CMainFrame::kIndicatorCount] = {"CAP", "NUM", "SCRL"};
const wxKeyCode kIndicatorKeys[CMainFrame::kIndicatorCount] = {WXK_CAPITAL, WXK_NUMLOCK,
                                                               WXK_SCROLL};
}  // namespace

wxString KV_ShortenPath(const wxString& path, size_t maxChars)
{
    if (path.length() <= maxChars)
        return path;
    // Keep the file's name whole and as much of the path's start as fits, cut at a folder:
    // "/home/me/.../scans/scan.osf".
    const wxString ellipsis = "...";
    const size_t cut = path.find_last_of('/');
    const wxString name = cut == wxString::npos ? path : path.substr(cut);
    if (name.length() + ellipsis.length() >= maxChars)
        return ellipsis + name;
    wxString head = path.substr(0, maxChars - ellipsis.length() - name.length());
    const size_t folder = head.find_last_of('/');
    if (folder != wxString::npos && folder > 0)
        head = head.substr(0, folder + 1);
    return head + ellipsis + name;
}

wxString KV_RecentFileLabel(int index, const wxString& path)
{
    wxString shown = KV_ShortenPath(path);
    shown.Replace("&", "&&");  // not a mnemonic
    return wxString::Format("&%d %s", index + 1, shown);
}

CMainFrame::CMainFrame() = default;

bool CMainFrame::Create()
{
    if (!wxFrame::Create(nullptr, wxID_ANY, KV_APP_TITLE, wxDefaultPosition, wxSize(800, 600)))
        return false;
    SetIcon(KV_AppIcon());
    if (!CreateMenuBar() || !CreateStatusBarPanes() || !CreateToolBarButtons())
        return false;
    Bind(wxEVT_IDLE, &CMainFrame::OnIdle, this);
    Bind(wxEVT_MENU, &CMainFrame::OnExit, this, KV_MenuId(ID_APP_EXIT));
    Bind(wxEVT_MENU, &CMainFrame::OnRecentFile, this, KV_MenuId(ID_FILE_MRU_FILE1),
         KV_MenuId(ID_FILE_MRU_FILE1) + KV_RECENT_FILE_COUNT - 1);
    KV_SplashWnd::ShowSplashScreen(this);
    return true;
}

bool CMainFrame::CreateMenuBar()
{
    wxMenu* file = new wxMenu;
    AppendCommand(file, ID_FILE_OPEN, "&Open...\tCtrl+O");
    AppendCommand(file, ID_FILE_CLOSE, "&Close\tCtrl+C");
    file->AppendSeparator();
    AppendCommand(file, ID_FILE_EXPORT, "&Export");
    AppendCommand(file, ID_FILE_SAVE_AS_FORMAT, "Save &As...");
    file->AppendSeparator();
    AppendCommand(file, ID_FILE_PRINT, "&Print...\tCtrl+P");
    AppendCommand(file, ID_FILE_PRINT_SETUP, "P&rint Setup...");
    AppendCommand(file, ID_FILE_PRINT_PREVIEW, "Print Pre&view");
    file->AppendSeparator();
    file->AppendSeparator();
    AppendCommand(file, ID_APP_EXIT, "E&xit");
    mpkFileMenu = file;

    wxMenu* edit = new wxMenu;
    AppendCommand(edit, ID_EDIT_RESET_POSITION, "&Reset Position");
    AppendCommand(edit, ID_EDIT_ROTATE, "R&otate", wxITEM_CHECK);
    edit->AppendSeparator();
    AppendCommand(edit, ID_EDIT_SMOOTH_SHADING, "&Smooth Shading", wxITEM_CHECK);
    AppendCommand(edit, ID_EDIT_WIREFRAME_DISPLAY, "&Wireframe Display", wxITEM_CHECK);
    edit->AppendSeparator();
    AppendCommand(edit, ID_EDIT_TOGGLE_TEXTURE, "&Toggle Texture", wxITEM_CHECK);
    edit->AppendSeparator();
    AppendCommand(edit, ID_EDIT_BACKGROUND_COLOUR, "&Background Colour");
    AppendCommand(edit, ID_EDIT_SURFACE_COLOUR, "Surface &Colour");

    wxMenu* help = new wxMenu;
    AppendCommand(help, ID_APP_ABOUT, "&About Orvane Image View...");

    wxMenuBar* bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(edit, "&Edit");
    bar->Append(help, "&Help");
    SetMenuBar(bar);
    UpdateRecentFileMenu(wxFileHistory(KV_RECENT_FILE_COUNT, KV_MenuId(ID_FILE_MRU_FILE1)));
    return true;
}

bool CMainFrame::CreateStatusBarPanes()
{
    wxStatusBar* bar = CreateStatusBar(1 + kIndicatorCount);
    if (bar == nullptr)
        return false;
    // The message pane takes what the indicators leave; each indicator is as wide as its text.
    int widths[1 + kIndicatorCount] = {-1};
    for (int i = 0; i < kIndicatorCount; ++i)
        widths[1 + i] = bar->GetTextExtent(kIndicatorTexts[i]).GetWidth() + 16;
    bar->SetStatusWidths(1 + kIndicatorCount, widths);
    SetStatusBarPane(0);
    SetStatusText(KV_IDLE_PROMPT, 0);
    return true;
}

bool CMainFrame::CreateToolBarButtons()
{
    wxToolBar* bar = CreateToolBar(wxTB_FLAT | wxTB_HORIZONTAL);
    if (bar == nullptr)
        return false;
    bar->SetToolBitmapSize(wxSize(16, 16));
    // A zero marks a separator. Buttons whose command can be marked are toggle buttons, so
    // that they show pressed while the command is marked.
    static const int kButtons[] = {ID_FILE_OPEN,
                                   ID_FILE_CLOSE,
                                   0,
                                   ID_EDIT_ROTATE,
                                   ID_EDIT_RESET_POSITION,
                                   ID_EDIT_SMOOTH_SHADING,
                                   ID_EDIT_WIREFRAME_DISPLAY,
                                   ID_EDIT_TOGGLE_TEXTURE,
                                   ID_EDIT_SURFACE_COLOUR,
                                   0,
                                   ID_FILE_PRINT,
                                   0,
                                   ID_APP_ABOUT};
    for (int id : kButtons)
    {
        if (id == 0)
        {
            bar->AddSeparator();
            continue;
        }
        const bool toggles = id == ID_EDIT_ROTATE || id == ID_EDIT_SMOOTH_SHADING ||
                             id == ID_EDIT_WIREFRAME_DISPLAY || id == ID_EDIT_TOGGLE_TEXTURE;
        const wxBitmap bitmap = KV_ToolbarBitmap(id);
        if (!bitmap.IsOk())
            return false;
        bar->AddTool(KV_MenuId(id), Tooltip(id), bitmap, wxNullBitmap,
                     toggles ? wxITEM_CHECK : wxITEM_NORMAL, Tooltip(id), Prompt(id));
    }
    return bar->Realize();
}

void CMainFrame::ShowDocumentTitle(const wxString& title)
{
    SetTitle(title + " - " KV_APP_TITLE);
}

void CMainFrame::UpdateRecentFileMenu(const wxFileHistory& history)
{
    if (mpkFileMenu == nullptr)
        return;
    const int first = KV_MenuId(ID_FILE_MRU_FILE1);
    for (int i = 0; i < KV_RECENT_FILE_COUNT; ++i)
        if (mpkFileMenu->FindItem(first + i) != nullptr)
            mpkFileMenu->Destroy(first + i);
    // The entries go after the second-last separator (before the one above Exit).
    const size_t count = mpkFileMenu->GetMenuItemCount();
    size_t position = count >= 2 ? count - 2 : 0;
    if (history.GetCount() == 0)
    {
        mpkFileMenu->Insert(position, first, "Recent File");
        mpkFileMenu->Enable(first, false);
        return;
    }
    for (size_t i = 0; i < history.GetCount() && i < KV_RECENT_FILE_COUNT; ++i)
    {
        const wxString path = history.GetHistoryFile(i);
        mpkFileMenu->Insert(position + i, first + static_cast<int>(i),
                            KV_RecentFileLabel(static_cast<int>(i), path), "Open this document");
    }
}

bool CMainFrame::TryBefore(wxEvent& event)
{
    // The view is a child of the frame, and command events climb from children to their
    // parents: handle the event in the view alone (no propagation), or we would see it again.
    const wxEventType type = event.GetEventType();
    if (mpkCommandTarget != nullptr && (type == wxEVT_MENU || type == wxEVT_UPDATE_UI) &&
        event.GetEventObject() != mpkCommandTarget)
    {
        if (mpkCommandTarget->GetEventHandler()->ProcessEventLocally(event))
            return true;
    }
    return wxFrame::TryBefore(event);
}

void CMainFrame::OnIdle(wxIdleEvent& event)
{
    wxStatusBar* bar = GetStatusBar();
    if (bar != nullptr)
    {
        for (int i = 0; i < kIndicatorCount; ++i)
        {
            const int on = wxGetKeyState(kIndicatorKeys[i]) ? 1 : 0;
            if (on != mnIndicators[i])
            {
                mnIndicators[i] = on;
                bar->SetStatusText(on ? kIndicatorTexts[i] : "", 1 + i);
            }
        }
    }
    event.Skip();
}

void CMainFrame::OnExit(wxCommandEvent&)
{
    Close();
}

void CMainFrame::OnRecentFile(wxCommandEvent& event)
{
    wxGetApp().OpenRecentFile(event.GetId() - KV_MenuId(ID_FILE_MRU_FILE1));
}
