// Fuzzes the model importer the way the program opens a file: each input is written to a
// scratch file whose extension is the target's format (FUZZ_MESH_EXTENSION), then read
// through KV_ReadSurfaceFile with an appearance table, as the viewer reads it; whatever loads
// is completed as the viewer would, the table following the triangulation. The import
// library itself runs in a child process (see KV_MeshImporter), so what is fuzzed there is
// everything of ours around it: the hand-back, the checks and the completion. Binary PLY
// files are read by our own reader in this process (KV_PlyReader): the PLY target fuzzes it
// whole, its texture thread included. OBJ files are read in this process by KV_ObjReader,
// which leaves the rest to the library: the OBJ target fuzzes that reader (inputs it leaves
// to the library are skipped, so that no time goes to the library's child), with a material
// file and two pictures beside the input so that materials, the texture thread and the atlas
// are fuzzed too.

#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_Executor.h"
#include "foundation/KV_Report.h"
#include "fuzz/FuzzInputFile.h"
#include "image/KV_PngWriter.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_ObjReader.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceAppearance.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{
const std::string& ScratchPath()
{
    static const std::string path = "/tmp/fuzz_mesh_importer-" +
                                    std::to_string(static_cast<long>(getpid())) +
                                    "." FUZZ_MESH_EXTENSION;
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = []
    {
        SetReportSink([](const char*, const char*, KV_ReportKind) {});
        // The library has readers that loop on some inputs; the import stops them well
        // inside libFuzzer's own timeout.
        KV_MeshImporter::SetTimeLimit(2.0);
        // A fuzzer has no other threads, so a fork of it is a sound child, and much quicker
        // to start than the helper program.
        setenv("ORVANE_IMPORT_HELPER", "", 1);
        if (std::string(FUZZ_MESH_EXTENSION) == "obj")
        {
            // The input's own material file (found as the model's name with .mtl whatever
            // its mtllib line says) and its pictures; one texture is missing.
            std::string mtl = ScratchPath();
            mtl.replace(mtl.size() - 3, 3, "mtl");
            if (std::FILE* m = std::fopen(mtl.c_str(), "wb"))
            {
                std::fputs(
                    "newmtl a\nmap_Kd fuzz_mesh_a.png\nnewmtl b\nmap_Kd FUZZ_MESH_B.PNG\n"
                    "newmtl c\nmap_Kd fuzz_mesh_missing.png\nnewmtl d\nKd 1 1 1\n",
                    m);
                std::fclose(m);
            }
            std::string error;
            KV_Image<KV_RGB8> a(4, 8), b(2, 2);
            KV_PngWriter::Write(a, "/tmp/fuzz_mesh_a.png", error);
            KV_PngWriter::Write(b, "/tmp/fuzz_mesh_b.png", error);
        }
        return true;
    }();
    (void)quiet;
    if (!WriteFuzzInput(ScratchPath(), data, size))
        return 0;
    if (std::string(FUZZ_MESH_EXTENSION) == "obj")
    {
        KV_PolySurface probe;
        KV_SurfaceAppearance table;
        if (!KV_ObjReader(probe, &table).Read(ScratchPath()))
            return 0;
    }
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
    KV_SurfaceReadReport report;
    // The viewer's pool of two threads, kept for every input.
    static KV_Executor executor(2);
    if (KV_ReadSurfaceFile(ScratchPath().c_str(), surface, report, &appearance, &executor))
        KV_CompleteSurface(surface, &executor, &appearance);
    return 0;
}
