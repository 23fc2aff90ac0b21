#include "meshfile/KV_ObjReader.h"

#include "foundation/KV_Counted.h"
#include "foundation/KV_Executor.h"
#include "foundation/KV_Report.h"
#include "meshfile/KV_BitWelder.h"
#include "meshfile/KV_MaterialTextures.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_ModelAppearance.h"
#include "meshfile/KV_ReadStop.h"
#include "meshfile/KV_TextureLookup.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_TexturedPolySurface.h"

#include <tiny_obj_loader.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <map>
#include <set>
#include <sstream>
#include <streambuf>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const unsigned int kNone = UINT_MAX;

// A message for the user: its text and its caption.
struct TextureMessage
{
    std::string text;
    std::string caption;
};

// Finds and decodes a material's picture; on failure, failure holds the message.
bool LoadTextureFile(const std::string& modelPath, KV_MaterialTexture& texture,
                     TextureMessage& failure, const std::atomic<bool>* stop)
{
    return KV_ReadModelTexture(modelPath, texture.name, *texture.image, failure.text,
                               failure.caption, stop);
}

// Something the import library would read differently, or refuse: the file goes to it.
struct Defer
{
    std::string why;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trimmed(const char* text)
{
    std::string name(text);
    const std::size_t first = name.find_first_not_of(" \t");
    const std::size_t last = name.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
}

// The whitespace-separated words of a line (without its keyword), at most limit of them.
std::vector<std::string> Words(const char* begin, const char* end, std::size_t limit = 8)
{
    std::vector<std::string> words;
    const char* p = begin;
    while (p < end && words.size() < limit)
    {
        while (p < end && IsBlank(*p)) ++p;
        const char* start = p;
        while (p < end && !IsBlank(*p)) ++p;
        if (p > start)
            words.emplace_back(start, p);
    }
    return words;
}

// Whether a line of numbers (or of face indices, with slashes) holds nothing else: words the
// two readers could read differently ("nan", "0x1p3", "1,5", "2a") go to the library.
bool PlainNumbers(const char* begin, const char* end, bool slashes)
{
    for (const char* p = begin; p < end; ++p)
    {
        const char c = *p;
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || IsBlank(c) ||
              (slashes ? c == '/' : (c == 'e' || c == 'E'))))
            return false;
    }
    return true;
}

// Whether a face line holds indices only, none of them 0 (which the parser's calls cannot
// tell from an index left out, and the library refuses).
bool PlainIndices(const char* begin, const char* end)
{
    if (!PlainNumbers(begin, end, true))
        return false;
    bool digits = false, nonzero = false;
    for (const char* p = begin; p <= end; ++p)
    {
        const char c = p < end ? *p : ' ';
        if (c >= '0' && c <= '9')
        {
            digits = true;
            nonzero = nonzero || c != '0';
        }
        else if (c == '/' || IsBlank(c))
        {
            if (digits && !nonzero)
                return false;
            digits = nonzero = false;
        }
    }
    return true;
}

std::size_t CountWords(const char* begin, const char* end, std::size_t limit = SIZE_MAX)
{
    std::size_t count = 0;
    for (const char* p = begin; p < end && count < limit;)
    {
        while (p < end && IsBlank(*p)) ++p;
        if (p == end)
            break;
        ++count;
        while (p < end && !IsBlank(*p)) ++p;
    }
    return count;
}

// A file's bytes, not cleared before they are read over.
struct FileBytes
{
    std::unique_ptr<char[]> memory;
    std::size_t count = 0;
    const char* data() const { return memory.get(); }
    std::size_t size() const { return count; }
};

// Reads in blocks, looking at the stop flag between them.
bool ReadWholeFile(const std::string& path, FileBytes& bytes, const std::atomic<bool>* stop)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok)
    {
        bytes.count = static_cast<std::size_t>(size);
        bytes.memory.reset(new char[bytes.count + 1]);
        const std::size_t kBlock = std::size_t(16) << 20;
        for (std::size_t done = 0; ok && done < bytes.count;)
        {
            if (KV_IsStopped(stop))
            {
                std::fclose(file);
                throw KV_StopSeen();
            }
            const std::size_t want = std::min(kBlock, bytes.count - done);
            ok = std::fread(bytes.memory.get() + done, 1, want, file) == want;
            done += want;
        }
    }
    std::fclose(file);
    return ok;
}

