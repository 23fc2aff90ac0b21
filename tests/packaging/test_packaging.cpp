// The installed documentation stays true to the programs: each manual page lists exactly
// the options and subcommands that --help lists, osftool's bash completion offers exactly
// those, and the AppStream metadata names the file types the desktop entry opens (the
// versions are test_release's).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace
{
using Words = std::set<std::string>;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Standard output of a command line; a failing exit status fails the test.
std::string Output(const std::string& command)
{
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
    {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << out;
    return out;
}

// Every option word (-h, --size, --no-texture) in the text: a dash after a blank, bracket,
// bar or quote, not inside a word such as "orvane-view".
Words Options(const std::string& text)
{
    Words options;
    static const std::regex option(R"((^|[\s\[|"(,])(--?[a-z][a-z0-9-]*))");
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
        options.insert((*it)[2]);
    return options;
}

// A manual page as plain words: escaped dashes become dashes, font changes go, and the
// EXAMPLES section (other programs' options) is left out.
std::string PageText(const std::string& page)
{
    std::string text = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), " ");
    const size_t examples = text.find("\n.SH EXAMPLES");
    return text.substr(0, examples);
}

Words Matches(const std::string& text, const std::string& pattern)
{
    Words words;
    const std::regex expression(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), expression), end; it != end; ++it)
        words.insert((*it)[1]);
    return words;
}

std::string Source(const std::string& relative)
{
    return ReadFile(std::string(ORVANE_SOURCE_DIR) + "/" + relative);
}

// osftool's subcommands as its --help lists them, and every option of it and of them.
struct OsftoolHelp
{
    Words subcommands;
    Words options;
};

OsftoolHelp ReadOsftoolHelp()
{
    OsftoolHelp help;
    const std::string top = Output(std::string("'") + OSFTOOL_PATH + "' --help");
    help.subcommands = Matches(top, R"(\n  osftool ([a-z]+))");
    help.options = Options(top);
    for (const std::string& sub : help.subcommands)
    {
        const Words more =
            Options(Output(std::string("'") + OSFTOOL_PATH + "' " + sub + " --help"));
        help.options.insert(more.begin(), more.end());
    }
    return help;
}
}  // namespace

TEST(ManualPages, ListTheOptionsAndSubcommandsThatHelpLists)
{
    const std::string viewerHelp = Output(std::string("'") + ORVANE_VIEW_PATH + "' --help");
    const Words viewerOptions = Options(viewerHelp);
    EXPECT_TRUE(viewerOptions.count("--version") && viewerOptions.count("--help")) << viewerHelp;
    EXPECT_EQ(Options(PageText(Source("packaging/man/orvane-view.1.in"))), viewerOptions);

    const OsftoolHelp help = ReadOsftoolHelp();
    ASSERT_TRUE(help.subcommands.count("info") && help.subcommands.count("export"));
    const std::string page = PageText(Source("packaging/man/osftool.1.in"));
    EXPECT_EQ(Options(page), help.options);
    // Each subcommand has its line in the synopsis and its entry under SUBCOMMANDS.
    EXPECT_EQ(Matches(page, R"(\n\.B osftool ([a-z]+)\n)"), help.subcommands);
    EXPECT_EQ(Matches(page, R"(\n\.TP\n\.BI "([a-z]+) )"), help.subcommands);
}

TEST(BashCompletion, OffersTheSubcommandsAndOptionsThatHelpLists)
{
    const OsftoolHelp help = ReadOsftoolHelp();
    const std::string completion = Source("packaging/osftool.bash-completion");
    std::smatch list;
    ASSERT_TRUE(std::regex_search(completion, list, std::regex(R"(subcommands="([^"]*)\")")));
    std::istringstream words(list[1].str());
    const Words offered{std::istream_iterator<std::string>(words),
                        std::istream_iterator<std::string>()};
    EXPECT_EQ(offered, help.subcommands);
    // Long options only: the script's own shell tests (-eq) are not osftool's.
    Words longOptions;
    for (const std::string& option : help.options)
        if (option.rfind("--", 0) == 0)
            longOptions.insert(option);
    Words completed;
    for (const std::string& option : Options(completion))
        if (option.rfind("--", 0) == 0)
            completed.insert(option);
    EXPECT_EQ(completed, longOptions);
}

// What bash offers after the command line typed so far, as bash-completion would ask the
// script, in a folder holding one file of each type.
std::string Completions(const std::string& line)
{
    const std::string folder = std::string(ORVANE_TEST_TMP) + "/completion";
    const std::string script =
        "cd '" + folder +
        "' && touch a.osf b.osf c.png d.wrl e.txt && "
        "source /usr/share/bash-completion/bash_completion && source '" ORVANE_SOURCE_DIR
        "/packaging/osftool.bash-completion' && "
        "COMP_LINE=$1; COMP_POINT=${#1}; read -ra COMP_WORDS <<<\"$1\"; "
        "[[ $1 == *' ' ]] && COMP_WORDS+=(''); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
        "_osftool osftool \"${COMP_WORDS[-1]}\" \"${COMP_WORDS[-2]}\"; "
        "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '";
    std::string quoted;
    for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return Output("mkdir -p '" + folder + "' && bash -c '" + quoted + "' _ '" + line + "'");
}

TEST(BashCompletion, CompletesSubcommandsOptionsAndFileTypes)
{
    if (!std::ifstream("/usr/share/bash-completion/bash_completion").good())
        GTEST_SKIP() << "bash-completion is not installed";
    const struct
    {
        const char* line;
        const char* offered;
    } cases[] = {
        {"osftool ", "--help --version check convert dump export info measure pick render "},
        {"osftool ex", "export "},
        {"osftool dump --", "--completed --help "},
        {"osftool info ", "a.osf b.osf "},
        {"osftool export a.osf ", "d.wrl "},
        {"osftool render --size 10x10 a.osf ", "c.png "},
        {"osftool render --no", "--no-texture "},
        {"osftool pick --w", "--wireframe "},
    };
    for (const auto& c : cases) EXPECT_EQ(Completions(c.line), c.offered) << c.line;
}

TEST(AppStream, NamesTheFileTypesTheDesktopEntryOpens)
{
    const std::string entry = Source("app/desktop/orvane-view.desktop");
    std::smatch line;
    ASSERT_TRUE(std::regex_search(entry, line, std::regex(R"(\nMimeType=([^\n]*))")));
    const Words opened = Matches(line[1].str(), R"(([^;]+);?)");
    const std::string metainfo = Source("packaging/org.orvane.OrvaneView.metainfo.xml.in");
    EXPECT_FALSE(opened.empty());
    EXPECT_EQ(Matches(metainfo, R"(<mediatype>([^<]+)</mediatype>)"), opened);
    EXPECT_NE(metainfo.find("<launchable type=\"desktop-id\">orvane-view.desktop</launchable>"),
              std::string::npos);
}
