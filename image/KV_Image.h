#pragma once
// KV_Image<T>: a picture of Rows() x Cols() pixels, indexed image(row, col) from 0.
// Row 0 is the BOTTOM row of the picture (the order OpenGL reads pixels back); writers that
// need the top row first walk the rows from RowHigh() down to 0. Rows are stored one after
// another, so Row(r) points at Cols() contiguous pixels.
// Two kinds are used: KV_Image<KV_RGB8> (colour) and KV_Image<unsigned char> (grey).
// Storage that cannot be allocated is a fatal out-of-memory report of the array.

#include "foundation/KV_Array.h"
#include "image/KV_RGB8.h"

#include <algorithm>

template <typename T>
class KV_Image : public KV_Array2D<T>
{
public:
    KV_Image() = default;
    // An image of rows x cols pixels, all zero (black).
    KV_Image(int rows, int cols) { SetSize(rows, cols); }
    // An image of rows x cols pixels copied from pixels, row after row.
    KV_Image(int rows, int cols, const T* pixels)
    {
        this->SetBounds(0, std::max(rows, 0) - 1, 0, std::max(cols, 0) - 1);
        std::copy(pixels, pixels + this->Count(), this->Data());
    }
    KV_Image(const KV_Image& other) : KV_Array2D<T>(other) {}
    KV_Image& operator=(const KV_Image& other)
    {
        KV_Array2D<T>::operator=(other);
        return *this;
    }
    ~KV_Image() override = default;

    // Makes the image rows x cols with every pixel zero (black), whatever it held before.
    // A negative size counts as 0.
    void SetSize(int rows, int cols)
    {
        rows = std::max(rows, 0);
        cols = std::max(cols, 0);
        this->SetBounds(0, rows - 1, 0, cols - 1);
        // SetBounds keeps the old storage when the pixel count is unchanged.
        std::fill(this->Data(), this->Data() + this->Count(), T());
    }

    bool IsEmpty() const { return this->Rows() == 0 || this->Cols() == 0; }
};

using KV_ColourImage = KV_Image<KV_RGB8>;
using KV_GreyImage = KV_Image<unsigned char>;
