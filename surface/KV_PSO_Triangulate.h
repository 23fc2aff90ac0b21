#pragma once
// KV_PSO_Triangulate: splits every polygon of four or more vertices of one surface (bound at
// construction, not owned) into a fan of triangles (0, k-1, k), and the texture polygons
// with them. Afterwards the replacement map tells, for each polygon of the input, the
// indices of the polygons that replace it.
//
// The texture follows only when a texture map is present and every polygon has a texture
// polygon of the same size; otherwise the texture polygons are left as they are. Derived
// lists that were non-empty are recomputed: vertex polygons, polygon normals (and averaged
// vertex normals), edges, polygon edges and polygon polygons. Nothing is reported.
//
// With a stop flag set (SetStopFlag), Triangulate may return early, leaving the surface as
// it was and the replacement map unfinished.

#include "foundation/KV_Array.h"
#include "foundation/KV_List.h"

#include <atomic>

class KV_PolySurface;

class KV_PSO_Triangulate
{
public:
    explicit KV_PSO_Triangulate(KV_PolySurface* surface) : mpSurface(surface) {}

    void Triangulate();
    // A flag Triangulate looks at every few thousand polygons (not owned; null: never stops).
    void SetStopFlag(const std::atomic<bool>* stop) { mpStop = stop; }

    // Entry j: the new polygons made from input polygon j (indices 0 .. count-1).
    const KV_Array<KV_List<unsigned int>>& ReplacementMap() const { return mkReplacements; }

private:
    KV_PolySurface* mpSurface;
    const std::atomic<bool>* mpStop = nullptr;
    KV_Array<KV_List<unsigned int>> mkReplacements;
};
