#pragma once
// KV_ImageReader: decodes a picture file into a texture image. The bytes decide the format,
// never the name: PNG through libpng, JPEG through libjpeg-turbo, and TGA, BMP, GIF (first
// frame), PSD, PNM and PIC through stb_image. Grey pictures become grey images, all others
// colour images; alpha is dropped and 16-bit samples are cut to 8 bits.
//
// Every failure is false with the reason in error, and the image is left as it was: bytes
// of no known format, a damaged or truncated file, a CMYK JPEG, or a picture of more than
// kMaxPixels pixels or a side over kMaxSide (refused before any pixel storage is made, so
// a few bytes cannot claim gigabytes).
//
// With a stop flag, a decode that sees it set returns false with the error "stopped": a
// JPEG looks at it between rows, the other formats before they begin.

#include <atomic>
#include <cstddef>
#include <string>

class KV_MultiImage;

class KV_ImageReader
{
public:
    static const unsigned long kMaxPixels = 1ul << 26;
    static const unsigned int kMaxSide = 32768;

    static bool Decode(const unsigned char* data, std::size_t size, KV_MultiImage& image,
                       std::string& error, const std::atomic<bool>* stop = nullptr);
    // Reads the whole file, then decodes it; a file that cannot be read is "cannot read the
    // file".
    static bool ReadFile(const std::string& path, KV_MultiImage& image, std::string& error,
                         const std::atomic<bool>* stop = nullptr);
};
