#pragma once
// KV_Counted: a count with its noun, singular for one ("1 vertex", "2 vertices"), for the
// reasons and summaries that name how many of something a file holds.

#include <string>

inline std::string KV_Counted(unsigned long long count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}
