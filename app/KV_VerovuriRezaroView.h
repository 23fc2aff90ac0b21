#pragma once
// KV_VerovuriRezaroView: the 3D view. A GL canvas made with the renderer's window pixel
// format, whose X window is the renderer's device context. It turns the document's geometry
// into an actor, draws it on every paint, hands mouse messages, the wheel, the standard views
// and its timers to its controller (view/KV_ViewController, which holds the rules of
// turning, rolling, moving, zooming, the continuous rotation and the coarse frames), carries
// out the Edit commands and the File commands that concern the view (Open, Close, Export,
// Print, Print Preview), measures (Measure mode's picks, distances and polygon selection,
// KV_ViewMeasure.cpp), and reports rendering failures in fixed messages. A renderer that
// cannot be initialised ends the program with exit status 1 after its message.

#include <wx/colour.h>
#include <wx/glcanvas.h>
#include <wx/timer.h>

#include <atomic>
#include <memory>
#include <vector>

#include "app/KV_PrintFit.h"
#include "foundation/KV_Executor.h"
#include "app/KV_ViewRenderer.h"
#include "render/KV_TexturedActor3D.h"
#include "view/KV_CoarseCopy.h"
#include "view/KV_MeasureSession.h"
#include "view/KV_ViewController.h"

class KV_VerovuriRezaroDoc;
class KV_PolySurfaceGeometry3D;
class KV_Actor3D;
class KV_Executor;
class KV_ViewServices;
class KV_MultiImage;
class KV_PolySurface;
class KV_SurfacePicker;
class wxDC;
class wxPageSetupDialogData;
class wxPrintout;

// The Export command's proposed file name: the document's path without its last four
// characters (".osf"), then ".wrl"; just ".wrl" for a shorter path.
wxString KV_DefaultExportName(const wxString& pathName);

class KV_VerovuriRezaroView : public wxGLCanvas
{
public:
    // services: the program around the view (it outlives the view).
    KV_VerovuriRezaroView(wxWindow* parent, KV_VerovuriRezaroDoc* document,
                          KV_ViewServices& services);
    ~KV_VerovuriRezaroView() override;

    // Whether the display offers the window pixel format at all; without it no view can be
    // made (the caller reports kMsgInitialise and ends the program).
    static bool IsWindowFormatAvailable();

    KV_VerovuriRezaroDoc* GetDocument() const { return mpkDocument; }

    // The client area in the pixels OpenGL draws: under a desktop scale factor (GDK_SCALE=2)
    // twice the window's logical size, so that frames are drawn sharp, not stretched.
    wxSize DrawingSize() const;

    // Document notifications: hint 0 removes the geometry's actor, hint 1 adds an actor for
    // it; then a repaint is requested.
    void OnUpdate(int hint, KV_PolySurfaceGeometry3D* geometry);
    // Uploads the texture of a surface still being completed into the window's context
    // (KV_PreparedTexture), for the actor the view next makes for that geometry to adopt;
    // nothing before the window exists or while the view draws off-screen. Discard deletes
    // one not adopted.
    void PrepareTexture(const KV_MultiImage& image, unsigned int owner);
    void DiscardPreparedTexture();
    // How many of the textures prepared here actors have adopted.
    unsigned int AdoptedTextureCount() const { return mkPreparedTexture.AdoptionCount(); }

    // Draws the scene on the printout's page, for a printer or the print preview: the
    // window's shape fitted into the printable area (the page inside setup's margins),
    // rendered off-screen and placed at the area's top-left corner by the printout's
    // mapping. Failures show "Error - Unable to print, Please contact Orvane support".
    void OnDrawPrint(wxPrintout& printout, const wxPageSetupDialogData& setup);

    // The program around the view.
    KV_ViewServices& Services() { return mkServices; }

