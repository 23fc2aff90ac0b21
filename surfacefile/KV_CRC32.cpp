#include "surfacefile/KV_CRC32.h"

#include <algorithm>

#include <isa-l/crc.h>

void KV_CRC32::Update(const unsigned char* data, std::size_t count)
{
    // The library's crc32_ieee is this checksum with the register complemented on the way in
    // and on the way out; it folds with carry-less multiplication where the processor has it,
    // several times faster than eight table look-ups a step.
    if (count != 0)
        munRegister = ~crc32_ieee(~munRegister, data, count);
}

std::uint32_t KV_CRC32::Of(const unsigned char* data, std::size_t count)
{
    KV_CRC32 crc;
    crc.Update(data, count);
    return crc.Value();
}

bool KV_CRC32::Of(const unsigned char* data, std::size_t count, const std::atomic<bool>* stop,
                  std::uint32_t& checksum)
{
    // A multiple of 8, though any piece size gives the same register.
    const std::size_t kPiece = std::size_t(4) << 20;
    KV_CRC32 crc;
    for (std::size_t done = 0; done < count; done += kPiece)
    {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return false;
        crc.Update(data + done, std::min(kPiece, count - done));
    }
    checksum = crc.Value();
    return true;
}
