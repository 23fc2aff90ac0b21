// The view's inspection commands and pictures: Surface Properties, Show Holes, the standard
// views, zooming with the mouse wheel, Save Image and Copy View.
#include "app/KV_DocumentCoreBridge.h"
#include "app/KV_ImageSizeDlg.h"
#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"
#include "app/KV_SurfacePropertiesDlg.h"
#include "app/KV_ViewServices.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/KV_ViewPrintout.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "document/KV_SurfaceProperties.h"

#include <wx/clipbrd.h>
#include <wx/dcmemory.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/utils.h>

#include <algorithm>
#include <cstdio>

namespace
{
// The View menu's commands for the standard views.
struct StandardViewCommand
{
    int command;
    KV_StandardView view;
};

const StandardViewCommand kStandardViews[] = {
    {ID_VIEW_FRONT, KV_StandardView::Front}, {ID_VIEW_BACK, KV_StandardView::Back},
    {ID_VIEW_LEFT, KV_StandardView::Left},   {ID_VIEW_RIGHT, KV_StandardView::Right},
    {ID_VIEW_TOP, KV_StandardView::Top},     {ID_VIEW_BOTTOM, KV_StandardView::Bottom},
    {ID_VIEW_FIT, KV_StandardView::Fit},
};

bool IsJpegName(const wxString& path)
{
    const wxString extension = wxFileName(path).GetExt().Lower();
    return extension == "jpg" || extension == "jpeg";
}
}  // namespace

void KV_VerovuriRezaroView::BindInspectionCommands()
{
    Bind(wxEVT_MOUSEWHEEL, &KV_VerovuriRezaroView::OnMouseWheel, this);
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnSurfaceProperties, this,
         KV_MenuId(ID_VIEW_PROPERTIES));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnShowHoles, this, KV_MenuId(ID_VIEW_SHOW_HOLES));
    for (const StandardViewCommand& view : kStandardViews)
    {
        Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnStandardView, this, KV_MenuId(view.command));
        Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsActors, this,
             KV_MenuId(view.command));
    }
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnSaveImage, this, KV_MenuId(ID_FILE_SAVE_IMAGE));
    Bind(wxEVT_MENU, &KV_VerovuriRezaroView::OnCopyView, this, KV_MenuId(ID_EDIT_COPY_VIEW));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsGeometry, this,
         KV_MenuId(ID_VIEW_PROPERTIES));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateShowHoles, this,
         KV_MenuId(ID_VIEW_SHOW_HOLES));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsActors, this,
         KV_MenuId(ID_FILE_SAVE_IMAGE));
    Bind(wxEVT_UPDATE_UI, &KV_VerovuriRezaroView::OnUpdateNeedsActors, this,
         KV_MenuId(ID_EDIT_COPY_VIEW));
}

void KV_VerovuriRezaroView::UpdateHint()
{
    const KV_OGLColour& back = mkRenderer.GetBackgroundColour();
    const wxColour background(static_cast<unsigned char>(back.mrRed * 255.0f + 0.5f),
                              static_cast<unsigned char>(back.mrGreen * 255.0f + 0.5f),
                              static_cast<unsigned char>(back.mrBlue * 255.0f + 0.5f));
    if (!mkRenderer.GetHint().IsEmpty() && background == mkHintBackground)
        return;
    mkHintBackground = background;
    const wxString text = kEmptyHint;
    wxBitmap bitmap(1, 1);
    wxMemoryDC dc(bitmap);
    // The picture is laid down in device pixels: on a 2x screen the letters are drawn twice
    // as large to keep their size.
    dc.SetFont(GetFont().Scaled(1.2f * static_cast<float>(GetContentScaleFactor())));
    const wxSize extent = dc.GetTextExtent(text);
    bitmap = wxBitmap(extent.x + 8, extent.y + 8);
    dc.SelectObject(bitmap);
    dc.SetBackground(wxBrush(background));
    dc.Clear();
    // Grey reads on black, white and every colour between.
    const int luminance = (background.Red() * 3 + background.Green() * 6 + background.Blue()) / 10;
    dc.SetTextForeground(luminance > 128 ? wxColour(70, 70, 70) : wxColour(170, 170, 170));
    dc.DrawText(text, 4, 4);
    dc.SelectObject(wxNullBitmap);
    const wxImage image = bitmap.ConvertToImage();
    KV_ScreenPicture hint;
    hint.mnWidth = image.GetWidth();
    hint.mnHeight = image.GetHeight();
    hint.mkPixels.resize(static_cast<std::size_t>(hint.mnWidth) * hint.mnHeight * 3);
    for (int y = 0; y < hint.mnHeight; ++y)
        std::copy_n(
            image.GetData() + static_cast<std::size_t>(hint.mnHeight - 1 - y) * hint.mnWidth * 3,
            hint.mnWidth * 3,
            hint.mkPixels.data() + static_cast<std::size_t>(y) * hint.mnWidth * 3);
    mkRenderer.SetHint(std::move(hint));
}

