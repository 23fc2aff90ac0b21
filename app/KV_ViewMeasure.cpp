// The view's measuring and navigation: in Measure mode a click on the surface picks the
// point under the pointer with the camera the last frame was drawn with, the status bar
// tells what was picked and the renderer marks the points (and the distance between two);
// Shift+drag rectangles select polygons. The wheel zooms toward the point under the
// pointer, a double-click sets the centre the view turns about, and the projection can be
// orthographic.
#include "app/KV_DocumentCoreBridge.h"
#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/KV_ViewServices.h"
#include "measure/KV_SurfaceMeasures.h"
#include "render/KV_ClippingVolume.h"
#include "render/KV_Geometry3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "render/KV_ScreenPicture.h"

#include <wx/dcmemory.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/image.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace
{
// Text laid over the frame: white letters on a dark box, read on every surface colour.
KV_ScreenPicture TextPicture(const wxString& text, const wxFont& font)
{
    KV_ScreenPicture picture;
    if (text.empty())
        return picture;
    wxBitmap bitmap(1, 1);
    wxMemoryDC dc(bitmap);
    dc.SetFont(font);
    const wxSize extent = dc.GetTextExtent(text);
    bitmap = wxBitmap(extent.x + 6, extent.y + 4);
    dc.SelectObject(bitmap);
    dc.SetBackground(wxBrush(wxColour(40, 40, 40)));
    dc.Clear();
    dc.SetTextForeground(*wxWHITE);
    dc.DrawText(text, 3, 2);
    dc.SelectObject(wxNullBitmap);
    const wxImage image = bitmap.ConvertToImage();
    picture.mnWidth = image.GetWidth();
    picture.mnHeight = image.GetHeight();
    picture.mkPixels.resize(static_cast<std::size_t>(picture.mnWidth) * picture.mnHeight * 3);
    for (int y = 0; y < picture.mnHeight; ++y)
        std::copy_n(image.GetData() +
                        static_cast<std::size_t>(picture.mnHeight - 1 - y) * picture.mnWidth * 3,
                    picture.mnWidth * 3,
                    picture.mkPixels.data() + static_cast<std::size_t>(y) * picture.mnWidth * 3);
    return picture;
}
}  // namespace

// ---- Renderer: the camera of the frame and the marks

void KV_ViewRenderer::CaptureCameraAndDrawMarks()
{
    const KV_Actor3D* actor = GetActors().begin()->second.Get();
    KV_Geometry3D* geometry = actor != nullptr ? actor->GetGeometry() : nullptr;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    // The model-view matrix the surface was drawn with: camera, world, then the geometry's
    // own transform, as the actor applies them.
    mkCameraTransform.mbResetGLMatrix = true;
    mkCameraTransform.Apply();
    mkWorldTransform.mbResetGLMatrix = false;
    mkWorldTransform.Apply();
    if (geometry != nullptr)
        geometry->mkTransform.Apply();
    glGetDoublev(GL_MODELVIEW_MATRIX, mkLastCamera.mkModelView.data());
    glGetDoublev(GL_PROJECTION_MATRIX, mkLastCamera.mkProjection.data());
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    mkLastCamera.mkViewport = {viewport[0], viewport[1], viewport[2], viewport[3]};
    mkLastCamera.mnPictureHeight = mbIsWindowSizeSet ? mkWindowSize[1] : viewport[3];
    mbHasCamera = true;

    if (!mkMarks.empty())
    {
        glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_POINT_BIT | GL_LINE_BIT);
        glDisable(GL_LIGHTING);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_BLEND);
        if (mkMarks.size() >= 2)
        {
            glLineWidth(2.0f);
            glColor3f(1.0f, 0.85f, 0.0f);
            glBegin(GL_LINES);
            glVertex3dv(mkMarks[0].data());
            glVertex3dv(mkMarks[1].data());
            glEnd();
        }
        glPointSize(7.0f);
        glColor3f(1.0f, 0.2f, 0.1f);
        glBegin(GL_POINTS);
        for (const auto& point : mkMarks)
            glVertex3dv(point.data());
        glEnd();
        glPopAttrib();
    }
    glPopMatrix();

    DrawOverlay(viewport);
}

