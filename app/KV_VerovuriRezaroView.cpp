// The 3D view: window life, scene, mouse, timer and commands (printing is in KV_ViewPrintout.cpp).
#include "app/KV_VerovuriRezaroView.h"

#include "app/KV_AppPictures.h"
#include "app/KV_DocumentCoreBridge.h"
#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"
#include "app/KV_ViewServices.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "foundation/KV_Exception.h"
#include "measure/KV_SurfacePicker.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "render/KV_TexturedActor3D.h"
#include "render/KV_ViewDefaults.h"

#include <wx/dcclient.h>
#include <wx/filename.h>
#include <wx/utils.h>

// Only for the display's default screen number.
#include <X11/Xlib.h>

#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>

namespace
{
// The canvas's visual must be the one the renderer chooses for its window template: RGBA,
// double-buffered, 8 bits a channel and the deepest depth buffer up to 32 bits.
wxGLAttributes WindowTemplateAttributes()
{
    for (int depth : {32, 24, 16})
    {
        wxGLAttributes attributes;
        attributes.PlatformDefaults()
            .RGBA()
            .DoubleBuffer()
            .MinRGBA(8, 8, 8, 0)
            .Depth(depth)
            .EndList();
        if (wxGLCanvas::IsDisplaySupported(attributes))
            return attributes;
    }
    wxGLAttributes attributes;
    attributes.PlatformDefaults().RGBA().DoubleBuffer().EndList();
    return attributes;
}

KV_OGLColour ColourOf(const wxColour& colour, float alpha)
{
    return KV_OGLColour(colour.Red() / 255.0f, colour.Green() / 255.0f, colour.Blue() / 255.0f,
                        alpha);
}

// The idle watch's timer id, past the view timers' numbers.
constexpr int kIdleWatchId = 100;
constexpr KV_ViewTimer kTimers[] = {KV_ViewTimer::Rotation, KV_ViewTimer::Still,
                                    KV_ViewTimer::LevelOfDetail};
}  // namespace

// The renderer and the window as the controller sees them.
class KV_VerovuriRezaroView::ControllerLink : public KV_ViewScene, public KV_ViewHost
{
public:
    explicit ControllerLink(KV_VerovuriRezaroView& view) : mkView(view) {}

    bool IsReady() const override { return mkView.mbCreated; }
    bool HasActors() const override { return mkView.mkRenderer.GetActorCount() > 0; }
    const KV_ClippingVolume* ClippingVolume() const override
    {
        return mkView.mkRenderer.GetClippingVolume();
    }
    void Dolly(float d) override
    {
        // A parallel projection shows the same picture from every distance: the zoom scales
        // its box instead, by as much as the move would have enlarged the centre's depth.
        if (!mkView.mbOrthographic)
        {
            mkView.mkRenderer.Dolly(d);
            return;
        }
        const double depth = mkView.RotationCentreDepth();
        mkView.ScaleOrthographic(d >= 0.0f ? depth / (depth + d) : (depth - d) / depth);
    }
    void Pan(float a, float b) override { mkView.mkRenderer.Pan(a, b); }
    void Roll(float angle) override { mkView.mkRenderer.Roll(angle); }
    void RotateWorld(const KV_Vector3D& axis, float angle) override
    {
        mkView.mkRenderer.RotateWorld(axis, angle);
    }
    void UpdateNearFar() override { mkView.mkRenderer.UpdateNearFar(); }
    void ResetCamera() override { mkView.ResetCamera(); }

    void StartTimer(KV_ViewTimer timer, int milliseconds, bool once) override
    {
        if (once)
            mkView.Timer(timer).StartOnce(milliseconds);
        else
            mkView.Timer(timer).Start(milliseconds);
    }
    void StopTimer(KV_ViewTimer timer) override { mkView.Timer(timer).Stop(); }
    void Repaint() override { mkView.Repaint(); }
    bool IsCompletingSurface() const override
    {
        const KV_PolySurfaceGeometry3D* geometry =
            mkView.mpkDocument != nullptr ? mkView.mpkDocument->mpkSurfaceGeometry : nullptr;
        return geometry != nullptr && geometry->IsCompletionRunning();
    }
    void MakeCoarseCopy(double fullFrameSeconds) override
    {
        mkView.StartLevelOfDetail(fullFrameSeconds);
    }

private:
    KV_VerovuriRezaroView& mkView;
};

