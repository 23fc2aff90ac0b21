#include "surfacefile/KV_RawSurfaceReader.h"

#include "foundation/KV_Executor.h"
#include "image/KV_MultiImage.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_CRC32.h"
#include "surfacefile/KV_FileBytes.h"
#include "surfacefile/KV_SurfaceElements.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace
{
const std::uint32_t kMaxHeaderText = 1024;
const unsigned int kMaxPolygonVertices = 16;
const std::size_t kVersion1HeaderRest = 94 + 2;
const char kTag[4] = {'K', 'V', '0', '1'};
// Below this a piece of its own for the checksum costs more than it saves.
const std::size_t kConcurrentChecksumBytes = std::size_t(4) << 20;

bool IsSet(const std::atomic<bool>* flag)
{
    return flag != nullptr && flag->load(std::memory_order_relaxed);
}

// Sets the flag when it goes out of scope.
struct RaiseOnExit
{
    std::atomic<bool>& flag;
    ~RaiseOnExit() { flag = true; }
};
}  // namespace

// The pixels of the file's picture, copied out of its bytes.
struct KV_RawSurfaceReader::TexturePixels
{
    std::unique_ptr<KV_Image<KV_RGB8>> colour;
    std::unique_ptr<KV_Image<unsigned char>> grey;
};

KV_RawSurfaceReader::TexturePixels KV_RawSurfaceReader::CopyPixels(const TextureHead& head)
{
    TexturePixels pixels;
    const int rows = static_cast<int>(head.rows), columns = static_cast<int>(head.columns);
    if (head.kind == 3)
        pixels.colour = std::make_unique<KV_Image<KV_RGB8>>(
            rows, columns, reinterpret_cast<const KV_RGB8*>(head.bytes));
    else
        pixels.grey = std::make_unique<KV_Image<unsigned char>>(rows, columns, head.bytes);
    return pixels;
}

KV_RawSurfaceReader::KV_RawSurfaceReader(KV_TexturedPolySurface& surface) : mkSurface(surface) {}

bool KV_RawSurfaceReader::HasRawExtension(const KV_String& path)
{
    KV_String extension = path.Right(3);
    extension.MakeLower();
    return extension == "osf";
}

bool KV_RawSurfaceReader::Read(const KV_String& path)
{
    mnVersion = -1;
    meIntegrity = KV_ChecksumState::Absent;
    mbStopped = false;
    if (!HasRawExtension(path))
        return false;
    mkSurface.Clear();
    KV_FileBytes file;
    if (!file.Load(path, mpStop))
    {
        mbStopped = IsSet(mpStop);
        return false;
    }
    const bool read = Read(file.Data(), file.Size());
    // Cut short by another program meanwhile: the bytes read are not the file's.
    if (!file.Changed())
        return read;
    mkSurface.Clear();
    return false;
}

