#include "image/KV_ImageProcessing.h"
#include "image/KV_MultiImage.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

TEST(KV_RGB8, IsThreePackedBytesStartingBlack)
{
    KV_RGB8 pixels[2];
    EXPECT_EQ(pixels[0], KV_RGB8(0, 0, 0));
    pixels[1] = KV_RGB8(1, 2, 3);
    const unsigned char* bytes = &pixels[0].red;
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(bytes[4], 2);
    EXPECT_EQ(bytes[5], 3);
}

TEST(KV_Image, SizeGivesZeroBasedBoundsAndBlackPixels)
{
    KV_Image<KV_RGB8> image(2, 3);
    EXPECT_EQ(image.RowLow(), 0);
    EXPECT_EQ(image.RowHigh(), 1);
    EXPECT_EQ(image.ColLow(), 0);
    EXPECT_EQ(image.ColHigh(), 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(image(r, c), KV_RGB8());
    // Rows are stored one after another, row 0 first.
    image(1, 0) = KV_RGB8(9, 9, 9);
    EXPECT_EQ(image.Data()[3], KV_RGB8(9, 9, 9));
    EXPECT_EQ(image.Row(1), image.Data() + 3);
}

TEST(KV_Image, SetSizeGivesFreshBlackPixelsEvenWithTheSameCount)
{
    KV_Image<unsigned char> image(2, 3);
    image(1, 2) = 77;
    image.SetSize(3, 2);
    EXPECT_EQ(image.Rows(), 3);
    EXPECT_EQ(image.Cols(), 2);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c) EXPECT_EQ(image(r, c), 0);
    image.SetSize(-1, 4);
    EXPECT_EQ(image.Rows(), 0);
    EXPECT_TRUE(image.IsEmpty());
}

TEST(KV_MultiImage, GreyBecomesColourWithEqualChannels)
{
    ReportRecorder recorder;
    KV_MultiImage multi;
    KV_Image<unsigned char>& grey = multi.GetGreyImage();
    grey.SetSize(2, 2);
    grey(0, 0) = 200;
    grey(1, 1) = 3;
    KV_Image<KV_RGB8>& colour = multi.GetColourImage();
    EXPECT_TRUE(multi.IsColour());
    EXPECT_EQ(multi.GreyImage(), nullptr);
    EXPECT_EQ(multi.ColourImage(), &colour);
    ASSERT_EQ(colour.Rows(), 2);
    ASSERT_EQ(colour.Cols(), 2);
    EXPECT_EQ(colour(0, 0), KV_RGB8(200, 200, 200));
    EXPECT_EQ(colour(1, 1), KV_RGB8(3, 3, 3));
    EXPECT_EQ(colour(0, 1), KV_RGB8(0, 0, 0));
    EXPECT_EQ(recorder.Count(), 0u);
    // Asking again returns the same image unchanged.
    EXPECT_EQ(&multi.GetColourImage(), &colour);
}

TEST(KV_MultiImage, ColourBecomesGreyByTruncatedMean)
{
    KV_MultiImage multi;
    KV_Image<KV_RGB8>& colour = multi.GetColourImage();
    colour.SetSize(1, 4);
    colour(0, 0) = KV_RGB8(1, 1, 2);
    colour(0, 1) = KV_RGB8(255, 255, 255);
    colour(0, 2) = KV_RGB8(10, 0, 0);
    colour(0, 3) = KV_RGB8(3, 3, 3);
    KV_Image<unsigned char>& grey = multi.GetGreyImage();
    EXPECT_FALSE(multi.IsColour());
    EXPECT_EQ(multi.ColourImage(), nullptr);
    ASSERT_EQ(grey.Cols(), 4);
    EXPECT_EQ(grey(0, 0), 1);
    EXPECT_EQ(grey(0, 1), 255);
    EXPECT_EQ(grey(0, 2), 3);
    EXPECT_EQ(grey(0, 3), 3);
}

TEST(KV_MultiImage, EmptyHolderMakesEmptyImageOfTheAskedKind)
{
    KV_MultiImage multi;
    EXPECT_FALSE(multi.HasImage());
    KV_Image<unsigned char>& grey = multi.GetGreyImage();
    EXPECT_TRUE(multi.HasImage());
    EXPECT_FALSE(multi.IsColour());
    EXPECT_TRUE(grey.IsEmpty());

    KV_MultiImage other;
    EXPECT_TRUE(other.GetColourImage().IsEmpty());
    EXPECT_TRUE(other.IsColour());
}

