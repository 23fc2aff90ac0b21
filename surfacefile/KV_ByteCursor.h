#pragma once
// KV_ByteCursor: the one way the surface file readers look at a file's bytes. It walks a
// byte range it does not own, refuses to read or skip past the end, and lets a reader test
// a count against the bytes left before it allocates anything for that count.
//
// A read past the end throws KV_ShortRead; the readers catch it once, at their boundary,
// and treat it as the short read it is. Multi-byte values are little-endian.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

// A read or skip would have passed the end of the bytes.
struct KV_ShortRead
{
};

// The bytes are present but describe something a reader refuses (an impossible size, an
// index width it cannot hold); the file is rejected.
struct KV_BadFile
{
};

// The reader's stop flag was set: it gives up, and the file is not read.
struct KV_ReadStopped
{
};

// Throws KV_ReadStopped when stop is set. The readers' long loops call it once per this many
// elements, which keeps the cost out of sight and the wait for a stop short.
const unsigned int kKV_StopCheckElements = 1u << 16;
inline void KV_ThrowIfStopped(const std::atomic<bool>* stop)
{
    if (stop != nullptr && stop->load(std::memory_order_relaxed))
        throw KV_ReadStopped();
}

inline std::uint32_t KV_LoadU32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint32_t KV_LoadU16(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}

inline float KV_LoadF32(const unsigned char* p)
{
    const std::uint32_t bits = KV_LoadU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// An unsigned index of 1, 2 or 4 bytes, zero-extended.
inline unsigned int KV_LoadIndex(const unsigned char* p, unsigned int width)
{
    switch (width)
    {
    case 1:
        return p[0];
    case 2:
        return KV_LoadU16(p);
    default:
        return KV_LoadU32(p);
    }
}

class KV_ByteCursor
{
public:
    KV_ByteCursor() = default;
    KV_ByteCursor(const unsigned char* data, std::size_t size) : mpData(data), munSize(size) {}

    std::size_t Size() const { return munSize; }
    std::size_t Position() const { return munPosition; }
    std::size_t Remaining() const { return munSize - munPosition; }
    bool AtEnd() const { return munPosition == munSize; }

    // Moves to an absolute offset; an offset beyond the end is a short read.
    void Seek(std::size_t position)
    {
        if (position > munSize)
            throw KV_ShortRead();
        munPosition = position;
    }

    // Throws KV_ShortRead unless count elements of elementSize bytes each remain. The
    // product is formed in 64 bits, so no count wraps around into a small size.
    void Require(std::uint64_t count, std::uint64_t elementSize) const
    {
        if (elementSize != 0 && count > Remaining() / elementSize)
            throw KV_ShortRead();
    }

    // The next n bytes, in place; the cursor moves past them.
    const unsigned char* Take(std::uint64_t n)
    {
        Require(n, 1);
        const unsigned char* p = mpData + munPosition;
        munPosition += static_cast<std::size_t>(n);
        return p;
    }

    void Skip(std::uint64_t n) { Take(n); }

    // The next n bytes as a cursor of their own, which cannot read beyond them.
    KV_ByteCursor Sub(std::uint64_t n)
    {
        const unsigned char* p = Take(n);
        return KV_ByteCursor(p, static_cast<std::size_t>(n));
    }

    unsigned char U8() { return *Take(1); }
    std::uint32_t U32() { return KV_LoadU32(Take(4)); }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }

    const unsigned char* Data() const { return mpData; }

private:
    const unsigned char* mpData = nullptr;
    std::size_t munSize = 0;
    std::size_t munPosition = 0;
};
