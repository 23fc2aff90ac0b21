// osftool pick and measure end to end, without a display: a box of known size and place,
// turned to show each side, picked at the picture's centre; a unit cube measured across its
// front; a textured square's coordinate; the usage errors.
#include "tests/tools/OsftoolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace
{
// Corner k of the box [x0, x1] x [y0, y1] x [z0, z1]: bit 0 picks x1, bit 1 y1, bit 2 z1.
// Its sides wind counter-clockwise seen from outside, in this file order:
//   0, 1 the -z side as two triangles; 2 -y; 3 +y; 4 -x; 5 +x; 6 +z.
std::string BoxFile(float x0, float x1, float y0, float y1, float z0, float z1)
{
    OsfSurface s;
    for (int k = 0; k < 8; ++k)
        s.vertices.push_back({k & 1 ? x1 : x0, k & 2 ? y1 : y0, k & 4 ? z1 : z0});
    s.polygons = {{0, 2, 3},    {0, 3, 1},    {0, 1, 5, 4}, {2, 6, 7, 3},
                  {0, 4, 6, 2}, {1, 3, 7, 5}, {4, 5, 7, 6}};
    return Quoted(WriteRaw("box.osf", s));
}

// The numbers of the line "key: v1 v2 ..." of text; empty when there is none.
std::vector<double> Values(const std::string& text, const std::string& key)
{
    std::vector<double> values;
    const std::size_t at = ("\n" + text).find("\n" + key + ": ");
    if (at == std::string::npos)
        return values;
    std::istringstream line(text.substr(at + key.size() + 2, text.find('\n', at) - at));
    for (double v; line >> v;) values.push_back(v);
    return values;
}
}  // namespace

TEST(OsftoolPick, BoxCentreLiesOnTheSideShown)
{
    const std::string file = BoxFile(10, 12, 20, 21, 30, 30.5f);
    // The eye is six diagonals from the box, the view's half height one over that per unit
    // of depth: at 7/6 of that distance, the farthest a side can be, a pixel of the 480 rows
    // spans 2 (7/6) / 480. The centre pixel's sample lies within one of the side's centre.
    const double pixel = 2.0 * (7.0 / 6.0) / 480.0, centre[3] = {11, 20.5, 30.25};
    const struct
    {
        const char* turn;
        double polygon, other;  // either polygon
        int axis;               // the side's normal: sign along axis
        double sign, plane;
    } cases[] = {
        {"0,0", 6, 6, 2, 1, 30.5}, {"0,90", 4, 4, 0, -1, 10},  {"0,-90", 5, 5, 0, 1, 12},
        {"90,0", 3, 3, 1, 1, 21},  {"-90,0", 2, 2, 1, -1, 20}, {"0,180", 0, 1, 2, -1, 30},
    };
    for (const auto& c : cases)
    {
        const ToolRun run = Osftool(std::string("pick --turn ") + c.turn + " " + file + " 320,240");
        ASSERT_EQ(run.status, 0) << c.turn << ": " << run.err;
        const std::vector<double> point = Values(run.out, "point"),
                                  normal = Values(run.out, "normal"),
                                  polygon = Values(run.out, "polygon");
        ASSERT_TRUE(point.size() == 3 && normal.size() == 3 && polygon.size() == 1) << run.out;
        EXPECT_TRUE(polygon[0] == c.polygon || polygon[0] == c.other) << c.turn << ": " << run.out;
        for (int i = 0; i < 3; ++i)
        {
            EXPECT_NEAR(normal[i], i == c.axis ? c.sign : 0.0, 1e-6) << c.turn;
            EXPECT_NEAR(point[i], i == c.axis ? c.plane : centre[i], i == c.axis ? 1e-4 : pixel)
                << c.turn << " axis " << i;
        }
        EXPECT_EQ(run.out.find("texture coordinate"), std::string::npos);
    }
    for (const std::string& args : {"pick " + file + " 0,0", "measure " + file + " 320,240 0,0"})
    {
        const ToolRun background = Osftool(args);
        EXPECT_EQ(background.status, 1) << args;
        EXPECT_EQ(background.err, "no surface at 0,0\n");
        EXPECT_EQ(background.out, "");
    }
}

