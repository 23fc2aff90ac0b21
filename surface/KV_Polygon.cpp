#include "surface/KV_Polygon.h"

#include "foundation/KV_Report.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

void KV_AssignCorners(KV_Polygon& polygon, const unsigned int* corners, unsigned int count)
{
    polygon.Clear();
    polygon.SetBlockSize(4);
    polygon.SetCountTight(count);
    for (unsigned int j = 0; j < count; ++j) polygon[j] = corners[j];
}

namespace
{
// The view's corners as a list object, made before the list it may point into changes.
KV_Polygon CopyOf(const KV_PolygonView& view)
{
    KV_Polygon copy;
    copy.SetCountTight(view.Count());
    for (unsigned int j = 0; j < view.Count(); ++j) copy[j] = view[j];
    return copy;
}
}  // namespace

void KV_List<KV_Polygon>::FreePiece::operator()(unsigned int* p) const { std::free(p); }

KV_List<KV_Polygon>& KV_List<KV_Polygon>::operator=(const KV_List& other)
{
    if (&other == this)
        return *this;
    Clear();
    mkBlocks.SetBlockSize(other.BlockSize());
    if (!other.mbFlat)
    {
        mkBlocks = other.mkBlocks;
        mbFlat = false;
        return *this;
    }
    // Only the visible polygons are copied, as a block list copies only its count.
    const unsigned int count = other.munCount;
    munCorners = count != 0 ? other.munCorners : 0;
    for (unsigned int i = 0; i < count; i += kFlatPiece)
    {
        const unsigned int n = count - i < kFlatPiece ? count - i : kFlatPiece;
        AddPiece();
        std::memcpy(FlatCorners(i), other.FlatCorners(i),
                    static_cast<std::size_t>(n) * munCorners * sizeof(unsigned int));
    }
    munMade = count;
    munCount = count;
    return *this;
}

void KV_List<KV_Polygon>::SetBlockSize(unsigned int n)
{
    if (mbFlat && !mkPieces.empty())
    {
        ReportMessage("KV_List Block Re-Size error!",
                      "Invalid attempt to set block size of non-empty list");
        return;
    }
    mkBlocks.SetBlockSize(n);
}

std::shared_ptr<unsigned int[]> KV_List<KV_Polygon>::AdoptPiece(void* piece)
{
    if (piece == nullptr)
        throw KV_ListAllocError();
    try
    {
        return std::shared_ptr<unsigned int[]>(static_cast<unsigned int*>(piece), FreePiece());
    }
    catch (...)
    {
        // The holder's constructor has already handed the piece to FreePiece: freeing it
        // here too would free it twice.
        throw KV_ListAllocError();
    }
}

void KV_List<KV_Polygon>::AddPiece()
{
    mkPieces.reserve(mkPieces.size() + 1);
    mkPieces.push_back(AdoptPiece(
        std::calloc(static_cast<std::size_t>(kFlatPiece) * munCorners, sizeof(unsigned int))));
}

std::vector<std::shared_ptr<const unsigned int[]>> KV_List<KV_Polygon>::SharedPieces() const
{
    if (!mbFlat)
        return {};
    mbShared.store(true, std::memory_order_relaxed);
    return std::vector<std::shared_ptr<const unsigned int[]>>(mkPieces.begin(), mkPieces.end());
}

void KV_List<KV_Polygon>::OwnPiece(std::size_t piece)
{
    std::shared_ptr<unsigned int[]>& held = mkPieces[piece];
    if (held.use_count() == 1)
    {
        // The other holders' reads (on their threads) are over once they let go.
        std::atomic_thread_fence(std::memory_order_acquire);
        return;
    }
    const std::size_t bytes =
        static_cast<std::size_t>(kFlatPiece) * munCorners * sizeof(unsigned int);
    std::shared_ptr<unsigned int[]> copy = AdoptPiece(std::malloc(bytes));
    std::memcpy(copy.get(), held.get(), bytes);
    held = std::move(copy);
}

void KV_List<KV_Polygon>::GrowFlat()
{
    if (munMade == UINT32_MAX)
        throw KV_ListAllocError();
    if (static_cast<std::size_t>(munMade) >= mkPieces.size() * static_cast<std::size_t>(kFlatPiece))
        AddPiece();
    ++munMade;
}

void KV_List<KV_Polygon>::AppendCorners(const unsigned int* corners, unsigned int count)
{
    Append(KV_PolygonView(corners, count));
}