bool KV_RawSurfaceReader::Read(const unsigned char* data, std::size_t size)
{
    mnVersion = -1;
    meIntegrity = KV_ChecksumState::Absent;
    munFailedAt = 0;
    mbTruncated = false;
    mbStopped = false;
    mkSurface.Clear();
    KV_ByteCursor stream(data, size);
    // The checksum of a large file is a piece of its own while the lists are read. On a way
    // out without its answer it is told to give up (the guard below goes before the task,
    // which then waits for it, so data outlives it).
    std::atomic<bool> leaving{false};
    KV_Task<bool> integrity;
    const RaiseOnExit leave{leaving};
    try
    {
        ReadHeader(stream);
        if (mnVersion >= 3 && size >= kConcurrentChecksumBytes && mpExecutor != nullptr)
            integrity = KV_Spawn(mpExecutor, [data, size, stop = mpStop, &leaving]
                                 { return IntegrityHolds(data, size, stop, &leaving); });
        KV_List<KV_Polygon>& polygons = KV_Ensure(mkSurface.mpPolygons, 1024);
        // The polygons of a large file are a piece of their own while this thread goes on
        // from the block after them, found by a pass over their count bytes. A block that
        // would fail is read here, in file order, so that the failure is the same.
        KV_Task<void> first;
        KV_ByteCursor after = stream;
        if (mpExecutor != nullptr && size >= kConcurrentChecksumBytes && SkipPolygonBlock(after))
        {
            first = KV_Spawn(mpExecutor, [this, block = stream, &polygons]() mutable
                             { ReadPolygonBlock(block, polygons); });
            stream = after;
        }
        else
        {
            ReadPolygonBlock(stream, polygons);
        }
        // The picture of a large file, past the blocks between, is copied on a piece of its
        // own while this thread reads them. A file whose blocks up to the picture do not all
        // parse has it read here, in file order.
        // So are the texture coordinates and the vertices after the texture polygons (read
        // here meanwhile), once their counts are found to fit the file.
        KV_Task<TexturePixels> picture;
        KV_Task<void> lists;
        KV_ByteCursor textureAt = stream;
        if (first.Valid())
        {
            KV_ByteCursor ahead = stream;
            TextureHead head;
            if (SkipPolygonBlock(ahead))
            {
                const KV_ByteCursor listsAt = ahead;
                if (SkipPackedElements<KV_Vector2D>(ahead) &&
                    SkipPackedElements<KV_Vector3D>(ahead))
                {
                    KV_List<KV_Vector2D>& coordinates =
                        KV_Ensure(mkSurface.mpTextureCoordinates, 256);
                    KV_List<KV_Vector3D>& vertices = KV_Ensure(mkSurface.mpVertices, 1024);
                    lists = KV_Spawn(mpExecutor,
                                     [this, block = listsAt, &coordinates, &vertices]() mutable
                                     {
                                         ReadPackedElements(block, coordinates);
                                         ReadPackedElements(block, vertices);
                                     });
                    textureAt = ahead;
                    if (PeekTexture(ahead, head) &&
                        head.rows * head.columns * head.kind >= kConcurrentChecksumBytes)
                        picture = KV_Spawn(mpExecutor, [head] { return CopyPixels(head); });
                }
            }
        }
        try
        {
            ReadPolygonBlock(stream, KV_Ensure(mkSurface.mpTexturePolygons, 1024));
            if (lists.Valid())
            {
                lists.Get();
                stream = textureAt;
            }
            else
            {
                ReadPackedElements(stream, KV_Ensure(mkSurface.mpTextureCoordinates, 256));
                ReadPackedElements(stream, KV_Ensure(mkSurface.mpVertices, 1024));
            }
            ReadTexture(stream, picture.Valid() ? &picture : nullptr);
        }
        catch (...)
        {
            lists.Abandon();
            picture.Abandon();
            // What the polygons met comes first, as it would in file order.
            if (first.Valid())
                first.Get();
            throw;
        }
        if (first.Valid())
            first.Get();
    }
    catch (const KV_ShortRead&)
    {
        munFailedAt = stream.Position();
        mbTruncated = true;
        return false;
    }
    catch (const KV_BadFile&)
    {
        munFailedAt = stream.Position();
        return false;
    }
    catch (const KV_ReadStopped&)
    {
        mbStopped = true;
        return false;
    }

    if (mnVersion >= 3)
    {
        const bool holds =
            integrity.Valid() ? integrity.Get() : IntegrityHolds(data, size, mpStop, nullptr);
        if (IsSet(mpStop))
        {
            mbStopped = true;
            return false;
        }
        meIntegrity = holds ? KV_ChecksumState::Matched : KV_ChecksumState::Mismatched;
        return holds;
    }
    if (IsSet(mpStop))
    {
        mbStopped = true;
        return false;
    }
    return true;
}

