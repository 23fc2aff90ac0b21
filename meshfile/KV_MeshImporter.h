#pragma once
// KV_MeshImporter: reads the surface and model files of other programs (OBJ, PLY, STL,
// glTF 2.0, COLLADA, 3DS, FBX and the rest the Open Asset Import Library knows) into the
// same textured surface the surface file readers fill. The whole scene becomes one surface:
// node transforms applied, every mesh instance merged, polygons kept as polygons (no
// triangulation), positions welded by exact (bitwise) equality into shared vertices, and
// the file's per-corner texture coordinates welded likewise into texture coordinates and
// texture polygons. Points and lines are skipped.
//
// The texture is the base-colour or diffuse map of the materials: embedded, or a file found
// by the path as written (relative to the model's folder), then by its file name in the
// model's folder in any letter case. Several textured materials whose coordinates all lie
// in [0, 1] are packed side by side into one image with their coordinates remapped;
// otherwise the one covering most polygons is kept. A texture that is not found or does
// not decode, or materials left out, are shown as a (non-fatal) message naming the file and
// the places tried; the surface then loads without that texture (and, when no texture is
// left, without texture coordinates).
//
// With an appearance table (the constructor's second argument) the model's look goes there
// too, the same whichever reader below reads the file: every textured material keeps its own
// picture, nothing packed or left out (the one on most polygons is the surface's map, the
// others' pictures are moved into the table, none copied), with each polygon's material;
// the vertices' colours (the first colour a welded vertex is given; white for vertices
// given none); and the file's normals when every polygon has them (none are made here),
// one per vertex or, where a vertex has several, one per corner (KV_NormalCollector).
//
// Binary PLY files of the usual layouts are read by KV_PlyReader instead, in this process, to
// the same surface, and OBJ files by KV_ObjReader, which leaves to the library every file it
// would not read exactly alike; everything else goes to the library.
//
// The library runs in a child process that hands the surface and its messages back, so
// that a file which crashes the library (it has readers that do) ends the child, not the
// program: Read then returns false with the signal as reason. A child that has not finished
// within the time limit (60 s, and as much again for every 4 MB of the file) is killed.
// The child is a fresh program, the import helper (HelperProgram), rather than a fork of
// this one: a fork of a program with threads inherits every lock another thread held at that
// moment (the allocator's, the C++ library's) and can wait on it for ever. Where no helper
// is found, or ORVANE_IMPORT_HELPER is set empty (a fuzzer, which has no other threads), the
// child is a fork.
//
// Before the library sees a file, what its header declares is held against what it holds
// (KV_CheckDeclaredSizes): a file that claims more is refused at once with that reason.
//
// The work is split by responsibility: KV_ImportScene turns the library's scene into the
// surface (in the child), KV_ImportWire carries it back over the pipe, KV_ImportChild starts
// the child and waits for it.
//
// With a stop flag (SetStop), Read returns false with Reason() "stopped" soon after the flag
// is set, whatever it is doing: the direct readers look at it inside their long loops, and
// the wait for the child at least every 20 ms, killing and reaping the child once it is set.
// With an executor (SetExecutor), the direct readers decode the texture beside the geometry
// on its threads; without one everything runs on the caller, with the same result. No
// thread is started here.
//
// Read returns false, with Reason() saying why in a line, when the library cannot read the
// file or stops on it, the scene holds no polygon, a face names a vertex its mesh lacks, or
// the scene's mesh instances together hold more than kMaxCorners vertices, faces and polygon
// corners. The surface (and the table) is emptied first and after a failure holds nothing.
// Coordinates are not checked here (the caller's checks of a read surface apply as for
// surface files).

#include <atomic>
#include <string>
#include <vector>

class KV_Executor;
class KV_TexturedPolySurface;
class KV_SurfaceAppearance;

class KV_MeshImporter
{
public:
    static const unsigned long kMaxCorners = 1ul << 28;

    // With appearance, the model's materials, vertex colours and normals are read there too.
    explicit KV_MeshImporter(KV_TexturedPolySurface& surface,
                             KV_SurfaceAppearance* appearance = nullptr);
    KV_MeshImporter(const KV_MeshImporter&) = delete;
    KV_MeshImporter& operator=(const KV_MeshImporter&) = delete;

    // A flag that, once set (by any thread), makes Read give up soon with Reason() "stopped";
    // null (the default): never. It must outlive every Read.
    void SetStop(const std::atomic<bool>* stop) { mpStop = stop; }
    // The threads the direct readers may hand pieces of their work to; null (the default):
    // all of it on the calling thread.
    void SetExecutor(KV_Executor* executor) { mpExecutor = executor; }

    bool Read(const std::string& path);

    const std::string& Reason() const { return mkReason; }
    // The lower-case extension of the file read ("obj", "glb"); its format as far as the
    // caller needs to tell.
    const std::string& Format() const { return mkFormat; }

    // The time limit for a file of no size, for the whole process (fuzzing shortens it).
    static void SetTimeLimit(double seconds);
    // Whether the files our own readers take (binary PLY: KV_PlyReader; OBJ: KV_ObjReader)
    // are read by them, in this process, rather than by the library (the default; off to
    // compare the two).
    static void UseDirectReaders(bool use);

    // The import helper program: ORVANE_IMPORT_HELPER when set (empty: none), else the one
    // installed beside the program (../libexec/orvane-view/orvane-import), else the one of
    // the build this was built in; empty when none of them is there.
    static std::string HelperProgram();
    // The helper's whole work, called from its main: imports the file argv[1] and writes
    // the result to the descriptor argv[2]; argv[3] is the id of the process waiting for it;
    // argv[4] is "table" when the appearance is wanted too ("surface" otherwise). Does not
    // return.
    [[noreturn]] static void RunHelper(int argc, char** argv);

    // Whether the library has a reader for the path's extension.
    static bool CanRead(const std::string& path);
    // Each reader of the library: its name and its extensions (lower case, without dots).
    struct FormatInfo
    {
        std::string name;
        std::vector<std::string> extensions;
    };
    static std::vector<FormatInfo> ReadableFormats();
    // The readable extensions, lower case, without dots, sorted.
    static std::vector<std::string> ReadableExtensions();

private:
    // The import itself, in the calling process.
    bool ReadHere(const std::string& path);
    // ReadHere, its result and messages written to the descriptor; then the process ends.
    [[noreturn]] void ReadAndSend(const std::string& path, int fd);
    // Empties the surface and the appearance.
    void ClearResult();
    // Whether the stop flag is set; and what Read does then: empties the result, says why.
    bool Stopped() const;
    bool Stop();

    KV_TexturedPolySurface& mkSurface;
    KV_SurfaceAppearance* mpAppearance = nullptr;
    const std::atomic<bool>* mpStop = nullptr;
    KV_Executor* mpExecutor = nullptr;
    std::string mkReason;
    std::string mkFormat;
};
