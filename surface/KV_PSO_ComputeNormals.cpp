#include "surface/KV_PSO_ComputeNormals.h"

#include "foundation/KV_Executor.h"
#include "foundation/KV_Report.h"
#include "math/KV_Covariance.h"
#include "math/KV_Eigen.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceTopology.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace topology = KV_SurfaceTopology;

namespace
{
KV_Vector3D Position(const KV_List<KV_Vector3D>* vertices, unsigned int index)
{
    if (vertices == nullptr || index >= vertices->Count())
        return KV_Vector3D(0.0f, 0.0f, 0.0f);
    return (*vertices)[index];
}

// (p1 - p0) x (p2 - p0), written out per component; every triangle normal here is made from
// it, so that each way of making one gives the same bits.
inline KV_Vector3D Cross(const KV_Vector3D& p0, const KV_Vector3D& p1, const KV_Vector3D& p2)
{
    return KV_Vector3D((p2.z - p0.z) * p1.y + (p1.z - p2.z) * p0.y + (p0.z - p1.z) * p2.y,
                       (p1.x - p2.x) * p0.z + (p0.x - p1.x) * p2.z + (p2.x - p0.x) * p1.z,
                       (p2.y - p0.y) * p1.x + (p0.y - p1.y) * p2.x + (p1.y - p2.y) * p0.x);
}

// The normalised normal of the triangle (p0, p1, p2).
KV_Vector3D TriangleNormal(const KV_Vector3D& p0, const KV_Vector3D& p1, const KV_Vector3D& p2)
{
    KV_Vector3D n = Cross(p0, p1, p2);
    n.Normalise();
    return n;
}

KV_Vector3D PolygonNormal(const KV_List<KV_Vector3D>* vertices, const KV_PolygonView& polygon,
                          KV_List<KV_Vector3D>& points, KV_PlaneFitter& fitter)
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
    return fitter.Normal(points, reference);
}

// The stored list when it holds one entry per vertex; otherwise null, and the caller
// derives what it needs into a temporary, leaving the stored member as it is.
const KV_List<KV_List<unsigned int>>* StoredPerVertex(const KV_List<KV_List<unsigned int>>* stored,
                                                      unsigned int vertexCount)
{
    return stored && stored->Count() == vertexCount ? stored : nullptr;
}
// Sizes normals (an empty list) to count, in one piece of several blocks, which the drawing
// can take as it lies (a list of one block cannot be shared).
void PrepareAverages(KV_List<KV_Vector3D>& normals, unsigned int count)
{
    const unsigned int kBlock = 1u << 12;
    if (normals.Count() == 0 && count > kBlock)
        normals.SetBlockSize(kBlock);
    normals.SetCountInOnePiece(count);
}

// Sets normals (an empty list) to, for each vertex, the mean of the normals of its polygons
// (polygons past the end of polygonNormals left out; a vertex with none gets zero).
template <typename VertexPolygonLists>
void AverageNormals(const VertexPolygonLists& vertexPolygons,
                    const KV_List<KV_Vector3D>& polygonNormals, KV_List<KV_Vector3D>& normals)
{
    const unsigned int polygonCount = polygonNormals.Count();
    PrepareAverages(normals, vertexPolygons.Count());
    for (unsigned int v = 0; v < vertexPolygons.Count(); ++v)
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
        normals[v] = sum;
    }
}

// The unit normals of the triangles met lately, by triangle number modulo the table's size.
// A vertex shares each triangle with two others, numbered close to it in a surface whose
// vertices and triangles run in rows (scans, grids, spheres): the table holds two rows of
// triangles of any but the largest of them, so that most triangles are made once, not three
// times. A triangle that has left the table is made again, with the same bits.
class RecentTriangleNormals
{
public:
    RecentTriangleNormals() : mkEntries(kSize) {}

