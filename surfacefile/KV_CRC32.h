#pragma once
// KV_CRC32: the checksum of surface files, CRC-32/MPEG-2 (polynomial 0x04C11DB7, register
// initialised to all ones, bytes fed most significant bit first, no reflection, no final
// XOR). Feeding a block followed by its own checksum, most significant byte first, leaves
// the register at 0; version-3 raw files close that way.

#include <atomic>
#include <cstddef>
#include <cstdint>

class KV_CRC32
{
public:
    KV_CRC32() = default;

    void Reset() { munRegister = 0xFFFFFFFFu; }
    void Update(const unsigned char* data, std::size_t count);
    std::uint32_t Value() const { return munRegister; }

    // The checksum of one block, from a fresh register. With stop: fed a few megabytes at a
    // time, false (checksum left unset) as soon as the flag is found set.
    static std::uint32_t Of(const unsigned char* data, std::size_t count);
    static bool Of(const unsigned char* data, std::size_t count, const std::atomic<bool>* stop,
                   std::uint32_t& checksum);

private:
    std::uint32_t munRegister = 0xFFFFFFFFu;
};