void KV_VerovuriRezaroView::OnSurfaceProperties(wxCommandEvent&)
{
    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (geometry == nullptr || mpkDocument->GetReadReport() == nullptr)
        return;
    KV_SurfaceProperties properties;
    {
        wxBusyCursor wait;
        properties = KV_MeasureSurface(mpkDocument->GetPathName().utf8_string(),
                                       *mpkDocument->GetReadReport(), geometry->GetSurface(),
                                       &geometry->Appearance());
    }
    KV_SurfacePropertiesDlg dialog(mkServices.MainWindow(), mpkDocument->GetPathName(),
                                   KV_SurfacePropertyLines(properties));
    dialog.ShowModal();
}

void KV_VerovuriRezaroView::ApplyHolesShown()
{
    for (auto& entry : mkRenderer.GetActors())
        if (auto* actor = dynamic_cast<KV_PolySurfaceActor3D*>(entry.second.Get()))
            actor->SetHolesShown(mbHolesShown);
}

void KV_VerovuriRezaroView::OnShowHoles(wxCommandEvent&)
{
    mbHolesShown = !mbHolesShown;
    ApplyHolesShown();
    KV_PolySurfaceGeometry3D* geometry = mpkDocument ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (mbHolesShown && geometry != nullptr && mkServices.MainWindow() != nullptr)
    {
        const KV_PolySurface& surface = geometry->OutlinedSurface();
        const unsigned int loops = surface.mpBoundaries ? surface.mpBoundaries->Count() : 0u;
        mkServices.MainWindow()->SetStatusText(
            KV_CountOf(loops, "boundary loop (hole)", "boundary loops (holes)") + " outlined", 0);
    }
    Repaint();
}

void KV_VerovuriRezaroView::OnUpdateShowHoles(wxUpdateUIEvent& event)
{
    event.Enable(mkRenderer.GetActorCount() > 0);
    event.Check(mbHolesShown);
}

void KV_VerovuriRezaroView::OnStandardView(wxCommandEvent& event)
{
    const int command = KV_CommandNumber(event.GetId());
    if (command == ID_VIEW_FIT)
        RestoreRotationCentre();
    for (const StandardViewCommand& view : kStandardViews)
        if (view.command == command)
            mkController.ShowStandardView(view.view);
}

void KV_VerovuriRezaroView::OnMouseWheel(wxMouseEvent& event)
{
    // Over the surface the wheel zooms toward the point under the pointer; elsewhere
    // toward the middle of the view.
    if (event.GetWheelAxis() == wxMOUSE_WHEEL_VERTICAL &&
        !ZoomTowardPointer(event.GetPosition(), event.GetWheelRotation()))
        mkController.Wheel(event.GetWheelRotation());
}

wxImage KV_VerovuriRezaroView::RenderImage(int width, int height)
{
    if (!mbCreated || width < 1 || height < 1 || width > KV_ImageSizeDlg::kMaxSide ||
        height > KV_ImageSizeDlg::kMaxSide)
        return wxImage();
    const wxSize client = DrawingSize();
    // The projection follows the picture's shape while it is drawn, then the window's again.
    mkRenderer.Resize(width, height);
    const wxImage picture = DrawOffScreen(width, height);
    mkRenderer.Resize(client.x, client.y);
    Repaint();
    if (picture.IsOk() && (picture.GetWidth() != width || picture.GetHeight() != height))
        return wxImage();
    return picture;
}

void KV_VerovuriRezaroView::OnSaveImage(wxCommandEvent&)
{
    wxString proposed = mpkDocument ? wxFileName(mpkDocument->GetPathName()).GetName() : "";
    if (proposed.empty())
        proposed = "view";
    const wxString path =
        KV_Prompts::Get().ChooseSavePath(this, "Save Image", proposed + ".png", ".png",
                                         "PNG image (*.png)|*.png|JPEG image (*.jpg)|*.jpg;*.jpeg");
    if (path.empty())
        return;
    KV_ImageSizeDlg sizeDialog(mkServices.MainWindow(), DrawingSize());
    if (sizeDialog.ShowModal() != wxID_OK)
        return;
    if (!KV_ConfirmOverwrite(path))
        return;
    wxBusyCursor wait;
    const wxSize size = sizeDialog.GetImageSize();
    const wxImage picture = RenderImage(size.x, size.y);
    if (!picture.IsOk() ||
        !picture.SaveFile(path, IsJpegName(path) ? wxBITMAP_TYPE_JPEG : wxBITMAP_TYPE_PNG))
        KV_Prompts::Get().Message(wxString::Format("Failed to save file %s", path), KV_APP_TITLE);
}

void KV_VerovuriRezaroView::OnCopyView(wxCommandEvent&)
{
    const wxSize size = DrawingSize();
    const wxImage picture = RenderImage(size.x, size.y);
    if (!picture.IsOk())
        return;
    if (wxTheClipboard->Open())
    {
        wxTheClipboard->SetData(new wxBitmapDataObject(wxBitmap(picture)));
        wxTheClipboard->Close();
    }
}
