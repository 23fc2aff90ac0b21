#pragma once
// KV_Array<T>: a contiguous array whose inclusive index range [low, high] is chosen by its
// owner (1-based vectors, 0-based images, row tables of any lower bound). Indexing is
// unchecked. Storage that cannot be allocated is a fatal out-of-memory report.
// KV_Array2D<T>: a contiguous two-dimensional array with four inclusive bounds, stored row
// after row; element (i, j) is reached through a table of row pointers.

#include "foundation/KV_Report.h"

#include <cstdint>
#include <new>

template <typename T>
class KV_Array
{
public:
    KV_Array() = default;
    KV_Array(int low, int high) { Resize(low, high); }
    KV_Array(const KV_Array& other) { *this = other; }
    virtual ~KV_Array() { delete[] mptData; }

    KV_Array& operator=(const KV_Array& other)
    {
        if (&other == this)
            return *this;
        Resize(other.mnLow, other.mnHigh);
        for (unsigned int k = 0; k < munCount; ++k)
            mptData[k] = other.mptData[k];
        return *this;
    }

    // Makes the range [low, high]. With an unchanged element count the storage and its
    // contents stay and only the range moves; otherwise contents are not kept.
    void Resize(int low, int high)
    {
        const std::int64_t count = static_cast<std::int64_t>(high) - low + 1;
        if (count < 0 || count > UINT32_MAX)
            ReportOutOfMemory("KV_Array<T>::Resize()");
        if (static_cast<unsigned int>(count) != munCount)
        {
            delete[] mptData;
            mptData = nullptr;
            munCount = 0;
            if (count > 0)
            {
                mptData = new (std::nothrow) T[static_cast<std::size_t>(count)]();
                if (mptData == nullptr)
                    ReportOutOfMemory("KV_Array<T>::Resize()");
            }
            munCount = static_cast<unsigned int>(count);
        }
        mnLow = low;
        mnHigh = high;
    }

    T& operator[](int i) { return mptData[i - mnLow]; }
    const T& operator[](int i) const { return mptData[i - mnLow]; }

    unsigned int Count() const { return munCount; }
    int Low() const { return mnLow; }
    int High() const { return mnHigh; }
    // The storage of element Low(); null when empty.
    T* Data() { return mptData; }
    const T* Data() const { return mptData; }

private:
    unsigned int munCount = 0;
    T* mptData = nullptr;  // element Low() is mptData[0]
    int mnLow = 0;
    int mnHigh = -1;
};

template <typename T>
class KV_Array2D : public KV_Array<T>
{
public:
    KV_Array2D() = default;
    KV_Array2D(int rowLow, int rowHigh, int colLow, int colHigh)
    {
        SetBounds(rowLow, rowHigh, colLow, colHigh);
    }
    KV_Array2D(const KV_Array2D& other) : KV_Array<T>() { *this = other; }
    ~KV_Array2D() override = default;

    KV_Array2D& operator=(const KV_Array2D& other)
    {
        if (&other == this)
            return *this;
        SetBounds(other.mnRowLow, other.mnRowHigh, other.mnColLow, other.mnColHigh);
        const T* src = other.Data();
        T* dst = this->Data();
        for (unsigned int k = 0; k < this->Count(); ++k)
            dst[k] = src[k];
        return *this;
    }

    void SetBounds(int rowLow, int rowHigh, int colLow, int colHigh)
    {
        if (rowLow == mnRowLow && rowHigh == mnRowHigh && colLow == mnColLow &&
            colHigh == mnColHigh)
            return;
        const std::int64_t rows = static_cast<std::int64_t>(rowHigh) - rowLow + 1;
        const std::int64_t cols = static_cast<std::int64_t>(colHigh) - colLow + 1;
        if (rows < 0 || cols < 0 || rows * cols > INT32_MAX)
            ReportOutOfMemory("KV_Array<T>::Resize()");
        mnRowLow = rowLow;
        mnRowHigh = rowHigh;
        mnColLow = colLow;
        mnColHigh = colHigh;
        mnRows = static_cast<int>(rows);
        mnCols = static_cast<int>(cols);
        const int total = mnRows * mnCols;
        KV_Array<T>::Resize(0, total - 1);
        if (total == 0)
        {
            mkRows.Resize(0, -1);
            return;
        }
        mkRows.Resize(rowLow, rowHigh);
        T* base = this->Data();
        for (int i = rowLow; i <= rowHigh; ++i)
            mkRows[i] = base + static_cast<std::int64_t>(i - rowLow) * mnCols;
    }

    T& operator()(int i, int j) { return mkRows[i][j - mnColLow]; }
    const T& operator()(int i, int j) const { return mkRows[i][j - mnColLow]; }

    // The storage of row i, starting at column ColLow().
    T* Row(int i) { return mkRows[i]; }
    const T* Row(int i) const { return mkRows[i]; }

    int Rows() const { return mnRows; }
    int Cols() const { return mnCols; }
    int RowLow() const { return mnRowLow; }
    int RowHigh() const { return mnRowHigh; }
    int ColLow() const { return mnColLow; }
    int ColHigh() const { return mnColHigh; }

private:
    KV_Array<T*> mkRows;
    int mnRows = 0;
    int mnCols = 0;
    int mnRowLow = 0;
    int mnRowHigh = -1;
    int mnColLow = 0;
    int mnColHigh = -1;
};
