#pragma once
// KV_TriangleCorners: the drawing's triangle list, three element indices per polygon (-1 for
// a polygon that is not drawn). Either a list of its own or, where the surface's texture
// polygons are the triangles themselves (every surface file), the pieces of their flat run,
// shared: the polygon list copies a piece before it changes it, so these corners stay as they
// were when the arrays were built, and a 4M-triangle surface does not hold its 48 MB twice.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

class KV_TriangleCorners
{
public:
    // Triangles per shared piece (the polygon list's run is cut the same way).
    static constexpr unsigned int kPieceShift = 14;
    static constexpr std::size_t kPieceTriangles = std::size_t(1) << kPieceShift;

    // The list's own corners, to fill; the shared pieces, if any, are let go.
    std::vector<int>& Own()
    {
        mkPieces.clear();
        munTriangles = 0;
        return mkOwn;
    }
    // Shares pieces of kPieceTriangles triangles each, the last one used only as far as
    // triangles reaches; every corner must name an element.
    void Share(std::vector<std::shared_ptr<const unsigned int[]>> pieces, std::size_t triangles)
    {
        std::vector<int>().swap(mkOwn);
        mkPieces = std::move(pieces);
        munTriangles = triangles;
    }
    bool IsShared() const { return !mkPieces.empty(); }

    // Corners, three per polygon.
    std::size_t size() const { return IsShared() ? 3 * munTriangles : mkOwn.size(); }
    int operator[](std::size_t corner) const { return Triangle(corner / 3)[corner % 3]; }
    // The three corners of polygon t.
    const int* Triangle(std::size_t t) const
    {
        if (!IsShared())
            return mkOwn.data() + 3 * t;
        return reinterpret_cast<const int*>(mkPieces[t >> kPieceShift].get()) +
               3 * (t & (kPieceTriangles - 1));
    }
    // Calls run(corners, count) for each stretch of corners in memory that together make up
    // the corners [first, first + count), in order.
    template <typename Run>
    void ForEachRun(std::size_t first, std::size_t count, Run run) const
    {
        if (!IsShared())
        {
            if (count != 0)
                run(reinterpret_cast<const unsigned int*>(mkOwn.data()) + first, count);
            return;
        }
        const std::size_t pieceCorners = 3 * kPieceTriangles;
        while (count != 0)
        {
            const std::size_t piece = first / pieceCorners, within = first % pieceCorners;
            const std::size_t n = std::min(count, pieceCorners - within);
            run(mkPieces[piece].get() + within, n);
            first += n;
            count -= n;
        }
    }
    // The pieces' starts as triangle lists of 2^RunShift() triangles each (one run, the own
    // list, when nothing is shared).
    unsigned int RunShift() const { return IsShared() ? kPieceShift : 63; }
    std::vector<const int*> Runs() const
    {
        if (!IsShared())
            return {mkOwn.data()};
        std::vector<const int*> runs;
        runs.reserve(mkPieces.size());
        for (const auto& piece : mkPieces)
            runs.push_back(reinterpret_cast<const int*>(piece.get()));
        return runs;
    }
    std::vector<int> ToVector() const
    {
        std::vector<int> all;
        all.reserve(size());
        ForEachRun(0, size(),
                   [&all](const unsigned int* corners, std::size_t n)
                   { all.insert(all.end(), corners, corners + n); });
        return all;
    }

private:
    std::vector<int> mkOwn;
    std::vector<std::shared_ptr<const unsigned int[]>> mkPieces;
    std::size_t munTriangles = 0;
};
