#include "tools/osftool_pick.h"

#include "measure/KV_SurfaceMeasures.h"
#include "measure/KV_SurfacePicker.h"
#include "render/KV_BoundingBox3D.h"
#include "render/KV_OGLTransform.h"
#include "surface/KV_PolySurface.h"
#include "tools/osftool_exit.h"
#include "tools/osftool_render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const char* kOptionsUsage =
    "[--size WxH] [--wireframe] [--flat] [--no-texture] [--background R,G,B] "
    "[--turn DEGX,DEGY]";

bool IsMeasure(const char* command)
{
    return std::strcmp(command, "measure") == 0;
}

int UsageError(const char* command)
{
    std::fprintf(stderr, "usage: osftool %s %s FILE %s\n", command, kOptionsUsage,
                 IsMeasure(command) ? "X1,Y1 X2,Y2" : "X,Y");
    return kExitUsage;
}

void PrintHelp(const char* command)
{
    std::printf("usage: osftool %s %s FILE %s\n\n", command, kOptionsUsage,
                IsMeasure(command) ? "X1,Y1 X2,Y2" : "X,Y");
    if (IsMeasure(command))
        std::printf(
            "Finds the surface points under two pixels of the picture \"osftool render\" draws\n"
            "with the same options and prints the distance between them and its x, y and z\n"
            "parts, in the units of the file's coordinates (a surface file names no unit).\n");
    else
        std::printf(
            "Finds the surface point under pixel X,Y of the picture \"osftool render\" draws\n"
            "with the same options and prints it (in the file's coordinates), its polygon's\n"
            "number (in the file's polygon order), that polygon's unit normal (from its corner\n"
            "order) and, on a textured surface, the texture coordinate there.\n");
    std::printf(
        "Pixels count from the top-left corner, X to the right, Y down. The surface is\n"
        "found as if filled, whatever --wireframe draws. No display is needed.\n\n%s\n"
        "Exit status: 0 found, 1 a pixel shows no surface, 2 FILE does not load,\n"
        "64 usage error.\n",
        OsftoolRenderOptionsHelp());
}

// "X,Y", two whole numbers.
bool ParsePixel(const char* text, int pixel[2])
{
    const char* p = text;
    for (int i = 0; i < 2; ++i)
    {
        if (*p < '0' || *p > '9')
            return false;
        char* end = nullptr;
        const long value = std::strtol(p, &end, 10);
        if (value > 1000000)
            return false;
        pixel[i] = static_cast<int>(value);
        p = end;
        if (i == 0 && *p++ != ',')
            return false;
    }
    return *p == '\0';
}

// Options and pixels: -1 when the command may go on, else the exit status.
int ReadArguments(const char* command, int argc, char** argv, OsftoolRenderOptions& options,
                  std::vector<std::array<int, 2>>& pixels)
{
    if (!OsftoolParseRenderOptions(command, argc, argv, options))
        return UsageError(command);
    if (options.help)
    {
        PrintHelp(command);
        return kExitOk;
    }
    const std::size_t wanted = IsMeasure(command) ? 3 : 2;
    if (options.positional.size() != wanted)
        return UsageError(command);
    for (std::size_t i = 1; i < wanted; ++i)
    {
        std::array<int, 2> pixel{};
        if (!ParsePixel(options.positional[i], pixel.data()))
        {
            std::fprintf(stderr, "osftool %s: '%s' is no pixel: write X,Y\n", command,
                         options.positional[i]);
            return UsageError(command);
        }
        if (pixel[0] >= options.width || pixel[1] >= options.height)
        {
            std::fprintf(stderr, "osftool %s: pixel %d,%d lies outside the %dx%d picture\n",
                         command, pixel[0], pixel[1], options.width, options.height);
            return UsageError(command);
        }
        pixels.push_back(pixel);
    }
    return -1;
}

}  // namespace