void KV_ViewRenderer::DrawOverlay(const int viewport[4])
{
    // The label beside the middle of the line, wholly inside the picture.
    double x = 0.0, y = 0.0, depth = 0.0;
    const bool label = mkMarks.size() >= 2 && !mkMarkLabel.IsEmpty();
    if (!label && !mbRubberBand)
        return;
    std::array<double, 3> middle{};
    if (label)
        for (int i = 0; i < 3; ++i)
            middle[i] = (mkMarks[0][i] + mkMarks[1][i]) / 2.0;
    const bool labelFits = label && mkLastCamera.Project(middle, x, y, depth) &&
                           viewport[2] > mkMarkLabel.mnWidth && viewport[3] > mkMarkLabel.mnHeight;
    const int left = labelFits ? std::clamp(static_cast<int>(x) + 8 - viewport[0], 0,
                                            viewport[2] - mkMarkLabel.mnWidth)
                               : 0;
    const int bottom = labelFits ? std::clamp(mkLastCamera.mnPictureHeight -
                                                  static_cast<int>(y) + 8 - viewport[1],
                                              0, viewport[3] - mkMarkLabel.mnHeight)
                                 : 0;
    const KV_WindowPixelScope pixels(viewport[2], viewport[3],
                                     GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    if (labelFits)
    {
        glRasterPos2i(left, bottom);
        glDrawPixels(mkMarkLabel.mnWidth, mkMarkLabel.mnHeight, GL_RGB, GL_UNSIGNED_BYTE,
                     mkMarkLabel.mkPixels.data());
    }
    if (mbRubberBand)
    {
        // Window coordinates run up from the bottom; the band's pixels are their centres.
        const double top = mkLastCamera.mnPictureHeight - viewport[1];
        glColor3f(1.0f, 1.0f, 1.0f);
        glBegin(GL_LINE_LOOP);
        glVertex2d(mkRubberBand[0] + 0.5 - viewport[0], top - mkRubberBand[1] - 0.5);
        glVertex2d(mkRubberBand[2] + 0.5 - viewport[0], top - mkRubberBand[1] - 0.5);
        glVertex2d(mkRubberBand[2] + 0.5 - viewport[0], top - mkRubberBand[3] - 0.5);
        glVertex2d(mkRubberBand[0] + 0.5 - viewport[0], top - mkRubberBand[3] - 0.5);
        glEnd();
    }
}

// ---- View

void KV_VerovuriRezaroView::BindMeasureCommands()
{
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnMeasureMode, this, KV_MenuId(ID_VIEW_MEASURE));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateMeasureMode, this,
         KV_MenuId(ID_VIEW_MEASURE));
    Bind(wxEVT_KEY_DOWN, &KV_VerovuriRezaroView::OnKeyDown, this);
    Bind(wxEVT_LEFT_DCLICK, &KV_VerovuriRezaroView::OnDoubleClick, this);
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnOrthographic, this,
         KV_MenuId(ID_VIEW_ORTHOGRAPHIC));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateOrthographic, this,
         KV_MenuId(ID_VIEW_ORTHOGRAPHIC));
    for (int command : {ID_EDIT_SELECT_ALL, ID_EDIT_INVERT_SELECTION, ID_EDIT_CLEAR_SELECTION})
    {
        Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnSelectionCommand, this, KV_MenuId(command));
        Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsActors, this,
             KV_MenuId(command));
    }
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnSaveSelection, this,
         KV_MenuId(ID_FILE_SAVE_SELECTION));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateSaveSelection, this,
         KV_MenuId(ID_FILE_SAVE_SELECTION));
}

void KV_VerovuriRezaroView::OnMeasureMode(wxCommandEvent&)
{
    mbMeasuring = !mbMeasuring;
    ClearMeasure();
    // Made while the user aims, so that the first click answers at once.
    if (mbMeasuring && ShownSurface() != nullptr)
        BeginPicker(*ShownSurface());
    if (mkServices.MainWindow() != nullptr)
        mkServices.MainWindow()->SetStatusText(
            mbMeasuring ? "Measure: click the surface" : KV_IDLE_PROMPT, 0);
}

