#pragma once
// KV_PolySurfaceGeometry3D: a textured polygon surface as a scene geometry. It holds its own
// copy of the surface with the derived data (normals, boundaries, extents) and splits the
// polygons into those drawn with the selected material and those drawn with the geometry's
// own material and texture.
//
// Lists that drawing does not read (the boundaries, say) can be left to be finished after the
// first frame: DeferCompletion hands the geometry the step that makes them, the view hands
// it to the program's executor once the surface is on screen, and GetSurface() waits for it
// (or runs it there and then when it has not started), so that no reader ever sees a list
// half made. Lists that only the whole surface's readers read can be left further, to be
// made by the first of them (the on-demand step): a surface that is only looked at never
// holds them.
// Only the actors' array building and the load summary, which read vertices, polygons,
// normals, extents and texture data and write nothing the step writes, use DrawingSurface()
// and do not wait.

#include "foundation/KV_Executor.h"
#include "foundation/KV_List.h"
#include "render/KV_Geometry3D.h"
#include "render/KV_PolygonIndexList.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceAppearance.h"

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <utility>
#include <vector>

class KV_PolySurfaceGeometry3D : public KV_Geometry3D
{
public:
    KV_PolySurfaceGeometry3D();
    ~KV_PolySurfaceGeometry3D() override;

    // Copies the surface, marks every polygon selected or unselected, and notifies the
    // observers with hint 0 (surface) and then hint 1 (texture). A deferred completion is
    // finished first.
    void SetSurface(const KV_PolySurface& surface, bool selected);
    // The whole surface: waits for a deferred completion to end first, and makes the
    // on-demand lists.
    const KV_PolySurface& GetSurface() const;
    KV_PolySurface& GetSurface();
    // The surface with what the deferred step makes (the outlines of its holes, say), without
    // the on-demand lists, which may be absent; for drawing.
    const KV_PolySurface& OutlinedSurface() const;
    // The surface as it is, for drawing: the lists a deferred completion makes may be absent
    // or in the making. The actors build their arrays from it, reading only lists the
    // deferred step never touches.
    const KV_PolySurface& DrawingSurface() const { return mkSurface; }
    KV_PolySurface& DrawingSurface() { return mkSurface; }

    // The step that finishes the surface (called with the surface and a flag that asks it to
    // stop early because the geometry is going). It may read only what drawing never
    // changes (the vertices and the polygons) and write only lists that drawing never reads;
    // a step that fails must leave those lists absent. Replaces a pending step; the caller
    // has not started one. onDemand (may be empty) is run by the first GetSurface() after
    // the step, on the caller's thread, under the same rules; SetSurface drops it.
    using CompletionStep = std::function<void(KV_PolySurface&, const std::atomic<bool>& stop)>;
    void DeferCompletion(CompletionStep step, CompletionStep onDemand = nullptr);
    // Hands the deferred step to the executor; nothing happens when none is pending or
    // without an executor (the first reader then runs it).
    void StartDeferredCompletion(KV_Executor* executor);
    // Waits for the deferred step, or runs it on this thread when it has not started, and
    // then runs the on-demand step. A step that failed on the worker is run again here; its
    // exception (or the on-demand step's) reaches the caller, and the step stays pending.
    void FinishCompletion() const;
    // True while a deferred step or an on-demand step has not finished.
    bool IsCompletionDeferred() const;
    // True while the deferred step is with the executor, not yet finished.
    bool IsCompletionRunning() const;
    // True while a deferred step has yet to finish on the executor: not handed over yet, or
    // running.
    bool IsCompletionOutstanding() const;

    // The pictures (the texture map and the appearance's material pictures) kept packed
    // (KV_MultiImage::Pack) while nothing reads them, once the drawing has its own copies.
    // StartPackingPictures makes the packed copies on the executor; when they are ready,
    // poster takes a call to run on this thread (the one that reads the surface and deletes
    // the geometry), which lets the pixels go of each picture that is unchanged and still
    // the geometry's, if the geometry is still there. A writer (the writable GetSurface(),
    // SetSurface) stops copies in the making and drops those not yet taken; otherwise it
    // happens once a surface.
    using Poster = std::function<void(std::function<void()> call)>;
    void StartPackingPictures(KV_Executor* executor, Poster poster);
    // Lets the pixels go for the packed copies if they are ready; says whether any went.
    bool PackPictures();
    // True from StartPackingPictures until the copies are taken or came to nothing.
    bool IsPackingPictures() const;

