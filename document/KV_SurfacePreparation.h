#pragma once
// The stages between a surface file and a displayable surface, shared by the document and
// osftool so that both treat every file alike:
//  1. KV_ReadSurfaceFile: load through KV_SurfaceLoader (surface files) or KV_MeshImporter
//     (the model files of other programs), then refuse what the completion
//     cannot survive and drop texture data that cannot be drawn;
//  2. KV_CompleteSurface: triangulation, normals, extents and topology, in the order the
//     renderer and the exporter rely on.
// Each stage takes the program's executor to split its work over (null: all on the calling
// thread, with the same result) and a stop flag that ends it early (null: never).

#include "foundation/KV_String.h"
#include "surfacefile/KV_ChecksumState.h"
#include "surfacefile/KV_SurfaceLoader.h"

#include <atomic>
#include <map>

class KV_Executor;
class KV_PolySurface;
class KV_SurfaceAppearance;

// Why a surface that loaded was refused. Each would end or crash the completion: normals
// of a polygon of fewer than 3 vertices are fatal, an index past the vertices reads
// outside them, and coordinates that are not finite stall the eigen analysis.
enum class KV_SurfaceRejection
{
    None,
    LoadFailed,  // no reader could read the file (mkLoadFailure says why)
    NoVertices,
    ShortPolygon,           // a polygon of fewer than 3 vertices
    VertexIndexOutOfRange,  // a polygon names a vertex not below the vertex count
    NonFiniteVertex,        // a coordinate is infinite or NaN
    Stopped                 // reading was asked to stop before it ended
};

// Why the texture data of an accepted surface was dropped (the geometry stays).
enum class KV_TextureDrop
{
    None,
    UnpairedTexturePolygons,      // texture polygon count or sizes differ from the polygons'
    TextureIndexOutOfRange,       // an index not below the texture-coordinate count
    ImageWithoutTexturePolygons,  // an image but no texture polygons: nothing would be drawn
    EmptyImage                    // an image of no rows or no columns
};

// What reading found besides the surface itself.
struct KV_SurfaceReadReport
{
    KV_SurfaceEncoding meEncoding = KV_SurfaceEncoding::None;
    int mnVersion = -1;  // raw encoding only
    KV_ChecksumState meChecksum = KV_ChecksumState::Absent;
    KV_SurfaceRejection meRejection = KV_SurfaceRejection::None;
    KV_TextureDrop meTextureDrop = KV_TextureDrop::None;
    unsigned int munPolygonsAsRead = 0;  // before triangulation
    // Polygons as read, by corner count (corners -> polygons).
    std::map<unsigned int, unsigned int> mkPolygonSizes;
    // The polygon or vertex a rejection names (0 otherwise).
    unsigned int munWhere = 0;
    // Why the file could not be read (LoadFailed only): the loader's reason, or for another
    // program's model file the importer's.
    KV_String mkLoadFailure;
    // Imported files: the lower-case extension.
    KV_String mkFormat;
};

// Why a file was refused, in a few words for the second line of the load-failure message
// ("the file is empty", "truncated at byte 96", "polygon 3 has fewer than 3 vertices");
// empty when the report holds no rejection.
KV_String KV_SurfaceFailureReason(const KV_SurfaceReadReport& report);

// Loads path into surface (emptied first) and checks it. Returns false when the file does
// not load or the surface is refused (report says why); the surface then holds whatever
// was read and must not be completed. On true, texture data that cannot be drawn has been
// released (ClearTexture) and report.meTextureDrop says why. Shows no message.
// With appearance, a model file's materials, vertex colours and normals go there (emptied
// first; a surface file leaves it empty), fitted to the surface (KV_SurfaceAppearance::Fit).
// With an executor, the reader splits its work over its threads (the same surface either
// way). With stop set, reading returns false soon (meRejection Stopped), whatever it holds.
bool KV_ReadSurfaceFile(const KV_String& path, KV_PolySurface& surface,
                        KV_SurfaceReadReport& report, KV_SurfaceAppearance* appearance = nullptr,
                        KV_Executor* executor = nullptr, const std::atomic<bool>* stop = nullptr);

