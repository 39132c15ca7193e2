#include "batch/batch_settings.h"

#include <gtest/gtest.h>

#include <functional>

#include "settings/ini_store.h"
#include "tests/support/test_images.h"

namespace pimo::batch {
namespace {

using settings::IniLocale;
using settings::IniStore;

IniStore StoreWith(std::string_view text, IniLocale locale = {}) {
    IniStore store(locale);
    store.SetText(text);
    return store;
}

TEST(ReadBatchSettingsTest, AnEmptySectionGivesTheDefaults) {
    const BatchOptions options = ReadBatchSettings(StoreWith(""));
    EXPECT_EQ(options, BatchOptions{});
    EXPECT_TRUE(options.BackupOnOverwrite);
    EXPECT_FALSE(options.OverwriteExistingFiles);
}

TEST(ReadBatchSettingsTest, ReadsEveryKeyWithoutRegardToCase) {
    const BatchOptions options =
        ReadBatchSettings(StoreWith("[batch]\ntaskrotate=1\nRotateAngle=2\nROTATEDIRECTION="
                                    "1\nTaskFlip=1\nFlipType=1\nTaskResize=1\n"
                                    "ResizeWidth=640\nResizeHeight=0\nTaskCompressToSize="
                                    "1\nSizeThreshold=12.5\nOverwriteExistingFiles=1\n"
                                    "DeleteOriginalFiles=1\nKeepOriginalDateTime="
                                    "1\nSaveInOriginalFolder=1\nBackupOnOverwrite=0\n"
                                    "OutputPath=/home/me/out\n"));
    EXPECT_TRUE(options.TaskRotate);
    EXPECT_EQ(options.RotateAngle, 2);
    EXPECT_EQ(options.RotateDirection, 1);
    EXPECT_TRUE(options.TaskFlip);
    EXPECT_EQ(options.FlipType, 1);
    EXPECT_TRUE(options.TaskResize);
    EXPECT_EQ(options.ResizeWidth, 640);
    EXPECT_EQ(options.ResizeHeight, 0);
    EXPECT_TRUE(options.TaskCompressToSize);
    EXPECT_EQ(options.SizeThreshold, "12.5");
    EXPECT_TRUE(options.OverwriteExistingFiles);
    EXPECT_TRUE(options.DeleteOriginalFiles);
    EXPECT_TRUE(options.KeepOriginalDateTime);
    EXPECT_TRUE(options.SaveInOriginalFolder);
    EXPECT_FALSE(options.BackupOnOverwrite);
    EXPECT_EQ(options.OutputPath, "/home/me/out");
}

TEST(ReadBatchSettingsTest, SizesAndThresholdAreFilledOnlyForTasksThatAreOn) {
    const BatchOptions options = ReadBatchSettings(
        StoreWith("[Batch]\nTaskResize=0\nResizeWidth=640\nResizeHeight=480\nTaskCompressToSize=0\n"
                  "SizeThreshold=12.5\nTaskRotate=0\nRotateAngle=2\n"));
    EXPECT_EQ(options.ResizeWidth, 0);
    EXPECT_EQ(options.ResizeHeight, 0);
    EXPECT_EQ(options.SizeThreshold, "");
    EXPECT_EQ(options.RotateAngle, 2);  // the controls of a hidden panel are filled all the same
}

TEST(ReadBatchSettingsTest, TheThresholdIsShownInTheLocaleNumberFormat) {
    const IniLocale comma{",", "dd.MM.yyyy"};
    EXPECT_EQ(
        ReadBatchSettings(StoreWith("[Batch]\nTaskCompressToSize=1\nSizeThreshold=1,5\n", comma))
            .SizeThreshold,
        "1,5");
    EXPECT_EQ(ReadBatchSettings(StoreWith("[Batch]\nTaskCompressToSize=1\nSizeThreshold=abc\n"))
                  .SizeThreshold,
              "0");
}

TEST(ApplyResampleSettingsTest, TakesFilterAndAspectAndSetsPercentOnlyWhenTheUnitIsPercent) {
    engine::OptimizationSettings settings;
    settings.ResampleFilter = 4;
    settings.ResampleKeepAspectRatio = false;
    settings.ResampleUnit = 0;
    BatchOptions options;
    options.ResizePercent = true;
    ApplyResampleSettings(options, settings);
    EXPECT_EQ(options.ResizeFilter, 4);
    EXPECT_FALSE(options.ResizeKeepAspect);
    EXPECT_TRUE(options.ResizePercent);  // pixels leave the unit alone
    options.ResizePercent = false;
    settings.ResampleUnit = 1;
    ApplyResampleSettings(options, settings);
    EXPECT_TRUE(options.ResizePercent);
}

TEST(WriteBatchSettingsTest, WritesEveryKeyOfTasksThatAreOnAndReadsBackTheSame) {
    BatchOptions options;
    options.TaskRotate = true;
    options.RotateAngle = 1;
    options.RotateDirection = 1;
    options.TaskFlip = true;
    options.FlipType = 1;
    options.TaskResize = true;
    options.ResizeWidth = 50;
    options.ResizeHeight = 50;
    options.ResizePercent = true;
    options.ResizeKeepAspect = false;
    options.ResizeFilter = 3;
    options.TaskCompressToSize = true;
    options.SizeThreshold = "1.5";
    options.OverwriteExistingFiles = true;
    options.KeepOriginalDateTime = true;
    options.BackupOnOverwrite = false;
    options.OutputPath = "/out";
    IniStore store;
    engine::OptimizationSettings settings;
    WriteBatchSettings(store, options, settings);
    EXPECT_EQ(store.Text(),
              "[Batch]\nTaskRotate=1\nRotateAngle=1\nRotateDirection=1\nTaskFlip=1\nFlipType="
              "1\nTaskResize=1\n"
              "ResizeWidth=50\nResizeHeight=50\nTaskCompressToSize=1\nSizeThreshold=1.5\n"
              "OverwriteExistingFiles=1\nDeleteOriginalFiles=0\nKeepOriginalDateTime="
              "1\nSaveInOriginalFolder=0\n"
              "BackupOnOverwrite=0\nOutputPath=/out\n\n");
    // A kept resize task becomes the main window's resample choice.
    EXPECT_EQ(settings.ResampleFilter, 3);
    EXPECT_EQ(settings.ResampleUnit, 1);
    EXPECT_FALSE(settings.ResampleKeepAspectRatio);

    BatchOptions read = ReadBatchSettings(store);
    // The resize unit, aspect and filter come from the main window, not from the section.
    read.ResizePercent = options.ResizePercent;
    read.ResizeKeepAspect = options.ResizeKeepAspect;
    read.ResizeFilter = options.ResizeFilter;
    EXPECT_EQ(read, options);
}

TEST(WriteBatchSettingsTest, TasksWithoutUsableValuesAreWrittenOffWithoutTheirKeys) {
    BatchOptions options;
    options.TaskResize = true;  // visible, but no size
    options.TaskCompressToSize = true;
    options.SizeThreshold = "abc";
    IniStore store;
    engine::OptimizationSettings settings;
    settings.ResampleFilter = 5;
    WriteBatchSettings(store, options, settings);
    EXPECT_EQ(store.ReadString("Batch", "TaskResize", "?"), "0");
    EXPECT_EQ(store.ReadString("Batch", "TaskCompressToSize", "?"), "0");
    EXPECT_EQ(store.ReadString("Batch", "TaskRotate", "?"), "0");
    for (const char* key : {"ResizeWidth", "ResizeHeight", "SizeThreshold", "RotateAngle",
                            "RotateDirection", "FlipType"}) {
        EXPECT_FALSE(store.ValueExists("Batch", key)) << key;
    }
    EXPECT_EQ(settings.ResampleFilter, 5);
    // The next opening shows neither panel.
    const BatchOptions read = ReadBatchSettings(store);
    EXPECT_FALSE(read.TaskResize);
    EXPECT_FALSE(read.TaskCompressToSize);
}

struct KeptCase {
    bool visible;
    int width, height, filter;
    const char* threshold;
    bool resizeKept, compressKept;
};

class TaskKeptTest : public ::testing::TestWithParam<KeptCase> {};

TEST_P(TaskKeptTest, ResizeNeedsASizeAndAFilterCompressNeedsANonZeroNumber) {
    const KeptCase& c = GetParam();
    BatchOptions options;
    options.TaskResize = options.TaskCompressToSize = c.visible;
    options.ResizeWidth = c.width;
    options.ResizeHeight = c.height;
    options.ResizeFilter = c.filter;
    options.SizeThreshold = c.threshold;
    EXPECT_EQ(ResizeTaskKept(options), c.resizeKept);
    EXPECT_EQ(CompressToSizeTaskKept(options, "."), c.compressKept);
}

INSTANTIATE_TEST_SUITE_P(Cases, TaskKeptTest,
                         ::testing::Values(KeptCase{true, 640, 0, 1, "12", true, true},
                                           KeptCase{true, 0, 480, 0, "0.5", true, true},
                                           KeptCase{true, 0, 0, 1, "0", false, false},
                                           KeptCase{true, 640, 480, -1, "", false, false},
                                           KeptCase{true, 640, 480, 1, "1,5", true, false},
                                           KeptCase{false, 640, 480, 1, "12", false, false}));

TEST(BatchSettingsFileTest, EveryKeyGoesThroughTheFileAndComesBackTheSame) {
    test::TempDir dir;
    const std::filesystem::path file = dir.path() / "Pimo.ini";
    BatchOptions options;
    options.TaskRotate = options.TaskFlip = options.TaskResize = true;
    options.TaskCompressToSize = true;
    options.RotateAngle = 2;
    options.RotateDirection = 1;
    options.FlipType = 1;
    options.ResizeWidth = 65535;  // the largest side
    options.ResizeHeight = 480;
    options.SizeThreshold = "0,25";
    options.OverwriteExistingFiles = options.DeleteOriginalFiles = true;
    options.KeepOriginalDateTime = options.SaveInOriginalFolder = true;
    options.BackupOnOverwrite = false;
    options.OutputPath = "/srv/out put";
    const IniLocale comma{",", "dd.MM.yyyy"};
    {
        IniStore store(comma);
        store.Open(file);
        store.WriteInteger("PIMO", "JPEGQuality", 80);  // the section beside it stays
        engine::OptimizationSettings settings;
        WriteBatchSettings(store, options, settings);
        store.UpdateFile();
    }
    IniStore store(comma);
    store.Open(file);
    // Every key of the table is in the file.
    for (const BatchKey& key : BatchKeys())
        EXPECT_TRUE(store.ValueExists(kBatchSection, key.key)) << key.key;
    settings::SettingsWarnings warnings;
    BatchOptions read = ReadBatchSettings(store, &warnings);
    EXPECT_TRUE(warnings.empty());
    read.ResizeFilter = options.ResizeFilter;  // these three come from the main window
    read.ResizePercent = options.ResizePercent;
    read.ResizeKeepAspect = options.ResizeKeepAspect;
    EXPECT_EQ(read, options);
    EXPECT_EQ(store.ReadInteger("PIMO", "JPEGQuality", 0), 80);
}

struct BatchWarningCase {
    const char* name;
    const char* text;  // lines of section "Batch"
    std::vector<std::string> warnings;
    std::function<void(const BatchOptions&)> check;
};

void PrintTo(const BatchWarningCase& c, std::ostream* out) {
    *out << c.name;
}

class BatchValueWarningTest : public ::testing::TestWithParam<BatchWarningCase> {};

TEST_P(BatchValueWarningTest, BadValuesAreReplacedAndReported) {
    settings::SettingsWarnings warnings;
    const BatchOptions options =
        ReadBatchSettings(StoreWith(std::string("[Batch]\n") + GetParam().text), &warnings);
    EXPECT_EQ(warnings, GetParam().warnings);
    GetParam().check(options);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchValueWarningTest,
    ::testing::Values(
        BatchWarningCase{"AngleAboveTheList",
                         "TaskRotate=1\nRotateAngle=5\n",
                         {"Settings: RotateAngle=5 is outside 0..2; 2 is used instead"},
                         [](const BatchOptions& o) { EXPECT_EQ(o.RotateAngle, 2); }},
        BatchWarningCase{"FlipBelowTheList",
                         "FlipType=-1\n",
                         {"Settings: FlipType=-1 is outside 0..1; 0 is used instead"},
                         [](const BatchOptions& o) { EXPECT_EQ(o.FlipType, 0); }},
        BatchWarningCase{"WidthTooLarge",
                         "TaskResize=1\nResizeWidth=70000\n",
                         {"Settings: ResizeWidth=70000 is outside 0..65535; 65535 is used instead"},
                         [](const BatchOptions& o) { EXPECT_EQ(o.ResizeWidth, 65535); }},
        BatchWarningCase{"HeightNotANumber",
                         "TaskResize=1\nResizeHeight=tall\n",
                         {"Settings: ResizeHeight=tall is not a whole number; 0 is used instead"},
                         [](const BatchOptions& o) { EXPECT_EQ(o.ResizeHeight, 0); }},
        BatchWarningCase{"SizesOfAHiddenTaskAreNotRead",
                         "TaskResize=0\nResizeWidth=70000\n",
                         {},
                         [](const BatchOptions& o) { EXPECT_EQ(o.ResizeWidth, 0); }},
        BatchWarningCase{"NegativeThreshold",
                         "TaskCompressToSize=1\nSizeThreshold=-5\n",
                         {"Settings: SizeThreshold=-5 is outside 0..1000000000; 0 is used instead"},
                         [](const BatchOptions& o) { EXPECT_EQ(o.SizeThreshold, "0"); }},
        BatchWarningCase{"ThresholdNotANumber",
                         "TaskCompressToSize=1\nSizeThreshold=big\n",
                         {"Settings: SizeThreshold=big is not a number; 0 is used instead"},
                         [](const BatchOptions& o) { EXPECT_EQ(o.SizeThreshold, "0"); }},
        BatchWarningCase{
            "FlagNotANumber",
            "BackupOnOverwrite=yes\nTaskFlip=on\n",
            {"Settings: TaskFlip=on is not a whole number; 0 is used instead",
             "Settings: BackupOnOverwrite=yes is not a whole number; 1 is used instead"},
            [](const BatchOptions& o) {
                EXPECT_TRUE(o.BackupOnOverwrite);
                EXPECT_FALSE(o.TaskFlip);
            }}),
    [](const ::testing::TestParamInfo<BatchWarningCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
}  // namespace pimo::batch
