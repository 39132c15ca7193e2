// The optimization pipeline: the working copy, the adjustments, the size
// notice, and transparency in palette outputs.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <utility>

#include "engine/color_adjustments.h"
#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/transparency.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::Bytes;
using test::FakeHost;
using test::TempDir;

// Left half: invisible pixels stored black; right half: opaque blue-ish.
Bitmap TransparentSource() {
    return test::MakeRgba(8, 4, [](unsigned x, unsigned) {
        return x < 4 ? RGBQUAD{0, 0, 0, 0} : RGBQUAD{200, 100, 50, 255};
    });
}

class PipelineTest : public ::testing::Test {
  protected:
    // Manual mode: each test sets the settings it checks.
    PipelineTest() { m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual; }

    // A source loaded from a PNG file (so it is a normalised engine source).
    void LoadSource(FIBITMAP* bitmap, bool interactive = false) {
        test::WriteFileBytes(m_dir.file("source.png"), test::EncodeWithLibrary(FIF_PNG, bitmap, 0));
        m_engine.options.AutomaticPreview = false;
        m_engine.Interactive = interactive;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("source.png")));
        m_host.balloons.clear();
    }

    TempDir m_dir;
    FakeHost m_host;
    Engine m_engine{m_host};
};

struct WorkingCopyCase {
    const char* name;
    int format;
    int pngPreset;
    TransparencyMode mode;
    unsigned expectedBpp;
    RGBQUAD expectedInvisiblePixel;  // alpha ignored for 24 bits
};

void PrintTo(const WorkingCopyCase& c, std::ostream* os) {
    *os << c.name;
}

class WorkingCopyTest : public PipelineTest,
                        public ::testing::WithParamInterface<WorkingCopyCase> {};

