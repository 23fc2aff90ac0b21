#include "measure/KV_SurfacePicker.h"

#include "foundation/KV_Executor.h"
#include "image/KV_MultiImage.h"
#include "surface/KV_TexturedPolySurface.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <new>

namespace
{
using Vector = std::array<double, 3>;

constexpr std::uint32_t kLeafSize = 4;
// Ranges at least this large are split side by side when there is an executor.
constexpr std::uint32_t kSpawnFrom = 1u << 16;
constexpr int kSpawnDepth = 3;

Vector Minus(const Vector& a, const Vector& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vector Cross(const Vector& a, const Vector& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vector& a, const Vector& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vector Normalised(const Vector& v)
{
    const double length = std::sqrt(Dot(v, v));
    if (!(length > 0.0) || !std::isfinite(length))
        return {0.0, 0.0, 0.0};
    return {v[0] / length, v[1] / length, v[2] / length};
}

// The parameter interval where the ray is inside the box; false when it misses it within
// [tMin, tMax]. A direction part of zero is a slab test on the origin alone, so that no
// 0 · infinity turns into NaN.
bool EntersBox(const KV_Ray& ray, const float lo[3], const float hi[3], double& tEnter)
{
    double t0 = ray.tMin, t1 = ray.tMax;
    for (int i = 0; i < 3; ++i)
    {
        const double d = ray.direction[i], o = ray.origin[i];
        if (d == 0.0)
        {
            if (o < lo[i] || o > hi[i])
                return false;
            continue;
        }
        double a = (lo[i] - o) / d, b = (hi[i] - o) / d;
        if (a > b)
            std::swap(a, b);
        t0 = std::max(t0, a);
        t1 = std::min(t1, b);
        if (t0 > t1)
            return false;
    }
    tEnter = t0;
    return true;
}
}  // namespace

// Builds the hierarchy top down, each range split at its middle along the widest spread of
// triangle centres. Halving makes the shape of the tree depend on the triangle count alone,
// so every subtree knows where its nodes go and subtrees can be made side by side. The
// split works on a compact list of centres; the boxes are made bottom up, from the corners
// at the leaves.
class KV_SurfacePicker::Builder
{
public:
    struct Item
    {
        float centre[3];
        Triangle triangle;
    };

    Builder(const KV_SurfacePicker& picker, std::vector<Node>& nodes, std::vector<Item>& items,
            KV_Executor* executor, const std::atomic<bool>* stop)
        : mkPicker(picker), mkNodes(nodes), mkItems(items), mpExecutor(executor), mpStop(stop)
    {
    }

    std::uint32_t NodesFor(std::uint32_t count)
    {
        if (count <= kLeafSize)
            return 1;
        const auto found = mkCounts.find(count);
        if (found != mkCounts.end())
            return found->second;
        const std::uint32_t nodes = 1 + NodesFor(count / 2) + NodesFor(count - count / 2);
        mkCounts.emplace(count, nodes);
        return nodes;
    }

    // Fills node `node` and its subtree from mkItems[begin, end).
    void Make(std::uint32_t node, std::uint32_t begin, std::uint32_t end, int depth)
    {
        const std::uint32_t count = end - begin;
        if (count >= 1024 && Stopped())
            return;
        Node& out = mkNodes[node];
        for (int i = 0; i < 3; ++i)
        {
            out.lo[i] = std::numeric_limits<float>::max();
            out.hi[i] = -std::numeric_limits<float>::max();
        }
        if (count <= kLeafSize)
        {
            for (std::uint32_t k = begin; k < end; ++k)
            {
                Vector p[3];
                mkPicker.Corners(mkItems[k].triangle, p);
                for (int c = 0; c < 3; ++c)
                    for (int i = 0; i < 3; ++i)
                    {
                        // Vertices are floats: the box holds them exactly.
                        const float value = static_cast<float>(p[c][i]);
                        out.lo[i] = std::min(out.lo[i], value);
                        out.hi[i] = std::max(out.hi[i], value);
                    }
            }
            out.first = begin;
            out.count = count;
            return;
        }
        float lo[3], hi[3];
        for (int i = 0; i < 3; ++i)
        {
            lo[i] = std::numeric_limits<float>::max();
            hi[i] = -std::numeric_limits<float>::max();
        }
        for (std::uint32_t k = begin; k < end; ++k)
            for (int i = 0; i < 3; ++i)
            {
                lo[i] = std::min(lo[i], mkItems[k].centre[i]);
                hi[i] = std::max(hi[i], mkItems[k].centre[i]);
            }
        int axis = 0;
        for (int i = 1; i < 3; ++i)
            if (hi[i] - lo[i] > hi[axis] - lo[axis])
                axis = i;
        const std::uint32_t middle = begin + count / 2;
        // Ties broken by polygon and corner: the split is one order, whoever makes it.
        std::nth_element(mkItems.begin() + begin, mkItems.begin() + middle, mkItems.begin() + end,
                         [axis](const Item& a, const Item& b)
                         {
                             if (a.centre[axis] != b.centre[axis])
                                 return a.centre[axis] < b.centre[axis];
                             return a.triangle.polygon < b.triangle.polygon ||
                                    (a.triangle.polygon == b.triangle.polygon &&
                                     a.triangle.corner < b.triangle.corner);
                         });
        const std::uint32_t left = node + 1;
        const std::uint32_t right = left + NodesFor(count / 2);
        if (mpExecutor != nullptr && depth < kSpawnDepth && count >= kSpawnFrom)
        {
            KV_Task<void> other = KV_Spawn(mpExecutor, [this, right, middle, end, depth]
                                           { Make(right, middle, end, depth + 1); });
            Make(left, begin, middle, depth + 1);
            other.Get();
        }
        else
        {
            Make(left, begin, middle, depth + 1);
            Make(right, middle, end, depth + 1);
        }
        for (const std::uint32_t child : {left, right})
            for (int i = 0; i < 3; ++i)
            {
                out.lo[i] = std::min(out.lo[i], mkNodes[child].lo[i]);
                out.hi[i] = std::max(out.hi[i], mkNodes[child].hi[i]);
            }
        out.first = right;
        out.count = 0;
    }

    bool Stopped() const { return mpStop != nullptr && mpStop->load(std::memory_order_relaxed); }

private:
    const KV_SurfacePicker& mkPicker;
    std::vector<Node>& mkNodes;
    std::vector<Item>& mkItems;
    KV_Executor* mpExecutor;
    const std::atomic<bool>* mpStop;
    // Node counts of subtrees, made before any piece runs (read only afterwards).
    std::map<std::uint32_t, std::uint32_t> mkCounts;
};

void KV_SurfacePicker::Clear()
{
    mpSurface = nullptr;
    std::vector<Triangle>().swap(mkTriangles);
    std::vector<Node>().swap(mkNodes);
}

bool KV_SurfacePicker::Corners(const Triangle& triangle, Vector corners[3]) const
{
    const KV_PolygonView& polygon = (*mpSurface->mpPolygons)[triangle.polygon];
    const unsigned int vertexCount = mpSurface->VertexCount();
    const unsigned int index[3] = {polygon[0], polygon[triangle.corner - 1],
                                   polygon[triangle.corner]};
    for (int c = 0; c < 3; ++c)
    {
        if (index[c] >= vertexCount)
            return false;
        const KV_Vector3D& p = (*mpSurface->mpVertices)[index[c]];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            return false;
        corners[c] = {p.x, p.y, p.z};
    }
    return true;
}

bool KV_SurfacePicker::Build(const KV_TexturedPolySurface& surface, KV_Executor* executor,
                             const std::atomic<bool>* stop)
{
    try
    {
        return BuildHierarchy(surface, executor, stop);
    }
    catch (const std::bad_alloc&)
    {
        Clear();
        return false;
    }
}

bool KV_SurfacePicker::BuildHierarchy(const KV_TexturedPolySurface& surface, KV_Executor* executor,
                                      const std::atomic<bool>* stop)
{
    Clear();
    mpSurface = &surface;
    const unsigned int polygonCount = surface.PolygonCount();
    // One slot per fan triangle, counted first so that the list is made once.
    std::size_t fan = 0;
    for (unsigned int j = 0; j < polygonCount; ++j)
    {
        const unsigned int corners = (*surface.mpPolygons)[j].Count();
        fan += corners > 2 ? corners - 2 : 0;
    }
    using Item = Builder::Item;
    std::vector<Item> items;
    // Triangle numbers are 32 bits: a surface past that many is refused, not wrapped.
    if (fan >= 0xffffffffu / 2)
    {
        Clear();
        return false;
    }
    items.reserve(fan);
    for (unsigned int j = 0; j < polygonCount; ++j)
    {
        if (j % 16384 == 0 && stop != nullptr && stop->load(std::memory_order_relaxed))
        {
            Clear();
            return false;
        }
        const unsigned int corners = (*surface.mpPolygons)[j].Count();
        for (unsigned int k = 2; k < corners; ++k)
        {
            const Triangle triangle{j, k};
            Vector p[3];
            if (!Corners(triangle, p))
                continue;
            Item item;
            for (int i = 0; i < 3; ++i)
            {
                const double low = std::min({p[0][i], p[1][i], p[2][i]});
                const double high = std::max({p[0][i], p[1][i], p[2][i]});
                item.centre[i] = static_cast<float>(low * 0.5 + high * 0.5);
            }
            item.triangle = triangle;
            items.push_back(item);
        }
    }
    const auto count = static_cast<std::uint32_t>(items.size());
    if (count == 0)
        return true;

    Builder builder(*this, mkNodes, items, executor, stop);
    mkNodes.resize(builder.NodesFor(count));
    builder.Make(0, 0, count, 0);
    if (builder.Stopped())
    {
        Clear();
        return false;
    }
    // The triangles in leaf order, so that a leaf reads one stretch.
    mkTriangles.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) mkTriangles[i] = items[i].triangle;
    return true;
}

bool KV_SurfacePicker::Test(const KV_Ray& ray, std::uint32_t index, Candidate& best,
                            bool found) const
{
    const Triangle& triangle = mkTriangles[index];
    Vector p[3];
    if (!Corners(triangle, p))
        return false;
    // Möller and Trumbore's test, edges and corners included so that a ray through a
    // shared edge meets one of its polygons.
    const Vector e1 = Minus(p[1], p[0]), e2 = Minus(p[2], p[0]);
    const Vector q = Cross(ray.direction, e2);
    const double determinant = Dot(e1, q);
    if (determinant == 0.0 || !std::isfinite(determinant))
        return false;
    const double inverse = 1.0 / determinant;
    const Vector s = Minus(ray.origin, p[0]);
    const double u = Dot(s, q) * inverse;
    if (!(u >= 0.0 && u <= 1.0))
        return false;
    const Vector r = Cross(s, e1);
    const double v = Dot(ray.direction, r) * inverse;
    if (!(v >= 0.0 && u + v <= 1.0))
        return false;
    const double t = Dot(e2, r) * inverse;
    if (!(t >= ray.tMin && t <= ray.tMax))
        return false;
    if (found)
    {
        const Triangle& other = mkTriangles[best.triangle];
        const bool earlier = triangle.polygon < other.polygon ||
                             (triangle.polygon == other.polygon && triangle.corner < other.corner);
        if (t > best.t || (t == best.t && !earlier))
            return false;
    }
    best = Candidate{t, u, v, index};
    return true;
}

bool KV_SurfacePicker::Pick(const KV_Ray& ray, KV_PickHit& hit) const
{
    // A ray with a NaN in it would enter every box and meet nothing.
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(ray.origin[i]) || !std::isfinite(ray.direction[i]))
            return false;
    if (mkNodes.empty() || std::isnan(ray.tMin) || std::isnan(ray.tMax))
        return false;
    Candidate best{0.0, 0.0, 0.0, 0};
    bool found = false;
    // Halving keeps the depth near log2(n / 4): 64 levels hold any 32-bit count.
    std::uint32_t stack[128];
    int top = 0;
    double tEnter = 0.0;
    if (EntersBox(ray, mkNodes[0].lo, mkNodes[0].hi, tEnter))
        stack[top++] = 0;
    while (top > 0)
    {
        const Node& node = mkNodes[stack[--top]];
        if (node.count > 0)
        {
            for (std::uint32_t k = node.first; k < node.first + node.count; ++k)
                found |= Test(ray, k, best, found);
            continue;
        }
        const std::uint32_t children[2] = {static_cast<std::uint32_t>(&node - mkNodes.data()) + 1,
                                           node.first};
        double t[2];
        bool enters[2];
        for (int c = 0; c < 2; ++c)
        {
            const Node& child = mkNodes[children[c]];
            // A box entered exactly at the best parameter may hold an earlier polygon there.
            enters[c] = EntersBox(ray, child.lo, child.hi, t[c]) && (!found || t[c] <= best.t);
        }
        // The nearer child is taken first: pushed last.
        const int first = enters[0] && enters[1] && t[1] < t[0] ? 1 : 0;
        for (int c : {1 - first, first})
            if (enters[c] && top < 128)
                stack[top++] = children[c];
    }
    if (!found)
        return false;
    Fill(ray, best, hit);
    return true;
}

