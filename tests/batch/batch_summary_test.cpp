// The texts of a batch run: the closing totals and the description of the
// settings it applies.

#include "batch/batch_summary.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "batch/batch_runner.h"
#include "engine/engine.h"
#include "engine/open_filter.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::batch {
namespace {

BatchEntryResult Entry(std::int64_t before, std::uint32_t after, bool failed = false,
                       bool skipped = false) {
    BatchEntryResult result;
    result.OriginalSize = before;
    result.ResultSize = after;
    result.Failed = failed;
    result.Skipped = skipped;
    return result;
}

struct TotalsCase {
    const char* name;
    std::vector<BatchEntryResult> entries;
    const char* text;
};

void PrintTo(const TotalsCase& c, std::ostream* os) {
    *os << c.name;
}

class TotalsTest : public ::testing::TestWithParam<TotalsCase> {};

TEST_P(TotalsTest, SummaryTextCountsFilesAndBytes) {
    BatchTotals totals;
    for (const BatchEntryResult& entry : GetParam().entries) totals.Add(entry);
    EXPECT_EQ(BatchSummaryText(totals), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TotalsTest,
    ::testing::Values(
        TotalsCase{"Nothing",
                   {},
                   "0 file(s) processed, 0 failed, 0 skipped; 0 bytes before, 0 bytes after, "
                   "0.00% saved"},
        // A failed entry counts as processed but adds no bytes; a skipped one
        // is neither.
        TotalsCase{
            "Mixed",
            {Entry(1000, 600), Entry(3000, 2400), Entry(500, 0, true), Entry(-1, 0, false, true)},
            "3 file(s) processed, 1 failed, 1 skipped; 4000 bytes before, 3000 bytes "
            "after, 25.00% saved"},
        TotalsCase{"Grew",
                   {Entry(300, 400)},
                   "1 file(s) processed, 0 failed, 0 skipped; 300 bytes before, 400 bytes "
                   "after, -33.33% saved"},
        // Sizes past 4 GiB in total do not wrap.
        TotalsCase{"Large",
                   {Entry(3'000'000'000, 1'500'000'000), Entry(3'000'000'000, 1'500'000'000)},
                   "2 file(s) processed, 0 failed, 0 skipped; 6000000000 bytes before, "
                   "3000000000 bytes after, 50.00% saved"}));

TEST(BatchSummaryRunTest, ARunAddsUpItsFiles) {
    test::TempDir dir;
    const test::Bitmap photo = test::MakePhotoLike(64, 48);
    const std::string source = dir.file("photo.jpg");
    test::WriteFileBytes(source, test::EncodeWithLibrary(FIF_JPEG, photo.get(), 95));
    test::WriteFileBytes(dir.file("notes.txt"), {1, 2, 3});
    BatchJob job;
    job.settings.Mode = pimo::engine::OptimizationMode::Manual;
    job.settings.JPEGQuality = 40;
    job.options.OutputPath = dir.file("out");
    std::filesystem::create_directory(job.options.OutputPath);
    job.readableExtensions = engine::ReadableExtensions(engine::OptimizationMode::Manual);
    test::FakeHost host;
    engine::Engine engine(host);
    BatchItems items{{source, ""}, {dir.file("notes.txt"), ""}};

    const BatchRunSummary summary = RunBatch(engine, items, job);

    EXPECT_EQ(summary.totals.processed, 1u);
    EXPECT_EQ(summary.totals.skipped, 1u);
    EXPECT_EQ(summary.totals.bytesBefore, std::filesystem::file_size(source));
    EXPECT_EQ(summary.totals.bytesAfter, std::filesystem::file_size(dir.file("out/photo.jpg")));
    EXPECT_GT(summary.totals.SavedPercent(), 0.0);
}

struct DescriptionCase {
    const char* name;
    std::function<void(engine::OptimizationSettings&)> set;
    const char* optimizer;
    const char* text;
};

void PrintTo(const DescriptionCase& c, std::ostream* os) {
    *os << c.name;
}

class DescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(DescriptionTest, NamesFormatAndSettings) {
    engine::OptimizationSettings settings;
    settings.Mode = pimo::engine::OptimizationMode::Manual;
    GetParam().set(settings);
    EXPECT_EQ(RunDescription(settings, GetParam().optimizer), GetParam().text);
}

using S = engine::OptimizationSettings;

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptionTest,
    ::testing::Values(
        DescriptionCase{"JpegDefaults", [](S&) {}, "", "JPEG, quality 75, 4:2:0, standard"},
        DescriptionCase{"JpegProgressive",
                        [](S& s) {
                            s.JPEGQuality = 90;
                            s.JPEGChromaSubsampling = 0;
                            s.JPEGProgressive = true;
                        },
                        "", "JPEG, quality 90, 4:4:4, progressive"},
        DescriptionCase{"PngPalette",
                        [](S& s) {
                            s.Format = engine::kFormatPng;
                            s.PNGPalettePreset = 3;
                            s.PNGMaxColors = 16;
                            s.PNGQuantizationMethod = 1;
                            s.PNGCompressionType = 4;
                        },
                        "", "PNG, 16 colors, NeuQuant, highest compression"},
        DescriptionCase{"PngWithOptimizer",
                        [](S& s) {
                            s.Format = engine::kFormatPng;
                            s.PNGPalettePreset = 0;
                            s.PNGApplyOptimizer = true;
                        },
                        "OptiPNG o3", "PNG, true color, low compression, then OptiPNG o3"},
        DescriptionCase{"PngOptimizerNotApplied",
                        [](S& s) {
                            s.Format = engine::kFormatPng;
                            s.PNGPalettePreset = 4;
                        },
                        "OptiPNG o3", "PNG, dithered monochrome, low compression"},
        DescriptionCase{"GifAdjusted",
                        [](S& s) {
                            s.Format = engine::kFormatGif;
                            s.GIFMaxColors = 64;
                            s.GIFInterlaced = true;
                            s.AdjustGrayscale = true;
                            s.AdjustGamma = 120;
                        },
                        "", "GIF, 64 colors, Wu, interlaced, grayscale, colors adjusted"},
        DescriptionCase{"AutomaticMode",
                        [](S& s) { s.Mode = pimo::engine::OptimizationMode::FullAuto; }, "",
                        "Automatic: format and settings chosen for each image"},
        DescriptionCase{"UsersFormat",
                        [](S& s) {
                            s.Mode = pimo::engine::OptimizationMode::AutoUserFormat;
                            s.Format = engine::kFormatGif;
                        },
                        "", "GIF, settings chosen for each image"}));

}  // namespace
}  // namespace pimo::batch
