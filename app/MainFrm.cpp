#include "app/MainFrm.h"

#include "app/KV_AppPictures.h"
#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <wx/button.h>
#include <wx/config.h>
#include <wx/display.h>
#include <wx/filehistory.h>
#include <wx/filename.h>
#include <wx/gauge.h>
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

// A menu item's or a toolbar button's update, not a window's update of itself (the frame,
// the bars, the Cancel button).
bool IsCommandUpdate(const wxEvent& event)
{
    // dynamic_cast, not wxDynamicCast: the toolkit's macro casts down before it checks the
    // class, which the undefined-behaviour sanitizer rightly refuses for a menu.
    const wxWindow* window = dynamic_cast<const wxWindow*>(event.GetEventObject());
    return event.GetEventType() == wxEVT_UPDATE_UI &&
           (window == nullptr || event.GetId() != window->GetId());
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
    RestorePlacement();
    Bind(wxEVT_IDLE, &CMainFrame::OnIdle, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
    Bind(wxEVT_CHAR_HOOK, &CMainFrame::OnCharHook, this);
    mkPulse.Bind(wxEVT_TIMER,
                 [this](wxTimerEvent&)
                 {
                     if (mpkLoadGauge != nullptr)
                         mpkLoadGauge->Pulse();
                 });
    Bind(wxEVT_BUTTON, &CMainFrame::OnCancelLoad, this, KV_MenuId(ID_LOAD_CANCEL));
    Bind(wxEVT_MENU, &CMainFrame::OnExit, this, KV_MenuId(ID_APP_EXIT));
    Bind(wxEVT_MENU, &CMainFrame::OnRecentFile, this, KV_MenuId(ID_FILE_MRU_FILE1),
         KV_MenuId(ID_FILE_MRU_FILE1) + KV_RECENT_FILE_COUNT - 1);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateRecentFile, this, KV_MenuId(ID_FILE_MRU_FILE1),
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
    AppendCommand(file, ID_FILE_SAVE_SELECTION, "Save Se&lection As...");
    AppendCommand(file, ID_FILE_SAVE_IMAGE, "Save &Image...");
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
    edit->AppendSeparator();
    AppendCommand(edit, ID_EDIT_COPY_VIEW, "Copy &View");
    edit->AppendSeparator();
    AppendCommand(edit, ID_EDIT_SELECT_ALL, "Select A&ll");
    AppendCommand(edit, ID_EDIT_INVERT_SELECTION, "&Invert Selection");
    AppendCommand(edit, ID_EDIT_CLEAR_SELECTION, "Cl&ear Selection");

    wxMenu* view = new wxMenu;
    AppendCommand(view, ID_VIEW_PROPERTIES, "Surface &Properties...\tAlt+Enter");
    AppendCommand(view, ID_VIEW_SHOW_HOLES, "Show &Holes", wxITEM_CHECK);
    AppendCommand(view, ID_VIEW_MEASURE, "&Measure\tM", wxITEM_CHECK);
    AppendCommand(view, ID_VIEW_ORTHOGRAPHIC, "Orthogr&aphic", wxITEM_CHECK);
    view->AppendSeparator();
    AppendCommand(view, ID_VIEW_FRONT, "&Front\t1");
    AppendCommand(view, ID_VIEW_BACK, "&Back\t2");
    AppendCommand(view, ID_VIEW_LEFT, "&Left\t3");
    AppendCommand(view, ID_VIEW_RIGHT, "&Right\t4");
    AppendCommand(view, ID_VIEW_TOP, "&Top\t5");
    AppendCommand(view, ID_VIEW_BOTTOM, "B&ottom\t6");
    AppendCommand(view, ID_VIEW_FIT, "F&it\t0");

    wxMenu* help = new wxMenu;
    AppendCommand(help, ID_APP_ABOUT, "&About Orvane Image View...");

    wxMenuBar* bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(edit, "&Edit");
    bar->Append(view, "&View");
    bar->Append(help, "&Help");
    SetMenuBar(bar);
    // Every shortcut the menus show, for OnCharHook.
    std::vector<wxAcceleratorEntry> shortcuts;
    for (size_t m = 0; m < bar->GetMenuCount(); ++m)
        for (const wxMenuItem* item : bar->GetMenu(m)->GetMenuItems())
        {
            const std::unique_ptr<wxAcceleratorEntry> shortcut(item->GetAccel());
            if (shortcut != nullptr && shortcut->IsOk())
                shortcuts.emplace_back(shortcut->GetFlags(), shortcut->GetKeyCode(), item->GetId());
        }
    mkShortcuts = wxAcceleratorTable(static_cast<int>(shortcuts.size()), shortcuts.data());
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
    bar->Bind(wxEVT_SIZE,
              [this](wxSizeEvent& event)
              {
                  event.Skip();
                  PlaceLoadControls();
              });
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
                                   ID_VIEW_MEASURE,
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
                             id == ID_EDIT_WIREFRAME_DISPLAY || id == ID_EDIT_TOGGLE_TEXTURE ||
                             id == ID_VIEW_MEASURE;
        // On a 2x screen the pictures with doubled pixels; otherwise the plain ones, exactly
        // as drawn.
        const wxBitmapBundle bitmap = GetContentScaleFactor() > 1.0
                                          ? KV_ToolbarBundle(id)
                                          : wxBitmapBundle(KV_ToolbarBitmap(id));
        if (!bitmap.IsOk())
            return false;
        bar->AddTool(KV_MenuId(id), Tooltip(id), bitmap, wxBitmapBundle(),
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
    mnRecentFiles = static_cast<int>(std::min<size_t>(history.GetCount(), KV_RECENT_FILE_COUNT));
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
    // While a file loads, commands wait: the document and the view are in the middle of a
    // change. The load's own Cancel button is a button, not a command.
    if (IsLoading())
    {
        if (event.GetEventType() == wxEVT_MENU)
            return true;
        // Only the menus' and the toolbar's commands: a window's own update must not disable
        // the window.
        if (IsCommandUpdate(event))
        {
            static_cast<wxUpdateUIEvent&>(event).Enable(false);
            return true;
        }
    }
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

bool CMainFrame::TryAfter(wxEvent& event)
{
    if (wxFrame::TryAfter(event))
        return true;
    // A command nobody updates is always available. Saying so explicitly matters: a load
    // disables every command while it runs, and a button or item nobody updates afterwards
    // (Open, Print, About, Exit) would stay disabled for good.
    if (IsCommandUpdate(event))
    {
        static_cast<wxUpdateUIEvent&>(event).Enable(true);
        return true;
    }
    return false;
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

// The place is the corner of the window manager's frame around the window, as the toolkit
// reads it once the window is shown, and as Move puts it back. The size is the window's
// client area: the manager adds its frame (title bar, borders) around that, and a frame
// size saved and restored as a window size would grow by the frame's size every run, since
// a new window does not know its frame until it is shown.
void CMainFrame::RestorePlacement()
{
    wxConfigBase* config = wxConfigBase::Get(false);
    if (config == nullptr)
        return;
    long x = 0, y = 0, width = 0, height = 0;
    if (!config->Read("/Window/X", &x) || !config->Read("/Window/Y", &y) ||
        !config->Read("/Window/ClientWidth", &width) ||
        !config->Read("/Window/ClientHeight", &height))
        return;
    // A size from a larger screen or a place on a display that is gone would leave the
    // window unreachable.
    if (width < 200 || height < 100 || width > 16384 || height > 16384)
        return;
    const wxRect rect(static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
                      static_cast<int>(height));
    if (wxDisplay::GetFromPoint(rect.GetTopLeft() + wxPoint(40, 10)) == wxNOT_FOUND)
        return;
    Move(rect.GetTopLeft());
    SetClientSize(rect.GetSize());
    if (config->ReadBool("/Window/Maximized", false))
        Maximize();
}

void CMainFrame::SavePlacement()
{
    wxConfigBase* config = wxConfigBase::Get(false);
    if (config == nullptr || IsIconized())
        return;
    // A maximised window keeps the size it returns to.
    const bool maximised = IsMaximized();
    if (!maximised)
    {
        const wxPoint place = GetPosition();
        const wxSize size = GetClientSize();
        config->Write("/Window/X", static_cast<long>(place.x));
        config->Write("/Window/Y", static_cast<long>(place.y));
        config->Write("/Window/ClientWidth", static_cast<long>(size.x));
        config->Write("/Window/ClientHeight", static_cast<long>(size.y));
    }
    config->Write("/Window/Maximized", maximised);
    config->Flush();
}

void CMainFrame::OnClose(wxCloseEvent& event)
{
    // Closing stops a load first; its worker is waited for when the document goes.
    if (IsLoading())
        CancelLoad();
    mkPulse.Stop();
    SavePlacement();
    event.Skip();
}

void CMainFrame::OnCharHook(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_ESCAPE && IsLoading())
    {
        CancelLoad();
        return;
    }
    // The toolkit looks for the menus' shortcuts only after the window with the keyboard has
    // declined the key. The 3D view has the keyboard once it has been clicked, and there
    // plain keys (1 to 6, 0) end unused without reaching the menus. So the frame carries out
    // a shortcut of its menus here, whichever child has the keyboard, as the menu would:
    // only while the command is enabled.
    if (const wxAcceleratorEntry* shortcut = mkShortcuts.GetEntry(event))
    {
        if (RunShortcut(shortcut->GetCommand()))
            return;
    }
    event.Skip();
}

bool CMainFrame::RunShortcut(int id)
{
    wxUpdateUIEvent state(id);
    state.SetEventObject(this);
    GetEventHandler()->ProcessEvent(state);
    if (state.GetSetEnabled() && !state.GetEnabled())
        return false;
    wxCommandEvent command(wxEVT_MENU, id);
    command.SetEventObject(this);
    // A check item's command says the state it turns to, as the menu's would.
    const wxMenuItem* item = GetMenuBar() != nullptr ? GetMenuBar()->FindItem(id) : nullptr;
    if (item != nullptr && item->IsCheckable())
        command.SetInt(state.GetSetChecked() ? !state.GetChecked() : !item->IsChecked());
    GetEventHandler()->ProcessEvent(command);
    return true;
}

void CMainFrame::OnCancelLoad(wxCommandEvent&)
{
    CancelLoad();
}

void CMainFrame::PlaceLoadControls()
{
    wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr || mpkLoadGauge == nullptr)
        return;
    wxRect pane;
    if (!bar->GetFieldRect(0, pane))
        return;
    const wxSize button = mpkLoadCancel->GetBestSize();
    const int height = pane.height;
    const int gaugeWidth = FromDIP(160);
    mpkLoadCancel->SetSize(pane.GetRight() - button.x, pane.y, button.x, height);
    mpkLoadGauge->SetSize(pane.GetRight() - button.x - gaugeWidth - 4, pane.y + 2, gaugeWidth,
                          height - 4);
}

void CMainFrame::ShowLoadStage(const wxString& text)
{
    wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr)
        return;
    if (mpkLoadGauge == nullptr)
    {
        mpkLoadGauge = new wxGauge(bar, wxID_ANY, 100, wxDefaultPosition, wxDefaultSize,
                                   wxGA_HORIZONTAL | wxGA_SMOOTH);
        mpkLoadCancel = new wxButton(bar, KV_MenuId(ID_LOAD_CANCEL), "Cancel", wxDefaultPosition,
                                     wxDefaultSize, wxBU_EXACTFIT);
        mpkLoadCancel->SetToolTip(Tooltip(ID_LOAD_CANCEL) + " (Esc)");
        PlaceLoadControls();
    }
    SetStatusText(text, 0);
    mpkLoadGauge->Pulse();
    if (!mkPulse.IsRunning())
        mkPulse.Start(100);
    bar->Update();
}

void CMainFrame::SetLoadControl(std::function<bool()> isLoading, std::function<void()> cancel)
{
    mkIsLoading = std::move(isLoading);
    mkCancelLoad = std::move(cancel);
}

void CMainFrame::CancelLoad()
{
    if (mkCancelLoad)
        mkCancelLoad();
}

void CMainFrame::EndLoadProgress(const wxString& text)
{
    mkPulse.Stop();
    if (mpkLoadGauge != nullptr)
    {
        mpkLoadGauge->Destroy();
        mpkLoadCancel->Destroy();
        mpkLoadGauge = nullptr;
        mpkLoadCancel = nullptr;
    }
    SetStatusText(text, 0);
}

void CMainFrame::OnExit(wxCommandEvent&)
{
    Close();
}

void CMainFrame::OnRecentFile(wxCommandEvent& event)
{
    if (mkOpenRecent)
        mkOpenRecent(event.GetId() - KV_MenuId(ID_FILE_MRU_FILE1));
}

void CMainFrame::OnUpdateRecentFile(wxUpdateUIEvent& event)
{
    // The placeholder of an empty list stays disabled.
    event.Enable(event.GetId() - KV_MenuId(ID_FILE_MRU_FILE1) < mnRecentFiles);
}
