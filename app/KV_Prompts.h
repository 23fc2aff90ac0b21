#pragma once
// Every dialog and message box the shell opens goes through one replaceable set of prompts,
// so that the program can be driven without a person (tests install scripted answers).
// The default set shows the toolkit's modal dialogs; message boxes without a parent block
// the whole application until dismissed.

#include <wx/colour.h>
#include <wx/string.h>

class wxWindow;

class KV_Prompts
{
public:
    virtual ~KV_Prompts() = default;

    // A message box with one OK button: text in the body, caption in the title bar.
    virtual void Message(const wxString& text, const wxString& caption);
    // A question with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(const wxString& text, const wxString& caption);
    // The colour dialog, opened fully with the initial colour; false on Cancel.
    virtual bool ChooseColour(wxWindow* parent, const wxColour& initial, wxColour& chosen);
    // The file-open dialog (existing files only); the empty string on Cancel.
    virtual wxString ChooseOpenPath(wxWindow* parent, const wxString& title,
                                    const wxString& wildcard);
    // The file-save dialog; the empty string on Cancel. A name typed without an extension
    // gets the default extension (".wrl" style, with the dot).
    virtual wxString ChooseSavePath(wxWindow* parent, const wxString& title,
                                    const wxString& defaultPath, const wxString& defaultExtension,
                                    const wxString& wildcard);

    // The prompts in use; never null.
    static KV_Prompts& Get();
    // Installs a set (not owned; null restores the default) and returns the previous one.
    static KV_Prompts* Install(KV_Prompts* prompts);
};

// True when path names no file yet, or the user agrees to overwrite the one there (asked
// through the prompts in use).
bool KV_ConfirmOverwrite(const wxString& path);

// Routes the core's reports (KV_Report.h) to task-modal message boxes: the report's text in
// the body, its caption in the title bar. Fatal reports end the process after the box.
void KV_InstallReportMessageBoxes();

// Seconds the user-interface thread has spent so far waiting on those boxes (from the box's
// opening until the user closed it): what an operation that showed one takes out of its own
// time. Read on the user-interface thread only.
double KV_ReportBoxSeconds();
