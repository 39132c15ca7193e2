// The key table of section "PIMO": every key through a real file, and what
// becomes of values that are out of range or unreadable.

#include "settings/settings_keys.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/known_folders.h"
#include "settings/settings_store.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::settings {
namespace {

namespace fs = std::filesystem;

/// The three records of the main window.
struct Records {
    engine::OptimizationSettings settings;
    engine::ProgramOptions options;
    WindowSettings window;
    SettingsFields fields{settings, options, window};

    Records() {
        window.DesktopWidth = 1920;
        window.DesktopHeight = 1080;
    }
};

/// Values other than the initial ones for every key, each in range and with
/// the conditions on that let every key be written and read.
void SetEveryKey(Records& r) {
    r.window.Width = 1000;
    r.window.Height = 700;
    r.window.Top = 10;
    r.window.Left = 20;
    r.settings.JPEGQuality = 61;
    r.settings.JPEGChromaSubsampling = 1;
    r.settings.JPEGProgressive = true;
    r.settings.GIFPalettePreset = 2;
    r.settings.GIFInterlaced = true;
    r.settings.GIFQuantizationMethod = 1;
    r.settings.PNGPalettePreset = 3;
    r.settings.PNGQuantizationMethod = 2;
    r.settings.Format = 2;
    r.settings.MetadataRemoveIPTC = r.settings.MetadataRemoveXMP = false;
    r.settings.MetadataRemoveEXIF = r.settings.MetadataRemoveComments = false;
    r.settings.MetadataRemoveICC = false;
    r.settings.TransparencyThreshold = 200;
    r.options.ShowCaptions = false;
    r.options.LargeImagesResolution = 9;
    r.options.ZoomFactor = 1.35f;
    r.options.AutoRotateEXIF = true;
    r.options.Check4Updates = false;
    r.options.ShowQualityScore = false;
    r.options.LastUpdateCheck = 45306;
    r.options.SaveAsFolder = "/srv/pictures";
    r.options.ShowDialogOnSave = true;
    r.settings.ResampleFilter = 4;
    r.settings.ResampleUnit = 1;
    r.settings.ResampleKeepAspectRatio = false;
    r.window.DualView = r.window.FitOnlyBig = r.options.AutomaticPreview = false;
    r.options.PNGSaveBestCompressionState = true;
    r.settings.PNGCompressionType = 3;
    r.options.PNGSaveApplyOptimizerState = true;
    r.settings.PNGApplyOptimizer = true;
    r.settings.PNGOptimizer = 2;
    r.window.SaveImageAdjustments = true;
    r.settings.AdjustBrightness = -30;
    r.settings.AdjustContrast = 40;
    r.settings.AdjustGamma = 250;
    r.settings.AdjustInvert = r.settings.AdjustGrayscale = true;
    r.settings.Mode = engine::OptimizationMode::Manual;
}

TEST(SettingsKeysFileTest, EveryKeyWrittenIsReadBackFromTheFileUnchanged) {
    test::TempDir dir;
    const fs::path file = dir.path() / "Pimo.ini";
    test::FakeHost host;
    platform::FixedKnownFolders folders;
    folders.pictures = "/home/someone/Pictures";

    Records written;
    SetEveryKey(written);
    {
        IniStore store;
        store.Open(file);
        SaveSettings(store, written.fields, host);
        // The options dialog writes its keys whatever SaveSettingsOnExit says.
        written.options.SaveSettingsOnExit = false;
        ASSERT_EQ(SaveProgramOptions(store, written.fields), std::nullopt);
        store.UpdateFile();
    }
    ASSERT_TRUE(host.messages.empty());

    IniStore store;
    store.Open(file);
    Records read;
    EXPECT_TRUE(LoadWindowPlacement(store, read.fields).empty());
    EXPECT_TRUE(LoadSettings(store, read.fields, folders, host).empty());
    SettingsWarnings warnings;
    read.settings.PNGOptimizer = ReadPNGOptimizer(store, 4, warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(host.messages.empty());

    const Records initial;
    for (const SettingsKey& key : SettingsKeys()) {
        const KeyValue value = key.field.get(written.fields);
        EXPECT_EQ(key.field.get(read.fields), value) << key.key;
        // Only the key a user writes by hand is never in the file.
        EXPECT_EQ(store.ValueExists(kMainSection, key.key), key.key != "UseLatestCommonDialogs")
            << key.key;
        // The fixture leaves no key at its initial value, so that each one
        // shows whether it came back.
        if (key.field.set != nullptr && key.key != "UseLatestCommonDialogs" &&
            key.key != "WindowState" && key.key != "AskToResizeLargeImages") {
            EXPECT_NE(key.field.get(initial.fields), value) << key.key;
        }
    }

    // What was read writes the same file again.
    const test::Bytes bytes = test::ReadFileBytes(file);
    IniStore again;
    read.options.SaveSettingsOnExit = true;
    SaveSettings(again, read.fields, host);
    read.options.SaveSettingsOnExit = false;
    SaveProgramOptions(again, read.fields);
    EXPECT_EQ(again.Text(), std::string(bytes.begin(), bytes.end()));
}

struct WarningCase {
    const char* name;
    const char* text;  // lines of section "PIMO"
    std::vector<std::string> warnings;
    std::function<void(const Records&)> check;
};

void PrintTo(const WarningCase& c, std::ostream* out) {
    *out << c.name;
}

class ValueWarningTest : public testing::TestWithParam<WarningCase> {};

TEST_P(ValueWarningTest, BadValuesAreReplacedAndReportedOncePerKey) {
    IniStore store;
    store.SetText(std::string("[PIMO]\n") + GetParam().text);
    Records records;
    platform::FixedKnownFolders folders;
    test::FakeHost host;
    EXPECT_EQ(LoadSettings(store, records.fields, folders, host), GetParam().warnings);
    // The user hears of them once, a line each.
    std::string told;
    for (const std::string& warning : GetParam().warnings)
        told += (told.empty() ? "" : "\n") + warning;
    ASSERT_EQ(host.messages.size(), told.empty() ? 0u : 1u);
    if (!told.empty()) {
        EXPECT_EQ(host.messages[0].text, told);
    }
    GetParam().check(records);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueWarningTest,
    testing::Values(
        WarningCase{"QualityAboveItsRange",
                    "JPEGQuality=500\n",
                    {"Settings: JPEGQuality=500 is outside 1..100; 100 is used instead"},
                    [](const Records& r) { EXPECT_EQ(r.settings.JPEGQuality, 100); }},
        WarningCase{"QualityNotANumber",
                    "JPEGQuality=abc\n",
                    {"Settings: JPEGQuality=abc is not a whole number; 75 is used instead"},
                    [](const Records& r) { EXPECT_EQ(r.settings.JPEGQuality, 75); }},
        WarningCase{"ThresholdBelowItsRange",
                    "TransparencyThreshold=-3\n",
                    {"Settings: TransparencyThreshold=-3 is outside 0..254; 0 is used instead"},
                    [](const Records& r) { EXPECT_EQ(r.settings.TransparencyThreshold, 0); }},
        WarningCase{"ListEntryThatIsNotThere",
                    "JPEGChromaSubsampling=4\n",
                    {"Settings: JPEGChromaSubsampling=4 is outside 0..3; -1 is used instead"},
                    [](const Records& r) { EXPECT_EQ(r.settings.JPEGChromaSubsampling, -1); }},
        WarningCase{
            "UnknownModeIsManual",
            "Mode=7\n",
            {"Settings: Mode=7 is outside 0..3; 3 is used instead"},
            [](const Records& r) { EXPECT_EQ(r.settings.Mode, engine::OptimizationMode::Manual); }},
        WarningCase{"FlagNotANumber",
                    "DualView=no\n",
                    {"Settings: DualView=no is not a whole number; 1 is used instead"},
                    [](const Records& r) { EXPECT_TRUE(r.window.DualView); }},
        WarningCase{"ZoomAboveItsRange",
                    "ZoomFactor=5\n",
                    {"Settings: ZoomFactor=5 is outside 1.01..2; 2 is used instead"},
                    [](const Records& r) { EXPECT_EQ(r.options.ZoomFactor, 2.0f); }},
        WarningCase{"ZoomWithTheWrongSeparator",
                    "ZoomFactor=1,5\n",
                    {"Settings: ZoomFactor=1,5 is not a number; 1.2 is used instead"},
                    [](const Records& r) { EXPECT_EQ(r.options.ZoomFactor, 1.2f); }},
        // The smallest step the options dialog writes, as a single-precision
        // number turned into a double, is in range.
        WarningCase{"ZoomAtItsSinglePrecisionBound",
                    "ZoomFactor=1.00999999046326\n",
                    {},
                    [](const Records& r) { EXPECT_EQ(r.options.ZoomFactor, 1.01f); }},
        WarningCase{
            "DateNotADate",
            "LastUpdateCheck=yesterday\n",
            {"Settings: LastUpdateCheck=yesterday is not a date; 1899-12-30 is used instead"},
            [](const Records& r) { EXPECT_EQ(r.options.LastUpdateCheck, 0.0); }},
        WarningCase{"AdjustmentWhenKept",
                    "SaveImageAdjustments=1\nAdjustGamma=0\n",
                    {"Settings: AdjustGamma=0 is outside 1..800; 1 is used instead"},
                    [](const Records& r) { EXPECT_EQ(r.settings.AdjustGamma, 1); }},
        // Keys whose condition keeps them out are neither applied nor reported.
        WarningCase{"KeysNotReadAreNotReported",
                    "SaveImageAdjustments=0\nAdjustGamma=0\nAskToResizeLargeImages=0\n"
                    "LargeImagesResolution=50\nPNGCompressionType=9\n",
                    {},
                    [](const Records& r) {
                        EXPECT_EQ(r.settings.AdjustGamma, 100);
                        EXPECT_EQ(r.settings.PNGCompressionType, 1);
                    }},
        WarningCase{"SeveralInTheOrderOfTheKeys",
                    "Mode=9\nResampleFilter=x\nJPEGQuality=0\n",
                    {"Settings: JPEGQuality=0 is outside 1..100; 1 is used instead",
                     "Settings: ResampleFilter=x is not a whole number; 1 is used instead",
                     "Settings: Mode=9 is outside 0..3; 3 is used instead"},
                    [](const Records& r) { EXPECT_EQ(r.settings.ResampleFilter, 1); }}),
    [](const testing::TestParamInfo<WarningCase>& info) { return std::string(info.param.name); });

TEST(PlacementWarningTest, UnknownWindowStateIsNormalAndReported) {
    IniStore store;
    store.SetText("[PIMO]\nWindowState=9\nWidth=wide\n");
    Records records;
    EXPECT_EQ(LoadWindowPlacement(store, records.fields),
              (SettingsWarnings{"Settings: Width=wide is not a whole number; 792 is used instead",
                                "Settings: WindowState=9 is outside 0..2; 0 is used instead"}));
    EXPECT_EQ(records.window.WindowState, kWindowNormal);
    EXPECT_EQ(records.window.Width, 792);
}

struct OptimizerCase {
    const char* text;
    int selected;
    std::vector<std::string> warnings;
};

class ReadPNGOptimizerTest : public testing::TestWithParam<OptimizerCase> {};

TEST_P(ReadPNGOptimizerTest, NoneOrAValueNamingNoPresetSelectsTheFirst) {
    IniStore store;
    store.SetText(std::string("[PIMO]\n") + GetParam().text);
    SettingsWarnings warnings;
    EXPECT_EQ(ReadPNGOptimizer(store, 4, warnings), GetParam().selected) << GetParam().text;
    EXPECT_EQ(warnings, GetParam().warnings) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadPNGOptimizerTest,
    testing::Values(OptimizerCase{"", 0, {}}, OptimizerCase{"PNGOptimizer=-1\n", 0, {}},
                    OptimizerCase{"PNGOptimizer=3\n", 3, {}},
                    OptimizerCase{"PNGOptimizer=4\n",
                                  0,
                                  {"Settings: PNGOptimizer=4 is outside -1..3; 0 is used instead"}},
                    OptimizerCase{
                        "PNGOptimizer=x\n",
                        0,
                        {"Settings: PNGOptimizer=x is not a whole number; 0 is used instead"}}));

}  // namespace
}  // namespace pimo::settings
