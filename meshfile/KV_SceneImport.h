#pragma once
// KV_ImportScene: the import library's side of KV_MeshImporter, run in the import helper (or
// its forked child): reads one file through the library, in this process, and turns the
// scene into the surface and, when one is given, the appearance table (see KV_MeshImporter
// for what the surface is made of). No type of the library appears here.
//
// format is the file's lower-case extension ("gltf", "obj"). Returns false, with reason in a
// line, when the library cannot read the file or stops on it, the scene holds no polygon, a
// face names a vertex its mesh lacks, or the instances exceed KV_MeshImporter::kMaxCorners.
// The surface (and the table) is emptied first and after a failure holds nothing. Texture
// messages are reported (ReportMessage) as they arise.

#include <string>

class KV_TexturedPolySurface;
class KV_SurfaceAppearance;

bool KV_ImportScene(const std::string& path, const std::string& format,
                    KV_TexturedPolySurface& surface, KV_SurfaceAppearance* appearance,
                    std::string& reason);
