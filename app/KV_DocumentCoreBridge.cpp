#include "app/KV_DocumentCoreBridge.h"

// Until the document core is part of the build, no file loads and nothing is exported.
KV_PolySurfaceGeometry3D* KV_LoadSurfaceGeometry(const wxString&)
{
    return nullptr;
}

void KV_DeleteGeometry(KV_PolySurfaceGeometry3D* geometry)
{
    (void)geometry;
}

bool KV_ExportGeometryVRML(const KV_PolySurfaceGeometry3D&, const wxString&)
{
    return false;
}
