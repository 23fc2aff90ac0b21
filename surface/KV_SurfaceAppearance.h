#pragma once
// KV_SurfaceAppearance: what other programs' models carry beyond a textured surface, kept
// beside it rather than in it: each material's picture and the polygons that use it, a
// colour per vertex, and the file's own normals per polygon corner. Every part is optional:
// an empty list means the model did not have it, and a surface file never has any.
//
// The lists are tied to one surface by counts: polygonMaterials holds one entry per
// polygon, vertexColours one per vertex, cornerNormals one per polygon corner in polygon
// order. A table whose counts or indices do not fit its surface (Fit says which parts) must
// not be used for it; the parts that fit still may.
//
// Texture coordinates stay in the surface: each polygon's texture polygon indexes them in
// the space of its own material's picture.

#include "image/KV_MultiImage.h"
#include "math/KV_Vector3D.h"
#include "surface/KV_Polygon.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class KV_TexturedPolySurface;

struct KV_SurfaceMaterial
{
    std::string name;  // as the model names it (may be empty)
    // The picture; null for the material whose picture is the surface's own texture map
    // (held there, not twice) and for a material without one.
    std::shared_ptr<const KV_MultiImage> image;
    bool textured = false;  // has a picture (here or as the surface's texture map)
};

class KV_SurfaceAppearance
{
public:
    // A polygon whose material has no picture, or which names none.
    static constexpr std::uint32_t kNoMaterial = 0xffffffffu;

    std::vector<KV_SurfaceMaterial> materials;
    // One material index per polygon (kNoMaterial: none). Empty: every polygon uses the
    // surface's own texture map, as a surface file does.
    std::vector<std::uint32_t> polygonMaterials;
    // Red, green, blue, alpha bytes, one quadruple per vertex. Empty: no vertex colours.
    std::vector<std::uint8_t> vertexColours;
    // The file's normals. With cornerNormals, which of them each polygon corner takes (one
    // entry per corner, in polygon order: hard edges stay hard); without, one normal per
    // vertex. Empty: the surface's own (computed) normals are used.
    std::vector<KV_Vector3D> normals;
    std::vector<std::uint32_t> cornerNormals;

    bool IsEmpty() const
    {
        return materials.empty() && polygonMaterials.empty() && vertexColours.empty() &&
               normals.empty() && cornerNormals.empty();
    }
    void Clear() { *this = KV_SurfaceAppearance(); }

    // How many materials have a picture.
    std::size_t TextureCount() const;
    bool HasVertexColours() const { return !vertexColours.empty(); }
    bool HasCornerNormals() const { return !cornerNormals.empty(); }
    // The file's normals are one per vertex (after Fit: whenever normals are present without
    // corner indices).
    bool HasVertexNormals() const { return cornerNormals.empty() && !normals.empty(); }
    bool HasNormals() const { return !normals.empty(); }
    // The picture of material m: its own, or the surface's texture map; null when it has
    // none (or m is past the materials).
    const KV_MultiImage* MaterialImage(std::uint32_t m, const KV_TexturedPolySurface& surface) const;

    // Drops every part whose counts or indices do not fit surface (a material index past the
    // materials, a normal index past the normals, a count other than the surface's), so
    // that what is left can be used without further checks. Returns false when something
    // was dropped.
    bool Fit(const KV_TexturedPolySurface& surface);

    // Follows the fan triangulation of polygons (the surface's polygons before it is
    // triangulated): a polygon of n > 3 corners becomes the triangles (0, k-1, k), k = 2 ..
    // n-1, each taking its polygon's material and its corners' normals. Call it just before
    // the surface itself is triangulated; parts that do not fit polygons are dropped.
    void Triangulate(const KV_List<KV_Polygon>& polygons);

    // Keeps the entries of the polygons (and their corners) for which keep[p] is true, in
    // order; keep holds one flag per polygon of polygons (the polygons before the removal).
    void KeepPolygons(const KV_List<KV_Polygon>& polygons, const std::vector<bool>& keep);
};
