// osftool pick held against the pictures osftool render draws, decoded with libpng: every
// pixel shows the surface exactly where the pick camera's ray meets it, but for rare ties on
// the outline; the same picture as JPEG, decoded with libjpeg, is the PNG's.
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

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace
{
// Rows top first, three bytes a pixel.
struct Picture
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    bool IsBackground(int x, int y) const  // magenta
    {
        const unsigned char* p = &rgb[(std::size_t(y) * width + x) * 3];
        return p[0] == 255 && p[1] == 0 && p[2] == 255;
    }
};

// osftool render with a magenta background into a scratch file of the given name, read
// back with libpng (.png) or libjpeg; the tool's exit status.
int Render(const std::string& file, const std::string& options, const std::string& name,
           Picture& picture)
{
    const std::string path = ScratchPath(name);
    const ToolRun run = Osftool("render --background 255,0,255 " + options + " " + Quoted(file) +
                                " " + Quoted(path));
    if (run.status != 0)
        return run.status;
    if (name.compare(name.size() - 4, 4, ".png") != 0)
    {
        // A broken file ends the test process (libjpeg's default error exit).
        std::FILE* in = std::fopen(path.c_str(), "rb");
        jpeg_decompress_struct info;
        jpeg_error_mgr error;
        info.err = jpeg_std_error(&error);
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, in);
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        picture.width = int(info.output_width), picture.height = int(info.output_height);
        picture.rgb.resize(std::size_t(picture.width) * picture.height * 3);
        for (JSAMPROW row = picture.rgb.data(); info.output_scanline < info.output_height;
             row += picture.width * 3)
            jpeg_read_scanlines(&info, &row, 1);
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        std::fclose(in);
        return info.output_components == 3 ? 0 : -1;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return -1;
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    picture.width = int(image.width), picture.height = int(image.height);
    return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) ? 0 : -1;
}

// The camera osftool draws file with under options, parsed by osftool's own parser.
KV_PickCamera Camera(const KV_PolySurface& surface, const std::string& args)
{
    std::vector<std::string> words{"pick"};
    std::istringstream in(args);
    for (std::string w; in >> w;) words.push_back(w);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    OsftoolRenderOptions options;
    EXPECT_TRUE(OsftoolParseRenderOptions("pick", int(argv.size()), argv.data(), options));
    return OsftoolViewCamera(surface, options);
}
}  // namespace

TEST(OsftoolPickDisplay, EveryPixelShowsWhatItsRayMeets)
{
    // The sample, a box with a hole in its front that the background shows through, and a
    // model nobody here wrote.
    OsfSurface open;
    for (int k = 0; k < 8; ++k)
        open.vertices.push_back({k & 1 ? 1.0f : -1.0f, k & 2 ? 0.7f : -0.7f, k & 4 ? 0.4f : -0.4f});
    open.polygons = {{0, 2, 3, 1}, {0, 1, 5, 4}, {2, 6, 7, 3},
                     {0, 4, 6, 2}, {1, 3, 7, 5}, {4, 5, 7}};
    const std::string sample = std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf";
    const std::string cases[][3] = {
        {sample, "--size 96x72", "96x72"},
        {sample, "--size 80x100 --turn 30,-40", "80x100"},
        {WriteRaw("open.osf", open), "--size 90x60 --turn 20,160", "90x60"},
        {"/usr/share/assimp/models/Collada/duck.dae", "--size 96x72 --turn -10,30", "96x72"},
    };
    for (const auto& [file, options, size] : cases)
    {
        if (!Exists(file))
        {
            std::printf("%s is not installed: left out\n", file.c_str());
            continue;
        }
        Picture picture;
        const int status = Render(file, options, "picture.png", picture);
        if (status == 3)
            GTEST_SKIP() << "no usable X display";
        ASSERT_EQ(status, 0) << file;
        ASSERT_EQ(std::to_string(picture.width) + "x" + std::to_string(picture.height), size);

        KV_PolySurface surface;
        KV_SurfaceReadReport report;
        ASSERT_TRUE(KV_ReadSurfaceFile(file.c_str(), surface, report));
        const KV_PickCamera camera = Camera(surface, options);
        KV_SurfacePicker picker;
        ASSERT_TRUE(picker.Build(surface));
        int shown = 0, outline = 0, wrong = 0;
        std::string pixel[2];  // one clearly inside the background and one the surface
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width && wrong < 10; ++x)
            {
                KV_Ray ray;
                KV_PickHit hit;
                const bool met = camera.RayThroughPixel(x, y, ray) && picker.Pick(ray, hit);
                const bool drawn = !picture.IsBackground(x, y);
                shown += drawn;
                // A pixel on the outline may go either way: its centre is within float
                // rounding of an edge.
                bool mixed = false;
                for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, picture.height - 1); ++ny)
                    for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, picture.width - 1);
                         ++nx)
                        mixed |= picture.IsBackground(nx, ny) == drawn;
                if (met != drawn && mixed)
                    ++outline;
                else if (met != drawn)
                    ADD_FAILURE() << file << " " << options << ": pixel " << x << "," << y
                                  << (drawn ? " drawn but not met" : " met but not drawn") << " ("
                                  << ++wrong << ")";
                else if (!mixed && pixel[drawn].empty())
                    pixel[drawn] = std::to_string(x) + "," + std::to_string(y);
            }
        EXPECT_GT(shown, picture.width * picture.height / 10) << file;
        // Even there the ray and the rasteriser agree but for a rare tie: a camera half a
        // pixel off would miss along the whole outline.
        EXPECT_LE(outline, 3) << file << " " << options;

        // The tool itself on one pixel of each kind.
        ASSERT_FALSE(pixel[0].empty() || pixel[1].empty());
        const ToolRun on = Osftool("pick " + options + " " + Quoted(file) + " " + pixel[1]);
        EXPECT_EQ(on.status, 0) << on.err;
        EXPECT_EQ(on.out.rfind("point: ", 0), 0u) << on.out;
        const ToolRun off = Osftool("pick " + options + " " + Quoted(file) + " " + pixel[0]);
        EXPECT_EQ(off.status, 1);
        EXPECT_EQ(off.err, "no surface at " + pixel[0] + "\n");
    }
}

TEST(OsftoolPickDisplay, JpegIsThePictureThePngHolds)
{
    const std::string sample = std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf";
    Picture lossless, lossy;
    const int status = Render(sample, "--size 120x90 --turn 0,30", "sample.png", lossless);
    if (status == 3)
        GTEST_SKIP() << "no usable X display";
    ASSERT_EQ(status, 0);
    ASSERT_EQ(Render(sample, "--size 120x90 --turn 0,30", "sample.JPEG", lossy), 0);
    ASSERT_TRUE(lossy.width == 120 && lossy.height == 90);
    // Quality 95 stays within a few levels on average; a picture upside down or with its
    // channels swapped does not.
    double difference = 0.0, flipped = 0.0;
    for (std::size_t i = 0; i < lossless.rgb.size(); ++i)
    {
        const std::size_t row = i / 360, mirrored = (89 - row) * 360 + i % 360;
        difference += std::abs(int(lossless.rgb[i]) - int(lossy.rgb[i]));
        flipped += std::abs(int(lossless.rgb[i]) - int(lossy.rgb[mirrored]));
    }
    EXPECT_LT(difference / lossless.rgb.size(), 4.0);
    EXPECT_GT(flipped / lossless.rgb.size(), 8.0)
        << "the sample should not look the same upside down";
}
