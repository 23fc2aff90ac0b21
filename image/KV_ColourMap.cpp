#include "image/KV_ColourMap.h"

#include "foundation/KV_Report.h"

#include <new>

KV_ColourMap::KV_ColourMap(int colourLimit) : mnColourLimit(colourLimit)
{
    mkReducible.Resize(0, 7);
}

KV_ColourMap::~KV_ColourMap()
{
    // A map that never built a tree has nothing to remove.
    if (mpkRoot != nullptr)
        DeleteNode(mpkRoot);
    mpkRoot = nullptr;
}

KV_OctNode* KV_ColourMap::MakeNode(int level)
{
    const bool isLeaf = level >= mnDepthLimit;
    KV_OctNode* node = new (std::nothrow) KV_OctNode(level, isLeaf);
    if (node != nullptr && isLeaf)
        ++mnLeafCount;
    return node;
}

bool KV_ColourMap::InsertColour(const KV_RGB8& colour)
{
    if (mpkRoot == nullptr)
    {
        mpkRoot = MakeNode(0);
        if (mpkRoot == nullptr)
            return false;
    }
    Insert(mpkRoot, colour);
    return true;
}

void KV_ColourMap::Insert(KV_OctNode* node, const KV_RGB8& colour)
{
    for (;;)
    {
        // Every node on the path accumulates, so that a pruned node already holds the sum
        // of everything below it.
        node->munRedSum += colour.red;
        node->munGreenSum += colour.green;
        node->munBlueSum += colour.blue;
        node->munPixelCount += 1;
        if (node->mbIsLeaf || node->mnLevel >= mnDepthLimit)
            return;
        KV_OctNode** children = node->Children();
        const int slot = node->ChildSlot(colour.red, colour.green, colour.blue);
        if (children[slot] == nullptr)
        {
            children[slot] = MakeNode(node->mnLevel + 1);
            if (children[slot] == nullptr)
                ReportOutOfMemory("OctNode Error");
            node->munChildCount += 1;
        }
        if (node->munChildCount > 1 && !node->mbIsReducible)
        {
            KV_OctNode*& head = mkReducible[node->mnLevel];
            node->mpNext = head;
            node->mpPrevious = nullptr;
            if (head != nullptr)
                head->mpPrevious = node;
            head = node;
            node->mbIsReducible = true;
        }
        node = children[slot];
    }
}

void KV_ColourMap::Unlink(KV_OctNode* node)
{
    if (!node->mbIsReducible)
        return;
    if (node->mpPrevious != nullptr)
        node->mpPrevious->mpNext = node->mpNext;
    else if (mkReducible[node->mnLevel] == node)
        mkReducible[node->mnLevel] = node->mpNext;
    if (node->mpNext != nullptr)
        node->mpNext->mpPrevious = node->mpPrevious;
    node->mpNext = nullptr;
    node->mpPrevious = nullptr;
    node->mbIsReducible = false;
}

void KV_ColourMap::ReduceTree()
{
    int level = mnDepthLimit - 1;
    while (level >= 0 && mkReducible[level] == nullptr) --level;
    if (level < 0)
        return;

    // The least-used node; on equal counts the one nearer the head (listed more recently).
    KV_OctNode* chosen = mkReducible[level];
    for (KV_OctNode* node = chosen->mpNext; node != nullptr; node = node->mpNext)
        if (node->munPixelCount < chosen->munPixelCount)
            chosen = node;

    Unlink(chosen);
    DeleteChildren(chosen);
    chosen->mbIsLeaf = true;
    ++mnLeafCount;
    if (chosen->mnLevel < mnDepthLimit - 1)
        mnDepthLimit = chosen->mnLevel + 1;
}

void KV_ColourMap::DeleteChildren(KV_OctNode* node)
{
    if (node->mpkChildren == nullptr)
        return;
    for (int slot = 0; slot < 8; ++slot)
    {
        if (node->mpkChildren[slot] != nullptr)
        {
            DeleteNode(node->mpkChildren[slot]);
            node->mpkChildren[slot] = nullptr;
            node->munChildCount -= 1;
        }
    }
}

