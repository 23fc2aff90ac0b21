// The appearance table the importer fills beside the surface: every textured material's
// picture and polygons (real models of several pictures), vertex colours and the file's
// normals, the same from our own readers as from the library's path through its helper
// process; and files that declare more than they hold, refused at once with a reason.

#include "document/KV_SurfacePreparation.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_ObjReader.h"
#include "meshfile/KV_PlyReader.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceAppearance.h"
#include "tests/meshfile/AppearanceExpect.h"
#include "tests/support/ReportRecorder.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const std::string kModels = "/usr/share/assimp/models/";

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Imported
{
    bool read = false;
    std::string reason;
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
};

// Reads path with a table, by our own readers (direct) or by the library in its helper.
void Import(const std::string& path, bool direct, Imported& out)
{
    ReportRecorder quiet;
    KV_MeshImporter::UseDirectReaders(direct);
    KV_MeshImporter importer(out.surface, &out.appearance);
    out.read = importer.Read(path);
    out.reason = importer.Reason();
    KV_MeshImporter::UseDirectReaders(true);
}

// How many polygons use each material of the table.
std::vector<std::size_t> PolygonsPerMaterial(const KV_SurfaceAppearance& appearance)
{
    std::vector<std::size_t> counts(appearance.materials.size(), 0);
    for (std::uint32_t m : appearance.polygonMaterials)
        if (m != KV_SurfaceAppearance::kNoMaterial)
            ++counts.at(m);
    return counts;
}

struct MaterialExpectation
{
    const char* name;
    std::size_t polygons;
    int cols, rows;  // of its picture file, as its JPEG header gives them
};

struct ModelCase
{
    const char* path;
    bool direct;  // also read by our own reader, which must agree with the library
    std::vector<MaterialExpectation> materials;
};

}  // namespace

// Real models of several pictures, none of which fits the unit square (so the importer used
// to keep only one): every picture kept, each with the polygons its material covers, the one
// on most polygons as the surface's map; the same table from both paths.
TEST(ModelAppearance, EveryMaterialKeepsItsPicture)
{
    const std::vector<ModelCase> cases = {
        {"OBJ/spider.obj",
         true,
         {{"Skin", 260, 250, 250},
          {"HLeibTex", 80, 249, 250},
          {"BeinTex", 952, 768, 768},
          {"Augentex", 76, 128, 128}}},
        {"3DS/test1.3ds",
         false,
         {{"2 - Default", 24, 400, 300},
          {"1 - Default", 48, 800, 446},
          {"3 - Default", 36, 800, 608}}},
    };
    for (const ModelCase& c : cases)
    {
        SCOPED_TRACE(c.path);
        const std::string path = kModels + c.path;
        if (!fs::exists(path))
            GTEST_SKIP() << "assimp-testmodels is not installed";
        Imported library;
        Import(path, false, library);
        ASSERT_TRUE(library.read) << library.reason;
        const KV_SurfaceAppearance& table = library.appearance;
        ASSERT_EQ(table.materials.size(), c.materials.size());
        ASSERT_EQ(table.polygonMaterials.size(), library.surface.PolygonCount());
        EXPECT_EQ(table.TextureCount(), c.materials.size());
        const std::vector<std::size_t> counts = PolygonsPerMaterial(table);
        std::size_t most = 0;
        for (std::size_t m = 0; m < c.materials.size(); ++m)
        {
            SCOPED_TRACE(c.materials[m].name);
            EXPECT_EQ(table.materials[m].name, c.materials[m].name);
            EXPECT_TRUE(table.materials[m].textured);
            EXPECT_EQ(counts[m], c.materials[m].polygons);
            if (c.materials[m].polygons > c.materials[most].polygons)
                most = m;
            const KV_MultiImage* picture = table.MaterialImage(
                static_cast<std::uint32_t>(m), library.surface);
            ASSERT_NE(picture, nullptr);
            EXPECT_EQ(picture->Cols(), c.materials[m].cols);
            EXPECT_EQ(picture->Rows(), c.materials[m].rows);
        }
        // The picture on most polygons is held once, as the surface's map.
        for (std::size_t m = 0; m < c.materials.size(); ++m)
            EXPECT_EQ(table.materials[m].image == nullptr, m == most) << m;
        EXPECT_TRUE(library.surface.HasTextureMap());
        // Texture coordinates stay in each picture's own space: none was packed.
        bool outside = false;
        for (unsigned int i = 0; i < library.surface.mpTextureCoordinates->Count(); ++i)
            outside = outside || (*library.surface.mpTextureCoordinates)[i].u > 1.0f;
        EXPECT_TRUE(outside);
        EXPECT_TRUE(library.appearance.Fit(library.surface));
        if (c.direct)
        {
            Imported mine;
            Import(path, true, mine);
            ASSERT_TRUE(mine.read) << mine.reason;
            ExpectSameAppearance(mine.appearance, library.appearance, true);
            ExpectSamePicture(mine.surface.mpTextureMap, library.surface.mpTextureMap);
        }
    }
}

