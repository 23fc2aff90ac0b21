#include "image/KV_FileOutput.h"
#include "image/KV_ImageWriters.h"

#include <cstdint>

using namespace KV_FileOutput;

namespace
{
// Writes the headers and the rows of either kind. bytesPerPixel is 3 (colour, stored blue,
// green, red) or 1 (grey, preceded by a grey palette). rowBytes(r, out) appends row r's
// pixel bytes.
template <typename T, typename RowWriter>
bool WriteBMP(const KV_Image<T>& image, const KV_String& fileName, unsigned int bytesPerPixel,
              RowWriter rowBytes)
{
    const std::uint64_t width = static_cast<std::uint64_t>(image.Cols());
    const std::uint64_t height = static_cast<std::uint64_t>(image.Rows());
    const std::uint64_t pad = (4 - (bytesPerPixel * width) % 4) % 4;
    const std::uint64_t dataSize = height * (bytesPerPixel * width + pad);
    const std::uint32_t dataOffset = bytesPerPixel == 3 ? 54 : 54 + 256 * 4;
    // The size fields are 32-bit: a larger image cannot be described.
    if (dataSize + dataOffset > UINT32_MAX)
    {
        Report("File Save Error : ", fileName, " - Image too large for BMP");
        return false;
    }

    std::ofstream file;
    if (!Open(file, fileName, " - Unable to open output file stream"))
        return false;

    Bytes header;
    header.push_back('B');
    header.push_back('M');
    Put32(header, static_cast<std::uint32_t>(dataOffset + dataSize));
    Put16(header, 0);
    Put16(header, 0);
    Put32(header, dataOffset);
    Put32(header, 40);
    Put32(header, static_cast<std::uint32_t>(width));
    Put32(header, static_cast<std::uint32_t>(height));  // positive: rows run bottom-up
    Put16(header, 1);
    Put16(header, bytesPerPixel * 8);
    Put32(header, 0);
    Put32(header, static_cast<std::uint32_t>(dataSize));
    Put32(header, 2925);
    Put32(header, 2925);
    Put32(header, 0);
    Put32(header, 0);
    if (bytesPerPixel == 1)
    {
        for (unsigned int i = 0; i < 256; ++i)
        {
            Put8(header, i);
            Put8(header, i);
            Put8(header, i);
            Put8(header, 0);
        }
    }
    Write(file, header);

    // Row 0 is the bottom row, which is also the first row of a bottom-up BMP.
    Bytes row;
    for (int r = 0; r < image.Rows(); ++r)
    {
        row.clear();
        if (image.Cols() > 0)  // an image without columns has no row storage
            rowBytes(r, row);
        row.resize(row.size() + pad, 0);
        Write(file, row);
    }
    return Close(file, fileName);
}
}  // namespace

bool KV_WriteBMP(const KV_Image<KV_RGB8>& image, const KV_String& fileName)
{
    return WriteBMP(image, fileName, 3,
                    [&image](int r, Bytes& out)
                    {
                        const KV_RGB8* in = image.Row(r);
                        for (int c = 0; c < image.Cols(); ++c)
                        {
                            out.push_back(in[c].blue);
                            out.push_back(in[c].green);
                            out.push_back(in[c].red);
                        }
                    });
}

bool KV_WriteBMP(const KV_Image<unsigned char>& image, const KV_String& fileName)
{
    return WriteBMP(image, fileName, 1,
                    [&image](int r, Bytes& out)
                    {
                        const unsigned char* in = image.Row(r);
                        out.insert(out.end(), in, in + image.Cols());
                    });
}
