#pragma once
// KV_RawSurfaceReader: reads the raw encoding of a surface file (a short versioned header,
// then polygons, texture polygons, texture coordinates, vertices and the texture image as
// counted arrays) into a textured surface. The reader is made for one Read and then
// discarded; the surface is not owned.
//
// Read declines (false, surface untouched) a path that does not end in "osf" in any letter
// case. Otherwise it empties the surface and returns false when the file cannot be read,
// its header is invalid, any count, element, header text or image byte is missing, or the
// file is refused: a header text over 1024 bytes, a polygon of more than 16 vertices, an
// image whose size does not fit 32 bits or that no image can hold. A version-3 file must
// also pass its integrity check. After a false result the surface keeps what was read.
//
// With an executor (SetExecutor) a large file's integrity check, its first polygon block and
// the copy of its picture are pieces of their own, read while this thread goes on with the rest:
// the same surface, and the same failure, as read on one thread. With a stop flag (SetStop) Read
// returns false soon after the flag is set, Stopped() then true.

#include "foundation/KV_String.h"
#include "surfacefile/KV_ByteCursor.h"
#include "surfacefile/KV_ChecksumState.h"
#include "surface/KV_Polygon.h"

#include <atomic>
#include <cstddef>

class KV_Executor;
template <typename R>
class KV_Task;
class KV_TexturedPolySurface;

class KV_RawSurfaceReader
{
public:
    explicit KV_RawSurfaceReader(KV_TexturedPolySurface& surface);
    KV_RawSurfaceReader(const KV_RawSurfaceReader&) = delete;
    KV_RawSurfaceReader& operator=(const KV_RawSurfaceReader&) = delete;

    // Neither is owned; null (the default): all on the calling thread, never stopped.
    void SetExecutor(KV_Executor* executor) { mpExecutor = executor; }
    void SetStop(const std::atomic<bool>* stop) { mpStop = stop; }

    bool Read(const KV_String& path);
    // After the extension test: empties the surface and reads it from the bytes of a file
    // already in memory.
    bool Read(const unsigned char* data, std::size_t size);

    // Whether the last three characters of path are "osf" in any letter case. A path of
    // fewer than three characters is reported (as any too-short request for characters is)
    // and does not match.
    static bool HasRawExtension(const KV_String& path);

    // The version of the header read: 0 to 3, or -1 when the header was invalid or not read.
    int Version() const { return mnVersion; }
    // The version-3 integrity check: absent for other versions or when the body could not
    // be read.
    KV_ChecksumState Integrity() const { return meIntegrity; }
    // After a failed read of a valid header: the offset where reading stopped, and whether
    // the file ended there (false: the bytes there were refused).
    std::size_t FailedAt() const { return munFailedAt; }
    bool Truncated() const { return mbTruncated; }
    // Whether the last Read gave up because its stop flag was set.
    bool Stopped() const { return mbStopped; }

private:
    void ReadHeader(KV_ByteCursor& stream);
    void ReadPolygonBlock(KV_ByteCursor& stream, KV_List<KV_Polygon>& polygons);
    // Moves past a polygon block that ReadPolygonBlock would read whole, without making its
    // polygons; false (stream anywhere) when it would fail.
    bool SkipPolygonBlock(KV_ByteCursor& stream) const;
    template <typename T>
    void ReadPackedElements(KV_ByteCursor& stream, KV_List<T>& list);
    template <typename T>
    static bool SkipPackedElements(KV_ByteCursor& stream);
    // Where the picture lies and what it is; kind other than 1 or 3: no picture (the rest is
    // not read).
    struct TextureHead
    {
        unsigned char kind = 0;
        std::uint64_t rows = 0;
        std::uint64_t columns = 0;
        const unsigned char* bytes = nullptr;
    };
    struct TexturePixels;
    static void ReadTextureHead(KV_ByteCursor& stream, TextureHead& head);
    // ReadTextureHead that says false where it would throw or finds no picture.
    static bool PeekTexture(KV_ByteCursor& stream, TextureHead& head);
    static TexturePixels CopyPixels(const TextureHead& head);
    // copied: the pixels of this picture, being copied on a piece of their own (null: copied
    // here).
    void ReadTexture(KV_ByteCursor& stream, KV_Task<TexturePixels>* copied);
    // False also when stop or abandoned is found set before the end (the answer is then
    // not used).
    static bool IntegrityHolds(const unsigned char* data, std::size_t size,
                               const std::atomic<bool>* stop, const std::atomic<bool>* abandoned);

    KV_TexturedPolySurface& mkSurface;
    KV_Executor* mpExecutor = nullptr;
    const std::atomic<bool>* mpStop = nullptr;
    int mnVersion = -1;
    KV_ChecksumState meIntegrity = KV_ChecksumState::Absent;
    std::size_t munFailedAt = 0;
    bool mbTruncated = false;
    bool mbStopped = false;
};
