#include "image/KV_ImageProcessing.h"

#include "foundation/KV_Report.h"

bool CombineChannels(const KV_Image<unsigned char>& red, const KV_Image<unsigned char>& green,
                     const KV_Image<unsigned char>& blue, KV_Image<KV_RGB8>& colour)
{
    const int rows = red.Rows();
    const int cols = red.Cols();
    if (colour.Rows() != rows || colour.Cols() != cols)
        colour.SetSize(rows, cols);
    if (green.Rows() != rows || green.Cols() != cols || blue.Rows() != rows || blue.Cols() != cols)
    {
        ReportMessage("ImageProcessing", "Image Channels are not of the same size");
        return false;
    }
    // An image without columns has no row storage to walk.
    for (int j = 0; cols > 0 && j < rows; ++j)
    {
        const unsigned char* r = red.Row(j);
        const unsigned char* g = green.Row(j);
        const unsigned char* b = blue.Row(j);
        KV_RGB8* out = colour.Row(j);
        for (int i = 0; i < cols; ++i) out[i] = KV_RGB8(r[i], g[i], b[i]);
    }
    return true;
}
