// The optimizer presets: internal ones, custom ones from the external-tools
// file, the stored selection and the item list kept in step.

#include "optimizers/optimizer_presets.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/known_folders.h"
#include "settings/ini_store.h"
#include "settings/settings_files.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::optimizers {
namespace {

using settings::IniStore;

/// An open store with `text`, as after reading an existing file.
IniStore OpenStore(const test::TempDir& dir, const std::string& name, const std::string& text) {
    const std::filesystem::path path = dir.path() / name;
    if (!text.empty()) std::ofstream(path, std::ios::binary) << text;
    IniStore store;
    store.Open(path);
    return store;
}

class OptimizerPresetsTest : public testing::Test {
  protected:
    OptimizerPresets PresetsFrom(const std::string& toolsText, const std::string& settingsText) {
        const IniStore tools = OpenStore(dir, "Pimo-external-tools.ini", toolsText);
        const IniStore settingsFile = OpenStore(dir, "Pimo.ini", settingsText);
        return SetUpOptimizerPresets(tools, settingsFile, settings, [this] { ++customSelected; });
    }

    test::TempDir dir;
    engine::OptimizationSettings settings;
    int customSelected = 0;
};

TEST_F(OptimizerPresetsTest, MissingFileGivesTheThreeInternalPresetsAndSelectsTheFirst) {
    settings.PNGOptimizer = 2;  // whatever the record held before
    const OptimizerPresets presets = PresetsFrom("", "");
    ASSERT_EQ(presets.tools().Count(), 3);
    EXPECT_EQ(presets.internalPresetCount(), 3);
    EXPECT_EQ(presets.items().size(), 3u);
    EXPECT_EQ(settings.PNGOptimizer, 0);
    EXPECT_EQ(customSelected, 0);

    const TOptimizationTool& advpng = presets.tools().At(0);
    EXPECT_EQ(advpng, (TOptimizationTool{"", "advpng.exe", "-z -4 {IMAGE_FILE}", ""}));
    const TOptimizationTool& optipng = presets.tools().At(1);
    EXPECT_EQ(optipng.FileName, "optipng.exe");
    EXPECT_EQ(optipng.Params, "-o3 {IMAGE_FILE}");
    // Our copy lies on the product's site; a build without a site has none.
    if (kProductWebSite.empty()) {
        EXPECT_EQ(optipng.DownloadURL, "");
    } else {
        EXPECT_EQ(optipng.DownloadURL,
                  std::string(kProductWebSite) + "/_download/plugins/optipng.exe");
    }
    const TOptimizationTool& pngout = presets.tools().At(2);
    EXPECT_EQ(pngout.FileName, "pngout.exe");
    EXPECT_EQ(pngout.Params, "{IMAGE_FILE} /k1");
    EXPECT_EQ(pngout.DownloadURL.rfind("http://", 0), 0u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(presets.tools().At(i).Name.empty());
}

TEST_F(OptimizerPresetsTest, SectionsBecomeCustomPresetsInFileOrder) {
    const OptimizerPresets presets = PresetsFrom(
        "[Zopfli max]\nFileName=/usr/bin/zopflipng\nParams=-m {IMAGE_FILE} {IMAGE_FILE}\n"
        "[ECT]\nParams=-9 {IMAGE_FILE}\nFileName=ect\n",
        "");
    ASSERT_EQ(presets.tools().Count(), 5);
    EXPECT_EQ(presets.items(),
              (std::vector<std::string>{
                  std::string(kInternalPresetItems[0]), std::string(kInternalPresetItems[1]),
                  std::string(kInternalPresetItems[2]), "Zopfli max", "ECT"}));
    EXPECT_EQ(presets.tools().At(3), (TOptimizationTool{"Zopfli max", "/usr/bin/zopflipng",
                                                        "-m {IMAGE_FILE} {IMAGE_FILE}", ""}));
    EXPECT_EQ(presets.tools().At(4), (TOptimizationTool{"ECT", "ect", "-9 {IMAGE_FILE}", ""}));
    EXPECT_TRUE(presets.isInternal(2));
    EXPECT_FALSE(presets.isInternal(3));
}

TEST_F(OptimizerPresetsTest, MissingKeysGetTheirDefaults) {
    const OptimizerPresets presets = PresetsFrom("[Only file]\nFileName=tool.cmd\n[Nothing]\n", "");
    ASSERT_EQ(presets.tools().Count(), 5);
    EXPECT_EQ(presets.tools().At(3),
              (TOptimizationTool{"Only file", "tool.cmd", "{IMAGE_FILE}", ""}));
    EXPECT_EQ(presets.tools().At(4), (TOptimizationTool{"Nothing", "", "{IMAGE_FILE}", ""}));
}

struct SelectionCase {
    const char* name;
    const char* settingsText;
    int selected;
    bool customHandlerRuns;
};

void PrintTo(const SelectionCase& c, std::ostream* out) {
    *out << c.name;
}

class StoredSelectionTest : public OptimizerPresetsTest,
                            public testing::WithParamInterface<SelectionCase> {};

TEST_P(StoredSelectionTest, SelectsTheStoredPresetOrTheFirst) {
    // Four presets: the three internal ones and one custom preset.
    PresetsFrom("[Mine]\nFileName=mine.exe\n", GetParam().settingsText);
    EXPECT_EQ(settings.PNGOptimizer, GetParam().selected);
    EXPECT_EQ(customSelected, GetParam().customHandlerRuns ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredSelectionTest,
    testing::Values(SelectionCase{"NoKey", "", 0, false},
                    SelectionCase{"Internal", "[PIMO]\nPNGOptimizer=1\n", 1, false},
                    SelectionCase{"Custom", "[pimo]\npngoptimizer=3\n", 3, true},
                    SelectionCase{"BeyondTheList", "[PIMO]\nPNGOptimizer=7\n", 0, false},
                    SelectionCase{"JustBeyond", "[PIMO]\nPNGOptimizer=4\n", 0, false},
                    SelectionCase{"None", "[PIMO]\nPNGOptimizer=-1\n", 0, false},
                    SelectionCase{"Unreadable", "[PIMO]\nPNGOptimizer=optipng\n", 0, false}),
    [](const testing::TestParamInfo<SelectionCase>& info) { return std::string(info.param.name); });

TEST_F(OptimizerPresetsTest, StoreThatFailedToOpenGivesNoCustomPresets) {
    IniStore notOpen;
    notOpen.SetText("[Mine]\nFileName=mine.exe\n");
    IniStore settingsFile;
    settingsFile.SetText("[PIMO]\nPNGOptimizer=3\n");
    const OptimizerPresets presets = SetUpOptimizerPresets(notOpen, settingsFile, settings);
    EXPECT_EQ(presets.tools().Count(), 3);
    EXPECT_EQ(settings.PNGOptimizer, 0);
}

TEST_F(OptimizerPresetsTest, EditingKeepsPresetsAndItemsInStep) {
    OptimizerPresets presets =
        PresetsFrom("[A]\nFileName=a\n[B]\nFileName=b\n[C]\nFileName=c\n", "");
    presets.Remove(4);
    EXPECT_EQ(presets.tools().Count(), 5);
    EXPECT_EQ(presets.items().size(), 5u);
    EXPECT_EQ(presets.tools().At(4).Name, "C");
    EXPECT_EQ(presets.items()[4], "C");

    presets.Replace(3, {"A2", "a2", "{IMAGE_FILE}", ""});
    EXPECT_EQ(presets.tools().At(3).FileName, "a2");
    EXPECT_EQ(presets.items()[3], "A2");

    presets.Add({"D", "d", "{IMAGE_FILE}", ""});
    EXPECT_EQ(presets.items().back(), "D");
    EXPECT_EQ(presets.tools().At(5).Name, "D");

    // Internal presets never change; indexes outside the list change nothing.
    const std::vector<std::string> before = presets.items();
    presets.Remove(0);
    presets.Replace(1, {"X", "x", "", ""});
    presets.Remove(6);
    presets.Remove(-1);
    EXPECT_EQ(presets.items(), before);
    EXPECT_EQ(presets.tools().At(1).FileName, "optipng.exe");
    EXPECT_EQ(presets.tools().Count(), 6);
}

TEST(OptimizationToolsTest, CollectionOperations) {
    TOptimizationTools tools;
    tools.Add({"a", "1", "", ""});
    tools.Add({"b", "2", "", ""});
    tools.Add({"c", "3", "", ""});
    tools.Remove(1);
    ASSERT_EQ(tools.Count(), 2);
    EXPECT_EQ(tools.At(1).Name, "c");
    tools.Replace(0, {"z", "9", "p", "u"});
    EXPECT_EQ(tools.At(0), (TOptimizationTool{"z", "9", "p", "u"}));
    tools.Remove(2);
    tools.Replace(-1, {"y", "", "", ""});
    EXPECT_EQ(tools.Count(), 2);
    EXPECT_EQ(tools.At(0).Name, "z");
}

TEST(OptimizerPresetsStartUpTest, PresetsComeFromTheFilesTheStartUpOpened) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "program");
    std::ofstream(dir.path() / "program" / "Pimo-external-tools.ini")
        << "[Mine]\nFileName=mine.exe\n";
    std::ofstream(dir.path() / "program" / "Pimo.ini") << "[PIMO]\nPNGOptimizer=3\n";
    platform::FixedKnownFolders folders;
    folders.executable = dir.path() / "program";
    folders.localAppData = dir.path() / "appdata";
    test::FakeHost host;
    const settings::SettingsFiles files = settings::OpenSettingsFiles(folders, host);
    engine::OptimizationSettings settings;
    const OptimizerPresets presets =
        SetUpOptimizerPresets(files.externalTools, files.settings, settings);
    EXPECT_EQ(presets.items().back(), "Mine");
    EXPECT_EQ(settings.PNGOptimizer, 3);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "appdata"));
}

}  // namespace
}  // namespace pimo::optimizers
