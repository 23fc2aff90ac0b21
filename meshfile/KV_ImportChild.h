#pragma once
// KV_ImportChild: runs one import in a child process and waits for it, for KV_MeshImporter.
// The child is the import helper program (KV_ImportHelperProgram), started afresh, or, where
// there is none, a fork of this process. The waiting side holds it to a time limit, reads its
// hand-back from the pipe, kills it when it is late or the caller stops, reaps it, and says
// in words how it ended. The helper's side of the same exchange is here too. Either child
// gives up its rights before the library reads the file (KV_EnterImportSandbox): it may read
// only beneath the model's folder, write no file, start no program and open no socket.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What came back over the pipe: the block after its size, whole or not.
struct KV_ImportHandBack
{
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t expected = 0;  // the size the helper announced
    std::size_t got = 0;       // how much of it arrived
    bool Whole() const { return bytes != nullptr && got == expected; }
};

// Imports path in a child and waits for it. The helper is told whether the appearance table
// is wanted (table); a forked child runs forkedImport with the pipe's write end instead (it
// must not return; if it does, the child ends with status 1). The child gets timeLimit
// seconds, and as much again for every 4 MB of the file. With stop, the flag is looked at
// every 20 ms at most; once it is set the child is killed and reaped at once.
//
// Returns true when the child ended by itself with status 0; handBack then holds what it
// sent (which may still be short). Otherwise false with reason: the import could not start,
// it was late ("the import library did not finish within N s"), it ended by a signal or
// another status, what it announced cannot be held, or "stopped". No child is left behind
// either way.
bool KV_RunImportChild(const std::string& path, bool table, double timeLimit,
                       const std::function<void(int)>& forkedImport,
                       const std::atomic<bool>* stop, KV_ImportHandBack& handBack,
                       std::string& reason);

// The import helper program: ORVANE_IMPORT_HELPER when set (empty: none), else the one
// installed beside the program (../libexec/orvane-view/orvane-import), else the one of the
// build this was built in; empty when none of them is there.
std::string KV_ImportHelperProgram();

// The helper's side. Its arguments (file, descriptor, id of the process waiting, "table" or
// "surface") checked; the process ends (status 2) on any that does not fit, or when the
// program that started it is gone. Afterwards the helper also ends when that program does.
struct KV_ImportHelperCall
{
    std::string path;
    int fd = -1;
    bool table = false;
};
KV_ImportHelperCall KV_TakeImportHelperCall(int argc, char** argv);

// In the child, before the import: a crash ends it by its signal, which the waiting side
// reports; handlers the program installed for itself (a sanitizer's, a fuzzer's) do not run.
void KV_RestoreCrashSignals();

// Writes the hand-back to the pipe, closes it and ends the child (status 0 when all was
// written, 1 otherwise) without running exit handlers: a forked child must not run the
// program's own.
[[noreturn]] void KV_SendImportAndExit(int fd, const std::vector<unsigned char>& bytes);
