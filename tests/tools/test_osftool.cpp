// osftool end to end: the built program run on fixture files, its output, messages and exit
// status checked.

#include "FixtureFiles.h"
#include "OsftoolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace
{
const char* const kSquareInfoTail =
    "vertices: 4\n"
    "polygons: 1\n"
    "polygons by corners: 1 of 4\n"
    "triangles: 2\n"
    "texture coordinates: 4\n"
    "texture polygons: 2\n"
    "texture: 2x2 colour\n"
    "minimum: 0 0 0\n"
    "maximum: 1 1 0\n"
    "centroid: 0.5 0.5 0\n"
    "surface area: 1\n"
    "boundaries: 1\n"
    "boundary length: 4\n"
    "boundary vertices: 4\n"
    "edges of more than two polygons: 0\n"
    "consistency: consistent\n";
}  // namespace

TEST(OsftoolInfo, RawFile)
{
    const ToolRun run = Osftool("info " + Quoted(WriteRaw("square.osf", TexturedSquare())));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("encoding: raw\nversion: 3\n") + kSquareInfoTail);
    EXPECT_EQ(run.err, "");

    const ToolRun v2 = Osftool("info " + Quoted(WriteRaw("v2.osf", TexturedSquare(), 2)));
    EXPECT_EQ(v2.out, std::string("encoding: raw\nversion: 2\n") + kSquareInfoTail);
}

TEST(OsftoolInfo, ContainerFileWithEachChecksumState)
{
    const ToolRun matched =
        Osftool("info " + Quoted(WriteContainer("square.osf", TexturedSquare())));
    EXPECT_EQ(matched.status, 0);
    EXPECT_EQ(matched.out,
              std::string("encoding: container\nchecksum: matched\n") + kSquareInfoTail);

    const ToolRun absent =
        Osftool("info " + Quoted(WriteContainer("nosum.osf", TexturedSquare(), false)));
    EXPECT_EQ(absent.out, std::string("encoding: container\nchecksum: absent\n") + kSquareInfoTail);

    // A byte of the header's zero padding changed after the checksum was taken.
    OsfContainerOptions options;
    std::vector<unsigned char> bytes = EncodeContainerSurface(TexturedSquare(), options);
    bytes[50] = 1;
    WriteOsfFile(ScratchPath("changed.osf"), bytes);
    const ToolRun mismatched = Osftool("info " + Quoted(ScratchPath("changed.osf")));
    EXPECT_EQ(mismatched.status, 0);
    EXPECT_EQ(mismatched.out,
              std::string("encoding: container\nchecksum: mismatched\n") + kSquareInfoTail);
}

TEST(OsftoolInfo, GreyTextureAndDroppedTexture)
{
    OsfSurface grey = TexturedSquare();
    grey.textureKind = 1;
    grey.textureRows = 1;
    grey.textureColumns = 3;
    grey.texturePixels = {1, 2, 3};
    const ToolRun run = Osftool("info " + Quoted(WriteRaw("grey.osf", grey)));
    EXPECT_NE(run.out.find("\ntexture: 3x1 grey\n"), std::string::npos) << run.out;

    OsfSurface unpaired = TexturedSquare();
    unpaired.texturePolygons = {{0, 1, 2}};
    const ToolRun dropped = Osftool("info " + Quoted(WriteRaw("unpaired.osf", unpaired)));
    EXPECT_EQ(dropped.status, 0);
    EXPECT_NE(dropped.out.find("\ntexture coordinates: 0\ntexture polygons: 0\ntexture: none\n"),
              std::string::npos)
        << dropped.out;
}

TEST(OsftoolInfo, HolesAreaAndEdgesOfMoreThanTwoPolygons)
{
    // A fin: three triangles on the edge 0-1, each with a free corner. Every other edge is
    // on the boundary, which runs round all three triangles.
    OsfSurface fin;
    fin.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, -1, 0}};
    fin.polygons = {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}};
    const ToolRun run = Osftool("info " + Quoted(WriteRaw("fin.osf", fin)));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\npolygons by corners: 3 of 3\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nsurface area: 1.5\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nedges of more than two polygons: 1\n"), std::string::npos)
        << run.out;

    // A square with a pentagon and a triangle: corner counts in increasing order.
    OsfSurface mixed = PlainSquare();
    mixed.vertices.push_back({2, 0, 0});
    mixed.vertices.push_back({2, 1, 0});
    mixed.vertices.push_back({1.5f, 2, 0});
    mixed.polygons = {{1, 4, 5, 6, 2}, {0, 1, 2, 3}, {3, 2, 6}};
    const ToolRun sizes = Osftool("info " + Quoted(WriteRaw("mixed.osf", mixed)));
    EXPECT_NE(sizes.out.find("\npolygons: 3\npolygons by corners: 1 of 3, 1 of 4, 1 of 5\n"),
              std::string::npos)
        << sizes.out;
    EXPECT_NE(sizes.out.find("\nboundaries: 1\n"), std::string::npos) << sizes.out;
}

