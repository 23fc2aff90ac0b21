#pragma once
// The derivations of surface topology as functions of the lists they read. The surface
// classes fill their derived members with them, and the consistency checks recompute into
// temporaries with the very same functions, so both always agree on orders, multiplicities
// and block sizes.
//
// Conventions shared by every function:
// - A null polygon list counts as empty.
// - A polygon's edges are (v[j], v[j+1]) for j = 0 .. n-2, then the closing (v[n-1], v[0]).
// - Vertex indices at or beyond the vertex count are skipped wherever they would index a
//   per-vertex list; polygon indices beyond the polygon list are skipped likewise. A valid
//   surface never has either, so the results for valid surfaces are unaffected.
// - Output lists are emptied and refilled; outer lists get the block size of the count they
//   are indexed by (16 when that count is 0), inner lists the small sizes of the model.
//
// The derivations cost O(n log n) in the surface size plus what they return, also at
// vertices with very many polygons and for very long polygons (the one exception, vertex
// vertices by the polygon route, returns every pair of vertices of each polygon). The
// single SharedEdgePolygons call below is linear in the polygons of a and their lengths.

#include "foundation/KV_List.h"
#include "surface/KV_Boundary.h"
#include "surface/KV_Edge.h"
#include "surface/KV_Polygon.h"

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

class KV_Executor;

namespace KV_SurfaceTopology
{
using IndexLists = KV_List<KV_List<unsigned int>>;
using SignedIndexLists = KV_List<KV_List<int>>;

// A count used as a block size: 16 stands in for 0 (a zero block size is a misuse report).
inline unsigned int BlockFor(unsigned int count)
{
    return count ? count : 16;
}

// Empties list and gives it a new block size without the refusal a list with storage gets.
template <typename T>
void Reset(KV_List<T>& list, unsigned int blockSize)
{
    list.Clear();
    list.SetBlockSize(BlockFor(blockSize));
}

// For each vertex, the polygons that use it, each polygon once per use, in polygon order.
// With an executor a large list is made in two halves at once (the same lists).
void VertexPolygons(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                    IndexLists& result, KV_Executor* executor = nullptr);

// The smallest and largest corner of each stretch of KV_List<KV_Polygon>::kFlatPiece polygons
// ({UINT_MAX, 0} for one without corners). A pass that wants only some vertices' uses reads
// only the stretches that can hold them: in a surface that runs in rows, a few.
using StretchRanges = std::vector<std::pair<unsigned int, unsigned int>>;
StretchRanges PolygonStretches(const KV_List<KV_Polygon>* polygons);
// How many stretches have a corner in [first, last).
std::size_t StretchesMeeting(const StretchRanges& stretches, unsigned int first, unsigned int last);

// The vertex polygons in one flat array: the same lists as VertexPolygons, for temporaries,
// without a heap block per vertex. Read-only; rows are valid while the object lives.
class CompactVertexPolygons
{
public:
    CompactVertexPolygons(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                          KV_Executor* executor = nullptr);
    // No rows until MakeRows.
    CompactVertexPolygons() : mkStart(1, 0) {}

    // Makes the rows of vertices [first, last) alone (below vertexCount; row v is read as
    // [v] all the same), from the stretches of polygons that meet them, in the storage the
    // rows before had where it is large enough: one table serves piece after piece of the
    // vertices, from memory already made present.
    void MakeRows(unsigned int first, unsigned int last, unsigned int vertexCount,
                  const KV_List<KV_Polygon>* polygons, const StretchRanges& stretches);

    class Row
    {
    public:
        Row(const unsigned int* data, unsigned int count) : mpunData(data), munCount(count) {}
        unsigned int Count() const { return munCount; }
        unsigned int operator[](unsigned int k) const { return mpunData[k]; }

    private:
        const unsigned int* mpunData;
        unsigned int munCount;
    };

