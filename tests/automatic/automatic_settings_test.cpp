// Automatic settings: the proposal made from the analysis of a loaded image.
// Every image is made in code, written to a file and loaded through the
// engine, so the proposal starts from a real analysis.

#include "engine/automatic_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::FakeHost;
using test::TempDir;

// Exactly `count` distinct, non-grey colours, repeated over the pixels.
Bitmap DistinctColors(unsigned width, unsigned height, unsigned count) {
    return test::MakeRgb(width, height, [=](unsigned x, unsigned y) {
        const unsigned i = (y * width + x) % count;
        return RGBQUAD{static_cast<BYTE>(i & 0xFF), static_cast<BYTE>(i >> 8), 200, 0};
    });
}

// `levels` grey levels (at most 256).
Bitmap GreyLevels(unsigned width, unsigned height, unsigned levels) {
    return test::MakeRgb(width, height, [=](unsigned x, unsigned y) {
        const auto v = static_cast<BYTE>((y * width + x) % levels);
        return RGBQUAD{v, v, v, 0};
    });
}

// A logo: 11 opaque colours and one fully transparent colour (black).
Bitmap TransparentLogo() {
    return test::MakeRgba(24, 16, [](unsigned x, unsigned y) {
        if (x < 4) return RGBQUAD{0, 0, 0, 0};
        const auto i = static_cast<BYTE>((x + y) % 11);
        return RGBQUAD{static_cast<BYTE>(20 + i * 20), 90, 30, 255};
    });
}

// An icon with soft edges: 200 colours, some of them half transparent.
Bitmap SoftAlphaIcon() {
    return test::MakeRgba(20, 20, [](unsigned x, unsigned y) {
        const unsigned i = (y * 20 + x) % 200;
        return RGBQUAD{static_cast<BYTE>(i), 40, 90, static_cast<BYTE>(i % 3 == 0 ? 128 : 255)};
    });
}

// A photograph with a transparent border: thousands of colours and alpha.
Bitmap TransparentPhoto() {
    Bitmap photo = test::MakePhotoLike(64, 48);
    return test::MakeRgba(64, 48, [&](unsigned x, unsigned y) {
        RGBQUAD c = test::PixelAt(photo.get(), x, y);
        c.rgbReserved = x < 4 ? 0 : 255;
        return c;
    });
}

// The fields the automatic settings write, for comparing whole records.
auto WrittenFields(const OptimizationSettings& s) {
    return std::tuple(s.Format, s.JPEGQuality, s.JPEGChromaSubsampling, s.JPEGProgressive,
                      s.PNGPalettePreset, s.GIFPalettePreset, s.PNGMaxColors, s.GIFMaxColors,
                      s.ColorCountMaximum, s.PNGQuantizationMethod, s.GIFQuantizationMethod,
                      s.PNGCompressionType, s.GIFInterlaced, s.AdjustGrayscale, s.TransparencyMode);
}

class AutomaticSettingsTest : public ::testing::Test {
  protected:
    // Writes `bitmap` as `name` and loads it in manual mode, so that the test
    // alone decides when the automatic settings run.
    void Load(FIBITMAP* bitmap, const std::string& name = "source.png",
              FREE_IMAGE_FORMAT format = FIF_PNG, int flags = 0) {
        test::WriteFileBytes(m_dir.file(name), test::EncodeWithLibrary(format, bitmap, flags));
        m_engine.Interactive = false;
        m_engine.options.AutomaticPreview = false;
        m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file(name)));
    }

    OptimizationSettings& settings() { return m_engine.settings; }

    TempDir m_dir;
    FakeHost m_host;
    Engine m_engine{m_host};
};

// ---- the proposals of mode 0 ----

constexpr std::uint32_t kMany = 0;

struct ProposalCase {
    const char* name;
    std::function<Bitmap()> image;
    std::uint32_t uniqueColors;  // asserted first; kMany: more than 256
    int format;
    int pngPreset, gifPreset;
    int pngCount, gifCount;
    int pngQuantizer, gifQuantizer;
    int jpegQuality;
    TransparencyMode transparency;
    bool greyscale;
};

void PrintTo(const ProposalCase& c, std::ostream* os) {
    *os << c.name;
}

class ProposalTest : public AutomaticSettingsTest,
                     public ::testing::WithParamInterface<ProposalCase> {};

