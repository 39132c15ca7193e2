// Compress to size: the binary search over the quality or the colour count,
// each probe a real pipeline run, and the interactive command around it.

#include "engine/compress_to_size.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"
#include "util/pimoutil.h"

namespace pimo::engine {
namespace {

using test::FakeHost;
using test::TempDir;

constexpr const char* kNotReachedTitle = "Could not obtain the desired filesize";

// Exactly `count` distinct colours, in blocks so that palettes compress.
Bitmap BlockColors(unsigned width, unsigned height, unsigned count) {
    return test::MakeRgb(width, height, [=](unsigned x, unsigned y) {
        const unsigned i = (y / 4 * width + x / 4) % count;
        return RGBQUAD{static_cast<BYTE>(i * 6), static_cast<BYTE>(255 - i * 5),
                       static_cast<BYTE>(i * 3), 0};
    });
}

class CompressToSizeTest : public ::testing::Test {
  protected:
    // Loads `bitmap` from a PNG file, quietly; the test turns Interactive on
    // where it wants the host to hear from the engine.
    void Load(FIBITMAP* bitmap) {
        test::WriteFileBytes(m_dir.file("source.png"), test::EncodeWithLibrary(FIF_PNG, bitmap, 0));
        m_engine.Interactive = false;
        m_engine.options.AutomaticPreview = false;
        m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("source.png")));
    }

    void LoadPhoto() {
        Bitmap photo = test::MakePhotoLike(160, 120);
        Load(photo.get());
        m_engine.settings.Format = kFormatJpeg;
    }

    // The size one pipeline run gives for `value` of `setting`.
    std::uint32_t SizeAt(SizeSetting setting, int value) {
        SettingField(m_engine.settings, setting) = value;
        return m_engine.OptimizeImage("");
    }

    // A text query that answers `answer` and records each question.
    TextQuery Answer(std::optional<std::string> answer) {
        return [this, answer](const std::string& caption, const std::string& prompt,
                              const std::string& initial) {
            m_questions.push_back(caption + "|" + prompt + "|" + initial);
            return answer;
        };
    }

    int ProcessingCount() const {
        return static_cast<int>(
            std::count(m_host.statusTexts.begin(), m_host.statusTexts.end(), "Processing..."));
    }

    TempDir m_dir;
    FakeHost m_host;
    Engine m_engine{m_host};
    std::vector<std::string> m_questions;
};

// ---- the search itself ----

TEST(SearchSettingTest, FindsTheLargestFittingValueWithinTheProbeBound) {
    struct Case {
        SettingRange range;
        int bound;  // probes a binary search needs at most
    };
    for (const Case c : {Case{{1, 100}, 7}, Case{{2, 256}, 8}, Case{{2, 40}, 6}}) {
        SCOPED_TRACE(c.range.maximum);
        int mostProbes = 0;
        // Sizes 1000 per step; every target from below the smallest to above the largest.
        for (std::int64_t target = 0; target <= 1000 * (c.range.maximum + 1); target += 250) {
            std::vector<int> probed;
            const SizeSearch search = SearchSetting(target, c.range, [&](int value) {
                probed.push_back(value);
                return static_cast<std::uint32_t>(1000 * value);
            });
            const int expected =
                target < 1000 * c.range.minimum
                    ? 0
                    : static_cast<int>(std::min<std::int64_t>(target / 1000, c.range.maximum));
            ASSERT_EQ(search.best, expected) << "target " << target;
            ASSERT_EQ(search.probes, static_cast<int>(probed.size()));
            for (const int value : probed) {
                ASSERT_GE(value, c.range.minimum);
                ASSERT_LE(value, c.range.maximum);
            }
            mostProbes = std::max(mostProbes, search.probes);
        }
        EXPECT_EQ(mostProbes, c.bound);
    }
}

TEST(SearchSettingTest, ASizeEqualToTheTargetFits) {
    const SizeSearch search =
        SearchSetting(5000, {1, 100}, [](int v) { return static_cast<std::uint32_t>(v * 100); });
    EXPECT_EQ(search.best, 50);
}

TEST(SearchSettingTest, NegativeTargetFitsNothing) {
    const SizeSearch search = SearchSetting(-1, {1, 100}, [](int) { return 0u; });
    EXPECT_EQ(search.best, 0);
}

// ---- the search over real pipeline runs ----

