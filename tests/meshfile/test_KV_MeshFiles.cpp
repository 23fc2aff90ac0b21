// Model files of other programs: exact round trips through glTF and PLY, real models nobody
// here wrote, a texture that is missing, and broken files.

#include "document/KV_DocumentCore.h"
#include "document/KV_SurfacePreparation.h"
#include "meshfile/KV_MeshExporter.h"
#include "meshfile/KV_MeshImporter.h"
#include "surface/KV_PolySurface.h"
#include "tests/support/ReportRecorder.h"
#include "tests/support/ScratchPath.h"
#include "tests/support/SurfaceFileWriter.h"

#include <gtest/gtest.h>
#include <png.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const std::string kModels = "/usr/share/assimp/models/";

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
}

bool SameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A grid of rows x cols quads (or two triangles per cell) over a bumpy height field, with
// texture coordinates at texel centres of an 8 x 4 picture and a few corners that carry a
// coordinate of their own (a seam), as scanned surfaces have.
OsfSurface Grid(bool triangles)
{
    OsfSurface s;
    const int rows = 3, cols = 4;
    for (int r = 0; r <= rows; ++r)
        for (int c = 0; c <= cols; ++c)
        {
            s.vertices.push_back(
                {0.1f * c - 0.7f, 0.3f * r + 0.01f, 0.05f * ((r * 7 + c * 3) % 5)});
            s.textureCoordinates.push_back({(c * 2 + 0.5f) / 8.0f, (r + 0.5f) / 4.0f});
        }
    s.textureCoordinates.push_back({0.9375f, 0.0625f});  // the seam's own coordinate
    const unsigned int seam = static_cast<unsigned int>(s.textureCoordinates.size() - 1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
        {
            const unsigned int a = r * (cols + 1) + c, b = a + 1, d = a + cols + 1, e = d + 1;
            unsigned int ta = a;
            if (r == 1 && c == 1)
                ta = seam;
            if (triangles)
            {
                s.polygons.push_back({a, b, e});
                s.texturePolygons.push_back({ta, b, e});
                s.polygons.push_back({a, e, d});
                s.texturePolygons.push_back({ta, e, d});
            }
            else if ((r + c) % 3 == 0)
            {
                s.polygons.push_back({a, b, e});
                s.texturePolygons.push_back({ta, b, e});
                s.polygons.push_back({a, e, d});
                s.texturePolygons.push_back({ta, e, d});
            }
            else
            {
                s.polygons.push_back({a, b, e, d});
                s.texturePolygons.push_back({ta, b, e, d});
            }
        }
    s.textureKind = 3;
    s.textureRows = 4;
    s.textureColumns = 8;
    for (unsigned int i = 0; i < 4 * 8; ++i)
        for (unsigned int k = 0; k < 3; ++k)
            s.texturePixels.push_back(static_cast<unsigned char>(i * 7 + k * 80));
    return s;
}

void ExpectSameSurface(const KV_PolySurface& a, const KV_PolySurface& b)
{
    ASSERT_EQ(a.VertexCount(), b.VertexCount());
    for (unsigned int i = 0; i < a.VertexCount(); ++i)
    {
        const KV_Vector3D& p = (*a.mpVertices)[i];
        const KV_Vector3D& q = (*b.mpVertices)[i];
        ASSERT_TRUE(SameBits(p.x, q.x) && SameBits(p.y, q.y) && SameBits(p.z, q.z))
            << "vertex " << i;
    }
    ASSERT_EQ(a.PolygonCount(), b.PolygonCount());
    ASSERT_NE(a.mpTexturePolygons, nullptr);
    ASSERT_NE(b.mpTexturePolygons, nullptr);
    for (unsigned int p = 0; p < a.PolygonCount(); ++p)
    {
        const KV_PolygonView& x = (*a.mpPolygons)[p];
        const KV_PolygonView& y = (*b.mpPolygons)[p];
        ASSERT_EQ(x.Count(), y.Count()) << "polygon " << p;
        for (unsigned int j = 0; j < x.Count(); ++j)
        {
            ASSERT_EQ(x[j], y[j]) << "polygon " << p;
            const KV_Vector2D& s = (*a.mpTextureCoordinates)[(*a.mpTexturePolygons)[p][j]];
            const KV_Vector2D& t = (*b.mpTextureCoordinates)[(*b.mpTexturePolygons)[p][j]];
            ASSERT_TRUE(SameBits(s.u, t.u) && SameBits(s.v, t.v))
                << "polygon " << p << " corner " << j;
        }
    }
    ASSERT_TRUE(a.HasTextureMap() && b.HasTextureMap());
    const KV_Image<KV_RGB8>* x = a.mpTextureMap->ColourImage();
    const KV_Image<KV_RGB8>* y = b.mpTextureMap->ColourImage();
    ASSERT_TRUE(x != nullptr && y != nullptr);
    ASSERT_EQ(x->Rows(), y->Rows());
    ASSERT_EQ(x->Cols(), y->Cols());
    EXPECT_EQ(std::memcmp(x->Data(), y->Data(), sizeof(KV_RGB8) * x->Count()), 0);
}

struct RoundTrip
{
    const char* format;
    bool triangles;  // glTF holds triangles only
};

class ExactRoundTrip : public ::testing::TestWithParam<RoundTrip>
{
};

}  // namespace

