#include "surfacefile/KV_FileBytes.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
// Files from this size on are mapped rather than read.
const std::size_t kMapFileFrom = std::size_t(4) << 20;

// The mapped files' ranges, watched by a bus-error handler: a page of a mapping whose file
// has been cut below it faults with SIGBUS. The handler puts zero pages over the rest of that
// range, marks it changed and lets the read go on; a fault anywhere else goes to the handler
// there was before (by default the program ends, as it would have).
struct GuardedRange
{
    std::atomic<std::uintptr_t> first{0};
    std::atomic<std::uintptr_t> end{0};  // 0: slot free
    std::atomic<bool> changed{false};
};
const int kGuardSlots = 16;
GuardedRange gkGuarded[kGuardSlots];
struct sigaction gkPreviousBusAction;

void OnBusError(int signal, siginfo_t* info, void* context)
{
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (GuardedRange& range : gkGuarded)
    {
        const std::uintptr_t end = range.end.load();
        const std::uintptr_t first = range.first.load();
        if (end == 0 || at < first || at >= end)
            continue;
        const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        const std::uintptr_t from = at & ~(page - 1);
        if (mmap(reinterpret_cast<void*>(from), end - from, PROT_READ,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED)
        {
            range.changed.store(true);
            return;
        }
        break;
    }
    if (gkPreviousBusAction.sa_flags & SA_SIGINFO)
    {
        if (gkPreviousBusAction.sa_sigaction != nullptr)
            gkPreviousBusAction.sa_sigaction(signal, info, context);
        return;
    }
    if (gkPreviousBusAction.sa_handler == SIG_IGN)
        return;
    if (gkPreviousBusAction.sa_handler != SIG_DFL && gkPreviousBusAction.sa_handler != nullptr)
    {
        gkPreviousBusAction.sa_handler(signal);
        return;
    }
    // The default action: the fault comes again on return and ends the program.
    std::signal(SIGBUS, SIG_DFL);
}

bool InstallGuard()
{
    static const bool installed = []
    {
        struct sigaction action = {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGBUS, &action, &gkPreviousBusAction) == 0;
    }();
    return installed;
}

int Guard(const unsigned char* data, std::size_t size)
{
    if (!InstallGuard())
        return -1;
    for (int slot = 0; slot < kGuardSlots; ++slot)
    {
        // Claimed with an end of 1, which every address is past, so that the handler skips the
        // slot until its start and its real end are both written.
        std::uintptr_t free = 0;
        GuardedRange& range = gkGuarded[slot];
        if (!range.end.compare_exchange_strong(free, 1))
            continue;
        range.first.store(reinterpret_cast<std::uintptr_t>(data));
        range.changed.store(false);
        range.end.store(reinterpret_cast<std::uintptr_t>(data) + size);
        return slot;
    }
    return -1;
}
}  // namespace

KV_FileBytes::~KV_FileBytes() { Release(); }

bool KV_FileBytes::Changed() const
{
    return mnGuardSlot >= 0 && gkGuarded[mnGuardSlot].changed.load();
}

bool KV_FileBytes::MapFile(int fd, std::size_t size)
{
    Release();
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (p == MAP_FAILED)
        return false;
    mpData = static_cast<unsigned char*>(p);
    // Without a place among the guarded ranges the file is read as before.
    mnGuardSlot = Guard(mpData, size);
    if (mnGuardSlot < 0)
    {
        munmap(p, size);
        mpData = nullptr;
        return false;
    }
    munSize = size;
    munCapacity = size;
    mbMapped = true;
    return true;
}

void KV_FileBytes::Release()
{
    if (mnGuardSlot >= 0)
        gkGuarded[mnGuardSlot].end.store(0);
    mnGuardSlot = -1;
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
    {
        const std::size_t size = static_cast<std::size_t>(info.st_size);
        if (size >= kMapFileFrom && MapFile(fileno(file.get()), size))
        {
            if (stop == nullptr || !stop->load(std::memory_order_relaxed))
                return true;
            Release();
            return false;
        }
        capacity = size + 1;
    }
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