TEST_F(CompressToSizeTest, QualitySearchLandsOnTheLastQualityAtOrUnderTheTarget) {
    LoadPhoto();
    std::vector<std::uint32_t> sizes(101);
    for (int q = 1; q <= 100; ++q) sizes[q] = SizeAt(SizeSetting::JPEGQuality, q);
    // The image behaves like a photograph: the size grows with the quality.
    for (int q = 2; q <= 100; ++q) ASSERT_GE(sizes[q], sizes[q - 1]) << "quality " << q;
    ASSERT_LT(sizes[62], sizes[63]);
    ASSERT_LT(sizes[1], sizes[100]);

    const std::int64_t targets[] = {
        (sizes[62] + sizes[63]) / 2,  // between 62 and 63
        sizes[62],                    // exactly the size at 62
        sizes[30] + 1,
        sizes[90],
        sizes[100],
        sizes[100] + 1000,
    };
    for (const std::int64_t target : targets) {
        SCOPED_TRACE(target);
        const SizeSearch search = SearchSizeSetting(m_engine, target, SizeSetting::JPEGQuality);
        EXPECT_LE(search.probes, 7);
        ASSERT_GE(search.best, 1);
        // The found quality fits, and the next one does not.
        EXPECT_LE(SizeAt(SizeSetting::JPEGQuality, search.best), target);
        if (search.best < 100) {
            EXPECT_GT(SizeAt(SizeSetting::JPEGQuality, search.best + 1), target);
        }
    }
    EXPECT_EQ(FindSizeSetting(m_engine, (sizes[62] + sizes[63]) / 2, SizeSetting::JPEGQuality), 62);
}

TEST_F(CompressToSizeTest, SearchLeavesTheLastProbedValueAndAsksNothing) {
    LoadPhoto();
    const int callsBefore = m_host.callCount();

    // Everything fits: the search climbs to the top of the range.
    EXPECT_EQ(FindSizeSetting(m_engine, std::numeric_limits<std::int32_t>::max(),
                              SizeSetting::JPEGQuality),
              100);
    EXPECT_EQ(m_engine.settings.JPEGQuality, 100);

    // Nothing fits: it descends to the bottom, the last probe being quality 1.
    const SizeSearch none = SearchSizeSetting(m_engine, 0, SizeSetting::JPEGQuality);
    EXPECT_EQ(none.best, 0);
    EXPECT_EQ(none.probes, 6);
    EXPECT_EQ(m_engine.settings.JPEGQuality, 1);

    EXPECT_EQ(m_host.callCount(), callsBefore);
}

TEST_F(CompressToSizeTest, ColourCountSearchRunsOverTwoToTheAnalysedMaximum) {
    Bitmap graphic = BlockColors(64, 64, 40);
    Load(graphic.get());
    ASSERT_EQ(m_engine.imageInfo.UniqueColors, 40u);
    m_engine.settings.PNGPalettePreset = 2;  // "Optimal 128 Colors Palette"
    m_engine.settings.GIFPalettePreset = 1;

    for (const int format : {kFormatPng, kFormatGif}) {
        SCOPED_TRACE(format);
        m_engine.settings.Format = format;
        const SizeSetting setting = SizeSettingFor(format);
        EXPECT_EQ(RangeOf(m_engine.settings, setting), (SettingRange{2, 40}));

        const SizeSearch all =
            SearchSizeSetting(m_engine, std::numeric_limits<std::int32_t>::max(), setting);
        EXPECT_EQ(all.best, 40);
        EXPECT_EQ(SettingField(m_engine.settings, setting), 40);  // the last probe was the top
        EXPECT_EQ(all.probes, 6);

        const SizeSearch none = SearchSizeSetting(m_engine, 0, setting);
        EXPECT_EQ(none.best, 0);
        EXPECT_EQ(SettingField(m_engine.settings, setting), 2);  // the last probe was the bottom
    }
}

TEST_F(CompressToSizeTest, ColourCountSearchOnAPhotograph) {
    Bitmap photo = test::MakePhotoLike(160, 120);
    Load(photo.get());
    m_engine.settings.Format = kFormatPng;
    m_engine.settings.PNGPalettePreset = 1;  // "Optimal 256 Colors Palette"
    ASSERT_EQ(RangeOf(m_engine.settings, SizeSetting::PNGMaxColors), (SettingRange{2, 256}));

    const std::uint32_t at100 = SizeAt(SizeSetting::PNGMaxColors, 100);
    const std::uint32_t at101 = SizeAt(SizeSetting::PNGMaxColors, 101);
    ASSERT_LT(at100, at101);
    const std::int64_t target = (at100 + at101) / 2;
    const SizeSearch search = SearchSizeSetting(m_engine, target, SizeSetting::PNGMaxColors);
    EXPECT_LE(search.probes, 8);
    ASSERT_GE(search.best, 2);
    EXPECT_LE(SizeAt(SizeSetting::PNGMaxColors, search.best), target);
    EXPECT_GT(SizeAt(SizeSetting::PNGMaxColors, search.best + 1), target);
}

