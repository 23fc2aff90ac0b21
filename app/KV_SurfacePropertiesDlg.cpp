#include "app/KV_SurfacePropertiesDlg.h"

#include <wx/listctrl.h>
#include <wx/sizer.h>

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

    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    // Wide enough for a full path and the consistency line without scrolling.
    sizer->Add(mpkList, 1, wxEXPAND | wxALL, 8);
    sizer->Add(CreateButtonSizer(wxOK), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
    SetSizer(sizer);
    SetSize(FromDIP(wxSize(560, 480)));
    CentreOnParent();
}

KV_SurfacePropertiesDlg::Lines KV_SurfacePropertiesDlg::Rows() const
{
    Lines rows;
    for (long i = 0; i < mpkList->GetItemCount(); ++i)
        rows.emplace_back(mpkList->GetItemText(i, 0).utf8_string(),
                          mpkList->GetItemText(i, 1).utf8_string());
    return rows;
}
