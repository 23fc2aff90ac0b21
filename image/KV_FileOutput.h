#pragma once
// Shared by the image writers: little-endian fields in a header buffer, and one way of
// opening, checking and reporting on an output file. Messages have the text
// "MultiImage Error" and a title naming the file.

#include "foundation/KV_Report.h"
#include "foundation/KV_String.h"

#include <cstdint>
#include <fstream>
#include <vector>

namespace KV_FileOutput
{
using Bytes = std::vector<unsigned char>;

inline void Put8(Bytes& out, unsigned int v)
{
    out.push_back(static_cast<unsigned char>(v));
}

inline void Put16(Bytes& out, unsigned int v)
{
    Put8(out, v & 0xFF);
    Put8(out, (v >> 8) & 0xFF);
}

inline void Put32(Bytes& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

inline void Write(std::ofstream& file, const Bytes& bytes)
{
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// Shows "MultiImage Error" with the title "<prefix><fileName><reason>".
inline void Report(const char* prefix, const KV_String& fileName, const char* reason)
{
    ReportMessage(KV_String("MultiImage Error"), KV_String(prefix) + fileName + reason);
}

// Opens fileName for binary output, replacing it; on failure shows
// "File Access Error : <fileName><reason>" and returns false.
inline bool Open(std::ofstream& file, const KV_String& fileName, const char* reason)
{
    file.open(fileName.c_str(), std::ios::binary | std::ios::out | std::ios::trunc);
    if (file.is_open())
        return true;
    Report("File Access Error : ", fileName, reason);
    return false;
}

// Closes the file; a stream error (a full disk, say) is shown and gives false, so that a
// truncated file is never reported as written.
inline bool Close(std::ofstream& file, const KV_String& fileName)
{
    file.close();
    if (!file.fail())
        return true;
    Report("File Access Error : ", fileName, " - Error writing File stream");
    return false;
}
}  // namespace KV_FileOutput
