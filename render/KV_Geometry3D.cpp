#include "render/KV_Geometry3D.h"

#include "foundation/KV_Dump.h"

std::atomic<unsigned int> KV_Geometry3D::munIDCounter{0};

KV_Material KV_Geometry3D::mkSelectedMaterial(KV_Material::FRONT_AND_DIMMED_BACK,
                                              KV_OGLColour(0.55f, 0.0f, 0.0f, 1.0f),
                                              KV_OGLColour(1.0f, 0.0f, 0.0f, 1.0f),
                                              KV_OGLColour(1.0f, 0.0f, 0.0f, 1.0f), 25.0f);

KV_Geometry3D::KV_Geometry3D() : mbIsSelected(false), munID(munIDCounter++) {}

void KV_Geometry3D::SetTransform(const KV_OGLTransform& transform)
{
    mkTransform.mkTransform = transform.mkTransform;
}

void KV_Geometry3D::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_Geometry3D");
    KV_DumpMember(os, "mbIsSelected", mbIsSelected ? 1 : 0);
    KV_DumpMember(os, "munID", munID);
    KV_DumpMember(os, "munIDCounter", munIDCounter.load());
    KV_DumpMemberName(os, "mkTransform");
    mkTransform.Dump(os);
    os << " mkMaterial:";
    mkMaterial.Dump(os);
    os << " mkSelectedMaterial:";
    mkSelectedMaterial.Dump(os);
}
