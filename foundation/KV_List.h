#pragma once
// KV_List<T>: the growable sequence used everywhere in the system.
//
// Where it differs from std::vector:
// - Storage grows in blocks of munBlockSize elements that never move: the address of an
//   element stays valid until the list is cleared or assigned to, however much is appended.
// - Elements are reached through a table of element pointers once there are two blocks
//   (through the block table when the block size is a power of two); operator[] is
//   unchecked. A first block of up to 16 bytes (a polygon's four indices)
//   lives inside the list object: it moves with the object, which is copied, never moved.
// - The object is 24 bytes (a surface holds two lists per triangle): the count and the block
//   size share one word, so block sizes stop at kMaxBlockSize (about a billion); a larger
//   one throws KV_ListAllocError, as a block of that size could not be made anyway.
// - SetCount keeps old values: slots that become visible again show what they last held.
// - The block size can be changed only while the list holds no storage (not merely while it
//   is empty); a zero block size is reported and replaced by 16.
// - A table that cannot grow throws std::bad_alloc whose what() is
//   "KV_List<T>::AllocateBlock()".
// - A list filled in one step (assignment, copy, SetCountTight) to fewer elements than a
//   block that would not fit in the object gets a first block of just that many: a
//   three-vertex boundary loop does not hold a block of 256. Growing such a list later moves
//   those elements once into a whole first block; after that, blocks never move.

#include "foundation/KV_Report.h"

#include <cstdint>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <atomic>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// The allocation failure of a block list.
class KV_ListAllocError : public std::bad_alloc
{
public:
    const char* what() const noexcept override { return "KV_List<T>::AllocateBlock()"; }
};

template <typename T>
class KV_BlockList
{
public:
    static constexpr unsigned int kMaxBlockSize = (1u << 30) - 1;

    explicit KV_BlockList(unsigned int blockSize) { SetHeadBlockSize(CheckedBlockSize(blockSize)); }

    // Elements of a list of lists are made this way when a block is created; they take their
    // real block size from the list assigned to them, so no message is shown here.
    KV_BlockList() { SetHeadBlockSize(16); }

    KV_BlockList(const KV_BlockList& other)
    {
        SetHeadBlockSize(other.BlockSize());
        *this = other;
    }

    // Not virtual: a surface holds millions of lists (two per triangle, one per vertex), and a
    // table pointer would make each of them 8 bytes larger. The lists derived from this one
    // (KV_Polygon, KV_Boundary) add no members and are never deleted through a KV_List*.
    ~KV_BlockList() { Clear(); }

    unsigned int Count() const
    {
        return IsSpilled() ? SpillOf().munCount : static_cast<unsigned int>(mHead);
    }
    unsigned int BlockSize() const { return IsSpilled() ? SpillOf().munBlockSize : HeadBlockSize(); }
    unsigned int NumBlocks() const { return IsInline() ? 1 : StorageOf().munNumBlocks; }
    unsigned int Capacity() const
    {
        return IsInline() ? InlineCapacity(HeadBlockSize()) : StorageOf().munCapacity;
    }
    bool HasStorage() const { return NumBlocks() != 0; }

    // With one block the block is indexed directly; with several blocks of a power-of-two
    // size, through the block table (block i >> log2 size, element i & size - 1); otherwise
    // through the element table.
    __attribute__((always_inline)) T& operator[](unsigned int i) { return *Slot(i); }
    __attribute__((always_inline)) const T& operator[](unsigned int i) const { return *Slot(i); }

    // Refused, with a message, once the list holds storage.
    void SetBlockSize(unsigned int n)
    {
        if (HasStorage())
        {
            ReportMessage("KV_List Block Re-Size error!",
                          "Invalid attempt to set block size of non-empty list");
            return;
        }
        SetHeadBlockSize(CheckedBlockSize(n));
    }

    // Adds one block at the end. Throws KV_ListAllocError when a table cannot grow or the
    // capacity would pass the 32-bit count.
    void AllocateBlock() { AddBlock(nullptr); }

