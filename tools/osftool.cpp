// osftool: loads a surface file, or a model file of another program, exactly as the
// viewer's document does (read, check, complete) and reports on it, dumps it, checks its
// consistency, exports it as a VRML world or converts it to another format, draws it, and
// finds and measures what lies under the pixels of that picture. Messages of the program's
// layers go to stderr as "TEXT: CAPTION" lines.
//
// Exit status: 0 success; 1 an inconsistent surface (check) or an export or conversion
// that could not be written; 2 a file that does not load; 64 a usage error.

#include "document/KV_DocumentCore.h"
#include "document/KV_SurfacePreparation.h"
#include "document/KV_SurfaceProperties.h"
#include "foundation/KV_HugePages.h"
#include "foundation/KV_Executor.h"
#include "meshfile/KV_MeshExporter.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_PolySurface.h"
#include "vrml/KV_VRMLWriter.h"

#include "tools/osftool_exit.h"
#include "tools/osftool_pick.h"
#include "tools/osftool_render.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace
{


struct Subcommand
{
    const char* name;
    const char* usage;  // after "usage: osftool "
    const char* help;
};

const Subcommand kSubcommands[] = {
    {"info", "info FILE",
     "Prints what the file holds as \"key: value\" lines, the figures of the viewer's\n"
     "Surface Properties: its encoding, version or checksum, vertex and polygon counts\n"
     "(and polygons by corner count), triangles, texture coordinates, texture polygons and\n"
     "image, the bounding box, centroid and surface area, the boundary loops (holes) with\n"
     "their total length and vertices, edges of more than two polygons, and the result of\n"
     "the consistency check.\n"},
    {"dump", "dump [--completed] FILE",
     "Writes the surface's dump (vertices and polygons) to stdout as read, or with\n"
     "--completed after triangulation and the other completion steps.\n"},
    {"check", "check FILE",
     "Completes the surface and runs its consistency check, one line per step on stderr.\n"
     "Exit status 0 when consistent, 1 when not.\n"},
    {"export", "export FILE OUT.wrl",
     "Writes the surface as a VRML 2.0 world, its texture beside it as a GIF (or a BMP when\n"
     "the GIF cannot be written), exactly as the viewer's Export does. Exit status 1 when\n"
     "the world cannot be written.\n"},
    {"convert", "convert [--format F] FILE OUT",
     "Writes the surface as read (polygons kept, nothing completed) in another format, by\n"
     "default the one OUT's extension names: glb (glTF 2.0 binary, textures embedded as PNG),\n"
     "gltf (with a .bin and NAME_gltf.png beside it), obj (with a .mtl and NAME_obj.png),\n"
     "ply (binary, texture named in a \"comment TextureFile\" line, NAME_ply.png beside it),\n"
     "stl (geometry only) or osf (raw version 3); further textures of a model are\n"
     "NAME_FORMAT_1.png and on. --format F names the format whatever OUT's extension. Exit\n"
     "status 1, with the reason, when OUT cannot be written or the format cannot hold the\n"
     "surface.\n"},
    {"render", "render [OPTIONS] FILE OUT.png|OUT.jpg",
     "Draws the surface off-screen as the viewer shows it and writes a PNG or JPEG image;\n"
     "osftool render --help lists the options.\n"},
    {"pick", "pick [OPTIONS] FILE X,Y",
     "Prints the surface point under pixel X,Y of the picture render draws with the same\n"
     "options, its polygon, that polygon's normal and the texture coordinate there;\n"
     "osftool pick --help says more.\n"},
    {"measure", "measure [OPTIONS] FILE X1,Y1 X2,Y2",
     "Prints the distance between the surface points under two pixels of that picture,\n"
     "with its x, y and z parts, in the file's units; osftool measure --help says more.\n"},
};

const char* kCommandUsage =
    "usage: osftool <info|dump|check|export|convert|render|pick|measure> [--help] ...";

void PrintCommandHelp()
{
    std::printf("%s\n\n", kCommandUsage);
    std::printf(
        "Loads an Orvane surface file (.osf), or a model file of another program (OBJ, PLY,\n"
        "STL, glTF, COLLADA and the others the viewer opens), as the viewer does: reads it,\n"
        "refuses a surface that cannot be displayed, drops texture data that cannot be drawn,\n"
        "and completes it. Then, by subcommand:\n\n");
    for (const Subcommand& sub : kSubcommands) std::printf("  osftool %s\n", sub.usage);
    std::printf(
        "\nosftool SUBCOMMAND --help (or -h) describes each; osftool --version prints the\n"
        "version. Exit status: 0 success, 1 failure of the subcommand, 2 a file that does\n"
        "not load, 64 a usage error.\n");
}

int UsageError(const char* usage)
{
    std::fprintf(stderr, "usage: osftool %s\n", usage);
    return kExitUsage;
}

// The word at fault first, then the usage line.
int UsageError(const char* usage, const char* what, const char* subcommand, const char* word)
{
    if (subcommand != nullptr)
        std::fprintf(stderr, "osftool %s: %s '%s'\n", subcommand, what, word);
    else
        std::fprintf(stderr, "osftool: %s '%s'\n", what, word);
    return UsageError(usage);
}

bool IsHelp(const char* arg)
{
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

// Reads and checks path into surface (and what a model file carries beside it into
// appearance); reports a failure as the document does.
bool Read(const char* path, KV_PolySurface& surface, KV_Executor& executor,
          KV_SurfaceAppearance* appearance = nullptr)
{
    KV_SurfaceReadReport report;
    if (KV_ReadSurfaceFile(path, surface, report, appearance, &executor))
        return true;
    std::fprintf(stderr, "%s\n", KV_DocumentCore::LoadFailureMessage(path, &report).c_str());
    return false;
}

int Info(const char* path, KV_Executor& executor)
{
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
    KV_SurfaceReadReport report;
    if (!KV_ReadSurfaceFile(path, surface, report, &appearance, &executor))
    {
        std::fprintf(stderr, "%s\n", KV_DocumentCore::LoadFailureMessage(path, &report).c_str());
        return kExitLoadFailed;
    }
    // No line reads the normals, and the check only counts them: the lists the lines and the
    // check read are made, as the viewer makes them.
    KV_CompleteSurfaceForMeasuring(surface, &executor, &appearance);
    const KV_SurfaceProperties properties =
        KV_MeasureSurface(path, report, surface, &appearance, &executor);
    for (const auto& line : KV_SurfacePropertyLines(properties))
        std::printf("%s: %s\n", line.first.c_str(), line.second.c_str());
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

int Dump(const char* path, bool completed, KV_Executor& executor)
{
    KV_PolySurface surface;
    if (!Read(path, surface, executor))
        return kExitLoadFailed;
    if (completed)
        KV_CompleteSurface(surface, &executor);
    surface.Dump(std::cout);
    return std::cout.good() ? kExitOk : kExitFailed;
}

int Check(const char* path, KV_Executor& executor)
{
    KV_PolySurface surface;
    if (!Read(path, surface, executor))
        return kExitLoadFailed;
    KV_CompleteSurface(surface, &executor);
    return surface.CheckConsistency() ? kExitOk : kExitFailed;
}

int Export(const char* path, const char* outPath, KV_Executor& executor)
{
    // The same world as the viewer's Export of the loaded surface: the file is read and
    // checked as the viewer does, and triangulated; the rest of the completion (normals,
    // topology) never reaches the world, so it is not made.
    KV_SurfaceReadReport report;
    KV_PolySurface surface;
    if (!KV_ReadSurfaceFile(path, surface, report, nullptr, &executor))
    {
        std::fprintf(stderr, "%s\n", KV_DocumentCore::LoadFailureMessage(path, &report).c_str());
        return kExitLoadFailed;
    }
    KV_PrepareSurfaceForExport(surface);
    const bool written = KV_VRMLWriter::ExportSurface(outPath, surface);
    if (written)
        return kExitOk;
    std::fprintf(stderr, "%s\n", KV_DocumentCore::SaveFailureMessage(outPath).c_str());
    return kExitFailed;
}

int Convert(const char* path, const char* outPath, const char* formatName,
            KV_Executor& executor)
{
    const KV_MeshFormat format = formatName != nullptr
                                     ? KV_MeshExporter::FormatFromName(formatName)
                                     : KV_MeshExporter::FormatOfPath(outPath);
    if (format == KV_MeshFormat::None)
    {
        std::fprintf(stderr,
                     "osftool convert: no format %s%s; use glb, gltf, obj, ply, stl or osf "
                     "(--format F)\n",
                     formatName != nullptr ? "named " : "for ", formatName != nullptr ? formatName : outPath);
        return kExitUsage;
    }
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
    if (!Read(path, surface, executor, &appearance))
        return kExitLoadFailed;
    std::string error;
    if (KV_MeshExporter::Write(surface, outPath, format, error, &appearance))
        return kExitOk;
    std::fprintf(stderr, "%s\n%s\n", KV_DocumentCore::SaveFailureMessage(outPath).c_str(),
                 error.c_str());
    return kExitFailed;
}

int Render(int argc, char** argv, KV_Executor& executor)
{
    // The options first: a usage error or --help never waits for FILE to load.
    const int early = OsftoolRenderCheckArguments(argc, argv);
    if (early >= 0)
        return early;
    KV_PolySurface surface;
    KV_SurfaceAppearance appearance;
    if (!Read(argv[OsftoolRenderFileArgument(argc, argv)], surface, executor, &appearance))
        return kExitLoadFailed;
    KV_CompleteSurface(surface, &executor, &appearance);
    return OsftoolRenderSurface(surface, argc, argv, &appearance);
}

int Pick(const char* command, int argc, char** argv, KV_Executor& executor)
{
    const int early = OsftoolPickCheckArguments(command, argc, argv);
    if (early >= 0)
        return early;
    // As read, not completed: the polygon numbers are the file's, and each polygon is met
    // through the same fan of triangles the completion draws.
    KV_PolySurface surface;
    if (!Read(argv[OsftoolRenderFileArgument(argc, argv)], surface, executor))
        return kExitLoadFailed;
    return OsftoolPickSurface(command, surface, argc, argv, &executor);
}

}  // namespace

int main(int argc, char** argv)
{
    KV_RestartWithHugePages(argv);
    KV_UseOneAllocatorArena();
    if (argc < 2)
        return UsageError(kCommandUsage + std::strlen("usage: osftool "));
    if (IsHelp(argv[1]))
    {
        PrintCommandHelp();
        return kExitOk;
    }
    if (std::strcmp(argv[1], "--version") == 0)
    {
        std::printf("osftool (Orvane Image View) %s\n", ORVANE_VERSION);
        return kExitOk;
    }

    const Subcommand* sub = nullptr;
    for (const Subcommand& candidate : kSubcommands)
        if (std::strcmp(argv[1], candidate.name) == 0)
            sub = &candidate;
    if (sub == nullptr)
        return UsageError(kCommandUsage + std::strlen("usage: osftool "), "unknown command",
                          nullptr, argv[1]);

    // The program's one pool of worker threads, handed to every stage that splits its work.
    KV_Executor executor;
    if (std::strcmp(sub->name, "render") == 0)
        return Render(argc - 1, argv + 1, executor);
    if (std::strcmp(sub->name, "pick") == 0 || std::strcmp(sub->name, "measure") == 0)
        return Pick(sub->name, argc - 1, argv + 1, executor);

    // Options, then the positional arguments.
    bool completed = false;
    const char* format = nullptr;
    const bool converting = std::strcmp(sub->name, "convert") == 0;
    std::vector<const char*> args;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i)
    {
        const char* arg = argv[i];
        if (!optionsEnded && IsHelp(arg))
        {
            std::printf("usage: osftool %s\n\n%s", sub->usage, sub->help);
            return kExitOk;
        }
        if (!optionsEnded && std::strcmp(arg, "--") == 0)
            optionsEnded = true;
        else if (!optionsEnded && std::strcmp(sub->name, "dump") == 0 &&
                 std::strcmp(arg, "--completed") == 0)
            completed = true;
        else if (!optionsEnded && converting && std::strcmp(arg, "--format") == 0)
        {
            if (i + 1 >= argc)
                return UsageError(sub->usage);
            format = argv[++i];
        }
        else if (!optionsEnded && converting && std::strncmp(arg, "--format=", 9) == 0)
            format = arg + 9;
        else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0')
            return UsageError(sub->usage, "unknown option", sub->name, arg);
        else
            args.push_back(arg);
    }

    const std::size_t wanted = std::strcmp(sub->name, "export") == 0 || converting ? 2 : 1;
    if (args.size() != wanted)
        return UsageError(sub->usage);

    if (std::strcmp(sub->name, "info") == 0)
        return Info(args[0], executor);
    if (std::strcmp(sub->name, "dump") == 0)
        return Dump(args[0], completed, executor);
    if (std::strcmp(sub->name, "check") == 0)
        return Check(args[0], executor);
    if (converting)
        return Convert(args[0], args[1], format, executor);
    return Export(args[0], args[1], executor);
}