wxString KV_DefaultExportName(const wxString& pathName)
{
    return (pathName.length() >= 4 ? pathName.Left(pathName.length() - 4) : wxString()) + ".wrl";
}

wxSize KV_VerovuriRezaroView::DrawingSize() const
{
    const wxSize logical = GetClientSize();
    const double scale = GetContentScaleFactor();
    return wxSize(static_cast<int>(logical.x * scale + 0.5),
                  static_cast<int>(logical.y * scale + 0.5));
}

bool KV_VerovuriRezaroView::IsWindowFormatAvailable()
{
    Display* display = wxGetX11Display();
    unsigned long visualId = 0;
    int depth = 0;
    return display != nullptr &&
           KV_WGLRenderer::ChooseWindowVisual(display, DefaultScreen(display), visualId, depth);
}

KV_VerovuriRezaroView::KV_VerovuriRezaroView(wxWindow* parent, KV_VerovuriRezaroDoc* document,
                                             KV_ViewServices& services)
    : wxGLCanvas(parent, WindowTemplateAttributes(), wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxFULL_REPAINT_ON_RESIZE | wxWANTS_CHARS),
      mpkDocument(document),
      mpkLink(std::make_unique<ControllerLink>(*this)),
      mkController(*mpkLink, *mpkLink),
      mkServices(services)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    for (KV_ViewTimer timer : kTimers)
    {
        Timer(timer).SetOwner(this, static_cast<int>(timer));
        Bind(wxEVT_TIMER, &KV_VerovuriRezaroView::OnTimer, this, static_cast<int>(timer));
    }
    if (mpkDocument != nullptr)
        mpkDocument->SetView(this);
    mkIdleWatch.SetOwner(this, kIdleWatchId);
    Bind(wxEVT_TIMER, &KV_VerovuriRezaroView::OnIdleWatch, this, kIdleWatchId);

    Bind(wxEVT_CREATE, &KV_VerovuriRezaroView::OnWindowCreate, this);
    Bind(wxEVT_SIZE, &KV_VerovuriRezaroView::OnSize, this);
    Bind(wxEVT_ERASE_BACKGROUND, &KV_VerovuriRezaroView::OnEraseBackground, this);
    Bind(wxEVT_PAINT, &KV_VerovuriRezaroView::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &KV_VerovuriRezaroView::OnButtonDown, this);
    Bind(wxEVT_RIGHT_DOWN, &KV_VerovuriRezaroView::OnButtonDown, this);
    Bind(wxEVT_LEFT_UP, &KV_VerovuriRezaroView::OnButtonUp, this);
    Bind(wxEVT_RIGHT_UP, &KV_VerovuriRezaroView::OnButtonUp, this);
    Bind(wxEVT_MOTION, &KV_VerovuriRezaroView::OnMouseMove, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &KV_VerovuriRezaroView::OnCaptureLost, this);

    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnResetPosition, this,
         KV_MenuId(ID_EDIT_RESET_POSITION));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnSmoothShading, this,
         KV_MenuId(ID_EDIT_SMOOTH_SHADING));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnWireframeDisplay, this,
         KV_MenuId(ID_EDIT_WIREFRAME_DISPLAY));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnToggleTexture, this,
         KV_MenuId(ID_EDIT_TOGGLE_TEXTURE));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnBackgroundColour, this,
         KV_MenuId(ID_EDIT_BACKGROUND_COLOUR));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnSurfaceColour, this,
         KV_MenuId(ID_EDIT_SURFACE_COLOUR));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnRotate, this, KV_MenuId(ID_EDIT_ROTATE));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnFileOpen, this, KV_MenuId(ID_FILE_OPEN));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnFileClose, this, KV_MenuId(ID_FILE_CLOSE));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnFileExport, this, KV_MenuId(ID_FILE_EXPORT));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnFileSaveAs, this, KV_MenuId(ID_FILE_SAVE_AS_FORMAT));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnFilePrint, this, KV_MenuId(ID_FILE_PRINT));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnFilePrintDirect, this,
         KV_MenuId(ID_FILE_PRINT_DIRECT));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnFilePrintPreview, this,
         KV_MenuId(ID_FILE_PRINT_PREVIEW));

    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsGeometry, this,
         KV_MenuId(ID_EDIT_RESET_POSITION));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsGeometry, this,
         KV_MenuId(ID_EDIT_SURFACE_COLOUR));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsGeometry, this,
         KV_MenuId(ID_FILE_CLOSE));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsGeometry, this,
         KV_MenuId(ID_FILE_SAVE_AS_FORMAT));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsActors, this,
         KV_MenuId(ID_FILE_EXPORT));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateSmoothShading, this,
         KV_MenuId(ID_EDIT_SMOOTH_SHADING));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateWireframeDisplay, this,
         KV_MenuId(ID_EDIT_WIREFRAME_DISPLAY));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateToggleTexture, this,
         KV_MenuId(ID_EDIT_TOGGLE_TEXTURE));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateRotate, this, KV_MenuId(ID_EDIT_ROTATE));
    BindInspectionCommands();
    BindMeasureCommands();
}