void KV_VerovuriRezaroView::OnUpdateMeasureMode(wxUpdateUIEvent& event)
{
    event.Enable(mkRenderer.GetActorCount() > 0);
    event.Check(mbMeasuring);
}

void KV_VerovuriRezaroView::OnKeyDown(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_ESCAPE && !mkMeasure.Picks().empty())
    {
        ClearMeasure();
        if (mkServices.MainWindow() != nullptr)
            mkServices.MainWindow()->SetStatusText(KV_IDLE_PROMPT, 0);
        return;
    }
    event.Skip();
}

void KV_VerovuriRezaroView::ClearMeasure()
{
    mkMeasure.Clear();
    mkRenderer.SetMarks({}, KV_ScreenPicture());
    Repaint();
}

void KV_VerovuriRezaroView::ForgetPicker()
{
    // The geometry of a new surface starts without a selection.
    mkSelection.clear();
    mbSelecting = false;
    mkRenderer.SetRubberBand(false, 0, 0, 0, 0);
    // The picker being made reads the surface that goes: stopped and waited for first.
    mbPickerStop = true;
    mkPickerBuild.Abandon();
    mpkPicker.reset();
    mpkPickedSurface = nullptr;
    ClearMeasure();
}

const KV_PolySurface* KV_VerovuriRezaroView::ShownSurface() const
{
    const KV_PolySurfaceGeometry3D* geometry =
        mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    return geometry != nullptr ? &geometry->GetSurface() : nullptr;
}

void KV_VerovuriRezaroView::BeginPicker(const KV_PolySurface& surface)
{
    if (mpkPicker != nullptr && mpkPickedSurface == &surface)
        return;
    mbPickerStop = true;
    mkPickerBuild.Abandon();
    mpkPicker.reset(new (std::nothrow) KV_SurfacePicker);
    mpkPickedSurface = mpkPicker != nullptr ? &surface : nullptr;
    if (mpkPicker == nullptr)
        return;
    mbPickerStop = false;
    KV_SurfacePicker* picker = mpkPicker.get();
    KV_Executor* executor = mpkExecutor;
    const std::atomic<bool>* stop = &mbPickerStop;
    mkPickerBuild = KV_Spawn(executor, [picker, &surface, executor, stop]
                             { return picker->Build(surface, executor, stop); });
}

bool KV_VerovuriRezaroView::PickAt(int x, int y, KV_PickHit& hit, bool wait)
{
    const KV_PolySurface* surface = ShownSurface();
    KV_PickCamera camera;
    if (surface == nullptr || !mkRenderer.LastCamera(camera))
        return false;
    // Made on the first pick of a surface (or begun by Measure mode): most surfaces are
    // looked at, never measured.
    BeginPicker(*surface);
    if (mkPickerBuild.Valid())
    {
        // A wheel turn goes on toward the middle while a large surface's picker is made; a
        // small one's is ready in a few milliseconds, worth the wait.
        const unsigned int kWaitedForUpTo = 200000;
        if (!wait && surface->PolygonCount() > kWaitedForUpTo && !mkPickerBuild.IsFinished())
            return false;
        bool built = false;
        {
            wxBusyCursor busy;
            try
            {
                built = mkPickerBuild.Get();
            }
            catch (const std::exception&)
            {
                built = false;
            }
        }
        if (!built)
        {
            mpkPicker.reset();
            mpkPickedSurface = nullptr;
            if (mkServices.MainWindow() != nullptr)
                mkServices.MainWindow()->SetStatusText(
                    "Not enough memory to search the surface", 0);
            return false;
        }
    }
    if (mpkPicker == nullptr)
        return false;
    // The pointer moves in logical pixels; the frame is drawn in device pixels. The ray
    // passes through the middle of the pointer's pixel, as osftool picks a pixel's centre.
    const double scale = GetContentScaleFactor();
    KV_Ray ray;
    return camera.RayThroughPoint((x + 0.5) * scale, (y + 0.5) * scale, ray) &&
           mpkPicker->Pick(ray, hit);
}

