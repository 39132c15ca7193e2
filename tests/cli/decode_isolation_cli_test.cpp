// pimo-cli over hostile files among good ones, with one and with two workers:
// each hostile file fails with its clear message, quickly and with bounded
// memory, and the good files are written as if the hostile ones were absent.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli/cli_run.h"
#include "tests/imagelib/hostile_files.h"
#include "tests/support/test_images.h"
#include "util/sanitizer.h"

namespace pimo::test {
namespace {

namespace fs = std::filesystem;

class DecodeIsolationCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir.path() / "in");
        for (int i = 0; i < 3; ++i) {
            Bitmap photo = MakePhotoLike(50 + 10 * i, 40, 30 + i);
            WriteFileBytes(dir.path() / "in" / ("good" + std::to_string(i) + ".png"),
                           EncodeWithLibrary(FIF_PNG, photo.get(), 0));
        }
        WriteFileBytes(dir.path() / "in/bomb.ras", SunRasterBomb());
        WriteFileBytes(dir.path() / "in/huge.jpg", ProgressiveJpegDeclaring65000());
        WriteFileBytes(dir.path() / "in/cut.xbm", TruncatedXbm());
    }
    TempDir dir;
};

TEST_F(DecodeIsolationCliTest, HostileFilesFailAloneWithTheirReasons) {
    const CliOutput one = RunCli(
        dir.path(), {"--jobs", "1", "in", "-o", "one", "-f", "png", "--decode-memory", "512"});
    const CliOutput two = RunCli(
        dir.path(), {"--jobs", "2", "in", "-o", "two", "-f", "png", "--decode-memory", "512"});
    for (const CliOutput* run : {&one, &two}) {
        EXPECT_EQ(run->exitCode, 1);
        EXPECT_NE(run->err.find("declares 48x33554465 pixels"), std::string::npos) << run->err;
        EXPECT_NE(run->err.find("declares 65000x65000 pixels"), std::string::npos) << run->err;
        EXPECT_NE(run->err.find("memory budget of 512 MiB"), std::string::npos) << run->err;
        EXPECT_NE(run->err.find("the file ends before its image does"), std::string::npos)
            << run->err;
    }
    EXPECT_EQ(one.out, two.out);
    for (int i = 0; i < 3; ++i) {
        const std::string name = "good" + std::to_string(i) + ".png";
        ASSERT_TRUE(fs::exists(dir.path() / "one" / name)) << name;
        EXPECT_EQ(ReadFileBytes(dir.path() / "one" / name),
                  ReadFileBytes(dir.path() / "two" / name))
            << name;
    }
}

TEST_F(DecodeIsolationCliTest, InfoNamesTheReason) {
    const CliOutput info = RunCli(dir.path(), {"--info", "in/bomb.ras", "in/good0.png"});
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_NE(info.out.find("could not be loaded: the image declares 48x33554465 pixels"),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("Unique colors"), std::string::npos) << info.out;
}

// A file on which the library itself crashes, between two good ones: only
// it fails, with the crash message, and both good files are written.
TEST_F(DecodeIsolationCliTest, LibraryCrashCostsOnlyItsFile) {
    const std::pair<std::string, Bytes> crashing[] = {
        {"psd/b.psd", PsdRowPastItsEnd()},
        {"pict/b.pct", PictRunPastTheBitmap()},
    };
    int shown = 0;
    for (const auto& [bad, bytes] : crashing) {
        SCOPED_TRACE(bad);
        const fs::path folder = fs::path(bad).parent_path();
        fs::create_directories(dir.path() / folder);
        fs::copy_file(dir.path() / "in/good0.png", dir.path() / folder / "a.png");
        fs::copy_file(dir.path() / "in/good1.png", dir.path() / folder / "c.png");
        WriteFileBytes(dir.path() / bad, bytes);
        // Unprotected, the library must still die on the file (a signal, or a
        // sanitizer's report); a later release may mend it.
        const CliOutput unprotected = RunCli(dir.path(), {"--decode-in-process", "--info", bad});
        if (unprotected.exitCode < 128 && unprotected.err.find("Sanitizer") == std::string::npos)
            continue;
        ++shown;
        const fs::path out = folder.string() + "-out";
        const CliOutput run =
            RunCli(dir.path(), {"--jobs", "1", (folder / "a.png").string(), bad,
                                (folder / "c.png").string(), "-o", out.string(), "-f", "png"});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_NE(run.out.find(bad + ": error"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("3 file(s) processed, 1 failed"), std::string::npos) << run.out;
        EXPECT_NE(run.err.find("the image library crashed while decoding this file"),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("Source image: " + bad), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(".png"), std::string::npos) << run.err;
        // What the dying decoder printed (the C library's heap check, say)
        // never reaches the user beside our message.
        // A sanitizer build keeps the decoder's error stream for its reports.
        std::istringstream dying(kAddressSanitizer ? std::string() : unprotected.err);
        for (std::string line; std::getline(dying, line);) {
            if (!line.empty() && line.find(bad) == std::string::npos) {
                EXPECT_EQ(run.err.find(line), std::string::npos) << run.err;
            }
        }

        std::vector<std::string> written;
        for (const auto& entry : fs::directory_iterator(dir.path() / out))
            written.push_back(entry.path().filename().string());
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, (std::vector<std::string>{"a.png", "c.png"}));
        EXPECT_EQ(SizeOf(dir.path() / out / "a.png"), SizeOf(dir.path() / "in/good0.png"));
        EXPECT_EQ(SizeOf(dir.path() / out / "c.png"), SizeOf(dir.path() / "in/good1.png"));
    }
    if (shown == 0) GTEST_SKIP() << "the image library no longer fails on these files";
}

TEST_F(DecodeIsolationCliTest, BudgetOptionsAreChecked) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--decode-memory", "0"},
          {"--decode-memory", "lots"},
          {"--decode-seconds", "0"},
          {"--decode-seconds", "-5"},
          {"--decode-in-process=yes"}}) {
        std::vector<std::string> all = arguments;
        all.insert(all.end(), {"in", "-o", "out"});
        const CliOutput run = RunCli(dir.path(), all);
        EXPECT_EQ(run.exitCode, 2) << arguments[0];
        EXPECT_NE(run.err.find(arguments[0].substr(0, arguments[0].find('='))), std::string::npos)
            << run.err;
    }
    // Decoding in this process gives the same good outputs.
    const CliOutput here =
        RunCli(dir.path(), {"--decode-in-process", "in/good0.png", "-o", "here", "-f", "png"});
    EXPECT_EQ(here.exitCode, 0) << here.err;
    EXPECT_TRUE(fs::exists(dir.path() / "here/good0.png"));
}

}  // namespace
}  // namespace pimo::test
