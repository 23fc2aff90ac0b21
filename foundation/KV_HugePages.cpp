#include "foundation/KV_HugePages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>
#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#include <malloc.h>
#endif

namespace
{
const char kSetting[] = "glibc.malloc.hugetlb=1";

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

void KV_RestartWithHugePages(char** argv, const char* executable)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    (void)argv;
    (void)executable;
#else
    const char* current = std::getenv("GLIBC_TUNABLES");
    const std::string before = current != nullptr ? current : "";
    char buffer[1024];
    const char* value = KV_HugePageTunables(current, buffer, sizeof buffer);
    if (*value == '\0' || !LibraryKnowsSetting() || !KernelGivesHugePages())
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
