#pragma once
// KV_Polygon: the vertex indices of one polygon, in order around the polygon. Its own type
// only so that polygon lists say what they hold; a new polygon grows in blocks of 4 indices.
//
// KV_List<KV_Polygon>: a polygon list with the block list's operations that keeps its
// polygons as one flat run of corners while every polygon in it has the same number of
// corners (at most kMaxFlatCorners): a triangle then costs 12 bytes instead of a 24-byte list
// object. The run is made of pieces of kFlatPiece polygons that never move, so no polygon is
// split and nothing moves as the list grows.
//
// The run's pieces can be shared with a reader that keeps them (the drawing's triangle list,
// a thread making a coarse copy): the list never writes into a piece it has shared, but
// copies the piece first, so the reader goes on seeing the corners as they were when shared.
//
// Polygons are reached through handles: KV_PolygonView to read, KV_PolygonRef to change.
// Writing corners in place keeps the list flat. Any other change turns the list, once, into
// the block list of KV_Polygon it stands for: a polygon of another size, a polygon grown or
// cut in place, a count past the polygons it has held. Editable(i) gives a real KV_Polygon&
// the same way. A shrink keeps the polygons past the new count, as a block list keeps its
// slots, and a later SetCount shows them again.

#include "foundation/KV_List.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class KV_Polygon : public KV_List<unsigned int>
{
public:
    explicit KV_Polygon(unsigned int blockSize = 4) : KV_List<unsigned int>(blockSize) {}
};

// KV_List has no virtual destructor: a derived list must stay a list and nothing more.
static_assert(sizeof(KV_Polygon) == sizeof(KV_List<unsigned int>), "KV_Polygon adds no members");

// A polygon to read: its corners in a flat run, or a KV_Polygon (the index view of any list).
// Valid while the list it came from is not changed other than by writing corners in place.
using KV_PolygonView = KV_IndexView;

template <>
class KV_List<KV_Polygon>;

// A polygon to change, by list and position. Assigning one handle to another copies the
// polygon; the handle is never re-aimed.
class KV_PolygonRef
{
public:
    KV_PolygonRef(KV_List<KV_Polygon>& list, unsigned int index) : mpList(&list), munIndex(index) {}
    KV_PolygonRef(const KV_PolygonRef&) = default;

    unsigned int Count() const;
    unsigned int& operator[](unsigned int j) const;
    operator KV_PolygonView() const;

    KV_PolygonRef& operator=(const KV_PolygonRef& other) { return Assign(other); }
    KV_PolygonRef& operator=(const KV_PolygonView& polygon) { return Assign(polygon); }
    KV_PolygonRef& operator=(const KV_Polygon& polygon) { return Assign(KV_PolygonView(polygon)); }
    // Another count than the flat run's turns the list into list objects first.
    void SetCount(unsigned int n) const;
    void Append(unsigned int corner) const;
    void Clear() const;
    // The polygon as a list object (the list turns into list objects).
    KV_Polygon& Editable() const;

private:
    KV_PolygonRef& Assign(KV_PolygonView polygon);

    KV_List<KV_Polygon>* mpList;
    unsigned int munIndex;
};

template <>
class KV_List<KV_Polygon>
{
public:
    static constexpr unsigned int kMaxFlatCorners = 64;
    static constexpr unsigned int kFlatPieceShift = 14;
    static constexpr unsigned int kFlatPiece = 1u << kFlatPieceShift;

    explicit KV_List(unsigned int blockSize) : mkBlocks(blockSize) {}
    KV_List() = default;
    KV_List(const KV_List& other) : mkBlocks(other.BlockSize()) { *this = other; }
    KV_List& operator=(const KV_List& other);
    ~KV_List() = default;

    unsigned int Count() const { return mbFlat ? munCount : mkBlocks.Count(); }
    unsigned int BlockSize() const { return mkBlocks.BlockSize(); }
    bool HasStorage() const { return mbFlat ? !mkPieces.empty() : mkBlocks.HasStorage(); }

    KV_PolygonView operator[](unsigned int i) const
    {
        if (mbFlat)
            return KV_PolygonView(FlatCorners(i), munCorners);
        return KV_PolygonView(mkBlocks[i]);
    }
    KV_PolygonRef operator[](unsigned int i) { return KV_PolygonRef(*this, i); }

    // Refused, with the block list's message, once the list holds storage.
    void SetBlockSize(unsigned int n);
    void Append(const KV_PolygonView& polygon);
    // A list object goes into list objects as it is, without a copy made first.
    void Append(const KV_Polygon& polygon)
    {
        if (mbFlat)
            Append(KV_PolygonView(polygon));
        else
            mkBlocks.Append(polygon);
    }
    // Appends one polygon of count corners.
    void AppendCorners(const unsigned int* corners, unsigned int count);
    // As the block list: slots that become visible again show what they last held; new ones
    // are empty polygons, which no flat run holds.
    void SetCount(unsigned int n) { Resize(n, false); }
    void SetCountTight(unsigned int n) { Resize(n, true); }
    // An empty list sized to n polygons of corners corners each, all zero, to be filled in
    // place; a list that holds storage, or a size the run cannot keep, gets SetCount(n) and
    // polygons of that many zero corners as list objects.
    void SetFlatCount(unsigned int n, unsigned int corners);
    void Clear();

