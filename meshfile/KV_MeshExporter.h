#pragma once
// KV_MeshExporter: writes a textured surface, with the model's table beside it (materials,
// vertex colours, normals), in the formats other programs read:
//  - glTF 2.0 binary (.glb, pictures embedded as PNG) and text (.gltf beside a .bin and its
//    pictures), triangles (polygons split into fans), one primitive per material, vertex
//    colours as COLOR_0 (normalized bytes), the file's normals as NORMAL;
//  - OBJ (.obj beside a .mtl and its pictures), polygons, per-corner texture coordinates and
//    normals (vn), one usemtl run per material, vertex colours as "v x y z r g b";
//  - binary little-endian PLY, polygons, texture coordinates per vertex (s, t), normals (nx,
//    ny, nz), colours (red, green, blue, alpha bytes); the surface's own picture only, named
//    in a "comment TextureFile" line and written beside it as PNG;
//  - binary STL, triangles, geometry only;
//  - .osf, raw version 3 with its integrity value; the surface's own picture only.
// Pictures are written as lossless PNG, named after the output and its format (NAME.obj:
// NAME_obj.png, NAME_obj_1.png, ...), so that one model written in several formats into one
// folder keeps every output's pictures. Formats with one value of each kind per vertex (glTF,
// PLY) repeat a vertex for each further texture coordinate or corner normal it carries: the
// first copy of every vertex comes first, in vertex order, so that welding the positions
// again restores the vertex list. glTF's v runs down the picture: its pictures are stored
// upside down and the coordinates written as they are.
//
// Whatever of the surface and its table a format cannot hold (PLY and .osf: the other
// materials' pictures; STL: every picture; .osf and STL: colours and normals; OBJ: the
// colours' opacity) is named in a (non-fatal) message once the file is written.
//
// Write returns false, with the reason in error, when the format cannot hold the surface
// (.osf: a polygon of more than 16 vertices, or a vertex index over 65535 with fewer than
// 65536 polygons; glTF: no polygon of three corners), or a file cannot be written; files
// already written for it are removed.

#include <string>

class KV_TexturedPolySurface;
class KV_SurfaceAppearance;

enum class KV_MeshFormat
{
    None,
    Glb,
    Gltf,
    Obj,
    Ply,
    Stl,
    Osf
};

class KV_MeshExporter
{
public:
    // "glb", "gltf", "obj", "ply", "stl" or "osf" in any letter case; None for anything else.
    static KV_MeshFormat FormatFromName(const std::string& name);
    // The format named by the path's extension.
    static KV_MeshFormat FormatOfPath(const std::string& path);
    // The lower-case name of a format (its usual extension); "" for None.
    static const char* FormatName(KV_MeshFormat format);

    // appearance, when given, is the model's table beside the surface (materials, vertex
    // colours, normals); the parts that do not fit the surface are not written. Without it
    // the surface is written alone and nothing is reported as left out.
    static bool Write(const KV_TexturedPolySurface& surface, const std::string& path,
                      KV_MeshFormat format, std::string& error,
                      const KV_SurfaceAppearance* appearance = nullptr);
};
