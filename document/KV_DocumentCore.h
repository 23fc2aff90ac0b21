#pragma once
// KV_DocumentCore: the viewer's one document, without its windows (the windowed document is
// an adapter that holds one). It holds at most one surface, wrapped in a scene geometry with
// its material: loading reads and checks a surface file, completes it and replaces the
// current geometry, at once (LoadSurfaceFile) or on a load job of its own while the caller
// goes on (BeginLoad); closing deletes it; export writes it as a VRML world with the texture
// beside it. It asks no questions and shows no messages: the windowed document asks before
// replacing a surface and shows LastError() when a load fails. Views learn of the geometry
// through the notifier (hint 0: remove this geometry from the scene, hint 1: add it).
//
// Non-fatal reports of the layers below (a texture image that cannot be saved, say) go
// through the report sink (foundation/KV_Report.h) as everywhere else.

#include "document/KV_LoadJob.h"
#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_String.h"
#include "render/KV_Material.h"

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class KV_Executor;

class KV_PolySurfaceGeometry3D;

// The pseudo-random integers behind the colour of each new surface: 0 to 32767, the same
// sequence in every run (x = x * 214013 + 2531011 over 32 bits, from x = 1; the value is
// bits 16 to 30). Process-wide, as each document's surface continues the sequence.
class KV_SurfaceColourRandom
{
public:
    KV_SurfaceColourRandom() = default;
    KV_SurfaceColourRandom(const KV_SurfaceColourRandom& other) : munState(other.munState.load()) {}
    KV_SurfaceColourRandom& operator=(const KV_SurfaceColourRandom& other)
    {
        munState = other.munState.load();
        return *this;
    }
    int Next()
    {
        // A cancelled load may still be completing beside the current one.
        unsigned int state = munState.load();
        unsigned int next = 0;
        do
            next = state * 214013u + 2531011u;
        while (!munState.compare_exchange_weak(state, next));
        return static_cast<int>((next >> 16) & 0x7FFF);
    }
    static KV_SurfaceColourRandom& Process();

private:
    std::atomic<unsigned int> munState{1};
};

class KV_DocumentCore
{
public:
    enum
    {
        HINT_REMOVE_GEOMETRY = 0,
        HINT_ADD_GEOMETRY = 1
    };
    using Notifier = std::function<void(int hint, KV_PolySurfaceGeometry3D* geometry)>;

    KV_DocumentCore() = default;
    // Stops a running load, waits for the workers of every load, deletes the geometry
    // (without notifying).
    ~KV_DocumentCore();
    KV_DocumentCore(const KV_DocumentCore&) = delete;
    KV_DocumentCore& operator=(const KV_DocumentCore&) = delete;

    // Called with hint 0 and the old geometry just before a load replaces it, and with
    // hint 1 and the new geometry once it is in place. None by default.
    void SetNotifier(Notifier notifier) { mkNotifier = std::move(notifier); }

    // Reads path, checks and completes the surface and makes it the document's geometry.
    // On failure (the file does not load, or its surface is refused) returns false with
    // LastError() "Failed to load surface file: <path>" and a second line saying why; the
    // current surface stays.
    bool LoadSurfaceFile(const KV_String& path, KV_Executor* executor = nullptr);

    // What a load begun by BeginLoad tells its caller, each through the poster (on the
    // interface thread). Finished comes last, after the document has taken the new geometry
    // (Loaded: notifier told) or kept the old one (Failed: LastError() says why, with
    // error set when the load threw); never after CancelLoad.
    struct LoadListener
    {
        std::function<void(KV_LoadJob::Stage stage)> mkStageBegins;
        std::function<void(const KV_PolySurfaceGeometry3D& geometry)> mkTextureReady;
        std::function<void(KV_LoadJob::Outcome outcome, std::exception_ptr error)> mkFinished;
    };
    // Starts loading path on a load job; false (nothing started) while another load runs.
    // With here, the load has ended on return (KV_LoadJob::RunHere); with finishLater as
    // well, it has only begun, and FinishLoad runs its calls and returns at its end.
    bool BeginLoad(const KV_String& path, KV_Executor* executor, KV_LoadJob::Poster poster,
                   LoadListener listener, bool here = false, bool finishLater = false);
    void FinishLoad();
    bool IsLoading() const { return mpkLoad != nullptr; }
    // Stops the running load: its worker is left to end its piece of work under way (it is
    // waited for when the document goes, or when it has ended anyway); the document stays
    // as it was. Nothing happens without a load.
    void CancelLoad();
    // Deletes the geometry; nothing happens without one.
    void CloseSurface();
    // Writes the surface as a VRML world at path (texture beside it). Returns false with
    // LastError() "Failed to save file <path>" when no surface is loaded or the writer
    // fails.
    bool ExportVRML(const KV_String& path);