// Without a table the importer does what it always did: one picture, the others reported.
TEST(ModelAppearance, WithoutATableOnePictureStays)
{
    const std::string path = kModels + "OBJ/spider.obj";
    if (!fs::exists(path))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    ReportRecorder reports;
    KV_PolySurface surface;
    KV_MeshImporter importer(surface);
    ASSERT_TRUE(importer.Read(path));
    ASSERT_TRUE(surface.HasTextureMap());
    EXPECT_EQ(surface.mpTextureMap->Cols(), 768);
    ASSERT_EQ(reports.Count(), 1u);
    EXPECT_EQ(reports.Reports()[0].caption, "Textures left out");
}

namespace
{

// A vertex's colour, found by its position (whatever order the vertices come in).
struct PlacedColour
{
    float x, y, z;
    std::uint8_t rgba[4];
};

struct ColourCase
{
    const char* name;
    std::string file;  // written into the scratch folder; empty: path is a real model
    const char* path;
    bool direct;  // our own reader takes it too
    std::vector<PlacedColour> colours;  // one per vertex of the surface
};

// A glTF triangle whose COLOR_0 holds normalised unsigned bytes, and a second (uncoloured)
// primitive that shares two of its positions: its own vertex comes out white.
std::string GltfWithColours()
{
    std::string data;
    auto f32 = [&data](float v)
    {
        char b[4];
        std::memcpy(b, &v, 4);
        data.append(b, 4);
    };
    for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f}) f32(v);  // 0..36
    for (int v : {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255})          // 36..48
        data += static_cast<char>(v);
    for (float v : {1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 1.f, 1.f, 0.f}) f32(v);  // 48..84
    static const char kBase64[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < data.size(); i += 3)
    {
        const std::uint32_t n = std::uint32_t(static_cast<unsigned char>(data[i])) << 16 |
                                std::uint32_t(static_cast<unsigned char>(data[i + 1])) << 8 |
                                static_cast<unsigned char>(data[i + 2]);
        for (int k = 3; k >= 0; --k) text += kBase64[(n >> (6 * k)) & 63];
    }
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1]}],
"nodes":[{"mesh":0},{"mesh":1}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0,"COLOR_0":1}}]},
          {"primitives":[{"attributes":{"POSITION":2}}]}],
"accessors":[
 {"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]},
 {"bufferView":1,"componentType":5121,"normalized":true,"count":3,"type":"VEC4"},
 {"bufferView":2,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}],
"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36},
 {"buffer":0,"byteOffset":36,"byteLength":12},
 {"buffer":0,"byteOffset":48,"byteLength":36}],
"buffers":[{"byteLength":84,"uri":"data:application/octet-stream;base64,)" +
           text + R"("}]})";
}

