#pragma once
// KV_MeshExporter: writes a textured surface in the formats other programs read:
//  - glTF 2.0 binary (.glb, texture embedded as PNG) and text (.gltf beside a .bin and a
//    .png), triangles (polygons split into fans);
//  - OBJ (.obj beside a .mtl and a .png), polygons and per-corner texture coordinates;
//  - binary little-endian PLY, polygons, texture coordinates per vertex (s, t), the texture
//    named in a "comment TextureFile" line and written beside it as PNG;
//  - binary STL, triangles, geometry only;
//  - .osf, raw version 3 with its integrity value.
// Textures are written as lossless PNG. Formats with one texture coordinate per vertex
// (glTF, PLY) repeat a vertex for each further coordinate it carries: the first copy of
// every vertex comes first, in vertex order, so that welding the positions again restores
// the vertex list. glTF's v runs down the picture: it is written as 1 - v.
//
// Write returns false, with the reason in error, when the format cannot hold the surface
// (.osf: a polygon of more than 16 vertices, or a vertex index over 65535 with fewer than
// 65536 polygons), or a file cannot be written; files already written for it are removed.

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
    // colours, normals), fitted to it.
    static bool Write(const KV_TexturedPolySurface& surface, const std::string& path,
                      KV_MeshFormat format, std::string& error,
                      const KV_SurfaceAppearance* appearance = nullptr);
};
