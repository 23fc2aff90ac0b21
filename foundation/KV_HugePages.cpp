#include "foundation/KV_HugePages.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/mman.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#include <malloc.h>
#endif

namespace
{
const char kSetting[] = "glibc.malloc.hugetlb=1";
const std::size_t kSmallPage = 4096;

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// "madvise" or "always" selected in the kernel's setting: huge pages on request.
bool KernelGivesHugePages()
{
    std::FILE* file = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
    if (file == nullptr)
        return false;
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    return read && (std::strstr(line, "[madvise]") != nullptr || std::strstr(line, "[always]") != nullptr);
}

// The setting came with the C library's 2.35.
bool LibraryKnowsSetting()
{
#if defined(__GLIBC__)
    int major = 0, minor = 0;
    return std::sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) == 2 &&
           (major > 2 || (major == 2 && minor >= 35));
#else
    return false;
#endif
}
#endif
}  // namespace

namespace
{
// Seconds to make size fresh bytes present in small pages; -1 when no memory could be had.
double SecondsToTouchSmallPages(std::size_t size)
{
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return -1;
    madvise(map, size, MADV_NOHUGEPAGE);
    volatile char* bytes = static_cast<volatile char*>(map);
    const auto begin = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < size; k += kSmallPage) bytes[k] = 1;
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - begin;
    munmap(map, size);
    return spent.count();
}
}  // namespace

bool KV_HugePagesPay()
{
    const std::size_t size = std::size_t(4) << 20;
    // The second try gets the pages the first one freed, which the host still holds.
    const double first = SecondsToTouchSmallPages(size);
    const double second = SecondsToTouchSmallPages(size);
    if (first < 0 || second < 0)
        return false;
    const double kDearFault = 4e-6;
    return std::min(first, second) > kDearFault * static_cast<double>(size / kSmallPage);
}

const char* KV_HugePageTunables(const char* current, char* buffer, unsigned long size)
{
    if (current != nullptr && std::strstr(current, "glibc.malloc.hugetlb") != nullptr)
        return "";
    const std::string value =
        current != nullptr && *current != '\0' ? std::string(current) + ":" + kSetting : kSetting;
    if (value.size() + 1 > size)
        return "";
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return buffer;
}

void KV_RestartWithHugePages(char** argv, const char* executable, bool (*hugePagesPay)())
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    (void)argv;
    (void)executable;
    (void)hugePagesPay;
#else
    const char* current = std::getenv("GLIBC_TUNABLES");
    const std::string before = current != nullptr ? current : "";
    char buffer[1024];
    const char* value = KV_HugePageTunables(current, buffer, sizeof buffer);
    if (*value == '\0' || !LibraryKnowsSetting() || !KernelGivesHugePages() || !hugePagesPay())
        return;
    if (setenv("GLIBC_TUNABLES", value, 1) != 0)
        return;
    execv(executable, argv);
    // Not started again: go on as we are, with the environment as it was (the programs it
    // starts inherit it).
    if (current != nullptr)
        setenv("GLIBC_TUNABLES", before.c_str(), 1);
    else
        unsetenv("GLIBC_TUNABLES");
#endif
}

void KV_UseOneAllocatorArena()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
#endif
}

void KV_ReturnFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