// A binary PLY of three vertices, uchar colours and float normals, the third vertex at the
// first one's place (welded: the first colour wins, and its normal differs).
std::string PlyWithColoursAndNormals()
{
    std::string out =
        "ply\nformat binary_little_endian 1.0\nelement vertex 4\nproperty float x\n"
        "property float y\nproperty float z\nproperty uchar red\nproperty uchar green\n"
        "property uchar blue\nproperty float nx\nproperty float ny\nproperty float nz\n"
        "element face 2\nproperty list uchar int vertex_indices\nend_header\n";
    auto f32 = [&out](float v)
    {
        char b[4];
        std::memcpy(b, &v, 4);
        out.append(b, 4);
    };
    const float xyz[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}};
    const unsigned char rgb[4][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {1, 2, 3}};
    const float n[4][3] = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {1, 0, 0}};
    for (int i = 0; i < 4; ++i)
    {
        for (float v : xyz[i]) f32(v);
        out.append(reinterpret_cast<const char*>(rgb[i]), 3);
        for (float v : n[i]) f32(v);
    }
    const std::int32_t faces[2][3] = {{0, 1, 2}, {3, 2, 1}};
    for (const auto& face : faces)
    {
        out += '\3';
        out.append(reinterpret_cast<const char*>(face), sizeof face);
    }
    return out;
}

}  // namespace

// Colours per vertex from PLY (bytes and floats), OBJ (v x y z r g b) and glTF (COLOR_0),
// welded vertices keeping their first colour; the same from both paths.
TEST(ModelAppearance, VertexColours)
{
    const std::vector<ColourCase> cases = {
        {"float_ply", "", "PLY/float-color.ply", false,
         {{0, 0, 0, {0, 0, 255, 255}}, {100, 0, 0, {0, 0, 255, 255}},
          {200, 200, 0, {0, 0, 255, 255}}}},
        {"obj", "v 0 0 0 1 0 0\nv 1 0 0 0 1 0\nv 0 1 0 0 0 0.5\nv 0 0 0 0.2 0.2 0.2\nf 1 2 3\n"
                "f 4 3 2\n",
         "colours.obj", true,
         {{0, 0, 0, {255, 0, 0, 255}}, {1, 0, 0, {0, 255, 0, 255}}, {0, 1, 0, {0, 0, 128, 255}}}},
        {"binary_ply", PlyWithColoursAndNormals(), "colours.ply", true,
         {{0, 0, 0, {10, 20, 30, 255}},
          {1, 0, 0, {40, 50, 60, 255}},
          {0, 1, 0, {70, 80, 90, 255}}}},
        {"gltf", GltfWithColours(), "colours.gltf", false,
         {{0, 0, 0, {255, 0, 0, 255}},
          {1, 0, 0, {0, 255, 0, 128}},
          {0, 1, 0, {0, 0, 255, 255}},
          {1, 1, 0, {255, 255, 255, 255}}}},
    };
    for (const ColourCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        std::string path = kModels + c.path;
        if (!c.file.empty())
        {
            path = TestScratchPath(c.path);
            WriteBytes(path, c.file);
        }
        else if (!fs::exists(path))
            continue;
        Imported library;
        Import(path, false, library);
        ASSERT_TRUE(library.read) << library.reason;
        const KV_PolySurface& surface = library.surface;
        ASSERT_EQ(surface.VertexCount(), c.colours.size());
        ASSERT_EQ(library.appearance.vertexColours.size(), 4 * c.colours.size());
        for (unsigned int v = 0; v < surface.VertexCount(); ++v)
        {
            const KV_Vector3D& p = (*surface.mpVertices)[v];
            const std::uint8_t* got = &library.appearance.vertexColours[4 * v];
            bool found = false;
            for (const PlacedColour& e : c.colours)
                if (e.x == p.x && e.y == p.y && e.z == p.z)
                {
                    found = true;
                    EXPECT_EQ(std::vector<std::uint8_t>(got, got + 4),
                              std::vector<std::uint8_t>(e.rgba, e.rgba + 4))
                        << "vertex at " << p.x << " " << p.y << " " << p.z;
                }
            EXPECT_TRUE(found) << "vertex " << v;
        }
        EXPECT_TRUE(library.appearance.Fit(library.surface));
        if (c.direct)
        {
            Imported mine;
            Import(path, true, mine);
            ASSERT_TRUE(mine.read) << mine.reason;
            ExpectSameAppearance(mine.appearance, library.appearance, false);
        }
    }
}

