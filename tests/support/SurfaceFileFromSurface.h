#pragma once
// The plain data of a textured surface, ready for the fixture writer (SurfaceFileWriter.h):
// vertices, polygons, texture coordinates, texture polygons and the texture image (kind 3
// for a colour image, 1 for a grey one, 0 without an image). Absent lists give empty ones.
// Library orvane_test_support_surface (built with the surface layer).

#include "tests/support/SurfaceFileWriter.h"

class KV_TexturedPolySurface;

OsfSurface OsfSurfaceFrom(const KV_TexturedPolySurface& surface);
