#pragma once
// The figures a user checks first on a scan: what the file was (encoding, version,
// checksum), how many vertices and polygons of each corner count it holds, its texture,
// extents and area, its boundary loops (holes) with their total length, edges that more
// than two polygons share, and whether the surface passes its consistency check. The
// viewer's Surface Properties dialog and `osftool info` both show KV_SurfacePropertyLines,
// so the two always agree.

#include "document/KV_SurfacePreparation.h"
#include "math/KV_Vector3D.h"

#include <string>
#include <utility>
#include <vector>

class KV_Executor;
class KV_PolySurface;
class KV_SurfaceAppearance;

struct KV_SurfaceProperties
{
    std::string mkFile;
    KV_SurfaceReadReport mkRead;
    unsigned int munVertices = 0;
    unsigned int munTriangles = 0;  // polygons after triangulation
    unsigned int munTextureCoordinates = 0;
    unsigned int munTexturePolygons = 0;
    bool mbHasTexture = false;
    int mnTextureWidth = 0;
    int mnTextureHeight = 0;
    bool mbTextureColour = false;
    unsigned int munTextures = 0;  // pictures of the model's materials (0 or 1: the texture only)
    bool mbVertexColours = false;
    KV_Vector3D mkMinimum;
    KV_Vector3D mkMaximum;
    KV_Vector3D mkCentroid;
    double mdArea = 0.0;
    unsigned int munBoundaries = 0;
    double mdBoundaryLength = 0.0;
    unsigned int munBoundaryVertices = 0;
    unsigned int munOvershared = 0;  // edges of more than two polygons
    bool mbConsistent = false;
    std::string mkConsistencyDetail;  // the failing step's line when not consistent
};

// Measures a completed surface (KV_CompleteSurface) read with report from file. The
// consistency check's step lines are kept, not written to the error stream. Takes time
// in n log n of the polygon count (the shared edges are found by sorting). appearance is
// what a model file carried beside the surface (materials, vertex colours), or null. With an
// executor the consistency check runs beside the other measures.
KV_SurfaceProperties KV_MeasureSurface(const std::string& file, const KV_SurfaceReadReport& report,
                                       KV_PolySurface& completed,
                                       const KV_SurfaceAppearance* appearance = nullptr,
                                       KV_Executor* executor = nullptr);

// The figures as (key, value) pairs in a fixed order; numbers as %g.
std::vector<std::pair<std::string, std::string>> KV_SurfacePropertyLines(
    const KV_SurfaceProperties& properties);
