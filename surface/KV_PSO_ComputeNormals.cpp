#include "surface/KV_PSO_ComputeNormals.h"

#include "foundation/KV_Report.h"
#include "math/KV_Covariance.h"
#include "math/KV_Eigen.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceTopology.h"

#include <algorithm>
#include <future>

namespace topology = KV_SurfaceTopology;

namespace
{
KV_Vector3D Position(const KV_List<KV_Vector3D>* vertices, unsigned int index)
{
    if (vertices == nullptr || index >= vertices->Count())
        return KV_Vector3D(0.0f, 0.0f, 0.0f);
    return (*vertices)[index];
}

// The normalised normal of the triangle (p0, p1, p2), written out per component as the
// components of (p1 - p0) x (p2 - p0).
KV_Vector3D TriangleNormal(const KV_Vector3D& p0, const KV_Vector3D& p1, const KV_Vector3D& p2)
{
    KV_Vector3D n((p2.z - p0.z) * p1.y + (p1.z - p2.z) * p0.y + (p0.z - p1.z) * p2.y,
                  (p1.x - p2.x) * p0.z + (p0.x - p1.x) * p2.z + (p2.x - p0.x) * p1.z,
                  (p2.y - p0.y) * p1.x + (p0.y - p1.y) * p2.x + (p1.y - p2.y) * p0.x);
    n.Normalise();
    return n;
}

KV_Vector3D PolygonNormal(const KV_List<KV_Vector3D>* vertices, const KV_Polygon& polygon,
                          KV_List<KV_Vector3D>& points)
{
    const unsigned int n = polygon.Count();
    if (n < 3)
        ReportFatal("Cannot compute normal for polygon with less than 3 vertices!",
                    "KV_PSO_ComputeNormals error");
    const KV_Vector3D reference =
        TriangleNormal(Position(vertices, polygon[0]), Position(vertices, polygon[1]),
                       Position(vertices, polygon[2]));
    if (n == 3)
        return reference;
    points.SetCount(0);
    for (unsigned int k = 0; k < n; ++k) points.Append(Position(vertices, polygon[k]));
    return FitPlaneNormal(points, reference);
}

// The stored list when it holds one entry per vertex; otherwise null, and the caller
// derives what it needs into a temporary, leaving the stored member as it is.
const KV_List<KV_List<unsigned int>>* StoredPerVertex(const KV_List<KV_List<unsigned int>>* stored,
                                                      unsigned int vertexCount)
{
    return stored && stored->Count() == vertexCount ? stored : nullptr;
}
}  // namespace

KV_Vector3D FitPlaneNormal(const KV_List<KV_Vector3D>& points, const KV_Vector3D& reference)
{
    KV_Covariance covariance;
    covariance.AddObservations(points, false);
    KV_Matrix eigenvectors(3, 3);
    KV_Vector eigenvalues;
    EigenDecompose(covariance.Matrix(), eigenvectors, eigenvalues);
    KV_Vector3D normal = eigenvectors.Column3D(eigenvalues.IndexOfSmallest());
    if (DotProduct(normal, reference) < 0.0f)
        normal = -normal;
    normal.Normalise();
    return normal;
}

void KV_PSO_ComputeNormals::ComputePolygonNormals()
{
    KV_PolySurface& surface = *mpSurface;
    const unsigned int polygonCount = surface.PolygonCount();
    KV_List<KV_Vector3D>& normals =
        KV_Ensure(surface.mpPolygonNormals, std::max(1024u, polygonCount));
    topology::Reset(normals, polygonCount);
    normals.SetCount(polygonCount);
    KV_List<KV_Vector3D> points(16);
    for (unsigned int i = 0; i < polygonCount; ++i)
        normals[i] = PolygonNormal(surface.mpVertices, (*surface.mpPolygons)[i], points);
}

