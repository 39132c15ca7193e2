// The external optimizer runner, end to end through the engine's PNG output:
// real optipng and advpng, tool scripts written into a plugins folder, the
// accept and reject rules, the notices, the time-out and the download flow
// against a server on 127.0.0.1.

#include "optimizers/optimizer_runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "optimizers/optimizer_presets.h"
#include "tests/support/fake_host.h"
#include "tests/support/local_http_server.h"
#include "tests/support/test_images.h"

namespace pimo::optimizers {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using engine::MessageAnswer;
using engine::MessageButtons;
using engine::MessageKind;
using test::Bytes;

constexpr int kAdvPng = 0, kOptiPng = 1, kPngOut = 2;
const std::string kManualAdvice =
    ".\nYou may try to download and copy this tool manually into the plugins folder.";

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteScript(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms(0755));
}

/// Whether two PNG files decode to the same pixels.
void ExpectSamePixels(const Bytes& expected, const Bytes& actual) {
    const test::Bitmap a = test::DecodeWithLibrary(FIF_PNG, expected);
    const test::Bitmap b = test::DecodeWithLibrary(FIF_PNG, actual);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(FreeImage_GetWidth(a.get()), FreeImage_GetWidth(b.get()));
    ASSERT_EQ(FreeImage_GetHeight(a.get()), FreeImage_GetHeight(b.get()));
    const test::Bitmap a24(FreeImage_ConvertTo24Bits(a.get()));
    const test::Bitmap b24(FreeImage_ConvertTo24Bits(b.get()));
    for (unsigned y = 0; y < FreeImage_GetHeight(a.get()); ++y) {
        for (unsigned x = 0; x < FreeImage_GetWidth(a.get()); ++x) {
            const RGBQUAD p = test::PixelAt(a24.get(), x, y), q = test::PixelAt(b24.get(), x, y);
            ASSERT_TRUE(p.rgbRed == q.rgbRed && p.rgbGreen == q.rgbGreen && p.rgbBlue == q.rgbBlue)
                << "pixel " << x << "," << y;
        }
    }
}

/// Whether `expected` appears in `texts` in this order (other texts between).
bool InOrder(const std::vector<std::string>& texts, const std::vector<std::string>& expected) {
    auto at = texts.begin();
    for (const std::string& text : expected) {
        at = std::find(at, texts.end(), text);
        if (at == texts.end()) return false;
        ++at;
    }
    return true;
}

class RunnerTest : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(plugins);
        for (const TOptimizationTool& tool : InternalPresets()) tools.Add(tool);

        // A photograph-like picture, stored uncompressed. Reduced to a
        // palette (which the encoder writes unfiltered) at the fastest
        // deflate level, it leaves both tools room to improve on.
        const test::Bitmap picture = test::MakePhotoLike(96, 72);
        test::WriteFileBytes(dir.file("source.png"),
                             test::EncodeWithLibrary(FIF_PNG, picture.get(), PNG_Z_NO_COMPRESSION));
        engine.Interactive = false;
        ASSERT_TRUE(engine.LoadImageFile(dir.file("source.png")));
        engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
        engine.settings.Format = engine::kFormatPng;
        engine.settings.PNGCompressionType = 0;
        engine.settings.PNGPalettePreset = 1;
        engine.settings.PNGMaxColors = 256;
        engine.settings.PNGApplyOptimizer = false;
        ASSERT_GT(engine.OptimizeImage(""), 0u);
        plain = Result();

        runner.Attach(engine);
        engine.settings.PNGApplyOptimizer = true;
    }

    Bytes Result() const { return imagelib::StreamBytes(engine.ResultStream.get()); }

    /// Adds a custom preset that runs a script of the plugins folder.
    int AddScript(const std::string& name, const std::string& body,
                  const std::string& params = "{IMAGE_FILE}") {
        WriteScript(plugins / name, body);
        tools.Add({name, name, params, ""});
        return tools.Count() - 1;
    }

    /// Switches to interactive mode with a fresh record of the host's calls.
    void BeInteractive() {
        host = test::FakeHost();
        engine.Interactive = true;
    }

    test::TempDir dir;
    fs::path exeFolder = dir.path() / "Pimo";
    fs::path plugins = exeFolder / "plugins";
    test::FakeHost host;
    engine::Engine engine{host};
    TOptimizationTools tools;
    OptimizerRunner runner{tools, 3, exeFolder};
    Bytes plain;  // the library's own PNG
};

