#pragma once
// The plain data of a textured surface, ready for the fixture writer (SurfaceFileWriter.h):
// vertices, polygons, texture coordinates, texture polygons and the texture image (kind 3
// for a colour image, 1 for a grey one, 0 without an image). Absent lists give empty ones.
// Part of orvane_test_support when the surface layer is built.

#include "tests/support/SurfaceFileWriter.h"

class KV_TexturedPolySurface;

OsfSurface OsfSurfaceFrom(const KV_TexturedPolySurface& surface);
