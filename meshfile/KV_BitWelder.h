#pragma once
// KV_BitWelder<N>: welds tuples of N floats by exact (bitwise) equality in one pass, each new
// tuple numbered in order of first appearance, through open addressing over the bit patterns
// (no node per entry). 0.0 and -0.0 stay apart, and a NaN meets only its own bit pattern. The
// model readers weld positions and texture coordinates with it, so that every format gives
// the same vertex order for the same values.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

template <unsigned int N>
class KV_BitWelder
{
public:
    using Tuple = std::array<std::uint32_t, N>;

    // Each new tuple is copied into the welder.
    explicit KV_BitWelder(std::size_t expected) : KV_BitWelder(expected, nullptr) {}
    // Tuples welded by IndexAt stay in source (N floats each, fewer than 2^31 of them), which
    // must outlive the welder unchanged: each new one is kept as the place of its first
    // appearance, a third (pairs: half) as large as a copy. Index still copies the tuples it
    // is given.
    KV_BitWelder(std::size_t expected, const float* source) : mpSource(source)
    {
        std::size_t capacity = 16;
        while (capacity < expected * 2) capacity *= 2;
        mkSlots.assign(capacity, 0);
        if (source != nullptr)
            mkFirsts.reserve(expected);
        else
            mkKeys.reserve(expected);
    }

    // The index of the tuple, new ones numbered in order of first appearance.
    unsigned int Index(const float* values)
    {
        Tuple key;
        std::memcpy(key.data(), values, sizeof key);
        return Weld(
            key,
            [this, &key]
            {
                mkKeys.push_back(key);
                if (mpSource != nullptr)
                    mkFirsts.push_back(kCopied | static_cast<std::uint32_t>(mkKeys.size() - 1));
            });
    }
    // The index of tuple i of the source, as Index gives it.
    unsigned int IndexAt(std::size_t i)
    {
        Tuple key;
        std::memcpy(key.data(), mpSource + N * i, sizeof key);
        return Weld(key, [this, i] { mkFirsts.push_back(static_cast<std::uint32_t>(i)); });
    }

    // Starts fetching the slot where the tuple's probe begins, for a caller that knows its
    // tuples some way ahead; changes nothing.
    void Prefetch(const float* values) const
    {
        Tuple key;
        std::memcpy(key.data(), values, sizeof key);
        __builtin_prefetch(&mkSlots[Hash(key) & (mkSlots.size() - 1)]);
    }

    std::size_t Count() const { return mpSource != nullptr ? mkFirsts.size() : mkKeys.size(); }
    // Lets the table go once every tuple is welded: Count, KeyOf and Key still answer, but
    // nothing more may be welded.
    void ReleaseTable() { std::vector<std::uint64_t>().swap(mkSlots); }
    Tuple KeyOf(std::size_t index) const
    {
        if (mpSource == nullptr)
            return mkKeys[index];
        const std::uint32_t first = mkFirsts[index];
        if ((first & kCopied) != 0)
            return mkKeys[first & ~kCopied];
        Tuple key;
        std::memcpy(key.data(), mpSource + N * std::size_t(first), sizeof key);
        return key;
    }
    // Tuple i of a welder without a source.
    const Tuple& Key(std::size_t i) const { return mkKeys[i]; }

private:
    // The index of key, added (by add) when new.
    template <typename Add>
    unsigned int Weld(const Tuple& key, Add add)
    {
        const std::uint64_t hash = Hash(key);
        // A slot holds the hash's high half beside the index, so that a probe reads a key
        // (a cache miss, in a table of millions) only when the hashes agree.
        const std::uint64_t tag = hash & 0xFFFFFFFF00000000ull;
        const std::size_t mask = mkSlots.size() - 1;
        std::size_t slot = hash & mask;
        while (mkSlots[slot] != 0)
        {
            if ((mkSlots[slot] & 0xFFFFFFFF00000000ull) == tag)
            {
                const unsigned int index = static_cast<unsigned int>(mkSlots[slot]) - 1;
                if (KeyOf(index) == key)
                    return index;
            }
            slot = (slot + 1) & mask;
        }
        if ((Count() + 1) * 2 > mkSlots.size())
        {
            Grow();
            return Weld(key, add);
        }
        add();
        mkSlots[slot] = tag | static_cast<std::uint32_t>(Count());
        return static_cast<unsigned int>(Count() - 1);
    }

    // Every bit of the key reaches the low bits that choose the slot: coordinates on a grid
    // (k / 1024) differ only in a few high bits, and a weaker mix piles them into long runs.
    static std::uint64_t Hash(const Tuple& key)
    {
        std::uint64_t hash = 0x9E3779B97F4A7C15ull;
        for (std::uint32_t word : key)
        {
            hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
            hash ^= hash >> 32;
        }
        hash *= 0xC4CEB9FE1A85EC53ull;
        return hash ^ (hash >> 33);
    }

    // Twice the slots, each tuple put back under its own index.
    void Grow()
    {
        mkSlots.assign(mkSlots.size() * 2, 0);
        const std::size_t mask = mkSlots.size() - 1;
        for (std::size_t index = 0; index < Count(); ++index)
        {
            const std::uint64_t hash = Hash(KeyOf(index));
            std::size_t slot = hash & mask;
            while (mkSlots[slot] != 0) slot = (slot + 1) & mask;
            mkSlots[slot] = (hash & 0xFFFFFFFF00000000ull) | static_cast<std::uint32_t>(index + 1);
        }
    }

    // Marks a tuple of a welder with a source that Index copied: the rest is its place in
    // mkKeys.
    static constexpr std::uint32_t kCopied = 0x80000000u;

    const float* mpSource;
    std::vector<std::uint64_t> mkSlots;  // hash's high half and index + 1; 0 for free
    std::vector<Tuple> mkKeys;           // copied tuples
    std::vector<std::uint32_t> mkFirsts;  // with a source: each tuple's place there, or kCopied
};
