// What a release says about itself, said the same everywhere: one version (the about box,
// the splash picture, both programs' --version, the manual pages, the AppStream release and
// the package changelog all carry the version of the top CMakeLists.txt), one licence, and a
// web address only where the build was given one.
#include "app/AboutDlg.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace
{
std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Standard output and error of a command line, and its exit status.
struct CommandRun
{
    std::string output;
    int status = -1;
};

CommandRun RunCommand(const std::string& command)
{
    CommandRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Output(const std::string& command)
{
    const CommandRun run = RunCommand(command);
    EXPECT_EQ(run.status, 0) << command << "\n" << run.output;
    return run.output;
}

// The first capture of the pattern in the text, or "(none)".
std::string First(const std::string& text, const std::string& pattern)
{
    std::smatch match;
    if (!std::regex_search(text, match, std::regex(pattern)))
        return "(none)";
    return match[1].str();
}

std::string Source(const std::string& relative)
{
    return ReadFile(std::string(ORVANE_SOURCE_DIR) + "/" + relative);
}

std::string Built(const std::string& relative)
{
    return ReadFile(std::string(ORVANE_PACKAGING_BINARY_DIR) + "/" + relative);
}

// Read from the top CMakeLists.txt as written, not from the build's variables, so that a
// place that took its version from somewhere else shows up.
std::string ProjectVersion()
{
    return First(Source("CMakeLists.txt"), R"(\nproject\(OrvaneImageView\s+VERSION\s+([0-9.]+))");
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str()))
    {
        while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}
}  // namespace

