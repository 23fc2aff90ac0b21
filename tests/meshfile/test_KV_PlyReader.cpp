// Our binary PLY reader against the import library's path on the same files (layouts of our
// writer, other byte orders and types, skipped properties and elements, real files nobody here
// wrote), and broken files refused with a reason.

#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_Executor.h"
#include "meshfile/KV_MeshExporter.h"
#include "meshfile/KV_MeshImporter.h"
#include "meshfile/KV_PlyReader.h"
#include "image/KV_PngWriter.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceAppearance.h"
#include "tests/meshfile/AppearanceExpect.h"
#include "tests/support/ReportRecorder.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

void WriteText(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// One value of a PLY type in the given byte order.
void Put(std::string& out, const std::string& type, double value, bool big)
{
    unsigned char bytes[8];
    std::size_t n;
    auto store = [&](auto v)
    {
        n = sizeof v;
        std::memcpy(bytes, &v, n);
    };
    if (type == "char")
        store(static_cast<std::int8_t>(value));
    else if (type == "uchar")
        store(static_cast<std::uint8_t>(value));
    else if (type == "short")
        store(static_cast<std::int16_t>(value));
    else if (type == "ushort")
        store(static_cast<std::uint16_t>(value));
    else if (type == "int")
        store(static_cast<std::int32_t>(value));
    else if (type == "uint")
        store(static_cast<std::uint32_t>(value));
    else if (type == "float")
        store(static_cast<float>(value));
    else
        store(value);
    for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(bytes[big ? n - 1 - i : i]);
}

struct Layout
{
    const char* name;
    bool big;
    const char* coordinate;  // type of x, y and z
    const char* u;           // names of the per-vertex texture coordinates (null: none)
    const char* v;
    const char* count;  // the face list's types
    const char* index;
    bool extras;   // properties and a last element the readers skip
    bool corners;  // a texcoord list per face instead of per-vertex coordinates
    bool leading;  // an element before the vertices, which the library misreads
};

void PrintTo(const Layout& layout, std::ostream* out)
{
    *out << layout.name;
}

// A 3 x 2 grid of quads and triangles at coordinates a float holds only roughly, one vertex
// written twice (a texture seam, as our writer splits them), one vertex no face uses, and a
// face of two corners.
std::string GridPly(const Layout& layout)
{
    std::vector<std::array<double, 5>> vertices;  // x y z s t
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            vertices.push_back({0.1 * c - 0.7, 0.3 * r + 0.01, 0.05 * ((r * 7 + c * 3) % 5),
                                (c + 0.5) / 4.0, (r + 0.5) / 3.0});
    vertices.push_back(vertices[5]);
    vertices.back()[3] = 0.9375;                    // 12: the seam copy of vertex 5
    vertices.push_back({9.0, 9.0, 9.0, 0.0, 0.0});  // 13: unused
    const std::vector<std::vector<int>> faces = {{0, 1, 5, 4},  {1, 2, 6},     {1, 6, 12},
                                                 {2, 3, 7, 6},  {4, 12, 9, 8}, {3, 7},
                                                 {5, 6, 10, 9}, {6, 7, 11},    {6, 11, 10}};
    std::string header = std::string("ply\nformat ") +
                         (layout.big ? "binary_big_endian" : "binary_little_endian") +
                         " 1.0\ncomment TextureFile pic.png\n";
    if (layout.extras)
        header += "obj_info scanned\n";
    if (layout.leading)
        header += "element camera 1\nproperty float view_x\nproperty list uchar float view\n";
    header += "element vertex " + std::to_string(vertices.size()) + "\n";
    for (const char* axis : {"x", "y", "z"})
        header += std::string("property ") + layout.coordinate + " " + axis + "\n";
    if (layout.extras)
        header += "property float nx\nproperty uchar red\nproperty list uchar short extra\n";
    if (layout.u != nullptr)
        header += std::string("property float ") + layout.u + "\nproperty float " + layout.v + "\n";
    header += "element face " + std::to_string(faces.size()) + "\n";
    if (layout.extras)
        header += "property uchar flags\n";
    header +=
        std::string("property list ") + layout.count + " " + layout.index + " vertex_indices\n";
    if (layout.corners)
        header += "property list uchar float texcoord\n";
    if (layout.extras)
        header += "element edge 2\nproperty int vertex1\nproperty int vertex2\n";
    std::string out = header + "end_header\n";
    if (layout.leading)
    {
        Put(out, "float", 1.5, layout.big);
        Put(out, "uchar", 2, layout.big);
        Put(out, "float", 3, layout.big);
        Put(out, "float", 4, layout.big);
    }
    for (const auto& vertex : vertices)
    {
        // Integer coordinates in thousandths, so that the grid stays a grid.
        const double scale = std::string(layout.coordinate) == "int" ? 1000.0 : 1.0;
        for (int k = 0; k < 3; ++k) Put(out, layout.coordinate, vertex[k] * scale, layout.big);
        if (layout.extras)
        {
            Put(out, "float", 0.5, layout.big);
            Put(out, "uchar", 200, layout.big);
            Put(out, "uchar", 1, layout.big);
            Put(out, "short", -7, layout.big);
        }
        if (layout.u != nullptr)
            for (int k = 3; k < 5; ++k) Put(out, "float", vertex[k], layout.big);
    }
    for (const auto& face : faces)
    {
        if (layout.extras)
            Put(out, "uchar", 1, layout.big);
        Put(out, layout.count, static_cast<double>(face.size()), layout.big);
        for (int index : face) Put(out, layout.index, index, layout.big);
        if (layout.corners)
        {
            Put(out, "uchar", 2.0 * face.size(), layout.big);
            // The corner at vertex 5 of the second quad takes its own coordinate.
            for (int index : face)
                for (int k = 3; k < 5; ++k)
                    Put(out, "float", index == 5 && face[0] == 5 ? 0.25 : vertices[index][k],
                        layout.big);
        }
    }
    if (layout.extras)
        for (int value : {0, 1, 1, 2}) Put(out, "int", value, layout.big);
    return out;
}

// Rows of different colours, so that a flipped or shifted picture shows.
void WritePicture(const std::string& path)
{
    KV_Image<KV_RGB8> image(4, 8);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c)
            image(r, c) =
                KV_RGB8(static_cast<unsigned char>(r * 60), static_cast<unsigned char>(c * 30), 7);
    std::string error;
    ASSERT_TRUE(KV_PngWriter::Write(image, path.c_str(), error)) << error;
}

