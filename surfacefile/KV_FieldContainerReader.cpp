#include "surfacefile/KV_FieldContainerReader.h"

#include "surfacefile/KV_CRC32.h"
#include "surfacefile/KV_FileBytes.h"

#include <cstdint>
#include <cstring>

namespace
{
const char kSignature[] = "Universal Field Container";
const std::size_t kSignatureOffset = 16;
const std::size_t kSignatureBytes = 26;

enum class Field
{
    Vertices,
    Triangles,
    Polygons,
    TextureCoordinates,
    TextureTriangles,
    TexturePolygons,
    TextureMap,
    OverallChecksum,
    Unknown
};

// A stored string: u32 length L, then L bytes; the text ends at the first zero byte or,
// when there is none, after all L bytes.
struct StoredString
{
    const char* text;
    std::size_t length;
};

StoredString ReadString(KV_ByteCursor& stream)
{
    const std::uint32_t stored = stream.U32();
    const char* bytes = reinterpret_cast<const char*>(stream.Take(stored));
    const void* zero = std::memchr(bytes, 0, stored);
    return {bytes, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes) : stored};
}

Field FieldNamed(const StoredString& name)
{
    static const struct
    {
        const char* name;
        Field field;
    } known[] = {{"Vertices", Field::Vertices},
                 {"Triangles", Field::Triangles},
                 {"Polygons", Field::Polygons},
                 {"TextureCoordinates", Field::TextureCoordinates},
                 {"TextureTriangles", Field::TextureTriangles},
                 {"TexturePolygons", Field::TexturePolygons},
                 {"TextureMap", Field::TextureMap},
                 {"Overall Checksum", Field::OverallChecksum}};
    for (const auto& k : known)
        if (std::strlen(k.name) == name.length && std::memcmp(k.name, name.text, name.length) == 0)
            return k.field;
    return Field::Unknown;
}
}  // namespace

KV_FieldContainerReader::KV_FieldContainerReader(KV_TexturedPolySurface& surface)
    : mkSurface(surface), mkComponentTypes(3), mkComponentSizes(3), mkExtents(3)
{
}

KV_ChecksumState KV_FieldContainerReader::Checksum() const
{
    if (!mbChecksumPresent)
        return KV_ChecksumState::Absent;
    return mbChecksumMatched ? KV_ChecksumState::Matched : KV_ChecksumState::Mismatched;
}

bool KV_FieldContainerReader::Read(const KV_String& path)
{
    mbStopped = false;
    KV_FileBytes file;
    if (!file.Load(path, mpStop))
    {
        mbStopped = mpStop != nullptr && mpStop->load();
        return false;
    }
    const bool read = Read(file.Data(), file.Size());
    // Cut short by another program meanwhile: the bytes read are not the file's.
    return read && !file.Changed();
}

bool KV_FieldContainerReader::Read(const unsigned char* data, std::size_t size)
{
    mpFile = data;
    munFileSize = size;
    mbChecksumMatched = false;
    mbChecksumPresent = false;
    munElementsDeclared = 0;
    mbSignatureFound = false;
    mbStopped = false;

    // Compared as a zero-terminated string: the byte after the 25 characters must be zero.
    if (size < kSignatureOffset + kSignatureBytes ||
        std::memcmp(data + kSignatureOffset, kSignature, kSignatureBytes) != 0)
        return false;
    mbSignatureFound = true;

    KV_ByteCursor stream(data, size);
    try
    {
        stream.Seek(stream.U32());
        ReadEntries(stream);
    }
    catch (const KV_ShortRead&)
    {
        // The file ended inside an entry (or a count reached past its end): the fields
        // read so far stand.
    }
    catch (const KV_BadFile&)
    {
        SettleChecksum();
        return false;
    }
    catch (const KV_ReadStopped&)
    {
        mbStopped = true;
        return false;
    }
    SettleChecksum();
    return !mbStopped;
}

