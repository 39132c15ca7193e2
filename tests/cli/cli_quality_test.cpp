// pimo-cli's --score and --target-quality over images made in code: the
// distance printed and the setting chosen for a quality target, checked
// against runs at the next smaller setting.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/cli_run.h"
#include "tests/support/test_images.h"

namespace pimo::test {
namespace {

namespace fs = std::filesystem;

std::optional<double> JsonNumber(const std::string& json, const std::string& key) {
    std::smatch match;
    if (!std::regex_search(json, match, std::regex("\"" + key + "\":([0-9.]+)"))) return {};
    return std::stod(match[1]);
}

RGBQUAD Color(unsigned red, unsigned green, unsigned blue) {
    return RGBQUAD{static_cast<BYTE>(blue), static_cast<BYTE>(green), static_cast<BYTE>(red), 255};
}

class CliQualityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir.path() / "in");
        Bitmap photo = MakePhotoLike(192, 144, 11);
        WriteFileBytes(in("photo.jpg"), EncodeWithLibrary(FIF_JPEG, photo.get(), 100));
        Bitmap bands = MakeRgb(128, 96, [](unsigned x, unsigned y) {
            return Color(x * 2, (y * 8) % 256, (x + y) % 256);
        });
        WriteFileBytes(in("bands.png"),
                       EncodeWithLibrary(FIF_PNG, bands.get(), PNG_Z_NO_COMPRESSION));
    }
    fs::path in(const std::string& name) const { return dir.path() / "in" / name; }
    CliOutput run(std::vector<std::string> arguments) { return RunCli(dir.path(), arguments); }
    TempDir dir;
};

TEST_F(CliQualityTest, TargetQualityChoosesTheSmallestSettingWithinTheDistance) {
    const struct {
        std::string input;
        std::vector<std::string> format;  // the same settings for the search and the check
        std::string setting;              // the option that sets the searched value
        std::string output;
        double target;
    } cases[] = {
        {"photo.jpg", {"-f", "jpeg"}, "--quality", "photo.jpg", 1.5},
        {"photo.jpg", {"-f", "jpeg"}, "--quality", "photo.jpg", 3.0},
        {"bands.png", {"-f", "jpeg"}, "--quality", "bands.jpg", 4.0},
        {"photo.jpg", {"-f", "png", "--png-palette", "256"}, "--colors", "photo.png", 6.0},
        {"bands.png", {"-f", "gif", "--gif-palette", "256"}, "--colors", "bands.gif", 10.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " " + c.format[1] + " " + std::to_string(c.target));
        std::vector<std::string> search{"--mode",
                                        "manual",
                                        "--json",
                                        "--score",
                                        "--overwrite",
                                        "--no-backup",
                                        "--target-quality",
                                        std::to_string(c.target),
                                        "in/" + c.input,
                                        "-o",
                                        "chosen"};
        search.insert(search.end(), c.format.begin(), c.format.end());
        const CliOutput chosen = run(search);
        ASSERT_EQ(chosen.exitCode, 0) << chosen.out << chosen.err;
        ASSERT_TRUE(fs::exists(dir.path() / "chosen" / c.output));
        const std::optional<double> distance = JsonNumber(chosen.out, "distance");
        const std::optional<double> setting = JsonNumber(chosen.out, "setting");
        ASSERT_TRUE(distance && setting) << chosen.out;
        EXPECT_LE(*distance, c.target);
        EXPECT_GE(*setting, 2);

        std::vector<std::string> smaller{
            "--mode",        "manual",
            "--json",        "--score",
            "--overwrite",   "--no-backup",
            c.setting,       std::to_string(static_cast<int>(*setting) - 1),
            "in/" + c.input, "-o",
            "smaller"};
        smaller.insert(smaller.end(), c.format.begin(), c.format.end());
        const CliOutput next = run(smaller);
        ASSERT_EQ(next.exitCode, 0) << next.err;
        EXPECT_NE(next.out.find("decrease"), std::string::npos) << next.out;
        const std::optional<double> nextDistance = JsonNumber(next.out, "distance");
        ASSERT_TRUE(nextDistance) << next.out;
        EXPECT_GT(*nextDistance, c.target);
        // A JPEG's blocks are pruned where the distance leaves room, so its
        // file can be smaller than the plain one a step coarser.
        if (c.format[1] == "jpeg") continue;
        EXPECT_LT(fs::file_size(dir.path() / "smaller" / c.output),
                  fs::file_size(dir.path() / "chosen" / c.output));
    }
}

