#pragma once
// KV_SurfaceExtents: bounding data of a surface (centroid, per-axis bounds of all vertices
// and of the vertices polygons use, radii about the centroid, polygon sizes). A new record
// holds the empty bounds: minima at the largest float, maxima at its negative, sizes 0.

#include "math/KV_Vector3D.h"
#include "foundation/KV_List.h"

#include "surface/KV_Polygon.h"

class KV_SurfaceExtents
{
public:
    KV_SurfaceExtents();

    // Recomputes every field from the given lists (either may be null, meaning empty).
    // Vertex indices of polygons beyond the vertex list are skipped. Without vertices the
    // centroid stays (0, 0, 0) and the radii keep their empty values (largest float, 0).
    void Compute(const KV_List<KV_Vector3D>* vertices, const KV_List<KV_Polygon>* polygons);

    const KV_Vector3D& Centroid() const { return mkCentroid; }
    const KV_Vector3D& Minimum() const { return mkMinimum; }
    const KV_Vector3D& Maximum() const { return mkMaximum; }
    const KV_Vector3D& PolygonMinimum() const { return mkPolygonMinimum; }
    const KV_Vector3D& PolygonMaximum() const { return mkPolygonMaximum; }
    float MinimumRadius() const { return mrMinimumRadius; }
    float MaximumRadius() const { return mrMaximumRadius; }
    unsigned int MinimumPolygonSize() const { return munMinimumPolygonSize; }
    unsigned int MaximumPolygonSize() const { return munMaximumPolygonSize; }
    // Triangulation records its result size here.
    unsigned int& MinimumPolygonSize() { return munMinimumPolygonSize; }
    unsigned int& MaximumPolygonSize() { return munMaximumPolygonSize; }

private:
    // Compute with the position of vertex i as position(i).
    template <typename PositionOf>
    void ComputeFrom(unsigned int vertexCount, const PositionOf& position,
                     const KV_List<KV_Polygon>* polygons);

    KV_Vector3D mkCentroid;
    KV_Vector3D mkMinimum;
    KV_Vector3D mkMaximum;
    KV_Vector3D mkPolygonMinimum;
    KV_Vector3D mkPolygonMaximum;
    float mrMinimumRadius;
    float mrMaximumRadius;
    unsigned int munMinimumPolygonSize = 0;
    unsigned int munMaximumPolygonSize = 0;
};

// Field-by-field equality in the order centroid, minimum, maximum, polygon minimum, polygon
// maximum, radii, polygon sizes; exact, except that two NaN radii count as equal.
bool operator==(const KV_SurfaceExtents& a, const KV_SurfaceExtents& b);
inline bool operator!=(const KV_SurfaceExtents& a, const KV_SurfaceExtents& b)
{
    return !(a == b);
}
