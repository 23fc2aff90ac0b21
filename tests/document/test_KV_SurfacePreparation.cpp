// Reading and completion with the program's executor and its stop flag: any executor gives
// the lists that none gives, bit for bit, and a flag already set makes each stage return
// without finishing.

#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_Executor.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceExtents.h"
#include "tests/render/RenderTestSurfaces.h"
#include "tests/tools/FixtureFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace
{
template <typename T>
std::vector<unsigned char> BytesOf(const KV_List<T>* list)
{
    std::vector<unsigned char> bytes;
    for (unsigned int i = 0; list != nullptr && i < list->Count(); ++i)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(&(*list)[i]);
        bytes.insert(bytes.end(), p, p + sizeof(T));
    }
    return bytes;
}

template <typename L>
std::vector<std::vector<unsigned int>> ListsOf(const KV_List<L>* lists)
{
    std::vector<std::vector<unsigned int>> v;
    for (unsigned int i = 0; lists != nullptr && i < lists->Count(); ++i)
    {
        v.emplace_back();
        for (unsigned int k = 0; k < (*lists)[i].Count(); ++k) v.back().push_back((*lists)[i][k]);
    }
    return v;
}

// Every list a read or a completion makes, and the extents, bit for bit.
void ExpectSameLists(const KV_PolySurface& a, const KV_PolySurface& b)
{
    EXPECT_EQ(BytesOf(a.mpVertices), BytesOf(b.mpVertices));
    EXPECT_EQ(ListsOf(a.mpPolygons), ListsOf(b.mpPolygons));
    EXPECT_EQ(ListsOf(a.mpTexturePolygons), ListsOf(b.mpTexturePolygons));
    EXPECT_EQ(BytesOf(a.mpTextureCoordinates), BytesOf(b.mpTextureCoordinates));
    EXPECT_EQ(BytesOf(a.mpPolygonNormals), BytesOf(b.mpPolygonNormals));
    EXPECT_EQ(BytesOf(a.mpVertexNormals), BytesOf(b.mpVertexNormals));
    EXPECT_EQ(ListsOf(a.mpBoundaries), ListsOf(b.mpBoundaries));
    EXPECT_EQ(ListsOf(a.mpVertexPolygons), ListsOf(b.mpVertexPolygons));
    EXPECT_EQ(BytesOf(a.mpVertexBoundaries), BytesOf(b.mpVertexBoundaries));
    EXPECT_EQ(BytesOf(a.mpTextureCoordinateVertices), BytesOf(b.mpTextureCoordinateVertices));
    ASSERT_EQ(a.mpExtents == nullptr, b.mpExtents == nullptr);
    if (a.mpExtents == nullptr)
        return;
    for (const auto& pick : {&KV_SurfaceExtents::Minimum, &KV_SurfaceExtents::Maximum,
                             &KV_SurfaceExtents::Centroid})
    {
        EXPECT_EQ(0, std::memcmp(&((*a.mpExtents).*pick)(), &((*b.mpExtents).*pick)(),
                                 sizeof(KV_Vector3D)));
    }
}

// A rippled textured grid of cells x cells quads with two holes and a ragged edge, one texture
// coordinate per vertex and a small picture: boundary loops, every neighbour count, and at
// 190 cells more triangles than the texture-coordinate vertices need for a piece of their own.
OsfSurface RippledGrid(unsigned int cells)
{
    OsfSurface s;
    const unsigned int side = cells + 1;
    for (unsigned int j = 0; j < side; ++j)
        for (unsigned int i = 0; i < side; ++i)
        {
            s.vertices.push_back({0.1f * i, 0.1f * j,
                                  0.3f * static_cast<float>(std::sin(0.4 * i) * std::cos(0.3 * j))});
            s.textureCoordinates.push_back(
                {static_cast<float>(i) / cells, static_cast<float>(j) / cells});
        }
    for (unsigned int j = 0; j < cells; ++j)
        for (unsigned int i = 0; i < cells; ++i)
        {
            const bool hole = (i % 7 == 3 && j % 5 == 2) || (j == cells - 1 && i % 3 == 0);
            if (hole)
                continue;
            const unsigned int a = j * side + i;
            s.polygons.push_back({a, a + 1, a + side + 1, a + side});
        }
    s.texturePolygons = s.polygons;
    s.textureKind = 3;
    s.textureRows = s.textureColumns = 4;
    s.texturePixels.assign(4 * 4 * 3, 90);
    return s;
}

// The grid's geometry as another program's model file (OBJ, read by the model importer).
std::string WriteObj(const std::string& name, const OsfSurface& surface)
{
    const std::string path = ScratchPath(name);
    std::ofstream out(path);
    for (const auto& v : surface.vertices) out << "v " << v[0] << ' ' << v[1] << ' ' << v[2] << '\n';
    for (const auto& polygon : surface.polygons)
    {
        out << 'f';
        for (unsigned int index : polygon) out << ' ' << index + 1;
        out << '\n';
    }
    return path;
}

// The surfaces of the table, as files: the bundled sample and generated grids of a few sizes
// (the smallest below the size where any work is split), raw and container encoded and as a
// model file.
std::vector<std::string> SurfaceFiles()
{
    return {ORVANE_SOURCE_DIR "/data/sample.osf", WriteRaw("grid12.osf", RippledGrid(12)),
            WriteContainer("grid70.osf", RippledGrid(70)), WriteObj("grid40.obj", RippledGrid(40)),
            WriteRaw("grid190.osf", RippledGrid(190))};
}

void Read(const std::string& path, KV_PolySurface& surface, KV_Executor* executor = nullptr)
{
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(path.c_str(), surface, report, nullptr, executor))
        << KV_SurfaceFailureReason(report).c_str();
}
}  // namespace

