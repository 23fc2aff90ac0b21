// Picking and measuring without a display: the camera's rays against a pinhole worked out by
// hand, the hierarchy's answers against every triangle tried in turn, what a hit reports
// (file polygon, own normal, texture coordinate, texel), bad data, and the polygon-set and
// rectangle measures on grids whose figures are known.
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
#include <vector>

namespace
{
using Point = std::array<double, 3>;

void AddPolygon(KV_BasePolySurface& s, std::initializer_list<unsigned int> corners)
{
    KV_Polygon polygon;
    for (unsigned int c : corners) polygon.Append(c);
    s.Polygons().Append(polygon);
}

// An n x m grid of unit squares in the plane z = 0 from (x0, y0), counter-clockwise seen
// from +z (or clockwise when flipped); square (i, j) is polygon j * n + i.
void MakeGrid(KV_BasePolySurface& s, int n, int m, double x0 = 0, double y0 = 0,
              bool flipped = false)
{
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n; ++i)
            s.Vertices().Append(KV_Vector3D(float(x0 + i), float(y0 + j), 0.0f));
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < n; ++i)
        {
            const unsigned int a = j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
            if (flipped)
                AddPolygon(s, {a, d, c, b});
            else
                AddPolygon(s, {a, b, c, d});
        }
}

// Looking down -z from (0, 0, 10) with a 90 degree field of view into a 100 x 100 picture:
// a point (x, y, 0) lands at picture (50 + 5x, 50 - 5y).
KV_PickCamera Pinhole()
{
    KV_PickCamera camera;
    camera.mkModelView = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -10, 1};
    camera.mkProjection = KV_PerspectiveMatrix(90.0, 1.0, 1.0, 100.0);
    camera.mkViewport = {0, 0, 100, 100};
    camera.mnPictureHeight = 100;
    return camera;
}

Point At(const KV_Ray& ray, double t)
{
    return {ray.origin[0] + t * ray.direction[0], ray.origin[1] + t * ray.direction[1],
            ray.origin[2] + t * ray.direction[2]};
}

// A bumpy sheet of mixed triangles and quads with a second, smaller sheet floating above
// it, so that rays meet several layers: a small random-ish mesh.
void MakeBumpySheets(KV_TexturedPolySurface& s, int n = 24)
{
    for (int layer = 0; layer < 2; ++layer)
    {
        const unsigned int base = s.VertexCount();
        const double scale = layer == 0 ? 1.0 : 0.5;
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i)
            {
                const double x = scale * (i - n / 2.0), y = scale * (j - n / 2.0);
                const double z =
                    layer * 3.0 + 0.8 * std::sin(0.7 * x + 0.3 * y) * std::cos(0.4 * y - 0.2 * x);
                s.Vertices().Append(KV_Vector3D(float(x), float(y), float(z)));
            }
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i)
            {
                const unsigned int a = base + j * (n + 1) + i, b = a + 1, c = a + n + 2,
                                   d = a + n + 1;
                if ((i * 7 + j * 3) % 5 == 0)
                {
                    AddPolygon(s, {a, b, c});
                    AddPolygon(s, {a, c, d});
                }
                else
                {
                    AddPolygon(s, {a, b, c, d});
                }
            }
    }
}
}  // namespace

TEST(PickCamera, RaysMeetThePlaneWhereAPinholeSaysTheyDo)
{
    const KV_PickCamera camera = Pinhole();
    // (picture x, picture y) -> the point of z = 0 it shows.
    const struct
    {
        double x, y, wantX, wantY;
    } cases[] = {{50, 50, 0, 0}, {75, 30, 5, 4}, {0, 100, -10, -10}, {12.5, 87.5, -7.5, -7.5}};
    for (const auto& c : cases)
    {
        KV_Ray ray;
        ASSERT_TRUE(camera.RayThroughPoint(c.x, c.y, ray)) << c.x << "," << c.y;
        ASSERT_NE(ray.direction[2], 0.0);
        const double t = -ray.origin[2] / ray.direction[2];
        EXPECT_GT(t, ray.tMin);
        EXPECT_LT(t, ray.tMax);
        const Point p = At(ray, t);
        EXPECT_NEAR(p[0], c.wantX, 1e-9);
        EXPECT_NEAR(p[1], c.wantY, 1e-9);
        double x, y, depth;
        ASSERT_TRUE(camera.Project(p, x, y, depth));
        EXPECT_NEAR(x, c.x, 1e-9);
        EXPECT_NEAR(y, c.y, 1e-9);
        EXPECT_GT(depth, 0.0);
        EXPECT_LT(depth, 1.0);
    }
    // Pixel (74, 29) is sampled at its centre, (74.5, 29.5).
    KV_Ray ray;
    ASSERT_TRUE(camera.RayThroughPixel(74, 29, ray));
    const Point p = At(ray, -ray.origin[2] / ray.direction[2]);
    EXPECT_NEAR(p[0], 4.9, 1e-9);
    EXPECT_NEAR(p[1], 4.1, 1e-9);
}

