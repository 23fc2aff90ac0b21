#include "foundation/KV_HugePages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace
{
TEST(HugePages, TunablesAddTheSettingOnce)
{
    struct Case
    {
        const char* current;
        unsigned long size;
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, 64, "glibc.malloc.hugetlb=1"},
        {"", 64, "glibc.malloc.hugetlb=1"},
        {"glibc.malloc.arena_max=2", 64, "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"},
        {"glibc.malloc.hugetlb=0", 64, ""},  // the user's own choice stands
        {"glibc.malloc.hugetlb=1", 64, ""},  // the second start
        {"glibc.malloc.arena_max=2", 20, ""},  // no room: leave it
    };
    for (const Case& c : cases)
    {
        char buffer[64];
        EXPECT_STREQ(KV_HugePageTunables(c.current, buffer, c.size), c.expected)
            << (c.current ? c.current : "(none)");
    }
}

bool ExpectRestart()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#else
    std::ifstream file("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    std::getline(file, line);
    return line.find("[madvise]") != std::string::npos || line.find("[always]") != std::string::npos;
#endif
}

bool Pay()
{
    return true;
}
bool DoNotPay()
{
    return false;
}

TEST(HugePages, RestartCarriesTheSettingAndKeepsTheArgumentsWhereHugePagesPay)
{
    // The child starts a shell in its place, which writes what it was given; where no
    // restart is due the call returns and the child says so.
    for (bool (*pay)() : {Pay, DoNotPay})
    {
        const std::string out =
            testing::TempDir() + "huge_pages_restart_" + std::to_string(getpid()) + ".txt";
        std::remove(out.c_str());
        const std::string script = "printf '%s|%s' \"$GLIBC_TUNABLES\" \"$0\" > '" + out + "'";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            setenv("GLIBC_TUNABLES", "glibc.malloc.arena_max=4", 1);
            char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                            const_cast<char*>(script.c_str()), const_cast<char*>("given"), nullptr};
            KV_RestartWithHugePages(argv, "/bin/sh", pay);
            std::ofstream(out) << "returned|" << std::getenv("GLIBC_TUNABLES");
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        std::stringstream text;
        text << std::ifstream(out).rdbuf();
        // A C library older than the setting also returns; this one (Debian 12) knows it.
        EXPECT_EQ(text.str(), ExpectRestart() && pay()
                                  ? "glibc.malloc.arena_max=4:glibc.malloc.hugetlb=1|given"
                                  : "returned|glibc.malloc.arena_max=4")
            << (pay() ? "huge pages pay" : "huge pages do not pay");
        std::remove(out.c_str());
    }
}
}  // namespace
