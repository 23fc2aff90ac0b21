// orvane-import: the import helper the viewer and osftool start for each file the model
// library reads; not meant to be run by hand.
#include "meshfile/KV_MeshImporter.h"

int main(int argc, char** argv)
{
    KV_MeshImporter::RunHelper(argc, argv);
}
