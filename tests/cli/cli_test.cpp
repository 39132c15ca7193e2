// Runs the built pimo-cli over images made in code and checks its exit
// codes, the files it writes and what it prints.

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

struct CliOutput {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the program inside `folder` with `arguments`.
CliOutput RunCli(const fs::path& folder, const std::vector<std::string>& arguments) {
    std::string command = "cd " + Quoted(folder.string()) + " && " + Quoted(PIMO_CLI_PATH);
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    command += " > cli.out 2> cli.err";
    const int status = std::system(command.c_str());
    CliOutput output;
    output.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    output.out = ReadText(folder / "cli.out");
    output.err = ReadText(folder / "cli.err");
    return output;
}

RGBQUAD Color(unsigned red, unsigned green, unsigned blue, unsigned alpha = 255) {
    return RGBQUAD{static_cast<BYTE>(blue), static_cast<BYTE>(green), static_cast<BYTE>(red),
                   static_cast<BYTE>(alpha)};
}

// A folder "in" with a photograph, a flat four-colour PNG, a transparent
// PNG, a GIF, a text file and a file that is no image at all.
void MakeInputs(const fs::path& root) {
    const fs::path in = root / "in";
    fs::create_directories(in / "sub");
    Bitmap photo = MakePhotoLike(96, 64, 7);
    WriteFileBytes(in / "photo.jpg", EncodeWithLibrary(FIF_JPEG, photo.get(), 95));
    Bitmap flat = MakeRgb(40, 30, [](unsigned x, unsigned y) {
        return (x / 10 + y / 15) % 2 ? Color(200, 30, 30)
                                     : ((x + y) % 3 ? Color(0, 0, 0) : Color(10, 200, 10));
    });
    WriteFileBytes(in / "flat.png", EncodeWithLibrary(FIF_PNG, flat.get(), PNG_Z_NO_COMPRESSION));
    Bitmap alpha = MakeRgba(
        32, 32, [](unsigned x, unsigned y) { return Color(x * 8, y * 8, 100, x < 16 ? 0 : 255); });
    WriteFileBytes(in / "alpha.png", EncodeWithLibrary(FIF_PNG, alpha.get(), PNG_Z_NO_COMPRESSION));
    Bitmap gif = MakePhotoLike(48, 48, 3);
    Bitmap quantized(FreeImage_ColorQuantize(gif.get(), FIQ_WUQUANT));
    WriteFileBytes(in / "sub" / "pic.gif", EncodeWithLibrary(FIF_GIF, quantized.get(), 0));
    std::ofstream(in / "notes.txt") << "not an image";
    std::ofstream(in / "broken.jpg") << "this is not a JPEG file at all";
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { MakeInputs(dir.path()); }
    fs::path at(const std::string& name) const { return dir.path() / name; }
    TempDir dir;
};

struct CliCase {
    std::string name;
    std::vector<std::string> arguments;
    int exitCode;
    std::string expectedOut;           // text stdout contains
    std::string expectedErr;           // text stderr contains
    std::vector<std::string> written;  // files that must exist afterwards
    std::vector<std::string> absent;   // files that must not
};

class CliCaseTest : public CliTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CliCaseTest, ExitCodeOutputAndFiles) {
    const CliCase& c = GetParam();
    const CliOutput output = RunCli(dir.path(), c.arguments);
    EXPECT_EQ(output.exitCode, c.exitCode) << output.out << output.err;
    EXPECT_NE(output.out.find(c.expectedOut), std::string::npos) << output.out;
    EXPECT_NE(output.err.find(c.expectedErr), std::string::npos) << output.err;
    for (const std::string& file : c.written) {
        EXPECT_TRUE(fs::is_regular_file(at(file))) << file;
        if (fs::is_regular_file(at(file))) {
            EXPECT_GT(fs::file_size(at(file)), 0u) << file;
        }
    }
    for (const std::string& file : c.absent) EXPECT_FALSE(fs::exists(at(file))) << file;
}

