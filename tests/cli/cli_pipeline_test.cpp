// pimo-cli in pipelines: inputs listed in a file or on standard input, JSON
// records one per line, and the quiet mode.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_images.h"

namespace pimo::test {
namespace {

namespace fs = std::filesystem;

struct PipelineRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string TextOf(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

/// Runs `shellArguments` (already quoted) inside `folder` with standard input
/// from the file "stdin" there, when it exists; no real settings file is read.
PipelineRun RunInFolder(const fs::path& folder, const std::string& shellArguments) {
    const std::string input = fs::exists(folder / "stdin") ? " < stdin" : " < /dev/null";
    const std::string command = "cd '" + folder.string() + "' && XDG_CONFIG_HOME=xdg " +
                                "XDG_DATA_HOME=xdg '" PIMO_CLI_PATH "' " + shellArguments + input +
                                " > run.out 2> run.err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, TextOf(folder / "run.out"),
            TextOf(folder / "run.err")};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CliPipelineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(at("in/sub"));
        Bitmap photo = MakePhotoLike(64, 48, 5);
        WriteFileBytes(at("in/photo.jpg"), EncodeWithLibrary(FIF_JPEG, photo.get(), 95));
        const Bytes png = EncodeWithLibrary(FIF_PNG, photo.get(), PNG_Z_NO_COMPRESSION);
        WriteFileBytes(at("in/sub/plain.png"), png);
        // A name that a line-separated list cannot carry.
        WriteFileBytes(at("in/two\nlines.png"), png);
        std::ofstream(at("in/broken.jpg")) << "not a JPEG";
    }
    fs::path at(const std::string& name) const { return dir.path() / name; }
    void WriteStdin(const std::string& text) {
        std::ofstream(at("stdin"), std::ios::binary) << text;
    }
    TempDir dir;
};

TEST_F(CliPipelineTest, ListFileAddsItsEntriesToTheArguments) {
    std::ofstream(at("list.txt")) << "in/sub/plain.png\n\nin/photo.jpg\n";
    const PipelineRun run = RunInFolder(dir.path(), "--files-from list.txt --json --jobs 1 -o out");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;  // two records, then the summary
    EXPECT_EQ(lines[0].rfind("{\"file\":\"in/photo.jpg\"", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("{\"file\":\"in/sub/plain.png\"", 0), 0u) << lines[1];
    EXPECT_NE(lines[2].find("\"summary\":{\"files\":2,\"failed\":0"), std::string::npos);
    EXPECT_TRUE(fs::exists(at("out/photo.jpg")));
}

TEST_F(CliPipelineTest, NulSeparatedListOnStandardInputKeepsOddNames) {
    using namespace std::string_literals;
    WriteStdin("in/two\nlines.png\0in/photo.jpg\0"s);
    const PipelineRun run = RunInFolder(dir.path(), "-0 --files-from - --json -o out -f png");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_NE(run.out.find("{\"file\":\"in/two\\nlines.png\""), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(at("out/two\nlines.png")));
}

TEST_F(CliPipelineTest, EmptyListIsNoMistake) {
    WriteStdin("");
    const PipelineRun run = RunInFolder(dir.path(), "--files-from - --json -o out");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"summary\":{\"files\":0,\"failed\":0,\"skipped\":0,\"bytes_before\":0,"
              "\"bytes_after\":0,\"saved_percent\":0.00}}\n");
}

TEST_F(CliPipelineTest, QuietPrintsOnlyFailures) {
    const PipelineRun good = RunInFolder(dir.path(), "--quiet -o good in/photo.jpg");
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.out, "");
    EXPECT_EQ(good.err, "");
    EXPECT_TRUE(fs::exists(at("good/photo.jpg")));

    const PipelineRun bad = RunInFolder(dir.path(), "--quiet -o bad in/photo.jpg in/broken.jpg");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("in/broken.jpg: "), std::string::npos) << bad.err;
    EXPECT_EQ(bad.err.find("in/photo.jpg"), std::string::npos) << bad.err;
}

TEST_F(CliPipelineTest, ListOptionMistakes) {
    const struct {
        const char* arguments;
        const char* message;
    } cases[] = {
        {"-0 -o out in", "-0 needs --files-from"},
        {"--quiet --json -o out in", "--quiet and --json exclude each other"},
        {"--files-from missing.txt -o out", "cannot read the file list missing.txt"},
        {"--files-from= -o out in", "--files-from needs a file"},
    };
    for (const auto& c : cases) {
        const PipelineRun run = RunInFolder(dir.path(), c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
        EXPECT_FALSE(fs::exists(at("out"))) << c.arguments;
    }
}

}  // namespace
}  // namespace pimo::test
