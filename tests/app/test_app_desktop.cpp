// Desktop integration: `cmake --install` puts the program, its launcher, the surface file
// type and the icons where file managers look, and the file type database maps *.osf to the
// viewer's type.
#include "tests/support/ScratchPath.h"

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

// Each test case installs into a prefix of its own: ctest runs the cases side by side.
class DesktopInstall : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mkPrefix = std::filesystem::path(TestScratchPath("prefix"));
        std::filesystem::remove_all(mkPrefix);
        const std::string command = "cmake --install \"" ORVANE_BINARY_DIR "\" --prefix \"" +
                                    mkPrefix.string() + "\" > \"" + TestScratchPath("install.log") +
                                    "\" 2>&1";
        mnResult = std::system(command.c_str());
    }

    std::filesystem::path Installed(const std::string& relative) const
    {
        return mkPrefix / relative;
    }

    std::filesystem::path mkPrefix;
    int mnResult = -1;
};
}  // namespace

TEST_F(DesktopInstall, InstallsTheProgramLauncherTypeAndIcons)
{
    ASSERT_EQ(mnResult, 0) << ReadFile(TestScratchPath("install.log"));
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
    ASSERT_EQ(mnResult, 0) << ReadFile(TestScratchPath("install.log"));
    if (std::system("command -v update-mime-database > /dev/null") != 0)
        GTEST_SKIP() << "shared-mime-info is not installed";
    // The install refreshed the database of its prefix.
    const std::string globs = ReadFile(Installed("share/mime/globs2"));
    EXPECT_NE(globs.find("application/x-orvanesurface.document:*.osf"), std::string::npos) << globs;
    EXPECT_NE(globs.find("model/x-ply:*.ply"), std::string::npos) << globs;
}
