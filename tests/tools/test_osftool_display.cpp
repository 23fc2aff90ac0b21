// osftool render end to end: a fixture file loaded, completed and drawn off-screen.

#include "FixtureFiles.h"
#include "OsftoolRunner.h"
#include "image/KV_ImageReader.h"
#include "image/KV_MultiImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

TEST(OsftoolRenderDisplay, WritesThePictureOfALoadedFile)
{
    const std::string out = ScratchPath("square.png");
    const ToolRun run =
        Osftool("render --size 64x48 " + Quoted(WriteRaw("square.osf", TexturedSquare())) + " " +
                Quoted(out));
    if (run.status == 3)
        GTEST_SKIP() << "no usable X display: " << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string png = ReadText(out);
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    // The header chunk's width and height, big-endian.
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x40\0\0\0\x30", 8));
}

// A real model nobody here wrote (assimp-testmodels' duck, its texture a TGA beside it):
// drawn with its texture, most of the duck is yellow; with the texture file gone it loads
// untextured and is not.
TEST(OsftoolRenderDisplay, ImportedModelShowsItsTexture)
{
    const std::string folder = "/usr/share/assimp/models/Collada/";
    if (!Exists(folder + "duck.dae"))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    auto yellowShare = [](const std::string& png)
    {
        KV_MultiImage picture;
        std::string error;
        EXPECT_TRUE(KV_ImageReader::ReadFile(png, picture, error)) << error;
        const KV_Image<KV_RGB8>& image = picture.GetColourImage();
        int lit = 0, yellow = 0;
        for (unsigned int i = 0; i < image.Count(); ++i)
        {
            const KV_RGB8& p = image.Data()[i];
            if (p.red + p.green + p.blue < 30)
                continue;  // background
            ++lit;
            yellow += p.red > p.blue + 60 && p.green > p.blue + 40;
        }
        EXPECT_GT(lit, 500);
        return lit > 0 ? static_cast<double>(yellow) / lit : 0.0;
    };
    const std::string textured = ScratchPath("duck.png");
    const ToolRun run =
        Osftool("render --size 160x120 " + Quoted(folder + "duck.dae") + " " + Quoted(textured));
    if (run.status == 3)
        GTEST_SKIP() << "no usable X display: " << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GT(yellowShare(textured), 0.6);

    const std::string lonely = ScratchPath("duck.dae");
    std::ofstream(lonely, std::ios::binary) << ReadText(folder + "duck.dae");
    const std::string plain = ScratchPath("plain.png");
    const ToolRun untextured =
        Osftool("render --size 160x120 " + Quoted(lonely) + " " + Quoted(plain));
    ASSERT_EQ(untextured.status, 0) << untextured.err;
    EXPECT_NE(untextured.err.find("duckCM.tga"), std::string::npos) << untextured.err;
    EXPECT_LT(yellowShare(plain), 0.2);
}

// A real model whose texture coordinates are shared between corners at different vertices
// and whose materials have four pictures (assimp-testmodels' spider): drawn textured and
// untextured it covers exactly what the same triangles cover without any texture data (its
// STL conversion), seen turned so that the legs cross the body.
TEST(OsftoolRenderDisplay, SharedTextureCoordinatesDrawEveryTriangle)
{
    const std::string spider = "/usr/share/assimp/models/OBJ/spider.obj";
    if (!Exists(spider))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    const std::string stl = ScratchPath("spider.stl");
    const ToolRun converted = Osftool("convert " + Quoted(spider) + " " + Quoted(stl));
    ASSERT_EQ(converted.status, 0) << converted.err;
    auto coverage = [](const std::string& file, const std::string& options)
    {
        const std::string png = ScratchPath("spider" + options + ".png");
        const ToolRun run = Osftool("render --size 160x120 --turn 20,30 " + options + " " +
                                    Quoted(file) + " " + Quoted(png));
        EXPECT_EQ(run.status, 0) << run.err;
        KV_MultiImage picture;
        std::string error;
        std::vector<bool> covered;
        if (run.status != 0 || !KV_ImageReader::ReadFile(png, picture, error))
            return covered;
        const KV_Image<KV_RGB8>& image = picture.GetColourImage();
        for (unsigned int i = 0; i < image.Count(); ++i)
            covered.push_back(image.Data()[i].red + image.Data()[i].green + image.Data()[i].blue >
                              0);
        return covered;
    };
    const ToolRun probe =
        Osftool("render --size 8x8 " + Quoted(stl) + " " + Quoted(ScratchPath("probe.png")));
    if (probe.status == 3)
        GTEST_SKIP() << "no usable X display: " << probe.err;
    const std::vector<bool> plain = coverage(stl, "");
    ASSERT_GT(std::count(plain.begin(), plain.end(), true), 2000);
    for (const std::string options : {"", "--no-texture"})
    {
        const std::vector<bool> covered = coverage(spider, options);
        ASSERT_EQ(plain.size(), covered.size()) << options;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < plain.size(); ++i) differing += plain[i] != covered[i] ? 1 : 0;
        EXPECT_EQ(0u, differing) << options;
    }
}