TEST_P(ProposalTest, ProposesFormatAndSettingsFromTheAnalysis) {
    const ProposalCase& c = GetParam();
    Bitmap image = c.image();
    Load(image.get());
    const std::uint32_t unique = m_engine.imageInfo.UniqueColors;
    if (c.uniqueColors == kMany) {
        ASSERT_GT(unique, 256u);
    } else {
        ASSERT_EQ(unique, c.uniqueColors);
    }

    // Values the proposal must overwrite, or (where a row expects them) keep.
    settings().Format = kFormatGif;
    settings().GIFPalettePreset = 1;  // "Optimal 128 Colors Palette"
    settings().PNGQuantizationMethod = 0;
    settings().GIFQuantizationMethod = 1;
    settings().JPEGQuality = 50;
    settings().TransparencyMode = TransparencyMode::Opaque;
    settings().AdjustGrayscale = !c.greyscale;
    settings().GIFInterlaced = true;

    ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);

    const OptimizationSettings& s = settings();
    EXPECT_EQ(s.Format, c.format);
    EXPECT_EQ(s.PNGPalettePreset, c.pngPreset);
    EXPECT_EQ(s.GIFPalettePreset, c.gifPreset);
    EXPECT_EQ(s.PNGMaxColors, c.pngCount);
    EXPECT_EQ(s.GIFMaxColors, c.gifCount);
    EXPECT_EQ(s.PNGQuantizationMethod, c.pngQuantizer);
    EXPECT_EQ(s.GIFQuantizationMethod, c.gifQuantizer);
    EXPECT_EQ(s.JPEGQuality, c.jpegQuality);
    EXPECT_EQ(s.TransparencyMode, c.transparency);
    EXPECT_EQ(s.AdjustGrayscale, c.greyscale);
    EXPECT_FALSE(s.GIFInterlaced);
    EXPECT_EQ(s.ColorCountMaximum, static_cast<int>(std::min(256u, unique)));
}

constexpr int JPEG = kFormatJpeg, PNG = kFormatPng;
constexpr auto Keep = TransparencyMode::Keep, Solid = TransparencyMode::SolidColor,
               Opaque = TransparencyMode::Opaque;

