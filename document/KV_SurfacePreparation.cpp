#include "document/KV_SurfacePreparation.h"

#include "foundation/KV_Async.h"
#include "meshfile/KV_MeshImporter.h"

#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_PSO_Triangulate.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceTopology.h"

#include <cmath>
#include <cstdio>
#include <future>

namespace
{
// Below this many polygons a thread of their own for the texture-coordinate vertices costs
// more than it saves.
const unsigned int kConcurrentTextureVerticesFrom = 65536;

KV_SurfaceRejection CheckGeometry(const KV_PolySurface& surface, unsigned int& where)
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
    for (unsigned int i = 0; i < surface.PolygonCount(); ++i)
    {
        const KV_Polygon& polygon = (*surface.mpPolygons)[i];
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

KV_TextureDrop CheckTexture(const KV_PolySurface& surface)
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
    for (unsigned int i = 0; i < texturePolygons.Count(); ++i)
    {
        const KV_Polygon& texturePolygon = texturePolygons[i];
        if (texturePolygon.Count() != (*surface.mpPolygons)[i].Count())
            return KV_TextureDrop::UnpairedTexturePolygons;
        for (unsigned int j = 0; j < texturePolygon.Count(); ++j)
            if (texturePolygon[j] >= coordinateCount)
                return KV_TextureDrop::TextureIndexOutOfRange;
    }
    return KV_TextureDrop::None;
}

}  // namespace

bool KV_CheckReadSurface(KV_PolySurface& surface, KV_SurfaceReadReport& report)
{
    report.meRejection = CheckGeometry(surface, report.munWhere);
    if (report.meRejection != KV_SurfaceRejection::None)
        return false;
    report.meTextureDrop = CheckTexture(surface);
    if (report.meTextureDrop != KV_TextureDrop::None)
        surface.ClearTexture();
    return true;
}

namespace
{
// Polygons as read, before triangulation, whatever the file's format.
void KV_CountPolygonsAsRead(const KV_PolySurface& surface, KV_SurfaceReadReport& report)
{
    report.munPolygonsAsRead = surface.PolygonCount();
    for (unsigned int i = 0; i < surface.PolygonCount(); ++i)
        ++report.mkPolygonSizes[(*surface.mpPolygons)[i].Count()];
}
}  // namespace

bool KV_ReadSurfaceFile(const KV_String& path, KV_PolySurface& surface,
                        KV_SurfaceReadReport& report, KV_SurfaceAppearance* appearance)
{
    report = KV_SurfaceReadReport();
    surface.Clear();
    if (appearance != nullptr)
        appearance->Clear();
    if (!KV_SurfaceLoader::IsSurfaceFile(path))
    {
        KV_MeshImporter importer(surface, appearance);
        const bool imported = importer.Read(path.c_str());
        report.mkFormat = importer.Format().c_str();
        if (!imported)
        {
            report.meRejection = KV_SurfaceRejection::LoadFailed;
            report.mkLoadFailure = importer.Reason().c_str();
            return false;
        }
        report.meEncoding = KV_SurfaceEncoding::Imported;
        KV_CountPolygonsAsRead(surface, report);
        if (!KV_CheckReadSurface(surface, report))
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
    const bool loaded = loader.Load(path);
    report.meEncoding = loader.Encoding();
    report.mnVersion = loader.Version();
    report.meChecksum = loader.Checksum();
    if (!loaded)
    {
        report.meRejection = KV_SurfaceRejection::LoadFailed;
        report.mkLoadFailure = loader.FailureReason();
        return false;
    }
    KV_CountPolygonsAsRead(surface, report);
    return KV_CheckReadSurface(surface, report);
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
        default:
            return "";
    }
}

namespace
{
// The appearance is fanned from the polygons as they are before the surface's own
// triangulation replaces them.
void Triangulate(KV_PolySurface& surface, KV_SurfaceAppearance* appearance)
{
    if (appearance != nullptr && surface.mpPolygons != nullptr)
        appearance->Triangulate(*surface.mpPolygons);
    KV_PSO_Triangulate(&surface).Triangulate();
}
}  // namespace

void KV_PrepareSurfaceForExport(KV_PolySurface& surface, KV_SurfaceAppearance* appearance)
{
    Triangulate(surface, appearance);
}

