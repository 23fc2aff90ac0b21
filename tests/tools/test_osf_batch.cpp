// scripts/osf-batch end to end, through GNU parallel on this machine: a folder of two good
// surface files (the bundled sample and a square written by the test support writer), one
// cut short and one text file. Each good file's output is read back independently (the
// exported texture decoded, the converted model re-read by osftool, the rendered picture
// decoded); the broken file is logged, listed at the end and makes the exit status 1.
// Built twice: without a display (export, convert, usage) and with one (render).

#include "FixtureFiles.h"
#include "OsftoolRunner.h"
#include "image/KV_ImageReader.h"
#include "image/KV_MultiImage.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace
{
struct BatchRun
{
    int status = -1;
    std::string log;
};

BatchRun Batch(const std::string& args)
{
    const std::string log = ScratchPath("batch.log");
    const std::string command = Quoted(std::string(ORVANE_SOURCE_DIR) + "/scripts/osf-batch") +
                                " --osftool " + Quoted(OSFTOOL_PATH) + " " + args + " >" +
                                Quoted(log) + " 2>&1 </dev/null";
    const int raw = std::system(command.c_str());
    BatchRun run;
    if (raw != -1 && WIFEXITED(raw))
        run.status = WEXITSTATUS(raw);
    run.log = ReadText(log);
    return run;
}

bool HaveParallel()
{
    return std::system("command -v parallel >/dev/null 2>&1") == 0;
}

// The input folder; the names of its good files.
const std::vector<std::string> kGood = {"sample", "square"};

std::string MakeInput()
{
    const std::string in = ScratchPath("in");
    mkdir(in.c_str(), 0755);
    const std::string sample = ReadText(std::string(ORVANE_SOURCE_DIR) + "/data/sample.osf");
    EXPECT_GT(sample.size(), 1000u);
    std::ofstream(in + "/sample.osf", std::ios::binary) << sample;
    WriteRaw("in/square.osf", TexturedSquare());
    std::ofstream(in + "/broken.osf", std::ios::binary) << sample.substr(0, 300);
    std::ofstream(in + "/notes.txt") << "not a surface\n";
    return in;
}

// The log names each file once, ok or failed, and lists the broken one again at the end.
void ExpectLogOfOneFailure(const BatchRun& run, const std::string& in)
{
    EXPECT_EQ(run.status, 1) << run.log;
    for (const std::string& name : kGood)
        EXPECT_NE(run.log.find("ok: " + in + "/" + name + ".osf\n"), std::string::npos)
            << name << "\n" << run.log;
    EXPECT_TRUE(std::regex_search(run.log, std::regex("(^|\n)failed: " + in + R"(/broken\.osf \(exit 2\): .+\n)")))
        << run.log;
    EXPECT_TRUE(std::regex_search(run.log, std::regex(R"(2 of 3 files done; failed:\n  .*/broken\.osf)")))
        << run.log;
    EXPECT_EQ(run.log.find("notes"), std::string::npos) << run.log;
}
}  // namespace

#ifndef ORVANE_BATCH_DISPLAY

namespace
{
// The value of a "key: value" line of osftool info.
std::string InfoLine(const std::string& info, const std::string& key)
{
    std::smatch match;
    if (!std::regex_search(info, match, std::regex("(^|\n)" + key + ": ([^\n]*)")))
        return "(no " + key + ")";
    return match[2].str();
}
}  // namespace

TEST(OsfBatch, ExportsEveryFileAndListsTheBrokenOne)
{
    if (!HaveParallel())
        GTEST_SKIP() << "GNU parallel is not installed";
    const std::string in = MakeInput();
    const std::string out = ScratchPath("out");
    const BatchRun run = Batch("-j 2 export " + Quoted(in) + " " + Quoted(out));
    ExpectLogOfOneFailure(run, in);
    for (const std::string& name : kGood)
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadText(out + "/" + name + ".wrl").substr(0, 15), "#VRML V2.0 utf8");
        // The texture beside the world, decoded, is the size the surface's texture is.
        KV_MultiImage gif;
        std::string error;
        ASSERT_TRUE(KV_ImageReader::ReadFile(out + "/" + name + ".gif", gif, error)) << error;
        const ToolRun info = Osftool("info " + Quoted(in + "/" + name + ".osf"));
        EXPECT_EQ(InfoLine(info.out, "texture"),
                  std::to_string(gif.Cols()) + "x" + std::to_string(gif.Rows()) + " colour");
    }
    EXPECT_FALSE(Exists(out + "/broken.wrl"));
}

