#pragma once
// Conversion of the packed float elements shared by both encodings of a surface file:
// vertices (x, y, z) and texture coordinates (u, v), little-endian single precision.

#include "foundation/KV_List.h"
#include "math/KV_Vector2D.h"
#include "math/KV_Vector3D.h"
#include "surfacefile/KV_ByteCursor.h"

template <typename T>
struct KV_PackedElement;

template <>
struct KV_PackedElement<KV_Vector3D>
{
    static constexpr unsigned int kBytes = 12;
    static KV_Vector3D Load(const unsigned char* p)
    {
        return KV_Vector3D(KV_LoadF32(p), KV_LoadF32(p + 4), KV_LoadF32(p + 8));
    }
};

template <>
struct KV_PackedElement<KV_Vector2D>
{
    static constexpr unsigned int kBytes = 8;
    static KV_Vector2D Load(const unsigned char* p) { return KV_Vector2D(KV_LoadF32(p), KV_LoadF32(p + 4)); }
};

// Overwrites elements 0 .. count - 1 of list from count packed elements at p; the caller
// has sized the list and checked that the bytes are there.
template <typename T>
void KV_StorePackedElements(KV_List<T>& list, const unsigned char* p, unsigned long count)
{
    for (unsigned long i = 0; i < count; ++i, p += KV_PackedElement<T>::kBytes)
        list[static_cast<unsigned int>(i)] = KV_PackedElement<T>::Load(p);
}
