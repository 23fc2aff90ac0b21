#include "image/KV_ColourMap.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace
{
// Follows a colour's path from the root down to the node at the given level.
const KV_OctNode* NodeAt(const KV_ColourMap& map, const KV_RGB8& c, int level)
{
    const KV_OctNode* node = map.Root();
    while (node != nullptr && node->Level() < level)
        node = node->Child(node->ChildSlot(c.red, c.green, c.blue));
    return node;
}

int CountLeaves(const KV_OctNode* node)
{
    if (node == nullptr)
        return 0;
    if (node->IsLeaf())
        return 1;
    int leaves = 0;
    for (int slot = 0; slot < 8; ++slot) leaves += CountLeaves(node->Child(slot));
    return leaves;
}
}  // namespace

TEST(KV_OctNode, ChildSlotTakesOneBitOfEachChannel)
{
    KV_OctNode root(0, false);
    EXPECT_EQ(root.ChildSlot(0x80, 0x00, 0x00), 4);
    EXPECT_EQ(root.ChildSlot(0x00, 0x80, 0x00), 2);
    EXPECT_EQ(root.ChildSlot(0x00, 0x00, 0x80), 1);
    EXPECT_EQ(root.ChildSlot(0x7F, 0x7F, 0x7F), 0);
    KV_OctNode deep(7, false);
    EXPECT_EQ(deep.ChildSlot(1, 0, 1), 5);
    EXPECT_EQ(deep.ChildSlot(0xFE, 0xFF, 0xFE), 2);
    EXPECT_EQ(deep.PaletteIndex(), 0);
    EXPECT_EQ(deep.ChildCount(), 0u);
}

TEST(KV_ColourMap, OnePixelGivesOneEntryAndIndexZero)
{
    KV_Image<KV_RGB8> image(1, 1);
    image(0, 0) = KV_RGB8(10, 20, 30);
    KV_ColourMap map(256);
    KV_Array<KV_RGB8> palette;
    map.BuildPalette(image, palette);
    ASSERT_EQ(palette.Low(), 0);
    ASSERT_EQ(palette.High(), 255);
    EXPECT_EQ(palette[0], KV_RGB8(10, 20, 30));
    for (int i = 1; i < 256; ++i) EXPECT_EQ(palette[i], KV_RGB8()) << i;
    KV_Image<unsigned char> indices;
    map.MapImage(image, indices);
    ASSERT_EQ(indices.Rows(), 1);
    EXPECT_EQ(indices(0, 0), 0);
    EXPECT_EQ(map.LeafCount(), 1);
    EXPECT_EQ(map.DepthLimit(), 8);
}

TEST(KV_ColourMap, PaletteFollowsSlotOrder)
{
    // Red goes to slot 4 at the root and blue to slot 1, so blue is entry 0.
    KV_Image<KV_RGB8> image(1, 3);
    image(0, 0) = KV_RGB8(255, 0, 0);
    image(0, 1) = KV_RGB8(0, 0, 255);
    image(0, 2) = KV_RGB8(255, 0, 0);
    KV_ColourMap map(256);
    KV_Array<KV_RGB8> palette;
    map.BuildPalette(image, palette);
    EXPECT_EQ(palette[0], KV_RGB8(0, 0, 255));
    EXPECT_EQ(palette[1], KV_RGB8(255, 0, 0));
    EXPECT_EQ(palette[2], KV_RGB8());
    KV_Image<unsigned char> indices;
    map.MapImage(image, indices);
    EXPECT_EQ(indices(0, 0), 1);
    EXPECT_EQ(indices(0, 1), 0);
    EXPECT_EQ(indices(0, 2), 1);
}

TEST(KV_ColourMap, AtMost256ColoursAreKeptExactly)
{
    // 256 distinct colours spread over all bits, each colour in its own level-8 leaf.
    KV_Image<KV_RGB8> image(16, 16);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            image(r, c) =
                KV_RGB8(static_cast<unsigned char>(r * 17), static_cast<unsigned char>(c * 13 + 1),
                        static_cast<unsigned char>((r * 16 + c) * 7));
    KV_ColourMap map(256);
    KV_Array<KV_RGB8> palette;
    map.BuildPalette(image, palette);
    EXPECT_EQ(map.LeafCount(), 256);
    EXPECT_EQ(map.DepthLimit(), 8);
    KV_Image<unsigned char> indices;
    map.MapImage(image, indices);
    std::map<int, int> uses;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
        {
            EXPECT_EQ(palette[indices(r, c)], image(r, c)) << r << "," << c;
            uses[indices(r, c)] += 1;
        }
    EXPECT_EQ(uses.size(), 256u);
    // The entries run in slot order along the tree; neighbouring entries differ.
    for (int i = 1; i < 256; ++i) EXPECT_NE(palette[i - 1], palette[i]);
}

