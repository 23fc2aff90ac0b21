#pragma once
// KV_SurfacePicker: finds the polygon of a surface that a ray meets first, through a
// bounding-volume hierarchy over the surface's triangles made once (n log n time, about 45
// bytes a triangle while it is made and 25 after). A polygon of more than three corners
// is split for the test into the fan (0, k-1, k) that drawing uses, and reported by its own
// index in the surface's polygon list.
//
// Bad data is tolerated: polygons of fewer than three corners, corners naming a vertex past
// the vertex list and triangles with a coordinate that is not finite are left out of the
// hierarchy (nothing there can be drawn either); a triangle without area is never met.

#include "image/KV_RGB8.h"
#include "measure/KV_PickCamera.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

class KV_Executor;
class KV_TexturedPolySurface;

// What a ray met.
struct KV_PickHit
{
    // The point met, in the surface's own coordinates (the file's units).
    std::array<double, 3> mkPoint{};
    // Its polygon, in the surface's polygon order.
    unsigned int munPolygon = 0;
    // The polygon's own unit normal from its corner order (counter-clockwise seen from the
    // side it points to), whichever side the ray came from; (0, 0, 0) for a polygon whose
    // corners give no direction.
    std::array<double, 3> mkNormal{};
    // The ray parameter of the point.
    double mrT = 0.0;
    // The texture coordinate at the point, interpolated over the polygon's texture polygon,
    // when the surface has texture polygons that fit its polygons.
    bool mbHasTextureCoordinate = false;
    std::array<double, 2> mkTextureCoordinate{};
    // The colour of the texel under that coordinate (nearest texel, coordinates clamped to
    // the picture as drawing clamps them) when the surface has a texture picture.
    bool mbHasColour = false;
    KV_RGB8 mkColour{};
};

class KV_SurfacePicker
{
public:
    KV_SurfacePicker() = default;
    KV_SurfacePicker(const KV_SurfacePicker&) = delete;
    KV_SurfacePicker& operator=(const KV_SurfacePicker&) = delete;

    // Makes the hierarchy over surface, which the picker reads from then on: it must outlive
    // the picker and keep its vertices, polygons and texture unchanged (build again after an
    // edit). With an executor the first splits are made side by side, with the same
    // hierarchy as without. False, the picker empty, when stop was set before the end, when
    // memory ran out, or for a surface of 2^31 triangles or more.
    bool Build(const KV_TexturedPolySurface& surface, KV_Executor* executor = nullptr,
               const std::atomic<bool>* stop = nullptr);
    // Forgets the surface and the hierarchy.
    void Clear();

    // The nearest point of the surface on the ray within [tMin, tMax]; of points at the same
    // parameter, the one of the lowest polygon (then of its lowest fan triangle). False,
    // hit untouched, when the ray meets nothing or nothing is built.
    bool Pick(const KV_Ray& ray, KV_PickHit& hit) const;
    // The same answer by testing every triangle (slow; it is how the hierarchy is checked).
    bool PickEveryTriangle(const KV_Ray& ray, KV_PickHit& hit) const;

    std::size_t TriangleCount() const { return mkTriangles.size(); }
    std::size_t NodeCount() const { return mkNodes.size(); }

private:
    // Fan triangle (0, corner-1, corner) of polygon.
    struct Triangle
    {
        std::uint32_t polygon;
        std::uint32_t corner;
    };
    // Leaf when count > 0 (triangles [first, first + count) of mkTriangles), else inner with
    // its left child next to it and its right child at index first.
    struct Node
    {
        float lo[3];
        float hi[3];
        std::uint32_t first;
        std::uint32_t count;
    };
    struct Candidate
    {
        double t;
        double u;
        double v;
        std::uint32_t triangle;  // index into mkTriangles
    };
    class Builder;

    // Build without its catch of a failed allocation.
    bool BuildHierarchy(const KV_TexturedPolySurface& surface, KV_Executor* executor,
                        const std::atomic<bool>* stop);
    bool Corners(const Triangle& triangle, std::array<double, 3> corners[3]) const;
    bool Test(const KV_Ray& ray, std::uint32_t index, Candidate& best, bool found) const;
    void Fill(const KV_Ray& ray, const Candidate& best, KV_PickHit& hit) const;

    const KV_TexturedPolySurface* mpSurface = nullptr;
    std::vector<Triangle> mkTriangles;
    std::vector<Node> mkNodes;
};