TEST(KV_SurfacePreparation, ExecutorsReadAndCompleteAsTheCallingThreadAlone)
{
    KV_Executor two(2), four(4);
    for (const std::string& path : SurfaceFiles())
    {
        KV_PolySurface read, whole, parts;
        Read(path, read);
        whole = read;
        KV_CompleteSurface(whole);
        parts = read;
        KV_CompleteSurfaceForDrawing(parts);
        KV_CompleteSurfaceAfterDrawing(parts);
        ExpectSameLists(whole, parts);
        // Measuring makes the same lists but no normals; any the surface had go.
        KV_PolySurface unshaded(whole);
        KV_Release(unshaded.mpPolygonNormals);
        KV_Release(unshaded.mpVertexNormals);
        for (KV_Executor* executor : {static_cast<KV_Executor*>(nullptr), &two})
        {
            KV_PolySurface measured(read);
            measured.mpVertexNormals = new KV_List<KV_Vector3D>(16);
            measured.mpVertexNormals->Append(KV_Vector3D(0, 0, 1));
            KV_CompleteSurfaceForMeasuring(measured, executor);
            ExpectSameLists(unshaded, measured);
        }
        for (KV_Executor* executor : {&two, &four})
        {
            SCOPED_TRACE(path + ", " + std::to_string(executor->ThreadCount()) + " threads");
            KV_PolySurface again;
            Read(path, again, executor);
            ExpectSameLists(read, again);
            KV_CompleteSurface(again, executor);
            ExpectSameLists(whole, again);

            KV_PolySurface split(read);
            KV_CompleteSurfaceForDrawing(split, executor);
            EXPECT_EQ(nullptr, split.mpBoundaries);
            KV_CompleteSurfaceAfterDrawing(split, nullptr, executor);
            ExpectSameLists(whole, split);
        }
    }
}

// The two parts redo extents that came with the surface and no longer fit it (as a file may
// hold them), and keep a texture seam and a coordinate no texture polygon uses, on a surface
// large enough for the texture-coordinate vertices to be a piece of their own.
TEST(KV_SurfacePreparation, TwoPartsRedoStaleExtentsAndKeepTextureSeams)
{
    KV_PolySurface stale;
    Read(WriteRaw("stale.osf", RippledGrid(40)), stale);
    stale.mpExtents = new KV_SurfaceExtents;
    stale.mpExtents->Compute(stale.mpVertices, stale.mpPolygons);
    (*stale.mpVertices)[0].z = 5.0f;
    for (const KV_PolySurface& original : {stale, TexturedSeamGrid(200, 170)})
    {
        KV_PolySurface whole(original), parts(original);
        KV_CompleteSurface(whole);
        KV_CompleteSurfaceForDrawing(parts);
        EXPECT_EQ(nullptr, parts.mpBoundaries);
        KV_CompleteSurfaceAfterDrawing(parts);
        ExpectSameLists(whole, parts);
        ASSERT_NE(nullptr, parts.mpExtents);
        EXPECT_EQ(parts.mpExtents->MaximumPolygonSize(), 3u);
    }
}

// A flag set before the call: reading gives up without a surface, and each completion part
// returns before its last lists (the quads are not even split), with or without an executor.
// What a stopped stage leaves is released with the surface (the leak checker's run).
TEST(KV_SurfacePreparation, StopFlagSetBeforehandEndsEveryStageUnfinished)
{
    const std::atomic<bool> stop{true};
    KV_Executor two(2);
    const std::string raw = WriteRaw("stopped.osf", RippledGrid(70));
    const std::string container = WriteContainer("stopped-container.osf", RippledGrid(70));
    KV_PolySurface read;
    Read(raw, read);
    const unsigned int quads = read.PolygonCount();

    for (KV_Executor* executor : {static_cast<KV_Executor*>(nullptr), &two})
    {
        SCOPED_TRACE(executor ? "executor" : "no executor");
        for (const std::string& path : {raw, container})
        {
            KV_PolySurface surface;
            KV_SurfaceReadReport report;
            EXPECT_FALSE(KV_ReadSurfaceFile(path.c_str(), surface, report, nullptr, executor, &stop));
            EXPECT_EQ(report.meRejection, KV_SurfaceRejection::Stopped);
            EXPECT_STREQ(KV_SurfaceFailureReason(report).c_str(), "reading was stopped");
        }

        const std::function<void(KV_PolySurface&)> parts[] = {
            [&](KV_PolySurface& s) { KV_CompleteSurface(s, executor, nullptr, &stop); },
            [&](KV_PolySurface& s) { KV_CompleteSurfaceForDrawing(s, executor, nullptr, &stop); }};
        for (const auto& part : parts)
        {
            KV_PolySurface surface(read);
            part(surface);
            EXPECT_EQ(surface.PolygonCount(), quads);
            EXPECT_EQ(nullptr, surface.mpVertexNormals);
            EXPECT_EQ(nullptr, surface.mpBoundaries);
            EXPECT_EQ(nullptr, surface.mpTextureCoordinateVertices);
        }

        // The second part leaves none of its four lists, not even one half made.
        KV_PolySurface drawn(read);
        KV_CompleteSurfaceForDrawing(drawn, executor);
        KV_CompleteSurfaceAfterDrawing(drawn, &stop, executor);
        EXPECT_EQ(nullptr, drawn.mpPolygonNormals);
        EXPECT_EQ(nullptr, drawn.mpBoundaries);
        EXPECT_EQ(nullptr, drawn.mpVertexPolygons);
        EXPECT_EQ(nullptr, drawn.mpVertexBoundaries);
        ASSERT_NE(nullptr, drawn.mpVertexNormals);
    }
}
