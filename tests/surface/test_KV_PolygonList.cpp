// The polygon list against the block list it stands for: the same steps must leave the same
// polygons, whichever form the list is in.

#include "surface/KV_Polygon.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace
{
using Reference = KV_BlockList<KV_Polygon>;

KV_Polygon Make(const std::vector<unsigned int>& corners)
{
    KV_Polygon polygon;
    for (unsigned int c : corners) polygon.Append(c);
    return polygon;
}

void ExpectSame(const KV_List<KV_Polygon>& list, const Reference& reference, int step)
{
    ASSERT_EQ(list.Count(), reference.Count()) << "step " << step;
    for (unsigned int i = 0; i < list.Count(); ++i)
    {
        const KV_PolygonView polygon = list[i];
        ASSERT_EQ(polygon.Count(), reference[i].Count()) << "step " << step << " polygon " << i;
        for (unsigned int j = 0; j < polygon.Count(); ++j)
            ASSERT_EQ(polygon[j], reference[i][j]) << "step " << step << " polygon " << i;
    }
}

struct Kind
{
    const char* name;
    std::vector<unsigned int> sizes;  // corner counts appended polygons are drawn from
    bool resizes;                     // steps that change a polygon's size in place
    bool flatThroughout;              // no step may turn the list into list objects
};
}  // namespace

TEST(PolygonList, FollowsABlockListStepByStep)
{
    const Kind kinds[] = {
        {"triangles", {3}, false, true},
        {"quads", {4}, false, true},
        {"mixed sizes", {3, 4, 5, 8}, false, false},
        {"triangles edited in place", {3}, true, false},
        {"too large for a run", {65, 70}, false, false},
    };
    for (const Kind& kind : kinds)
    {
        SCOPED_TRACE(kind.name);
        std::mt19937 random(7);
        auto pick = [&](unsigned int n) { return static_cast<unsigned int>(random() % n); };
        auto polygon = [&]
        {
            std::vector<unsigned int> corners(kind.sizes[pick(static_cast<unsigned int>(kind.sizes.size()))]);
            for (unsigned int& c : corners) c = pick(1000);
            return Make(corners);
        };
        KV_List<KV_Polygon> list(1024);
        Reference reference(1024);
        unsigned int made = 0;  // slots the lists have held since the last clear
        for (int step = 0; step < 300; ++step)
        {
            const unsigned int count = reference.Count();
            switch (pick(count == 0 ? 2 : 10))
            {
            case 0:
            case 1:
            {
                const KV_Polygon p = polygon();
                list.Append(p);
                reference.Append(p);
                break;
            }
            case 2:
            {
                // A polygon of the list appended to itself, through its view.
                const unsigned int i = pick(count);
                const KV_Polygon copy = reference[i];
                list.Append(list[i]);
                reference.Append(copy);
                break;
            }
            case 3:
            {
                const unsigned int n = pick(count + 1);
                list.SetCount(n);
                reference.SetCount(n);
                break;
            }
            case 4:
            {
                // Regrowth over kept slots only, unless the list may turn.
                const unsigned int n = kind.flatThroughout ? made : count + pick(4);
                list.SetCount(n);
                reference.SetCount(n);
                break;
            }
            case 5:
            {
                const unsigned int i = pick(count);
                if (reference[i].Count() == 0)
                    break;
                const unsigned int j = pick(reference[i].Count()), value = pick(1000);
                list[i][j] = value;
                reference[i][j] = value;
                break;
            }
            case 6:
            {
                // One handle assigned another copies the polygon.
                const unsigned int i = pick(count), k = pick(count);
                if (kind.flatThroughout && reference[i].Count() != reference[k].Count())
                    break;
                list[i] = list[k];
                reference[i] = KV_Polygon(reference[k]);
                break;
            }
            case 7:
            {
                const unsigned int i = pick(count);
                if (!kind.resizes)
                    break;
                const unsigned int n = 1 + pick(6);
                list[i].SetCount(n);
                reference[i].SetCount(n);
                // Corners a polygon grows into hold no value of their own yet.
                for (unsigned int j = 0; j < n; ++j)
                {
                    list[i][j] = j;
                    reference[i][j] = j;
                }
                if (pick(2) == 0)
                {
                    list[i].Append(5);
                    reference[i].Append(5);
                }
                break;
            }
            case 8:
            {
                const KV_List<KV_Polygon> copy(list);
                list = copy;
                reference = Reference(reference);
                made = reference.Count();
                break;
            }
            default:
            {
                if (pick(4) != 0)
                    break;
                list.Clear();
                reference.Clear();
                made = 0;
            }
            }
            made = std::max(made, reference.Count());
            ExpectSame(list, reference, step);
            if (kind.flatThroughout)
            {
                ASSERT_TRUE(list.IsFlat()) << "step " << step;
            }
        }
    }
}