    // Whether the polygons are kept in a flat run, and how many corners each has there (0
    // for an empty list that has not held a polygon yet).
    bool IsFlat() const { return mbFlat; }
    unsigned int FlatCornerCount() const { return mbFlat ? munCorners : 0; }
    // The run's pieces as they are now, each of kFlatPiece polygons of FlatCornerCount()
    // corners (the last one's polygons past Count() are not to be read); empty for a list of
    // list objects. The list copies a shared piece before it writes into it.
    std::vector<std::shared_ptr<const unsigned int[]>> SharedPieces() const;
    // The FlatCornerCount() corners of polygon i of a flat run, read straight from the run
    // (no view made): for passes over millions of polygons that know the list is flat.
    const unsigned int* RunCorners(unsigned int i) const { return FlatCorners(i); }
    // The polygon as a list object: a flat list turns into list objects first.
    KV_Polygon& Editable(unsigned int i)
    {
        if (mbFlat)
            MakeBlocks();
        return mkBlocks[i];
    }

private:
    friend class KV_PolygonRef;

    unsigned int* FlatCorners(unsigned int i) const
    {
        return mkPieces[i >> kFlatPieceShift].get() +
               static_cast<std::size_t>(i & (kFlatPiece - 1)) * munCorners;
    }
    // FlatCorners for writing: a piece that was shared and is still held elsewhere is
    // copied first.
    unsigned int* WritableCorners(unsigned int i)
    {
        if (mbShared.load(std::memory_order_relaxed))
            OwnPiece(i >> kFlatPieceShift);
        return FlatCorners(i);
    }
    void OwnPiece(std::size_t piece);
    // SetCount (tight: SetCountTight) for either form.
    void Resize(unsigned int n, bool tight);
    // One more piece of zero corners at the end of the run.
    void AddPiece();
    // Room for one more made polygon in the run (a new piece when the last is full).
    void GrowFlat();
    // Turns the run into the block list of the same polygons, made ones included.
    void MakeBlocks();
    // Frees the run; the list is then flat and empty, or (flat false) the block list alone.
    void DropRun(bool flat);

    struct FreePiece
    {
        void operator()(unsigned int* p) const;
    };
    // A piece from the allocator's memory (null: none could be had) in its holder; freed
    // (by the holder's constructor) when even the holder cannot be made. Throws
    // KV_ListAllocError then.
    static std::shared_ptr<unsigned int[]> AdoptPiece(void* piece);

    KV_BlockList<KV_Polygon> mkBlocks;
    std::vector<std::shared_ptr<unsigned int[]>> mkPieces;
    bool mbFlat = true;
    // Some piece has been handed out by SharedPieces (it may still be held elsewhere). Set
    // where the drawing's arrays are built, on whichever thread that is.
    mutable std::atomic<bool> mbShared{false};
    // Corners per polygon of the run, polygons visible, and polygons the run has held (slots
    // that a later SetCount shows again).
    unsigned int munCorners = 0;
    unsigned int munCount = 0;
    unsigned int munMade = 0;
};

// The one corner count of a run of polygon sizes, or 0 when they differ or there are none:
// what SetFlatCount takes for a list about to be filled in place.
template <typename SizeOf>
unsigned int KV_UniformCorners(std::size_t count, SizeOf sizeOf)
{
    const std::size_t first = count != 0 ? sizeOf(0) : 0;
    for (std::size_t i = 1; i < count && first != 0; ++i)
        if (sizeOf(i) != first)
            return 0;
    return first <= KV_List<KV_Polygon>::kMaxFlatCorners ? static_cast<unsigned int>(first) : 0;
}

// Sets polygon, a list object, to count corners (block size 4, as a polygon made one at a
// time and assigned): what a flat polygon becomes when its list turns into list objects.
void KV_AssignCorners(KV_Polygon& polygon, const unsigned int* corners, unsigned int count);

inline unsigned int KV_PolygonRef::Count() const
{
    return mpList->mbFlat ? mpList->munCorners : mpList->mkBlocks[munIndex].Count();
}

inline unsigned int& KV_PolygonRef::operator[](unsigned int j) const
{
    if (mpList->mbFlat)
        return mpList->WritableCorners(munIndex)[j];
    return mpList->mkBlocks[munIndex][j];
}

inline KV_PolygonRef::operator KV_PolygonView() const
{
    return (*static_cast<const KV_List<KV_Polygon>*>(mpList))[munIndex];
}

inline KV_Polygon& KV_PolygonRef::Editable() const { return mpList->Editable(munIndex); }

// Calls visit(p, corners) for each polygon p of [first, last) in order, corners read by
// position and counted by Count(). A flat run is read a piece at a time, its corners as they
// lie, with no view made per polygon. between(p) is called before each stretch of at most
// kFlatPiece polygons (where a long pass looks at its stop flag).
template <typename Between, typename Visit>
void KV_ForEachPolygon(const KV_List<KV_Polygon>& polygons, unsigned int first, unsigned int last,
                       Between between, Visit visit)
{
    using List = KV_List<KV_Polygon>;
    const unsigned int n = polygons.FlatCornerCount();
    struct Corners
    {
        const unsigned int* at;
        unsigned int count;
        unsigned int Count() const { return count; }
        unsigned int operator[](unsigned int k) const { return at[k]; }
    };
    for (unsigned int p = first; p < last;)
    {
        between(p);
        const std::uint64_t pieceEnd =
            (std::uint64_t(p) & ~std::uint64_t(List::kFlatPiece - 1)) + List::kFlatPiece;
        const unsigned int end = static_cast<unsigned int>(std::min<std::uint64_t>(last, pieceEnd));
        if (n == 0)
        {
            for (unsigned int q = p; q < end; ++q) visit(q, polygons[q]);
        }
        else
        {
            // Three corners, the common case, as a constant the compiler can unroll.
            const unsigned int* corners = polygons.RunCorners(p);
            if (n == 3)
                for (unsigned int q = p; q < end; ++q, corners += 3) visit(q, Corners{corners, 3});
            else
                for (unsigned int q = p; q < end; ++q, corners += n) visit(q, Corners{corners, n});
        }
        p = end;
    }
}
