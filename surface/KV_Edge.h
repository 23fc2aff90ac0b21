#pragma once
// KV_Edge: an edge between two vertices, first and second. Edges derived from a surface are
// normalised (first <= second); equality compares first with first and second with second.

class KV_Edge
{
public:
    unsigned int first = 0;
    unsigned int second = 0;

    KV_Edge() = default;
    KV_Edge(unsigned int a, unsigned int b) : first(a), second(b) {}
};

inline bool operator==(const KV_Edge& a, const KV_Edge& b)
{
    return a.first == b.first && a.second == b.second;
}
inline bool operator!=(const KV_Edge& a, const KV_Edge& b)
{
    return !(a == b);
}
