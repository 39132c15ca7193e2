// Loading and saving the main window's settings from the key table.

#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>

#include "platform/known_folders.h"
#include "settings/settings_keys.h"
#include "tests/support/fake_host.h"

namespace pimo::settings {
namespace {

constexpr const char* kReadFailed = "An error occurred while reading configuration data:\n";
constexpr const char* kWriteFailed = "An error occured while updating configuration data:\n";

/// The lines of section `section` in the store's text, in order.
std::vector<std::string> SectionLines(const IniStore& store, const std::string& section = "PIMO") {
    std::istringstream text(store.Text());
    std::vector<std::string> lines;
    bool inside = false;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.front() == '[') {
            inside = line == "[" + section + "]";
        } else if (inside && !line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

/// The key names of those lines.
std::vector<std::string> SectionKeys(const IniStore& store, const std::string& section = "PIMO") {
    std::vector<std::string> keys;
    for (const std::string& line : SectionLines(store, section))
        keys.push_back(line.substr(0, line.find('=')));
    return keys;
}

std::vector<std::string> Without(std::vector<std::string> keys,
                                 const std::set<std::string>& dropped) {
    std::erase_if(keys, [&](const std::string& key) { return dropped.count(key) != 0; });
    return keys;
}

const std::vector<std::string> kCloseOrder{"Width",
                                           "Height",
                                           "WindowState",
                                           "Top",
                                           "Left",
                                           "JPEGQuality",
                                           "JPEGChromaSubsampling",
                                           "JPEGProgressive",
                                           "GIFPalettePreset",
                                           "GIFInterlaced",
                                           "GIFQuantizationMethod",
                                           "PNGPalettePreset",
                                           "PNGQuantizationMethod",
                                           "PNGCompressionType",
                                           "PNGApplyOptimizer",
                                           "PNGOptimizer",
                                           "MetadataRemoveIPTC",
                                           "MetadataRemoveXMP",
                                           "MetadataRemoveEXIF",
                                           "MetadataRemoveComments",
                                           "MetadataRemoveICC",
                                           "TransparencyThreshold",
                                           "SaveAsFolder",
                                           "ShowDialogOnSave",
                                           "ResampleFilter",
                                           "ResampleUnit",
                                           "ResampleKeepAspectRatio",
                                           "DualView",
                                           "FitOnlyBig",
                                           "AutomaticPreview",
                                           "SaveImageAdjustments",
                                           "AdjustBrightness",
                                           "AdjustContrast",
                                           "AdjustGamma",
                                           "AdjustInvert",
                                           "AdjustGrayscale",
                                           "Format",
                                           "Mode"};

/// The three records, a store, folders and a host.
class SettingsStoreTest : public testing::Test {
  protected:
    SettingsStoreTest() {
        folders.executable = "/opt/pimo";
        folders.pictures = "/home/someone/Pictures";
    }

    void Load(const std::string& text) {
        store.SetText(text);
        warnings = LoadSettings(store, fields, folders, host);
    }

    /// Records every reaction with the state it found.
    void RecordReactions() {
        auto record = [this](std::string name) {
            return [this, name] {
                reactions.push_back(name + (window.SuppressSettingsEvents ? "" : " (events on)"));
            };
        };
        window.GIFPresetReaction = record("GIFPreset");
        window.PNGPresetReaction = record("PNGPreset");
        window.CaptionsOffReaction = record("CaptionsOff");
        window.ModeSelection = [this](engine::OptimizationMode mode) {
            reactions.push_back("Mode " + std::to_string(engine::ModeNumber(mode)));
        };
    }

    engine::OptimizationSettings settings;
    engine::ProgramOptions options;
    WindowSettings window;
    SettingsFields fields{settings, options, window};
    platform::FixedKnownFolders folders;
    test::FakeHost host;
    IniStore store;
    std::vector<std::string> reactions;
    SettingsWarnings warnings;
};

TEST_F(SettingsStoreTest, LoadAppliesStoredValuesAndRunsTheReactionsInOrder) {
    RecordReactions();
    // Each reaction sees the keys before it and none after it.
    window.CaptionsOffReaction = [this] {
        reactions.push_back("CaptionsOff");
        EXPECT_EQ(settings.Format, 1);
        EXPECT_FALSE(settings.MetadataRemoveICC);
        EXPECT_FALSE(options.AutoRotateEXIF);  // stored 1, read later
    };
    Load(
        "[pimo]\n"
        "jpegquality=55\nJPEGChromaSubsampling=0\nJPEGProgressive=1\n"
        "GIFPalettePreset=1\nGIFInterlaced=1\nGIFQuantizationMethod=1\n"
        "PNGPalettePreset=2\nPNGQuantizationMethod=1\nFormat=1\n"
        "MetadataRemoveIPTC=0\nMetadataRemoveXMP=0\nMetadataRemoveEXIF=0\n"
        "MetadataRemoveComments=0\nMetadataRemoveICC=0\nTransparencyThreshold=0x20\n"
        "SaveSettingsOnExit=0\nShowCaptions=0\nAskToResizeLargeImages=1\nLargeImagesResolution=6\n"
        "ZoomFactor=1.5\nAutoRotateEXIF=1\nCheck4Updates=0\nLastUpdateCheck=2024-01-15\n"
        "SaveAsFolder=/srv/photos\nShowDialogOnSave=1\n"
        "ResampleFilter=3\nResampleUnit=1\nResampleKeepAspectRatio=0\n"
        "DualView=0\nFitOnlyBig=0\nAutomaticPreview=0\n"
        "PNGSaveBestCompressionState=1\nPNGCompressionType=4\n"
        "PNGSaveApplyOptimizerState=1\nPNGApplyOptimizer=1\n"
        "SaveImageAdjustments=1\nAdjustBrightness=-10\nAdjustContrast=20\nAdjustGamma=150\n"
        "AdjustInvert=1\nAdjustGrayscale=1\nMode=2\n");

    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(reactions,
              (std::vector<std::string>{"GIFPreset", "PNGPreset", "CaptionsOff", "Mode 2"}));
    EXPECT_FALSE(window.SuppressSettingsEvents);

    EXPECT_EQ(settings.JPEGQuality, 55);
    EXPECT_EQ(settings.JPEGChromaSubsampling, 0);
    EXPECT_TRUE(settings.JPEGProgressive);
    EXPECT_EQ(settings.GIFPalettePreset, 1);
    EXPECT_TRUE(settings.GIFInterlaced);
    EXPECT_EQ(settings.GIFQuantizationMethod, 1);
    EXPECT_EQ(settings.PNGPalettePreset, 2);
    EXPECT_EQ(settings.PNGQuantizationMethod, 1);
    EXPECT_EQ(settings.Format, 1);
    EXPECT_FALSE(settings.MetadataRemoveIPTC || settings.MetadataRemoveXMP ||
                 settings.MetadataRemoveEXIF || settings.MetadataRemoveComments ||
                 settings.MetadataRemoveICC);
    EXPECT_EQ(settings.TransparencyThreshold, 32);
    EXPECT_FALSE(options.SaveSettingsOnExit);
    EXPECT_FALSE(options.ShowCaptions);
    EXPECT_EQ(options.LargeImagesResolution, 6);
    EXPECT_FLOAT_EQ(options.ZoomFactor, 1.5f);
    EXPECT_TRUE(options.AutoRotateEXIF);
    EXPECT_FALSE(options.Check4Updates);
    EXPECT_DOUBLE_EQ(options.LastUpdateCheck, 45306.0);
    EXPECT_EQ(options.SaveAsFolder, "/srv/photos");
    EXPECT_TRUE(options.ShowDialogOnSave);
    EXPECT_EQ(settings.ResampleFilter, 3);
    EXPECT_EQ(settings.ResampleUnit, 1);
    EXPECT_FALSE(settings.ResampleKeepAspectRatio);
    EXPECT_FALSE(window.DualView || window.FitOnlyBig || options.AutomaticPreview);
    EXPECT_TRUE(options.PNGSaveBestCompressionState);
    EXPECT_EQ(settings.PNGCompressionType, 4);
    EXPECT_TRUE(options.PNGSaveApplyOptimizerState);
    EXPECT_TRUE(settings.PNGApplyOptimizer);
    EXPECT_TRUE(window.SaveImageAdjustments);
    EXPECT_EQ(settings.AdjustBrightness, -10);
    EXPECT_EQ(settings.AdjustContrast, 20);
    EXPECT_EQ(settings.AdjustGamma, 150);
    EXPECT_TRUE(settings.AdjustInvert && settings.AdjustGrayscale);
    EXPECT_EQ(settings.Mode, pimo::engine::OptimizationMode::AutoUserFormat);
}

TEST_F(SettingsStoreTest, EmptyFileKeepsTheInitialValues) {
    RecordReactions();
    options.LastUpdateCheck = 100;  // a missing date counts as day zero
    Load("");
    const engine::OptimizationSettings initial;
    EXPECT_EQ(settings.JPEGQuality, initial.JPEGQuality);
    EXPECT_EQ(settings.PNGCompressionType, initial.PNGCompressionType);
    EXPECT_EQ(settings.GIFPalettePreset, -1);
    EXPECT_EQ(settings.Mode, pimo::engine::OptimizationMode::FullAuto);
    EXPECT_EQ(options.LargeImagesResolution, 1);
    EXPECT_FLOAT_EQ(options.ZoomFactor, 1.2f);
    EXPECT_DOUBLE_EQ(options.LastUpdateCheck, 0.0);
    EXPECT_EQ(options.SaveAsFolder, "/home/someone/Pictures");
    EXPECT_TRUE(window.DualView && window.FitOnlyBig && options.AutomaticPreview);
    // Captions on need no reaction.
    EXPECT_EQ(reactions, (std::vector<std::string>{"GIFPreset", "PNGPreset", "Mode 0"}));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(SettingsStoreTest, EmptySaveAsFolderWithoutPicturesFolderIsHomeNeverTheProgramFolder) {
    folders.pictures.reset();
    folders.home = "/home/someone";
    Load("[PIMO]\nSaveAsFolder=\n");
    EXPECT_EQ(options.SaveAsFolder, "/home/someone");
    folders.home.reset();
    options.SaveAsFolder.clear();
    Load("[PIMO]\nSaveAsFolder=\n");
    EXPECT_EQ(options.SaveAsFolder, "");
}

TEST_F(SettingsStoreTest, UnreadableValuesGiveTheCurrentValues) {
    settings.JPEGQuality = 42;
    options.LastUpdateCheck = 100;
    Load("[PIMO]\nJPEGQuality=high\nZoomFactor=1,5\nLastUpdateCheck=yesterday\nDualView=true\n");
    EXPECT_EQ(settings.JPEGQuality, 42);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "Settings: JPEGQuality=high is not a whole number; 42 is used instead\n"
              "Settings: ZoomFactor=1,5 is not a number; 1.2 is used instead\n"
              "Settings: LastUpdateCheck=yesterday is not a date; 1899-12-30 is used instead\n"
              "Settings: DualView=true is not a whole number; 1 is used instead");
    EXPECT_FLOAT_EQ(options.ZoomFactor, 1.2f);
    EXPECT_DOUBLE_EQ(options.LastUpdateCheck, 0.0);
    EXPECT_TRUE(window.DualView);
}

struct ConditionCase {
    const char* name;
    const char* text;
    std::function<void(const SettingsFields&)> check;
};

void PrintTo(const ConditionCase& c, std::ostream* out) {
    *out << c.name;
}

class ConditionalKeyTest : public SettingsStoreTest,
                           public testing::WithParamInterface<ConditionCase> {};

TEST_P(ConditionalKeyTest, IsReadOnlyWhenItsConditionHolds) {
    Load(std::string("[PIMO]\n") + GetParam().text);
    GetParam().check(fields);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConditionalKeyTest,
    testing::Values(
        ConditionCase{
            "ResolutionWhenAsking", "AskToResizeLargeImages=1\nLargeImagesResolution=7\n",
            [](const SettingsFields& f) { EXPECT_EQ(f.options.LargeImagesResolution, 7); }},
        ConditionCase{"ResolutionNotWhenNotAsking",
                      "AskToResizeLargeImages=0\nLargeImagesResolution=7\n",
                      [](const SettingsFields& f) {
                          EXPECT_FALSE(f.options.AskToResizeLargeImages);
                          EXPECT_EQ(f.options.LargeImagesResolution, 0);
                      }},
        ConditionCase{"SaveAsFolderWithClassicDialogs",
                      "UseLatestCommonDialogs=0\nSaveAsFolder=/srv/x\n",
                      [](const SettingsFields& f) { EXPECT_EQ(f.options.SaveAsFolder, "/srv/x"); }},
        ConditionCase{"SaveAsFolderNotWithLatestDialogs",
                      "UseLatestCommonDialogs=1\nSaveAsFolder=/srv/x\n",
                      [](const SettingsFields& f) {
                          EXPECT_TRUE(f.window.UseLatestCommonDialogs);
                          EXPECT_EQ(f.options.SaveAsFolder, "/home/someone/Pictures");
                      }},
        ConditionCase{"ApplyOptimizerWhenKept",
                      "PNGSaveApplyOptimizerState=1\nPNGApplyOptimizer=1\n",
                      [](const SettingsFields& f) { EXPECT_TRUE(f.settings.PNGApplyOptimizer); }},
        ConditionCase{"ApplyOptimizerNotWhenNotKept",
                      "PNGSaveApplyOptimizerState=0\nPNGApplyOptimizer=1\n",
                      [](const SettingsFields& f) { EXPECT_FALSE(f.settings.PNGApplyOptimizer); }},
        ConditionCase{
            "AdjustmentsWhenKept",
            "SaveImageAdjustments=1\nAdjustBrightness=5\nAdjustGamma=90\nAdjustInvert=1\n",
            [](const SettingsFields& f) {
                EXPECT_EQ(f.settings.AdjustBrightness, 5);
                EXPECT_EQ(f.settings.AdjustGamma, 90);
                EXPECT_TRUE(f.settings.AdjustInvert);
            }},
        ConditionCase{
            "AdjustmentsNotWhenNotKept",
            "SaveImageAdjustments=0\nAdjustBrightness=5\nAdjustGamma=90\nAdjustInvert=1\n",
            [](const SettingsFields& f) { EXPECT_TRUE(f.settings.AdjustmentsNeutral()); }},
        ConditionCase{"FastCompressionAlways",
                      "PNGSaveBestCompressionState=0\nPNGCompressionType=0\n",
                      [](const SettingsFields& f) { EXPECT_EQ(f.settings.PNGCompressionType, 0); }},
        ConditionCase{"SlowCompressionNotWhenNotKept",
                      "PNGSaveBestCompressionState=0\nPNGCompressionType=3\n",
                      [](const SettingsFields& f) { EXPECT_EQ(f.settings.PNGCompressionType, 1); }},
        ConditionCase{
            "SlowCompressionWhenKept", "PNGSaveBestCompressionState=1\nPNGCompressionType=3\n",
            [](const SettingsFields& f) { EXPECT_EQ(f.settings.PNGCompressionType, 3); }}),
    [](const testing::TestParamInfo<ConditionCase>& info) { return std::string(info.param.name); });

struct RangeCase {
    const char* line;
    std::function<int(const SettingsFields&)> field;
    int expected;
};

void PrintTo(const RangeCase& c, std::ostream* out) {
    *out << c.line;
}

class OutOfRangeTest : public SettingsStoreTest, public testing::WithParamInterface<RangeCase> {};

TEST_P(OutOfRangeTest, IsClampedOrSelectsNothing) {
    Load(std::string("[PIMO]\nSaveImageAdjustments=1\n") + GetParam().line + "\n");
    EXPECT_EQ(GetParam().field(fields), GetParam().expected) << GetParam().line;
    // One warning names the key, its stored value and the value used.
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, engine::MessageKind::Warning);
    const std::string& text = host.messages[0].text;
    EXPECT_EQ(text.rfind("Settings: " + std::string(GetParam().line) + " is outside ", 0), 0u)
        << text;
    EXPECT_TRUE(text.ends_with("; " + std::to_string(GetParam().expected) + " is used instead"))
        << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutOfRangeTest,
    testing::Values(
        // Scroll bars and spin edits clamp.
        RangeCase{"JPEGQuality=500", [](const SettingsFields& f) { return f.settings.JPEGQuality; },
                  100},
        RangeCase{"JPEGQuality=0", [](const SettingsFields& f) { return f.settings.JPEGQuality; },
                  1},
        RangeCase{"TransparencyThreshold=300",
                  [](const SettingsFields& f) { return f.settings.TransparencyThreshold; }, 254},
        RangeCase{"LargeImagesResolution=50",
                  [](const SettingsFields& f) { return f.options.LargeImagesResolution; }, 20},
        RangeCase{"AdjustGamma=0", [](const SettingsFields& f) { return f.settings.AdjustGamma; },
                  1},
        RangeCase{"AdjustContrast=-101",
                  [](const SettingsFields& f) { return f.settings.AdjustContrast; }, -100},
        RangeCase{"Format=5", [](const SettingsFields& f) { return f.settings.Format; }, 2},
        // Lists select nothing.
        RangeCase{"JPEGChromaSubsampling=4",
                  [](const SettingsFields& f) { return f.settings.JPEGChromaSubsampling; }, -1},
        RangeCase{"PNGPalettePreset=9",
                  [](const SettingsFields& f) { return f.settings.PNGPalettePreset; }, -1},
        RangeCase{"GIFPalettePreset=-2",
                  [](const SettingsFields& f) { return f.settings.GIFPalettePreset; }, -1},
        RangeCase{"PNGCompressionType=-3",
                  [](const SettingsFields& f) { return f.settings.PNGCompressionType; }, -1},
        // Any mode but the automatic ones is manual.
        RangeCase{"Mode=7",
                  [](const SettingsFields& f) { return engine::ModeNumber(f.settings.Mode); }, 3},
        RangeCase{"Mode=-1",
                  [](const SettingsFields& f) { return engine::ModeNumber(f.settings.Mode); }, 3}));

TEST_F(SettingsStoreTest, UnknownModeSelectsTheManualEntry) {
    RecordReactions();
    Load("[PIMO]\nMode=7\n");
    EXPECT_EQ(reactions.back(), "Mode 3");
}

TEST_F(SettingsStoreTest, ReadFailureSkipsTheRemainingStepsAndIsReported) {
    window.CaptionsOffReaction = [] {
        throw std::runtime_error("the toolbar could not be laid out");
    };
    bool modeSelected = false;
    window.ModeSelection = [&](engine::OptimizationMode) { modeSelected = true; };
    Load("[PIMO]\nJPEGQuality=33\nShowCaptions=0\nAutoRotateEXIF=1\nFitOnlyBig=0\nMode=3\n");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, engine::MessageKind::Warning);
    EXPECT_EQ(host.messages[0].buttons, engine::MessageButtons::Ok);
    EXPECT_EQ(host.messages[0].text,
              std::string(kReadFailed) + "the toolbar could not be laid out");
    EXPECT_EQ(settings.JPEGQuality, 33);  // before the failure
    EXPECT_FALSE(options.ShowCaptions);
    EXPECT_FALSE(options.AutoRotateEXIF);  // after it: unchanged
    EXPECT_TRUE(window.FitOnlyBig);
    EXPECT_EQ(settings.Mode, pimo::engine::OptimizationMode::FullAuto);
    EXPECT_FALSE(modeSelected);
    EXPECT_FALSE(window.SuppressSettingsEvents);
}

TEST_F(SettingsStoreTest, SaveWritesTheKeysInTheirOrder) {
    window.SaveImageAdjustments = true;
    options.PNGSaveApplyOptimizerState = true;
    options.SaveAsFolder = "/srv/photos";
    settings.Format = 2;
    settings.Mode = pimo::engine::OptimizationMode::Manual;
    settings.AdjustBrightness = -4;
    SaveSettings(store, fields, host);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(SectionKeys(store), kCloseOrder);
    EXPECT_EQ(store.ReadString("PIMO", "SaveAsFolder", ""), "/srv/photos");
    EXPECT_EQ(store.ReadString("PIMO", "AdjustBrightness", ""), "-4");
    EXPECT_EQ(store.ReadString("PIMO", "MetadataRemoveEXIF", ""), "1");
    EXPECT_EQ(store.ReadString("PIMO", "JPEGProgressive", ""), "0");
    // None of the options dialog's keys is written at close.
    EXPECT_FALSE(store.ValueExists("PIMO", "ZoomFactor"));
    EXPECT_FALSE(store.ValueExists("PIMO", "SaveSettingsOnExit"));
}

TEST_F(SettingsStoreTest, SaveLeavesOutTheKeysWhoseConditionFails) {
    settings.PNGCompressionType = 2;
    SaveSettings(store, fields, host);
    EXPECT_EQ(
        SectionKeys(store),
        Without(kCloseOrder, {"PNGCompressionType", "PNGApplyOptimizer", "AdjustBrightness",
                              "AdjustContrast", "AdjustGamma", "AdjustInvert", "AdjustGrayscale"}));
}

TEST_F(SettingsStoreTest, MaximizedWindowKeepsTheStoredNormalSize) {
    store.SetText("[PIMO]\nWidth=900\nHeight=650\n");
    window.WindowState = kWindowMaximized;
    window.Width = 1920;
    window.Height = 1050;
    window.Top = -8;
    window.Left = -8;
    SaveSettings(store, fields, host);
    EXPECT_EQ(store.ReadInteger("PIMO", "Width", 0), 900);
    EXPECT_EQ(store.ReadInteger("PIMO", "Height", 0), 650);
    EXPECT_EQ(store.ReadInteger("PIMO", "WindowState", 0), 2);
    EXPECT_EQ(store.ReadInteger("PIMO", "Top", 0), -8);
    EXPECT_EQ(store.ReadInteger("PIMO", "Left", 0), -8);
}

TEST_F(SettingsStoreTest, MinimizedWindowWritesNoPlacement) {
    window.WindowState = kWindowMinimized;
    SaveSettings(store, fields, host);
    EXPECT_EQ(SectionKeys(store).front(), "JPEGQuality");
}

TEST_F(SettingsStoreTest, NothingIsSavedWhenSaveSettingsOnExitIsOff) {
    store.SetText("[PIMO]\nJPEGQuality=60\n");
    options.SaveSettingsOnExit = false;
    settings.JPEGQuality = 90;
    SaveSettings(store, fields, host);
    EXPECT_EQ(store.Text(), "[PIMO]\nJPEGQuality=60\n\n");
}

TEST_F(SettingsStoreTest, WriteFailureStopsAtThatKeyAndIsReported) {
    options.SaveAsFolder = "/tmp/a\nb";  // a folder name with a line break cannot be stored
    SaveSettings(store, fields, host);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, engine::MessageKind::Error);
    EXPECT_EQ(host.messages[0].buttons, engine::MessageButtons::Ok);
    EXPECT_EQ(host.messages[0].text,
              std::string(kWriteFailed) + "The value of SaveAsFolder contains a line break");
    const std::vector<std::string> keys = SectionKeys(store);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.back(), "TransparencyThreshold");
}

