#include "foundation/KV_List.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace
{
const char* kResizeError = "KV_List Block Re-Size error!";
const char* kZeroBlock = "Block size zero, re-setting to 16";
const char* kNonEmpty = "Invalid attempt to set block size of non-empty list";

KV_List<int> Numbers(unsigned int n, unsigned int blockSize)
{
    KV_List<int> list(blockSize);
    for (unsigned int i = 0; i < n; ++i) list.Append(static_cast<int>(i));
    return list;
}
}  // namespace

TEST(KV_List, ZeroBlockSizeAtConstructionIsReportedOnceAndBecomes16)
{
    ReportRecorder recorder;
    KV_List<int> list(0);
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, kResizeError);
    EXPECT_EQ(recorder.Reports()[0].caption, kZeroBlock);
    EXPECT_EQ(recorder.Reports()[0].kind, KV_ReportKind::Message);
    EXPECT_EQ(list.BlockSize(), 16u);
}

TEST(KV_List, SetBlockSizeIsRefusedByStorageNotByCount)
{
    ReportRecorder recorder;
    KV_List<int> list(1024);
    list.SetBlockSize(8);
    EXPECT_EQ(list.BlockSize(), 8u);
    EXPECT_EQ(recorder.Count(), 0u);

    list.Append(1);
    list.SetBlockSize(32);
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, kResizeError);
    EXPECT_EQ(recorder.Reports()[0].caption, kNonEmpty);
    EXPECT_EQ(list.BlockSize(), 8u);

    list.SetCount(0);
    list.SetBlockSize(32);
    EXPECT_EQ(recorder.Count(), 2u);
    EXPECT_EQ(list.BlockSize(), 8u);

    list.Clear();
    list.SetBlockSize(0);
    ASSERT_EQ(recorder.Count(), 3u);
    EXPECT_EQ(recorder.Reports()[2].caption, kZeroBlock);
    EXPECT_EQ(list.BlockSize(), 16u);
}

TEST(KV_List, BlocksNeverMoveWhileTheListGrows)
{
    KV_List<int> list(4);
    for (int i = 0; i < 4; ++i) list.Append(i);
    EXPECT_EQ(list.NumBlocks(), 1u);
    const int* first = &list[0];
    list.Append(4);
    EXPECT_EQ(list.NumBlocks(), 2u);
    EXPECT_EQ(list.Capacity(), 8u);
    EXPECT_EQ(&list[0], first);

    // Many more blocks: every earlier element address stays put.
    std::vector<const int*> addresses;
    for (unsigned int i = 0; i < list.Count(); ++i) addresses.push_back(&list[i]);
    for (int i = 5; i < 10000; ++i) list.Append(i);
    for (unsigned int i = 0; i < addresses.size(); ++i) EXPECT_EQ(&list[i], addresses[i]);
    EXPECT_EQ(list.NumBlocks(), 2500u);
    for (unsigned int i = 0; i < list.Count(); ++i) ASSERT_EQ(list[i], static_cast<int>(i));
}

TEST(KV_List, SetCountKeepsOldValuesInReusedSlots)
{
    KV_List<int> list = Numbers(10, 4);
    list.SetCount(5);
    EXPECT_EQ(list.Count(), 5u);
    EXPECT_EQ(list.Capacity(), 12u);
    list.SetCount(10);
    for (int i = 5; i < 10; ++i) EXPECT_EQ(list[i], i);
    list.SetCount(13);
    EXPECT_EQ(list.NumBlocks(), 4u);
}

TEST(KV_List, FreshSlotsAreDefaultConstructed)
{
    KV_List<std::string> list(4);
    list.Append("x");
    list.SetCount(6);
    EXPECT_EQ(list[0], "x");
    for (unsigned int i = 1; i < 6; ++i) EXPECT_EQ(list[i], "");
}

