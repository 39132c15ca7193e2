// Runs the built pimo-cli over images made in code and checks its exit
// codes, the files it writes and what it prints.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/cli/cli_run.h"
#include "tests/support/independent_decoders.h"
#include "tests/support/test_images.h"

namespace pimo::test {
namespace {

namespace fs = std::filesystem;

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
    {"MissingSettingsFile",
     {"--settings", "none.ini", "in", "-o", "out"},
     2,
     "",
     "settings file not found: none.ini",
     {},
     {"out"}},
    {"SettingsWithoutValue", {"in", "-o", "out", "--settings"}, 2, "", "--settings needs", {}, {}},
    {"OptimizerOutOfRange",
     {"--optimizer", "3", "in/flat.png", "-o", "out"},
     2,
     "",
     "--optimizer needs a preset from 0 to 2",
     {},
     {"out"}},
    {"UnknownOptimizerName",
     {"--optimizer", "Mine", "in/flat.png", "-o", "out"},
     2,
     "",
     "no optimizer preset named \"Mine\"",
     {},
     {"out"}},
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
     "Failed to load the source image",
     {},
     {}},
    {"FormatJpegFromTransparentPng",
     {"--format", "jpeg", "--quality", "40", "in/alpha.png", "-o", "out"},
     0,
     "in/alpha.png: ",
     "",
     {"out/alpha.jpg"},
     {"out/alpha.png"}},
    // A larger result in another format is replaced by the source's bytes,
    // which keep their own extension.
    {"FormatPngManualNotSmaller",
     {"--mode", "manual", "--format", "png", "--png-level", "0", "in/photo.jpg", "-o", "out"},
     0,
     "in/photo.jpg: no change",
     "",
     {"out/photo.jpg"},
     {"out/photo.png"}},
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

// A plain re-encode gives its source's memory back while encoding; a scored
// one keeps the source to compare with. Both write the same file.
TEST_F(CliTest, AReEncodeThatReleasesItsSourceWritesWhatAScoredOneWrites) {
    const Bitmap photo = MakePhotoLike(1100, 700, 5);
    WriteFileBytes(at("in/large.jpg"), EncodeWithLibrary(FIF_JPEG, photo.get(), 95));
    const std::vector<std::string> common{"--mode", "manual",        "-f",  "jpeg",        "-q",
                                          "75",     "--subsampling", "420", "in/large.jpg"};
    std::vector<std::string> plain = common, scored = common;
    plain.insert(plain.end(), {"-o", "plain"});
    scored.insert(scored.end(), {"--score", "-o", "scored"});
    ASSERT_EQ(RunCli(dir.path(), plain).exitCode, 0);
    ASSERT_EQ(RunCli(dir.path(), scored).exitCode, 0);
    const Bytes written = ReadFileBytes(at("plain/large.jpg"));
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written, ReadFileBytes(at("scored/large.jpg")));
}

// The download library is opened by a download only; the dynamic loader's
// list of the files it opens shows what a plain run loads.
TEST_F(CliTest, ARunWithoutDownloadsDoesNotLoadTheDownloadLibrary) {
    const CliOutput output =
        RunCli(dir.path(), {"-f", "jpeg", "in/photo.jpg", "-o", "out"}, "LD_DEBUG=files");
    ASSERT_EQ(output.exitCode, 0);
    EXPECT_NE(output.err.find("libfreeimage"), std::string::npos) << "the loader's list is there";
    EXPECT_EQ(output.err.find("libcurl"), std::string::npos);
    EXPECT_TRUE(fs::exists(at("out/photo.jpg")));
}

// The program ends without the libraries' teardown, but never without
// removing its temporary folder, where the external optimizer worked.
TEST_F(CliTest, AnOptimizedRunLeavesNoTemporaryFolder) {
    fs::create_directories(at("tmp"));
    const CliOutput output =
        RunCli(dir.path(),
               {"--mode", "manual", "-f", "png", "--optimizer", "1", "in/flat.png", "-o", "out"},
               "TMPDIR=" + Quoted(at("tmp").string()));
    ASSERT_EQ(output.exitCode, 0) << output.err;
    EXPECT_TRUE(fs::exists(at("out/flat.png")));
    EXPECT_TRUE(fs::is_empty(at("tmp")));
}