// ---- real tools ------------------------------------------------------------

class RealToolTest : public RunnerTest, public testing::WithParamInterface<int> {};

TEST_P(RealToolTest, ToolShrinksThePngAndTheResultStreamHoldsItsOutput) {
    engine.settings.PNGOptimizer = GetParam();
    const std::string tool = GetParam() == kAdvPng ? "advpng" : "optipng";
    // Nothing in the plugins folder: the system's own tool.
    EXPECT_EQ(fs::path(runner.ToolPath(tools.At(GetParam()), true)).filename(), tool);

    engine.ResultUnsaved = false;
    const std::uint32_t size = engine.OptimizeImage("");
    const Bytes optimized = Result();
    EXPECT_LT(size, plain.size());
    EXPECT_EQ(optimized.size(), size);
    EXPECT_TRUE(engine.ResultUnsaved);
    ExpectSamePixels(plain, optimized);

    // Saving through the PNG output writes the tool's output.
    const std::string saved = dir.file("saved.png");
    EXPECT_EQ(engine.OptimizeImage(saved), size);
    EXPECT_EQ(test::ReadFileBytes(saved), optimized);
}

INSTANTIATE_TEST_SUITE_P(AdvPngAndOptiPng, RealToolTest, testing::Values(kAdvPng, kOptiPng));

TEST_F(RunnerTest, InteractiveRunShowsItsWorkAndTheNewSize) {
    engine.settings.PNGOptimizer = kOptiPng;
    BeInteractive();
    const std::uint32_t size = engine.OptimizeImage("");
    EXPECT_LT(size, plain.size());
    EXPECT_TRUE(InOrder(host.statusTexts, {"Optimizing...", "Ready"}));
    EXPECT_EQ(host.statusTexts.back(), "Ready");
    ASSERT_FALSE(host.statusByPanel[2].empty());
    EXPECT_EQ(host.statusByPanel[2].back(), "Optimized: ? bit PNG image");
    EXPECT_GE(host.pendingEvents, 1);
    EXPECT_EQ(host.busyCursorOn, host.busyCursorOff);
    EXPECT_TRUE(host.balloons.empty());
    EXPECT_TRUE(host.messages.empty());
}

// ---- accept and reject -----------------------------------------------------

struct ScriptCase {
    const char* name;
    const char* params;
    const char* body;
    bool accepted;
    bool rejectionNotice;  // "The file actually got bigger !"
};

void PrintTo(const ScriptCase& c, std::ostream* out) {
    *out << c.name;
}

class ScriptOutcomeTest : public RunnerTest, public testing::WithParamInterface<ScriptCase> {};