TEST_P(WorkingCopyTest, BuildsBlendCloneOrConversion) {
    const WorkingCopyCase& c = GetParam();
    auto source = TransparentSource();
    LoadSource(source.get());
    ASSERT_EQ(::FreeImage_GetBPP(m_engine.SourceBitmap.get()), 32u);
    m_engine.settings.Format = c.format;
    m_engine.settings.PNGPalettePreset = c.pngPreset;
    m_engine.settings.TransparencyMode = c.mode;
    m_engine.settings.BackgroundColor = Rgb{255, 255, 255};
    m_engine.settings.MetadataRemoveComments = false;
    EXPECT_GT(m_engine.OptimizeImage(""), 0u);
    // Not interactive: the working bitmap is the one that was encoded.
    ASSERT_TRUE(m_engine.WorkingBitmap);
    FIBITMAP* working = m_engine.WorkingBitmap.get();
    EXPECT_EQ(::FreeImage_GetBPP(working), c.expectedBpp);
    if (c.format != kFormatJpeg) {
        const RGBQUAD invisible = test::PixelAt(working, 0, 0);
        EXPECT_EQ(invisible.rgbRed, c.expectedInvisiblePixel.rgbRed);
        EXPECT_EQ(invisible.rgbGreen, c.expectedInvisiblePixel.rgbGreen);
        EXPECT_EQ(invisible.rgbBlue, c.expectedInvisiblePixel.rgbBlue);
        if (c.expectedBpp == 32) {
            EXPECT_EQ(invisible.rgbReserved, 0);
        }
        const RGBQUAD visible = test::PixelAt(working, 6, 1);
        EXPECT_EQ(visible.rgbRed, 50);
        EXPECT_EQ(visible.rgbBlue, 200);
    }
    EXPECT_FALSE(m_engine.PipelineBusy);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WorkingCopyTest,
    ::testing::Values(
        WorkingCopyCase{
            "PngTrueColorKeepClones32", kFormatPng, 0, TransparencyMode::Keep, 32, {0, 0, 0, 0}},
        WorkingCopyCase{"PngTrueColorSolidBlends",
                        kFormatPng,
                        0,
                        TransparencyMode::SolidColor,
                        24,
                        {255, 255, 255, 0}},
        WorkingCopyCase{"PngTrueColorOpaqueConverts",
                        kFormatPng,
                        0,
                        TransparencyMode::Opaque,
                        24,
                        {0, 0, 0, 0}},
        WorkingCopyCase{
            "PngNoPresetDropsAlpha", kFormatPng, -1, TransparencyMode::Keep, 24, {0, 0, 0, 0}},
        WorkingCopyCase{"JpegSolidBlends",
                        kFormatJpeg,
                        -1,
                        TransparencyMode::SolidColor,
                        24,
                        {255, 255, 255, 0}}),
    [](const ::testing::TestParamInfo<WorkingCopyCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(PipelineTest, JpegBlendShowsTheBackgroundWhereItWasTransparent) {
    auto source = TransparentSource();
    LoadSource(source.get(), true);
    m_engine.settings.Format = kFormatJpeg;
    m_engine.settings.TransparencyMode = TransparencyMode::SolidColor;
    m_engine.settings.BackgroundColor = Rgb{255, 0, 0};
    m_engine.OptimizeImage("");
    ASSERT_TRUE(m_engine.WorkingBitmap);  // interactive: the decoded JPEG
    const RGBQUAD pixel = test::PixelAt(m_engine.WorkingBitmap.get(), 0, 0);
    EXPECT_GT(pixel.rgbRed, 230);
    EXPECT_LT(pixel.rgbGreen, 30);
}

TEST_F(PipelineTest, OpaqueSourceWithSolidColorIsNotBlended) {
    auto source = test::MakeRgb(6, 6, [](unsigned x, unsigned) {
        return RGBQUAD{BYTE(x * 30), 9, 9, 0};
    });
    LoadSource(source.get());
    m_engine.settings.Format = kFormatPng;
    m_engine.settings.PNGPalettePreset = 0;
    m_engine.settings.TransparencyMode = TransparencyMode::SolidColor;
    m_engine.OptimizeImage("");
    ASSERT_TRUE(m_engine.WorkingBitmap);
    EXPECT_EQ(::FreeImage_GetBPP(m_engine.WorkingBitmap.get()), 24u);
    EXPECT_EQ(test::PixelAt(m_engine.WorkingBitmap.get(), 5, 0).rgbBlue, 150);
}

TEST(ColorAdjustmentsTest, NeutralValuesDoNotCallTheLibrary) {
    auto bitmap = test::MakeRgb(4, 4, [](unsigned x, unsigned) {
        return RGBQUAD{BYTE(x * 40), 100, 100, 0};
    });
    OptimizationSettings settings;
    EXPECT_FALSE(ApplyColorAdjustments(bitmap.get(), settings));
    EXPECT_EQ(test::PixelAt(bitmap.get(), 1, 0).rgbBlue, 40);

    const auto changed = [&](auto edit) {
        OptimizationSettings s;
        edit(s);
        auto copy = test::MakeRgb(4, 4, [](unsigned x, unsigned) {
            return RGBQUAD{BYTE(x * 40), 100, 100, 0};
        });
        const bool called = ApplyColorAdjustments(copy.get(), s);
        return called && test::PixelAt(copy.get(), 1, 0).rgbGreen != 100;
    };
    EXPECT_TRUE(changed([](OptimizationSettings& s) { s.AdjustBrightness = 30; }));
    EXPECT_TRUE(changed([](OptimizationSettings& s) { s.AdjustContrast = 50; }));
    EXPECT_TRUE(changed([](OptimizationSettings& s) { s.AdjustGamma = 200; }));
    EXPECT_TRUE(changed([](OptimizationSettings& s) { s.AdjustInvert = true; }));
}

// ---- the larger-result notice ----

struct BalloonCase {
    const char* name;
    int outputFormat;
    int sizeOffset;  // source size = result size + offset
    bool shown;
    bool described;
};

void PrintTo(const BalloonCase& c, std::ostream* os) {
    *os << c.name;
}

class BalloonTest : public PipelineTest, public ::testing::WithParamInterface<BalloonCase> {};

TEST_P(BalloonTest, ShownOnlyWhenLargerAndNamesTheSourceFormatWhenOther) {
    const BalloonCase& c = GetParam();
    auto photo = test::MakePhotoLike(48, 32);
    test::WriteFileBytes(m_dir.file("photo.jpg"),
                         test::EncodeWithLibrary(FIF_JPEG, photo.get(), 80));
    m_engine.options.AutomaticPreview = false;
    ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("photo.jpg")));
    m_engine.settings.Format = c.outputFormat;
    const std::uint32_t size = m_engine.OptimizeImage("");
    m_engine.SourceFileSize = static_cast<std::uint32_t>(static_cast<int>(size) + c.sizeOffset);
    m_host.balloons.clear();
    EXPECT_EQ(m_engine.OptimizeImage(""), size);
    ASSERT_EQ(m_host.balloons.size(), c.shown ? 1u : 0u);
    if (!c.shown) return;
    EXPECT_EQ(m_host.balloons[0].title, "Current settings did not reduced size");
    EXPECT_EQ(m_host.balloons[0].timeoutMs, 4000);
    EXPECT_EQ(m_host.balloons[0].description, c.described
                                                  ? "It is recommended to keep the original format "
                                                    "(JPEG) \nor change current format settings\n"
                                                  : "");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BalloonTest,
    ::testing::Values(BalloonCase{"LargerSameFormat", kFormatJpeg, -1, true, false},
                      BalloonCase{"LargerOtherFormat", kFormatPng, -1, true, true},
                      BalloonCase{"Equal", kFormatPng, 0, false, false},
                      BalloonCase{"Smaller", kFormatJpeg, 1, false, false}),
    [](const ::testing::TestParamInfo<BalloonCase>& info) { return std::string(info.param.name); });

