#include "surfacefile/KV_SurfaceLoader.h"

#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_FieldContainerReader.h"
#include "surfacefile/KV_FileBytes.h"
#include "surfacefile/KV_RawSurfaceReader.h"

#include <cstdio>
#include <cstring>

const char* KV_SurfaceEncodingName(KV_SurfaceEncoding encoding)
{
    switch (encoding)
    {
    case KV_SurfaceEncoding::Raw:
        return "raw";
    case KV_SurfaceEncoding::Container:
        return "container";
    case KV_SurfaceEncoding::Imported:
        return "imported";
    default:
        return "none";
    }
}

const char* KV_ChecksumStateName(KV_ChecksumState state)
{
    switch (state)
    {
    case KV_ChecksumState::Matched:
        return "matched";
    case KV_ChecksumState::Mismatched:
        return "mismatched";
    default:
        return "absent";
    }
}

KV_SurfaceLoader::KV_SurfaceLoader(KV_TexturedPolySurface& surface) : mkSurface(surface) {}

bool KV_SurfaceLoader::IsSurfaceFile(const KV_String& path)
{
    if (KV_RawSurfaceReader::HasRawExtension(path))
        return true;
    // The container's signature sits at a fixed place near the start.
    static const char kSignature[] = "Universal Field Container";
    unsigned char head[16 + sizeof kSignature];
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return got == sizeof head && std::memcmp(head + 16, kSignature, sizeof kSignature) == 0;
}
namespace
{
KV_String AtByte(const char* what, std::size_t offset)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s at byte %zu", what, offset);
    return text;
}
}  // namespace

bool KV_SurfaceLoader::Load(const KV_String& path)
{
    meEncoding = KV_SurfaceEncoding::None;
    mnVersion = -1;
    meChecksum = KV_ChecksumState::Absent;
    mkFailureReason = "";
    mbStopped = false;
    auto stopped = [this]
    {
        mbStopped = true;
        mkFailureReason = "stopped";
        return false;
    };
    // Another program cut the file short while it was read: what was read is not the file.
    auto changed = [this]
    {
        mkSurface.Clear();
        meEncoding = KV_SurfaceEncoding::None;
        mkFailureReason = "the file changed while it was read";
        return false;
    };

    // The file is read once; both readers walk the same bytes.
    KV_FileBytes file;
    KV_String rawReason;
    if (KV_RawSurfaceReader::HasRawExtension(path))
    {
        KV_RawSurfaceReader raw(mkSurface);
        raw.SetExecutor(mpExecutor);
        raw.SetStop(mpStop);
        // The raw reader empties the surface even when the file cannot be opened.
        mkSurface.Clear();
        if (!file.Load(path, mpStop))
        {
            if (mpStop != nullptr && mpStop->load())
                return stopped();
            mkFailureReason = "the file cannot be read";
            return false;
        }
        const bool read = raw.Read(file.Data(), file.Size());
        mnVersion = raw.Version();
        meChecksum = raw.Integrity();
        if (raw.Stopped())
            return stopped();
        if (file.Changed())
            return changed();
        if (read)
        {
            meEncoding = KV_SurfaceEncoding::Raw;
            return true;
        }
        if (meChecksum == KV_ChecksumState::Mismatched)
            rawReason = "bad checksum";
        else if (mnVersion >= 0)
            rawReason = AtByte(raw.Truncated() ? "truncated" : "unreadable data", raw.FailedAt());
        mkSurface.Clear();
    }
    else if (!file.Load(path, mpStop))
    {
        if (mpStop != nullptr && mpStop->load())
            return stopped();
        mkFailureReason = "the file cannot be read";
        return false;
    }

    KV_FieldContainerReader container(mkSurface);
    container.SetStop(mpStop);
    const bool read = container.Read(file.Data(), file.Size());
    if (file.Changed())
        return changed();
    if (!read)
    {
        if (container.Stopped())
            return stopped();
        if (file.Size() == 0)
            mkFailureReason = "the file is empty";
        else if (container.SignatureFound())
            mkFailureReason = "a field of the container cannot be read";
        else if (!rawReason.IsEmpty())
            mkFailureReason = rawReason;
        else
            mkFailureReason = "not a surface file";
        return false;
    }
    meEncoding = KV_SurfaceEncoding::Container;
    mnVersion = -1;
    meChecksum = container.Checksum();
    return true;
}
