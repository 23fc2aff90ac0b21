#pragma once
// KV_Viewport: the window rectangle OpenGL draws into, in pixels from the lower left.

#include "render/KV_OGLObject.h"

class KV_Viewport : public KV_OGLObject
{
public:
    KV_Viewport() = default;
    KV_Viewport(int x, int y, unsigned int width, unsigned int height)
        : munWidth(width), munHeight(height)
    {
        mkLowerLeft[0] = x;
        mkLowerLeft[1] = y;
    }

    // glViewport(x, y, width, height).
    void Apply() const override;
    void Dump(std::ostream& os) const override;

    int mkLowerLeft[2] = {0, 0};
    unsigned int munWidth = 0;
    unsigned int munHeight = 0;
};
