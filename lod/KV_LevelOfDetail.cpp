#include "lod/KV_LevelOfDetail.h"

#include "foundation/KV_Executor.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <functional>
#include <limits>

namespace
{
// Lists of up to twice this many triangles are simplified in one piece; larger ones in
// pieces of this many, near one another in space, whose outlines stay where they are, and
// then once more as a whole from a list about twice the target. Working memory then grows
// with a piece and with the target instead of with the whole list, and a stop request is
// seen between pieces.
constexpr std::size_t kPieceTriangles = 65536;
// The pieces together are simplified towards this many times the target. The pass over the
// whole holds the simplifier's working memory for all of what they leave (some 150 bytes a
// triangle), which is the top of a large surface's load: 1.5 rather than 2 times the target
// takes a quarter off it.
constexpr double kIntermediateFactor = 1.5;
// The edge-collapsing simplifier keeps outlines and seams, but stops where the error would
// pass this fraction of the surface's size; the sloppy one then always gets there.
constexpr float kShapeError = 0.02f;
constexpr float kSloppyError = 0.05f;

// Triangle t of a list kept in runs of 2^shift triangles each.
struct TriangleRuns
{
    const int* const* runs;
    unsigned int shift;
    const int* operator()(std::size_t t) const
    {
        return runs[t >> shift] + 3 * (t & ((std::size_t(1) << shift) - 1));
    }
};

bool Stopped(const std::atomic<bool>* stop)
{
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

bool Usable(const int* corner, std::size_t elementCount)
{
    for (int k = 0; k < 3; ++k)
        if (corner[k] < 0 || static_cast<std::size_t>(corner[k]) >= elementCount)
            return false;
    return true;
}

// The largest side of the box around points (three floats each); the simplifier measures
// its error against this.
float Extent(const float* points, std::size_t count)
{
    if (count == 0)
        return 0.0f;
    float low[3] = {points[0], points[1], points[2]};
    float high[3] = {low[0], low[1], low[2]};
    for (std::size_t i = 1; i < count; ++i)
        for (int a = 0; a < 3; ++a)
        {
            low[a] = std::min(low[a], points[3 * i + a]);
            high[a] = std::max(high[a], points[3 * i + a]);
        }
    return std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]});
}

// A part of the triangle list with vertices of its own: only the elements its triangles
// use, numbered from 0, and each one's element number.
struct Piece
{
    std::vector<unsigned int> indices;
    std::vector<float> positions;
    std::vector<unsigned int> elements;
};

// Makes pieces from element triangles; one table over all elements says where an element
// sits in the piece being made, and is cleared piece by piece.
class PieceMaker
{
public:
    PieceMaker(const float* positions, std::size_t elementCount)
        : mpPositions(positions), mkSlot(elementCount, kNone)
    {
    }

    void Add(Piece& piece, const unsigned int* corners)
    {
        for (int k = 0; k < 3; ++k)
        {
            const unsigned int element = corners[k];
            unsigned int& slot = mkSlot[element];
            if (slot == kNone)
            {
                slot = static_cast<unsigned int>(piece.elements.size());
                piece.elements.push_back(element);
                const float* p = mpPositions + 3 * static_cast<std::size_t>(element);
                piece.positions.insert(piece.positions.end(), p, p + 3);
            }
            piece.indices.push_back(slot);
        }
    }

    void Finish(const Piece& piece)
    {
        for (unsigned int element : piece.elements) mkSlot[element] = kNone;
    }

    // No more pieces: the table goes.
    void Release() { std::vector<unsigned int>().swap(mkSlot); }

private:
    static constexpr unsigned int kNone = std::numeric_limits<unsigned int>::max();
    const float* mpPositions;
    std::vector<unsigned int> mkSlot;
};

// Simplifies a piece towards targetIndices and appends the result as element numbers. The
// error allowed is kShapeError of surfaceExtent (the simplifier measures against the
// piece's own extent).
void SimplifyPiece(const Piece& piece, std::size_t targetIndices, float surfaceExtent,
                   unsigned int options, bool sloppyAfter, std::vector<unsigned int>& out)
{
    const std::size_t vertexCount = piece.elements.size();
    const float extent = Extent(piece.positions.data(), vertexCount);
    const float error = extent > 0.0f ? kShapeError * surfaceExtent / extent : kShapeError;
    std::vector<unsigned int> result(piece.indices.size());
    std::size_t count = meshopt_simplify(result.data(), piece.indices.data(), piece.indices.size(),
                                         piece.positions.data(), vertexCount, 3 * sizeof(float),
                                         targetIndices, error, options, nullptr);
    // Too many triangles left to be any faster.
    if (sloppyAfter && count > targetIndices * 3 / 2)
        count =
            meshopt_simplifySloppy(result.data(), piece.indices.data(), piece.indices.size(),
                                   piece.positions.data(), vertexCount, 3 * sizeof(float),
                                   targetIndices, kSloppyError * surfaceExtent / extent, nullptr);
    out.reserve(out.size() + count);
    for (std::size_t i = 0; i < count; ++i) out.push_back(piece.elements[result[i]]);
}

