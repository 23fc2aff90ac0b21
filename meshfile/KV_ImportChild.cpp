#include "meshfile/KV_ImportChild.h"

#include "meshfile/KV_ImportSandbox.h"
#include "meshfile/KV_ImportWire.h"
#include "meshfile/KV_ReadStop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{

// The longest the wait goes without looking at the stop flag.
const int kStopLookMilliseconds = 20;

// Whether a child has been started before: each child drops its rights before the library
// reads the file (KV_EnterImportSandbox), and what this kernel lacks for it is the same for
// all of them, so only the first says so.
std::atomic<bool> gbChildStarted(false);

bool WriteAll(int fd, const std::vector<unsigned char>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Starts the child with the pipe's write end: the helper program where there is one, else a
// fork running forkedImport. -1 when no process could be made.
pid_t StartChild(const std::string& path, bool table,
                 const std::function<void(int)>& forkedImport, const int channel[2])
{
    const std::string helper = KV_ImportHelperProgram();
    const bool sandboxSaid = gbChildStarted.exchange(true);
    pid_t child = -1;
    if (!helper.empty())
    {
        // The write end becomes the helper's descriptor 3; every other descriptor of ours
        // closes on exec.
        const std::string parent = std::to_string(getpid());
        const char* arguments[] = {helper.c_str(),
                                   path.c_str(),
                                   "3",
                                   parent.c_str(),
                                   table ? "table" : "surface",
                                   nullptr};
        // Our environment, and after the first child the word that what the sandbox lacks
        // has been said.
        const std::string said = std::string(kImportSandboxSaidVariable) + "=1";
        std::vector<char*> environment;
        for (char** variable = environ; *variable != nullptr; ++variable)
            environment.push_back(*variable);
        if (sandboxSaid)
            environment.push_back(const_cast<char*>(said.c_str()));
        environment.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, channel[1], 3);
        if (posix_spawn(&child, helper.c_str(), &actions, nullptr,
                        const_cast<char* const*>(arguments), environment.data()) != 0)
            child = -1;
        posix_spawn_file_actions_destroy(&actions);
        return child;
    }
    child = fork();
    if (child == 0)
    {
        close(channel[0]);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The fork reads the same untrusted file as the helper would: the same rights go.
        if (sandboxSaid)
            setenv(kImportSandboxSaidVariable, "1", 1);
        KV_SayImportSandboxLacks(KV_EnterImportSandbox(path));
        forkedImport(channel[1]);
        _exit(1);
    }
    return child;
}

}  // namespace

std::string KV_ImportHelperProgram()
{
    if (const char* chosen = std::getenv("ORVANE_IMPORT_HELPER"))
        return chosen;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error)
    {
        const fs::path installed =
            self.parent_path().parent_path() / "libexec" / "orvane-view" / "orvane-import";
        if (access(installed.c_str(), X_OK) == 0)
            return installed.string();
    }
#ifdef ORVANE_IMPORT_HELPER_BUILT
    if (access(ORVANE_IMPORT_HELPER_BUILT, X_OK) == 0)
        return ORVANE_IMPORT_HELPER_BUILT;
#endif
    return std::string();
}

bool KV_RunImportChild(const std::string& path, bool table, double timeLimit,
                       const std::function<void(int)>& forkedImport,
                       const std::atomic<bool>* stop, KV_ImportHandBack& handBack,
                       std::string& reason)
{
    handBack = KV_ImportHandBack();
    if (KV_IsStopped(stop))
    {
        reason = "stopped";
        return false;
    }
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
    {
        reason = "cannot start the import (no pipe)";
        return false;
    }
    const pid_t child = StartChild(path, table, forkedImport, channel);
    if (child < 0)
    {
        close(channel[0]);
        close(channel[1]);
        reason = "cannot start the import (no process)";
        return false;
    }

    close(channel[1]);
    // The library's readers are not all safe from endless loops: the child gets a time
    // that grows with the file, far more than any well-formed file needs.
    struct stat file;
    const double megabytes = stat(path.c_str(), &file) == 0 ? file.st_size / 1048576.0 : 0.0;
    const double limit = timeLimit * (1.0 + megabytes / 4.0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    // The size first, then the block, read straight into place.
    unsigned char head[kImportSizeBytes];
    std::size_t got = 0;
    bool late = false, stopped = false, noRoom = false;
    for (;;)
    {
        if (KV_IsStopped(stop))
        {
            stopped = true;
            kill(child, SIGKILL);
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        long long wait = std::max<long long>(left.count(), 0);
        if (stop != nullptr)
            wait = std::min<long long>(wait, kStopLookMilliseconds);
        pollfd ready = {channel[0], POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(wait));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0)
        {
            if (std::chrono::steady_clock::now() < deadline)
                continue;  // only time to look at the stop flag
            late = true;
            kill(child, SIGKILL);
            break;
        }
        unsigned char* into = handBack.bytes ? handBack.bytes.get() + got : head + got;
        const std::size_t room = handBack.bytes ? handBack.expected - got : sizeof head - got;
        if (room == 0)
            break;
        const ssize_t n = read(channel[0], into, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
        if (!handBack.bytes && got == sizeof head)
        {
            const std::uint64_t size = KV_ImportBlockSize(head);
            if (size > kImportMaxBlock)
                break;
            handBack.expected = static_cast<std::size_t>(size);
            handBack.bytes.reset(new (std::nothrow)
                                     unsigned char[handBack.expected > 0 ? handBack.expected : 1]);
            if (!handBack.bytes)
            {
                noRoom = true;
                kill(child, SIGKILL);
                break;
            }
            got = 0;
        }
    }
    if (handBack.bytes)
        handBack.got = got;
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    if (stopped)
    {
        handBack = KV_ImportHandBack();
        reason = "stopped";
        return false;
    }
    if (noRoom)
    {
        reason = "not enough memory for the surface the import handed back";
        return false;
    }
    if (late)
    {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.0f", limit);
        reason = std::string("the import library did not finish within ") + seconds + " s";
        return false;
    }
    if (WIFSIGNALED(status))
    {
        const int signal = WTERMSIG(status);
        reason = "the import library stopped on this file (signal " + std::to_string(signal) +
                 ", " + strsignal(signal) + ")";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    {
        reason = "the import library stopped on this file (exit status " +
                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
        return false;
    }
    return true;
}

KV_ImportHelperCall KV_TakeImportHelperCall(int argc, char** argv)
{
    // A child whose program has gone (killed while waiting for it) goes too; one that went
    // before this line was reached is seen by the parent's id.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 5 || std::to_string(getppid()) != argv[3])
        _exit(2);
    char* end = nullptr;
    const long fd = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || fd < 3)
        _exit(2);
    KV_ImportHelperCall call;
    call.path = argv[1];
    call.fd = static_cast<int>(fd);
    call.table = std::strcmp(argv[4], "table") == 0;
    return call;
}

void KV_RestoreCrashSignals()
{
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, SIG_DFL);
}

void KV_SendImportAndExit(int fd, const std::vector<unsigned char>& bytes)
{
    const bool sent = WriteAll(fd, bytes);
    close(fd);
    _exit(sent ? 0 : 1);
}