TEST(PickCamera, RefusesWhatItCannotInvertOrOutsideItsViewport)
{
    KV_Ray ray;
    const KV_Ray untouched = ray;
    KV_PickCamera flat = Pinhole();
    flat.mkProjection = KV_PerspectiveMatrix(0.0, 1.0, 1.0, 100.0);  // no height: singular
    KV_PickCamera empty = Pinhole();
    empty.mkViewport = {0, 0, 0, 100};
    KV_PickCamera notFinite = Pinhole();
    notFinite.mkModelView[12] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(flat.RayThroughPoint(50, 50, ray));
    EXPECT_FALSE(empty.RayThroughPoint(50, 50, ray));
    EXPECT_FALSE(notFinite.RayThroughPoint(50, 50, ray));
    EXPECT_FALSE(Pinhole().RayThroughPoint(101, 50, ray));
    EXPECT_FALSE(Pinhole().RayThroughPoint(50, std::numeric_limits<double>::infinity(), ray));
    EXPECT_EQ(ray.origin, untouched.origin);
    double x = 0, y = 0, depth = 0;
    EXPECT_FALSE(Pinhole().Project({0, 0, 20}, x, y, depth));  // behind the eye
}

TEST(SurfacePicker, HierarchyAnswersAsEveryTriangleDoes)
{
    KV_TexturedPolySurface surface;
    MakeBumpySheets(surface);
    KV_SurfacePicker picker;
    ASSERT_TRUE(picker.Build(surface));

    std::vector<KV_Ray> rays;
    // Straight down through vertices, edges and faces of both sheets, slanted ones, one
    // along the sheet, and ones that miss.
    const double table[][6] = {
        {0, 0, 10, 0, 0, -20},       {0.5, 0.5, 10, 0, 0, -20},    {0.25, 0, 10, 0, 0, -20},
        {-3, 2, 10, 0.1, -0.2, -20}, {11.9, -11.9, 10, 0, 0, -20}, {12, 12, 10, 0, 0, -20},
        {30, 30, 10, 0, 0, -20},     {-20, 0, 0.1, 40, 0, 0},      {0, 0, -10, 0, 0, 20},
        {5, 5, 10, -1, -1, -2},      {0, 0, 1.5, 0, 0, 0.001},     {0, 0, 10, 0, 0, 0},
    };
    for (const auto& r : table)
    {
        KV_Ray ray;
        ray.origin = {r[0], r[1], r[2]};
        ray.direction = {r[3], r[4], r[5]};
        rays.push_back(ray);
    }
    // And rays from above, slanted every way, some ending before they reach the sheets, in
    // a fixed pseudo-random order.
    unsigned int seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) / 65536 % 32768 / 32768.0; };
    for (int k = 0; k < 400; ++k)
    {
        KV_Ray ray;
        ray.origin = {-12 + 24 * next(), -12 + 24 * next(), 8 + 4 * next()};
        ray.direction = {6 * next() - 3, 6 * next() - 3, -10};
        ray.tMin = 0.1 * next();
        ray.tMax = 0.7 + next();
        rays.push_back(ray);
    }
    int hits = 0;
    for (std::size_t k = 0; k < rays.size(); ++k)
    {
        KV_PickHit fast, slow;
        const bool found = picker.PickEveryTriangle(rays[k], slow);
        ASSERT_EQ(picker.Pick(rays[k], fast), found) << "ray " << k;
        if (!found)
            continue;
        ++hits;
        EXPECT_EQ(fast.munPolygon, slow.munPolygon) << "ray " << k;
        EXPECT_EQ(fast.mrT, slow.mrT) << "ray " << k;
        EXPECT_EQ(fast.mkPoint, slow.mkPoint) << "ray " << k;
    }
    // The table's misses are misses, and most of the others meet something.
    EXPECT_GT(hits, 250);
    KV_PickHit hit;
    EXPECT_FALSE(picker.Pick(rays[6], hit));
    EXPECT_TRUE(picker.Pick(rays[0], hit));
    EXPECT_NEAR(hit.mkPoint[2], 3.0, 1e-6);  // the upper sheet is met first
}