TEST_F(PipelineTest, PreviewShowsSizeAndStatusAndReleasesTheResultBitmap) {
    auto photo = test::MakePhotoLike(64, 48);
    LoadSource(photo.get(), true);
    m_engine.settings.Format = kFormatJpeg;
    m_engine.PreviewImage();
    EXPECT_FALSE(m_engine.ResultStale);
    EXPECT_TRUE(m_engine.ResultUnsaved);
    EXPECT_FALSE(m_engine.WorkingBitmap);
    const Bytes result = imagelib::StreamBytes(m_engine.ResultStream.get());
    EXPECT_EQ(m_host.resultSizeHint, std::to_string(result.size()) + " bytes");
    EXPECT_TRUE(m_host.resultSmaller);  // a JPEG of a photo is smaller than its PNG
    EXPECT_EQ(m_host.statusByPanel[2].back(), "Optimized: 24 bit JPEG image");
    EXPECT_EQ(m_host.statusTexts.back(), "Ready");
}

TEST_F(PipelineTest, NothingHappensWithoutSourceOrWhenNotInteractive) {
    EXPECT_EQ(m_engine.OptimizeImage(""), 0u);
    m_engine.PreviewImage();
    EXPECT_EQ(m_host.callCount(), 0);
    auto photo = test::MakePhotoLike(16, 16);
    LoadSource(photo.get(), false);
    m_engine.PreviewImage();
    EXPECT_FALSE(m_engine.ResultStream);
}

