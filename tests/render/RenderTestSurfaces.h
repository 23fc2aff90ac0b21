#pragma once
// Tiny hand-built surfaces for the renderer tests.
//
//   3 ---- 2      the unit square in the plane z = depth, as two triangles (0,1,2) and
//   |    / |      (0,2,3), counter-clockwise seen from +z (front faces towards the camera
//   |  /   |      of a reset view); texture coordinates equal the (x, y) corner positions.
//   0 ---- 1

#include "image/KV_MultiImage.h"
#include "surface/KV_PolySurface.h"

#include <cmath>
#include <functional>

inline void AppendTriangle(KV_List<KV_Polygon>& polygons, unsigned int a, unsigned int b,
                           unsigned int c)
{
    KV_Polygon p;
    p.Append(a);
    p.Append(b);
    p.Append(c);
    polygons.Append(p);
}

// The square, its vertex normals all `normal` (the front normal +z by default). With
// clockwise set the triangles run the other way round, so that their back faces look at +z.
inline KV_PolySurface Square(float depth = 0.0f, bool clockwise = false,
                             KV_Vector3D normal = KV_Vector3D(0, 0, 1))
{
    KV_PolySurface s;
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    s.mpVertexNormals = new KV_List<KV_Vector3D>(16);
    for (const auto& c : corners)
    {
        s.Vertices().Append(KV_Vector3D(c[0], c[1], depth));
        s.mpVertexNormals->Append(normal);
    }
    if (clockwise)
    {
        AppendTriangle(s.Polygons(), 0, 2, 1);
        AppendTriangle(s.Polygons(), 0, 3, 2);
    }
    else
    {
        AppendTriangle(s.Polygons(), 0, 1, 2);
        AppendTriangle(s.Polygons(), 0, 2, 3);
    }
    s.ComputeExtents();
    s.ComputeBoundaries();
    return s;
}

// A colour image of width x height whose pixel (row, column) is colour(row, column).
inline KV_Image<KV_RGB8>* ColourImage(int width, int height,
                                      const std::function<KV_RGB8(int, int)>& colour)
{
    auto* image = new KV_Image<KV_RGB8>(height, width);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) (*image)(r, c) = colour(r, c);
    return image;
}

// Gives the square texture coordinates at its corners (one per vertex, texture polygons
// equal to the polygons) and the image as its texture map.
inline void AddTexture(KV_PolySurface& s, KV_Image<KV_RGB8>* colour,
                       KV_Image<unsigned char>* grey = nullptr)
{
    s.mpTextureCoordinates = new KV_List<KV_Vector2D>(16);
    for (unsigned int i = 0; i < s.VertexCount(); ++i)
        s.mpTextureCoordinates->Append(KV_Vector2D((*s.mpVertices)[i].x, (*s.mpVertices)[i].y));
    s.mpTexturePolygons = new KV_List<KV_Polygon>(*s.mpPolygons);
    s.mpTextureMap = new KV_MultiImage;
    if (colour != nullptr)
        s.mpTextureMap->SetImage(colour);
    else
        s.mpTextureMap->SetImage(grey);
}

// The square with a texture whose left half is red and right half green.
inline KV_PolySurface RedGreenSquare()
{
    KV_PolySurface s = Square();
    AddTexture(
        s, ColourImage(4, 4,
                       [](int, int c) { return c < 2 ? KV_RGB8(255, 0, 0) : KV_RGB8(0, 255, 0); }));
    return s;
}

// A rippled grid of columns x rows quads as triangle pairs in the unit square, textured
// with a seam: the quads right of the middle column take coordinates of their own along
// it, so that two coordinates share a vertex there, and one last coordinate is used by no
// texture polygon.
inline KV_PolySurface TexturedSeamGrid(int columns, int rows)
{
    KV_PolySurface s;
    s.mpTextureCoordinates = new KV_List<KV_Vector2D>(1024);
    s.mpTexturePolygons = new KV_List<KV_Polygon>(1024);
    const int seam = columns / 2;
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i)
        {
            const float u = static_cast<float>(i) / columns, v = static_cast<float>(j) / rows;
            s.Vertices().Append(KV_Vector3D(u, v, 0.05f * std::sin(9.0f * u) * std::cos(7.0f * v)));
            s.mpTextureCoordinates->Append(KV_Vector2D(u, v));
        }
    const unsigned int seamFirst = s.mpTextureCoordinates->Count();
    for (int j = 0; j <= rows; ++j)
        s.mpTextureCoordinates->Append(KV_Vector2D(0.5f, 1.0f - static_cast<float>(j) / rows));
    s.mpTextureCoordinates->Append(KV_Vector2D(0.25f, 0.25f));
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i)
        {
            const unsigned int a = j * (columns + 1) + i, b = a + 1, c = a + columns + 2,
                               d = a + columns + 1;
            AppendTriangle(s.Polygons(), a, b, c);
            AppendTriangle(s.Polygons(), a, c, d);
            unsigned int ta = a, td = d;
            if (i == seam)
            {
                ta = seamFirst + j;
                td = seamFirst + j + 1;
            }
            AppendTriangle(*s.mpTexturePolygons, ta, b, c);
            AppendTriangle(*s.mpTexturePolygons, ta, c, td);
        }
    s.mpTextureMap = new KV_MultiImage;
    s.mpTextureMap->SetImage(ColourImage(16, 16,
                                         [](int r, int c)
                                         {
                                             return KV_RGB8(static_cast<unsigned char>(15 * r),
                                                            static_cast<unsigned char>(15 * c),
                                                            (r + c) % 2 ? 230 : 30);
                                         }));
    return s;
}
