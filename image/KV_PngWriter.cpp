#include "image/KV_PngWriter.h"

#include "image/KV_MultiImage.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace
{
// libpng reports errors by longjmp; everything that must be released lives outside the
// function that calls setjmp.
struct PngWriteState
{
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_bytep> rows;
    char message[256] = "";
};

void OnPngError(png_structp png, png_const_charp text)
{
    auto* state = static_cast<PngWriteState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", text);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

bool WriteRows(PngWriteState& state, const KV_Image<KV_RGB8>& image)
{
    if (setjmp(png_jmpbuf(state.png)))
        return false;
    png_init_io(state.png, state.file);
    png_set_IHDR(state.png, state.info, static_cast<png_uint_32>(image.Cols()),
                 static_cast<png_uint_32>(image.Rows()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(state.png, state.info);
    png_write_image(state.png, state.rows.data());
    png_write_end(state.png, nullptr);
    return true;
}
}  // namespace

bool KV_PngWriter::Write(const KV_Image<KV_RGB8>& image, const char* path, std::string& error)
{
    if (image.IsEmpty())
    {
        error = "the picture is empty";
        return false;
    }
    PngWriteState state;
    state.file = std::fopen(path, "wb");
    if (state.file == nullptr)
    {
        error = "cannot create the file";
        return false;
    }
    state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
    if (state.png != nullptr)
        state.info = png_create_info_struct(state.png);
    for (int r = image.RowHigh(); r >= 0; --r)
        state.rows.push_back(reinterpret_cast<png_bytep>(const_cast<KV_RGB8*>(image.Row(r))));

    bool written = state.png != nullptr && state.info != nullptr && WriteRows(state, image);
    if (state.png != nullptr)
        png_destroy_write_struct(&state.png, state.info != nullptr ? &state.info : nullptr);
    if (std::fclose(state.file) != 0)
        written = false;
    if (!written)
    {
        error = state.message[0] != '\0' ? state.message : "writing failed";
        std::remove(path);
    }
    return written;
}

namespace
{
// The simplified libpng interface takes the pixels as one block; a negative row stride says
// that the block holds the bottom row first, as the image does.
bool DescribeImage(const KV_MultiImage& source, png_image& image, const void*& pixels,
                   png_int_32& stride, std::string& error)
{
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (source.ColourImage() != nullptr && !source.ColourImage()->IsEmpty())
    {
        const KV_Image<KV_RGB8>& colour = *source.ColourImage();
        image.width = static_cast<png_uint_32>(colour.Cols());
        image.height = static_cast<png_uint_32>(colour.Rows());
        image.format = PNG_FORMAT_RGB;
        pixels = colour.Data();
        stride = -3 * colour.Cols();
        return true;
    }
    if (source.GreyImage() != nullptr && !source.GreyImage()->IsEmpty())
    {
        const KV_Image<unsigned char>& grey = *source.GreyImage();
        image.width = static_cast<png_uint_32>(grey.Cols());
        image.height = static_cast<png_uint_32>(grey.Rows());
        image.format = PNG_FORMAT_GRAY;
        pixels = grey.Data();
        stride = -grey.Cols();
        return true;
    }
    error = "the picture is empty";
    return false;
}
}  // namespace

bool KV_PngWriter::Write(const KV_MultiImage& source, const char* path, std::string& error)
{
    std::vector<unsigned char> png;
    if (!Encode(source, png, error))
        return false;
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
    {
        error = "cannot create the file";
        return false;
    }
    bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    written = std::fclose(file) == 0 && written;
    if (!written)
    {
        error = "writing failed";
        std::remove(path);
    }
    return written;
}

bool KV_PngWriter::Encode(const KV_MultiImage& source, std::vector<unsigned char>& png,
                          std::string& error, bool bottomRowFirst)
{
    png_image image;
    const void* pixels = nullptr;
    png_int_32 stride = 0;
    if (!DescribeImage(source, image, pixels, stride, error))
        return false;
    if (bottomRowFirst)
        stride = -stride;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, pixels, stride, nullptr))
    {
        error = image.message;
        png_image_free(&image);
        return false;
    }
    png.resize(size);
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, pixels, stride, nullptr))
    {
        error = image.message;
        png_image_free(&image);
        return false;
    }
    png.resize(size);
    return true;
}
