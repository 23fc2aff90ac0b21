// Fuzzes surface files by their structure. A byte mutator rarely gets past a version-3 raw
// file's integrity tail or keeps a container's field sizes in step with its data, so this
// one parses each input as a raw file or a container, changes one field (an index, a count,
// an extent, a component size, a field name, a texture size, whole entries or polygons, or
// the whole mesh for a large fan or a triangle soup), and writes the file again with the
// fixture writer, tails and checksums recomputed. Inputs that parse as neither get the
// byte mutator.
//
// Each input is read as the program reads a file: loaded, checked and, when accepted,
// completed (triangulation, normals, extents, topology), so that the derivations meet
// whatever the readers let through; the two readers also run on libFuzzer's own buffer.

#include "document/KV_SurfacePreparation.h"
#include "surface/KV_PolySurface.h"
#include "surfacefile/KV_FieldContainerReader.h"
#include "surfacefile/KV_RawSurfaceReader.h"
#include "tests/support/SurfaceFileWriter.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <random>
#include <string>
#include <vector>

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace
{
// ---- Parsing ------------------------------------------------------------------------------

class Cursor
{
public:
    Cursor(const std::uint8_t* data, std::size_t size) : mpData(data), munSize(size) {}
    bool Has(std::size_t n) const { return munSize - munAt >= n; }
    std::size_t At() const { return munAt; }
    std::size_t Left() const { return munSize - munAt; }
    bool U8(std::uint32_t& v)
    {
        if (!Has(1))
            return false;
        v = mpData[munAt++];
        return true;
    }
    bool U32(std::uint32_t& v)
    {
        if (!Has(4))
            return false;
        v = 0;
        for (int k = 3; k >= 0; --k) v = (v << 8) | mpData[munAt + k];
        munAt += 4;
        return true;
    }
    bool Index(std::uint32_t& v, unsigned int width)
    {
        if (!Has(width))
            return false;
        v = 0;
        for (int k = static_cast<int>(width) - 1; k >= 0; --k) v = (v << 8) | mpData[munAt + k];
        munAt += width;
        return true;
    }
    bool F32(float& f)
    {
        std::uint32_t bits;
        if (!U32(bits))
            return false;
        std::memcpy(&f, &bits, 4);
        return true;
    }
    bool Bytes(std::size_t n, std::vector<unsigned char>& out)
    {
        if (!Has(n))
            return false;
        out.assign(mpData + munAt, mpData + munAt + n);
        munAt += n;
        return true;
    }

private:
    const std::uint8_t* mpData;
    std::size_t munSize;
    std::size_t munAt = 0;
};

struct RawFile
{
    OsfSurface surface;
    OsfRawOptions options;
};

bool ParsePolygonBlock(Cursor& in, int version, std::vector<std::vector<unsigned int>>& polygons)
{
    std::uint32_t count;
    if (!in.U32(count) || count > in.Left())
        return false;
    const unsigned int width = count < 65536 ? 2 : 4;
    polygons.resize(count);
    for (auto& polygon : polygons)
    {
        std::uint32_t k = 3;
        if (version >= 2 && !in.U8(k))
            return false;
        polygon.resize(k);
        for (auto& v : polygon)
        {
            std::uint32_t index;
            if (!in.Index(index, width))
                return false;
            v = index;
        }
    }
    return true;
}

bool ParseRaw(const std::uint8_t* data, std::size_t size, RawFile& file)
{
    if (size < 2)
        return false;
    Cursor in(data, size);
    int version;
    std::vector<unsigned char> bytes;
    if (data[0] == 0 && data[1] == 0)
        version = 0;
    else if (data[0] == ' ' && data[1] == ' ')
        version = 1;
    else if (data[0] == '0' && (data[1] == '2' || data[1] == '3'))
        version = data[1] - '0';
    else
        return false;
    in.Bytes(2, bytes);
    file.options.version = version;
    if (version == 1)
    {
        if (!in.Bytes(96, bytes))
            return false;
        file.options.headerText.assign(bytes.begin(), bytes.begin() + 94);
    }
    else if (version >= 2)
    {
        std::uint32_t length;
        if (!in.U32(length) || !in.Bytes(length, bytes))
            return false;
        file.options.headerText.assign(bytes.begin(), bytes.end());
    }
    OsfSurface& s = file.surface;
    if (!ParsePolygonBlock(in, version, s.polygons) ||
        !ParsePolygonBlock(in, version, s.texturePolygons))
        return false;
    std::uint32_t count;
    if (!in.U32(count))
        return false;
    if (static_cast<std::int32_t>(count) > 0)
    {
        if (count > in.Left() / 8)
            return false;
        s.textureCoordinates.resize(count);
        for (auto& t : s.textureCoordinates)
            if (!in.F32(t[0]) || !in.F32(t[1]))
                return false;
    }
    if (!in.U32(count))
        return false;
    if (static_cast<std::int32_t>(count) > 0)
    {
        if (count > in.Left() / 12)
            return false;
        s.vertices.resize(count);
        for (auto& v : s.vertices)
            if (!in.F32(v[0]) || !in.F32(v[1]) || !in.F32(v[2]))
                return false;
    }
    std::uint32_t kind;
    if (!in.U8(kind))
        return false;
    s.textureKind = static_cast<int>(kind);
    if (kind == 1 || kind == 3)
    {
        if (!in.U32(s.textureRows) || !in.U32(s.textureColumns))
            return false;
        const std::uint64_t pixels = std::uint64_t(s.textureRows) * s.textureColumns * kind;
        const std::size_t tail = version == 3 ? 8 : 0;
        if (pixels > in.Left() - std::min(in.Left(), tail))
            in.Bytes(in.Left() - std::min(in.Left(), tail), s.texturePixels);
        else
            in.Bytes(static_cast<std::size_t>(pixels), s.texturePixels);
    }
    file.options.integrityTail = version == 3 && in.Left() >= 8;
    return true;
}

bool KnownField(const std::string& name)
{
    static const char* known[] = {"Vertices",           "Triangles",        "Polygons",
                                  "TextureCoordinates", "TextureTriangles", "TexturePolygons",
                                  "TextureMap"};
    for (const char* k : known)
        if (name == k)
            return true;
    return false;
}

bool ParseString(Cursor& in, std::string& text, bool* terminated = nullptr)
{
    std::uint32_t length;
    std::vector<unsigned char> bytes;
    if (!in.U32(length) || !in.Bytes(length, bytes))
        return false;
    const auto zero = std::find(bytes.begin(), bytes.end(), 0);
    text.assign(bytes.begin(), zero);
    if (terminated)
        *terminated = zero != bytes.end();
    return true;
}

struct ContainerFile
{
    std::uint32_t firstEntry = 64;
    std::vector<OsfEntry> entries;
};

bool ParseContainer(const std::uint8_t* data, std::size_t size, ContainerFile& file)
{
    if (size < 42 || std::memcmp(data + 16, "Universal Field Container", 26) != 0)
        return false;
    Cursor header(data, size);
    header.U32(file.firstEntry);
    if (file.firstEntry < 42 || file.firstEntry > size)
        return false;
    Cursor in(data + file.firstEntry, size - file.firstEntry);
    std::vector<unsigned char> bytes;
    // Entries up to the first that does not parse whole; the rest is dropped.
    while (in.Has(12))
    {
        OsfEntry e;
        in.U32(e.word1);
        in.U32(e.word2);
        in.U32(e.skipWord);
        if (e.skipWord != 0)
        {
            file.entries.push_back(e);
            continue;
        }
        if (!ParseString(in, e.name, &e.terminateName) || !in.U32(e.flag) ||
            !ParseString(in, e.description))
            break;
        e.hasBody = (KnownField(e.name) && e.flag == 0) || e.name == "Overall Checksum";
        if (e.hasBody)
        {
            std::uint32_t m, k, value;
            if (!ParseString(in, e.layout) || !in.U32(m) || m > in.Left() / 2)
                break;
            std::uint64_t sum = 0;
            for (std::uint32_t i = 0; i < m; ++i)
            {
                std::uint32_t type, componentSize;
                in.U8(type);
                in.U8(componentSize);
                e.components.push_back(
                    {static_cast<unsigned char>(type), static_cast<unsigned char>(componentSize)});
                sum += componentSize;
            }
            if (!in.U32(k) || k > in.Left() / 4)
                break;
            std::uint64_t bodySize = sum;
            for (std::uint32_t i = 0; i < k; ++i)
            {
                in.U32(value);
                e.extents.push_back(value);
                bodySize = std::min<std::uint64_t>(bodySize * value, std::uint64_t(1) << 40);
            }
            std::uint32_t padding;
            if (bodySize > in.Left() || !in.Bytes(static_cast<std::size_t>(bodySize), e.data) ||
                !in.U8(padding) || !in.Bytes(padding, bytes) || !in.U32(e.trailer))
                break;
            e.padding = static_cast<unsigned char>(padding);
        }
        file.entries.push_back(e);
    }
    return true;
}

// ---- Mutating ----------------------------------------------------------------------------

using Random = std::minstd_rand;

unsigned int Below(Random& random, std::size_t n)
{
    return n == 0 ? 0 : static_cast<unsigned int>(random() % n);
}

// A value near a limit the readers and derivations test against.
std::uint32_t Edgy(Random& random, std::uint32_t count)
{
    const std::uint32_t values[] = {0,
                                    1,
                                    count - 1,
                                    count,
                                    count + 1,
                                    count * 2,
                                    0xFFFFu,
                                    0x10000u,
                                    0x7FFFFFFFu,
                                    0xFFFFFFFFu,
                                    static_cast<std::uint32_t>(random())};
    return values[Below(random, sizeof values / sizeof values[0])];
}

float EdgyFloat(Random& random, float value)
{
    const float values[] = {1e6f + value,
                            -1e6f - value,
                            1e30f,
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::denorm_min(),
                            -0.0f,
                            value * 1.0001f,
                            2.0f,
                            -1.0f};
    return values[Below(random, sizeof values / sizeof values[0])];
}

// A fan of n triangles about vertex 0 (a vertex of very many polygons), or the same
// triangles each on its own three vertices.
void MakeFan(OsfSurface& s, unsigned int n, bool soup)
{
    s.vertices.clear();
    s.polygons.clear();
    s.vertices.push_back({0, 0, 0});
    for (unsigned int k = 0; k <= n; ++k)
    {
        const float a = 3.0f * static_cast<float>(k) / static_cast<float>(n);
        s.vertices.push_back({std::cos(a), std::sin(a), 0.1f * std::sin(7 * a)});
    }
    for (unsigned int k = 0; k < n; ++k) s.polygons.push_back({0, k + 1, k + 2});
    if (soup)
    {
        const std::vector<std::array<float, 3>> points = s.vertices;
        s.vertices.clear();
        for (auto& polygon : s.polygons)
            for (auto& v : polygon)
            {
                s.vertices.push_back(points[v]);
                v = static_cast<unsigned int>(s.vertices.size() - 1);
            }
    }
    s.texturePolygons = s.polygons;
    s.textureCoordinates.assign(s.vertices.size(), {0.5f, 0.5f});
}

void MutatePolygons(Random& random, std::vector<std::vector<unsigned int>>& polygons,
                    std::uint32_t count)
{
    if (polygons.empty())
    {
        polygons.push_back({0, 1, 2});
        return;
    }
    auto& polygon = polygons[Below(random, polygons.size())];
    switch (Below(random, 5))
    {
        case 0:
            if (!polygon.empty())
                polygon[Below(random, polygon.size())] = Edgy(random, count);
            break;
        case 1:
            polygon.push_back(Below(random, count + 1));
            break;
        case 2:
            if (!polygon.empty())
                polygon.pop_back();
            break;
        case 3:
            polygons.push_back(polygon);
            break;
        default:
            polygons.erase(polygons.begin() + Below(random, polygons.size()));
            break;
    }
}

void MutateRaw(Random& random, RawFile& file)
{
    OsfSurface& s = file.surface;
    const auto vertexCount = static_cast<std::uint32_t>(s.vertices.size());
    switch (Below(random, 9))
    {
        case 0:
            MutatePolygons(random, s.polygons, vertexCount);
            break;
        case 1:
            MutatePolygons(random, s.texturePolygons,
                           static_cast<std::uint32_t>(s.textureCoordinates.size()));
            break;
        case 2:
            if (!s.vertices.empty())
            {
                auto& v = s.vertices[Below(random, s.vertices.size())];
                v[Below(random, 3)] = EdgyFloat(random, v[0]);
            }
            break;
        case 3:
        {
            // Every vertex far from the origin.
            const float offset = random() % 2 ? 1e5f : 1e6f;
            for (auto& v : s.vertices)
                for (float& c : v) c += offset;
            break;
        }
        case 4:
            switch (Below(random, 3))
            {
                case 0:
                    s.textureKind = static_cast<int>(Below(random, 5));
                    break;
                case 1:
                    s.textureRows = Edgy(random, s.textureRows);
                    break;
                default:
                    s.textureColumns = Edgy(random, s.textureColumns);
                    break;
            }
            break;
        case 5:
            if (!s.textureCoordinates.empty())
                s.textureCoordinates[Below(random, s.textureCoordinates.size())][Below(random, 2)] =
                    EdgyFloat(random, 0.5f);
            else
                s.textureCoordinates.push_back({0.5f, 2.0f});
            break;
        case 6:
            file.options.version = static_cast<int>(Below(random, 4));
            break;
        case 7:
            MakeFan(s, 1 + Below(random, 20000), random() % 2 == 0);
            break;
        default:
            file.options.headerText.resize(Below(random, 1100), 'h');
            break;
    }
}

void MutateContainer(Random& random, ContainerFile& file, std::uint8_t* scratch,
                     std::size_t scratchSize)
{
    auto& entries = file.entries;
    if (entries.empty() || Below(random, 12) == 0)
    {
        // A whole mesh: a large fan or a soup.
        OsfSurface s;
        MakeFan(s, 1 + Below(random, 20000), random() % 2 == 0);
        entries.push_back(VerticesField(s.vertices));
        entries.push_back(IndexField("Triangles", s.polygons, 4));
        return;
    }
    OsfEntry& e = entries[Below(random, entries.size())];
    switch (Below(random, 9))
    {
        case 0:
            if (e.extents.empty() || random() % 4 == 0)
                e.extents.push_back(Edgy(random, 3));
            else if (random() % 4 == 0)
                e.extents.pop_back();
            else
            {
                std::uint32_t& extent = e.extents[Below(random, e.extents.size())];
                extent = Edgy(random, extent);
            }
            break;
        case 1:
            if (e.components.empty() || random() % 4 == 0)
                e.components.push_back({'u', static_cast<unsigned char>(Below(random, 5))});
            else if (random() % 4 == 0)
                e.components.pop_back();
            else
            {
                const unsigned char sizes[] = {0, 1, 2, 3, 4, 8, 12, 255};
                e.components[Below(random, e.components.size())].second = sizes[Below(random, 8)];
            }
            break;
        case 2:
        {
            static const char* names[] = {
                "Vertices",           "Triangles",        "Polygons",
                "TextureCoordinates", "TextureTriangles", "TexturePolygons",
                "TextureMap",         "Overall Checksum", "Other"};
            e.name = names[Below(random, 9)];
            e.hasBody = (KnownField(e.name) && e.flag == 0) || e.name == "Overall Checksum";
            break;
        }
        case 3:
            e.flag = e.flag ? 0 : 1;
            e.hasBody = (KnownField(e.name) && e.flag == 0) || e.name == "Overall Checksum";
            break;
        case 4:
        {
            // Repeat an entry, up to many times (a file of thousands of checksum fields).
            const OsfEntry copy = e;
            const unsigned int times = random() % 8 == 0 ? 1 + Below(random, 5000) : 1;
            for (unsigned int k = 0; k < times; ++k) entries.push_back(copy);
            break;
        }
        case 5:
            entries.erase(entries.begin() + Below(random, entries.size()));
            break;
        case 6:
            std::swap(e, entries[Below(random, entries.size())]);
            break;
        case 7:
            if (!e.data.empty())
            {
                // The byte mutator inside one field's data, its size kept in step with it.
                const std::size_t size = std::min(e.data.size(), scratchSize);
                std::memcpy(scratch, e.data.data(), size);
                e.data.assign(scratch, scratch + LLVMFuzzerMutate(scratch, size, scratchSize));
            }
            break;
        default:
            if (!e.data.empty())
            {
                // An index or count value at a limit, at a 4-byte-aligned place.
                const std::size_t at = Below(random, e.data.size() / 4 + 1) * 4;
                const std::uint32_t value = Edgy(random, 5);
                for (std::size_t k = 0; k < 4 && at + k < e.data.size(); ++k)
                    e.data[at + k] = static_cast<unsigned char>(value >> (8 * k));
            }
            break;
    }
}

std::size_t Emit(const std::vector<unsigned char>& bytes, std::uint8_t* data, std::size_t maxSize)
{
    if (bytes.empty() || bytes.size() > maxSize)
        return 0;
    std::memcpy(data, bytes.data(), bytes.size());
    return bytes.size();
}

std::size_t MutateStructure(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                            unsigned int seed)
{
    Random random(seed);
    try
    {
        RawFile raw;
        if (ParseRaw(data, size, raw))
        {
            MutateRaw(random, raw);
            return Emit(EncodeRawSurface(raw.surface, raw.options), data, maxSize);
        }
        ContainerFile container;
        if (ParseContainer(data, size, container))
        {
            std::vector<unsigned char> scratch(4096);
            MutateContainer(random, container, scratch.data(), scratch.size());
            OsfContainer out(container.firstEntry);
            for (const OsfEntry& e : container.entries) out.Add(e);
            if (random() % 2 == 0)
                out.AddChecksum();
            return Emit(out.Bytes(), data, maxSize);
        }
    }
    catch (const std::exception&)
    {
        // A surface the writer cannot encode (a quadrilateral in an early raw version, an
        // index too wide): the byte mutator instead.
    }
    return 0;
}

const std::string& ScratchPath()
{
    static const std::string path =
        "/tmp/fuzz_surface_structure-" + std::to_string(static_cast<long>(getpid())) + ".osf";
    return path;
}
}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed)
{
    // One time in eight, and whenever the input is no surface file, bytes alone.
    if (seed % 8 != 0)
    {
        const std::size_t mutated = MutateStructure(data, size, maxSize, seed);
        if (mutated > 0)
            return mutated;
    }
    return LLVMFuzzerMutate(data, size, maxSize);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        KV_PolySurface surface;
        KV_RawSurfaceReader(surface).Read(data, size);
    }
    {
        KV_PolySurface surface;
        KV_FieldContainerReader(surface).Read(data, size);
    }
    std::FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (f == nullptr)
        return 0;
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) == 0 && written)
    {
        KV_PolySurface surface;
        KV_SurfaceReadReport report;
        if (KV_ReadSurfaceFile(ScratchPath().c_str(), surface, report))
            KV_CompleteSurface(surface);
    }
    std::remove(ScratchPath().c_str());
    return 0;
}
