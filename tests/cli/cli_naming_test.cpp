// pimo-cli over the cases where batch naming used to lose a user's file:
// each run must end (no hang), with the clear status, and leave every file
// as its original bytes or a complete output of its own source, with a true
// backup where one was asked for.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "tests/cli/cli_run.h"
#include "tests/support/test_images.h"

namespace pimo::test {
namespace {

namespace fs = std::filesystem;

Bytes Photo(unsigned width, unsigned height, std::uint32_t seed = 1) {
    Bitmap photo = MakePhotoLike(width, height, seed);
    return EncodeWithLibrary(FIF_JPEG, photo.get(), 95);
}

// One flat colour: as a PNG far smaller than as this JPEG.
Bytes FlatJpeg() {
    Bitmap flat = MakeRgb(64, 48, [](unsigned, unsigned) { return RGBQUAD{9, 99, 199, 0}; });
    return EncodeWithLibrary(FIF_JPEG, flat.get(), 95);
}

// A photograph stored without compression: any optimized PNG is smaller.
Bytes RawPng(unsigned width, unsigned height) {
    Bitmap photo = MakePhotoLike(width, height, 5);
    return EncodeWithLibrary(FIF_PNG, photo.get(), PNG_Z_NO_COMPRESSION);
}

Bytes Pages(FREE_IMAGE_FORMAT format, unsigned count) {
    std::vector<Bitmap> pages;
    std::vector<FIBITMAP*> raw;
    for (unsigned i = 0; i < count; ++i) {
        Bitmap photo = MakePhotoLike(40 + 8 * i, 30 + 8 * i, i + 1);
        if (format == FIF_GIF) photo.reset(FreeImage_ColorQuantize(photo.get(), FIQ_WUQUANT));
        raw.push_back(photo.get());
        pages.push_back(std::move(photo));
    }
    return EncodePagesWithLibrary(format, raw);
}

// Writes a file, making its folders first.
void Put(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    WriteFileBytes(path, bytes);
}

const std::string kLong251 = std::string(247, 'n') + ".jpg";
const std::string kLong255 = std::string(251, 'm') + ".jpg";
const std::string kNotUtf8 = "caf\xe9.png";

std::vector<std::string> FilesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path().lexically_relative(folder));
    std::sort(files.begin(), files.end());
    return files;
}

struct NamingCase {
    std::string name;
    std::function<void(const fs::path& root)> setup;
    // An argument starting with "@" has it replaced by the test folder's absolute path.
    std::vector<std::string> arguments;
    int exitCode;
    std::string expectedOut;  // text stdout contains
    std::string expectedErr;  // text stderr contains
    std::function<void(const fs::path& root, const CliOutput& output)> check;
};

void PrintTo(const NamingCase& c, std::ostream* os) {
    *os << c.name;
}

class NamingTest : public ::testing::TestWithParam<NamingCase> {
  protected:
    TempDir dir;
};

TEST_P(NamingTest, EveryUserFileStaysWholeAndTheStatusSaysWhy) {
    const NamingCase& c = GetParam();
    fs::create_directories(dir.path() / "in");
    c.setup(dir.path());
    std::vector<std::string> arguments = c.arguments;
    for (std::string& argument : arguments)
        if (argument.starts_with("@")) argument = dir.path().string() + argument.substr(1);
    const CliOutput output = RunCli(dir.path(), arguments);
    EXPECT_EQ(output.exitCode, c.exitCode) << output.out << output.err;
    EXPECT_NE(output.out.find(c.expectedOut), std::string::npos) << output.out;
    EXPECT_NE(output.err.find(c.expectedErr), std::string::npos) << output.err;
    c.check(dir.path(), output);
}

