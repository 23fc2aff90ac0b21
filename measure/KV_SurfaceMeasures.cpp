#include "measure/KV_SurfaceMeasures.h"

#include "surface/KV_BasePolySurface.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace
{
using Vector = std::array<double, 3>;

bool VertexAt(const KV_BasePolySurface& surface, unsigned int index, Vector& p)
{
    if (index >= surface.VertexCount())
        return false;
    const KV_Vector3D& v = (*surface.mpVertices)[index];
    p = {v.x, v.y, v.z};
    return true;
}

double Length(const Vector& a, const Vector& b)
{
    const double dx = b[0] - a[0], dy = b[1] - a[1], dz = b[2] - a[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}
}  // namespace

KV_Distance KV_MeasureDistance(const Vector& a, const Vector& b)
{
    KV_Distance distance;
    distance.mkParts = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    distance.mrLength = Length(a, b);
    return distance;
}

KV_PolygonSetMeasure KV_MeasurePolygons(const KV_BasePolySurface& surface,
                                        const std::vector<unsigned int>& polygons)
{
    KV_PolygonSetMeasure measure;
    std::vector<unsigned int> set(polygons);
    std::sort(set.begin(), set.end());
    set.erase(std::unique(set.begin(), set.end()), set.end());
    const unsigned int polygonCount = surface.PolygonCount();
    while (!set.empty() && set.back() >= polygonCount) set.pop_back();
    measure.munCount = static_cast<unsigned int>(set.size());

    std::vector<std::pair<unsigned int, unsigned int>> edges;
    for (const unsigned int j : set)
    {
        const KV_PolygonView& polygon = (*surface.mpPolygons)[j];
        const unsigned int corners = polygon.Count();
        Vector first, previous, current;
        const bool hasFirst = corners >= 3 && VertexAt(surface, polygon[0], first);
        for (unsigned int k = 2; hasFirst && k < corners; ++k)
        {
            if (!VertexAt(surface, polygon[k - 1], previous) ||
                !VertexAt(surface, polygon[k], current))
                continue;
            const Vector e1{previous[0] - first[0], previous[1] - first[1], previous[2] - first[2]};
            const Vector e2{current[0] - first[0], current[1] - first[1], current[2] - first[2]};
            const Vector c{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                           e1[0] * e2[1] - e1[1] * e2[0]};
            const double area = 0.5 * std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
            if (std::isfinite(area))
                measure.mrArea += area;
        }
        for (unsigned int k = 0; k < corners && corners >= 2; ++k)
        {
            const unsigned int a = polygon[k], b = polygon[(k + 1) % corners];
            if (a == b || a >= surface.VertexCount() || b >= surface.VertexCount())
                continue;
            edges.emplace_back(std::min(a, b), std::max(a, b));
        }
    }
    std::sort(edges.begin(), edges.end());
    for (std::size_t i = 0; i < edges.size();)
    {
        std::size_t next = i + 1;
        while (next < edges.size() && edges[next] == edges[i]) ++next;
        if (next - i == 1)
        {
            Vector a, b;
            VertexAt(surface, edges[i].first, a);
            VertexAt(surface, edges[i].second, b);
            const double length = Length(a, b);
            ++measure.munBoundaryEdges;
            if (std::isfinite(length))
                measure.mrBoundaryLength += length;
        }
        i = next;
    }
    return measure;
}

std::vector<unsigned int> KV_SelectPolygonsInRectangle(const KV_BasePolySurface& surface,
                                                       const KV_PickCamera& camera, double x0,
                                                       double y0, double x1, double y1,
                                                       bool facingOnly,
                                                       const std::atomic<bool>* stop)
{
    std::vector<unsigned int> selected;
    const double left = std::min(x0, x1), right = std::max(x0, x1);
    const double top = std::min(y0, y1), bottom = std::max(y0, y1);
    const unsigned int polygonCount = surface.PolygonCount();
    std::vector<std::array<double, 2>> projected;
    for (unsigned int j = 0; j < polygonCount; ++j)
    {
        if (j % 16384 == 0 && stop != nullptr && stop->load(std::memory_order_relaxed))
            return {};
        const KV_PolygonView& polygon = (*surface.mpPolygons)[j];
        const unsigned int corners = polygon.Count();
        if (corners < 3)
            continue;
        Vector centre{0.0, 0.0, 0.0}, p;
        bool whole = true;
        for (unsigned int k = 0; k < corners && whole; ++k)
        {
            whole = VertexAt(surface, polygon[k], p);
            for (int i = 0; i < 3; ++i) centre[i] += p[i] / corners;
        }
        double x = 0.0, y = 0.0, depth = 0.0;
        if (!whole || !camera.Project(centre, x, y, depth) || depth < 0.0 || depth > 1.0 ||
            x < left || x > right || y < top || y > bottom)
            continue;
        if (facingOnly)
        {
            projected.clear();
            for (unsigned int k = 0; k < corners && whole; ++k)
            {
                VertexAt(surface, polygon[k], p);
                double px = 0.0, py = 0.0, pd = 0.0;
                whole = camera.Project(p, px, py, pd);
                projected.push_back({px, py});
            }
            if (!whole)
                continue;
            // Shoelace sum in picture coordinates, whose y runs down: a counter-clockwise
            // outline on the screen sums negative here.
            double twiceArea = 0.0;
            for (unsigned int k = 0; k < corners; ++k)
            {
                const auto& a = projected[k];
                const auto& b = projected[(k + 1) % corners];
                twiceArea += a[0] * b[1] - b[0] * a[1];
            }
            if (!(twiceArea < 0.0))
                continue;
        }
        selected.push_back(j);
    }
    return selected;
}

std::string KV_MeasureNumber(double value)
{
    if (value == 0.0)
        value = 0.0;  // no "-0"
    char text[64];
    std::snprintf(text, sizeof text, "%.7g", value);
    return text;
}

std::string KV_MeasureTriple(const std::array<double, 3>& v)
{
    return KV_MeasureNumber(v[0]) + " " + KV_MeasureNumber(v[1]) + " " + KV_MeasureNumber(v[2]);
}