// The file's normals: hard edges (a normal per face corner) stay per corner, welded by value;
// a normal per vertex stays one per vertex; a file without normals has none (none are made).
TEST(ModelAppearance, NormalsFromTheFile)
{
    // A unit cube's six faces, each with its own normal: every corner takes its face's.
    const std::string hard =
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
        "vn 0 0 -1\nvn 0 0 1\nvn 0 -1 0\nvn 0 1 0\nvn -1 0 0\nvn 1 0 0\nvn 0 0 1\n"
        "f 1//1 4//1 3//1 2//1\nf 5//2 6//2 7//2 8//7\nf 1//3 2//3 6//3 5//3\n"
        "f 4//4 8//4 7//4 3//4\nf 1//5 5//5 8//5 4//5\nf 2//6 3//6 7//6 6//6\n";
    // A pyramid whose corners share one normal per vertex.
    const std::string smooth =
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nvn -1 -1 -1\nvn 1 0 0\nvn 0 1 0\nvn 0 0 1\n"
        "f 1//1 3//3 2//2\nf 1//1 2//2 4//4\nf 2//2 3//3 4//4\n";
    const std::string none = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const std::string hardPath = TestScratchPath("hard.obj");
    const std::string smoothPath = TestScratchPath("smooth.obj");
    const std::string nonePath = TestScratchPath("none.obj");
    WriteBytes(hardPath, hard);
    WriteBytes(smoothPath, smooth);
    WriteBytes(nonePath, none);
    for (bool direct : {true, false})
    {
        SCOPED_TRACE(direct ? "our reader" : "the library");
        Imported cube, pyramid, plain;
        Import(hardPath, direct, cube);
        Import(smoothPath, direct, pyramid);
        Import(nonePath, direct, plain);
        ASSERT_TRUE(cube.read && pyramid.read && plain.read);

        // Six distinct values (the repeated 0 0 1 welded), one per corner.
        const KV_SurfaceAppearance& a = cube.appearance;
        ASSERT_TRUE(a.HasCornerNormals());
        EXPECT_EQ(a.normals.size(), 6u);
        ASSERT_EQ(a.cornerNormals.size(), 24u);
        EXPECT_TRUE(cube.appearance.Fit(cube.surface));
        const KV_List<KV_Polygon>& polygons = *cube.surface.mpPolygons;
        std::size_t corner = 0;
        for (unsigned int p = 0; p < polygons.Count(); ++p)
        {
            // Every corner of a face takes the face's own normal, which points along the
            // face's plane normal (from its positions, independent of the file's order).
            const KV_Vector3D& a0 = (*cube.surface.mpVertices)[polygons[p][0]];
            const KV_Vector3D& a1 = (*cube.surface.mpVertices)[polygons[p][1]];
            const KV_Vector3D& a2 = (*cube.surface.mpVertices)[polygons[p][2]];
            const KV_Vector3D plane = CrossProduct(a1 - a0, a2 - a0);
            for (unsigned int j = 0; j < polygons[p].Count(); ++j, ++corner)
            {
                const KV_Vector3D& n = a.normals[a.cornerNormals[corner]];
                EXPECT_EQ(a.cornerNormals[corner], a.cornerNormals[corner - j]) << p;
                EXPECT_GT(n.x * plane.x + n.y * plane.y + n.z * plane.z, 0.0f) << p;
            }
        }

        const KV_SurfaceAppearance& b = pyramid.appearance;
        ASSERT_TRUE(b.HasVertexNormals());
        ASSERT_EQ(b.normals.size(), pyramid.surface.VertexCount());
        for (unsigned int v = 0; v < pyramid.surface.VertexCount(); ++v)
        {
            // The file's normal of each vertex is the direction of its own position (or
            // -1, -1, -1 at the origin).
            const KV_Vector3D& p = (*pyramid.surface.mpVertices)[v];
            const KV_Vector3D expected =
                p.x + p.y + p.z == 0.0f ? KV_Vector3D(-1, -1, -1) : p;
            EXPECT_EQ(b.normals[v].x, expected.x);
            EXPECT_EQ(b.normals[v].y, expected.y);
            EXPECT_EQ(b.normals[v].z, expected.z);
        }
        EXPECT_FALSE(plain.appearance.HasNormals());
    }
    Imported mine, library;
    Import(hardPath, true, mine);
    Import(hardPath, false, library);
    ExpectSameAppearance(mine.appearance, library.appearance, false);
}