// Calls line(keyword, keywordEnd, rest, lineEnd) for every line that is not blank. Lines end
// at "\n" or "\r\n"; a lone "\r", a NUL byte or a line continued by a backslash is read
// differently by the two readers.
template <typename Line>
void ForEachLine(const FileBytes& bytes, const std::atomic<bool>* stop, Line line)
{
    if (std::memchr(bytes.data(), 0, bytes.size()) != nullptr)
        throw Defer{"a NUL byte"};
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    for (unsigned int count = 0; p < end; ++count)
    {
        if (count % kStopCheckEvery == 0)
            KV_CheckStop(stop);
        const std::size_t left = static_cast<std::size_t>(end - p);
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', left));
        std::size_t length = newline != nullptr ? static_cast<std::size_t>(newline - p) : left;
        const char* next = p + std::min(length + 1, left);
        if (length > 0 && p[length - 1] == '\r')
            --length;
        const char* lineEnd = p + length;
        if (std::memchr(p, '\r', length) != nullptr)
            throw Defer{"a carriage return inside a line"};
        const char* keyword = p;
        while (keyword < lineEnd && IsBlank(*keyword)) ++keyword;
        if (keyword < lineEnd && lineEnd[-1] == '\\')
            throw Defer{"a continued line"};
        if (keyword < lineEnd)
        {
            const char* keywordEnd = keyword;
            while (keywordEnd < lineEnd && !IsBlank(*keywordEnd)) ++keywordEnd;
            line(std::string(keyword, keywordEnd), keywordEnd, lineEnd);
        }
        p = next;
    }
}

struct Material
{
    std::string name;
    std::string texture;  // the diffuse map as written; empty when none
};

// The OBJ file's look: what the first pass over its lines found.
struct Survey
{
    std::vector<std::string> libraries;  // mtllib names, in order
    std::size_t vertices = 0, coordinates = 0, faces = 0;
    // The vertices' colours (red, green, blue bytes, alpha 255), when asked for and every
    // vertex has one; the parser's calls do not carry them.
    std::vector<std::uint8_t> colours;
};

// The three colour words after a vertex's coordinates, as bytes; read correctly rounded as
// the coordinates are.
void ReadColour(const char* begin, const char* end, std::vector<std::uint8_t>& colours)
{
    const std::vector<std::string> words = Words(begin, end);
    for (std::size_t k = 3; k < 6; ++k)
    {
        const char* first = words[k].data();
        const char* last = first + words[k].size();
        if (*first == '+')
            ++first;
        float value = 0.0f;
        const std::from_chars_result read = std::from_chars(first, last, value);
        if (read.ec != std::errc() || read.ptr != last)
            throw Defer{"a vertex colour of other than plain numbers"};
        colours.push_back(KV_ColourByte(value));
    }
    colours.push_back(255);
}

Survey SurveyLines(const FileBytes& bytes, bool wantColours, const std::atomic<bool>* stop)
{
    Survey survey;
    std::size_t coloured = 0;
    ForEachLine(
        bytes, stop,
        [&](const std::string& keyword, const char* rest, const char* end)
        {
            if (keyword == "f")
            {
                if (!PlainIndices(rest, end) || CountWords(rest, end, 1) == 0)
                    throw Defer{"a face of other than indices"};
                ++survey.faces;
            }
            else if (keyword == "v")
            {
                const std::size_t n = CountWords(rest, end);
                if ((n != 3 && n != 6) || !PlainNumbers(rest, end, false))
                    throw Defer{"a vertex of " + KV_Counted(n, "word", "words")};
                ++survey.vertices;
                coloured += n == 6;
                if (n == 6 && wantColours)
                    ReadColour(rest, end, survey.colours);
            }
            else if (keyword == "vt")
            {
                const std::size_t n = CountWords(rest, end);
                if ((n != 2 && n != 3) || !PlainNumbers(rest, end, false))
                    throw Defer{"a texture coordinate of " + KV_Counted(n, "word", "words")};
                ++survey.coordinates;
            }
            else if (keyword == "o" || keyword == "g" || keyword == "usemtl" || keyword == "mtllib")
            {
                const std::vector<std::string> words = Words(rest, end);
                if (words.size() != 1)
                    throw Defer{"a name of " + KV_Counted(words.size(), "word", "words") +
                                " after " + keyword};
                if (keyword == "mtllib")
                    survey.libraries.push_back(words[0]);
            }
            else if (keyword != "vn" && keyword != "s" && keyword[0] != '#')
                throw Defer{"the statement " + keyword.substr(0, 16)};
        });
    // Colours on some vertices only: the library's colour list would not match its vertices.
    if (coloured != 0 && coloured != survey.vertices)
        throw Defer{"colours on some vertices only"};
    return survey;
}