void KV_CompleteSurface(KV_PolySurface& surface, KV_Completion completion,
                        KV_SurfaceAppearance* appearance)
{
    Triangulate(surface, appearance);
    KV_PSO_ComputeNormals normals(&surface);
    normals.ComputePolygonNormals();
    if (completion == KV_Completion::Sequential)
    {
        normals.RefineVertexNormals();
        surface.ComputeExtents();
        surface.ComputeBoundaries();
        surface.ComputeVertexPolygons();
        surface.ComputeVertexBoundaries();
        if (surface.HasTextureMap())
            surface.ComputeTextureCoordinateVertices();
        return;
    }
    normals.SetConcurrent(true);
    // The boundary steps read only the vertex count and the polygons and write only their
    // own lists; nothing on this thread reads those lists or changes the polygons until the
    // task is joined. The vertex polygons stay on this thread: the normals read them when
    // they exist. The steps report nothing, so no message box is raised off the main thread.
    std::future<void> boundaries = std::async(std::launch::async,
                                              [&surface]
                                              {
                                                  surface.ComputeBoundaries();
                                                  surface.ComputeVertexBoundaries();
                                              });
    try
    {
        normals.RefineVertexNormals();
        surface.ComputeExtents();
        surface.ComputeVertexPolygons();
        if (surface.HasTextureMap())
            surface.ComputeTextureCoordinateVertices();
    }
    catch (...)
    {
        boundaries.wait();
        throw;
    }
    boundaries.get();
}

void KV_CompleteSurfaceForDrawing(KV_PolySurface& surface, KV_Completion completion,
                                  KV_SurfaceAppearance* appearance)
{
    // The triangulation makes the extents of a surface that has none, and fanning a polygon
    // into triangles keeps every corner, so only extents that came with the file are made
    // again below (the same values either way).
    const bool extentsMadeHere = surface.mpExtents == nullptr;
    Triangulate(surface, appearance);
    // The texture-coordinate vertices read only the polygons and texture polygons, which
    // nothing below changes, and are written by nothing below: on a large surface they are
    // made on a thread of their own. Drawing takes them as they are made here (the actors
    // make the list again only after a change).
    std::future<void> textureVertices;
    const bool textured = surface.HasTextureMap();
    if (textured && completion == KV_Completion::Concurrent &&
        surface.PolygonCount() >= kConcurrentTextureVerticesFrom)
        textureVertices =
            KV_AsyncIfThreads([&surface] { surface.RecomputeTextureCoordinateVertices(); });
    try
    {
        KV_PSO_ComputeNormals normals(&surface);
        if (completion == KV_Completion::Concurrent)
            normals.SetConcurrent(true);
        // Made by the refinement, beside its table of vertex polygons when concurrent; any
        // polygon normals the surface came with are not trusted.
        KV_Release(surface.mpPolygonNormals);
        normals.RefineVertexNormals();
        // One normal per polygon is as large as the vertex positions twice over; the first
        // frame is the peak of a load, so they are made again after it (the same function
        // of the same vertices and polygons).
        KV_Release(surface.mpPolygonNormals);
        if (!extentsMadeHere || surface.mpExtents == nullptr)
            surface.ComputeExtents();
    }
    catch (...)
    {
        if (textureVertices.valid())
            textureVertices.wait();
        throw;
    }
    if (textureVertices.valid())
        textureVertices.get();
    else if (textured)
        surface.RecomputeTextureCoordinateVertices();
}

void KV_CompleteSurfaceAfterDrawing(KV_PolySurface& surface, const std::atomic<bool>* stop)
{
    auto stopped = [stop] { return stop != nullptr && stop->load(); };
    // The boundaries' sort looks at the flag between its passes.
    const KV_SurfaceTopology::StopScope scope(stop);
    try
    {
        // The list under way when a window is closed right after the first frame: it looks
        // at the flag on the way, so that the close does not wait for all of it.
        KV_PSO_ComputeNormals normals(&surface);
        normals.SetStopFlag(stop);
        normals.ComputePolygonNormals();
        if (stopped())
        {
            KV_Release(surface.mpPolygonNormals);
            return;
        }
        surface.ComputeBoundaries();
        if (stopped())
            return;
        surface.ComputeVertexPolygons();
        if (stopped())
            return;
        surface.ComputeVertexBoundaries();
    }
    catch (const KV_SurfaceTopology::Stopped&)
    {
        KV_Release(surface.mpPolygonNormals);
        KV_Release(surface.mpBoundaries);
        KV_Release(surface.mpVertexPolygons);
        KV_Release(surface.mpVertexBoundaries);
    }
    catch (...)
    {
        // Absent, not half made: a reader that finds them absent knows to make them.
        KV_Release(surface.mpPolygonNormals);
        KV_Release(surface.mpBoundaries);
        KV_Release(surface.mpVertexPolygons);
        KV_Release(surface.mpVertexBoundaries);
        throw;
    }
}