// The format-keeping mode re-encodes palette files without changing a pixel,
// even with 256 colours, where a quantizer would move some.
TEST_F(CliTest, KeepModeIsLosslessOnPaletteFiles) {
    // All 256 entries in use, neighbours a step apart: Wu's 32-level
    // histogram would merge them.
    Bitmap palettized(FreeImage_Allocate(64, 48, 8));
    RGBQUAD* palette = FreeImage_GetPalette(palettized.get());
    for (unsigned i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{BYTE(i), BYTE(i / 2 + 60), BYTE(255 - i), 0};
    for (unsigned y = 0; y < 48; ++y) {
        BYTE* row = FreeImage_GetScanLine(palettized.get(), y);
        for (unsigned x = 0; x < 64; ++x) row[x] = static_cast<BYTE>((x * 7 + y * 13) % 256);
    }
    const Bytes png = EncodeWithLibrary(FIF_PNG, palettized.get(), 0);
    const Bytes gif = EncodeWithLibrary(FIF_GIF, palettized.get(), 0);
    fs::create_directories(at("palette"));
    WriteFileBytes(at("palette/colours.png"), png);
    WriteFileBytes(at("palette/colours.gif"), gif);
    const CliOutput output = RunCli(dir.path(), {"--mode", "keep", "palette", "-o", "out"});
    ASSERT_EQ(output.exitCode, 0) << output.err;

    const DecodedPng pngIn = DecodePng(png),
                     pngOut = DecodePng(ReadFileBytes(at("out/colours.png")));
    ASSERT_TRUE(pngIn.valid && pngOut.valid);
    EXPECT_EQ(pngOut.colorType, 3);
    EXPECT_TRUE(pngOut.pixels == pngIn.pixels);

    const auto pixels = [](const DecodedGif& decoded) {
        std::vector<Rgba> out;
        for (const std::uint8_t index : decoded.indices) out.push_back(decoded.colorMap.at(index));
        return out;
    };
    const DecodedGif gifIn = DecodeGif(gif),
                     gifOut = DecodeGif(ReadFileBytes(at("out/colours.gif")));
    ASSERT_TRUE(gifIn.valid && gifOut.valid);
    EXPECT_TRUE(pixels(gifOut) == pixels(gifIn));
}

TEST_F(CliTest, QuantizerChoosesTheMethod) {
    for (const char* method : {"wu", "nn", "liq"}) {
        const std::string folder = std::string("out-") + method;
        const CliOutput output =
            RunCli(dir.path(), {"--quantizer", method, "--format", "png", "--png-palette", "16",
                                "in/photo.jpg", "-o", folder});
        ASSERT_EQ(output.exitCode, 0) << method << output.err;
        const DecodedPng png = DecodePng(ReadFileBytes(at(folder + "/photo.png")));
        ASSERT_TRUE(png.valid) << method;
        EXPECT_EQ(png.colorType, 3) << method;
        EXPECT_LE(std::set<std::uint8_t>(png.indices.begin(), png.indices.end()).size(), 16u)
            << method;
    }
    EXPECT_EQ(RunCli(dir.path(), {"--quantizer", "pngquant", "in", "-o", "x"}).exitCode, 2);
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
    for (const auto& entry : fs::recursive_directory_iterator(at("one"))) {
        if (!entry.is_regular_file()) continue;
        const fs::path other = at("two") / entry.path().lexically_relative(at("one"));
        ASSERT_TRUE(fs::exists(other)) << other;
        EXPECT_EQ(ReadFileBytes(entry.path()), ReadFileBytes(other)) << entry.path().filename();
        ++compared;
    }
    std::size_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(at("two")))
        written += entry.is_regular_file();
    EXPECT_EQ(compared, written);
    EXPECT_GE(compared, 8u);
}

