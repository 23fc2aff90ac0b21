// Fuzzes the surface file readers. Each input is read three ways: by the raw reader and by
// the container reader straight from libFuzzer's buffer (which is exactly the input's size,
// so the address sanitizer sees any read past the end), and by KV_SurfaceLoader from a
// scratch file named ".osf", the way the program opens files.

#include "surface/KV_PolySurface.h"
#include "surfacefile/KV_FieldContainerReader.h"
#include "surfacefile/KV_RawSurfaceReader.h"
#include "surfacefile/KV_SurfaceLoader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace
{
const std::string& ScratchPath()
{
    static const std::string path =
        "/tmp/fuzz_surface_loader-" + std::to_string(static_cast<long>(getpid())) + ".osf";
    return path;
}

bool WriteScratch(const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        KV_PolySurface surface;
        KV_RawSurfaceReader raw(surface);
        raw.Read(data, size);
    }
    {
        KV_PolySurface surface;
        KV_FieldContainerReader container(surface);
        container.Read(data, size);
    }
    if (WriteScratch(data, size))
    {
        KV_PolySurface surface;
        KV_SurfaceLoader loader(surface);
        loader.Load(ScratchPath().c_str());
        std::remove(ScratchPath().c_str());
    }
    return 0;
}
