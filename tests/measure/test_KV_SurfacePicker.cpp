// Picking and measuring without a display: the camera against a pinhole worked out by hand,
// the hierarchy against every triangle tried in turn (made alone and with an executor), what
// a hit reports, bad data, and the measures on grids whose figures are known.
#include "foundation/KV_Executor.h"
#include "image/KV_MultiImage.h"
#include "measure/KV_PickCamera.h"
#include "measure/KV_SurfaceMeasures.h"
#include "measure/KV_SurfacePicker.h"
#include "surface/KV_TexturedPolySurface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

namespace
{
using Point = std::array<double, 3>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

void AddPolygon(KV_BasePolySurface& s, std::initializer_list<unsigned int> corners)
{
    KV_Polygon polygon;
    for (unsigned int c : corners) polygon.Append(c);
    s.Polygons().Append(polygon);
}

// An n x m sheet of squares of the given side from (x0, y0) at height z, counter-clockwise
// seen from +z (clockwise when flipped); square (i, j) is the sheet's polygon j * n + i.
// Bumpy: wavy heights, and a fifth of the squares split into two triangles.
void AddSheet(KV_BasePolySurface& s, int n, int m, double x0, double y0, double side = 1,
              double z = 0, bool bumpy = false, bool flipped = false)
{
    const unsigned int base = s.VertexCount(), w = n + 1;
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n; ++i)
        {
            const double x = x0 + side * i, y = y0 + side * j;
            const double bump = 0.8 * std::sin(0.7 * x + 0.3 * y) * std::cos(0.4 * y - 0.2 * x);
            s.Vertices().Append(KV_Vector3D(float(x), float(y), float(z + (bumpy ? bump : 0))));
        }
    for (unsigned int j = 0; j < unsigned(m); ++j)
        for (unsigned int i = 0; i < unsigned(n); ++i)
        {
            const unsigned int a = base + j * w + i, b = a + 1, c = a + w + 1, d = a + w;
            if (bumpy && (i * 7 + j * 3) % 5 == 0)
                AddPolygon(s, {a, b, c}), AddPolygon(s, {a, c, d});
            else
                flipped ? AddPolygon(s, {a, d, c, b}) : AddPolygon(s, {a, b, c, d});
        }
}

// Looking down -z from (0, 0, 10) with a 90 degree view into a 100 x 100 picture: a point
// (x, y, 0) lands at picture (50 + 5x, 50 - 5y).
KV_PickCamera Pinhole()
{
    KV_PickCamera camera;
    camera.mkModelView = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -10, 1};
    camera.mkProjection = KV_PerspectiveMatrix(90.0, 1.0, 1.0, 100.0);
    camera.mkViewport = {0, 0, 100, 100};
    camera.mnPictureHeight = 100;
    return camera;
}

KV_Ray Ray(Point origin, Point direction, double tMin = 0, double tMax = 1)
{
    KV_Ray ray;
    ray.origin = origin, ray.direction = direction, ray.tMin = tMin, ray.tMax = tMax;
    return ray;
}
}  // namespace

TEST(PickCamera, MeetsThePlaneWhereAPinholeSaysAndRefusesWhatItCannotInvert)
{
    const KV_PickCamera camera = Pinhole();
    // Picture point (x, y) -> the point of z = 0 it shows; pixel (74, 29) at its centre.
    const double cases[][5] = {{50, 50, 0, 0, 0},
                               {75, 30, 5, 4, 0},
                               {0, 100, -10, -10, 0},
                               {12.5, 87.5, -7.5, -7.5, 0},
                               {74, 29, 4.9, 4.1, 0.5}};
    for (const auto& [x, y, wantX, wantY, centre] : cases)
    {
        KV_Ray ray;
        ASSERT_TRUE(centre > 0 ? camera.RayThroughPixel(int(x), int(y), ray)
                               : camera.RayThroughPoint(x, y, ray));
        const double t = -ray.origin[2] / ray.direction[2];
        EXPECT_TRUE(t > ray.tMin && t < ray.tMax) << x << "," << y;
        const Point p{ray.origin[0] + t * ray.direction[0], ray.origin[1] + t * ray.direction[1]};
        EXPECT_NEAR(p[0], wantX, 1e-9) << x << "," << y;
        EXPECT_NEAR(p[1], wantY, 1e-9) << x << "," << y;
        double px, py, depth;
        ASSERT_TRUE(camera.Project(p, px, py, depth));
        EXPECT_NEAR(px, x + centre, 1e-9);
        EXPECT_NEAR(py, y + centre, 1e-9);
        EXPECT_TRUE(depth > 0 && depth < 1) << depth;
    }
    // Refused, the ray untouched: a singular projection, an empty viewport, a NaN matrix, a
    // point outside the viewport or not finite.
    KV_PickCamera flat = camera, empty = camera, notFinite = camera;
    flat.mkProjection = KV_PerspectiveMatrix(0.0, 1.0, 1.0, 100.0);
    empty.mkViewport[2] = 0;
    notFinite.mkModelView[12] = kNaN;
    const std::pair<KV_PickCamera, Point> refused[] = {
        {flat, {50, 50}},
        {empty, {50, 50}},
        {notFinite, {50, 50}},
        {camera, {101, 50}},
        {camera, {50, std::numeric_limits<double>::infinity()}}};
    for (const auto& [refuser, at] : refused)
    {
        KV_Ray ray = Ray({7, 7, 7}, {0, 0, 0});
        EXPECT_FALSE(refuser.RayThroughPoint(at[0], at[1], ray)) << at[0] << "," << at[1];
        EXPECT_EQ(ray.origin, (Point{7, 7, 7}));
    }
    double x = 0, y = 0, depth = 0;
    EXPECT_FALSE(camera.Project({0, 0, 20}, x, y, depth));  // behind the eye
}