// The same file without vn on every corner: our reader leaves it to the library (which gives
// such corners a normal of nothing), so the table is the library's.
TEST(ModelAppearance, NormalsOnSomeCornersGoToTheLibrary)
{
    const std::string path = TestScratchPath("some.obj");
    WriteBytes(path, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\nf 2 4 3\n");
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
    KV_ObjReader reader(surface, &appearance);
    EXPECT_FALSE(reader.Read(path));
    EXPECT_EQ(reader.Deferral(), "normals on some corners only");
    EXPECT_TRUE(appearance.IsEmpty());
    // Without a table the same reader takes it.
    EXPECT_TRUE(KV_ObjReader(surface).Read(path));
}

namespace
{

struct Refusal
{
    const char* name;
    std::string bytes;  // written as name; empty: a real model under kModels
    const char* reason;
};

std::string Glb(const std::string& json, const std::string& binary)
{
    std::string padded = json;
    while (padded.size() % 4 != 0) padded += ' ';
    auto u32 = [](std::uint32_t v)
    {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
        return s;
    };
    const std::uint32_t total = static_cast<std::uint32_t>(12 + 8 + padded.size() + 8 + binary.size());
    return "glTF" + u32(2) + u32(total) + u32(static_cast<std::uint32_t>(padded.size())) + "JSON" +
           padded + u32(static_cast<std::uint32_t>(binary.size())) + std::string("BIN\0", 4) +
           binary;
}

// One triangle of 36 bytes of positions and 8 of indices; its buffer declares `declared`.
std::string TriangleGlb(const std::string& declared, const std::string& count = "3")
{
    std::string binary(44, '\0');
    const float xyz[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::memcpy(&binary[0], xyz, 36);
    const std::uint16_t index[3] = {0, 1, 2};
    std::memcpy(&binary[36], index, 6);
    return Glb(R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1}]}],
"accessors":[{"bufferView":0,"componentType":5126,"count":)" +
                   count + R"(,"type":"VEC3","min":[0,0,0],"max":[1,1,0]},
{"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}],
"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":6}],
"buffers":[{"byteLength":)" +
                   declared + "}]}",
               binary);
}

const char* const kPlyHead = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                             "property float y\nproperty float z\nelement face 1\n"
                             "property list uchar int vertex_indices\n";

}  // namespace

