#pragma once
// KV_Boundary: one closed boundary loop of a surface, each vertex index listed once, in the
// direction of the polygons that border it; the step from the last index back to the first
// is implied. A new loop grows in blocks of 256 indices.

#include "foundation/KV_List.h"

class KV_Boundary : public KV_List<unsigned int>
{
public:
    explicit KV_Boundary(unsigned int blockSize = 256) : KV_List<unsigned int>(blockSize) {}
};

// KV_List has no virtual destructor: a derived list must stay a list and nothing more.
static_assert(sizeof(KV_Boundary) == sizeof(KV_List<unsigned int>), "KV_Boundary adds no members");