// ---- which setting, and when the command is available ----

TEST(SizeSettingTest, EachFormatMovesItsOwnSetting) {
    OptimizationSettings settings;
    settings.SetColorCountMaximum(40);
    EXPECT_EQ(SizeSettingFor(kFormatJpeg), SizeSetting::JPEGQuality);
    EXPECT_EQ(SizeSettingFor(kFormatPng), SizeSetting::PNGMaxColors);
    EXPECT_EQ(SizeSettingFor(kFormatGif), SizeSetting::GIFMaxColors);
    EXPECT_EQ(&SettingField(settings, SizeSetting::JPEGQuality), &settings.JPEGQuality);
    EXPECT_EQ(&SettingField(settings, SizeSetting::PNGMaxColors), &settings.PNGMaxColors);
    EXPECT_EQ(&SettingField(settings, SizeSetting::GIFMaxColors), &settings.GIFMaxColors);
    EXPECT_EQ(RangeOf(settings, SizeSetting::JPEGQuality), (SettingRange{1, 100}));
    EXPECT_EQ(RangeOf(settings, SizeSetting::GIFMaxColors), (SettingRange{2, 40}));
}

TEST_F(CompressToSizeTest, AvailableForJpegAndForPalettesThatQuantize) {
    EXPECT_FALSE(CompressToSizeAvailable(m_engine));  // no image
    LoadPhoto();
    struct Case {
        int format, pngPreset, gifPreset;
        bool available;
    };
    const Case cases[] = {
        {kFormatJpeg, 0, 3, true}, {kFormatPng, -1, 0, true}, {kFormatPng, 0, 0, false},
        {kFormatPng, 1, 3, true},  {kFormatPng, 3, 0, true},  {kFormatPng, 4, 0, false},
        {kFormatGif, 0, -1, true}, {kFormatGif, 0, 2, true},  {kFormatGif, 4, 3, false},
    };
    for (const Case& c : cases) {
        m_engine.settings.Format = c.format;
        m_engine.settings.PNGPalettePreset = c.pngPreset;
        m_engine.settings.GIFPalettePreset = c.gifPreset;
        EXPECT_EQ(CompressToSizeAvailable(m_engine), c.available)
            << "format " << c.format << ", presets " << c.pngPreset << "/" << c.gifPreset;
    }
}

// ---- reading the typed size ----

