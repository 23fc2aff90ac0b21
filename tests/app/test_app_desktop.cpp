// Desktop integration: `cmake --install` puts the program, its launcher, the surface file
// type and the icons where file managers look, and the file type database maps *.osf to the
// viewer's type.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace
{
std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DesktopInstall : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        cpkPrefix = new std::filesystem::path(std::filesystem::path(ORVANE_TEST_TMP) / "prefix");
        std::filesystem::remove_all(*cpkPrefix);
        const std::string command =
            "cmake --install \"" ORVANE_BINARY_DIR "\" --prefix \"" + cpkPrefix->string() +
            "\" > \"" + (std::filesystem::path(ORVANE_TEST_TMP) / "install.log").string() +
            "\" 2>&1";
        cnResult = std::system(command.c_str());
    }
    static void TearDownTestSuite() { delete cpkPrefix; }

    static std::filesystem::path Installed(const std::string& relative)
    {
        return *cpkPrefix / relative;
    }

    static std::filesystem::path* cpkPrefix;
    static int cnResult;
};

std::filesystem::path* DesktopInstall::cpkPrefix = nullptr;
int DesktopInstall::cnResult = -1;
}  // namespace

TEST_F(DesktopInstall, InstallsTheProgramLauncherTypeAndIcons)
{
    ASSERT_EQ(cnResult, 0);
    EXPECT_TRUE(std::filesystem::exists(Installed("bin/orvane-view")));
    EXPECT_TRUE(
        std::filesystem::exists(Installed("share/icons/hicolor/scalable/apps/orvane-view.svg")));
    EXPECT_TRUE(std::filesystem::exists(Installed(
        "share/icons/hicolor/scalable/mimetypes/application-x-orvanesurface.document.svg")));

    const std::string launcher = ReadFile(Installed("share/applications/orvane-view.desktop"));
    EXPECT_NE(launcher.find("\nName=Orvane Image View\n"), std::string::npos);
    EXPECT_NE(launcher.find("\nExec=orvane-view %f\n"), std::string::npos);
    EXPECT_NE(launcher.find("\nIcon=orvane-view\n"), std::string::npos);
    // The surface file type first; the model types of other programs after it.
    EXPECT_NE(launcher.find("\nMimeType=application/x-orvanesurface.document;model/gltf-binary;"),
              std::string::npos);
    for (const char* type : {"model/obj;", "model/stl;", "model/x-ply;", "model/vnd.collada+xml;"})
        EXPECT_NE(launcher.find(type), std::string::npos) << type;

    const std::string type = ReadFile(Installed("share/mime/packages/orvane-view.xml"));
    EXPECT_NE(type.find("<mime-type type=\"application/x-orvanesurface.document\">"),
              std::string::npos);
    EXPECT_NE(type.find("<comment>Orvane Surface Document</comment>"), std::string::npos);
    EXPECT_NE(type.find("<glob pattern=\"*.osf\"/>"), std::string::npos);
}

TEST_F(DesktopInstall, FileTypeDatabaseMapsSurfaceFilesToTheViewer)
{
    ASSERT_EQ(cnResult, 0);
    if (std::system("command -v update-mime-database > /dev/null") != 0)
        GTEST_SKIP() << "shared-mime-info is not installed";
    // The install refreshed the database of its prefix.
    const std::string globs = ReadFile(Installed("share/mime/globs2"));
    EXPECT_NE(globs.find("application/x-orvanesurface.document:*.osf"), std::string::npos) << globs;
    EXPECT_NE(globs.find("model/x-ply:*.ply"), std::string::npos) << globs;
}