TEST(SurfacePicker, ExecutorMakesTheSameHierarchy)
{
    // Large enough (over 200,000 triangles) for the first splits to go to the executor.
    KV_TexturedPolySurface surface;
    MakeBumpySheets(surface, 300);
    KV_SurfacePicker alone, threaded;
    ASSERT_TRUE(alone.Build(surface));
    KV_Executor executor(2);
    ASSERT_TRUE(threaded.Build(surface, &executor));
    ASSERT_GT(alone.TriangleCount(), 200000u);
    EXPECT_EQ(alone.NodeCount(), threaded.NodeCount());
    for (int k = 0; k < 200; ++k)
    {
        KV_Ray ray;
        ray.origin = {-150 + 1.5 * k + 0.01, 140 - 1.4 * k, 10};
        ray.direction = {0.05 * (k % 7), -0.03 * (k % 5), -20};
        KV_PickHit a, b;
        const bool found = alone.Pick(ray, a);
        ASSERT_EQ(threaded.Pick(ray, b), found) << "ray " << k;
        if (found)
        {
            EXPECT_EQ(a.munPolygon, b.munPolygon) << "ray " << k;
            EXPECT_EQ(a.mrT, b.mrT) << "ray " << k;
        }
    }
    // A stop already set ends either way.
    const std::atomic<bool> stop{true};
    EXPECT_FALSE(threaded.Build(surface, &executor, &stop));
    EXPECT_EQ(threaded.NodeCount(), 0u);
}