TEST(OsftoolLoad, FileThatDoesNotLoadExitsTwo)
{
    const std::string missing = ScratchPath("missing.osf");
    for (const char* sub : {"info ", "dump ", "dump --completed ", "check "})
    {
        const ToolRun run = Osftool(sub + Quoted(missing));
        EXPECT_EQ(run.status, 2) << sub;
        EXPECT_EQ(run.err,
                  "Failed to load surface file: " + missing + "\nthe file cannot be read\n")
            << sub;
        EXPECT_EQ(run.out, "") << sub;
    }
    const ToolRun exported =
        Osftool("export " + Quoted(missing) + " " + Quoted(ScratchPath("out.wrl")));
    EXPECT_EQ(exported.status, 2);
    EXPECT_FALSE(Exists(ScratchPath("out.wrl")));

    // Refused by the checks after reading, as the document refuses it.
    OsfSurface s = PlainSquare();
    s.polygons = {{0, 1}};
    const std::string shortPolygon = WriteRaw("short.osf", s);
    const ToolRun refused = Osftool("check " + Quoted(shortPolygon));
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "Failed to load surface file: " + shortPolygon +
                               "\npolygon 0 has fewer than 3 vertices\n");
}

TEST(OsftoolLoad, FailureSaysWhyOnTheSecondLine)
{
    OsfRawOptions v2;
    v2.version = 2;
    const std::vector<unsigned char> whole = EncodeRawSurface(PlainSquare(), v2);
    const std::vector<unsigned char> cut(whole.begin(), whole.end() - 5);
    std::vector<unsigned char> corrupted = EncodeRawSurface(PlainSquare());
    corrupted[8] ^= 0x20;  // a character of the header text: only the checksum notices
    OsfSurface outside = PlainSquare();
    outside.polygons = {{0, 1, 7}};
    const std::string text = ScratchPath("notes.osf");
    std::ofstream(text) << "these are notes, not a surface\n";
    WriteOsfFile(ScratchPath("empty.osf"), {});
    WriteOsfFile(ScratchPath("cut.osf"), cut);
    WriteOsfFile(ScratchPath("corrupted.osf"), corrupted);
    const struct
    {
        std::string path;
        std::string reason;  // the second line, or its start for a "truncated at byte"
    } cases[] = {
        {ScratchPath("missing.osf"), "the file cannot be read"},
        {ScratchPath("empty.osf"), "the file is empty"},
        {text, "not a surface file"},
        {ScratchPath("cut.osf"), "truncated at byte "},
        {ScratchPath("corrupted.osf"), "bad checksum"},
        {WriteRaw("outside.osf", outside), "polygon 0: vertex index out of range"},
    };
    for (const auto& c : cases)
    {
        const ToolRun run = Osftool("info " + Quoted(c.path));
        EXPECT_EQ(run.status, 2) << c.path;
        const std::string first = "Failed to load surface file: " + c.path + "\n";
        ASSERT_EQ(run.err.rfind(first, 0), 0u) << run.err;
        const std::string second = run.err.substr(first.size());
        EXPECT_EQ(second.rfind(c.reason, 0), 0u) << second;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
        if (c.reason == "truncated at byte ")
        {
            // Somewhere inside the file that was cut short.
            EXPECT_LT(std::stoul(second.substr(c.reason.size())), cut.size()) << second;
        }
    }
}

TEST(OsftoolDump, AsReadAndCompleted)
{
    const std::string path = WriteRaw("plain.osf", PlainSquare());
    const ToolRun read = Osftool("dump " + Quoted(path));
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out,
              "BasePolySurface: 4 vertices 1 faces \n"
              "Vertices:\n"
              "    0: (0,0,0)\n"
              "    1: (1,0,0)\n"
              "    2: (1,1,0)\n"
              "    3: (0,1,0)\n"
              "Faces: \n"
              "    0: (0,1,2,3)\n"
              "\n");
    const ToolRun completed = Osftool("dump --completed " + Quoted(path));
    EXPECT_EQ(completed.status, 0);
    EXPECT_EQ(completed.out,
              "BasePolySurface: 4 vertices 2 faces \n"
              "Vertices:\n"
              "    0: (0,0,0)\n"
              "    1: (1,0,0)\n"
              "    2: (1,1,0)\n"
              "    3: (0,1,0)\n"
              "Faces: \n"
              "    0: (0,1,2)\n"
              "    1: (0,2,3)\n"
              "\n");
}

