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
#include <new>

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
class KV_List
{
public:
    explicit KV_List(unsigned int blockSize) : munBlockSize(CheckedBlockSize(blockSize)) {}

    // Elements of a list of lists are made this way when a block is created; they take their
    // real block size from the list assigned to them, so no message is shown here.
    KV_List() : munBlockSize(16) {}

    KV_List(const KV_List& other) : munBlockSize(other.munBlockSize) { *this = other; }

    // Not virtual: a surface holds millions of lists (two per triangle, one per vertex), and a
    // table pointer would make each of them 8 bytes larger. The lists derived from this one
    // (KV_Polygon, KV_Boundary) add no members and are never deleted through a KV_List*.
    ~KV_List() { Clear(); }

    unsigned int Count() const { return munCount; }
    unsigned int BlockSize() const { return munBlockSize; }
    unsigned int NumBlocks() const { return munNumBlocks; }
    unsigned int Capacity() const { return munCapacity; }
    bool HasStorage() const { return munNumBlocks != 0; }

    // With one block the block is indexed directly; with several blocks of a power-of-two
    // size, through the block table (block i >> log2 size, element i & size - 1); otherwise
    // through the element table.
    T& operator[](unsigned int i)
    {
        if (munNumBlocks <= 1)
            return static_cast<T*>(mpIndex)[i];
        if (IsPowerOfTwo(munBlockSize))
            return static_cast<T**>(mpIndex)[i >> Log2(munBlockSize)][i & (munBlockSize - 1)];
        return *static_cast<T**>(mpIndex)[i];
    }
    const T& operator[](unsigned int i) const
    {
        if (munNumBlocks <= 1)
            return static_cast<const T*>(mpIndex)[i];
        if (IsPowerOfTwo(munBlockSize))
            return static_cast<T* const*>(mpIndex)[i >> Log2(munBlockSize)][i & (munBlockSize - 1)];
        return *static_cast<T* const*>(mpIndex)[i];
    }

    // Refused, with a message, once the list holds storage.
    void SetBlockSize(unsigned int n)
    {
        if (munNumBlocks != 0)
        {
            ReportMessage("KV_List Block Re-Size error!",
                          "Invalid attempt to set block size of non-empty list");
            return;
        }
        munBlockSize = CheckedBlockSize(n);
    }

    // Adds one block at the end. Throws KV_ListAllocError when a table cannot grow or the
    // capacity would pass the 32-bit count.
    void AllocateBlock()
    {
        if (static_cast<std::uint64_t>(munBlockSize) * (munNumBlocks + 1ull) > UINT32_MAX)
            throw KV_ListAllocError();
        if (munNumBlocks == 0)
        {
            AllocateFirstBlock(munBlockSize);
            return;
        }
        if (munNumBlocks == 1 && munCapacity < munBlockSize)
        {
            WidenFirstBlock();
            return;
        }
        T* block = static_cast<T*>(std::malloc(static_cast<std::size_t>(munBlockSize) * sizeof(T)));
        if (block == nullptr)
            throw KV_ListAllocError();
        if (munNumBlocks == 1)
        {
            // Made with room for two blocks: nothing below can fail once they exist.
            try
            {
                MakeTables();
            }
            catch (...)
            {
                std::free(block);
                throw;
            }
        }
        else if (IsPowerOfTwo(munBlockSize))
        {
            if (munNumBlocks + 1 > TablesOf().munBlockTableSize &&
                !GrowIndex(TablesOf().munBlockTableSize * 2ull))
            {
                std::free(block);
                throw KV_ListAllocError();
            }
        }
        else
        {
            Tables& tables = TablesOf();
            if (munNumBlocks + 1 > tables.munBlockTableSize)
            {
                const unsigned int size = tables.munBlockTableSize * 2;
                void* p =
                    std::realloc(tables.mpptBlocks, sizeof(T*) * static_cast<std::size_t>(size));
                if (p == nullptr)
                {
                    std::free(block);
                    throw KV_ListAllocError();
                }
                tables.mpptBlocks = static_cast<T**>(p);
                tables.munBlockTableSize = size;
            }
            const std::uint64_t needed =
                static_cast<std::uint64_t>(munBlockSize) * (munNumBlocks + 1);
            if (needed > tables.munElementTableSize)
            {
                std::uint64_t size = tables.munElementTableSize * 2ull;
                if (size < needed)
                    size = needed;
                if (!GrowIndex(size))
                {
                    std::free(block);
                    throw KV_ListAllocError();
                }
            }
        }
        ConstructBlock(block, munBlockSize);
        TablesOf().mpptBlocks[munNumBlocks] = block;
        munNumBlocks += 1;
        FillEntries(block);
    }

    void Append(const T& x)
    {
        if (munCount == munCapacity)
            AllocateBlock();
        (*this)[munCount] = x;
        munCount += 1;
    }

