#pragma once
// KV_PngWriter: writes a colour image as an 8-bit RGB PNG file (libpng). The image's row 0
// is the bottom of the picture, so rows are written from the top one down.

#include "image/KV_Image.h"

#include <string>

class KV_PngWriter
{
public:
    // Returns false, with the reason in error, when the image is empty, the file cannot be
    // created or libpng fails while writing; a partly written file is removed.
    static bool Write(const KV_Image<KV_RGB8>& image, const char* path, std::string& error);
};