    const KV_Vector3D* Find(unsigned int t) const
    {
        const Entry& entry = mkEntries[t & (kSize - 1)];
        return entry.triangle == t ? &entry.normal : nullptr;
    }
    void Keep(unsigned int t, const KV_Vector3D& normal)
    {
        Entry& entry = mkEntries[t & (kSize - 1)];
        entry.triangle = t;
        entry.normal = normal;
    }

private:
    static constexpr unsigned int kSize = 1u << 14;
    struct Entry
    {
        unsigned int triangle = UINT_MAX;  // none: no triangle of a list has this number
        KV_Vector3D normal{0.0f, 0.0f, 0.0f};
    };
    std::vector<Entry> mkEntries;
};

// The mean of the unit normals of a vertex's triangles (a flat run of them), as
// AverageNormals makes it from the list of them (triangles past the end left out; zero
// without any). A batch of cross products is formed before their lengths are taken, as in
// ComputePolygonNormals, so that the square roots and divisions overlap; the sum is taken in
// the same order. Triangles in recent are taken from there, and those made are kept there.
template <typename PositionOf>
KV_Vector3D MeanTriangleNormal(const topology::CompactVertexPolygons::Row& around,
                               const KV_List<KV_Polygon>& triangles, const PositionOf& position,
                               RecentTriangleNormals& recent)
{
    KV_Vector3D sum(0.0f, 0.0f, 0.0f);
    unsigned int used = 0;
    const unsigned int kBatch = 16;
    for (unsigned int start = 0; start < around.Count(); start += kBatch)
    {
        const unsigned int end = std::min(around.Count(), start + kBatch);
        KV_Vector3D normal[kBatch];
        unsigned int made[kBatch];  // the triangles of normal[] made here, 0 for those found
        unsigned int size = 0;
        for (unsigned int k = start; k < end; ++k)
        {
            const unsigned int t = around[k];
            if (t >= triangles.Count())
                continue;
            if (const KV_Vector3D* found = recent.Find(t))
            {
                made[size] = 0;
                normal[size++] = *found;
                continue;
            }
            const unsigned int* c = triangles.RunCorners(t);
            const KV_Vector3D p0 = position(c[0]);
            const KV_Vector3D p1 = position(c[1]);
            const KV_Vector3D p2 = position(c[2]);
            made[size] = t + 1;
            normal[size++] = Cross(p0, p1, p2);
        }
        float length[kBatch];
        for (unsigned int k = 0; k < size; ++k)
            length[k] = made[k] != 0 ? normal[k].Length() : 1.0f;
        for (unsigned int k = 0; k < size; ++k)
        {
            if (made[k] != 0)
            {
                if (length[k] != 0.0f)
                    normal[k] /= length[k];
                recent.Keep(made[k] - 1, normal[k]);
            }
            sum += normal[k];
        }
        used += size;
    }
    if (used > 0)
        sum /= static_cast<float>(used);
    return sum;
}

// Calls visit with each corner of the polygons around vertex i, in order, other than i itself
// and vertices past vertexCount (polygons past the list's end left out).
template <typename Around, typename Visit>
void ForEachOtherCorner(unsigned int i, const Around& around, const KV_List<KV_Polygon>& polygons,
                        unsigned int vertexCount, Visit visit)
{
    const bool run = polygons.FlatCornerCount() != 0;
    for (unsigned int k = 0; k < around.Count(); ++k)
    {
        if (around[k] >= polygons.Count())
            continue;
        const KV_PolygonView polygon =
            run ? KV_PolygonView(polygons.RunCorners(around[k]), polygons.FlatCornerCount())
                : polygons[around[k]];
        for (unsigned int m = 0; m < polygon.Count(); ++m)
            if (polygon[m] != i && polygon[m] < vertexCount)
                visit(polygon[m]);
    }
}

