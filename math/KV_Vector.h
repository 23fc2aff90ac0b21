#pragma once
// KV_Vector: a float vector indexed 1..N, as the numerical routines index it. Indexing is
// unchecked; a vector of length 0 owns no storage. Storage that cannot be allocated is a
// fatal "KV_Array<T>::Resize()" report.

#include "foundation/KV_Array.h"

class KV_Vector : public KV_Array<float>
{
public:
    KV_Vector() = default;
    // Elements start at zero.
    explicit KV_Vector(int length) { Resize(length); }
    KV_Vector(const KV_Vector& other) = default;
    KV_Vector& operator=(const KV_Vector& other) = default;
    ~KV_Vector() override = default;

    // Makes the range [1, length]; contents stay only when the length is unchanged. Hides the
    // two-bound resize of the array so that the range always starts at 1.
    void Resize(int length) { KV_Array<float>::Resize(1, length); }
    int Length() const { return static_cast<int>(Count()); }

    KV_Vector& operator/=(float s);
    // Requires a vector of the same length.
    KV_Vector& operator+=(const KV_Vector& other);

    // The index of the smallest element, the first of equal ones; 1 for an empty vector.
    // A NaN element is never taken as smaller.
    int IndexOfSmallest() const;
};
