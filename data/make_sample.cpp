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
//
//   make_sample --sphere MILLIONS OUTPUT.osf [OUTPUT.ply OUTPUT.png]
//
// writes the benchmark sphere: a closed, displaced sphere of MILLIONS million textured
// triangles (1, 4 or 16, any whole number) with a 4096 x 4096 colour picture. With the two
// further names it also writes the same surface as a binary PLY (one vertex per texture
// coordinate, with u and v) and its picture as a PNG, for viewers that read those.
//
//   make_sample --obj-materials MILLIONS MATERIALS OUTPUT.obj
//
// writes the same sphere as an OBJ whose triangles are split by longitude between
// MATERIALS materials (OUTPUT.mtl), each with a 4096 x 4096 picture of its own
// (OUTPUT_1.png, ...), as photogrammetry programs write their scans.

#include "tests/support/SurfaceFileWriter.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
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

void FillBenchmarkPicture(OsfSurface& s)
{
    const int side = 4096;
    s.textureKind = 3;
    s.textureRows = side;
    s.textureColumns = side;
    s.texturePixels.resize(static_cast<size_t>(side) * side * 3);
    for (int row = 0; row < side; ++row)
        for (int column = 0; column < side; ++column)
            Colour(column / 16, row / 16,
                   &s.texturePixels[(static_cast<size_t>(row) * side + column) * 3]);
}

// A sphere of 2 * columns * bands triangles: bands - 1 rings of columns vertices between two
// poles, its radius rippled in both directions. Texture coordinates run over a grid of
// (bands - 1) x (columns + 1) (the seam column twice) plus one per pole triangle.
OsfSurface MakeSphere(unsigned int millions)
{
    const unsigned int columns =
        static_cast<unsigned int>(std::lround(1000.0 * std::sqrt(millions)));
    const unsigned int bands = static_cast<unsigned int>(
        (static_cast<std::uint64_t>(millions) * 1000000u) / (2u * columns));
    const double pi = 3.14159265358979323846;
    OsfSurface s;
    const unsigned int rings = bands - 1;
    s.vertices.reserve(static_cast<size_t>(rings) * columns + 2);
    s.vertices.push_back({0.0f, 0.0f, 1.0f});   // north pole, vertex 0
    s.vertices.push_back({0.0f, 0.0f, -1.0f});  // south pole, vertex 1
    for (unsigned int i = 1; i <= rings; ++i)
    {
        const double theta = pi * i / bands;
        for (unsigned int j = 0; j < columns; ++j)
        {
            const double phi = 2.0 * pi * j / columns;
            const double r = 1.0 + 0.04 * std::sin(9.0 * theta) * std::cos(7.0 * phi) +
                             0.01 * std::sin(60.0 * theta) * std::sin(50.0 * phi);
            s.vertices.push_back({static_cast<float>(r * std::sin(theta) * std::cos(phi)),
                                  static_cast<float>(r * std::sin(theta) * std::sin(phi)),
                                  static_cast<float>(r * std::cos(theta))});
        }
    }
    auto ringVertex = [&](unsigned int i, unsigned int j)
    { return 2 + (i - 1) * columns + (j % columns); };
    // Texture coordinates: the grid, then the north and south pole ones.
    for (unsigned int i = 1; i <= rings; ++i)
        for (unsigned int j = 0; j <= columns; ++j)
            s.textureCoordinates.push_back(
                {static_cast<float>(j) / columns, 1.0f - static_cast<float>(i) / bands});
    const unsigned int northCoordinates = rings * (columns + 1);
    const unsigned int southCoordinates = northCoordinates + columns;
    for (unsigned int j = 0; j < columns; ++j)
        s.textureCoordinates.push_back({(j + 0.5f) / columns, 1.0f});
    for (unsigned int j = 0; j < columns; ++j)
        s.textureCoordinates.push_back({(j + 0.5f) / columns, 0.0f});
    auto gridCoordinate = [&](unsigned int i, unsigned int j)
    { return (i - 1) * (columns + 1) + j; };

    // Counter-clockwise seen from outside.
    s.polygons.reserve(2u * columns * bands);
    s.texturePolygons.reserve(2u * columns * bands);
    for (unsigned int j = 0; j < columns; ++j)
    {
        s.polygons.push_back({0, ringVertex(1, j), ringVertex(1, j + 1)});
        s.texturePolygons.push_back(
            {northCoordinates + j, gridCoordinate(1, j), gridCoordinate(1, j + 1)});
    }
    for (unsigned int i = 1; i < rings; ++i)
    {
        for (unsigned int j = 0; j < columns; ++j)
        {
            const unsigned int a = ringVertex(i, j), b = ringVertex(i, j + 1),
                               c = ringVertex(i + 1, j + 1), d = ringVertex(i + 1, j);
            const unsigned int ta = gridCoordinate(i, j), tb = gridCoordinate(i, j + 1),
                               tc = gridCoordinate(i + 1, j + 1), td = gridCoordinate(i + 1, j);
            s.polygons.push_back({a, d, c});
            s.polygons.push_back({a, c, b});
            s.texturePolygons.push_back({ta, td, tc});
            s.texturePolygons.push_back({ta, tc, tb});
        }
    }
    for (unsigned int j = 0; j < columns; ++j)
    {
        s.polygons.push_back({ringVertex(rings, j), 1, ringVertex(rings, j + 1)});
        s.texturePolygons.push_back(
            {gridCoordinate(rings, j), southCoordinates + j, gridCoordinate(rings, j + 1)});
    }
    FillBenchmarkPicture(s);
    return s;
}

