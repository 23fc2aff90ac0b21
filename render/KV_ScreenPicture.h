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

// Draws picture centred in the current viewport; a picture larger than the viewport is
// clipped by it. Must run inside a frame, with the renderer's context current.
void KV_DrawScreenPictureCentred(const KV_ScreenPicture& picture);