const CliCase kCases[] = {
    {"Help", {"--help"}, 0, "Usage: pimo-cli", "", {}, {}},
    {"NoInput", {"-o", "out"}, 2, "", "no input files", {}, {"out"}},
    {"UnknownOption", {"--bogus", "in", "-o", "out"}, 2, "", "unknown option --bogus", {}, {"out"}},
    {"UsageShownOnError", {"--bogus"}, 2, "", "Usage: pimo-cli", {}, {}},
    {"QualityOutOfRange", {"-q", "0", "in", "-o", "out"}, 2, "", "--quality needs", {}, {"out"}},
    {"QualityNotANumber", {"--quality=high", "in", "-o", "out"}, 2, "", "--quality needs", {}, {}},
    {"MissingValue", {"in", "-o"}, 2, "", "--output needs a value", {}, {}},
    {"FlagWithValue", {"--overwrite=yes", "in", "-o", "out"}, 2, "", "takes no value", {}, {}},
    {"NoOutput", {"in"}, 2, "", "no output", {}, {}},
    {"OutputAndOriginalFolder", {"in", "-o", "out", "--original-folder"}, 2, "", "exclude", {}, {}},
    {"MissingInput",
     {"nothing.png", "-o", "out"},
     2,
     "",
     "no such file or folder: nothing.png",
     {},
     {}},
    {"BadMode", {"--mode", "fast", "in", "-o", "out"}, 2, "", "--mode must be one of", {}, {}},
    {"BadFormat", {"--format", "bmp", "in", "-o", "out"}, 2, "", "--format must be one of", {}, {}},
    {"FormatWithAutoMode",
     {"--format", "png", "--mode", "auto", "in", "-o", "out"},
     2,
     "",
     "--format has no effect",
     {},
     {}},
    {"PngLevelOutOfRange",
     {"--png-level", "5", "in", "-o", "out"},
     2,
     "",
     "--png-level needs",
     {},
     {}},
    {"BadResize", {"--resize", "50%x", "in", "-o", "out"}, 2, "", "--resize needs", {}, {}},
    {"BadRotation",
     {"--rotate", "45", "in", "-o", "out"},
     2,
     "",
     "--rotate must be one of",
     {},
     {}},
    {"ClockwiseWithoutRotation", {"--cw", "in", "-o", "out"}, 2, "", "--cw needs --rotate", {}, {}},
    {"BadBackground",
     {"--background", "12345G", "in", "-o", "out"},
     2,
     "",
     "--background needs",
     {},
     {}},
    {"BadMetadata",
     {"--keep-metadata", "exif,gps", "in", "-o", "out"},
     2,
     "",
     "--keep-metadata must be one of",
     {},
     {}},
    {"ZeroTargetSize",
     {"--target-size", "0", "in/photo.jpg", "-o", "out"},
     2,
     "",
     "--target-size needs",
     {},
     {"out"}},
    {"BadJobs", {"--jobs", "0", "in", "-o", "out"}, 2, "", "--jobs needs", {}, {}},
    {"FolderDefaults",
     {"in", "-o", "out"},
     1,  // broken.jpg fails
     "in/photo.jpg: -",
     "Source image: in/broken.jpg",
     {"out/photo.jpg", "out/flat.png"},
     {"out/notes.txt", "out/pic.gif"}},
    {"Recursive", {"-r", "in/sub", "-o", "out"}, 0, "in/sub/pic.gif: ", "", {}, {}},
    {"SummaryCounts",
     {"in/photo.jpg", "in/flat.png", "in/notes.txt", "-o", "out"},
     0,
     "2 file(s) processed, 0 failed, 1 skipped;",
     "",
     {"out/photo.jpg", "out/flat.png"},
     {}},
    {"UnreadableNamedFileSkipped",
     {"in/notes.txt", "-o", "out"},
     0,
     "in/notes.txt: skipped",
     "",
     {},
     {"out/notes.txt"}},
    {"BrokenFileFails",
     {"in/broken.jpg", "-o", "out"},
     1,
     "in/broken.jpg: error",
     "Failed to save",
     {},
     {}},
    {"FormatJpegFromTransparentPng",
     {"--format", "jpeg", "--quality", "40", "in/alpha.png", "-o", "out"},
     0,
     "in/alpha.png: ",
     "",
     {"out/alpha.jpg"},
     {"out/alpha.png"}},
    {"FormatPngManual",
     {"--mode", "manual", "--format", "png", "--png-level", "0", "in/photo.jpg", "-o", "out"},
     0,
     "in/photo.jpg: ",
     "",
     {"out/photo.png"},
     {"out/photo.jpg"}},
    {"FormatGifWithPalette",
     {"-f", "gif", "--gif-palette", "16", "in/flat.png", "-o", "out"},
     0,
     "in/flat.png: -",
     "",
     {"out/flat.gif"},
     {}},
    {"KeepModeKeepsFormat",
     {"--mode", "keep", "in/flat.png", "-o", "out"},
     0,
     "in/flat.png: -",
     "",
     {"out/flat.png"},
     {}},
    {"ExistingOutputNotOverwritten",
     {"in/photo.jpg", "-o", "in"},
     1,
     "in/photo.jpg: error",
     "Overwrite permission required",
     {"in/photo.jpg"},
     {"in/photo.jpg.original"}},
    {"InPlaceOverwrite",
     {"--original-folder", "--overwrite", "--mode", "keep", "in/flat.png"},
     0,
     "in/flat.png: -",
     "",
     {"in/flat.png", "in/flat.png.original"},
     {"in/flat.png.pimo"}},
    {"Json",
     {"--json", "in/photo.jpg", "in/notes.txt", "-o", "out"},
     0,
     "{\"summary\":{\"files\":1,\"failed\":0,\"skipped\":1,",
     "",
     {"out/photo.jpg"},
     {}},
    {"JsonRecord",
     {"--json", "in/notes.txt", "-o", "out"},
     0,
     "{\"file\":\"in/notes.txt\",\"status\":\"skipped\"",
     "",
     {},
     {}},
    {"Tasks",
     {"--rotate", "270", "--cw", "--flip", "h", "--resize", "50%", "--brightness", "10", "--gamma",
      "1.2", "--keep-metadata", "exif,icc", "in/photo.jpg", "-o", "out"},
     0,
     "in/photo.jpg: ",
     "",
     {"out/photo.jpg"},
     {}},
    {"TargetSize",
     {"--target-size", "2,5", "in/photo.jpg", "-o", "out"},
     0,
     "in/photo.jpg: -",
     "",
     {"out/photo.jpg"},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Arguments, CliCaseTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// Width and height of an image file, decoded by the library itself.
std::pair<unsigned, unsigned> SizeOf(const fs::path& path) {
    const Bytes bytes = ReadFileBytes(path);
    FIMEMORY* memory =
        FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory, 0);
    FreeImage_CloseMemory(memory);
    Bitmap bitmap = DecodeWithLibrary(format, bytes);
    if (!bitmap) return {0, 0};
    return {FreeImage_GetWidth(bitmap.get()), FreeImage_GetHeight(bitmap.get())};
}

TEST_F(CliTest, GeometryTasksChangeTheOutputSize) {
    struct Case {
        std::vector<std::string> arguments;
        unsigned width, height;
    };
    const Case cases[] = {
        {{"--rotate", "90"}, 64, 96},  {{"--rotate", "180"}, 96, 64},
        {{"--resize", "50%"}, 48, 32}, {{"--resize", "48x"}, 48, 32},
        {{"--resize", "x16"}, 24, 16}, {{"--resize", "30x30", "--no-keep-aspect"}, 30, 30},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(),
                         {"in/photo.jpg", "-o", "out", "--overwrite", "--no-backup"});
        const CliOutput output = RunCli(dir.path(), arguments);
        ASSERT_EQ(output.exitCode, 0) << output.err;
        const auto [width, height] = SizeOf(at("out/photo.jpg"));
        EXPECT_EQ(width, c.width) << c.arguments[0] << " " << c.arguments[1];
        EXPECT_EQ(height, c.height) << c.arguments[0] << " " << c.arguments[1];
    }
}