KV_VerovuriRezaroView::~KV_VerovuriRezaroView()
{
    AbandonLevelOfDetail();
    mbPickerStop = true;
    mkPickerBuild.Abandon();
    OnDestroyWindow();
    if (mpkDocument != nullptr)
        mpkDocument->SetView(nullptr);
}

// ---- Window life

void KV_VerovuriRezaroView::OnWindowCreate(wxWindowCreateEvent& event)
{
    event.Skip();
    // The toolkit reports creation for child windows too; only our own window counts, once.
    if (event.GetWindow() != this || mbCreated)
        return;
    if (!OnCreate())
    {
        ShowMessage(kMsgInitialise);
        std::exit(1);
    }
    OnInitialUpdate();
}

bool KV_VerovuriRezaroView::OnCreate()
{
    // The X window exists once the toolkit has realised the canvas.
    mkDC.mpDisplay = wxGetX11Display();
    mkDC.munWindow = GetXWindow();
    KV_PixelFormat chosen;
    if (mkRenderer.Initialise(mkDC, chosen, KV_WGLRenderer::WindowPixelFormat(), 0) != 0)
        return false;
    mbCreated = true;

    try
    {
        KV_AddViewLights(mkRenderer);
    }
    catch (const KV_WindowsException&)
    {
        ShowMessage(kMsgLighting);
    }
    mkRenderer.SetClippingVolume(KV_ViewClippingVolume());

    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (geometry != nullptr && mkRenderer.GetActorCount() == 0)
        AddSurfaceActor(geometry->CreateActor());
    return true;
}

void KV_VerovuriRezaroView::OnInitialUpdate()
{
    mkRenderer.SetBackgroundColour(KV_OGLColour(0, 0, 0, 0));
    const wxSize size = DrawingSize();
    mkRenderer.SetWindowSize(size.x, size.y);
    KV_Viewport viewport;
    viewport.mkLowerLeft[0] = 0;
    viewport.mkLowerLeft[1] = 0;
    viewport.munWidth = static_cast<unsigned int>(size.x > 0 ? size.x : 0);
    viewport.munHeight = static_cast<unsigned int>(size.y > 0 ? size.y : 0);
    mkRenderer.SetViewport(viewport);
    ResetView();
}

void KV_VerovuriRezaroView::OnDestroyWindow()
{
    mkController.StopTimers();
    if (HasCapture())
        ReleaseMouse();
    if (mbCleanedUp)
        return;
    mbCleanedUp = true;
    try
    {
        mkRenderer.CleanUp();
    }
    catch (const KV_WindowsException&)
    {
        // The window is going anyway.
    }
}

void KV_VerovuriRezaroView::OnSize(wxSizeEvent& event)
{
    event.Skip();
    // Before the window exists the renderer has no size to scale from; its first size is
    // set when the window is made.
    if (!mbCreated)
        return;
    const wxSize size = DrawingSize();
    mkRenderer.Resize(size.x, size.y);
    Refresh(true);
}

void KV_VerovuriRezaroView::OnEraseBackground(wxEraseEvent&)
{
    // The OpenGL frame covers the whole window: nothing to erase, no flicker.
}