TEST(PolygonList, SizedFlatAndFilledInPlace)
{
    struct Case
    {
        unsigned int corners;
        bool flat;
    };
    const Case cases[] = {{3, true}, {4, true}, {64, true}, {65, false}, {0, false}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.corners);
        const unsigned int n = KV_List<KV_Polygon>::kFlatPiece + 5;  // past one piece
        KV_List<KV_Polygon> list(1024);
        list.SetFlatCount(n, c.corners);
        ASSERT_EQ(list.Count(), n);
        EXPECT_EQ(list.IsFlat(), c.flat);
        for (unsigned int i = 0; i < n; ++i)
        {
            KV_PolygonRef polygon = list[i];
            ASSERT_EQ(polygon.Count(), c.corners);
            polygon.SetCount(c.corners);  // what a reader asks: no change
            for (unsigned int j = 0; j < c.corners; ++j)
            {
                ASSERT_EQ(polygon[j], 0u);
                polygon[j] = i + j;
            }
        }
        EXPECT_EQ(list.IsFlat(), c.flat);
        // A count past the polygons held turns the list, which keeps every polygon.
        list.SetCount(n + 1);
        EXPECT_FALSE(list.IsFlat());
        EXPECT_EQ(list[n].Count(), 0u);
        for (unsigned int i = 0; i < n; i += 97)
        {
            ASSERT_EQ(list[i].Count(), c.corners);
            for (unsigned int j = 0; j < c.corners; ++j) ASSERT_EQ(list[i][j], i + j);
        }
        EXPECT_EQ(list.Editable(0).BlockSize(), 4u);
    }
}

// Pieces handed out keep their corners whatever the list does next, and the list shows each
// change as an unshared copy does; a piece is copied exactly when the step writes into it.
TEST(PolygonList, SharedPiecesKeepTheirCorners)
{
    using List = KV_List<KV_Polygon>;
    const unsigned int n = List::kFlatPiece + 7;  // two pieces
    const struct
    {
        void (*step)(List&);
        bool writes;
    } cases[] = {
        {[](List& l) { l[5][1] = 99; }, true},
        {[](List& l) { l[n - 1] = Make({7, 8, 9}); }, true},
        {[](List& l) { l[3] = l[n - 2]; }, true},
        {[](List& l) { l.SetCount(2), l.Append(Make({4, 4, 4})); }, true},
        {[](List& l) { l.Append(l[0]); }, true},
        {[](List& l) { l[1].Append(5); }, false},
        {[](List& l) { l.Clear(); }, false},
        {[](List& l) { ASSERT_EQ(std::as_const(l)[3][1], 4u); }, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(&c - cases);
        List list(1024);
        for (unsigned int i = 0; i < n; ++i) list.Append(Make({i, i + 1, i + 2}));
        List expected = list;
        const auto pieces = list.SharedPieces();
        c.step(list);
        c.step(expected);
        const List& got = list;  // read as drawing reads: no copy
        ASSERT_EQ(got.Count(), expected.Count());
        for (unsigned int i = 0; i < got.Count(); ++i)
            for (unsigned int j = 0; j < got[i].Count(); ++j)
                ASSERT_EQ(got[i][j], std::as_const(expected)[i][j]);
        for (unsigned int i = 0; i < n; ++i)
            ASSERT_EQ(pieces[i / List::kFlatPiece][3 * (i % List::kFlatPiece) + 1], i + 1);
        if (list.IsFlat() && list.Count() > 2)
        {
            const auto now = list.SharedPieces();
            EXPECT_EQ(c.writes, now[0] != pieces[0] || now[1] != pieces[1]);
            EXPECT_TRUE(now[0] == pieces[0] || now[1] == pieces[1]);
        }
    }
}
