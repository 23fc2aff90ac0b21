#pragma once
// What every model reader does alike to fill a KV_SurfaceAppearance, so that the import
// library's path and our own readers give the same table for the same file: the file's
// normals welded by value and numbered by first use in polygon order, one per vertex when
// every corner of a vertex takes the same one (else one per corner); a colour per vertex,
// the first one given winning; colour values as bytes; and the table's materials.

#include "meshfile/KV_BitWelder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class KV_SurfaceAppearance;
struct KV_MaterialTexture;
class KV_MultiImage;

// The file's normals as the corners of the surface's polygons take them. Weld each normal
// the file holds (in any order), then call Corner once per polygon corner in polygon order.
class KV_NormalCollector
{
public:
    // vertexCount: at least the surface's vertices (they may be counted only at the end).
    KV_NormalCollector(std::size_t vertexCount, std::size_t expectedNormals);

    // The normal's class: equal bit patterns share one.
    unsigned int Weld(const float* xyz) { return mkWelder.Index(xyz); }
    // The next polygon corner lies at surface vertex `vertex` (below the vertex count) and
    // takes the normal of class `normal` (a value Weld returned).
    void Corner(unsigned int vertex, unsigned int normal);
    // Moves the normals into appearance: one per vertex of the surface's vertexCount when no
    // vertex had two (a vertex no corner names gets 0, 0, 0), else the welded list with an
    // index per corner.
    void Finish(KV_SurfaceAppearance& appearance, std::size_t vertexCount);

private:
    static constexpr std::uint32_t kUnset = 0xffffffffu;
    KV_BitWelder<3> mkWelder;
    std::vector<std::uint32_t> mkNumber;   // class -> index in first-use order
    std::vector<std::uint32_t> mkClasses;  // first-use order -> class
    std::vector<std::uint32_t> mkCorners;  // per corner, in first-use numbering
    std::vector<std::uint32_t> mkVertex;   // per vertex: its corners' normal, or kUnset
    bool mbPerCorner = false;
};

// A colour per surface vertex: the first one given for a vertex wins; vertices given none
// are white.
class KV_ColourCollector
{
public:
    // vertexCount: at least the surface's vertices.
    explicit KV_ColourCollector(std::size_t vertexCount);
    void Set(unsigned int vertex, const std::uint8_t* rgba);
    // Moves the colours of the surface's vertexCount vertices into appearance.
    void Finish(KV_SurfaceAppearance& appearance, std::size_t vertexCount);

private:
    std::vector<std::uint8_t> mkColours;
    std::vector<bool> mkSet;
};

// A colour channel of 0 to 1 as a byte: clamped, rounded to nearest; not a number gives 0.
std::uint8_t KV_ColourByte(float value);

// With a table: every loaded texture keeps its own picture, none packed or left out. The one
// covering most polygons (the first of them on a tie) becomes the surface's map (its entry
// holds no image); the others' pictures move into their entries. Returns the table index of
// each of loaded, in order.
std::vector<std::uint32_t> KV_KeepEveryTexture(const std::vector<KV_MaterialTexture*>& loaded,
                                               KV_MultiImage*& map,
                                               KV_SurfaceAppearance& appearance);

// After polygonMaterials is filled: a model of one textured material that every polygon
// uses needs no table of materials, and one whose polygons use none has none.
void KV_FinishMaterials(KV_SurfaceAppearance& appearance);
