#pragma once
// KV_VRMLWriter: writes one surface of a list as a VRML 2.0 world: a textured indexed face
// set inside a named transform, then six named viewpoints looking at the surface's box from
// the front, back, left, right, top and bottom. A surface with a texture image gets that
// image saved beside the world as a GIF (as a BMP when the GIF cannot be written); the face
// set names the .gif in either case.
//
// A writer is made for one export: it keeps a working copy of the surface it writes.

#include "foundation/KV_List.h"
#include "foundation/KV_String.h"
#include "surface/KV_ManifoldPolySurface.h"

class KV_VRMLWriter
{
public:
    // Remembers the list (not owned; it must outlive the writer). The working surface starts
    // empty.
    explicit KV_VRMLWriter(KV_List<KV_ManifoldPolySurface>* surfaces);

    // Writes surface `index` of the list to fileName, replacing any existing file. Returns
    // false, writing nothing, when the index is not in the list or the file cannot be
    // opened; false also when the file could not be written completely (a full disk), so
    // that a truncated world is never taken for a written one. A texture image that cannot
    // be saved is shown as a message and does not change the result.
    bool Export(const KV_String& fileName, int index);
    // Writes surface to fileName as Export does, straight from the surface (nothing is
    // copied; absent lists are written as empty ones).
    static bool ExportSurface(const KV_String& fileName, const KV_PolySurface& surface);

private:
    KV_List<KV_ManifoldPolySurface>* mpkSurfaces;
    KV_ManifoldPolySurface mkSurface;
};
