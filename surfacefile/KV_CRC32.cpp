#include "surfacefile/KV_CRC32.h"

#include <algorithm>

namespace
{
// entries[0] is the byte table of the checksum: entry i is i shifted into the top byte and
// then shifted left eight times, folding in the polynomial after each shift whose outgoing
// bit was set. entries[k] advances entries[k - 1] by one more zero byte, so that eight bytes
// can be folded in at once (the register's dependency chain, not the table look-ups, bounds
// the speed of the byte-at-a-time loop).
struct CRCTables
{
    std::uint32_t entries[8][256];

    CRCTables()
    {
        for (std::uint32_t i = 0; i < 256; ++i)
        {
            std::uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
            entries[0][i] = r;
        }
        for (int k = 1; k < 8; ++k)
            for (std::uint32_t i = 0; i < 256; ++i)
            {
                const std::uint32_t previous = entries[k - 1][i];
                entries[k][i] = (previous << 8) ^ entries[0][previous >> 24];
            }
    }
};

const CRCTables& Tables()
{
    static const CRCTables tables;
    return tables;
}
}  // namespace

void KV_CRC32::Update(const unsigned char* data, std::size_t count)
{
    const auto& t = Tables().entries;
    std::uint32_t r = munRegister;
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
    {
        const unsigned char* p = data + i;
        r ^= static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
             static_cast<std::uint32_t>(p[2]) << 8 | p[3];
        r = t[7][r >> 24] ^ t[6][(r >> 16) & 0xFF] ^ t[5][(r >> 8) & 0xFF] ^ t[4][r & 0xFF] ^
            t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; i < count; ++i)
        r = (r << 8) ^ t[0][(r >> 24) ^ data[i]];
    munRegister = r;
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
