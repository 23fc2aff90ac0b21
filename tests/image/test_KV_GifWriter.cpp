#include "ImageTestFiles.h"
#include "foundation/KV_String.h"
#include "image/KV_ColourMap.h"
#include "image/KV_ImageWriters.h"
#include "image/KV_MultiImage.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>

namespace
{
const size_t kHeaderBytes = 6 + 7 + 768 + 10;  // signature, screen, table, descriptor

KV_MultiImage GreyImage(int rows, int cols, unsigned int seed)
{
    KV_MultiImage multi;
    KV_Image<unsigned char>& grey = multi.GetGreyImage();
    grey.SetSize(rows, cols);
    std::mt19937 random(seed);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) grey(r, c) = static_cast<unsigned char>(random());
    return multi;
}

// Walks the sub-blocks after the minimum code size byte; returns the data bytes, or fails
// the test when the block chain is malformed.
std::vector<unsigned char> DataBytes(const std::vector<unsigned char>& file,
                                     std::vector<int>* blockLengths = nullptr)
{
    std::vector<unsigned char> data;
    size_t at = kHeaderBytes + 1;
    while (at < file.size() && file[at] != 0)
    {
        const size_t length = file[at];
        if (blockLengths != nullptr)
            blockLengths->push_back(static_cast<int>(length));
        EXPECT_LE(at + 1 + length, file.size());
        if (at + 1 + length > file.size())
            break;
        data.insert(data.end(), file.begin() + at + 1, file.begin() + at + 1 + length);
        at += 1 + length;
    }
    EXPECT_EQ(at + 2, file.size()) << "terminator and trailer must end the file";
    if (at + 2 == file.size())
    {
        EXPECT_EQ(file[at], 0);
        EXPECT_EQ(file[at + 1], 0x3B);
    }
    return data;
}

// The 9-bit codes packed least significant bit first.
std::vector<unsigned int> Codes(const std::vector<unsigned char>& data)
{
    std::vector<unsigned int> codes;
    for (size_t bit = 0; bit + 9 <= data.size() * 8; bit += 9)
    {
        unsigned int code = 0;
        for (int k = 0; k < 9; ++k) code |= ((data[(bit + k) / 8] >> ((bit + k) % 8)) & 1u) << k;
        codes.push_back(code);
    }
    return codes;
}
}  // namespace

TEST(GifWriter, OneGreyPixelIsByteExact)
{
    KV_MultiImage multi;
    multi.GetGreyImage().SetSize(1, 1);
    multi.GetGreyImage()(0, 0) = 7;
    const std::string path = TmpPath("one_pixel.gif");
    ASSERT_TRUE(multi.Save(path.c_str()));
    const std::vector<unsigned char> file = ReadBytes(path);
    ASSERT_EQ(file.size(), 799u);
    const std::vector<unsigned char> start = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0xF7, 0, 0};
    EXPECT_EQ(std::vector<unsigned char>(file.begin(), file.begin() + 13), start);
    for (int i = 0; i < 256; ++i)
    {
        EXPECT_EQ(file[13 + 3 * i], i);
        EXPECT_EQ(file[14 + 3 * i], i);
        EXPECT_EQ(file[15 + 3 * i], i);
    }
    const std::vector<unsigned char> rest = {0x2C, 0, 0, 0,    0,    1,    0,    1, 0,
                                             0,    8, 4, 0x00, 0x0F, 0x04, 0x04, 0, 0x3B};
    EXPECT_EQ(std::vector<unsigned char>(file.begin() + 781, file.end()), rest);

    const DecodedGif gif = DecodeGif(path);
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.Index(0, 0), 7);
}

TEST(GifWriter, WidthAndHeightOfAnOblongImage)
{
    // 47 rows of 53 columns: the screen and the image descriptor both say 53 wide, 47 high.
    const KV_MultiImage multi = GreyImage(47, 53, 5);
    const std::string path = TmpPath("oblong_53x47.gif");
    ASSERT_TRUE(multi.Save(path.c_str()));
    const std::vector<unsigned char> file = ReadBytes(path);
    ASSERT_GT(file.size(), kHeaderBytes);
    EXPECT_EQ(U16At(file, 6), 53u);
    EXPECT_EQ(U16At(file, 8), 47u);
    EXPECT_EQ(file[781], 0x2C);
    EXPECT_EQ(U16At(file, 782), 0u);
    EXPECT_EQ(U16At(file, 784), 0u);
    EXPECT_EQ(U16At(file, 786), 53u);
    EXPECT_EQ(U16At(file, 788), 47u);
}

