#pragma once
// KV_FileBytes: the whole content of a file, read into memory at once, so that the surface
// file readers can walk it with a KV_ByteCursor and both encodings can be tried on one read.

#include "foundation/KV_String.h"

#include <atomic>
#include <cstddef>

class KV_FileBytes
{
public:
    KV_FileBytes() = default;
    KV_FileBytes(const KV_FileBytes&) = delete;
    KV_FileBytes& operator=(const KV_FileBytes&) = delete;
    ~KV_FileBytes();

    // Reads the file. Returns false, holding no bytes, when it cannot be opened or read to
    // its end (a directory, a read error) or when its bytes cannot be allocated, and with
    // stop, as soon as the flag is found set (it is looked at between pieces of the read).
    bool Load(const KV_String& path, const std::atomic<bool>* stop = nullptr);

    const unsigned char* Data() const { return mpData; }
    std::size_t Size() const { return munSize; }

private:
    // Storage of capacity bytes: large buffers are mapped with all their pages made
    // present at once, which is far cheaper than faulting them in one by one as the read
    // fills them.
    bool Allocate(std::size_t capacity);
    void Release();

    unsigned char* mpData = nullptr;
    std::size_t munSize = 0;
    std::size_t munCapacity = 0;
    bool mbMapped = false;
};
