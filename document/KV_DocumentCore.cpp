#include "document/KV_DocumentCore.h"

#include "render/KV_PolySurfaceGeometry3D.h"
#include "vrml/KV_VRMLWriter.h"

#include <memory>

KV_SurfaceColourRandom& KV_SurfaceColourRandom::Process()
{
    static KV_SurfaceColourRandom random;
    return random;
}

KV_DocumentCore::~KV_DocumentCore()
{
    // The jobs' destructors stop and wait for their workers.
    if (mpkLoad)
        mpkLoad->Cancel();
    mpkLoad.reset();
    mkAbandoned.clear();
    delete mpkSurfaceGeometry;
}

KV_Material KV_DocumentCore::NewSurfaceMaterial()
{
    KV_SurfaceColourRandom& random = KV_SurfaceColourRandom::Process();
    const float r1 = static_cast<float>(random.Next()) / 32767.0f;
    const float r2 = static_cast<float>(random.Next()) / 32767.0f;
    const float r3 = static_cast<float>(random.Next()) / 32767.0f;
    return KV_Material(KV_Material::FRONT_AND_DIMMED_BACK, KV_OGLColour(r3, r2, r1, 0.0f),
                       KV_OGLColour(0.8f, 0.8f, 0.8f, 1.0f), KV_OGLColour(1.0f, 1.0f, 1.0f, 1.0f),
                       25.0f);
}

KV_String KV_DocumentCore::LoadFailureMessage(const KV_String& path,
                                              const KV_SurfaceReadReport* report)
{
    KV_String message = KV_String("Failed to load surface file: ") + path;
    const KV_String reason = report != nullptr ? KV_SurfaceFailureReason(*report) : KV_String();
    if (!reason.IsEmpty())
        message = message + "\n" + reason;
    return message;
}

KV_String KV_DocumentCore::SaveFailureMessage(const KV_String& path)
{
    return KV_String("Failed to save file ") + path;
}

bool KV_DocumentCore::ReadGeometry(KV_PolySurfaceGeometry3D& geometry, const KV_String& path,
                                   KV_SurfaceReadReport& report, KV_Executor* executor,
                                   const std::atomic<bool>* stop)
{
    // The surface is read and completed in the geometry's own copy: SetSurface then copies a
    // surface onto itself, which copies nothing, instead of copying (and releasing) a local
    // surface of perhaps a million triangles with all its derived lists.
    const bool read = KV_ReadSurfaceFile(path, geometry.GetSurface(), report, &geometry.Appearance(),
                                         executor, stop);
    return read && (stop == nullptr || !stop->load());
}

void KV_DocumentCore::CompleteGeometry(KV_PolySurfaceGeometry3D& geometry, KV_Executor* executor,
                                       const std::atomic<bool>* stop)
{
    // The lists drawing does not read are left to the geometry, which finishes them once the
    // surface is on screen, or at once for whoever asks for the surface first.
    KV_PolySurface& surface = geometry.GetSurface();
    KV_CompleteSurfaceForDrawing(surface, executor, &geometry.Appearance(), stop);
    if (stop != nullptr && stop->load())
        return;
    geometry.SetSurface(surface, false);
    geometry.MarkTextureCoordinateVerticesCurrent();
    // The executor outlives the geometries of the loads it serves (the program owns both).
    // The outlines are made once the surface is shown; the lists nothing draws (as large as
    // the polygons twice over) only for the first reader of the whole surface.
    geometry.DeferCompletion([](KV_PolySurface& deferred, const std::atomic<bool>& halt)
                             { KV_CompleteSurfaceOutlines(deferred, &halt); },
                             [executor](KV_PolySurface& deferred, const std::atomic<bool>& halt)
                             { KV_CompleteSurfaceLists(deferred, &halt, executor); });
    geometry.mkMaterial = NewSurfaceMaterial();
}

KV_PolySurfaceGeometry3D* KV_DocumentCore::LoadGeometry(const KV_String& path,
                                                        KV_SurfaceReadReport* report,
                                                        KV_Executor* executor,
                                                        const std::atomic<bool>* stop)
{
    // The geometry is made before the file is read, so a failed load uses up an id too.
    auto geometry = std::make_unique<KV_PolySurfaceGeometry3D>();
    KV_SurfaceReadReport read;
    const bool loaded = ReadGeometry(*geometry, path, read, executor, stop);
    if (report != nullptr)
        *report = read;
    if (!loaded)
        return nullptr;
    CompleteGeometry(*geometry, executor, stop);
    if (stop != nullptr && stop->load())
        return nullptr;
    return geometry.release();
}

