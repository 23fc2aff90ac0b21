// osftool render end to end: a fixture file loaded, completed and drawn off-screen.

#include "FixtureFiles.h"
#include "OsftoolRunner.h"

#include <gtest/gtest.h>

#include <string>

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
