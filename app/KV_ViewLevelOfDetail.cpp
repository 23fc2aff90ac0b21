// The view's level of detail: a coarse copy of the surface's triangles, made on a worker
// thread shortly after each load's first frame, drawn while the world moves if full frames
// are too slow for smooth motion (slower than 20 a second), and never for a still frame.
#include "app/KV_VerovuriRezaroView.h"

#include "app/KV_VerovuriRezaroDoc.h"
#include "lod/KV_LevelOfDetail.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// What the view and the worker making its coarse copy share. The worker owns its inputs and
// holds the job to its own end, so it never needs the view: the view only says, under the
// lock, that it no longer wants the result, and the worker hands a result over under the
// same lock. An abandoned worker stops at its next look at mbStop and is never waited for.
struct KV_LodJob
{
    std::mutex mkMutex;
    KV_VerovuriRezaroView* mpkView = nullptr;  // null once the view has let go
    std::atomic<bool> mbStop{false};
    std::atomic<bool> mbDone{false};
};

namespace
{
// Surfaces of this many triangles or fewer draw fast enough as they are.
constexpr std::size_t kWorthSimplifying = kCoarseTriangleLimit * 3 / 2;
// How long after the last move the motion counts as stopped.
constexpr int kStillMs = 150;
constexpr int kStillTimerId = 2;
// How long after the first full frame the copy is begun: the frame's own working memory is
// given back first, and a window closed at once never starts it.
constexpr int kLodDelayMs = 300;
constexpr int kLodTimerId = 3;

KV_PolySurfaceActor3D* SurfaceActor(KV_OGLRenderer& renderer)
{
    if (renderer.GetActorCount() == 0)
        return nullptr;
    return dynamic_cast<KV_PolySurfaceActor3D*>(renderer.GetActors().begin()->second.Get());
}
}  // namespace

void KV_VerovuriRezaroView::ScheduleLevelOfDetail(double fullFrameSeconds)
{
    mdLodFrameSeconds = fullFrameSeconds;
    // A timer is its own owner until given another.
    if (mkLodTimer.GetOwner() != this)
    {
        mkLodTimer.SetOwner(this, kLodTimerId);
        Bind(wxEVT_TIMER, &KV_VerovuriRezaroView::OnLevelOfDetailTimer, this, kLodTimerId);
    }
    mkLodTimer.StartOnce(kLodDelayMs);
}

void KV_VerovuriRezaroView::OnLevelOfDetailTimer(wxTimerEvent&)
{
    // The lists the surface gets after its first frame are made first: the two workers'
    // working memory would otherwise come on top of each other.
    const KV_PolySurfaceGeometry3D* geometry =
        mpkDocument != nullptr ? mpkDocument->mpkSurfaceGeometry : nullptr;
    if (geometry != nullptr && geometry->IsCompletionRunning())
    {
        mkLodTimer.StartOnce(kLodDelayMs);
        return;
    }
    StartLevelOfDetail(mdLodFrameSeconds);
}

void KV_VerovuriRezaroView::StartLevelOfDetail(double fullFrameSeconds)
{
    AbandonLevelOfDetail();
    KV_PolySurfaceActor3D* actor = SurfaceActor(mkRenderer);
    if (actor == nullptr || actor->Triangles().size() / 3 <= kWorthSimplifying)
        return;
    // As large as this machine draws in time, judged by the first full frame.
    const std::size_t target =
        KV_CoarseTriangleTarget(actor->Triangles().size() / 3, fullFrameSeconds);
    const unsigned int geometryId = actor->GetGeometry()->munID;
    const unsigned int build = actor->ArrayBuildCount();
#ifdef __GLIBC__
    // What the first frame (and the load before it) took for the while and gave back stays
    // with the process unless handed to the system; without this the copy's working memory
    // comes on top of it.
    malloc_trim(0);
#endif
    auto job = std::make_shared<KV_LodJob>();
    job->mpkView = this;
    try
    {
        // The worker gets copies: the actor may rebuild or lose its arrays meanwhile.
        std::thread(
            [job, geometryId, build, target, positions = actor->Positions(),
             triangles = actor->Triangles()]() mutable
            {
                auto coarse = std::make_shared<std::vector<unsigned int>>(KV_SimplifyTriangles(
                    std::move(positions), std::move(triangles), target, &job->mbStop));
                std::lock_guard<std::mutex> lock(job->mkMutex);
                job->mbDone = true;
                KV_VerovuriRezaroView* view = job->mpkView;
                if (view == nullptr || coarse->empty())
                    return;
                view->CallAfter(
                    [view, job, coarse, geometryId, build]
                    {
                        KV_PolySurfaceActor3D* current = SurfaceActor(view->mkRenderer);
                        if (view->mpkLodJob == job && current != nullptr &&
                            current->GetGeometry()->munID == geometryId)
                            current->SetCoarseTriangles(std::move(*coarse), build);
                    });
            })
            .detach();
    }
    catch (const std::system_error&)
    {
        // No thread to be had: the surface is drawn in full while it moves.
        return;
    }
    mpkLodJob = job;
}

void KV_VerovuriRezaroView::AbandonLevelOfDetail()
{
    mkLodTimer.Stop();
    if (!mpkLodJob)
        return;
    {
        std::lock_guard<std::mutex> lock(mpkLodJob->mkMutex);
        mpkLodJob->mpkView = nullptr;
        mpkLodJob->mbStop = true;
    }
    mpkLodJob.reset();
}

bool KV_VerovuriRezaroView::IsSimplifying() const
{
    return mpkLodJob && !mpkLodJob->mbDone;
}

bool KV_VerovuriRezaroView::HasCoarseSurface()
{
    KV_PolySurfaceActor3D* actor = SurfaceActor(mkRenderer);
    return actor != nullptr && actor->HasCoarseTriangles();
}

void KV_VerovuriRezaroView::NoteMotion()
{
    mbMoving = true;
    if (mkStillTimer.GetOwner() != this)
    {
        mkStillTimer.SetOwner(this, kStillTimerId);
        Bind(wxEVT_TIMER, &KV_VerovuriRezaroView::OnStillTimer, this, kStillTimerId);
    }
    mkStillTimer.StartOnce(kStillMs);
}

void KV_VerovuriRezaroView::OnStillTimer(wxTimerEvent&)
{
    if (mbRotating)
    {
        mkStillTimer.StartOnce(kStillMs);
        return;
    }
    mbMoving = false;
    if (mbLastFrameCoarse)
        Repaint();
}

bool KV_VerovuriRezaroView::PrepareFrameDetail(bool allowed)
{
    KV_PolySurfaceActor3D* actor = SurfaceActor(mkRenderer);
    const bool coarse = allowed && actor != nullptr && mbMoving &&
                        mdLastFullFrame > mdCoarseThreshold && actor->HasCoarseTriangles();
    if (actor != nullptr)
        actor->SetDrawCoarse(coarse);
    return coarse;
}
