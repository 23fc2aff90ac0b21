#pragma once
// Test-only writer of surface files in both encodings, so that tests (and the fuzzer seeds
// and sample data) can build exactly the files they need. The product only reads these
// files; this writer is deliberately independent of the reader's code (its own byte
// emitter, its own bit-by-bit checksum) so that the two check each other.
//
// The writer works from plain data (OsfSurface) and needs no surface class. Encoding
// functions throw std::invalid_argument for a surface the chosen encoding cannot hold
// (a non-triangle in raw versions 0 and 1, an index too wide for the index width).

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One surface as plain values.
struct OsfSurface
{
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::vector<unsigned int>> polygons;
    std::vector<std::array<float, 2>> textureCoordinates;
    std::vector<std::vector<unsigned int>> texturePolygons;
    // The raw encoding's texture kind: 1 grey, 3 colour, anything else no texture (no rows,
    // columns or pixels are written for it, and no "TextureMap" field).
    int textureKind = 0;
    std::uint32_t textureRows = 0;
    std::uint32_t textureColumns = 0;
    // rows x columns x (1 or 3) bytes, row 0 first; grey values or red, green, blue.
    std::vector<unsigned char> texturePixels;
};

// A grid of n x n unit squares, two triangles each (2 n^2 triangles), gently ridged so that
// its normals differ, with texture coordinates spanning [0, 1] and a grey-blue picture of
// textureSize x textureSize: a surface of any size that every stage of a load has work on.
OsfSurface TexturedGridSurface(unsigned int n, unsigned int textureSize = 2);

// A little-endian byte emitter for building files, well-formed or not, by hand.
class OsfBytes
{
public:
    OsfBytes& U8(unsigned int value);
    OsfBytes& U16(unsigned int value);
    OsfBytes& U32(std::uint32_t value);
    OsfBytes& U32BigEndian(std::uint32_t value);
    OsfBytes& I32(std::int32_t value) { return U32(static_cast<std::uint32_t>(value)); }
    OsfBytes& F32(float value);
    OsfBytes& Index(unsigned int value, unsigned int width);  // 1, 2 or 4 bytes
    OsfBytes& Text(const std::string& text);                  // the characters, no terminator
    OsfBytes& Bytes(const std::vector<unsigned char>& bytes);
    OsfBytes& Fill(std::size_t count, unsigned char value);

    std::vector<unsigned char>& Data() { return mkData; }
    const std::vector<unsigned char>& Data() const { return mkData; }
    std::size_t Size() const { return mkData.size(); }

private:
    std::vector<unsigned char> mkData;
};

// CRC-32/MPEG-2 of a block, computed bit by bit.
std::uint32_t OsfChecksum(const unsigned char* data, std::size_t count);

// ---- Raw encoding

struct OsfRawOptions
{
    int version = 3;  // 0 to 3
    // Version 1 stores exactly 94 bytes of it (cut or padded with spaces); versions 2 and 3
    // store it with its length; version 0 has none.
    std::string headerText = "Orvane test surface";
    // Version 3 only: write the "KV01" tag and the integrity value that closes the file's
    // checksum at 0. Off gives a file without its tail.
    bool integrityTail = true;
};

std::vector<unsigned char> EncodeRawSurface(const OsfSurface& surface,
                                            const OsfRawOptions& options = OsfRawOptions());

// The bytes of one raw polygon block as a version-v file holds it (count, then polygons
// with their indices 2 bytes wide below 65536 polygons and 4 bytes wide from there).
void AppendRawPolygonBlock(OsfBytes& out, const std::vector<std::vector<unsigned int>>& polygons,
                           int version);

// Appends "KV01" and the integrity value of everything before it.
void AppendRawIntegrityTail(std::vector<unsigned char>& file);

// ---- Universal Field Container

// One container entry. Fields that the reader does not read (unknown names, or a non-zero
// flag) must not carry a body, since the reader takes the bytes after the description as
// the next entry; hasBody = false leaves it out.
struct OsfEntry
{
    std::uint32_t word1 = 0;
    std::uint32_t word2 = 0;
    std::uint32_t skipWord = 0;  // non-zero: the entry is these three words only
    std::string name;
    bool terminateName = true;  // store the name's zero byte
    std::uint32_t flag = 0;
    std::string description;
    bool hasBody = true;
    std::string layout;
    std::vector<std::pair<unsigned char, unsigned char>> components;  // (type code, size)
    std::vector<std::uint32_t> extents;
    std::vector<unsigned char> data;
    unsigned char padding = 0;
    std::uint32_t trailer = 0;
};

// A container file under construction: header, signature, then the entries in order.
class OsfContainer
{
public:
    // Where the first entry starts; the bytes between the signature and it are zero.
    explicit OsfContainer(std::uint32_t firstEntryOffset = 64);

    void Add(const OsfEntry& entry);
    // An entry whose skip word is set: exactly 12 bytes.
    void AddSkipEntry();
    // A known or unknown field that is not read: name, flag, description, no body.
    void AddUnreadEntry(const std::string& name, std::uint32_t flag);
    // Arbitrary bytes at the current end (a broken entry, say).
    void AddBytes(const std::vector<unsigned char>& bytes);
    // "Overall Checksum" covering every byte written so far.
    void AddChecksum();

    const std::vector<unsigned char>& Bytes() const { return mkFile.Data(); }

private:
    OsfBytes mkFile;
};

// The bytes of one entry.
std::vector<unsigned char> EncodeEntry(const OsfEntry& entry);

// Field entries of the surface fields.
OsfEntry VerticesField(const std::vector<std::array<float, 3>>& vertices);
OsfEntry TextureCoordinatesField(const std::vector<std::array<float, 2>>& coordinates);
// "Triangles"/"TextureTriangles" (every polygon must have three vertices) or
// "Polygons"/"TexturePolygons" by name; indexWidth is 1, 2 or 4.
OsfEntry IndexField(const std::string& name, const std::vector<std::vector<unsigned int>>& polygons,
                    unsigned int indexWidth);
OsfEntry TextureMapField(int kind, std::uint32_t rows, std::uint32_t columns,
                         const std::vector<unsigned char>& pixels);

struct OsfContainerOptions
{
    unsigned int indexWidth = 4;  // 1, 2 or 4
    // Store polygons as "Triangles"/"TextureTriangles" when every polygon (and texture
    // polygon) is a triangle; otherwise as "Polygons"/"TexturePolygons".
    bool trianglesWhenPossible = true;
    bool checksum = true;       // end with an "Overall Checksum" over everything before it
    bool skipEntries = false;   // a skip entry before every field
    bool unreadEntries = false; // an unknown field and a flagged "Vertices" before the fields
};

// Lists that are empty get no field at all (a "Polygons" field of no values would still
// give one empty polygon).
std::vector<unsigned char> EncodeContainerSurface(
    const OsfSurface& surface, const OsfContainerOptions& options = OsfContainerOptions());

// Writes bytes to path, replacing the file. False when it cannot be written completely.
bool WriteOsfFile(const std::string& path, const std::vector<unsigned char>& bytes);