    // One past the last row.
    unsigned int Count() const { return munFirst + static_cast<unsigned int>(mkStart.size() - 1); }
    Row operator[](unsigned int v) const
    {
        const unsigned int r = v - munFirst;
        return Row(mkPolygons.get() + mkStart[r], mkStart[r + 1] - mkStart[r]);
    }

private:
    unsigned int munFirst = 0;          // the vertex of the first row
    std::vector<unsigned int> mkStart;  // row r is [mkStart[r], mkStart[r + 1])
    std::unique_ptr<unsigned int[]> mkPolygons;
    std::size_t munCapacity = 0;  // of mkPolygons
};

// The functions below that read vertex polygons take either form.

// Appends the neighbours of vertex i by the polygon route: every other vertex of the
// polygons in around (i's polygons), each once, in order of first meeting. seen has one
// entry per vertex; seen[w] == i + 1 once w is listed for i, so one seen serves every vertex
// of a pass without being cleared.
template <typename PolygonIndices>
void AppendPolygonNeighbours(unsigned int i, const PolygonIndices& around,
                             const KV_List<KV_Polygon>& polygons, std::vector<unsigned int>& seen,
                             KV_List<unsigned int>& neighbours)
{
    const unsigned int vertexCount = static_cast<unsigned int>(seen.size());
    for (unsigned int k = 0; k < around.Count(); ++k)
    {
        if (around[k] >= polygons.Count())
            continue;
        const KV_PolygonView& polygon = polygons[around[k]];
        for (unsigned int m = 0; m < polygon.Count(); ++m)
        {
            const unsigned int w = polygon[m];
            if (w == i || w >= vertexCount || seen[w] == i + 1)
                continue;
            seen[w] = i + 1;
            neighbours.Append(w);
        }
    }
}

// For each vertex, every other vertex of its polygons, each once, in order of first meeting
// (walking the vertex's polygons in order and each polygon's vertices in order).
void VertexVerticesFromPolygons(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                                const IndexLists& vertexPolygons, IndexLists& result);
void VertexVerticesFromPolygons(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                                const CompactVertexPolygons& vertexPolygons, IndexLists& result);

// For each vertex, the other end of each of its edges, in vertex-edge order; no duplicate
// removal.
void VertexVerticesFromEdges(unsigned int vertexCount, const KV_List<KV_Edge>& edges,
                             const IndexLists& vertexEdges, IndexLists& result);

// The polygons sharing edge (a, b): every polygon p of a's vertex polygons, in that order,
// once for each position at which p contains b. Appends to result.
void SharedEdgePolygons(const KV_List<KV_Polygon>* polygons, const IndexLists& vertexPolygons,
                        unsigned int a, unsigned int b, std::vector<unsigned int>& result);
void SharedEdgePolygons(const KV_List<KV_Polygon>* polygons,
                        const CompactVertexPolygons& vertexPolygons, unsigned int a, unsigned int b,
                        std::vector<unsigned int>& result);

// For each polygon, the polygons sharing each of its edges other than itself, in edge order;
// repeated neighbours are kept.
void PolygonPolygons(const KV_List<KV_Polygon>* polygons, const IndexLists& vertexPolygons,
                     IndexLists& result);
void PolygonPolygons(const KV_List<KV_Polygon>* polygons,
                     const CompactVertexPolygons& vertexPolygons, IndexLists& result);

// The edge pass: every undirected edge once per odd use, in order of first use, normalised
// (smaller, larger). Either output may be null. vertexBoundaries gets one flag per vertex,
// 1 for both ends of every edge used an odd number of times. Without the edge list, the
// flags are made a slice of about sliceUses edge uses at a time (0: an eighth of them, or 4M,
// whichever is more).
void Edges(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons, KV_List<KV_Edge>* edges,
           KV_List<char>* vertexBoundaries, std::size_t sliceUses = 0);

// A derivation made on a worker that may be abandoned (a load cancelled, a window closed
// right after its first frame): while a StopScope lives on a thread, the derivations on that
// thread that pass over all the polygons (vertex polygons and their compact table, edges and
// vertex boundaries, the texture-coordinate vertices, the boundaries between their passes)
// look at the flag every few thousand polygons and throw Stopped once it is set, so that the
// one who set it does not wait for the whole list. Lists they were making are then in no
// defined state. A scope holds for its own thread only: work handed to another thread opens
// one there.
struct Stopped
{
};
class StopScope
{
public:
    explicit StopScope(const std::atomic<bool>* flag);
    ~StopScope();
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

private:
    const std::atomic<bool>* mpOuter;
};

// The boundary loops. Returns false, leaving result untouched, when there is no boundary
// edge; otherwise replaces result's loops. Throws Stopped (see StopScope).
bool Boundaries(const KV_List<KV_Polygon>* polygons, KV_List<KV_Boundary>& result);

// The steps of Boundaries, open to the tests that compare the chaining with a direct search.
struct DirectedEdge
{
    unsigned int first;
    unsigned int second;
};
// Directed polygon edges, sorted by (smaller, larger) with polygon order kept among equals,
// with the opposite pairs cancelled: the boundary edges before chaining.
// Holds only a slice of about sliceEdges sorted edges at a time; 0, the default: 4M edges
// (32 MB) or an eighth of them, whichever is more, so that the passes stay few.
std::vector<DirectedEdge> UnchainedBoundaryEdges(const KV_List<KV_Polygon>* polygons,
                                                 std::size_t sliceEdges = 0);
// The same list from one sort of every directed edge: the reference the tests compare with.
std::vector<DirectedEdge> UnchainedBoundaryEdgesBySort(const KV_List<KV_Polygon>* polygons);
// The number of undirected edges (two different vertices) named by more than two polygon
// edges, a polygon naming one twice counting twice; sorted a slice at a time, as above.
std::size_t OversharedEdgeCount(const KV_List<KV_Polygon>* polygons,
                                std::size_t sliceEdges = 0);
// Reorders edges so that, for each position i from 1 on, the edge at i is the first edge at
// or after i that starts where the edge at i-1 ends, when there is one.
void ChainEdges(std::vector<DirectedEdge>& edges);
// Builds the loops from chained edges (at least one).
void BuildLoops(const std::vector<DirectedEdge>& edges, KV_List<KV_Boundary>& result);

// For each vertex, the indices of its edges (each edge listed for its first, then its
// second vertex).
void VertexEdges(unsigned int vertexCount, const KV_List<KV_Edge>& edges, IndexLists& result);

// For each polygon, its signed edge references (j: edge j from first to second; -(j+1):
// edge j reversed), ordered into a chain starting at the smallest edge index.
void PolygonEdges(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                  const IndexLists& vertexPolygons, SignedIndexLists& result);
void PolygonEdges(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                  const CompactVertexPolygons& vertexPolygons, SignedIndexLists& result);

// The chain order of one polygon's signed edge references (exposed for tests).
void ChainPolygonEdges(const KV_List<KV_Edge>& edges, std::vector<int>& references);

// For each edge, the polygons sharing it.
void EdgePolygons(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                  const IndexLists& vertexPolygons, IndexLists& result);
void EdgePolygons(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                  const CompactVertexPolygons& vertexPolygons, IndexLists& result);

// For each texture coordinate, the texture polygons that use it.
void TextureCoordinatePolygons(unsigned int coordinateCount,
                               const KV_List<KV_Polygon>* texturePolygons, IndexLists& result);

// For each texture polygon i and position j: entry (texture polygon i, j) := vertex
// (polygon i, j); later polygons overwrite earlier ones. result must already hold one entry
// per texture coordinate; entries beyond it are skipped.
void AssignTextureCoordinateVertices(const KV_List<KV_Polygon>* polygons,
                                     const KV_List<KV_Polygon>* texturePolygons,
                                     KV_List<unsigned int>& result);

// Deep equality of lists of lists: same outer count, same inner counts, same elements.
template <typename Inner>
bool SameLists(const KV_List<Inner>& a, const KV_List<Inner>& b)
{
    if (a.Count() != b.Count())
        return false;
    for (unsigned int i = 0; i < a.Count(); ++i)
    {
        const auto& x = a[i];
        const auto& y = b[i];
        if (x.Count() != y.Count())
            return false;
        for (unsigned int k = 0; k < x.Count(); ++k)
            if (x[k] != y[k])
                return false;
    }
    return true;
}

// Equality of two flat lists, element by element.
template <typename T>
bool SameList(const KV_List<T>& a, const KV_List<T>& b)
{
    if (a.Count() != b.Count())
        return false;
    for (unsigned int i = 0; i < a.Count(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}
}  // namespace KV_SurfaceTopology
