#pragma once
// Helpers shared by the surface file tests: scratch paths, a small textured sample surface
// and the comparison of a read surface with the plain data it was written from.

#include "tests/support/ScratchPath.h"
#include "surface/KV_TexturedPolySurface.h"
#include "tests/support/SurfaceFileWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline std::string TmpPath(const std::string& name)
{
    return TestScratchPath(name);
}

// Writes bytes to a scratch file of that name and returns its path.
inline std::string WriteTmp(const std::string& name, const std::vector<unsigned char>& bytes)
{
    const std::string path = TmpPath(name);
    EXPECT_TRUE(WriteOsfFile(path, bytes)) << path;
    return path;
}

// A square pyramid with a textured base:
//
//           4 (apex, above the middle of the base)
//     3 ---------- 2
//     |            |
//     |    base    |        base: the quad (0, 3, 2, 1), sides: (0,1,4) (1,2,4) (2,3,4) (3,0,4)
//     0 ---------- 1
//
// Texture polygons use coordinates 0..5 (the apex gets coordinate 4 on the first two sides
// and 5 on the others: a seam). The texture is a colour image of 2 rows x 3 columns.
inline OsfSurface PyramidSurface(int textureKind = 3)
{
    OsfSurface s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, 0.5f, 1}};
    s.polygons = {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
    s.textureCoordinates = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.5f, 0.5f}, {0.25f, 0.75f}};
    s.texturePolygons = {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 5}, {3, 0, 5}};
    s.textureKind = textureKind;
    if (textureKind == 1 || textureKind == 3)
    {
        s.textureRows = 2;
        s.textureColumns = 3;
        for (unsigned int i = 0; i < 2u * 3u * textureKind; ++i)
            s.texturePixels.push_back(static_cast<unsigned char>(10 + 7 * i));
    }
    return s;
}

// The pyramid cut into triangles only (raw versions 0 and 1 hold nothing else).
inline OsfSurface TrianglePyramidSurface(int textureKind = 3)
{
    OsfSurface s = PyramidSurface(textureKind);
    s.polygons[0] = {0, 3, 2};
    s.polygons.push_back({0, 2, 1});
    s.texturePolygons[0] = {0, 3, 2};
    s.texturePolygons.push_back({0, 2, 1});
    return s;
}

inline std::vector<std::vector<unsigned int>> PolygonsOf(const KV_List<KV_Polygon>* list)
{
    std::vector<std::vector<unsigned int>> out;
    if (list)
        for (unsigned int i = 0; i < list->Count(); ++i)
        {
            std::vector<unsigned int> polygon;
            for (unsigned int j = 0; j < (*list)[i].Count(); ++j)
                polygon.push_back((*list)[i][j]);
            out.push_back(polygon);
        }
    return out;
}

// The image held by the texture map as bytes, row 0 first; empty when there is none.
inline std::vector<unsigned char> TextureBytesOf(const KV_TexturedPolySurface& s)
{
    std::vector<unsigned char> out;
    if (!s.mpTextureMap)
        return out;
    if (const auto* colour = s.mpTextureMap->ColourImage())
        for (int r = 0; r < colour->Rows(); ++r)
            for (int c = 0; c < colour->Cols(); ++c)
            {
                const KV_RGB8& p = (*colour)(r, c);
                out.insert(out.end(), {p.red, p.green, p.blue});
            }
    if (const auto* grey = s.mpTextureMap->GreyImage())
        for (int r = 0; r < grey->Rows(); ++r)
            for (int c = 0; c < grey->Cols(); ++c)
                out.push_back((*grey)(r, c));
    return out;
}

// Every stored value of expected, exactly (floats travel bit for bit).
inline void ExpectSurfaceMatches(const KV_TexturedPolySurface& s, const OsfSurface& expected)
{
    ASSERT_EQ(s.VertexCount(), expected.vertices.size());
    for (unsigned int i = 0; i < s.VertexCount(); ++i)
    {
        EXPECT_EQ((*s.mpVertices)[i].x, expected.vertices[i][0]) << "vertex " << i;
        EXPECT_EQ((*s.mpVertices)[i].y, expected.vertices[i][1]) << "vertex " << i;
        EXPECT_EQ((*s.mpVertices)[i].z, expected.vertices[i][2]) << "vertex " << i;
    }
    EXPECT_EQ(PolygonsOf(s.mpPolygons), expected.polygons);

    const bool textured = expected.textureKind == 1 || expected.textureKind == 3;
    if (!textured)
    {
        EXPECT_EQ(s.mpTextureCoordinates, nullptr);
        EXPECT_EQ(s.mpTexturePolygons, nullptr);
        EXPECT_EQ(s.mpTextureMap, nullptr);
        return;
    }
    ASSERT_NE(s.mpTextureCoordinates, nullptr);
    ASSERT_EQ(s.mpTextureCoordinates->Count(), expected.textureCoordinates.size());
    for (unsigned int i = 0; i < s.mpTextureCoordinates->Count(); ++i)
    {
        EXPECT_EQ((*s.mpTextureCoordinates)[i].u, expected.textureCoordinates[i][0]);
        EXPECT_EQ((*s.mpTextureCoordinates)[i].v, expected.textureCoordinates[i][1]);
    }
    EXPECT_EQ(PolygonsOf(s.mpTexturePolygons), expected.texturePolygons);
    ASSERT_NE(s.mpTextureMap, nullptr);
    EXPECT_EQ(s.mpTextureMap->IsColour(), expected.textureKind == 3);
    EXPECT_EQ(s.mpTextureMap->Rows(), static_cast<int>(expected.textureRows));
    EXPECT_EQ(s.mpTextureMap->Cols(), static_cast<int>(expected.textureColumns));
    EXPECT_EQ(TextureBytesOf(s), expected.texturePixels);
}