    // SetCount for a list without storage whose n elements take more than one block: the
    // blocks are made in one allocation, in order, so that the elements lie in one piece
    // (the block size, and how the list grows later, are as SetCount makes them). Any other
    // list gets SetCount.
    void SetCountInOnePiece(unsigned int n)
    {
        static_assert(std::is_trivially_destructible<T>::value,
                      "a shared piece is freed by its last holder without destructors");
        const unsigned int blockSize = BlockSize();
        if (HasStorage() || n <= blockSize)
        {
            SetCount(n);
            return;
        }
        const unsigned int blocks = static_cast<unsigned int>((n - 1ull) / blockSize + 1);
        const std::size_t elements = static_cast<std::size_t>(blocks) * blockSize;
        if (elements > UINT32_MAX)
            throw KV_ListAllocError();
        auto* piece = static_cast<Piece*>(std::malloc(kPieceBytes + elements * sizeof(T)));
        if (piece == nullptr)
            throw KV_ListAllocError();
        new (piece) Piece;
        T* first = PieceElements(piece);
        try
        {
            for (unsigned int b = 0; b < blocks; ++b)
            {
                AddBlock(first + static_cast<std::size_t>(b) * blockSize);
                if (b >= 1)
                {
                    // The tables exist from the second block on: from then on Clear knows
                    // which blocks are the piece's.
                    TablesOf(StorageOf()).mpPiece = piece;
                    TablesOf(StorageOf()).munPieceBlocks = b + 1;
                }
            }
        }
        catch (...)
        {
            if (NumBlocks() <= 1)
            {
                // At most the first block, not yet known as the piece's.
                mData.storage = Storage();
                ReleasePiece(piece);
            }
            else
            {
                Clear();
            }
            throw;
        }
        SetCountField(n);
    }

    // The elements as one array when SetCountInOnePiece made every block the list holds
    // (null otherwise), held past the list's own end or clearing. Writes the list makes
    // later show through.
    std::shared_ptr<const T> SharedPiece() const
    {
        if (IsInline() || NumBlocks() < 2)
            return nullptr;
        Tables& tables = TablesOf(StorageOf());
        if (tables.mpPiece == nullptr || tables.munPieceBlocks != NumBlocks())
            return nullptr;
        Piece* piece = tables.mpPiece;
        piece->munHolders.fetch_add(1, std::memory_order_relaxed);
        return std::shared_ptr<const T>(PieceElements(piece),
                                        [piece](const T*) { ReleasePiece(piece); });
    }

private:
    // Takes block, when given, as the new block instead of allocating one.
    void AddBlock(T* given)
    {
        const unsigned int blockSize = BlockSize();
        const unsigned int numBlocks = NumBlocks();
        if (static_cast<std::uint64_t>(blockSize) * (numBlocks + 1ull) > UINT32_MAX)
            throw KV_ListAllocError();
        if (numBlocks == 0 && given == nullptr)
        {
            AllocateFirstBlock(blockSize);
            return;
        }
        if (numBlocks == 0)
        {
            ConstructBlock(given, blockSize);
            mData.storage.mpIndex = given;
            mData.storage.munNumBlocks = 1;
            mData.storage.munCapacity = blockSize;
            return;
        }
        if (numBlocks == 1 && Capacity() < blockSize)
        {
            WidenFirstBlock();
            return;
        }
        T* block =
            given != nullptr
                ? given
                : static_cast<T*>(std::malloc(static_cast<std::size_t>(blockSize) * sizeof(T)));
        auto drop = [given](T* b)
        {
            if (given == nullptr)
                std::free(b);
        };
        if (block == nullptr)
            throw KV_ListAllocError();
        if (numBlocks == 1)
        {
            // Made with room for two blocks: nothing below can fail once they exist.
            try
            {
                MakeTables();
            }
            catch (...)
            {
                drop(block);
                throw;
            }
        }
        else if (IsPowerOfTwo(blockSize))
        {
            Storage& storage = StorageOf();
            if (numBlocks + 1 > TablesOf(storage).munBlockTableSize &&
                !GrowIndex(storage, TablesOf(storage).munBlockTableSize * 2ull))
            {
                drop(block);
                throw KV_ListAllocError();
            }
        }
        else
        {
            Storage& storage = StorageOf();
            Tables& tables = TablesOf(storage);
            if (numBlocks + 1 > tables.munBlockTableSize)
            {
                const unsigned int size = tables.munBlockTableSize * 2;
                void* p =
                    std::realloc(tables.mpptBlocks, sizeof(T*) * static_cast<std::size_t>(size));
                if (p == nullptr)
                {
                    drop(block);
                    throw KV_ListAllocError();
                }
                tables.mpptBlocks = static_cast<T**>(p);
                tables.munBlockTableSize = size;
            }
            const std::uint64_t needed = static_cast<std::uint64_t>(blockSize) * (numBlocks + 1);
            if (needed > tables.munElementTableSize)
            {
                std::uint64_t size = tables.munElementTableSize * 2ull;
                if (size < needed)
                    size = needed;
                if (!GrowIndex(storage, size))
                {
                    drop(block);
                    throw KV_ListAllocError();
                }
            }
        }
        ConstructBlock(block, blockSize);
        Storage& storage = StorageOf();
        TablesOf(storage).mpptBlocks[storage.munNumBlocks] = block;
        storage.munNumBlocks += 1;
        FillEntries(storage, block, blockSize);
    }

public:
    void Append(const T& x)
    {
        const unsigned int count = Count();
        if (count == Capacity())
            AllocateBlock();
        (*this)[count] = x;
        SetCountField(count + 1);
    }

