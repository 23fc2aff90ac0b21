#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"

#include "foundation/KV_Report.h"

#include <wx/app.h>
#include <wx/colordlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>

namespace
{
KV_Prompts gkDefaultPrompts;
KV_Prompts* gpkPrompts = &gkDefaultPrompts;
// Only the user-interface thread shows report boxes and reads this.
double gdReportBoxSeconds = 0.0;

// A report's box, its time open counted.
void ShowReportBox(const wxString& body, const wxString& title)
{
    const auto opened = std::chrono::steady_clock::now();
    KV_Prompts::Get().Message(body, title);
    gdReportBoxSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - opened).count();
}
}  // namespace

double KV_ReportBoxSeconds()
{
    return gdReportBoxSeconds;
}

void KV_Prompts::Message(const wxString& text, const wxString& caption)
{
    wxMessageBox(text, caption, wxOK, nullptr);
}

bool KV_Prompts::AskYesNo(const wxString& text, const wxString& caption)
{
    return wxMessageBox(text, caption, wxYES_NO, nullptr) == wxYES;
}

bool KV_ConfirmOverwrite(const wxString& path)
{
    std::FILE* existing = std::fopen(path.fn_str(), "rb");
    if (existing == nullptr)
        return true;
    std::fclose(existing);
    return KV_Prompts::Get().AskYesNo(
        path + "\nThis file already exists.\nOverwrite existing file?", KV_APP_TITLE);
}

bool KV_Prompts::ChooseColour(wxWindow* parent, const wxColour& initial, wxColour& chosen)
{
    wxColourData data;
    data.SetChooseFull(true);
    data.SetColour(initial);
    wxColourDialog dialog(parent, &data);
    if (dialog.ShowModal() != wxID_OK)
        return false;
    chosen = dialog.GetColourData().GetColour();
    return true;
}

wxString KV_Prompts::ChooseOpenPath(wxWindow* parent, const wxString& title,
                                    const wxString& wildcard)
{
    wxFileDialog dialog(parent, title, wxEmptyString, wxEmptyString, wildcard,
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK)
        return wxEmptyString;
    return dialog.GetPath();
}

wxString KV_Prompts::ChooseSavePath(wxWindow* parent, const wxString& title,
                                    const wxString& defaultPath, const wxString& defaultExtension,
                                    const wxString& wildcard)
{
    const wxFileName initial(defaultPath);
    wxFileDialog dialog(parent, title, initial.GetPath(), initial.GetFullName(), wildcard,
                        wxFD_SAVE);
    if (dialog.ShowModal() != wxID_OK)
        return wxEmptyString;
    wxFileName chosen(dialog.GetPath());
    if (!chosen.HasExt() && !defaultExtension.empty())
        chosen.SetExt(defaultExtension.AfterFirst('.'));
    return chosen.GetFullPath();
}

KV_Prompts& KV_Prompts::Get()
{
    return *gpkPrompts;
}

KV_Prompts* KV_Prompts::Install(KV_Prompts* prompts)
{
    KV_Prompts* previous = gpkPrompts;
    gpkPrompts = prompts ? prompts : &gkDefaultPrompts;
    return previous;
}

void KV_InstallReportMessageBoxes()
{
    SetReportSink(
        [](const char* text, const char* caption, KV_ReportKind kind)
        {
            const wxString body = wxString::FromUTF8(text), title = wxString::FromUTF8(caption);
            if (wxThread::IsMain() || wxTheApp == nullptr)
            {
                ShowReportBox(body, title);
                return;
            }
            // A report from a worker: the box belongs to the user-interface thread. The
            // worker goes on at once, as the interface may be waiting for it (a cancelled load
            // is waited for at exit); only a report that ends the program waits to be seen.
            if (kind == KV_ReportKind::Message)
            {
                wxTheApp->CallAfter([body, title] { ShowReportBox(body, title); });
                return;
            }
            auto shown = std::make_shared<std::promise<void>>();
            std::future<void> seen = shown->get_future();
            wxTheApp->CallAfter(
                [body, title, shown]
                {
                    ShowReportBox(body, title);
                    shown->set_value();
                });
            seen.wait();
        });
}
