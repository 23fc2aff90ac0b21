#pragma once
// KV_ImportSandbox: what the process that runs the import library gives up before the
// library reads a file, so that a crafted file which takes the library over gets little:
// no new privileges, reading only beneath the model's folder (Landlock), and no network,
// program start, debugging of other processes or change to any file (a system-call filter).
// Linux only; no toolkit.

#include <string>

// What KV_EnterImportSandbox applied.
struct KV_ImportSandbox
{
    // PR_SET_NO_NEW_PRIVS is set: nothing started from here gains rights.
    bool noNewPrivileges = false;
    // The Landlock ABI the kernel reports (0: none, or turned off at boot).
    int landlockAbi = 0;
    // Files and folders may only be read, and only beneath the model's folder (and this
    // process's own /proc entry); nothing may be written, made, removed or run.
    bool landlock = false;
    // The system-call filter is loaded: sockets, starting programs, tracing and reading
    // other processes, opening a file for writing, making, renaming, removing or truncating
    // files, and signals to any other process fail with EPERM.
    bool seccomp = false;
    // One line that says what could not be applied, and why; empty when all of it was.
    std::string lacking;
};

// Drops the rights of this process (and of every process it starts) for reading the model at
// modelPath: the folder it names, and the folder of the file it leads to when that is a link,
// stay readable with everything beneath them (textures and other parts of the model). Once
// called, it cannot be undone. Call it with one thread running (the filter is put on every
// thread, Landlock only on the caller). Does not fail: what the kernel lacks is left out and
// said in lacking; everything else is still applied.
KV_ImportSandbox KV_EnterImportSandbox(const std::string& modelPath);

// Writes applied.lacking to stderr as one line, unless it is empty or already said: the import
// children of one program say it once, the environment variable below telling the later ones
// (the program sets it in the helper's environment).
void KV_SayImportSandboxLacks(const KV_ImportSandbox& applied);
extern const char* const kImportSandboxSaidVariable;
