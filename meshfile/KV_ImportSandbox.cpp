#include "meshfile/KV_ImportSandbox.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char* const kImportSandboxSaidVariable = "ORVANE_IMPORT_SANDBOX_SAID";

namespace
{

// Landlock's interface is stable, but the system headers of older distributions know only its
// first rights (or nothing of it): the numbers are spelt out here, and the rights a kernel
// does not know are masked off by the ABI it reports.
#ifndef __NR_landlock_create_ruleset
#define __NR_landlock_create_ruleset 444
#endif
#ifndef __NR_landlock_add_rule
#define __NR_landlock_add_rule 445
#endif
#ifndef __NR_landlock_restrict_self
#define __NR_landlock_restrict_self 446
#endif

const std::uint32_t kLandlockVersionFlag = 1u << 0;
const int kLandlockRulePathBeneath = 1;

// Filesystem rights, by the ABI that brought them.
const std::uint64_t kFsReadFile = 1ull << 2;
const std::uint64_t kFsReadDir = 1ull << 3;
const std::uint64_t kFsRightsAbi1 = (1ull << 13) - 1;  // execute .. make symlink
const std::uint64_t kFsRefer = 1ull << 13;            // ABI 2
const std::uint64_t kFsTruncate = 1ull << 14;         // ABI 3
const std::uint64_t kFsIoctlDev = 1ull << 15;         // ABI 5
// Network rights (ABI 4): binding and connecting TCP ports.
const std::uint64_t kNetBindAndConnectTcp = (1ull << 0) | (1ull << 1);
// Scopes (ABI 6): abstract UNIX sockets and signals of processes outside the domain.
const std::uint64_t kScopeSocketsAndSignals = (1ull << 0) | (1ull << 1);

struct LandlockRulesetAttr
{
    std::uint64_t handledAccessFs = 0;
    std::uint64_t handledAccessNet = 0;
    std::uint64_t scoped = 0;
};

struct __attribute__((packed)) LandlockPathBeneathAttr
{
    std::uint64_t allowedAccess;
    std::int32_t parentFd;
};

std::uint64_t HandledFsRights(int abi)
{
    std::uint64_t rights = kFsRightsAbi1;
    if (abi >= 2)
        rights |= kFsRefer;
    if (abi >= 3)
        rights |= kFsTruncate;
    if (abi >= 5)
        rights |= kFsIoctlDev;
    return rights;
}

// The folders whose contents the import may read: the model's own, and the one of the file
// it leads to when the path is (or passes through) a link.
std::vector<fs::path> ReadableFolders(const std::string& modelPath)
{
    const fs::path model(modelPath);
    fs::path folder = model.parent_path();
    if (folder.empty())
        folder = ".";
    std::vector<fs::path> folders = {folder};
    std::error_code error;
    const fs::path real = fs::canonical(model, error);
    if (!error)
    {
        const fs::path realFolder = real.parent_path();
        std::error_code ignored;
        if (fs::canonical(folder, ignored) != realFolder)
            folders.push_back(realFolder);
    }
    return folders;
}

// Adds a rule that lets rights be used beneath path; false when the path cannot be opened
// (then nothing beneath it is readable, which a missing folder does not need).
bool AllowBeneath(int ruleset, const fs::path& path, std::uint64_t rights)
{
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return false;
    LandlockPathBeneathAttr rule = {rights, fd};
    const bool added = syscall(__NR_landlock_add_rule, ruleset, kLandlockRulePathBeneath, &rule, 0) == 0;
    close(fd);
    return added;
}

// Reading beneath the model's folders only; nothing written, made, removed or run anywhere.
// Empty when applied, else why not.
std::string ApplyLandlock(const std::string& modelPath, int& abi)
{
    abi = static_cast<int>(syscall(__NR_landlock_create_ruleset, nullptr, 0, kLandlockVersionFlag));
    if (abi < 0)
    {
        const int error = errno;
        abi = 0;
        return error == EOPNOTSUPP ? "Landlock is turned off in this kernel"
                                   : "this kernel has no Landlock";
    }
    LandlockRulesetAttr attr;
    attr.handledAccessFs = HandledFsRights(abi);
    std::size_t size = sizeof attr.handledAccessFs;
    if (abi >= 4)
    {
        attr.handledAccessNet = kNetBindAndConnectTcp;
        size += sizeof attr.handledAccessNet;
    }
    if (abi >= 6)
    {
        attr.scoped = kScopeSocketsAndSignals;
        size += sizeof attr.scoped;
    }
    const int ruleset =
        static_cast<int>(syscall(__NR_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0)
        return std::string("Landlock refused the rules (") + std::strerror(errno) + ")";
    const std::uint64_t read = (kFsReadFile | kFsReadDir) & attr.handledAccessFs;
    for (const fs::path& folder : ReadableFolders(modelPath))
        AllowBeneath(ruleset, folder, read);
    // This process's own entry: the C library (the main thread's stack bounds) and the
    // sanitizers' runtimes may read its maps after the set-up, and it tells nothing the
    // process does not already hold.
    // /proc/self resolves to this process's own folder, so a later child's is not included.
    AllowBeneath(ruleset, "/proc/self", read);
    const bool restricted = syscall(__NR_landlock_restrict_self, ruleset, 0) == 0;
    const int error = errno;
    close(ruleset);
    if (!restricted)
        return std::string("Landlock could not be applied (") + std::strerror(error) + ")";
    return std::string();
}

// The system calls refused outright, by name (those this architecture lacks are skipped).
const char* const kRefusedCalls[] = {
    // No network, no local sockets.
    "socket", "socketpair", "connect", "bind", "listen", "accept", "accept4",
    // No other program.
    "execve", "execveat",
    // No look into or control of other processes, no file descriptor taken from them.
    "ptrace", "process_vm_readv", "process_vm_writev", "process_madvise", "pidfd_getfd",
    "pidfd_send_signal", "kcmp",
    // No file made, renamed, removed, linked, truncated or changed in its attributes.
    "creat", "rename", "renameat", "renameat2", "unlink", "unlinkat", "rmdir", "mkdir",
    "mkdirat", "mknod", "mknodat", "link", "linkat", "symlink", "symlinkat", "truncate",
    "ftruncate", "fallocate", "chmod", "fchmod", "fchmodat", "chown", "fchown", "lchown",
    "fchownat", "utime", "utimes", "utimensat", "futimesat", "setxattr", "lsetxattr",
    "fsetxattr", "removexattr", "lremovexattr", "fremovexattr",
    // Ways around this filter: io_uring's requests are not seen by it, a handle opens a file
    // by number, and a mount or namespace changes what paths mean.
    "io_uring_setup", "io_uring_enter", "io_uring_register", "open_by_handle_at",
    "name_to_handle_at", "mount", "umount2", "pivot_root", "chroot", "unshare", "setns",
    "bpf", "perf_event_open", "userfaultfd", "keyctl", "add_key", "request_key",
};

// The flags that open a file for writing, or make or empty one.
const int kWritingOpenFlags[] = {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC};

// Adds a rule for the call of that name, with at most one comparison of its arguments;
// failure keeps the first rule that could not be added. A call this architecture lacks is
// skipped.
void AddRule(scmp_filter_ctx filter, std::uint32_t action, const char* name,
             const scmp_arg_cmp* compare, std::string& failure)
{
    const int number = seccomp_syscall_resolve_name(name);
    if (number < 0)
        return;
    const int added = compare == nullptr ? seccomp_rule_add(filter, action, number, 0)
                                         : seccomp_rule_add_array(filter, action, number, 1, compare);
    if (added != 0 && failure.empty())
        failure = std::string("the filter refused a rule for ") + name;
}

// The filter; empty when loaded, else why not.
std::string ApplySeccomp()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (filter == nullptr)
        return "the system-call filter could not be made";
    const std::uint32_t refuse = SCMP_ACT_ERRNO(EPERM);
    std::string failure;
    // On every thread, should a library have started one.
    seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1);
    for (const char* name : kRefusedCalls)
        AddRule(filter, refuse, name, nullptr, failure);
    // open and openat for writing: one rule per flag (any one of them refuses the call).
    for (const int flag : kWritingOpenFlags)
    {
        const scmp_datum_t bit = static_cast<scmp_datum_t>(flag);
        const scmp_arg_cmp openFlag = {1, SCMP_CMP_MASKED_EQ, bit, bit};
        const scmp_arg_cmp openatFlag = {2, SCMP_CMP_MASKED_EQ, bit, bit};
        AddRule(filter, refuse, "open", &openFlag, failure);
        AddRule(filter, refuse, "openat", &openatFlag, failure);
    }
    // Signals only to this process: kernels before Landlock's signal scope (ABI 6) would
    // let it stop or kill the program that started it, or any other of the user's.
    const scmp_arg_cmp notSelf = {0, SCMP_CMP_NE, static_cast<scmp_datum_t>(getpid()), 0};
    for (const char* name : {"kill", "tkill", "tgkill", "rt_sigqueueinfo", "rt_tgsigqueueinfo"})
        AddRule(filter, refuse, name, &notSelf, failure);
    // openat2 hands its flags in memory the filter cannot read: it is refused as unknown, so
    // that a caller falls back to openat, whose flags are seen.
    AddRule(filter, SCMP_ACT_ERRNO(ENOSYS), "openat2", nullptr, failure);
    if (failure.empty())
    {
        const int loaded = seccomp_load(filter);
        if (loaded != 0)
            failure = std::string("the system-call filter could not be loaded (") +
                      std::strerror(-loaded) + ")";
    }
    seccomp_release(filter);
    return failure;
}

}  // namespace