struct Read
{
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
    bool read = false;
    std::string reason;
    std::vector<RecordedReport> reports;
};

// With table, the appearance is read too.
void ReadThrough(const std::string& path, bool direct, Read& out, bool table = false)
{
    ReportRecorder reports;
    KV_MeshImporter::UseDirectReaders(direct);
    KV_MeshImporter importer(out.surface, table ? &out.appearance : nullptr);
    out.read = importer.Read(path);
    KV_MeshImporter::UseDirectReaders(true);
    out.reason = importer.Reason();
    out.reports = reports.Reports();
}

template <typename T>
bool SameBits(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The same lists, value for value and bit for bit. Texture coordinates only when asked: a
// per-corner texcoord list is where the two paths differ.
void ExpectSameSurface(const KV_PolySurface& a, const KV_PolySurface& b, bool coordinates)
{
    ASSERT_EQ(a.VertexCount(), b.VertexCount());
    for (unsigned int i = 0; i < a.VertexCount(); ++i)
        ASSERT_TRUE(SameBits((*a.mpVertices)[i], (*b.mpVertices)[i])) << "vertex " << i;
    ASSERT_EQ(a.PolygonCount(), b.PolygonCount());
    auto samePolygons = [](const KV_List<KV_Polygon>& x, const KV_List<KV_Polygon>& y)
    {
        for (unsigned int p = 0; p < x.Count(); ++p)
        {
            ASSERT_EQ(x[p].Count(), y[p].Count()) << "polygon " << p;
            for (unsigned int j = 0; j < x[p].Count(); ++j)
                ASSERT_EQ(x[p][j], y[p][j]) << "polygon " << p << " corner " << j;
        }
    };
    samePolygons(*a.mpPolygons, *b.mpPolygons);
    ASSERT_EQ(a.HasTextureMap(), b.HasTextureMap());
    if (!a.HasTextureMap())
        return;
    const KV_Image<KV_RGB8>& x = a.mpTextureMap->GetColourImage();
    const KV_Image<KV_RGB8>& y = b.mpTextureMap->GetColourImage();
    ASSERT_EQ(x.Rows(), y.Rows());
    ASSERT_EQ(x.Cols(), y.Cols());
    EXPECT_EQ(std::memcmp(x.Data(), y.Data(), sizeof(KV_RGB8) * x.Count()), 0);
    if (!coordinates)
        return;
    ASSERT_EQ(a.mpTextureCoordinates->Count(), b.mpTextureCoordinates->Count());
    for (unsigned int i = 0; i < a.mpTextureCoordinates->Count(); ++i)
        ASSERT_TRUE(SameBits((*a.mpTextureCoordinates)[i], (*b.mpTextureCoordinates)[i]))
            << "texture coordinate " << i;
    samePolygons(*a.mpTexturePolygons, *b.mpTexturePolygons);
}

// Reads the file both ways, without and with the table: our reader must take it, and give
// the library's surface (and table, which comes back from the library's helper process).
void ExpectBothAgree(const std::string& path, bool coordinates = true)
{
    KV_PolySurface probe;
    ReportRecorder quiet;
    KV_PlyReader reader(probe);
    ASSERT_EQ(reader.Read(path), KV_PlyReader::Outcome::Handled) << reader.Reason();
    for (bool table : {false, true})
    {
        SCOPED_TRACE(table ? "with the table" : "without a table");
        Read direct, library;
        ReadThrough(path, true, direct, table);
        ReadThrough(path, false, library, table);
        ASSERT_TRUE(library.read) << library.reason;
        ASSERT_TRUE(direct.read) << direct.reason;
        ExpectSameSurface(direct.surface, library.surface, coordinates);
        ExpectSameAppearance(direct.appearance, library.appearance, false);
        ASSERT_EQ(direct.reports.size(), library.reports.size());
        for (std::size_t i = 0; i < direct.reports.size(); ++i)
            EXPECT_EQ(direct.reports[i].text, library.reports[i].text);
    }
}

class BothReaders : public ::testing::TestWithParam<Layout>
{
};

}  // namespace