    // Grows storage to at least n slots; never releases. Visible slots keep their old values.
    void SetCount(unsigned int n)
    {
        while (Capacity() < n) AllocateBlock();
        SetCountField(n);
    }

    // SetCount, except that a list without storage asked for fewer elements than a block
    // gets a first block of just n elements (see the class comment), or the room the object
    // has when n elements fit there.
    void SetCountTight(unsigned int n)
    {
        if (!HasStorage() && n > 0 && n < BlockSize() &&
            static_cast<std::size_t>(BlockSize()) * sizeof(T) > kInlineBytes)
            AllocateFirstBlock(n);
        SetCount(n);
    }

    void Clear()
    {
        const unsigned int blockSize = BlockSize();
        if (IsInline())
        {
            T* block = InlineBlock();
            const unsigned int size = InlineCapacity(blockSize);
            for (unsigned int k = 0; k < size; ++k) block[k].~T();
        }
        else
        {
            Storage& storage = StorageOf();
            Piece* piece = storage.munNumBlocks > 1 ? TablesOf(storage).mpPiece : nullptr;
            const unsigned int pieceBlocks =
                piece != nullptr ? TablesOf(storage).munPieceBlocks : 0;
            for (unsigned int b = 0; b < storage.munNumBlocks; ++b)
            {
                T* block = BlockOf(storage, b);
                // A single block may be a short one (SetCountTight); later blocks are whole.
                const unsigned int size = storage.munNumBlocks == 1 ? storage.munCapacity : blockSize;
                for (unsigned int k = 0; k < size; ++k) block[k].~T();
                if (block != InlineBlock() && b >= pieceBlocks)
                    std::free(block);
            }
            if (piece != nullptr)
                ReleasePiece(piece);
            if (storage.munNumBlocks > 1)
            {
                if (!IsPowerOfTwo(blockSize))
                    std::free(TablesOf(storage).mpptBlocks);
                std::free(static_cast<char*>(storage.mpIndex) - kTablesBytes);
            }
            if (IsSpilled())
                std::free(&SpillOf());
        }
        mHead = 0;
        SetHeadBlockSize(blockSize);
        mData.storage = Storage();
    }

    KV_BlockList& operator=(const KV_BlockList& other)
    {
        if (&other == this)
            return *this;
        Clear();
        SetHeadBlockSize(CheckedBlockSize(other.BlockSize()));
        // One growth to the final size, then element-wise assignment in index order. Plain
        // elements in more than a block are put in one piece, which drawing can share.
        const unsigned int count = other.Count();
        if constexpr (std::is_trivially_destructible<T>::value)
        {
            if (count > BlockSize())
                SetCountInOnePiece(count);
            else
                SetCountTight(count);
        }
        else
        {
            SetCountTight(count);
        }
        for (unsigned int i = 0; i < count; ++i) (*this)[i] = other[i];
        return *this;
    }

    // Moves all elements, in order, into one contiguous block whose size is the count.
    // Returns false, changing nothing, when the list holds at most one block.
    bool Consolidate()
    {
        if (NumBlocks() <= 1)
            return false;
        const unsigned int count = Count();
        if (count > kMaxBlockSize)
            throw KV_ListAllocError();
        T* block = new T[count]();
        for (unsigned int i = 0; i < count; ++i) block[i] = (*this)[i];
        Clear();
        SetHeadBlockSize(CheckedBlockSize(count));
        SetCount(count);
        for (unsigned int i = 0; i < count; ++i) (*this)[i] = block[i];
        delete[] block;
        return true;
    }

    // The first block's storage: after Consolidate, all Count() elements lie here in order.
    T* FirstBlock()
    {
        if (IsInline())
            return InlineBlock();
        return StorageOf().munNumBlocks ? BlockOf(StorageOf(), 0) : nullptr;
    }

private:
    static unsigned int CheckedBlockSize(unsigned int n)
    {
        if (n == 0)
        {
            ReportMessage("KV_List Block Re-Size error!", "Block size zero, re-setting to 16");
            return 16;
        }
        if (n > kMaxBlockSize)
            throw KV_ListAllocError();
        return n;
    }

