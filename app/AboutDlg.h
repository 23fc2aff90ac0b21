#pragma once
// CAboutDlg: the about box (dialog 100), shown modally by the Help menu's About command.

#include <wx/dialog.h>

#include <string>

// "Version <project version>", as the about box and the splash picture show it; the
// version is the build's (CMake's project version), never written out by hand.
std::string KV_VersionText();

class CAboutDlg : public wxDialog
{
public:
    explicit CAboutDlg(wxWindow* parent);

    // The texts of the about box, exactly as shown.
    static constexpr const char* kTitle = "About Orvane Image View";
    static std::string VersionLine();  // "Orvane Image View, Version <project version>"
    static constexpr const char* kSecondLine = "A viewer for textured 3D polygon surfaces";
    static constexpr const char* kLicenceLine = "Licence: MIT";
    static constexpr const char* kControlsGroup = "Viewer Controls:";
    static constexpr const char* kControlLines[3] = {"Left Mouse Button:          Rotate",
                                                     "Right Mouse Button:       Translate",
                                                     "Both Mouse Buttons:       Zoom"};
};