TEST(GifWriter, ClearCodeFollowsEveryHundredPixels)
{
    const KV_MultiImage multi = GreyImage(10, 10, 1);
    const std::string path = TmpPath("ten_by_ten.gif");
    ASSERT_TRUE(multi.Save(path.c_str()));
    const std::vector<unsigned char> file = ReadBytes(path);
    const std::vector<unsigned char> data = DataBytes(file);
    EXPECT_EQ(data.size(), 116u);  // 103 codes, 927 bits
    EXPECT_EQ(file.size(), kHeaderBytes + 1 + 1 + 116 + 1 + 1);
    const std::vector<unsigned int> codes = Codes(data);
    ASSERT_GE(codes.size(), 103u);
    EXPECT_EQ(codes[0], 256u);
    EXPECT_EQ(codes[101], 256u);
    EXPECT_EQ(codes[102], 257u);
    EXPECT_EQ(data.back() >> 7, 0) << "the last byte is filled with zero bits";

    const DecodedGif gif = DecodeGif(path);
    ASSERT_TRUE(gif.ok);
    const KV_Image<unsigned char>& grey = *multi.GreyImage();
    for (int t = 0; t < 10; ++t)
        for (int c = 0; c < 10; ++c) EXPECT_EQ(gif.Index(t, c), grey(9 - t, c));
}

TEST(GifWriter, ExactlyOneFullSubBlock)
{
    // 222 pixels: 226 codes, 2034 bits, 255 bytes.
    const KV_MultiImage multi = GreyImage(2, 111, 2);
    const std::string path = TmpPath("full_block.gif");
    ASSERT_TRUE(multi.Save(path.c_str()));
    const std::vector<unsigned char> file = ReadBytes(path);
    ASSERT_EQ(file.size(), kHeaderBytes + 1 + 256 + 1 + 1);
    EXPECT_EQ(file[kHeaderBytes + 1], 255);
    EXPECT_EQ(file[file.size() - 2], 0);
    EXPECT_EQ(file[file.size() - 1], 0x3B);
    EXPECT_TRUE(DecodeGif(path).ok);
}

TEST(GifWriter, ManyBlocksDecodeToTheGreyValuesTopRowFirst)
{
    const KV_MultiImage multi = GreyImage(53, 47, 3);
    const std::string path = TmpPath("grey_blocks.gif");
    ASSERT_TRUE(multi.Save(path.c_str()));
    const std::vector<unsigned char> file = ReadBytes(path);
    std::vector<int> lengths;
    const std::vector<unsigned char> data = DataBytes(file, &lengths);
    const size_t codes = 53 * 47 + (53 * 47) / 100 + 2;
    EXPECT_EQ(data.size(), (9 * codes + 7) / 8);
    ASSERT_GE(lengths.size(), 2u);
    for (size_t k = 0; k + 1 < lengths.size(); ++k) EXPECT_EQ(lengths[k], 255);
    EXPECT_GE(lengths.back(), 1);

    const DecodedGif gif = DecodeGif(path);
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.width, 47);
    EXPECT_EQ(gif.height, 53);
    EXPECT_EQ(gif.imageCount, 1);
    const KV_Image<unsigned char>& grey = *multi.GreyImage();
    for (int t = 0; t < 53; ++t)
        for (int c = 0; c < 47; ++c)
            ASSERT_EQ(gif.Pixel(t, c), KV_RGB8(grey(52 - t, c), grey(52 - t, c), grey(52 - t, c)))
                << t << "," << c;
}

TEST(GifWriter, TwoRowsSendTheTopRowFirst)
{
    KV_MultiImage multi;
    multi.GetGreyImage().SetSize(2, 1);
    multi.GetGreyImage()(0, 0) = 1;
    multi.GetGreyImage()(1, 0) = 2;
    const std::string path = TmpPath("two_rows.gif");
    ASSERT_TRUE(multi.Save(path.c_str()));
    const std::vector<unsigned int> codes = Codes(DataBytes(ReadBytes(path)));
    ASSERT_GE(codes.size(), 4u);
    EXPECT_EQ(codes[1], 2u);
    EXPECT_EQ(codes[2], 1u);
    EXPECT_EQ(codes[3], 257u);
}