    static_assert(alignof(T) <= alignof(std::max_align_t), "blocks come from malloc");

    // Most lists in a surface (two per triangle) never grow past one block, and a block of up
    // to kInlineBytes (a polygon's four indices) lives in the list object itself, so a
    // triangle costs no heap allocation. The object is one head word and 16 bytes of data:
    //
    // - The head holds the count (bits 0-31), the block size (bits 32-61), whether the first
    //   block lives in the object (bit 62), and whether the list has spilled (bit 63).
    // - Without storage, or with its blocks on the heap, the data is a Storage record.
    // - With its only block in the object, the data is that block; it holds
    //   InlineCapacity(block size) elements.
    // - A list whose first block lives in the object and that gets a second block keeps that
    //   block where it is (blocks never move) and moves its Storage record, count and block
    //   size to a Spill record on the heap, whose address fills the head beside bit 63. Only
    //   short, small-block lists (a polygon of five corners or more) come to this.
    //
    // With one block, mpIndex points at it. The second block brings the tables. With a
    // power-of-two block size (1024 for the big lists of a surface) the block table is the
    // index and there is no element table, which would cost a pointer per element; mpIndex
    // points at the block table. Otherwise mpIndex points at the element table and the block
    // table is a separate allocation. Either way the table mpIndex points at is preceded, in
    // its allocation, by the Tables record.
    static constexpr std::size_t kInlineBytes = 16;
    static constexpr std::uint64_t kInlineBit = 1ull << 62;
    static constexpr std::uint64_t kSpillBit = 1ull << 63;
    static constexpr std::uint64_t kCountMask = 0xffffffffull;

    struct Storage
    {
        void* mpIndex = nullptr;
        unsigned int munCapacity = 0;
        unsigned int munNumBlocks = 0;
    };
    struct Spill
    {
        Storage mkStorage;
        unsigned int munCount;
        unsigned int munBlockSize;
    };
    // The blocks SetCountInOnePiece makes, in one allocation that its holders share: the
    // list is one of them.
    struct Piece
    {
        std::atomic<std::size_t> munHolders{1};
    };
    static constexpr std::size_t kPieceBytes = (sizeof(Piece) + alignof(std::max_align_t) - 1) /
                                               alignof(std::max_align_t) *
                                               alignof(std::max_align_t);
    static T* PieceElements(Piece* piece)
    {
        return reinterpret_cast<T*>(reinterpret_cast<char*>(piece) + kPieceBytes);
    }
    static void ReleasePiece(Piece* piece)
    {
        if (piece->munHolders.fetch_sub(1, std::memory_order_acq_rel) == 1)
        {
            piece->~Piece();
            std::free(piece);
        }
    }

    struct Tables
    {
        T** mpptBlocks;
        unsigned int munBlockTableSize;
        unsigned int munElementTableSize;
        // The first munPieceBlocks blocks lie in mpPiece (null when none do).
        Piece* mpPiece;
        unsigned int munPieceBlocks;
    };
    static constexpr std::size_t kTablesBytes = (sizeof(Tables) + alignof(std::max_align_t) - 1) /
                                                alignof(std::max_align_t) *
                                                alignof(std::max_align_t);

    // Elements the object holds: the whole block when it fits, else as many as fit (a list
    // filled in one step to that few).
    static constexpr unsigned int InlineCapacity(unsigned int blockSize)
    {
        return blockSize < kInlineBytes / sizeof(T) ? blockSize
                                                    : static_cast<unsigned int>(kInlineBytes / sizeof(T));
    }

    bool IsSpilled() const { return (mHead & kSpillBit) != 0; }
    bool IsInline() const { return (mHead & (kSpillBit | kInlineBit)) == kInlineBit; }
    unsigned int HeadBlockSize() const
    {
        return static_cast<unsigned int>(mHead >> 32) & kMaxBlockSize;
    }
    void SetHeadBlockSize(unsigned int blockSize)
    {
        mHead = (mHead & (kCountMask | kInlineBit)) | (static_cast<std::uint64_t>(blockSize) << 32);
    }
    void SetCountField(unsigned int n)
    {
        if (IsSpilled())
            SpillOf().munCount = n;
        else
            mHead = (mHead & ~kCountMask) | n;
    }

    Spill& SpillOf() const
    {
        return *reinterpret_cast<Spill*>(static_cast<std::uintptr_t>(mHead & ~kSpillBit));
    }
    // The Storage record of a list whose blocks are not (only) in the object.
    Storage& StorageOf() const
    {
        return IsSpilled() ? SpillOf().mkStorage : const_cast<Storage&>(mData.storage);
    }
    T* InlineBlock() const
    {
        return reinterpret_cast<T*>(const_cast<unsigned char*>(mData.mkInline));
    }