void KV_VerovuriRezaroView::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    // A window on its way out (closed, its destruction pending) draws no more frames: one of
    // a large surface can take seconds.
    wxWindow* top = wxGetTopLevelParent(this);
    if (!mbCreated || mbShowingRenderError || IsBeingDeleted() ||
        (top != nullptr && wxTheApp->IsScheduledForDestruction(top)))
        return;
    // The window system asks for the whole window again when, say, the status bar changes:
    // an unchanged scene shows its kept frame instead of being drawn again (a second for a
    // large surface, and the drawing's memory beside whatever the load still does).
    try
    {
        if (mbSceneShown && mkRenderer.GetActorCount() > 0 && mkRenderer.RenderKeptFrame())
        {
            ++munKeptFrameCount;
            return;
        }
    }
    catch (const KV_Exception&)
    {
        // Drawn anew below.
    }
    if (mkRenderer.GetActorCount() == 0)
        UpdateHint();
    const bool coarse = PrepareFrameDetail(true);
    const wxLongLong start = wxGetUTCTimeMillis();
    // Before the frame: a refresh asked for while it is drawn draws the scene again.
    mbSceneShown = true;
    try
    {
        mkRenderer.Render();
        const double seconds = (wxGetUTCTimeMillis() - start).ToDouble() / 1000.0;
        ++munFrameCount;
        mkController.FrameDrawn(coarse, seconds);
        // The surface is on screen: the lists it was shown without are handed to the
        // executor now, or after the coarse copy when one is coming (whoever reads them
        // first waits for them, or makes them).
        StartPicturePacking();
        if (!mkController.IsCoarseCopyPending() && !IsSimplifying())
            StartSurfaceCompletion();
        PrepareFrameDetail(false);
    }
    catch (const KV_Exception&)
    {
        mbSceneShown = false;
        PrepareFrameDetail(false);
        // The message box lets paints through; one box at a time.
        mbShowingRenderError = true;
        ShowMessage(kMsgRender);
        mbShowingRenderError = false;
        return;
    }
    if (mkServices.BenchmarkFirstFrame() && mkRenderer.GetActorCount() > 0)
    {
        std::printf("first frame at %.3f s\n", wxGetUTCTimeMillis().ToDouble() / 1000.0);
        std::fflush(stdout);
        mkServices.BenchmarkFirstFrameShown();
    }
    if (mkServices.BenchmarkIdle() && mkRenderer.GetActorCount() > 0 && !mkIdleWatch.IsRunning())
        mkIdleWatch.Start(50);
}

void KV_VerovuriRezaroView::OnIdleWatch(wxTimerEvent&)
{
    // A coarse copy that came to nothing hands nothing over, and so starts nothing.
    if (!mkController.IsCoarseCopyPending() && !IsSimplifying())
        StartSurfaceCompletion();
    const KV_PolySurfaceGeometry3D* geometry =
        mpkDocument != nullptr ? mpkDocument->mpkSurfaceGeometry : nullptr;
    const bool busy = (geometry != nullptr &&
                       (geometry->IsCompletionOutstanding() || geometry->IsPackingPictures())) ||
                      mkController.IsCoarseCopyPending() || IsSimplifying() ||
                      (mkPickerBuild.Valid() && !mkPickerBuild.IsFinished());
    // The finished coarse copy reaches the view through a queued call: two quiet looks in a
    // row let it land first.
    mnIdleTicks = busy ? 0 : mnIdleTicks + 1;
    if (mnIdleTicks < 2 || !mkServices.BenchmarkIdle())
        return;
    mkIdleWatch.Stop();
    std::printf("idle at %.3f s\n", wxGetUTCTimeMillis().ToDouble() / 1000.0);
    std::fflush(stdout);
    mkServices.BenchmarkIdleReached();
}

// ---- Scene

KV_Actor3D* KV_VerovuriRezaroView::FirstActor()
{
    return mkRenderer.GetActorCount() > 0 ? mkRenderer.GetActors().begin()->second.Get() : nullptr;
}

void KV_VerovuriRezaroView::AddSurfaceActor(KV_Actor3D* actor)
{
    if (actor == nullptr)
        return;
    const KV_Geometry3D* geometry = actor->GetGeometry();
    // A texture uploaded while the surface was completed is this actor's to adopt.
    if (auto* textured = dynamic_cast<KV_TexturedActor3D*>(actor))
        textured->OfferPreparedTexture(&mkPreparedTexture);
    // A large textured surface's arrays are built on the executor while the pictures go up.
    if (auto* surfaceActor = dynamic_cast<KV_PolySurfaceActor3D*>(actor))
        surfaceActor->SetExecutor(mpkExecutor);
    try
    {
        mkRenderer.AddActor(actor);
    }
    catch (const KV_Exception&)
    {
        ShowMessage(kMsgAddActor);
    }
    ForgetPicker();
    ResetView();
    if (geometry != nullptr)
        mkRenderer.mkWorldCentreOfRotation = geometry->GetCentre();
    ApplyHolesShown();
    AbandonLevelOfDetail();
    mkController.SurfaceAdded();
}