// The materials of the MTL files the model names, in the order they are defined. A file the
// model names that is not there is looked for as the model's own name with .mtl, as the
// import library does; one that is not found at all gives no materials.
std::vector<Material> ReadMaterials(const std::string& path, const Survey& survey,
                                    std::map<std::string, std::string>& lastOfLibrary,
                                    const std::atomic<bool>* stop)
{
    std::vector<Material> materials;
    std::set<std::string> names;
    std::set<std::string> done;
    const fs::path folder = fs::path(path).parent_path();
    std::map<std::string, std::string> lastOfFile;
    for (const std::string& library : survey.libraries)
    {
        if (library.find('\\') != std::string::npos)
            throw Defer{"a material file name with a backslash"};
        std::string file = fs::path(library).is_absolute() ? library : (folder / library).string();
        std::error_code code;
        if (!fs::is_regular_file(file, code))
            file = path.substr(0, path.size() - 3) + "mtl";
        if (!fs::is_regular_file(file, code))
            continue;
        if (!done.insert(file).second)
        {
            lastOfLibrary[library] = lastOfFile[file];
            continue;
        }
        FileBytes bytes;
        if (!ReadWholeFile(file, bytes, stop))
            throw Defer{"a material file that cannot be read"};
        // Only plain statements reach the parser: a name of one word, a map of one file name
        // without options, numbers.
        ForEachLine(bytes, stop,
                    [&](const std::string& keyword, const char* rest, const char* end)
                    {
                        static const char* const kMaps[] = {"newmtl", "map_", "bump", "disp",
                                                            "decal",  "refl", "norm"};
                        if (keyword[0] == '#')
                            return;
                        // The library takes the diffuse map in any letter case, the parser
                        // in one.
                        std::string lower = keyword;
                        for (char& c : lower)
                            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                        if (lower.compare(0, 6, "map_kd") == 0 && keyword != "map_Kd")
                            throw Defer{"a diffuse map written " + keyword.substr(0, 16)};
                        for (const char* map : kMaps)
                            if (keyword.compare(0, std::strlen(map), map) == 0)
                            {
                                const std::vector<std::string> words = Words(rest, end);
                                if (words.size() != 1 || words[0][0] == '-')
                                    throw Defer{"a material statement " + keyword +
                                                " of options or several words"};
                                return;
                            }
                        if (!PlainNumbers(rest, end, false))
                            throw Defer{"a material statement " + keyword.substr(0, 16) +
                                        " of other than numbers"};
                    });
        std::string text(bytes.data(), bytes.size());
        std::istringstream stream(text);
        std::map<std::string, int> map;
        std::vector<tinyobj::material_t> read;
        std::string warning, error;
        tinyobj::LoadMtl(&map, &read, &stream, &warning, &error);
        for (const tinyobj::material_t& material : read)
        {
            if (!names.insert(material.name).second)
                throw Defer{"a material defined twice"};
            materials.push_back({material.name, material.diffuse_texname});
            lastOfFile[file] = material.name;
        }
        lastOfLibrary[library] = lastOfFile[file];
    }
    return materials;
}

// The texture files, decoded as one piece beside the geometry (on the executor's threads;
// without one, when the first is asked for). Each distinct file name once, in material
// order; a texture no polygon uses is skipped once the geometry says so, and none once the
// read is stopped or given up.
class TextureDecoder
{
public:
    TextureDecoder(const std::string& path, const std::vector<Material>& materials,
                   KV_Executor* executor, const std::atomic<bool>* stop)
        : mkPath(path), mpStop(stop)
    {
        for (const Material& material : materials)
            if (!material.texture.empty() &&
                mkIndex.emplace(material.texture, mkTextures.size()).second)
            {
                mkTextures.emplace_back();
                mkTextures.back().texture = std::make_unique<KV_MaterialTexture>();
                mkTextures.back().texture->name = material.texture;
            }
        if (!mkTextures.empty())
            mkWork = KV_Spawn(executor, [this] { Run(); });
    }
    ~TextureDecoder() { Cancel(); }

    // The polygons' use is known: textures no polygon uses need not be decoded.
    void Needed(const std::set<std::string>& names)
    {
        for (Entry& entry : mkTextures) entry.wanted = names.count(entry.texture->name) > 0;
        mbNeedKnown.store(true, std::memory_order_release);
    }
    void Cancel()
    {
        mbCancelled = true;
        Finish();
    }
    // Waits for the piece; then the texture of a name, decoded or not (null when unknown).
    KV_MaterialTexture* Take(const std::string& name, TextureMessage& failure)
    {
        Finish();
        auto found = mkIndex.find(name);
        if (found == mkIndex.end())
            return nullptr;
        Entry& entry = mkTextures[found->second];
        if (!entry.done)  // skipped as not needed after all: decode it now
        {
            entry.texture->loaded = LoadTextureFile(mkPath, *entry.texture, entry.failure, mpStop);
            entry.done = true;
        }
        failure = entry.failure;
        return entry.texture.get();
    }

private:
    struct Entry
    {
        std::unique_ptr<KV_MaterialTexture> texture;
        TextureMessage failure;
        bool wanted = true;
        bool done = false;
    };

    void Run()
    {
        for (Entry& entry : mkTextures)
        {
            if (mbCancelled || KV_IsStopped(mpStop))
                return;
            if (mbNeedKnown.load(std::memory_order_acquire) && !entry.wanted)
                continue;
            try
            {
                entry.texture->loaded =
                    LoadTextureFile(mkPath, *entry.texture, entry.failure, mpStop);
            }
            catch (const std::exception& e)  // out of memory: the texture is left out
            {
                entry.texture->loaded = false;
                entry.failure = {"The texture " + entry.texture->name + " of " + mkPath +
                                     " cannot be decoded (" + e.what() +
                                     "). The surface is shown without it.",
                                 "Texture not loaded"};
            }
            entry.done = true;
        }
    }
    void Finish()
    {
        if (mkWork.Valid())
            mkWork.Get();
    }