INSTANTIATE_TEST_SUITE_P(
    Images, ProposalTest,
    ::testing::Values(
        // Photograph from a PNG (source quality unknown): JPEG at 80, NeuQuant;
        // the JPEG format cannot keep transparency, so SolidColor.
        ProposalCase{"photograph", [] { return test::MakePhotoLike(64, 48); }, kMany, JPEG, 0, 0,
                     256, 256, 1, 1, 80, Solid, false},
        ProposalCase{"graphic_40_colours", [] { return DistinctColors(32, 32, 40); }, 40, PNG, 2, 1,
                     40, 40, 0, 0, 75, Opaque, false},
        ProposalCase{"logo_one_transparent_colour", TransparentLogo, 12, PNG, 3, 2, 12, 12, 0, 0,
                     75, Keep, false},
        // Soft alpha: true-colour PNG; the GIF preset and both quantizers are
        // left as they were (the GIF count follows its preset, 128).
        ProposalCase{"icon_soft_alpha", SoftAlphaIcon, 200, PNG, 0, 1, 200, 128, 0, 1, 75, Keep,
                     false},
        // A grey photograph keeps its grey levels in an exact palette; only a
        // bilevel image is proposed the dithered one-bit preset.
        ProposalCase{"greyscale_photograph", [] { return GreyLevels(64, 32, 256); }, 256, PNG, 1, 0,
                     256, 256, 0, 0, 70, Opaque, true},
        ProposalCase{"greyscale_12_levels", [] { return GreyLevels(16, 16, 12); }, 12, PNG, 3, 2,
                     12, 12, 0, 0, 70, Opaque, true},
        ProposalCase{"bilevel_scan", [] { return GreyLevels(16, 16, 2); }, 2, PNG, 4, 3, 2, 2, 0, 0,
                     70, Opaque, true},
        ProposalCase{"exactly_256_colours", [] { return DistinctColors(32, 32, 256); }, 256, PNG, 1,
                     0, 256, 256, 0, 0, 75, Opaque, false},
        ProposalCase{"257_colours", [] { return DistinctColors(32, 32, 257); }, 257, JPEG, 0, 0,
                     256, 256, 1, 1, 80, Solid, false},
        // Transparency wins over the photograph: PNG true colour, quality 80.
        ProposalCase{"transparent_photograph", TransparentPhoto, kMany, PNG, 0, 0, 256, 256, 1, 1,
                     80, Keep, false},
        // Boundaries of the Optimal presets.
        ProposalCase{"16_colours", [] { return DistinctColors(16, 16, 16); }, 16, PNG, 3, 2, 16, 16,
                     0, 0, 75, Opaque, false},
        ProposalCase{"17_colours", [] { return DistinctColors(16, 16, 17); }, 17, PNG, 2, 1, 17, 17,
                     0, 0, 75, Opaque, false},
        ProposalCase{"128_colours", [] { return DistinctColors(16, 16, 128); }, 128, PNG, 2, 1, 128,
                     128, 0, 0, 75, Opaque, false},
        ProposalCase{"129_colours", [] { return DistinctColors(16, 16, 129); }, 129, PNG, 1, 0, 129,
                     129, 0, 0, 75, Opaque, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- JPEG quality from the source file ----

struct SourceQualityCase {
    const char* name;
    int savedQuality;  // 0: saved as PNG, quality unknown
    int expected;
};

class SourceQualityTest : public AutomaticSettingsTest,
                          public ::testing::WithParamInterface<SourceQualityCase> {};

TEST_P(SourceQualityTest, KeepsALowerSourceQualityAndCapsAt80) {
    const SourceQualityCase& c = GetParam();
    Bitmap photo = test::MakePhotoLike(96, 64);
    if (c.savedQuality > 0) {
        Load(photo.get(), "photo.jpg", FIF_JPEG, c.savedQuality);
        ASSERT_NEAR(imagelib::FreeImage_GetJPEGQuality(m_engine.SourceBitmap.get()), c.savedQuality,
                    1);
    } else {
        Load(photo.get());
        ASSERT_EQ(imagelib::FreeImage_GetJPEGQuality(m_engine.SourceBitmap.get()), 0);
    }
    ASSERT_GT(m_engine.imageInfo.UniqueColors, 256u);

    ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);
    EXPECT_EQ(settings().Format, kFormatJpeg);
    // The detected quality may be off by one; the proposal uses what was detected.
    const int detected = imagelib::FreeImage_GetJPEGQuality(m_engine.SourceBitmap.get());
    EXPECT_EQ(settings().JPEGQuality, c.expected == 80 ? 80 : detected);
    EXPECT_NEAR(settings().JPEGQuality, c.expected, 1);
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceQualityTest,
                         ::testing::Values(SourceQualityCase{"quality_92", 92, 80},
                                           SourceQualityCase{"quality_65", 65, 65},
                                           SourceQualityCase{"unknown", 0, 80}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- progressive encoding and chroma subsampling ----

TEST_F(AutomaticSettingsTest, ProgressiveOnlyAbove60000Pixels) {
    struct Case {
        unsigned width, height;
        bool progressive;
    };
    for (const Case c : {Case{300, 200, false}, Case{301, 200, true}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Bitmap image = DistinctColors(c.width, c.height, 40);
        Load(image.get());
        settings().JPEGProgressive = !c.progressive;
        ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);
        EXPECT_EQ(settings().JPEGProgressive, c.progressive);
    }
}

TEST_F(AutomaticSettingsTest, SubsamplingFollowsTheTruncatedColourDensity) {
    struct Case {
        unsigned colors;  // over 100 x 100 pixels: colours / 100 is the density in percent
        int subsampling;
    };
    for (const Case c : {Case{500, 0}, Case{590, 0}, Case{1500, 1}, Case{1600, 2}}) {
        SCOPED_TRACE(c.colors);
        Bitmap image = DistinctColors(100, 100, c.colors);
        Load(image.get());
        ASSERT_EQ(m_engine.imageInfo.UniqueColors, c.colors);
        settings().JPEGChromaSubsampling = 3;
        ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);
        EXPECT_EQ(settings().JPEGChromaSubsampling, c.subsampling);
    }
}

// ---- modes ----

struct ExtensionCase {
    const char* fileName;  // the content is always a PNG: the extension alone decides
    bool photograph;       // else a 40-colour graphic
    bool transparent;      // a transparent logo instead
    int format;
    TransparencyMode transparency;
};

TEST_F(AutomaticSettingsTest, KeepFormatModeTakesTheFormatFromTheLowerCasedExtension) {
    const ExtensionCase cases[] = {
        {"graphic.JPG", false, false, kFormatJpeg, Solid},
        {"graphic.jpeg", false, false, kFormatJpeg, Solid},
        {"photo.Png", true, false, kFormatPng, Opaque},
        {"photo.gif", true, false, kFormatGif, Opaque},
        // Another extension keeps the recommended format.
        {"photo.bmp", true, false, kFormatJpeg, Solid},
        {"graphic.tiff", false, false, kFormatPng, Opaque},
        // Transparency asks for PNG, but the extension wins and JPEG drops it.
        {"logo.jpg", false, true, kFormatJpeg, Solid},
    };
    for (const ExtensionCase& c : cases) {
        SCOPED_TRACE(c.fileName);
        Bitmap image = c.transparent  ? TransparentLogo()
                       : c.photograph ? test::MakePhotoLike(48, 32)
                                      : DistinctColors(16, 16, 40);
        Load(image.get(), c.fileName);
        settings().Format = c.format == kFormatGif ? kFormatPng : kFormatGif;
        settings().TransparencyMode = Opaque;
        ChooseAutomaticSettings(m_engine, OptimizationMode::AutoKeepFormat);
        EXPECT_EQ(settings().Format, c.format);
        EXPECT_EQ(settings().TransparencyMode, c.transparency);
    }
}

TEST_F(AutomaticSettingsTest, KeepFormatModeWithoutAFileKeepsTheRecommendedFormat) {
    // A pasted image has no file and so no extension.
    m_engine.Interactive = false;
    m_engine.options.AutomaticPreview = false;
    m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
    m_engine.SourceBitmap = DistinctColors(16, 16, 40);
    m_engine.SourceFormat = imagelib::kFormatPastedBitmap;
    m_engine.OpenLoadedImage("", false, false);
    ASSERT_EQ(m_engine.SourcePath, "Untitled");
    settings().Format = kFormatJpeg;
    ChooseAutomaticSettings(m_engine, OptimizationMode::AutoKeepFormat);
    EXPECT_EQ(settings().Format, kFormatPng);
}

TEST_F(AutomaticSettingsTest, UserFormatModeKeepsTheFormatAndAdaptsTheSettings) {
    Bitmap photo = test::MakePhotoLike(64, 48);
    Load(photo.get());
    settings().Format = kFormatGif;
    settings().JPEGQuality = 30;
    settings().GIFPalettePreset = 2;
    ChooseAutomaticSettings(m_engine, OptimizationMode::AutoUserFormat);
    EXPECT_EQ(settings().Format, kFormatGif);
    EXPECT_EQ(settings().JPEGQuality, 80);
    EXPECT_EQ(settings().GIFPalettePreset, 0);
    EXPECT_EQ(settings().GIFMaxColors, 256);
}

TEST_F(AutomaticSettingsTest, UserFormatModeNeverKeepsTransparencyForJpeg) {
    Bitmap logo = TransparentLogo();
    Load(logo.get());
    struct Case {
        int format;
        TransparencyMode expected;
    };
    for (const Case c :
         {Case{kFormatJpeg, Solid}, Case{kFormatPng, Keep}, Case{kFormatGif, Keep}}) {
        SCOPED_TRACE(c.format);
        settings().Format = c.format;
        settings().TransparencyMode = Opaque;
        ChooseAutomaticSettings(m_engine, OptimizationMode::AutoUserFormat);
        EXPECT_EQ(settings().Format, c.format);
        EXPECT_EQ(settings().TransparencyMode, c.expected);
    }
}

TEST_F(AutomaticSettingsTest, CompressionTypeIsRaisedToMediumOnly) {
    Bitmap image = DistinctColors(16, 16, 40);
    Load(image.get());
    const std::pair<int, int> cases[] = {{0, 2}, {1, 2}, {2, 2}, {3, 3}, {4, 4}};
    for (const auto& [before, after] : cases) {
        settings().PNGCompressionType = before;
        ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);
        EXPECT_EQ(settings().PNGCompressionType, after) << "from " << before;
    }
}

TEST_F(AutomaticSettingsTest, ManualModeAndMissingAnalysisChangeNothing) {
    // No image at all.
    const auto untouched = WrittenFields(settings());
    ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);
    EXPECT_EQ(WrittenFields(settings()), untouched);

    // A loaded image in manual mode.
    Bitmap photo = test::MakePhotoLike(64, 48);
    Load(photo.get());
    settings().Format = kFormatGif;
    settings().PNGCompressionType = 0;
    const auto loaded = WrittenFields(settings());
    ChooseAutomaticSettings(m_engine, OptimizationMode::Manual);
    EXPECT_EQ(WrittenFields(settings()), loaded);

    // An image whose analysis found nothing.
    AutomaticInputs inputs = AutomaticInputsOf(m_engine);
    ASSERT_GT(inputs.UniqueColors, 0u);
    inputs.UniqueColors = 0;
    ChooseAutomaticSettings(settings(), inputs, OptimizationMode::FullAuto);
    EXPECT_EQ(WrittenFields(settings()), loaded);

    // The same inputs with their analysis do propose something.
    ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);
    EXPECT_NE(WrittenFields(settings()), loaded);
}

