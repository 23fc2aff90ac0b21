#pragma once
// KV_SplashWnd: the borderless start-up picture shown over the main frame for 750 ms. It
// closes itself on its timer only; clicks and keys do not close it earlier (the toolkit's
// ready-made splash screen would).

#include <wx/bitmap.h>
#include <wx/frame.h>
#include <wx/timer.h>

class KV_SplashWnd : public wxFrame
{
public:
    // Sets the process-wide flag that ShowSplashScreen obeys.
    static void EnableSplashScreen(bool enable = true);
    // Shows the splash window centred over the parent, unless the flag is off or one is
    // already shown. A picture or window that cannot be made means no splash; start-up goes on.
    static void ShowSplashScreen(wxWindow* parent);
    // The owner has just been shown: the splash window moves to its centre and on top.
    static void OwnerShown();
    // The splash window being shown, or null.
    static KV_SplashWnd* Current() { return cpkSplashWnd; }

    ~KV_SplashWnd() override;

    static constexpr int kmsDisplayTime = 750;

private:
    KV_SplashWnd() = default;
    bool Create(wxWindow* parent);
    void OnPaint(wxPaintEvent& event);
    void OnTimer(wxTimerEvent& event);
    // The owner moved or changed size: centre over it again.
    static void OnOwnerMoved(wxEvent& event);

    wxBitmap mkBitmap;
    wxTimer mkTimer;

    static bool cbShowSplashWnd;
    static KV_SplashWnd* cpkSplashWnd;
};