void KV_FieldContainerReader::SettleChecksum()
{
    if (!mbChecksumPresent)
        return;
    // A covered length beyond the file stops at its end.
    const std::size_t length = munChecksumCovered < munFileSize ? munChecksumCovered : munFileSize;
    std::uint32_t checksum = 0;
    if (!KV_CRC32::Of(mpFile, length, mpStop, checksum))
    {
        mbStopped = true;
        return;
    }
    mbChecksumMatched = checksum == munChecksumExpected;
}

void KV_FieldContainerReader::ReadEntries(KV_ByteCursor& stream)
{
    // Every entry takes at least its 12-byte header, so the walk always ends.
    while (!stream.AtEnd())
    {
        KV_ThrowIfStopped(mpStop);
        stream.U32();  // entry words 1 and 2 are not interpreted
        stream.U32();
        if (stream.U32() != 0)
            continue;  // skip word: the entry ends here
        const Field field = FieldNamed(ReadString(stream));
        const std::uint32_t flag = stream.U32();
        ReadString(stream);  // description

        // Entries that are not read carry no body here: the next entry header follows the
        // description directly.
        if (field == Field::OverallChecksum)
        {
            VerifyChecksum(stream);
            continue;
        }
        if (flag != 0)
            continue;
        switch (field)
        {
        case Field::Vertices:
            ReadVertices(stream);
            break;
        case Field::Triangles:
            ReadTriangles(stream, false);
            break;
        case Field::Polygons:
            ReadPolygons(stream, false);
            break;
        case Field::TextureCoordinates:
            ReadTextureCoordinates(stream);
            break;
        case Field::TextureTriangles:
            ReadTriangles(stream, true);
            break;
        case Field::TexturePolygons:
            ReadPolygons(stream, true);
            break;
        case Field::TextureMap:
            ReadTextureMap(stream);
            break;
        default:
            break;
        }
    }
}

unsigned int KV_FieldContainerReader::ReadFieldRecord(KV_ByteCursor& stream)
{
    stream.Skip(stream.U32());  // layout text

    const std::uint32_t m = stream.U32();
    stream.Require(m, 2);
    mkComponentTypes.SetCount(m);
    mkComponentSizes.SetCount(m);
    std::uint64_t componentBytes = 0;
    const unsigned char* pairs = stream.Take(2ull * m);
    for (std::uint32_t i = 0; i < m; ++i)
    {
        mkComponentTypes[i] = pairs[2 * i];
        mkComponentSizes[i] = pairs[2 * i + 1];
        componentBytes += pairs[2 * i + 1];
    }

    const std::uint32_t k = stream.U32();
    stream.Require(k, 4);
    mkExtents.SetCount(k);
    const unsigned char* extents = stream.Take(4ull * k);
    // The size must fit 32 bits: a product that would wrap is refused, not wrapped. Past
    // 2^32 the running product is held at 2^32, so that it cannot wrap in 64 bits either;
    // a zero factor still makes the true size 0.
    const std::uint64_t tooLarge = 1ull << 32;
    std::uint64_t size = componentBytes < tooLarge ? componentBytes : tooLarge;
    for (std::uint32_t i = 0; i < k; ++i)
    {
        mkExtents[i] = KV_LoadU32(extents + 4 * i);
        size *= mkExtents[i];
        if (size > tooLarge)
            size = tooLarge;
    }
    if (size == tooLarge)
        throw KV_BadFile();
    return static_cast<unsigned int>(size);
}

KV_ByteCursor KV_FieldContainerReader::ReadFieldData(KV_ByteCursor& stream, unsigned int size)
{
    munBytesLeft = stream.Remaining();
    KV_ByteCursor data = stream.Sub(size);
    stream.Skip(stream.U8());  // padding
    stream.U32();              // trailer word
    return data;
}

void KV_FieldContainerReader::VerifyChecksum(KV_ByteCursor& stream)
{
    const unsigned int size = ReadFieldRecord(stream);
    KV_ByteCursor data = ReadFieldData(stream, size);
    // Values the field's data cannot supply stay at zero.
    std::uint32_t covered = 0;
    std::uint32_t expected = 0;
    if (data.Remaining() >= 4)
        covered = data.U32();
    if (data.Remaining() >= 4)
        expected = data.U32();
    mbChecksumPresent = true;
    munChecksumCovered = covered;
    munChecksumExpected = expected;
}