TEST(OsftoolMeasure, AcrossAUnitCubesFace)
{
    // The front (z = 1) is D - 1 in front of the eye, D = 6 sqrt(3) away from the back; the
    // view is 1 / D high per unit of depth, so the front spans (H / 2) D / (D - 1) pixels.
    // One pixel in from each edge along the middle row:
    const double d = 6.0 * std::sqrt(3.0), half = 0.5 * 480 * d / (d - 1.0);
    const std::string x1 = std::to_string(int(std::ceil(640 - half)) + 1),
                      x2 = std::to_string(int(std::floor(640 + half)) - 1);
    const ToolRun run = Osftool("measure --size 1280x960 " + BoxFile(0, 1, 0, 1, 0, 1) + " " + x1 +
                                ",480 " + x2 + ",480");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<double> distance = Values(run.out, "distance"), x = Values(run.out, "x"),
                              y = Values(run.out, "y"), z = Values(run.out, "z");
    ASSERT_TRUE(distance.size() == 1 && x.size() == 1 && y.size() == 1 && z.size() == 1) << run.out;
    EXPECT_NEAR(distance[0], 1.0, 0.01) << run.out;
    EXPECT_NEAR(x[0], distance[0], 1e-5);
    EXPECT_NEAR(y[0], 0.0, 0.005);
    EXPECT_NEAR(z[0], 0.0, 1e-5);
    EXPECT_NE(run.out.find("\nunit: the file's"), std::string::npos) << run.out;
}

TEST(OsftoolPick, TexturedSquareGivesItsCoordinateLast)
{
    const ToolRun run =
        Osftool("pick " + Quoted(WriteRaw("square.osf", TexturedSquare())) + " 320,240");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Values(run.out, "polygon"), std::vector<double>{0});
    EXPECT_EQ(Values(run.out, "normal"), (std::vector<double>{0, 0, 1}));
    // The texture follows the corners: u, v are x, y on this square.
    const std::vector<double> uv = Values(run.out, "texture coordinate"),
                              point = Values(run.out, "point");
    ASSERT_TRUE(uv.size() == 2 && point.size() == 3) << run.out;
    EXPECT_TRUE(std::abs(uv[0] - point[0]) < 1e-6 && std::abs(uv[1] - point[1]) < 1e-6) << run.out;
    EXPECT_TRUE(std::abs(uv[0] - 0.5) < 0.01 && std::abs(uv[1] - 0.5) < 0.01) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4);
    EXPECT_EQ(run.out.rfind("texture coordinate: "), run.out.rfind('\n', run.out.size() - 2) + 1);
}

TEST(OsftoolPick, UsageErrorsNameTheWordAtFault)
{
    const std::string file = Quoted(WriteRaw("square.osf", PlainSquare()));
    const std::string out = ScratchPath("square.bmp");
    const std::string cases[][2] = {
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
    };
    for (const auto& c : cases)
    {
        const ToolRun run = Osftool(c[0]);
        EXPECT_EQ(run.status, 64) << c[0];
        EXPECT_EQ(run.err.rfind(c[1], 0), 0u) << c[0] << ": " << run.err;
        EXPECT_NE(run.err.find("usage: osftool "), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << c[0];
    }
    EXPECT_FALSE(Exists(out));
    const ToolRun help = Osftool("measure --help"), top = Osftool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: osftool measure ", 0), 0u) << help.out;
    EXPECT_NE(top.out.find("osftool pick [OPTIONS] FILE X,Y"), std::string::npos) << top.out;
    EXPECT_NE(top.out.find("osftool measure [OPTIONS] FILE X1,Y1 X2,Y2"), std::string::npos);
}