// Files that declare more than they hold: refused before the library allocates or waits for
// anything, with a reason that says what the file claims and what it holds (never the name of
// an exception). The same files with what they declare are read.
TEST(ModelAppearance, FilesThatDeclareMoreThanTheyHoldAreRefused)
{
    std::string hangs;
    {
        std::ifstream in(std::string(ORVANE_SOURCE_DIR) +
                             "/tests/meshfile/data/hangs_the_library.ply",
                         std::ios::binary);
        hangs.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_FALSE(hangs.empty());
    // Vertices of a list the PLY reader does not take, so that the library would read it.
    const std::string binaryHead =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\n"
        "property float y\nproperty float z\nproperty list uchar float extra\nend_header\n";
    const std::vector<Refusal> refusals = {
        {"ascii_header_cut.ply", std::string(kPlyHead), "it has no end_header line"},
        {"hangs_the_library.ply", hangs, "it has no end_header line"},
        {"ascii_count_huge.ply",
         "ply\nformat ascii 1.0\nelement vertex 4000000000\nproperty float x\nproperty float y\n"
         "property float z\nend_header\n0 0 0\n1 0 0\n",
         "the file declares 4000000000 vertices but holds only 12 bytes"},
        {"ascii_data_cut.ply", std::string(kPlyHead) + "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1",
         "the file ends inside its element face (it holds fewer values than its header declares)"},
        {"binary_count_lies.ply", binaryHead + std::string(26, '\0'),
         "the file declares 3 vertices but holds only 26 bytes"},
        {"binary_list_cut.ply", binaryHead + std::string(12, '\0') + "\x05" + std::string(26, '\0'),
         "the file ends inside its element vertex"},
        {"invalid/OutOfMemory.off", "",
         "the file declares 353535235358 vertices but holds only 309 bytes"},
        {"counts_huge.off", "OFF\n3 4000000000 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
         "the file declares 4000000000 faces but holds only"},
        {"buffer_huge.glb", TriangleGlb("2000000000"),
         "buffer 0 declares 2000000000 bytes but the file's binary chunk holds only 44"},
        {"accessor_huge.glb", TriangleGlb("44", "300000000"),
         "accessor 0 declares 300000000 values but its buffer view holds only 36 bytes"},
        {"data_short.gltf",
         R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":100,)"
         R"("uri":"data:application/octet-stream;base64,AAAAAA=="}]})",
         "buffer 0 declares 100 bytes but its data holds only 4"},
        {"sparse_huge.gltf",
         R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":4,)"
         R"("uri":"data:application/octet-stream;base64,AAAAAA=="}],)"
         R"("bufferViews":[{"buffer":0,"byteLength":4}],)"
         R"("accessors":[{"componentType":5126,"count":3,"type":"VEC3","sparse":{"count":10,)"
         R"("indices":{"bufferView":0,"componentType":5121},"values":{"bufferView":0}}}]})",
         "accessor 0 declares 10 sparse values of its 3"},
    };
    for (const Refusal& r : refusals)
    {
        SCOPED_TRACE(r.name);
        std::string path = kModels + r.name;
        if (!r.bytes.empty())
        {
            path = TestScratchPath(r.name);
            WriteBytes(path, r.bytes);
        }
        else if (!fs::exists(path))
            continue;
        KV_PolySurface surface;
        KV_SurfaceAppearance appearance;
        KV_SurfaceReadReport report;
        ReportRecorder quiet;
        EXPECT_FALSE(KV_ReadSurfaceFile(path.c_str(), surface, report, &appearance));
        const std::string reason = report.mkLoadFailure.c_str();
        EXPECT_NE(reason.find(r.reason), std::string::npos) << reason;
        EXPECT_EQ(reason.find("std::"), std::string::npos) << reason;
        EXPECT_TRUE(appearance.IsEmpty());
        EXPECT_EQ(surface.VertexCount(), 0u);
    }
    // What they should have declared is read.
    const std::vector<std::pair<const char*, std::string>> whole = {
        {"whole.ply", std::string(kPlyHead) + "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n"},
        {"whole.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n"},
        {"whole.glb", TriangleGlb("44")},
    };
    for (const auto& file : whole)
    {
        SCOPED_TRACE(file.first);
        const std::string path = TestScratchPath(file.first);
        WriteBytes(path, file.second);
        KV_PolySurface surface;
        KV_SurfaceReadReport report;
        EXPECT_TRUE(KV_ReadSurfaceFile(path.c_str(), surface, report))
            << report.mkLoadFailure.c_str();
        EXPECT_EQ(surface.PolygonCount(), 1u);
    }
    // (The binary layout holds no faces: only its sizes are judged.)
    std::string reason;
    const std::string binary = TestScratchPath("whole_binary.ply");
    WriteBytes(binary, binaryHead + std::string(12, '\0') + "\x05" + std::string(46, '\0'));
    EXPECT_TRUE(KV_PlyReader::CheckDeclaredSizes(binary, reason)) << reason;
}

namespace
{

// What the import helper hands back, written here by hand: the size, then the result as
// the importer packs it (little-endian counts, texts as a length and bytes).
class HandBack
{
public:
    void U8(unsigned int v) { mkBytes += static_cast<char>(v); }
    void U32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) mkBytes += static_cast<char>(v >> (8 * i));
    }
    void F32(float v)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        U32(bits);
    }
    void Text(const std::string& text)
    {
        U32(static_cast<std::uint32_t>(text.size()));
        mkBytes += text;
    }
    void Words(const std::vector<std::uint32_t>& words)
    {
        U32(static_cast<std::uint32_t>(words.size()));
        for (std::uint32_t w : words) U32(w);
    }
    std::string Framed() const
    {
        std::string out;
        for (int i = 0; i < 8; ++i)
            out += static_cast<char>(std::uint64_t(mkBytes.size()) >> (8 * i));
        return out + mkBytes;
    }

