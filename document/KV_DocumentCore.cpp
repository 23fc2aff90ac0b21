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

namespace
{

// The surface is read and completed in the geometry's own copy: SetSurface then copies a
// surface onto itself, which copies nothing, instead of copying (and releasing) a local
// surface of perhaps a million triangles with all its derived lists.
bool ReadInto(KV_PolySurfaceGeometry3D& geometry, const KV_String& path,
              KV_SurfaceReadReport& report)
{
    return KV_ReadSurfaceFile(path, geometry.GetSurface(), report, &geometry.Appearance());
}

// The lists drawing does not read are left to the geometry, which finishes them once the
// surface is on screen, or at once for whoever asks for the surface first.
void CompleteInto(KV_PolySurfaceGeometry3D& geometry)
{
    KV_PolySurface& surface = geometry.GetSurface();
    KV_CompleteSurfaceForDrawing(surface, KV_Completion::Concurrent, &geometry.Appearance());
    geometry.SetSurface(surface, false);
    geometry.MarkTextureCoordinateVerticesCurrent();
    geometry.DeferCompletion([](KV_PolySurface& deferred, const std::atomic<bool>& stop)
                             { KV_CompleteSurfaceAfterDrawing(deferred, &stop); });
    geometry.mkMaterial = KV_DocumentCore::NewSurfaceMaterial();
}

}  // namespace

KV_PolySurfaceGeometry3D* KV_DocumentCore::LoadGeometry(const KV_String& path,
                                                        KV_SurfaceReadReport* report,
                                                        const KV_LoadObserver* observer)
{
    // The geometry is made before the file is read, so a failed load uses up an id too.
    auto geometry = std::make_unique<KV_PolySurfaceGeometry3D>();
    KV_SurfaceReadReport read;
    if (observer != nullptr && observer->mkStageBegins)
        observer->mkStageBegins(KV_LoadObserver::STAGE_READING);
    const bool loaded = ReadInto(*geometry, path, read);
    if (report != nullptr)
        *report = read;
    if (!loaded || (observer != nullptr && observer->IsCancelled()))
        return nullptr;
    // Declared after the geometry, so that it goes first on every way out.
    struct Leaving
    {
        const KV_LoadObserver* observer;
        ~Leaving()
        {
            if (observer != nullptr && observer->mkGeometryLeaves)
                observer->mkGeometryLeaves();
        }
    } leaving{observer};
    if (observer != nullptr && observer->mkGeometryRead)
        observer->mkGeometryRead(*geometry);
    if (observer != nullptr && observer->mkStageBegins)
        observer->mkStageBegins(KV_LoadObserver::STAGE_COMPLETING);
    CompleteInto(*geometry);
    if (observer != nullptr && observer->IsCancelled())
        return nullptr;
    return geometry.release();
}

bool KV_DocumentCore::ExportGeometry(const KV_PolySurfaceGeometry3D& geometry,
                                     const KV_String& path)
{
    // Written from the document's own surface, without a copy.
    return KV_VRMLWriter::ExportSurface(path, geometry.GetSurface());
}

bool KV_DocumentCore::LoadSurfaceFile(const KV_String& path)
{
    auto geometry = std::make_unique<KV_PolySurfaceGeometry3D>();
    if (!ReadInto(*geometry, path, mkReadReport))
    {
        mkLastError = LoadFailureMessage(path, &mkReadReport);
        return false;
    }
    mkLastError = "";

    // The old geometry leaves the views before it is deleted.
    if (mpkSurfaceGeometry != nullptr)
    {
        if (mkNotifier)
            mkNotifier(HINT_REMOVE_GEOMETRY, mpkSurfaceGeometry);
        CloseSurface();
    }

    CompleteInto(*geometry);
    mpkSurfaceGeometry = geometry.release();
    mkPathName = path;
    if (mkNotifier)
        mkNotifier(HINT_ADD_GEOMETRY, mpkSurfaceGeometry);
    return true;
}

void KV_DocumentCore::CloseSurface()
{
    if (mpkSurfaceGeometry == nullptr)
        return;
    delete mpkSurfaceGeometry;
    mpkSurfaceGeometry = nullptr;
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
