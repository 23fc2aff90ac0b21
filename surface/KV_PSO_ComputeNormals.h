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
// Vertex indices beyond the vertex list count as the origin. With a stop flag set (see
// SetStopFlag) each computation returns soon, its lists unfinished.

#include "foundation/KV_List.h"
#include "math/KV_Covariance.h"
#include "math/KV_Matrix.h"
#include "math/KV_SymmetricEigen3.h"
#include "math/KV_Vector.h"
#include "math/KV_Vector3D.h"

#include <atomic>
#include <memory>

class KV_Executor;
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
    // With an executor, RefineVertexNormals fits the planes of the vertices in pieces on its
    // threads (each vertex's fit reads only the surface and writes only its own normal, so
    // the normals are the same, bit for bit), and polygon normals it has to make are made
    // while a piece makes its table of each vertex's polygons. Null (the default): all on
    // the calling thread. The executor is not owned.
    void SetExecutor(KV_Executor* executor) { mpExecutor = executor; }
    // A flag that asks the computations to stop early (read every few thousand polygons or
    // vertices); a stopped call leaves its lists unfinished, for the caller to release.
    void SetStopFlag(const std::atomic<bool>* stop) { mpStop = stop; }
    // False: a caller that lets the polygon normals go after the vertex normals. The
    // refinement of a surface of triangles then makes each vertex's mean from its triangles'
    // normals as it goes, the same bits, without the list of them. True by default.
    void SetPolygonNormalsKept(bool kept) { mbPolygonNormalsKept = kept; }

private:
    // Below this many vertices (or polygons) a piece of its own costs more than it saves.
    static constexpr unsigned int kConcurrentFrom = 1024;
    // Vertices a piece that makes its own rows of vertex polygons takes at least: fewer, and
    // the stretches of polygons it shares with the pieces beside it are read too often.
    static constexpr unsigned int kRowsPerPiece = 1u << 18;

    bool Stopped() const { return mpStop != nullptr && mpStop->load(std::memory_order_relaxed); }

    // The refinement's table of each vertex's polygons. With polygonNormalsWanted, polygon
    // normals that are absent or not one per polygon are made as well, beside the table
    // with an executor.
    std::unique_ptr<KV_SurfaceTopology::CompactVertexPolygons> MakeCompactTable(
        bool polygonNormalsWanted);
    // RefineVertexNormals inside its stop scope; throws KV_SurfaceTopology::Stopped.
    void Refine();

    KV_PolySurface* mpSurface;
    KV_Executor* mpExecutor = nullptr;
    const std::atomic<bool>* mpStop = nullptr;
    bool mbPolygonNormalsKept = true;
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
