#include "surfacefile/KV_FileBytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>

namespace
{
struct FileCloser
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};

const std::size_t kMapAtLeast = 1u << 20;
// MADV_POPULATE_WRITE (Linux 5.14), named here for older headers; older kernels refuse it and
// the pages are then made present as the read reaches them.
#ifdef MADV_POPULATE_WRITE
const int kPopulateWrite = MADV_POPULATE_WRITE;
#else
const int kPopulateWrite = 23;
#endif
}  // namespace

KV_FileBytes::~KV_FileBytes() { Release(); }

void KV_FileBytes::Release()
{
    if (mbMapped)
        munmap(mpData, munCapacity);
    else
        delete[] mpData;
    mpData = nullptr;
    munSize = 0;
    munCapacity = 0;
    mbMapped = false;
}

bool KV_FileBytes::Allocate(std::size_t capacity)
{
    Release();
    if (capacity >= kMapAtLeast)
    {
        // Huge pages where the kernel gives them on request (one fault per 2 MB); else
        // every page made present at once, as a mapping made with MAP_POPULATE would be.
        void* p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
        if (p != MAP_FAILED)
        {
            if (madvise(p, capacity, MADV_HUGEPAGE) != 0)
                madvise(p, capacity, kPopulateWrite);
            mpData = static_cast<unsigned char*>(p);
            munCapacity = capacity;
            mbMapped = true;
            return true;
        }
    }
    mpData = new (std::nothrow) unsigned char[capacity];
    munCapacity = mpData ? capacity : 0;
    return mpData != nullptr;
}

bool KV_FileBytes::Load(const KV_String& path, const std::atomic<bool>* stop)
{
    Release();
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;

    // A regular file is read in one go at its stated size (one byte more, so that the read
    // itself sees the end); anything else, or a file that grew meanwhile, is read on into
    // buffers twice as large. Either way the bytes kept are exactly those read. The reads
    // are pieces of a few megabytes, so that a stop is seen soon even from a slow disk.
    struct stat info;
    std::size_t capacity = 1 << 16;
    if (fstat(fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        capacity = static_cast<std::size_t>(info.st_size) + 1;
    if (!Allocate(capacity))
        return false;

    const std::size_t kPiece = std::size_t(8) << 20;
    std::size_t size = 0;
    for (;;)
    {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
        {
            Release();
            return false;
        }
        const std::size_t wanted = std::min(kPiece, munCapacity - size);
        const std::size_t got = std::fread(mpData + size, 1, wanted, file.get());
        size += got;
        if (got < wanted || std::ferror(file.get()))
            break;
        if (size < munCapacity)
            continue;
        KV_FileBytes larger;
        if (!larger.Allocate(munCapacity * 2))
        {
            Release();
            return false;
        }
        std::memcpy(larger.mpData, mpData, size);
        std::swap(mpData, larger.mpData);
        std::swap(munCapacity, larger.munCapacity);
        std::swap(mbMapped, larger.mbMapped);
    }
    if (std::ferror(file.get()))
    {
        Release();
        return false;
    }
    munSize = size;
    return true;
}
