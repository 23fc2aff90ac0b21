#pragma once
// Small hand-built surfaces and grids for the surface tests.

#include "surface/KV_PolySurface.h"

#include <initializer_list>
#include <random>
#include <vector>

inline void AddVertices(KV_BasePolySurface& s, std::initializer_list<KV_Vector3D> points)
{
    for (const KV_Vector3D& p : points) s.Vertices().Append(p);
}

inline KV_Polygon MakePolygon(std::initializer_list<unsigned int> indices)
{
    KV_Polygon polygon;
    for (unsigned int v : indices) polygon.Append(v);
    return polygon;
}

inline void AddPolygons(KV_BasePolySurface& s,
                        std::initializer_list<std::initializer_list<unsigned int>> polygons)
{
    for (const auto& p : polygons) s.Polygons().Append(MakePolygon(p));
}

inline void AddTexturePolygons(KV_TexturedPolySurface& s,
                               std::initializer_list<std::initializer_list<unsigned int>> polygons)
{
    if (s.mpTexturePolygons == nullptr)
        s.mpTexturePolygons = new KV_List<KV_Polygon>(1024);
    for (const auto& p : polygons) s.mpTexturePolygons->Append(MakePolygon(p));
}

inline void AddTextureCoordinates(KV_TexturedPolySurface& s, unsigned int count)
{
    if (s.mpTextureCoordinates == nullptr)
        s.mpTextureCoordinates = new KV_List<KV_Vector2D>(256);
    for (unsigned int i = 0; i < count; ++i)
        s.mpTextureCoordinates->Append(KV_Vector2D(0.1f * static_cast<float>(i % 10), 0.5f));
}

// A 2 x 2 pixel colour texture.
inline void AddTextureMap(KV_TexturedPolySurface& s)
{
    s.mpTextureMap = new KV_MultiImage;
    s.mpTextureMap->SetImage(new KV_Image<KV_RGB8>(2, 2));
}

// Two triangles (0,1,2) and (0,2,3) on the unit square.
inline void MakeTwoTriangles(KV_BasePolySurface& s)
{
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(s, {{0, 1, 2}, {0, 2, 3}});
}

// A closed tetrahedron with outward-facing triangles.
inline void MakeTetrahedron(KV_BasePolySurface& s)
{
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    AddPolygons(s, {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}});
}

// A grid of (cells x cells) squares, each split into two triangles, over the vertices
// (x, y, 0); with holeChance, each triangle is left out with that probability.
inline void MakeGrid(KV_BasePolySurface& s, unsigned int cells, double holeChance = 0.0,
                     unsigned int seed = 1, bool quads = false)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const unsigned int side = cells + 1;
    for (unsigned int y = 0; y < side; ++y)
        for (unsigned int x = 0; x < side; ++x)
            s.Vertices().Append(KV_Vector3D(static_cast<float>(x), static_cast<float>(y), 0.0f));
    for (unsigned int y = 0; y < cells; ++y)
    {
        for (unsigned int x = 0; x < cells; ++x)
        {
            const unsigned int a = y * side + x, b = a + 1, c = a + side + 1, d = a + side;
            if (quads)
            {
                s.Polygons().Append(MakePolygon({a, b, c, d}));
                continue;
            }
            if (uniform(random) >= holeChance)
                s.Polygons().Append(MakePolygon({a, b, c}));
            if (uniform(random) >= holeChance)
                s.Polygons().Append(MakePolygon({a, c, d}));
        }
    }
}

template <typename T>
std::vector<T> AsVector(const KV_List<T>& list)
{
    std::vector<T> v;
    for (unsigned int i = 0; i < list.Count(); ++i) v.push_back(list[i]);
    return v;
}

template <typename Inner>
std::vector<std::vector<typename std::decay<decltype(std::declval<Inner>()[0])>::type>> AsVectors(
    const KV_List<Inner>& list)
{
    std::vector<std::vector<typename std::decay<decltype(std::declval<Inner>()[0])>::type>> v;
    for (unsigned int i = 0; i < list.Count(); ++i)
    {
        v.emplace_back();
        for (unsigned int k = 0; k < list[i].Count(); ++k) v.back().push_back(list[i][k]);
    }
    return v;
}

inline KV_List<unsigned int> Indices(std::initializer_list<unsigned int> values)
{
    KV_List<unsigned int> list(16);
    for (unsigned int v : values) list.Append(v);
    return list;
}