const NamingCase kNamingCases[] = {
    {"AnOverwrittenOutputIsWhatIsBackedUp",
     [](const fs::path& root) {
         Put(root / "in/a.jpg", Photo(96, 64));
         Put(root / "out/a.jpg", Photo(40, 30, 9));
     },
     {"in/a.jpg", "-o", "out", "--overwrite"},
     0,
     "in/a.jpg: -",
     "",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(ReadFileBytes(root / "out/a.jpg.original"), Photo(40, 30, 9));
         EXPECT_EQ(SizeOf(root / "out/a.jpg"), (std::pair{96u, 64u}));
         EXPECT_EQ(ReadFileBytes(root / "in/a.jpg"), Photo(96, 64));
         EXPECT_FALSE(fs::exists(root / "in/a.jpg.original"));
     }},
    {"AJpegNeverReplacesThePngOfItsName",
     [](const fs::path& root) {
         Put(root / "in/a.jpg", FlatJpeg());
         Put(root / "in/a.png", RawPng(96, 64));
     },
     {"--format", "png", "--original-folder", "--overwrite", "in"},
     1,
     "in/a.jpg: error",
     "The output would replace in/a.png, another file of this run.",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(ReadFileBytes(root / "in/a.jpg"), FlatJpeg());
         EXPECT_EQ(SizeOf(root / "in/a.png"), (std::pair{96u, 64u}));
         EXPECT_EQ(ReadFileBytes(root / "in/a.png.original"), RawPng(96, 64));
     }},
    {"OneNameInTwoFoldersMirrorsTheFolders",
     [](const fs::path& root) {
         Put(root / "in/100/IMG.jpg", Photo(96, 64));
         Put(root / "in/101/IMG.jpg", Photo(120, 80));
     },
     {"-r", "in", "-o", "out", "--delete-originals"},
     0,
     "in/101/IMG.jpg: -",
     "",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(SizeOf(root / "out/100/IMG.jpg"), (std::pair{96u, 64u}));
         EXPECT_EQ(SizeOf(root / "out/101/IMG.jpg"), (std::pair{120u, 80u}));
         EXPECT_EQ(FilesUnder(root / "in"), std::vector<std::string>{});
     }},
    {"OneNameFromTwoNamedFilesWritesOnceAndKeepsTheOther",
     [](const fs::path& root) {
         Put(root / "in/100/IMG.jpg", Photo(96, 64));
         Put(root / "in/101/IMG.jpg", Photo(120, 80));
     },
     {"in/101/IMG.jpg", "in/100/IMG.jpg", "-o", "out", "--overwrite", "--delete-originals"},
     1,
     "in/101/IMG.jpg: error",
     "Another file of this run has the same output: out/IMG.jpg.",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(SizeOf(root / "out/IMG.jpg"), (std::pair{96u, 64u}));
         EXPECT_FALSE(fs::exists(root / "in/100/IMG.jpg"));
         EXPECT_EQ(ReadFileBytes(root / "in/101/IMG.jpg"), Photo(120, 80));
     }},
    {"TheUsersOwnPimoFileIsNeverTouched",
     [](const fs::path& root) {
         Put(root / "in/a.jpg", Photo(96, 64));
         Put(root / "in/a.jpg.pimo", {1, 2, 3});
     },
     {"--original-folder", "--overwrite", "--no-backup", "in/a.jpg"},
     0,
     "in/a.jpg: -",
     "",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(ReadFileBytes(root / "in/a.jpg.pimo"), (Bytes{1, 2, 3}));
         EXPECT_EQ(SizeOf(root / "in/a.jpg"), (std::pair{96u, 64u}));
         EXPECT_EQ(FilesUnder(root / "in"), (std::vector<std::string>{"a.jpg", "a.jpg.pimo"}));
     }},
    {"TheUsersOwnOriginalFileIsNeverReplaced",
     [](const fs::path& root) {
         Put(root / "in/a.jpg", Photo(96, 64));
         Put(root / "in/a.jpg.original", {4, 5, 6});
     },
     {"--original-folder", "--overwrite", "in/a.jpg"},
     1,
     "in/a.jpg: error",
     "The backup in/a.jpg.original exists already and is never replaced.",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(ReadFileBytes(root / "in/a.jpg.original"), (Bytes{4, 5, 6}));
         EXPECT_EQ(ReadFileBytes(root / "in/a.jpg"), Photo(96, 64));
     }},
    {"OneFileNamedByThreePathsIsProcessedOnce",
     [](const fs::path& root) { Put(root / "in/a.jpg", Photo(96, 64)); },
     {"--original-folder", "--overwrite", "--jobs", "2", "in/a.jpg", "in/./a.jpg", "@/in/a.jpg"},
     0,
     "1 file(s) processed, 0 failed",
     "",
     [](const fs::path& root, const CliOutput& output) {
         EXPECT_EQ(std::count(output.out.begin(), output.out.end(), '\n'), 2) << output.out;
         EXPECT_EQ(ReadFileBytes(root / "in/a.jpg.original"), Photo(96, 64));
         EXPECT_NE(ReadFileBytes(root / "in/a.jpg"), Photo(96, 64));
         EXPECT_EQ(SizeOf(root / "in/a.jpg"), (std::pair{96u, 64u}));
     }},
    {"FramesAndPagesAreSkippedNotReducedToOne",
     [](const fs::path& root) {
         Put(root / "in/anim.gif", Pages(FIF_GIF, 3));
         Put(root / "in/scan.tif", Pages(FIF_TIFF, 2));
     },
     {"in", "-o", "out", "--delete-originals"},
     0,
     "in/anim.gif: skipped (3 frames)\nin/scan.tif: skipped (2 frames)",
     "Skipped in/anim.gif: it holds 3 frames or pages",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(ReadFileBytes(root / "in/anim.gif"), Pages(FIF_GIF, 3));
         EXPECT_EQ(ReadFileBytes(root / "in/scan.tif"), Pages(FIF_TIFF, 2));
         EXPECT_EQ(FilesUnder(root / "out"), std::vector<std::string>{});
     }},
    {"TheFirstFrameWhenAskedForAndTheSourceKept",
     [](const fs::path& root) {
         Put(root / "in/anim.gif", Pages(FIF_GIF, 3));
         Put(root / "in/scan.tif", Pages(FIF_TIFF, 2));
     },
     {"in", "-o", "out", "--delete-originals", "--first-frame"},
     0,
     ",original file NOT deleted (3 frames)",
     "",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(ReadFileBytes(root / "in/anim.gif"), Pages(FIF_GIF, 3));
         EXPECT_EQ(ReadFileBytes(root / "in/scan.tif"), Pages(FIF_TIFF, 2));
         const std::vector<std::string> written = FilesUnder(root / "out");
         ASSERT_EQ(written.size(), 2u);
         EXPECT_TRUE(written[0].starts_with("anim.")) << written[0];
         EXPECT_EQ(SizeOf(root / "out" / written[0]), (std::pair{40u, 30u}));
         EXPECT_TRUE(written[1].starts_with("scan.")) << written[1];
     }},
    {"NamesOf251And255BytesToAnotherFolder",
     [](const fs::path& root) {
         Put(root / "in" / kLong251, Photo(96, 64));
         Put(root / "in" / kLong255, Photo(96, 64));
     },
     {"in", "-o", "out"},
     0,
     "2 file(s) processed, 0 failed",
     "",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(SizeOf(root / "out" / kLong251), (std::pair{96u, 64u}));
         EXPECT_EQ(SizeOf(root / "out" / kLong255), (std::pair{96u, 64u}));
     }},
    {"NamesOf251And255BytesInPlace",
     [](const fs::path& root) {
         Put(root / "in" / kLong251, Photo(96, 64));
         Put(root / "in" / kLong255, Photo(96, 64));
     },
     {"in", "--original-folder", "--overwrite", "--no-backup"},
     0,
     "2 file(s) processed, 0 failed",
     "",
     [](const fs::path& root, const CliOutput&) {
         for (const std::string& name : {kLong251, kLong255}) {
             EXPECT_NE(ReadFileBytes(root / "in" / name), Photo(96, 64));
             EXPECT_EQ(SizeOf(root / "in" / name), (std::pair{96u, 64u}));
         }
         EXPECT_EQ(FilesUnder(root / "in"), (std::vector<std::string>{kLong255, kLong251}));
     }},
    {"APipeNamedLikeAnImageIsRefusedAtOnce",
     [](const fs::path& root) {
         ASSERT_EQ(mkfifo((root / "in/x.jpg").c_str(), 0600), 0);
         Put(root / "in/y.jpg", Photo(96, 64));
     },
     {"in", "-o", "out"},
     1,
     "in/x.jpg: error",
     "Error: Not a regular file (a pipe, a device or a folder): it is not opened.",
     [](const fs::path& root, const CliOutput&) {
         EXPECT_EQ(SizeOf(root / "out/y.jpg"), (std::pair{96u, 64u}));
     }},
    {"APipeIsNotOpenedForItsReportEither",
     [](const fs::path& root) { ASSERT_EQ(mkfifo((root / "in/x.jpg").c_str(), 0600), 0); },
     {"--info", "in/x.jpg"},
     1,
     "in/x.jpg:\n  error: the image could not be loaded",
     "",
     [](const fs::path&, const CliOutput&) {}},
    {"JsonOfANameThatIsNotUtf8",
     [](const fs::path& root) { Put(root / "in" / kNotUtf8, RawPng(32, 32)); },
     {"--json", "in", "-o", "out"},
     0,
     "{\"file\":\"in/caf\\ufffd.png\",\"file_hex\":\"" + cli::HexBytes("in/" + kNotUtf8) + "\"",
     "",
     [](const fs::path& root, const CliOutput& output) {
         EXPECT_TRUE(cli::IsUtf8(output.out));
         const std::vector<std::string> written = FilesUnder(root / "out");
         ASSERT_EQ(written.size(), 1u);
         EXPECT_TRUE(written[0].starts_with("caf\xe9.")) << written[0];
         EXPECT_NE(output.out.find("\"destination_hex\":\"" + cli::HexBytes("out/" + written[0])),
                   std::string::npos);
         EXPECT_EQ(SizeOf(root / "out" / written[0]), (std::pair{32u, 32u}));
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, NamingTest, ::testing::ValuesIn(kNamingCases),
                         [](const auto& info) { return info.param.name; });

// The first in-place run keeps the true originals as backups; a second run
// must not replace them with the first run's outputs.
TEST(CliNamingTest, ASecondInPlaceRunKeepsTheTrueOriginals) {
    TempDir dir;
    Put(dir.path() / "in/a.jpg", Photo(96, 64));
    const std::vector<std::string> inPlace{"--original-folder", "--overwrite", "in"};
    const CliOutput first = RunCli(dir.path(), inPlace);
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    const Bytes optimized = ReadFileBytes(dir.path() / "in/a.jpg");
    EXPECT_EQ(ReadFileBytes(dir.path() / "in/a.jpg.original"), Photo(96, 64));

    std::vector<std::string> again = inPlace;
    again.insert(again.end(), {"--mode", "manual", "-q", "30"});  // smaller again
    const CliOutput second = RunCli(dir.path(), again);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("exists already and is never replaced"), std::string::npos)
        << second.err;
    EXPECT_EQ(ReadFileBytes(dir.path() / "in/a.jpg.original"), Photo(96, 64));
    EXPECT_EQ(ReadFileBytes(dir.path() / "in/a.jpg"), optimized);
}

