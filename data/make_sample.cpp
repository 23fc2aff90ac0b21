// make_sample: writes the bundled sample surface, a small textured surface made from a
// procedural model (a rippled dome over a square grid) and a procedural picture (coloured
// rings over a checkerboard), in the raw surface encoding.
//
//   make_sample OUTPUT.osf
//
// The result is the same on every run, so data/sample.osf can be regenerated exactly.
//
//   make_sample --big OUTPUT.osf
//
// writes instead the start-up benchmark surface: a 501 x 1001 vertex grid of 1,000,000
// textured triangles with a 4096 x 4096 colour picture (about 70 MB; not kept in the
// repository).

#include "tests/support/SurfaceFileWriter.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace
{
constexpr int kGrid = 48;          // vertices along each side
constexpr int kPictureSize = 256;  // texels along each side

float Height(float x, float y)
{
    const float r2 = x * x + y * y;
    const float dome = 0.45f * std::exp(-2.2f * r2);
    const float ripple = 0.06f * std::sin(9.0f * std::sqrt(r2)) * std::exp(-0.8f * r2);
    return dome + ripple + 0.05f * std::sin(2.5f * x) * std::cos(2.0f * y);
}

void Colour(int column, int row, unsigned char* rgb)
{
    const float u = (column + 0.5f) / kPictureSize - 0.5f;
    const float v = (row + 0.5f) / kPictureSize - 0.5f;
    const float r = std::sqrt(u * u + v * v);
    const bool check = ((column / 32) + (row / 32)) % 2 == 0;
    // Rings of changing hue, brighter and darker on alternate squares.
    const float phase = r * 24.0f;
    const float red = 0.5f + 0.5f * std::cos(phase);
    const float green = 0.5f + 0.5f * std::cos(phase + 2.094f);
    const float blue = 0.5f + 0.5f * std::cos(phase + 4.189f);
    const float light = check ? 1.0f : 0.6f;
    rgb[0] = static_cast<unsigned char>(255.0f * red * light);
    rgb[1] = static_cast<unsigned char>(255.0f * green * light);
    rgb[2] = static_cast<unsigned char>(255.0f * blue * light);
}

OsfSurface MakeSurface()
{
    OsfSurface surface;
    for (int j = 0; j < kGrid; ++j)
    {
        for (int i = 0; i < kGrid; ++i)
        {
            const float u = static_cast<float>(i) / (kGrid - 1);
            const float v = static_cast<float>(j) / (kGrid - 1);
            const float x = 2.0f * u - 1.0f;
            const float y = 2.0f * v - 1.0f;
            surface.vertices.push_back({x, y, Height(x, y)});
            surface.textureCoordinates.push_back({u, v});
        }
    }
    // Two counter-clockwise triangles per grid square (seen from +z); the texture polygons
    // use the same indices, one texture coordinate per vertex.
    for (int j = 0; j + 1 < kGrid; ++j)
    {
        for (int i = 0; i + 1 < kGrid; ++i)
        {
            const unsigned int a = static_cast<unsigned int>(j * kGrid + i);
            const unsigned int b = a + 1;
            const unsigned int c = a + kGrid + 1;
            const unsigned int d = a + kGrid;
            surface.polygons.push_back({a, b, c});
            surface.polygons.push_back({a, c, d});
        }
    }
    surface.texturePolygons = surface.polygons;

    surface.textureKind = 3;
    surface.textureRows = kPictureSize;
    surface.textureColumns = kPictureSize;
    surface.texturePixels.resize(static_cast<size_t>(kPictureSize) * kPictureSize * 3);
    for (int row = 0; row < kPictureSize; ++row)
        for (int column = 0; column < kPictureSize; ++column)
            Colour(column, row,
                   &surface.texturePixels[(static_cast<size_t>(row) * kPictureSize + column) * 3]);
    return surface;
}
OsfSurface MakeBigSurface()
{
    const unsigned int rows = 500, columns = 1000;
    OsfSurface s;
    for (unsigned int r = 0; r <= rows; ++r)
    {
        for (unsigned int c = 0; c <= columns; ++c)
        {
            const float x = static_cast<float>(c) / 250.0f - 2.0f;
            const float y = static_cast<float>(r) / 250.0f - 1.0f;
            s.vertices.push_back({x, y, 0.6f * Height(x * 0.5f, y)});
            s.textureCoordinates.push_back(
                {static_cast<float>(c) / columns, static_cast<float>(r) / rows});
        }
    }
    for (unsigned int r = 0; r < rows; ++r)
    {
        for (unsigned int c = 0; c < columns; ++c)
        {
            const unsigned int a = r * (columns + 1) + c, b = a + 1, d = a + columns + 1, e = d + 1;
            s.polygons.push_back({a, b, e});
            s.polygons.push_back({a, e, d});
        }
    }
    s.texturePolygons = s.polygons;
    const int side = 4096;
    s.textureKind = 3;
    s.textureRows = side;
    s.textureColumns = side;
    s.texturePixels.resize(static_cast<size_t>(side) * side * 3);
    for (int row = 0; row < side; ++row)
        for (int column = 0; column < side; ++column)
            Colour(column / 16, row / 16,
                   &s.texturePixels[(static_cast<size_t>(row) * side + column) * 3]);
    return s;
}
}  // namespace

int main(int argc, char** argv)
{
    const bool big = argc == 3 && std::string(argv[1]) == "--big";
    if (argc != 2 && !big)
    {
        std::fprintf(stderr, "usage: make_sample [--big] OUTPUT.osf\n");
        return 2;
    }
    const char* output = argv[argc - 1];
    OsfRawOptions options;
    options.headerText =
        big ? "Orvane Image View start-up benchmark surface" : "Orvane Image View sample surface";
    if (!WriteOsfFile(output, EncodeRawSurface(big ? MakeBigSurface() : MakeSurface(), options)))
    {
        std::fprintf(stderr, "make_sample: cannot write %s\n", output);
        return 1;
    }
    return 0;
}