// Spreads the low 6 bits of v over every third bit.
std::uint32_t Spread(std::uint32_t v)
{
    v &= 0x3fu;
    v = (v | (v << 8)) & 0x0300f00fu;
    v = (v | (v << 4)) & 0x030c30c3u;
    v = (v | (v << 2)) & 0x09249249u;
    return v;
}

constexpr int kCellBits = 6;  // 64 cells along each side of the surface's box
constexpr std::size_t kCellCount = std::size_t(1) << (3 * kCellBits);

// The usable triangles in an order that keeps neighbours in space near one another in the
// list, as triangle numbers: sorted by the cell of their centres in a grid over the
// surface's box, the cells taken in Morton order (a counting sort: linear time, and 4 bytes
// a triangle). Empty when stopped.
std::vector<unsigned int> SpatialOrder(const float* positions, std::size_t elementCount,
                                       const TriangleRuns& triangles, std::size_t triangleCount,
                                       std::size_t usable, const std::atomic<bool>* stop)
{
    float low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
    bool first = true;
    for (std::size_t t = 0; t < triangleCount; ++t)
    {
        const int* corner = triangles(t);
        if (!Usable(corner, elementCount))
            continue;
        const float* p = positions + 3 * static_cast<std::size_t>(corner[0]);
        for (int a = 0; a < 3; ++a)
        {
            low[a] = first ? p[a] : std::min(low[a], p[a]);
            high[a] = first ? p[a] : std::max(high[a], p[a]);
        }
        first = false;
    }
    const float top = static_cast<float>((1 << kCellBits) - 1);
    float scale[3];
    for (int a = 0; a < 3; ++a) scale[a] = high[a] > low[a] ? top / (high[a] - low[a]) : 0.0f;
    auto cellOf = [&](const int* corner)
    {
        std::uint32_t cell[3];
        for (int a = 0; a < 3; ++a)
        {
            float centre = 0.0f;
            for (int k = 0; k < 3; ++k)
                centre += positions[3 * static_cast<std::size_t>(corner[k]) + a];
            // Written so that a position that is not a number lands in the first cell.
            const float x = (centre / 3.0f - low[a]) * scale[a];
            cell[a] = x > 0.0f ? static_cast<std::uint32_t>(std::min(x, top)) : 0u;
        }
        return Spread(cell[0]) | Spread(cell[1]) << 1 | Spread(cell[2]) << 2;
    };

    std::vector<unsigned int> start(kCellCount + 1, 0);
    for (std::size_t t = 0; t < triangleCount; ++t)
        if (Usable(triangles(t), elementCount))
            ++start[cellOf(triangles(t)) + 1];
    if (Stopped(stop))
        return {};
    for (std::size_t c = 0; c < kCellCount; ++c) start[c + 1] += start[c];
    std::vector<unsigned int> order(usable);
    for (std::size_t t = 0; t < triangleCount; ++t)
        if (Usable(triangles(t), elementCount))
            order[start[cellOf(triangles(t))]++] = static_cast<unsigned int>(t);
    return order;
}

}  // namespace

std::size_t KV_CoarseTriangleTarget(std::size_t triangles, double fullFrameSeconds)
{
    if (!(fullFrameSeconds > 0.0))
        return kCoarseTriangleLimit;
    // A coarse triangle costs about twice a full one (the simplified list has lost the
    // full list's drawing order), so the budget is 1/50 s at the full surface's rate: about
    // 1/25 s in practice, a rate above 20 frames a second with room to spare.
    const double affordable = static_cast<double>(triangles) * (1.0 / 50.0) / fullFrameSeconds;
    return static_cast<std::size_t>(
        std::clamp(affordable, 20000.0, static_cast<double>(kCoarseTriangleLimit)));
}

