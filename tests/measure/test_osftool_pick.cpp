// osftool pick and measure end to end, without a display: boxes of known size and place,
// turned to show each side, picked at the picture's centre; a unit cube measured across its
// front face; the texture coordinate of a textured square; the usage errors.
#include "tests/tools/OsftoolRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

namespace
{
// Corner k of the box [x0, x1] x [y0, y1] x [z0, z1]: bit 0 picks x1, bit 1 y1, bit 2 z1.
// Its sides wind counter-clockwise seen from outside, in this file order:
//   0, 1 the -z side as two triangles; 2 -y; 3 +y; 4 -x; 5 +x; 6 +z.
OsfSurface Box(float x0, float x1, float y0, float y1, float z0, float z1)
{
    OsfSurface s;
    for (int k = 0; k < 8; ++k)
        s.vertices.push_back({k & 1 ? x1 : x0, k & 2 ? y1 : y0, k & 4 ? z1 : z0});
    s.polygons = {{0, 2, 3},    {0, 3, 1},    {0, 1, 5, 4}, {2, 6, 7, 3},
                  {0, 4, 6, 2}, {1, 3, 7, 5}, {4, 5, 7, 6}};
    return s;
}

// The "key: v1 v2 ..." line of key in text, as numbers; empty when absent.
std::vector<double> Values(const std::string& text, const std::string& key)
{
    std::vector<double> values;
    const std::size_t at = text.find(key + ": ");
    if (at == std::string::npos || (at > 0 && text[at - 1] != '\n'))
        return values;
    std::istringstream line(text.substr(at + key.size() + 2, text.find('\n', at) - at));
    for (double v; line >> v;) values.push_back(v);
    return values;
}
}  // namespace

TEST(OsftoolPick, BoxCentreLiesOnTheSideShown)
{
    const std::string file = Quoted(WriteRaw("box.osf", Box(10, 12, 20, 21, 30, 30.5f)));
    // A pixel of the default 640 x 480 picture spans 2 (7/6) tan(half view) / 480 at the
    // farthest a side can be, tan(half view) being the box height over six diagonals: the
    // centre pixel's sample lies within one such pixel of the side's centre.
    const double diagonal = std::sqrt(4.0 + 1.0 + 0.25);
    const double pixel = 2.0 * (7.0 / 6.0) * (1.0 / (6.0 * diagonal)) * (6.0 * diagonal) / 480.0;
    const struct
    {
        const char* turn;
        std::vector<unsigned int> polygons;  // either of them
        int axis;                            // the side's normal: +-(axis + 1)
        double sign, plane;
    } cases[] = {
        {"0,0", {6}, 2, 1, 30.5}, {"0,90", {4}, 0, -1, 10},  {"0,-90", {5}, 0, 1, 12},
        {"90,0", {3}, 1, 1, 21},  {"-90,0", {2}, 1, -1, 20}, {"0,180", {0, 1}, 2, -1, 30},
    };
    const double centre[3] = {11, 20.5, 30.25};
    for (const auto& c : cases)
    {
        const ToolRun run = Osftool(std::string("pick --turn ") + c.turn + " " + file + " 320,240");
        ASSERT_EQ(run.status, 0) << c.turn << ": " << run.err;
        const std::vector<double> point = Values(run.out, "point");
        const std::vector<double> normal = Values(run.out, "normal");
        const std::vector<double> polygon = Values(run.out, "polygon");
        ASSERT_EQ(point.size(), 3u) << run.out;
        ASSERT_EQ(normal.size(), 3u) << run.out;
        ASSERT_EQ(polygon.size(), 1u) << run.out;
        EXPECT_NE(std::find(c.polygons.begin(), c.polygons.end(), polygon[0]), c.polygons.end())
            << c.turn << ": " << run.out;
        for (int i = 0; i < 3; ++i)
        {
            EXPECT_NEAR(normal[i], i == c.axis ? c.sign : 0.0, 1e-6) << c.turn;
            EXPECT_NEAR(point[i], i == c.axis ? c.plane : centre[i], i == c.axis ? 1e-4 : pixel)
                << c.turn << " axis " << i;
        }
        EXPECT_EQ(run.out.find("texture coordinate"), std::string::npos);
    }
    const ToolRun background = Osftool("pick " + file + " 0,0");
    EXPECT_EQ(background.status, 1);
    EXPECT_EQ(background.err, "no surface at 0,0\n");
    EXPECT_EQ(background.out, "");
}

