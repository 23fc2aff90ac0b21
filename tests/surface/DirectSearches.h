#pragma once
// Direct transcriptions of the searches that the surface derivations replace with indexed
// ones: quadratic in the worst case, kept only to check the fast ones against (tests) and to
// time them beside them (bench).

#include "surface/KV_Polygon.h"
#include "surface/KV_SurfaceTopology.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace DirectSearches
{
// The edge pass with a per-vertex open list of higher partners: an edge comes in when its
// partner is not open (and is opened), and closes otherwise. flags marks both ends of every
// edge left open.
inline void EdgePass(unsigned int vertexCount, const KV_List<KV_Polygon>& polygons,
                     std::vector<std::pair<unsigned int, unsigned int>>& edges,
                     std::vector<char>& flags)
{
    std::vector<std::vector<unsigned int>> open(vertexCount);
    for (unsigned int p = 0; p < polygons.Count(); ++p)
    {
        const KV_PolygonView& polygon = polygons[p];
        for (unsigned int j = 0; j < polygon.Count(); ++j)
        {
            const unsigned int a = polygon[j], b = polygon[(j + 1) % polygon.Count()];
            const unsigned int e = std::min(a, b), f = std::max(a, b);
            auto it = std::find(open[e].begin(), open[e].end(), f);
            if (it != open[e].end())
            {
                open[e].erase(it);
                continue;
            }
            open[e].push_back(f);
            edges.push_back({e, f});
        }
    }
    flags.assign(vertexCount, 0);
    for (unsigned int i = 0; i < vertexCount; ++i)
        for (unsigned int f : open[i]) flags[i] = flags[f] = 1;
}

// For i from 1 on, the first edge at or after i that starts where edge i-1 ends is swapped
// into position i.
inline void ChainEdges(std::vector<KV_SurfaceTopology::DirectedEdge>& e)
{
    for (std::size_t i = 1; i < e.size(); ++i)
        for (std::size_t m = i; m < e.size(); ++m)
            if (e[m].first == e[i - 1].second)
            {
                std::swap(e[i], e[m]);
                break;
            }
}
}  // namespace DirectSearches
