#pragma once
// KV_FieldContainerReader: reads a Universal Field Container (a header with a signature,
// then named, typed, multi-dimensional fields) into a textured surface: the seven surface
// fields fill the surface's lists and texture, and an "Overall Checksum" field is verified.
// The reader is made for one Read and then discarded; the surface is not owned.
//
// The file is untrusted. Every count is checked against the bytes that hold it before
// anything is allocated for it, and no field reader can read past its field's data.
//
// Outcomes of Read:
// - false: the file cannot be read, lacks the signature, or holds a field the reader
//   refuses: a field size that does not fit 32 bits, an index width other than 1, 2 or 4,
//   fewer extents than the field's reader uses, a "TextureMap" whose data is longer than
//   its image or whose image is too large to hold. Fields read before the refused one stay
//   in the surface.
// - true otherwise, including a file that ends early, an entry whose counts or sizes reach
//   past the end of the file, and a field that declares more elements (or pixels) than
//   there are bytes left in the file: the entry walk stops there, that field is not
//   applied, and the fields read before it stay. Field data shorter than its elements need
//   is not an error: the values it cannot supply stay as they were (0 in polygon slots
//   that did not exist before).
// - false, Stopped() true, soon after the stop flag (SetStop) is set.

#include "foundation/KV_List.h"
#include "foundation/KV_String.h"
#include "surfacefile/KV_ByteCursor.h"
#include "surfacefile/KV_ChecksumState.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class KV_TexturedPolySurface;

class KV_FieldContainerReader
{
public:
    explicit KV_FieldContainerReader(KV_TexturedPolySurface& surface);
    KV_FieldContainerReader(const KV_FieldContainerReader&) = delete;
    KV_FieldContainerReader& operator=(const KV_FieldContainerReader&) = delete;

    // A flag that stops Read early (not owned; null, the default: never stops).
    void SetStop(const std::atomic<bool>* stop) { mpStop = stop; }

    bool Read(const KV_String& path);
    // The same, on the bytes of a file already in memory (the surface loader reads a file
    // once for both encodings).
    bool Read(const unsigned char* data, std::size_t size);

    // The checksum flag: true when the last "Overall Checksum" field met matched. The load
    // does not fail on a mismatch.
    bool ChecksumMatched() const { return mbChecksumMatched; }
    KV_ChecksumState Checksum() const;
    // Whether the last Read found the container's signature.
    bool SignatureFound() const { return mbSignatureFound; }
    // Whether the last Read gave up because its stop flag was set.
    bool Stopped() const { return mbStopped; }

    // Reads a field body's layout text, component record and extents into the scratch lists
    // and returns the field's data size in bytes. Throws KV_ShortRead when the record runs
    // past the end of the file and KV_BadFile when the size does not fit 32 bits.
    unsigned int ReadFieldRecord(KV_ByteCursor& stream);
    // Takes the size data bytes (as a cursor that cannot read beyond them), then the
    // padding and the trailer word. Throws KV_ShortRead when the file ends first.
    KV_ByteCursor ReadFieldData(KV_ByteCursor& stream, unsigned int size);

    // The scratch lists of the last field record.
    const KV_List<unsigned char>& ComponentTypes() const { return mkComponentTypes; }
    const KV_List<unsigned char>& ComponentSizes() const { return mkComponentSizes; }
    const KV_List<unsigned long>& Extents() const { return mkExtents; }

private:
    void ReadEntries(KV_ByteCursor& stream);
    void VerifyChecksum(KV_ByteCursor& stream);
    // Computes the flag for the last checksum field read, once per Read.
    void SettleChecksum();

    // The surface field readers; each is handed the stream at the start of the field body.
    void ReadVertices(KV_ByteCursor& stream);
    void ReadTextureCoordinates(KV_ByteCursor& stream);
    void ReadTriangles(KV_ByteCursor& stream, bool texture);
    void ReadPolygons(KV_ByteCursor& stream, bool texture);
    void ReadTextureMap(KV_ByteCursor& stream);
    template <typename T>
    void ReadPackedElements(KV_ByteCursor& stream, KV_List<T>*& list, unsigned int blockSize);

    // Checks shared by the field readers; they throw before anything is allocated. A count
    // beyond the bytes that follow, or beyond what the file's size leaves for all fields
    // together, is a short read.
    unsigned long FirstExtent() const;
    unsigned int IndexWidth() const;
    void RequireElements(unsigned long long count);

    KV_TexturedPolySurface& mkSurface;
    const std::atomic<bool>* mpStop = nullptr;
    bool mbStopped = false;
    const unsigned char* mpFile = nullptr;
    std::size_t munFileSize = 0;
    // Bytes of the file from the start of the current field's data to its end.
    std::size_t munBytesLeft = 0;
    // Elements declared by the fields read so far, see RequireElements.
    unsigned long long munElementsDeclared = 0;
    bool mbChecksumMatched = false;
    bool mbChecksumPresent = false;
    // Each checksum field overrides the ones before it, so only the last one met is computed,
    // after the walk: a file of many checksum fields costs one pass over its bytes, not one
    // pass per field.
    std::uint32_t munChecksumCovered = 0;
    std::uint32_t munChecksumExpected = 0;
    bool mbSignatureFound = false;
    KV_List<unsigned char> mkComponentTypes;
    KV_List<unsigned char> mkComponentSizes;
    KV_List<unsigned long> mkExtents;
};