TEST(OsftoolCheck, ConsistentAndInconsistent)
{
    const ToolRun good = Osftool("check " + Quoted(WriteRaw("square.osf", TexturedSquare())));
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out, "");
    EXPECT_NE(good.err.find("KV_BasePolySurface consistent\n"), std::string::npos) << good.err;
    EXPECT_NE(good.err.find("KV_TexturedPolySurface consistent\n"), std::string::npos) << good.err;
    EXPECT_TRUE(good.err.size() >= 26 &&
                good.err.substr(good.err.size() - 26) == "KV_PolySurface consistent\n")
        << good.err;

    // A texture coordinate outside 0..1 loads, but is not consistent.
    OsfSurface s = TexturedSquare();
    s.textureCoordinates[2] = {1.5f, 0.5f};
    const ToolRun bad = Osftool("check " + Quoted(WriteRaw("outside.osf", s)));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("Texture coordinate 2 has invalid coordinates: "), std::string::npos)
        << bad.err;
    EXPECT_EQ(bad.err.find("KV_PolySurface consistent"), std::string::npos);
}

TEST(OsftoolExport, WritesWhatTheViewerWrites)
{
    const std::string path = WriteRaw("square.osf", TexturedSquare());
    const std::string out = ScratchPath("textured.wrl");
    const ToolRun run = Osftool("export " + Quoted(path) + " " + Quoted(out));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadText(out),
              ReadText(std::string(ORVANE_SOURCE_DIR) + "/tests/vrml/golden/textured.wrl"));
    EXPECT_TRUE(Exists(ScratchPath("textured.gif")));
}

TEST(OsftoolExport, UnwritableWorldExitsOne)
{
    const std::string out = ScratchPath("no-such-dir/out.wrl");
    const ToolRun run =
        Osftool("export " + Quoted(WriteRaw("square.osf", TexturedSquare())) + " " + Quoted(out));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Failed to save file " + out + "\n");
}

TEST(OsftoolExport, TextureMessagesGoToStderrAsTextAndCaption)
{
    mkdir(ScratchPath("blocked.gif").c_str(), 0755);
    const std::string out = ScratchPath("blocked.wrl");
    const ToolRun run =
        Osftool("export " + Quoted(WriteRaw("square.osf", TexturedSquare())) + " " + Quoted(out));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.err.rfind("MultiImage Error: File Access Error : " + ScratchPath("blocked.gif"), 0), 0u)
        << run.err;
    EXPECT_TRUE(Exists(ScratchPath("blocked.bmp")));
}

TEST(OsftoolUsage, HelpExitsZero)
{
    const ToolRun top = Osftool("--help");
    EXPECT_EQ(top.status, 0);
    EXPECT_EQ(top.out.rfind("usage: osftool ", 0), 0u) << top.out;
    EXPECT_EQ(top.err, "");
    const char* usages[][2] = {{"info", "usage: osftool info FILE\n"},
                               {"dump", "usage: osftool dump [--completed] FILE\n"},
                               {"check", "usage: osftool check FILE\n"},
                               {"export", "usage: osftool export FILE OUT.wrl\n"}};
    for (const auto& usage : usages)
    {
        const ToolRun run = Osftool(std::string(usage[0]) + " --help");
        EXPECT_EQ(run.status, 0) << usage[0];
        EXPECT_EQ(run.out.rfind(usage[1], 0), 0u) << run.out;
    }
}