KV_PickCamera OsftoolViewCamera(const KV_PolySurface& surface, const OsftoolRenderOptions& options)
{
    // The steps and float arithmetic of the view's camera reset (KV_OGLRenderer::ResetCamera
    // and ComputeNearFar) and world turn (RotateWorld), so that a ray lands where the
    // renderer drew: the surface's vertex box, its centre six diagonals in front of the eye.
    KV_SurfaceExtents extents;
    extents.Compute(surface.mpVertices, surface.mpPolygons);
    const KV_BoundingBox3D box(extents.Minimum().x, extents.Maximum().x, extents.Minimum().y,
                               extents.Maximum().y, extents.Minimum().z, extents.Maximum().z);
    const float diagonal = box.DiagonalLength();
    const float distance = 6.0f * diagonal;
    const float height = box.mrYHi - box.mrYLo;
    const KV_Vector3D centre = box.GetCentre();
    KV_OGLTransform camera;
    camera.SetTranslation(KV_Vector3D(-centre.x, -centre.y, -box.mrZLo - distance));

    const KV_Vector3D z = camera.GetAxis(3);
    const KV_Vector3D eye = -camera.GetTranslation() * camera.GetRotation();
    float dMin = 0.0f, dMax = 0.0f;
    for (int k = 0; k < 8; ++k)
    {
        const float d = DotProduct(eye - box.Corner(k), z);
        dMin = k == 0 ? d : std::min(dMin, d);
        dMax = k == 0 ? d : std::max(dMax, d);
    }
    float nearPlane = dMin - diagonal, farPlane = dMax + diagonal;
    if (nearPlane < 0.0f)
        nearPlane = 0.5f;
    if (farPlane < 0.0f)
        farPlane = 100.0f;
    const float aspect = static_cast<float>(options.width) / static_cast<float>(options.height);
    const float fieldOfView = static_cast<float>(std::atan(height / distance) * 114.59156);

    KV_OGLTransform world;
    const KV_Vector3D turnCentre = extents.Centroid();
    if (options.turnX != 0.0f)
        world.RotateAbout(turnCentre, KV_Vector3D(1, 0, 0) * world.GetRotation(), options.turnX);
    if (options.turnY != 0.0f)
        world.RotateAbout(turnCentre, KV_Vector3D(0, 1, 0) * world.GetRotation(), options.turnY);

    KV_PickCamera result;
    std::array<double, 16> cameraMatrix{}, worldMatrix{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
        {
            // OpenGL multiplies the float matrices it is given.
            cameraMatrix[c * 4 + r] = camera.mkTransform(r + 1, c + 1);
            worldMatrix[c * 4 + r] = world.mkTransform(r + 1, c + 1);
        }
    result.mkModelView = KV_MultiplyMatrices(cameraMatrix, worldMatrix);
    result.mkProjection = KV_PerspectiveMatrix(fieldOfView, aspect, nearPlane, farPlane);
    result.mkViewport = {0, 0, options.width, options.height};
    result.mnPictureHeight = options.height;
    return result;
}

int OsftoolPickCheckArguments(const char* command, int argc, char** argv)
{
    OsftoolRenderOptions options;
    std::vector<std::array<int, 2>> pixels;
    return ReadArguments(command, argc, argv, options, pixels);
}

int OsftoolPickSurface(const char* command, const KV_PolySurface& surface, int argc, char** argv,
                       KV_Executor* executor)
{
    OsftoolRenderOptions options;
    std::vector<std::array<int, 2>> pixels;
    if (const int status = ReadArguments(command, argc, argv, options, pixels); status >= 0)
        return status;
    const KV_PickCamera camera = OsftoolViewCamera(surface, options);
    KV_SurfacePicker picker;
    if (!picker.Build(surface, executor))
    {
        std::fprintf(stderr, "osftool %s: not enough memory to search the surface\n", command);
        return kExitNoSurface;
    }
    std::vector<KV_PickHit> hits;
    for (const auto& pixel : pixels)
    {
        KV_Ray ray;
        KV_PickHit hit;
        if (!camera.RayThroughPixel(pixel[0], pixel[1], ray) || !picker.Pick(ray, hit))
        {
            std::fprintf(stderr, "no surface at %d,%d\n", pixel[0], pixel[1]);
            return kExitNoSurface;
        }
        hits.push_back(hit);
    }
    if (IsMeasure(command))
    {
        const KV_Distance distance = KV_MeasureDistance(hits[0].mkPoint, hits[1].mkPoint);
        std::printf("from: %s\nto: %s\n", KV_MeasureTriple(hits[0].mkPoint).c_str(),
                    KV_MeasureTriple(hits[1].mkPoint).c_str());
        std::printf("distance: %s\nx: %s\ny: %s\nz: %s\n",
                    KV_MeasureNumber(distance.mrLength).c_str(),
                    KV_MeasureNumber(distance.mkParts[0]).c_str(),
                    KV_MeasureNumber(distance.mkParts[1]).c_str(),
                    KV_MeasureNumber(distance.mkParts[2]).c_str());
        std::printf("unit: the file's (its coordinates carry no unit of their own)\n");
    }
    else
    {
        const KV_PickHit& hit = hits[0];
        std::printf("point: %s\npolygon: %u\nnormal: %s\n", KV_MeasureTriple(hit.mkPoint).c_str(),
                    hit.munPolygon, KV_MeasureTriple(hit.mkNormal).c_str());
        if (hit.mbHasTextureCoordinate)
            std::printf("texture coordinate: %s %s\n",
                        KV_MeasureNumber(hit.mkTextureCoordinate[0]).c_str(),
                        KV_MeasureNumber(hit.mkTextureCoordinate[1]).c_str());
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitNoSurface;
}