    // State for the program's own checks.
    KV_OGLRenderer& Renderer() { return mkRenderer; }
    bool IsRotating() const { return mkController.IsRotating(); }
    bool IsRendererReady() const { return mbCreated; }
    unsigned int GetKeyFlags() const { return mkController.KeyFlags(); }
    // The fit of the last page drawn for printing (zero before the first).
    const KV_PrintFit& LastPrintFit() const { return mkLastPrintFit; }
    // Frames drawn on screen so far (a kept frame shown again is none).
    unsigned long FrameCount() const { return munFrameCount; }
    // Kept frames shown again for the window system.
    unsigned long KeptFrameCount() const { return munKeptFrameCount; }
    // Every refresh asked for, by the program or anyone else, draws the scene anew; only the
    // window system's own requests to draw the window again may show the kept frame.
    void Refresh(bool eraseBackground = true, const wxRect* rect = nullptr) override
    {
        mbSceneShown = false;
        wxGLCanvas::Refresh(eraseBackground, rect);
    }

    // The scene drawn off-screen at width x height (each 1 to 8192), top row first; an
    // invalid image when the off-screen context cannot be made. The view's own frame and
    // projection are unchanged afterwards.
    wxImage RenderImage(int width, int height);
    bool AreHolesShown() const { return mbHolesShown; }
    // Measure mode: whether it is on, and the points picked so far.
    bool IsMeasuring() const { return mbMeasuring; }
    bool IsOrthographic() const { return mbOrthographic; }
    const KV_MeasureSession& Measure() const { return mkMeasure; }
    // The camera of the last frame on screen (false before one with a surface).
    bool LastCamera(KV_PickCamera& camera) const { return mkRenderer.LastCamera(camera); }
    // The selected polygons, in increasing order.
    const std::vector<unsigned int>& Selection() const { return mkSelection; }
    // The surface point under window point (x, y) (logical pixels) in the last frame drawn
    // on screen; false where no surface shows. Makes the picker on first use, or waits for
    // the one being made; without wait, false while the picker is not ready yet (it is begun
    // on the executor then).
    bool PickAt(int x, int y, KV_PickHit& hit, bool wait = true);
    // Level of detail: whether the coarse copy of the surface has arrived, and whether the
    // last frame drew it.
    bool HasCoarseSurface();
    bool LastFrameWasCoarse() const { return mkController.LastFrameWasCoarse(); }
    // Whether a coarse copy is being made for the surface shown now.
    bool IsSimplifying() const;
    // Seconds a full frame may take before motion draws the coarse copy (1/20 s).
    void SetCoarseThreshold(double seconds) { mkController.SetCoarseThreshold(seconds); }
    // The program's executor: the deferred completion and the coarse copy run there (not
    // owned; null: neither runs in the background).
    void SetExecutor(KV_Executor* executor) { mpkExecutor = executor; }

    // Where PrintDirect writes its PostScript page when the print settings name no file.
    wxString DefaultPrintFileName() const;

    // Key-flag bits of the last mouse message.
    enum
    {
        KEY_LEFT = KV_ViewController::KEY_LEFT,
        KEY_RIGHT = KV_ViewController::KEY_RIGHT,
        KEY_SHIFT = KV_ViewController::KEY_SHIFT
    };

    static constexpr const char* kMsgInitialise =
        "Error - unable to initialise, Please contact Orvane Support";
    static constexpr const char* kMsgLighting =
        "Error - unable to initialise lighting, Please contact Orvane Support";
    static constexpr const char* kMsgAddActor =
        "Error - unable to add actor, Please contact Orvane Support";
    static constexpr const char* kMsgResetCamera =
        "Error - unable to reset camera, Please contact Orvane Support";
    static constexpr const char* kMsgRender =
        "Error - Unable to render, Please contact Orvane support";
    static constexpr const char* kMsgPrint =
        "Error - Unable to print, Please contact Orvane support";
    // Shown in the middle of a view without a surface.
    static constexpr const char* kEmptyHint = "Open a surface (Ctrl+O) or drop a file here";

private:
    // What the controller moves and asks of the window (KV_VerovuriRezaroView.cpp).
    class ControllerLink;