// .osf -> FORMAT -> .osf: the same vertices, polygons, per-corner coordinates and pixels, bit
// for bit.
TEST_P(ExactRoundTrip, SurfaceFileThroughFormatAndBack)
{
    const RoundTrip& trip = GetParam();
    const std::string original = TestScratchPath("grid.osf");
    WriteBytes(original, EncodeRawSurface(Grid(trip.triangles)));
    KV_PolySurface a;
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(original.c_str(), a, report));

    const std::string middle = TestScratchPath(std::string("grid.") + trip.format);
    std::string error;
    ASSERT_TRUE(KV_MeshExporter::Write(a, middle, KV_MeshExporter::FormatOfPath(middle), error))
        << error;
    KV_PolySurface b;
    ASSERT_TRUE(KV_ReadSurfaceFile(middle.c_str(), b, report)) << report.mkLoadFailure.c_str();
    EXPECT_EQ(report.meEncoding, KV_SurfaceEncoding::Imported);

    const std::string back = TestScratchPath("back.osf");
    ASSERT_TRUE(KV_MeshExporter::Write(b, back, KV_MeshFormat::Osf, error)) << error;
    KV_PolySurface c;
    ASSERT_TRUE(KV_ReadSurfaceFile(back.c_str(), c, report));
    EXPECT_EQ(report.meEncoding, KV_SurfaceEncoding::Raw);
    EXPECT_EQ(report.meChecksum, KV_ChecksumState::Matched);
    ExpectSameSurface(a, c);
    // Triangles stay one flat run through every reader; a mixed grid cannot be one.
    for (const KV_PolySurface* s : {&a, &b, &c})
    {
        EXPECT_EQ(s->mpPolygons->IsFlat(), trip.triangles);
        EXPECT_EQ(s->mpTexturePolygons->IsFlat(), trip.triangles);
    }
    // The texture coordinate lists too, since every coordinate of the grid is used once at
    // its vertex before any seam.
    ASSERT_EQ(a.mpTextureCoordinates->Count(), c.mpTextureCoordinates->Count());
}

INSTANTIATE_TEST_SUITE_P(Formats, ExactRoundTrip,
                         ::testing::Values(RoundTrip{"glb", true}, RoundTrip{"gltf", true},
                                           RoundTrip{"ply", false}, RoundTrip{"ply", true}),
                         [](const ::testing::TestParamInfo<RoundTrip>& info) {
                             return std::string(info.param.format) +
                                    (info.param.triangles ? "Triangles" : "Polygons");
                         });

