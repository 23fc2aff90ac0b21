#include "view/KV_CoarseCopy.h"

#include "foundation/KV_Executor.h"
#include "lod/KV_LevelOfDetail.h"

#include <atomic>
#include <mutex>
#include <utility>

// What the maker and the work share. The work holds it to its own end, so it never needs the
// maker: the maker only says, under the lock, that it no longer wants the result, and the
// work hands a result over under the same lock.
struct KV_CoarseCopy::Job
{
    std::mutex mkMutex;
    Deliver mkDeliver;  // emptied once the maker has let go
    std::atomic<bool> mbStop{false};
    std::atomic<bool> mbDone{false};
};

KV_CoarseCopy::~KV_CoarseCopy()
{
    Abandon();
}

unsigned long KV_CoarseCopy::Begin(KV_Executor* executor,
                                   std::shared_ptr<const std::vector<float>> positions,
                                   std::shared_ptr<const KV_TriangleCorners> triangles,
                                   std::size_t target, Deliver deliver)
{
    Abandon();
    // Work posted to an executor without threads would wait for the executor's end.
    if (executor == nullptr || executor->ThreadCount() == 0 || !deliver || !positions ||
        !triangles)
        return 0;
    auto job = std::make_shared<Job>();
    job->mkDeliver = std::move(deliver);
    const unsigned long serial = munSerial + 1;
    try
    {
        executor->Post(
            [job, serial, target, executor, positions = std::move(positions),
             triangles = std::move(triangles)]() mutable
            {
                std::vector<unsigned int> coarse;
                // Let go of before it began (or queued when the executor ends): nothing to do.
                if (!job->mbStop)
                    coarse = KV_SimplifyTriangleRuns(positions->data(), positions->size() / 3,
                                                     triangles->Runs(), triangles->RunShift(),
                                                     triangles->size() / 3, target, &job->mbStop,
                                                     executor);
                // The lists are the actor's: let go of them before handing the copy over.
                positions.reset();
                triangles.reset();
                std::lock_guard<std::mutex> lock(job->mkMutex);
                job->mbDone = true;
                if (job->mkDeliver && !coarse.empty())
                    job->mkDeliver(serial, std::move(coarse));
                job->mkDeliver = nullptr;  // what it captured goes with the work
            });
    }
    catch (...)
    {
        return 0;
    }
    mpkJob = std::move(job);
    munSerial = serial;
    return serial;
}

void KV_CoarseCopy::Abandon()
{
    if (!mpkJob)
        return;
    Deliver forgotten;
    {
        std::lock_guard<std::mutex> lock(mpkJob->mkMutex);
        mpkJob->mbStop = true;
        forgotten = std::move(mpkJob->mkDeliver);
        mpkJob->mkDeliver = nullptr;
    }
    mpkJob.reset();
}

bool KV_CoarseCopy::IsMaking() const
{
    return mpkJob && !mpkJob->mbDone;
}

bool KV_CoarseCopy::IsCurrent(unsigned long serial) const
{
    return mpkJob && serial != 0 && serial == munSerial;
}
