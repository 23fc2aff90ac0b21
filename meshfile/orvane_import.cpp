// orvane-import: the import helper the viewer and osftool start for each file the model
// library reads; not meant to be run by hand.
#include "meshfile/KV_ImportSandbox.h"
#include "meshfile/KV_MeshImporter.h"

int main(int argc, char** argv)
{
    // Its rights are dropped before anything reads the file (argv[1]): a file that takes the
    // library over may then read only the model's folder and change nothing. A call with
    // other arguments is refused by RunHelper.
    if (argc == 5)
        KV_SayImportSandboxLacks(KV_EnterImportSandbox(argv[1]));
    KV_MeshImporter::RunHelper(argc, argv);
}
