#pragma once
// KV_FileBytes: the whole content of a file, read into memory at once, so that the surface
// file readers can walk it with a KV_ByteCursor and both encodings can be tried on one read.
// A large regular file is mapped instead of copied: its pages are the system's file cache,
// without a copy of its own to clear and fill. Should the file be cut short by another
// program while it is mapped, the pages past its new end read as zeros (instead of ending
// the program) and Changed() says so: whoever read the bytes must then not trust them.

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
    // The mapped file was cut short since Load: some of Data() reads as zeros.
    bool Changed() const;

private:
    // Storage of capacity bytes: large buffers are mapped with all their pages made
    // present at once, which is far cheaper than faulting them in one by one as the read
    // fills them.
    bool Allocate(std::size_t capacity);
    // Maps size bytes of the open file fd; false (nothing held) when it cannot.
    bool MapFile(int fd, std::size_t size);
    void Release();

    unsigned char* mpData = nullptr;
    std::size_t munSize = 0;
    std::size_t munCapacity = 0;
    bool mbMapped = false;
    int mnGuardSlot = -1;  // the mapped file's place among the guarded ranges
};