    const std::string mkPath;
    const std::atomic<bool>* mpStop;
    std::vector<Entry> mkTextures;               // fixed before the piece is handed out
    std::map<std::string, std::size_t> mkIndex;  // by file name as written
    std::atomic<bool> mbNeedKnown{false};
    std::atomic<bool> mbCancelled{false};
    KV_Task<void> mkWork;
};

// A read-only stream over bytes in memory, for the parser, handed out some 64 KB of whole
// lines at a time: once the stop flag is set, it ends at the end of a line, so that the
// parse stops soon and its last line is one the first pass checked.
class MemoryStream : public std::streambuf
{
public:
    MemoryStream(const char* data, std::size_t size, const std::atomic<bool>* stop)
        : mpNext(const_cast<char*>(data)), mpEnd(const_cast<char*>(data) + size), mpStop(stop)
    {
        setg(mpNext, mpNext, mpNext);
    }

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        if (mpNext == mpEnd || KV_IsStopped(mpStop))
            return traits_type::eof();
        const std::size_t kBlock = 1 << 16;
        char* const begin = mpNext;
        char* last = begin + std::min<std::size_t>(kBlock, std::size_t(mpEnd - begin));
        if (last < mpEnd)
        {
            // To the end of the block's last whole line, or of its first line when it has none.
            const void* newline = memrchr(begin, '\n', std::size_t(last - begin));
            if (newline == nullptr)
                newline = std::memchr(last, '\n', std::size_t(mpEnd - last));
            last = newline != nullptr ? static_cast<char*>(const_cast<void*>(newline)) + 1 : mpEnd;
        }
        mpNext = last;
        setg(begin, begin, last);
        return traits_type::to_int_type(*gptr());
    }

private:
    char* mpNext;
    char* const mpEnd;
    const std::atomic<bool>* mpStop;
};

// What the parser's calls collect: the file's lists, and its polygons as corners with the
// object and the library's mesh each belongs to. The library makes a new object at each new
// group or object name, and within it a new mesh when the material changes; an object's first
// mesh takes the material current when it was made (the last one a material file defined, or
// the last one named), and a mesh made before any material is named takes the first named.
struct Geometry
{
    const std::map<std::string, unsigned int>* materialIndex = nullptr;
    const std::map<std::string, std::string>* lastOfLibrary = nullptr;
    std::vector<float> positions;    // x y z
    std::vector<float> coordinates;  // u v
    std::size_t normals = 0;
    bool keepNormals = false;           // with a table: the values and each corner's index
    std::vector<float> normalValues;    // x y z
    std::vector<unsigned int> corners;            // position index
    std::vector<unsigned int> cornerCoordinates;  // index into coordinates, kNone when none
    std::vector<unsigned int> cornerNormals;      // index into normalValues, kNone when none
    std::size_t cornersWithNormals = 0;
    std::vector<std::size_t> starts;              // first corner of each polygon, and the end
    std::vector<unsigned int> objects;            // per polygon
    std::vector<unsigned int> meshes;             // per polygon
    struct Mesh
    {
        bool assigned;          // whether a material was given to it
        unsigned int material;  // textured material's index; kNone for one without a map
        bool faces;
    };
    std::vector<Mesh> meshList;
    unsigned int object = 0;
    bool objectMade = false;
    std::string activeGroup;
    std::set<std::string> objectNames;
    bool hasCurrent = false;
    std::string current;  // the current material's name
    bool anyCoordinates = false;
    long maxNormal = 0;
    std::string deferral;

    unsigned int IndexOf(const std::string& name) const
    {
        auto found = materialIndex->find(name);
        return found != materialIndex->end() ? found->second : kNone;
    }
    void NewMesh(bool assigned, unsigned int material)
    {
        meshList.push_back({assigned, material, false});
    }
    void NewObject(const std::string& name)
    {
        if (objectMade)
            ++object;
        objectMade = true;
        objectNames.insert(name);
        NewMesh(hasCurrent, hasCurrent ? IndexOf(current) : kNone);
    }
};

// Called where the file names a material file: the library makes the last material the file
// defines the current one. Nothing is read here (the files were read beforehand).
class LibraryEvents : public tinyobj::MaterialReader
{
public:
    explicit LibraryEvents(Geometry& geometry) : mkGeometry(geometry) {}
    bool operator()(const std::string& name, std::vector<tinyobj::material_t>*,
                    std::map<std::string, int>*, std::string*, std::string*) override
    {
        auto found = mkGeometry.lastOfLibrary->find(name);
        if (found != mkGeometry.lastOfLibrary->end() && !found->second.empty())
        {
            mkGeometry.hasCurrent = true;
            mkGeometry.current = found->second;
        }
        return false;
    }

private:
    Geometry& mkGeometry;
};

void OnVertex(void* data, tinyobj::real_t x, tinyobj::real_t y, tinyobj::real_t z, tinyobj::real_t)
{
    auto& g = *static_cast<Geometry*>(data);
    g.positions.insert(g.positions.end(), {x, y, z});
}

