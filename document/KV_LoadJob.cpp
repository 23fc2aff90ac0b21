#include "document/KV_LoadJob.h"

#include "document/KV_DocumentCore.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#include <condition_variable>
#include <deque>
#include <mutex>
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
    // RunHere without a poster: the calls wait here for the thread that asked for the load.
    bool mbHere = false;
    std::mutex mkHereLock;
    std::condition_variable mkHereWake;
    std::deque<std::function<void()>> mkHereCalls;

    // Hands work to the interface thread; it runs there only while the job is not cancelled.
    void Post(std::function<void()> work, const std::shared_ptr<State>& self)
    {
        auto call = [self, work = std::move(work)]
        {
            if (!self->mbStop.load())
                work();
        };
        if (mkPoster)
        {
            mkPoster(std::move(call));
        }
        else if (mbHere)
        {
            const std::lock_guard<std::mutex> lock(mkHereLock);
            mkHereCalls.push_back(std::move(call));
            mkHereWake.notify_one();
        }
        else
        {
            call();
        }
    }

    void Finish()
    {
        if (!mbHere)
        {
            mbFinished = true;
            return;
        }
        const std::lock_guard<std::mutex> lock(mkHereLock);
        mbFinished = true;
        mkHereWake.notify_one();
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
    if (mpkState->mkPoster)
    {
        mpkState->mbFinished = false;
        Work(mpkState);
        return;
    }
    StartHere();
    FinishHere();
}

void KV_LoadJob::StartHere()
{
    // The worker reads and completes while the calling thread runs what it posts (in
    // FinishHere): the texture goes up while the surface is completed, as it does beside an
    // interface that goes on.
    mpkState->mbFinished = false;
    mpkState->mbHere = true;
    try
    {
        mkWorker = std::thread([state = mpkState] { Work(state); });
    }
    catch (const std::system_error&)
    {
        mpkState->mbHere = false;
        Work(mpkState);
    }
}

void KV_LoadJob::FinishHere()
{
    // The state and the worker are held here, not through this job: the last call may let
    // the job go before it returns.
    const std::shared_ptr<State> state = mpkState;
    std::thread worker = std::move(mkWorker);
    std::unique_lock<std::mutex> lock(state->mkHereLock);
    for (;;)
    {
        state->mkHereWake.wait(
            lock, [&state] { return !state->mkHereCalls.empty() || state->mbFinished.load(); });
        if (state->mkHereCalls.empty())
            break;  // finished, and every call has run
        std::function<void()> call = std::move(state->mkHereCalls.front());
        state->mkHereCalls.pop_front();
        lock.unlock();
        call();
        lock.lock();
    }
    lock.unlock();
    if (worker.joinable())
        worker.join();
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
    state->Finish();
}
