#pragma once
// Fixture surfaces for the document core and osftool tests, written with the test support
// writer (independent of the readers) into the test's scratch directory.

#include "tests/support/ScratchPath.h"
#include "tests/support/SurfaceFileWriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

// A scratch directory of the running test's own, so that tests run in parallel never share a
// file.
inline std::string ScratchPath(const std::string& name)
{
    return TestScratchPath(name);
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool Exists(const std::string& path)
{
    return std::ifstream(path).good();
}

// The unit square as one quadrilateral, textured with a 2x2 colour image whose bottom row
// is red, green and top row blue, white:
//
//   3 ---- 2
//   |      |
//   0 ---- 1
inline OsfSurface TexturedSquare()
{
    OsfSurface s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    s.polygons = {{0, 1, 2, 3}};
    s.textureCoordinates = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    s.texturePolygons = {{0, 1, 2, 3}};
    s.textureKind = 3;
    s.textureRows = 2;
    s.textureColumns = 2;
    s.texturePixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    return s;
}

// The same square without texture.
inline OsfSurface PlainSquare()
{
    OsfSurface s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    s.polygons = {{0, 1, 2, 3}};
    return s;
}

// Writes surface in the raw encoding (version 3 unless told) to the scratch directory.
inline std::string WriteRaw(const std::string& name, const OsfSurface& surface, int version = 3)
{
    OsfRawOptions options;
    options.version = version;
    const std::string path = ScratchPath(name);
    WriteOsfFile(path, EncodeRawSurface(surface, options));
    return path;
}

inline std::string WriteContainer(const std::string& name, const OsfSurface& surface,
                                  bool checksum = true)
{
    OsfContainerOptions options;
    options.checksum = checksum;
    const std::string path = ScratchPath(name);
    WriteOsfFile(path, EncodeContainerSurface(surface, options));
    return path;
}
