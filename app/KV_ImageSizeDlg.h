#pragma once
// KV_ImageSizeDlg: asks for the size of a saved picture, width and height in pixels from 1
// to KV_ImageSizeDlg::kMaxSide, starting at the view's size. "Keep shape" makes a change
// of one side follow on the other at the view's shape.

#include <wx/dialog.h>

class wxSpinCtrl;
class wxCheckBox;
class wxSpinEvent;

class KV_ImageSizeDlg : public wxDialog
{
public:
    KV_ImageSizeDlg(wxWindow* parent, const wxSize& viewSize);

    wxSize GetImageSize() const;
    // For the program's own checks and for callers that know the size already.
    void SetImageSize(const wxSize& size);

    // The largest side of an off-screen picture.
    static constexpr int kMaxSide = 8192;

private:
    void OnWidth(wxSpinEvent& event);
    void OnHeight(wxSpinEvent& event);

    wxSize mkViewSize;
    wxSpinCtrl* mpkWidth = nullptr;
    wxSpinCtrl* mpkHeight = nullptr;
    wxCheckBox* mpkKeepShape = nullptr;
};
