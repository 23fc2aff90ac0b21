#pragma once
// KV_PolygonIndexList: the polygons a geometry draws one way (selected or not), as polygon
// indices in increasing order. While it holds 0, 1, ..., n - 1 (every polygon, the usual case
// after loading) it is that count alone; the first index off that run writes the run out into
// a list, once. A 16M-triangle surface would otherwise hold 64 MB of consecutive numbers.

#include "foundation/KV_List.h"

class KV_PolygonIndexList
{
public:
    KV_PolygonIndexList() : mkIndices(1024) {}

    unsigned int Count() const { return mbRun ? munRunCount : mkIndices.Count(); }
    unsigned int operator[](unsigned int i) const { return mbRun ? i : mkIndices[i]; }
    // True while the list is 0, 1, ..., Count() - 1 (an empty list included).
    bool IsRun() const { return mbRun; }

    void Append(unsigned int index)
    {
        if (mbRun && index == munRunCount)
        {
            ++munRunCount;
            return;
        }
        if (mbRun)
        {
            for (unsigned int i = 0; i < munRunCount; ++i) mkIndices.Append(i);
            mbRun = false;
        }
        mkIndices.Append(index);
    }
    // The list of every polygon below count.
    void SetRun(unsigned int count)
    {
        Clear();
        munRunCount = count;
    }
    void Clear()
    {
        mkIndices.Clear();
        mbRun = true;
        munRunCount = 0;
    }

private:
    KV_List<unsigned int> mkIndices;
    unsigned int munRunCount = 0;
    bool mbRun = true;
};
