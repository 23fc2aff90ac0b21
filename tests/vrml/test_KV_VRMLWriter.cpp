#include "vrml/KV_VRMLWriter.h"

#include "image/KV_MultiImage.h"
#include "tests/image/ImageTestFiles.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace
{
std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Golden(const std::string& name)
{
    return ReadText(std::string(ORVANE_SOURCE_DIR) + "/tests/vrml/golden/" + name);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void AddVertices(KV_ManifoldPolySurface& s, const std::vector<KV_Vector3D>& vertices)
{
    KV_Ensure(s.mpVertices, 1024);
    for (const KV_Vector3D& v : vertices) s.mpVertices->Append(v);
}

void AddPolygons(KV_List<KV_Polygon>*& list, const std::vector<std::vector<unsigned int>>& polygons)
{
    KV_Ensure(list, 1024);
    for (const auto& indices : polygons)
    {
        KV_Polygon polygon;
        for (unsigned int i : indices) polygon.Append(i);
        list->Append(polygon);
    }
}

// Bottom row red, green; top row blue, white.
KV_MultiImage* TwoByTwoTexture()
{
    auto* image = new KV_Image<KV_RGB8>(2, 2);
    (*image)(0, 0) = KV_RGB8{255, 0, 0};
    (*image)(0, 1) = KV_RGB8{0, 255, 0};
    (*image)(1, 0) = KV_RGB8{0, 0, 255};
    (*image)(1, 1) = KV_RGB8{255, 255, 255};
    auto* map = new KV_MultiImage;
    map->SetImage(image);
    return map;
}

// The unit square of two triangles, textured with TwoByTwoTexture.
KV_ManifoldPolySurface TexturedSquare()
{
    KV_ManifoldPolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    AddPolygons(s.mpPolygons, {{0, 1, 2}, {0, 2, 3}});
    KV_Ensure(s.mpTextureCoordinates, 256);
    for (const KV_Vector2D& t :
         {KV_Vector2D(0, 0), KV_Vector2D(1, 0), KV_Vector2D(1, 1), KV_Vector2D(0, 1)})
        s.mpTextureCoordinates->Append(t);
    AddPolygons(s.mpTexturePolygons, {{0, 1, 2}, {0, 2, 3}});
    s.mpTextureMap = TwoByTwoTexture();
    return s;
}

// Exports surface as the only element of a list, as the document does.
bool ExportOne(const KV_ManifoldPolySurface& surface, const std::string& path, int index = 0)
{
    KV_List<KV_ManifoldPolySurface> list(3);
    list.SetCount(1);
    list[0] = surface;
    KV_VRMLWriter writer(&list);
    return writer.Export(path.c_str(), index);
}

void ExpectTexturePixels(const std::string& gifPath)
{
    const DecodedGif gif = DecodeGif(gifPath);
    ASSERT_TRUE(gif.ok) << gifPath;
    ASSERT_EQ(gif.width, 2);
    ASSERT_EQ(gif.height, 2);
    // The file holds the top row first.
    EXPECT_EQ(gif.Pixel(0, 0), (KV_RGB8{0, 0, 255}));
    EXPECT_EQ(gif.Pixel(0, 1), (KV_RGB8{255, 255, 255}));
    EXPECT_EQ(gif.Pixel(1, 0), (KV_RGB8{255, 0, 0}));
    EXPECT_EQ(gif.Pixel(1, 1), (KV_RGB8{0, 255, 0}));
}
}  // namespace

TEST(VRMLWriterGolden, SurfaceWithoutTexture)
{
    KV_ManifoldPolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0.5f}});
    AddPolygons(s.mpPolygons, {{0, 1, 2}, {2, 3, 0, 1}});
    const std::string path = TmpPath("untextured.wrl");
    ASSERT_TRUE(ExportOne(s, path));
    EXPECT_EQ(ReadText(path), Golden("untextured.wrl"));
    EXPECT_FALSE(FileExists(TmpPath("untextured.gif")));
    EXPECT_FALSE(FileExists(TmpPath("untextured.bmp")));
}

TEST(VRMLWriterGolden, SurfaceWithTextureSavesTheGifBeside)
{
    const std::string path = TmpPath("textured.wrl");
    std::remove(TmpPath("textured.bmp").c_str());
    ASSERT_TRUE(ExportOne(TexturedSquare(), path));
    EXPECT_EQ(ReadText(path), Golden("textured.wrl"));
    ExpectTexturePixels(TmpPath("textured.gif"));
    EXPECT_FALSE(FileExists(TmpPath("textured.bmp")));
}