// The surface as a binary PLY: one vertex per texture coordinate (its position and u, v),
// the faces from the texture polygons.
bool WritePly(const OsfSurface& s, const char* path)
{
    std::vector<std::uint32_t> vertexOf(s.textureCoordinates.size(), 0);
    for (size_t p = 0; p < s.texturePolygons.size(); ++p)
        for (size_t k = 0; k < 3; ++k) vertexOf[s.texturePolygons[p][k]] = s.polygons[p][k];
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "wb"), std::fclose);
    if (!file)
        return false;
    std::fprintf(file.get(),
                 "ply\nformat binary_little_endian 1.0\nelement vertex %zu\n"
                 "property float x\nproperty float y\nproperty float z\n"
                 "property float u\nproperty float v\nelement face %zu\n"
                 "property list uchar int vertex_indices\nend_header\n",
                 s.textureCoordinates.size(), s.texturePolygons.size());
    std::vector<unsigned char> out;
    out.reserve(s.textureCoordinates.size() * 20 + s.texturePolygons.size() * 13);
    auto put = [&out](const void* p, size_t n)
    {
        out.insert(out.end(), static_cast<const unsigned char*>(p),
                   static_cast<const unsigned char*>(p) + n);
    };
    for (size_t t = 0; t < s.textureCoordinates.size(); ++t)
    {
        put(s.vertices[vertexOf[t]].data(), 12);
        put(s.textureCoordinates[t].data(), 8);
    }
    for (const auto& polygon : s.texturePolygons)
    {
        out.push_back(3);
        for (unsigned int index : polygon)
        {
            const std::int32_t i = static_cast<std::int32_t>(index);
            put(&i, 4);
        }
    }
    return std::fwrite(out.data(), 1, out.size(), file.get()) == out.size() &&
           std::fflush(file.get()) == 0;
}

// The picture as an 8-bit RGB PNG, its last row (the top of the picture) first.
bool WritePng(const OsfSurface& s, const char* path)
{
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    volatile bool ok = false;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0)
    {
        png_init_io(png, file);
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, s.textureColumns, s.textureRows, 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (std::uint32_t row = s.textureRows; row-- > 0;)
            png_write_row(png, &s.texturePixels[static_cast<size_t>(row) * s.textureColumns * 3]);
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}
// The picture with its channels turned by one place per material, so that each material's
// picture differs from the others'.
bool WriteTintedPng(OsfSurface& s, unsigned int material, const char* path)
{
    const size_t texels = s.texturePixels.size() / 3;
    std::vector<unsigned char> original = s.texturePixels;
    for (size_t t = 0; t < texels; ++t)
        for (unsigned int c = 0; c < 3; ++c)
            s.texturePixels[3 * t + c] =
                static_cast<unsigned char>(original[3 * t + (c + material) % 3] ^ (material * 37u));
    const bool written = WritePng(s, path);
    s.texturePixels.swap(original);
    return written;
}