// The neighbours of one vertex as KV_SurfaceTopology::VertexVerticesFromPolygons lists them
// (every other vertex of its polygons, once, in order of first meeting), made when needed
// instead of held for every vertex at once. A vertex of few polygons looks each one up among
// those listed; a larger one sorts its corners (a table as large as the vertices, one per
// thread, would hold a quarter of a large surface's memory again while the normals are made).
// The view returned reads neighbours, which holds them until the next call.
template <typename VertexPolygonLists>
KV_IndexView NeighboursOf(unsigned int i, const VertexPolygonLists& vertexPolygons,
                          const KV_List<KV_Polygon>& polygons, unsigned int vertexCount,
                          std::vector<std::uint64_t>& sorted, std::vector<unsigned int>& neighbours)
{
    const auto& around = vertexPolygons[i];
    const unsigned int polygonCount = polygons.Count();
    constexpr unsigned int kLookedUp = 48;  // corners: at most ~kLookedUp^2 / 2 comparisons
    unsigned int corners = 0;
    const unsigned int runCorners = polygons.FlatCornerCount();
    for (unsigned int k = 0; k < around.Count() && corners <= kLookedUp; ++k)
        if (around[k] < polygonCount)
            corners += runCorners != 0 ? runCorners : polygons[around[k]].Count();
    if (corners <= kLookedUp)
    {
        // Listed straight into neighbours' storage, which keeps room for them all.
        if (neighbours.size() < kLookedUp)
            neighbours.resize(kLookedUp);
        unsigned int* listed = neighbours.data();
        unsigned int count = 0;
        if (runCorners == 3)
        {
            // Triangles read as they lie. Each corner is compared with every one listed and
            // written past them, kept only when new: no branch to mispredict on the outcome.
            for (unsigned int k = 0; k < around.Count(); ++k)
            {
                if (around[k] >= polygonCount)
                    continue;
                const unsigned int* c = polygons.RunCorners(around[k]);
                for (unsigned int m = 0; m < 3; ++m)
                {
                    const unsigned int w = c[m];
                    bool seen = w == i || w >= vertexCount;
                    for (unsigned int j = 0; j < count; ++j) seen |= listed[j] == w;
                    listed[count] = w;
                    count += seen ? 0u : 1u;
                }
            }
        }
        else
        {
            ForEachOtherCorner(i, around, polygons, vertexCount,
                               [&](unsigned int w)
                               {
                                   for (unsigned int k = 0; k < count; ++k)
                                       if (listed[k] == w)
                                           return;
                                   listed[count++] = w;
                               });
        }
        return KV_IndexView(listed, count);
    }
    // Each corner as (vertex, place met); sorted, the first of each vertex is where it was
    // first met, and those firsts sorted by place are the list.
    neighbours.clear();
    sorted.clear();
    ForEachOtherCorner(i, around, polygons, vertexCount, [&sorted](unsigned int w)
                       { sorted.push_back((std::uint64_t(w) << 32) | sorted.size()); });
    std::sort(sorted.begin(), sorted.end());
    std::size_t kept = 0;
    for (std::size_t k = 0; k < sorted.size(); ++k)
    {
        const std::uint64_t vertex = sorted[k] >> 32;
        if (kept == 0 || vertex != (sorted[kept - 1] & 0xffffffffu))
            sorted[kept++] = (sorted[k] << 32) | vertex;  // now (place met, vertex)
    }
    sorted.resize(kept);
    std::sort(sorted.begin(), sorted.end());
    for (const std::uint64_t entry : sorted)
        neighbours.push_back(static_cast<unsigned int>(entry & 0xffffffffu));
    return KV_IndexView(neighbours.data(), static_cast<unsigned int>(neighbours.size()));
}
}  // namespace

KV_Vector3D KV_PlaneFitter::Normal(const KV_Scatter3& scatter, const KV_Vector3D& reference)
{
    const double towards[3] = {reference.x, reference.y, reference.z};
    double fitted[3];
    KV_Vector3D normal(1.0f, 0.0f, 0.0f);  // coordinates that are not finite
    if (SmallestEigenvector(scatter.Scatter(), towards, fitted))
        normal = KV_Vector3D(static_cast<float>(fitted[0]), static_cast<float>(fitted[1]),
                             static_cast<float>(fitted[2]));
    if (DotProduct(normal, reference) < 0.0f)
        normal = -normal;
    normal.Normalise();
    return normal;
}