TEST_F(CliQualityTest, UnreachableTargetSaysSoAndWritesNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"-f", "png", "--png-palette", "16", "-o", "out"},
        {"-f", "gif", "--gif-palette", "mono", "-o", "out"},
        // In place: the source must stay as it was.
        {"-f", "jpeg", "--original-folder", "--overwrite", "--no-backup"},
    };
    const std::string before = ReadText(in("photo.jpg"));
    for (const auto& c : cases) {
        std::vector<std::string> arguments{"--mode", "manual", "--target-quality", "0.05",
                                           "in/photo.jpg"};
        arguments.insert(arguments.end(), c.begin(), c.end());
        const CliOutput output = run(arguments);
        EXPECT_EQ(output.exitCode, 1) << c[1];
        EXPECT_NE(output.err.find("No setting reaches the desired quality"), std::string::npos)
            << output.err;
        EXPECT_NE(output.out.find("in/photo.jpg: error"), std::string::npos) << output.out;
        EXPECT_FALSE(fs::exists(dir.path() / "out" / "photo.png"));
        EXPECT_FALSE(fs::exists(dir.path() / "out" / "photo.gif"));
        EXPECT_FALSE(fs::exists(dir.path() / "in" / "photo.jpg.pimo"));
        EXPECT_EQ(ReadText(in("photo.jpg")), before);
    }
}

TEST_F(CliQualityTest, OutputNeverLargerThanItsSourceForAQualityTarget) {
    // A strongly compressed source: staying close to its pixels takes a high
    // quality, whose file is larger than the source. The source's own bytes
    // are written instead, at distance 0.
    Bitmap photo = MakePhotoLike(192, 144, 11);
    WriteFileBytes(in("small.jpg"),
                   EncodeWithLibrary(FIF_JPEG, photo.get(), 30 | JPEG_OPTIMIZE | JPEG_PROGRESSIVE));
    const CliOutput output = run({"--mode", "manual", "-f", "jpeg", "--json", "--score",
                                  "--target-quality", "0.8", "in/small.jpg", "-o", "out"});
    ASSERT_EQ(output.exitCode, 0) << output.err;
    EXPECT_NE(output.out.find("\"status\":\"no change\""), std::string::npos) << output.out;
    EXPECT_EQ(JsonNumber(output.out, "distance"), 0.0) << output.out;
    EXPECT_EQ(ReadText(dir.path() / "out" / "small.jpg"), ReadText(in("small.jpg")));
}

TEST_F(CliQualityTest, ScoreGoesOnTheStatusLineAndIntoTheRecord) {
    const CliOutput text = run(
        {"--mode", "manual", "-f", "jpeg", "-q", "20", "--score", "in/photo.jpg", "-o", "text"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(std::regex_search(
        text.out,
        std::regex(
            R"(in/photo\.jpg: -[0-9.]+% decrease, distance [0-9]+\.[0-9]{2} \((good|poor)\)\n)")))
        << text.out;

    // A lossless output of a lossless source: nothing differs.
    const CliOutput json = run({"--mode", "manual", "-f", "png", "--png-palette", "truecolor",
                                "--score", "--json", "in/bands.png", "-o", "json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(
        json.out.find("\"distance\":0.0000,\"distance_3norm\":0.0000,\"quality\":\"very good\""),
        std::string::npos)
        << json.out;
    // Without --score the record has no distance.
    const CliOutput plain = run({"--json", "in/bands.png", "-o", "plain"});
    EXPECT_EQ(plain.out.find("distance"), std::string::npos) << plain.out;
}

TEST_F(CliQualityTest, BadQualityTargetsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"--target-quality", "0"},
        {"--target-quality", "abc"},
        {"--target-quality", "1.5", "--target-size", "10"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c;
        arguments.insert(arguments.end(), {"in/photo.jpg", "-o", "out"});
        const CliOutput output = run(arguments);
        EXPECT_EQ(output.exitCode, 2) << c[1];
        EXPECT_NE(output.err.find("--target-quality"), std::string::npos) << output.err;
        EXPECT_FALSE(fs::exists(dir.path() / "out"));
    }
}

}  // namespace
}  // namespace pimo::test