KV_ImportSandbox KV_EnterImportSandbox(const std::string& modelPath)
{
    KV_ImportSandbox applied;
    std::vector<std::string> lacking;
    applied.noNewPrivileges = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    if (!applied.noNewPrivileges)
        lacking.push_back(std::string("no-new-privileges could not be set (") +
                          std::strerror(errno) + ")");
    // Landlock needs no-new-privileges (or a right this process does not have).
    std::string landlock = applied.noNewPrivileges
                               ? ApplyLandlock(modelPath, applied.landlockAbi)
                               : std::string("Landlock needs no-new-privileges");
    applied.landlock = landlock.empty();
    if (!applied.landlock)
        lacking.push_back(landlock + ", so the import library may read any of the user's files");
    const std::string seccomp = ApplySeccomp();
    applied.seccomp = seccomp.empty();
    if (!applied.seccomp)
        lacking.push_back(seccomp +
                          ", so the import library may open connections, start programs and "
                          "change files");
    for (std::size_t i = 0; i < lacking.size(); ++i)
        applied.lacking += (i == 0 ? "" : "; ") + lacking[i];
    if (!applied.lacking.empty())
        applied.lacking = "import sandbox: " + applied.lacking;
    return applied;
}

void KV_SayImportSandboxLacks(const KV_ImportSandbox& applied)
{
    if (applied.lacking.empty() || std::getenv(kImportSandboxSaidVariable) != nullptr)
        return;
    std::fprintf(stderr, "%s\n", applied.lacking.c_str());
}