TEST_F(CliTest, SettingsFileGivesTheDefaultsAndOptionsOverrideThem) {
    std::ofstream(at("low.ini")) << "[PIMO]\nMode=3\nFormat=0\nJPEGQuality=20\n";
    std::ofstream(at("high.ini")) << "[pimo]\nmode=3\nFormat=0\nJPEGQuality=90\n";
    std::ofstream(at("gif.ini")) << "[PIMO]\nMode=2\nFormat=2\n";
    Bitmap photo = MakePhotoLike(96, 64, 7);
    WriteFileBytes(at("in/big.png"), EncodeWithLibrary(FIF_PNG, photo.get(), PNG_Z_NO_COMPRESSION));
    ASSERT_EQ(RunCli(dir.path(), {"--settings", "low.ini", "in/photo.jpg", "-o", "low"}).exitCode,
              0);
    ASSERT_EQ(RunCli(dir.path(), {"--settings=high.ini", "in/photo.jpg", "-o", "high"}).exitCode,
              0);
    ASSERT_EQ(
        RunCli(dir.path(), {"--settings", "low.ini", "-q", "90", "in/photo.jpg", "-o", "over"})
            .exitCode,
        0);
    ASSERT_EQ(RunCli(dir.path(), {"--settings", "gif.ini", "in/big.png", "-o", "gif"}).exitCode, 0);
    ASSERT_EQ(RunCli(dir.path(), {"in/photo.jpg", "-o", "plain"}).exitCode, 0);

    const Bytes low = ReadFileBytes(at("low/photo.jpg"));
    const Bytes high = ReadFileBytes(at("high/photo.jpg"));
    EXPECT_LT(low.size(), high.size());
    EXPECT_NE(low, ReadFileBytes(at("plain/photo.jpg")));
    // The command line's quality wins over the stored one.
    EXPECT_EQ(ReadFileBytes(at("over/photo.jpg")), high);
    // The stored mode (user's format) and format apply without --mode.
    EXPECT_TRUE(fs::is_regular_file(at("gif/big.gif")));
    EXPECT_FALSE(fs::exists(at("gif/big.png")));
}

TEST_F(CliTest, StoredValuesOutOfRangeAreClampedWithOneWarningEach) {
    std::ofstream(at("bad.ini")) << "[PIMO]\nMode=3\nFormat=0\nJPEGQuality=500\n"
                                    "TransparencyThreshold=abc\n";
    std::ofstream(at("best.ini")) << "[PIMO]\nMode=3\nFormat=0\nJPEGQuality=100\n";
    const CliOutput bad =
        RunCli(dir.path(), {"--settings", "bad.ini", "in/photo.jpg", "-o", "bad"});
    ASSERT_EQ(bad.exitCode, 0) << bad.err;
    EXPECT_EQ(bad.err,
              "pimo-cli: Settings: JPEGQuality=500 is outside 1..100; 100 is used instead\n"
              "pimo-cli: Settings: TransparencyThreshold=abc is not a whole number; 127 is used "
              "instead\n");
    ASSERT_EQ(RunCli(dir.path(), {"--settings", "best.ini", "in/photo.jpg", "-o", "best"}).exitCode,
              0);
    EXPECT_EQ(ReadFileBytes(at("bad/photo.jpg")), ReadFileBytes(at("best/photo.jpg")));
}

