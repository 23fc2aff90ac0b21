#pragma once
// KV_ViewServices: what the 3D view asks of the program around it (the application object): the
// print settings every print shares, the main window for its dialogs and status text, and the
// first-frame benchmark. The view is given one instead of reaching for the application, so
// the view's files and the application's do not include each other.

class wxFrame;
class wxPageSetupDialogData;
class wxPrintDialogData;

class KV_ViewServices
{
public:
    virtual ~KV_ViewServices() = default;
    virtual wxPrintDialogData& PrintDialogData() = 0;
    virtual wxPageSetupDialogData& PageSetupData() = 0;
    // The main window; null once it is gone.
    virtual wxFrame* MainWindow() const = 0;
    // Whether the first frame with a surface ends the program (--benchmark-first-frame), and
    // the call that says it has been drawn.
    virtual bool BenchmarkFirstFrame() const = 0;
    virtual void BenchmarkFirstFrameShown() = 0;
    // Whether the program ends once a surface is shown and no work on it is left in the
    // background (--benchmark-idle), and the call that says so.
    virtual bool BenchmarkIdle() const = 0;
    virtual void BenchmarkIdleReached() = 0;
};