TEST(MeshExport, OsfRefusesWhatTheEncodingCannotHold)
{
    KV_PolySurface surface;
    KV_SurfaceReadReport report;
    const std::string original = TestScratchPath("grid.osf");
    WriteBytes(original, EncodeRawSurface(Grid(false)));
    ASSERT_TRUE(KV_ReadSurfaceFile(original.c_str(), surface, report));
    KV_PolygonRef big = (*surface.mpPolygons)[0];
    const unsigned int first = big[0];
    big.SetCount(18);
    for (unsigned int i = 4; i < 18; ++i) big[i] = first;
    std::string error;
    const std::string out = TestScratchPath("big.osf");
    EXPECT_FALSE(KV_MeshExporter::Write(surface, out, KV_MeshFormat::Osf, error));
    EXPECT_NE(error.find("16 vertices"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(KV_MeshExporter::FormatOfPath("a/b.GLB"), KV_MeshFormat::Glb);
    EXPECT_EQ(KV_MeshExporter::FormatOfPath("a/b.wrl"), KV_MeshFormat::None);
}

// Real models from Debian's assimp-testmodels: counts as the files hold them, and the
// texture found beside the model or embedded in it.
// The sample scan through glTF and back: its coordinates below 0.5 carry bits that 1 - v in
// single precision would lose.
TEST(ExactRoundTripOfTheSample, GltfKeepsEveryCoordinateAndPixel)
{
    const std::string original = std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf";
    KV_PolySurface a;
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(original.c_str(), a, report));
    for (const char* format : {"glb", "gltf"})
    {
        SCOPED_TRACE(format);
        const std::string middle = TestScratchPath(std::string("sample.") + format);
        std::string error;
        ASSERT_TRUE(
            KV_MeshExporter::Write(a, middle, KV_MeshExporter::FormatOfPath(middle), error))
            << error;
        KV_PolySurface b;
        ASSERT_TRUE(KV_ReadSurfaceFile(middle.c_str(), b, report)) << report.mkLoadFailure.c_str();
        ExpectSameSurface(a, b);
    }
}

// A glTF model nobody here wrote, as a binary file, as JSON with its buffer beside it and with
// everything embedded: every corner lands on the same texel of its picture in all three, and
// the picture's rows are those libpng decodes from the PNG beside the JSON, top row first
// (glTF counts v from the top).
TEST(RealModels, GltfCornersLandOnTheSameTexels)
{
    const std::string folder = kModels + "glTF2/";
    const std::string variants[] = {folder + "BoxTextured-glTF-Binary/BoxTextured.glb",
                                    folder + "BoxTextured-glTF/BoxTextured.gltf",
                                    folder + "BoxTextured-glTF-Embedded/BoxTextured.gltf"};
    const std::string picture = folder + "BoxTextured-glTF/CesiumLogoFlat.png";
    for (const std::string& path : variants)
        if (!fs::exists(path))
            GTEST_SKIP() << "assimp-testmodels is not installed";
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, picture.c_str()));
    png.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr));

    std::vector<std::vector<KV_Vector2D>> corners(3);
    for (int k = 0; k < 3; ++k)
    {
        SCOPED_TRACE(variants[k]);
        KV_PolySurface s;
        KV_SurfaceReadReport report;
        ASSERT_TRUE(KV_ReadSurfaceFile(variants[k].c_str(), s, report));
        ASSERT_TRUE(s.HasTextureMap());
        const KV_Image<KV_RGB8>& image = *s.mpTextureMap->ColourImage();
        ASSERT_EQ(image.Rows(), static_cast<int>(png.height));
        ASSERT_EQ(image.Cols(), static_cast<int>(png.width));
        for (int r = 0; r < image.Rows(); ++r)
            ASSERT_EQ(std::memcmp(image.Row(r), pixels.data() + std::size_t(r) * 3 * png.width,
                                  3 * png.width),
                      0)
                << "row " << r;
        for (unsigned int p = 0; p < s.PolygonCount(); ++p)
            for (unsigned int j = 0; j < (*s.mpTexturePolygons)[p].Count(); ++j)
                corners[k].push_back((*s.mpTextureCoordinates)[(*s.mpTexturePolygons)[p][j]]);
    }
    // The binary and the JSON file are read exactly; the embedded one (its buffer a data URI)
    // through the library's values, to within a rounding.
    ASSERT_FALSE(corners[0].empty());
    for (int k = 1; k < 3; ++k)
    {
        ASSERT_EQ(corners[k].size(), corners[0].size());
        for (std::size_t i = 0; i < corners[0].size(); ++i)
        {
            EXPECT_NEAR(corners[k][i].u, corners[0][i].u, k == 1 ? 0.0 : 1e-6) << "corner " << i;
            EXPECT_NEAR(corners[k][i].v, corners[0][i].v, k == 1 ? 0.0 : 1e-6) << "corner " << i;
        }
    }
}