TEST(KV_List, AssignmentAndCopyTakeTheSourceBlockSize)
{
    KV_List<int> small = Numbers(9, 4);
    KV_List<int> big(1024);
    big.Append(7);
    big = small;
    EXPECT_EQ(big.BlockSize(), 4u);
    ASSERT_EQ(big.Count(), 9u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(big[i], i);

    KV_List<int> copy(small);
    EXPECT_EQ(copy.BlockSize(), 4u);
    ASSERT_EQ(copy.Count(), 9u);
    EXPECT_NE(&copy[0], &small[0]);

    const int* before = &small[0];
    small = small;
    EXPECT_EQ(&small[0], before);
    EXPECT_EQ(small.Count(), 9u);
}

TEST(KV_List, ListFilledInOneStepHoldsOnlyItsElementsUntilItGrows)
{
    KV_List<unsigned int> source(256);
    for (unsigned int i = 0; i < 5; ++i) source.Append(i);
    KV_List<unsigned int> copy(source);
    EXPECT_EQ(copy.Capacity(), 5u);
    EXPECT_EQ(copy.BlockSize(), 256u);
    // Growing moves the five into a whole first block once; then blocks never move.
    for (unsigned int i = 5; i < 300; ++i) copy.Append(i);
    EXPECT_EQ(copy.NumBlocks(), 2u);
    EXPECT_EQ(copy.Capacity(), 512u);
    for (unsigned int i = 0; i < 300; ++i) ASSERT_EQ(copy[i], i);

    KV_List<std::string> tight(8);
    tight.SetCountTight(3);
    tight[2] = "kept";
    tight.Append("more");
    tight.SetCount(20);
    EXPECT_EQ(tight[2], "kept");
    EXPECT_EQ(tight[3], "more");
    EXPECT_EQ(tight.Capacity(), 24u);
}

TEST(KV_List, ListsOfListsCopyDeeply)
{
    KV_List<KV_List<unsigned int>> outer(3);
    KV_List<unsigned int> inner(4);
    inner.Append(1);
    inner.Append(2);
    outer.Append(inner);
    inner.Append(3);
    outer.Append(inner);
    KV_List<KV_List<unsigned int>> copy(outer);
    outer[0][0] = 99;
    ASSERT_EQ(copy[0].Count(), 2u);
    EXPECT_EQ(copy[0][0], 1u);
    EXPECT_EQ(copy[1].Count(), 3u);
    EXPECT_EQ(copy[1].BlockSize(), 4u);
}

TEST(KV_List, ConsolidateMakesOneContiguousBlockInOrder)
{
    KV_List<int> single = Numbers(3, 3);
    EXPECT_FALSE(single.Consolidate());
    KV_List<int> empty(3);
    EXPECT_FALSE(empty.Consolidate());

    KV_List<int> list(3);
    for (int i = 0; i < 1000; ++i) list.Append(1000 - i);
    EXPECT_TRUE(list.Consolidate());
    EXPECT_EQ(list.NumBlocks(), 1u);
    EXPECT_EQ(list.BlockSize(), 1000u);
    ASSERT_EQ(list.Count(), 1000u);
    int* block = list.FirstBlock();
    for (int i = 0; i < 1000; ++i)
    {
        EXPECT_EQ(&list[i], block + i);
        EXPECT_EQ(list[i], 1000 - i);
    }
    std::sort(block, block + list.Count());
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(list[i], i + 1);
}

TEST(KV_List, ConsolidateOfEmptiedListWithBlocksReportsZeroSize)
{
    ReportRecorder recorder;
    KV_List<int> list = Numbers(10, 4);
    list.SetCount(0);
    EXPECT_TRUE(list.Consolidate());
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].caption, kZeroBlock);
    EXPECT_EQ(list.BlockSize(), 16u);
    EXPECT_EQ(list.Count(), 0u);
}

TEST(KV_List, ClearReleasesStorageAndKeepsBlockSize)
{
    KV_List<std::string> list(2);
    list.Append("a");
    list.Append("b");
    list.Append("c");
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.NumBlocks(), 0u);
    EXPECT_EQ(list.Capacity(), 0u);
    EXPECT_FALSE(list.HasStorage());
    EXPECT_EQ(list.BlockSize(), 2u);
    list.Append("d");
    EXPECT_EQ(list[0], "d");
}

TEST(KV_List, EveryIndexLayoutKeepsValuesAndAddresses)
{
    // One block (inline or not), then several: power-of-two sizes are indexed through the
    // block table, the others through the element table.
    for (unsigned int blockSize : {1u, 3u, 4u, 5u, 7u, 64u, 1000u, 1024u})
    {
        SCOPED_TRACE(blockSize);
        KV_List<unsigned int> list(blockSize);
        std::vector<const unsigned int*> addresses;
        for (unsigned int i = 0; i < 5000; ++i)
        {
            list.Append(i * 7u);
            addresses.push_back(&list[i]);
        }
        EXPECT_EQ(list.NumBlocks(), (5000 + blockSize - 1) / blockSize);
        const KV_List<unsigned int> copy(list);
        for (unsigned int i = 0; i < 5000; ++i)
        {
            ASSERT_EQ(&list[i], addresses[i]);
            ASSERT_EQ(list[i], i * 7u);
            ASSERT_EQ(copy[i], i * 7u);
        }
        list.Clear();
        list.SetCount(3);
        EXPECT_EQ(list.Capacity(), (3 + blockSize - 1) / blockSize * blockSize);
    }
}

