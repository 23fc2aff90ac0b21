#pragma once
// KV_ScreenPicture: a small picture laid over a finished frame in window pixels (a hint
// text drawn by the application, say), unlit, untextured and in front of everything. The
// OpenGL state it changes (matrices, enables, unpack alignment) is restored afterwards.

#include <vector>

struct KV_ScreenPicture
{
    int mnWidth = 0;
    int mnHeight = 0;
    // Red, green, blue bytes, mnWidth x mnHeight, the bottom row first.
    std::vector<unsigned char> mkPixels;

    bool IsEmpty() const
    {
        return mnWidth <= 0 || mnHeight <= 0 ||
               mkPixels.size() < static_cast<std::size_t>(mnWidth) * mnHeight * 3;
    }
};

// Drawing in window pixels over a finished frame: while it lives, lighting, depth test,
// texturing and blending are off and the matrices map the viewport's pixels (origin at its
// lower left) with unpack alignment 1; all of it, and the enables and pixel-store state
// named by attributes (besides GL_ENABLE_BIT), is restored when it goes.
class KV_WindowPixelScope
{
public:
    KV_WindowPixelScope(int viewportWidth, int viewportHeight, unsigned int attributes);
    ~KV_WindowPixelScope();
    KV_WindowPixelScope(const KV_WindowPixelScope&) = delete;
    KV_WindowPixelScope& operator=(const KV_WindowPixelScope&) = delete;
};

// Draws picture centred in the current viewport; a picture larger than the viewport is
// clipped by it. Must run inside a frame, with the renderer's context current.
void KV_DrawScreenPictureCentred(const KV_ScreenPicture& picture);