    static Tables& TablesOf(const Storage& storage)
    {
        return *reinterpret_cast<Tables*>(static_cast<char*>(storage.mpIndex) - kTablesBytes);
    }

    T* BlockOf(const Storage& storage, unsigned int b) const
    {
        return storage.munNumBlocks > 1 ? TablesOf(storage).mpptBlocks[b]
                                        : static_cast<T*>(storage.mpIndex);
    }

    static T* Indexed(void* index, unsigned int blockSize, unsigned int i)
    {
        if (IsPowerOfTwo(blockSize))
            return static_cast<T**>(index)[i >> Log2(blockSize)] + (i & (blockSize - 1));
        return static_cast<T**>(index)[i];
    }

    // Forced inline (as is operator[]): it is every element access, and a call costs more
    // than its body.
    __attribute__((always_inline)) T* Slot(unsigned int i) const
    {
        const std::uint64_t head = mHead;
        if (head < kInlineBit)
        {
            const Storage& storage = mData.storage;
            if (storage.munNumBlocks <= 1)
                return static_cast<T*>(storage.mpIndex) + i;
            return Indexed(storage.mpIndex, static_cast<unsigned int>(head >> 32), i);
        }
        if (head < kSpillBit)
            return InlineBlock() + i;
        const Spill& spill = SpillOf();
        return Indexed(spill.mkStorage.mpIndex, spill.munBlockSize, i);
    }

    // size elements: the block size, or fewer for a list filled in one step. The list holds
    // no storage.
    void AllocateFirstBlock(unsigned int size)
    {
        if (static_cast<std::size_t>(size) * sizeof(T) <= kInlineBytes &&
            alignof(T) <= alignof(void*))
        {
            // The Storage record the block replaces is empty.
            ConstructBlock(InlineBlock(), InlineCapacity(HeadBlockSize()));
            mHead |= kInlineBit;
            return;
        }
        T* block = static_cast<T*>(std::malloc(static_cast<std::size_t>(size) * sizeof(T)));
        if (block == nullptr)
            throw KV_ListAllocError();
        ConstructBlock(block, size);
        mData.storage.mpIndex = block;
        mData.storage.munNumBlocks = 1;
        mData.storage.munCapacity = size;
    }

    // Replaces a short first block by a whole one (which never fits in the object: see
    // SetCountTight), its elements assigned across in order.
    void WidenFirstBlock()
    {
        const unsigned int blockSize = BlockSize();
        const unsigned int capacity = Capacity();
        T* block = static_cast<T*>(std::malloc(static_cast<std::size_t>(blockSize) * sizeof(T)));
        if (block == nullptr)
            throw KV_ListAllocError();
        ConstructBlock(block, blockSize);
        const bool wasInline = IsInline();
        T* old = wasInline ? InlineBlock() : static_cast<T*>(mData.storage.mpIndex);
        for (unsigned int k = 0; k < capacity; ++k)
        {
            block[k] = old[k];
            old[k].~T();
        }
        if (wasInline)
            mHead &= ~kInlineBit;
        else
            std::free(old);
        mData.storage.mpIndex = block;
        mData.storage.munCapacity = blockSize;
        mData.storage.munNumBlocks = 1;
    }

    static bool IsPowerOfTwo(unsigned int n) { return (n & (n - 1)) == 0; }
    static unsigned int Log2(unsigned int n) { return static_cast<unsigned int>(__builtin_ctz(n)); }