void KV_VerovuriRezaroView::MeasureClick(int x, int y)
{
    KV_PickHit hit;
    wxFrame* frame = mkServices.MainWindow();
    if (!PickAt(x, y, hit))
    {
        if (frame != nullptr && mpkPicker != nullptr)
            frame->SetStatusText("No surface under the pointer", 0);
        return;
    }
    mkMeasure.AddPick(hit);
    std::vector<std::array<double, 3>> points;
    for (const KV_PickHit& pick : mkMeasure.Picks())
        points.push_back(pick.mkPoint);
    KV_ScreenPicture label;
    if (points.size() == 2)
        label = TextPicture(
            KV_MeasureNumber(KV_MeasureDistance(points[0], points[1]).mrLength),
            GetFont().Scaled(static_cast<float>(GetContentScaleFactor())));
    mkRenderer.SetMarks(std::move(points), std::move(label));
    if (frame != nullptr)
        frame->SetStatusText(mkMeasure.StatusText(), 0);
    Repaint();
}

// ---- Selection

void KV_VerovuriRezaroView::BeginSelection(int x, int y, bool remove)
{
    mbSelecting = true;
    mbSelectionRemoves = remove;
    mkSelectionStart = wxPoint(x, y);
    DragSelection(x, y);
}

void KV_VerovuriRezaroView::DragSelection(int x, int y)
{
    const double scale = GetContentScaleFactor();
    mkRenderer.SetRubberBand(true, static_cast<int>(mkSelectionStart.x * scale),
                             static_cast<int>(mkSelectionStart.y * scale),
                             static_cast<int>(x * scale), static_cast<int>(y * scale));
    Repaint();
}

void KV_VerovuriRezaroView::EndSelection(int x, int y)
{
    mbSelecting = false;
    mkRenderer.SetRubberBand(false, 0, 0, 0, 0);
    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    KV_PickCamera camera;
    if (geometry == nullptr || !mkRenderer.LastCamera(camera))
    {
        Repaint();
        return;
    }
    const KV_PolySurface& surface =
        static_cast<const KV_PolySurfaceGeometry3D*>(geometry)->GetSurface();
    // Corners at the middles of the pixels under the pointer, as picks are made.
    const double scale = GetContentScaleFactor();
    std::vector<unsigned int> picked;
    {
        wxBusyCursor wait;
        picked = KV_SelectPolygonsInRectangle(
            surface, camera, (mkSelectionStart.x + 0.5) * scale,
            (mkSelectionStart.y + 0.5) * scale, (x + 0.5) * scale, (y + 0.5) * scale);
    }
    ApplySelection(KV_CombineSelection(mkSelection, picked, mbSelectionRemoves));
}

void KV_VerovuriRezaroView::ApplySelection(std::vector<unsigned int> selection)
{
    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (geometry == nullptr)
        return;
    mkSelection = std::move(selection);
    geometry->SetSelectedPolygons(mkSelection);
    const KV_PolySurface& surface =
        static_cast<const KV_PolySurfaceGeometry3D*>(geometry)->GetSurface();
    if (mkServices.MainWindow() != nullptr)
        mkServices.MainWindow()->SetStatusText(
            KV_SelectionText(KV_MeasurePolygons(surface, mkSelection)), 0);
    Repaint();
}

void KV_VerovuriRezaroView::OnSelectionCommand(wxCommandEvent& event)
{
    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (geometry == nullptr)
        return;
    const unsigned int count = geometry->DrawingSurface().PolygonCount();
    switch (KV_CommandNumber(event.GetId()))
    {
        case ID_EDIT_SELECT_ALL:
            ApplySelection(KV_InvertSelection({}, count));
            break;
        case ID_EDIT_INVERT_SELECTION:
            ApplySelection(KV_InvertSelection(mkSelection, count));
            break;
        default:
            ApplySelection({});
            break;
    }
}

void KV_VerovuriRezaroView::OnUpdateSaveSelection(wxUpdateUIEvent& event)
{
    event.Enable(!mkSelection.empty() && mpkDocument != nullptr &&
                 mpkDocument->mpkSurfaceGeometry != nullptr);
}