TEST_F(PipelineTest, WriteResultToFileWritesTheStreamBytesUnchanged) {
    auto photo = test::MakePhotoLike(64, 48);
    LoadSource(photo.get(), true);
    m_engine.PreviewImage();
    const Bytes result = imagelib::StreamBytes(m_engine.ResultStream.get());
    ASSERT_TRUE(m_engine.WriteResultToFile(m_dir.file("saved.jpg"), true));
    EXPECT_EQ(test::ReadFileBytes(m_dir.file("saved.jpg")), result);

    // A stale result is re-encoded first.
    m_engine.settings.JPEGQuality = 10;
    m_engine.ResultStale = true;
    ASSERT_TRUE(m_engine.WriteResultToFile(m_dir.file("saved.jpg"), true));
    EXPECT_LT(test::ReadFileBytes(m_dir.file("saved.jpg")).size(), result.size());

    // A failed write reports and leaves nothing behind.
    m_host.messages.clear();
    EXPECT_FALSE(m_engine.WriteResultToFile(m_dir.file("no-such-folder/saved.jpg"), true));
    EXPECT_EQ(m_host.messages.size(), 1u);
    EXPECT_FALSE(m_engine.WriteResultToFile(m_dir.file("no-such-folder/saved.jpg"), false));
    EXPECT_EQ(m_host.messages.size(), 1u);
}

// ---- transparency in palette outputs ----

struct ThresholdCase {
    unsigned bpp;
    int threshold;
};

class PaletteTransparencyTest : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(PaletteTransparencyTest, MarksPixelsAtOrBelowTheThreshold) {
    const auto [bpp, threshold] = GetParam();
    const BYTE alphas[6] = {0, 1, 127, 128, 254, 255};
    auto source = test::MakeRgba(6, 1, [&](unsigned x, unsigned) {
        return RGBQUAD{1, 2, 3, alphas[x]};
    });
    Bitmap working(::FreeImage_Allocate(6, 1, static_cast<int>(bpp)));
    ApplyPaletteTransparency(source.get(), working.get(), threshold);

    const unsigned entries = 1u << bpp;
    ASSERT_EQ(::FreeImage_GetTransparencyCount(working.get()), entries);
    const BYTE* table = ::FreeImage_GetTransparencyTable(working.get());
    for (unsigned i = 0; i + 1 < entries; ++i) EXPECT_EQ(table[i], 255);
    EXPECT_EQ(table[entries - 1], 0);
    for (unsigned x = 0; x < 6; ++x) {
        BYTE index = 0;
        ::FreeImage_GetPixelIndex(working.get(), x, 0, &index);
        EXPECT_EQ(index, alphas[x] <= threshold ? entries - 1 : 0u) << "alpha " << int(alphas[x]);
    }
}

INSTANTIATE_TEST_SUITE_P(DepthsAndThresholds, PaletteTransparencyTest,
                         ::testing::Values(ThresholdCase{1, 0}, ThresholdCase{1, 127},
                                           ThresholdCase{1, 254}, ThresholdCase{4, 0},
                                           ThresholdCase{4, 127}, ThresholdCase{4, 254},
                                           ThresholdCase{8, 0}, ThresholdCase{8, 127},
                                           ThresholdCase{8, 254}));

TEST(PaletteTransparencyTest, OpaqueSourceOrOtherDepthIsLeftAlone) {
    auto opaque = test::MakeRgb(2, 2, [](unsigned, unsigned) { return RGBQUAD{0, 0, 0, 0}; });
    Bitmap working(::FreeImage_Allocate(2, 2, 8));
    ApplyPaletteTransparency(opaque.get(), working.get(), 127);
    EXPECT_EQ(::FreeImage_GetTransparencyCount(working.get()), 0u);
    auto transparent = test::MakeRgba(2, 2, [](unsigned, unsigned) { return RGBQUAD{0, 0, 0, 0}; });
    Bitmap trueColor(::FreeImage_Allocate(2, 2, 24));
    ApplyPaletteTransparency(transparent.get(), trueColor.get(), 127);
    EXPECT_FALSE(::FreeImage_IsTransparent(trueColor.get()));
}