TEST(KV_MultiImage, ConvertsImagesWithoutColumns)
{
    KV_MultiImage multi;
    multi.GetGreyImage().SetSize(3, 0);
    EXPECT_EQ(multi.GetColourImage().Rows(), 3);
    EXPECT_EQ(multi.GetGreyImage().Cols(), 0);
}

TEST(KV_MultiImage, CopyAndAssignmentAreDeep)
{
    KV_MultiImage multi;
    multi.GetColourImage().SetSize(1, 1);
    multi.GetColourImage()(0, 0) = KV_RGB8(4, 5, 6);
    KV_MultiImage copy(multi);
    multi.GetColourImage()(0, 0) = KV_RGB8();
    EXPECT_TRUE(copy.IsColour());
    EXPECT_EQ(copy.GetColourImage()(0, 0), KV_RGB8(4, 5, 6));

    KV_MultiImage grey;
    grey.GetGreyImage().SetSize(2, 1);
    copy = grey;
    EXPECT_FALSE(copy.IsColour());
    EXPECT_EQ(copy.ColourImage(), nullptr);
    EXPECT_EQ(copy.Rows(), 2);
    KV_MultiImage& same = copy;
    copy = same;
    EXPECT_EQ(copy.Rows(), 2);
}

TEST(KV_MultiImage, SetImageTakesOwnershipAndKind)
{
    KV_MultiImage multi;
    auto* image = new KV_Image<KV_RGB8>(2, 5);
    multi.SetImage(image);
    EXPECT_TRUE(multi.IsColour());
    EXPECT_EQ(multi.ColourImage(), image);
    EXPECT_EQ(multi.Rows(), 2);
    EXPECT_EQ(multi.Cols(), 5);
    multi.SetImage(new KV_Image<unsigned char>(1, 1));
    EXPECT_FALSE(multi.IsColour());
    EXPECT_EQ(multi.ColourImage(), nullptr);
    multi.Clear();
    EXPECT_FALSE(multi.HasImage());
}

TEST(KV_MultiImage, DumpNamesClassAndSize)
{
    KV_MultiImage multi;
    multi.GetColourImage().SetSize(2, 3);
    std::ostringstream os;
    multi.Dump(os);
    EXPECT_EQ(os.str(), "KV_MultiImage: \n mbIsColour: 1\n Rows: 2\n Cols: 3\n");
}

TEST(CombineChannels, CombinesEqualSizedChannels)
{
    KV_Image<unsigned char> red(2, 1), green(2, 1), blue(2, 1);
    red(0, 0) = 1;
    green(0, 0) = 2;
    blue(0, 0) = 3;
    red(1, 0) = 250;
    KV_Image<KV_RGB8> colour(7, 7);
    EXPECT_TRUE(CombineChannels(red, green, blue, colour));
    ASSERT_EQ(colour.Rows(), 2);
    ASSERT_EQ(colour.Cols(), 1);
    EXPECT_EQ(colour(0, 0), KV_RGB8(1, 2, 3));
    EXPECT_EQ(colour(1, 0), KV_RGB8(250, 0, 0));
}

TEST(CombineChannels, MismatchedChannelIsReportedAfterResizing)
{
    ReportRecorder recorder;
    KV_Image<unsigned char> red(2, 3), green(2, 3), blue(2, 2);
    KV_Image<KV_RGB8> colour;
    EXPECT_FALSE(CombineChannels(red, green, blue, colour));
    EXPECT_EQ(colour.Rows(), 2);
    EXPECT_EQ(colour.Cols(), 3);
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, "ImageProcessing");
    EXPECT_EQ(recorder.Reports()[0].caption, "Image Channels are not of the same size");
    EXPECT_EQ(recorder.Reports()[0].kind, KV_ReportKind::Message);

    recorder.Reset();
    KV_Image<unsigned char> tallGreen(3, 3);
    EXPECT_FALSE(CombineChannels(red, tallGreen, red, colour));
    EXPECT_EQ(recorder.Count(), 1u);
}