TEST(Versions, EveryPlaceCarriesTheProjectVersion)
{
    const std::string version = ProjectVersion();
    ASSERT_TRUE(std::regex_match(version, std::regex(R"([0-9]+(\.[0-9]+)+)"))) << version;
    const std::string view = std::string("'") + ORVANE_VIEW_PATH + "'";
    const std::string tool = std::string("'") + OSFTOOL_PATH + "'";
    const struct
    {
        const char* place;
        std::string shown;
        std::string expected;
    } places[] = {
        {"about box", CAboutDlg::VersionLine(), "Orvane Image View, Version " + version},
        {"splash picture", KV_VersionText(), "Version " + version},
        {"orvane-view --version", Output(view + " --version"),
         "orvane-view (Orvane Image View) " + version + "\n"},
        {"osftool --version", Output(tool + " --version"),
         "osftool (Orvane Image View) " + version + "\n"},
        {"orvane-view.1 header",
         First(Built("man/orvane-view.1"), R"(\.TH [^\n]*"Orvane Image View ([^"]*)\")"), version},
        {"osftool.1 header",
         First(Built("man/osftool.1"), R"(\.TH [^\n]*"Orvane Image View ([^"]*)\")"), version},
        {"AppStream newest release",
         First(Built("org.orvane.OrvaneView.metainfo.xml"), R"(<release version="([^"]*)\")"),
         version},
        {"package changelog", First(Built("changelog"), R"(^orvane-view \(([^)]*)\) unstable;)"),
         version},
    };
    for (const auto& p : places) EXPECT_EQ(p.shown, p.expected) << p.place;
}

// A version typed into a text of the shell would pass the test above until the project's
// version next changes; the shell's sources say "Version" only through KV_VersionText.
TEST(Versions, TheShellWritesNoVersionByHand)
{
    const std::string app = std::string(ORVANE_SOURCE_DIR) + "/app";
    const std::regex typed(R"("[^"\n]*\bVersion [0-9])");
    int files = 0;
    for (const std::string& name : FilesIn(app))
    {
        if (!std::regex_search(name, std::regex(R"(\.(cpp|h)$)")))
            continue;
        ++files;
        EXPECT_FALSE(std::regex_search(ReadFile(app + "/" + name), typed)) << "app/" << name;
    }
    EXPECT_GT(files, 10);
}

TEST(Licence, MitEverywhere)
{
    const std::string licence = Source("LICENSE");
    const std::string copyright = Source("packaging/copyright");
    const struct
    {
        const char* place;
        std::string said;
        std::string expected;
    } places[] = {
        {"LICENSE title", First(licence, R"(^([^\n]*))"), "MIT License"},
        {"LICENSE holder", First(licence, R"(\n(Copyright [^\n]*))"),
         "Copyright (c) 2026 The Orvane Image View authors"},
        {"about box", CAboutDlg::kLicenceLine, "Licence: MIT"},
        {"AppStream", First(Source("packaging/org.orvane.OrvaneView.metainfo.xml.in"),
                            R"(<project_license>([^<]*)</project_license>)"),
         "MIT"},
        // Debian's name for the MIT text.
        {"Debian copyright, Files: *", First(copyright, R"(\nFiles: \*\n(?:[^\n]+\n)*?License: ([^\n]*))"),
         "Expat"},
        {"Debian copyright format", First(copyright, R"(^Format: ([^\n]*))"),
         "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"},
    };
    for (const auto& p : places) EXPECT_EQ(p.said, p.expected) << p.place;

    // The MIT text itself, word for word, in both files.
    const std::string grant = "Permission is hereby granted, free of charge, to any person";
    EXPECT_NE(licence.find(grant), std::string::npos);
    EXPECT_NE(copyright.find(" " + grant), std::string::npos);
    // Every licence a paragraph names has its text in a paragraph of its own.
    std::smatch used;
    for (auto it = copyright.cbegin();
         std::regex_search(it, copyright.cend(), used, std::regex(R"(\nLicense: ([^\n]+)\n)"));
         it = used[0].second - 1)
    {
        for (const std::string& name :
             {std::string(First(used[1].str() + " ", R"(^(\S+))")),
              std::string(First(used[1].str(), R"(\bor (\S+)$)"))})
        {
            if (name == "(none)")
                continue;
            EXPECT_TRUE(std::regex_search(copyright, std::regex("\nLicense: " + name + "\n ")))
                << "no text for " << name;
        }
    }
}

// The project configured afresh without a web address and with one: without, the AppStream
// metadata has no homepage link and no screenshot and the package no Homepage field; with,
// all three name it. Both metadata files pass appstreamcli's validation.
TEST(Homepage, NamedOnlyWhenGiven)
{
    const struct
    {
        const char* name;
        const char* url;
    } cases[] = {{"none", ""}, {"given", "https://example.net/orvane"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string build = TestScratchPath(std::string("configure-") + c.name);
        const CommandRun configure = RunCommand(
            "cmake -S '" ORVANE_SOURCE_DIR "' -B '" + build +
            "' -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF -DORVANE_HOMEPAGE_URL=" +
            c.url);
        ASSERT_EQ(configure.status, 0) << configure.output;
        const std::string metainfo = build + "/packaging/org.orvane.OrvaneView.metainfo.xml";
        const std::string text = ReadFile(metainfo);
        const std::string cpack = ReadFile(build + "/CPackConfig.cmake");
        const std::string url = c.url;
        if (url.empty())
        {
            EXPECT_EQ(text.find("<url"), std::string::npos) << text;
            EXPECT_EQ(text.find("<screenshot"), std::string::npos) << text;
            EXPECT_EQ(text.find("@ORVANE"), std::string::npos) << text;
            EXPECT_EQ(cpack.find("CPACK_DEBIAN_PACKAGE_HOMEPAGE"), std::string::npos);
        }
        else
        {
            EXPECT_EQ(First(text, R"(<url type="homepage">([^<]*)</url>)"), url);
            EXPECT_EQ(First(text, R"(<image>([^<]*)</image>)"), url + "/docs/screenshot.png");
            EXPECT_EQ(First(cpack, R"(set\(CPACK_DEBIAN_PACKAGE_HOMEPAGE "([^"]*)\"\))"), url);
        }
        EXPECT_NE(text.find("<project_license>MIT</project_license>"), std::string::npos);
        if (RunCommand("command -v appstreamcli").status == 0)
        {
            const CommandRun valid = RunCommand("appstreamcli validate --no-net '" + metainfo + "'");
            EXPECT_EQ(valid.status, 0) << valid.output;
        }
    }
}