// The sphere as OBJ text with its triangles grouped by material (by longitude sector).
bool WriteMaterialObj(OsfSurface& s, unsigned int materials, const std::string& path)
{
    const std::string stem = path.substr(0, path.size() - 4);
    const std::string base = stem.substr(stem.find_last_of('/') + 1);
    std::unique_ptr<FILE, int (*)(FILE*)> mtl(std::fopen((stem + ".mtl").c_str(), "w"), std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> obj(std::fopen(path.c_str(), "w"), std::fclose);
    if (!mtl || !obj)
        return false;
    for (unsigned int m = 1; m <= materials; ++m)
    {
        const std::string picture = base + "_" + std::to_string(m) + ".png";
        std::fprintf(mtl.get(), "newmtl m%u\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nillum 1\nmap_Kd %s\n\n",
                     m, picture.c_str());
        if (!WriteTintedPng(s, m, (stem + "_" + std::to_string(m) + ".png").c_str()))
            return false;
    }
    std::fprintf(obj.get(), "mtllib %s.mtl\n", base.c_str());
    for (const auto& v : s.vertices) std::fprintf(obj.get(), "v %.7g %.7g %.7g\n", v[0], v[1], v[2]);
    for (const auto& t : s.textureCoordinates) std::fprintf(obj.get(), "vt %.7g %.7g\n", t[0], t[1]);
    // Each triangle's material from the longitude of its texture coordinates' centre.
    std::vector<std::vector<size_t>> groups(materials);
    for (size_t p = 0; p < s.polygons.size(); ++p)
    {
        float u = 0.0f;
        for (unsigned int t : s.texturePolygons[p]) u += s.textureCoordinates[t][0] / 3.0f;
        groups[std::min<size_t>(materials - 1, static_cast<size_t>(u * materials))].push_back(p);
    }
    for (unsigned int m = 0; m < materials; ++m)
    {
        std::fprintf(obj.get(), "usemtl m%u\n", m + 1);
        for (size_t p : groups[m])
        {
            const auto& f = s.polygons[p];
            const auto& t = s.texturePolygons[p];
            std::fprintf(obj.get(), "f %u/%u %u/%u %u/%u\n", f[0] + 1, t[0] + 1, f[1] + 1, t[1] + 1,
                         f[2] + 1, t[2] + 1);
        }
    }
    return std::fflush(obj.get()) == 0 && std::ferror(obj.get()) == 0;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--obj-materials")
    {
        const int millions = std::atoi(argv[2]);
        const int materials = std::atoi(argv[3]);
        const std::string output = argv[4];
        if (millions < 1 || millions > 64 || materials < 1 || materials > 64 ||
            output.size() < 5 || output.compare(output.size() - 4, 4, ".obj") != 0)
        {
            std::fprintf(stderr, "make_sample: --obj-materials takes 1 to 64 (million triangles), "
                                 "1 to 64 materials and a name ending in .obj\n");
            return 2;
        }
        OsfSurface sphere = MakeSphere(static_cast<unsigned int>(millions));
        if (!WriteMaterialObj(sphere, static_cast<unsigned int>(materials), output))
        {
            std::fprintf(stderr, "make_sample: cannot write the sphere's files\n");
            return 1;
        }
        return 0;
    }
    if (argc >= 4 && std::string(argv[1]) == "--sphere" && (argc == 4 || argc == 6))
    {
        const int millions = std::atoi(argv[2]);
        if (millions < 1 || millions > 64)
        {
            std::fprintf(stderr, "make_sample: --sphere takes 1 to 64 (million triangles)\n");
            return 2;
        }
        const OsfSurface sphere = MakeSphere(static_cast<unsigned int>(millions));
        OsfRawOptions options;
        options.headerText = "Orvane Image View benchmark sphere";
        if (!WriteOsfFile(argv[3], EncodeRawSurface(sphere, options)) ||
            (argc == 6 && (!WritePly(sphere, argv[4]) || !WritePng(sphere, argv[5]))))
        {
            std::fprintf(stderr, "make_sample: cannot write the sphere's files\n");
            return 1;
        }
        return 0;
    }
    const bool big = argc == 3 && std::string(argv[1]) == "--big";
    if (argc != 2 && !big)
    {
        std::fprintf(stderr,
                     "usage: make_sample [--big] OUTPUT.osf\n"
                     "       make_sample --sphere MILLIONS OUTPUT.osf [OUTPUT.ply OUTPUT.png]\n"
                     "       make_sample --obj-materials MILLIONS MATERIALS OUTPUT.obj\n");
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