// A counted array of vertices or texture coordinates; a count of zero or less gives an
// empty list.
template <typename T>
void KV_RawSurfaceReader::ReadPackedElements(KV_ByteCursor& stream, KV_List<T>& list)
{
    list.Clear();
    const std::int32_t count = stream.I32();
    if (count <= 0)
        return;
    const auto n = static_cast<std::uint32_t>(count);
    const unsigned char* p =
        stream.Take(static_cast<std::uint64_t>(n) * KV_PackedElement<T>::kBytes);
    // In one piece: the drawing can take the coordinates as they lie.
    list.SetCountInOnePiece(n);
    KV_StorePackedElements(list, p, n);
}

void KV_RawSurfaceReader::ReadHeader(KV_ByteCursor& stream)
{
    const unsigned char first = stream.U8();
    const unsigned char second = stream.U8();
    if (first == 0 && second == 0)
    {
        mnVersion = 0;
    }
    else if (first == ' ' && second == ' ')
    {
        stream.Skip(kVersion1HeaderRest);
        mnVersion = 1;
    }
    else if (first == '0' && (second == '2' || second == '3'))
    {
        const std::uint32_t textLength = stream.U32();
        if (textLength > kMaxHeaderText)
            throw KV_BadFile();
        stream.Skip(textLength);
        mnVersion = second - '0';
    }
    else
    {
        throw KV_BadFile();
    }
}

void KV_RawSurfaceReader::ReadPolygonBlock(KV_ByteCursor& stream, KV_List<KV_Polygon>& polygons)
{
    polygons.Clear();
    const std::int32_t count = stream.I32();
    if (count <= 0)
        return;
    // The index width of the whole block follows from its polygon count. Every polygon
    // takes at least its count byte (or, without counts, three indices), so a count the
    // file cannot hold is refused before any polygon is made.
    const unsigned int width = count < 65536 ? 2 : 4;
    const bool counted = mnVersion >= 2;
    stream.Require(static_cast<std::uint32_t>(count), counted ? 1 : 3 * width);

    // Each polygon is appended whole, so that a block of one polygon size stays one flat
    // run; a stop is seen between stretches, not only after the last.
    const unsigned int total = static_cast<unsigned int>(count);
    unsigned int made = 0;
    // A block of triangles (what our writer and most scanners write) goes straight into a
    // flat run made for all of them; the first polygon of another size hands the rest to
    // the loop below, and only the polygons read whole are kept when the file ends early.
    // The run is made only for as many triangles as the rest of the file can hold.
    if (counted && !polygons.HasStorage() && stream.Remaining() / (1 + 3 * width) >= total)
    {
        polygons.SetFlatCount(total, 3);
        try
        {
            for (; made < total; ++made)
            {
                if (made % kKV_StopCheckElements == 0)
                    KV_ThrowIfStopped(mpStop);
                const std::size_t at = stream.Position();
                if (stream.U8() != 3)
                {
                    stream.Seek(at);
                    break;
                }
                const unsigned char* p = stream.Take(3 * width);
                unsigned int* corner = &polygons[made][0];
                for (unsigned int j = 0; j < 3; ++j, p += width) corner[j] = KV_LoadIndex(p, width);
            }
        }
        catch (...)
        {
            polygons.SetCount(made);
            throw;
        }
        if (made == 0)
            polygons.Clear();  // polygons of another size from the first on: their own run
        else
            polygons.SetCount(made);
    }
    unsigned int corners[kMaxPolygonVertices];
    for (; made < total; ++made)
    {
        if (made % kKV_StopCheckElements == 0)
            KV_ThrowIfStopped(mpStop);
        const unsigned int vertices = counted ? stream.U8() : 3;
        if (vertices > kMaxPolygonVertices)
            throw KV_BadFile();
        // Only the polygons read whole are appended.
        const unsigned char* p = stream.Take(vertices * width);
        for (unsigned int j = 0; j < vertices; ++j, p += width) corners[j] = KV_LoadIndex(p, width);
        polygons.AppendCorners(corners, vertices);
    }
}