TEST_F(SettingsStoreTest, RoundTripKeepsUnknownSectionsKeysAndValues) {
    const std::string original =
        "[Batch]\nOutputPath=/srv/out\nTaskResize=1\n"
        "[PIMO]\nFoo=bar\nJPEGQuality=60\nFormat=1\nUnknown=1,5\nline without equals\nMode=3\n"
        "[Custom Section]\nx = y\n";
    Load(original);
    SaveSettings(store, fields, host);

    std::vector<std::string> expected{"Foo",     "JPEGQuality",         "Format",
                                      "Unknown", "line without equals", "Mode"};
    for (const std::string& key : Without(
             kCloseOrder, {"JPEGQuality", "Format", "Mode", "PNGApplyOptimizer", "AdjustBrightness",
                           "AdjustContrast", "AdjustGamma", "AdjustInvert", "AdjustGrayscale"}))
        expected.push_back(key);
    EXPECT_EQ(SectionKeys(store), expected);
    const std::vector<std::string> lines = SectionLines(store);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (std::vector<std::string>{"Foo=bar", "JPEGQuality=60", "Format=1", "Unknown=1,5",
                                        "line without equals", "Mode=3"}));
    EXPECT_EQ(store.ReadSections(), (std::vector<std::string>{"Batch", "PIMO", "Custom Section"}));
    EXPECT_EQ(SectionLines(store, "Batch"),
              (std::vector<std::string>{"OutputPath=/srv/out", "TaskResize=1"}));
    EXPECT_EQ(SectionLines(store, "Custom Section"), (std::vector<std::string>{"x=y"}));

    // A second run reads what the first wrote and writes the same file.
    const std::string saved = store.Text();
    engine::OptimizationSettings settings2;
    engine::ProgramOptions options2;
    WindowSettings window2;
    SettingsFields fields2{settings2, options2, window2};
    store.SetText(saved);
    LoadSettings(store, fields2, folders, host);
    SaveSettings(store, fields2, host);
    EXPECT_EQ(store.Text(), saved);
    EXPECT_TRUE(host.messages.empty());
}

