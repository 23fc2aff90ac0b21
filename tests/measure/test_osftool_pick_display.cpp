// osftool pick held against the pictures osftool render draws: every pixel of a small
// picture of the bundled sample (and of a box and a model nobody here wrote) shows the
// surface exactly where the pick camera's ray meets it, but for the outline's own pixels;
// the picture, decoded with libpng and libjpeg, is the same in PNG and in JPEG.
#include "tests/tools/OsftoolRunner.h"

#include "document/KV_SurfacePreparation.h"
#include "measure/KV_SurfacePicker.h"
#include "surface/KV_PolySurface.h"
#include "tools/osftool_pick.h"
#include "tools/osftool_render.h"

#include <gtest/gtest.h>

#include <png.h>
// After <cstdio>: jpeglib.h needs FILE and size_t declared before it.
#include <cstdio>
#include <jpeglib.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace
{
// Rows top first, three bytes a pixel.
struct Picture
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* At(int x, int y) const
    {
        return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    }
    bool IsBackground(int x, int y) const
    {
        const unsigned char* p = At(x, y);
        return p[0] == 255 && p[1] == 0 && p[2] == 255;
    }
};

bool ReadPng(const std::string& path, Picture& picture)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr))
        return false;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    return true;
}

// libjpeg's own decoder; a broken file ends the test process (its default error exit).
bool ReadJpeg(const std::string& path, Picture& picture)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
    while (info.output_scanline < info.output_height)
    {
        JSAMPROW row =
            &picture.rgb[static_cast<std::size_t>(info.output_scanline) * picture.width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return info.output_components == 3;
}

OsftoolRenderOptions Options(const std::string& args)
{
    // Parsed by osftool's own parser, as the tool parses them.
    std::vector<std::string> words{"pick"};
    std::istringstream in(args);
    for (std::string w; in >> w;) words.push_back(w);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    OsftoolRenderOptions options;
    EXPECT_TRUE(
        OsftoolParseRenderOptions("pick", static_cast<int>(argv.size()), argv.data(), options));
    return options;
}

// A box with a hole in its front: the background shows through it.
OsfSurface OpenBox()
{
    OsfSurface s;
    for (int k = 0; k < 8; ++k)
        s.vertices.push_back({k & 1 ? 1.0f : -1.0f, k & 2 ? 0.7f : -0.7f, k & 4 ? 0.4f : -0.4f});
    s.polygons = {{0, 2, 3, 1}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}, {4, 5, 7}};
    return s;
}
}  // namespace