TEST_F(CliTest, UserSettingsFileIsReadWithoutTheOption) {
    fs::create_directories(at("xdg/Pimo"));
    std::ofstream(at("xdg/Pimo/Pimo.ini")) << "[PIMO]\nMode=3\nFormat=0\nJPEGQuality=20\n";
    std::ofstream(at("low.ini")) << "[PIMO]\nMode=3\nFormat=0\nJPEGQuality=20\n";
    std::ofstream(at("plain.ini")) << "[PIMO]\n";
    ASSERT_EQ(RunCli(dir.path(), {"in/photo.jpg", "-o", "user"}).exitCode, 0);
    ASSERT_EQ(RunCli(dir.path(), {"--settings", "low.ini", "in/photo.jpg", "-o", "low"}).exitCode,
              0);
    // A file given replaces the user's own.
    ASSERT_EQ(
        RunCli(dir.path(), {"--settings", "plain.ini", "in/photo.jpg", "-o", "plain"}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(at("user/photo.jpg")), ReadFileBytes(at("low/photo.jpg")));
    EXPECT_GT(fs::file_size(at("plain/photo.jpg")), fs::file_size(at("user/photo.jpg")));
}

// A settings file with values it cannot use as they are: the run goes on
// with them clamped and says which.
TEST_F(CliTest, BadSettingsValuesAreClampedWithAWarning) {
    std::ofstream(at("bad.ini")) << "[PIMO]\nMode=3\nFormat=0\nJPEGQuality=500\n"
                                    "TransparencyThreshold=lots\n";
    const CliOutput output =
        RunCli(dir.path(), {"--settings", "bad.ini", "in/photo.jpg", "-o", "out"});
    EXPECT_EQ(output.exitCode, 0) << output.err;
    EXPECT_NE(output.err.find("Settings: JPEGQuality=500 is outside 1..100; 100 is used instead"),
              std::string::npos)
        << output.err;
    EXPECT_NE(output.err.find("Settings: TransparencyThreshold=lots is not a whole number"),
              std::string::npos)
        << output.err;
    EXPECT_TRUE(fs::is_regular_file(at("out/photo.jpg")));
}

TEST_F(CliTest, ExternalOptimizerMakesThePngSmaller) {
    fs::create_directories(at("png"));
    for (int i = 0; i < 3; ++i) {
        Bitmap photo = MakePhotoLike(120, 90, 40 + i);
        WriteFileBytes(at("png/p" + std::to_string(i) + ".png"),
                       EncodeWithLibrary(FIF_PNG, photo.get(), PNG_Z_NO_COMPRESSION));
    }
    // The weakest built-in effort, so that the optimizer has work to do.
    const std::vector<std::string> manualPng{"--mode", "manual", "-f", "png", "--png-level", "0"};
    const auto run = [&](std::vector<std::string> arguments, const std::string& out) {
        arguments.insert(arguments.begin(), manualPng.begin(), manualPng.end());
        arguments.insert(arguments.end(), {"png", "-o", out});
        const CliOutput output = RunCli(dir.path(), arguments);
        EXPECT_EQ(output.exitCode, 0) << output.out << output.err;
    };
    run({"--jobs", "1"}, "plain");
    run({"--jobs", "1", "--optimizer", "1"}, "one");
    run({"--jobs", "2", "--optimizer", "1"}, "two");
    // A custom preset from the external-tools file beside the settings file.
    std::ofstream(at("Pimo.ini")) << "[PIMO]\n";
    std::ofstream(at("Pimo-external-tools.ini"))
        << "[Mine]\nFileName=/usr/bin/optipng\nParams=-o2 {IMAGE_FILE}\n";
    run({"--settings", "Pimo.ini", "--optimizer", "Mine"}, "custom");
    for (int i = 0; i < 3; ++i) {
        const std::string name = "p" + std::to_string(i) + ".png";
        const Bytes one = ReadFileBytes(at("one/" + name));
        EXPECT_LT(one.size(), fs::file_size(at("plain/" + name))) << name;
        EXPECT_LT(fs::file_size(at("custom/" + name)), fs::file_size(at("plain/" + name))) << name;
        // Each worker optimizes in its own folder: the same bytes as one worker.
        EXPECT_EQ(ReadFileBytes(at("two/" + name)), one) << name;
        Bitmap decoded = DecodeWithLibrary(FIF_PNG, one);
        ASSERT_TRUE(decoded) << name;
        EXPECT_EQ(FreeImage_GetWidth(decoded.get()), 120u);
    }
}

// Starts the program inside `folder` with its output thrown away; returns
// its process id.
pid_t StartCli(const fs::path& folder, const std::vector<std::string>& arguments) {
    std::vector<std::string> words{PIMO_CLI_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::string dataHome = (folder / "xdg").string();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0 || chdir(folder.c_str()) != 0 ||
            setenv("XDG_DATA_HOME", dataHome.c_str(), 1) != 0 ||
            setenv("XDG_CONFIG_HOME", dataHome.c_str(), 1) != 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// Killing an in-place run at any moment leaves every source either as it
// was or replaced by its complete result.
TEST(CliFaultTest, KilledInPlaceRunLeavesEverySourceWhole) {
    TempDir dir;
    const fs::path originals = dir.path() / "originals";
    fs::create_directories(originals);
    for (int i = 0; i < 8; ++i) {
        Bitmap photo = MakePhotoLike(360 + 16 * i, 260 + 8 * i, 100 + i);
        const std::string stem = "img" + std::to_string(i);
        if (i % 2 == 0) {
            WriteFileBytes(originals / (stem + ".jpg"),
                           EncodeWithLibrary(FIF_JPEG, photo.get(), 98));
        } else {
            WriteFileBytes(originals / (stem + ".png"),
                           EncodeWithLibrary(FIF_PNG, photo.get(), PNG_Z_NO_COMPRESSION));
        }
    }
    std::map<std::string, Bytes> before;
    for (const auto& entry : fs::directory_iterator(originals))
        before[entry.path().filename().string()] = ReadFileBytes(entry.path());

    // In place: results beside their sources, replacing them.
    const std::vector<std::string> inPlace{
        "--original-folder", "--overwrite", "--no-backup", "--mode", "keep", "--jobs", "2", "work"};
    const auto restore = [&] {
        fs::remove_all(dir.path() / "work");
        fs::copy(originals, dir.path() / "work");
    };

    // The complete results, from a run nobody stops.
    restore();
    const auto started = std::chrono::steady_clock::now();
    const CliOutput whole = RunCli(dir.path(), inPlace);
    const auto wholeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - started)
                             .count();
    ASSERT_EQ(whole.exitCode, 0) << whole.out << whole.err;
    std::map<std::string, Bytes> after;
    std::size_t replaced = 0;
    for (const auto& [name, bytes] : before) {
        after[name] = ReadFileBytes(dir.path() / "work" / name);
        if (after[name] != bytes) ++replaced;
    }
    ASSERT_GE(replaced, 4u) << "too few files were optimized to show anything";

    std::mt19937 random(20261210);
    // Kills spread over the run's own length, however fast this build and
    // machine are (a sanitizer build on a loaded machine is many times slower).
    const int longest = std::max(20, static_cast<int>(wholeMs * 9 / 10));
    std::uniform_int_distribution<int> delay(std::min(5, longest / 4), longest);
    std::size_t interruptedMidway = 0;
    for (int run = 0; run < 15; ++run) {
        restore();
        const pid_t child = StartCli(dir.path(), inPlace);
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        std::size_t changed = 0;
        for (const auto& [name, original] : before) {
            const fs::path path = dir.path() / "work" / name;
            ASSERT_TRUE(fs::is_regular_file(path)) << "run " << run << ": " << name << " is gone";
            const Bytes bytes = ReadFileBytes(path);
            EXPECT_TRUE(bytes == original || bytes == after.at(name))
                << "run " << run << ": " << name << " is neither the original nor the result";
            const FREE_IMAGE_FORMAT format =
                fs::path(name).extension() == ".jpg" ? FIF_JPEG : FIF_PNG;
            EXPECT_TRUE(DecodeWithLibrary(format, bytes)) << "run " << run << ": " << name;
            if (bytes != original) ++changed;
        }
        if (changed > 0 && changed < replaced) ++interruptedMidway;
    }
    // The delays must have caught runs in the middle, or nothing was shown.
    EXPECT_GE(interruptedMidway, 3u);
}

}  // namespace
}  // namespace pimo::test
