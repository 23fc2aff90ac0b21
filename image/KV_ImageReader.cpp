#include "image/KV_ImageReader.h"

#include "image/KV_MultiImage.h"

#include <png.h>
// jpeglib.h needs size_t and FILE declared before it.
#include <cstdio>
#include <jpeglib.h>
// Hidden as in KV_StbImage.cpp, which holds the implementation.
#define STBIDEF extern __attribute__((visibility("hidden")))
#include <stb/stb_image.h>

#include <csetjmp>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace
{
const char kStopped[] = "stopped";

bool Stopped(const std::atomic<bool>* stop)
{
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

bool SizeAllowed(unsigned long width, unsigned long height, std::string& error)
{
    if (width == 0 || height == 0)
    {
        error = "the picture has no pixels";
        return false;
    }
    if (width > KV_ImageReader::kMaxSide || height > KV_ImageReader::kMaxSide ||
        width * height > KV_ImageReader::kMaxPixels)
    {
        error = "the picture is too large (" + std::to_string(width) + " x " +
                std::to_string(height) + " pixels)";
        return false;
    }
    return true;
}

// Fills a new image of the given kind from top-first packed rows.
void StoreTopFirst(KV_MultiImage& target, const unsigned char* pixels, int width, int height,
                   bool colour)
{
    if (colour)
    {
        auto image = std::make_unique<KV_Image<KV_RGB8>>(height, width);
        for (int row = 0; row < height; ++row)
            std::memcpy(image->Row(height - 1 - row), pixels + std::size_t(row) * width * 3,
                        std::size_t(width) * 3);
        target.SetImage(image.release());
    }
    else
    {
        auto image = std::make_unique<KV_Image<unsigned char>>(height, width);
        for (int row = 0; row < height; ++row)
            std::memcpy(image->Row(height - 1 - row), pixels + std::size_t(row) * width,
                        std::size_t(width));
        target.SetImage(image.release());
    }
}

bool DecodePng(const unsigned char* data, std::size_t size, KV_MultiImage& target,
               std::string& error)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size))
    {
        error = std::string("PNG: ") + image.message;
        return false;
    }
    if (!SizeAllowed(image.width, image.height, error))
    {
        png_image_free(&image);
        return false;
    }
    const bool colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    // Alpha is dropped by compositing on black, which keeps opaque pixels exact.
    image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    const int width = static_cast<int>(image.width);
    const int height = static_cast<int>(image.height);
    const int channels = colour ? 3 : 1;
    if (colour)
    {
        auto pixels = std::make_unique<KV_Image<KV_RGB8>>(height, width);
        // A negative stride stores the rows bottom first from the start of the buffer, as
        // the image keeps them.
        if (!png_image_finish_read(&image, nullptr, pixels->Data(), -channels * width, nullptr))
        {
            error = std::string("PNG: ") + image.message;
            return false;
        }
        target.SetImage(pixels.release());
    }
    else
    {
        auto pixels = std::make_unique<KV_Image<unsigned char>>(height, width);
        if (!png_image_finish_read(&image, nullptr, pixels->Data(), -width, nullptr))
        {
            error = std::string("PNG: ") + image.message;
            return false;
        }
        target.SetImage(pixels.release());
    }
    return true;
}

// libjpeg reports errors by longjmp; what must be released lives outside the function that
// calls setjmp.
struct JpegError
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
};

void OnJpegError(j_common_ptr info)
{
    auto* state = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, state->message);
    std::longjmp(state->jump, 1);
}

void OnJpegMessage(j_common_ptr, int) {}

struct JpegState
{
    jpeg_decompress_struct info;
    JpegError error;
    std::vector<unsigned char> pixels;
};

