// The surface derivations on a scanned-size surface: a grid of about a million triangles
// with many small holes (tens of thousands of boundary edges), and the same surface as
// quadrilaterals for the triangulation. Comparison runs: the edge pass with per-vertex open
// lists and the boundary chaining by direct search, as described, on the same surface.

#include "math/KV_Eigen.h"
#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_PSO_Triangulate.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceTopology.h"
#include "tests/surface/DirectSearches.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace
{
const unsigned int kCells = 720;  // 720 x 720 cells, two triangles each
const double kHoleChance = 0.03;  // a triangle is left out with this chance

// The grid with holes, as triangles or (where both triangles of a cell are present) as
// quadrilaterals that triangulate back into the same triangles.
void MakeSurface(KV_PolySurface& s, bool quads)
{
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const unsigned int side = kCells + 1;
    KV_List<KV_Vector3D>& vertices = s.Vertices();
    for (unsigned int y = 0; y < side; ++y)
        for (unsigned int x = 0; x < side; ++x)
        {
            // A gentle wave so that the normals are not all equal.
            const float z = 0.05f * static_cast<float>(std::sin(0.05 * x) * std::cos(0.07 * y));
            vertices.Append(KV_Vector3D(static_cast<float>(x), static_cast<float>(y), z));
        }
    KV_List<KV_Polygon>& polygons = s.Polygons();
    auto add = [&](std::initializer_list<unsigned int> indices)
    {
        polygons.SetCount(polygons.Count() + 1);
        KV_PolygonRef polygon = polygons[polygons.Count() - 1];
        for (unsigned int v : indices) polygon.Append(v);
    };
    for (unsigned int y = 0; y < kCells; ++y)
        for (unsigned int x = 0; x < kCells; ++x)
        {
            const unsigned int a = y * side + x, b = a + 1, c = a + side + 1, d = a + side;
            const bool first = uniform(random) >= kHoleChance;
            const bool second = uniform(random) >= kHoleChance;
            if (quads && first && second)
            {
                add({a, b, c, d});
                continue;
            }
            if (first)
                add({a, b, c});
            if (second)
                add({a, c, d});
        }
}

KV_PolySurface& Triangles()
{
    static KV_PolySurface* surface = []
    {
        KV_PolySurface* s = new KV_PolySurface;
        MakeSurface(*s, false);
        std::vector<KV_SurfaceTopology::DirectedEdge> boundary =
            KV_SurfaceTopology::UnchainedBoundaryEdges(s->mpPolygons);
        std::printf("Benchmark surface: %u vertices, %u triangles, %zu boundary edges\n",
                    s->VertexCount(), s->PolygonCount(), boundary.size());
        return s;
    }();
    return *surface;
}

KV_PolySurface& Quadrilaterals()
{
    static KV_PolySurface* surface = []
    {
        KV_PolySurface* s = new KV_PolySurface;
        MakeSurface(*s, true);
        std::printf("Quadrilateral surface: %u polygons\n", s->PolygonCount());
        return s;
    }();
    return *surface;
}

void Triangulate(benchmark::State& state)
{
    KV_PolySurface surface;
    for (auto _ : state)
    {
        state.PauseTiming();
        surface = Quadrilaterals();
        state.ResumeTiming();
        KV_PSO_Triangulate(&surface).Triangulate();
    }
    state.counters["triangles"] = surface.PolygonCount();
}

void ComputeEdges(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    for (auto _ : state) s.ComputeEdges();
    state.counters["edges"] = s.mpEdges->Count();
}

void ComputeBoundaries(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    for (auto _ : state)
    {
        KV_Release(s.mpBoundaries);
        s.ComputeBoundaries();
    }
    state.counters["loops"] = s.mpBoundaries->Count();
}

void ComputeVertexPolygons(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    for (auto _ : state) s.ComputeVertexPolygons();
}

void ComputeVertexBoundaries(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    for (auto _ : state) s.ComputeVertexBoundaries();
}

void ComputePolygonEdges(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    for (auto _ : state) s.ComputePolygonEdges();
}

void CopyAssignment(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    s.ComputeEdgesAndVertexBoundaries();
    s.ComputeBoundaries();
    s.ComputeVertexPolygons();
    KV_PolySurface copy;
    for (auto _ : state) copy = s;
}

void NormalsWithRefinement(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    for (auto _ : state)
    {
        state.PauseTiming();
        KV_Release(s.mpVertexNormals);
        KV_Release(s.mpPolygonNormals);
        KV_Release(s.mpVertexPolygons);
        KV_Release(s.mpVertexVertices);
        state.ResumeTiming();
        KV_PSO_ComputeNormals normals(&s);
        normals.ComputePolygonNormals();
        normals.RefineVertexNormals();
    }
}

// The refinement's plane fits alone: the unit directions from every vertex of the grid to
// its neighbours, fitted by the closed-form fitter the refinement uses (KV_PlaneFitter over
// double-precision sums on the stack), and (comparison run) by the general path it replaced:
// KV_Covariance and the iterative EigenDecompose in reused storage.
template <bool General>
void PlaneFits(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    if (s.mpVertexVertices == nullptr)
        s.ComputeVertexVertices();
    const KV_List<KV_List<unsigned int>>& around = *s.mpVertexVertices;
    const KV_List<KV_Vector3D>& vertices = *s.mpVertices;
    const unsigned int count = std::min(200000u, around.Count());
    KV_List<KV_Vector3D> points(64);
    KV_Covariance covariance;
    KV_Matrix eigenvectors;
    KV_Vector eigenvalues;
    const KV_Vector3D up(0.0f, 0.0f, 1.0f);
    for (auto _ : state)
        for (unsigned int v = 0; v < count; ++v)
        {
            if (around[v].Count() < 2)
                continue;
            if (!General)
            {
                KV_Scatter3 scatter;
                for (unsigned int k = 0; k < around[v].Count(); ++k)
                {
                    KV_Vector3D d = vertices[around[v][k]] - vertices[v];
                    d.Normalise();
                    scatter.Add(d.x, d.y, d.z);
                }
                benchmark::DoNotOptimize(KV_PlaneFitter::Normal(scatter, up));
                continue;
            }
            points.SetCount(0);
            for (unsigned int k = 0; k < around[v].Count(); ++k)
            {
                KV_Vector3D d = vertices[around[v][k]] - vertices[v];
                d.Normalise();
                points.Append(vertices[v] + d);
            }
            covariance.Clear();
            covariance.AddObservations(points, false);
            EigenDecompose(covariance.Matrix(), eigenvectors, eigenvalues);
            KV_Vector3D normal = eigenvectors.Column3D(eigenvalues.IndexOfSmallest());
            if (DotProduct(normal, up) < 0.0f)
                normal = -normal;
            benchmark::DoNotOptimize(normal);
        }
}

// ---- Comparison runs: the searches as described --------------------------------------------

void EdgePassWithOpenLists(benchmark::State& state)
{
    KV_PolySurface& s = Triangles();
    for (auto _ : state)
    {
        std::vector<std::pair<unsigned int, unsigned int>> edges;
        std::vector<char> flags;
        DirectSearches::EdgePass(s.VertexCount(), *s.mpPolygons, edges, flags);
        benchmark::DoNotOptimize(edges.data());
    }
}

void BoundaryChainingByDirectSearch(benchmark::State& state)
{
    using KV_SurfaceTopology::DirectedEdge;
    const std::vector<DirectedEdge> unchained =
        KV_SurfaceTopology::UnchainedBoundaryEdges(Triangles().mpPolygons);
    for (auto _ : state)
    {
        std::vector<DirectedEdge> e = unchained;
        DirectSearches::ChainEdges(e);
        benchmark::DoNotOptimize(e.data());
    }
}

void BoundaryChainingByIndex(benchmark::State& state)
{
    using KV_SurfaceTopology::DirectedEdge;
    const std::vector<DirectedEdge> unchained =
        KV_SurfaceTopology::UnchainedBoundaryEdges(Triangles().mpPolygons);
    for (auto _ : state)
    {
        std::vector<DirectedEdge> e = unchained;
        KV_SurfaceTopology::ChainEdges(e);
        benchmark::DoNotOptimize(e.data());
    }
}
}  // namespace

#define SURFACE_BENCHMARK(name) \
    BENCHMARK(name)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime()

SURFACE_BENCHMARK(Triangulate);
SURFACE_BENCHMARK(ComputeEdges);
SURFACE_BENCHMARK(EdgePassWithOpenLists);
SURFACE_BENCHMARK(ComputeBoundaries);
SURFACE_BENCHMARK(BoundaryChainingByIndex);
BENCHMARK(BoundaryChainingByDirectSearch)->Unit(benchmark::kMillisecond)->Iterations(1);
SURFACE_BENCHMARK(ComputeVertexPolygons);
SURFACE_BENCHMARK(ComputeVertexBoundaries);
SURFACE_BENCHMARK(ComputePolygonEdges);
SURFACE_BENCHMARK(CopyAssignment);
SURFACE_BENCHMARK(NormalsWithRefinement);
SURFACE_BENCHMARK(PlaneFits<false>);
SURFACE_BENCHMARK(PlaneFits<true>);

BENCHMARK_MAIN();
