#pragma once
// KV_ImportWire: the block the import helper hands back over its pipe to the program waiting
// for it: whether the file was read, the reason and format, the messages raised meanwhile,
// then the surface and the appearance table, as little-endian values behind the block's size.
// Decoding goes through the checked cursor and holds every count and index against what came
// before it, so a helper that died half-way or went wrong cannot hand back a broken surface.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class KV_TexturedPolySurface;
class KV_SurfaceAppearance;

// Messages raised during the import: text and caption, in order.
using KV_ImportMessages = std::vector<std::pair<std::string, std::string>>;

// The bytes before the block that give its size.
const std::size_t kImportSizeBytes = 8;
// More than the largest surface the importer's bounds allow: a size above it is a broken
// hand-back.
const std::uint64_t kImportMaxBlock = std::uint64_t(1) << 40;

// The whole hand-back: the size (kImportSizeBytes), then the block. The surface and the
// table travel only when read is true; appearance null sends none.
std::vector<unsigned char> KV_EncodeImport(bool read, const std::string& reason,
                                           const std::string& format,
                                           const KV_ImportMessages& messages,
                                           const KV_TexturedPolySurface& surface,
                                           const KV_SurfaceAppearance* appearance);

// The block size the first kImportSizeBytes bytes of a hand-back give.
std::uint64_t KV_ImportBlockSize(const unsigned char* head);

// Decodes a block (without its size bytes; size 0 for one that did not arrive whole): reports
// the messages it carries (ReportMessage), then fills the surface and, when one is asked for,
// the table. True when the helper read the file and the block is whole and consistent.
// Otherwise false with reason: the helper's own, what is wrong with the block, or "stopped"
// when *stop was set meanwhile (checked every few thousand polygons). After false the
// surface and the table may hold parts: the caller empties them.
bool KV_DecodeImport(const unsigned char* data, std::size_t size, std::string& reason,
                     std::string& format, KV_TexturedPolySurface& surface,
                     KV_SurfaceAppearance* appearance, const std::atomic<bool>* stop);
