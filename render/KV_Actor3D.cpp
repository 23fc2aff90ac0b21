#include "render/KV_Actor3D.h"

#include "foundation/KV_Dump.h"
#include "render/KV_Geometry3D.h"

KV_Actor3D::KV_Actor3D(KV_Geometry3D* geometry) : mkGeometry(geometry) {}

KV_Actor3D::~KV_Actor3D()
{
    if (mkGeometry != nullptr)
        mkGeometry->Detach(this);
}

void KV_Actor3D::Update(KV_Subject*, int hintIndex, const KV_SubjectObserverObjectHint* hintObject)
{
    // Only the flags that exist can be set: an unknown index is not a place to write.
    if (hintIndex >= 0 && hintIndex < kPendingFlagCount)
        mbPendingUpdates[hintIndex] = true;
    if (hintObject != nullptr)
        mkPendingHints.emplace_back(hintObject->Clone());
}

void KV_Actor3D::SubjectDestroyed(KV_Subject* subject)
{
    if (subject == mkGeometry)
        mkGeometry = nullptr;
}

bool KV_Actor3D::IsUpdatePending(int hintIndex) const
{
    return hintIndex >= 0 && hintIndex < kPendingFlagCount && mbPendingUpdates[hintIndex];
}

unsigned int KV_Actor3D::DrawForColourPicking(unsigned int firstId)
{
    return firstId;
}

void KV_Actor3D::CreateGLResources() {}
void KV_Actor3D::ReleaseGLResources() {}
void KV_Actor3D::SaveTextureName() {}
void KV_Actor3D::RestoreTextureName() {}

unsigned int KV_Actor3D::GetTextureName() const
{
    return 0;
}

void KV_Actor3D::BeginRenderToMemory()
{
    mbRenderToMemory = true;
    SaveTextureName();
    CreateGLResources();
}

void KV_Actor3D::EndRenderToMemory()
{
    mbRenderToMemory = false;
    ReleaseGLResources();
    RestoreTextureName();
}

void KV_Actor3D::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_Actor3D");
    if (mkGeometry != nullptr)
    {
        KV_DumpMemberName(os, "mkGeometry");
        mkGeometry->Dump(os);
    }
    else
    {
        KV_DumpNull(os, "mkGeometry");
    }
    KV_DumpMember(os, "mbIsDisplayedWireframe", mbIsDisplayedWireframe ? 1 : 0);
    KV_DumpMember(os, "mbIsDisplayedSmooth", mbIsDisplayedSmooth ? 1 : 0);
    KV_DumpMember(os, "mbIsVisible", mbIsVisible ? 1 : 0);
    KV_DumpMember(os, "mbIsPickable", mbIsPickable ? 1 : 0);
    KV_DumpMember(os, "mbIsDisplayedTextured", mbIsDisplayedTextured ? 1 : 0);
    KV_DumpMember(os, "mbIsBoundingBoxDisplayed", mbIsBoundingBoxDisplayed ? 1 : 0);
    KV_DumpMember(os, "mbRenderToMemory", mbRenderToMemory ? 1 : 0);
}
