// The view's level of detail: a coarse copy of the surface's triangles, made on a worker
// thread after each load, drawn while the world moves if full frames are too slow for
// smooth motion (slower than 20 a second), and never for a still frame.
#include "app/KV_VerovuriRezaroView.h"

#include "lod/KV_LevelOfDetail.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#include <memory>
#include <vector>

namespace
{
// Surfaces of this many triangles or fewer draw fast enough as they are.
constexpr std::size_t kWorthSimplifying = kCoarseTriangleLimit * 3 / 2;
// How long after the last move the motion counts as stopped.
constexpr int kStillMs = 150;
constexpr int kStillTimerId = 2;

KV_PolySurfaceActor3D* SurfaceActor(KV_OGLRenderer& renderer)
{
    if (renderer.GetActorCount() == 0)
        return nullptr;
    return dynamic_cast<KV_PolySurfaceActor3D*>(renderer.GetActors().begin()->second.Get());
}
}  // namespace

void KV_VerovuriRezaroView::StartLevelOfDetail(double fullFrameSeconds)
{
    JoinLevelOfDetail();
    KV_PolySurfaceActor3D* actor = SurfaceActor(mkRenderer);
    if (actor == nullptr || actor->Triangles().size() / 3 <= kWorthSimplifying)
        return;
    // The worker gets copies: the actor may rebuild or lose its arrays meanwhile.
    auto positions = std::make_shared<std::vector<float>>(actor->Positions());
    auto triangles = std::make_shared<std::vector<int>>(actor->Triangles());
    const unsigned int geometryId = actor->GetGeometry()->munID;
    const unsigned int build = actor->ArrayBuildCount();
    // As large as this machine draws in time, judged by the first full frame.
    const std::size_t target = KV_CoarseTriangleTarget(triangles->size() / 3, fullFrameSeconds);
    mkLodThread = std::thread(
        [this, positions, triangles, geometryId, build, target]
        {
            auto coarse = std::make_shared<std::vector<unsigned int>>(
                KV_SimplifyTriangles(positions->data(), positions->size() / 3, triangles->data(),
                                     triangles->size() / 3, target));
            // The view outlives the thread (it joins it before it goes).
            CallAfter(
                [this, coarse, geometryId, build]
                {
                    KV_PolySurfaceActor3D* current = SurfaceActor(mkRenderer);
                    if (current != nullptr && current->GetGeometry()->munID == geometryId)
                        current->SetCoarseTriangles(std::move(*coarse), build);
                });
        });
}

void KV_VerovuriRezaroView::JoinLevelOfDetail()
{
    if (mkLodThread.joinable())
        mkLodThread.join();
}

bool KV_VerovuriRezaroView::HasCoarseSurface()
{
    KV_PolySurfaceActor3D* actor = SurfaceActor(mkRenderer);
    return actor != nullptr && actor->HasCoarseTriangles();
}

void KV_VerovuriRezaroView::NoteMotion()
{
    mbMoving = true;
    if (!mkStillTimer.GetOwner())
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
