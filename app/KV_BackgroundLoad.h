#pragma once
// KV_BackgroundLoad: reads and completes a surface file on a worker thread while the
// user-interface thread goes on handling its events (paints of the previous surface, the
// rotation timer, Esc and the Cancel button), so that the caller still gets its answer in
// one call. A cancelled load returns at once; its worker finishes the stage under way and
// throws its result away. Reports raised on the worker are shown by the user-interface
// thread (KV_InstallReportMessageBoxes); an exception of the load (memory exhausted) is
// thrown again to the caller.
//
// One load at a time: while one runs, menus and toolbar are disabled by the main frame
// and IsRunning() tells other ways of opening a file to wait their turn.

#include <wx/string.h>

#include <functional>
#include <memory>

class KV_MultiImage;
class KV_PolySurfaceGeometry3D;
struct KV_SurfaceReadReport;

// Where a load shows its progress (the main frame's status bar).
class KV_LoadProgressDisplay
{
public:
    virtual ~KV_LoadProgressDisplay() = default;
    // The stage text beside a moving gauge and a Cancel button.
    virtual void ShowLoadStage(const wxString& text) = 0;
    virtual void PulseLoad() = 0;
    // Gauge and button go; text stays in the message pane.
    virtual void EndLoadProgress(const wxString& text) = 0;
};

class KV_BackgroundLoad
{
public:
    enum class Result
    {
        Loaded,
        Failed,
        Cancelled
    };

    // Uploads a texture ahead of the actor that will show it (the view's
    // KV_TexturedActor3D::PrepareTexture): the image and the id of its geometry.
    using TexturePreparer = std::function<void(const KV_MultiImage& image, unsigned int owner)>;

    // Loads path; on Loaded, geometry is the new geometry (the caller owns it). report
    // receives what reading found (also on Failed). display may be null. When the surface
    // read has a texture, prepareTexture (when given) gets it on this thread while the
    // worker completes the surface: the two run at once, one on each core.
    static Result Run(const wxString& path, KV_LoadProgressDisplay* display,
                      KV_PolySurfaceGeometry3D*& geometry,
                      std::shared_ptr<const KV_SurfaceReadReport>& report,
                      const TexturePreparer& prepareTexture = TexturePreparer());
    static bool IsRunning();
    // Asks the running load to stop; nothing happens without one.
    static void Cancel();
    // Waits for cancelled loads to finish their stage (before the program ends).
    static void WaitForAbandoned();

    static constexpr const char* kStageReading = "Reading %s...";
    static constexpr const char* kStageCompleting = "Completing the surface...";
    static constexpr const char* kStagePreparingTexture = "Preparing the texture...";
};