void KV_VerovuriRezaroView::PrepareTexture(const KV_MultiImage& image, unsigned int owner)
{
    // A file named on the command line loads before the window is shown: the window is
    // realised (made, not mapped) now, so that its context and this upload happen while the
    // surface is completed instead of after. The toolkit's own call, looked up at run time:
    // the toolkit's headers are not among the program's build dependencies.
    if (!mbCreated)
    {
        using Realise = void (*)(void*);
        if (auto realise = reinterpret_cast<Realise>(dlsym(RTLD_DEFAULT, "gtk_widget_realize")))
            realise(GetHandle());
    }
    if (!mbCreated || mkRenderer.IsRenderingToMemory())
        return;
    mkRenderer.MakeCurrent();
    mkPreparedTexture.Prepare(image, owner);
}

void KV_VerovuriRezaroView::DiscardPreparedTexture()
{
    if (!mbCreated || mkRenderer.IsRenderingToMemory())
        return;
    try
    {
        mkRenderer.MakeCurrent();
        mkPreparedTexture.Discard();
    }
    catch (const KV_Exception&)
    {
        // No context to delete it in: it goes with the context.
    }
}

void KV_VerovuriRezaroView::ResetView()
{
    mkController.ResetView();
}

void KV_VerovuriRezaroView::ResetCamera()
{
    try
    {
        mkRenderer.ResetCamera(mbOrthographic ? KV_OGLRenderer::CAMERA_ORTHOGRAPHIC
                                              : KV_OGLRenderer::CAMERA_PERSPECTIVE);
    }
    catch (const KV_WindowsException&)
    {
        ShowMessage(kMsgResetCamera);
    }
}

void KV_VerovuriRezaroView::OnUpdate(int hint, KV_PolySurfaceGeometry3D* geometry)
{
    // Before the window exists the renderer has no context: the geometry is picked up when
    // the window is made.
    if (geometry != nullptr && mbCreated)
    {
        if (hint == KV_VerovuriRezaroDoc::HINT_REMOVE_GEOMETRY)
        {
            ForgetPicker();
            AbandonLevelOfDetail();
            try
            {
                mkRenderer.RemoveActor(geometry->munID);
            }
            catch (const KV_Exception&)
            {
                ShowMessage(kMsgRender);
            }
        }
        else if (hint == KV_VerovuriRezaroDoc::HINT_ADD_GEOMETRY)
        {
            AddSurfaceActor(geometry->CreateActor());
        }
    }
    Repaint();
}

// ---- Mouse and timers

unsigned int KV_VerovuriRezaroView::KeyFlagsOf(const wxMouseEvent& event) const
{
    unsigned int flags = 0;
    if (event.LeftIsDown())
        flags |= KEY_LEFT;
    if (event.RightIsDown())
        flags |= KEY_RIGHT;
    if (event.ShiftDown())
        flags |= KEY_SHIFT;
    return flags;
}

void KV_VerovuriRezaroView::OnButtonDown(wxMouseEvent& event)
{
    if (!HasCapture())
        CaptureMouse();
    event.Skip();  // focus and the toolkit's own handling
    const wxPoint position = event.GetPosition();
    if (mbMeasuring && event.GetEventType() == wxEVT_LEFT_DOWN)
    {
        // In Measure mode Shift+drag draws a selection rectangle instead of rolling.
        if (event.ShiftDown() && mkRenderer.GetActorCount() > 0)
        {
            mkController.StopRotation();
            BeginSelection(position.x, position.y, event.ControlDown());
            return;
        }
        mkMeasure.Press(position.x, position.y);
    }
    switch (mkController.ButtonDown(position.x, position.y, KeyFlagsOf(event),
                                    event.GetEventType() == wxEVT_LEFT_DOWN))
    {
        case KV_ViewController::Cursor::Zoom:
            SetCursor(KV_LoadCursor(IDC_ZOOM));
            break;
        case KV_ViewController::Cursor::Rotate:
            SetCursor(KV_LoadCursor(IDC_ROTATE));
            break;
        case KV_ViewController::Cursor::Translate:
            SetCursor(KV_LoadCursor(IDC_TRANSLATE));
            break;
    }
}