TEST_P(BothReaders, GiveTheSameSurface)
{
    const Layout& layout = GetParam();
    const std::string path = TestScratchPath("grid.ply");
    WriteText(path, GridPly(layout));
    WritePicture(TestScratchPath("pic.png"));
    if (!layout.leading)
        ExpectBothAgree(path, !layout.corners);

    KV_PolySurface surface;
    KV_PlyReader reader(surface);
    ASSERT_EQ(reader.Read(path), KV_PlyReader::Outcome::Handled);
    // 14 vertices, of which one is a copy; the face of two corners is skipped.
    EXPECT_EQ(surface.VertexCount(), 13u);
    EXPECT_EQ(surface.PolygonCount(), 8u);
    ASSERT_EQ(surface.HasTextureMap(), layout.u != nullptr || layout.corners);
    if (!surface.HasTextureMap())
        return;
    // The seam: vertex 5's position in polygon 4 (at its copy), with the copy's coordinate.
    EXPECT_EQ((*surface.mpPolygons)[4][1], (*surface.mpPolygons)[0][2]);
    const KV_Vector2D seam = (*surface.mpTextureCoordinates)[(*surface.mpTexturePolygons)[4][1]];
    EXPECT_EQ(seam.u, 0.9375f);
    if (layout.corners)
    {
        // A corner of its own, which the library's one coordinate per vertex cannot keep.
        const KV_Vector2D own = (*surface.mpTextureCoordinates)[(*surface.mpTexturePolygons)[5][0]];
        EXPECT_EQ(own.u, 0.25f);
        EXPECT_EQ(own.v, 0.25f);
        const KV_Vector2D shared =
            (*surface.mpTextureCoordinates)[(*surface.mpTexturePolygons)[0][2]];
        EXPECT_EQ(shared.u, 0.375f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BothReaders,
    ::testing::Values(
        Layout{"OurWriter", false, "float", "s", "t", "uchar", "int", false, false, false},
        Layout{"BigEndianDouble", true, "double", "u", "v", "uint", "uint", false, false, false},
        Layout{"ExtrasSkipped", false, "float", "texture_u", "texture_v", "ushort", "int", true,
               false, false},
        Layout{"BigEndianExtras", true, "int", "s", "t", "int", "int", true, false, false},
        Layout{"NoCoordinates", false, "float", nullptr, nullptr, "uchar", "uint", false, false,
               false},
        Layout{"CornerCoordinates", false, "float", nullptr, nullptr, "uchar", "int", true, true,
               false},
        Layout{"LeadingElement", true, "float", "s", "t", "uchar", "int", true, false, true}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// The sample scan as osftool convert writes it, and real files nobody here wrote: one binary,
// one ASCII file rewritten as binary (with a texture named) and read against the original.
TEST(BothReaders, AgreeOnRealFiles)
{
    const std::string sample = std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf";
    KV_PolySurface scan;
    KV_SurfaceReadReport report;
    ASSERT_TRUE(KV_ReadSurfaceFile(sample.c_str(), scan, report));
    const std::string converted = TestScratchPath("sample.ply");
    std::string error;
    ASSERT_TRUE(KV_MeshExporter::Write(scan, converted, KV_MeshFormat::Ply, error)) << error;
    ExpectBothAgree(converted);
    {
        // The coordinates lie in one piece, which drawing takes instead of a copy.
        KV_PolySurface read;
        KV_PlyReader reader(read);
        ASSERT_EQ(reader.Read(converted), KV_PlyReader::Outcome::Handled) << reader.Reason();
        ASSERT_GT(read.mpTextureCoordinates->Count(), read.mpTextureCoordinates->BlockSize());
        const std::shared_ptr<const KV_Vector2D> piece = read.mpTextureCoordinates->SharedPiece();
        ASSERT_NE(piece, nullptr);
        EXPECT_EQ(piece.get(), &(*read.mpTextureCoordinates)[0]);
    }

    const std::string models = "/usr/share/assimp/models/PLY/";
    if (!fs::exists(models + "cube_binary.ply") || !fs::exists(models + "Wuson.ply"))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    ExpectBothAgree(models + "cube_binary.ply");

    // Wuson.ply: float x y z nx ny nz s t, faces as uchar count and uint indices.
    std::ifstream in(models + "Wuson.ply");
    std::string line, header;
    std::size_t vertices = 0, faces = 0;
    while (std::getline(in, line) && line.rfind("end_header", 0) != 0)
    {
        std::istringstream words(line);
        std::string keyword, name;
        words >> keyword >> name;
        if (keyword == "format")
            line = "format binary_little_endian 1.0\ncomment TextureFile pic.png";
        if (keyword == "element")
            (name == "vertex" ? vertices : faces) = std::stoul(line.substr(line.rfind(' ')));
        header += line + "\n";
    }
    ASSERT_EQ(vertices, 11184u);
    std::string ascii = header, binary = header + "end_header\n";
    ascii.replace(ascii.find("binary_little_endian"), 20, "ascii");
    ascii += "end_header\n";
    for (std::size_t i = 0; i < vertices; ++i)
    {
        ASSERT_TRUE(std::getline(in, line));
        ascii += line + "\n";
        std::istringstream values(line);
        float value;
        for (int k = 0; k < 8 && values >> value; ++k) Put(binary, "float", value, false);
    }
    for (std::size_t i = 0; i < faces; ++i)
    {
        ASSERT_TRUE(std::getline(in, line));
        ascii += line + "\n";
        std::istringstream values(line);
        unsigned int count = 0, index;
        values >> count;
        Put(binary, "uchar", count, false);
        for (unsigned int k = 0; k < count && values >> index; ++k)
            Put(binary, "uint", index, false);
    }
    WritePicture(TestScratchPath("pic.png"));
    WriteText(TestScratchPath("wuson_ascii.ply"), ascii);
    WriteText(TestScratchPath("wuson_binary.ply"), binary);
    ExpectBothAgree(TestScratchPath("wuson_binary.ply"));
    // Against the original text, read by the library: the same welding and polygons, the
    // values to within the rounding of the library's own decimal parser.
    Read original, rewritten;
    ReadThrough(TestScratchPath("wuson_ascii.ply"), true, original);
    ReadThrough(TestScratchPath("wuson_binary.ply"), true, rewritten);
    ASSERT_TRUE(original.read && rewritten.read) << original.reason << rewritten.reason;
    const KV_PolySurface& a = original.surface;
    const KV_PolySurface& b = rewritten.surface;
    ASSERT_EQ(b.VertexCount(), 2117u);
    ASSERT_EQ(a.VertexCount(), b.VertexCount());
    for (unsigned int i = 0; i < a.VertexCount(); ++i)
        ASSERT_NEAR(((*a.mpVertices)[i] - (*b.mpVertices)[i]).Length(), 0.0, 1e-5) << i;
    ASSERT_EQ(b.PolygonCount(), 3732u);
    ASSERT_TRUE(a.HasTextureMap() && b.HasTextureMap());
    ASSERT_EQ(a.mpTextureCoordinates->Count(), b.mpTextureCoordinates->Count());
    for (unsigned int p = 0; p < a.PolygonCount(); ++p)
        for (unsigned int j = 0; j < (*a.mpPolygons)[p].Count(); ++j)
        {
            ASSERT_EQ((*a.mpPolygons)[p][j], (*b.mpPolygons)[p][j]);
            ASSERT_EQ((*a.mpTexturePolygons)[p][j], (*b.mpTexturePolygons)[p][j]);
        }
}

// A texture that is missing or does not decode: the same message from both readers (compared
// in ExpectBothAgree), the surface untextured.
TEST(BothReaders, SayTheSameAboutABadTexture)
{
    const Layout layout{"", false, "float", "s", "t", "uchar", "int", false, false, false};
    const std::string path = TestScratchPath("grid.ply");
    WriteText(path, GridPly(layout));
    fs::remove(TestScratchPath("pic.png"));
    fs::remove(TestScratchPath("PIC.PNG"));
    Read direct;
    ReadThrough(path, true, direct);
    ASSERT_TRUE(direct.read);
    EXPECT_FALSE(direct.surface.HasTextureMap());
    EXPECT_EQ(direct.surface.mpTextureCoordinates, nullptr);
    ASSERT_EQ(direct.reports.size(), 1u);
    EXPECT_NE(direct.reports[0].text.find("pic.png of " + path + " was not found"),
              std::string::npos)
        << direct.reports[0].text;
    ExpectBothAgree(path);
    WriteText(TestScratchPath("PIC.PNG"), "not a picture");
    ExpectBothAgree(path);
}

// Broken files: refused with the reason, before anything the file cannot pay for is made,
// and never a crash (the sanitizer build runs these). Files our reader does not take go to
// the library unchanged.
TEST(PlyReader, RefusesBrokenFilesWithAReason)
{
    const std::string head =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3\n"
        "property float x\nproperty float y\nproperty float z\n";
    std::string points;
    for (float value : {0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f})
        Put(points, "float", value, false);
    auto faces = [&](const std::string& count, const std::string& list, const std::string& body)
    {
        return head + "element face " + count + "\nproperty list " + list +
               " vertex_indices\nend_header\n" + points + body;
    };
    auto face = [](std::initializer_list<int> values, const char* countType = "uchar")
    {
        std::string out;
        Put(out, countType, static_cast<double>(values.size()), false);
        for (int v : values) Put(out, "int", v, false);
        return out;
    };
    std::string lying;
    Put(lying, "uchar", 255, false);
    struct Case
    {
        const char* name;
        std::string bytes;
        KV_PlyReader::Outcome outcome;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"vertex_count_lies",
         "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\nproperty double "
         "x\nproperty double y\nproperty double z\nend_header\n" +
             points,
         KV_PlyReader::Outcome::Refused,
         "the file declares 4000000000 vertices but holds only 36 bytes"},
        {"face_count_lies", faces("4294967295", "uchar int", face({0, 1, 2})),
         KV_PlyReader::Outcome::Refused, "the file declares 4294967295 faces but holds only 13 bytes"},
        {"one_face_missing", faces("1", "uchar int", ""), KV_PlyReader::Outcome::Refused,
         "the file declares 1 face but holds only 0 bytes"},
        {"list_count_lies", faces("1", "uchar int", lying + face({0, 1, 2})),
         KV_PlyReader::Outcome::Refused, "ends inside its element face"},
        {"list_count_negative",
         faces("1", "char int", face({0, 1, 2}, "char").replace(0, 1, "\xff")),
         KV_PlyReader::Outcome::Refused, "negative length"},
        {"index_out_of_range", faces("1", "uchar int", face({0, 1, 7})),
         KV_PlyReader::Outcome::Refused, "a face names vertex 7 of a mesh of 3 vertices"},
        {"index_negative", faces("1", "uchar int", face({0, -1, 2})),
         KV_PlyReader::Outcome::Refused, "a face names vertex 4294967295 of a mesh of 3"},
        {"no_face_of_three_corners", faces("3", "uchar int", face({}) + face({0}) + face({0, 1})),
         KV_PlyReader::Outcome::Refused, "the file holds no polygons"},
        {"short_faces_skipped",
         faces("3", "uint int", face({}, "uint") + face({0, 1, 2}, "uint") + face({1, 2}, "uint")),
         KV_PlyReader::Outcome::Handled, ""},
        {"ascii", "ply\nformat ascii 1.0\nelement vertex 0\nend_header\n",
         KV_PlyReader::Outcome::NotHandled, ""},
        {"float_indices", faces("1", "uchar float", face({0, 1, 2})),
         KV_PlyReader::Outcome::NotHandled, ""},
        {"no_end_of_header", head, KV_PlyReader::Outcome::Refused, "it has no end_header line"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string path = TestScratchPath(std::string(c.name) + ".ply");
        WriteText(path, c.bytes);
        KV_PolySurface surface;
        KV_PlyReader reader(surface);
        EXPECT_EQ(reader.Read(path), c.outcome);
        EXPECT_NE(reader.Reason().find(c.reason), std::string::npos) << reader.Reason();
        if (c.outcome == KV_PlyReader::Outcome::Refused)
        {
            EXPECT_EQ(surface.VertexCount() + surface.PolygonCount(), 0u);
        }
        else if (c.outcome == KV_PlyReader::Outcome::Handled)
        {
            EXPECT_EQ(surface.PolygonCount(), 1u);
        }
    }

    // Faces all of one size stay one flat run, whichever the size; mixed sizes keep theirs.
    const struct
    {
        std::string body;
        bool flat;
        unsigned int first, second;  // corners of each face
    } runs[] = {{face({0, 1, 2, 1}) + face({2, 1, 0, 0}), true, 4, 4},
                {face({0, 1, 2}) + face({0, 1, 2, 1}), false, 3, 4},
                {face({0, 1, 2, 1}) + face({0, 1, 2}), false, 4, 3}};
    for (const auto& run : runs)
    {
        const std::string path = TestScratchPath("faces.ply");
        WriteText(path, faces("2", "uchar int", run.body));
        KV_PolySurface surface;
        KV_PlyReader reader(surface);
        ASSERT_EQ(reader.Read(path), KV_PlyReader::Outcome::Handled) << reader.Reason();
        EXPECT_EQ(surface.mpPolygons->IsFlat(), run.flat);
        ASSERT_EQ(surface.PolygonCount(), 2u);
        EXPECT_EQ((*surface.mpPolygons)[0].Count(), run.first);
        EXPECT_EQ((*surface.mpPolygons)[1].Count(), run.second);
    }

    // Every prefix of a whole file that ends inside its data is refused (the texture left
    // out: looking for it once per prefix would only cost time).
    const Layout layout{"", true, "double", "s", "t", "ushort", "uint", true, true, true};
    std::string whole = GridPly(layout);
    whole.erase(whole.find("comment TextureFile"), 28);
    const std::size_t data = whole.find("end_header\n") + 11;
    const std::string path = TestScratchPath("prefix.ply");
    WriteText(path, whole);
    for (std::size_t size = whole.size() - 1; size >= data; --size)
    {
        fs::resize_file(path, size);
        KV_PolySurface surface;
        KV_PlyReader reader(surface);
        ASSERT_EQ(reader.Read(path), KV_PlyReader::Outcome::Refused) << size;
        ASSERT_TRUE(reader.Reason().find("ends inside its element") != std::string::npos ||
                    reader.Reason().find("the file declares") != std::string::npos)
            << size << ": " << reader.Reason();
    }
}

// A grid large enough that, with an executor, its vertex rows, its two welders and its faces
// are read in pieces at once: the same surface as on one thread, and the same refusal for a
// face that names a vertex outside the mesh wherever it lies. A face of another size leaves
// the pieces to the reading on one thread.
TEST(PlyReader, ReadsLargeFilesInPiecesAsOnOneThread)
{
    const int n = 300;  // n x n vertices, the last column a seam copy of the first
    std::string vertices;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
        {
            const int column = c == n - 1 ? 0 : c;
            for (double value : {0.01 * column, 0.01 * r, 0.001 * ((r * 7 + column * 3) % 11),
                                 c / (n - 1.0), r / (n - 1.0)})
                Put(vertices, "float", value, false);
        }
    std::vector<std::vector<int>> faces;
    for (int r = 0; r + 1 < n; ++r)
        for (int c = 0; c + 1 < n; ++c)
        {
            const int a = r * n + c;
            faces.push_back({a, a + 1, a + n + 1});
            faces.push_back({a, a + n + 1, a + n});
        }
    const std::size_t late = faces.size() - 100;
    struct Case
    {
        const char* name;
        std::vector<std::pair<std::size_t, int>> changed;  // face, index of its first corner
        bool quad;                                         // face late a quad instead
    };
    const Case cases[] = {
        {"whole", {}, false},
        {"a bad face late", {{late, n * n + 5}}, false},
        {"bad faces early and late", {{1000, n * n + 7}, {late, n * n + 5}}, false},
        {"a quad late", {}, true},
    };
    WritePicture(TestScratchPath("pic.png"));
    KV_Executor two(2);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<int>> written = faces;
        for (const auto& [face, index] : c.changed) written[face][0] = index;
        if (c.quad)
            written[late].push_back(written[late][0] + 2);
        std::string body;
        for (const std::vector<int>& face : written)
        {
            Put(body, "uchar", static_cast<double>(face.size()), false);
            for (int v : face) Put(body, "int", v, false);
        }
        const std::string path = TestScratchPath("large.ply");
        WriteText(path,
                  "ply\nformat binary_little_endian 1.0\ncomment TextureFile pic.png\n"
                  "element vertex " +
                      std::to_string(n * n) +
                      "\nproperty float x\nproperty float y\nproperty float z\n"
                      "property float s\nproperty float t\nelement face " +
                      std::to_string(written.size()) +
                      "\nproperty list uchar int vertex_indices\nend_header\n" + vertices + body);
        KV_PolySurface alone, pieces;
        KV_PlyReader one(alone), several(pieces);
        several.SetExecutor(&two);
        const KV_PlyReader::Outcome outcome = one.Read(path);
        ASSERT_EQ(several.Read(path), outcome);
        EXPECT_EQ(several.Reason(), one.Reason());
        EXPECT_EQ(outcome == KV_PlyReader::Outcome::Handled, c.changed.empty());
        if (outcome == KV_PlyReader::Outcome::Handled)
            ExpectSameSurface(pieces, alone, true);
    }
}