void OnNormal(void* data, tinyobj::real_t x, tinyobj::real_t y, tinyobj::real_t z)
{
    auto& g = *static_cast<Geometry*>(data);
    ++g.normals;
    if (g.keepNormals)
        g.normalValues.insert(g.normalValues.end(), {x, y, z});
}

void OnCoordinate(void* data, tinyobj::real_t u, tinyobj::real_t v, tinyobj::real_t)
{
    auto& g = *static_cast<Geometry*>(data);
    g.coordinates.insert(g.coordinates.end(), {u, v});
}

// Resolves a face index as the import library does: positive ones count from the file's
// first element (checked when all are read), negative ones back from the last read so far.
// False for 0 and for a relative index before the first.
bool Resolve(int raw, std::size_t sofar, long& index)
{
    if (raw > 0)
        index = long(raw) - 1;
    else if (raw < 0 && std::size_t(-long(raw)) <= sofar)
        index = long(sofar) + raw;
    else
        return false;
    return true;
}

void OnFace(void* data, tinyobj::index_t* indices, int count)
{
    auto& g = *static_cast<Geometry*>(data);
    if (!g.deferral.empty())
        return;
    if (count < 3)
    {
        g.deferral = "a face of fewer than three corners";
        return;
    }
    if (!g.objectMade)
        g.NewObject("defaultobject");
    const bool textured = indices[0].texcoord_index != 0;
    for (int i = 0; i < count; ++i)
    {
        long position = 0, coordinate = 0, normal = 0;
        if (!Resolve(indices[i].vertex_index, g.positions.size() / 3, position) ||
            (indices[i].normal_index != 0 &&
             !Resolve(indices[i].normal_index, g.normals, normal)) ||
            (indices[i].texcoord_index != 0) != textured ||
            (textured && !Resolve(indices[i].texcoord_index, g.coordinates.size() / 2, coordinate)))
        {
            g.deferral = "a face index that is 0, before the first element, or mixed";
            return;
        }
        g.corners.push_back(static_cast<unsigned int>(std::min<long>(position, kNone - 1)));
        g.cornerCoordinates.push_back(
            textured ? static_cast<unsigned int>(std::min<long>(coordinate, kNone - 1)) : kNone);
        if (indices[i].normal_index != 0)
        {
            g.maxNormal = std::max(g.maxNormal, normal + 1);
            ++g.cornersWithNormals;
        }
        if (g.keepNormals)
            g.cornerNormals.push_back(indices[i].normal_index == 0
                                          ? kNone
                                          : static_cast<unsigned int>(
                                                std::min<long>(normal, kNone - 1)));
    }
    g.anyCoordinates = g.anyCoordinates || textured;
    g.starts.push_back(g.corners.size());
    g.objects.push_back(g.object);
    g.meshes.push_back(static_cast<unsigned int>(g.meshList.size() - 1));
    g.meshList.back().faces = true;
}

void OnMaterial(void* data, const char* text, int)
{
    auto& g = *static_cast<Geometry*>(data);
    const std::string name = Trimmed(text);
    if (g.hasCurrent && g.current == name)
        return;
    g.hasCurrent = true;
    g.current = name;
    const unsigned int material = g.IndexOf(name);
    if (g.meshList.empty() || (g.meshList.back().assigned && g.meshList.back().faces &&
                               g.meshList.back().material != material))
        g.NewMesh(true, material);  // (before any object, a mesh no object holds)
    g.meshList.back().assigned = true;
    g.meshList.back().material = material;
}

void OnGroup(void* data, const char** names, int count)
{
    auto& g = *static_cast<Geometry*>(data);
    if (count != 1)
    {
        g.deferral = "a group of no name or several";
        return;
    }
    if (g.activeGroup == names[0])
        return;
    g.activeGroup = names[0];
    g.NewObject(names[0]);
}

void OnObject(void* data, const char* name)
{
    auto& g = *static_cast<Geometry*>(data);
    const std::string trimmed = Trimmed(name);
    if (g.objectNames.count(trimmed) > 0)
    {
        g.deferral = "an object named twice";
        return;
    }
    g.NewObject(trimmed);
}

}  // namespace

KV_ObjReader::KV_ObjReader(KV_TexturedPolySurface& surface, KV_SurfaceAppearance* appearance)
    : mkSurface(surface), mpAppearance(appearance)
{
}

void KV_ObjReader::ClearResult()
{
    mkSurface.Clear();
    if (mpAppearance != nullptr)
        mpAppearance->Clear();
}