TEST_P(ScriptOutcomeTest, OutputIsTakenOnlyWhenSmallerAndTheToolSucceeded) {
    const ScriptCase& c = GetParam();
    runner.temporaryFolder = dir.path() / "temp";
    fs::create_directory(runner.temporaryFolder);
    engine.settings.PNGOptimizer = AddScript("tool.sh", c.body, c.params);
    BeInteractive();
    engine.ResultUnsaved = false;

    const std::uint32_t size = engine.OptimizeImage("");
    if (c.accepted) {
        EXPECT_EQ(size, 100u);
        EXPECT_EQ(Result(), Bytes(plain.begin(), plain.begin() + 100));
        EXPECT_TRUE(engine.ResultUnsaved);
    } else {
        EXPECT_EQ(size, plain.size());
        EXPECT_EQ(Result(), plain);
        EXPECT_FALSE(engine.ResultUnsaved);
    }
    if (c.rejectionNotice) {
        ASSERT_EQ(host.balloons.size(), 1u);
        EXPECT_EQ(host.balloons[0].title, "The file actually got bigger !");
        EXPECT_EQ(
            host.balloons[0].description,
            "The selected PNG optimizer did not do a better job\n compressing the image data.");
        EXPECT_EQ(host.balloons[0].timeoutMs, 5000);
    } else {
        EXPECT_TRUE(host.balloons.empty());
    }
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.statusTexts.back(), "Ready");
    EXPECT_EQ(host.busyCursorOn, host.busyCursorOff);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScriptOutcomeTest,
    testing::Values(
        ScriptCase{"SmallerAndExitZero", "{IMAGE_FILE}", "truncate -s 100 \"$1\"", true, false},
        ScriptCase{"SmallerButExitOne", "{IMAGE_FILE}", "truncate -s 100 \"$1\"; exit 1", false,
                   true},
        ScriptCase{"EqualSize", "{IMAGE_FILE}", "exit 0", false, true},
        ScriptCase{"Bigger", "{IMAGE_FILE}", "printf 'more' >> \"$1\"", false, true},
        ScriptCase{"LowerCasePlaceholder", "-q {image_file}", "truncate -s 100 \"$2\"", true,
                   false},
        ScriptCase{"QuotedPlaceholder", "\"{IMAGE_FILE}\" -q",
                   "[ $# = 2 ] && truncate -s 100 \"$1\"", true, false},
        // Not told the file, the tool cannot change it: equal size, rejected.
        ScriptCase{"NoPlaceholder", "-q",
                   "for a in \"$@\"; do [ -f \"$a\" ] && truncate -s 100 \"$a\"; done; exit 0",
                   false, true},
        // Nothing to take and nothing to say.
        ScriptCase{"EmptiedOutput", "{IMAGE_FILE}", ": > \"$1\"", false, false},
        ScriptCase{"RemovedOutput", "{IMAGE_FILE}", "rm -f \"$1\"", false, false}),
    [](const testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.name); });

TEST_F(RunnerTest, WithoutPlaceholderTheTemporaryFileStaysAsHandedOver) {
    runner.temporaryFolder = dir.path() / "temp";
    fs::create_directory(runner.temporaryFolder);
    engine.settings.PNGOptimizer =
        AddScript("tool.sh", "printf '%s|' \"$@\" > \"" + dir.file("args.txt") + "\"", "-o3 -v");
    EXPECT_EQ(engine.OptimizeImage(""), plain.size());
    EXPECT_EQ(ReadText(dir.path() / "args.txt"), "-o3|-v|");
    EXPECT_EQ(test::ReadFileBytes(runner.temporaryFolder / "pimo-temp.png"), plain);
}

TEST_F(RunnerTest, NonInteractiveRejectionSaysNothing) {
    engine.settings.PNGOptimizer = AddScript("tool.sh", "truncate -s 100 \"$1\"; exit 2");
    const int calls = host.callCount();
    EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
    EXPECT_EQ(host.callCount(), calls);
    EXPECT_EQ(Result(), plain);
}

// ---- the temporary file ----------------------------------------------------

