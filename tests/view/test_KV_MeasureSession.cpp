// Measure mode's rules without a window: what counts as a click, how picks pair up into
// distances, and the words and digits the status bar shows.
#include "view/KV_MeasureSession.h"

#include "measure/KV_SurfaceMeasures.h"

#include <gtest/gtest.h>

namespace
{
KV_PickHit Hit(double x, double y, double z, unsigned int polygon = 0)
{
    KV_PickHit hit;
    hit.mkPoint = {x, y, z};
    hit.munPolygon = polygon;
    hit.mkNormal = {0.0, 0.0, 1.0};
    return hit;
}
}  // namespace

TEST(MeasureSession, ClickOrDrag)
{
    struct Case
    {
        const char* name;
        std::vector<std::array<int, 2>> moves;
        std::array<int, 2> up;
        bool click;
    };
    const Case cases[] = {
        {"still", {}, {10, 10}, true},
        {"within the slop", {{11, 12}}, {12, 8}, true},
        {"up beyond the slop", {}, {13, 10}, false},
        // Dragged away and back: the view turned, nothing is picked.
        {"strayed and came back", {{30, 10}, {10, 10}}, {10, 10}, false},
    };
    for (const Case& c : cases)
    {
        KV_MeasureSession session;
        session.Press(10, 10);
        for (const auto& move : c.moves)
            session.Move(move[0], move[1]);
        EXPECT_EQ(session.Release(c.up[0], c.up[1]), c.click) << c.name;
        // A release with no press before it is never a click.
        EXPECT_FALSE(session.Release(10, 10)) << c.name;
    }
}

TEST(MeasureSession, PicksPairIntoDistancesAndClear)
{
    KV_MeasureSession session;
    EXPECT_EQ(session.StatusText(), "");
    session.AddPick(Hit(1, 2, 3, 7));
    EXPECT_EQ(session.StatusText(), "Point 1 2 3, polygon 7, normal 0 0 1");
    session.AddPick(Hit(4, 6, 3));
    EXPECT_EQ(session.StatusText(), "Distance 5 (x 3, y 4, z 0) in the file's units");
    // A third pick begins again from itself.
    session.AddPick(Hit(-0.5, 0, 0, 2));
    ASSERT_EQ(session.Picks().size(), 1u);
    EXPECT_EQ(session.StatusText(), "Point -0.5 0 0, polygon 2, normal 0 0 1");
    session.Clear();
    EXPECT_TRUE(session.Picks().empty());
    EXPECT_EQ(session.StatusText(), "");
}

TEST(MeasureSession, TexturedPickAndNumbers)
{
    KV_PickHit hit = Hit(0.1, -0.0, 1e-9, 3);
    hit.mbHasTextureCoordinate = true;
    hit.mkTextureCoordinate = {0.25, 1.0};
    hit.mbHasColour = true;
    hit.mkColour = KV_RGB8(255, 0, 12);
    EXPECT_EQ(KV_PickText(hit),
              "Point 0.1 0 1e-09, polygon 3, normal 0 0 1, texture 0.25 1, texel 255 0 12");
    EXPECT_EQ(KV_MeasureNumber(1.0 / 3.0), "0.3333333");
    EXPECT_EQ(KV_MeasureNumber(123456789.0), "1.234568e+08");
    EXPECT_EQ(KV_DistanceText({0, 0, 0}, {0, 0, -2}),
              "Distance 2 (x 0, y 0, z -2) in the file's units");
}

TEST(MeasureSession, SelectionSetsAndTheirText)
{
    using List = std::vector<unsigned int>;
    struct Case
    {
        List current, picked;
        bool remove;
        List result;
    };
    const Case cases[] = {
        {{}, {2, 5}, false, {2, 5}},
        {{1, 2, 3}, {2, 4}, false, {1, 2, 3, 4}},
        {{1, 2, 3}, {2, 4}, true, {1, 3}},
        {{1}, {}, true, {1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KV_CombineSelection(c.current, c.picked, c.remove), c.result);
    EXPECT_EQ(KV_InvertSelection({0, 2, 9}, 5), (List{1, 3, 4}));
    EXPECT_EQ(KV_InvertSelection({}, 3), (List{0, 1, 2}));

    KV_PolygonSetMeasure measure;
    EXPECT_EQ(KV_SelectionText(measure), "No polygons selected");
    measure.munCount = 1;
    measure.mrArea = 0.5;
    measure.mrBoundaryLength = 3.414213562;
    EXPECT_EQ(KV_SelectionText(measure),
              "1 polygon selected, area 0.5, boundary length 3.414214 (the file's units)");
}

TEST(MeasureSession, ZoomTowardAPointKeepsItsLineOfSight)
{
    struct Case
    {
        std::array<double, 3> point;
        double step;
        bool moves;
        double travelled;  // along the viewing axis
    };
    const Case cases[] = {
        {{1.0, -2.0, -10.0}, 1.0, true, 1.0},
        {{1.0, -2.0, -10.0}, -3.0, true, -3.0},
        // Never closer than a tenth of the way.
        {{0.5, 0.5, -2.0}, 5.0, true, 1.8},
        {{0.0, 0.0, 0.0}, 1.0, false, 0.0},
        {{0.0, 0.0, 4.0}, 1.0, false, 0.0},
    };
    for (const Case& c : cases)
    {
        KV_ZoomMove move;
        ASSERT_EQ(KV_ZoomTowardPoint(c.point, c.step, move), c.moves);
        if (!c.moves)
            continue;
        const std::array<double, 3> after = {c.point[0] + move.a, c.point[1] + move.b,
                                             c.point[2] + move.d};
        EXPECT_NEAR(move.d, c.travelled, 1e-12);
        EXPECT_NEAR(after[0] / after[2], c.point[0] / c.point[2], 1e-12);
        EXPECT_NEAR(after[1] / after[2], c.point[1] / c.point[2], 1e-12);
    }
}