void KV_PSO_ComputeNormals::ComputeVertexNormals()
{
    KV_PolySurface& surface = *mpSurface;
    const unsigned int vertexCount = surface.VertexCount();
    const unsigned int polygonCount = surface.PolygonCount();
    // Averaging reads one normal per polygon; incomplete ones would be read past their end.
    if (surface.mpPolygonNormals == nullptr || surface.mpPolygonNormals->Count() != polygonCount)
        ComputePolygonNormals();
    const KV_List<KV_Vector3D>& polygonNormals = *surface.mpPolygonNormals;

    KV_List<KV_Vector3D>& normals =
        KV_Ensure(surface.mpVertexNormals, std::max(1024u, vertexCount));
    topology::Reset(normals, vertexCount);

    auto average = [&](const auto& vertexPolygons)
    {
        for (unsigned int v = 0; v < vertexCount; ++v)
        {
            const auto& around = vertexPolygons[v];
            KV_Vector3D sum(0.0f, 0.0f, 0.0f);
            unsigned int used = 0;
            for (unsigned int k = 0; k < around.Count(); ++k)
            {
                if (around[k] >= polygonCount)
                    continue;
                sum += polygonNormals[around[k]];
                ++used;
            }
            if (used > 0)
                sum /= static_cast<float>(used);
            normals.Append(sum);
        }
    };
    if (const KV_List<KV_List<unsigned int>>* stored =
            StoredPerVertex(surface.mpVertexPolygons, vertexCount))
        average(*stored);
    else
        average(topology::CompactVertexPolygons(vertexCount, surface.mpPolygons));
}

void KV_PSO_ComputeNormals::RefineVertexNormals()
{
    KV_PolySurface& surface = *mpSurface;
    const unsigned int vertexCount = surface.VertexCount();
    if (surface.mpVertexNormals == nullptr || surface.mpVertexNormals->Count() != vertexCount)
        ComputeVertexNormals();
    KV_List<KV_Vector3D>& normals = *surface.mpVertexNormals;

    KV_List<KV_List<unsigned int>> scratch(16);
    const KV_List<KV_List<unsigned int>>* stored =
        StoredPerVertex(surface.mpVertexVertices, vertexCount);
    if (stored == nullptr)
    {
        if (const KV_List<KV_List<unsigned int>>* vertexPolygons =
                StoredPerVertex(surface.mpVertexPolygons, vertexCount))
            topology::VertexVerticesFromPolygons(vertexCount, surface.mpPolygons, *vertexPolygons,
                                                 scratch);
        else
            topology::VertexVerticesFromPolygons(
                vertexCount, surface.mpPolygons,
                topology::CompactVertexPolygons(vertexCount, surface.mpPolygons), scratch);
    }
    const KV_List<KV_List<unsigned int>>& vertexVertices = stored ? *stored : scratch;

    auto refine = [&](unsigned int first, unsigned int last)
    {
        KV_List<KV_Vector3D> points(64);
        for (unsigned int i = first; i < last; ++i)
        {
            const KV_List<unsigned int>& neighbours = vertexVertices[i];
            if (neighbours.Count() <= 3)
                continue;
            const KV_Vector3D centre = (*surface.mpVertices)[i];
            points.SetCount(0);
            for (unsigned int k = 0; k < neighbours.Count(); ++k)
            {
                KV_Vector3D direction = Position(surface.mpVertices, neighbours[k]) - centre;
                direction.Normalise();
                points.Append(centre + direction);
            }
            normals[i] = FitPlaneNormal(points, normals[i]);
        }
    };
    // Below this many vertices a second thread costs more than it saves.
    const unsigned int concurrentFrom = 1024;
    if (!mbConcurrent || vertexCount < concurrentFrom)
    {
        refine(0, vertexCount);
        return;
    }
    const unsigned int middle = vertexCount / 2;
    std::future<void> second = std::async(std::launch::async, refine, middle, vertexCount);
    try
    {
        refine(0, middle);
    }
    catch (...)
    {
        second.wait();
        throw;
    }
    second.get();
}
