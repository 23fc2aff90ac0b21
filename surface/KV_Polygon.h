#pragma once
// KV_Polygon: the vertex indices of one polygon, in order around the polygon. Its own type
// only so that polygon lists say what they hold; a new polygon grows in blocks of 4 indices.

#include "foundation/KV_List.h"

class KV_Polygon : public KV_List<unsigned int>
{
public:
    explicit KV_Polygon(unsigned int blockSize = 4) : KV_List<unsigned int>(blockSize) {}
};

// KV_List has no virtual destructor: a derived list must stay a list and nothing more.
static_assert(sizeof(KV_Polygon) == sizeof(KV_List<unsigned int>), "KV_Polygon adds no members");
