#pragma once
// What a surface file's own checksum said: the "Overall Checksum" of a container, or the
// integrity tail of a version-3 raw file.

enum class KV_ChecksumState
{
    Absent,     // the file carries none (or the reader never reached it)
    Matched,
    Mismatched
};

// "absent", "matched" or "mismatched".
const char* KV_ChecksumStateName(KV_ChecksumState state);
