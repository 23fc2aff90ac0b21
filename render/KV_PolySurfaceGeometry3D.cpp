#include "render/KV_PolySurfaceGeometry3D.h"

#include "render/KV_PolySurfaceActor3D.h"

#include <algorithm>

KV_PolySurfaceGeometry3D::KV_PolySurfaceGeometry3D()
    : mpkSelf(std::make_shared<KV_PolySurfaceGeometry3D*>(this))
{
}

KV_PolySurfaceGeometry3D::~KV_PolySurfaceGeometry3D()
{
    mpkSelf.reset();
    StopPackingTexture();
    // A running step works on mkSurface: it stops at its next check and is waited for.
    mbStopStep = true;
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    mkRunningStep.Abandon();
}

const KV_PolySurface& KV_PolySurfaceGeometry3D::GetSurface() const
{
    FinishCompletion();
    return mkSurface;
}

KV_PolySurface& KV_PolySurfaceGeometry3D::GetSurface()
{
    // Whoever writes may change the polygons the list was made from, or the texture.
    mbTextureVerticesCurrent = false;
    StopPackingTexture();
    FinishCompletion();
    return mkSurface;
}

void KV_PolySurfaceGeometry3D::DeferCompletion(CompletionStep step)
{
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    mkPendingStep = std::move(step);
}

void KV_PolySurfaceGeometry3D::StartDeferredCompletion(KV_Executor* executor)
{
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    if (!mkPendingStep || mkRunningStep.Valid() || executor == nullptr)
        return;
    // The step stays pending until it has succeeded: a failure is run again by a reader.
    mkRunningStep =
        KV_Spawn(executor, [this, step = mkPendingStep] { step(mkSurface, mbStopStep); });
}

void KV_PolySurfaceGeometry3D::FinishCompletion() const
{
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    if (!mkPendingStep)
        return;
    if (mkRunningStep.Valid())
    {
        try
        {
            mkRunningStep.Get();
            mkPendingStep = nullptr;
            return;
        }
        catch (...)
        {
            // Memory ran short on the worker; the step left its lists absent. Try once more
            // here, where a failure reaches the reader.
        }
    }
    // Finishing the surface's own derived lists is no change a const reader could see.
    mkPendingStep(const_cast<KV_PolySurface&>(mkSurface), mbStopStep);
    mkPendingStep = nullptr;
}

bool KV_PolySurfaceGeometry3D::IsCompletionDeferred() const
{
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    return static_cast<bool>(mkPendingStep);
}

bool KV_PolySurfaceGeometry3D::IsCompletionRunning() const
{
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    return mkPendingStep && mkRunningStep.Valid() && !mkRunningStep.IsFinished();
}

bool KV_PolySurfaceGeometry3D::IsCompletionOutstanding() const
{
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    return mkPendingStep && (!mkRunningStep.Valid() || !mkRunningStep.IsFinished());
}

void KV_PolySurfaceGeometry3D::SetSurface(const KV_PolySurface& surface, bool selected)
{
    // A step still to run would work on the surface that is being replaced.
    FinishCompletion();
    StopPackingTexture();
    {
        std::lock_guard<std::mutex> lock(mkPackingMutex);
        meTexturePacking = Packing::NotBegun;
    }
    mbTextureVerticesCurrent = false;
    mkSurface = surface;
    const unsigned int count = mkSurface.PolygonCount();
    std::vector<std::pair<bool, unsigned int>>().swap(mkPolygonSelection);
    mbPolygonSelectionMade = false;
    mkSelectedPolyIndices.Clear();
    mkUnselectedPolyIndices.Clear();
    (selected ? mkSelectedPolyIndices : mkUnselectedPolyIndices).SetRun(count);
    Notify(HINT_SURFACE_CHANGED, nullptr);
    Notify(HINT_TEXTURE_CHANGED, nullptr);
}

void KV_PolySurfaceGeometry3D::StartPackingTexture(KV_Executor* executor, Poster poster)
{
    std::lock_guard<std::mutex> lock(mkPackingMutex);
    if (meTexturePacking != Packing::NotBegun || executor == nullptr ||
        executor->ThreadCount() == 0 || !poster || !mkSurface.HasTextureMap() ||
        mkSurface.mpTextureMap->IsPacked())
        return;
    meTexturePacking = Packing::Making;
    mbStopPacking = false;
    const KV_MultiImage* image = mkSurface.mpTextureMap;
    std::weak_ptr<KV_PolySurfaceGeometry3D*> self = mpkSelf;
    mkPackingTask = KV_Spawn(
        executor,
        [this, image, self, poster = std::move(poster)]
        {
            std::shared_ptr<const KV_PackedImage> packed = image->PackedCopy(&mbStopPacking);
            {
                std::lock_guard<std::mutex> held(mkPackingMutex);
                if (meTexturePacking != Packing::Making)
                    return;
                meTexturePacking = packed ? Packing::Ready : Packing::Done;
                mpkPackedTexture = std::move(packed);
                if (meTexturePacking == Packing::Done)
                    return;
            }
            poster(
                [self]
                {
                    if (std::shared_ptr<KV_PolySurfaceGeometry3D*> geometry = self.lock())
                        (*geometry)->PackTexture();
                });
        });
}

