#pragma once
// KV_SurfaceLoader: loads a surface file (extension "osf") into a textured surface, trying
// the raw encoding first (only for paths ending in "osf", any letter case) and the Universal
// Field Container when the raw reader declines or fails. The loader is made for one Load
// and then discarded; the surface is not owned.
//
// Load shows no message; the caller reports a failure. After a false result the surface
// holds whatever the last reader put into it. When the raw reader fails after reading part
// of the file, the surface is emptied again before the container is tried, so that a
// surface never mixes what the two encodings made of the same bytes.
//
// With an executor (SetExecutor) the raw reader splits a large file's work over its threads
// (the same surface either way). With a stop flag (SetStop) Load returns false soon after it
// is set, Stopped() then true, and no other reader is tried.

#include "foundation/KV_String.h"
#include "surfacefile/KV_ChecksumState.h"

#include <atomic>

class KV_Executor;
class KV_TexturedPolySurface;

enum class KV_SurfaceEncoding
{
    None,      // not loaded
    Raw,
    Container,
    Imported   // another program's model file, read by the meshfile layer
};

// "none", "raw", "container" or "imported".
const char* KV_SurfaceEncodingName(KV_SurfaceEncoding encoding);

class KV_SurfaceLoader
{
public:
    explicit KV_SurfaceLoader(KV_TexturedPolySurface& surface);
    KV_SurfaceLoader(const KV_SurfaceLoader&) = delete;
    KV_SurfaceLoader& operator=(const KV_SurfaceLoader&) = delete;

    // Neither is owned; null (the default): all on the calling thread, never stopped.
    void SetExecutor(KV_Executor* executor) { mpExecutor = executor; }
    void SetStop(const std::atomic<bool>* stop) { mpStop = stop; }

    // Whether path is a surface file: its name ends in "osf" (any letter case) or it begins
    // as a Universal Field Container does. Other files are models of other programs.
    static bool IsSurfaceFile(const KV_String& path);

    // True when one of the two readers read the file (see KV_RawSurfaceReader and
    // KV_FieldContainerReader for what each accepts).
    bool Load(const KV_String& path);

    // After Load: which encoding the surface was read from (None after a failure).
    KV_SurfaceEncoding Encoding() const { return meEncoding; }
    // The raw header's version, 0 to 3; -1 when the raw reader found no valid header or did
    // not look (another extension). A container file has no version: -1.
    int Version() const { return mnVersion; }
    // The file's own checksum: the "Overall Checksum" of a container, the integrity tail of
    // a version-3 raw file. After a failed Load it tells why a version-3 raw file was
    // refused (mismatched) when the container reader could not read it either.
    KV_ChecksumState Checksum() const { return meChecksum; }
    // After a failed Load: why, in a few words for the user ("the file is empty", "not a
    // surface file", "truncated at byte 1234", "bad checksum", "stopped", ...). Empty after
    // success.
    const KV_String& FailureReason() const { return mkFailureReason; }
    // Whether the last Load gave up because its stop flag was set.
    bool Stopped() const { return mbStopped; }

private:
    KV_TexturedPolySurface& mkSurface;
    KV_Executor* mpExecutor = nullptr;
    const std::atomic<bool>* mpStop = nullptr;
    bool mbStopped = false;
    KV_SurfaceEncoding meEncoding = KV_SurfaceEncoding::None;
    int mnVersion = -1;
    KV_ChecksumState meChecksum = KV_ChecksumState::Absent;
    KV_String mkFailureReason;
};
