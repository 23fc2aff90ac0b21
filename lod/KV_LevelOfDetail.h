#pragma once
// Level of detail: a coarse version of a triangle list for drawing while the view moves.
// The coarse triangles index the same elements (positions, normals, texture coordinates)
// as the full list, so no vertex is made and texture coordinates are kept; elements that
// share a position (texture seams) stay joined. meshoptimizer does the simplification;
// nothing outside this folder sees it.

#include <atomic>
#include <cstddef>
#include <vector>

class KV_Executor;

// Simplifies triangles (three element indices each) over positions (three floats per
// element, elementCount elements) towards targetTriangles. Triangles with an index below 0
// or not below elementCount are left out, not read. Returns the coarse triangles' element
// indices, three per triangle; empty when the list is not larger than targetTriangles or
// holds no usable triangle. Time and working memory grow linearly with the list: beside the
// inputs about 4 bytes per triangle and 4 per element, then what simplifying a list of
// about twice targetTriangles takes. When stop is given and becomes true the work ends
// within a fraction of a second (the last step, over that smaller list, excepted) and the
// result is empty. With an executor the list's pieces are simplified beside each other (a
// few pieces a thread held at once), with the same result.
std::vector<unsigned int> KV_SimplifyTriangles(const float* positions, std::size_t elementCount,
                                               const int* triangles, std::size_t triangleCount,
                                               std::size_t targetTriangles,
                                               const std::atomic<bool>* stop = nullptr,
                                               KV_Executor* executor = nullptr);
// The same over triangles kept in runs of 2^runShift triangles each (triangle t is the three
// indices at runs[t >> runShift] + 3 * (t % 2^runShift); 63 for one run): a list shared in
// pieces. Empty when the runs cannot hold triangleCount triangles.
std::vector<unsigned int> KV_SimplifyTriangleRuns(const float* positions, std::size_t elementCount,
                                                  const std::vector<const int*>& runs,
                                                  unsigned int runShift, std::size_t triangleCount,
                                                  std::size_t targetTriangles,
                                                  const std::atomic<bool>* stop = nullptr,
                                                  KV_Executor* executor = nullptr);
// The same over arrays it is given: each goes as soon as it is no longer needed, before the
// last and largest step of the work.
std::vector<unsigned int> KV_SimplifyTriangles(std::vector<float>&& positions,
                                               std::vector<int>&& triangles,
                                               std::size_t targetTriangles,
                                               const std::atomic<bool>* stop = nullptr,
                                               KV_Executor* executor = nullptr);

// The most triangles a coarse copy is given (the copy is about this size on a machine that
// draws it in time).
constexpr std::size_t kCoarseTriangleLimit = 250000;

// How large the coarse copy of a surface of triangles should be when a full frame of it
// takes fullFrameSeconds: as many triangles as the full surface draws in 1/50 s (a coarse
// triangle costs about twice as much, so about 1/25 s: above 20 frames a second with room to
// spare), at most kCoarseTriangleLimit and at least 20,000. Without a measurement (0 seconds
// or less) the limit.
std::size_t KV_CoarseTriangleTarget(std::size_t triangles, double fullFrameSeconds);
