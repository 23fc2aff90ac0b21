// Fuzzes the model importer the way the program opens a file: each input is written to a
// scratch file whose extension is the target's format (FUZZ_MESH_EXTENSION), then read
// through KV_ReadSurfaceFile; whatever loads is completed as the viewer would. The import
// library itself runs in a child process (see KV_MeshImporter), so what is fuzzed there is
// everything of ours around it: the hand-back, the checks and the completion. Binary PLY
// files are read by our own reader in this process (KV_PlyReader): the PLY target fuzzes it
// whole, its texture thread included.

#include "app/core/KV_SurfacePreparation.h"
#include "foundation/KV_Report.h"
#include "meshfile/KV_MeshImporter.h"
#include "surface/KV_PolySurface.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
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
        return true;
    }();
    (void)quiet;
    std::FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (f == nullptr)
        return 0;
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written)
        return 0;
    KV_PolySurface surface;
    KV_SurfaceReadReport report;
    if (KV_ReadSurfaceFile(ScratchPath().c_str(), surface, report))
        KV_CompleteSurface(surface);
    return 0;
}
