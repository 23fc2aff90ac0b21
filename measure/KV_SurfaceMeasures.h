#pragma once
// Measures a user takes on a surface: the distance between two picked points, the count,
// area and boundary length of a set of polygons, and the polygons a rectangle of the
// picture selects. Lengths and areas are in the surface's own units (the file's).

#include "measure/KV_PickCamera.h"

#include <array>
#include <atomic>
#include <string>
#include <vector>

class KV_BasePolySurface;

struct KV_Distance
{
    double mrLength = 0.0;
    // b - a, along x, y and z.
    std::array<double, 3> mkParts{};
};

// From a to b.
KV_Distance KV_MeasureDistance(const std::array<double, 3>& a, const std::array<double, 3>& b);

// How measures are written, by osftool and the viewer alike (so that both can be compared
// digit for digit): whole numbers without a fraction, the rest with the seven digits a float
// holds; never "-0".
std::string KV_MeasureNumber(double value);
// "x y z" of KV_MeasureNumber.
std::string KV_MeasureTriple(const std::array<double, 3>& v);

struct KV_PolygonSetMeasure
{
    // Distinct polygons of the surface in the set.
    unsigned int munCount = 0;
    // The sum of their areas, each as the fan of triangles drawing makes of it.
    double mrArea = 0.0;
    // Edges used by exactly one polygon of the set (the set's outline and its holes), and
    // their total length.
    unsigned int munBoundaryEdges = 0;
    double mrBoundaryLength = 0.0;
};

// polygons: indices into the surface's polygon list, in any order. Indices past the list
// and repeats are ignored; corners naming a vertex past the vertex list add neither area nor
// edges. n log n in the size of the set.
KV_PolygonSetMeasure KV_MeasurePolygons(const KV_BasePolySurface& surface,
                                        const std::vector<unsigned int>& polygons);

// The polygons a rectangle of the picture selects, in polygon order. A polygon is selected
// when
// - the centre of its corners lands inside the rectangle (edges included) between the near
//   and far planes: a polygon half inside counts when most of it is, as the eye judges it;
// - it faces the camera: its corners, all in front of the eye, wind counter-clockwise on
//   the screen, the side OpenGL calls the front. With facingOnly false both sides count.
// Polygons hidden behind others are selected too: the rule looks through the surface.
// (x0, y0) and (x1, y1) are opposite corners in picture coordinates (y down, any order).
// Returns an empty list when stop is set before the end.
std::vector<unsigned int> KV_SelectPolygonsInRectangle(const KV_BasePolySurface& surface,
                                                       const KV_PickCamera& camera, double x0,
                                                       double y0, double x1, double y1,
                                                       bool facingOnly = true,
                                                       const std::atomic<bool>* stop = nullptr);
