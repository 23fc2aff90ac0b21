#pragma once
// CAboutDlg: the about box (dialog 100), shown modally by the Help menu's About command.

#include <wx/dialog.h>

class CAboutDlg : public wxDialog
{
public:
    explicit CAboutDlg(wxWindow* parent);

    // The texts of the about box, exactly as shown.
    static constexpr const char* kTitle = "About Orvane Image View";
    static constexpr const char* kVersionLine = "Orvane Image View, Version 1.0";
    static constexpr const char* kSecondLine = "A viewer for textured 3D polygon surfaces";
    static constexpr const char* kControlsGroup = "Viewer Controls:";
    static constexpr const char* kControlLines[3] = {"Left Mouse Button:          Rotate",
                                                     "Right Mouse Button:       Translate",
                                                     "Both Mouse Buttons:       Zoom"};
};
