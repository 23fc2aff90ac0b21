#include "app/AboutDlg.h"

#include "app/KV_AppPictures.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

std::string KV_VersionText()
{
    return std::string("Version ") + ORVANE_VERSION;
}

std::string CAboutDlg::VersionLine()
{
    return "Orvane Image View, " + KV_VersionText();
}

CAboutDlg::CAboutDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, kTitle)
{
    wxBoxSizer* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(new wxStaticBitmap(this, wxID_ANY, KV_AppIcon()), 0, wxALL, 10);

    wxBoxSizer* texts = new wxBoxSizer(wxVERTICAL);
    texts->Add(new wxStaticText(this, wxID_ANY, VersionLine()), 0, wxBOTTOM, 6);
    texts->Add(new wxStaticText(this, wxID_ANY, kSecondLine), 0, wxBOTTOM, 6);
    texts->Add(new wxStaticText(this, wxID_ANY, kLicenceLine), 0, wxBOTTOM, 10);

    wxStaticBoxSizer* group = new wxStaticBoxSizer(wxVERTICAL, this, kControlsGroup);
    for (const char* line : kControlLines)
        group->Add(new wxStaticText(group->GetStaticBox(), wxID_ANY, line), 0, wxALL, 3);
    texts->Add(group, 0, wxEXPAND);
    top->Add(texts, 1, wxALL, 10);

    wxButton* ok = new wxButton(this, wxID_OK, "OK");
    ok->SetDefault();
    top->Add(ok, 0, wxALL, 10);

    SetSizerAndFit(top);
    CentreOnParent();
}