TEST(SimplificationIndicatorTest, Rule) {
    struct Row {
        int format, preset;
        bool originalAlpha, onlyFull, current, expected;
    };
    const Row rows[] = {
        {kFormatPng, 0, true, false, false, false},  // true colour keeps alpha
        {kFormatPng, 1, true, true, false, true},    // real alpha into a palette
        {kFormatPng, 3, false, false, false, true},  // partial transparency into a palette
        {kFormatPng, 3, false, true, true, false},   // one transparent colour: nothing lost
        {kFormatPng, -1, false, true, true, false},
        {kFormatGif, 0, true, true, false, true},
        {kFormatGif, 0, false, false, true, false},
        {kFormatJpeg, 0, true, false, true, true},  // JPEG leaves it as it was
        {kFormatJpeg, 0, true, false, false, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(
            SimplifiesTransparency(r.format, r.preset, r.originalAlpha, r.onlyFull, r.current),
            r.expected)
            << "format " << r.format << " preset " << r.preset;
    }
}

// Commands that arrive while the window pumps events during a long call (the
// user pressing Save, Open or Rotate while a preview runs) are refused: the
// running pipeline finishes with the bitmaps it started with.
class ReenteringHost : public FakeHost {
  public:
    std::function<void()> command;
    void setMainWindowEnabled(bool enabled) override {
        FakeHost::setMainWindowEnabled(enabled);
        if (!enabled && command) std::exchange(command, nullptr)();
    }
};

struct ReentryCase {
    const char* name;
    // Runs the command inside the preview; returns whether it was refused.
    bool (*command)(Engine& engine, const std::string& folder);
};

void PrintTo(const ReentryCase& c, std::ostream* os) {
    *os << c.name;
}

const ReentryCase kReentryCases[] = {
    {"Save",
     [](Engine& e, const std::string& folder) {
         return !e.WriteResultToFile(folder + "/written.png", true);
     }},
    {"Open",
     [](Engine& e, const std::string& folder) { return !e.LoadImageFile(folder + "/source.png"); }},
    {"Unload",
     [](Engine& e, const std::string&) { return e.UnloadImage(), e.SourceBitmap != nullptr; }},
    {"Rotate",
     [](Engine& e, const std::string&) {
         e.Rotate(Rotation::Right);
         return ::FreeImage_GetWidth(e.SourceBitmap.get()) == 8;
     }},
    {"Resample",
     [](Engine& e, const std::string&) {
         e.ResampleImage(4, 2, true, false, false, 0);
         return ::FreeImage_GetWidth(e.SourceBitmap.get()) == 8;
     }},
    {"Optimize", [](Engine& e, const std::string&) { return e.OptimizeImage("") == 0; }},
};

class ReentryTest : public ::testing::TestWithParam<ReentryCase> {};

TEST_P(ReentryTest, CommandDuringAPreviewIsRefused) {
    TempDir dir;
    ReenteringHost host;
    Engine engine(host);
    engine.settings.Mode = OptimizationMode::Manual;
    engine.settings.Format = kFormatPng;
    engine.options.AutomaticPreview = false;
    Bitmap source = test::MakePhotoLike(8, 6);
    test::WriteFileBytes(dir.file("source.png"), test::EncodeWithLibrary(FIF_PNG, source.get(), 0));
    ASSERT_TRUE(engine.LoadImageFile(dir.file("source.png")));

    bool refused = false;
    host.command = [&] { refused = GetParam().command(engine, dir.path().string()); };
    engine.PreviewImage();
    EXPECT_TRUE(refused);
    ASSERT_TRUE(engine.SourceBitmap);
    EXPECT_EQ(::FreeImage_GetWidth(engine.SourceBitmap.get()), 8u);
    EXPECT_TRUE(engine.ResultStream);
    EXPECT_FALSE(engine.ResultStale);
    EXPECT_FALSE(std::filesystem::exists(dir.file("written.png")));
    // Once the preview has ended, the same commands work again.
    EXPECT_TRUE(engine.WriteResultToFile(dir.file("written.png"), true));
}

INSTANTIATE_TEST_SUITE_P(Commands, ReentryTest, ::testing::ValuesIn(kReentryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pimo::engine
