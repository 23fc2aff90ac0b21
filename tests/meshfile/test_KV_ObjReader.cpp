// OBJ files read by KV_ObjReader against the same files read by the import library: the same
// surface (vertices, polygons, texture coordinates and polygons, pixels) and the same
// messages, on files of ours, handwritten ones and real models nobody here wrote.

#include "image/KV_PngWriter.h"
#include "meshfile/KV_MeshExporter.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_ObjReader.h"
#include "surface/KV_PolySurface.h"
#include "document/KV_SurfacePreparation.h"
#include "surface/KV_SurfaceAppearance.h"
#include "tests/meshfile/AppearanceExpect.h"
#include "tests/support/ReportRecorder.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

struct Loaded
{
    bool read = false;
    std::string reason;
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
    std::vector<std::string> messages;
};

// With table, the appearance is read too (and no pictures are packed).
void Load(const std::string& path, bool objReader, Loaded& loaded, bool table = false)
{
    KV_MeshImporter::UseDirectReaders(objReader);
    ReportRecorder reports;
    KV_MeshImporter importer(loaded.surface, table ? &loaded.appearance : nullptr);
    loaded.read = importer.Read(path);
    loaded.reason = importer.Reason();
    for (const RecordedReport& report : reports.Reports())
        loaded.messages.push_back(report.caption + ": " + report.text);
    KV_MeshImporter::UseDirectReaders(true);
}

// The library's own number reader can be one unit in the last place off the correctly
// rounded value the new reader gives; nothing else may differ.
bool Near(float a, float b)
{
    return a == b || std::nextafter(a, b) == b;
}

void ExpectSame(const Loaded& a, const Loaded& b)
{
    ASSERT_EQ(a.read, b.read) << a.reason << " / " << b.reason;
    EXPECT_EQ(a.messages, b.messages);
    ExpectSameAppearance(a.appearance, b.appearance, true);
    if (!a.read)
        return;
    const KV_PolySurface& s = a.surface;
    const KV_PolySurface& t = b.surface;
    ASSERT_EQ(s.VertexCount(), t.VertexCount());
    for (unsigned int i = 0; i < s.VertexCount(); ++i)
    {
        const KV_Vector3D& p = (*s.mpVertices)[i];
        const KV_Vector3D& q = (*t.mpVertices)[i];
        ASSERT_TRUE(Near(p.x, q.x) && Near(p.y, q.y) && Near(p.z, q.z)) << "vertex " << i;
    }
    ASSERT_EQ(s.PolygonCount(), t.PolygonCount());
    for (unsigned int p = 0; p < s.PolygonCount(); ++p)
    {
        const KV_PolygonView& x = (*s.mpPolygons)[p];
        const KV_PolygonView& y = (*t.mpPolygons)[p];
        ASSERT_EQ(x.Count(), y.Count()) << "polygon " << p;
        for (unsigned int j = 0; j < x.Count(); ++j) ASSERT_EQ(x[j], y[j]) << "polygon " << p;
    }
    ASSERT_EQ(s.HasTextureMap(), t.HasTextureMap());
    ASSERT_EQ(s.mpTextureCoordinates == nullptr, t.mpTextureCoordinates == nullptr);
    if (s.mpTextureCoordinates != nullptr)
    {
        ASSERT_EQ(s.mpTextureCoordinates->Count(), t.mpTextureCoordinates->Count());
        for (unsigned int i = 0; i < s.mpTextureCoordinates->Count(); ++i)
        {
            const KV_Vector2D& u = (*s.mpTextureCoordinates)[i];
            const KV_Vector2D& v = (*t.mpTextureCoordinates)[i];
            ASSERT_TRUE(Near(u.u, v.u) && Near(u.v, v.v)) << "coordinate " << i;
        }
        for (unsigned int p = 0; p < s.PolygonCount(); ++p)
            for (unsigned int j = 0; j < (*s.mpTexturePolygons)[p].Count(); ++j)
                ASSERT_EQ((*s.mpTexturePolygons)[p][j], (*t.mpTexturePolygons)[p][j]);
    }
    if (s.HasTextureMap())
    {
        const KV_Image<KV_RGB8>* x = s.mpTextureMap->ColourImage();
        const KV_Image<KV_RGB8>* y = t.mpTextureMap->ColourImage();
        ASSERT_TRUE(x != nullptr && y != nullptr);
        ASSERT_EQ(x->Rows(), y->Rows());
        ASSERT_EQ(x->Cols(), y->Cols());
        EXPECT_EQ(std::memcmp(x->Data(), y->Data(), sizeof(KV_RGB8) * x->Count()), 0);
    }
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void WritePicture(const std::string& path, int rows, int cols, unsigned char tint)
{
    KV_Image<KV_RGB8> image(rows, cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            image(r, c) = KV_RGB8(static_cast<unsigned char>(r * 40 + tint),
                                  static_cast<unsigned char>(c * 30), tint);
    std::string error;
    ASSERT_TRUE(KV_PngWriter::Write(image, path.c_str(), error)) << error;
}

struct ObjCase
{
    const char* name;
    const char* obj;  // the file's text; empty: name is a model of assimp-testmodels
    const char* mtl;  // written as NAME.mtl when not empty
    bool fast;        // whether the new reader reads it itself
};

const char* const kModels = "/usr/share/assimp/models/OBJ/";

// Three quads, a pentagon and a triangle in two objects and a group, indices relative and
// absolute, two textured materials whose coordinates lie in the unit square (an atlas), one
// untextured material, and faces before the first material.
const char* const kShapes = R"(mtllib NAME.mtl
v 0 0 0
v 1 0 0
v 1 1 0
v 0 1 0
v 2 0 0
v 2 1 0
v 1 0 0
vt 0 0
vt 1 0
vt 1 1
vt 0 1 0.5
vt 0.5 0.5
f 1/1 2/2 3/3 4/4
usemtl red
f -6/-5 5/2 6/3 -5/-3
o second
f 2/1 5/2 6/3 3/4 -2/-1
usemtl plain
f 1 2 4
g third
usemtl green
f 3/3 6/2 4/4 1/1
f 7/5 5/2 6/3 3/4
)";
const char* const kShapesMtl = R"(newmtl red
Kd 1 0 0
map_Kd red.png
newmtl plain
Kd 1 1 1
newmtl green
map_Kd GREEN.PNG
)";