private:
    std::string mkBytes;
};

struct TableParts
{
    std::vector<std::uint32_t> polygonMaterials = {0, KV_SurfaceAppearance::kNoMaterial};
    std::uint32_t colourBytes = 16;
    std::vector<std::uint32_t> cornerNormals = {0, 0, 0, 1, 1, 1};
    std::uint32_t normals = 2;
    bool imageOnUntextured = false;
};

// Two triangles over four vertices, untextured, and a table of one material with a 1 x 2
// picture, colours, and two normals by corner.
std::string Reply(const TableParts& t)
{
    HandBack out;
    out.U8(1);
    out.Text("");
    out.Text("obj");
    out.U32(0);
    out.U32(4);
    for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 1.f, 1.f, 0.f}) out.F32(v);
    out.U32(2);
    for (std::uint32_t c : {3u, 0u, 1u, 2u, 3u, 1u, 3u, 2u}) out.U32(c);
    out.U8(0);  // no texture of the surface's own
    out.U8(1);  // a table
    out.U32(1);
    out.Text("skin");
    out.U8(t.imageOnUntextured ? 0 : 1);
    out.U8(1);
    out.U8(3);
    out.U32(1);
    out.U32(2);
    for (int k = 0; k < 6; ++k) out.U8(static_cast<unsigned int>(40 * k));
    out.Words(t.polygonMaterials);
    out.U32(t.colourBytes);
    for (std::uint32_t k = 0; k < t.colourBytes; ++k) out.U8(k);
    out.U32(t.normals);
    for (std::uint32_t k = 0; k < 3 * t.normals; ++k) out.F32(k % 3 == 2 ? 1.0f : 0.0f);
    out.Words(t.cornerNormals);
    return out.Framed();
}

}  // namespace

