#pragma once
// KV_ObjReader: reads Wavefront OBJ files (and the MTL files they name) through tinyobjloader,
// in the calling process, into the surface the import library's path makes of them (see
// KV_MeshImporter): the same vertices, polygons, texture coordinates, texture polygons and
// picture, in the same order, with the same texture messages. Numbers are read correctly
// rounded, where the import library's own number reader can be one unit in the last place
// off. The texture files are decoded as a piece of their own, on the executor's threads while
// the geometry is read (SetExecutor; without one, after it, with the same result).
//
// Whatever it cannot make exactly the same, and every file the import library would refuse,
// it leaves to the importer: Read then returns false with the surface empty and nothing
// reported, and Deferral() says what it met. The importer then reads the file itself. A first
// pass over the lines does most of that sorting, so that the parser (which has had crash bugs
// on malformed input) only ever sees statements it knows, of plain numbers and one-word names.
//
// Why not the library: on the 1M-triangle benchmark sphere (a 75 MB OBJ, a 4096 x 4096 PNG
// beside it) its path (its parser, a vertex per corner welded again, the surface and picture
// handed back from its child process, then the texture) made opening the OBJ cost 1.9 s more
// than opening the same surface as .osf; this reader costs 0.9 s more.

//
// With an appearance, the importer's table is filled as the library's path fills it: every
// textured material its own picture (nothing packed), the vertices' colours (v x y z r g b)
// and the corners' normals (vn). A file whose faces give normals to some corners only is
// left to the importer then.
//
// With a stop flag (SetStop), Read looks at it every few thousand lines, vertices and
// polygons (the parser's input ends at the next line once it is set) and then returns false
// with the surface empty and Deferral() "stopped"; the importer then says "stopped" too. A
// texture decode already begun is waited for (the picture decoder cannot stop).

#include <atomic>
#include <string>

class KV_Executor;
class KV_TexturedPolySurface;
class KV_SurfaceAppearance;

class KV_ObjReader
{
public:
    explicit KV_ObjReader(KV_TexturedPolySurface& surface,
                          KV_SurfaceAppearance* appearance = nullptr);
    KV_ObjReader(const KV_ObjReader&) = delete;
    KV_ObjReader& operator=(const KV_ObjReader&) = delete;

    // Null (the defaults): never stops; everything on the calling thread.
    void SetStop(const std::atomic<bool>* stop) { mpStop = stop; }
    void SetExecutor(KV_Executor* executor) { mpExecutor = executor; }

    // True when the file was read; its texture messages have then been reported.
    bool Read(const std::string& path);

    // Why the last Read left the file to the importer, in a few words.
    const std::string& Deferral() const { return mkDeferral; }

private:
    void ClearResult();

    KV_TexturedPolySurface& mkSurface;
    KV_SurfaceAppearance* mpAppearance = nullptr;
    const std::atomic<bool>* mpStop = nullptr;
    KV_Executor* mpExecutor = nullptr;
    std::string mkDeferral;
};
