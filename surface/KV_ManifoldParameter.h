#pragma once
// KV_ManifoldParameter<T>: a list of extra values attached to the elements of a manifold
// surface, with what they are attached to (kind) and two further numbers. Nothing in the
// program gives the kind or the two numbers a meaning; they are copied unchanged.

#include "foundation/KV_List.h"

#include <cstdint>

template <typename T>
class KV_ManifoldParameter
{
public:
    KV_List<T> mkValues{1024};
    std::int32_t mnKind = 0;
    std::int32_t mnFirstValue = 0;
    std::int32_t mnSecondValue = 0;
};