TEST(SurfacePicker, ReportsTheFilePolygonItsOwnNormalAndTheTexture)
{
    // Polygon 0 a triangle, 1 a pentagon lying in z = 1 (met by its third fan triangle at
    // (0.9, 0.1)), 2 a clockwise square below it.
    KV_TexturedPolySurface s;
    const float v[][3] = {{5, 5, 0}, {6, 5, 0}, {5, 6, 0},                              // 0-2
                          {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0.5f, 1.5f, 1}, {0, 1, 1},  // 3-7
                          {0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};                  // 8-11
    for (const auto& p : v) s.Vertices().Append(KV_Vector3D(p[0], p[1], p[2]));
    AddPolygon(s, {0, 1, 2});
    AddPolygon(s, {3, 4, 5, 6, 7});
    AddPolygon(s, {8, 9, 10, 11});
    // Texture coordinates equal to x, y; a 2 x 2 picture, bottom row red, green.
    s.mpTextureCoordinates = new KV_List<KV_Vector2D>(16);
    for (unsigned int i = 0; i < s.VertexCount(); ++i)
        s.mpTextureCoordinates->Append(KV_Vector2D((*s.mpVertices)[i].x, (*s.mpVertices)[i].y));
    s.mpTexturePolygons = new KV_List<KV_Polygon>(16);
    for (unsigned int j = 0; j < s.PolygonCount(); ++j)
        s.mpTexturePolygons->Append((*s.mpPolygons)[j]);
    auto* image = new KV_Image<KV_RGB8>(2, 2);
    (*image)(0, 0) = KV_RGB8(255, 0, 0);
    (*image)(0, 1) = KV_RGB8(0, 255, 0);
    (*image)(1, 0) = KV_RGB8(0, 0, 255);
    (*image)(1, 1) = KV_RGB8(255, 255, 255);
    s.mpTextureMap = new KV_MultiImage;
    s.mpTextureMap->SetImage(image);

    KV_SurfacePicker picker;
    ASSERT_TRUE(picker.Build(s));
    EXPECT_EQ(picker.TriangleCount(), 1u + 3u + 2u);
    const struct
    {
        double x, y, dz;  // from z = 5, down (dz -1) or from z = -5 up (dz 1)
        unsigned int polygon;
        Point normal, point;
        KV_RGB8 colour;
    } cases[] = {
        {0.9, 0.1, -1, 1, {0, 0, 1}, {0.9, 0.1, 1}, KV_RGB8(0, 255, 0)},
        {0.2, 0.8, -1, 1, {0, 0, 1}, {0.2, 0.8, 1}, KV_RGB8(0, 0, 255)},
        {0.2, 0.2, 1, 2, {0, 0, -1}, {0.2, 0.2, 0}, KV_RGB8(255, 0, 0)},
        {5.2, 5.2, -1, 0, {0, 0, 1}, {5.2, 5.2, 0}, KV_RGB8(255, 255, 255)},  // clamped
    };
    for (const auto& c : cases)
    {
        KV_Ray ray;
        ray.origin = {c.x, c.y, -5 * c.dz};
        ray.direction = {0, 0, 10 * c.dz};
        KV_PickHit hit;
        ASSERT_TRUE(picker.Pick(ray, hit)) << c.x << "," << c.y;
        EXPECT_EQ(hit.munPolygon, c.polygon);
        for (int i = 0; i < 3; ++i)
        {
            EXPECT_NEAR(hit.mkNormal[i], c.normal[i], 1e-12) << c.x << "," << c.y;
            EXPECT_NEAR(hit.mkPoint[i], c.point[i], 1e-6) << c.x << "," << c.y;
        }
        ASSERT_TRUE(hit.mbHasTextureCoordinate);
        EXPECT_NEAR(hit.mkTextureCoordinate[0], c.x, 1e-6);
        EXPECT_NEAR(hit.mkTextureCoordinate[1], c.y, 1e-6);
        ASSERT_TRUE(hit.mbHasColour);
        EXPECT_EQ(hit.mkColour, c.colour) << c.x << "," << c.y;
    }
    // Without a texture polygon of its size, no coordinate is made up.
    (*s.mpTexturePolygons)[1].SetCount(3);
    KV_Ray ray;
    ray.origin = {0.9, 0.1, 5};
    ray.direction = {0, 0, -10};
    KV_PickHit hit;
    ASSERT_TRUE(picker.Pick(ray, hit));
    EXPECT_FALSE(hit.mbHasTextureCoordinate);
    EXPECT_FALSE(hit.mbHasColour);
}

TEST(SurfacePicker, LeavesOutWhatCannotBeDrawnAndStops)
{
    KV_TexturedPolySurface s;
    MakeGrid(s, 2, 1);  // polygons 0, 1; vertices 0-5
    s.Vertices().Append(KV_Vector3D(std::numeric_limits<float>::quiet_NaN(), 0, 0));  // 6
    AddPolygon(s, {0, 1, 99});    // a corner past the vertices
    AddPolygon(s, {0, 1});        // two corners
    AddPolygon(s, {});            // none
    AddPolygon(s, {6, 1, 4});     // a NaN corner
    AddPolygon(s, {0, 0, 0, 0});  // no area
    KV_SurfacePicker picker;
    ASSERT_TRUE(picker.Build(s));
    EXPECT_EQ(picker.TriangleCount(), 2u + 2u + 2u);  // two squares and the flat fan
    KV_Ray ray;
    ray.origin = {0.5, 0.5, 1};
    ray.direction = {0, 0, -2};
    KV_PickHit hit;
    ASSERT_TRUE(picker.Pick(ray, hit));
    EXPECT_EQ(hit.munPolygon, 0u);
    ray.origin = {0, 0, 1};  // the corner the flat fan sits on: still square 0
    ASSERT_TRUE(picker.Pick(ray, hit));
    EXPECT_EQ(hit.munPolygon, 0u);

    KV_Ray broken = ray;
    broken.direction[1] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(picker.Pick(broken, hit));

    const std::atomic<bool> stop{true};
    KV_TexturedPolySurface large;
    MakeGrid(large, 200, 200);
    EXPECT_FALSE(picker.Build(large, nullptr, &stop));
    EXPECT_EQ(picker.TriangleCount(), 0u);
    EXPECT_FALSE(picker.Pick(ray, hit));
    KV_TexturedPolySurface none;
    EXPECT_TRUE(picker.Build(none));
    EXPECT_FALSE(picker.Pick(ray, hit));
}

TEST(SurfaceMeasures, DistanceHasItsParts)
{
    const KV_Distance d = KV_MeasureDistance({1, 2, 3}, {4, 6, 3});
    EXPECT_DOUBLE_EQ(d.mrLength, 5.0);
    EXPECT_EQ(d.mkParts, (Point{3, 4, 0}));
}

TEST(SurfaceMeasures, PolygonSetsOfAGrid)
{
    // A 4 x 3 grid of unit squares, numbered row by row from the lower left:
    //   8  9 10 11
    //   4  5  6  7
    //   0  1  2  3
    KV_BasePolySurface grid;
    MakeGrid(grid, 4, 3);
    const struct
    {
        std::vector<unsigned int> set;
        unsigned int count;
        double area;
        unsigned int edges;
        double length;
    } cases[] = {
        {{}, 0, 0, 0, 0},
        {{5}, 1, 1, 4, 4},
        {{0, 1, 4, 5}, 4, 4, 8, 8},
        {{0, 1, 4}, 3, 3, 8, 8},                             // an L
        {{0, 5}, 2, 2, 8, 8},                                // touching at a corner only
        {{0, 1, 2, 3, 4, 7, 8, 9, 10, 11}, 10, 10, 20, 20},  // a ring: outline and hole
        {{5, 5, 5, 1000, 6}, 2, 2, 6, 6},                    // repeats and strays ignored
    };
    for (const auto& c : cases)
    {
        const KV_PolygonSetMeasure m = KV_MeasurePolygons(grid, c.set);
        EXPECT_EQ(m.munCount, c.count) << ::testing::PrintToString(c.set);
        EXPECT_NEAR(m.mrArea, c.area, 1e-9) << ::testing::PrintToString(c.set);
        EXPECT_EQ(m.munBoundaryEdges, c.edges) << ::testing::PrintToString(c.set);
        EXPECT_NEAR(m.mrBoundaryLength, c.length, 1e-9) << ::testing::PrintToString(c.set);
    }
    // A square split into two triangles: the diagonal is inside, not boundary.
    KV_BasePolySurface split;
    for (const auto& p :
         {KV_Vector3D(0, 0, 0), KV_Vector3D(2, 0, 0), KV_Vector3D(2, 2, 0), KV_Vector3D(0, 2, 0)})
        split.Vertices().Append(p);
    AddPolygon(split, {0, 1, 2});
    AddPolygon(split, {0, 2, 3});
    const KV_PolygonSetMeasure both = KV_MeasurePolygons(split, {0, 1});
    EXPECT_NEAR(both.mrArea, 4.0, 1e-9);
    EXPECT_NEAR(both.mrBoundaryLength, 8.0, 1e-9);
    const KV_PolygonSetMeasure one = KV_MeasurePolygons(split, {1});
    EXPECT_NEAR(one.mrArea, 2.0, 1e-9);
    EXPECT_NEAR(one.mrBoundaryLength, 4.0 + std::sqrt(8.0), 1e-9);
}

TEST(SurfaceMeasures, RectangleSelectsCentresInsideThatFaceTheCamera)
{
    // An 8 x 8 grid from (-4, -4) seen by the pinhole: square (i, j) has its centre at
    // (i - 3.5, j - 3.5), landing at picture (50 + 5x, 50 - 5y).
    KV_BasePolySurface front, back;
    MakeGrid(front, 8, 8, -4, -4);
    MakeGrid(back, 8, 8, -4, -4, true);
    const KV_PickCamera camera = Pinhole();
    // The lower-right quarter of the picture: x > 0 and y < 0, squares i >= 4, j < 4.
    std::vector<unsigned int> quarter;
    for (unsigned int j = 0; j < 4; ++j)
        for (unsigned int i = 4; i < 8; ++i) quarter.push_back(j * 8 + i);
    EXPECT_EQ(KV_SelectPolygonsInRectangle(front, camera, 100, 100, 50, 50), quarter);
    EXPECT_TRUE(KV_SelectPolygonsInRectangle(back, camera, 50, 50, 100, 100).empty());
    EXPECT_EQ(KV_SelectPolygonsInRectangle(back, camera, 50, 50, 100, 100, false), quarter);
    // A rectangle around one centre, (0.5, 0.5) -> (52.5, 47.5): square (4, 4).
    EXPECT_EQ(KV_SelectPolygonsInRectangle(front, camera, 51, 46, 54, 49),
              std::vector<unsigned int>{36});
    const std::atomic<bool> stop{true};
    EXPECT_TRUE(KV_SelectPolygonsInRectangle(front, camera, 0, 0, 100, 100, true, &stop).empty());
}