TEST_F(RunnerTest, TemporaryFileLiesInAPrivateFolderOfThisProcess) {
    const fs::path log = dir.path() / "path.txt", copy = dir.path() / "copy.png";
    engine.settings.PNGOptimizer =
        AddScript("tool.sh", "printf '%s' \"$1\" > '" + log.string() + "'; cp \"$1\" '" +
                                 copy.string() + "'; truncate -s 100 \"$1\"");
    EXPECT_EQ(engine.OptimizeImage(""), 100u);

    const fs::path file = ReadText(log);
    EXPECT_EQ(file.filename(), "pimo-temp.png");
    EXPECT_EQ(file.parent_path().parent_path(), fs::temp_directory_path());
    EXPECT_NE(file.parent_path(), fs::temp_directory_path());
    struct stat info {};
    ASSERT_EQ(::lstat(file.parent_path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, ::getuid());
    // The tool was handed exactly the library's PNG.
    EXPECT_EQ(test::ReadFileBytes(copy), plain);
}

TEST_F(RunnerTest, TemporaryPathWithBlanksReachesTheToolAsOneArgument) {
    runner.temporaryFolder = dir.path() / "temp folder";
    fs::create_directory(runner.temporaryFolder);
    const fs::path log = dir.path() / "args.txt";
    engine.settings.PNGOptimizer =
        AddScript("tool.sh", "printf '%s|' \"$@\" > '" + log.string() + "'; truncate -s 100 \"$2\"",
                  "-o3 {IMAGE_FILE}");
    EXPECT_EQ(engine.OptimizeImage(""), 100u);
    EXPECT_EQ(ReadText(log), "-o3|" + (runner.temporaryFolder / "pimo-temp.png").string() + "|");
}

TEST_F(RunnerTest, StaleResultIsUsedWithoutAutomaticPreviewAndEncodedAfreshWithIt) {
    runner.temporaryFolder = dir.path() / "temp";
    fs::create_directory(runner.temporaryFolder);
    const fs::path copy = dir.path() / "handed.png";
    engine.settings.PNGOptimizer = AddScript("tool.sh", "cp \"$1\" '" + copy.string() + "'");
    engine.settings.PNGApplyOptimizer = false;  // the start button's way: the runner alone
    engine.settings.PNGCompressionType = 1;     // a change not yet encoded

    engine.options.AutomaticPreview = false;
    engine.ResultStale = true;
    runner.RunExternalOptimizer(engine);
    EXPECT_FALSE(engine.ResultStale);
    EXPECT_EQ(test::ReadFileBytes(copy), plain);  // the result on display

    engine.options.AutomaticPreview = true;
    engine.ResultStale = true;
    runner.RunExternalOptimizer(engine);
    const Bytes handed = test::ReadFileBytes(copy);
    EXPECT_NE(handed, plain);  // encoded with the new setting
    EXPECT_LT(handed.size(), plain.size());
    ExpectSamePixels(plain, handed);
}

// ---- time-out --------------------------------------------------------------

TEST_F(RunnerTest, ToolThatDoesNotEndIsStoppedAndItsOutputRejected) {
    runner.timeout = 300ms;
    engine.settings.PNGOptimizer = AddScript("tool.sh", "truncate -s 100 \"$1\"; sleep 60");
    BeInteractive();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.OptimizeImage(""), plain.size());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 20s);
    EXPECT_EQ(Result(), plain);
    ASSERT_EQ(host.balloons.size(), 1u);
    EXPECT_EQ(host.balloons[0].title, "The file actually got bigger !");
    EXPECT_EQ(host.statusTexts.back(), "Ready");
}

// ---- selection and tool paths ----------------------------------------------

TEST_F(RunnerTest, NoSelectedPresetDoesNothing) {
    runner.temporaryFolder = dir.path() / "temp";
    fs::create_directory(runner.temporaryFolder);
    BeInteractive();
    for (const int selected : {-1, 3, 99}) {
        engine.settings.PNGOptimizer = selected;
        EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
    }
    EXPECT_EQ(host.callCount(), 0);
    EXPECT_FALSE(fs::exists(runner.temporaryFolder / "pimo-temp.png"));
    EXPECT_EQ(Result(), plain);
}