    // The tables for a list about to get its second block, with room for two blocks. A list
    // whose one block lives in the object spills here.
    void MakeTables()
    {
        const unsigned int blockSize = BlockSize();
        const bool wasInline = IsInline();
        T* first = wasInline ? InlineBlock() : static_cast<T*>(mData.storage.mpIndex);
        Spill* spill = nullptr;
        if (wasInline)
        {
            spill = static_cast<Spill*>(std::malloc(sizeof(Spill)));
            if (spill == nullptr)
                throw KV_ListAllocError();
        }
        void* index = nullptr;
        if (IsPowerOfTwo(blockSize))
        {
            char* chunk = static_cast<char*>(std::malloc(kTablesBytes + 2 * sizeof(T*)));
            if (chunk == nullptr)
            {
                std::free(spill);
                throw KV_ListAllocError();
            }
            Tables* tables = new (chunk) Tables;
            T** blocks = reinterpret_cast<T**>(chunk + kTablesBytes);
            tables->mpPiece = nullptr;
            tables->munPieceBlocks = 0;
            tables->mpptBlocks = blocks;
            tables->munBlockTableSize = 2;
            tables->munElementTableSize = 0;
            blocks[0] = first;
            index = blocks;
        }
        else
        {
            const std::size_t entries = 2 * static_cast<std::size_t>(blockSize);
            T** blocks =
                entries <= UINT32_MAX ? static_cast<T**>(std::malloc(2 * sizeof(T*))) : nullptr;
            char* chunk = blocks ? static_cast<char*>(std::malloc(kTablesBytes + entries * sizeof(T*)))
                                 : nullptr;
            if (chunk == nullptr)
            {
                std::free(blocks);
                std::free(spill);
                throw KV_ListAllocError();
            }
            Tables* tables = new (chunk) Tables;
            tables->mpPiece = nullptr;
            tables->munPieceBlocks = 0;
            tables->mpptBlocks = blocks;
            tables->munBlockTableSize = 2;
            tables->munElementTableSize = static_cast<unsigned int>(entries);
            blocks[0] = first;
            T** elements = reinterpret_cast<T**>(chunk + kTablesBytes);
            for (unsigned int k = 0; k < blockSize; ++k) elements[k] = first + k;
            index = elements;
        }
        if (wasInline)
        {
            spill->mkStorage.mpIndex = index;
            spill->mkStorage.munCapacity = blockSize;
            spill->mkStorage.munNumBlocks = 1;
            spill->munCount = Count();
            spill->munBlockSize = blockSize;
            const auto address = reinterpret_cast<std::uintptr_t>(spill);
            if ((address & kSpillBit) != 0)
            {
                std::free(static_cast<char*>(index) - kTablesBytes);
                std::free(spill);
                throw KV_ListAllocError();
            }
            mHead = kSpillBit | address;
        }
        else
        {
            mData.storage.mpIndex = index;
        }
    }

    // Grows the table mpIndex points at (the block table or the element table) to entries,
    // at most UINT32_MAX; false when it cannot.
    bool GrowIndex(Storage& storage, std::uint64_t wanted)
    {
        const unsigned int entries =
            static_cast<unsigned int>(wanted > UINT32_MAX ? UINT32_MAX : wanted);
        const bool blockIndex = IsPowerOfTwo(BlockSize());
        const unsigned int oldEntries = blockIndex ? TablesOf(storage).munBlockTableSize
                                                   : TablesOf(storage).munElementTableSize;
        const std::size_t bytes = kTablesBytes + static_cast<std::size_t>(entries) * sizeof(T*);
        const std::size_t oldBytes =
            kTablesBytes + static_cast<std::size_t>(oldEntries) * sizeof(T*);
        void* p = std::realloc(static_cast<char*>(storage.mpIndex) - kTablesBytes, bytes);
        if (p == nullptr)
            return false;
        storage.mpIndex = static_cast<char*>(p) + kTablesBytes;
        if (blockIndex)
        {
            TablesOf(storage).mpptBlocks = static_cast<T**>(storage.mpIndex);
            TablesOf(storage).munBlockTableSize = entries;
        }
        else
        {
            TablesOf(storage).munElementTableSize = entries;
        }
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
        // The table of a million-element list is written once per entry; faulting its new
        // pages in one call instead of one page at a time cuts the cost of appending.
        const std::size_t page = 4096;
        if (bytes - oldBytes >= (std::size_t(1) << 20))
        {
            const auto start =
                (reinterpret_cast<std::uintptr_t>(p) + oldBytes + page - 1) & ~(page - 1);
            const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(page - 1);
            if (end > start)
                madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
        }
#else
        (void)oldBytes;
#endif
        return true;
    }

    static void ConstructBlock(T* block, unsigned int size)
    {
        for (unsigned int k = 0; k < size; ++k) new (block + k) T;
    }

    // Points the element table's entries for the newest block at its elements (a list
    // indexed through its block table has none).
    static void FillEntries(Storage& storage, T* block, unsigned int blockSize)
    {
        if (!IsPowerOfTwo(blockSize))
        {
            T** entries = static_cast<T**>(storage.mpIndex) + storage.munCapacity;
            for (unsigned int k = 0; k < blockSize; ++k) entries[k] = block + k;
        }
        storage.munCapacity = blockSize * storage.munNumBlocks;
    }

    std::uint64_t mHead = 0;
    union Data
    {
        Data() : storage() {}
        ~Data() {}
        Storage storage;
        alignas(void*) unsigned char mkInline[kInlineBytes];
    } mData;
};