bool KV_ObjReader::Read(const std::string& path)
{
    ClearResult();
    const bool table = mpAppearance != nullptr;
    mkDeferral.clear();
    std::unique_ptr<TextureDecoder> decoder;
    try
    {
        KV_CheckStop(mpStop);
        FileBytes bytes;
        if (!ReadWholeFile(path, bytes, mpStop))
            throw Defer{"a file that cannot be read"};
        if (bytes.size() < 16)
            throw Defer{"a file of under 16 bytes"};
        Survey survey = SurveyLines(bytes, table, mpStop);
        if (survey.faces == 0)
            throw Defer{"no faces"};
        std::map<std::string, std::string> lastOfLibrary;
        const std::vector<Material> materials =
            ReadMaterials(path, survey, lastOfLibrary, mpStop);
        std::map<std::string, unsigned int> materialIndex;
        for (unsigned int m = 0; m < materials.size(); ++m)
            if (!materials[m].texture.empty())
                materialIndex[materials[m].name] = m;
        decoder = std::make_unique<TextureDecoder>(path, materials, mpExecutor, mpStop);

        // The geometry, through the parser's calls.
        Geometry g;
        g.keepNormals = table;
        g.materialIndex = &materialIndex;
        g.lastOfLibrary = &lastOfLibrary;
        g.positions.reserve(3 * survey.vertices);
        g.coordinates.reserve(2 * survey.coordinates);
        g.starts.reserve(survey.faces + 1);
        g.objects.reserve(survey.faces);
        g.meshes.reserve(survey.faces);
        g.corners.reserve(3 * survey.faces);
        g.cornerCoordinates.reserve(3 * survey.faces);
        if (table)
            g.cornerNormals.reserve(3 * survey.faces);
        g.starts.push_back(0);
        tinyobj::callback_t calls;
        calls.vertex_cb = OnVertex;
        calls.normal_cb = OnNormal;
        calls.texcoord_cb = OnCoordinate;
        calls.index_cb = OnFace;
        calls.usemtl_cb = OnMaterial;
        calls.group_cb = OnGroup;
        calls.object_cb = OnObject;
        MemoryStream buffer(bytes.data(), bytes.size(), mpStop);
        std::istream stream(&buffer);
        std::string warning, error;
        LibraryEvents libraries(g);
        tinyobj::LoadObjWithCallback(stream, calls, &g, &libraries, &warning, &error);
        bytes = FileBytes();
        KV_CheckStop(mpStop);
        if (!g.deferral.empty())
            throw Defer{g.deferral};
        const std::size_t positionCount = g.positions.size() / 3;
        const std::size_t coordinateCount = g.coordinates.size() / 2;
        for (unsigned int index : g.corners)
            if (index >= positionCount)
                throw Defer{"a face naming a vertex the file lacks"};
        for (unsigned int index : g.cornerCoordinates)
            if (index != kNone && index >= coordinateCount)
                throw Defer{"a face naming a texture coordinate the file lacks"};
        if (std::size_t(g.maxNormal) > g.normals)
            throw Defer{"a face naming a normal the file lacks"};
        // The library gives a corner without one a normal of 0, 0, 0 beside the others.
        if (table && g.cornersWithNormals != 0 && g.cornersWithNormals != g.corners.size())
            throw Defer{"normals on some corners only"};
        const std::size_t polygonCount = g.objects.size();
        const std::size_t cornerCount = g.corners.size();
        // The library's meshes hold a vertex per corner: the importer's bound on the scene.
        if (2 * cornerCount + polygonCount > KV_MeshImporter::kMaxCorners)
            throw Defer{"a scene over the importer's bound"};

        // The library's order: objects last first, each object's faces in file order.
        std::vector<unsigned int> order(polygonCount);
        {
            std::vector<std::size_t> start(g.object + 2, 0);
            for (unsigned int object : g.objects) ++start[g.object - object + 1];
            for (std::size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
            for (std::size_t p = 0; p < polygonCount; ++p)
                order[start[g.object - g.objects[p]]++] = static_cast<unsigned int>(p);
        }

        // Positions welded by value, numbered by first use in that order.
        KV_BitWelder<3> positions(positionCount + 16);
        std::vector<unsigned int> positionClass(positionCount);
        for (std::size_t i = 0; i < positionCount; ++i)
        {
            if (i % kStopCheckEvery == 0)
                KV_CheckStop(mpStop);
            positionClass[i] = positions.Index(&g.positions[3 * i]);
        }
        std::vector<unsigned int> number(positions.Count(), kNone);
        KV_List<KV_Vector3D>& vertices = mkSurface.Vertices();
        vertices.SetCount(static_cast<unsigned int>(positions.Count()));
        unsigned int used = 0;
        // With a table: each vertex's colour from the corner that numbers it (the library's
        // first), each corner's normal.
        std::unique_ptr<KV_ColourCollector> colours;
        if (table && !survey.colours.empty() && survey.colours.size() == 4 * positionCount)
            colours = std::make_unique<KV_ColourCollector>(positions.Count());
        std::unique_ptr<KV_NormalCollector> normals;
        std::vector<unsigned int> normalClass;
        if (table && g.cornersWithNormals != 0)
        {
            const std::size_t normalCount = g.normalValues.size() / 3;
            normals = std::make_unique<KV_NormalCollector>(positions.Count(), normalCount);
            normalClass.resize(normalCount);
            for (std::size_t i = 0; i < normalCount; ++i)
                normalClass[i] = normals->Weld(&g.normalValues[3 * i]);
            g.normalValues = {};
        }
        KV_List<KV_Polygon>& polygons = mkSurface.Polygons();
        // One flat run when every face has the same number of corners, then filled in place.
        const unsigned int uniform = KV_UniformCorners(
            polygonCount, [&](std::size_t p) { return g.starts[p + 1] - g.starts[p]; });
        polygons.SetFlatCount(static_cast<unsigned int>(polygonCount), uniform);
        for (std::size_t k = 0; k < polygonCount; ++k)
        {
            if (k % kStopCheckEvery == 0)
                KV_CheckStop(mpStop);
            const unsigned int p = order[k];
            KV_PolygonRef polygon = polygons[static_cast<unsigned int>(k)];
            polygon.SetCount(static_cast<unsigned int>(g.starts[p + 1] - g.starts[p]));
            for (std::size_t c = g.starts[p]; c < g.starts[p + 1]; ++c)
            {
                const unsigned int cls = positionClass[g.corners[c]];
                if (number[cls] == kNone)
                {
                    std::memcpy(&vertices[used].x, positions.Key(cls).data(), 12);
                    if (colours)
                        colours->Set(used, &survey.colours[4 * std::size_t(g.corners[c])]);
                    number[cls] = used++;
                }
                polygon[static_cast<unsigned int>(c - g.starts[p])] = number[cls];
                if (normals)
                    normals->Corner(number[cls], normalClass[g.cornerNormals[c]]);
            }
        }
        vertices.SetCount(used);
        if (colours)
            colours->Finish(*mpAppearance, used);
        if (normals)
            normals->Finish(*mpAppearance, used);

        if (!g.anyCoordinates)
        {
            decoder->Cancel();
            KV_CheckStop(mpStop);
            return true;
        }

        // Textures: one per textured material the polygons use, in material order.
        std::vector<unsigned int> materialOf(polygonCount);
        for (std::size_t p = 0; p < polygonCount; ++p)
        {
            const Geometry::Mesh& mesh = g.meshList[g.meshes[p]];
            materialOf[p] = mesh.assigned ? mesh.material : kNone;
        }
        const float origin[2] = {0.0f, 0.0f};
        auto uv = [&](std::size_t c) {
            return g.cornerCoordinates[c] == kNone ? origin
                                                   : &g.coordinates[2 * g.cornerCoordinates[c]];
        };
        std::map<unsigned int, KV_MaterialTexture> textures;  // by material
        for (std::size_t p = 0; p < polygonCount; ++p)
        {
            if (p % kStopCheckEvery == 0)
                KV_CheckStop(mpStop);
            if (materialOf[p] == kNone)
                continue;
            KV_MaterialTexture& texture = textures[materialOf[p]];
            if (texture.polygons == 0)
                texture.name = materials[materialOf[p]].texture;
            ++texture.polygons;
            for (std::size_t c = g.starts[p]; c < g.starts[p + 1] && texture.inUnitSquare; ++c)
            {
                const float* st = uv(c);
                texture.inUnitSquare =
                    st[0] >= 0.0f && st[0] <= 1.0f && st[1] >= 0.0f && st[1] <= 1.0f;
            }
        }
        std::set<std::string> needed;
        for (const auto& entry : textures) needed.insert(entry.second.name);
        decoder->Needed(needed);
        // Materials that share one picture file share one entry (the first material's).
        std::vector<KV_MaterialTexture*> loaded;
        std::map<std::string, KV_MaterialTexture*> byName;
        std::map<unsigned int, KV_MaterialTexture*> ofMaterial;
        std::vector<std::unique_ptr<KV_MaterialTexture>> held;
        for (auto& entry : textures)
        {
            const KV_MaterialTexture& use = entry.second;
            auto same = byName.find(use.name);
            if (same != byName.end())
            {
                same->second->polygons += use.polygons;
                same->second->inUnitSquare = same->second->inUnitSquare && use.inUnitSquare;
                ofMaterial[entry.first] = same->second;
                continue;
            }
            TextureMessage failure;
            KV_MaterialTexture* texture = decoder->Take(use.name, failure);
            if (texture == nullptr)
                throw Defer{"a texture the decoder was not given"};
            texture->polygons = use.polygons;
            texture->inUnitSquare = use.inUnitSquare;
            texture->material = materials[entry.first].name;
            byName[use.name] = texture;
            ofMaterial[entry.first] = texture;
            if (texture->loaded)
                loaded.push_back(texture);
            else
                ReportMessage(failure.text.c_str(), failure.caption.c_str());
        }
        KV_CheckStop(mpStop);
        if (loaded.empty())
            return true;
        // Without a table, one picture: several packed, or the one on most polygons. With a
        // table, each its own, and each polygon its material's index.
        std::vector<KV_MaterialTexture*> kept;
        if (table)
        {
            const std::vector<std::uint32_t> index =
                KV_KeepEveryTexture(loaded, mkSurface.mpTextureMap, *mpAppearance);
            std::map<const KV_MaterialTexture*, std::uint32_t> entryOf;
            for (std::size_t k = 0; k < loaded.size(); ++k) entryOf[loaded[k]] = index[k];
            std::vector<std::uint32_t>& uses = mpAppearance->polygonMaterials;
            uses.assign(polygonCount, KV_SurfaceAppearance::kNoMaterial);
            for (std::size_t k = 0; k < polygonCount; ++k)
            {
                const unsigned int m = materialOf[order[k]];
                const auto found = m == kNone ? entryOf.end() : entryOf.find(ofMaterial[m]);
                if (found != entryOf.end())
                    uses[k] = found->second;
            }
            KV_FinishMaterials(*mpAppearance);
        }
        else
            kept = KV_KeepTextures(path, loaded, mkSurface.mpTextureMap);

        // Texture coordinates welded in corner order (packed materials' moved into their
        // part of the image); one texture polygon per polygon.
        KV_List<KV_Polygon>& texturePolygons = KV_Ensure(mkSurface.mpTexturePolygons, 1024);
        texturePolygons.SetFlatCount(static_cast<unsigned int>(polygonCount),
                                     polygons.FlatCornerCount());
        const bool packed = kept.size() > 1;
        KV_BitWelder<2> welded(packed ? cornerCount + 16 : coordinateCount + 16);
        if (!packed)
        {
            // Coordinates keep their values, so the file's list is welded once.
            std::vector<unsigned int> coordinateClass(coordinateCount);
            for (std::size_t i = 0; i < coordinateCount; ++i)
                coordinateClass[i] = welded.Index(&g.coordinates[2 * i]);
            const unsigned int originClass = welded.Index(origin);
            std::vector<unsigned int> first(welded.Count(), kNone);
            std::vector<unsigned int> keys;  // class of each surface coordinate
            for (std::size_t k = 0; k < polygonCount; ++k)
            {
                if (k % kStopCheckEvery == 0)
                    KV_CheckStop(mpStop);
                const unsigned int p = order[k];
                KV_PolygonRef polygon = texturePolygons[static_cast<unsigned int>(k)];
                polygon.SetCount(static_cast<unsigned int>(g.starts[p + 1] - g.starts[p]));
                for (std::size_t c = g.starts[p]; c < g.starts[p + 1]; ++c)
                {
                    const unsigned int cls = g.cornerCoordinates[c] == kNone
                                                 ? originClass
                                                 : coordinateClass[g.cornerCoordinates[c]];
                    if (first[cls] == kNone)
                    {
                        first[cls] = static_cast<unsigned int>(keys.size());
                        keys.push_back(cls);
                    }
                    polygon[static_cast<unsigned int>(c - g.starts[p])] = first[cls];
                }
            }
            KV_List<KV_Vector2D>& list = KV_Ensure(mkSurface.mpTextureCoordinates, 1024);
            list.SetCount(static_cast<unsigned int>(keys.size()));
            for (std::size_t i = 0; i < keys.size(); ++i)
                std::memcpy(&list[static_cast<unsigned int>(i)].u, welded.Key(keys[i]).data(), 8);
            KV_CheckStop(mpStop);
            return true;
        }
        for (std::size_t k = 0; k < polygonCount; ++k)
        {
            if (k % kStopCheckEvery == 0)
                KV_CheckStop(mpStop);
            const unsigned int p = order[k];
            const KV_MaterialTexture* packed = nullptr;
            if (materialOf[p] != kNone && ofMaterial[materialOf[p]]->loaded)
                packed = ofMaterial[materialOf[p]];
            KV_PolygonRef polygon = texturePolygons[static_cast<unsigned int>(k)];
            polygon.SetCount(static_cast<unsigned int>(g.starts[p + 1] - g.starts[p]));
            for (std::size_t c = g.starts[p]; c < g.starts[p + 1]; ++c)
            {
                float st[2] = {uv(c)[0], uv(c)[1]};
                if (packed != nullptr)
                {
                    st[0] = st[0] * packed->uScale + packed->uOffset;
                    st[1] = st[1] * packed->vScale + packed->vOffset;
                }
                polygon[static_cast<unsigned int>(c - g.starts[p])] = welded.Index(st);
            }
        }
        KV_List<KV_Vector2D>& list = KV_Ensure(mkSurface.mpTextureCoordinates, 1024);
        list.SetCount(static_cast<unsigned int>(welded.Count()));
        for (std::size_t i = 0; i < welded.Count(); ++i)
            std::memcpy(&list[static_cast<unsigned int>(i)].u, welded.Key(i).data(), 8);
        KV_CheckStop(mpStop);
        return true;
    }
    catch (const Defer& defer)
    {
        mkDeferral = defer.why;
    }
    catch (const KV_StopSeen&)
    {
        mkDeferral = "stopped";
    }
    catch (const std::exception& e)
    {
        mkDeferral = std::string("the reader stopped: ") + e.what();
    }
    if (decoder)
        decoder->Cancel();
    ClearResult();
    return false;
}