TEST_F(RunnerTest, InternalToolsComeFromThePluginsFolderFirstThenTheSearchPath) {
    const fs::path bin = dir.path() / "bin";
    fs::create_directory(bin);
    WriteScript(bin / "optipng", "exit 0");
    runner.searchPath = bin.string();
    const TOptimizationTool& optipng = tools.At(kOptiPng);

    EXPECT_EQ(runner.ToolPath(optipng, true), (bin / "optipng").string());
    // A custom preset's bare name means the plugins folder only.
    EXPECT_EQ(runner.ToolPath({"mine", "optipng", "", ""}, false), (plugins / "optipng").string());
    EXPECT_EQ(runner.ToolPath({"mine", "/bin/sh", "", ""}, false), "/bin/sh");
    EXPECT_EQ(runner.ToolPath({"mine", "tools/x.sh", "", ""}, false), "tools/x.sh");

    WriteScript(plugins / "optipng", "exit 0");
    EXPECT_EQ(runner.ToolPath(optipng, true), (plugins / "optipng").string());
    std::ofstream(plugins / "optipng.exe") << "not a program yet";
    EXPECT_EQ(runner.ToolPath(optipng, true), (plugins / "optipng").string());
    fs::permissions(plugins / "optipng.exe", fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_EQ(runner.ToolPath(optipng, true), (plugins / "optipng.exe").string());

    // Nowhere at all: the plugins-folder path, where a download would go.
    runner.searchPath = "";
    EXPECT_EQ(runner.ToolPath(tools.At(kPngOut), true), (plugins / "pngout.exe").string());
}

// ---- missing tools and the download flow -----------------------------------

TEST_F(RunnerTest, MissingToolInNonInteractiveModeGivesZeroWithoutNotice) {
    runner.searchPath = "";
    tools.Add({"gone", "gone.sh", "{IMAGE_FILE}", ""});
    for (const int selected : {kPngOut, 3}) {
        engine.settings.PNGOptimizer = selected;
        const int calls = host.callCount();
        EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
        EXPECT_EQ(host.callCount(), calls);
        EXPECT_EQ(engine.OptimizeImage(""), plain.size());
        EXPECT_EQ(Result(), plain);
    }
}

TEST_F(RunnerTest, MissingCustomToolIsReportedWithoutDownloadOffer) {
    tools.Add({"gone", "gone.sh", "{IMAGE_FILE}", ""});
    engine.settings.PNGOptimizer = 3;
    BeInteractive();
    EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
    ASSERT_EQ(host.balloons.size(), 1u);
    EXPECT_EQ(host.balloons[0].title, "External optimizer error");
    EXPECT_EQ(host.balloons[0].description,
              "Could not start the selected PNG Optimizer:\n" + (plugins / "gone.sh").string());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(Result(), plain);
}

TEST_F(RunnerTest, MissingInternalToolOffersADownload) {
    runner.offerDownloads = true;  // where the tools are downloads
    runner.searchPath = "";
    engine.settings.PNGOptimizer = kPngOut;
    BeInteractive();
    host.answers = {MessageAnswer::No};
    EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
    ASSERT_EQ(host.balloons.size(), 1u);
    EXPECT_EQ(host.balloons[0].description,
              "Could not start the selected PNG Optimizer:\n" + (plugins / "pngout.exe").string());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, MessageKind::Confirmation);
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(host.messages[0].text,
              "Do you want me to try to download and install this tool automatically ?");
    EXPECT_FALSE(fs::exists(plugins / "pngout.exe"));

    // advpng has no download address.
    engine.settings.PNGOptimizer = kAdvPng;
    host.messages.clear();
    host.answers = {MessageAnswer::Yes};
    EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1].kind, MessageKind::Error);
    EXPECT_EQ(host.messages[1].text, "I don't know where to find advpng.exe" + kManualAdvice);
}