// The list every layer names. A list of polygons (KV_Polygon.h) is a class of its own that
// keeps polygons of one size in a flat run and falls back to this block list otherwise.
template <typename T>
class KV_List : public KV_BlockList<T>
{
public:
    using KV_BlockList<T>::KV_BlockList;
    KV_List() = default;
};

static_assert(sizeof(KV_List<unsigned int>) == 24, "a list is one head word and 16 bytes of data");

// An index list to read: a stretch of a flat run, or a list object. Valid while the list of
// lists it came from is not changed other than by writing indices in place.
class KV_IndexView
{
public:
    KV_IndexView(const KV_List<unsigned int>& list) : mpList(&list), munCount(list.Count()) {}
    KV_IndexView(const unsigned int* indices, unsigned int count)
        : mpIndices(indices), munCount(count)
    {
    }

    unsigned int Count() const { return munCount; }
    unsigned int operator[](unsigned int j) const
    {
        return mpIndices != nullptr ? mpIndices[j] : (*mpList)[j];
    }

private:
    const KV_List<unsigned int>* mpList = nullptr;
    const unsigned int* mpIndices = nullptr;
    unsigned int munCount;
};

template <>
class KV_List<KV_List<unsigned int>>;

// An index list to change, by list of lists and position. Assigning one handle to another
// copies the list; the handle is never re-aimed.
class KV_IndexListRef
{
public:
    KV_IndexListRef(KV_List<KV_List<unsigned int>>& lists, unsigned int index)
        : mpLists(&lists), munIndex(index)
    {
    }
    KV_IndexListRef(const KV_IndexListRef&) = default;

    unsigned int Count() const;
    unsigned int& operator[](unsigned int j) const;
    operator KV_IndexView() const;

    KV_IndexListRef& operator=(const KV_IndexListRef& other);
    KV_IndexListRef& operator=(const KV_List<unsigned int>& list);
    // What a list object does; each turns a flat list of lists into list objects first.
    void SetCount(unsigned int n) const { Editable().SetCount(n); }
    void SetCountTight(unsigned int n) const { Editable().SetCountTight(n); }
    void SetBlockSize(unsigned int n) const { Editable().SetBlockSize(n); }
    void Append(unsigned int x) const { Editable().Append(x); }
    void Clear() const { Editable().Clear(); }
    unsigned int BlockSize() const;
    KV_List<unsigned int>& Editable() const;

private:
    KV_List<KV_List<unsigned int>>* mpLists;
    unsigned int munIndex;
};

// KV_List<KV_List<unsigned int>>: a list of index lists with the block list's operations. A
// list filled at once by SetFlat keeps every inner list as a stretch of one run of indices,
// with one start per list (the polygons of each vertex: 56 MB instead of 104 MB at 4M
// triangles). Reads go through KV_IndexView, changes through KV_IndexListRef; writing an index
// in place keeps the list flat, and any other change turns it, once, into the block list of
// list objects holding the same lists (of block size 6, as the vertex polygons are made).
template <>
class KV_List<KV_List<unsigned int>>
{
public:
    static constexpr unsigned int kFlatInnerBlockSize = 6;

    explicit KV_List(unsigned int blockSize) : mkBlocks(blockSize) {}
    KV_List() = default;
    KV_List(const KV_List& other) : mkBlocks(other.BlockSize()) { *this = other; }
    KV_List& operator=(const KV_List& other)
    {
        if (&other == this)
            return *this;
        Clear();
        mkBlocks.SetBlockSize(other.BlockSize());
        if (other.mbFlat)
        {
            mkStarts = other.mkStarts;
            mkIndices = other.mkIndices;
            mbFlat = true;
        }
        else
        {
            mkBlocks = other.mkBlocks;
        }
        return *this;
    }

    unsigned int Count() const
    {
        return mbFlat ? static_cast<unsigned int>(mkStarts.size() - 1) : mkBlocks.Count();
    }
    unsigned int BlockSize() const { return mkBlocks.BlockSize(); }
    bool HasStorage() const { return mbFlat || mkBlocks.HasStorage(); }

    KV_IndexView operator[](unsigned int i) const
    {
        if (mbFlat)
            return KV_IndexView(mkIndices.data() + mkStarts[i], mkStarts[i + 1] - mkStarts[i]);
        return KV_IndexView(mkBlocks[i]);
    }
    KV_IndexListRef operator[](unsigned int i) { return KV_IndexListRef(*this, i); }