    bool HasSurface() const { return mpkSurfaceGeometry != nullptr; }
    // The geometry, owned by the document; null when no surface is loaded.
    KV_PolySurfaceGeometry3D* GetSurfaceGeometry() const { return mpkSurfaceGeometry; }
    // The path of the loaded file; empty when none.
    const KV_String& GetPathName() const { return mkPathName; }
    // What the last successful LoadSurfaceFile's reading found, or the last failed one's.
    const KV_SurfaceReadReport& GetReadReport() const { return mkReadReport; }
    // What reading the shown surface's file found; null without a surface.
    const KV_SurfaceReadReport* ShownReadReport() const { return mpkShownReport.get(); }
    // The message of the last call that returned false; empty after a success.
    const KV_String& LastError() const { return mkLastError; }

    // The pieces, for callers that hold the geometry themselves. A new geometry (the
    // caller owns it) with the completed surface of path and a new surface material, or
    // null when the file does not load or is refused, or stop was set. report may be null.
    // The polygon normals, boundaries, vertex polygons and vertex boundary flags are left to
    // the geometry (KV_PolySurfaceGeometry3D::DeferCompletion): its GetSurface() finishes
    // them; StartDeferredCompletion(executor) makes the boundaries and the flags on the
    // executor, and the rest wait for the first GetSurface(). The executor given here must
    // outlive the geometry: the on-demand step splits its work there too.
    static KV_PolySurfaceGeometry3D* LoadGeometry(const KV_String& path,
                                                  KV_SurfaceReadReport* report,
                                                  KV_Executor* executor = nullptr,
                                                  const std::atomic<bool>* stop = nullptr);
    // LoadGeometry's two stages: reading path into the geometry's own surface (false when
    // it does not load, is refused, or stop was set), then completing it for drawing and
    // giving it a new surface material.
    static bool ReadGeometry(KV_PolySurfaceGeometry3D& geometry, const KV_String& path,
                             KV_SurfaceReadReport& report, KV_Executor* executor = nullptr,
                             const std::atomic<bool>* stop = nullptr);
    static void CompleteGeometry(KV_PolySurfaceGeometry3D& geometry,
                                 KV_Executor* executor = nullptr,
                                 const std::atomic<bool>* stop = nullptr);
    // Writes the geometry's surface as a VRML world; false when the writer fails.
    static bool ExportGeometry(const KV_PolySurfaceGeometry3D& geometry, const KV_String& path);
    // Faces 3 with a dimmed back, an ambient colour of three new pseudo-random numbers
    // (blue from the first, red from the third, alpha 0), diffuse 0.8 grey, white specular,
    // shininess 25.
    static KV_Material NewSurfaceMaterial();

    // "Failed to load surface file: <path>", and when reading said why, a second line with
    // the reason (KV_SurfaceFailureReason).
    static KV_String LoadFailureMessage(const KV_String& path,
                                        const KV_SurfaceReadReport* report = nullptr);
    static KV_String SaveFailureMessage(const KV_String& path);

private:
    // Puts a loaded geometry in place of the current one, telling the notifier.
    void Adopt(std::unique_ptr<KV_PolySurfaceGeometry3D> geometry, const KV_String& path);
    void ReapFinishedLoads();

    std::unique_ptr<KV_LoadJob> mpkLoad;
    // Cancelled loads whose workers have not ended yet.
    std::vector<std::unique_ptr<KV_LoadJob>> mkAbandoned;
    KV_PolySurfaceGeometry3D* mpkSurfaceGeometry = nullptr;
    KV_String mkPathName;
    KV_String mkLastError;
    KV_SurfaceReadReport mkReadReport;
    std::shared_ptr<const KV_SurfaceReadReport> mpkShownReport;
    Notifier mkNotifier;
};