TEST(SurfacePicker, HierarchyAnswersAsEveryTriangleDoes)
{
    // A small mesh, held against every triangle; and one of over 200,000 triangles whose
    // first splits go to the executor, held against its hierarchy made alone.
    KV_Executor executor(2);
    for (const int n : {24, 300})
    {
        // A bumpy sheet about the origin and a half-size one floating 3 above it.
        const double d = n;
        KV_TexturedPolySurface surface;
        AddSheet(surface, n, n, -d / 2, -d / 2, 1, 0, true);
        AddSheet(surface, n, n, -d / 4, -d / 4, 0.5, 3, true);
        KV_SurfacePicker picker, alone;
        ASSERT_TRUE(picker.Build(surface, n > 24 ? &executor : nullptr));
        ASSERT_TRUE(alone.Build(surface));
        EXPECT_EQ(picker.NodeCount(), alone.NodeCount());
        EXPECT_EQ(picker.TriangleCount() > 200000u, n > 24);
        // Through vertices, edges and faces, along the sheet, from below, ending short, with
        // no direction, missing; then slanted rays from above in a fixed pseudo-random order.
        std::vector<KV_Ray> rays = {
            Ray({0, 0, 10}, {0, 0, -20}),     Ray({0.5, 0.5, 10}, {0, 0, -20}),
            Ray({0.25, 0, 10}, {0, 0, -20}),  Ray({-3, 2, 10}, {0.1, -0.2, -20}),
            Ray({-d, 0, 0.1}, {2 * d, 0, 0}), Ray({0, 0, -10}, {0, 0, 20}),
            Ray({0, 0, 1.5}, {0, 0, 0.001}),  Ray({0, 0, 10}, {0, 0, 0}),
            Ray({d, d, 10}, {0, 0, -20})};
        unsigned int seed = 12345;
        auto next = [&seed]
        { return (seed = seed * 1103515245u + 12345u) / 65536 % 32768 / 32768.0; };
        for (int k = 0; k < (n > 24 ? 200 : 400); ++k)
            rays.push_back(Ray({d * (next() - 0.5), d * (next() - 0.5), 8 + 4 * next()},
                               {6 * next() - 3, 6 * next() - 3, -10}, 0.1 * next(), 0.7 + next()));
        std::size_t hits = 0;
        for (std::size_t k = 0; k < rays.size(); ++k)
        {
            KV_PickHit fast, slow;
            const bool found =
                n > 24 ? alone.Pick(rays[k], slow) : picker.PickEveryTriangle(rays[k], slow);
            ASSERT_EQ(picker.Pick(rays[k], fast), found) << n << " ray " << k;
            hits += found;
            if (found)
            {
                EXPECT_TRUE(fast.munPolygon == slow.munPolygon && fast.mrT == slow.mrT &&
                            fast.mkPoint == slow.mkPoint)
                    << n << " ray " << k;
            }
        }
        EXPECT_GT(hits, rays.size() / 2);
        KV_PickHit hit;
        EXPECT_FALSE(picker.Pick(rays.at(8), hit));
        ASSERT_TRUE(picker.Pick(rays[0], hit));
        EXPECT_NEAR(hit.mkPoint[2], 3.0, 1e-6);  // the upper sheet is met first
    }
}