    // The extents' corner box carried through mkTransform (an axis-aligned box around the
    // eight transformed corners). Extents are computed on the fly when the surface has none.
    KV_BoundingBox3D GetBoundingBox() const override;
    // The extents' centroid, untransformed.
    KV_Vector3D GetCentre() const override;
    // A KV_PolySurfaceActor3D attached to this geometry; the caller owns it.
    KV_Actor3D* CreateActor() override;
    void Dump(std::ostream& os) const override;

    // Said by whoever has just made the surface's texture-coordinate vertices afresh from its
    // polygons (the load's completion); SetSurface and the writable GetSurface() withdraw it.
    // Array building no longer reads that list (it finds each coordinate's vertex in the same
    // pass that finds coordinates shared between vertices) and only clears the mark.
    void MarkTextureCoordinateVerticesCurrent() { mbTextureVerticesCurrent = true; }
    // Whether the mark is set; it is cleared either way.
    bool TakeTextureCoordinateVerticesCurrent() { return mbTextureVerticesCurrent.exchange(false); }

    // What a model file carries beside the surface (materials, vertex colours, normals),
    // tied to the surface by counts; empty for a surface file. Set it before SetSurface,
    // which makes the actors build their arrays from both. Drawing ignores the parts whose
    // counts do not fit the surface.
    const KV_SurfaceAppearance& Appearance() const { return mkAppearance; }
    KV_SurfaceAppearance& Appearance() { return mkAppearance; }

    // Marks the polygons of selected (indices in increasing order, each once) selected and
    // every other one unselected; indices past the polygon list are ignored.
    void SetSelectedPolygons(const std::vector<unsigned int>& selected);
    const KV_PolygonIndexList& SelectedPolyIndices() const { return mkSelectedPolyIndices; }
    const KV_PolygonIndexList& UnselectedPolyIndices() const { return mkUnselectedPolyIndices; }
    // (selected, polygon index), one per polygon in polygon order. Made when first asked
    // for after SetSurface: eight bytes a polygon that drawing never reads.
    const std::vector<std::pair<bool, unsigned int>>& PolygonSelection() const;

private:
    KV_SurfaceExtents Extents() const;
    // FinishCompletion's first half: the deferred step alone. The caller holds the lock.
    void FinishDeferredStep() const;
    void StopPackingPictures();

    KV_PolySurface mkSurface;
    KV_SurfaceAppearance mkAppearance;
    // The deferred completion; only ever touched under mkCompletionMutex.
    mutable std::mutex mkCompletionMutex;
    mutable CompletionStep mkPendingStep;
    mutable CompletionStep mkOnDemandStep;
    mutable KV_Task<void> mkRunningStep;
    std::atomic<bool> mbStopStep{false};
    std::atomic<bool> mbTextureVerticesCurrent{false};
    // The pictures' packing, under mkPackingMutex (the task is waited for outside it).
    enum class Packing
    {
        NotBegun,
        Making,
        Ready,
        Done
    };
    // A packed copy of a material's picture, or (picture null) of the texture map.
    struct PackedPicture
    {
        std::shared_ptr<const KV_MultiImage> picture;
        std::shared_ptr<const KV_PackedImage> packed;
    };
    mutable std::mutex mkPackingMutex;
    Packing mePacking = Packing::NotBegun;
    KV_Task<void> mkPackingTask;
    std::vector<PackedPicture> mkPackedPictures;
    std::atomic<bool> mbStopPacking{false};
    // Held by this geometry alone: a posted call that finds it gone does nothing.
    std::shared_ptr<KV_PolySurfaceGeometry3D*> mpkSelf;
    mutable std::vector<std::pair<bool, unsigned int>> mkPolygonSelection;
    mutable bool mbPolygonSelectionMade = false;
    KV_PolygonIndexList mkSelectedPolyIndices;
    KV_PolygonIndexList mkUnselectedPolyIndices;
};
