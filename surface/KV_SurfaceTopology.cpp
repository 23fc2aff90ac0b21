#include "surface/KV_SurfaceTopology.h"

#include "foundation/KV_Executor.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace KV_SurfaceTopology
{
namespace
{
thread_local const std::atomic<bool>* tStop = nullptr;

void ThrowIfStopped()
{
    if (tStop != nullptr && tStop->load(std::memory_order_relaxed))
        throw Stopped();
}

// The long passes over the polygons look at the stop flag once per this many polygons.
const unsigned int kStopCheckPolygons = 1u << 16;

void ThrowIfStoppedAt(unsigned int polygon)
{
    if (polygon % kStopCheckPolygons == 0)
        ThrowIfStopped();
}

unsigned int PolygonCount(const KV_List<KV_Polygon>* polygons)
{
    return polygons ? polygons->Count() : 0;
}

// Calls use(a, b) for every edge of polygons [first, last), in polygon order and edge order.
template <typename Use>
void ForEachPolygonEdge(const KV_List<KV_Polygon>* polygons, unsigned int first, unsigned int last,
                        Use use)
{
    // A flat run is read as it lies, without a view per polygon: the edge passes go over
    // every polygon several times.
    KV_ForEachPolygon(
        *polygons, first, last, [](unsigned int) { ThrowIfStopped(); },
        [&use](unsigned int, const auto& polygon)
        {
            const unsigned int n = polygon.Count();
            for (unsigned int j = 0; j < n; ++j) use(polygon[j], polygon[j + 1 < n ? j + 1 : 0]);
        });
}

// The same over every polygon.
template <typename Use>
void ForEachPolygonEdge(const KV_List<KV_Polygon>* polygons, Use use)
{
    if (polygons != nullptr)
        ForEachPolygonEdge(polygons, 0, polygons->Count(), use);
}

constexpr unsigned int kStretch = KV_List<KV_Polygon>::kFlatPiece;

// Calls walk(begin, end) for the polygons [begin, end) of each stretch with a corner in
// [low, high), in order.
template <typename Walk>
void ForEachStretchMeeting(unsigned int polygonCount, const StretchRanges& ranges, std::size_t low,
                           std::size_t high, Walk walk)
{
    for (std::size_t piece = 0; piece < ranges.size(); ++piece)
    {
        if (ranges[piece].second < low || ranges[piece].first >= high)
            continue;
        const unsigned int first = static_cast<unsigned int>(piece * kStretch);
        walk(first, std::min(polygonCount, first + kStretch));
    }
}

// Calls use(a, b) for every edge in polygon order, as ForEachPolygonEdge, and returns the
// stretches' ranges.
template <typename Use>
StretchRanges ForEachEdgeNotingStretches(const KV_List<KV_Polygon>* polygons, Use use)
{
    const unsigned int count = PolygonCount(polygons);
    StretchRanges ranges((static_cast<std::size_t>(count) + kStretch - 1) / kStretch,
                         {UINT_MAX, 0u});
    for (std::size_t piece = 0; piece < ranges.size(); ++piece)
    {
        std::pair<unsigned int, unsigned int>& range = ranges[piece];
        const unsigned int first = static_cast<unsigned int>(piece * kStretch);
        // Every corner starts one edge.
        ForEachPolygonEdge(polygons, first, std::min(count, first + kStretch),
                           [&](unsigned int a, unsigned int b)
                           {
                               range.first = std::min(range.first, a);
                               range.second = std::max(range.second, a);
                               use(a, b);
                           });
    }
    return ranges;
}

// Calls use(a, b) in polygon order for every edge of the stretches with a corner in
// [low, high): every edge with an end there, and others.
template <typename Use>
void ForEachEdgeNear(const KV_List<KV_Polygon>* polygons, const StretchRanges& ranges,
                     std::size_t low, std::size_t high, Use use)
{
    ForEachStretchMeeting(PolygonCount(polygons), ranges, low, high,
                          [&](unsigned int first, unsigned int last)
                          { ForEachPolygonEdge(polygons, first, last, use); });
}

// Sizes result to count empty inner lists of the given block size.
template <typename Inner>
void MakeInnerLists(KV_List<Inner>& result, unsigned int count, unsigned int innerBlockSize)
{
    Reset(result, count);
    result.SetCount(count);
    for (unsigned int i = 0; i < count; ++i) result[i].SetBlockSize(innerBlockSize);
}

bool Opposite(const DirectedEdge& a, const DirectedEdge& b)
{
    return a.first == b.second && a.second == b.first;
}

// Stable LSD radix sort of directed edges by (smaller, larger) vertex. Each pass looks at the
// stop flag as it goes: on millions of edges a pass is long, and so would be a zeroed buffer,
// which is why the second one is left unset (every slot is written before it is read).
void SortByUndirectedKey(std::vector<DirectedEdge>& edges)
{
    unsigned int largest = 0;
    for (const DirectedEdge& e : edges) largest = std::max(largest, std::max(e.first, e.second));
    unsigned int bits = 1;
    while (bits < 32 && (largest >> bits) != 0) ++bits;

    const unsigned int kDigitBits = 11;
    const unsigned int kBuckets = 1u << kDigitBits;
    const std::size_t count = edges.size();
    std::unique_ptr<DirectedEdge[]> buffer(new DirectedEdge[count]);
    DirectedEdge* from = edges.data();
    DirectedEdge* to = buffer.get();
    std::vector<std::size_t> offsets(kBuckets + 1);
    // Less significant key first: the larger vertex, then the smaller.
    for (int part = 0; part < 2; ++part)
    {
        for (unsigned int shift = 0; shift < bits; shift += kDigitBits)
        {
            auto digit = [&](const DirectedEdge& e)
            {
                const unsigned int v =
                    part == 0 ? std::max(e.first, e.second) : std::min(e.first, e.second);
                return (v >> shift) & (kBuckets - 1);
            };
            std::fill(offsets.begin(), offsets.end(), 0);
            for (std::size_t i = 0; i < count; ++i)
            {
                ThrowIfStoppedAt(static_cast<unsigned int>(i));
                ++offsets[digit(from[i]) + 1];
            }
            for (unsigned int k = 0; k < kBuckets; ++k) offsets[k + 1] += offsets[k];
            for (std::size_t i = 0; i < count; ++i)
            {
                ThrowIfStoppedAt(static_cast<unsigned int>(i));
                to[offsets[digit(from[i])]++] = from[i];
            }
            std::swap(from, to);
        }
    }
    if (from != edges.data())
        std::copy(from, from + count, edges.data());
}

// The number of entries of polygon equal to v.
unsigned int Occurrences(const KV_PolygonView& polygon, unsigned int v)
{
    unsigned int count = 0;
    const unsigned int n = polygon.Count();
    for (unsigned int k = 0; k < n; ++k)
        if (polygon[k] == v)
            ++count;
    return count;
}

unsigned int EdgeIndexOf(int reference)
{
    return reference >= 0 ? static_cast<unsigned int>(reference)
                          : static_cast<unsigned int>(-(reference + 1));
}

unsigned int StartVertex(const KV_List<KV_Edge>& edges, int reference)
{
    const KV_Edge& e = edges[EdgeIndexOf(reference)];
    return reference >= 0 ? e.first : e.second;
}

unsigned int EndVertex(const KV_List<KV_Edge>& edges, int reference)
{
    const KV_Edge& e = edges[EdgeIndexOf(reference)];
    return reference >= 0 ? e.second : e.first;
}

// Below this many references a polygon is chained by the direct search; above it through an
// index of the references by start vertex (a polygon read from a file may be huge).
const std::size_t kDirectChainLimit = 16;
}  // namespace

namespace
{
// visit(p, corners) for polygons [first, last), looking at the stop flag on the way.
template <typename Visit>
void ForEachPolygon(const KV_List<KV_Polygon>& polygons, unsigned int first, unsigned int last,
                    Visit visit)
{
    KV_ForEachPolygon(
        polygons, first, last, [](unsigned int) { ThrowIfStopped(); }, visit);
}

// The uses of each vertex by polygons [first, last), added into counts[v + 1].
void CountUses(const KV_List<KV_Polygon>& polygons, unsigned int first, unsigned int last,
               unsigned int vertexCount, unsigned int* counts)
{
    ForEachPolygon(polygons, first, last,
                   [counts, vertexCount](unsigned int, const auto& corners)
                   {
                       for (unsigned int k = 0; k < corners.Count(); ++k)
                           if (corners[k] < vertexCount)
                               ++counts[corners[k] + 1];
                   });
}

// Writes each polygon of [first, last) at its vertices' cursors, moving them on.
void FillUses(const KV_List<KV_Polygon>& polygons, unsigned int first, unsigned int last,
              unsigned int vertexCount, unsigned int* cursors, unsigned int* indices)
{
    ForEachPolygon(polygons, first, last,
                   [cursors, indices, vertexCount](unsigned int p, const auto& corners)
                   {
                       for (unsigned int k = 0; k < corners.Count(); ++k)
                           if (corners[k] < vertexCount)
                               indices[cursors[corners[k]]++] = p;
                   });
}

// Below this many polygons the table is made in one piece.
const unsigned int kHalvesFrom = 1u << 16;

// Each vertex's polygons, each once per use, in polygon order: row v of the indices is
// [starts[v], starts[v + 1]), in storage of a given size that room(size) returns (not
// cleared: every place is written). With an executor the polygons are taken in two halves
// at once, each counting and then filling its own part of every row (the first half's uses
// come first in each row, as they do in one pass); a half holds one more count a vertex
// while it works, and the system makes the storage's pages for both halves as they write.
template <typename Room>
void BuildVertexPolygonRows(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                            KV_Executor* executor, std::vector<unsigned int>& starts, Room room)
{
    starts.assign(static_cast<std::size_t>(vertexCount) + 1, 0);
    const unsigned int polygonCount = PolygonCount(polygons);
    const bool halves = executor != nullptr && polygonCount >= kHalvesFrom && vertexCount > 0;
    const unsigned int middle = halves ? polygonCount / 2 : polygonCount;
    std::vector<unsigned int> second;
    const std::atomic<bool>* stop = tStop;
    KV_Task<void> counted;
    if (halves)
    {
        second.assign(static_cast<std::size_t>(vertexCount) + 1, 0);
        counted =
            KV_Spawn(executor,
                     [&, stop]
                     {
                         const StopScope scope(stop);
                         CountUses(*polygons, middle, polygonCount, vertexCount, second.data());
                     });
    }
    if (polygonCount > 0)
        CountUses(*polygons, 0, middle, vertexCount, starts.data());
    if (counted.Valid())
        counted.Get();
    // starts[v + 1] holds the first half's uses of v and second[v + 1] the second's: the
    // running total makes the starts, and each second-half cursor begins after its row's
    // first-half uses.
    std::uint64_t total = 0;
    for (unsigned int v = 0; v < vertexCount; ++v)
    {
        const unsigned int first = starts[v + 1];
        starts[v] = static_cast<unsigned int>(total);  // a cursor until the fill is done
        if (halves)
        {
            second[v] = static_cast<unsigned int>(total + first);
            total += second[v + 1];
        }
        total += first;
        if (total > UINT32_MAX)
            throw KV_ListAllocError();
    }
    ThrowIfStopped();  // before the largest allocation
    unsigned int* const indices = room(static_cast<std::size_t>(total));
    KV_Task<void> filled;
    if (halves)
        filled = KV_Spawn(executor,
                          [&, stop]
                          {
                              const StopScope scope(stop);
                              FillUses(*polygons, middle, polygonCount, vertexCount, second.data(),
                                       indices);
                          });
    if (polygonCount > 0)
        FillUses(*polygons, 0, middle, vertexCount, starts.data(), indices);
    if (filled.Valid())
        filled.Get();
    // Filled, each row's last cursor (the second half's, or the only one) has moved on to the
    // next row's start.
    const std::vector<unsigned int>& moved = halves ? second : starts;
    for (unsigned int v = vertexCount; v > 0; --v) starts[v] = moved[v - 1];
    starts[0] = 0;
}
}  // namespace

StretchRanges PolygonStretches(const KV_List<KV_Polygon>* polygons)
{
    return ForEachEdgeNotingStretches(polygons, [](unsigned int, unsigned int) {});
}

std::size_t StretchesMeeting(const StretchRanges& stretches, unsigned int first, unsigned int last)
{
    std::size_t meeting = 0;
    ForEachStretchMeeting(UINT_MAX, stretches, first, last,
                          [&meeting](unsigned int, unsigned int) { ++meeting; });
    return meeting;
}

CompactVertexPolygons::CompactVertexPolygons(unsigned int vertexCount,
                                             const KV_List<KV_Polygon>* polygons,
                                             KV_Executor* executor)
{
    BuildVertexPolygonRows(vertexCount, polygons, executor, mkStart,
                           [this](std::size_t size)
                           {
                               // Left unset: the fill writes every place.
                               mkPolygons.reset(new unsigned int[size]);
                               munCapacity = size;
                               return mkPolygons.get();
                           });
}

void CompactVertexPolygons::MakeRows(unsigned int first, unsigned int last,
                                     unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                                     const StretchRanges& stretches)
{
    last = std::min(last, vertexCount);
    first = std::min(first, last);
    munFirst = first;
    mkStart.assign(static_cast<std::size_t>(last - first) + 1, 0);
    if (polygons == nullptr || first == last)
        return;
    // As BuildVertexPolygonRows in one piece: counts, cursors, then each row's polygons in
    // polygon order.
    auto each = [&](auto use)
    {
        ForEachStretchMeeting(polygons->Count(), stretches, first, last,
                              [&](unsigned int begin, unsigned int end)
                              {
                                  ForEachPolygon(
                                      *polygons, begin, end,
                                      [&](unsigned int p, const auto& corners)
                                      {
                                          for (unsigned int k = 0; k < corners.Count(); ++k)
                                              if (corners[k] >= first && corners[k] < last)
                                                  use(corners[k] - first, p);
                                      });
                              });
    };
    each([this](unsigned int r, unsigned int) { ++mkStart[r + 1]; });
    std::size_t total = 0;
    for (std::size_t r = 0; r + 1 < mkStart.size(); ++r)
    {
        const unsigned int uses = mkStart[r + 1];
        mkStart[r] = static_cast<unsigned int>(total);  // a cursor until the fill is done
        total += uses;
        if (total > UINT32_MAX)
            throw KV_ListAllocError();
    }
    if (total > munCapacity)
    {
        mkPolygons.reset();
        mkPolygons.reset(new unsigned int[total]);
        munCapacity = total;
    }
    unsigned int* const indices = mkPolygons.get();
    each([this, indices](unsigned int r, unsigned int p) { indices[mkStart[r]++] = p; });
    for (std::size_t r = mkStart.size() - 1; r > 0; --r) mkStart[r] = mkStart[r - 1];
    mkStart[0] = 0;
}

void VertexPolygons(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                    IndexLists& result, KV_Executor* executor)
{
    // One run of indices, each vertex's polygons a stretch of it with one start per vertex
    // (a list object per vertex costs twice as much).
    Reset(result, vertexCount);
    std::vector<unsigned int> starts, indices;
    BuildVertexPolygonRows(vertexCount, polygons, executor, starts,
                           [&indices](std::size_t size)
                           {
                               indices.resize(size);
                               return indices.data();
                           });
    result.SetFlat(std::move(starts), std::move(indices));
}

template <typename VertexPolygonLists>
void VertexVerticesFromPolygonsOf(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                                  const VertexPolygonLists& vertexPolygons, IndexLists& result)
{
    MakeInnerLists(result, vertexCount, 6);
    if (polygons == nullptr)
        return;
    const unsigned int listed = std::min(vertexCount, vertexPolygons.Count());
    std::vector<unsigned int> seen(vertexCount, 0);
    for (unsigned int i = 0; i < listed; ++i)
        AppendPolygonNeighbours(i, vertexPolygons[i], *polygons, seen, result.Editable(i));
}

void VertexVerticesFromPolygons(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                                const IndexLists& vertexPolygons, IndexLists& result)
{
    VertexVerticesFromPolygonsOf(vertexCount, polygons, vertexPolygons, result);
}

void VertexVerticesFromPolygons(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                                const CompactVertexPolygons& vertexPolygons, IndexLists& result)
{
    VertexVerticesFromPolygonsOf(vertexCount, polygons, vertexPolygons, result);
}

void VertexVerticesFromEdges(unsigned int vertexCount, const KV_List<KV_Edge>& edges,
                             const IndexLists& vertexEdges, IndexLists& result)
{
    MakeInnerLists(result, vertexCount, 6);
    const unsigned int listed = std::min(vertexCount, vertexEdges.Count());
    for (unsigned int i = 0; i < listed; ++i)
    {
        const KV_IndexView around = vertexEdges[i];
        for (unsigned int k = 0; k < around.Count(); ++k)
        {
            if (around[k] >= edges.Count())
                continue;
            const KV_Edge& e = edges[around[k]];
            result[i].Append(e.first == i ? e.second : e.first);
        }
    }
}

template <typename VertexPolygonLists>
void SharedEdgePolygonsOf(const KV_List<KV_Polygon>* polygons,
                          const VertexPolygonLists& vertexPolygons, unsigned int a, unsigned int b,
                          std::vector<unsigned int>& result)
{
    if (a >= vertexPolygons.Count())
        return;
    const unsigned int polygonCount = PolygonCount(polygons);
    const auto& around = vertexPolygons[a];
    for (unsigned int k = 0; k < around.Count(); ++k)
    {
        const unsigned int p = around[k];
        if (p >= polygonCount)
            continue;
        for (unsigned int n = Occurrences((*polygons)[p], b); n > 0; --n) result.push_back(p);
    }
}

void SharedEdgePolygons(const KV_List<KV_Polygon>* polygons, const IndexLists& vertexPolygons,
                        unsigned int a, unsigned int b, std::vector<unsigned int>& result)
{
    SharedEdgePolygonsOf(polygons, vertexPolygons, a, b, result);
}

void SharedEdgePolygons(const KV_List<KV_Polygon>* polygons,
                        const CompactVertexPolygons& vertexPolygons, unsigned int a, unsigned int b,
                        std::vector<unsigned int>& result)
{
    SharedEdgePolygonsOf(polygons, vertexPolygons, a, b, result);
}

namespace
{
// The shared-edge lookup for a whole derivation. Walking a vertex's polygons for every edge
// at it costs its valence squared (a fan of a million triangles about one vertex would take
// an hour), and counting an index in a polygon costs the polygon's length per edge (one
// polygon of a million vertices likewise). So a vertex with many polygons gets, on first
// use, the list of (other vertex, position in its vertex-polygon list) pairs of its small
// polygons, sorted; and a long polygon gets its (vertex, position) pairs sorted. A lookup
// then costs a log plus what it returns, plus one count per long polygon around a busy
// vertex. The results are those of the walk, in the same order, whatever the lists hold.
template <typename VertexPolygonLists>
class SharedEdgeIndex
{
public:
    SharedEdgeIndex(const KV_List<KV_Polygon>* polygons, const VertexPolygonLists& vertexPolygons)
        : mpPolygons(polygons),
          mkVertexPolygons(vertexPolygons),
          munPolygonCount(PolygonCount(polygons))
    {
    }

    // Appends the polygons sharing edge (a, b), as SharedEdgePolygons does.
    void Find(unsigned int a, unsigned int b, std::vector<unsigned int>& result)
    {
        if (a >= mkVertexPolygons.Count())
            return;
        const auto& around = mkVertexPolygons[a];
        if (around.Count() <= kFewPolygons)
        {
            for (unsigned int k = 0; k < around.Count(); ++k) Emit(around[k], b, result);
            return;
        }
        const Busy& busy = BusyVertex(a);
        auto small = std::lower_bound(busy.small.begin(), busy.small.end(),
                                      std::pair<unsigned int, unsigned int>(b, 0));
        auto large = busy.large.begin();
        // Both runs hold positions in ascending order: merge them.
        while (true)
        {
            const bool haveSmall = small != busy.small.end() && small->first == b;
            const bool haveLarge = large != busy.large.end();
            if (!haveSmall && !haveLarge)
                break;
            if (haveSmall && (!haveLarge || small->second < *large))
                Emit(around[(small++)->second], b, result);
            else
                Emit(around[*large++], b, result);
        }
    }

    // The first position of v in polygon p, or p's length when v is not in it.
    unsigned int FirstPosition(unsigned int p, unsigned int v)
    {
        const KV_PolygonView& polygon = (*mpPolygons)[p];
        const unsigned int n = polygon.Count();
        if (n <= kShortPolygon)
        {
            unsigned int k = 0;
            while (k < n && polygon[k] != v) ++k;
            return k;
        }
        const auto& sorted = SortedPolygon(p);
        auto it = std::lower_bound(sorted.begin(), sorted.end(),
                                   std::pair<unsigned int, unsigned int>(v, 0));
        return it != sorted.end() && it->first == v ? it->second : n;
    }

private:
    static const unsigned int kFewPolygons = 16;
    static const unsigned int kShortPolygon = 16;

    struct Busy
    {
        // (other vertex, position) for the polygons of at most kShortPolygon vertices, each
        // pair once, sorted.
        std::vector<std::pair<unsigned int, unsigned int>> small;
        // Positions of the longer polygons, ascending.
        std::vector<unsigned int> large;
    };

    // Appends p once for each of its entries equal to b.
    void Emit(unsigned int p, unsigned int b, std::vector<unsigned int>& result)
    {
        if (p >= munPolygonCount)
            return;
        for (unsigned int n = Count(p, b); n > 0; --n) result.push_back(p);
    }

    unsigned int Count(unsigned int p, unsigned int v)
    {
        const KV_PolygonView& polygon = (*mpPolygons)[p];
        if (polygon.Count() <= kShortPolygon)
            return Occurrences(polygon, v);
        const auto& sorted = SortedPolygon(p);
        const auto range = std::equal_range(
            sorted.begin(), sorted.end(), std::pair<unsigned int, unsigned int>(v, 0),
            [](const std::pair<unsigned int, unsigned int>& x,
               const std::pair<unsigned int, unsigned int>& y) { return x.first < y.first; });
        return static_cast<unsigned int>(range.second - range.first);
    }

    const std::vector<std::pair<unsigned int, unsigned int>>& SortedPolygon(unsigned int p)
    {
        auto found = mkSortedPolygons.find(p);
        if (found != mkSortedPolygons.end())
            return found->second;
        const KV_PolygonView& polygon = (*mpPolygons)[p];
        std::vector<std::pair<unsigned int, unsigned int>> sorted(polygon.Count());
        for (unsigned int k = 0; k < polygon.Count(); ++k) sorted[k] = {polygon[k], k};
        std::sort(sorted.begin(), sorted.end());
        return mkSortedPolygons.emplace(p, std::move(sorted)).first->second;
    }

    const Busy& BusyVertex(unsigned int a)
    {
        auto found = mkBusy.find(a);
        if (found != mkBusy.end())
            return found->second;
        Busy busy;
        const auto& around = mkVertexPolygons[a];
        for (unsigned int k = 0; k < around.Count(); ++k)
        {
            const unsigned int p = around[k];
            if (p >= munPolygonCount)
                continue;
            const KV_PolygonView& polygon = (*mpPolygons)[p];
            if (polygon.Count() > kShortPolygon)
            {
                busy.large.push_back(k);
                continue;
            }
            for (unsigned int m = 0; m < polygon.Count(); ++m)
                busy.small.push_back({polygon[m], k});
        }
        std::sort(busy.small.begin(), busy.small.end());
        busy.small.erase(std::unique(busy.small.begin(), busy.small.end()), busy.small.end());
        return mkBusy.emplace(a, std::move(busy)).first->second;
    }

    const KV_List<KV_Polygon>* mpPolygons;
    const VertexPolygonLists& mkVertexPolygons;
    unsigned int munPolygonCount;
    std::unordered_map<unsigned int, Busy> mkBusy;
    std::unordered_map<unsigned int, std::vector<std::pair<unsigned int, unsigned int>>>
        mkSortedPolygons;
};
}  // namespace

template <typename VertexPolygonLists>
void PolygonPolygonsOf(const KV_List<KV_Polygon>* polygons,
                       const VertexPolygonLists& vertexPolygons, IndexLists& result)
{
    const unsigned int polygonCount = PolygonCount(polygons);
    MakeInnerLists(result, polygonCount, 4);
    SharedEdgeIndex<VertexPolygonLists> index(polygons, vertexPolygons);
    std::vector<unsigned int> shared;
    for (unsigned int i = 0; i < polygonCount; ++i)
    {
        const KV_PolygonView& polygon = (*polygons)[i];
        const unsigned int n = polygon.Count();
        for (unsigned int j = 0; j < n; ++j)
        {
            shared.clear();
            index.Find(polygon[j], polygon[j + 1 < n ? j + 1 : 0], shared);
            for (unsigned int q : shared)
                if (q != i)
                    result[i].Append(q);
        }
    }
}

void PolygonPolygons(const KV_List<KV_Polygon>* polygons, const IndexLists& vertexPolygons,
                     IndexLists& result)
{
    PolygonPolygonsOf(polygons, vertexPolygons, result);
}

void PolygonPolygons(const KV_List<KV_Polygon>* polygons,
                     const CompactVertexPolygons& vertexPolygons, IndexLists& result)
{
    PolygonPolygonsOf(polygons, vertexPolygons, result);
}

// The edge pass keeps, per vertex, the open list of higher partners whose edge has been used
// an odd number of times so far; an edge is added whenever it is opened. Only membership is
// ever read (the flags), so a list is kept unordered, and a vertex whose list grows long
// (a vertex with very many edges) gets a hash set instead, so that no vertex makes the pass
// quadratic. The lists share one array, each with room for every use of an edge whose smaller
// vertex is its own (a list never holds more): one block to make and to free, where a list
// for each vertex made a stop in the pass wait while millions of small blocks were freed.
//
// The edge list follows the order of first use, so it takes one pass with every list at once.
// The flags alone are made a slice of smaller vertices at a time, with one pass a slice over
// the stretches of polygons that hold its vertices: the array then holds a slice's uses (an
// eighth of them, or 4M, whichever is more), not every use at once (48 MB at 4M triangles).
// The lists' starts are 32 bits wide whenever the uses fit, and a list's length (which stops
// one past the limit) is a byte: 12 bytes a vertex less, 96 MB at 16M triangles.
template <typename Offset>
void EdgesWithOffsets(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons,
                      KV_List<KV_Edge>* edges, KV_List<char>* vertexBoundaries,
                      std::size_t sliceUses)
{
    const std::size_t kLongList = 32;
    static_assert(kLongList + 1 <= UINT8_MAX, "a list's length is a byte");
    std::vector<Offset> start(static_cast<std::size_t>(vertexCount) + 1, 0);
    const StretchRanges stretches = ForEachEdgeNotingStretches(polygons,
                                                               [&](unsigned int a, unsigned int b)
                                                               {
                                                                   if (std::max(a, b) < vertexCount)
                                                                       ++start[std::min(a, b) + 1];
                                                               });
    for (unsigned int v = 0; v < vertexCount; ++v) start[v + 1] += start[v];
    const std::size_t total = start[vertexCount];
    const std::size_t budget =
        edges != nullptr ? total
                         : (sliceUses != 0 ? sliceUses
                                           : std::max<std::size_t>(std::size_t(1) << 22, total / 8 + 1));
    std::vector<std::uint8_t> openCount(vertexCount, 0);
    std::unordered_map<unsigned int, std::unordered_set<unsigned int>> longOpen;

    if (edges)
    {
        const std::uint64_t blockSize =
            static_cast<std::uint64_t>(PolygonCount(polygons)) + vertexCount + 256;
        Reset(*edges, static_cast<unsigned int>(std::min<std::uint64_t>(blockSize, UINT32_MAX)));
    }
    if (vertexBoundaries)
    {
        Reset(*vertexBoundaries, vertexCount);
        vertexBoundaries->SetCount(vertexCount);
        for (unsigned int v = 0; v < vertexCount; ++v) (*vertexBoundaries)[v] = 0;
    }
    std::unique_ptr<unsigned int[]> slots;
    for (unsigned int low = 0, high = 0; low < vertexCount; low = high)
    {
        // Whole smaller vertices, at least one.
        high = low + 1;
        while (high < vertexCount && start[high + 1] - start[low] <= budget) ++high;
        slots.reset();
        slots.reset(new unsigned int[start[high] - start[low]]);
        longOpen.clear();
        ForEachEdgeNear(polygons, stretches, low, high,
                        [&](unsigned int a, unsigned int b)
                        {
                            const unsigned int e = std::min(a, b), f = std::max(a, b);
                            if (f >= vertexCount || e < low || e >= high)
                                return;
                            unsigned int* list = slots.get() + (start[e] - start[low]);
                            std::uint8_t& count = openCount[e];
                            bool opened;
                            if (count > kLongList)
                            {
                                // The count stays past the limit as the mark that the set is used.
                                std::unordered_set<unsigned int>& set = longOpen[e];
                                opened = set.insert(f).second;
                                if (!opened)
                                    set.erase(f);
                            }
                            else
                            {
                                unsigned int* it = std::find(list, list + count, f);
                                opened = it == list + count;
                                if (opened)
                                {
                                    list[count++] = f;
                                    if (count > kLongList)
                                        longOpen[e].insert(list, list + count);
                                }
                                else
                                {
                                    *it = list[count - 1];
                                    --count;
                                }
                            }
                            if (opened && edges)
                                edges->Append(KV_Edge(e, f));
                        });
        if (vertexBoundaries == nullptr)
            continue;
        auto flag = [&](unsigned int e, unsigned int f)
        {
            (*vertexBoundaries)[e] = 1;
            (*vertexBoundaries)[f] = 1;
        };
        for (unsigned int e = low; e < high; ++e)
            if (openCount[e] <= kLongList)
                for (unsigned int k = 0; k < openCount[e]; ++k)
                    flag(e, slots[start[e] - start[low] + k]);
        for (const auto& entry : longOpen)
            for (unsigned int f : entry.second) flag(entry.first, f);
    }
}

void Edges(unsigned int vertexCount, const KV_List<KV_Polygon>* polygons, KV_List<KV_Edge>* edges,
           KV_List<char>* vertexBoundaries, std::size_t sliceUses)
{
    // A polygon uses no more edges than it has corners.
    std::uint64_t corners = 0;
    if (polygons != nullptr)
        KV_ForEachPolygon(
            *polygons, 0, polygons->Count(), [](unsigned int) {},
            [&corners](unsigned int, const auto& polygon) { corners += polygon.Count(); });
    if (corners < UINT32_MAX)
        EdgesWithOffsets<std::uint32_t>(vertexCount, polygons, edges, vertexBoundaries, sliceUses);
    else
        EdgesWithOffsets<std::size_t>(vertexCount, polygons, edges, vertexBoundaries, sliceUses);
}

std::vector<DirectedEdge> UnchainedBoundaryEdgesBySort(const KV_List<KV_Polygon>* polygons)
{
    std::vector<DirectedEdge> edges;
    std::size_t corners = 0;
    for (unsigned int p = 0; p < PolygonCount(polygons); ++p) corners += (*polygons)[p].Count();
    edges.reserve(corners);
    ThrowIfStopped();
    ForEachPolygonEdge(polygons, [&](unsigned int a, unsigned int b) { edges.push_back({a, b}); });
    SortByUndirectedKey(edges);
    ThrowIfStopped();

    // Cancel opposite neighbours from the end down; a cancelled pair is filled from the end
    // of the list, and the walk goes on two places lower.
    std::size_t count = edges.size();
    for (std::ptrdiff_t i = static_cast<std::ptrdiff_t>(count) - 1; i >= 2;)
    {
        if (Opposite(edges[i], edges[i - 1]))
        {
            edges[i] = edges[count - 1];
            edges[i - 1] = edges[count - 2];
            count -= 2;
            i -= 2;
        }
        else
        {
            i -= 1;
        }
    }
    if (count >= 2 && Opposite(edges[1], edges[0]))
    {
        edges[1] = edges[count - 1];
        edges[0] = edges[count - 2];
        count -= 2;
    }
    edges.resize(count);
    return edges;
}

namespace
{
// The directed edges sorted as SortByUndirectedKey sorts them, handed out one slice of
// smaller vertices at a time, from the largest down: only a slice of the list is ever held,
// not the whole list and a sort buffer beside it (two 96 MB arrays for 4M triangles). Each
// slice is made by one pass over the stretches of polygons that hold its vertices (edges land
// in polygon order, so the order among equal keys is kept) and ordered by the larger vertex
// within each smaller one.
class SortedEdgeSlices
{
public:
    // vertexRange: one past the largest vertex index; degrees: for each smaller vertex, the
    // number of edges whose smaller vertex it is.
    // stretches: the polygons' stretch ranges.
    SortedEdgeSlices(const KV_List<KV_Polygon>* polygons, std::vector<std::uint32_t> degrees,
                     StretchRanges stretches, std::size_t total, std::size_t sliceEdges)
        : mpPolygons(polygons),
          mkDegrees(std::move(degrees)),
          mkStretches(std::move(stretches)),
          // Where the polygons do not run in rows, each slice costs a pass over every polygon:
          // with slices of a fixed size the passes would grow with the surface, and the time
          // with its square. At most eight slices (an eighth of the list), however large.
          munSliceEdges(sliceEdges != 0
                            ? sliceEdges
                            : std::max<std::size_t>(std::size_t(1) << 22, total / 8 + 1)),
          munHigh(mkDegrees.size()),
          munTotal(total)
    {
    }

    // Makes the next slice below the last one; false when none is left. The slice holds the
    // edges of global positions [Begin(), Begin() + Slice().size()).
    bool Next()
    {
        if (munHigh == 0)
            return false;
        // Whole smaller vertices, about kSliceEdges edges, at least one vertex.
        std::size_t edges = 0;
        std::size_t low = munHigh;
        while (low > 0 && (edges == 0 || edges + mkDegrees[low - 1] <= munSliceEdges))
            edges += mkDegrees[--low];
        mkSlice.clear();
        mkSlice.resize(edges);
        mkOffsets.assign(munHigh - low + 1, 0);
        for (std::size_t v = low; v < munHigh; ++v)
            mkOffsets[v - low + 1] = mkOffsets[v - low] + mkDegrees[v];
        const std::size_t lowVertex = low, highVertex = munHigh;
        ForEachEdgeNear(mpPolygons, mkStretches, lowVertex, highVertex,
                        [&](unsigned int a, unsigned int b)
                        {
                            const unsigned int smaller = std::min(a, b);
                            if (smaller >= lowVertex && smaller < highVertex)
                                mkSlice[mkOffsets[smaller - lowVertex]++] = {a, b};
                        });
        // Within one smaller vertex, by the larger one, keeping the polygon order.
        std::size_t begin = 0;
        for (std::size_t v = low; v < munHigh; ++v)
        {
            const std::size_t end = begin + mkDegrees[v];
            auto larger = [](const DirectedEdge& x, const DirectedEdge& y)
            { return std::max(x.first, x.second) < std::max(y.first, y.second); };
            if (end - begin <= 32)
            {
                for (std::size_t i = begin + 1; i < end; ++i)
                    for (std::size_t j = i; j > begin && larger(mkSlice[j], mkSlice[j - 1]); --j)
                        std::swap(mkSlice[j], mkSlice[j - 1]);
            }
            else
            {
                std::stable_sort(mkSlice.begin() + static_cast<std::ptrdiff_t>(begin),
                                 mkSlice.begin() + static_cast<std::ptrdiff_t>(end), larger);
            }
            begin = end;
        }
        munTotal -= edges;
        munHigh = low;
        return true;
    }
    std::size_t Begin() const { return munTotal; }
    const std::vector<DirectedEdge>& Slice() const { return mkSlice; }

private:
    const KV_List<KV_Polygon>* mpPolygons;
    std::vector<std::uint32_t> mkDegrees;
    StretchRanges mkStretches;
    std::size_t munSliceEdges;
    std::vector<std::uint32_t> mkOffsets;
    std::vector<DirectedEdge> mkSlice;
    std::size_t munHigh;
    std::size_t munTotal;
};

// The slices of the polygons' sorted edges; null when there is no edge, or when vertex numbers
// run far beyond the corners (a damaged file), whose degree table would be larger than the
// edges themselves: the caller then sorts the whole list.
std::unique_ptr<SortedEdgeSlices> MakeSortedEdgeSlices(const KV_List<KV_Polygon>* polygons,
                                                       std::size_t sliceEdges)
{
    std::size_t corners = 0;
    unsigned int largest = 0;
    StretchRanges stretches = ForEachEdgeNotingStretches(polygons,
                                                         [&](unsigned int a, unsigned int)
                                                         {
                                                             ++corners;
                                                             largest = std::max(largest, a);
                                                         });
    if (corners == 0 || corners > UINT32_MAX || largest >= 2 * corners + 1024)
        return nullptr;
    std::vector<std::uint32_t> degrees(static_cast<std::size_t>(largest) + 1, 0);
    ForEachPolygonEdge(polygons, [&](unsigned int a, unsigned int b) { ++degrees[std::min(a, b)]; });
    return std::make_unique<SortedEdgeSlices>(polygons, std::move(degrees), std::move(stretches),
                                              corners, sliceEdges);
}
}  // namespace

std::size_t OversharedEdgeCount(const KV_List<KV_Polygon>* polygons, std::size_t sliceEdges)
{
    std::size_t overshared = 0;
    auto countRuns = [&overshared](const std::vector<DirectedEdge>& sorted)
    {
        // Sorted by (smaller, larger): equal edges are neighbours. An edge from a vertex to
        // itself is no edge.
        for (std::size_t i = 0; i < sorted.size();)
        {
            const unsigned int a = std::min(sorted[i].first, sorted[i].second);
            const unsigned int b = std::max(sorted[i].first, sorted[i].second);
            std::size_t j = i + 1;
            while (j < sorted.size() && std::min(sorted[j].first, sorted[j].second) == a &&
                   std::max(sorted[j].first, sorted[j].second) == b)
                ++j;
            overshared += a != b && j - i > 2 ? 1 : 0;
            i = j;
        }
    };
    const std::unique_ptr<SortedEdgeSlices> sorted = MakeSortedEdgeSlices(polygons, sliceEdges);
    if (!sorted)
    {
        std::vector<DirectedEdge> edges;
        ForEachPolygonEdge(polygons, [&](unsigned int a, unsigned int b) { edges.push_back({a, b}); });
        SortByUndirectedKey(edges);
        countRuns(edges);
        return overshared;
    }
    // Slices hold whole smaller vertices, so no run of equal edges straddles two.
    while (sorted->Next())
    {
        ThrowIfStopped();
        countRuns(sorted->Slice());
    }
    return overshared;
}

// The same list as UnchainedBoundaryEdgesBySort, without holding every edge. That one walks
// the sorted list from the end down, cancelling opposite neighbours and filling each
// cancelled pair's places with the last two edges of the list. Seen from the walk, the edges
// above the current place are a deque: an edge the walk passes joins it at the bottom, and a
// cancelled pair moves the deque's top two edges, in their order, to its bottom. Only the
// survivors are held; the sorted list is made and walked a slice at a time.
std::vector<DirectedEdge> UnchainedBoundaryEdges(const KV_List<KV_Polygon>* polygons,
                                                 std::size_t sliceEdges)
{
    const std::unique_ptr<SortedEdgeSlices> sorted = MakeSortedEdgeSlices(polygons, sliceEdges);
    if (!sorted)
        return UnchainedBoundaryEdgesBySort(polygons);
    const std::size_t corners = sorted->Begin();

    std::deque<DirectedEdge> above;  // bottom first
    DirectedEdge lowest[2] = {};     // the edges at places 0 and 1, which the walk leaves
    std::ptrdiff_t i = static_cast<std::ptrdiff_t>(corners) - 1;
    while (sorted->Next())
    {
        ThrowIfStopped();
        const std::vector<DirectedEdge>& slice = sorted->Slice();
        const std::ptrdiff_t begin = static_cast<std::ptrdiff_t>(sorted->Begin());
        for (std::ptrdiff_t k = 0; k < 2; ++k)
            if (k >= begin && k < begin + static_cast<std::ptrdiff_t>(slice.size()))
                lowest[k] = slice[static_cast<std::size_t>(k - begin)];
        auto at = [&](std::ptrdiff_t place) { return slice[static_cast<std::size_t>(place - begin)]; };
        // An opposite pair shares its smaller vertex, so never straddles two slices.
        while (i >= 2 && i >= begin)
        {
            if (i - 1 >= begin && Opposite(at(i), at(i - 1)))
            {
                if (above.size() >= 2)
                {
                    const DirectedEdge top = above.back();
                    above.pop_back();
                    const DirectedEdge next = above.back();
                    above.pop_back();
                    above.push_front(top);
                    above.push_front(next);
                }
                i -= 2;
            }
            else
            {
                above.push_front(at(i));
                i -= 1;
            }
        }
    }

    // What the walk leaves: the places it did not reach, then the deque.
    std::vector<DirectedEdge> edges;
    edges.reserve(static_cast<std::size_t>(std::max<std::ptrdiff_t>(i + 1, 0)) + above.size());
    for (std::ptrdiff_t k = 0; k <= i; ++k) edges.push_back(lowest[k]);
    edges.insert(edges.end(), above.begin(), above.end());
    above.clear();
    const std::size_t count = edges.size();
    if (count >= 2 && Opposite(edges[1], edges[0]))
    {
        edges[1] = edges[count - 1];
        edges[0] = edges[count - 2];
        edges.resize(count - 2);
    }
    return edges;
}

// The chaining takes, for each position i, the first edge at or after i that starts where
// edge i-1 ends. Positions are handed out in increasing order, so for each start vertex a
// min-heap of the positions (at or after i) of the edges starting there finds that edge in
// O(log n); a swap only moves the edge at i to the position just taken.
void ChainEdges(std::vector<DirectedEdge>& edges)
{
    const std::size_t n = edges.size();
    if (n < 2)
        return;
    std::vector<std::pair<unsigned int, unsigned int>> byStart(n);
    for (std::size_t k = 0; k < n; ++k) byStart[k] = {edges[k].first, static_cast<unsigned int>(k)};
    std::sort(byStart.begin(), byStart.end());
    ThrowIfStopped();

    std::vector<unsigned int> groupVertex;
    std::vector<std::size_t> groupStart;
    std::vector<std::size_t> groupSize;
    std::vector<unsigned int> heap(n);
    for (std::size_t k = 0; k < n; ++k)
    {
        if (k == 0 || byStart[k].first != byStart[k - 1].first)
        {
            groupVertex.push_back(byStart[k].first);
            groupStart.push_back(k);
            groupSize.push_back(0);
        }
        // Ascending positions already form a valid min-heap.
        heap[k] = byStart[k].second;
        ++groupSize.back();
    }

    auto find = [&](unsigned int v) -> std::ptrdiff_t
    {
        auto it = std::lower_bound(groupVertex.begin(), groupVertex.end(), v);
        if (it == groupVertex.end() || *it != v)
            return -1;
        return it - groupVertex.begin();
    };
    auto popMin = [&](std::size_t g)
    {
        auto first = heap.begin() + groupStart[g];
        std::pop_heap(first, first + groupSize[g], std::greater<unsigned int>());
        --groupSize[g];
    };
    auto push = [&](std::size_t g, unsigned int position)
    {
        auto first = heap.begin() + groupStart[g];
        first[groupSize[g]] = position;
        ++groupSize[g];
        std::push_heap(first, first + groupSize[g], std::greater<unsigned int>());
    };

    popMin(static_cast<std::size_t>(find(edges[0].first)));
    for (std::size_t i = 1; i < n; ++i)
    {
        if (i % kStopCheckPolygons == 0)
            ThrowIfStopped();
        const std::ptrdiff_t gv = find(edges[i - 1].second);
        const std::size_t gi = static_cast<std::size_t>(find(edges[i].first));
        if (gv >= 0 && groupSize[gv] > 0)
        {
            const unsigned int j = heap[groupStart[gv]];
            popMin(static_cast<std::size_t>(gv));
            if (j != i)
            {
                popMin(gi);
                push(gi, j);
                std::swap(edges[i], edges[j]);
            }
        }
        else
        {
            popMin(gi);
        }
    }
}

void BuildLoops(const std::vector<DirectedEdge>& edges, KV_List<KV_Boundary>& result)
{
    // The loops are gathered flat first and then each is stored in one step, so that a loop
    // holds only its own vertices (a triangle soup has a loop per triangle) and not a whole
    // block of 256.
    std::vector<unsigned int> vertices;
    std::vector<std::size_t> starts;
    vertices.reserve(edges.size() + 1);
    auto newLoop = [&](unsigned int v)
    {
        starts.push_back(vertices.size());
        vertices.push_back(v);
    };

    const std::size_t n = edges.size();
    newLoop(edges[0].first);
    for (std::size_t i = 0; i < n;)
    {
        const unsigned int loopFirst = vertices[starts.back()];
        const unsigned int loopLast = vertices.back();
        if (edges[i].first == loopLast && edges[i].second == loopFirst && i != n - 1)
        {
            vertices.push_back(loopFirst);
            newLoop(edges[i + 1].first);
            ++i;
        }
        else if (edges[i].first != loopLast)
        {
            newLoop(edges[i].first);
        }
        vertices.push_back(edges[i].second);
        ++i;
    }
    starts.push_back(vertices.size());

    Reset(result, 8);
    const unsigned int loops = static_cast<unsigned int>(starts.size() - 1);
    result.SetCount(loops);
    for (unsigned int k = 0; k < loops; ++k)
    {
        // Each loop ends with its first vertex repeated; that copy is dropped.
        const std::size_t begin = starts[k];
        const unsigned int count = static_cast<unsigned int>(starts[k + 1] - begin) - 1;
        KV_Boundary& loop = result[k];
        loop.SetCountTight(count);
        for (unsigned int m = 0; m < count; ++m) loop[m] = vertices[begin + m];
    }
}

StopScope::StopScope(const std::atomic<bool>* flag) : mpOuter(tStop) { tStop = flag; }

StopScope::~StopScope() { tStop = mpOuter; }

bool Boundaries(const KV_List<KV_Polygon>* polygons, KV_List<KV_Boundary>& result)
{
    std::vector<DirectedEdge> edges = UnchainedBoundaryEdges(polygons);
    if (edges.empty())
        return false;
    ChainEdges(edges);
    BuildLoops(edges, result);
    return true;
}

void VertexEdges(unsigned int vertexCount, const KV_List<KV_Edge>& edges, IndexLists& result)
{
    MakeInnerLists(result, vertexCount, 6);
    for (unsigned int j = 0; j < edges.Count(); ++j)
    {
        if (edges[j].first < vertexCount)
            result[edges[j].first].Append(j);
        if (edges[j].second < vertexCount)
            result[edges[j].second].Append(j);
    }
}

template <typename VertexPolygonLists>
void PolygonEdgesOf(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                    const VertexPolygonLists& vertexPolygons, SignedIndexLists& result)
{
    const unsigned int polygonCount = PolygonCount(polygons);
    MakeInnerLists(result, polygonCount, 4);
    SharedEdgeIndex<VertexPolygonLists> index(polygons, vertexPolygons);
    std::vector<unsigned int> shared;
    for (unsigned int j = 0; j < edges.Count(); ++j)
    {
        const unsigned int a = edges[j].first;
        const unsigned int b = edges[j].second;
        shared.clear();
        index.Find(a, b, shared);
        for (unsigned int p : shared)
        {
            const KV_PolygonView& polygon = (*polygons)[p];
            const unsigned int n = polygon.Count();
            const unsigned int k = index.FirstPosition(p, a);
            const bool forward = k < n && polygon[k + 1 < n ? k + 1 : 0] == b;
            result[p].Append(forward ? static_cast<int>(j) : -static_cast<int>(j) - 1);
        }
    }

    std::vector<int> chain;
    for (unsigned int p = 0; p < polygonCount; ++p)
    {
        KV_List<int>& references = result[p];
        chain.assign(references.Count(), 0);
        for (unsigned int k = 0; k < references.Count(); ++k) chain[k] = references[k];
        ChainPolygonEdges(edges, chain);
        references.SetCount(static_cast<unsigned int>(chain.size()));
        for (unsigned int k = 0; k < chain.size(); ++k) references[k] = chain[k];
    }
}

void PolygonEdges(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                  const IndexLists& vertexPolygons, SignedIndexLists& result)
{
    PolygonEdgesOf(polygons, edges, vertexPolygons, result);
}

void PolygonEdges(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                  const CompactVertexPolygons& vertexPolygons, SignedIndexLists& result)
{
    PolygonEdgesOf(polygons, edges, vertexPolygons, result);
}

void ChainPolygonEdges(const KV_List<KV_Edge>& edges, std::vector<int>& references)
{
    const std::size_t m = references.size();
    if (m <= 1)
        return;
    std::size_t start = 0;
    for (std::size_t k = 1; k < m; ++k)
        if (EdgeIndexOf(references[k]) < EdgeIndexOf(references[start]))
            start = k;

    if (m <= kDirectChainLimit)
    {
        // Most polygons are triangles: chain on the stack, without allocating.
        int remaining[kDirectChainLimit];
        int chain[kDirectChainLimit];
        std::size_t remainingCount = 0;
        std::size_t chainCount = 0;
        for (std::size_t k = 0; k < m; ++k)
            if (k != start)
                remaining[remainingCount++] = references[k];
        chain[chainCount++] = references[start];
        while (remainingCount > 1)
        {
            const unsigned int end = EndVertex(edges, chain[chainCount - 1]);
            std::size_t k = 0;
            while (k < remainingCount && StartVertex(edges, remaining[k]) != end) ++k;
            if (k == remainingCount)
                break;
            chain[chainCount++] = remaining[k];
            std::copy(remaining + k + 1, remaining + remainingCount, remaining + k);
            --remainingCount;
        }
        if (remainingCount > 0)
            chain[chainCount++] = remaining[0];
        references.assign(chain, chain + chainCount);
        return;
    }

    std::vector<int> chain;
    chain.reserve(m);
    chain.push_back(references[start]);

    // The first remaining reference with a given start vertex is always the one taken, so
    // the references of each start vertex are used up front to back.
    std::vector<std::pair<unsigned int, std::size_t>> byStart;
    byStart.reserve(m - 1);
    for (std::size_t k = 0; k < m; ++k)
        if (k != start)
            byStart.push_back({StartVertex(edges, references[k]), k});
    std::sort(byStart.begin(), byStart.end());
    std::vector<std::size_t> cursor(byStart.size());
    for (std::size_t k = 0; k < byStart.size(); ++k) cursor[k] = k;
    std::vector<bool> taken(m, false);
    taken[start] = true;
    std::size_t remaining = m - 1;
    while (remaining > 1)
    {
        const unsigned int end = EndVertex(edges, chain.back());
        auto group = std::lower_bound(byStart.begin(), byStart.end(),
                                      std::pair<unsigned int, std::size_t>(end, 0));
        if (group == byStart.end() || group->first != end)
            break;
        std::size_t& next = cursor[static_cast<std::size_t>(group - byStart.begin())];
        if (next == byStart.size() || byStart[next].first != end)
            break;
        const std::size_t k = byStart[next].second;
        ++next;
        taken[k] = true;
        chain.push_back(references[k]);
        --remaining;
    }
    if (remaining > 0)
    {
        std::size_t k = 0;
        while (taken[k]) ++k;
        chain.push_back(references[k]);
    }
    references.swap(chain);
}

template <typename VertexPolygonLists>
void EdgePolygonsOf(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                    const VertexPolygonLists& vertexPolygons, IndexLists& result)
{
    MakeInnerLists(result, edges.Count(), 2);
    SharedEdgeIndex<VertexPolygonLists> index(polygons, vertexPolygons);
    std::vector<unsigned int> shared;
    for (unsigned int j = 0; j < edges.Count(); ++j)
    {
        shared.clear();
        index.Find(edges[j].first, edges[j].second, shared);
        for (unsigned int p : shared) result[j].Append(p);
    }
}

void EdgePolygons(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                  const IndexLists& vertexPolygons, IndexLists& result)
{
    EdgePolygonsOf(polygons, edges, vertexPolygons, result);
}

void EdgePolygons(const KV_List<KV_Polygon>* polygons, const KV_List<KV_Edge>& edges,
                  const CompactVertexPolygons& vertexPolygons, IndexLists& result)
{
    EdgePolygonsOf(polygons, edges, vertexPolygons, result);
}

void TextureCoordinatePolygons(unsigned int coordinateCount,
                               const KV_List<KV_Polygon>* texturePolygons, IndexLists& result)
{
    // The outer block size is the caller's choice; only the contents are replaced.
    result.Clear();
    result.SetCount(coordinateCount);
    for (unsigned int t = 0; t < coordinateCount; ++t) result[t].SetBlockSize(12);
    const unsigned int count = PolygonCount(texturePolygons);
    for (unsigned int i = 0; i < count; ++i)
    {
        const KV_PolygonView& polygon = (*texturePolygons)[i];
        for (unsigned int k = 0; k < polygon.Count(); ++k)
            if (polygon[k] < coordinateCount)
                result[polygon[k]].Append(i);
    }
}

void AssignTextureCoordinateVertices(const KV_List<KV_Polygon>* polygons,
                                     const KV_List<KV_Polygon>* texturePolygons,
                                     KV_List<unsigned int>& result)
{
    const unsigned int count = std::min(PolygonCount(polygons), PolygonCount(texturePolygons));
    for (unsigned int i = 0; i < count; ++i)
    {
        ThrowIfStoppedAt(i);
        const KV_PolygonView& polygon = (*polygons)[i];
        const KV_PolygonView& texturePolygon = (*texturePolygons)[i];
        const unsigned int n = std::min(polygon.Count(), texturePolygon.Count());
        for (unsigned int j = 0; j < n; ++j)
            if (texturePolygon[j] < result.Count())
                result[texturePolygon[j]] = polygon[j];
    }
}
}  // namespace KV_SurfaceTopology
