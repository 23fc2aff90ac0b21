#pragma once
// KV_LoadJob: one load of a surface file away from the thread that asked for it (the
// interface thread). The job owns its worker thread, its stop flag and the geometry until it
// is handed over; the worker reads the file and completes the surface for drawing, handing
// pieces to the executor it is given. What the interface must hear (each stage as it begins,
// the texture to upload while the surface is completed, the end) goes through the poster it
// is given, which runs each call on the interface thread in the order posted: CallAfter in
// the viewer, a queue the test drains, or at once on the worker.
//
// Cancel() asks the worker to stop (readers, importer helper and completion check the flag
// inside their loops) and, called on the interface thread, guarantees that nothing more
// reaches the listener. The destructor cancels and waits for the worker, which then has at
// most the piece of work under way left: IsFinished() tells when waiting costs nothing.

#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_String.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

class KV_Executor;
class KV_PolySurfaceGeometry3D;

class KV_LoadJob
{
public:
    enum Stage
    {
        STAGE_READING = 0,
        STAGE_COMPLETING = 1
    };
    enum class Outcome
    {
        Loaded,
        Failed,
        Cancelled
    };
    // Runs work on the interface thread, in the order posted.
    using Poster = std::function<void(std::function<void()> work)>;

    struct Result
    {
        Outcome meOutcome = Outcome::Failed;
        // Loaded: the completed geometry with its material.
        std::unique_ptr<KV_PolySurfaceGeometry3D> mpkGeometry;
        // What reading found (also on failure; empty when cancelled before reading ended).
        std::shared_ptr<const KV_SurfaceReadReport> mpkReport;
        // What the load threw (memory exhausted); Failed.
        std::exception_ptr mpkError;
    };

    // Each is optional, and each is called through the poster.
    struct Listener
    {
        std::function<void(Stage stage)> mkStageBegins;
        // The geometry just read, when its surface has a texture image: it stays, and the
        // completion leaves its image alone, until this has returned, so the image can be
        // uploaded while the surface is completed.
        std::function<void(const KV_PolySurfaceGeometry3D& geometry)> mkTextureReady;
        // Last, once (not after Cancel).
        std::function<void(Result result)> mkFinished;
    };

    KV_LoadJob(const KV_String& path, KV_Executor* executor, Poster poster, Listener listener);
    ~KV_LoadJob();
    KV_LoadJob(const KV_LoadJob&) = delete;
    KV_LoadJob& operator=(const KV_LoadJob&) = delete;

    // Starts the worker; when the system gives no thread, the load runs here instead.
    void Start();
    // The whole load before returning, for a caller with nothing else to do. Without a
    // poster the calls run on the calling thread as they come, while a worker reads and
    // completes (on the calling thread alone when the system gives no thread); with one, all
    // of it runs here.
    void RunHere();
    // RunHere in two halves, for a caller with something of its own to do meanwhile (no
    // poster): StartHere starts the worker, whose calls wait; FinishHere runs them on the
    // calling thread as they come and returns once the last has run.
    void StartHere();
    void FinishHere();
    void Cancel();
    bool IsCancelled() const;
    // The worker has ended (or never started).
    bool IsFinished() const;

private:
    struct State;
    static void Work(const std::shared_ptr<State>& state);

    std::shared_ptr<State> mpkState;
    std::thread mkWorker;
};
