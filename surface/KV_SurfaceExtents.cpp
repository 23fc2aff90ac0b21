#include "surface/KV_SurfaceExtents.h"

#include "surface/KV_Polygon.h"

#include <memory>
#include <vector>

namespace
{
const unsigned int kLargestSize = 2147483647u;

void TakeMinimum(KV_Vector3D& minimum, const KV_Vector3D& v)
{
    if (v.x < minimum.x)
        minimum.x = v.x;
    if (v.y < minimum.y)
        minimum.y = v.y;
    if (v.z < minimum.z)
        minimum.z = v.z;
}

void TakeMaximum(KV_Vector3D& maximum, const KV_Vector3D& v)
{
    if (v.x > maximum.x)
        maximum.x = v.x;
    if (v.y > maximum.y)
        maximum.y = v.y;
    if (v.z > maximum.z)
        maximum.z = v.z;
}

bool SameRadius(float a, float b)
{
    return !(a < b || a > b);
}
}  // namespace

KV_SurfaceExtents::KV_SurfaceExtents()
    : mkCentroid(0.0f, 0.0f, 0.0f),
      mkMinimum(KV_Vector3D_Largest),
      mkMaximum(-KV_Vector3D_Largest),
      mkPolygonMinimum(KV_Vector3D_Largest),
      mkPolygonMaximum(-KV_Vector3D_Largest),
      mrMinimumRadius(KV_LargestFloat),
      mrMaximumRadius(-KV_LargestFloat)
{
}

void KV_SurfaceExtents::Compute(const KV_List<KV_Vector3D>* vertices,
                                const KV_List<KV_Polygon>* polygons)
{
    const unsigned int vertexCount = vertices ? vertices->Count() : 0;
    // Positions in one piece are read as an array, without a block look-up per vertex.
    const std::shared_ptr<const KV_Vector3D> piece =
        vertices != nullptr ? vertices->SharedPiece() : nullptr;
    if (piece != nullptr)
        ComputeFrom(
            vertexCount, [p = piece.get()](unsigned int i) -> const KV_Vector3D& { return p[i]; },
            polygons);
    else
        ComputeFrom(
            vertexCount,
            [vertices](unsigned int i) -> const KV_Vector3D& { return (*vertices)[i]; }, polygons);
}

template <typename PositionOf>
void KV_SurfaceExtents::ComputeFrom(unsigned int vertexCount, const PositionOf& position,
                                    const KV_List<KV_Polygon>* polygons)
{
    // Summed in double: a million float additions would otherwise drift visibly. Bounds
    // and sizes are kept in locals: stores to the members on every element would chain
    // each comparison to the previous store.
    double sumX = 0.0, sumY = 0.0, sumZ = 0.0;
    KV_Vector3D minimum = KV_Vector3D_Largest;
    KV_Vector3D maximum = -KV_Vector3D_Largest;
    for (unsigned int i = 0; i < vertexCount; ++i)
    {
        const KV_Vector3D& v = position(i);
        sumX += v.x;
        sumY += v.y;
        sumZ += v.z;
        TakeMinimum(minimum, v);
        TakeMaximum(maximum, v);
    }
    mkMinimum = minimum;
    mkMaximum = maximum;

    float minimumRadius = KV_LargestFloat;
    float maximumRadius = 0.0f;
    mkCentroid = KV_Vector3D(0.0f, 0.0f, 0.0f);
    if (vertexCount > 0)
    {
        const KV_Vector3D centroid(static_cast<float>(sumX / vertexCount),
                                   static_cast<float>(sumY / vertexCount),
                                   static_cast<float>(sumZ / vertexCount));
        mkCentroid = centroid;
        for (unsigned int i = 0; i < vertexCount; ++i)
        {
            const float radius = (position(i) - centroid).Length();
            if (radius < minimumRadius)
                minimumRadius = radius;
            if (radius > maximumRadius)
                maximumRadius = radius;
        }
    }
    mrMinimumRadius = minimumRadius;
    mrMaximumRadius = maximumRadius;

    // The polygons' bounds are those of the vertices they use: each used vertex is marked (a
    // byte a vertex, written in corner order), then the marked ones are taken in vertex order,
    // instead of fetching a position for every corner from all over the list. Bounds do not
    // depend on the order taken, except between 0 and -0, which compare equal and keep the
    // first met: a bound of zero is taken again in corner order.
    KV_Vector3D polygonMinimum = KV_Vector3D_Largest;
    KV_Vector3D polygonMaximum = -KV_Vector3D_Largest;
    unsigned int smallest = kLargestSize;
    unsigned int largest = 0;
    const unsigned int polygonCount = polygons ? polygons->Count() : 0;
    std::vector<unsigned char> used(polygonCount > 0 ? vertexCount : 0, 0);
    auto nothing = [](unsigned int) {};
    if (polygonCount > 0)
        KV_ForEachPolygon(*polygons, 0, polygonCount, nothing,
                          [&](unsigned int, const auto& polygon)
                          {
                              const unsigned int size = polygon.Count();
                              if (size < smallest)
                                  smallest = size;
                              if (size > largest)
                                  largest = size;
                              for (unsigned int k = 0; k < size; ++k)
                                  if (polygon[k] < vertexCount)
                                      used[polygon[k]] = 1;
                          });
    for (unsigned int i = 0; i < static_cast<unsigned int>(used.size()); ++i)
    {
        if (used[i] == 0)
            continue;
        TakeMinimum(polygonMinimum, position(i));
        TakeMaximum(polygonMaximum, position(i));
    }
    const bool zeroBound = polygonMinimum.x == 0.0f || polygonMinimum.y == 0.0f ||
                           polygonMinimum.z == 0.0f || polygonMaximum.x == 0.0f ||
                           polygonMaximum.y == 0.0f || polygonMaximum.z == 0.0f;
    if (zeroBound && polygonCount > 0)
    {
        polygonMinimum = KV_Vector3D_Largest;
        polygonMaximum = -KV_Vector3D_Largest;
        KV_ForEachPolygon(*polygons, 0, polygonCount, nothing,
                          [&](unsigned int, const auto& polygon)
                          {
                              for (unsigned int k = 0; k < polygon.Count(); ++k)
                              {
                                  if (polygon[k] >= vertexCount)
                                      continue;
                                  const KV_Vector3D& v = position(polygon[k]);
                                  TakeMinimum(polygonMinimum, v);
                                  TakeMaximum(polygonMaximum, v);
                              }
                          });
    }
    mkPolygonMinimum = polygonMinimum;
    mkPolygonMaximum = polygonMaximum;
    munMinimumPolygonSize = smallest;
    munMaximumPolygonSize = largest;
}

bool operator==(const KV_SurfaceExtents& a, const KV_SurfaceExtents& b)
{
    return !(a.Centroid() != b.Centroid()) && !(a.Minimum() != b.Minimum()) &&
           !(a.Maximum() != b.Maximum()) && !(a.PolygonMinimum() != b.PolygonMinimum()) &&
           !(a.PolygonMaximum() != b.PolygonMaximum()) &&
           SameRadius(a.MinimumRadius(), b.MinimumRadius()) &&
           SameRadius(a.MaximumRadius(), b.MaximumRadius()) &&
           a.MinimumPolygonSize() == b.MinimumPolygonSize() &&
           a.MaximumPolygonSize() == b.MaximumPolygonSize();
}