TEST(KV_ColourMap, EqualCountsReduceTheMoreRecentlyListedNode)
{
    // A, B share every bit but blue bit 0: their level-7 node N1 becomes reducible first.
    // C, D do the same under a different level-6 slot: N2 is listed later, at the head.
    const KV_RGB8 a(0, 0, 0), b(0, 0, 1), c(0, 0, 2), d(0, 0, 3);
    KV_ColourMap map(256);
    for (const KV_RGB8& colour : {a, b, c, d}) ASSERT_TRUE(map.InsertColour(colour));
    const KV_OctNode* n1 = NodeAt(map, a, 7);
    const KV_OctNode* n2 = NodeAt(map, c, 7);
    ASSERT_NE(n1, n2);
    EXPECT_EQ(map.ReducibleHead(7), n2);
    EXPECT_EQ(n2->Next(), n1);
    EXPECT_EQ(n1->Previous(), n2);
    EXPECT_EQ(map.LeafCount(), 4);

    map.ReduceTree();
    EXPECT_TRUE(n2->IsLeaf());
    EXPECT_FALSE(n2->IsReducible());
    EXPECT_EQ(n2->ChildCount(), 0u);
    EXPECT_FALSE(n1->IsLeaf());
    EXPECT_EQ(map.ReducibleHead(7), n1);
    EXPECT_EQ(n1->Previous(), nullptr);
    EXPECT_EQ(map.LeafCount(), 3);
    EXPECT_EQ(CountLeaves(map.Root()), 3);
    EXPECT_EQ(map.DepthLimit(), 8);
}

TEST(KV_ColourMap, SmallestPixelCountIsReducedWhereverListed)
{
    const KV_RGB8 a(0, 0, 0), b(0, 0, 1), c(0, 0, 2), d(0, 0, 3);
    KV_ColourMap map(256);
    for (const KV_RGB8& colour : {a, b, c, d, d}) map.InsertColour(colour);
    const KV_OctNode* n1 = NodeAt(map, a, 7);
    map.ReduceTree();
    EXPECT_TRUE(n1->IsLeaf());
    EXPECT_EQ(n1->PixelCount(), 2u);
    EXPECT_EQ(n1->BlueSum(), 1u);
    EXPECT_FALSE(NodeAt(map, c, 7)->IsLeaf());
}

TEST(KV_ColourMap, ReductionAboveTheDeepestLevelLowersTheDepthLimit)
{
    // Blue 0 and 4 part at level 5 (bit 2): that is the only reducible node.
    KV_ColourMap map(256);
    map.InsertColour(KV_RGB8(0, 0, 0));
    map.InsertColour(KV_RGB8(0, 0, 4));
    const KV_OctNode* split = NodeAt(map, KV_RGB8(0, 0, 0), 5);
    EXPECT_EQ(map.ReducibleHead(5), split);
    map.ReduceTree();
    EXPECT_TRUE(split->IsLeaf());
    EXPECT_EQ(map.DepthLimit(), 6);
    EXPECT_EQ(map.LeafCount(), 1);

    // A new colour parting at level 4 now stops at a level-6 leaf.
    const KV_RGB8 e(0, 0, 8);
    map.InsertColour(e);
    const KV_OctNode* level6 = NodeAt(map, e, 6);
    ASSERT_NE(level6, nullptr);
    EXPECT_EQ(level6->Level(), 6);
    EXPECT_TRUE(level6->IsLeaf());
    EXPECT_EQ(level6->Child(0), nullptr);
    EXPECT_EQ(map.LeafCount(), 2);
    EXPECT_EQ(CountLeaves(map.Root()), 2);
}