TEST(GifWriter, FewColoursAreExactAndLeaveTheRestOfTheTableBlack)
{
    KV_MultiImage multi;
    KV_Image<KV_RGB8>& colour = multi.GetColourImage();
    colour.SetSize(3, 2);
    colour(0, 0) = KV_RGB8(255, 0, 0);
    colour(0, 1) = KV_RGB8(0, 0, 255);
    colour(1, 0) = KV_RGB8(12, 200, 7);
    colour(1, 1) = KV_RGB8(255, 0, 0);
    colour(2, 0) = KV_RGB8(0, 0, 255);
    colour(2, 1) = KV_RGB8(255, 0, 0);
    const std::string path = TmpPath("three_colours.gif");
    ASSERT_TRUE(multi.Save(path.c_str()));
    EXPECT_TRUE(multi.IsColour());
    const DecodedGif gif = DecodeGif(path);
    ASSERT_TRUE(gif.ok);
    ASSERT_EQ(gif.palette.size(), 256u);
    for (int t = 0; t < 3; ++t)
        for (int c = 0; c < 2; ++c) EXPECT_EQ(gif.Pixel(t, c), colour(2 - t, c));
    for (int i = 3; i < 256; ++i) EXPECT_EQ(gif.palette[i], KV_RGB8()) << i;
}

TEST(GifWriter, ManyColoursDecodeToTheQuantisersChoice)
{
    KV_Image<KV_RGB8> colour(64, 90);
    std::mt19937 random(11);
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 90; ++c)
            colour(r, c) =
                KV_RGB8(static_cast<unsigned char>(c * 2 + (random() & 7)),
                        static_cast<unsigned char>(r * 4), static_cast<unsigned char>(random()));
    const std::string path = TmpPath("many_colours.gif");
    ASSERT_TRUE(KV_WriteGIF(colour, path.c_str()));

    KV_ColourMap map(256);
    KV_Array<KV_RGB8> palette;
    map.BuildPalette(colour, palette);
    KV_Image<unsigned char> indices;
    map.MapImage(colour, indices);

    const DecodedGif gif = DecodeGif(path);
    ASSERT_TRUE(gif.ok);
    ASSERT_EQ(gif.palette.size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(gif.palette[i], palette[i]);
    // Independently of the quantiser: each decoded colour is the truncated mean of the
    // original pixels that were given the same index.
    std::map<int, std::array<unsigned long, 4>> sums;
    for (int t = 0; t < 64; ++t)
        for (int c = 0; c < 90; ++c)
        {
            ASSERT_EQ(gif.Index(t, c), indices(63 - t, c));
            const KV_RGB8 p = colour(63 - t, c);
            auto& s = sums[gif.Index(t, c)];
            s[0] += p.red;
            s[1] += p.green;
            s[2] += p.blue;
            s[3] += 1;
        }
    EXPECT_GT(sums.size(), 200u);
    for (const auto& [index, s] : sums)
        EXPECT_EQ(gif.palette[index], KV_RGB8(static_cast<unsigned char>(s[0] / s[3]),
                                              static_cast<unsigned char>(s[1] / s[3]),
                                              static_cast<unsigned char>(s[2] / s[3])));
}

TEST(GifWriter, MissingDirectoryIsReportedAndFalse)
{
    ReportRecorder recorder;
    const KV_MultiImage multi = GreyImage(2, 2, 4);
    const std::string path = TmpPath("no/such/dir/image.gif");
    EXPECT_FALSE(multi.Save(path.c_str()));
    EXPECT_FALSE(FileExists(path));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, "MultiImage Error");
    EXPECT_EQ(recorder.Reports()[0].caption,
              "File Access Error : " + path + " - Can't open File stream");
    EXPECT_EQ(recorder.Reports()[0].kind, KV_ReportKind::Message);
}

TEST(GifWriter, WriteErrorIsNotSuccess)
{
    if (!FileExists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ReportRecorder recorder;
    const KV_MultiImage multi = GreyImage(40, 40, 5);
    EXPECT_FALSE(KV_WriteGIF(*multi.GreyImage(), "/dev/full"));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].caption,
              "File Access Error : /dev/full - Error writing File stream");
}

TEST(GifWriter, ImageWiderThanSixteenBitsIsRefused)
{
    ReportRecorder recorder;
    KV_Image<unsigned char> wide(1, 65536);
    const std::string path = TmpPath("too_wide.gif");
    EXPECT_FALSE(KV_WriteGIF(wide, path.c_str()));
    EXPECT_FALSE(FileExists(path));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].caption,
              "File Save Error : " + path + " - Image too large for GIF");
}
