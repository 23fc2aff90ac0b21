// The view's level of detail: a coarse copy of the surface's triangles, made on the
// program's executor shortly after each load's first frame, drawn while the world moves if
// full frames are too slow for smooth motion, and never for a still frame. When is the
// controller's to say (view/KV_ViewController); the copy itself is view/KV_CoarseCopy's.
#include "app/KV_VerovuriRezaroView.h"

#include "app/KV_VerovuriRezaroDoc.h"
#include "lod/KV_LevelOfDetail.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#include <wx/app.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <memory>
#include <vector>

namespace
{
// Surfaces of this many triangles or fewer draw fast enough as they are.
constexpr std::size_t kWorthSimplifying = kCoarseTriangleLimit * 3 / 2;

KV_PolySurfaceActor3D* SurfaceActor(KV_OGLRenderer& renderer)
{
    if (renderer.GetActorCount() == 0)
        return nullptr;
    return dynamic_cast<KV_PolySurfaceActor3D*>(renderer.GetActors().begin()->second.Get());
}
}  // namespace

void KV_VerovuriRezaroView::StartLevelOfDetail(double fullFrameSeconds)
{
    AbandonLevelOfDetail();
    KV_PolySurfaceActor3D* actor = SurfaceActor(mkRenderer);
    // Without worker threads the surface is drawn in full while it moves.
    if (actor == nullptr || actor->Triangles().size() / 3 <= kWorthSimplifying ||
        mpkExecutor == nullptr)
    {
        StartSurfaceCompletion();
        return;
    }
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
    // The worker shares the actor's lists: the actor makes new ones when it rebuilds, and
    // copies the positions before the flat layout adds to them, so those it shares stay as
    // they are (a copy of each would add a fifth to the memory of a large surface). The copy
    // reaches the actor on this thread, if it is still wanted and the actor still shows the
    // same geometry; a view that let go of it, or is gone, never hears of it (CallAfter is
    // only reached while the copy is wanted, and a view's queued calls go with it).
    mkCoarseCopy.Begin(
        mpkExecutor, actor->SharedPositions(), actor->SharedTriangles(), target,
        [view = this, geometryId, build](unsigned long serial, std::vector<unsigned int> triangles)
        {
            auto coarse = std::make_shared<std::vector<unsigned int>>(std::move(triangles));
            view->CallAfter(
                [view, serial, coarse, geometryId, build]
                {
                    KV_PolySurfaceActor3D* current = SurfaceActor(view->mkRenderer);
                    if (view->mkCoarseCopy.IsCurrent(serial) && current != nullptr &&
                        current->GetGeometry()->munID == geometryId)
                        current->SetCoarseTriangles(std::move(*coarse), build);
                    view->StartSurfaceCompletion();
                });
        });
}

void KV_VerovuriRezaroView::StartSurfaceCompletion()
{
    if (mpkDocument != nullptr && mpkDocument->mpkSurfaceGeometry != nullptr &&
        mkRenderer.GetActorCount() > 0)
    {
        // Packed copies ready by now let the pictures go before the completion's lists come.
        mpkDocument->mpkSurfaceGeometry->PackPictures();
        mpkDocument->mpkSurfaceGeometry->StartDeferredCompletion(mpkExecutor);
    }
}

void KV_VerovuriRezaroView::StartPicturePacking()
{
    if (mpkDocument != nullptr && mpkDocument->mpkSurfaceGeometry != nullptr &&
        mkRenderer.GetActorCount() > 0 && !mkRenderer.IsRenderingToMemory())
        mpkDocument->mpkSurfaceGeometry->StartPackingPictures(
            mpkExecutor, [](std::function<void()> call) { wxTheApp->CallAfter(std::move(call)); });
}

void KV_VerovuriRezaroView::AbandonLevelOfDetail()
{
    mkController.CancelCoarseCopy();
    mkCoarseCopy.Abandon();
}

bool KV_VerovuriRezaroView::IsSimplifying() const
{
    return mkCoarseCopy.IsMaking();
}

bool KV_VerovuriRezaroView::HasCoarseSurface()
{
    KV_PolySurfaceActor3D* actor = SurfaceActor(mkRenderer);
    return actor != nullptr && actor->HasCoarseTriangles();
}

bool KV_VerovuriRezaroView::PrepareFrameDetail(bool allowed)
{
    KV_PolySurfaceActor3D* actor = SurfaceActor(mkRenderer);
    const bool coarse = allowed && actor != nullptr && mkController.WantsCoarseFrame() &&
                        actor->HasCoarseTriangles();
    if (actor != nullptr)
        actor->SetDrawCoarse(coarse);
    return coarse;
}