const ObjCase kCases[] = {
    {"shapes", kShapes, kShapesMtl, true},
    {"missing_texture", kShapes, "newmtl red\nmap_Kd nowhere.png\nnewmtl green\nmap_Kd red.png\n",
     true},
    {"outside_unit_square",
     "mtllib NAME.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvt 2 0\n"
     "vt 2 2\nusemtl red\nf 1/1 2/2 3/3\nusemtl green\nf 1/1 3/3 2/2\n"
     "f 3/1 2/1 1/1\n",
     kShapesMtl, true},
    {"no_material_file",
     "mtllib absent.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nusemtl red\n"
     "f 1/1 2/1 3/1\n",
     "", true},
    {"welded_positions", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 1 0 0\nv 0 0 0\nf 4 3 5\nf 1 2 3\n", "",
     true},
    // What the library reads its own way: left to it.
    {"line", "v 0 0 0\nv 1 0 0\nv 1 1 0\nl 1 2\nf 1 2 3\n", "", false},
    {"homogeneous", "v 0 0 0 2\nv 1 0 0 2\nv 1 1 0 2\nf 1 2 3\n", "", false},
    {"index_zero", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 0 1 2\n", "", false},
    {"coordinate_index_zero", "v 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nf 1/0 2/00 3/0\n", "", false},
    {"index_out_of_range", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 4\n", "", false},
    {"relative_before_first", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf -1 -2 -4\n", "", false},
    {"object_named_twice",
     "o a\nv 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\no b\nf 1 3 2\no a\n"
     "f 2 3 1\n",
     "", false},
    {"texture_options",
     "mtllib NAME.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nusemtl red\n"
     "f 1/1 2/1 3/1\n",
     "newmtl red\nmap_Kd -s 2 2 1 red.png\n", false},
    {"diffuse_map_in_lower_case",
     "mtllib NAME.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\n"
     "usemtl red\nf 1/1 2/1 3/1\n",
     "newmtl red\nmap_kd red.png\n", false},
    {"sphere_of_the_sample", nullptr, nullptr, true},
    {"spider.obj", "", nullptr, true},
    {"box.obj", "", nullptr, true},
    {"concave_polygon.obj", "", nullptr, true},
    {"cube_usemtl.obj", "", nullptr, true},
    {"cube_mtllib_after_g.obj", "", nullptr, true},
    {"regr01.obj", "", nullptr, false},
    {"WusonOBJ.obj", "", nullptr, true},
    {"number_formats.obj", "", nullptr, true},
    {"testmixed.obj", "", nullptr, false},
    {"box_mat_with_spaces.obj", "", nullptr, false},
    {"space_in_material_name.obj", "", nullptr, false},
    {"cube_with_vertexcolors.obj", "", nullptr, true},
    {"empty_mat.obj", "", nullptr, false},
};

class SameAsTheLibrary : public ::testing::TestWithParam<ObjCase>
{
};

}  // namespace

TEST_P(SameAsTheLibrary, SameSurfaceAndMessages)
{
    const ObjCase& c = GetParam();
    std::string path;
    if (c.obj == nullptr)
    {
        // data/sample.osf written as OBJ + MTL + PNG by the exporter osftool convert uses.
        KV_PolySurface sample;
        KV_SurfaceReadReport report;
        const std::string osf = std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf";
        ASSERT_TRUE(KV_ReadSurfaceFile(osf.c_str(), sample, report));
        path = TestScratchPath("sample.obj");
        std::string error;
        ASSERT_TRUE(KV_MeshExporter::Write(sample, path, KV_MeshFormat::Obj, error)) << error;
        // Read correctly rounded, the sample comes back exactly.
        Loaded back;
        Load(path, true, back);
        ASSERT_TRUE(back.read);
        ASSERT_EQ(back.surface.PolygonCount(), sample.PolygonCount());
        for (unsigned int p = 0; p < sample.PolygonCount(); ++p)
            for (unsigned int j = 0; j < (*sample.mpPolygons)[p].Count(); ++j)
                ASSERT_EQ(std::memcmp(&(*back.surface.mpVertices)[(*back.surface.mpPolygons)[p][j]],
                                      &(*sample.mpVertices)[(*sample.mpPolygons)[p][j]], 12),
                          0)
                    << "polygon " << p;
    }
    else if (c.obj[0] == '\0')
    {
        path = std::string(kModels) + c.name;
        if (!fs::exists(path))
            GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    else
    {
        path = TestScratchPath(std::string(c.name) + ".obj");
        std::string obj = c.obj;
        for (std::size_t at; (at = obj.find("NAME")) != std::string::npos;)
            obj.replace(at, 4, c.name);
        WriteText(path, obj);
        if (c.mtl[0] != '\0')
            WriteText(TestScratchPath(std::string(c.name) + ".mtl"), c.mtl);
        WritePicture(TestScratchPath("red.png"), 4, 8, 200);
        WritePicture(TestScratchPath("green.png"), 6, 4, 60);
    }
    {
        ReportRecorder quiet;
        KV_PolySurface surface;
        KV_ObjReader reader(surface);
        EXPECT_EQ(reader.Read(path), c.fast) << reader.Deferral();
    }

    Loaded mine, library;
    Load(path, true, mine);
    Load(path, false, library);
    ExpectSame(mine, library);
    // With the table: each picture its own, colours and normals, the same from both (the
    // library's through its helper process and the hand-back).
    Loaded mineTable, libraryTable;
    Load(path, true, mineTable, true);
    Load(path, false, libraryTable, true);
    ExpectSame(mineTable, libraryTable);
    if (std::string(c.name) == "shapes")
    {
        ASSERT_TRUE(mine.surface.HasTextureMap());
        EXPECT_EQ(mine.surface.mpTextureMap->Cols(), 12);  // both pictures side by side
        EXPECT_EQ(mine.surface.PolygonCount(), 6u);
        // With the table, green (three polygons: the first face takes the last material
        // the file defines) is the map and red (two, 8 columns) has its own picture; the
        // polygons of no material or an untextured one have none. Polygons in the library's
        // order: object "third", then "second", then the first faces.
        const KV_SurfaceAppearance& table = mineTable.appearance;
        ASSERT_EQ(table.materials.size(), 2u);
        EXPECT_EQ(table.materials[0].name, "red");
        ASSERT_NE(table.materials[0].image, nullptr);
        EXPECT_EQ(table.materials[0].image->Cols(), 8);
        EXPECT_EQ(table.materials[1].name, "green");
        EXPECT_EQ(table.materials[1].image, nullptr);
        EXPECT_EQ(mineTable.surface.mpTextureMap->Cols(), 4);
        const std::uint32_t none = KV_SurfaceAppearance::kNoMaterial;
        EXPECT_EQ(table.polygonMaterials, (std::vector<std::uint32_t>{1, 1, 0, none, 1, 0}));
    }
    if (std::string(c.name) == "missing_texture")
    {
        ASSERT_EQ(mine.messages.size(), 1u);
        EXPECT_NE(mine.messages[0].find("nowhere.png"), std::string::npos) << mine.messages[0];
    }
}

INSTANTIATE_TEST_SUITE_P(ObjFiles, SameAsTheLibrary, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ObjCase>& info)
                         {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

// Every cut of an OBJ file of ours, and the file with bytes changed: never a crash (the
// sanitizer build runs this too), and the same outcome as the library's, table included.
TEST(ObjReader, CutAndDamagedFilesGiveTheLibrarysOutcome)
{
    std::string obj = kShapes;
    for (std::size_t at; (at = obj.find("NAME")) != std::string::npos;)
        obj.replace(at, 4, "damaged");
    WriteText(TestScratchPath("damaged.mtl"), kShapesMtl);
    WritePicture(TestScratchPath("red.png"), 4, 8, 200);
    WritePicture(TestScratchPath("green.png"), 6, 4, 60);
    const std::string path = TestScratchPath("damaged.obj");
    std::vector<std::string> variants;
    for (std::size_t cut = 0; cut < obj.size(); cut += 29) variants.push_back(obj.substr(0, cut));
    for (std::size_t at = 20; at < obj.size(); at += 31)
        for (char c : {'\0', '-', '/', '9'})
        {
            std::string changed = obj;
            changed[at] = c;
            variants.push_back(changed);
        }
    for (std::size_t k = 0; k < variants.size(); ++k)
    {
        SCOPED_TRACE("variant " + std::to_string(k) + ":\n" + variants[k]);
        WriteText(path, variants[k]);
        Loaded mine, library;
        Load(path, true, mine, true);
        Load(path, false, library, true);
        ExpectSame(mine, library);
    }
}
