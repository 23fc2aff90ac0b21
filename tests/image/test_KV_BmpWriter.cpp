#include "ImageTestFiles.h"
#include "foundation/KV_String.h"
#include "image/KV_ImageWriters.h"
#include "image/KV_MultiImage.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{
const char* kUnrecognised = "Image Save - unrecoginsed file extension - defaulting to .BMP";

KV_MultiImage SmallColour()
{
    KV_MultiImage multi;
    KV_Image<KV_RGB8>& colour = multi.GetColourImage();
    colour.SetSize(2, 1);
    colour(0, 0) = KV_RGB8(1, 2, 3);
    colour(1, 0) = KV_RGB8(4, 5, 6);
    return multi;
}

void ExpectUnrecognisedMessage(const ReportRecorder& recorder)
{
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, "MultiImage Error");
    EXPECT_EQ(recorder.Reports()[0].caption, kUnrecognised);
}
}  // namespace

TEST(BmpWriter, ColourOneByTwoIsByteExact)
{
    const KV_MultiImage multi = SmallColour();
    const std::string path = TmpPath("colour_1x2.bmp");
    ASSERT_TRUE(multi.Save(path.c_str()));
    const std::vector<unsigned char> file = ReadBytes(path);
    const std::vector<unsigned char> expected = {
        'B', 'M', 62, 0,    0,    0, 0, 0,    0,    0, 54, 0, 0, 0,  // file header
        40,  0,   0,  0,    1,    0, 0, 0,    2,    0, 0,  0, 1, 0, 24, 0, 0, 0, 0, 0, 8,
        0,   0,   0,  0x6D, 0x0B, 0, 0, 0x6D, 0x0B, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  // info header
        3,   2,   1,  0,   // bottom row: blue, green, red, pad
        6,   5,   4,  0};  // top row
    EXPECT_EQ(file, expected);
}

TEST(BmpWriter, GreyThreeByThreeHasPaletteAndPaddedRows)
{
    KV_MultiImage multi;
    KV_Image<unsigned char>& grey = multi.GetGreyImage();
    grey.SetSize(3, 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) grey(r, c) = static_cast<unsigned char>(10 * r + c);
    const std::string path = TmpPath("grey_3x3.bmp");
    ASSERT_TRUE(multi.Save(path.c_str()));
    const std::vector<unsigned char> file = ReadBytes(path);
    ASSERT_EQ(file.size(), 1090u);
    EXPECT_EQ(U32At(file, 2), 1090u);
    EXPECT_EQ(U32At(file, 10), 1078u);
    EXPECT_EQ(U32At(file, 14), 40u);
    EXPECT_EQ(U32At(file, 18), 3u);
    EXPECT_EQ(U32At(file, 22), 3u);
    EXPECT_EQ(U16At(file, 26), 1u);
    EXPECT_EQ(U16At(file, 28), 8u);
    EXPECT_EQ(U32At(file, 34), 12u);
    EXPECT_EQ(U32At(file, 38), 2925u);
    EXPECT_EQ(U32At(file, 42), 2925u);
    for (unsigned int i = 0; i < 256; ++i)
        EXPECT_EQ(U32At(file, 54 + 4 * i), i | (i << 8) | (i << 16)) << i;
    const std::vector<unsigned char> rows = {0, 1, 2, 0, 10, 11, 12, 0, 20, 21, 22, 0};
    EXPECT_EQ(std::vector<unsigned char>(file.begin() + 1078, file.end()), rows);
    EXPECT_FALSE(multi.IsColour());
}

TEST(BmpWriter, RowsAlreadyAlignedGetNoPadding)
{
    // Four colour pixels make 12 bytes and four grey ones 4: no padding byte follows.
    KV_MultiImage colour;
    colour.GetColourImage().SetSize(2, 4);
    KV_MultiImage grey;
    grey.GetGreyImage().SetSize(2, 4);
    std::vector<unsigned char> colourRows, greyRows;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c)
        {
            const unsigned char v = static_cast<unsigned char>(1 + 10 * r + c);
            colour.GetColourImage()(r, c) = KV_RGB8(v, v + 100, v + 200);
            grey.GetGreyImage()(r, c) = v;
            colourRows.insert(colourRows.end(), {static_cast<unsigned char>(v + 200),
                                                 static_cast<unsigned char>(v + 100), v});
            greyRows.push_back(v);
        }
    const std::string colourPath = TmpPath("aligned_colour.bmp");
    const std::string greyPath = TmpPath("aligned_grey.bmp");
    ASSERT_TRUE(colour.Save(colourPath.c_str()));
    ASSERT_TRUE(grey.Save(greyPath.c_str()));
    const std::vector<unsigned char> colourFile = ReadBytes(colourPath);
    const std::vector<unsigned char> greyFile = ReadBytes(greyPath);
    ASSERT_EQ(colourFile.size(), 54u + 24u);
    ASSERT_EQ(greyFile.size(), 1078u + 8u);
    EXPECT_EQ(U32At(colourFile, 34), 24u);
    EXPECT_EQ(U32At(greyFile, 34), 8u);
    EXPECT_EQ(std::vector<unsigned char>(colourFile.begin() + 54, colourFile.end()), colourRows);
    EXPECT_EQ(std::vector<unsigned char>(greyFile.begin() + 1078, greyFile.end()), greyRows);
}