void KV_VerovuriRezaroView::OnButtonUp(wxMouseEvent& event)
{
    event.Skip();
    if (HasCapture())
        ReleaseMouse();
    SetCursor(wxNullCursor);
    const wxPoint position = event.GetPosition();
    if (mbSelecting)
    {
        if (event.GetEventType() == wxEVT_LEFT_UP)
            EndSelection(position.x, position.y);
        return;
    }
    mkController.ButtonUp();
    if (mbMeasuring && event.GetEventType() == wxEVT_LEFT_UP &&
        mkMeasure.Release(position.x, position.y))
        MeasureClick(position.x, position.y);
}

void KV_VerovuriRezaroView::OnCaptureLost(wxMouseCaptureLostEvent&)
{
    // A rectangle whose button-up will not come is dropped.
    if (mbSelecting)
    {
        mbSelecting = false;
        mkRenderer.SetRubberBand(false, 0, 0, 0, 0);
        Repaint();
    }
    SetCursor(wxNullCursor);
}

void KV_VerovuriRezaroView::OnMouseMove(wxMouseEvent& event)
{
    // The pointer moves in the window's logical pixels, whatever the pixels drawn.
    const wxPoint position = event.GetPosition();
    const wxSize size = GetClientSize();
    if (mbSelecting)
    {
        DragSelection(position.x, position.y);
        event.Skip();
        return;
    }
    if (mbMeasuring)
        mkMeasure.Move(position.x, position.y);
    mkController.MouseMove(position.x, position.y, KeyFlagsOf(event), size.x, size.y);
    event.Skip();
}

wxTimer& KV_VerovuriRezaroView::Timer(KV_ViewTimer timer)
{
    return mkTimers[static_cast<int>(timer) - 1];
}

void KV_VerovuriRezaroView::OnTimer(wxTimerEvent& event)
{
    for (KV_ViewTimer timer : kTimers)
        if (event.GetId() == static_cast<int>(timer))
            mkController.OnTimer(timer);
}

// ---- Commands

void KV_VerovuriRezaroView::OnResetPosition(wxCommandEvent&)
{
    RestoreRotationCentre();
    ResetView();
}

void KV_VerovuriRezaroView::OnSmoothShading(wxCommandEvent&)
{
    for (auto& entry : mkRenderer.GetActors())
    {
        entry.second->SetDisplayedWireframe(false);
        entry.second->SetDisplayedSmooth(true);
    }
    Repaint();
}

void KV_VerovuriRezaroView::OnWireframeDisplay(wxCommandEvent&)
{
    for (auto& entry : mkRenderer.GetActors())
    {
        entry.second->SetDisplayedWireframe(false);
        entry.second->SetDisplayedWireframe(true);
    }
    Repaint();
}

void KV_VerovuriRezaroView::OnToggleTexture(wxCommandEvent&)
{
    for (auto& entry : mkRenderer.GetActors())
        entry.second->SetDisplayedTextured(!entry.second->IsDisplayedTextured());
    Repaint();
}

void KV_VerovuriRezaroView::OnBackgroundColour(wxCommandEvent&)
{
    wxColour chosen;
    if (KV_Prompts::Get().ChooseColour(this, *wxBLACK, chosen))
        mkRenderer.SetBackgroundColour(ColourOf(chosen, 0.0f));
    Repaint();
}

void KV_VerovuriRezaroView::OnSurfaceColour(wxCommandEvent&)
{
    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (geometry == nullptr)
        return;
    wxColour chosen;
    if (KV_Prompts::Get().ChooseColour(this, *wxBLACK, chosen))
    {
        if (KV_Actor3D* first = FirstActor())
            first->SetDisplayedTextured(false);
        KV_Material material;
        material.meMaterialFaces = 3;
        material.mkAmbient = ColourOf(chosen, 0.0f);
        material.mkDiffuse = KV_OGLColour(0.8f, 0.8f, 0.8f, 1.0f);
        material.mkSpecular = KV_OGLColour(1.0f, 1.0f, 1.0f, 1.0f);
        material.mrShininess = 25.0f;
        geometry->mkMaterial = material;
    }
    Repaint();
}

