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

#include "foundation/KV_Report.h"

#include <cstdint>
#include <cstdlib>
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
        if (static_cast<std::uint64_t>(munBlockSize) * (munNumBlocks + 1ull) > UINT32_MAX)
            throw KV_ListAllocError();
        if (munNumBlocks + 1 > munBlockTableSize)
        {
            unsigned int size = munBlockTableSize ? munBlockTableSize * 2 : 4;
            Grow(mpptBlocks, munBlockTableSize, size);
            munBlockTableSize = size;
        }
        T* block = new T[munBlockSize];
        mpptBlocks[munNumBlocks] = block;
        munNumBlocks += 1;

        const std::uint64_t needed = static_cast<std::uint64_t>(munBlockSize) * munNumBlocks;
        if (needed > munElementTableSize)
        {
            std::uint64_t size = munElementTableSize ? munElementTableSize * 2ull : munBlockSize;
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
                munNumBlocks -= 1;
                delete[] block;
                throw;
            }
            munElementTableSize = static_cast<unsigned int>(size);
        }
        T** entries = mpptElements + munCapacity;
        for (unsigned int k = 0; k < munBlockSize; ++k)
            entries[k] = block + k;
        munCapacity = munBlockSize * munNumBlocks;
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

    void Clear()
    {
        for (unsigned int b = 0; b < munNumBlocks; ++b)
            delete[] mpptBlocks[b];
        std::free(mpptBlocks);
        std::free(mpptElements);
        mpptBlocks = nullptr;
        mpptElements = nullptr;
        munBlockTableSize = 0;
        munElementTableSize = 0;
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
        SetCount(other.munCount);
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

    template <typename P>
    static void Grow(P*& table, unsigned int oldEntries, unsigned int entries)
    {
        const std::size_t bytes = static_cast<std::size_t>(entries) * sizeof(P);
        const std::size_t oldBytes = static_cast<std::size_t>(oldEntries) * sizeof(P);
        void* p = std::realloc(table, bytes);
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
    T** mpptElements = nullptr;
    T** mpptBlocks = nullptr;
    unsigned int munNumBlocks = 0;
    unsigned int munBlockSize;
    unsigned int munCapacity = 0;
    // Allocated sizes of the two tables; they grow geometrically so that appending stays
    // amortised constant time even with millions of blocks.
    unsigned int munBlockTableSize = 0;
    unsigned int munElementTableSize = 0;
};