// A wrong word is named on a line of its own before the usage line; a missing or extra
// argument gets the usage line alone.
TEST(OsftoolUsage, UsageErrorsExitSixtyFourNamingTheWrongWord)
{
    const std::string file = Quoted(WriteRaw("square.osf", PlainSquare()));
    const struct
    {
        std::string args;
        std::string wrong;  // the first line, when a word is at fault
        std::string usage;
    } cases[] = {
        {"", "", "usage: osftool <"},
        {"frobnicate " + file, "osftool: unknown command 'frobnicate'\n", "usage: osftool <"},
        {"info", "", "usage: osftool info FILE\n"},
        {"info " + file + " " + file, "", "usage: osftool info FILE\n"},
        {"info --completed " + file, "osftool info: unknown option '--completed'\n",
         "usage: osftool info FILE\n"},
        {"dump --bogus " + file, "osftool dump: unknown option '--bogus'\n",
         "usage: osftool dump [--completed] FILE\n"},
        {"check", "", "usage: osftool check FILE\n"},
        {"export " + file, "", "usage: osftool export FILE OUT.wrl\n"},
    };
    for (const auto& c : cases)
    {
        const ToolRun run = Osftool(c.args);
        EXPECT_EQ(run.status, 64) << c.args;
        EXPECT_EQ(run.err.rfind(c.wrong + c.usage, 0), 0u) << c.args << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.wrong.empty() ? 1 : 2)
            << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST(OsftoolRender, LoadsTheFileAsTheOtherSubcommandsDo)
{
    const std::string missing = ScratchPath("missing.osf");
    const ToolRun run = Osftool("render " + Quoted(missing) + " " + Quoted(ScratchPath("out.png")));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Failed to load surface file: " + missing + "\nthe file cannot be read\n");
    EXPECT_FALSE(Exists(ScratchPath("out.png")));

    // Help and usage errors are answered before FILE is touched: a missing FILE is no
    // load failure then.
    EXPECT_EQ(Osftool("render --help " + Quoted(missing)).status, 0);
    const std::string out = Quoted(ScratchPath("out.png"));
    for (const std::string& args :
         {std::string(""), "--bogus " + Quoted(missing) + " " + out,
          "--size 0x5 " + Quoted(missing) + " " + out, "--turn " + Quoted(missing) + " " + out,
          Quoted(missing), Quoted(missing) + " " + out + " extra"})
    {
        const ToolRun usage = Osftool("render " + args);
        EXPECT_EQ(usage.status, 64) << args;
        EXPECT_EQ(usage.err.find("Failed to load"), std::string::npos) << args << usage.err;
        EXPECT_NE(usage.err.find("usage: osftool render "), std::string::npos) << usage.err;
    }
}

// convert writes what the importer reads back as the same surface; the encoding lines are
// all that differ.
TEST(OsftoolConvert, EachFormatReadsBackAsTheSameSurface)
{
    const std::string square = Quoted(WriteRaw("square.osf", TexturedSquare()));
    struct Case
    {
        const char* file;
        const char* head;  // the encoding lines of its info
        bool sameTail;     // glTF splits the quadrilateral, STL has no texture
    };
    const Case cases[] = {{"out.ply", "encoding: imported\nformat: ply\n", true},
                          {"out.obj", "encoding: imported\nformat: obj\n", true},
                          {"out.osf", "encoding: raw\nversion: 3\n", true},
                          {"out.glb", "encoding: imported\nformat: glb\n", false},
                          {"out.gltf", "encoding: imported\nformat: gltf\n", false},
                          {"out.stl", "encoding: imported\nformat: stl\n", false}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.file);
        const std::string out = ScratchPath(c.file);
        const ToolRun convert = Osftool("convert " + square + " " + Quoted(out));
        ASSERT_EQ(convert.status, 0) << convert.err;
        const ToolRun info = Osftool("info " + Quoted(out));
        ASSERT_EQ(info.status, 0) << info.err;
        if (c.sameTail)
            EXPECT_EQ(info.out, std::string(c.head) + kSquareInfoTail);
        else
            EXPECT_EQ(info.out.substr(0, std::string(c.head).size()), c.head);
    }
    // Each output's picture is named after it, so that none writes over another's.
    EXPECT_TRUE(Exists(ScratchPath("out.mtl")));
    EXPECT_TRUE(Exists(ScratchPath("out.bin")));
    for (const char* picture : {"out_ply.png", "out_obj.png", "out_gltf.png"})
        EXPECT_TRUE(Exists(ScratchPath(picture))) << picture;
    EXPECT_FALSE(Exists(ScratchPath("out.png")));

    // --format names the format whatever the extension: a binary STL of two triangles.
    const std::string model = ScratchPath("square.model");
    ASSERT_EQ(Osftool("convert --format stl " + square + " " + Quoted(model)).status, 0);
    const std::string stl = ReadText(model);
    ASSERT_EQ(stl.size(), 84u + 2 * 50);
    EXPECT_EQ(stl.substr(80, 4), std::string("\x02\0\0\0", 4));
}

TEST(OsftoolConvert, FailuresSayWhy)
{
    const std::string square = Quoted(WriteRaw("square.osf", TexturedSquare()));
    const ToolRun unknown = Osftool("convert " + square + " " + Quoted(ScratchPath("out.wrl")));
    EXPECT_EQ(unknown.status, 64);
    EXPECT_NE(unknown.err.find("glb, gltf, obj, ply, stl or osf"), std::string::npos) << unknown.err;

    const std::string unwritable = ScratchPath("no/such/folder/out.ply");
    const ToolRun denied = Osftool("convert " + square + " " + Quoted(unwritable));
    EXPECT_EQ(denied.status, 1);
    EXPECT_EQ(denied.err.rfind("Failed to save file " + unwritable + "\n", 0), 0u) << denied.err;

    // A model that does not load: the load message, then the importer's reason.
    const std::string broken = ScratchPath("broken.obj");
    std::ofstream(broken) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 7\n";
    const ToolRun info = Osftool("info " + Quoted(broken));
    EXPECT_EQ(info.status, 2);
    const std::string first = "Failed to load surface file: " + broken + "\n";
    EXPECT_EQ(info.err.rfind(first, 0), 0u) << info.err;
    EXPECT_GT(info.err.size(), first.size() + 1) << info.err;
}
