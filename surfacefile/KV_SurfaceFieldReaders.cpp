// The readers of the seven surface fields of a field container. Each is handed the stream
// at the start of its field body, reads the record and the data, and parses its elements
// from the data alone. Nothing is checked against the rest of the surface (index ranges,
// texture polygons against polygons): that is the business of the consistency checks.

#include "surfacefile/KV_FieldContainerReader.h"

#include "image/KV_MultiImage.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_SurfaceElements.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

unsigned long KV_FieldContainerReader::FirstExtent() const
{
    if (mkExtents.Count() < 1)
        throw KV_BadFile();
    return mkExtents[0];
}

unsigned int KV_FieldContainerReader::IndexWidth() const
{
    if (mkComponentSizes.Count() < 1)
        throw KV_BadFile();
    const unsigned int width = mkComponentSizes[0];
    if (width != 1 && width != 2 && width != 4)
        throw KV_BadFile();
    return width;
}

// A field may declare more elements than its data holds (those keep their values), but not
// more than there are bytes left in the file: that is a count reaching past the end.
void KV_FieldContainerReader::RequireElements(unsigned long long count)
{
    // Each element of a sound file has at least one byte of its own field's data, so all the
    // fields of a file together declare at most as many elements as it has bytes. A field's
    // data may fall short of its count (the missing values keep their defaults), but without
    // the running total a file of many such fields, each declaring what remains of the file,
    // would cost the file's size once per field.
    munElementsDeclared += count;
    if (count > munBytesLeft || munElementsDeclared > munFileSize)
        throw KV_ShortRead();
}

// Vertices and texture coordinates: the list is sized to the first extent and overwritten
// from the start with as many whole elements as the data holds.
template <typename T>
void KV_FieldContainerReader::ReadPackedElements(KV_ByteCursor& stream, KV_List<T>*& list,
                                                 unsigned int blockSize)
{
    KV_ByteCursor data = ReadFieldData(stream, ReadFieldRecord(stream));
    const unsigned long count = FirstExtent();
    RequireElements(count);
    KV_List<T>& elements = KV_Ensure(list, blockSize);
    elements.SetCount(count);
    const unsigned long whole = data.Size() / KV_PackedElement<T>::kBytes;
    KV_StorePackedElements(elements, data.Data(), std::min(count, whole));
}

void KV_FieldContainerReader::ReadVertices(KV_ByteCursor& stream)
{
    ReadPackedElements(stream, mkSurface.mpVertices, 1024);
}

void KV_FieldContainerReader::ReadTextureCoordinates(KV_ByteCursor& stream)
{
    ReadPackedElements(stream, mkSurface.mpTextureCoordinates, 256);
}

void KV_FieldContainerReader::ReadTriangles(KV_ByteCursor& stream, bool texture)
{
    KV_ByteCursor data = ReadFieldData(stream, ReadFieldRecord(stream));
    const unsigned long count = FirstExtent();
    const unsigned int width = IndexWidth();
    RequireElements(count);
    KV_List<KV_Polygon>& polygons =
        KV_Ensure(texture ? mkSurface.mpTexturePolygons : mkSurface.mpPolygons, 1024);
    // Existing polygons are reused; each is made a triangle whatever it held before. A new
    // list is one flat run of zero triangles, filled in place.
    if (polygons.Count() == 0 && !polygons.HasStorage())
        polygons.SetFlatCount(count, 3);
    else
        polygons.SetCount(count);
    const std::size_t supplied = data.Size() / width;
    const unsigned char* p = data.Data();
    std::size_t value = 0;
    for (unsigned long i = 0; i < count; ++i)
    {
        if (i % kKV_StopCheckElements == 0)
            KV_ThrowIfStopped(mpStop);
        KV_PolygonRef triangle = polygons[i];
        // Slots a polygon did not hold before have no value of their own: a value the data
        // cannot supply is 0 there rather than whatever the storage held.
        for (unsigned int j = triangle.Count(); j < 3; ++j)
            triangle.Append(0);
        triangle.SetCount(3);
        for (unsigned int j = 0; j < 3 && value < supplied; ++j, ++value, p += width)
            triangle[j] = KV_LoadIndex(p, width);
    }
}

void KV_FieldContainerReader::ReadPolygons(KV_ByteCursor& stream, bool texture)
{
    KV_ByteCursor data = ReadFieldData(stream, ReadFieldRecord(stream));
    // The extent counts values (vertex counts and indices alike), not polygons.
    const unsigned long values = FirstExtent();
    const unsigned int width = IndexWidth();
    RequireElements(values);
    KV_List<KV_Polygon>& polygons =
        KV_Ensure(texture ? mkSurface.mpTexturePolygons : mkSurface.mpPolygons, 1024);
    polygons.Clear();

    // A value the data cannot supply leaves the variable it was read into unchanged.
    const std::size_t supplied = data.Size() / width;
    const unsigned char* p = data.Data();
    std::size_t read = 0;
    auto next = [&](unsigned int& destination) {
        if (read < supplied)
        {
            destination = KV_LoadIndex(p, width);
            p += width;
            ++read;
        }
    };

    unsigned int vertexCount = 0;
    unsigned int index = 0;
    unsigned long d = 0;
    KV_Polygon polygon;
    do
    {
        if (polygons.Count() % kKV_StopCheckElements == 0)
            KV_ThrowIfStopped(mpStop);
        next(vertexCount);
        d += 1;
        polygon.SetCount(0);
        for (unsigned int k = 0; k < vertexCount && d < values; ++k, ++d)
        {
            next(index);
            polygon.Append(index);
        }
        polygons.Append(polygon);
    } while (d < values);
}

void KV_FieldContainerReader::ReadTextureMap(KV_ByteCursor& stream)
{
    KV_ByteCursor data = ReadFieldData(stream, ReadFieldRecord(stream));
    const unsigned int channels = mkComponentSizes.Count();

    // With any other number of components the texture is left without an image, and the
    // extents are not used.
    std::unique_ptr<KV_Image<KV_RGB8>> colour;
    std::unique_ptr<KV_Image<unsigned char>> grey;
    if (channels == 1 || channels == 3)
    {
        if (mkExtents.Count() < 2)
            throw KV_BadFile();
        const std::uint64_t rows = mkExtents[0];
        const std::uint64_t columns = mkExtents[1];
        // An image holds at most 2^31 - 1 pixels; and its data may be short of its pixels
        // but never longer.
        const std::uint64_t pixels = rows * columns;
        if (rows > INT32_MAX || columns > INT32_MAX || pixels > INT32_MAX)
            throw KV_BadFile();
        if (data.Size() > pixels * channels)
            throw KV_BadFile();
        RequireElements(pixels);
        unsigned char* storage;
        if (channels == 3)
        {
            colour.reset(new KV_Image<KV_RGB8>(static_cast<int>(rows), static_cast<int>(columns)));
            storage = reinterpret_cast<unsigned char*>(colour->Data());
        }
        else
        {
            grey.reset(
                new KV_Image<unsigned char>(static_cast<int>(rows), static_cast<int>(columns)));
            storage = grey->Data();
        }
        if (data.Size() > 0)
            std::memcpy(storage, data.Data(), data.Size());
    }
    // The new image replaces any earlier texture; it is handed over, not copied.
    if (mkSurface.mpTextureMap == nullptr)
        mkSurface.mpTextureMap = new KV_MultiImage();
    if (colour)
        mkSurface.mpTextureMap->SetImage(colour.release());
    else if (grey)
        mkSurface.mpTextureMap->SetImage(grey.release());
    else
        mkSurface.mpTextureMap->Clear();
}
