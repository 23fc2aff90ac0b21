#pragma once
// Test helpers: reading written files back, and decoding GIF files with giflib, an
// independent decoder.

#include "tests/support/ScratchPath.h"
#include "image/KV_RGB8.h"

#include <gif_lib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string TmpPath(const std::string& name)
{
    return TestScratchPath(name);
}

inline std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path)
{
    return std::ifstream(path).good();
}

inline std::uint32_t U32At(const std::vector<unsigned char>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

inline unsigned int U16At(const std::vector<unsigned char>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8);
}

struct DecodedGif
{
    bool ok = false;
    int width = 0;
    int height = 0;
    int imageCount = 0;
    std::vector<KV_RGB8> palette;        // the global colour table
    std::vector<unsigned char> indices;  // top row first, as stored in the file

    unsigned char Index(int rowFromTop, int col) const { return indices[rowFromTop * width + col]; }
    KV_RGB8 Pixel(int rowFromTop, int col) const { return palette[Index(rowFromTop, col)]; }
};

inline DecodedGif DecodeGif(const std::string& path)
{
    DecodedGif result;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr)
        return result;
    if (DGifSlurp(gif) == GIF_OK && gif->SColorMap != nullptr && gif->ImageCount >= 1)
    {
        result.ok = true;
        result.width = gif->SWidth;
        result.height = gif->SHeight;
        result.imageCount = gif->ImageCount;
        for (int i = 0; i < gif->SColorMap->ColorCount; ++i)
        {
            const GifColorType& c = gif->SColorMap->Colors[i];
            result.palette.push_back(KV_RGB8(c.Red, c.Green, c.Blue));
        }
        const SavedImage& image = gif->SavedImages[0];
        const size_t count = static_cast<size_t>(image.ImageDesc.Width) * image.ImageDesc.Height;
        result.indices.assign(image.RasterBits, image.RasterBits + count);
    }
    DGifCloseFile(gif, &error);
    return result;
}