KV_Vector3D KV_PlaneFitter::Normal(const KV_List<KV_Vector3D>& points, const KV_Vector3D& reference)
{
    if (points.Count() >= 2)
    {
        KV_Scatter3 scatter;
        for (unsigned int k = 0; k < points.Count(); ++k)
        {
            const KV_Vector3D& p = points[k];
            scatter.Add(p.x, p.y, p.z);
        }
        return Normal(scatter, reference);
    }
    // One point or none: the covariance reports that it cannot be built and the
    // decomposition reads the raw sums.
    mkCovariance.Clear();
    mkCovariance.AddObservations(points, false);
    EigenDecompose(mkCovariance.Matrix(), mkEigenvectors, mkEigenvalues);
    KV_Vector3D normal = mkEigenvectors.Column3D(mkEigenvalues.IndexOfSmallest());
    if (DotProduct(normal, reference) < 0.0f)
        normal = -normal;
    normal.Normalise();
    return normal;
}

KV_Vector3D FitPlaneNormal(const KV_List<KV_Vector3D>& points, const KV_Vector3D& reference)
{
    return KV_PlaneFitter().Normal(points, reference);
}

void KV_PSO_ComputeNormals::ComputePolygonNormals()
{
    if (Stopped())
        return;  // not even the list's storage, the largest part of the work
    KV_PolySurface& surface = *mpSurface;
    const unsigned int polygonCount = surface.PolygonCount();
    KV_List<KV_Vector3D>& normals =
        KV_Ensure(surface.mpPolygonNormals, std::max(1024u, polygonCount));
    // Grown a stretch (one block) at a time, with a look at the stop flag before each: the
    // storage of millions of normals takes long enough to make by itself. A stopped list
    // holds only the normals made, so its count says it is not whole.
    const unsigned int kStretch = 1u << 16;
    topology::Reset(normals, std::min(polygonCount, kStretch));
    KV_List<KV_Vector3D> points(16);
    KV_PlaneFitter fitter;
    if (polygonCount == 0)
        return;  // the polygon list may be absent
    const KV_List<KV_Vector3D>* vertices = surface.mpVertices;
    const KV_List<KV_Polygon>& polygons = *surface.mpPolygons;
    // Triangles, the common case, in batches: the cross products of a batch first, then
    // their lengths, so that the square roots and divisions overlap (the same arithmetic as
    // TriangleNormal). Larger polygons are fitted on the way.
    const unsigned int kBatch = 32;
    for (unsigned int start = 0; start < polygonCount; start += kBatch)
    {
        if (start % 8192 == 0 && Stopped())
            return;
        if (start % kStretch == 0)
            normals.SetCount(std::min(polygonCount, start + kStretch));
        const unsigned int size = std::min(kBatch, polygonCount - start);
        KV_Vector3D normal[kBatch];
        bool triangle[kBatch];
        for (unsigned int k = 0; k < size; ++k)
        {
            const KV_PolygonView& polygon = polygons[start + k];
            triangle[k] = polygon.Count() == 3;
            if (!triangle[k])
            {
                normal[k] = PolygonNormal(vertices, polygon, points, fitter);
                continue;
            }
            const KV_Vector3D p0 = Position(vertices, polygon[0]);
            const KV_Vector3D p1 = Position(vertices, polygon[1]);
            const KV_Vector3D p2 = Position(vertices, polygon[2]);
            normal[k] = Cross(p0, p1, p2);
        }
        float length[kBatch];
        for (unsigned int k = 0; k < size; ++k) length[k] = normal[k].Length();
        for (unsigned int k = 0; k < size; ++k)
        {
            if (triangle[k] && length[k] != 0.0f)
                normal[k] /= length[k];
            normals[start + k] = normal[k];
        }
    }
}