namespace
{
// A picture of rows x cols: smooth (runs of 21 equal bytes, which deflate well) or noise
// (which does not); its bytes are as Bytes reads them.
KV_MultiImage Picture(int rows, int cols, bool colour, bool noise)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(rows) * cols * (colour ? 3 : 1));
    unsigned int state = 12345;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(noise ? (state = state * 1103515245u + 12345u) >> 23
                                                    : i / 21 % 200);
    KV_MultiImage image;
    auto fill = [&](auto* pixels)
    {
        std::copy(bytes.begin(), bytes.end(), reinterpret_cast<unsigned char*>(pixels->Data()));
        image.SetImage(pixels);
    };
    colour ? fill(new KV_Image<KV_RGB8>(rows, cols)) : fill(new KV_Image<unsigned char>(rows, cols));
    return image;
}

std::vector<unsigned char> Bytes(const KV_MultiImage& image)
{
    const auto* colour = image.ColourImage();
    const auto* p = colour ? reinterpret_cast<const unsigned char*>(colour->Data())
                           : image.GreyImage()->Data();
    return std::vector<unsigned char>(p, p + image.Rows() * image.Cols() * (colour ? 3 : 1));
}
}  // namespace

// Packing keeps what every reader sees: size and kind without inflating, and the same bytes
// once inflated, through a copy too and for readers on several threads at once. A picture
// that hardly shrinks, or has no pixels, is not packed.
TEST(KV_MultiImage, PackedPixelsComeBackAsTheyWere)
{
    const struct
    {
        const char* name;
        int rows, cols;
        bool colour, noise, packs;
    } cases[] = {
        {"smooth colour, 1.5 MiB (beyond one slice)", 700, 760, true, false, true},
        {"smooth grey", 300, 257, false, false, true},
        {"noise", 200, 300, true, true, false},
        {"no columns", 4, 0, false, false, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        KV_MultiImage image = Picture(c.rows, c.cols, c.colour, c.noise);
        const auto packed = image.PackedCopy();
        ASSERT_EQ(packed != nullptr, c.packs);
        ASSERT_EQ(image.Pack(packed), c.packs);
        if (!c.packs)
            continue;
        EXPECT_EQ(std::make_pair(image.Rows(), image.Cols()), std::make_pair(c.rows, c.cols));
        EXPECT_TRUE(image.HasImage() && image.IsColour() == c.colour && image.IsPacked())
            << "the size and kind alone inflate nothing";
        EXPECT_EQ(image.PackedCopy(), nullptr) << "packed already";
        const KV_MultiImage copy = image;
        EXPECT_TRUE(copy.IsPacked()) << "a copy shares the packed pixels";
        const std::vector<unsigned char> before = Bytes(Picture(c.rows, c.cols, c.colour, c.noise));
        std::vector<std::vector<unsigned char>> seen(3);
        std::vector<std::thread> readers;
        for (auto& s : seen) readers.emplace_back([&image, &s] { s = Bytes(image); });
        for (auto& t : readers) t.join();
        for (const auto& s : seen) EXPECT_EQ(s, before);
        EXPECT_FALSE(image.IsPacked());
        EXPECT_EQ(Bytes(copy), before);
    }
}

// A packed copy is taken only for the very pixels it was made from: not after a change (or a
// reference handed out to make one), not by another holder, not once stopped.
TEST(KV_MultiImage, PackRefusesCopiesOfOtherPixels)
{
    const struct
    {
        const char* name;
        std::function<void(KV_MultiImage&)> meanwhile;
    } cases[] = {
        {"colour asked for", [](KV_MultiImage& i) { i.GetColourImage(); }},
        {"grey made", [](KV_MultiImage& i) { i.GetGreyImage(); }},
        {"cleared", [](KV_MultiImage& i) { i.Clear(); }},
        {"assigned", [](KV_MultiImage& i) { i = Picture(700, 760, true, false); }},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        KV_MultiImage image = Picture(700, 760, true, false);
        const auto packed = image.PackedCopy();
        ASSERT_NE(packed, nullptr);
        c.meanwhile(image);
        EXPECT_FALSE(image.Pack(packed));
        EXPECT_FALSE(image.IsPacked());
    }
    KV_MultiImage one = Picture(700, 760, true, false), other = Picture(700, 760, true, false);
    EXPECT_FALSE(other.Pack(one.PackedCopy())) << "another holder's";
    const std::atomic<bool> stop{true};
    EXPECT_EQ(one.PackedCopy(&stop), nullptr);
}
