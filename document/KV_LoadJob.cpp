#include "document/KV_LoadJob.h"

#include "document/KV_DocumentCore.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#include <system_error>

// What the worker and the posted calls share: a cancelled job's calls may still be queued
// on the interface thread after the job object is gone.
struct KV_LoadJob::State
{
    KV_String mkPath;
    KV_Executor* mpkExecutor = nullptr;
    Poster mkPoster;
    Listener mkListener;
    std::atomic<bool> mbStop{false};
    std::atomic<bool> mbFinished{false};
    // The geometry the texture call may read, held until the last call has run.
    std::unique_ptr<KV_PolySurfaceGeometry3D> mpkGeometry;

    // Hands work to the interface thread; it runs there only while the job is not cancelled.
    void Post(std::function<void()> work, const std::shared_ptr<State>& self)
    {
        auto call = [self, work = std::move(work)]
        {
            if (!self->mbStop.load())
                work();
        };
        if (mkPoster)
            mkPoster(std::move(call));
        else
            call();
    }
};

KV_LoadJob::KV_LoadJob(const KV_String& path, KV_Executor* executor, Poster poster,
                       Listener listener)
    : mpkState(std::make_shared<State>())
{
    mpkState->mkPath = path;
    mpkState->mpkExecutor = executor;
    mpkState->mkPoster = std::move(poster);
    mpkState->mkListener = std::move(listener);
    mpkState->mbFinished = true;  // until started
}

KV_LoadJob::~KV_LoadJob()
{
    Cancel();
    if (mkWorker.joinable())
        mkWorker.join();
}

void KV_LoadJob::Start()
{
    mpkState->mbFinished = false;
    try
    {
        mkWorker = std::thread([state = mpkState] { Work(state); });
    }
    catch (const std::system_error&)
    {
        Work(mpkState);
    }
}

void KV_LoadJob::RunHere()
{
    mpkState->mbFinished = false;
    Work(mpkState);
}

void KV_LoadJob::Cancel()
{
    mpkState->mbStop = true;
}

bool KV_LoadJob::IsCancelled() const
{
    return mpkState->mbStop.load();
}

bool KV_LoadJob::IsFinished() const
{
    return mpkState->mbFinished.load();
}

void KV_LoadJob::Work(const std::shared_ptr<State>& state)
{
    const Listener& listener = state->mkListener;
    const std::atomic<bool>* stop = &state->mbStop;
    auto result = std::make_shared<Result>();
    auto stage = [&](Stage begun)
    {
        if (listener.mkStageBegins)
            state->Post([state, begun] { state->mkListener.mkStageBegins(begun); }, state);
    };
    try
    {
        stage(STAGE_READING);
        // The geometry lives in the state, never deleted here: a texture call may be reading
        // it on the interface thread. It goes with the state, or leaves through the last call.
        state->mpkGeometry = std::make_unique<KV_PolySurfaceGeometry3D>();
        KV_PolySurfaceGeometry3D& geometry = *state->mpkGeometry;
        auto report = std::make_shared<KV_SurfaceReadReport>();
        const bool read =
            KV_DocumentCore::ReadGeometry(geometry, state->mkPath, *report, state->mpkExecutor, stop);
        result->mpkReport = report;
        if (read && !state->mbStop)
        {
            if (listener.mkTextureReady && geometry.DrawingSurface().HasTextureMap())
                state->Post([state] { state->mkListener.mkTextureReady(*state->mpkGeometry); },
                            state);
            stage(STAGE_COMPLETING);
            KV_DocumentCore::CompleteGeometry(geometry, state->mpkExecutor, stop);
            if (!state->mbStop)
                result->meOutcome = Outcome::Loaded;
        }
    }
    catch (...)
    {
        result->meOutcome = Outcome::Failed;
        result->mpkError = std::current_exception();
    }
    if (state->mbStop)
        result->meOutcome = Outcome::Cancelled;

    state->Post(
        [state, result]
        {
            if (result->meOutcome == Outcome::Loaded)
                result->mpkGeometry = std::move(state->mpkGeometry);
            state->mpkGeometry.reset();
            if (state->mkListener.mkFinished)
                state->mkListener.mkFinished(std::move(*result));
        },
        state);
    state->mbFinished = true;
}