void KV_VerovuriRezaroView::OnSaveSelection(wxCommandEvent&)
{
    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (geometry == nullptr || mkSelection.empty())
        return;
    const wxFileName name(mpkDocument->GetPathName());
    const wxString path = KV_Prompts::Get().ChooseSavePath(
        this, "Save Selection As", name.GetPathWithSep() + name.GetName() + "-selection.glb",
        ".glb", KV_SaveAsWildcard());
    if (path.empty() || !KV_ConfirmOverwrite(path))
        return;
    wxBusyCursor wait;
    wxString error;
    if (!KV_SaveSelectionAs(*geometry, mkSelection, path, error))
        KV_Prompts::Get().Message(wxString::Format("Failed to save file %s", path) + "\n" + error,
                                  KV_APP_TITLE);
}

// ---- Navigation

bool KV_VerovuriRezaroView::ZoomTowardPointer(const wxPoint& position, int rotation)
{
    const KV_ClippingVolume* volume = mkRenderer.GetClippingVolume();
    KV_PickCamera camera;
    KV_PickHit hit;
    if (!mbCreated || rotation == 0 || volume == nullptr || mkRenderer.GetActorCount() == 0 ||
        !mkRenderer.LastCamera(camera) || !PickAt(position.x, position.y, hit, false))
        return false;
    // The point in eye coordinates, through the model-view matrix of the frame shown.
    std::array<double, 3> eye{};
    for (int r = 0; r < 3; ++r)
        eye[r] = camera.mkModelView[12 + r] + camera.mkModelView[r] * hit.mkPoint[0] +
                 camera.mkModelView[4 + r] * hit.mkPoint[1] +
                 camera.mkModelView[8 + r] * hit.mkPoint[2];
    // The step of the wheel toward the middle of the view.
    double step = (volume->mrFar - volume->mrNear) * KV_ViewController::kZoomFraction;
    if (rotation < 0)
        step = -step;
    if (mbOrthographic)
    {
        // The box shrinks about its middle; the eye moves across so that the point stays.
        const auto* box = dynamic_cast<const KV_OrthographicClippingVolume*>(volume);
        const double depth = -eye[2];
        if (box == nullptr || !(depth > 0.0))
            return false;
        const double scale = step >= 0.0 ? depth / (depth + step) : (depth - step) / depth;
        const double middleX = (box->mrLeft + box->mrRight) / 2.0;
        const double middleY = (box->mrTop + box->mrBottom) / 2.0;
        mkRenderer.Pan(static_cast<float>(-(scale - 1.0) * (eye[0] - middleX)),
                       static_cast<float>(-(scale - 1.0) * (eye[1] - middleY)));
        ScaleOrthographic(scale);
        Repaint();
        return true;
    }
    KV_ZoomMove move;
    if (!KV_ZoomTowardPoint(eye, step, move))
        return false;
    // Pan(a, b) takes (a, b) from every eye coordinate.
    mkRenderer.Pan(static_cast<float>(-move.a), static_cast<float>(-move.b));
    mkRenderer.Dolly(static_cast<float>(move.d));
    mkRenderer.UpdateNearFar();
    Repaint();
    return true;
}

void KV_VerovuriRezaroView::OnDoubleClick(wxMouseEvent& event)
{
    event.Skip();
    KV_PickHit hit;
    const wxPoint position = event.GetPosition();
    if (!PickAt(position.x, position.y, hit))
        return;
    mkRenderer.mkWorldCentreOfRotation = KV_Vector3D(static_cast<float>(hit.mkPoint[0]),
                                                     static_cast<float>(hit.mkPoint[1]),
                                                     static_cast<float>(hit.mkPoint[2]));
    if (mkServices.MainWindow() != nullptr)
        mkServices.MainWindow()->SetStatusText(
            "Turning about " + KV_MeasureTriple(hit.mkPoint) + " (Fit restores the centre)", 0);
}

void KV_VerovuriRezaroView::RestoreRotationCentre()
{
    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (geometry != nullptr)
        mkRenderer.mkWorldCentreOfRotation = geometry->GetCentre();
}

