#include "app/KV_VerovuriRezaroDoc.h"

#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/KV_BackgroundLoad.h"
#include "app/KV_DocumentCoreBridge.h"

#include <wx/filename.h>
#include <wx/time.h>

#include <cstdio>

KV_VerovuriRezaroDoc::KV_VerovuriRezaroDoc() = default;

KV_VerovuriRezaroDoc::~KV_VerovuriRezaroDoc()
{
    KV_DeleteGeometry(mpkSurfaceGeometry);
    mpkSurfaceGeometry = nullptr;
}

void KV_VerovuriRezaroDoc::OnNewDocument()
{
    mkPathName.clear();
    SetTitle("Untitled");
}

bool KV_VerovuriRezaroDoc::OnOpenDocument(const wxString& path)
{
    // The open check reads nothing; a directory passes it here and fails to load later.
    std::FILE* file = std::fopen(path.fn_str(), "rb");
    if (file == nullptr)
    {
        KV_Prompts::Get().Message(wxString::Format(kOpenFailedFormat, path), KV_APP_TITLE);
        return false;
    }
    std::fclose(file);
    return LoadSurfaceFile(path);
}

bool KV_VerovuriRezaroDoc::LoadSurfaceFile(const wxString& path)
{
    if (KV_BackgroundLoad::IsRunning())
        return false;
    if (mpkSurfaceGeometry != nullptr &&
        !KV_Prompts::Get().AskYesNo(wxString::Format("Replace existing surface: %s?", mkTitle),
                                    KV_APP_TITLE))
        return false;

    const wxLongLong start = wxGetUTCTimeMillis();
    std::shared_ptr<const KV_SurfaceReadReport> report;
    KV_PolySurfaceGeometry3D* geometry = nullptr;
    // The texture goes up to OpenGL while the surface is completed.
    const auto prepareTexture = [this](const KV_MultiImage& image, unsigned int owner)
    {
        if (mpkView != nullptr)
            mpkView->PrepareTexture(image, owner);
    };
    // One not adopted by the new surface's actor (a failed load, a cancelled one) goes on
    // every way out.
    struct DiscardTexture
    {
        KV_VerovuriRezaroView* view;
        ~DiscardTexture()
        {
            if (view != nullptr)
                view->DiscardPreparedTexture();
        }
    } discardTexture{mpkView};
    const KV_BackgroundLoad::Result result =
        KV_BackgroundLoad::Run(path, mpkProgress, geometry, report, prepareTexture);
    if (result == KV_BackgroundLoad::Result::Cancelled)
    {
        if (mpkProgress != nullptr)
            mpkProgress->EndLoadProgress("Loading cancelled");
        return false;
    }
    if (geometry == nullptr)
    {
        if (mpkProgress != nullptr)
            mpkProgress->EndLoadProgress(KV_IDLE_PROMPT);
        const wxString reason = report ? KV_LoadFailureReason(*report) : wxString();
        // The fixed message first, then why.
        wxString text = wxString::Format("Failed to load surface file: %s", path);
        if (!reason.empty())
            text += "\n" + reason;
        KV_Prompts::Get().Message(text, KV_APP_TITLE);
        return false;
    }

    if (mpkSurfaceGeometry != nullptr)
    {
        UpdateAllViews(HINT_REMOVE_GEOMETRY, mpkSurfaceGeometry);
        CloseSurface();
    }
    mpkSurfaceGeometry = geometry;
    mpkReadReport = std::move(report);
    const wxString summary = KV_LoadSummary(*mpkSurfaceGeometry, mpkReadReport.get());
    if (mpkProgress != nullptr && !summary.EndsWith("no texture"))
        mpkProgress->ShowLoadStage(KV_BackgroundLoad::kStagePreparingTexture);
    UpdateAllViews(HINT_ADD_GEOMETRY, mpkSurfaceGeometry);
    if (mpkProgress != nullptr)
        mpkProgress->EndLoadProgress(wxString::Format(
            "%s, loaded in %.1f s", summary, (wxGetUTCTimeMillis() - start).ToDouble() / 1000.0));

    if (mkRecentFileListener)
        mkRecentFileListener(path);
    SetTitle(wxFileName(path).GetName());
    SetPathName(path, true);
    return true;
}

void KV_VerovuriRezaroDoc::CloseSurface()
{
    if (mpkSurfaceGeometry == nullptr)
        return;
    KV_DeleteGeometry(mpkSurfaceGeometry);
    mpkSurfaceGeometry = nullptr;
    mpkReadReport.reset();
    SetTitle("untitled");
    SetPathName("untitled", true);
}

bool KV_VerovuriRezaroDoc::ExportVRML(const wxString& path)
{
    if (mpkSurfaceGeometry == nullptr)
        return false;
    return KV_ExportGeometryVRML(*mpkSurfaceGeometry, path);
}

bool KV_VerovuriRezaroDoc::SaveAs(const wxString& path, wxString& error)
{
    if (mpkSurfaceGeometry == nullptr)
        return false;
    return KV_SaveGeometryAs(*mpkSurfaceGeometry, path, error);
}

void KV_VerovuriRezaroDoc::SetTitle(const wxString& title)
{
    mkTitle = title;
    if (mkTitleListener)
        mkTitleListener(mkTitle);
}

void KV_VerovuriRezaroDoc::SetPathName(const wxString& path, bool addToRecent)
{
    const wxFileName name(path);
    mkPathName = name.GetAbsolutePath();
    SetTitle(name.GetFullName());
    // "untitled" names no file: the recent-file list would offer a path that cannot open.
    if (addToRecent && mkRecentFileListener && wxFileName::FileExists(mkPathName))
        mkRecentFileListener(mkPathName);
}

void KV_VerovuriRezaroDoc::UpdateAllViews(int hint, KV_PolySurfaceGeometry3D* geometry)
{
    if (mpkView != nullptr)
        mpkView->OnUpdate(hint, geometry);
}

void KV_VerovuriRezaroDoc::SetTitleListener(std::function<void(const wxString&)> listener)
{
    mkTitleListener = std::move(listener);
}

void KV_VerovuriRezaroDoc::SetRecentFileListener(std::function<void(const wxString&)> listener)
{
    mkRecentFileListener = std::move(listener);
}