void KV_List<KV_Polygon>::Append(const KV_PolygonView& polygon)
{
    const unsigned int k = polygon.Count();
    if (mbFlat && k >= 1 && k <= kMaxFlatCorners && (k == munCorners || munMade == 0))
    {
        munCorners = k;
        if (munCount == munMade)
            GrowFlat();
        // Pieces never move: a polygon of this list appended to it is still where it was
        // (unless its piece was shared and is copied now: the copy is read then).
        if (mbShared.load(std::memory_order_relaxed))
        {
            const KV_Polygon copy = CopyOf(polygon);
            unsigned int* corners = WritableCorners(munCount);
            for (unsigned int j = 0; j < k; ++j) corners[j] = copy[j];
        }
        else
        {
            unsigned int* corners = FlatCorners(munCount);
            for (unsigned int j = 0; j < k; ++j) corners[j] = polygon[j];
        }
        ++munCount;
        return;
    }
    if (mbFlat)
    {
        const KV_Polygon copy = CopyOf(polygon);
        MakeBlocks();
        mkBlocks.Append(copy);
        return;
    }
    mkBlocks.Append(CopyOf(polygon));
}

void KV_List<KV_Polygon>::Resize(unsigned int n, bool tight)
{
    if (mbFlat && n <= munMade)
    {
        munCount = n;
        return;
    }
    if (mbFlat)
        MakeBlocks();
    if (tight)
        mkBlocks.SetCountTight(n);
    else
        mkBlocks.SetCount(n);
}

void KV_List<KV_Polygon>::SetFlatCount(unsigned int n, unsigned int corners)
{
    if (mbFlat && !HasStorage() && corners >= 1 && corners <= kMaxFlatCorners)
    {
        munCorners = corners;
        // Whole pieces at once; calloc's pages are zero already.
        const std::size_t pieces = (static_cast<std::size_t>(n) + kFlatPiece - 1) >> kFlatPieceShift;
        mkPieces.reserve(pieces);
        for (std::size_t p = 0; p < pieces; ++p) AddPiece();
        munMade = n;
        munCount = n;
        return;
    }
    const unsigned int old = Count();
    SetCount(n);
    if (corners == 0)
        return;
    const std::vector<unsigned int> zeros(corners, 0u);
    for (unsigned int i = old; i < n; ++i) KV_AssignCorners(Editable(i), zeros.data(), corners);
}

void KV_List<KV_Polygon>::Clear()
{
    mkBlocks.Clear();
    DropRun(true);
}

void KV_List<KV_Polygon>::DropRun(bool flat)
{
    std::vector<std::shared_ptr<unsigned int[]>>().swap(mkPieces);
    mbShared.store(false, std::memory_order_relaxed);
    mbFlat = flat;
    munCorners = 0;
    munCount = 0;
    munMade = 0;
}

void KV_List<KV_Polygon>::MakeBlocks()
{
    try
    {
        mkBlocks.SetCount(munMade);
        for (unsigned int i = 0; i < munMade; ++i)
            KV_AssignCorners(mkBlocks[i], FlatCorners(i), munCorners);
        mkBlocks.SetCount(munCount);
    }
    catch (...)
    {
        // Still the flat list it was.
        mkBlocks.Clear();
        throw;
    }
    DropRun(false);
}

KV_PolygonRef& KV_PolygonRef::Assign(KV_PolygonView polygon)
{
    if (mpList->mbFlat && polygon.Count() == mpList->munCorners)
    {
        // Another polygon of the run never overlaps this one; the same one copies onto itself.
        if (mpList->mbShared.load(std::memory_order_relaxed))
        {
            const KV_Polygon copy = CopyOf(polygon);
            unsigned int* corners = mpList->WritableCorners(munIndex);
            for (unsigned int j = 0; j < copy.Count(); ++j) corners[j] = copy[j];
            return *this;
        }
        unsigned int* corners = mpList->FlatCorners(munIndex);
        for (unsigned int j = 0; j < polygon.Count(); ++j) corners[j] = polygon[j];
        return *this;
    }
    const KV_Polygon copy = CopyOf(polygon);
    mpList->Editable(munIndex) = copy;
    return *this;
}

void KV_PolygonRef::SetCount(unsigned int n) const
{
    if (mpList->mbFlat && n == mpList->munCorners)
        return;
    Editable().SetCount(n);
}

void KV_PolygonRef::Append(unsigned int corner) const { Editable().Append(corner); }

void KV_PolygonRef::Clear() const { Editable().Clear(); }
