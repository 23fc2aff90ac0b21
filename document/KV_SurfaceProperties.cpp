#include "document/KV_SurfaceProperties.h"

#include "foundation/KV_Executor.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_SurfaceTopology.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace
{
std::string Real(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string Point(const KV_Vector3D& p)
{
    return Real(p.x) + " " + Real(p.y) + " " + Real(p.z);
}

double Distance(const KV_Vector3D& a, const KV_Vector3D& b)
{
    const double dx = double(a.x) - b.x, dy = double(a.y) - b.y, dz = double(a.z) - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Twice the area of triangle abc, in double precision so that millions of small
// triangles add up without losing the small ones.
double TwiceArea(const KV_Vector3D& a, const KV_Vector3D& b, const KV_Vector3D& c)
{
    const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
    const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
    const double cx = uy * vz - uz * vy, cy = uz * vx - ux * vz, cz = ux * vy - uy * vx;
    return std::sqrt(cx * cx + cy * cy + cz * cz);
}

// Edges named by more than two polygons (the topology sorts every polygon edge, a slice of
// vertices at a time).
unsigned int OversharedEdges(const KV_PolySurface& surface)
{
    return static_cast<unsigned int>(KV_SurfaceTopology::OversharedEdgeCount(surface.mpPolygons));
}

// Runs the surface's consistency check with its step lines caught; returns the last line
// (the failing step's) in detail.
bool CheckQuietly(KV_PolySurface& surface, std::string& detail)
{
    std::ostringstream lines;
    std::streambuf* previous = std::cerr.rdbuf(lines.rdbuf());
    bool consistent = false;
    try
    {
        consistent = surface.CheckConsistency();
    }
    catch (...)
    {
        std::cerr.rdbuf(previous);
        throw;
    }
    std::cerr.rdbuf(previous);
    std::string text = lines.str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    detail =
        text.substr(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
    return consistent;
}
}  // namespace

KV_SurfaceProperties KV_MeasureSurface(const std::string& file, const KV_SurfaceReadReport& report,
                                       KV_PolySurface& completed,
                                       const KV_SurfaceAppearance* appearance,
                                       KV_Executor* executor)
{
    // The consistency check recomputes every list to compare: the longest step, run beside
    // the others (it only reads the surface, as they do).
    std::string detail;
    KV_Task<bool> consistency =
        KV_Spawn(executor, [&completed, &detail] { return CheckQuietly(completed, detail); });
    KV_SurfaceProperties p;
    p.mkFile = file;
    p.mkRead = report;
    p.munVertices = completed.VertexCount();
    p.munTriangles = completed.PolygonCount();
    p.munTextureCoordinates =
        completed.mpTextureCoordinates ? completed.mpTextureCoordinates->Count() : 0u;
    p.munTexturePolygons = completed.mpTexturePolygons ? completed.mpTexturePolygons->Count() : 0u;
    p.mbHasTexture = completed.HasTextureMap();
    if (p.mbHasTexture)
    {
        p.mnTextureWidth = completed.mpTextureMap->Cols();
        p.mnTextureHeight = completed.mpTextureMap->Rows();
        p.mbTextureColour = completed.mpTextureMap->IsColour();
        p.munTextures = 1;
    }
    if (appearance != nullptr)
    {
        // Counted only while the surface keeps texture data to draw the pictures with.
        if (p.mbHasTexture)
            p.munTextures = std::max<unsigned int>(
                1u, static_cast<unsigned int>(appearance->TextureCount()));
        p.mbVertexColours = appearance->HasVertexColours();
    }
    if (completed.mpExtents != nullptr)
    {
        p.mkMinimum = completed.mpExtents->Minimum();
        p.mkMaximum = completed.mpExtents->Maximum();
        p.mkCentroid = completed.mpExtents->Centroid();
    }

    const unsigned int vertexCount = completed.VertexCount();
    if (completed.mpPolygons != nullptr && completed.mpVertices != nullptr)
    {
        const KV_List<KV_Vector3D>& v = *completed.mpVertices;
        for (unsigned int i = 0; i < completed.PolygonCount(); ++i)
        {
            // A fan over the polygon: exact for the triangles completion leaves.
            const KV_PolygonView& polygon = (*completed.mpPolygons)[i];
            for (unsigned int j = 2; j < polygon.Count(); ++j)
                if (polygon[0] < vertexCount && polygon[j - 1] < vertexCount &&
                    polygon[j] < vertexCount)
                    p.mdArea += 0.5 * TwiceArea(v[polygon[0]], v[polygon[j - 1]], v[polygon[j]]);
        }
    }
    if (completed.mpBoundaries != nullptr && completed.mpVertices != nullptr)
    {
        p.munBoundaries = completed.mpBoundaries->Count();
        for (unsigned int b = 0; b < p.munBoundaries; ++b)
        {
            const KV_Boundary& loop = (*completed.mpBoundaries)[b];
            for (unsigned int k = 0; k < loop.Count(); ++k)
            {
                const unsigned int a = loop[k], c = loop[(k + 1) % loop.Count()];
                if (a < vertexCount && c < vertexCount)
                    p.mdBoundaryLength +=
                        Distance((*completed.mpVertices)[a], (*completed.mpVertices)[c]);
            }
        }
    }
    if (completed.mpVertexBoundaries != nullptr)
        for (unsigned int i = 0; i < completed.mpVertexBoundaries->Count(); ++i)
            p.munBoundaryVertices += (*completed.mpVertexBoundaries)[i] != 0;
    p.munOvershared = OversharedEdges(completed);
    p.mbConsistent = consistency.Get();
    p.mkConsistencyDetail = detail;
    if (p.mbConsistent)
        p.mkConsistencyDetail.clear();
    return p;
}

std::vector<std::pair<std::string, std::string>> KV_SurfacePropertyLines(
    const KV_SurfaceProperties& p)
{
    std::vector<std::pair<std::string, std::string>> lines;
    auto add = [&lines](const char* key, const std::string& value)
    { lines.emplace_back(key, value); };
    auto count = [](unsigned int n) { return std::to_string(n); };

    add("encoding", KV_SurfaceEncodingName(p.mkRead.meEncoding));
    if (p.mkRead.meEncoding == KV_SurfaceEncoding::Raw)
        add("version", std::to_string(p.mkRead.mnVersion));
    else if (p.mkRead.meEncoding == KV_SurfaceEncoding::Imported)
        add("format", p.mkRead.mkFormat.c_str());
    else
        add("checksum", KV_ChecksumStateName(p.mkRead.meChecksum));
    add("vertices", count(p.munVertices));
    add("polygons", count(p.mkRead.munPolygonsAsRead));
    std::string sizes;
    for (const auto& entry : p.mkRead.mkPolygonSizes)
        sizes += (sizes.empty() ? "" : ", ") + count(entry.second) + " of " + count(entry.first);
    add("polygons by corners", sizes.empty() ? "none" : sizes);
    add("triangles", count(p.munTriangles));
    add("texture coordinates", count(p.munTextureCoordinates));
    add("texture polygons", count(p.munTexturePolygons));
    add("texture", p.mbHasTexture ? std::to_string(p.mnTextureWidth) + "x" +
                                        std::to_string(p.mnTextureHeight) +
                                        (p.mbTextureColour ? " colour" : " grey")
                                  : std::string("none"));
    if (p.munTextures > 1)
        add("textures", count(p.munTextures));
    if (p.mbVertexColours)
        add("vertex colours", "yes");
    add("minimum", Point(p.mkMinimum));
    add("maximum", Point(p.mkMaximum));
    add("centroid", Point(p.mkCentroid));
    add("surface area", Real(p.mdArea));
    add("boundaries", count(p.munBoundaries));
    add("boundary length", Real(p.mdBoundaryLength));
    add("boundary vertices", count(p.munBoundaryVertices));
    add("edges of more than two polygons", count(p.munOvershared));
    add("consistency", p.mbConsistent ? std::string("consistent")
                                      : "inconsistent (" + p.mkConsistencyDetail + ")");
    return lines;
}