// A list filled in one piece (by SetCountInOnePiece, or by copying more than a block of
// plain elements) is indexed as any other, grows as any other, and hands its piece to a
// holder that outlives the list's clearing; a list in blocks, in one block or grown past
// its piece hands out nothing.
TEST(KV_List, OnePieceIsSharedAndOutlivesTheList)
{
    struct Case
    {
        unsigned int blockSize, count;
        bool copied, grownAfter, shared;
    };
    const Case cases[] = {
        {1024, 5000, false, false, true}, {1000, 5000, false, false, true},
        {3, 10, false, false, true},      {1024, 1024, false, false, false},
        {256, 100, false, false, false},  {1024, 5000, false, true, false},
        {1024, 3000, true, false, true},  {7, 7, true, false, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.blockSize << " " << c.count << " " << c.copied);
        KV_List<unsigned int> list(c.blockSize);
        if (c.copied)
        {
            KV_List<unsigned int> source(c.blockSize);
            for (unsigned int i = 0; i < c.count; ++i) source.Append(i * 3u);
            list = source;
        }
        else
        {
            list.SetCountInOnePiece(c.count);
            for (unsigned int i = 0; i < c.count; ++i) list[i] = i * 3u;
        }
        EXPECT_EQ(list.BlockSize(), c.blockSize);
        EXPECT_EQ(list.NumBlocks(), (c.count + c.blockSize - 1) / c.blockSize);
        if (c.grownAfter)
            for (unsigned int i = 0; i < c.blockSize; ++i) list.Append(7u);
        std::shared_ptr<const unsigned int> piece = list.SharedPiece();
        ASSERT_EQ(piece != nullptr, c.shared);
        for (unsigned int i = 0; i < c.count; ++i)
        {
            ASSERT_EQ(list[i], i * 3u);
            if (piece)
            {
                ASSERT_EQ(&list[i], piece.get() + i);
            }
        }
        list.Clear();
        list.SetCount(2 * c.count);  // new storage over whatever the clearing gave back
        for (unsigned int i = 0; i < 2 * c.count; ++i) list[i] = 0u;
        if (piece)
        {
            for (unsigned int i = 0; i < c.count; ++i) ASSERT_EQ(piece.get()[i], i * 3u);
        }
    }
}

TEST(KV_List, ListsWhoseFirstBlockLivesInTheObjectGrowCopyAndClear)
{
    // Block sizes whose whole block fits in the object (a polygon's four indices, a pair of
    // doubles) keep that block in place when a second block comes; copies, assignments over
    // them and clearing must follow it wherever it is.
    struct Case
    {
        unsigned int blockSize;
        unsigned int count;
    };
    for (const Case c : {Case{4, 4}, Case{4, 5}, Case{1, 2}, Case{3, 7}, Case{2, 3}, Case{4, 1000}})
    {
        SCOPED_TRACE(testing::Message() << c.blockSize << " " << c.count);
        KV_List<unsigned int> list(c.blockSize);
        list.Append(0);
        const unsigned int* first = &list[0];
        for (unsigned int i = 1; i < c.count; ++i) list.Append(i * 3);
        EXPECT_EQ(&list[0], first);
        EXPECT_EQ(list.NumBlocks(), (c.count + c.blockSize - 1) / c.blockSize);
        EXPECT_EQ(list.BlockSize(), c.blockSize);

        KV_List<KV_List<unsigned int>> outer(2);
        outer.Append(list);
        outer.Append(list);
        outer[1] = outer[0];
        KV_List<unsigned int> assigned(c.blockSize);
        for (unsigned int i = 0; i < 9; ++i) assigned.Append(7);
        assigned = list;
        for (unsigned int i = 0; i < c.count; ++i)
        {
            ASSERT_EQ(list[i], i * 3);
            ASSERT_EQ(outer[1][i], i * 3);
            ASSERT_EQ(assigned[i], i * 3);
        }
        list.SetCount(1);
        EXPECT_EQ(list.Count(), 1u);
        list.Clear();
        EXPECT_FALSE(list.HasStorage());
        EXPECT_EQ(list.BlockSize(), c.blockSize);
        list.SetBlockSize(5);
        list.Append(42);
        EXPECT_EQ(list[0], 42u);
    }

    // A list filled in one step to fewer elements than fit in the object takes all the room
    // there, then moves once into a whole first block when it grows.
    KV_List<double> tight(64);
    tight.SetCountTight(1);
    EXPECT_EQ(tight.Capacity(), 2u);
    tight[0] = 0.5;
    for (int i = 1; i < 100; ++i) tight.Append(i + 0.5);
    EXPECT_EQ(tight.NumBlocks(), 2u);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(tight[i], i + 0.5);

    EXPECT_THROW(KV_List<char>(KV_List<char>::kMaxBlockSize + 1), KV_ListAllocError);
}

