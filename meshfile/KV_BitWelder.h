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
    explicit KV_BitWelder(std::size_t expected)
    {
        std::size_t capacity = 16;
        while (capacity < expected * 2) capacity *= 2;
        mkSlots.assign(capacity, 0);
        mkKeys.reserve(expected);
    }

    // The index of the tuple, new ones numbered in order of first appearance.
    unsigned int Index(const float* values)
    {
        std::array<std::uint32_t, N> key;
        std::memcpy(key.data(), values, sizeof key);
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
                if (Equal(mkKeys[index], key))
                    return index;
            }
            slot = (slot + 1) & mask;
        }
        if ((mkKeys.size() + 1) * 2 > mkSlots.size())
        {
            Grow();
            return Index(values);
        }
        mkKeys.push_back(key);
        mkSlots[slot] = tag | static_cast<std::uint32_t>(mkKeys.size());
        return static_cast<unsigned int>(mkKeys.size() - 1);
    }

    // Starts fetching the slot where the tuple's probe begins, for a caller that knows its
    // tuples some way ahead; changes nothing.
    void Prefetch(const float* values) const
    {
        std::array<std::uint32_t, N> key;
        std::memcpy(key.data(), values, sizeof key);
        __builtin_prefetch(&mkSlots[Hash(key) & (mkSlots.size() - 1)]);
    }

    std::size_t Count() const { return mkKeys.size(); }
    const std::array<std::uint32_t, N>& Key(std::size_t i) const { return mkKeys[i]; }

private:
    // Every bit of the key reaches the low bits that choose the slot: coordinates on a grid
    // (k / 1024) differ only in a few high bits, and a weaker mix piles them into long runs.
    static std::uint64_t Hash(const std::array<std::uint32_t, N>& key)
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

    static bool Equal(const std::array<std::uint32_t, N>& a, const std::array<std::uint32_t, N>& b)
    {
        bool same = true;
        for (unsigned int i = 0; i < N; ++i) same = same && a[i] == b[i];
        return same;
    }

    void Grow()
    {
        std::vector<std::array<std::uint32_t, N>> keys;
        keys.swap(mkKeys);
        mkSlots.assign(mkSlots.size() * 2, 0);
        mkKeys.reserve(keys.size() * 2);
        for (const auto& key : keys)
        {
            float values[N];
            std::memcpy(values, key.data(), sizeof values);
            Index(values);
        }
    }

    std::vector<std::uint64_t> mkSlots;  // hash's high half and index + 1; 0 for free
    std::vector<std::array<std::uint32_t, N>> mkKeys;
};