void KV_VerovuriRezaroView::OnRotate(wxCommandEvent&)
{
    mkController.ToggleRotation();
}

void KV_VerovuriRezaroView::OnFileOpen(wxCommandEvent&)
{
    const wxString path = KV_Prompts::Get().ChooseOpenPath(this, "Load", KV_OpenWildcard());
    if (path.empty() || mpkDocument == nullptr)
        return;
    wxBusyCursor wait;
    mpkDocument->OnOpenDocument(path);
}

void KV_VerovuriRezaroView::OnFileClose(wxCommandEvent&)
{
    if (mkController.IsRotating())
        mkController.StopRotation();
    if (mpkDocument != nullptr && mpkDocument->mpkSurfaceGeometry != nullptr)
    {
        ForgetPicker();
        AbandonLevelOfDetail();
        try
        {
            mkRenderer.RemoveActor(mpkDocument->mpkSurfaceGeometry->munID);
        }
        catch (const KV_Exception&)
        {
            ShowMessage(kMsgRender);
        }
        mpkDocument->CloseSurface();
    }
    Repaint();
}

void KV_VerovuriRezaroView::OnFileExport(wxCommandEvent&)
{
    if (mpkDocument == nullptr)
        return;
    const wxString path = KV_Prompts::Get().ChooseSavePath(
        this, "Export", KV_DefaultExportName(mpkDocument->GetPathName()), ".wrl",
        "VRML File (*.wrl)|*.wrl");
    if (path.empty())
        return;
    if (!KV_ConfirmOverwrite(path))
        return;
    wxBusyCursor wait;
    if (!mpkDocument->ExportVRML(path))
        KV_Prompts::Get().Message(wxString::Format("Failed to save file %s", path), KV_APP_TITLE);
}

void KV_VerovuriRezaroView::OnFileSaveAs(wxCommandEvent&)
{
    if (mpkDocument == nullptr || mpkDocument->mpkSurfaceGeometry == nullptr)
        return;
    const wxString pathName = mpkDocument->GetPathName();
    const wxString path = KV_Prompts::Get().ChooseSavePath(
        this, "Save As",
        wxFileName(pathName).GetPathWithSep() + wxFileName(pathName).GetName() + ".glb", ".glb",
        KV_SaveAsWildcard());
    if (path.empty())
        return;
    if (!KV_ConfirmOverwrite(path))
        return;
    wxBusyCursor wait;
    wxString error;
    if (!mpkDocument->SaveAs(path, error))
        KV_Prompts::Get().Message(wxString::Format("Failed to save file %s", path) + "\n" + error,
                                  KV_APP_TITLE);
}

// ---- Command states

void KV_VerovuriRezaroView::OnUpdateNeedsGeometry(wxUpdateUIEvent& event)
{
    event.Enable(mpkDocument != nullptr && mpkDocument->mpkSurfaceGeometry != nullptr);
}

void KV_VerovuriRezaroView::OnUpdateNeedsActors(wxUpdateUIEvent& event)
{
    event.Enable(mkRenderer.GetActorCount() > 0);
}

void KV_VerovuriRezaroView::OnUpdateSmoothShading(wxUpdateUIEvent& event)
{
    KV_Actor3D* first = FirstActor();
    event.Enable(first != nullptr);
    event.Check(first != nullptr && !first->IsDisplayedWireframe());
}

void KV_VerovuriRezaroView::OnUpdateWireframeDisplay(wxUpdateUIEvent& event)
{
    KV_Actor3D* first = FirstActor();
    event.Enable(first != nullptr);
    event.Check(first != nullptr && first->IsDisplayedWireframe());
}

void KV_VerovuriRezaroView::OnUpdateToggleTexture(wxUpdateUIEvent& event)
{
    KV_Actor3D* first = FirstActor();
    event.Enable(first != nullptr && first->GetTextureName() != 0);
    event.Check(first != nullptr && first->IsDisplayedTextured());
}

void KV_VerovuriRezaroView::OnUpdateRotate(wxUpdateUIEvent& event)
{
    event.Enable(mkRenderer.GetActorCount() > 0);
    event.Check(mkController.IsRotating());
}

void KV_VerovuriRezaroView::ShowMessage(const char* text)
{
    KV_Prompts::Get().Message(text, KV_APP_TITLE);
}