    // Grows storage to at least n slots; never releases. Visible slots keep their old values.
    void SetCount(unsigned int n)
    {
        while (munCapacity < n) AllocateBlock();
        munCount = n;
    }

    // SetCount, except that a list without storage asked for fewer elements than a block
    // gets a first block of just n elements (see the class comment).
    void SetCountTight(unsigned int n)
    {
        if (munNumBlocks == 0 && n > 0 && n < munBlockSize &&
            static_cast<std::size_t>(munBlockSize) * sizeof(T) > kInlineBytes)
            AllocateFirstBlock(n);
        SetCount(n);
    }

    void Clear()
    {
        for (unsigned int b = 0; b < munNumBlocks; ++b)
        {
            T* block = Block(b);
            // A single block may be a short one (SetCountTight); later blocks are whole.
            const unsigned int size = munNumBlocks == 1 ? munCapacity : munBlockSize;
            for (unsigned int k = 0; k < size; ++k) block[k].~T();
            if (!IsInline(block))
                std::free(block);
        }
        if (munNumBlocks > 1)
        {
            if (!IsPowerOfTwo(munBlockSize))
                std::free(TablesOf().mpptBlocks);
            std::free(static_cast<char*>(mpIndex) - kTablesBytes);
        }
        mpIndex = nullptr;
        munCount = 0;
        munNumBlocks = 0;
        munCapacity = 0;
    }

    KV_List& operator=(const KV_List& other)
    {
        if (&other == this)
            return *this;
        Clear();
        munBlockSize = CheckedBlockSize(other.munBlockSize);
        // One growth to the final size, then element-wise assignment in index order.
        SetCountTight(other.munCount);
        for (unsigned int i = 0; i < other.munCount; ++i) (*this)[i] = other[i];
        return *this;
    }

    // Moves all elements, in order, into one contiguous block whose size is the count.
    // Returns false, changing nothing, when the list holds at most one block.
    bool Consolidate()
    {
        if (munNumBlocks <= 1)
            return false;
        const unsigned int count = munCount;
        T* block = new T[count]();
        for (unsigned int i = 0; i < count; ++i) block[i] = (*this)[i];
        Clear();
        munBlockSize = CheckedBlockSize(count);
        SetCount(count);
        for (unsigned int i = 0; i < count; ++i) (*this)[i] = block[i];
        delete[] block;
        return true;
    }

    // The first block's storage: after Consolidate, all Count() elements lie here in order.
    T* FirstBlock() { return munNumBlocks ? Block(0) : nullptr; }

private:
    static unsigned int CheckedBlockSize(unsigned int n)
    {
        if (n == 0)
        {
            ReportMessage("KV_List Block Re-Size error!", "Block size zero, re-setting to 16");
            return 16;
        }
        return n;
    }

    static_assert(alignof(T) <= alignof(std::max_align_t), "blocks come from malloc");

    // Most lists in a surface (two per triangle) never grow past one block. Such a list has
    // no tables: mpIndex points at its block, and a block of up to kInlineBytes (a polygon's
    // four indices) lives in the list object itself, so a triangle costs no heap allocation.
    // The second block brings the tables. With a power-of-two block size (1024 for the big
    // lists of a surface) the block table is the index and there is no element table, which
    // would cost a pointer per element; mpIndex points at the block table. Otherwise mpIndex
    // points at the element table and the block table is a separate allocation. Either way
    // the table mpIndex points at is preceded, in its allocation, by the Tables record.
    static constexpr std::size_t kInlineBytes = 16;

    struct Tables
    {
        T** mpptBlocks;
        unsigned int munBlockTableSize;
        unsigned int munElementTableSize;
    };
    static constexpr std::size_t kTablesBytes = (sizeof(Tables) + alignof(std::max_align_t) - 1) /
                                                alignof(std::max_align_t) *
                                                alignof(std::max_align_t);

    Tables& TablesOf() const
    {
        return *reinterpret_cast<Tables*>(static_cast<char*>(mpIndex) - kTablesBytes);
    }

    T* Block(unsigned int b) const
    {
        return munNumBlocks > 1 ? TablesOf().mpptBlocks[b] : static_cast<T*>(mpIndex);
    }

    bool IsInline(const T* block) const
    {
        return static_cast<const void*>(block) == static_cast<const void*>(mkInline);
    }

    // size elements: the block size, or fewer for a list filled in one step.
    void AllocateFirstBlock(unsigned int size)
    {
        T* block = nullptr;
        if (static_cast<std::size_t>(size) * sizeof(T) <= kInlineBytes &&
            alignof(T) <= alignof(void*))
        {
            block = reinterpret_cast<T*>(mkInline);
        }
        else
        {
            block = static_cast<T*>(std::malloc(static_cast<std::size_t>(size) * sizeof(T)));
            if (block == nullptr)
                throw KV_ListAllocError();
        }
        ConstructBlock(block, size);
        mpIndex = block;
        munNumBlocks = 1;
        munCapacity = size;
    }