// A copy of the text model at path in a scratch folder, its mention of the picture folder
// `named` (as "../X/") turned into a subfolder holding the .tga pictures of folder.
std::string CopyWithPicturesBeneath(const std::string& path, const std::string& folder,
                                    const std::string& named)
{
    const fs::path copy = fs::path(TestScratchPath("beneath")) / fs::path(path).filename();
    fs::create_directories(copy.parent_path() / "X");
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".tga")
            fs::copy_file(entry.path(), copy.parent_path() / "X" / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    std::string model = text.str();
    for (std::size_t at = model.find(named); at != std::string::npos; at = model.find(named, at))
        model.replace(at, named.size(), "X/");
    std::ofstream(copy) << model;
    return copy.string();
}

TEST(RealModels, CountsAndTextures)
{
    if (!fs::exists(kModels))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    struct Model
    {
        const char* path;
        unsigned int vertices, polygons;
        int columns, rows;    // 0 x 0: no texture
        const char* message;  // a report expected, or null
        bool tiled;           // coordinates outside [0, 1], which the consistency check refuses
    };
    const Model models[] = {
        {"Collada/duck.dae", 2108, 2144, 512, 512, nullptr, false},
        {"glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", 8, 12, 211, 211, nullptr, true},
        {"glTF2/BoxTextured-glTF-Embedded/BoxTextured.gltf", 8, 12, 211, 211, nullptr, true},
        {"glTF2/BoxTextured-glTF/BoxTextured.gltf", 8, 12, 211, 211, nullptr, true},
        // Three materials of one picture each, packed side by side.
        {"Collada/kwxport_test_vcolors.dae", 8, 12, 768, 256, nullptr, false},
        // Four textures repeating over their polygons: the one on most polygons is kept.
        {"OBJ/spider.obj", 722, 1368, 768, 768, "Kept .\\drkwood2.jpg (952 polygons)", true},
        {"OBJ/box.obj", 8, 6, 0, 0, nullptr, false},
        {"PLY/Wuson.ply", 2117, 3732, 0, 0, nullptr, false},
        {"PLY/cube_binary.ply", 8, 12, 0, 0, nullptr, false},
        {"STL/Spider_ascii.stl", 0, 0, 0, 0, nullptr, false},
    };
    for (const Model& model : models)
    {
        SCOPED_TRACE(model.path);
        std::string path = kModels + model.path;
        if (!fs::exists(path))
            continue;
        // The import reads only beneath the model's folder: a model naming pictures in a
        // folder beside its own ("../X/") is read from a copy that holds them beneath it.
        if (std::string(model.path) == "Collada/kwxport_test_vcolors.dae")
            path = CopyWithPicturesBeneath(path, kModels + "X", "../X/");
        ReportRecorder reports;
        KV_PolySurface surface;
        KV_SurfaceReadReport report;
        ASSERT_TRUE(KV_ReadSurfaceFile(path.c_str(), surface, report)) << report.mkLoadFailure.c_str();
        if (model.vertices != 0)
        {
            EXPECT_EQ(surface.VertexCount(), model.vertices);
            EXPECT_EQ(surface.PolygonCount(), model.polygons);
        }
        EXPECT_EQ(surface.HasTextureMap() ? surface.mpTextureMap->Cols() : 0, model.columns);
        EXPECT_EQ(surface.HasTextureMap() ? surface.mpTextureMap->Rows() : 0, model.rows);
        if (model.message == nullptr)
        {
            EXPECT_TRUE(reports.Reports().empty()) << reports.Reports()[0].text;
        }
        else
        {
            ASSERT_EQ(reports.Reports().size(), 1u) << "expected a report";
            EXPECT_NE(reports.Reports()[0].text.find(model.message), std::string::npos)
                << reports.Reports()[0].text;
        }
        KV_CompleteSurface(surface);
        if (!model.tiled)
        {
            EXPECT_TRUE(surface.CheckConsistency());
        }
        // Triangulated, every list keeps its polygons in one flat run from the file on.
        for (const KV_List<KV_Polygon>* list : {surface.mpPolygons, surface.mpTexturePolygons})
            if (list != nullptr)
            {
                EXPECT_TRUE(list->IsFlat());
                EXPECT_EQ(list->FlatCornerCount(), list->Count() != 0 ? 3u : 0u);
            }
    }
}