TEST(OsftoolPickDisplay, EveryPixelShowsWhatItsRayMeets)
{
    const std::string sample = std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf";
    const std::string duck = "/usr/share/assimp/models/Collada/duck.dae";
    const struct
    {
        std::string file, options;
    } cases[] = {
        {sample, "--size 96x72"},
        {sample, "--size 80x100 --turn 30,-40"},
        {WriteRaw("open.osf", OpenBox()), "--size 90x60 --turn 20,160"},
        {duck, "--size 96x72 --turn -10,30"},
    };
    for (const auto& c : cases)
    {
        if (!Exists(c.file))
        {
            std::printf("%s is not installed: left out\n", c.file.c_str());
            continue;
        }
        const std::string png = ScratchPath("picture.png");
        const ToolRun run = Osftool("render --background 255,0,255 " + c.options + " " +
                                    Quoted(c.file) + " " + Quoted(png));
        if (run.status == 3)
            GTEST_SKIP() << "no usable X display: " << run.err;
        ASSERT_EQ(run.status, 0) << run.err;
        Picture picture;
        ASSERT_TRUE(ReadPng(png, picture));

        KV_PolySurface surface;
        KV_SurfaceReadReport report;
        ASSERT_TRUE(KV_ReadSurfaceFile(c.file.c_str(), surface, report));
        const OsftoolRenderOptions options = Options(c.options);
        ASSERT_EQ(picture.width, options.width);
        ASSERT_EQ(picture.height, options.height);
        const KV_PickCamera camera = OsftoolViewCamera(surface, options);
        KV_SurfacePicker picker;
        ASSERT_TRUE(picker.Build(surface));

        int shown = 0, outline = 0, wrong = 0;
        int surfacePixel[2] = {-1, -1}, backgroundPixel[2] = {-1, -1};
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x)
            {
                KV_Ray ray;
                KV_PickHit hit;
                const bool met = camera.RayThroughPixel(x, y, ray) && picker.Pick(ray, hit);
                const bool drawn = !picture.IsBackground(x, y);
                shown += drawn;
                // A pixel on the outline may go either way: its centre is within float
                // rounding of an edge.
                bool mixed = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                    {
                        const int nx = x + dx, ny = y + dy;
                        if (nx >= 0 && ny >= 0 && nx < picture.width && ny < picture.height)
                            mixed |= picture.IsBackground(nx, ny) == drawn;
                    }
                if (met == drawn)
                {
                    if (!mixed && drawn && surfacePixel[0] < 0)
                        surfacePixel[0] = x, surfacePixel[1] = y;
                    if (!mixed && !drawn && backgroundPixel[0] < 0)
                        backgroundPixel[0] = x, backgroundPixel[1] = y;
                    continue;
                }
                if (mixed)
                    ++outline;
                else
                    ADD_FAILURE() << c.file << " " << c.options << ": pixel " << x << "," << y
                                  << (drawn ? " drawn but not met" : " met but not drawn") << " ("
                                  << ++wrong << ")";
                if (wrong > 10)
                    return;
            }
        EXPECT_GT(shown, picture.width * picture.height / 10) << c.file;
        // Even there the ray and the rasteriser agree but for a rare tie: a camera half a
        // pixel off would miss along the whole outline.
        EXPECT_LE(outline, 3) << c.file << " " << c.options;

        // The tool itself on one pixel of each kind.
        ASSERT_GE(surfacePixel[0], 0);
        ASSERT_GE(backgroundPixel[0], 0);
        const std::string at = " " + Quoted(c.file) + " ";
        const ToolRun onSurface =
            Osftool("pick " + c.options + at + std::to_string(surfacePixel[0]) + "," +
                    std::to_string(surfacePixel[1]));
        EXPECT_EQ(onSurface.status, 0) << onSurface.err;
        EXPECT_EQ(onSurface.out.rfind("point: ", 0), 0u) << onSurface.out;
        const std::string background =
            std::to_string(backgroundPixel[0]) + "," + std::to_string(backgroundPixel[1]);
        const ToolRun offSurface = Osftool("pick " + c.options + at + background);
        EXPECT_EQ(offSurface.status, 1);
        EXPECT_EQ(offSurface.err, "no surface at " + background + "\n");
    }
}

TEST(OsftoolPickDisplay, JpegIsThePictureThePngHolds)
{
    const std::string sample = Quoted(std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf");
    const std::string png = ScratchPath("sample.png"), jpeg = ScratchPath("sample.JPEG");
    const ToolRun first = Osftool("render --size 120x90 --turn 0,30 " + sample + " " + Quoted(png));
    if (first.status == 3)
        GTEST_SKIP() << "no usable X display: " << first.err;
    ASSERT_EQ(first.status, 0) << first.err;
    const ToolRun second =
        Osftool("render --size 120x90 --turn 0,30 " + sample + " " + Quoted(jpeg));
    ASSERT_EQ(second.status, 0) << second.err;
    Picture lossless, lossy;
    ASSERT_TRUE(ReadPng(png, lossless));
    ASSERT_TRUE(ReadJpeg(jpeg, lossy));
    ASSERT_EQ(lossy.width, 120);
    ASSERT_EQ(lossy.height, 90);
    // Quality 95 stays within a few levels on average; a picture upside down or with its
    // channels swapped does not.
    double difference = 0.0;
    for (std::size_t i = 0; i < lossless.rgb.size(); ++i)
        difference += std::abs(int(lossless.rgb[i]) - int(lossy.rgb[i]));
    EXPECT_LT(difference / lossless.rgb.size(), 4.0);
    double flipped = 0.0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120 * 3; ++x)
            flipped +=
                std::abs(int(lossless.rgb[y * 360 + x]) - int(lossy.rgb[(89 - y) * 360 + x]));
    EXPECT_GT(flipped / lossless.rgb.size(), 8.0)
        << "the sample should not look the same upside down";
}