TEST_F(AutomaticSettingsTest, RunningTwiceGivesTheSameProposal) {
    // The load sequence runs the proposal in an automatic mode, and the mode
    // menu may run it again for the same image: nothing may drift.
    Bitmap logo = SoftAlphaIcon();
    Load(logo.get());
    ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);
    const auto first = WrittenFields(settings());
    ChooseAutomaticSettings(m_engine, OptimizationMode::FullAuto);
    EXPECT_EQ(WrittenFields(settings()), first);
}

// ---- the record's part of the panel reactions ----

TEST(PresetReactionTest, OptimalPresetsSetTheirCountClampedToTheMaximum) {
    struct Case {
        int pngPreset, gifPreset, maximum, pngCount, gifCount;
    };
    const Case cases[] = {
        {1, 0, 256, 256, 256},
        {2, 1, 256, 128, 128},
        {3, 2, 256, 16, 16},
        {1, 0, 40, 40, 40},
        {3, 2, 12, 12, 12},
        // True colour, dithered and no selection leave the counts (77); the
        // GIF list has no true-colour entry, and -1 sets nothing.
        {0, 3, 256, 77, 77},
        {4, -1, 256, 77, 77},
    };
    for (const Case& c : cases) {
        OptimizationSettings s;
        s.SetColorCountMaximum(c.maximum);
        s.PNGMaxColors = std::min(77, c.maximum);
        s.GIFMaxColors = std::min(77, c.maximum);
        s.PNGPalettePreset = c.pngPreset;
        s.GIFPalettePreset = c.gifPreset;
        ApplyPngPresetColorCount(s);
        ApplyGifPresetColorCount(s);
        EXPECT_EQ(s.PNGMaxColors, c.pngCount)
            << "PNG preset " << c.pngPreset << ", maximum " << c.maximum;
        EXPECT_EQ(s.GIFMaxColors, c.gifCount)
            << "GIF preset " << c.gifPreset << ", maximum " << c.maximum;
    }
}

