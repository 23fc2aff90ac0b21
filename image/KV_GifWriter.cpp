#include "image/KV_ColourMap.h"
#include "image/KV_FileOutput.h"
#include "image/KV_ImageWriters.h"

#include <cstdint>

using namespace KV_FileOutput;

namespace
{
const unsigned int kClearCode = 256;
const unsigned int kEndCode = 257;
const unsigned int kCodeBits = 9;
// A clear code after this many pixels keeps the decoder's string table below 512 entries,
// so every code stays 9 bits wide.
const unsigned int kPixelsPerClear = 100;

// Packs 9-bit codes least significant bit first and writes them as GIF data sub-blocks of
// up to 255 bytes. Codes are packed as they come, so the writer needs no more memory than
// one block however large the image.
class GifCodeWriter
{
public:
    explicit GifCodeWriter(std::ofstream& file) : mkFile(file) {}

    void Code(unsigned int code)
    {
        munBits |= static_cast<std::uint32_t>(code) << munBitCount;
        munBitCount += kCodeBits;
        while (munBitCount >= 8)
        {
            Byte(munBits & 0xFF);
            munBits >>= 8;
            munBitCount -= 8;
        }
    }

    // Flushes the last partial byte (zero-filled) and block, then the block terminator.
    void Finish()
    {
        if (munBitCount > 0)
            Byte(munBits & 0xFF);
        munBits = 0;
        munBitCount = 0;
        if (munBlockLength > 0)
            FlushBlock();
        mkFile.put(0);
    }

private:
    void Byte(unsigned int b)
    {
        mkBlock[1 + munBlockLength] = static_cast<unsigned char>(b);
        if (++munBlockLength == 255)
            FlushBlock();
    }

    void FlushBlock()
    {
        mkBlock[0] = static_cast<unsigned char>(munBlockLength);
        mkFile.write(reinterpret_cast<const char*>(mkBlock), munBlockLength + 1);
        munBlockLength = 0;
    }

    std::ofstream& mkFile;
    unsigned char mkBlock[256] = {};  // length byte, then up to 255 data bytes
    unsigned int munBlockLength = 0;
    std::uint32_t munBits = 0;
    unsigned int munBitCount = 0;
};

bool TooLarge(int rows, int cols, const KV_String& fileName)
{
    // Width and height are 16-bit fields.
    if (rows <= 0xFFFF && cols <= 0xFFFF)
        return false;
    Report("File Save Error : ", fileName, " - Image too large for GIF");
    return true;
}

bool OpenGIF(std::ofstream& file, const KV_String& fileName)
{
    return Open(file, fileName, " - Can't open File stream");
}

// Writes everything after the colour table has been decided: header, table, one image of
// the given indices (top row first) and the trailer.
bool WriteGIF(std::ofstream& file, const KV_String& fileName,
              const KV_Image<unsigned char>& indices, const KV_Array<KV_RGB8>& palette)
{
    const unsigned int width = static_cast<unsigned int>(indices.Cols());
    const unsigned int height = static_cast<unsigned int>(indices.Rows());

    Bytes header;
    for (const char* c = "GIF89a"; *c != '\0'; ++c) Put8(header, static_cast<unsigned char>(*c));
    // Logical screen: global table present, 8-bit colour resolution, unsorted, 256 entries.
    Put16(header, width);
    Put16(header, height);
    Put8(header, 0xF7);
    Put8(header, 0);
    Put8(header, 0);
    for (int i = 0; i < 256; ++i)
    {
        const KV_RGB8 entry = i < static_cast<int>(palette.Count()) ? palette[i] : KV_RGB8();
        Put8(header, entry.red);
        Put8(header, entry.green);
        Put8(header, entry.blue);
    }
    // Image descriptor: whole screen, no local table, not interlaced.
    Put8(header, 0x2C);
    Put16(header, 0);
    Put16(header, 0);
    Put16(header, width);
    Put16(header, height);
    Put8(header, 0);
    Put8(header, 8);  // minimum code size: clear 256, end 257, 9-bit codes
    Write(file, header);

    GifCodeWriter codes(file);
    codes.Code(kClearCode);
    unsigned int sinceClear = 0;
    // GIF sends the top row first; row 0 is the bottom of the picture.
    for (int r = indices.Rows() - 1; width > 0 && r >= 0; --r)
    {
        const unsigned char* row = indices.Row(r);
        for (unsigned int c = 0; c < width; ++c)
        {
            codes.Code(row[c]);
            if (++sinceClear == kPixelsPerClear)
            {
                codes.Code(kClearCode);
                sinceClear = 0;
            }
        }
    }
    codes.Code(kEndCode);
    codes.Finish();
    file.put(0x3B);
    return Close(file, fileName);
}
}  // namespace

bool KV_WriteGIF(const KV_Image<KV_RGB8>& image, const KV_String& fileName)
{
    if (TooLarge(image.Rows(), image.Cols(), fileName))
        return false;
    std::ofstream file;
    if (!OpenGIF(file, fileName))
        return false;
    KV_Array<KV_RGB8> palette;
    KV_Image<unsigned char> indices;
    {
        KV_ColourMap colourMap(256);
        colourMap.BuildPalette(image, palette);
        colourMap.MapImage(image, indices);
    }
    return WriteGIF(file, fileName, indices, palette);
}

bool KV_WriteGIF(const KV_Image<unsigned char>& image, const KV_String& fileName)
{
    if (TooLarge(image.Rows(), image.Cols(), fileName))
        return false;
    std::ofstream file;
    if (!OpenGIF(file, fileName))
        return false;
    KV_Array<KV_RGB8> greyRamp(0, 255);
    for (int i = 0; i < 256; ++i)
    {
        const unsigned char v = static_cast<unsigned char>(i);
        greyRamp[i] = KV_RGB8(v, v, v);
    }
    return WriteGIF(file, fileName, image, greyRamp);
}
