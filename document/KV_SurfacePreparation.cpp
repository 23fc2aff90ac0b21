#include "document/KV_SurfacePreparation.h"

#include "foundation/KV_HugePages.h"
#include "foundation/KV_Executor.h"
#include "meshfile/KV_MeshImporter.h"

#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_PSO_Triangulate.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceTopology.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace
{
// Below this many vertices the extents are made faster here than handed to another thread.
const unsigned int kConcurrentExtentsFrom = 65536;

bool Stopped(const std::atomic<bool>* stop)
{
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

// The checks and the count look at the stop flag once per this many polygons.
const unsigned int kStopCheckPolygons = 1u << 16;

bool StoppedAt(unsigned int polygon, const std::atomic<bool>* stop)
{
    return polygon % kStopCheckPolygons == 0 && Stopped(stop);
}

// Polygon i of polygons, read straight from the run when the list is one (runCorners, its
// FlatCornerCount(), not 0).
KV_PolygonView PolygonAt(const KV_List<KV_Polygon>& polygons, unsigned int runCorners,
                         unsigned int i)
{
    return runCorners != 0 ? KV_PolygonView(polygons.RunCorners(i), runCorners) : polygons[i];
}

// Stopped: the flag was found set, and nothing more is known.
KV_SurfaceRejection CheckGeometry(const KV_PolySurface& surface, unsigned int& where,
                                  const std::atomic<bool>* stop)
{
    const unsigned int vertexCount = surface.VertexCount();
    if (vertexCount == 0)
        return KV_SurfaceRejection::NoVertices;
    const KV_List<KV_Vector3D>& vertices = *surface.mpVertices;
    for (unsigned int i = 0; i < vertexCount; ++i)
    {
        const KV_Vector3D& v = vertices[i];
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
        {
            where = i;
            return KV_SurfaceRejection::NonFiniteVertex;
        }
    }
    const unsigned int run = surface.PolygonCount() > 0 ? surface.mpPolygons->FlatCornerCount() : 0;
    if (run >= 3)
    {
        // A run of polygons of three corners or more: only the indices are looked at.
        for (unsigned int i = 0; i < surface.PolygonCount(); ++i)
        {
            if (StoppedAt(i, stop))
                return KV_SurfaceRejection::Stopped;
            const unsigned int* corners = surface.mpPolygons->RunCorners(i);
            unsigned int largest = 0;
            for (unsigned int j = 0; j < run; ++j) largest = std::max(largest, corners[j]);
            if (largest >= vertexCount)
            {
                where = i;
                return KV_SurfaceRejection::VertexIndexOutOfRange;
            }
        }
        where = 0;
        return KV_SurfaceRejection::None;
    }
    for (unsigned int i = 0; i < surface.PolygonCount(); ++i)
    {
        if (StoppedAt(i, stop))
            return KV_SurfaceRejection::Stopped;
        const KV_PolygonView polygon = PolygonAt(*surface.mpPolygons, run, i);
        where = i;
        if (polygon.Count() < 3)
            return KV_SurfaceRejection::ShortPolygon;
        for (unsigned int j = 0; j < polygon.Count(); ++j)
            if (polygon[j] >= vertexCount)
                return KV_SurfaceRejection::VertexIndexOutOfRange;
    }
    where = 0;
    return KV_SurfaceRejection::None;
}

// Found stopped, None: the caller looks at the flag.
KV_TextureDrop CheckTexture(const KV_PolySurface& surface, const std::atomic<bool>* stop)
{
    const bool hasImage = surface.mpTextureMap != nullptr && surface.mpTextureMap->HasImage();
    const bool hasTexturePolygons =
        surface.mpTexturePolygons != nullptr && surface.mpTexturePolygons->Count() > 0;
    if (hasImage && !hasTexturePolygons)
        return KV_TextureDrop::ImageWithoutTexturePolygons;
    if (hasImage && (surface.mpTextureMap->Rows() == 0 || surface.mpTextureMap->Cols() == 0))
        return KV_TextureDrop::EmptyImage;
    if (!hasTexturePolygons)
        return KV_TextureDrop::None;

    const KV_List<KV_Polygon>& texturePolygons = *surface.mpTexturePolygons;
    if (texturePolygons.Count() != surface.PolygonCount())
        return KV_TextureDrop::UnpairedTexturePolygons;
    const unsigned int coordinateCount =
        surface.mpTextureCoordinates ? surface.mpTextureCoordinates->Count() : 0;
    const unsigned int textureRun = texturePolygons.FlatCornerCount();
    const unsigned int run = surface.mpPolygons->FlatCornerCount();
    if (textureRun != 0 && textureRun == run)
    {
        // Two runs of one size pair up: only the indices are looked at.
        for (unsigned int i = 0; i < texturePolygons.Count(); ++i)
        {
            if (StoppedAt(i, stop))
                return KV_TextureDrop::None;
            const unsigned int* corners = texturePolygons.RunCorners(i);
            unsigned int largest = 0;
            for (unsigned int j = 0; j < run; ++j) largest = std::max(largest, corners[j]);
            if (largest >= coordinateCount)
                return KV_TextureDrop::TextureIndexOutOfRange;
        }
        return KV_TextureDrop::None;
    }
    for (unsigned int i = 0; i < texturePolygons.Count(); ++i)
    {
        if (StoppedAt(i, stop))
            return KV_TextureDrop::None;
        const KV_PolygonView texturePolygon = PolygonAt(texturePolygons, textureRun, i);
        if (texturePolygon.Count() != PolygonAt(*surface.mpPolygons, run, i).Count())
            return KV_TextureDrop::UnpairedTexturePolygons;
        for (unsigned int j = 0; j < texturePolygon.Count(); ++j)
            if (texturePolygon[j] >= coordinateCount)
                return KV_TextureDrop::TextureIndexOutOfRange;
    }
    return KV_TextureDrop::None;
}

bool CheckRead(KV_PolySurface& surface, KV_SurfaceReadReport& report,
               const std::atomic<bool>* stop)
{
    report.meRejection = CheckGeometry(surface, report.munWhere, stop);
    if (report.meRejection != KV_SurfaceRejection::None)
        return false;
    report.meTextureDrop = CheckTexture(surface, stop);
    if (Stopped(stop))
    {
        report.meRejection = KV_SurfaceRejection::Stopped;
        return false;
    }
    if (report.meTextureDrop != KV_TextureDrop::None)
        surface.ClearTexture();
    return true;
}
}  // namespace

bool KV_CheckReadSurface(KV_PolySurface& surface, KV_SurfaceReadReport& report)
{
    return CheckRead(surface, report, nullptr);
}

namespace
{
// Polygons as read, before triangulation, whatever the file's format. Sizes up to the
// largest a surface file holds are counted in an array, the rarer ones in the map.
// False when found stopped.
bool KV_CountPolygonsAsRead(const KV_PolySurface& surface, KV_SurfaceReadReport& report,
                            const std::atomic<bool>* stop)
{
    report.munPolygonsAsRead = surface.PolygonCount();
    // A run holds polygons of one size.
    if (surface.PolygonCount() > 0 && surface.mpPolygons->FlatCornerCount() != 0)
    {
        report.mkPolygonSizes[surface.mpPolygons->FlatCornerCount()] = surface.PolygonCount();
        return !Stopped(stop);
    }
    std::vector<unsigned int> small(32, 0);
    for (unsigned int i = 0; i < surface.PolygonCount(); ++i)
    {
        if (StoppedAt(i, stop))
            return false;
        const unsigned int corners = (*surface.mpPolygons)[i].Count();
        if (corners < small.size())
            ++small[corners];
        else
            ++report.mkPolygonSizes[corners];
    }
    for (unsigned int corners = 0; corners < small.size(); ++corners)
        if (small[corners] > 0)
            report.mkPolygonSizes[corners] = small[corners];
    return true;
}

bool RefuseAsStopped(KV_SurfaceReadReport& report)
{
    report.meRejection = KV_SurfaceRejection::Stopped;
    return false;
}
}  // namespace

bool KV_ReadSurfaceFile(const KV_String& path, KV_PolySurface& surface,
                        KV_SurfaceReadReport& report, KV_SurfaceAppearance* appearance,
                        KV_Executor* executor, const std::atomic<bool>* stop)
{
    report = KV_SurfaceReadReport();
    surface.Clear();
    if (appearance != nullptr)
        appearance->Clear();
    if (Stopped(stop))
        return RefuseAsStopped(report);
    if (!KV_SurfaceLoader::IsSurfaceFile(path))
    {
        KV_MeshImporter importer(surface, appearance);
        importer.SetExecutor(executor);
        importer.SetStop(stop);
        const bool imported = importer.Read(path.c_str());
        report.mkFormat = importer.Format().c_str();
        if (Stopped(stop))
            return RefuseAsStopped(report);
        if (!imported)
        {
            report.meRejection = KV_SurfaceRejection::LoadFailed;
            report.mkLoadFailure = importer.Reason().c_str();
            return false;
        }
        report.meEncoding = KV_SurfaceEncoding::Imported;
        if (!KV_CountPolygonsAsRead(surface, report, stop))
            return RefuseAsStopped(report);
        if (!CheckRead(surface, report, stop))
            return false;
        if (appearance != nullptr)
        {
            // Without texture data the materials' pictures have nothing to be drawn with.
            if (report.meTextureDrop != KV_TextureDrop::None)
            {
                appearance->materials.clear();
                appearance->polygonMaterials.clear();
            }
            appearance->Fit(surface);
        }
        return true;
    }
    KV_SurfaceLoader loader(surface);
    loader.SetExecutor(executor);
    loader.SetStop(stop);
    const bool loaded = loader.Load(path);
    report.meEncoding = loader.Encoding();
    report.mnVersion = loader.Version();
    report.meChecksum = loader.Checksum();
    if (loader.Stopped() || Stopped(stop))
        return RefuseAsStopped(report);
    if (!loaded)
    {
        report.meRejection = KV_SurfaceRejection::LoadFailed;
        report.mkLoadFailure = loader.FailureReason();
        return false;
    }
    if (!KV_CountPolygonsAsRead(surface, report, stop))
        return RefuseAsStopped(report);
    return CheckRead(surface, report, stop);
}

KV_String KV_SurfaceFailureReason(const KV_SurfaceReadReport& report)
{
    char text[96];
    switch (report.meRejection)
    {
        case KV_SurfaceRejection::LoadFailed:
            return report.mkLoadFailure.IsEmpty() ? KV_String("not a surface file")
                                                  : report.mkLoadFailure;
        case KV_SurfaceRejection::NoVertices:
            return "the surface has no vertices";
        case KV_SurfaceRejection::ShortPolygon:
            std::snprintf(text, sizeof text, "polygon %u has fewer than 3 vertices",
                          report.munWhere);
            return text;
        case KV_SurfaceRejection::VertexIndexOutOfRange:
            std::snprintf(text, sizeof text, "polygon %u: vertex index out of range",
                          report.munWhere);
            return text;
        case KV_SurfaceRejection::NonFiniteVertex:
            std::snprintf(text, sizeof text, "vertex %u: coordinate not a finite number",
                          report.munWhere);
            return text;
        case KV_SurfaceRejection::Stopped:
            return "reading was stopped";
        default:
            return "";
    }
}

namespace
{
// The appearance is fanned from the polygons as they are before the surface's own
// triangulation replaces them. False when stopped (the surface may keep its polygons).
bool Triangulate(KV_PolySurface& surface, KV_SurfaceAppearance* appearance,
                 const std::atomic<bool>* stop = nullptr)
{
    if (appearance != nullptr && surface.mpPolygons != nullptr)
        appearance->Triangulate(*surface.mpPolygons);
    if (Stopped(stop))
        return false;
    KV_PSO_Triangulate triangulate(&surface);
    triangulate.SetStopFlag(stop);
    triangulate.Triangulate();
    return !Stopped(stop);
}

// The steps that read only the vertex count and the polygons and write only their own
// lists: nothing the other pieces of a completion do reads those lists or changes the
// polygons until this piece is joined. They report nothing, so no message box is raised off
// the main thread. The stop flag holds on whichever thread runs them.
void ComputeBoundaryLists(KV_PolySurface& surface, const std::atomic<bool>* stop)
{
    const KV_SurfaceTopology::StopScope scope(stop);
    if (Stopped(stop))
        return;
    surface.ComputeBoundaries();
    if (Stopped(stop))
        return;
    surface.ComputeVertexBoundaries();
}
}  // namespace

void KV_PrepareSurfaceForExport(KV_PolySurface& surface, KV_SurfaceAppearance* appearance)
{
    Triangulate(surface, appearance);
}

void KV_CompleteSurface(KV_PolySurface& surface, KV_Executor* executor,
                        KV_SurfaceAppearance* appearance, const std::atomic<bool>* stop)
{
    // The derivations this thread makes look at the flag too.
    const KV_SurfaceTopology::StopScope scope(stop);
    try
    {
        if (!Triangulate(surface, appearance, stop))
            return;
        // Begun first, as the longest piece. The vertex polygons stay on this thread: the
        // normals read them when they exist. Without an executor the boundary lists are made
        // last, on this thread.
        KV_Task<void> boundaries =
            KV_Spawn(executor, [&surface, stop] { ComputeBoundaryLists(surface, stop); });
        KV_PSO_ComputeNormals normals(&surface);
        normals.SetExecutor(executor);
        normals.SetStopFlag(stop);
        normals.ComputePolygonNormals();
        if (Stopped(stop))
            return;
        normals.RefineVertexNormals();
        if (Stopped(stop))
            return;
        surface.ComputeExtents();
        surface.ComputeVertexPolygons();
        if (surface.HasTextureMap())
            surface.ComputeTextureCoordinateVertices();
        boundaries.Get();
    }
    catch (const KV_SurfaceTopology::Stopped&)
    {
        // Left to be thrown away.
    }
}

void KV_CompleteSurfaceForMeasuring(KV_PolySurface& surface, KV_Executor* executor,
                                    KV_SurfaceAppearance* appearance, const std::atomic<bool>* stop)
{
    const KV_SurfaceTopology::StopScope scope(stop);
    try
    {
        // Normals that came with the file are not trusted, and none are made: a reader of
        // them finds them absent.
        KV_Release(surface.mpPolygonNormals);
        KV_Release(surface.mpVertexNormals);
        if (!Triangulate(surface, appearance, stop))
            return;
        KV_Task<void> boundaries =
            KV_Spawn(executor, [&surface, stop] { ComputeBoundaryLists(surface, stop); });
        surface.ComputeExtents();
        if (!Stopped(stop))
            surface.ComputeVertexPolygons();
        if (!Stopped(stop) && surface.HasTextureMap())
            surface.ComputeTextureCoordinateVertices();
        boundaries.Get();
    }
    catch (const KV_SurfaceTopology::Stopped&)
    {
        // Left to be thrown away.
    }
}

void KV_CompleteSurfaceForDrawing(KV_PolySurface& surface, KV_Executor* executor,
                                  KV_SurfaceAppearance* appearance, const std::atomic<bool>* stop)
{
    const KV_SurfaceTopology::StopScope scope(stop);
    try
    {
        // The triangulation makes the extents of a surface that has none, and fanning a
        // polygon into triangles keeps every corner, so only extents that came with the file
        // are made again below (the same values either way). Triangles in one flat run have
        // nothing to fan: their extents are made below, beside the refinement's table, instead
        // of by the triangulation ahead of it.
        const bool triangles =
            surface.mpPolygons != nullptr && surface.mpPolygons->FlatCornerCount() == 3;
        const bool extentsMadeHere = surface.mpExtents == nullptr && !triangles;
        if (triangles)
        {
            if (appearance != nullptr)
                appearance->Triangulate(*surface.mpPolygons);
        }
        else if (!Triangulate(surface, appearance, stop))
        {
            return;
        }
        // The extents read only the positions, which the normals do not change: made beside
        // the refinement's table of vertex polygons, which has the executor to itself.
        const bool extentsWanted = !extentsMadeHere || surface.mpExtents == nullptr;
        KV_Task<void> extents;
        if (extentsWanted && executor != nullptr &&
            surface.VertexCount() >= kConcurrentExtentsFrom)
            extents = KV_Spawn(executor, [&surface] { surface.ComputeExtents(); });
        KV_PSO_ComputeNormals normals(&surface);
        normals.SetExecutor(executor);
        normals.SetStopFlag(stop);
        // Any polygon normals the surface came with are not trusted; those the refinement
        // needs are made as it goes.
        KV_Release(surface.mpPolygonNormals);
        normals.SetPolygonNormalsKept(false);
        normals.RefineVertexNormals();
        // One normal per polygon is as large as the vertex positions twice over; the first
        // frame is the peak of a load, so they are made again after it (the same function
        // of the same vertices and polygons).
        KV_Release(surface.mpPolygonNormals);
        if (Stopped(stop))
            return;
        if (extents.Valid())
            extents.Get();
        else if (extentsWanted)
            surface.ComputeExtents();
    }
    catch (const KV_SurfaceTopology::Stopped&)
    {
        // Left to be thrown away.
    }
}

namespace
{
// Runs part on surface; on a stop or a failure the lists named by release go, so that they
// are absent rather than half made and a reader knows to make them.
template <typename Part, typename Release>
void CompleteOrRelease(const std::atomic<bool>* stop, Part part, Release release)
{
    // The lists under way when a window is closed right after the first frame look at the
    // flag on the way, so that the close does not wait for all of them.
    const KV_SurfaceTopology::StopScope scope(stop);
    try
    {
        part();
    }
    catch (const KV_SurfaceTopology::Stopped&)
    {
        release();
        return;
    }
    catch (...)
    {
        release();
        throw;
    }
    if (Stopped(stop))
        release();
}
}  // namespace

void KV_CompleteSurfaceOutlines(KV_PolySurface& surface, const std::atomic<bool>* stop)
{
    CompleteOrRelease(
        stop,
        [&surface, stop]
        {
            // The edge passes free their working memory into the allocator's heap, where the
            // large blocks of the lists made later would never reuse it: handed back here, it
            // is not held beside them.
            ComputeBoundaryLists(surface, stop);
            KV_ReturnFreeMemory();
        },
        [&surface]
        {
            KV_Release(surface.mpBoundaries);
            KV_Release(surface.mpVertexBoundaries);
        });
}

void KV_CompleteSurfaceLists(KV_PolySurface& surface, const std::atomic<bool>* stop,
                             KV_Executor* executor)
{
    CompleteOrRelease(
        stop,
        [&surface, stop, executor]
        {
            // Without an executor the vertex polygons are made after the polygon normals,
            // here, and with them the geometry vertex of each texture coordinate.
            auto vertexLists = [&surface, stop]
            {
                const KV_SurfaceTopology::StopScope scope(stop);
                if (!Stopped(stop))
                    surface.ComputeVertexPolygons();
                if (!Stopped(stop) && surface.HasTextureMap())
                    surface.RecomputeTextureCoordinateVertices();
            };
            KV_Task<void> vertexPolygons = KV_Spawn(executor, vertexLists);
            KV_PSO_ComputeNormals normals(&surface);
            normals.SetStopFlag(stop);
            normals.ComputePolygonNormals();
            vertexPolygons.Get();
        },
        [&surface]
        {
            KV_Release(surface.mpPolygonNormals);
            KV_Release(surface.mpVertexPolygons);
            KV_Release(surface.mpTextureCoordinateVertices);
        });
}

void KV_CompleteSurfaceAfterDrawing(KV_PolySurface& surface, const std::atomic<bool>* stop,
                                    KV_Executor* executor)
{
    KV_CompleteSurfaceOutlines(surface, stop);
    if (!Stopped(stop))
        KV_CompleteSurfaceLists(surface, stop, executor);
}