TEST(VRMLWriterGolden, VerticesWithoutPolygonsGiveNoIndicesAndNoViewpoints)
{
    KV_ManifoldPolySurface s;  // polygon list absent: read as empty
    AddVertices(
        s,
        {{0.1f, -2.5f, 1234567.0f}, {1e-5f, 3.14159274f, 100000.0f}, {1e6f, -0.0f, 1.0f / 3.0f}});
    const std::string path = TmpPath("nopolygons.wrl");
    ASSERT_TRUE(ExportOne(s, path));
    EXPECT_EQ(ReadText(path), Golden("nopolygons.wrl"));
}

TEST(VRMLWriterGolden, OneVertexHasNoTrailingCommaAndViewpointsStandOnIt)
{
    KV_ManifoldPolySurface s;
    AddVertices(s, {{1.5f, -2.0f, 7.0f}});
    AddPolygons(s.mpPolygons, {{0, 0, 0}});
    const std::string path = TmpPath("onevertex.wrl");
    ASSERT_TRUE(ExportOne(s, path));
    EXPECT_EQ(ReadText(path), Golden("onevertex.wrl"));
}

TEST(VRMLWriter, FirstViewpointOfTheTwoUnitCube)
{
    KV_ManifoldPolySurface s;
    AddVertices(s, {{0, 0, 0}, {2, 2, 2}, {2, 0, 1}});
    AddPolygons(s.mpPolygons, {{0, 1, 2}});
    const std::string path = TmpPath("cube.wrl");
    ASSERT_TRUE(ExportOne(s, path));
    const std::vector<std::string> lines = Lines(ReadText(path));
    size_t at = 0;
    while (at < lines.size() && lines[at] != "DEF Halcyne_Camera_Front Viewpoint {") ++at;
    ASSERT_LT(at + 5, lines.size());
    EXPECT_EQ(lines[at + 1], "        position 1 1 6");
    EXPECT_EQ(lines[at + 2], "        orientation 0 0 0 3.14159");
    EXPECT_EQ(lines[at + 3], "        fieldOfView 0.5");
    EXPECT_EQ(lines[at + 4], "        description \"Halcyne Front\"");
    EXPECT_EQ(lines[at + 5], "}");
    // The centre is the box's, not the centroid's (which is (4/3, 2/3, 1)).
    EXPECT_EQ(lines[at + 7], "        position 1 1 -4");
}

TEST(VRMLWriter, NameWithoutDotGetsGifAppended)
{
    const std::string path = TmpPath("world");
    ASSERT_TRUE(ExportOne(TexturedSquare(), path));
    const std::string text = ReadText(path);
    EXPECT_NE(text.find("\n                                        url \"world.gif\"\n"),
              std::string::npos);
    ExpectTexturePixels(TmpPath("world.gif"));
}

TEST(VRMLWriter, DotInADirectoryIsNoExtension)
{
    const std::string dir = TmpPath("dir.withdot");
    mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/scene";
    ASSERT_TRUE(ExportOne(TexturedSquare(), path));
    EXPECT_NE(ReadText(path).find("url \"scene.gif\""), std::string::npos);
    ExpectTexturePixels(dir + "/scene.gif");
}

TEST(VRMLWriter, UnwritableGifFallsBackToBmpButKeepsTheGifUrl)
{
    // A directory of the GIF's name keeps the GIF from being written.
    const std::string blocker = TmpPath("blocked.gif");
    mkdir(blocker.c_str(), 0755);
    const std::string path = TmpPath("blocked.wrl");
    ReportRecorder reports;
    ASSERT_TRUE(ExportOne(TexturedSquare(), path));
    EXPECT_NE(ReadText(path).find("url \"blocked.gif\""), std::string::npos);
    ASSERT_GE(reports.Count(), 1u);
    EXPECT_EQ(reports.Reports()[0].text, "MultiImage Error");

    const std::vector<unsigned char> bmp = ReadBytes(TmpPath("blocked.bmp"));
    ASSERT_EQ(bmp.size(), 70u);  // 54 header bytes, two rows of 6 pixel bytes and 2 pad bytes
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    // Bottom row first, blue-green-red: red then green.
    EXPECT_EQ(bmp[54], 0);
    EXPECT_EQ(bmp[55], 0);
    EXPECT_EQ(bmp[56], 255);
    EXPECT_EQ(bmp[57], 0);
    EXPECT_EQ(bmp[58], 255);
    EXPECT_EQ(bmp[59], 0);
}

