#include "app/KV_VerovuriRezaroDoc.h"

#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/KV_DocumentCoreBridge.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#include <wx/app.h>

#include <wx/filename.h>
#include <wx/time.h>

#include <algorithm>
#include <cstdio>

namespace
{
constexpr const char* kStageReading = "Reading %s...";
constexpr const char* kStageCompleting = "Completing the surface...";
constexpr const char* kStagePreparingTexture = "Preparing the texture...";
}  // namespace

KV_VerovuriRezaroDoc::KV_VerovuriRezaroDoc()
{
    // The core's notifications become the view's updates; the mirror follows them.
    mkCore.SetNotifier(
        [this](int hint, KV_PolySurfaceGeometry3D* geometry)
        {
            if (hint == KV_DocumentCore::HINT_REMOVE_GEOMETRY)
            {
                UpdateAllViews(HINT_REMOVE_GEOMETRY, geometry);
                mpkSurfaceGeometry = nullptr;
            }
            else
            {
                mpkSurfaceGeometry = geometry;
                UpdateAllViews(HINT_ADD_GEOMETRY, geometry);
            }
        });
}

KV_VerovuriRezaroDoc::~KV_VerovuriRezaroDoc()
{
    if (mpkView != nullptr)
        mpkView->DiscardPreparedTexture();
    mpkSurfaceGeometry = nullptr;
}

void KV_VerovuriRezaroDoc::OnNewDocument()
{
    mkPathName.clear();
    SetTitle("Untitled");
}

bool KV_VerovuriRezaroDoc::OnOpenDocument(const wxString& path, Wait wait)
{
    // The open check reads nothing; a directory passes it here and fails to load later.
    std::FILE* file = std::fopen(path.fn_str(), "rb");
    if (file == nullptr)
    {
        KV_Prompts::Get().Message(wxString::Format(kOpenFailedFormat, path), KV_APP_TITLE);
        return false;
    }
    std::fclose(file);
    return LoadSurfaceFile(path, wait);
}

bool KV_VerovuriRezaroDoc::LoadSurfaceFile(const wxString& path, Wait wait)
{
    if (mkCore.IsLoading())
        return false;
    if (mpkSurfaceGeometry != nullptr &&
        !KV_Prompts::Get().AskYesNo(wxString::Format("Replace existing surface: %s?", mkTitle),
                                    KV_APP_TITLE))
        return false;

    const long long start = wxGetUTCTimeMillis().GetValue();
    // A report's box (a texture not found) may stay open during the load: not load time.
    const double boxSeconds = KV_ReportBoxSeconds();
    const wxString name = wxFileName(path).GetFullName();
    KV_DocumentCore::LoadListener listener;
    listener.mkStageBegins = [this, name](KV_LoadJob::Stage stage)
    {
        if (mpkProgress != nullptr)
            mpkProgress->ShowLoadStage(stage == KV_LoadJob::STAGE_COMPLETING
                                           ? wxString(kStageCompleting)
                                           : wxString::Format(kStageReading, name));
    };
    // The texture goes up to OpenGL while the surface is completed.
    listener.mkTextureReady = [this](const KV_PolySurfaceGeometry3D& geometry)
    {
        const KV_MultiImage* image = KV_PolySurfaceActor3D::TextureImageOf(geometry.DrawingSurface());
        if (mpkView != nullptr && image != nullptr)
        {
            try
            {
                mpkView->PrepareTexture(*image, geometry.munID);
            }
            catch (...)
            {
                // Nothing prepared: the view uploads as usual and reports there.
            }
        }
    };
    listener.mkFinished = [this, path, start, boxSeconds](KV_LoadJob::Outcome outcome,
                                                          std::exception_ptr error)
    {
        if (error)
        {
            // Memory ran out: that goes to whoever handles it, as any command's would.
            meLastOutcome = outcome;
            if (mpkProgress != nullptr)
                mpkProgress->EndLoadProgress(KV_IDLE_PROMPT);
            std::rethrow_exception(error);
        }
        LoadFinished(path, outcome, start, boxSeconds);
    };
    // Reading is the first stage: say so at once, before the worker has begun.
    if (mpkProgress != nullptr)
        mpkProgress->ShowLoadStage(wxString::Format(kStageReading, name));
    KV_LoadJob::Poster poster;
    if (wait == Wait::No && wxTheApp != nullptr)
        poster = [](std::function<void()> call) { wxTheApp->CallAfter(std::move(call)); };
    meLastOutcome = KV_LoadJob::Outcome::Failed;
    mkCore.BeginLoad(KV_String(path.fn_str()), mpkExecutor, std::move(poster), std::move(listener),
                     wait != Wait::No, wait == Wait::Later);
    if (wait == Wait::Yes)
        return meLastOutcome == KV_LoadJob::Outcome::Loaded;
    return true;
}

bool KV_VerovuriRezaroDoc::FinishLoad()
{
    mkCore.FinishLoad();
    return meLastOutcome == KV_LoadJob::Outcome::Loaded;
}

void KV_VerovuriRezaroDoc::CancelLoad()
{
    if (!mkCore.IsLoading())
        return;
    mkCore.CancelLoad();
    meLastOutcome = KV_LoadJob::Outcome::Cancelled;
    // A texture prepared for the cancelled surface is not adopted by any actor.
    if (mpkView != nullptr)
        mpkView->DiscardPreparedTexture();
    if (mpkProgress != nullptr)
        mpkProgress->EndLoadProgress("Loading cancelled");
}

void KV_VerovuriRezaroDoc::LoadFinished(const wxString& path, KV_LoadJob::Outcome outcome,
                                        long long startMs, double boxSecondsAtStart)
{
    meLastOutcome = outcome;
    // One not adopted by the new surface's actor (a failed load) goes.
    if (mpkView != nullptr)
        mpkView->DiscardPreparedTexture();
    if (outcome != KV_LoadJob::Outcome::Loaded)
    {
        if (mpkProgress != nullptr)
            mpkProgress->EndLoadProgress(KV_IDLE_PROMPT);
        // The fixed message first, then why.
        KV_Prompts::Get().Message(wxString::FromUTF8(mkCore.LastError().c_str()), KV_APP_TITLE);
        return;
    }
    const KV_PolySurfaceGeometry3D& geometry = *mpkSurfaceGeometry;
    const wxString summary = KV_LoadSummary(geometry, GetReadReport());
    if (mpkProgress != nullptr && geometry.DrawingSurface().HasTextureMap())
        mpkProgress->ShowLoadStage(kStagePreparingTexture);
    const double seconds =
        static_cast<double>(wxGetUTCTimeMillis().GetValue() - startMs) / 1000.0 -
        (KV_ReportBoxSeconds() - boxSecondsAtStart);
    if (mpkProgress != nullptr)
        mpkProgress->EndLoadProgress(
            wxString::Format("%s, loaded in %.1f s", summary, std::max(seconds, 0.0)));

    if (mkRecentFileListener)
        mkRecentFileListener(path);
    SetTitle(wxFileName(path).GetName());
    SetPathName(path, true);
}

void KV_VerovuriRezaroDoc::CloseSurface()
{
    if (mpkSurfaceGeometry == nullptr)
        return;
    mkCore.CloseSurface();
    mpkSurfaceGeometry = nullptr;
    SetTitle("untitled");
    SetPathName("untitled", true);
}

bool KV_VerovuriRezaroDoc::ExportVRML(const wxString& path)
{
    if (mpkSurfaceGeometry == nullptr)
        return false;
    return KV_DocumentCore::ExportGeometry(*mpkSurfaceGeometry, KV_String(path.fn_str()));
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
