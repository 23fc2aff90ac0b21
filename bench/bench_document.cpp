// The document's load and export of a scanned-size textured surface: a grid of 1,000,000
// triangles (501 x 1001 vertices, one texture coordinate per vertex) with a 4096 x 4096
// colour texture, in a version-3 raw surface file (integrity check included).
//
// Goals: load plus completion under 3 s, export (GIF included) under 4 s. Each whole run is
// followed by a run of its stages one by one, printing each stage's time and share.
// Comparison run beside the export: the same point and index text written through a
// stream flushed after every line, as a per-line flush would write it.

#include "document/KV_DocumentCore.h"
#include "foundation/KV_Executor.h"
#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_Report.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "surface/KV_ManifoldPolySurface.h"
#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_PSO_Triangulate.h"
#include "surface/KV_PolySurface.h"
#include "tests/support/SurfaceFileWriter.h"
#include "vrml/KV_VRMLWriter.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace
{
// The program's one pool of worker threads, as the viewer hands it to each load.
KV_Executor& Pool()
{
    static KV_Executor executor;
    return executor;
}

const unsigned int kColumns = 500;  // cells across; two triangles each
const unsigned int kRows = 1000;
const unsigned int kTextureSize = 4096;

std::string ScratchDirectory()
{
    static const std::string dir = []
    {
        char name[] = "/tmp/bench_document.XXXXXX";
        const char* made = mkdtemp(name);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

std::string SurfacePath()
{
    static const std::string path = []
    {
        OsfSurface s;
        const unsigned int across = kColumns + 1, down = kRows + 1;
        s.vertices.reserve(across * down);
        s.textureCoordinates.reserve(across * down);
        for (unsigned int y = 0; y < down; ++y)
            for (unsigned int x = 0; x < across; ++x)
            {
                // A gentle wave so that the normals differ.
                const float z = 0.05f * static_cast<float>(std::sin(0.05 * x) * std::cos(0.07 * y));
                s.vertices.push_back({0.01f * x, 0.01f * y, z});
                s.textureCoordinates.push_back(
                    {static_cast<float>(x) / kColumns, static_cast<float>(y) / kRows});
            }
        s.polygons.reserve(2 * kColumns * kRows);
        for (unsigned int y = 0; y < kRows; ++y)
            for (unsigned int x = 0; x < kColumns; ++x)
            {
                const unsigned int a = y * across + x, b = a + 1, c = a + across + 1,
                                   d = a + across;
                s.polygons.push_back({a, b, c});
                s.polygons.push_back({a, c, d});
            }
        s.texturePolygons = s.polygons;
        s.textureKind = 3;
        s.textureRows = s.textureColumns = kTextureSize;
        s.texturePixels.resize(std::size_t(kTextureSize) * kTextureSize * 3);
        // Smooth colour gradients with a few thousand distinct colours, as a photograph has.
        for (unsigned int r = 0; r < kTextureSize; ++r)
            for (unsigned int c = 0; c < kTextureSize; ++c)
            {
                unsigned char* p = &s.texturePixels[(std::size_t(r) * kTextureSize + c) * 3];
                p[0] = static_cast<unsigned char>(r / 16);
                p[1] = static_cast<unsigned char>(c / 16);
                p[2] = static_cast<unsigned char>(128 + 100 * std::sin(0.001 * (r + c)));
            }
        const std::string file = ScratchDirectory() + "/grid.osf";
        WriteOsfFile(file, EncodeRawSurface(s));
        std::printf("Benchmark surface: %zu vertices, %zu triangles, %ux%u colour texture\n",
                    s.vertices.size(), s.polygons.size(), kTextureSize, kTextureSize);
        return file;
    }();
    return path;
}

KV_PolySurfaceGeometry3D& LoadedGeometry()
{
    // Completed whole here, so that no timed stage makes the lists the viewer leaves for later.
    static KV_PolySurfaceGeometry3D* geometry = []
    {
        KV_PolySurfaceGeometry3D* loaded =
            KV_DocumentCore::LoadGeometry(SurfacePath().c_str(), nullptr, &Pool());
        loaded->FinishCompletion();
        return loaded;
    }();
    return *geometry;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Times each named stage and prints the stages with their shares of the total.
class StageClock
{
public:
    template <typename F>
    void Stage(const char* name, F&& work)
    {
        const auto start = std::chrono::steady_clock::now();
        work();
        mkStages.push_back({name, Seconds(start)});
    }

    void Print(const char* title) const
    {
        double total = 0;
        for (const auto& stage : mkStages) total += stage.second;
        std::printf("%s: %.3f s\n", title, total);
        for (const auto& stage : mkStages)
            std::printf("  %-36s %8.3f s %5.1f %%\n", stage.first, stage.second,
                        100.0 * stage.second / total);
    }

private:
    std::vector<std::pair<const char*, double>> mkStages;
};

void BM_LoadAndComplete(benchmark::State& state)
{
    const std::string path = SurfacePath();
    for (auto _ : state)
    {
        KV_PolySurfaceGeometry3D* geometry = KV_DocumentCore::LoadGeometry(path.c_str(), nullptr, &Pool());
        // The whole completion: the lists the viewer makes after its first frame too.
        if (geometry != nullptr)
            geometry->FinishCompletion();
        benchmark::DoNotOptimize(geometry);
        state.PauseTiming();
        delete geometry;
        state.ResumeTiming();
    }
}

void BM_LoadStages(benchmark::State& state)
{
    const std::string path = SurfacePath();
    for (auto _ : state)
    {
        StageClock clock;
        KV_PolySurfaceGeometry3D* geometry = nullptr;
        clock.Stage("new geometry", [&] { geometry = new KV_PolySurfaceGeometry3D; });
        // As the document does it: read and complete in the geometry's own surface.
        KV_PolySurface& surface = geometry->GetSurface();
        clock.Stage("read file and check",
                    [&]
                    {
                        KV_SurfaceReadReport report;
                        KV_ReadSurfaceFile(path.c_str(), surface, report);
                    });
        clock.Stage("triangulate", [&] { KV_PSO_Triangulate(&surface).Triangulate(); });
        KV_PSO_ComputeNormals normals(&surface);
        clock.Stage("polygon normals", [&] { normals.ComputePolygonNormals(); });
        clock.Stage("refined vertex normals", [&] { normals.RefineVertexNormals(); });
        clock.Stage("extents", [&] { surface.ComputeExtents(); });
        clock.Stage("boundaries", [&] { surface.ComputeBoundaries(); });
        clock.Stage("vertex polygons", [&] { surface.ComputeVertexPolygons(); });
        clock.Stage("vertex boundaries", [&] { surface.ComputeVertexBoundaries(); });
        clock.Stage("texture coordinate vertices",
                    [&] { surface.ComputeTextureCoordinateVertices(); });
        clock.Stage("set the surface (selection, notes)",
                    [&] { geometry->SetSurface(surface, false); });
        clock.Stage("material",
                    [&] { geometry->mkMaterial = KV_DocumentCore::NewSurfaceMaterial(); });
        state.PauseTiming();
        clock.Print("Load and completion by stage");
        // Comparison: a completed local surface copied into the geometry and then released.
        StageClock comparison;
        KV_PolySurfaceGeometry3D* other = new KV_PolySurfaceGeometry3D;
        comparison.Stage("copy into a geometry", [&] { other->SetSurface(surface, false); });
        comparison.Stage("release the copied surface", [&] { delete other; });
        comparison.Print("Comparison, a local surface handed over by copy: extra");
        delete geometry;
        state.ResumeTiming();
    }
}

void BM_Export(benchmark::State& state)
{
    const KV_PolySurfaceGeometry3D& geometry = LoadedGeometry();
    const std::string path = ScratchDirectory() + "/grid.wrl";
    for (auto _ : state)
        benchmark::DoNotOptimize(KV_DocumentCore::ExportGeometry(geometry, path.c_str()));
}

void BM_ExportStages(benchmark::State& state)
{
    const KV_PolySurfaceGeometry3D& geometry = LoadedGeometry();
    const std::string path = ScratchDirectory() + "/stages.wrl";
    for (auto _ : state)
    {
        StageClock clock;
        KV_List<KV_ManifoldPolySurface> surfaces(3);
        surfaces.SetCount(1);
        clock.Stage("copy into the export list", [&] { surfaces[0] = geometry.GetSurface(); });
        // The text alone: directories in the way of the texture files make both image saves
        // fail at once (quietly), so the writer writes the whole text and no image.
        mkdir((ScratchDirectory() + "/stages.gif").c_str(), 0755);
        mkdir((ScratchDirectory() + "/stages.bmp").c_str(), 0755);
        const KV_ReportSink previous =
            SetReportSink([](const char*, const char*, KV_ReportKind) {});
        clock.Stage("VRML text and the writer's own copy",
                    [&] { KV_VRMLWriter(&surfaces).Export(path.c_str(), 0); });
        SetReportSink(previous);
        clock.Stage(
            "texture as GIF",
            [&] { surfaces[0].TextureMap().Save((ScratchDirectory() + "/image.gif").c_str()); });
        clock.Stage("release the export list", [&] { surfaces.Clear(); });
        state.PauseTiming();
        clock.Print("Export by stage");
        state.ResumeTiming();
    }
}

// Comparison: the point and index lines written through a stream with its default float
// conversion and a flush after every line.
void BM_TextFlushedPerLine(benchmark::State& state)
{
    const KV_PolySurface& s = LoadedGeometry().GetSurface();
    const std::string path = ScratchDirectory() + "/flushed.txt";
    for (auto _ : state)
    {
        std::ofstream out(path);
        for (unsigned int i = 0; i < s.VertexCount(); ++i)
        {
            const KV_Vector3D& v = (*s.mpVertices)[i];
            out << "                                                " << v.x << " " << v.y << " "
                << v.z << "," << std::endl;
        }
        for (unsigned int i = 0; i < s.PolygonCount(); ++i)
        {
            const KV_PolygonView& p = (*s.mpPolygons)[i];
            out << "                                        ";
            for (unsigned int j = 0; j < p.Count(); ++j) out << p[j] << " ";
            out << "-1," << std::endl;
        }
        for (unsigned int i = 0; i < s.mpTextureCoordinates->Count(); ++i)
        {
            const KV_Vector2D& t = (*s.mpTextureCoordinates)[i];
            out << "                                                " << t.u << " " << t.v << ","
                << std::endl;
        }
        for (unsigned int i = 0; i < s.mpTexturePolygons->Count(); ++i)
        {
            const KV_PolygonView& p = (*s.mpTexturePolygons)[i];
            out << "                                        ";
            for (unsigned int j = 0; j < p.Count(); ++j) out << p[j] << " ";
            out << "-1," << std::endl;
        }
    }
}

void Cleanup()
{
    for (const char* name :
         {"grid.osf", "grid.wrl", "grid.gif", "stages.wrl", "image.gif", "flushed.txt"})
        std::remove((ScratchDirectory() + "/" + name).c_str());
    rmdir((ScratchDirectory() + "/stages.gif").c_str());
    rmdir((ScratchDirectory() + "/stages.bmp").c_str());
    rmdir(ScratchDirectory().c_str());
}
}  // namespace

BENCHMARK(BM_LoadAndComplete)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_LoadStages)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ExportStages)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TextFlushedPerLine)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Cleanup();
    return 0;
}
