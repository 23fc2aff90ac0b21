#include "app/KV_BackgroundLoad.h"

#include "app/KV_DocumentCoreBridge.h"
#include "document/KV_DocumentCore.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#include <wx/app.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>


namespace
{
// What the worker and the user-interface thread share. The worker holds it to the end, so
// a cancelled job outlives the call that started it.
struct Job
{
    std::atomic<bool> mbCancel{false};
    std::atomic<bool> mbDone{false};
    std::atomic<int> mnStage{-1};
    KV_PolySurfaceGeometry3D* mpkGeometry = nullptr;
    std::shared_ptr<KV_SurfaceReadReport> mpkReport = std::make_shared<KV_SurfaceReadReport>();
    std::exception_ptr mpkError;

    // The texture of the surface read, offered to the user-interface thread: the worker
    // keeps the geometry until that thread has taken its turn (or the load was cancelled).
    std::mutex mkTextureLock;
    std::condition_variable mkTextureTurn;
    const KV_MultiImage* mpkTexture = nullptr;
    unsigned int munTextureOwner = 0;
    bool mbTextureOffered = false;
    bool mbTextureTaken = false;

    ~Job() { delete mpkGeometry; }
};

struct Abandoned
{
    std::thread mkThread;
    std::shared_ptr<Job> mpkJob;
};

std::shared_ptr<Job> gpkRunning;
std::vector<Abandoned> gkAbandoned;

// Lets the user-interface thread handle what is waiting, then rests a little.
void HandleEvents()
{
    if (wxTheApp != nullptr)
    {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void JoinFinishedAbandoned(bool wait)
{
    for (auto it = gkAbandoned.begin(); it != gkAbandoned.end();)
    {
        // A worker may be waiting for a report to be shown here: keep handling events.
        while (wait && !it->mpkJob->mbDone) HandleEvents();
        if (it->mpkJob->mbDone)
        {
            it->mkThread.join();
            it = gkAbandoned.erase(it);
        }
        else
        {
            ++it;
        }
    }
}
}  // namespace

KV_BackgroundLoad::Result KV_BackgroundLoad::Run(
    const wxString& path, KV_LoadProgressDisplay* display, KV_PolySurfaceGeometry3D*& geometry,
    std::shared_ptr<const KV_SurfaceReadReport>& report, const TexturePreparer& prepareTexture)
{
    geometry = nullptr;
    if (gpkRunning)
        return Result::Failed;
    // Only one worker uses the loader and the surface colour sequence at a time.
    JoinFinishedAbandoned(true);

    auto job = std::make_shared<Job>();
    gpkRunning = job;
    const KV_String file(path.fn_str());
    const bool offerTexture = static_cast<bool>(prepareTexture);
    std::thread worker(
        [job, file, offerTexture]
        {
            KV_LoadObserver observer;
            observer.mkStageBegins = [&job](int stage) { job->mnStage = stage; };
            observer.mpbCancel = &job->mbCancel;
            if (offerTexture)
            {
                observer.mkGeometryRead = [&job](const KV_PolySurfaceGeometry3D& read)
                {
                    const KV_MultiImage* image =
                        KV_PolySurfaceActor3D::TextureImageOf(read.DrawingSurface());
                    if (image == nullptr)
                        return;
                    std::lock_guard<std::mutex> lock(job->mkTextureLock);
                    job->mpkTexture = image;
                    job->munTextureOwner = read.munID;
                    job->mbTextureOffered = true;
                };
                observer.mkGeometryLeaves = [&job]
                {
                    std::unique_lock<std::mutex> lock(job->mkTextureLock);
                    job->mkTextureTurn.wait(lock, [&job] {
                        return !job->mbTextureOffered || job->mbTextureTaken || job->mbCancel;
                    });
                    job->mpkTexture = nullptr;
                };
            }
            try
            {
                job->mpkGeometry =
                    KV_DocumentCore::LoadGeometry(file, job->mpkReport.get(), &observer);
            }
            catch (...)
            {
                job->mpkError = std::current_exception();
            }
            job->mbDone = true;
            wxWakeUpIdle();
        });

    // Reading is the first stage: say so at once, before the worker has begun.
    int shownStage = KV_LoadObserver::STAGE_READING;
    if (display != nullptr)
        display->ShowLoadStage(wxString::Format(kStageReading, wxFileName(path).GetFullName()));
    auto lastPulse = std::chrono::steady_clock::now();
    bool textureTaken = false;
    while (!job->mbDone && !job->mbCancel)
    {
        if (!textureTaken)
        {
            std::unique_lock<std::mutex> lock(job->mkTextureLock);
            if (job->mbTextureOffered)
            {
                // The worker waits for this turn before it lets the geometry go, so the
                // image stays while it is uploaded; the completion does not touch it.
                if (job->mpkTexture != nullptr)
                {
                    try
                    {
                        prepareTexture(*job->mpkTexture, job->munTextureOwner);
                    }
                    catch (...)
                    {
                        // Nothing prepared: the view uploads as usual and reports there.
                    }
                }
                textureTaken = job->mbTextureTaken = true;
                lock.unlock();
                job->mkTextureTurn.notify_all();
                continue;
            }
        }
        const int stage = job->mnStage;
        if (display != nullptr && stage >= 0 && stage != shownStage)
        {
            shownStage = stage;
            display->ShowLoadStage(
                stage == KV_LoadObserver::STAGE_COMPLETING
                    ? wxString(kStageCompleting)
                    : wxString::Format(kStageReading, wxFileName(path).GetFullName()));
        }
        const auto now = std::chrono::steady_clock::now();
        if (display != nullptr && now - lastPulse > std::chrono::milliseconds(100))
        {
            display->PulseLoad();
            lastPulse = now;
        }
        HandleEvents();
    }
    gpkRunning.reset();

    if (job->mbCancel && !job->mbDone)
    {
        gkAbandoned.push_back(Abandoned{std::move(worker), job});
        return Result::Cancelled;
    }
    worker.join();
    report = job->mpkReport;
    if (job->mpkError)
        std::rethrow_exception(job->mpkError);
    if (job->mbCancel)
        return Result::Cancelled;
    geometry = job->mpkGeometry;
    job->mpkGeometry = nullptr;
    return geometry != nullptr ? Result::Loaded : Result::Failed;
}

bool KV_BackgroundLoad::IsRunning()
{
    return gpkRunning != nullptr;
}

void KV_BackgroundLoad::Cancel()
{
    if (gpkRunning)
    {
        {
            std::lock_guard<std::mutex> lock(gpkRunning->mkTextureLock);
            gpkRunning->mbCancel = true;
        }
        gpkRunning->mkTextureTurn.notify_all();
    }
}

void KV_BackgroundLoad::WaitForAbandoned()
{
    JoinFinishedAbandoned(true);
}