bool KV_SurfacePicker::PickEveryTriangle(const KV_Ray& ray, KV_PickHit& hit) const
{
    Candidate best{0.0, 0.0, 0.0, 0};
    bool found = false;
    for (std::size_t k = 0; k < mkTriangles.size(); ++k)
        found |= Test(ray, static_cast<std::uint32_t>(k), best, found);
    if (!found)
        return false;
    Fill(ray, best, hit);
    return true;
}

void KV_SurfacePicker::Fill(const KV_Ray& /*ray*/, const Candidate& best, KV_PickHit& hit) const
{
    const Triangle& triangle = mkTriangles[best.triangle];
    Vector p[3];
    Corners(triangle, p);
    const double w0 = 1.0 - best.u - best.v;
    KV_PickHit out;
    // From the corners rather than along the ray: the point lies on the drawn triangle.
    for (int i = 0; i < 3; ++i) out.mkPoint[i] = w0 * p[0][i] + best.u * p[1][i] + best.v * p[2][i];
    out.munPolygon = triangle.polygon;
    out.mrT = best.t;

    // Newell's sum: the polygon's own normal, a fair one for corners slightly off a plane.
    const KV_PolygonView& polygon = (*mpSurface->mpPolygons)[triangle.polygon];
    const unsigned int corners = polygon.Count();
    const unsigned int vertexCount = mpSurface->VertexCount();
    Vector sum{0.0, 0.0, 0.0};
    bool whole = true;
    for (unsigned int k = 0; k < corners && whole; ++k)
    {
        const unsigned int a = polygon[k], b = polygon[(k + 1) % corners];
        if (a >= vertexCount || b >= vertexCount)
        {
            whole = false;
            break;
        }
        const KV_Vector3D& pa = (*mpSurface->mpVertices)[a];
        const KV_Vector3D& pb = (*mpSurface->mpVertices)[b];
        sum[0] += (double(pa.y) - pb.y) * (double(pa.z) + pb.z);
        sum[1] += (double(pa.z) - pb.z) * (double(pa.x) + pb.x);
        sum[2] += (double(pa.x) - pb.x) * (double(pa.y) + pb.y);
    }
    out.mkNormal = whole ? Normalised(sum) : Vector{0.0, 0.0, 0.0};
    if (out.mkNormal == Vector{0.0, 0.0, 0.0})
        out.mkNormal = Normalised(Cross(Minus(p[1], p[0]), Minus(p[2], p[0])));

    const KV_TexturedPolySurface& s = *mpSurface;
    if (s.mpTexturePolygons != nullptr && s.mpTextureCoordinates != nullptr &&
        triangle.polygon < s.mpTexturePolygons->Count())
    {
        const KV_PolygonView& texture = (*s.mpTexturePolygons)[triangle.polygon];
        const unsigned int coordinateCount = s.mpTextureCoordinates->Count();
        if (texture.Count() == corners)
        {
            const unsigned int index[3] = {texture[0], texture[triangle.corner - 1],
                                           texture[triangle.corner]};
            if (index[0] < coordinateCount && index[1] < coordinateCount &&
                index[2] < coordinateCount)
            {
                const KV_Vector2D& a = (*s.mpTextureCoordinates)[index[0]];
                const KV_Vector2D& b = (*s.mpTextureCoordinates)[index[1]];
                const KV_Vector2D& c = (*s.mpTextureCoordinates)[index[2]];
                out.mkTextureCoordinate = {w0 * a.u + best.u * b.u + best.v * c.u,
                                           w0 * a.v + best.u * b.v + best.v * c.v};
                out.mbHasTextureCoordinate = std::isfinite(out.mkTextureCoordinate[0]) &&
                                             std::isfinite(out.mkTextureCoordinate[1]);
            }
        }
    }
    if (out.mbHasTextureCoordinate && s.HasTextureMap())
    {
        const KV_MultiImage& image = *s.mpTextureMap;
        const int rows = image.Rows(), columns = image.Cols();
        if (rows > 0 && columns > 0)
        {
            // Row 0 is the picture's bottom, where v = 0 lies.
            const double u = std::clamp(out.mkTextureCoordinate[0], 0.0, 1.0);
            const double v = std::clamp(out.mkTextureCoordinate[1], 0.0, 1.0);
            const int column = std::min(columns - 1, static_cast<int>(u * columns));
            const int row = std::min(rows - 1, static_cast<int>(v * rows));
            if (image.IsColour() && image.ColourImage() != nullptr)
            {
                out.mkColour = (*image.ColourImage())(row, column);
                out.mbHasColour = true;
            }
            else if (image.GreyImage() != nullptr)
            {
                const unsigned char grey = (*image.GreyImage())(row, column);
                out.mkColour = KV_RGB8(grey, grey, grey);
                out.mbHasColour = true;
            }
        }
    }
    hit = out;
}