// Checks a surface already in memory as KV_ReadSurfaceFile does; false when refused.
bool KV_CheckReadSurface(KV_PolySurface& surface, KV_SurfaceReadReport& report);

// Derives what display and export need: triangulation; polygon normals, then refined
// vertex normals; extents; boundaries, vertex polygons, vertex boundary flags; and, with a
// texture image, the geometry vertex of each texture coordinate. Requires a surface
// accepted by KV_CheckReadSurface. Returns when every list is complete. An appearance read
// with the surface follows its triangulation.
//
// The executor (not owned; null: every step on the calling thread) takes the boundaries and
// the vertex boundary flags while this thread refines the vertex normals (both read the
// same polygons and write different lists), and the refinement in pieces; the lists are the
// same, bit for bit, with any executor or none. With stop set the completion returns soon,
// its lists in no defined state: the caller throws the surface away.
void KV_CompleteSurface(KV_PolySurface& surface, KV_Executor* executor = nullptr,
                        KV_SurfaceAppearance* appearance = nullptr,
                        const std::atomic<bool>* stop = nullptr);

// KV_CompleteSurface without the normals, for a reader that measures and checks the surface
// but never shades it: the triangulation, extents, vertex polygons, the geometry vertex of
// each texture coordinate, boundaries and vertex boundary flags, the same lists bit for bit.
// The polygon and vertex normals are left absent (any the surface came with go).
void KV_CompleteSurfaceForMeasuring(KV_PolySurface& surface, KV_Executor* executor = nullptr,
                                    KV_SurfaceAppearance* appearance = nullptr,
                                    const std::atomic<bool>* stop = nullptr);

// KV_CompleteSurface in two parts, for a viewer that shows the surface before it has every
// list. The first part makes what drawing reads: triangulation, refined vertex normals and
// extents; the polygon normals the vertex normals are made from are released again, as
// drawing does not read them. The second part makes the rest: polygon normals, boundaries,
// vertex polygons, vertex boundary flags and the geometry vertex of each texture
// coordinate. It reads only the vertices, the polygons and the texture polygons and writes
// only its five lists, so it may run on another thread while the surface is drawn. Together
// they give the lists KV_CompleteSurface gives, bit for bit, with any executor or none.
// With stop set the first part returns soon, its lists in no defined state (the caller
// throws the surface away); the second returns soon with its five lists absent, as it
// leaves them when it throws (memory exhausted), so that a reader knows to make them.
void KV_CompleteSurfaceForDrawing(KV_PolySurface& surface, KV_Executor* executor = nullptr,
                                  KV_SurfaceAppearance* appearance = nullptr,
                                  const std::atomic<bool>* stop = nullptr);
void KV_CompleteSurfaceAfterDrawing(KV_PolySurface& surface,
                                    const std::atomic<bool>* stop = nullptr,
                                    KV_Executor* executor = nullptr);
// The second part in two: the outlines (boundaries and vertex boundary flags), which
// drawing reads when it shows the holes, and the lists only the whole surface's readers
// read (polygon normals, vertex polygons, the geometry vertex of each texture coordinate),
// which a viewer makes when first asked for. Each leaves its own lists absent on a stop or
// a failure. The second part's lists are the same whether or not the first was made.
void KV_CompleteSurfaceOutlines(KV_PolySurface& surface, const std::atomic<bool>* stop = nullptr);
void KV_CompleteSurfaceLists(KV_PolySurface& surface, const std::atomic<bool>* stop = nullptr,
                             KV_Executor* executor = nullptr);

// What an export needs of the completion: the triangulation only (the world holds vertices,
// triangles, texture coordinates and texture triangles; normals and topology never reach
// it). Requires a surface accepted by KV_CheckReadSurface.
void KV_PrepareSurfaceForExport(KV_PolySurface& surface,
                                KV_SurfaceAppearance* appearance = nullptr);