TEST(FormatReactionTest, JpegSelectsSolidColour) {
    for (const TransparencyMode mode : {Keep, Solid, Opaque}) {
        OptimizationSettings s;
        s.TransparencyMode = mode;
        s.Format = kFormatPng;
        ApplyFormatToSettings(s);
        EXPECT_EQ(s.TransparencyMode, mode);
        s.Format = kFormatGif;
        ApplyFormatToSettings(s);
        EXPECT_EQ(s.TransparencyMode, mode);
        s.Format = kFormatJpeg;
        ApplyFormatToSettings(s);
        EXPECT_EQ(s.TransparencyMode, Solid);
    }
}

TEST(FormatOfExtensionTest, NamesTheFormatOfTheLastExtension) {
    const std::pair<const char*, int> cases[] = {
        {"a.jpg", kFormatJpeg},
        {"C:\\Pictures\\A.JPEG", kFormatJpeg},
        {"/home/u/x.PnG", kFormatPng},
        {"x.gif", kFormatGif},
        {"x.png.bak", -1},
        {"x.jpe", -1},
        {"noextension", -1},
        {"folder.jpg/file", -1},
        {"folder.png\\file", -1},
        {"Untitled", -1},
        {"", -1},
    };
    for (const auto& [path, format] : cases) EXPECT_EQ(FormatOfExtension(path), format) << path;
}

}  // namespace
}  // namespace pimo::engine