// Where the tools are packages, a missing internal tool is not downloaded:
// the user is told which package provides it, or where to put it.
TEST_F(RunnerTest, MissingInternalToolNamesItsPackageWhereToolsArePackages) {
    runner.offerDownloads = false;
    runner.searchPath = "";
    BeInteractive();
    const struct {
        int preset;
        std::string advice;
    } cases[] = {
        {kAdvPng,
         "advpng was not found. It comes with the package advancecomp; install it "
         "with:\n\n    sudo apt install advancecomp"},
        {kOptiPng,
         "optipng was not found. It comes with the package optipng; install it "
         "with:\n\n    sudo apt install optipng"},
        {kPngOut,
         "pngout was not found, and no package of this system provides it. Put a pngout "
         "program for this system into the plugins folder:\n\n    " +
             plugins.string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.advice);
        host.messages.clear();
        engine.settings.PNGOptimizer = c.preset;
        EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].kind, MessageKind::Information);
        EXPECT_EQ(host.messages[0].text, c.advice);
        EXPECT_TRUE(fs::is_empty(plugins));
        EXPECT_EQ(Result(), plain);
    }
}

class DownloadFlowTest : public RunnerTest {
  protected:
    /// Points the optipng preset at the local server and hides the system's optipng.
    void UseServer(const std::string& url) {
        TOptimizationTool optipng = tools.At(kOptiPng);
        optipng.DownloadURL = url;
        tools.Replace(kOptiPng, optipng);
        runner.searchPath = "";
        runner.offerDownloads = true;
        engine.settings.PNGOptimizer = kOptiPng;
        BeInteractive();
        host.answers = {MessageAnswer::Yes};
    }

    test::LocalHttpServer server;
};

TEST_F(DownloadFlowTest, DownloadedToolIsInstalledAndRunsNextTime) {
    server.serve("/plugins/optipng.exe", {200, "#!/bin/sh\ntruncate -s 100 \"$2\"\n", ""});
    UseServer(server.url("/plugins/optipng.exe"));

    // The run that finds the tool missing only installs it.
    EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1].kind, MessageKind::Information);
    EXPECT_EQ(host.messages[1].text, "optipng.exe was succesfully installed.");
    EXPECT_EQ(server.requests(), std::vector<std::string>{"/plugins/optipng.exe"});
    EXPECT_EQ(Result(), plain);
    ASSERT_TRUE(fs::is_regular_file(plugins / "optipng.exe"));
    EXPECT_EQ(host.busyCursorOn, host.busyCursorOff);

    // The next run starts it ("-o3 <file>").
    host = test::FakeHost();
    EXPECT_EQ(runner.RunExternalOptimizer(engine), 100u);
    EXPECT_EQ(Result(), Bytes(plain.begin(), plain.begin() + 100));
    EXPECT_TRUE(host.messages.empty());

    // Installed in the plugins folder, it comes before the system's optipng.
    runner.searchPath.reset();
    EXPECT_EQ(runner.ToolPath(tools.At(kOptiPng), true), (plugins / "optipng.exe").string());
}

TEST_F(DownloadFlowTest, FailedDownloadsInstallNothing) {
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test::ClosedLocalPort()) + "/optipng.exe";
    for (const std::string& url : {server.url("/no-such-file"), refused}) {
        SCOPED_TRACE(url);
        UseServer(url);
        EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
        ASSERT_EQ(host.messages.size(), 2u);
        EXPECT_EQ(host.messages[1].kind, MessageKind::Error);
        EXPECT_EQ(host.messages[1].text, "Failed to install optipng.exe" + kManualAdvice);
        EXPECT_TRUE(fs::is_empty(plugins));
        EXPECT_EQ(Result(), plain);
    }
}

TEST_F(DownloadFlowTest, MissingPluginsFolderIsNotCreated) {
    server.serve("/optipng.exe", {200, "#!/bin/sh\n", ""});
    fs::remove(plugins);
    UseServer(server.url("/optipng.exe"));
    EXPECT_EQ(runner.RunExternalOptimizer(engine), 0u);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1].text, "Failed to install optipng.exe" + kManualAdvice);
    EXPECT_FALSE(fs::exists(plugins));
}

}  // namespace
}  // namespace pimo::optimizers
