#pragma once
// KV_BitWelder: welds fixed-size float tuples by exact (bitwise) equality in one pass, first
// occurrence first, by open addressing without a node per entry. Used by the model readers
// to share vertices and texture coordinates.

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
        std::uint64_t hash = 1469598103934665603ull;
        for (std::uint32_t word : key) hash = (hash ^ word) * 1099511628211ull;
        hash ^= hash >> 29;
        std::size_t slot = hash & (mkSlots.size() - 1);
        while (mkSlots[slot] != 0)
        {
            const unsigned int index = mkSlots[slot] - 1;
            if (mkKeys[index] == key)
                return index;
            slot = (slot + 1) & (mkSlots.size() - 1);
        }
        if ((mkKeys.size() + 1) * 2 > mkSlots.size())
        {
            Grow();
            return Index(values);
        }
        mkKeys.push_back(key);
        mkSlots[slot] = static_cast<unsigned int>(mkKeys.size());
        return static_cast<unsigned int>(mkKeys.size() - 1);
    }

    std::size_t Count() const { return mkKeys.size(); }
    const std::array<std::uint32_t, N>& Key(std::size_t i) const { return mkKeys[i]; }

private:
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

    std::vector<unsigned int> mkSlots;  // index + 1, 0 for free
    std::vector<std::array<std::uint32_t, N>> mkKeys;
};