TEST(KV_ColourMap, ManyColoursGiveMeansOfTheirPixels)
{
    // Every palette entry is the truncated mean of exactly the pixels mapped to it.
    std::mt19937 random(7);
    KV_Image<KV_RGB8> image(61, 53);
    for (int r = 0; r < image.Rows(); ++r)
        for (int c = 0; c < image.Cols(); ++c)
            image(r, c) =
                KV_RGB8(static_cast<unsigned char>(random()), static_cast<unsigned char>(r * 4),
                        static_cast<unsigned char>(random() & 0xF0));
    KV_ColourMap map(256);
    KV_Array<KV_RGB8> palette;
    map.BuildPalette(image, palette);
    KV_Image<unsigned char> indices;
    map.MapImage(image, indices);
    EXPECT_LE(map.LeafCount(), 256);
    EXPECT_LT(map.DepthLimit(), 8);
    EXPECT_EQ(CountLeaves(map.Root()), map.LeafCount());

    struct Sum
    {
        unsigned long r = 0, g = 0, b = 0, n = 0;
    };
    std::map<int, Sum> sums;
    for (int r = 0; r < image.Rows(); ++r)
        for (int c = 0; c < image.Cols(); ++c)
        {
            Sum& s = sums[indices(r, c)];
            s.r += image(r, c).red;
            s.g += image(r, c).green;
            s.b += image(r, c).blue;
            s.n += 1;
        }
    EXPECT_GT(sums.size(), 100u);
    for (const auto& [index, s] : sums)
    {
        const KV_RGB8 mean(static_cast<unsigned char>(s.r / s.n),
                           static_cast<unsigned char>(s.g / s.n),
                           static_cast<unsigned char>(s.b / s.n));
        EXPECT_EQ(palette[index], mean) << index;
    }
    // Entries are handed out in order: the used ones are exactly 0 .. n - 1.
    EXPECT_EQ(sums.rbegin()->first, static_cast<int>(sums.size()) - 1);
    for (int i = static_cast<int>(sums.size()); i < 256; ++i) EXPECT_EQ(palette[i], KV_RGB8());
}

TEST(KV_ColourMap, InsertionOrderIsColumnByColumn)
{
    // Pairs A, B and C, D each share a level-7 node; E is far away. With a limit of 4 the
    // fifth leaf forces one reduction, and of the two level-7 nodes (equal counts) the one
    // whose pair was completed last is merged.
    //   row 1:  B  E  E        column by column: A B C E D E -> C, D merge
    //   row 0:  A  C  D        row by row:       A C D B E E -> A, B would merge
    const KV_RGB8 a(0, 0, 0), b(0, 0, 1), c(0, 0, 2), d(0, 0, 3), e(255, 255, 255);
    KV_Image<KV_RGB8> image(2, 3);
    image(0, 0) = a;
    image(0, 1) = c;
    image(0, 2) = d;
    image(1, 0) = b;
    image(1, 1) = e;
    image(1, 2) = e;
    KV_ColourMap map(4);
    KV_Array<KV_RGB8> palette;
    map.BuildPalette(image, palette);
    KV_Image<unsigned char> indices;
    map.MapImage(image, indices);
    EXPECT_EQ(map.LeafCount(), 4);
    EXPECT_EQ(palette.Count(), 4u);
    EXPECT_EQ(palette[indices(0, 0)], a);
    EXPECT_EQ(palette[indices(1, 0)], b);
    EXPECT_EQ(indices(0, 1), indices(0, 2));
    EXPECT_EQ(palette[indices(0, 1)], KV_RGB8(0, 0, 2));  // (2 + 3) / 2, truncated
    EXPECT_EQ(palette[indices(1, 1)], e);
    EXPECT_EQ(palette[0], a);
    EXPECT_EQ(palette[1], b);
}

TEST(KV_ColourMap, UnbuiltMapIsHarmless)
{
    ReportRecorder recorder;
    {
        KV_ColourMap map(256);
        EXPECT_EQ(map.PaletteIndex(KV_RGB8(1, 2, 3)), 0);
        KV_Image<KV_RGB8> image(1, 2);
        KV_Image<unsigned char> indices;
        map.MapImage(image, indices);
        EXPECT_EQ(indices.Cols(), 2);
    }
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST(KV_ColourMap, EmptyImageGivesBlackPalette)
{
    KV_ColourMap map(256);
    KV_Array<KV_RGB8> palette;
    palette.Resize(0, 255);
    palette[3] = KV_RGB8(1, 1, 1);
    map.BuildPalette(KV_Image<KV_RGB8>(), palette);
    EXPECT_EQ(palette.Count(), 256u);
    EXPECT_EQ(palette[3], KV_RGB8());
}

TEST(KV_ColourMap, SumsOfLargeBrightImagesDoNotWrap)
{
    // More white pixels than a 32-bit sum of 255s can hold.
    const unsigned int count = 16843010;
    KV_ColourMap map(256);
    for (unsigned int k = 0; k < count; ++k) map.InsertColour(KV_RGB8(255, 255, 255));
    EXPECT_EQ(map.Root()->RedSum(), 255ull * count);
    KV_Array<KV_RGB8> palette;
    map.BuildPalette(KV_Image<KV_RGB8>(), palette);
    EXPECT_EQ(palette[0], KV_RGB8(255, 255, 255));
}
