#include "surfacefile/KV_RawSurfaceReader.h"

#include "image/KV_MultiImage.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_CRC32.h"
#include "surfacefile/KV_FileBytes.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace
{
const std::uint32_t kMaxHeaderText = 1024;
const unsigned int kMaxPolygonVertices = 16;
const std::size_t kVersion1HeaderRest = 94 + 2;
const char kTag[4] = {'K', 'V', '0', '1'};
}  // namespace

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
    if (!HasRawExtension(path))
        return false;
    mkSurface.Clear();
    KV_FileBytes file;
    if (!file.Load(path))
        return false;
    return Read(file.Data(), file.Size());
}

bool KV_RawSurfaceReader::Read(const unsigned char* data, std::size_t size)
{
    mnVersion = -1;
    meIntegrity = KV_ChecksumState::Absent;
    mkSurface.Clear();
    KV_ByteCursor stream(data, size);
    try
    {
        ReadHeader(stream);
        ReadPolygonBlock(stream, KV_Ensure(mkSurface.mpPolygons, 1024));
        ReadPolygonBlock(stream, KV_Ensure(mkSurface.mpTexturePolygons, 1024));

        // Counts of zero or less give empty lists.
        KV_List<KV_Vector2D>& coordinates = KV_Ensure(mkSurface.mpTextureCoordinates, 256);
        coordinates.Clear();
        const std::int32_t coordinateCount = stream.I32();
        if (coordinateCount > 0)
        {
            const unsigned char* p = stream.Take(8ull * static_cast<std::uint32_t>(coordinateCount));
            coordinates.SetCount(static_cast<unsigned int>(coordinateCount));
            for (std::int32_t i = 0; i < coordinateCount; ++i, p += 8)
                coordinates[i] = KV_Vector2D(KV_LoadF32(p), KV_LoadF32(p + 4));
        }

        KV_List<KV_Vector3D>& vertices = KV_Ensure(mkSurface.mpVertices, 1024);
        vertices.Clear();
        const std::int32_t vertexCount = stream.I32();
        if (vertexCount > 0)
        {
            const unsigned char* p = stream.Take(12ull * static_cast<std::uint32_t>(vertexCount));
            vertices.SetCount(static_cast<unsigned int>(vertexCount));
            for (std::int32_t i = 0; i < vertexCount; ++i, p += 12)
                vertices[i] = KV_Vector3D(KV_LoadF32(p), KV_LoadF32(p + 4), KV_LoadF32(p + 8));
        }

        ReadTexture(stream);
    }
    catch (const KV_ShortRead&)
    {
        return false;
    }
    catch (const KV_BadFile&)
    {
        return false;
    }

    if (mnVersion >= 3)
    {
        const bool holds = IntegrityHolds(data, size);
        meIntegrity = holds ? KV_ChecksumState::Matched : KV_ChecksumState::Mismatched;
        return holds;
    }
    return true;
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

    polygons.SetCount(static_cast<unsigned int>(count));
    unsigned int made = 0;
    try
    {
        for (; made < static_cast<unsigned int>(count); ++made)
        {
            const unsigned int vertices = counted ? stream.U8() : 3;
            if (vertices > kMaxPolygonVertices)
                throw KV_BadFile();
            const unsigned char* p = stream.Take(vertices * width);
            KV_Polygon& polygon = polygons[made];
            polygon.SetCount(vertices);
            for (unsigned int j = 0; j < vertices; ++j, p += width)
                polygon[j] = KV_LoadIndex(p, width);
        }
    }
    catch (...)
    {
        // Only the polygons read whole stay in the list.
        polygons.SetCount(made);
        throw;
    }
}

void KV_RawSurfaceReader::ReadTexture(KV_ByteCursor& stream)
{
    const unsigned char kind = stream.U8();
    if (kind != 1 && kind != 3)
    {
        mkSurface.ClearTexture();
        return;
    }
    const std::uint64_t rows = stream.U32();
    const std::uint64_t columns = stream.U32();
    // The pixel byte count must fit 32 bits, and an image holds at most 2^31 - 1 pixels.
    const std::uint64_t pixels = rows * columns;
    if (pixels * kind > UINT32_MAX || rows > INT32_MAX || columns > INT32_MAX || pixels > INT32_MAX)
        throw KV_BadFile();
    const unsigned char* bytes = stream.Take(pixels * kind);

    if (mkSurface.mpTextureMap == nullptr)
        mkSurface.mpTextureMap = new KV_MultiImage();
    unsigned char* storage;
    if (kind == 3)
    {
        std::unique_ptr<KV_Image<KV_RGB8>> colour(
            new KV_Image<KV_RGB8>(static_cast<int>(rows), static_cast<int>(columns)));
        storage = reinterpret_cast<unsigned char*>(colour->Data());
        mkSurface.mpTextureMap->SetImage(colour.release());
    }
    else
    {
        std::unique_ptr<KV_Image<unsigned char>> grey(
            new KV_Image<unsigned char>(static_cast<int>(rows), static_cast<int>(columns)));
        storage = grey->Data();
        mkSurface.mpTextureMap->SetImage(grey.release());
    }
    if (pixels > 0)
        std::memcpy(storage, bytes, pixels * kind);

    // A 0 x 0 image is no texture: coordinates and texture polygons go with it.
    if (rows == 0 && columns == 0)
        mkSurface.ClearTexture();
}

bool KV_RawSurfaceReader::IntegrityHolds(const unsigned char* data, std::size_t size)
{
    // The file ends with "KV01" and the checksum of everything before that value, most
    // significant byte first, so the checksum of the whole file closes at 0.
    return size >= 8 && KV_CRC32::Of(data, size) == 0 && std::memcmp(data + size - 8, kTag, 4) == 0;
}
