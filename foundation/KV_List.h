#pragma once
// KV_List<T>: the growable sequence used everywhere in the system.
//
// Where it differs from std::vector:
// - Storage grows in blocks of munBlockSize elements that never move: the address of an
//   element stays valid until the list is cleared or assigned to, however much is appended.
// - Elements are reached through a table of element pointers; operator[] is unchecked.
// - SetCount keeps old values: slots that become visible again show what they last held.
// - The block size can be changed only while the list holds no storage (not merely while it
//   is empty); a zero block size is reported and replaced by 16.
// - A table that cannot grow throws std::bad_alloc whose what() is
//   "KV_List<T>::AllocateBlock()".
// - A list filled in one step (assignment, copy, SetCountTight) to fewer elements than a
//   block gets a first block of just that many: a copied triangle or a three-vertex boundary
//   loop does not hold a whole block of 4 or 256. Later blocks are whole, so Capacity() is
//   then not a multiple of the block size.

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

    virtual ~KV_List() { Clear(); }

    unsigned int Count() const { return munCount; }
    unsigned int BlockSize() const { return munBlockSize; }
    unsigned int NumBlocks() const { return munNumBlocks; }
    unsigned int Capacity() const { return munCapacity; }
    bool HasStorage() const { return mpptBlocks != nullptr; }

    T& operator[](unsigned int i) { return *mpptElements[i]; }
    const T& operator[](unsigned int i) const { return *mpptElements[i]; }

    // Refused, with a message, once the list holds storage.
    void SetBlockSize(unsigned int n)
    {
        if (mpptBlocks != nullptr)
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
        if (static_cast<std::uint64_t>(munCapacity) + munBlockSize > UINT32_MAX)
            throw KV_ListAllocError();
        if (munNumBlocks == 0)
        {
            AllocateFirstBlock(munBlockSize);
            return;
        }
        if (munNumBlocks + 1 > munBlockTableSize)
        {
            Grow(mpptBlocks, munBlockTableSize, munBlockTableSize * 2);
            munBlockTableSize *= 2;
        }
        T* block = static_cast<T*>(std::malloc(static_cast<std::size_t>(munBlockSize) * sizeof(T)));
        if (block == nullptr)
            throw KV_ListAllocError();

        const std::uint64_t needed = static_cast<std::uint64_t>(munCapacity) + munBlockSize;
        if (needed > munElementTableSize)
        {
            std::uint64_t size = munElementTableSize * 2ull;
            if (size < needed)
                size = needed;
            if (size > UINT32_MAX)
                size = UINT32_MAX;
            try
            {
                Grow(mpptElements, munElementTableSize, static_cast<unsigned int>(size));
            }
            catch (...)
            {
                std::free(block);
                throw;
            }
            munElementTableSize = static_cast<unsigned int>(size);
        }
        ConstructBlock(block, munBlockSize);
        mpptBlocks[munNumBlocks] = block;
        munNumBlocks += 1;
        FillEntries(block, munBlockSize);
    }

    void Append(const T& x)
    {
        if (munCount == munCapacity)
            AllocateBlock();
        *mpptElements[munCount] = x;
        munCount += 1;
    }

    // Grows storage to at least n slots; never releases. Visible slots keep their old values.
    void SetCount(unsigned int n)
    {
        while (munCapacity < n)
            AllocateBlock();
        munCount = n;
    }

    // SetCount, except that a list without storage asked for fewer elements than a block
    // gets a first block of just n elements.
    void SetCountTight(unsigned int n)
    {
        if (mpptBlocks == nullptr && n > 0 && n < munBlockSize)
            AllocateFirstBlock(n);
        SetCount(n);
    }

    void Clear()
    {
        for (unsigned int b = 0; b < munNumBlocks; ++b)
        {
            T* block = mpptBlocks[b];
            const unsigned int size = b == 0 ? munFirstBlockSize : munBlockSize;
            for (unsigned int k = 0; k < size; ++k) block[k].~T();
            if (b > 0)
                std::free(block);
        }
        if (!InFirstChunk(mpptBlocks))
            std::free(mpptBlocks);
        if (!InFirstChunk(mpptElements))
            std::free(mpptElements);
        std::free(mpFirstChunk);
        mpFirstChunk = nullptr;
        mpptBlocks = nullptr;
        mpptElements = nullptr;
        munBlockTableSize = 0;
        munElementTableSize = 0;
        munCount = 0;
        munNumBlocks = 0;
        munCapacity = 0;
        munFirstBlockSize = 0;
    }

    KV_List& operator=(const KV_List& other)
    {
        if (&other == this)
            return *this;
        Clear();
        munBlockSize = CheckedBlockSize(other.munBlockSize);
        // One growth to the final size, then element-wise assignment in index order.
        SetCountTight(other.munCount);
        for (unsigned int i = 0; i < other.munCount; ++i)
            *mpptElements[i] = *other.mpptElements[i];
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
        for (unsigned int i = 0; i < count; ++i)
            block[i] = *mpptElements[i];
        Clear();
        munBlockSize = CheckedBlockSize(count);
        SetCount(count);
        for (unsigned int i = 0; i < count; ++i)
            *mpptElements[i] = block[i];
        delete[] block;
        return true;
    }

    // The first block's storage: after Consolidate, all Count() elements lie here in order.
    T* FirstBlock() { return munNumBlocks ? mpptBlocks[0] : nullptr; }

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

    // The first block shares one allocation with the first block table entry and the first
    // element table: most lists in a surface (one per polygon) never grow past one block, and
    // three allocations each would dominate building them. Layout: block table (one entry),
    // element table (munBlockSize entries), then the elements. Later growth moves the tables
    // out of this chunk; the first block itself never moves.
    // size elements: the block size, or fewer for a list filled in one step.
    void AllocateFirstBlock(unsigned int size)
    {
        const std::size_t tables = sizeof(T*) * (1 + static_cast<std::size_t>(size));
        const std::size_t offset = (tables + alignof(T) - 1) / alignof(T) * alignof(T);
        void* chunk = std::malloc(offset + static_cast<std::size_t>(size) * sizeof(T));
        if (chunk == nullptr)
            throw KV_ListAllocError();
        T* block = reinterpret_cast<T*>(static_cast<char*>(chunk) + offset);
        ConstructBlock(block, size);
        mpFirstChunk = chunk;
        mpptBlocks = static_cast<T**>(chunk);
        mpptElements = mpptBlocks + 1;
        munBlockTableSize = 1;
        munElementTableSize = size;
        mpptBlocks[0] = block;
        munNumBlocks = 1;
        munFirstBlockSize = size;
        FillEntries(block, size);
    }

    void ConstructBlock(T* block, unsigned int size)
    {
        for (unsigned int k = 0; k < size; ++k) new (block + k) T;
    }

    // Points the element table's entries for the newest block at its size elements.
    void FillEntries(T* block, unsigned int size)
    {
        T** entries = mpptElements + munCapacity;
        for (unsigned int k = 0; k < size; ++k) entries[k] = block + k;
        munCapacity += size;
    }

    bool InFirstChunk(T** table) const
    {
        return mpFirstChunk != nullptr &&
               (table == static_cast<T**>(mpFirstChunk) || table == static_cast<T**>(mpFirstChunk) + 1);
    }

    template <typename P>
    void Grow(P*& table, unsigned int oldEntries, unsigned int entries)
    {
        const std::size_t bytes = static_cast<std::size_t>(entries) * sizeof(P);
        const std::size_t oldBytes = static_cast<std::size_t>(oldEntries) * sizeof(P);
        void* p = nullptr;
        if (InFirstChunk(table))
        {
            p = std::malloc(bytes);
            if (p != nullptr)
                std::memcpy(p, table, oldBytes);
        }
        else
        {
            p = std::realloc(table, bytes);
        }
        if (p == nullptr)
            throw KV_ListAllocError();
        table = static_cast<P*>(p);
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
        // The table of a million-element list is written once per entry; faulting its new
        // pages in one call instead of one page at a time cuts the cost of appending.
        const std::size_t page = 4096;
        if (bytes - oldBytes >= (std::size_t(1) << 20))
        {
            const auto start = (reinterpret_cast<std::uintptr_t>(p) + oldBytes + page - 1) & ~(page - 1);
            const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(page - 1);
            if (end > start)
                madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
        }
#endif
    }

    unsigned int munCount = 0;
    void* mpFirstChunk = nullptr;  // the first block with the first tables, see AllocateFirstBlock
    T** mpptElements = nullptr;
    T** mpptBlocks = nullptr;
    unsigned int munNumBlocks = 0;
    unsigned int munBlockSize;
    unsigned int munCapacity = 0;
    unsigned int munFirstBlockSize = 0;  // elements in block 0, see SetCountTight
    // Allocated sizes of the two tables; they grow geometrically so that appending stays
    // amortised constant time even with millions of blocks.
    unsigned int munBlockTableSize = 0;
    unsigned int munElementTableSize = 0;
};