void KV_ColourMap::DeleteNode(KV_OctNode* node)
{
    if (node->mbIsLeaf)
        --mnLeafCount;
    DeleteChildren(node);
    // Nodes below a pruned one can still sit in the list of their level; leaving them there
    // would leave a dangling pointer in the list.
    Unlink(node);
    delete node;
}

bool KV_ColourMap::FillPalette(KV_OctNode* node, KV_Array<KV_RGB8>& palette, int& index)
{
    if (node == nullptr)
        return true;
    if (!node->mbIsLeaf && node->mnLevel < mnDepthLimit)
    {
        bool ok = true;
        for (int slot = 0; slot < 8; ++slot)
            if (node->mpkChildren != nullptr)
                ok = FillPalette(node->mpkChildren[slot], palette, index) && ok;
        return ok;
    }
    if (index >= static_cast<int>(palette.Count()))
        return false;
    KV_RGB8 mean;
    if (node->munPixelCount > 0)
    {
        mean.red = static_cast<unsigned char>(node->munRedSum / node->munPixelCount);
        mean.green = static_cast<unsigned char>(node->munGreenSum / node->munPixelCount);
        mean.blue = static_cast<unsigned char>(node->munBlueSum / node->munPixelCount);
    }
    palette[index] = mean;
    node->mnPaletteIndex = index;
    ++index;
    return true;
}

void KV_ColourMap::BuildPalette(const KV_Image<KV_RGB8>& image, KV_Array<KV_RGB8>& palette)
{
    const int limit = mnColourLimit > 0 ? mnColourLimit : 0;
    palette.Resize(0, limit - 1);
    for (unsigned int k = 0; k < palette.Count(); ++k) palette.Data()[k] = KV_RGB8();

    if (mpkRoot == nullptr)
        mpkRoot = MakeNode(0);
    if (mpkRoot == nullptr)
    {
        ReportMessage("ColourMap Error", "Unable to build octree");
        return;
    }
    // Column by column, each column from row 0 up: the order decides which nodes are
    // pruned, so it is part of the output.
    const int rows = image.Rows();
    const int cols = image.Cols();
    for (int i = 0; i < cols; ++i)
    {
        for (int j = 0; j < rows; ++j)
        {
            Insert(mpkRoot, image(j, i));
            if (mnLeafCount > mnColourLimit)
                ReduceTree();
        }
    }
    int index = 0;
    if (!FillPalette(mpkRoot, palette, index))
        ReportMessage("ColourMap Error", "Unable to fill colour palette");
}

int KV_ColourMap::PaletteIndex(const KV_RGB8& colour) const
{
    const KV_OctNode* node = mpkRoot;
    if (node == nullptr)
        return 0;
    while (!node->mbIsLeaf && node->mnLevel < mnDepthLimit)
    {
        const KV_OctNode* child =
            node->Child(node->ChildSlot(colour.red, colour.green, colour.blue));
        if (child == nullptr)  // a colour that was never inserted
            break;
        node = child;
    }
    return node->mnPaletteIndex;
}

void KV_ColourMap::MapImage(const KV_Image<KV_RGB8>& image, KV_Image<unsigned char>& indices) const
{
    if (indices.Rows() != image.Rows() || indices.Cols() != image.Cols())
        indices.SetSize(image.Rows(), image.Cols());
    if (image.IsEmpty())
        return;
    for (int j = 0; j < image.Rows(); ++j)
    {
        const KV_RGB8* in = image.Row(j);
        unsigned char* out = indices.Row(j);
        // Neighbouring pixels often share a colour: skip the tree walk for repeats.
        KV_RGB8 last = in[0];
        unsigned char lastIndex = static_cast<unsigned char>(PaletteIndex(last));
        for (int i = 0; i < image.Cols(); ++i)
        {
            if (in[i] != last)
            {
                last = in[i];
                lastIndex = static_cast<unsigned char>(PaletteIndex(last));
            }
            out[i] = lastIndex;
        }
    }
}