    // Replaces a short first block by a whole one (which never fits in the object: see
    // SetCountTight), its elements assigned across in order.
    void WidenFirstBlock()
    {
        T* block = static_cast<T*>(std::malloc(static_cast<std::size_t>(munBlockSize) * sizeof(T)));
        if (block == nullptr)
            throw KV_ListAllocError();
        ConstructBlock(block, munBlockSize);
        T* old = static_cast<T*>(mpIndex);
        for (unsigned int k = 0; k < munCapacity; ++k)
        {
            block[k] = old[k];
            old[k].~T();
        }
        if (!IsInline(old))
            std::free(old);
        mpIndex = block;
        munCapacity = munBlockSize;
    }

    static bool IsPowerOfTwo(unsigned int n) { return (n & (n - 1)) == 0; }
    static unsigned int Log2(unsigned int n) { return static_cast<unsigned int>(__builtin_ctz(n)); }

    // The tables for a list about to get its second block, with room for two blocks.
    void MakeTables()
    {
        T* first = static_cast<T*>(mpIndex);
        if (IsPowerOfTwo(munBlockSize))
        {
            char* chunk = static_cast<char*>(std::malloc(kTablesBytes + 2 * sizeof(T*)));
            if (chunk == nullptr)
                throw KV_ListAllocError();
            Tables* tables = new (chunk) Tables;
            T** blocks = reinterpret_cast<T**>(chunk + kTablesBytes);
            tables->mpptBlocks = blocks;
            tables->munBlockTableSize = 2;
            tables->munElementTableSize = 0;
            blocks[0] = first;
            mpIndex = blocks;
            return;
        }
        const std::size_t entries = 2 * static_cast<std::size_t>(munBlockSize);
        if (entries > UINT32_MAX)
            throw KV_ListAllocError();
        T** blocks = static_cast<T**>(std::malloc(2 * sizeof(T*)));
        char* chunk =
            blocks ? static_cast<char*>(std::malloc(kTablesBytes + entries * sizeof(T*))) : nullptr;
        if (chunk == nullptr)
        {
            std::free(blocks);
            throw KV_ListAllocError();
        }
        Tables* tables = new (chunk) Tables;
        tables->mpptBlocks = blocks;
        tables->munBlockTableSize = 2;
        tables->munElementTableSize = static_cast<unsigned int>(entries);
        blocks[0] = first;
        T** elements = reinterpret_cast<T**>(chunk + kTablesBytes);
        for (unsigned int k = 0; k < munBlockSize; ++k) elements[k] = first + k;
        mpIndex = elements;
    }

    // Grows the table mpIndex points at (the block table or the element table) to entries,
    // at most UINT32_MAX; false when it cannot.
    bool GrowIndex(std::uint64_t wanted)
    {
        const unsigned int entries =
            static_cast<unsigned int>(wanted > UINT32_MAX ? UINT32_MAX : wanted);
        const bool blockIndex = IsPowerOfTwo(munBlockSize);
        const unsigned int oldEntries =
            blockIndex ? TablesOf().munBlockTableSize : TablesOf().munElementTableSize;
        const std::size_t bytes = kTablesBytes + static_cast<std::size_t>(entries) * sizeof(T*);
        const std::size_t oldBytes =
            kTablesBytes + static_cast<std::size_t>(oldEntries) * sizeof(T*);
        void* p = std::realloc(static_cast<char*>(mpIndex) - kTablesBytes, bytes);
        if (p == nullptr)
            return false;
        mpIndex = static_cast<char*>(p) + kTablesBytes;
        if (blockIndex)
        {
            TablesOf().mpptBlocks = static_cast<T**>(mpIndex);
            TablesOf().munBlockTableSize = entries;
        }
        else
        {
            TablesOf().munElementTableSize = entries;
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

    void ConstructBlock(T* block, unsigned int size)
    {
        for (unsigned int k = 0; k < size; ++k) new (block + k) T;
    }

    // Points the element table's entries for the newest block at its elements (a list
    // indexed through its block table has none).
    void FillEntries(T* block)
    {
        if (IsPowerOfTwo(munBlockSize))
        {
            munCapacity = munBlockSize * munNumBlocks;
            return;
        }
        T** entries = static_cast<T**>(mpIndex) + munCapacity;
        for (unsigned int k = 0; k < munBlockSize; ++k) entries[k] = block + k;
        munCapacity = munBlockSize * munNumBlocks;
    }

    unsigned int munCount = 0;
    unsigned int munNumBlocks = 0;
    unsigned int munBlockSize;
    unsigned int munCapacity = 0;
    // One block: the block. Several: the element table (the tables sit just before it).
    void* mpIndex = nullptr;
    alignas(void*) unsigned char mkInline[kInlineBytes];
};
