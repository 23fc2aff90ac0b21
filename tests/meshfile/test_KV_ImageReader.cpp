// Picture decoding: PNG written and read back (orientation, both kinds), real JPEG and TGA
// files, and broken or oversized pictures refused.

#include "image/KV_ImageReader.h"
#include "image/KV_MultiImage.h"
#include "image/KV_PngWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

TEST(ImageReader, PngRoundTripKeepsPixelsOrientationAndKind)
{
    KV_MultiImage colour;
    auto* picture = new KV_Image<KV_RGB8>(3, 5);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 5; ++c) (*picture)(r, c) = KV_RGB8(r * 80, c * 50, 255 - r * c);
    colour.SetImage(picture);
    KV_MultiImage grey;
    auto* greyPicture = new KV_Image<unsigned char>(2, 4);
    for (int i = 0; i < 8; ++i) greyPicture->Data()[i] = static_cast<unsigned char>(i * 30);
    grey.SetImage(greyPicture);

    for (const KV_MultiImage* source : {&colour, &grey})
    {
        std::vector<unsigned char> png;
        std::string error;
        ASSERT_TRUE(KV_PngWriter::Encode(*source, png, error)) << error;
        KV_MultiImage back;
        ASSERT_TRUE(KV_ImageReader::Decode(png.data(), png.size(), back, error)) << error;
        ASSERT_EQ(back.IsColour(), source->IsColour());
        ASSERT_EQ(back.Rows(), source->Rows());
        ASSERT_EQ(back.Cols(), source->Cols());
        if (source->IsColour())
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 5; ++c)
                    EXPECT_EQ((*back.ColourImage())(r, c), (*source->ColourImage())(r, c));
        else
            for (int i = 0; i < 8; ++i)
                EXPECT_EQ(back.GreyImage()->Data()[i], source->GreyImage()->Data()[i]);

        // Every truncation of the file before its closing chunk (12 bytes) is refused, and
        // the image held stays.
        for (std::size_t cut = 0; cut + 12 < png.size(); cut += 3)
        {
            KV_MultiImage kept;
            kept.SetImage(new KV_Image<unsigned char>(1, 1));
            EXPECT_FALSE(KV_ImageReader::Decode(png.data(), cut, kept, error)) << cut;
            EXPECT_EQ(kept.Rows(), 1);
        }
    }
}

TEST(ImageReader, RefusesPicturesLargerThanTheLimitBeforeDecoding)
{
    // A PNG header of 40000 x 40000 pixels with nothing after it.
    const unsigned char header[] = {0x89, 'P',  'N', 'G', '\r', '\n', 0x1A, '\n', 0,    0,    0,
                                    13,   'I',  'H', 'D', 'R',  0,    0,    0x9C, 0x40, 0,    0,
                                    0x9C, 0x40, 8,   2,   0,    0,    0,    0x8C, 0x5B, 0x6B, 0x8F};
    KV_MultiImage image;
    std::string error;
    EXPECT_FALSE(KV_ImageReader::Decode(header, sizeof header, image, error));
    EXPECT_FALSE(image.HasImage());
    EXPECT_FALSE(KV_ImageReader::Decode(reinterpret_cast<const unsigned char*>("not a picture"), 13,
                                        image, error));
    EXPECT_NE(error.find("known format"), std::string::npos) << error;
}

TEST(ImageReader, RealJpegAndTgaFiles)
{
    const std::string folder = "/usr/share/assimp/models/Collada/";
    if (!std::filesystem::exists(folder + "duckCM.tga"))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    for (const char* name : {"duckCM.tga", "duck_sample.jpg"})
    {
        SCOPED_TRACE(name);
        KV_MultiImage image;
        std::string error;
        ASSERT_TRUE(KV_ImageReader::ReadFile(folder + name, image, error)) << error;
        EXPECT_TRUE(image.IsColour());
        EXPECT_GT(image.Rows(), 0);
        // A set stop flag ends the decode with "stopped" and leaves the image held.
        const std::atomic<bool> stop{true};
        KV_MultiImage kept;
        kept.SetImage(new KV_Image<unsigned char>(1, 1));
        EXPECT_FALSE(KV_ImageReader::ReadFile(folder + name, kept, error, &stop));
        EXPECT_EQ(error, "stopped");
        EXPECT_EQ(kept.Rows(), 1);
    }
    KV_MultiImage image;
    std::string error;
    ASSERT_TRUE(KV_ImageReader::ReadFile(folder + "duckCM.tga", image, error));
    EXPECT_EQ(image.Cols(), 512);
    EXPECT_EQ(image.Rows(), 512);
}