bool RunJpeg(JpegState& state, const unsigned char* data, std::size_t size, std::string& error,
             const std::atomic<bool>* stop)
{
    if (setjmp(state.error.jump))
    {
        error = std::string("JPEG: ") + state.error.message;
        return false;
    }
    jpeg_create_decompress(&state.info);
    jpeg_mem_src(&state.info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&state.info, TRUE);
    if (state.info.jpeg_color_space == JCS_CMYK || state.info.jpeg_color_space == JCS_YCCK)
    {
        error = "JPEG: CMYK pictures are not supported";
        return false;
    }
    const bool colour = state.info.num_components != 1;
    state.info.out_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
    if (!SizeAllowed(state.info.image_width, state.info.image_height, error))
        return false;
    jpeg_start_decompress(&state.info);
    const std::size_t rowBytes =
        std::size_t(state.info.output_width) * state.info.output_components;
    state.pixels.resize(rowBytes * state.info.output_height);
    while (state.info.output_scanline < state.info.output_height)
    {
        // A large picture takes long enough to decode that a stop is seen on the way.
        if (state.info.output_scanline % 64 == 0 && Stopped(stop))
        {
            error = kStopped;
            return false;
        }
        JSAMPROW row = state.pixels.data() + rowBytes * state.info.output_scanline;
        jpeg_read_scanlines(&state.info, &row, 1);
    }
    jpeg_finish_decompress(&state.info);
    return true;
}

bool DecodeJpeg(const unsigned char* data, std::size_t size, KV_MultiImage& target,
                std::string& error, const std::atomic<bool>* stop)
{
    JpegState state;
    state.info.err = jpeg_std_error(&state.error.manager);
    state.error.manager.error_exit = OnJpegError;
    state.error.manager.emit_message = OnJpegMessage;
    const bool decoded = RunJpeg(state, data, size, error, stop);
    const int width = static_cast<int>(state.info.output_width);
    const int height = static_cast<int>(state.info.output_height);
    const bool colour = state.info.output_components == 3;
    jpeg_destroy_decompress(&state.info);
    if (!decoded)
        return false;
    StoreTopFirst(target, state.pixels.data(), width, height, colour);
    return true;
}

bool DecodeStb(const unsigned char* data, std::size_t size, KV_MultiImage& target,
               std::string& error)
{
    if (size > static_cast<std::size_t>(INT32_MAX))
    {
        error = "the picture file is too large";
        return false;
    }
    int width = 0, height = 0, components = 0;
    const int length = static_cast<int>(size);
    if (!stbi_info_from_memory(data, length, &width, &height, &components))
    {
        error = std::string("not a picture of a known format (") + stbi_failure_reason() + ")";
        return false;
    }
    if (!SizeAllowed(static_cast<unsigned long>(width), static_cast<unsigned long>(height), error))
        return false;
    const bool colour = components >= 3;
    const int wanted = colour ? 3 : 1;
    int w = 0, h = 0, n = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(data, length, &w, &h, &n, wanted), stbi_image_free);
    if (!pixels || w != width || h != height)
    {
        error = std::string("the picture cannot be decoded (") + stbi_failure_reason() + ")";
        return false;
    }
    StoreTopFirst(target, pixels.get(), width, height, colour);
    return true;
}

}  // namespace

bool KV_ImageReader::Decode(const unsigned char* data, std::size_t size, KV_MultiImage& image,
                            std::string& error, const std::atomic<bool>* stop)
{
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (data == nullptr || size == 0)
    {
        error = "the picture file is empty";
        return false;
    }
    if (Stopped(stop))
    {
        error = kStopped;
        return false;
    }
    if (size >= 8 && std::memcmp(data, kPng, 8) == 0)
        return DecodePng(data, size, image, error);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return DecodeJpeg(data, size, image, error, stop);
    return DecodeStb(data, size, image, error);
}

bool KV_ImageReader::ReadFile(const std::string& path, KV_MultiImage& image, std::string& error,
                              const std::atomic<bool>* stop)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
    {
        error = "cannot read the file";
        return false;
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    if (file.bad())
    {
        error = "cannot read the file";
        return false;
    }
    return Decode(bytes.data(), bytes.size(), image, error, stop);
}
