// Writes the fuzzer's seed files (fuzz/seeds) with the fixture writer: small surfaces in
// every raw version and in the container with each index width and entry kind.
// Usage: make_fuzz_seeds <directory>

#include "tests/support/SurfaceFileWriter.h"

#include <cstdio>
#include <string>

namespace
{
OsfSurface Pyramid(int textureKind, bool trianglesOnly)
{
    OsfSurface s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, 0.5f, 1}};
    s.polygons = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
    s.textureCoordinates = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.5f, 0.5f}};
    s.texturePolygons = s.polygons;
    if (trianglesOnly)
    {
        s.polygons.push_back({0, 3, 2});
        s.polygons.push_back({0, 2, 1});
    }
    else
    {
        s.polygons.push_back({0, 3, 2, 1});
    }
    s.texturePolygons = s.polygons;
    s.textureKind = textureKind;
    if (textureKind == 1 || textureKind == 3)
    {
        s.textureRows = 2;
        s.textureColumns = 2;
        for (int i = 0; i < 4 * textureKind; ++i)
            s.texturePixels.push_back(static_cast<unsigned char>(40 * i));
    }
    return s;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    auto raw = [&](const char* name, const OsfSurface& s, int version) {
        OsfRawOptions options;
        options.version = version;
        ok = WriteOsfFile(dir + "/" + name, EncodeRawSurface(s, options)) && ok;
    };
    auto container = [&](const char* name, const OsfSurface& s, const OsfContainerOptions& options) {
        ok = WriteOsfFile(dir + "/" + name, EncodeContainerSurface(s, options)) && ok;
    };
    raw("raw_v0_triangles.osf", Pyramid(3, true), 0);
    raw("raw_v1_triangles_grey.osf", Pyramid(1, true), 1);
    raw("raw_v2_quad_colour.osf", Pyramid(3, false), 2);
    raw("raw_v3_quad_colour.osf", Pyramid(3, false), 3);
    raw("raw_v3_untextured.osf", Pyramid(0, false), 3);

    OsfContainerOptions options;
    options.indexWidth = 1;
    container("container_width1_triangles.osf", Pyramid(3, true), options);
    options.indexWidth = 2;
    options.skipEntries = true;
    options.unreadEntries = true;
    container("container_width2_polygons_skip_unread.osf", Pyramid(1, false), options);
    options = OsfContainerOptions();
    options.checksum = false;
    container("container_width4_quad_no_checksum.osf", Pyramid(3, false), options);
    if (!ok)
        std::fprintf(stderr, "could not write every seed into %s\n", dir.c_str());
    return ok ? 0 : 1;
}
