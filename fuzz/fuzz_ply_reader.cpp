// Fuzzes our binary PLY reader alone, with no import library behind it for the files it does
// not take, so that thousands of files a second reach it: each input is written to a scratch
// file in a folder of this process's own (a texture it names is looked for there), read with
// an appearance table (colours, normals), checked as a read surface is, and completed as the
// viewer would; the size check the importer makes before the library runs on it too.

#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_Executor.h"
#include "foundation/KV_Report.h"
#include "fuzz/FuzzInputFile.h"
#include "meshfile/KV_PlyReader.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceAppearance.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace
{
const std::string& ScratchPath()
{
    static const std::string path = []
    {
        const std::string folder =
            "/tmp/fuzz_ply_reader-" + std::to_string(static_cast<long>(getpid()));
        std::filesystem::create_directories(folder);
        return folder + "/in.ply";
    }();
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = []
    {
        SetReportSink([](const char*, const char*, KV_ReportKind) {});
        return true;
    }();
    (void)quiet;
    if (!WriteFuzzInput(ScratchPath(), data, size))
        return 0;
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
    KV_PlyReader reader(surface, &appearance);
    KV_SurfaceReadReport report;
    if (reader.Read(ScratchPath()) == KV_PlyReader::Outcome::Handled &&
        KV_CheckReadSurface(surface, report))
    {
        appearance.Fit(surface);
        // A pool of two threads, kept for every input.
        static KV_Executor executor(2);
        KV_CompleteSurface(surface, &executor, &appearance);
    }
    std::string reason;
    KV_PlyReader::CheckDeclaredSizes(ScratchPath(), reason);
    return 0;
}