namespace
{
using IndexLists = KV_List<KV_List<unsigned int>>;

std::vector<std::vector<unsigned int>> Contents(const IndexLists& lists)
{
    std::vector<std::vector<unsigned int>> out(lists.Count());
    for (unsigned int i = 0; i < lists.Count(); ++i)
    {
        const KV_IndexView list = lists[i];
        for (unsigned int j = 0; j < list.Count(); ++j) out[i].push_back(list[j]);
    }
    return out;
}
}  // namespace

// A flat list of lists reads as the list objects it stands for, before and after each change;
// a change other than writing an index in place turns it into list objects, and a copy taken
// before the change keeps what it held.
TEST(KV_IndexLists, FlatListsReadAndChangeAsListObjects)
{
    using Lists = std::vector<std::vector<unsigned int>>;
    const Lists start = {{0, 1}, {}, {2}, {3, 4, 5, 6, 7, 8, 9}};
    struct Change
    {
        const char* name;
        void (*apply)(IndexLists&);
        Lists expected;
        bool flat;
    };
    const Change changes[] = {
        {"index written in place", [](IndexLists& l) { l[3][6] = 42; },
         {{0, 1}, {}, {2}, {3, 4, 5, 6, 7, 8, 42}}, true},
        {"inner list grown", [](IndexLists& l) { l[1].Append(5); },
         {{0, 1}, {5}, {2}, {3, 4, 5, 6, 7, 8, 9}}, false},
        {"one list assigned another", [](IndexLists& l) { l[0] = l[3]; },
         {{3, 4, 5, 6, 7, 8, 9}, {}, {2}, {3, 4, 5, 6, 7, 8, 9}}, false},
        {"outer count cut", [](IndexLists& l) { l.SetCount(2); }, {{0, 1}, {}}, false},
        {"list appended", [](IndexLists& l) { l.Append(KV_List<unsigned int>(4)); },
         {{0, 1}, {}, {2}, {3, 4, 5, 6, 7, 8, 9}, {}}, false},
        {"inner list edited", [](IndexLists& l) { l.Editable(2).SetCount(0); },
         {{0, 1}, {}, {}, {3, 4, 5, 6, 7, 8, 9}}, false},
    };
    for (const Change& change : changes)
    {
        SCOPED_TRACE(change.name);
        IndexLists lists(64);
        lists.SetFlat({0, 2, 2, 3, 10}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
        ASSERT_TRUE(lists.IsFlat());
        ASSERT_EQ(Contents(lists), start);
        const IndexLists before(lists);
        change.apply(lists);
        EXPECT_EQ(Contents(lists), change.expected);
        EXPECT_EQ(lists.IsFlat(), change.flat);
        EXPECT_EQ(lists.BlockSize(), 64u);
        EXPECT_EQ(Contents(before), start);
        if (!change.flat && lists.Count() > 2)
        {
            EXPECT_EQ(lists.Editable(2).BlockSize(), 6u);
        }
    }
    // Starts that do not rise from 0 to the index count leave the list empty.
    for (const std::vector<unsigned int>& starts :
         {std::vector<unsigned int>{}, {1, 3}, {0, 3, 2, 3}, {0, 5}})
    {
        IndexLists lists(16);
        lists.SetFlat(starts, {1, 2, 3});
        EXPECT_EQ(lists.Count(), 0u);
        EXPECT_FALSE(lists.IsFlat());
    }
}
