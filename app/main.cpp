// orvane-view: the Orvane Image View program.
#include "app/KV_VerovuriRezaroApp.h"

int main(int argc, char** argv)
{
    return KV_RunApplication(argc, argv);
}