TEST(VRMLWriter, TextureWithoutCoordinatesGivesEmptyPointList)
{
    KV_ManifoldPolySurface s = TexturedSquare();
    KV_Release(s.mpTextureCoordinates);
    KV_Release(s.mpTexturePolygons);
    const std::string path = TmpPath("nocoords.wrl");
    ASSERT_TRUE(ExportOne(s, path));
    const std::string text = ReadText(path);
    const std::string i4(32, ' '), i5(40, ' ');
    EXPECT_NE(text.find(i4 + "texCoord TextureCoordinate {\n" + i5 + "point [\n" + i5 + "]\n" + i4 +
                        "}\n" + i4 + "texCoordIndex [\n" + i4 + "]\n"),
              std::string::npos);
}

TEST(VRMLWriter, IndexOutsideTheListWritesNothing)
{
    const std::string path = TmpPath("index.wrl");
    std::remove(path.c_str());
    EXPECT_FALSE(ExportOne(TexturedSquare(), path, 1));
    EXPECT_FALSE(ExportOne(TexturedSquare(), path, -1));
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(FileExists(TmpPath("index.gif")));

    KV_VRMLWriter writer(nullptr);
    EXPECT_FALSE(writer.Export(path.c_str(), 0));
    EXPECT_FALSE(FileExists(path));
}

TEST(VRMLWriter, UnopenableFileFails)
{
    EXPECT_FALSE(ExportOne(TexturedSquare(), TmpPath("no-such-directory/out.wrl")));
}

TEST(VRMLWriter, FullDiskIsAFailure)
{
    if (!FileExists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    KV_ManifoldPolySurface s;
    AddVertices(s, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
    AddPolygons(s.mpPolygons, {{0, 1, 2}});
    EXPECT_FALSE(ExportOne(s, "/dev/full"));
}

TEST(VRMLWriter, RealNumbersAreWrittenAsPercentG)
{
    const std::vector<float> values = {
        0.0f,         1.0f,     -1.0f,       0.5f,      123456.0f, 1234567.0f,
        999999.5f,    0.0001f,  0.00001f,    1e-7f,     1e20f,     -3.4028235e38f,
        1.17549e-38f, 1.4e-45f, 2.0f / 3.0f, 0.999999f, 9.999995f, 65536.0f};
    KV_ManifoldPolySurface s;
    for (float v : values) AddVertices(s, {{v, -v, v * 3.0f}});
    const std::string path = TmpPath("numbers.wrl");
    ASSERT_TRUE(ExportOne(s, path));
    const std::vector<std::string> lines = Lines(ReadText(path));
    ASSERT_GT(lines.size(), 12 + values.size());
    for (size_t i = 0; i < values.size(); ++i)
    {
        char expected[128];
        std::snprintf(expected, sizeof expected, "%s%g %g %g%s", std::string(48, ' ').c_str(),
                      static_cast<double>(values[i]), static_cast<double>(-values[i]),
                      static_cast<double>(values[i] * 3.0f), i + 1 < values.size() ? "," : "");
        EXPECT_EQ(lines[12 + i], expected);
    }
}

TEST(VRMLWriter, WriterCopiesTheSurfaceAndLeavesTheListAlone)
{
    KV_List<KV_ManifoldPolySurface> list(3);
    list.SetCount(1);
    list[0] = TexturedSquare();
    KV_VRMLWriter writer(&list);
    mkdir(TmpPath("again").c_str(), 0755);
    ASSERT_TRUE(writer.Export(TmpPath("copy.wrl").c_str(), 0));
    EXPECT_EQ(list[0].mpExtents, nullptr);  // the extents were computed on the copy only
    EXPECT_EQ(list[0].VertexCount(), 4u);
    // A second export with the same writer starts over at indent level 0.
    ASSERT_TRUE(writer.Export(TmpPath("again/copy.wrl").c_str(), 0));
    EXPECT_EQ(ReadText(TmpPath("copy.wrl")), ReadText(TmpPath("again/copy.wrl")));
}