void KV_PSO_ComputeNormals::ComputeVertexNormals()
{
    KV_PolySurface& surface = *mpSurface;
    const unsigned int vertexCount = surface.VertexCount();
    const unsigned int polygonCount = surface.PolygonCount();
    // Averaging reads one normal per polygon; incomplete ones would be read past their end.
    if (surface.mpPolygonNormals == nullptr || surface.mpPolygonNormals->Count() != polygonCount)
        ComputePolygonNormals();
    if (Stopped())
        return;
    const KV_List<KV_Vector3D>& polygonNormals = *surface.mpPolygonNormals;

    KV_List<KV_Vector3D>& normals =
        KV_Ensure(surface.mpVertexNormals, std::max(1024u, vertexCount));
    topology::Reset(normals, vertexCount);

    if (const KV_List<KV_List<unsigned int>>* stored =
            StoredPerVertex(surface.mpVertexPolygons, vertexCount))
        AverageNormals(*stored, polygonNormals, normals);
    else
        AverageNormals(topology::CompactVertexPolygons(vertexCount, surface.mpPolygons),
                       polygonNormals, normals);
}

std::unique_ptr<topology::CompactVertexPolygons> KV_PSO_ComputeNormals::MakeCompactTable(
    bool polygonNormalsWanted)
{
    KV_PolySurface& surface = *mpSurface;
    const unsigned int vertexCount = surface.VertexCount();
    const std::atomic<bool>* stop = mpStop;
    // The table decides itself whether it is large enough to be made in halves.
    KV_Executor* executor = mpExecutor;
    auto make = [&surface, vertexCount, stop, executor]
    {
        // On whichever thread makes it, the table looks at the flag on the way.
        std::optional<topology::StopScope> scope;
        if (stop != nullptr)
            scope.emplace(stop);
        return std::make_unique<topology::CompactVertexPolygons>(vertexCount, surface.mpPolygons,
                                                                 executor);
    };
    const bool normalsMissing = surface.mpPolygonNormals == nullptr ||
                                surface.mpPolygonNormals->Count() != surface.PolygonCount();
    if (mpExecutor == nullptr || !polygonNormalsWanted || !normalsMissing ||
        surface.PolygonCount() < kConcurrentFrom)
        return make();
    // The table reads only the polygons and the polygon normals write only their own list:
    // both are made at once.
    KV_Task<std::unique_ptr<topology::CompactVertexPolygons>> table = KV_Spawn(mpExecutor, make);
    ComputePolygonNormals();
    return table.Get();
}

void KV_PSO_ComputeNormals::RefineVertexNormals()
{
    if (mpStop == nullptr)
    {
        Refine();
        return;
    }
    // The topology the refinement makes on this thread looks at the flag too, and throws.
    const topology::StopScope scope(mpStop);
    try
    {
        Refine();
    }
    catch (const topology::Stopped&)
    {
        // Left unfinished, for the caller to release.
    }
}

