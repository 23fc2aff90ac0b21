#pragma once
// KV_PolySurface: the surface the program works with. To the textured surface it adds
// normals, extents and the edge-based topology: unique edges, boundary loops, boundary flags
// of vertices, and the edges of each vertex, the signed edges of each polygon and the
// polygons of each edge.
//
// The surface file reader fills vertices, polygons and texture; the document then
// triangulates, computes normals, extents, boundaries, vertex polygons and vertex boundary
// flags. Every compute operation creates its member when absent and replaces its contents.
// Nothing here throws except a block list that cannot grow.

#include "surface/KV_Boundary.h"
#include "surface/KV_Edge.h"
#include "surface/KV_SurfaceExtents.h"
#include "surface/KV_TexturedPolySurface.h"

class KV_PolySurface : public KV_TexturedPolySurface
{
public:
    KV_PolySurface() = default;
    KV_PolySurface(const KV_PolySurface& other);
    KV_PolySurface& operator=(const KV_PolySurface& other);
    ~KV_PolySurface() override;

    bool CheckConsistency() override;
    void RemoveVertices(const KV_List<unsigned int>& vertices) override;
    // Removes the polygons, their texture polygons, unused vertices (vertex normals kept in
    // step) and unused texture coordinates, then recomputes the derived members present,
    // except polygon normals, extents and polygon polygons.
    void RemovePolygons(const KV_List<unsigned int>& polygons) override;
    void Clear() override;
    // Removes the polygons only (polygon normals kept in step) and recomputes the polygon
    // polygons, polygon edges and edge polygons that are present, and the stored vertex
    // polygons the first and last of these are built from.
    void RemovePolygonEntries(const KV_List<unsigned int>& polygons) override;
    // Always through the edges: the other end of each edge of each vertex.
    void ComputeVertexVertices() override;
    // Releases every derived member, the normals and the extents included.
    void ClearDerived() override;

    // Each undirected edge (smaller, larger) once per odd use, in order of first use.
    void ComputeEdges();
    // Per vertex 1 when it ends an edge used an odd number of times, else 0.
    void ComputeVertexBoundaries();
    void ComputeEdgesAndVertexBoundaries();
    // The boundary loops; with no boundary edge the stored loops are left as they are.
    void ComputeBoundaries();
    // The edges of each vertex; recomputes the edges first.
    void ComputeVertexEdges();
    // The signed, chained edges of each polygon; recomputes the edges first.
    void ComputePolygonEdges();
    // The polygons of each edge; computes the edges only when absent.
    void ComputeEdgePolygons();
    // Centroid, bounds, radii and polygon sizes (the record is created when absent).
    void ComputeExtents();

    KV_List<KV_Edge>* mpEdges = nullptr;
    KV_List<KV_Boundary>* mpBoundaries = nullptr;
    KV_List<char>* mpVertexBoundaries = nullptr;
    KV_List<KV_Vector3D>* mpVertexNormals = nullptr;
    KV_List<KV_Vector3D>* mpPolygonNormals = nullptr;
    KV_SurfaceExtents* mpExtents = nullptr;
    KV_List<KV_List<unsigned int>>* mpVertexEdges = nullptr;
    KV_List<KV_List<int>>* mpPolygonEdges = nullptr;
    KV_List<KV_List<unsigned int>>* mpEdgePolygons = nullptr;

protected:
    bool CheckPolySurfaceConsistency();
    // The derived members present after an edit, recomputed in the order of the edit rules.
    void RecomputeAfterRemoval();
};