TEST(SurfacePicker, ReportsTheFilePolygonItsOwnNormalAndTheTexture)
{
    // Polygon 0 a triangle, 1 a pentagon in z = 1 (met at (0.9, 0.1) by its third fan
    // triangle), 2 a clockwise square below it. Texture coordinates are x, y; the 2 x 2
    // picture's bottom row is red, green.
    KV_TexturedPolySurface s;
    const float v[][3] = {{5, 5, 0},       {6, 5, 0}, {5, 6, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1},
                          {0.5f, 1.5f, 1}, {0, 1, 1}, {0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
    s.mpTextureCoordinates = new KV_List<KV_Vector2D>(16);
    for (const auto& p : v)
    {
        s.Vertices().Append(KV_Vector3D(p[0], p[1], p[2]));
        s.mpTextureCoordinates->Append(KV_Vector2D(p[0], p[1]));
    }
    AddPolygon(s, {0, 1, 2});
    AddPolygon(s, {3, 4, 5, 6, 7});
    AddPolygon(s, {8, 9, 10, 11});
    s.mpTexturePolygons = new KV_List<KV_Polygon>(16);
    for (unsigned int j = 0; j < s.PolygonCount(); ++j)
        s.mpTexturePolygons->Append((*s.mpPolygons)[j]);
    auto* image = new KV_Image<KV_RGB8>(2, 2);
    (*image)(0, 0) = KV_RGB8(255, 0, 0), (*image)(0, 1) = KV_RGB8(0, 255, 0);
    (*image)(1, 0) = KV_RGB8(0, 0, 255), (*image)(1, 1) = KV_RGB8(255, 255, 255);
    s.mpTextureMap = new KV_MultiImage;
    s.mpTextureMap->SetImage(image);

    KV_SurfacePicker picker;
    ASSERT_TRUE(picker.Build(s));
    EXPECT_EQ(picker.TriangleCount(), 1u + 3u + 2u);
    // From (x, y, 5) down (dz -1) or from (x, y, -5) up (dz 1): the polygon, its own
    // normal's z whichever side the ray came from, the point's z, the texel (clamped last).
    const std::tuple<double, double, double, unsigned int, double, double, KV_RGB8> cases[] = {
        {0.9, 0.1, -1, 1, 1, 1, KV_RGB8(0, 255, 0)},
        {0.2, 0.8, -1, 1, 1, 1, KV_RGB8(0, 0, 255)},
        {0.2, 0.2, 1, 2, -1, 0, KV_RGB8(255, 0, 0)},
        {5.2, 5.2, 1, 0, 1, 0, KV_RGB8(255, 255, 255)}};
    for (const auto& [x, y, dz, polygon, nz, z, colour] : cases)
    {
        KV_PickHit hit;
        ASSERT_TRUE(picker.Pick(Ray({x, y, -5 * dz}, {0, 0, 10 * dz}), hit)) << x << "," << y;
        EXPECT_EQ(hit.munPolygon, polygon) << x << "," << y;
        EXPECT_EQ(hit.mkNormal, (Point{0, 0, nz})) << x << "," << y;
        EXPECT_NEAR(std::hypot(hit.mkPoint[0] - x, hit.mkPoint[1] - y, hit.mkPoint[2] - z), 0,
                    1e-6);
        ASSERT_TRUE(hit.mbHasTextureCoordinate && hit.mbHasColour);
        EXPECT_NEAR(hit.mkTextureCoordinate[0], x, 1e-6);
        EXPECT_NEAR(hit.mkTextureCoordinate[1], y, 1e-6);
        EXPECT_EQ(hit.mkColour, colour) << x << "," << y;
    }
    // Without a texture polygon of its size, no coordinate is made up.
    (*s.mpTexturePolygons)[1].SetCount(3);
    KV_PickHit hit;
    ASSERT_TRUE(picker.Pick(Ray({0.9, 0.1, 5}, {0, 0, -10}), hit));
    EXPECT_FALSE(hit.mbHasTextureCoordinate || hit.mbHasColour);
}

TEST(SurfacePicker, LeavesOutWhatCannotBeDrawnAndStops)
{
    KV_TexturedPolySurface s;
    AddSheet(s, 2, 1, 0, 0);  // polygons 0, 1; vertices 0-5
    s.Vertices().Append(KV_Vector3D(std::numeric_limits<float>::quiet_NaN(), 0, 0));  // 6
    AddPolygon(s, {0, 1, 99});    // a corner past the vertices
    AddPolygon(s, {0, 1});        // two corners
    AddPolygon(s, {});            // none
    AddPolygon(s, {6, 1, 4});     // a NaN corner
    AddPolygon(s, {0, 0, 0, 0});  // no area
    KV_SurfacePicker picker;
    ASSERT_TRUE(picker.Build(s));
    EXPECT_EQ(picker.TriangleCount(), 2u + 2u + 2u);  // two squares and the flat fan
    KV_PickHit hit;
    // Inside square 0, and on the corner the flat fan sits on: still square 0.
    for (const Point& origin : {Point{0.5, 0.5, 1}, Point{0, 0, 1}})
    {
        ASSERT_TRUE(picker.Pick(Ray(origin, {0, 0, -2}), hit));
        EXPECT_EQ(hit.munPolygon, 0u);
    }
    EXPECT_FALSE(picker.Pick(Ray({0, 0, 1}, {0, kNaN, -2}), hit));

    // A stop already set ends the build, alone or with an executor, leaving nothing built.
    const std::atomic<bool> stop{true};
    KV_TexturedPolySurface large;
    AddSheet(large, 400, 400, 0, 0);
    KV_Executor executor(2);
    for (KV_Executor* e : {static_cast<KV_Executor*>(nullptr), &executor})
    {
        ASSERT_TRUE(picker.Build(s));
        EXPECT_FALSE(picker.Build(large, e, &stop));
        EXPECT_EQ(picker.TriangleCount() + picker.NodeCount(), 0u);
        EXPECT_FALSE(picker.Pick(Ray({0.5, 0.5, 1}, {0, 0, -2}), hit));
    }
    KV_TexturedPolySurface none;
    EXPECT_TRUE(picker.Build(none));
    EXPECT_FALSE(picker.Pick(Ray({0.5, 0.5, 1}, {0, 0, -2}), hit));
}

TEST(SurfaceMeasures, PolygonSetsOfAGrid)
{
    // A 4 x 3 grid of unit squares, numbered row by row from the lower left, and over its
    // lower-left 2 x 2 the triangles 12 and 13, whose shared diagonal is no boundary:
    //   8  9 10 11
    //   4  5  6  7
    //   0  1  2  3
    KV_BasePolySurface grid;
    AddSheet(grid, 4, 3, 0, 0);
    AddPolygon(grid, {0, 2, 12});
    AddPolygon(grid, {0, 12, 10});
    // The set: count, area, boundary edges and length.
    const std::tuple<std::vector<unsigned int>, unsigned int, double, unsigned int, double>
        cases[] = {{{}, 0, 0, 0, 0},
                   {{5}, 1, 1, 4, 4},
                   {{0, 1, 4, 5}, 4, 4, 8, 8},
                   {{0, 1, 4}, 3, 3, 8, 8},                             // an L
                   {{0, 5}, 2, 2, 8, 8},                                // touching at a corner only
                   {{0, 1, 2, 3, 4, 7, 8, 9, 10, 11}, 10, 10, 20, 20},  // a ring: outline and hole
                   {{5, 5, 5, 1000, 6}, 2, 2, 6, 6},  // repeats and strays ignored
                   {{12, 13}, 2, 4, 4, 8},
                   {{13}, 1, 2, 3, 4 + std::sqrt(8.0)}};
    for (const auto& [set, count, area, edges, length] : cases)
    {
        const KV_PolygonSetMeasure m = KV_MeasurePolygons(grid, set);
        const std::string name = ::testing::PrintToString(set);
        EXPECT_EQ(m.munCount, count) << name;
        EXPECT_NEAR(m.mrArea, area, 1e-9) << name;
        EXPECT_EQ(m.munBoundaryEdges, edges) << name;
        EXPECT_NEAR(m.mrBoundaryLength, length, 1e-9) << name;
    }
}

TEST(SurfaceMeasures, RectangleSelectsCentresInsideThatFaceTheCamera)
{
    // An 8 x 8 grid from (-4, -4) under the pinhole: square (i, j) has its centre at
    // (i - 3.5, j - 3.5), landing at picture (50 + 5x, 50 - 5y).
    KV_BasePolySurface front, back;
    AddSheet(front, 8, 8, -4, -4);
    AddSheet(back, 8, 8, -4, -4, 1, 0, false, true);
    const KV_PickCamera camera = Pinhole();
    // The picture's lower-right quarter: x > 0 and y < 0, squares i >= 4, j < 4.
    std::vector<unsigned int> quarter;
    for (unsigned int j = 0; j < 4; ++j)
        for (unsigned int i = 4; i < 8; ++i) quarter.push_back(j * 8 + i);
    EXPECT_EQ(KV_SelectPolygonsInRectangle(front, camera, 100, 100, 50, 50), quarter);
    EXPECT_TRUE(KV_SelectPolygonsInRectangle(back, camera, 50, 50, 100, 100).empty());
    EXPECT_EQ(KV_SelectPolygonsInRectangle(back, camera, 50, 50, 100, 100, false), quarter);
    // Around one centre, (0.5, 0.5) -> (52.5, 47.5): square (4, 4).
    EXPECT_EQ(KV_SelectPolygonsInRectangle(front, camera, 51, 46, 54, 49),
              std::vector<unsigned int>{36});
    const std::atomic<bool> stop{true};
    EXPECT_TRUE(KV_SelectPolygonsInRectangle(front, camera, 0, 0, 100, 100, true, &stop).empty());
}