TEST_F(CliTest, QualityDecidesTheJpegSize) {
    ASSERT_EQ(RunCli(dir.path(), {"-q", "20", "in/photo.jpg", "-o", "low"}).exitCode, 0);
    ASSERT_EQ(RunCli(dir.path(), {"-q", "90", "in/photo.jpg", "-o", "high"}).exitCode, 0);
    EXPECT_LT(fs::file_size(at("low/photo.jpg")), fs::file_size(at("high/photo.jpg")));
}

TEST_F(CliTest, InfoPrintsTheAnalysisReport) {
    const CliOutput output = RunCli(dir.path(), {"--info", "in/flat.png", "in/alpha.png"});
    EXPECT_EQ(output.exitCode, 0) << output.err;
    EXPECT_NE(output.out.find("in/flat.png:\n  Unique colors: 3\n"), std::string::npos)
        << output.out;
    EXPECT_NE(output.out.find("in/alpha.png:\n"), std::string::npos) << output.out;
    EXPECT_FALSE(fs::exists(at("out")));

    const CliOutput broken = RunCli(dir.path(), {"--info", "in/broken.jpg"});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_NE(broken.out.find("in/broken.jpg:\n  error"), std::string::npos) << broken.out;
}

TEST_F(CliTest, ParallelRunWritesTheSameBytesAsOneWorker) {
    // More files than workers, of every kind, some with the same name stem.
    for (int i = 0; i < 4; ++i) {
        Bitmap photo = MakePhotoLike(60 + 10 * i, 40 + 5 * i, 20 + i);
        WriteFileBytes(at("in/p" + std::to_string(i) + ".jpg"),
                       EncodeWithLibrary(FIF_JPEG, photo.get(), 90));
        WriteFileBytes(at("in/p" + std::to_string(i) + ".png"),
                       EncodeWithLibrary(FIF_PNG, photo.get(), PNG_Z_NO_COMPRESSION));
    }
    const CliOutput one =
        RunCli(dir.path(), {"-r", "--jobs", "1", "in", "-o", "one", "-f", "jpeg"});
    const CliOutput two =
        RunCli(dir.path(), {"-r", "--jobs", "2", "in", "-o", "two", "-f", "jpeg"});
    EXPECT_EQ(one.exitCode, 1);  // broken.jpg
    EXPECT_EQ(two.exitCode, 1);
    EXPECT_EQ(one.out, two.out);
    std::size_t compared = 0;
    for (const auto& entry : fs::directory_iterator(at("one"))) {
        const fs::path other = at("two") / entry.path().filename();
        ASSERT_TRUE(fs::exists(other)) << other;
        EXPECT_EQ(ReadFileBytes(entry.path()), ReadFileBytes(other)) << entry.path().filename();
        ++compared;
    }
    EXPECT_EQ(compared,
              static_cast<std::size_t>(std::distance(fs::directory_iterator(at("two")), {})));
    EXPECT_GE(compared, 8u);
}

}  // namespace
}  // namespace pimo::test
