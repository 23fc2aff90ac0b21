#include "render/KV_OGLObject.h"

#include "foundation/KV_Dump.h"

void KV_OGLColour::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_OGLColour");
    KV_DumpMember(os, "mrRed", mrRed);
    KV_DumpMember(os, "mrGreen", mrGreen);
    KV_DumpMember(os, "mrBlue", mrBlue);
    KV_DumpMember(os, "mrAlpha", mrAlpha);
}
