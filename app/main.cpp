// orvane-view: the Orvane Image View program.
#include "app/KV_VerovuriRezaroApp.h"
#include "foundation/KV_HugePages.h"

#include <cstdio>
#include <cstring>

namespace
{
// --help and --version are answered before the toolkit starts, so that they work without
// a display (package checks and manual-page tests run them that way).
bool AnswerInformationOption(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
        {
            std::printf(
                "usage: orvane-view [OPTION] [FILE]\n\n"
                "Shows the Orvane surface file FILE (.osf) in a 3D view, or starts with an\n"
                "empty document when no FILE is given.\n\n"
                "  -h, --help               show this help and exit\n"
                "  --version                print the version and exit\n"
                "  --benchmark-first-frame  print the time of the first frame showing FILE on\n"
                "                           standard output, then quit (start-up timing)\n"
                "  --benchmark-idle         print the time when FILE is shown and no work on it\n"
                "                           is left in the background, then quit\n");
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0)
        {
            std::printf("orvane-view (Orvane Image View) %s\n", ORVANE_VERSION);
            return true;
        }
    }
    return false;
}
}  // namespace

int main(int argc, char** argv)
{
    if (AnswerInformationOption(argc, argv))
        return 0;
    KV_RestartWithHugePages(argv);
    KV_UseOneAllocatorArena();
    return KV_RunApplication(argc, argv);
}