TEST(BmpWriter, ReplacesAnExistingFile)
{
    const std::string path = TmpPath("replaced.bmp");
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(5000, 'x');
    }
    ASSERT_TRUE(SmallColour().Save(path.c_str()));
    EXPECT_EQ(ReadBytes(path).size(), 62u);
}

TEST(ImageSave, UpperCaseExtensionGetsBmpAppended)
{
    ReportRecorder recorder;
    const std::string path = TmpPath("upper.BMP");
    std::remove(path.c_str());
    EXPECT_TRUE(SmallColour().Save(path.c_str()));
    ExpectUnrecognisedMessage(recorder);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(ReadBytes(path + ".bmp").size(), 62u);

    recorder.Reset();
    const std::string gifPath = TmpPath("upper.GIF");
    EXPECT_TRUE(SmallColour().Save(gifPath.c_str()));
    ExpectUnrecognisedMessage(recorder);
    EXPECT_EQ(ReadBytes(gifPath + ".bmp")[0], 'B');
}

TEST(ImageSave, OtherExtensionsGetBmpAppended)
{
    ReportRecorder recorder;
    const std::string path = TmpPath("picture.png");
    EXPECT_TRUE(SmallColour().Save(path.c_str()));
    ExpectUnrecognisedMessage(recorder);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(ReadBytes(path + ".bmp").size(), 62u);

    recorder.Reset();
    const std::string bare = TmpPath("no_extension");
    EXPECT_TRUE(SmallColour().Save(bare.c_str()));
    ExpectUnrecognisedMessage(recorder);
    EXPECT_TRUE(FileExists(bare + ".bmp"));
}

TEST(ImageSave, DotInADirectoryNameIsNoExtension)
{
    ReportRecorder recorder;
    const std::string dir = TmpPath("dotted.gif");
    mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/image";
    EXPECT_TRUE(SmallColour().Save(path.c_str()));
    ExpectUnrecognisedMessage(recorder);
    EXPECT_EQ(ReadBytes(path + ".bmp").size(), 62u);

    // The backslash separates directories too.
    recorder.Reset();
    const std::string backslashed = TmpPath("dos.bmp\\image");
    EXPECT_TRUE(SmallColour().Save(backslashed.c_str()));
    ExpectUnrecognisedMessage(recorder);
    EXPECT_TRUE(FileExists(backslashed + ".bmp"));
}

TEST(ImageSave, LowerCaseGifWritesGif)
{
    ReportRecorder recorder;
    const std::string path = TmpPath("small.gif");
    EXPECT_TRUE(SmallColour().Save(path.c_str()));
    EXPECT_EQ(recorder.Count(), 0u);
    const DecodedGif gif = DecodeGif(path);
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.Pixel(0, 0), KV_RGB8(4, 5, 6));
    EXPECT_EQ(gif.Pixel(1, 0), KV_RGB8(1, 2, 3));
}

TEST(ImageSave, NothingToSaveIsReportedAndWritesNothing)
{
    ReportRecorder recorder;
    const std::string path = TmpPath("empty.bmp");
    std::remove(path.c_str());
    KV_MultiImage multi;
    EXPECT_FALSE(multi.Save(path.c_str()));
    EXPECT_FALSE(FileExists(path));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, "MultiImage Error");
    EXPECT_EQ(recorder.Reports()[0].caption,
              "File Save Error : " + path + " - Cannot save to an empty image");

    // An image without pixels is just as empty.
    recorder.Reset();
    multi.GetGreyImage();
    EXPECT_FALSE(multi.Save(path.c_str()));
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(recorder.Count(), 1u);
    EXPECT_TRUE(multi.HasImage());
}

TEST(ImageSave, MissingDirectoryIsReportedAndFalse)
{
    ReportRecorder recorder;
    const std::string path = TmpPath("missing/dir/image.bmp");
    EXPECT_FALSE(SmallColour().Save(path.c_str()));
    EXPECT_FALSE(FileExists(path));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, "MultiImage Error");
    EXPECT_EQ(recorder.Reports()[0].caption,
              "File Access Error : " + path + " - Unable to open output file stream");
}

TEST(ImageSave, WriteErrorIsFalse)
{
    if (!FileExists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ReportRecorder recorder;
    KV_Image<unsigned char> grey(64, 64);
    EXPECT_FALSE(KV_WriteBMP(grey, "/dev/full"));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].caption,
              "File Access Error : /dev/full - Error writing File stream");
}
