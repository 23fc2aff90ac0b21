#include "meshfile/KV_MeshImporter.h"

#include "foundation/KV_Report.h"
#include "meshfile/KV_DeclaredSizes.h"
#include "meshfile/KV_ImportChild.h"
#include "meshfile/KV_ImportWire.h"
#include "meshfile/KV_ObjReader.h"
#include "meshfile/KV_PlyReader.h"
#include "meshfile/KV_ReadStop.h"
#include "meshfile/KV_SceneImport.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_TexturedPolySurface.h"

#include <assimp/Importer.hpp>
#include <assimp/importerdesc.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace
{
double gdTimeLimitSeconds = 60.0;
bool gbDirectReaders = true;
}  // namespace

void KV_MeshImporter::SetTimeLimit(double seconds)
{
    gdTimeLimitSeconds = seconds;
}

void KV_MeshImporter::UseDirectReaders(bool use)
{
    gbDirectReaders = use;
}

namespace
{

std::string LowerExtension(const std::string& path)
{
    const std::string name = fs::path(path).filename().string();
    const std::size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

}  // namespace

KV_MeshImporter::KV_MeshImporter(KV_TexturedPolySurface& surface,
                                 KV_SurfaceAppearance* appearance)
    : mkSurface(surface), mpAppearance(appearance)
{
}

void KV_MeshImporter::ClearResult()
{
    mkSurface.Clear();
    if (mpAppearance != nullptr)
        mpAppearance->Clear();
}

bool KV_MeshImporter::CanRead(const std::string& path)
{
    const std::string extension = LowerExtension(path);
    return !extension.empty() && Assimp::Importer().IsExtensionSupported("." + extension);
}

std::vector<KV_MeshImporter::FormatInfo> KV_MeshImporter::ReadableFormats()
{
    Assimp::Importer importer;
    std::vector<FormatInfo> formats;
    for (std::size_t i = 0; i < importer.GetImporterCount(); ++i)
    {
        const aiImporterDesc* description = importer.GetImporterInfo(i);
        if (description == nullptr || description->mFileExtensions == nullptr)
            continue;
        FormatInfo format;
        format.name = description->mName != nullptr ? description->mName : "";
        std::stringstream stream(description->mFileExtensions);
        std::string extension;
        while (stream >> extension)
        {
            for (char& c : extension)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (std::find(format.extensions.begin(), format.extensions.end(), extension) ==
                format.extensions.end())
                format.extensions.push_back(extension);
        }
        if (!format.extensions.empty())
            formats.push_back(format);
    }
    return formats;
}

std::vector<std::string> KV_MeshImporter::ReadableExtensions()
{
    std::string list;
    Assimp::Importer().GetExtensionList(list);
    std::vector<std::string> extensions;
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ';'))
    {
        const std::size_t dot = item.find('.');
        if (dot == std::string::npos)
            continue;
        std::string extension = item.substr(dot + 1);
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        extensions.push_back(extension);
    }
    std::sort(extensions.begin(), extensions.end());
    extensions.erase(std::unique(extensions.begin(), extensions.end()), extensions.end());
    return extensions;
}

bool KV_MeshImporter::Stopped() const
{
    return KV_IsStopped(mpStop);
}

bool KV_MeshImporter::ReadHere(const std::string& path)
{
    mkReason.clear();
    mkFormat = LowerExtension(path);
    return KV_ImportScene(path, mkFormat, mkSurface, mpAppearance, mkReason);
}

std::string KV_MeshImporter::HelperProgram()
{
    return KV_ImportHelperProgram();
}

void KV_MeshImporter::ReadAndSend(const std::string& path, int fd)
{
    KV_RestoreCrashSignals();
    // Messages travel back with the surface instead of being shown here.
    KV_ImportMessages messages;
    SetReportSink([&messages](const char* text, const char* caption, KV_ReportKind)
                  { messages.emplace_back(text, caption); });
    const bool read = ReadHere(path);
    KV_SendImportAndExit(fd,
                         KV_EncodeImport(read, mkReason, mkFormat, messages, mkSurface, mpAppearance));
}

void KV_MeshImporter::RunHelper(int argc, char** argv)
{
    const KV_ImportHelperCall call = KV_TakeImportHelperCall(argc, argv);
    KV_TexturedPolySurface surface;
    KV_SurfaceAppearance appearance;
    KV_MeshImporter(surface, call.table ? &appearance : nullptr).ReadAndSend(call.path, call.fd);
}

bool KV_MeshImporter::Read(const std::string& path)
{
    ClearResult();
    mkReason.clear();
    mkFormat = LowerExtension(path);
    if (Stopped())
        return Stop();

    // Binary PLY of the usual layouts is read by our own reader, here: see KV_PlyReader for
    // why. What it does not take goes to the library as before.
    if (gbDirectReaders && mkFormat == "ply")
    {
        KV_PlyReader direct(mkSurface, mpAppearance);
        direct.SetStop(mpStop);
        direct.SetExecutor(mpExecutor);
        const KV_PlyReader::Outcome outcome = direct.Read(path);
        if (outcome != KV_PlyReader::Outcome::NotHandled)
        {
            mkReason = direct.Reason();
            if (Stopped())
                return Stop();
            return outcome == KV_PlyReader::Outcome::Handled;
        }
    }
    // OBJ files likewise by KV_ObjReader, unless they hold what only the library reads alike.
    if (gbDirectReaders && mkFormat == "obj")
    {
        KV_ObjReader direct(mkSurface, mpAppearance);
        direct.SetStop(mpStop);
        direct.SetExecutor(mpExecutor);
        if (direct.Read(path))
            return Stopped() ? Stop() : true;
    }
    if (Stopped())
        return Stop();
    // What a file declares is held against what it holds before the library sees it: some of
    // its readers allocate for any count a header claims, or wait for data that never comes.
    if (!KV_CheckDeclaredSizes(path, mkFormat, mkReason, mpStop))
        return false;
    if (Stopped())
        return Stop();

    KV_ImportHandBack handBack;
    if (!KV_RunImportChild(
            path, mpAppearance != nullptr, gdTimeLimitSeconds,
            [this, &path](int fd) { ReadAndSend(path, fd); }, mpStop, handBack, mkReason))
        return false;
    std::string format;
    if (KV_DecodeImport(handBack.bytes.get(), handBack.Whole() ? handBack.expected : 0, mkReason,
                        format, mkSurface, mpAppearance, mpStop))
        return Stopped() ? Stop() : true;
    ClearResult();
    return false;
}

bool KV_MeshImporter::Stop()
{
    ClearResult();
    mkReason = "stopped";
    return false;
}
