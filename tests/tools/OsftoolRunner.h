#pragma once
// Runs the built osftool (OSFTOOL_PATH) with a shell command line and collects its exit
// status, standard output and standard error.

#include "FixtureFiles.h"

#include <sys/wait.h>

#include <cstdlib>
#include <string>

struct ToolRun
{
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Quoted(const std::string& text)
{
    return "'" + text + "'";
}

// Runs osftool with the given (already quoted) arguments.
inline ToolRun Osftool(const std::string& args)
{
    const std::string out = ScratchPath("stdout.txt");
    const std::string err = ScratchPath("stderr.txt");
    const std::string command =
        Quoted(OSFTOOL_PATH) + " " + args + " >" + Quoted(out) + " 2>" + Quoted(err);
    const int raw = std::system(command.c_str());
    ToolRun run;
    if (raw != -1 && WIFEXITED(raw))
        run.status = WEXITSTATUS(raw);
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}
