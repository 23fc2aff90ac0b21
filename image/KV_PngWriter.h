#pragma once
// KV_PngWriter: writes an image as an 8-bit PNG (libpng), RGB for colour and grey for grey
// images, losslessly. The image's row 0 is the bottom of the picture, so rows are written
// from the top one down.

#include "image/KV_Image.h"

#include <string>
#include <vector>

class KV_MultiImage;

class KV_PngWriter
{
public:
    // Returns false, with the reason in error, when the image is empty, the file cannot be
    // created or libpng fails while writing; a partly written file is removed.
    static bool Write(const KV_Image<KV_RGB8>& image, const char* path, std::string& error);
    // The held image of either kind; false as above, or when nothing is held.
    static bool Write(const KV_MultiImage& image, const char* path, std::string& error);
    // The PNG file's bytes in memory (for containers that embed the picture); false with the
    // reason when the image is empty or libpng fails. bottomRowFirst writes the picture
    // upside down, for formats whose coordinates count rows from the top.
    static bool Encode(const KV_MultiImage& image, std::vector<unsigned char>& png,
                       std::string& error, bool bottomRowFirst = false);
};