    // The scene drawn into a memory context of width x height (the off-screen picture of
    // printing, Save Image and Copy View, KV_ViewPrintout.cpp); an invalid image when the
    // context cannot be made or the drawing fails. The window's context is current after.
    wxImage DrawOffScreen(int width, int height);
    // Window life.
    void OnWindowCreate(wxWindowCreateEvent& event);
    bool OnCreate();
    void OnInitialUpdate();
    void OnDestroyWindow();
    void OnSize(wxSizeEvent& event);
    void OnEraseBackground(wxEraseEvent& event);
    void OnPaint(wxPaintEvent& event);

    // Scene.
    void AddSurfaceActor(KV_Actor3D* actor);
    void ResetView();
    void ResetCamera();
    KV_Actor3D* FirstActor();
    void Repaint() { Refresh(false); }

    // Mouse and timers: handed to the controller.
    void OnButtonDown(wxMouseEvent& event);
    void OnButtonUp(wxMouseEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnTimer(wxTimerEvent& event);
    wxTimer& Timer(KV_ViewTimer timer);
    unsigned int KeyFlagsOf(const wxMouseEvent& event) const;

    // Commands.
    void OnResetPosition(wxCommandEvent& event);
    void OnSmoothShading(wxCommandEvent& event);
    void OnWireframeDisplay(wxCommandEvent& event);
    void OnToggleTexture(wxCommandEvent& event);
    void OnBackgroundColour(wxCommandEvent& event);
    void OnSurfaceColour(wxCommandEvent& event);
    void OnRotate(wxCommandEvent& event);
    void OnFileOpen(wxCommandEvent& event);
    void OnFileClose(wxCommandEvent& event);
    void OnFileExport(wxCommandEvent& event);
    void OnFileSaveAs(wxCommandEvent& event);
    void OnFilePrint(wxCommandEvent& event);
    void OnFilePrintDirect(wxCommandEvent& event);
    void OnFilePrintPreview(wxCommandEvent& event);

    // Command states.
    void OnUpdateNeedsGeometry(wxUpdateUIEvent& event);
    void OnUpdateNeedsActors(wxUpdateUIEvent& event);
    void OnUpdateSmoothShading(wxUpdateUIEvent& event);
    void OnUpdateWireframeDisplay(wxUpdateUIEvent& event);
    void OnUpdateToggleTexture(wxUpdateUIEvent& event);
    void OnUpdateRotate(wxUpdateUIEvent& event);

    void ShowMessage(const char* text);

    // Inspection and pictures (KV_ViewInspection.cpp): Surface Properties, Show Holes,
    // the standard views, the mouse wheel, Save Image and Copy View.
    void BindInspectionCommands();
    void OnSurfaceProperties(wxCommandEvent& event);
    void OnShowHoles(wxCommandEvent& event);
    void OnStandardView(wxCommandEvent& event);
    void OnMouseWheel(wxMouseEvent& event);
    void OnSaveImage(wxCommandEvent& event);
    void OnCopyView(wxCommandEvent& event);
    void OnUpdateShowHoles(wxUpdateUIEvent& event);
    void ApplyHolesShown();
    // The empty view's hint, drawn in the background colour of the moment.
    void UpdateHint();

    // Measure mode (KV_ViewMeasure.cpp): a click without a drag picks a point, a second
    // one measures the distance to it, Esc clears; drags still turn the view.
    void BindMeasureCommands();
    void OnMeasureMode(wxCommandEvent& event);
    void OnUpdateMeasureMode(wxUpdateUIEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void MeasureClick(int x, int y);
    void ClearMeasure();
    // The surface shown changed or went: the picker made for it is dropped with the marks
    // and the selection.
    void ForgetPicker();
    // Selection in Measure mode: Shift+drag adds the polygons of a rectangle, Ctrl+Shift+drag
    // takes them away; the Edit menu selects all, inverts or clears; Save Selection As
    // writes the selected polygons alone.
    void BeginSelection(int x, int y, bool remove);
    void DragSelection(int x, int y);
    void EndSelection(int x, int y);
    // selection: increasing polygon indices, each once.
    void ApplySelection(std::vector<unsigned int> selection);
    void OnSelectionCommand(wxCommandEvent& event);
    void OnSaveSelection(wxCommandEvent& event);
    void OnUpdateSaveSelection(wxUpdateUIEvent& event);
    // Navigation: the wheel over the surface zooms toward the point under the pointer
    // (false, nothing done, where no surface shows there); a double-click on the surface
    // turns the view about the point clicked until Fit or Reset Position.
    bool ZoomTowardPointer(const wxPoint& position, int rotation);
    // View > Orthographic: parallel projection, the picture keeping its size at the depth of
    // the centre the view turns about; zooming then scales the projection's box instead of
    // moving the eye.
    void OnOrthographic(wxCommandEvent& event);
    void OnUpdateOrthographic(wxUpdateUIEvent& event);
    // The depth in front of the eye of the centre the view turns about, in the last frame.
    double RotationCentreDepth() const;
    // Orthographic zoom: the box scaled by scale about its middle.
    void ScaleOrthographic(double scale);
    void OnDoubleClick(wxMouseEvent& event);
    void RestoreRotationCentre();

    // Level of detail (KV_ViewLevelOfDetail.cpp): when the controller says so (shortly
    // after the first full frame of a new surface) a coarse copy of its triangles, sized by
    // that frame's time, is made on the executor; while the controller calls for coarse
    // frames, paints draw the copy. A new surface, closing and the view's end abandon a copy
    // in the making without waiting for it.
    void StartLevelOfDetail(double fullFrameSeconds);
    void AbandonLevelOfDetail();
    // Hands the surface's deferred lists to the executor. Held back while a coarse copy is
    // coming: the copy's working memory and those lists are never both in the making.
    void StartSurfaceCompletion();
    // Once the surface is on screen its pictures are kept packed (the drawing has its own).
    void StartPicturePacking();
    // Chooses the coarse copy for the next frame when allowed and called for; returns the
    // choice. Called with false after each frame, so that no other picture draws the copy.
    bool PrepareFrameDetail(bool allowed);

    KV_ViewRenderer mkRenderer;
    KV_DeviceContext mkDC;
    KV_VerovuriRezaroDoc* mpkDocument;
    std::unique_ptr<ControllerLink> mpkLink;
    KV_ViewController mkController;
    // Numbered as KV_ViewTimer numbers them, from 1.
    wxTimer mkTimers[3];
    // --benchmark-idle: looks, from the first frame on, for the moment no work on the
    // surface is left in the background.
    wxTimer mkIdleWatch;
    int mnIdleTicks = 0;
    void OnIdleWatch(wxTimerEvent& event);
    bool mbCreated = false;
    bool mbCleanedUp = false;
    bool mbShowingRenderError = false;
    unsigned long munFrameCount = 0;
    unsigned long munKeptFrameCount = 0;
    // The last frame drawn shows the scene as it is: nothing has asked for a refresh since.
    bool mbSceneShown = false;
    bool mbHolesShown = false;
    KV_Executor* mpkExecutor = nullptr;
    KV_CoarseCopy mkCoarseCopy;
    KV_PreparedTexture mkPreparedTexture;
    wxColour mkHintBackground;
    KV_PrintFit mkLastPrintFit;
    bool mbMeasuring = false;
    KV_MeasureSession mkMeasure;
    std::unique_ptr<KV_SurfacePicker> mpkPicker;
    // The surface the picker was made for.
    const KV_PolySurface* mpkPickedSurface = nullptr;
    // The picker's hierarchy while it is made on the executor (a second on a 4M-triangle
    // surface), begun by Measure mode or the first wheel turn over the surface; the flag
    // stops it when the surface goes.
    std::atomic<bool> mbPickerStop{false};
    KV_Task<bool> mkPickerBuild;
    // Begins the picker of surface on the executor unless it is there or under way.
    void BeginPicker(const KV_PolySurface& surface);
    // The surface shown, or null.
    const KV_PolySurface* ShownSurface() const;
    bool mbOrthographic = false;
    std::vector<unsigned int> mkSelection;
    bool mbSelecting = false;
    bool mbSelectionRemoves = false;
    wxPoint mkSelectionStart;
    KV_ViewServices& mkServices;
};