TEST(OsftoolMeasure, AcrossAUnitCubesFace)
{
    const std::string file = Quoted(WriteRaw("cube.osf", Box(0, 1, 0, 1, 0, 1)));
    // The front side (z = 1) is D - 1 in front of the eye, D = 6 sqrt(3) diagonals away from
    // the back; the view is 1 / D high per unit of depth, so the side spans
    // (H / 2) · D / (D - 1) pixels. One pixel in from each edge along the middle row:
    const int width = 1280, height = 960;
    const double d = 6.0 * std::sqrt(3.0);
    const double half = 0.5 * (height / 2.0) * d / (d - 1.0);
    const int x1 = static_cast<int>(std::ceil(width / 2.0 - half)) + 1;
    const int x2 = static_cast<int>(std::floor(width / 2.0 + half)) - 1;
    const ToolRun run = Osftool("measure --size 1280x960 " + file + " " + std::to_string(x1) +
                                ",480 " + std::to_string(x2) + ",480");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<double> distance = Values(run.out, "distance");
    ASSERT_EQ(distance.size(), 1u) << run.out;
    EXPECT_NEAR(distance[0], 1.0, 0.01) << run.out;
    ASSERT_EQ(Values(run.out, "x").size(), 1u) << run.out;
    EXPECT_NEAR(Values(run.out, "x")[0], distance[0], 1e-5);
    EXPECT_NEAR(Values(run.out, "y")[0], 0.0, 0.005);
    EXPECT_NEAR(Values(run.out, "z")[0], 0.0, 1e-5);
    EXPECT_NE(run.out.find("\nunit: the file's"), std::string::npos) << run.out;

    const ToolRun off = Osftool("measure " + file + " 320,240 0,0");
    EXPECT_EQ(off.status, 1);
    EXPECT_EQ(off.err, "no surface at 0,0\n");
}

TEST(OsftoolPick, TexturedSquareGivesItsCoordinate)
{
    const ToolRun run =
        Osftool("pick " + Quoted(WriteRaw("square.osf", TexturedSquare())) + " 320,240");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Values(run.out, "polygon"), std::vector<double>{0});
    EXPECT_EQ(Values(run.out, "normal"), (std::vector<double>{0, 0, 1}));
    const std::vector<double> uv = Values(run.out, "texture coordinate");
    const std::vector<double> point = Values(run.out, "point");
    ASSERT_EQ(uv.size(), 2u) << run.out;
    ASSERT_EQ(point.size(), 3u) << run.out;
    // The texture follows the corners: u, v equal x, y on this square.
    EXPECT_NEAR(uv[0], point[0], 1e-6);
    EXPECT_NEAR(uv[1], point[1], 1e-6);
    EXPECT_NEAR(uv[0], 0.5, 0.01);
    EXPECT_NEAR(uv[1], 0.5, 0.01);
    // Four lines, the texture coordinate last.
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4);
    EXPECT_EQ(run.out.rfind("texture coordinate: "), run.out.rfind('\n', run.out.size() - 2) + 1);
}

TEST(OsftoolPick, UsageErrorsNameTheWordAtFault)
{
    const std::string file = Quoted(WriteRaw("square.osf", PlainSquare()));
    const std::string out = ScratchPath("square.bmp");
    const struct
    {
        std::string args, firstLine;
    } cases[] = {
        {"pick " + file, "usage: osftool pick "},
        {"pick " + file + " 10", "osftool pick: '10' is no pixel: write X,Y"},
        {"pick " + file + " 640,0", "osftool pick: pixel 640,0 lies outside the 640x480 picture"},
        {"pick --size 8x8 " + file + " 3,8",
         "osftool pick: pixel 3,8 lies outside the 8x8 picture"},
        {"pick --bogus " + file + " 1,1", "osftool pick: unknown option '--bogus'"},
        {"measure " + file + " 1,1", "usage: osftool measure "},
        {"measure --turn=1 " + file + " 1,1 2,2", "osftool measure: --turn takes DEGX,DEGY"},
        {"render " + file + " " + Quoted(out),
         "osftool render: cannot tell the picture format of '" + out + "'"},
        {"render --bogus=2 " + file + " x.png", "osftool render: unknown option '--bogus'"},
        {"bogus " + file, "osftool: unknown command 'bogus'"},
        {"info --bogus " + file, "osftool info: unknown option '--bogus'"},
    };
    for (const auto& c : cases)
    {
        const ToolRun run = Osftool(c.args);
        EXPECT_EQ(run.status, 64) << c.args;
        EXPECT_EQ(run.err.rfind(c.firstLine, 0), 0u) << c.args << ": " << run.err;
        // The word at fault, then the usage line.
        EXPECT_NE(run.err.find("usage: osftool "), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << c.args;
    }
    EXPECT_FALSE(Exists(out));
    const ToolRun help = Osftool("measure --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: osftool measure ", 0), 0u) << help.out;
    const ToolRun top = Osftool("--help");
    EXPECT_NE(top.out.find("osftool pick [OPTIONS] FILE X,Y"), std::string::npos) << top.out;
    EXPECT_NE(top.out.find("osftool measure [OPTIONS] FILE X1,Y1 X2,Y2"), std::string::npos);
}