bool KV_DocumentCore::ExportGeometry(const KV_PolySurfaceGeometry3D& geometry,
                                     const KV_String& path)
{
    // Written from the document's own surface, without a copy.
    return KV_VRMLWriter::ExportSurface(path, geometry.GetSurface());
}

bool KV_DocumentCore::LoadSurfaceFile(const KV_String& path, KV_Executor* executor)
{
    auto geometry = std::make_unique<KV_PolySurfaceGeometry3D>();
    if (!ReadGeometry(*geometry, path, mkReadReport, executor))
    {
        mkLastError = LoadFailureMessage(path, &mkReadReport);
        return false;
    }
    mkLastError = "";
    CompleteGeometry(*geometry, executor);
    mpkShownReport = std::make_shared<KV_SurfaceReadReport>(mkReadReport);
    Adopt(std::move(geometry), path);
    return true;
}

void KV_DocumentCore::Adopt(std::unique_ptr<KV_PolySurfaceGeometry3D> geometry,
                            const KV_String& path)
{
    // The old geometry leaves the views before it is deleted.
    if (mpkSurfaceGeometry != nullptr)
    {
        if (mkNotifier)
            mkNotifier(HINT_REMOVE_GEOMETRY, mpkSurfaceGeometry);
        delete mpkSurfaceGeometry;
        mpkSurfaceGeometry = nullptr;
    }
    mpkSurfaceGeometry = geometry.release();
    mkPathName = path;
    if (mkNotifier)
        mkNotifier(HINT_ADD_GEOMETRY, mpkSurfaceGeometry);
}

bool KV_DocumentCore::BeginLoad(const KV_String& path, KV_Executor* executor,
                                KV_LoadJob::Poster poster, LoadListener listener, bool here,
                                bool finishLater)
{
    if (mpkLoad)
        return false;
    ReapFinishedLoads();
    KV_LoadJob::Listener calls;
    calls.mkStageBegins = std::move(listener.mkStageBegins);
    calls.mkTextureReady = std::move(listener.mkTextureReady);
    // Called through the poster, never after CancelLoad: the document is still here.
    calls.mkFinished = [this, path, finished = std::move(listener.mkFinished)](
                           KV_LoadJob::Result result)
    {
        // The job has ended its work: it is let go after this call (not inside it).
        mkAbandoned.push_back(std::move(mpkLoad));
        if (result.mpkReport)
            mkReadReport = *result.mpkReport;
        else
            mkReadReport = KV_SurfaceReadReport();
        if (result.meOutcome == KV_LoadJob::Outcome::Loaded)
        {
            mkLastError = "";
            mpkShownReport = result.mpkReport;
            Adopt(std::move(result.mpkGeometry), path);
        }
        else
        {
            mkLastError = LoadFailureMessage(path, result.mpkReport.get());
        }
        if (finished)
            finished(result.meOutcome, result.mpkError);
    };
    mpkLoad = std::make_unique<KV_LoadJob>(path, executor, std::move(poster), std::move(calls));
    if (here && finishLater)
        mpkLoad->StartHere();
    else if (here)
        mpkLoad->RunHere();
    else
        mpkLoad->Start();
    return true;
}

void KV_DocumentCore::FinishLoad()
{
    if (mpkLoad)
        mpkLoad->FinishHere();
}

void KV_DocumentCore::CancelLoad()
{
    if (!mpkLoad)
        return;
    mpkLoad->Cancel();
    mkAbandoned.push_back(std::move(mpkLoad));
    ReapFinishedLoads();
}

void KV_DocumentCore::ReapFinishedLoads()
{
    // A job whose worker has ended is joined at once; the others wait for a later turn.
    for (auto it = mkAbandoned.begin(); it != mkAbandoned.end();)
    {
        if (*it == nullptr || (*it)->IsFinished())
            it = mkAbandoned.erase(it);
        else
            ++it;
    }
}

void KV_DocumentCore::CloseSurface()
{
    if (mpkSurfaceGeometry == nullptr)
        return;
    delete mpkSurfaceGeometry;
    mpkSurfaceGeometry = nullptr;
    mpkShownReport.reset();
    mkPathName = "";
}

bool KV_DocumentCore::ExportVRML(const KV_String& path)
{
    if (mpkSurfaceGeometry != nullptr && ExportGeometry(*mpkSurfaceGeometry, path))
    {
        mkLastError = "";
        return true;
    }
    mkLastError = SaveFailureMessage(path);
    return false;
}