// The viewer imports on a loading thread while its other threads go on allocating: the child
// the library runs in must not inherit a lock one of them held (a fork of this process can,
// and under AddressSanitizer waits on its allocator's lock for ever).
TEST(RealModels, ImportsWhileAnotherThreadAllocates)
{
    const std::string path = kModels + "Collada/duck.dae";
    if (!fs::exists(path))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    ASSERT_FALSE(KV_MeshImporter::HelperProgram().empty());
    std::atomic<bool> done(false);
    std::thread busy(
        [&done]
        {
            std::vector<std::unique_ptr<char[]>> held(64);
            for (std::size_t i = 0; !done.load(std::memory_order_relaxed); ++i)
                held[i % held.size()].reset(new char[16 + (i * 7919) % 200000]);
        });
    KV_MeshImporter::SetTimeLimit(10.0);
    int read = 0;
    for (int i = 0; i < 12; ++i)
    {
        KV_PolySurface surface;
        KV_SurfaceReadReport report;
        read += KV_ReadSurfaceFile(path.c_str(), surface, report) && surface.VertexCount() == 2108;
    }
    KV_MeshImporter::SetTimeLimit(60.0);
    done = true;
    busy.join();
    EXPECT_EQ(read, 12);
}

TEST(RealModels, MissingTextureLoadsUntexturedAndNamesTheFile)
{
    const std::string source = kModels + "Collada/duck.dae";
    if (!fs::exists(source))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    const std::string model = TestScratchPath("duck.dae");
    fs::remove(TestScratchPath("DUCKcm.TGA"));
    fs::copy_file(source, model, fs::copy_options::overwrite_existing);
    ReportRecorder reports;
    KV_PolySurface surface;
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(model.c_str(), surface, report));
    EXPECT_FALSE(surface.HasTextureMap());
    EXPECT_EQ(surface.PolygonCount(), 2144u);
    ASSERT_EQ(reports.Reports().size(), 1u);
    const std::string& text = reports.Reports()[0].text;
    EXPECT_NE(text.find("duckCM.tga"), std::string::npos) << text;
    EXPECT_NE(text.find("not found"), std::string::npos) << text;
    // The places tried: the path as written, then the model's folder in any letter case.
    EXPECT_NE(text.find(fs::path(model).parent_path().string()), std::string::npos) << text;
    EXPECT_NE(text.find("any letter case"), std::string::npos) << text;

    // Found again by its name in any letter case.
    ReportRecorder quiet;
    fs::copy_file(kModels + "Collada/duckCM.tga", TestScratchPath("DUCKcm.TGA"),
                  fs::copy_options::overwrite_existing);
    ASSERT_TRUE(KV_ReadSurfaceFile(model.c_str(), surface, report));
    EXPECT_TRUE(surface.HasTextureMap());
    EXPECT_TRUE(quiet.Reports().empty());
}