void KV_PSO_ComputeNormals::Refine()
{
    KV_PolySurface& surface = *mpSurface;
    const unsigned int vertexCount = surface.VertexCount();
    const KV_List<KV_List<unsigned int>>* storedNeighbours =
        StoredPerVertex(surface.mpVertexVertices, vertexCount);
    const KV_List<KV_List<unsigned int>>* storedPolygons =
        StoredPerVertex(surface.mpVertexPolygons, vertexCount);
    const bool averaged =
        surface.mpVertexNormals != nullptr && surface.mpVertexNormals->Count() == vertexCount;
    // Without stored vertex polygons, one flat table serves both the averaging and the
    // neighbours.
    std::unique_ptr<topology::CompactVertexPolygons> compact;
    // Triangles whose normals are not to be kept: each vertex's mean is made from its
    // triangles' normals as the vertex is refined, and the list of them is never held (as
    // large as the positions twice over).
    const bool meanAsRefined =
        !averaged && !mbPolygonNormalsKept && storedPolygons == nullptr &&
        surface.mpPolygons != nullptr && surface.mpPolygons->FlatCornerCount() == 3 &&
        (surface.mpPolygonNormals == nullptr ||
         surface.mpPolygonNormals->Count() != surface.PolygonCount());
    // The vertices in pieces of about equal size, a few per thread, so that a thread that
    // finishes early takes another.
    const unsigned int threads = mpExecutor != nullptr ? mpExecutor->ThreadCount() : 0;
    unsigned int pieces = 1;
    if (threads > 0)
        pieces = std::min({2 * (threads + 1), 16u, std::max(1u, vertexCount / kConcurrentFrom)});
    const bool rowsWanted = storedPolygons == nullptr && (!averaged || storedNeighbours == nullptr);
    // Where the polygons run in rows and no averaging reads the whole table first, each piece
    // makes the rows of its own vertices from the stretches of polygons that hold them, in a
    // table its thread keeps for its next piece: a few pieces' rows at a time, not the whole
    // table (768 MB at 64M triangles), and in memory already made present.
    topology::StretchRanges stretches;
    if (rowsWanted && (averaged || meanAsRefined) && threads > 0 && surface.mpPolygons != nullptr)
    {
        const unsigned int many = std::min(32u, std::max(pieces, vertexCount / kRowsPerPiece));
        stretches = topology::PolygonStretches(surface.mpPolygons);
        std::size_t read = 0;
        for (unsigned int k = 0; k < many; ++k)
            read += topology::StretchesMeeting(
                stretches, static_cast<unsigned int>(std::uint64_t(vertexCount) * k / many),
                static_cast<unsigned int>(std::uint64_t(vertexCount) * (k + 1) / many));
        if (many > 1 && read <= stretches.size() + stretches.size() / 4 + 2 * many)
            pieces = many;
        else
            stretches.clear();
    }
    const bool ranged = !stretches.empty();
    if (rowsWanted && !ranged)
        compact = MakeCompactTable(!averaged && !meanAsRefined);
    if (meanAsRefined)
    {
        KV_List<KV_Vector3D>& means =
            KV_Ensure(surface.mpVertexNormals, std::max(1024u, vertexCount));
        topology::Reset(means, vertexCount);
        PrepareAverages(means, vertexCount);
    }
    else if (!averaged)
    {
        if (compact == nullptr)
            ComputeVertexNormals();
        else
        {
            const unsigned int polygonCount = surface.PolygonCount();
            if (surface.mpPolygonNormals == nullptr ||
                surface.mpPolygonNormals->Count() != polygonCount)
                ComputePolygonNormals();
            if (Stopped())
                return;
            KV_List<KV_Vector3D>& averages =
                KV_Ensure(surface.mpVertexNormals, std::max(1024u, vertexCount));
            topology::Reset(averages, vertexCount);
            AverageNormals(*compact, *surface.mpPolygonNormals, averages);
        }
    }
    if (Stopped())
        return;
    KV_List<KV_Vector3D>& normals = *surface.mpVertexNormals;
    // Without polygons no vertex has a neighbour to fit to.
    if (storedNeighbours == nullptr && surface.mpPolygons == nullptr)
        return;

    // The positions as one array where they lie in one piece, read three times a triangle
    // and once a neighbour.
    std::shared_ptr<const KV_Vector3D> piece;
    if (surface.mpVertices != nullptr)
        piece = surface.mpVertices->SharedPiece();
    const KV_Vector3D* positions = piece.get();
    const unsigned int positionCount = positions != nullptr ? surface.mpVertices->Count() : 0;

    auto refineWith = [&](unsigned int first, unsigned int last, auto&& neighboursOf,
                          const topology::CompactVertexPolygons* rows)
    {
        std::optional<RecentTriangleNormals> recent;
        if (meanAsRefined)
            recent.emplace();
        for (unsigned int i = first; i < last; ++i)
        {
            if (i % 4096 == 0 && Stopped())
                return;
            if (meanAsRefined && positions != nullptr)
                normals[i] = MeanTriangleNormal(
                    (*rows)[i], *surface.mpPolygons,
                    [positions, count = positionCount](unsigned int v)
                    { return v < count ? positions[v] : KV_Vector3D(0.0f, 0.0f, 0.0f); },
                    *recent);
            else if (meanAsRefined)
                normals[i] = MeanTriangleNormal((*rows)[i], *surface.mpPolygons,
                                                [&surface](unsigned int v)
                                                { return Position(surface.mpVertices, v); },
                                                *recent);
            const KV_IndexView neighbours = neighboursOf(i);
            if (neighbours.Count() <= 3)
                continue;
            // The plane through the unit directions towards the neighbours, taken in double
            // precision from the vertex itself (the translation by the vertex position
            // changes no covariance). A batch of directions is formed before their lengths
            // are taken, so that the square roots and divisions of one batch overlap.
            const KV_Vector3D centre = (*surface.mpVertices)[i];
            KV_Scatter3 scatter;
            const unsigned int count = neighbours.Count();
            const unsigned int kBatch = 16;
            for (unsigned int start = 0; start < count; start += kBatch)
            {
                const unsigned int size = std::min(kBatch, count - start);
                double dx[kBatch], dy[kBatch], dz[kBatch], toUnit[kBatch];
                for (unsigned int k = 0; k < size; ++k)
                {
                    const unsigned int v = neighbours[start + k];
                    const KV_Vector3D p = positions == nullptr ? Position(surface.mpVertices, v)
                                          : v < positionCount  ? positions[v]
                                                               : KV_Vector3D(0.0f, 0.0f, 0.0f);
                    dx[k] = static_cast<double>(p.x) - centre.x;
                    dy[k] = static_cast<double>(p.y) - centre.y;
                    dz[k] = static_cast<double>(p.z) - centre.z;
                }
                for (unsigned int k = 0; k < size; ++k)
                {
                    const double length = std::sqrt(dx[k] * dx[k] + dy[k] * dy[k] + dz[k] * dz[k]);
                    toUnit[k] = 1.0 / (length != 0.0 ? length : 1.0);  // no branch
                }
                for (unsigned int k = 0; k < size; ++k)
                    scatter.Add(dx[k] * toUnit[k], dy[k] * toUnit[k], dz[k] * toUnit[k]);
            }
            normals[i] = KV_PlaneFitter::Normal(scatter, normals[i]);
        }
    };
    std::mutex tablesHeld;
    std::vector<std::unique_ptr<topology::CompactVertexPolygons>> tables;
    auto refine = [&](unsigned int first, unsigned int last)
    {
        const topology::CompactVertexPolygons* rows = compact.get();
        std::unique_ptr<topology::CompactVertexPolygons> own;
        if (ranged)
        {
            {
                const std::lock_guard<std::mutex> lock(tablesHeld);
                if (!tables.empty())
                {
                    own = std::move(tables.back());
                    tables.pop_back();
                }
            }
            if (own == nullptr)
                own = std::make_unique<topology::CompactVertexPolygons>();
            own->MakeRows(first, last, vertexCount, surface.mpPolygons, stretches);
            rows = own.get();
        }
        if (storedNeighbours != nullptr)
        {
            refineWith(
                first, last, [&](unsigned int i) -> KV_IndexView { return (*storedNeighbours)[i]; },
                rows);
        }
        else
        {
            std::vector<std::uint64_t> sorted;
            std::vector<unsigned int> neighbours;
            neighbours.reserve(64);
            const KV_List<KV_Polygon>& polygons = *surface.mpPolygons;
            auto from = [&](const auto& vertexPolygons)
            {
                refineWith(
                    first, last,
                    [&](unsigned int i) -> KV_IndexView {
                        return NeighboursOf(i, vertexPolygons, polygons, vertexCount, sorted,
                                            neighbours);
                    },
                    rows);
            };
            if (storedPolygons != nullptr)
                from(*storedPolygons);
            else
                from(*rows);
        }
        if (own != nullptr)
        {
            const std::lock_guard<std::mutex> lock(tablesHeld);
            tables.push_back(std::move(own));
        }
    };
    if (pieces == 1)
    {
        refine(0, vertexCount);
        return;
    }
    auto bound = [vertexCount, pieces](unsigned int k)
    { return static_cast<unsigned int>(std::uint64_t(vertexCount) * k / pieces); };
    std::vector<KV_Task<void>> rest;
    rest.reserve(pieces - 1);
    for (unsigned int k = 1; k < pieces; ++k)
        rest.push_back(KV_Spawn(mpExecutor, [&refine, first = bound(k), last = bound(k + 1)]
                                { refine(first, last); }));
    refine(0, bound(1));
    // The threads take the pieces from the front; this one takes what is left from the back.
    for (auto piece = rest.rbegin(); piece != rest.rend(); ++piece) piece->Get();
}