bool KV_PolySurfaceGeometry3D::PackTexture()
{
    std::shared_ptr<const KV_PackedImage> packed;
    {
        std::lock_guard<std::mutex> lock(mkPackingMutex);
        if (meTexturePacking != Packing::Ready)
            return false;
        meTexturePacking = Packing::Done;
        packed = std::move(mpkPackedTexture);
    }
    return mkSurface.mpTextureMap != nullptr && mkSurface.mpTextureMap->Pack(packed);
}

bool KV_PolySurfaceGeometry3D::IsPackingTexture() const
{
    std::lock_guard<std::mutex> lock(mkPackingMutex);
    return meTexturePacking == Packing::Making || meTexturePacking == Packing::Ready;
}

void KV_PolySurfaceGeometry3D::StopPackingTexture()
{
    KV_Task<void> task;
    {
        std::lock_guard<std::mutex> lock(mkPackingMutex);
        task = std::move(mkPackingTask);
        mpkPackedTexture.reset();
        // Cut short, it may begin again; a copy taken, or none to make, stays so.
        if (meTexturePacking == Packing::Making || meTexturePacking == Packing::Ready)
            meTexturePacking = Packing::NotBegun;
        mbStopPacking = true;
    }
    task.Abandon();
}

void KV_PolySurfaceGeometry3D::SetSelectedPolygons(const std::vector<unsigned int>& selected)
{
    const unsigned int count = mkSurface.PolygonCount();
    std::vector<std::pair<bool, unsigned int>>().swap(mkPolygonSelection);
    mbPolygonSelectionMade = false;
    mkSelectedPolyIndices.Clear();
    mkUnselectedPolyIndices.Clear();
    std::size_t next = 0;
    for (unsigned int i = 0; i < count; ++i)
    {
        while (next < selected.size() && selected[next] < i)
            ++next;
        (next < selected.size() && selected[next] == i ? mkSelectedPolyIndices
                                                       : mkUnselectedPolyIndices)
            .Append(i);
    }
}

const std::vector<std::pair<bool, unsigned int>>& KV_PolySurfaceGeometry3D::PolygonSelection() const
{
    if (!mbPolygonSelectionMade)
    {
        // Each polygon is in one of the two index lists, which SetSurface fills in order.
        mkPolygonSelection.assign(mkSelectedPolyIndices.Count() + mkUnselectedPolyIndices.Count(),
                                  std::make_pair(false, 0u));
        for (unsigned int i = 0; i < mkSelectedPolyIndices.Count(); ++i)
            mkPolygonSelection[mkSelectedPolyIndices[i]] =
                std::make_pair(true, mkSelectedPolyIndices[i]);
        for (unsigned int i = 0; i < mkUnselectedPolyIndices.Count(); ++i)
            mkPolygonSelection[mkUnselectedPolyIndices[i]] =
                std::make_pair(false, mkUnselectedPolyIndices[i]);
        mbPolygonSelectionMade = true;
    }
    return mkPolygonSelection;
}

KV_SurfaceExtents KV_PolySurfaceGeometry3D::Extents() const
{
    if (mkSurface.mpExtents != nullptr)
        return *mkSurface.mpExtents;
    KV_SurfaceExtents extents;
    extents.Compute(mkSurface.mpVertices, mkSurface.mpPolygons);
    return extents;
}

KV_BoundingBox3D KV_PolySurfaceGeometry3D::GetBoundingBox() const
{
    const KV_SurfaceExtents extents = Extents();
    const KV_BoundingBox3D untransformed(extents.Minimum().x, extents.Maximum().x,
                                         extents.Minimum().y, extents.Maximum().y,
                                         extents.Minimum().z, extents.Maximum().z);
    const float largest = 3.4028235e38f;
    KV_BoundingBox3D box(largest, -largest, largest, -largest, largest, -largest);
    for (int k = 0; k < 8; ++k)
    {
        const KV_Vector3D p = mkTransform.TransformPoint(untransformed.Corner(k));
        box.mrXLo = std::min(box.mrXLo, p.x);
        box.mrXHi = std::max(box.mrXHi, p.x);
        box.mrYLo = std::min(box.mrYLo, p.y);
        box.mrYHi = std::max(box.mrYHi, p.y);
        box.mrZLo = std::min(box.mrZLo, p.z);
        box.mrZHi = std::max(box.mrZHi, p.z);
    }
    return box;
}

KV_Vector3D KV_PolySurfaceGeometry3D::GetCentre() const
{
    return Extents().Centroid();
}

KV_Actor3D* KV_PolySurfaceGeometry3D::CreateActor()
{
    // The actor attaches itself to its geometry.
    return new KV_PolySurfaceActor3D(this);
}

void KV_PolySurfaceGeometry3D::Dump(std::ostream& os) const
{
    KV_Geometry3D::Dump(os);
    os << "KV_PolySurfaceGeometry3D: " << std::endl;
    os << " mkSelectedPolyIndices: ";
    for (unsigned int i = 0; i < mkSelectedPolyIndices.Count(); ++i)
        os << mkSelectedPolyIndices[i] << ' ';
    os << std::endl;
    os << " mkUnselectedPolyIndices: ";
    for (unsigned int i = 0; i < mkUnselectedPolyIndices.Count(); ++i)
        os << mkUnselectedPolyIndices[i] << ' ';
    os << std::endl;
}
