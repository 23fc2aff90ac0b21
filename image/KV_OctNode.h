#pragma once
// KV_OctNode: one node of the colour quantiser's octree (see KV_ColourMap). A node at level L
// sorts colours into its 8 child slots by bit 7 - L of red, green and blue; it sums the
// colours of every pixel that passes through it, so any node can stand for the mean colour
// of its whole subtree once its children are pruned.

#include <cstdint>

class KV_ColourMap;

class KV_OctNode
{
public:
    KV_OctNode(int level, bool isLeaf);
    // Children must have been removed first (KV_ColourMap does that); a node that still
    // holds a child shows "Memory Leak Detected" / "OctNode Destructor" and leaks it.
    virtual ~KV_OctNode();
    KV_OctNode(const KV_OctNode&) = delete;
    KV_OctNode& operator=(const KV_OctNode&) = delete;

    // The child slot of a colour at this node's level.
    int ChildSlot(unsigned char red, unsigned char green, unsigned char blue) const;

    int Level() const { return mnLevel; }
    bool IsLeaf() const { return mbIsLeaf; }
    bool IsReducible() const { return mbIsReducible; }
    unsigned int PixelCount() const { return munPixelCount; }
    std::uint64_t RedSum() const { return munRedSum; }
    std::uint64_t GreenSum() const { return munGreenSum; }
    std::uint64_t BlueSum() const { return munBlueSum; }
    int PaletteIndex() const { return mnPaletteIndex; }
    unsigned int ChildCount() const { return munChildCount; }
    // Child in slot 0..7, or null.
    const KV_OctNode* Child(int slot) const
    {
        return mpkChildren != nullptr ? mpkChildren[slot] : nullptr;
    }
    const KV_OctNode* Next() const { return mpNext; }
    const KV_OctNode* Previous() const { return mpPrevious; }

private:
    friend class KV_ColourMap;

    // The slot table, made on first need; a table that cannot be allocated is a fatal
    // out-of-memory report titled "OctNode Error".
    KV_OctNode** Children();

    int mnLevel;
    bool mbIsLeaf;
    bool mbIsReducible = false;
    unsigned int munPixelCount = 0;
    // 64-bit: a node near the root of a large bright image sums more than 2^32.
    std::uint64_t munRedSum = 0;
    std::uint64_t munGreenSum = 0;
    std::uint64_t munBlueSum = 0;
    int mnPaletteIndex = 0;
    unsigned int munChildCount = 0;
    KV_OctNode** mpkChildren = nullptr;  // 8 slots, owned
    KV_OctNode* mpNext = nullptr;        // reducible list of this level
    KV_OctNode* mpPrevious = nullptr;
};