// Broken files: refused with the load message and the importer's reason, the shown surface
// kept; never a crash (the sanitizer build runs these too).
TEST(BadModels, RefusedWithTheImportersReasonAndThePreviousSurfaceStays)
{
    const std::string good = TestScratchPath("good.osf");
    WriteBytes(good, EncodeRawSurface(Grid(true)));
    KV_DocumentCore document;
    ASSERT_TRUE(document.LoadSurfaceFile(good.c_str()));

    std::vector<std::pair<std::string, std::string>> files = {
        {"empty.obj", ""},
        {"faces_out_of_range.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n"},
        {"only_points.obj", "v 0 0 0\nv 1 0 0\np 1 2\n"},
        {"wrong_magic.glb", "glTX\x02\0\0\0\x20\0\0\0garbage garbage garbage!"},
        {"wrong_magic.ply", "plx\nformat ascii 1.0\nelement vertex 1\nend_header\n0 0 0\n"},
        {"faces_out_of_range.ply",
         "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
         "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
         "0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n"},
        {"not_a_model.stl", "solid x\n facet normal 0 0 1\n outer loop\n vertex 0 0"},
    };
    // Every prefix of a real glTF binary of ours, cut at a few places through its chunks.
    const std::string glb = TestScratchPath("whole.glb");
    KV_PolySurface surface;
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(good.c_str(), surface, report));
    std::string error;
    ASSERT_TRUE(KV_MeshExporter::Write(surface, glb, KV_MeshFormat::Glb, error));
    const std::vector<unsigned char> whole = ReadBytes(glb);
    for (std::size_t cut : {std::size_t(0), std::size_t(11), std::size_t(20), std::size_t(100),
                            whole.size() / 2, whole.size() - 40, whole.size() - 1})
        files.push_back({"truncated_" + std::to_string(cut) + ".glb",
                         std::string(whole.begin(), whole.begin() + static_cast<long>(cut))});

    // A PLY file found by fuzzing that crashes the library's reader: the child process that
    // runs the library dies, the program does not.
    const std::vector<unsigned char> crash =
        ReadBytes(std::string(ORVANE_SOURCE_DIR) + "/tests/meshfile/data/crashes_the_library.ply");
    ASSERT_FALSE(crash.empty());
    files.push_back({"crashes_the_library.ply", std::string(crash.begin(), crash.end())});

    for (const auto& file : files)
    {
        SCOPED_TRACE(file.first);
        const std::string path = TestScratchPath(file.first);
        WriteBytes(path, std::vector<unsigned char>(file.second.begin(), file.second.end()));
        EXPECT_FALSE(document.LoadSurfaceFile(path.c_str()));
        const std::string message = document.LastError().c_str();
        EXPECT_EQ(message.rfind("Failed to load surface file: " + path + "\n", 0), 0u) << message;
        EXPECT_GT(message.size(), ("Failed to load surface file: " + path + "\n").size())
            << message;
        EXPECT_EQ(document.GetPathName(), KV_String(good.c_str()));
    }
    // The broken models assimp-testmodels ships: none may crash; whatever loads passes the
    // same checks as a surface file and completes.
    std::vector<std::string> broken = {kModels + "glTF2/IndexOutOfRange/AllIndicesOutOfRange.gltf",
                                       kModels + "glTF2/issue_3269/texcoord_crash.gltf",
                                       kModels + "glTF2/RecursiveNodes/RecursiveNodes.gltf"};
    for (const char* name : {"empty.obj", "empty.ply", "empty.3ds", "malformed.obj",
                             "malformed2.obj", "OutOfMemory.off"})
        broken.push_back(kModels + "invalid/" + name);
    for (const std::string& name : broken)
        if (fs::exists(name))
        {
            SCOPED_TRACE(name);
            ReportRecorder quiet;
            KV_PolySurface any;
            if (KV_ReadSurfaceFile(name.c_str(), any, report))
                KV_CompleteSurface(any);
            else
                EXPECT_FALSE(report.mkLoadFailure.IsEmpty());
        }
}

// An SMD file cut inside its first node, on which the library's reader never ends: the
// import is stopped at its time limit and says so.
TEST(BadModels, AnImportThatDoesNotEndIsStopped)
{
    const std::string path =
        std::string(ORVANE_SOURCE_DIR) + "/tests/meshfile/data/hangs_the_library.smd";
    KV_MeshImporter::SetTimeLimit(1.0);
    KV_PolySurface surface;
    KV_SurfaceReadReport report;
    const bool read = KV_ReadSurfaceFile(path.c_str(), surface, report);
    KV_MeshImporter::SetTimeLimit(60.0);
    EXPECT_FALSE(read);
    EXPECT_EQ(std::string(report.mkLoadFailure.c_str()), "the import library did not finish within 1 s");
}
