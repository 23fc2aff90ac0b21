#include "math/KV_Vector.h"

#include <cassert>

KV_Vector& KV_Vector::operator/=(float s)
{
    float* data = Data();
    for (unsigned int k = 0; k < Count(); ++k)
        data[k] /= s;
    return *this;
}

KV_Vector& KV_Vector::operator+=(const KV_Vector& other)
{
    assert(other.Count() == Count());
    float* data = Data();
    const float* add = other.Data();
    for (unsigned int k = 0; k < Count(); ++k)
        data[k] += add[k];
    return *this;
}

int KV_Vector::IndexOfSmallest() const
{
    const float* data = Data();
    unsigned int best = 0;
    for (unsigned int k = 1; k < Count(); ++k)
        if (data[k] < data[best])
            best = k;
    return static_cast<int>(best) + 1;
}
