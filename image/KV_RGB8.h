#pragma once
// KV_RGB8: one colour pixel, three bytes in the order red, green, blue and nothing else, so
// that a row of pixels can be handed directly to APIs that expect packed RGB bytes.
// A newly made pixel is black (0, 0, 0).

class KV_RGB8
{
public:
    KV_RGB8() = default;
    KV_RGB8(unsigned char r, unsigned char g, unsigned char b) : red(r), green(g), blue(b) {}

    bool operator==(const KV_RGB8& other) const
    {
        return red == other.red && green == other.green && blue == other.blue;
    }
    bool operator!=(const KV_RGB8& other) const { return !(*this == other); }

    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 0;
};

static_assert(sizeof(KV_RGB8) == 3, "KV_RGB8 must stay three packed bytes");