struct JsonCase {
    const char* name;
    std::string text;
    std::string json;
    bool utf8;
};

TEST(JsonTextTest, EscapesAndAlwaysGivesUtf8) {
    const JsonCase cases[] = {
        {"Plain", "in/a.jpg", "\"in/a.jpg\"", true},
        {"Escapes", "a\"b\\c\nd\te\x01", "\"a\\\"b\\\\c\\nd\\te\\u0001\"", true},
        {"Utf8Kept", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7\"", true},
        {"Latin1Byte", "caf\xe9.png", "\"caf\\ufffd.png\"", false},
        {"TruncatedSequence", "a\xe2\x82", "\"a\\ufffd\\ufffd\"", false},
        {"Overlong", "\xc0\xaf", "\"\\ufffd\\ufffd\"", false},
        {"Surrogate", "\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\"", false},
        {"AboveTheLastCodePoint", "\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"", false},
    };
    for (const JsonCase& c : cases) {
        EXPECT_EQ(cli::JsonText(c.text), c.json) << c.name;
        EXPECT_EQ(cli::IsUtf8(c.text), c.utf8) << c.name;
        EXPECT_TRUE(cli::IsUtf8(cli::JsonText(c.text))) << c.name;
    }
    EXPECT_EQ(cli::HexBytes("a\xe9"), "61e9");
}

}  // namespace
}  // namespace pimo::test