struct CompressionCase {
    const char* name;
    bool keepBest;
    int current;
    std::optional<int> storedBefore;
    std::optional<int> storedAfter;  // none: no key
    int nextStart;
};

void PrintTo(const CompressionCase& c, std::ostream* out) {
    *out << c.name;
}

class CompressionAtCloseTest : public SettingsStoreTest,
                               public testing::WithParamInterface<CompressionCase> {};

TEST_P(CompressionAtCloseTest, SlowEffortPersistsOnlyWhenKept) {
    const CompressionCase& c = GetParam();
    store.WriteBool("PIMO", "PNGSaveBestCompressionState",
                    c.keepBest);  // written by the options dialog
    if (c.storedBefore) store.WriteInteger("PIMO", "PNGCompressionType", *c.storedBefore);
    options.PNGSaveBestCompressionState = c.keepBest;
    settings.PNGCompressionType = c.current;
    SaveSettings(store, fields, host);
    EXPECT_EQ(store.ValueExists("PIMO", "PNGCompressionType"), c.storedAfter.has_value());
    if (c.storedAfter) {
        EXPECT_EQ(store.ReadInteger("PIMO", "PNGCompressionType", -9), *c.storedAfter);
    }

    engine::OptimizationSettings next;
    engine::ProgramOptions nextOptions;
    WindowSettings nextWindow;
    LoadSettings(store, {next, nextOptions, nextWindow}, folders, host);
    EXPECT_EQ(next.PNGCompressionType, c.nextStart);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompressionAtCloseTest,
    testing::Values(CompressionCase{"HighNotKept", false, 3, 0, 0, 0},
                    CompressionCase{"HighNotKeptNothingBefore", false, 3, {}, {}, 1},
                    CompressionCase{"StoredHighIgnoredWhileNotKept", false, 4, 3, 3, 1},
                    CompressionCase{"HighKept", true, 3, 0, 3, 3},
                    CompressionCase{"LowAlwaysWritten", false, 0, 3, 0, 0}),
    [](const testing::TestParamInfo<CompressionCase>& info) {
        return std::string(info.param.name);
    });

