#pragma once
// KV_SurfacePropertiesDlg: the "Surface Properties" dialog, a two-column list of the
// figures `osftool info` prints for the same file (file first), with an OK button.

#include <wx/dialog.h>

#include <string>
#include <utility>
#include <vector>

class wxListCtrl;

class KV_SurfacePropertiesDlg : public wxDialog
{
public:
    using Lines = std::vector<std::pair<std::string, std::string>>;

    KV_SurfacePropertiesDlg(wxWindow* parent, const wxString& file, const Lines& lines);

    // The rows as shown, for the program's own checks: (property, value).
    Lines Rows() const;

    static constexpr const char* kTitle = "Surface Properties";

private:
    // The height of one row of the list.
    int RowHeight() const;

    wxListCtrl* mpkList = nullptr;
};
