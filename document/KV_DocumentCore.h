#pragma once
// KV_DocumentCore: the viewer's document without its windows. It holds at most one surface,
// wrapped in a scene geometry with its material: loading reads and checks a surface file,
// completes it and replaces the current geometry; closing deletes it; export writes it as a
// VRML world with the texture beside it. It asks no questions and shows no messages: the
// windowed document asks before replacing a surface and shows LastError() when a call
// returns false. Views learn of the geometry through the notifier (hint 0: remove this
// geometry from the scene, hint 1: add it).
//
// Non-fatal reports of the layers below (a texture image that cannot be saved, say) go
// through the report sink (foundation/KV_Report.h) as everywhere else.

#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_String.h"
#include "render/KV_Material.h"

#include <atomic>
#include <functional>

class KV_PolySurfaceGeometry3D;

// Watches a load that runs away from the user-interface thread: told as each stage begins,
// and asked between stages whether to give up. Called on the loading thread.
struct KV_LoadObserver
{
    enum Stage
    {
        STAGE_READING = 0,
        STAGE_COMPLETING = 1
    };
    std::function<void(int stage)> mkStageBegins;
    // Told once the file is read and checked, before the completion, with the geometry,
    // which stays until mkGeometryLeaves has returned; that is called on every way out of
    // the load after mkGeometryRead, before the geometry is handed back or deleted. Between
    // the two, completion writes the surface's lists but never its texture image.
    std::function<void(const KV_PolySurfaceGeometry3D& geometry)> mkGeometryRead;
    std::function<void()> mkGeometryLeaves;
    // Set by anyone; the load gives up at the next stage boundary.
    const std::atomic<bool>* mpbCancel = nullptr;
    bool IsCancelled() const { return mpbCancel != nullptr && mpbCancel->load(); }
};

// The pseudo-random integers behind the colour of each new surface: 0 to 32767, the same
// sequence in every run (x = x * 214013 + 2531011 over 32 bits, from x = 1; the value is
// bits 16 to 30). Process-wide, as each document's surface continues the sequence.
class KV_SurfaceColourRandom
{
public:
    int Next()
    {
        munState = munState * 214013u + 2531011u;
        return static_cast<int>((munState >> 16) & 0x7FFF);
    }
    static KV_SurfaceColourRandom& Process();

private:
    unsigned int munState = 1;
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
    // Deletes the geometry (without notifying).
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
    bool LoadSurfaceFile(const KV_String& path);
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
    // The message of the last call that returned false; empty after a success.
    const KV_String& LastError() const { return mkLastError; }

    // The pieces, for callers that hold the geometry themselves. A new geometry (the
    // caller owns it) with the completed surface of path and a new surface material, or
    // null when the file does not load or is refused. report may be null.
    // With an observer, each stage is announced and a cancelled load returns null after
    // the stage under way (the report then says what reading found, if it ran).
    // The polygon normals, boundaries, vertex polygons and vertex boundary flags are left to
    // the geometry (KV_PolySurfaceGeometry3D::DeferCompletion): its GetSurface() finishes
    // them, and StartDeferredCompletion() makes them on a worker thread.
    static KV_PolySurfaceGeometry3D* LoadGeometry(const KV_String& path,
                                                  KV_SurfaceReadReport* report,
                                                  const KV_LoadObserver* observer = nullptr);
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
    KV_PolySurfaceGeometry3D* mpkSurfaceGeometry = nullptr;
    KV_String mkPathName;
    KV_String mkLastError;
    KV_SurfaceReadReport mkReadReport;
    Notifier mkNotifier;
};