TEST(TargetTextTest, ReadsKibibytesWithTheLocaleSeparator) {
    struct Case {
        const char* text;
        const char* separator;
        std::optional<std::int64_t> bytes;
    };
    const Case cases[] = {
        {"12,5", ".", 12800},  // a comma typed under a point locale
        {"12.5", ".", 12800},
        {"12.5", ",", 12800},
        {"12,5", ",", 12800},
        {"1,5", ".", 1536},
        {" 7 ", ".", 7168},
        {"0,001", ".", 1},
        {"1e1", ".", 10240},
        {"-1", ".", -1024},
        {"100", ".", 102400},
        {"12\u066B5", "\u066B", 12800},  // a separator of more than one byte
        {"12,5", "\u066B", std::nullopt},
        // Only the first separator is replaced.
        {"1,2,5", ".", std::nullopt},
        {"1.2.5", ",", std::nullopt},
        // Thousands separators are not numbers.
        {"1,000.5", ".", std::nullopt},
        {"abc", ".", std::nullopt},
        {"", ".", std::nullopt},
        {"12 KiB", ".", std::nullopt},
        {"inf", ".", std::nullopt},
        {"1e", ".", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::string text = NormaliseDecimalSeparator(c.text, c.separator);
        const std::optional<double> kibibytes =
            util::ParseDecimal(text, c.separator, util::SurroundingSpaces::Allowed);
        ASSERT_EQ(kibibytes.has_value(), c.bytes.has_value())
            << '"' << c.text << "\" under " << c.separator;
        if (c.bytes) {
            EXPECT_EQ(KibibytesToBytes(*kibibytes), *c.bytes) << c.text;
        }
    }
}

TEST(TargetTextTest, HugeNumbersSaturate) {
    EXPECT_EQ(KibibytesToBytes(1e300), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(KibibytesToBytes(-1e300), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(KibibytesToBytes(12.9999), 13311);  // truncated, not rounded
}

// ---- the interactive command ----

TEST_F(CompressToSizeTest, CommaUnderPointLocaleReads12800BytesAndAppliesTheFoundQuality) {
    LoadPhoto();
    m_engine.Interactive = true;
    m_engine.options.AutomaticPreview = true;
    m_engine.settings.Mode =
        pimo::engine::OptimizationMode::FullAuto;  // an automatic mode stays automatic

    const CompressToSizeResult result = CompressToSize(m_engine, Answer("1,5"), ".");
    EXPECT_EQ(m_questions, std::vector<std::string>{
                               "Compress to size|Enter desired filesize in kilobytes (KiB)|"});
    EXPECT_EQ(result.target, 1536);
    ASSERT_EQ(result.outcome, CompressToSizeOutcome::Done);
    EXPECT_EQ(m_engine.settings.JPEGQuality, result.value);
    EXPECT_GE(result.probes, 1);
    EXPECT_LE(result.probes, 7);
    EXPECT_EQ(m_engine.settings.Mode, pimo::engine::OptimizationMode::FullAuto);

    // The preview ran with the found quality: the result to save fits.
    EXPECT_FALSE(m_engine.ResultStale);
    EXPECT_LE(imagelib::StreamBytes(m_engine.ResultStream.get()).size(), 1536u);
    EXPECT_TRUE(m_host.messages.empty());

    const CompressToSizeResult larger = CompressToSize(m_engine, Answer("12,5"), ".");
    EXPECT_EQ(larger.target, 12800);
    EXPECT_EQ(larger.outcome, CompressToSizeOutcome::Done);
    EXPECT_LE(imagelib::StreamBytes(m_engine.ResultStream.get()).size(), 12800u);
}

TEST_F(CompressToSizeTest, ReadsWithTheUsersDecimalSeparatorByDefault) {
    LoadPhoto();
    m_engine.Interactive = true;
    const util::NumberSeparators saved = util::CurrentNumberSeparators();
    util::SetNumberSeparators({".", "\u066B"});
    const CompressToSizeResult result = CompressToSize(m_engine, Answer("1\u066B5"));
    util::SetNumberSeparators(saved);
    EXPECT_EQ(result.target, 1536);
    EXPECT_EQ(result.outcome, CompressToSizeOutcome::Done);
}

TEST_F(CompressToSizeTest, TargetZeroShowsTheBalloonAndRestoresTheSetting) {
    LoadPhoto();
    m_engine.settings.JPEGQuality = 75;
    const std::uint32_t sizeAt75 = SizeAt(SizeSetting::JPEGQuality, 75);
    m_engine.Interactive = true;

    for (const bool preview : {true, false}) {
        SCOPED_TRACE(preview ? "automatic preview" : "no automatic preview");
        m_engine.options.AutomaticPreview = preview;
        m_engine.ResultStale = false;
        m_host.balloons.clear();

        const CompressToSizeResult result = CompressToSize(m_engine, Answer("0"), ".");
        EXPECT_EQ(result.outcome, CompressToSizeOutcome::NotReached);
        EXPECT_EQ(result.probes, 6);
        EXPECT_EQ(m_engine.settings.JPEGQuality, 75);
        ASSERT_FALSE(m_host.balloons.empty());
        EXPECT_EQ(m_host.balloons.back().title, kNotReachedTitle);
        EXPECT_EQ(m_host.balloons.back().description, "Try with a bigger value.");
        EXPECT_EQ(m_host.balloons.back().timeoutMs, 5000);
        if (preview) {
            // The result was brought back to the restored quality.
            EXPECT_FALSE(m_engine.ResultStale);
            EXPECT_EQ(imagelib::StreamBytes(m_engine.ResultStream.get()).size(), sizeAt75);
        } else {
            // The stream holds the quality-1 probe: saving must re-encode.
            EXPECT_TRUE(m_engine.ResultStale);
        }
    }
}

TEST_F(CompressToSizeTest, TargetAboveTheUncompressedSizeShowsTheMessageAndRunsNoProbe) {
    // 64 x 64 x 3 bytes of pixels and a 40-byte header: 12328 bytes, 12.04 KiB.
    Bitmap graphic = BlockColors(64, 64, 40);
    Load(graphic.get());
    m_engine.settings.Format = kFormatJpeg;
    ASSERT_EQ(::FreeImage_GetDIBSize(m_engine.SourceBitmap.get()), 12328u);
    m_engine.Interactive = true;
    m_engine.options.AutomaticPreview = true;
    m_engine.settings.JPEGQuality = 75;

    const CompressToSizeResult result = CompressToSize(m_engine, Answer("13"), ".");
    EXPECT_EQ(result.outcome, CompressToSizeOutcome::AboveUncompressed);
    EXPECT_EQ(result.probes, 0);
    ASSERT_EQ(m_host.messages.size(), 1u);
    EXPECT_EQ(m_host.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(m_host.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(m_host.messages[0].text,
              "The desired size cannot be more than the uncompressed size (12.04 KiB)");
    EXPECT_EQ(ProcessingCount(), 0);
    EXPECT_TRUE(m_host.balloons.empty());
    EXPECT_EQ(m_engine.settings.JPEGQuality, 75);

    // Exactly the uncompressed size is allowed (12.0390625 KiB = 12328 bytes).
    const CompressToSizeResult equal = CompressToSize(m_engine, Answer("12.0390625"), ".");
    EXPECT_EQ(equal.target, 12328);
    EXPECT_EQ(equal.outcome, CompressToSizeOutcome::Done);
    EXPECT_GT(ProcessingCount(), 0);
    EXPECT_EQ(m_host.messages.size(), 1u);
}

TEST_F(CompressToSizeTest, TextThatIsNoNumberShowsTheConversionError) {
    LoadPhoto();
    m_engine.Interactive = true;
    m_engine.settings.JPEGQuality = 75;

    const CompressToSizeResult result = CompressToSize(m_engine, Answer("1,2,5"), ".");
    EXPECT_EQ(result.outcome, CompressToSizeOutcome::InvalidNumber);
    ASSERT_EQ(m_host.messages.size(), 1u);
    EXPECT_EQ(m_host.messages[0].kind, MessageKind::Error);
    // The text as converted, after its first comma became the separator.
    EXPECT_EQ(m_host.messages[0].text, "'1.2,5' is not a valid floating point value");
    EXPECT_EQ(ProcessingCount(), 0);
    EXPECT_EQ(m_engine.settings.JPEGQuality, 75);
}

TEST_F(CompressToSizeTest, CancelDoesNothing) {
    LoadPhoto();
    m_engine.Interactive = true;
    const int callsBefore = m_host.callCount();
    const CompressToSizeResult result = CompressToSize(m_engine, Answer(std::nullopt), ".");
    EXPECT_EQ(result.outcome, CompressToSizeOutcome::Cancelled);
    EXPECT_EQ(m_questions.size(), 1u);
    EXPECT_EQ(m_host.callCount(), callsBefore);
}

TEST_F(CompressToSizeTest, NothingIsAskedWhenNotInteractiveOrNotAvailable) {
    LoadPhoto();
    const int callsBefore = m_host.callCount();
    EXPECT_EQ(CompressToSize(m_engine, Answer("10"), ".").outcome, CompressToSizeOutcome::NotRun);

    m_engine.Interactive = true;
    m_engine.settings.Format = kFormatPng;
    m_engine.settings.PNGPalettePreset = 0;  // true colour: no colour count to move
    EXPECT_EQ(CompressToSize(m_engine, Answer("10"), ".").outcome, CompressToSizeOutcome::NotRun);

    EXPECT_TRUE(m_questions.empty());
    EXPECT_EQ(m_host.callCount(), callsBefore);
}

TEST_F(CompressToSizeTest, PaletteOutputMovesTheColourCount) {
    Bitmap photo = test::MakePhotoLike(160, 120);
    Load(photo.get());
    m_engine.Interactive = true;
    m_engine.options.AutomaticPreview = false;
    m_engine.settings.Format = kFormatGif;
    m_engine.settings.GIFPalettePreset = 0;
    m_engine.settings.GIFMaxColors = 256;
    m_engine.settings.JPEGQuality = 75;

    const CompressToSizeResult result = CompressToSize(m_engine, Answer("5"), ".");
    ASSERT_EQ(result.outcome, CompressToSizeOutcome::Done);
    EXPECT_GE(result.value, 2);
    EXPECT_LT(result.value, 256);
    EXPECT_EQ(m_engine.settings.GIFMaxColors, result.value);
    EXPECT_EQ(m_engine.settings.JPEGQuality, 75);
    EXPECT_TRUE(m_engine.ResultStale);  // no preview: saving re-encodes at the found count
    m_engine.Interactive = false;
    EXPECT_LE(SizeAt(SizeSetting::GIFMaxColors, result.value), 5u * 1024);
}

}  // namespace
}  // namespace pimo::engine