struct PlacementCase {
    const char* name;
    const char* text;
    int width, height, state, top, left;
};

void PrintTo(const PlacementCase& c, std::ostream* out) {
    *out << c.name;
}

class PlacementTest : public SettingsStoreTest,
                      public testing::WithParamInterface<PlacementCase> {};

TEST_P(PlacementTest, SizeStateAndPositionOnTheDesktop) {
    const PlacementCase& c = GetParam();
    window.DesktopWidth = 1920;
    window.DesktopHeight = 1080;
    window.Top = 100;  // where the platform put the window
    window.Left = 200;
    store.SetText(std::string("[PIMO]\nJPEGQuality=10\n") + c.text);
    LoadWindowPlacement(store, fields);
    EXPECT_EQ(window.Width, c.width);
    EXPECT_EQ(window.Height, c.height);
    EXPECT_EQ(window.WindowState, c.state);
    EXPECT_EQ(window.Top, c.top);
    EXPECT_EQ(window.Left, c.left);
    EXPECT_EQ(settings.JPEGQuality, 75);  // the rest waits for the start-up step
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementTest,
    testing::Values(
        PlacementCase{"Defaults", "", 792, 580, 0, 100, 200},
        PlacementCase{"Stored", "Width=1000\nHeight=700\nWindowState=2\nTop=-5\nLeft=30\n", 1000,
                      700, 2, -5, 30},
        PlacementCase{"BeyondTheDesktop", "Top=1080\nLeft=1920\n", 792, 580, 0, 100, 200},
        PlacementCase{"JustOnTheDesktop", "Top=1079\nLeft=1919\n", 792, 580, 0, 1079, 1919},
        PlacementCase{"Minimized", "WindowState=1\nTop=10\nLeft=10\n", 792, 580, 1, 100, 200},
        PlacementCase{"UnknownState", "WindowState=9\n", 792, 580, 0, 100, 200}),
    [](const testing::TestParamInfo<PlacementCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsStoreTest, OptionsDialogWritesItsKeysInOrderWithTheLocalesSeparator) {
    IniStore german(IniLocale{",", "dd.MM.yyyy"});
    options.SaveSettingsOnExit = false;  // the options are written whatever it says
    options.LargeImagesResolution = 4;
    options.ZoomFactor = 1.2f;
    options.LastUpdateCheck = 45306.5;
    EXPECT_EQ(SaveProgramOptions(german, fields), std::nullopt);
    EXPECT_EQ(
        german.Text(),
        "[PIMO]\nSaveSettingsOnExit=0\nShowCaptions=1\nAskToResizeLargeImages=1\n"
        "LargeImagesResolution=4\nZoomFactor=1,20000004768372\nAutoRotateEXIF=0\n"
        "Check4Updates=1\nLastUpdateCheck=15.01.2024\nPNGDefaultUseFastCompression=0\n"
        "PNGSaveBestCompressionState=0\nPNGSaveApplyOptimizerState=0\nShowQualityScore=1\n\n");

    // Read back, the single-precision factor is 1.2 again.
    options.ZoomFactor = 1.0f;
    LoadSettings(german, fields, folders, host);
    EXPECT_EQ(options.ZoomFactor, 1.2f);
    EXPECT_DOUBLE_EQ(options.LastUpdateCheck, 45306.0);
}

TEST_F(SettingsStoreTest, OptionsDialogKeepsTheResolutionWhenNotAsking) {
    store.SetText("[PIMO]\nLargeImagesResolution=9\n");
    options.AskToResizeLargeImages = false;
    options.LargeImagesResolution = 3;
    SaveProgramOptions(store, fields);
    EXPECT_EQ(store.ReadInteger("PIMO", "LargeImagesResolution", 0), 9);
    EXPECT_FALSE(store.ReadBool("PIMO", "AskToResizeLargeImages", true));
}

TEST(SettingsKeysTest, EachKeyIsDeclaredOnceAndWrittenAtMostOncePerOccasion) {
    std::set<std::string> names;
    for (const SettingsKey& key : SettingsKeys()) {
        std::string lower(key.key);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(names.insert(lower).second) << key.key;
    }
    for (auto list : {KeysWrittenAtClose(), KeysWrittenByOptions()}) {
        std::set<const SettingsKey*> seen(list.begin(), list.end());
        EXPECT_EQ(seen.size(), list.size());
    }
    EXPECT_EQ(FindSettingsKey("PNGOptimizer")->readAt, ReadPhase::PresetSetUp);
}

}  // namespace
}  // namespace pimo::settings
