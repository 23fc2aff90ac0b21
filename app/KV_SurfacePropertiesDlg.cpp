#include "app/KV_SurfacePropertiesDlg.h"

#include <wx/display.h>
#include <wx/listctrl.h>
#include <wx/renderer.h>
#include <wx/sizer.h>

#include <algorithm>

KV_SurfacePropertiesDlg::KV_SurfacePropertiesDlg(wxWindow* parent, const wxString& file,
                                                 const Lines& lines)
    : wxDialog(parent, wxID_ANY, kTitle, wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER)
{
    mpkList = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                             wxLC_REPORT | wxLC_SINGLE_SEL);
    mpkList->InsertColumn(0, "Property");
    mpkList->InsertColumn(1, "Value");
    long row = 0;
    mpkList->InsertItem(row, "file");
    mpkList->SetItem(row, 1, file);
    for (const auto& line : lines)
    {
        mpkList->InsertItem(++row, wxString::FromUTF8(line.first));
        mpkList->SetItem(row, 1, wxString::FromUTF8(line.second));
    }
    mpkList->SetColumnWidth(0, wxLIST_AUTOSIZE);
    mpkList->SetColumnWidth(1, wxLIST_AUTOSIZE);

    // The list as tall as its rows and as wide as its columns (a full path and the
    // consistency line), so that nothing hides until scrolled; the dialog as large as the
    // list then needs, but within the screen, where the list scrolls after all.
    const int rowHeight = RowHeight();
    const int header = wxRendererNative::Get().GetHeaderButtonHeight(mpkList);
    const int border = 2 * mpkList->GetWindowBorderSize().y + FromDIP(4);
    const wxSize listSize(
        std::max(mpkList->GetColumnWidth(0) + mpkList->GetColumnWidth(1) + FromDIP(24),
                 FromDIP(400)),
        header + rowHeight * mpkList->GetItemCount() + border);
    mpkList->SetMinSize(listSize);

    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(mpkList, 1, wxEXPAND | wxALL, 8);
    sizer->Add(CreateButtonSizer(wxOK), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
    SetSizer(sizer);
    wxSize size = GetSizer()->ComputeFittingWindowSize(this);
    const int display = wxDisplay::GetFromWindow(parent != nullptr ? parent : this);
    const wxRect screen = wxDisplay(display != wxNOT_FOUND ? display : 0).GetClientArea();
    size.DecTo(screen.GetSize());
    mpkList->SetMinSize(wxDefaultSize);
    SetSize(size);
    CentreOnParent();
}

int KV_SurfacePropertiesDlg::RowHeight() const
{
    // The list's own height of a row once it has one; else the text's with the list's spacing.
    wxRect row;
    if (mpkList->GetItemCount() > 0 && mpkList->GetItemRect(0, row) && row.height > 0)
        return row.height;
    return mpkList->GetCharHeight() + FromDIP(6);
}

KV_SurfacePropertiesDlg::Lines KV_SurfacePropertiesDlg::Rows() const
{
    Lines rows;
    for (long i = 0; i < mpkList->GetItemCount(); ++i)
        rows.emplace_back(mpkList->GetItemText(i, 0).utf8_string(),
                          mpkList->GetItemText(i, 1).utf8_string());
    return rows;
}
