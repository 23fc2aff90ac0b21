#pragma once
// KV_FileBytes: the whole content of a file, read into memory at once, so that the surface
// file readers can walk it with a KV_ByteCursor and both encodings can be tried on one read.

#include "foundation/KV_String.h"

#include <cstddef>
#include <memory>

class KV_FileBytes
{
public:
    // Reads the file. Returns false, holding no bytes, when it cannot be opened or read to
    // its end (a directory, a read error) or when its bytes cannot be allocated.
    bool Load(const KV_String& path);

    const unsigned char* Data() const { return mpData.get(); }
    std::size_t Size() const { return munSize; }

private:
    std::unique_ptr<unsigned char[]> mpData;
    std::size_t munSize = 0;
};
