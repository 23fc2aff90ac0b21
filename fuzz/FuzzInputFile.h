#pragma once
// The fuzzers of readers that take a path write each input to a scratch file first.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Writes the input whole to path; false (the input is skipped) when it cannot.
inline bool WriteFuzzInput(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}
