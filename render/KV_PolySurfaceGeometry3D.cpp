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
    StopPackingPictures();
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
    StopPackingPictures();
    FinishCompletion();
    return mkSurface;
}

const KV_PolySurface& KV_PolySurfaceGeometry3D::OutlinedSurface() const
{
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    FinishDeferredStep();
    return mkSurface;
}

void KV_PolySurfaceGeometry3D::DeferCompletion(CompletionStep step, CompletionStep onDemand)
{
    std::lock_guard<std::mutex> lock(mkCompletionMutex);
    mkPendingStep = std::move(step);
    mkOnDemandStep = std::move(onDemand);
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
    FinishDeferredStep();
    if (!mkOnDemandStep)
        return;
    // Made for whoever reads the whole surface, as the deferred step's lists are: no change
    // a const reader could see.
    mkOnDemandStep(const_cast<KV_PolySurface&>(mkSurface), mbStopStep);
    mkOnDemandStep = nullptr;
}

void KV_PolySurfaceGeometry3D::FinishDeferredStep() const
{
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
    return static_cast<bool>(mkPendingStep) || static_cast<bool>(mkOnDemandStep);
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
    // A step still to run would work on the surface that is being replaced; the lists the
    // on-demand step would make come with the new surface, or are its own to make.
    {
        std::lock_guard<std::mutex> lock(mkCompletionMutex);
        FinishDeferredStep();
        mkOnDemandStep = nullptr;
    }
    StopPackingPictures();
    {
        std::lock_guard<std::mutex> lock(mkPackingMutex);
        mePacking = Packing::NotBegun;
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

void KV_PolySurfaceGeometry3D::StartPackingPictures(KV_Executor* executor, Poster poster)
{
    std::lock_guard<std::mutex> lock(mkPackingMutex);
    if (mePacking != Packing::NotBegun || executor == nullptr || executor->ThreadCount() == 0 ||
        !poster)
        return;
    // The material pictures are held for the work, so that none goes while it is read.
    const KV_MultiImage* texture =
        mkSurface.HasTextureMap() && !mkSurface.mpTextureMap->IsPacked() ? mkSurface.mpTextureMap
                                                                          : nullptr;
    std::vector<std::shared_ptr<const KV_MultiImage>> pictures;
    for (const KV_SurfaceMaterial& material : mkAppearance.materials)
        if (material.image && material.image->HasImage() && !material.image->IsPacked() &&
            std::find(pictures.begin(), pictures.end(), material.image) == pictures.end())
            pictures.push_back(material.image);
    if (texture == nullptr && pictures.empty())
        return;
    mePacking = Packing::Making;
    mbStopPacking = false;
    std::weak_ptr<KV_PolySurfaceGeometry3D*> self = mpkSelf;
    mkPackingTask = KV_Spawn(
        executor,
        [this, texture, pictures = std::move(pictures), self, poster = std::move(poster)]
        {
            std::vector<PackedPicture> made;
            if (texture != nullptr)
                if (auto packed = texture->PackedCopy(&mbStopPacking))
                    made.push_back({nullptr, std::move(packed)});
            for (const auto& picture : pictures)
                if (auto packed = picture->PackedCopy(&mbStopPacking))
                    made.push_back({picture, std::move(packed)});
            {
                std::lock_guard<std::mutex> held(mkPackingMutex);
                if (mePacking != Packing::Making)
                    return;
                mePacking = made.empty() ? Packing::Done : Packing::Ready;
                mkPackedPictures = std::move(made);
                if (mePacking == Packing::Done)
                    return;
            }
            poster(
                [self]
                {
                    if (std::shared_ptr<KV_PolySurfaceGeometry3D*> geometry = self.lock())
                        (*geometry)->PackPictures();
                });
        });
}

bool KV_PolySurfaceGeometry3D::PackPictures()
{
    std::vector<PackedPicture> ready;
    {
        std::lock_guard<std::mutex> lock(mkPackingMutex);
        if (mePacking != Packing::Ready)
            return false;
        mePacking = Packing::Done;
        ready.swap(mkPackedPictures);
    }
    bool packed = false;
    for (PackedPicture& p : ready)
    {
        // The texture map, or a picture the appearance still holds. Packing changes how a
        // picture is held, never what a reader of it sees, which is why one shared as
        // unchangeable may be packed.
        KV_MultiImage* picture = mkSurface.mpTextureMap;
        if (p.picture)
            picture = std::any_of(mkAppearance.materials.begin(), mkAppearance.materials.end(),
                                  [&p](const KV_SurfaceMaterial& m) { return m.image == p.picture; })
                          ? const_cast<KV_MultiImage*>(p.picture.get())
                          : nullptr;
        if (picture != nullptr && picture->Pack(p.packed))
            packed = true;
    }
    return packed;
}

bool KV_PolySurfaceGeometry3D::IsPackingPictures() const
{
    std::lock_guard<std::mutex> lock(mkPackingMutex);
    return mePacking == Packing::Making || mePacking == Packing::Ready;
}

void KV_PolySurfaceGeometry3D::StopPackingPictures()
{
    KV_Task<void> task;
    {
        std::lock_guard<std::mutex> lock(mkPackingMutex);
        task = std::move(mkPackingTask);
        mkPackedPictures.clear();
        // Cut short, it may begin again; copies taken, or none to make, stay so.
        if (mePacking == Packing::Making || mePacking == Packing::Ready)
            mePacking = Packing::NotBegun;
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
