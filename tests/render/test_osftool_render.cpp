// osftool's render subcommand end to end: options, exit codes, and the PNG it writes,
// decoded again with libpng.

#include "tests/support/ScratchPath.h"
#include "RenderTestSurfaces.h"

#include "image/KV_Image.h"
#include "image/KV_PngWriter.h"
#include "tools/osftool_render.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
std::string TempPath(const char* name)
{
    return TestScratchPath(name);
}

int RunRender(const KV_PolySurface& surface, std::vector<std::string> args)
{
    args.insert(args.begin(), "render");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return OsftoolRenderSurface(surface, static_cast<int>(args.size()), argv.data());
}

// Decodes an 8-bit RGB PNG; rows top first, as the file stores them.
bool ReadPng(const std::string& path, int& width, int& height, std::vector<unsigned char>& rgb)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return false;
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return true;
}

struct Picture
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    // Pixel at column x, row y counted from the top.
    KV_RGB8 At(int x, int y) const
    {
        const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return KV_RGB8(p[0], p[1], p[2]);
    }
};

bool HaveDisplay()
{
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && display[0] != '\0';
}

// Restores DISPLAY when the test ends.
class DisplayVariable
{
public:
    DisplayVariable()
    {
        const char* value = std::getenv("DISPLAY");
        mbHad = value != nullptr;
        if (mbHad)
            mkValue = value;
    }
    ~DisplayVariable()
    {
        if (mbHad)
            setenv("DISPLAY", mkValue.c_str(), 1);
        else
            unsetenv("DISPLAY");
    }

private:
    bool mbHad = false;
    std::string mkValue;
};
}  // namespace

TEST(OsftoolRender, UsageErrorsAndHelp)
{
    const KV_PolySurface none;
    EXPECT_EQ(64, RunRender(none, {}));
    EXPECT_EQ(64, RunRender(none, {"a.osf"}));
    EXPECT_EQ(64, RunRender(none, {"a.osf", "b.png", "c"}));
    EXPECT_EQ(64, RunRender(none, {"--bogus", "a.osf", "b.png"}));
    EXPECT_EQ(64, RunRender(none, {"--size", "0x10", "a.osf", "b.png"}));
    EXPECT_EQ(64, RunRender(none, {"--size", "10x", "a.osf", "b.png"}));
    EXPECT_EQ(64, RunRender(none, {"--size=20000x10", "a.osf", "b.png"}));
    EXPECT_EQ(64, RunRender(none, {"--background", "1,2", "a.osf", "b.png"}));
    EXPECT_EQ(64, RunRender(none, {"--background", "1,2,256", "a.osf", "b.png"}));
    EXPECT_EQ(64, RunRender(none, {"--turn", "10", "a.osf", "b.png"}));
    EXPECT_EQ(64, RunRender(none, {"--turn", "nan,3", "a.osf", "b.png"}));
    EXPECT_EQ(64, RunRender(none, {"a.osf", "b.png", "--size"}));
    EXPECT_EQ(0, RunRender(none, {"--help"}));
}

