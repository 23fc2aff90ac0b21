#pragma once
// Level of detail: a coarse version of a triangle list for drawing while the view moves.
// The coarse triangles index the same elements (positions, normals, texture coordinates)
// as the full list, so no vertex is made and texture coordinates are kept; elements that
// share a position (texture seams) stay joined. meshoptimizer does the simplification;
// nothing outside this folder sees it.

#include <cstddef>
#include <vector>

// Simplifies triangles (three element indices each) over positions (three floats per
// element, elementCount elements) towards targetTriangles. Triangles with an index below 0
// or not below elementCount are left out, not read. Returns the coarse triangles' element
// indices, three per triangle; empty when the list is not larger than targetTriangles or
// holds no usable triangle. Time and memory grow with the list in n log n at worst.
std::vector<unsigned int> KV_SimplifyTriangles(const float* positions, std::size_t elementCount,
                                               const int* triangles, std::size_t triangleCount,
                                               std::size_t targetTriangles);
