#include "app/KV_SplashWnd.h"

#include "app/KV_AppPictures.h"
#include "app/KV_Resource.h"

#include <wx/app.h>
#include <wx/dcclient.h>

bool KV_SplashWnd::cbShowSplashWnd = false;
KV_SplashWnd* KV_SplashWnd::cpkSplashWnd = nullptr;

void KV_SplashWnd::EnableSplashScreen(bool enable)
{
    cbShowSplashWnd = enable;
}

void KV_SplashWnd::ShowSplashScreen(wxWindow* parent)
{
    if (!cbShowSplashWnd || cpkSplashWnd != nullptr)
        return;
    KV_SplashWnd* splash = new KV_SplashWnd;
    cpkSplashWnd = splash;
    if (!splash->Create(parent))
    {
        delete splash;  // clears cpkSplashWnd
    }
}

bool KV_SplashWnd::Create(wxWindow* parent)
{
    mkBitmap = KV_LoadBitmap(IDB_SPLASH);
    if (!mkBitmap.IsOk())
        return false;
    // A pop-up of exactly the picture's size: no caption, no border, owned by the frame.
    if (!wxFrame::Create(
            parent, wxID_ANY, wxEmptyString, wxDefaultPosition,
            wxSize(mkBitmap.GetWidth(), mkBitmap.GetHeight()),
            wxBORDER_NONE | wxFRAME_NO_TASKBAR | wxFRAME_FLOAT_ON_PARENT | wxSTAY_ON_TOP))
        return false;
    SetCursor(*wxSTANDARD_CURSOR);
    SetClientSize(mkBitmap.GetWidth(), mkBitmap.GetHeight());
    // The frame may still be hidden; centre on the screen it will appear on.
    if (parent != nullptr && parent->IsShown())
        CentreOnParent();
    else
        CentreOnScreen();
    // The main frame gets its place from the window manager only after it is shown, and
    // the user may move it while the picture is up: follow it.
    if (parent != nullptr)
    {
        parent->Bind(wxEVT_MOVE, &KV_SplashWnd::OnOwnerMoved);
        parent->Bind(wxEVT_SIZE, &KV_SplashWnd::OnOwnerMoved);
    }
    Bind(wxEVT_PAINT, &KV_SplashWnd::OnPaint, this);
    mkTimer.SetOwner(this, 1);
    Bind(wxEVT_TIMER, &KV_SplashWnd::OnTimer, this);
    mkTimer.StartOnce(kmsDisplayTime);
    Show();
    // A window without decorations and children shrinks when shown; give it its size back.
    SetSize(mkBitmap.GetWidth(), mkBitmap.GetHeight());
    return true;
}

KV_SplashWnd::~KV_SplashWnd()
{
    mkTimer.Stop();
    if (GetParent() != nullptr)
    {
        GetParent()->Unbind(wxEVT_MOVE, &KV_SplashWnd::OnOwnerMoved);
        GetParent()->Unbind(wxEVT_SIZE, &KV_SplashWnd::OnOwnerMoved);
    }
    if (cpkSplashWnd == this)
        cpkSplashWnd = nullptr;
}

void KV_SplashWnd::OwnerShown()
{
    KV_SplashWnd* splash = cpkSplashWnd;
    if (splash == nullptr)
        return;
    // Without a window manager nothing keeps an owned window above its owner.
    if (splash->GetParent() != nullptr)
        splash->CentreOnParent();
    splash->Raise();
    // Start-up may take the whole 750 ms before the event loop runs, and the toolkit paints
    // after timers: let the window be mapped (window-system messages only, no input), then
    // draw the picture at once.
    wxTheApp->SafeYieldFor(nullptr, wxEVT_CATEGORY_UI);
    wxClientDC dc(splash);
    dc.DrawBitmap(splash->mkBitmap, 0, 0, false);
}

void KV_SplashWnd::OnOwnerMoved(wxEvent& event)
{
    event.Skip();
    KV_SplashWnd* splash = cpkSplashWnd;
    if (splash != nullptr && splash->GetParent() == event.GetEventObject())
        splash->CentreOnParent();
}

void KV_SplashWnd::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    dc.DrawBitmap(mkBitmap, 0, 0, false);
}

void KV_SplashWnd::OnTimer(wxTimerEvent&)
{
    // Forget the window at once, so that no one finds a window that is on its way out.
    if (cpkSplashWnd == this)
        cpkSplashWnd = nullptr;
    Destroy();
}