TEST(OsftoolRender, FileArgumentSkipsOptionValues)
{
    std::vector<std::string> args = {"render", "--size", "64x48",  "--flat",
                                     "--turn", "1,2",    "in.osf", "out.png"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    EXPECT_EQ(6, OsftoolRenderFileArgument(static_cast<int>(argv.size()), argv.data()));
    EXPECT_EQ(-1, OsftoolRenderFileArgument(3, argv.data()));
    std::vector<std::string> dashed = {"render", "--", "-odd.osf"};
    std::vector<char*> argv2;
    for (std::string& a : dashed) argv2.push_back(&a[0]);
    EXPECT_EQ(2, OsftoolRenderFileArgument(3, argv2.data()));
}

TEST(OsftoolRender, NoDisplayExitsThree)
{
    DisplayVariable keep;
    unsetenv("DISPLAY");
    const std::string out = TempPath("never.png");
    std::remove(out.c_str());
    EXPECT_EQ(3, RunRender(Square(), {"in.osf", out}));
    EXPECT_EQ(nullptr, std::fopen(out.c_str(), "rb"));
}

TEST(OsftoolRender, WritesThePictureAsTheViewShowsIt)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no X display";
    const std::string out = TempPath("square.png");
    ASSERT_EQ(0, RunRender(RedGreenSquare(), {"--size", "64x48", "in.osf", out}));
    Picture p;
    ASSERT_TRUE(ReadPng(out, p.width, p.height, p.rgb));
    EXPECT_EQ(64, p.width);
    EXPECT_EQ(48, p.height);
    // Framed in the middle, textured red on the left and green on the right.
    EXPECT_EQ(KV_RGB8(0, 0, 0), p.At(2, 2));
    EXPECT_GT(p.At(26, 24).red, 100);
    EXPECT_LT(p.At(26, 24).green, 20);
    EXPECT_GT(p.At(38, 24).green, 100);

    // Turned half way round about the vertical axis: the back, mirrored.
    const std::string turned = TempPath("turned.png");
    ASSERT_EQ(0, RunRender(RedGreenSquare(), {"--size=64x48", "--turn", "0,180", "--background",
                                              "0,0,255", "in.osf", turned}));
    Picture t;
    ASSERT_TRUE(ReadPng(turned, t.width, t.height, t.rgb));
    EXPECT_EQ(KV_RGB8(0, 0, 255), t.At(2, 2));
    EXPECT_GT(t.At(26, 24).green, t.At(26, 24).red);
    EXPECT_GT(t.At(38, 24).red, t.At(38, 24).green);

    // Without the texture the material shows: grey with a tint of the surface colour.
    const std::string plain = TempPath("plain.png");
    ASSERT_EQ(0, RunRender(RedGreenSquare(), {"--no-texture", "--size", "64x48", "in.osf", plain}));
    Picture g;
    ASSERT_TRUE(ReadPng(plain, g.width, g.height, g.rgb));
    EXPECT_NEAR(g.At(26, 24).red, g.At(38, 24).red, 2);
    EXPECT_NEAR(g.At(26, 24).green, g.At(38, 24).green, 2);

    // Wireframe: the middle of a triangle stays background.
    const std::string wire = TempPath("wire.png");
    ASSERT_EQ(0, RunRender(RedGreenSquare(),
                           {"--wireframe", "--flat", "--size", "64x48", "in.osf", wire}));
    Picture w;
    ASSERT_TRUE(ReadPng(wire, w.width, w.height, w.rgb));
    EXPECT_EQ(KV_RGB8(0, 0, 0), w.At(36, 30));
}

TEST(OsftoolRender, UnwritableOutputFails)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no X display";
    EXPECT_EQ(1, RunRender(Square(), {"--size", "8x8", "in.osf", TempPath("missing-dir/out.png")}));
}

TEST(PngWriter, RoundTripKeepsPixelsAndOrientation)
{
    KV_Image<KV_RGB8> image(2, 3);  // row 0 is the bottom row
    image(0, 0) = KV_RGB8(1, 2, 3);
    image(1, 2) = KV_RGB8(250, 251, 252);
    std::string error;
    const std::string path = TempPath("round.png");
    ASSERT_TRUE(KV_PngWriter::Write(image, path.c_str(), error)) << error;
    Picture p;
    ASSERT_TRUE(ReadPng(path, p.width, p.height, p.rgb));
    EXPECT_EQ(3, p.width);
    EXPECT_EQ(2, p.height);
    EXPECT_EQ(KV_RGB8(1, 2, 3), p.At(0, 1));        // bottom left
    EXPECT_EQ(KV_RGB8(250, 251, 252), p.At(2, 0));  // top right

    EXPECT_FALSE(KV_PngWriter::Write(KV_Image<KV_RGB8>(), TempPath("empty.png").c_str(), error));
    EXPECT_FALSE(KV_PngWriter::Write(image, TempPath("no/such/dir.png").c_str(), error));
    EXPECT_FALSE(error.empty());
}