double KV_VerovuriRezaroView::RotationCentreDepth() const
{
    KV_PickCamera camera;
    const KV_ClippingVolume* volume = mkRenderer.GetClippingVolume();
    const double fallback = volume != nullptr ? (volume->mrNear + volume->mrFar) / 2.0 : 1.0;
    if (!mkRenderer.LastCamera(camera))
        return fallback;
    const KV_Vector3D& c = mkRenderer.mkWorldCentreOfRotation;
    const auto& m = camera.mkModelView;
    const double depth = -(m[14] + m[2] * c.x + m[6] * c.y + m[10] * c.z);
    // A centre behind the eye (moved past it) gives no scale: the middle of the depth does.
    return depth > 0.0 && std::isfinite(depth) ? depth : fallback;
}

void KV_VerovuriRezaroView::ScaleOrthographic(double scale)
{
    const auto* box = dynamic_cast<const KV_OrthographicClippingVolume*>(
        mkRenderer.GetClippingVolume());
    if (box == nullptr || !(scale > 0.0) || !std::isfinite(scale))
        return;
    KV_OrthographicClippingVolume scaled = *box;
    const double middleX = (box->mrLeft + box->mrRight) / 2.0;
    const double middleY = (box->mrTop + box->mrBottom) / 2.0;
    const double halfWidth = (box->mrRight - box->mrLeft) / 2.0 * scale;
    const double halfHeight = (box->mrTop - box->mrBottom) / 2.0 * scale;
    // Too small or too large a box could no longer be drawn with float matrices.
    if (!(halfHeight > 1e-6) || !(halfHeight < 1e12))
        return;
    scaled.mrLeft = static_cast<float>(middleX - halfWidth);
    scaled.mrRight = static_cast<float>(middleX + halfWidth);
    scaled.mrBottom = static_cast<float>(middleY - halfHeight);
    scaled.mrTop = static_cast<float>(middleY + halfHeight);
    mkRenderer.SetClippingVolume(scaled);
}

void KV_VerovuriRezaroView::OnOrthographic(wxCommandEvent&)
{
    const KV_ClippingVolume* volume = mkRenderer.GetClippingVolume();
    if (volume == nullptr)
        return;
    // The picture keeps its size at the depth of the centre the view turns about.
    const double depth = RotationCentreDepth();
    const KV_Viewport& viewport = mkRenderer.GetViewport();
    const double aspect = viewport.munHeight > 0 ? static_cast<double>(viewport.munWidth) /
                                                       static_cast<double>(viewport.munHeight)
                                                 : 1.0;
    const double halfHeight = volume->GetHeight() / 2.0;
    if (const auto* perspective = dynamic_cast<const KV_PerspectiveClippingVolume*>(volume))
    {
        const double half =
            depth * std::tan(perspective->mrFieldOfView * 3.14159265358979 / 360.0);
        KV_OrthographicClippingVolume box;
        box.mrNear = volume->mrNear;
        box.mrFar = volume->mrFar;
        box.mrTop = static_cast<float>(half);
        box.mrBottom = static_cast<float>(-half);
        box.mrRight = static_cast<float>(half * aspect);
        box.mrLeft = static_cast<float>(-half * aspect);
        mkRenderer.SetClippingVolume(box);
        mbOrthographic = true;
    }
    else
    {
        KV_PerspectiveClippingVolume frustum;
        frustum.mrNear = volume->mrNear;
        frustum.mrFar = volume->mrFar;
        frustum.mrAspectRatio = static_cast<float>(aspect);
        frustum.mrFieldOfView =
            static_cast<float>(std::atan(halfHeight / depth) * 360.0 / 3.14159265358979);
        mkRenderer.SetClippingVolume(frustum);
        mbOrthographic = false;
    }
    if (mkRenderer.GetActorCount() > 0)
        mkRenderer.UpdateNearFar();
    Repaint();
}

void KV_VerovuriRezaroView::OnUpdateOrthographic(wxUpdateUIEvent& event)
{
    event.Enable(mbCreated);
    event.Check(mbOrthographic);
}
