#pragma once
// KV_ColourMap: octree colour quantiser. It reduces a colour image to at most a given number
// of colours (256 for GIF): every pixel is inserted into an octree keyed by the bits of its
// red, green and blue values, the tree is pruned whenever it holds more leaves than the
// allowed colours, the surviving nodes give the palette (the mean colour of the pixels that
// reached each), and every pixel is mapped to the palette index of the node it reaches.
//
// One map serves one image: construct, BuildPalette, MapImage, destroy. The result depends on
// the order pixels are inserted (column by column, each column bottom to top), which is part
// of the output format.

#include "foundation/KV_Array.h"
#include "image/KV_Image.h"
#include "image/KV_OctNode.h"

class KV_ColourMap
{
public:
    explicit KV_ColourMap(int colourLimit);
    // Deletes the tree; a map that never built one is destroyed quietly.
    virtual ~KV_ColourMap();
    KV_ColourMap(const KV_ColourMap&) = delete;
    KV_ColourMap& operator=(const KV_ColourMap&) = delete;

    // Builds the tree from image and fills palette, resized to indices 0 .. limit - 1; entries
    // no colour reaches are black. If the root cannot be made, "ColourMap Error" / "Unable to
    // build octree" is shown and the palette stays black; if filling fails, "ColourMap Error" /
    // "Unable to fill colour palette". A node that cannot be allocated is a fatal
    // out-of-memory report.
    void BuildPalette(const KV_Image<KV_RGB8>& image, KV_Array<KV_RGB8>& palette);

    // Sets every pixel of indices (resized to image's size if it differs) to the palette
    // index of the matching image pixel. Without a tree every index is 0.
    void MapImage(const KV_Image<KV_RGB8>& image, KV_Image<unsigned char>& indices) const;

    // The palette index of one colour; 0 without a tree.
    int PaletteIndex(const KV_RGB8& colour) const;

    int LeafCount() const { return mnLeafCount; }
    int DepthLimit() const { return mnDepthLimit; }
    int ColourLimit() const { return mnColourLimit; }
    const KV_OctNode* Root() const { return mpkRoot; }
    // Head of the reducible list of a level 0..7 (nodes with more than one child).
    const KV_OctNode* ReducibleHead(int level) const { return mkReducible[level]; }

    // The tree-building steps, public so that a tree can be grown pixel by pixel.
    // Inserts one colour from the root (making the root first if there is none); returns
    // false only when the root cannot be made.
    bool InsertColour(const KV_RGB8& colour);
    // Prunes one node: the least-used node of the deepest non-empty reducible list above
    // the depth limit becomes a leaf. Does nothing when every such list is empty.
    void ReduceTree();

private:
    KV_OctNode* MakeNode(int level);
    void Insert(KV_OctNode* node, const KV_RGB8& colour);
    void Unlink(KV_OctNode* node);
    void DeleteNode(KV_OctNode* node);
    void DeleteChildren(KV_OctNode* node);
    bool FillPalette(KV_OctNode* node, KV_Array<KV_RGB8>& palette, int& index);

    int mnLeafCount = 0;
    int mnDepthLimit = 8;
    int mnColourLimit;
    KV_OctNode* mpkRoot = nullptr;
    KV_Array<KV_OctNode*> mkReducible;  // list heads, levels 0..7
};
