#pragma once
// KV_Vector2D: a texture coordinate (u, v) of two floats. A plain value (no virtual table,
// no heap) so that block lists hold texture coordinates directly.

#include <ostream>

class KV_Vector2D
{
public:
    float u = 0.0f;
    float v = 0.0f;

    KV_Vector2D() = default;
    KV_Vector2D(float au, float av) : u(au), v(av) {}

    // Writes "KV_Vector2D: u v" and ends the line (newline and flush).
    void Dump(std::ostream& os) const { os << "KV_Vector2D: " << u << " " << v << std::endl; }
};
