#include "lod/KV_LevelOfDetail.h"

#include <meshoptimizer.h>

#include <algorithm>

std::size_t KV_CoarseTriangleTarget(std::size_t triangles, double fullFrameSeconds)
{
    if (!(fullFrameSeconds > 0.0))
        return kCoarseTriangleLimit;
    // A coarse triangle costs about twice a full one (the simplified list has lost the
    // full list's drawing order), so the budget is 1/50 s at the full surface's rate: about
    // 1/25 s in practice, a rate above 20 frames a second with room to spare.
    const double affordable = static_cast<double>(triangles) * (1.0 / 50.0) / fullFrameSeconds;
    return static_cast<std::size_t>(
        std::clamp(affordable, 20000.0, static_cast<double>(kCoarseTriangleLimit)));
}

std::vector<unsigned int> KV_SimplifyTriangles(const float* positions, std::size_t elementCount,
                                               const int* triangles, std::size_t triangleCount,
                                               std::size_t targetTriangles)
{
    std::vector<unsigned int> coarse;
    if (positions == nullptr || triangles == nullptr || triangleCount <= targetTriangles)
        return coarse;
    std::vector<unsigned int> indices;
    indices.reserve(triangleCount * 3);
    for (std::size_t t = 0; t < triangleCount; ++t)
    {
        const int* corner = triangles + 3 * t;
        bool usable = true;
        for (int k = 0; k < 3; ++k)
            usable = usable && corner[k] >= 0 && static_cast<std::size_t>(corner[k]) < elementCount;
        if (usable)
            for (int k = 0; k < 3; ++k) indices.push_back(static_cast<unsigned int>(corner[k]));
    }
    if (indices.size() / 3 <= targetTriangles)
        return coarse;

    const std::size_t targetIndices = targetTriangles * 3;
    coarse.resize(indices.size());
    // Shape first: the edge-collapsing simplifier keeps outlines and seams, but stops where
    // the error would pass a few percent of the surface's size.
    std::size_t count =
        meshopt_simplify(coarse.data(), indices.data(), indices.size(), positions, elementCount,
                         3 * sizeof(float), targetIndices, 0.02f, 0, nullptr);
    // Too many triangles left to be any faster: the sloppy simplifier always gets there.
    if (count > targetIndices * 3 / 2)
        count =
            meshopt_simplifySloppy(coarse.data(), indices.data(), indices.size(), positions,
                                   elementCount, 3 * sizeof(float), targetIndices, 0.05f, nullptr);
    coarse.resize(count);
    coarse.shrink_to_fit();
    return coarse;
}