TEST(OsfBatch, ConvertedModelsReadBackAsTheSameSurfaces)
{
    if (!HaveParallel())
        GTEST_SKIP() << "GNU parallel is not installed";
    const std::string in = MakeInput();
    const struct
    {
        const char* options;
        const char* extension;
    } cases[] = {{"", "glb"}, {"--format obj -j1", "obj"}, {"--format ply", "ply"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.extension);
        const std::string out = ScratchPath(std::string("out-") + c.extension);
        ExpectLogOfOneFailure(
            Batch(std::string(c.options) + " convert " + Quoted(in) + " " + Quoted(out)), in);
        for (const std::string& name : kGood)
        {
            SCOPED_TRACE(name);
            const ToolRun original = Osftool("info " + Quoted(in + "/" + name + ".osf"));
            const ToolRun back =
                Osftool("info " + Quoted(out + "/" + name + "." + c.extension));
            ASSERT_EQ(back.status, 0) << back.err;
            for (const char* key : {"triangles", "texture", "surface area"})
                EXPECT_EQ(InfoLine(back.out, key), InfoLine(original.out, key)) << key;
        }
    }
}

TEST(OsfBatch, RefusesWhatItCannotRun)
{
    if (!HaveParallel())
        GTEST_SKIP() << "GNU parallel is not installed";
    const std::string in = MakeInput();
    const std::string empty = ScratchPath("empty");
    mkdir(empty.c_str(), 0755);
    const std::string out = Quoted(ScratchPath("out"));
    const struct
    {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"print " + Quoted(in) + " " + out, 64, "unknown command 'print'"},
        {"convert --format wrl " + Quoted(in) + " " + out, 64, "convert takes --format"},
        {"-j 0 export " + Quoted(in) + " " + out, 64, "-j takes a number"},
        {"export " + Quoted(in), 64, "an output folder are needed"},
        {"--sshlogin :,server -S other export " + Quoted(in) + " " + out, 64, "name this machine as localhost"},
        {"export " + Quoted(empty) + " " + out, 1, "no *.osf files in"},
        {"export " + Quoted(ScratchPath("missing")) + " " + out, 1, "no folder"},
    };
    for (const auto& c : cases)
    {
        const BatchRun run = Batch(c.args);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.log;
        EXPECT_NE(run.log.find(c.says), std::string::npos) << c.args << "\n" << run.log;
    }
    // Nothing was run: the refusals come before any osftool.
    EXPECT_FALSE(Exists(ScratchPath("out") + "/sample.wrl"));
}

#else

TEST(OsfBatchDisplay, RendersEveryFileAtTheSizeAsked)
{
    if (!HaveParallel())
        GTEST_SKIP() << "GNU parallel is not installed";
    const std::string in = MakeInput();
    const std::string out = ScratchPath("out");
    const BatchRun run =
        Batch("render " + Quoted(in) + " " + Quoted(out) + " --size 64x48 --turn 30,20");
    if (run.log.find("(exit 3)") != std::string::npos)
        GTEST_SKIP() << "no usable X display:\n" << run.log;
    ExpectLogOfOneFailure(run, in);
    for (const std::string& name : kGood)
    {
        SCOPED_TRACE(name);
        KV_MultiImage picture;
        std::string error;
        ASSERT_TRUE(KV_ImageReader::ReadFile(out + "/" + name + ".png", picture, error)) << error;
        EXPECT_EQ(picture.Cols(), 64);
        EXPECT_EQ(picture.Rows(), 48);
    }
}

#endif
