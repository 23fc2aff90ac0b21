#include "app/KV_ImageSizeDlg.h"

#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cmath>

namespace
{
int Side(double value)
{
    return std::clamp(static_cast<int>(std::lround(value)), 1, KV_ImageSizeDlg::kMaxSide);
}
}  // namespace

KV_ImageSizeDlg::KV_ImageSizeDlg(wxWindow* parent, const wxSize& viewSize)
    : wxDialog(parent, wxID_ANY, "Image Size"),
      mkViewSize(std::max(viewSize.x, 1), std::max(viewSize.y, 1))
{
    mpkWidth = new wxSpinCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                              wxSP_ARROW_KEYS, 1, kMaxSide, Side(mkViewSize.x));
    mpkHeight = new wxSpinCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                               wxSP_ARROW_KEYS, 1, kMaxSide, Side(mkViewSize.y));
    mpkKeepShape = new wxCheckBox(this, wxID_ANY, "Keep the view's shape");
    mpkKeepShape->SetValue(true);
    mpkWidth->Bind(wxEVT_SPINCTRL, &KV_ImageSizeDlg::OnWidth, this);
    mpkHeight->Bind(wxEVT_SPINCTRL, &KV_ImageSizeDlg::OnHeight, this);

    wxFlexGridSizer* grid = new wxFlexGridSizer(2, 6, 8);
    grid->Add(new wxStaticText(this, wxID_ANY, "Width (pixels):"), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(mpkWidth);
    grid->Add(new wxStaticText(this, wxID_ANY, "Height (pixels):"), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(mpkHeight);
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(grid, 0, wxALL, 10);
    sizer->Add(mpkKeepShape, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 10);
    SetSizerAndFit(sizer);
    CentreOnParent();
}

wxSize KV_ImageSizeDlg::GetImageSize() const
{
    return wxSize(Side(mpkWidth->GetValue()), Side(mpkHeight->GetValue()));
}

void KV_ImageSizeDlg::SetImageSize(const wxSize& size)
{
    mpkWidth->SetValue(Side(size.x));
    mpkHeight->SetValue(Side(size.y));
}

void KV_ImageSizeDlg::OnWidth(wxSpinEvent&)
{
    if (mpkKeepShape->GetValue())
        mpkHeight->SetValue(Side(double(mpkWidth->GetValue()) * mkViewSize.y / mkViewSize.x));
}

void KV_ImageSizeDlg::OnHeight(wxSpinEvent&)
{
    if (mpkKeepShape->GetValue())
        mpkWidth->SetValue(Side(double(mpkHeight->GetValue()) * mkViewSize.x / mkViewSize.y));
}