bool KV_RawSurfaceReader::SkipPolygonBlock(KV_ByteCursor& stream) const
{
    try
    {
        const std::int32_t count = stream.I32();
        if (count <= 0)
            return true;
        const unsigned int width = count < 65536 ? 2 : 4;
        if (mnVersion < 2)
        {
            stream.Skip(static_cast<std::uint64_t>(count) * 3 * width);
            return true;
        }
        stream.Require(static_cast<std::uint32_t>(count), 1);
        for (std::int32_t i = 0; i < count; ++i)
        {
            if (static_cast<unsigned int>(i) % kKV_StopCheckElements == 0)
                KV_ThrowIfStopped(mpStop);
            const unsigned int vertices = stream.U8();
            if (vertices > kMaxPolygonVertices)
                return false;
            stream.Skip(vertices * width);
        }
        return true;
    }
    catch (const KV_ShortRead&)
    {
        return false;
    }
}

template <typename T>
bool KV_RawSurfaceReader::SkipPackedElements(KV_ByteCursor& stream)
{
    try
    {
        const std::int32_t count = stream.I32();
        if (count > 0)
            stream.Skip(static_cast<std::uint64_t>(count) * KV_PackedElement<T>::kBytes);
        return true;
    }
    catch (const KV_ShortRead&)
    {
        return false;
    }
}

void KV_RawSurfaceReader::ReadTextureHead(KV_ByteCursor& stream, TextureHead& head)
{
    head.kind = stream.U8();
    if (head.kind != 1 && head.kind != 3)
        return;
    head.rows = stream.U32();
    head.columns = stream.U32();
    // The pixel byte count must fit 32 bits, and an image holds at most 2^31 - 1 pixels.
    const std::uint64_t pixels = head.rows * head.columns;
    if (pixels * head.kind > UINT32_MAX || head.rows > INT32_MAX || head.columns > INT32_MAX ||
        pixels > INT32_MAX)
        throw KV_BadFile();
    head.bytes = stream.Take(pixels * head.kind);
}

bool KV_RawSurfaceReader::PeekTexture(KV_ByteCursor& stream, TextureHead& head)
{
    try
    {
        ReadTextureHead(stream, head);
        return head.kind == 1 || head.kind == 3;
    }
    catch (const KV_ShortRead&)
    {
        return false;
    }
    catch (const KV_BadFile&)
    {
        return false;
    }
}

void KV_RawSurfaceReader::ReadTexture(KV_ByteCursor& stream, KV_Task<TexturePixels>* copied)
{
    TextureHead head;
    ReadTextureHead(stream, head);
    if (head.kind != 1 && head.kind != 3)
    {
        mkSurface.ClearTexture();
        return;
    }
    // A copy begun ahead was made from this same place in the file.
    TexturePixels pixels = copied != nullptr ? copied->Get() : CopyPixels(head);
    if (mkSurface.mpTextureMap == nullptr)
        mkSurface.mpTextureMap = new KV_MultiImage();
    if (pixels.colour != nullptr)
        mkSurface.mpTextureMap->SetImage(pixels.colour.release());
    else
        mkSurface.mpTextureMap->SetImage(pixels.grey.release());

    // A 0 x 0 image is no texture: coordinates and texture polygons go with it.
    if (head.rows == 0 && head.columns == 0)
        mkSurface.ClearTexture();
}

bool KV_RawSurfaceReader::IntegrityHolds(const unsigned char* data, std::size_t size,
                                         const std::atomic<bool>* stop,
                                         const std::atomic<bool>* abandoned)
{
    // The file ends with "KV01" and the checksum of everything before that value, most
    // significant byte first, so the checksum of the whole file closes at 0. It is fed a few
    // megabytes at a time (a multiple of 8, though any piece size gives the same register),
    // looking at the flags in between.
    if (size < 8 || std::memcmp(data + size - 8, kTag, 4) != 0)
        return false;
    const std::size_t kPiece = std::size_t(4) << 20;
    KV_CRC32 crc;
    for (std::size_t done = 0; done < size; done += kPiece)
    {
        if (IsSet(stop) || IsSet(abandoned))
            return false;
        crc.Update(data + done, std::min(kPiece, size - done));
    }
    return crc.Value() == 0;
}