// The table comes back from the helper through the checked cursor: a whole one arrives as
// sent; one whose parts do not fit the surface, and every cut of it, is refused with a
// reason and leaves nothing behind. The helper here is a script that writes prepared bytes.
TEST(ModelAppearance, TheHandBackIsCheckedBeforeItIsUsed)
{
    const std::string reply = TestScratchPath("reply.bin");
    const std::string helper = TestScratchPath("helper.sh");
    WriteBytes(helper, "#!/bin/sh\nexec cat '" + reply + "' >&3\n");
    fs::permissions(helper, fs::perms::owner_all);
    const std::string model = TestScratchPath("any.dae");
    WriteBytes(model, "not read: the helper answers for it");
    setenv("ORVANE_IMPORT_HELPER", helper.c_str(), 1);

    auto import = [&](const std::string& bytes, Imported& out)
    {
        WriteBytes(reply, bytes);
        KV_MeshImporter importer(out.surface, &out.appearance);
        out.read = importer.Read(model);
        out.reason = importer.Reason();
    };
    Imported whole;
    import(Reply(TableParts()), whole);
    ASSERT_TRUE(whole.read) << whole.reason;
    EXPECT_EQ(whole.surface.PolygonCount(), 2u);
    const KV_SurfaceAppearance& table = whole.appearance;
    ASSERT_EQ(table.materials.size(), 1u);
    EXPECT_EQ(table.materials[0].name, "skin");
    ASSERT_NE(table.materials[0].image, nullptr);
    ASSERT_EQ(table.materials[0].image->Cols(), 2);
    EXPECT_EQ(table.materials[0].image->ColourImage()->Data()[1].green, 160);
    EXPECT_EQ(table.polygonMaterials,
              (std::vector<std::uint32_t>{0, KV_SurfaceAppearance::kNoMaterial}));
    ASSERT_EQ(table.vertexColours.size(), 16u);
    EXPECT_EQ(table.vertexColours[15], 15);
    EXPECT_EQ(table.cornerNormals, (std::vector<std::uint32_t>{0, 0, 0, 1, 1, 1}));
    ASSERT_EQ(table.normals.size(), 2u);
    EXPECT_EQ(table.normals[1].z, 1.0f);

    std::vector<std::pair<const char*, TableParts>> broken(6);
    broken[0].first = "a material per polygon, one too few";
    broken[0].second.polygonMaterials = {0};
    broken[1].first = "a material past the list";
    broken[1].second.polygonMaterials = {0, 1};
    broken[2].first = "colours for three vertices";
    broken[2].second.colourBytes = 12;
    broken[3].first = "a corner's normal past the list";
    broken[3].second.cornerNormals = {0, 0, 0, 1, 1, 2};
    broken[4].first = "normals one per vertex, too few";
    broken[4].second.cornerNormals = {};
    broken[5].first = "a picture of an untextured material";
    broken[5].second.imageOnUntextured = true;
    for (const auto& b : broken)
    {
        SCOPED_TRACE(b.first);
        Imported out;
        import(Reply(b.second), out);
        EXPECT_FALSE(out.read);
        EXPECT_EQ(out.reason, "the import handed back a surface whose parts do not fit together");
        EXPECT_TRUE(out.appearance.IsEmpty());
        EXPECT_EQ(out.surface.VertexCount(), 0u);
    }
    // Every cut inside the table (the frame's size kept, so the cursor meets the end).
    const std::string bytes = Reply(TableParts());
    for (std::size_t cut = 8 + 90; cut < bytes.size(); cut += 7)
    {
        SCOPED_TRACE(cut);
        std::string shorter = bytes.substr(0, cut);
        for (int i = 0; i < 8; ++i)
            shorter[i] = static_cast<char>(std::uint64_t(cut - 8) >> (8 * i));
        Imported out;
        import(shorter, out);
        EXPECT_FALSE(out.read);
        EXPECT_EQ(out.reason, "the import ended before it handed the whole surface back");
        EXPECT_TRUE(out.appearance.IsEmpty());
    }
    unsetenv("ORVANE_IMPORT_HELPER");
}

// A glTF node turned a quarter round x and scaled twice: its normals turn with it and stay
// of unit length (the seed of the glb fuzzer, colours and normals by vertex).
TEST(ModelAppearance, NormalsTurnWithTheirNode)
{
    const std::string path =
        std::string(ORVANE_SOURCE_DIR) + "/fuzz/seeds-mesh_glb/colours_normals_rotated.glb";
    Imported library;
    Import(path, false, library);
    ASSERT_TRUE(library.read) << library.reason;
    const KV_SurfaceAppearance& table = library.appearance;
    ASSERT_TRUE(table.HasVertexNormals());
    ASSERT_EQ(table.normals.size(), 3u);
    for (const KV_Vector3D& n : table.normals)
    {
        EXPECT_NEAR(n.x, 0.0f, 1e-6);
        EXPECT_NEAR(n.y, -1.0f, 1e-6);
        EXPECT_NEAR(n.z, 0.0f, 1e-6);
    }
    // The positions turned and scaled alike: (1, 0, 0) stays on x, twice as far.
    bool found = false;
    for (unsigned int v = 0; v < library.surface.VertexCount(); ++v)
        found = found || std::fabs((*library.surface.mpVertices)[v].x - 2.0f) < 1e-6f;
    EXPECT_TRUE(found);
    ASSERT_EQ(table.vertexColours.size(), 12u);
}