    void SetBlockSize(unsigned int n)
    {
        if (mbFlat)
        {
            ReportMessage("KV_List Block Re-Size error!",
                          "Invalid attempt to set block size of non-empty list");
            return;
        }
        mkBlocks.SetBlockSize(n);
    }
    void Append(const KV_List<unsigned int>& list)
    {
        MakeBlocks();
        mkBlocks.Append(list);
    }
    void SetCount(unsigned int n)
    {
        MakeBlocks();
        mkBlocks.SetCount(n);
    }
    void SetCountTight(unsigned int n)
    {
        MakeBlocks();
        mkBlocks.SetCountTight(n);
    }
    void Clear()
    {
        std::vector<unsigned int>().swap(mkStarts);
        std::vector<unsigned int>().swap(mkIndices);
        mbFlat = false;
        mkBlocks.Clear();
    }

    // Replaces the lists by starts.size() - 1 lists, list i being indices [starts[i],
    // starts[i + 1]). Starts that do not rise from 0 to indices.size() leave the list empty.
    void SetFlat(std::vector<unsigned int> starts, std::vector<unsigned int> indices)
    {
        Clear();
        if (starts.empty() || starts.front() != 0 || starts.back() != indices.size() ||
            starts.size() - 1 > KV_BlockList<unsigned int>::kMaxBlockSize)
            return;
        for (std::size_t i = 1; i < starts.size(); ++i)
            if (starts[i] < starts[i - 1])
                return;
        mkStarts = std::move(starts);
        mkIndices = std::move(indices);
        mbFlat = true;
    }
    bool IsFlat() const { return mbFlat; }
    // The list as a list object: a flat list of lists turns into list objects first.
    KV_List<unsigned int>& Editable(unsigned int i)
    {
        MakeBlocks();
        return mkBlocks[i];
    }

private:
    friend class KV_IndexListRef;

    void MakeBlocks()
    {
        if (!mbFlat)
            return;
        // The block list holds no storage while the lists are flat.
        const unsigned int count = Count();
        try
        {
            mkBlocks.SetCount(count);
            for (unsigned int i = 0; i < count; ++i)
            {
                KV_List<unsigned int>& list = mkBlocks[i];
                list.SetBlockSize(kFlatInnerBlockSize);
                const unsigned int n = mkStarts[i + 1] - mkStarts[i];
                list.SetCountTight(n);
                for (unsigned int j = 0; j < n; ++j) list[j] = mkIndices[mkStarts[i] + j];
            }
        }
        catch (...)
        {
            mkBlocks.Clear();  // still the flat lists they were
            throw;
        }
        std::vector<unsigned int>().swap(mkStarts);
        std::vector<unsigned int>().swap(mkIndices);
        mbFlat = false;
    }

    KV_BlockList<KV_List<unsigned int>> mkBlocks;
    std::vector<unsigned int> mkStarts;
    std::vector<unsigned int> mkIndices;
    bool mbFlat = false;
};

inline unsigned int KV_IndexListRef::Count() const
{
    return static_cast<const KV_List<KV_List<unsigned int>>*>(mpLists)->operator[](munIndex).Count();
}

inline unsigned int& KV_IndexListRef::operator[](unsigned int j) const
{
    if (mpLists->mbFlat)
        return mpLists->mkIndices[mpLists->mkStarts[munIndex] + j];
    return mpLists->mkBlocks[munIndex][j];
}

inline KV_IndexListRef::operator KV_IndexView() const
{
    return static_cast<const KV_List<KV_List<unsigned int>>*>(mpLists)->operator[](munIndex);
}

inline unsigned int KV_IndexListRef::BlockSize() const
{
    return mpLists->mbFlat ? KV_List<KV_List<unsigned int>>::kFlatInnerBlockSize
                           : mpLists->mkBlocks[munIndex].BlockSize();
}

inline KV_List<unsigned int>& KV_IndexListRef::Editable() const { return mpLists->Editable(munIndex); }

inline KV_IndexListRef& KV_IndexListRef::operator=(const KV_List<unsigned int>& list)
{
    Editable() = list;
    return *this;
}

inline KV_IndexListRef& KV_IndexListRef::operator=(const KV_IndexListRef& other)
{
    // Copied out first: turning the list of lists into list objects moves what other reads.
    KV_List<unsigned int> copy(KV_List<KV_List<unsigned int>>::kFlatInnerBlockSize);
    const KV_IndexView view = other;
    copy.SetCountTight(view.Count());
    for (unsigned int j = 0; j < view.Count(); ++j) copy[j] = view[j];
    Editable() = copy;
    return *this;
}