namespace
{
// KV_SimplifyTriangles; inputsRead, when given, is called once the inputs are read no more.
std::vector<unsigned int> Simplify(const float* positions, std::size_t elementCount,
                                   const TriangleRuns& triangles, std::size_t triangleCount,
                                   std::size_t targetTriangles, const std::atomic<bool>* stop,
                                   KV_Executor* executor, const std::function<void()>& inputsRead)
{
    std::vector<unsigned int> coarse;
    if (positions == nullptr || triangles.runs == nullptr || triangleCount <= targetTriangles ||
        elementCount > std::numeric_limits<unsigned int>::max() ||
        triangleCount > std::numeric_limits<unsigned int>::max())
        return coarse;
    std::size_t usable = 0;
    for (std::size_t t = 0; t < triangleCount; ++t) usable += Usable(triangles(t), elementCount);
    if (usable <= targetTriangles || Stopped(stop))
        return coarse;
    const float surfaceExtent = Extent(positions, elementCount);
    const std::size_t targetIndices = targetTriangles * 3;
    PieceMaker maker(positions, elementCount);

    // The list to simplify as a whole: the usable triangles themselves when few, else what
    // the pieces leave.
    std::vector<unsigned int> whole;
    if (usable <= 2 * kPieceTriangles)
    {
        whole.reserve(usable * 3);
        for (std::size_t t = 0; t < triangleCount; ++t)
            if (Usable(triangles(t), elementCount))
                whole.insert(whole.end(), triangles(t), triangles(t) + 3);
    }
    else
    {
        const std::vector<unsigned int> order =
            SpatialOrder(positions, elementCount, triangles, triangleCount, usable, stop);
        if (order.empty())
            return coarse;
        const double share = kIntermediateFactor * static_cast<double>(targetTriangles) /
                             static_cast<double>(usable);
        // The pieces are made here, one after another (they share the element table), and
        // simplified beside each other; their triangles join the list in piece order, as on
        // one thread. Two pieces a thread are held at once, so that memory stays that of a
        // few pieces.
        const std::size_t threads = executor != nullptr ? executor->ThreadCount() : 0;
        const std::size_t held = threads > 0 ? 2 * threads : 1;
        std::deque<KV_Task<std::vector<unsigned int>>> simplifying;
        auto join = [&]
        {
            const std::vector<unsigned int> part = simplifying.front().Get();
            simplifying.pop_front();
            whole.insert(whole.end(), part.begin(), part.end());
        };
        for (std::size_t begin = 0; begin < order.size(); begin += kPieceTriangles)
        {
            if (Stopped(stop))
            {
                // Pieces no thread has begun are not run at all.
                for (KV_Task<std::vector<unsigned int>>& task : simplifying) task.Abandon();
                return coarse;
            }
            const std::size_t end = std::min(order.size(), begin + kPieceTriangles);
            auto piece = std::make_shared<Piece>();
            for (std::size_t i = begin; i < end; ++i)
            {
                const int* corner = triangles(order[i]);
                const unsigned int corners[3] = {static_cast<unsigned int>(corner[0]),
                                                 static_cast<unsigned int>(corner[1]),
                                                 static_cast<unsigned int>(corner[2])};
                maker.Add(*piece, corners);
            }
            maker.Finish(*piece);
            const std::size_t pieceTarget =
                3 * std::max<std::size_t>(1, static_cast<std::size_t>(share * (end - begin)));
            simplifying.push_back(KV_Spawn(executor,
                                           [piece, pieceTarget, surfaceExtent]
                                           {
                                               std::vector<unsigned int> part;
                                               SimplifyPiece(*piece, pieceTarget, surfaceExtent,
                                                             meshopt_SimplifyLockBorder, false,
                                                             part);
                                               return part;
                                           }));
            if (simplifying.size() >= held)
                join();
        }
        while (!simplifying.empty()) join();
    }
    if (Stopped(stop))
        return coarse;
    // What the pieces left may be small enough already.
    if (whole.size() / 3 <= targetTriangles)
        return whole;

    Piece all;
    all.indices.reserve(whole.size());
    for (std::size_t i = 0; i < whole.size(); i += 3) maker.Add(all, whole.data() + i);
    maker.Release();
    if (inputsRead)
        inputsRead();
    std::vector<unsigned int>().swap(whole);
    SimplifyPiece(all, targetIndices, surfaceExtent, 0, true, coarse);
    coarse.shrink_to_fit();
    return coarse;
}
}  // namespace

std::vector<unsigned int> KV_SimplifyTriangles(const float* positions, std::size_t elementCount,
                                               const int* triangles, std::size_t triangleCount,
                                               std::size_t targetTriangles,
                                               const std::atomic<bool>* stop,
                                               KV_Executor* executor)
{
    if (triangles == nullptr)
        return {};
    // One run of every triangle.
    return Simplify(positions, elementCount, TriangleRuns{&triangles, 63}, triangleCount,
                    targetTriangles, stop, executor, {});
}

std::vector<unsigned int> KV_SimplifyTriangles(std::vector<float>&& positions,
                                               std::vector<int>&& triangles,
                                               std::size_t targetTriangles,
                                               const std::atomic<bool>* stop,
                                               KV_Executor* executor)
{
    std::vector<float> ownPositions = std::move(positions);
    std::vector<int> ownTriangles = std::move(triangles);
    const int* run = ownTriangles.data();
    return Simplify(ownPositions.data(), ownPositions.size() / 3, TriangleRuns{&run, 63},
                    ownTriangles.size() / 3, targetTriangles, stop, executor,
                    [&]
                    {
                        std::vector<float>().swap(ownPositions);
                        std::vector<int>().swap(ownTriangles);
                    });
}

std::vector<unsigned int> KV_SimplifyTriangleRuns(const float* positions, std::size_t elementCount,
                                                  const std::vector<const int*>& runs,
                                                  unsigned int runShift, std::size_t triangleCount,
                                                  std::size_t targetTriangles,
                                                  const std::atomic<bool>* stop,
                                                  KV_Executor* executor)
{
    if (runs.empty() || runShift > 63 ||
        std::find(runs.begin(), runs.end(), nullptr) != runs.end() ||
        (triangleCount > 0 && ((triangleCount - 1) >> runShift) >= runs.size()))
        return {};
    return Simplify(positions, elementCount, TriangleRuns{runs.data(), runShift}, triangleCount,
                    targetTriangles, stop, executor, {});
}
