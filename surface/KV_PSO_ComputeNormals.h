#pragma once
// KV_PSO_ComputeNormals: fills the polygon normals and vertex normals of one surface, bound
// at construction (not owned).
//
// Polygon normals are unit length along (p1 - p0) x (p2 - p0) for triangles, and the normal
// of the best-fitting plane, turned towards that cross product, for larger polygons;
// degenerate polygons get a zero normal. Vertex normals are first the (unnormalised) mean of
// the normals of the vertex's polygons; refinement replaces the normal of every vertex with
// more than three neighbours by the normal of the plane fitted to the unit directions
// towards its neighbours.
//
// Failure: a polygon with fewer than three vertices is a fatal report ("Cannot compute
// normal for polygon with less than 3 vertices!"); the process ends with exit status 1.
// Vertex indices beyond the vertex list count as the origin.

#include "foundation/KV_List.h"
#include "math/KV_Covariance.h"
#include "math/KV_Matrix.h"
#include "math/KV_SymmetricEigen3.h"
#include "math/KV_Vector.h"
#include "math/KV_Vector3D.h"

#include <atomic>
#include <memory>

class KV_PolySurface;
namespace KV_SurfaceTopology
{
class CompactVertexPolygons;
}

class KV_PSO_ComputeNormals
{
public:
    explicit KV_PSO_ComputeNormals(KV_PolySurface* surface) : mpSurface(surface) {}

    // One normal per polygon, same index.
    void ComputePolygonNormals();
    // One averaged normal per vertex. Computes the polygon normals first when they are
    // absent or not one per polygon.
    void ComputeVertexNormals();
    // Averages first when the vertex normals are not one per vertex, then refines.
    void RefineVertexNormals();
    // On: RefineVertexNormals fits the planes of the second half of the vertices on a second
    // thread (each vertex's fit reads only the surface and writes only its own normal, so
    // the normals are the same, bit for bit), and polygon normals it has to make are made
    // while another thread makes its table of each vertex's polygons. Off by default.
    void SetConcurrent(bool flag) { mbConcurrent = flag; }
    // A flag that asks ComputePolygonNormals to stop early (read every few thousand
    // polygons); a stopped call leaves the list unfinished, for the caller to release.
    void SetStopFlag(const std::atomic<bool>* stop) { mpStop = stop; }

private:
    // Below this many vertices (or polygons) a second thread costs more than it saves.
    static constexpr unsigned int kConcurrentFrom = 1024;

    // The refinement's table of each vertex's polygons. With polygonNormalsWanted, polygon
    // normals that are absent or not one per polygon are made as well, beside the table
    // when concurrent.
    std::unique_ptr<KV_SurfaceTopology::CompactVertexPolygons> MakeCompactTable(
        bool polygonNormalsWanted);

    KV_PolySurface* mpSurface;
    bool mbConcurrent = false;
    const std::atomic<bool>* mpStop = nullptr;
};

// Fits planes one after another: the scatter of the points about their mean, in double
// precision on the stack, and the eigenvector of its smallest eigenvalue in closed form
// (SmallestEigenvector). Fewer than two points take the general path (KV_Covariance and
// EigenDecompose), whose storage the fitter keeps for the next such fit.
class KV_PlaneFitter
{
public:
    KV_Vector3D Normal(const KV_List<KV_Vector3D>& points, const KV_Vector3D& reference);
    // The normal of the plane fitted to the points already added to scatter (at least two).
    static KV_Vector3D Normal(const KV_Scatter3& scatter, const KV_Vector3D& reference);

private:
    KV_Covariance mkCovariance;
    KV_Matrix mkEigenvectors;
    KV_Vector mkEigenvalues;
};

// The unit normal of the plane fitted to points (the eigenvector of the smallest eigenvalue
// of their covariance), turned so that it does not point away from reference. Needs at
// least two points. Where the plane is not determined: coincident points give the x axis;
// points on a line, the direction perpendicular to it nearest reference; points on a
// coordinate axis, the first other axis; coordinates that are not finite, the x axis (each
// turned towards reference).
KV_Vector3D FitPlaneNormal(const KV_List<KV_Vector3D>& points, const KV_Vector3D& reference);
