#include "surfacefile/KV_FileBytes.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace
{
struct FileCloser
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

bool KV_FileBytes::Load(const KV_String& path)
{
    mpData.reset();
    munSize = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;

    // Regular files are read in one go at their stated size; anything else (a pipe) grows
    // as it is read. Either way the bytes kept are exactly those read.
    struct stat info;
    std::size_t capacity = 1 << 16;
    if (fstat(fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        capacity = static_cast<std::size_t>(info.st_size) + 1;

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[capacity]);
    std::size_t size = 0;
    for (;;)
    {
        if (!buffer)
            return false;
        size += std::fread(buffer.get() + size, 1, capacity - size, file.get());
        if (size < capacity)
            break;
        std::unique_ptr<unsigned char[]> larger(new (std::nothrow) unsigned char[capacity * 2]);
        if (larger)
            std::memcpy(larger.get(), buffer.get(), size);
        buffer = std::move(larger);
        capacity *= 2;
    }
    if (std::ferror(file.get()))
        return false;
    mpData = std::move(buffer);
    munSize = size;
    return true;
}
