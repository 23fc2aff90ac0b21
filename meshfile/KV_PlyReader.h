#pragma once
// KV_PlyReader: reads binary PLY files (either byte order) straight into a textured surface,
// in the calling process, for the layouts scanners and our own writer use: an element
// "vertex" with scalar x, y and z (any numeric type; u, s, tx or texture_u and v, t, ty or
// texture_v become texture coordinates), then an element "face" with an integer list
// vertex_indices (or vertex_index) and optionally a list texcoord of two values per corner.
// Other properties and other elements are skipped by their size. The texture is the file a
// "comment TextureFile NAME" line names, looked for as every model reader does
// (KV_ReadModelTexture) and decoded as a piece of its own, on the executor's threads while
// the geometry is read (SetExecutor; without one, after it, with the same result).
//
// The surface is the one KV_MeshImporter makes of the same file through the import library:
// positions welded by bitwise equality in vertex order, faces of three or more corners kept
// as polygons in file order (shorter ones skipped), texture coordinates welded the same way
// with one texture polygon per polygon, and the same texture messages. Where they differ: a
// face's texcoord list gives each of its corners its own coordinate (the library keeps one
// per vertex, the last one written), faces without corners are skipped (the library
// refuses the file), and an element before the vertices is skipped like any other (the
// library misreads the file then).
//
// Why not the library: on the 1M-triangle benchmark sphere (23 MB, 4096 x 4096 PNG beside
// it) its PLY reader alone, which builds a node per face and per value, takes 0.23 s, and
// its whole path (the child process it needs because some files crash it, welding,
// handing the surface back, then the texture) 1.07 s: nearly all of the 1.1 s a launch to
// the first frame may take. This reader takes 0.23 s with the texture decoded beside it.
// Debian has no other PLY library short of VTK or PCL.
//
// With an appearance, the vertices' colours (red or r, green or g, blue or b, alpha: bytes or
// floating point; a missing channel 0, a missing alpha opaque) and normals (nx, ny, nz,
// floating point) go there as the importer's table: the first colour of each welded vertex,
// the normals one per vertex or one per corner (KV_NormalCollector). Colours or normals of
// other types are left to the library then.
//
// Read says Handled when the surface is read, Refused with Reason() when the file is a binary
// PLY of this layout whose data is broken (its header does not end, it ends early, a count
// claims more than the file holds, a face names a vertex that is not there, the surface
// exceeds KV_MeshImporter::kMaxCorners, or no face has three corners), and NotHandled,
// having changed nothing, for everything else (ASCII files, other element layouts, unknown
// types), which the import library then reads. Nothing is allocated before the file's size
// justifies it; time and memory are linear in the file's size. The surface (and the
// appearance) is emptied first and after a refusal holds nothing.
//
// With a stop flag (SetStop), Read looks at it while the file is read and every few thousand
// vertices and faces, and once it is set says Refused with Reason() "stopped", the surface
// emptied. A texture decode already begun is waited for (the picture decoder cannot stop).
//
// CheckDeclaredSizes does the part of the checks that needs no layout, for every PLY file
// the library is to read (ASCII included): the library waits for ever on a header without
// end_header, and allocates for whatever count a header claims.

#include <atomic>
#include <string>

class KV_Executor;
class KV_TexturedPolySurface;
class KV_SurfaceAppearance;

class KV_PlyReader
{
public:
    enum class Outcome
    {
        Handled,
        Refused,
        NotHandled
    };

    explicit KV_PlyReader(KV_TexturedPolySurface& surface,
                          KV_SurfaceAppearance* appearance = nullptr)
        : mkSurface(surface), mpAppearance(appearance)
    {
    }
    KV_PlyReader(const KV_PlyReader&) = delete;
    KV_PlyReader& operator=(const KV_PlyReader&) = delete;

    // Null (the defaults): never stops; everything on the calling thread.
    void SetStop(const std::atomic<bool>* stop) { mpStop = stop; }
    void SetExecutor(KV_Executor* executor) { mpExecutor = executor; }

    Outcome Read(const std::string& path);
    const std::string& Reason() const { return mkReason; }

    // False, with the reason, when path is a PLY file (ASCII or binary, any layout of known
    // types) whose header does not end or whose data cannot hold every element the header
    // declares: each value of each instance, each list as long as its count says. True for
    // every other file, which this does not judge. Linear in the file's size.
    static bool CheckDeclaredSizes(const std::string& path, std::string& reason,
                                   const std::atomic<bool>* stop = nullptr);

private:
    void ClearResult();

    KV_TexturedPolySurface& mkSurface;
    KV_SurfaceAppearance* mpAppearance = nullptr;
    const std::atomic<bool>* mpStop = nullptr;
    KV_Executor* mpExecutor = nullptr;
    std::string mkReason;
};
