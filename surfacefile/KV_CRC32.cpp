#include "surfacefile/KV_CRC32.h"

namespace
{
struct CRCTable
{
    std::uint32_t entries[256];

    CRCTable()
    {
        for (std::uint32_t i = 0; i < 256; ++i)
        {
            std::uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
            entries[i] = r;
        }
    }
};

const CRCTable& Table()
{
    static const CRCTable table;
    return table;
}
}  // namespace

void KV_CRC32::Update(const unsigned char* data, std::size_t count)
{
    const std::uint32_t* table = Table().entries;
    std::uint32_t r = munRegister;
    for (std::size_t i = 0; i < count; ++i)
        r = (r << 8) ^ table[(r >> 24) ^ data[i]];
    munRegister = r;
}

std::uint32_t KV_CRC32::Of(const unsigned char* data, std::size_t count)
{
    KV_CRC32 crc;
    crc.Update(data, count);
    return crc.Value();
}
