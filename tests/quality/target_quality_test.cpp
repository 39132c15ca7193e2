// Compress to a quality target: the smallest setting within the distance,
// found with the compress-to-size probe bound; and the sampled size-quality
// curve.

#include "engine/target_quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

RGBQUAD Quad(unsigned red, unsigned green, unsigned blue) {
    return RGBQUAD{static_cast<BYTE>(blue), static_cast<BYTE>(green), static_cast<BYTE>(red), 255};
}

TEST(SearchDistanceSettingTest, FindsTheSmallestValueWithinTheTargetInFewProbes) {
    // A distance that falls as the value rises: 100 / value.
    const auto probe = [](int value) {
        return QualityProbe{value, static_cast<std::uint32_t>(value * 10),
                            QualityScore{100.0 / value, 50.0 / value}};
    };
    const struct {
        SettingRange range;
        double target;
        int best;
    } cases[] = {{{1, 100}, 2.0, 50},  {{1, 100}, 1.5, 67}, {{1, 100}, 100.0, 1},
                 {{1, 100}, 1.0, 100}, {{1, 100}, 0.99, 0}, {{2, 256}, 1.0, 100},
                 {{2, 256}, 0.5, 200}, {{2, 40}, 0.1, 0}};
    for (const auto& c : cases) {
        const QualitySearch search = SearchDistanceSetting(c.target, c.range, probe);
        EXPECT_EQ(search.best, c.best) << c.target;
        const std::size_t bound = c.range.maximum == 100 ? 7 : 8;
        EXPECT_LE(search.probes.size(), bound);
        if (c.best > 0) {
            ASSERT_TRUE(search.bestScore);
            EXPECT_LE(search.bestScore->maxDistance, c.target);
        }
    }
}

TEST(SearchDistanceSettingTest, AProbeWithoutScoreCountsAsTooFar) {
    // Values below 30 cannot be scored; from 30 on everything is within.
    const QualitySearch search = SearchDistanceSetting(1.0, {1, 100}, [](int value) {
        QualityProbe probe{value, 1, std::nullopt};
        if (value >= 30) probe.score = QualityScore{0.5, 0.1};
        return probe;
    });
    EXPECT_EQ(search.best, 30);
}

// An engine over a file made from `bitmap`, in manual mode with `format`.
class TargetQualityTest : public ::testing::Test {
  protected:
    void Load(FIBITMAP* bitmap, int format) {
        test::WriteFileBytes(m_dir.file("source.png"), test::EncodeWithLibrary(FIF_PNG, bitmap, 0));
        m_engine.Interactive = false;
        m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("source.png")));
        m_engine.settings.Format = format;
        m_engine.settings.PNGPalettePreset = 1;  // a quantizing palette
        m_engine.settings.GIFPalettePreset = 0;
    }

    // The distance of one pipeline run at `value`.
    double DistanceAt(SizeSetting setting, int value) {
        SettingField(m_engine.settings, setting) = value;
        EXPECT_GT(m_engine.OptimizeImage(""), 0u);
        const auto score = ScoreEngineResult(
            m_engine, ViewedPixels(m_engine.SourceBitmap.get(), m_engine.settings.BackgroundColor));
        EXPECT_TRUE(score);
        return score ? score->maxDistance : 1e9;
    }

    test::TempDir m_dir;
    test::FakeHost m_host;
    Engine m_engine{m_host};
};

TEST_F(TargetQualityTest, ChosenSettingIsWithinTheTargetAndTheNextSmallerIsNot) {
    const Bitmap photo = test::MakePhotoLike(160, 120, 5);
    const Bitmap bands = test::MakeRgb(
        128, 96, [](unsigned x, unsigned y) { return Quad(x * 2, (y * 8) % 256, (x + y) % 256); });
    const struct {
        const char* name;
        FIBITMAP* image;
        int format;
        double target;
    } cases[] = {{"jpeg photo 1.5", photo.get(), kFormatJpeg, 1.5},
                 {"jpeg photo 3", photo.get(), kFormatJpeg, 3.0},
                 {"jpeg bands 4", bands.get(), kFormatJpeg, 4.0},
                 {"png photo 6", photo.get(), kFormatPng, 6.0},
                 {"gif bands 10", bands.get(), kFormatGif, 10.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.image, c.format);
        const SizeSetting setting = SizeSettingFor(c.format);
        const QualitySearch search = SearchQualitySetting(m_engine, c.target, setting);
        ASSERT_GE(search.best, 1);
        // JPEG: seven probes for each of the two chroma subsamplings.
        EXPECT_LE(search.probes.size(), c.format == kFormatJpeg ? 14u : 8u);
        ASSERT_TRUE(search.bestScore);
        ASSERT_EQ(search.chromaSubsampling.has_value(), c.format == kFormatJpeg);
        if (search.chromaSubsampling) {
            m_engine.settings.JPEGChromaSubsampling = *search.chromaSubsampling;
        }
        EXPECT_LE(search.bestScore->maxDistance, c.target);
        // Measured again, independently of the search.
        EXPECT_LE(DistanceAt(setting, search.best), c.target);
        const SettingRange range = RangeOf(m_engine.settings, setting);
        if (search.best > range.minimum) {
            EXPECT_GT(DistanceAt(setting, search.best - 1), c.target);
        }
    }
}

TEST_F(TargetQualityTest, JpegKeepsTheSmallerOfBaselineAndProgressiveAtTheSameDistance) {
    const struct {
        const char* name;
        unsigned width, height;
        bool startProgressive;
    } cases[] = {{"large photo from baseline", 400, 300, false},
                 {"large photo from progressive", 400, 300, true},
                 {"small photo", 48, 40, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bitmap photo = test::MakePhotoLike(c.width, c.height, 3);
        Load(photo.get(), kFormatJpeg);
        m_engine.settings.JPEGProgressive = c.startProgressive;
        // The encoder's own files: no pruned one to choose instead.
        const QualitySearch search =
            SearchQualitySetting(m_engine, 2.0, SizeSetting::JPEGQuality, false);
        ASSERT_GE(search.best, 1);
        ASSERT_TRUE(search.encoded.empty());
        ASSERT_TRUE(search.progressive && search.chromaSubsampling);
        m_engine.settings.JPEGChromaSubsampling = *search.chromaSubsampling;
        std::uint32_t bytes[2];
        double distance[2];
        for (const bool progressive : {false, true}) {
            m_engine.settings.JPEGProgressive = progressive;
            distance[progressive] = DistanceAt(SizeSetting::JPEGQuality, search.best);
            bytes[progressive] = m_engine.OptimizeImage("");
        }
        EXPECT_NE(bytes[0], bytes[1]);
        EXPECT_EQ(*search.progressive, bytes[1] < bytes[0]);
        EXPECT_EQ(distance[0], distance[1]);
        EXPECT_LE(distance[0], 2.0);
    }
}

TEST_F(TargetQualityTest, JpegKeepsTheSmallerOfFullAndHalvedChroma) {
    // Colour that changes every pixel: halved chroma loses it at any
    // quality, full chroma keeps it. A photo's colour is smooth: halved
    // chroma costs it little and saves bytes.
    const Bitmap stripes = test::MakeRgb(96, 80, [](unsigned x, unsigned y) {
        return (x + y / 8) % 2 ? Quad(220, 40, 60 + y) : Quad(30, 200, 90 + x);
    });
    const Bitmap photo = test::MakePhotoLike(400, 300, 3);
    const struct {
        const char* name;
        FIBITMAP* image;
        int startSubsampling;
        int chosen;
    } cases[] = {{"colour stripes from 4:2:0", stripes.get(), 2, 0},
                 {"colour stripes from 4:4:4", stripes.get(), 0, 0},
                 {"photo from 4:2:0", photo.get(), 2, 2},
                 {"photo from 4:4:4", photo.get(), 0, 2}};
    constexpr double kTarget = 2.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.image, kFormatJpeg);
        m_engine.settings.JPEGChromaSubsampling = c.startSubsampling;
        const QualitySearch search =
            SearchQualitySetting(m_engine, kTarget, SizeSetting::JPEGQuality);
        ASSERT_GE(search.best, 1);
        ASSERT_TRUE(search.chromaSubsampling);
        EXPECT_EQ(*search.chromaSubsampling, c.chosen);
        // The chosen file against the smallest one within the target with
        // the other subsampling, found independently.
        m_engine.settings.JPEGChromaSubsampling = c.chosen;
        EXPECT_LE(DistanceAt(SizeSetting::JPEGQuality, search.best), kTarget);
        const std::uint32_t chosenBytes = m_engine.OptimizeImage("");
        m_engine.settings.JPEGChromaSubsampling = c.chosen == 0 ? 2 : 0;
        const imagelib::RgbPixels source =
            ViewedPixels(m_engine.SourceBitmap.get(), m_engine.settings.BackgroundColor);
        const QualitySearch other = SearchDistanceSetting(kTarget, {1, 100}, [&](int value) {
            m_engine.settings.JPEGQuality = value;
            QualityProbe probe{value, m_engine.OptimizeImage(""), std::nullopt};
            probe.score = ScoreEngineResult(m_engine, source);
            return probe;
        });
        if (other.best > 0) {
            m_engine.settings.JPEGQuality = other.best;
            EXPECT_LE(chosenBytes, m_engine.OptimizeImage(""));
        }
    }
}

TEST_F(TargetQualityTest, UnreachableTargetFindsNothing) {
    const Bitmap photo = test::MakePhotoLike(96, 64, 2);
    Load(photo.get(), kFormatPng);
    m_engine.settings.PNGMaxColors = 77;
    const QualitySearch search = SearchQualitySetting(m_engine, 0.05, SizeSetting::PNGMaxColors);
    EXPECT_EQ(search.best, 0);
    EXPECT_FALSE(search.bestScore);
    EXPECT_EQ(search.probes.size(), 8u);
    for (const QualityProbe& probe : search.probes) {
        ASSERT_TRUE(probe.score);
        EXPECT_GT(probe.score->maxDistance, 0.05);
    }
}

TEST_F(TargetQualityTest, UnreachableJpegTargetLeavesTheSubsamplingAlone) {
    const Bitmap photo = test::MakePhotoLike(64, 48, 6);
    Load(photo.get(), kFormatJpeg);
    m_engine.settings.JPEGChromaSubsampling = 1;
    const QualitySearch search = SearchQualitySetting(m_engine, 0.01, SizeSetting::JPEGQuality);
    EXPECT_EQ(search.best, 0);
    EXPECT_FALSE(search.chromaSubsampling);
    EXPECT_FALSE(search.progressive);
    EXPECT_EQ(m_engine.settings.JPEGChromaSubsampling, 1);
    EXPECT_LE(search.probes.size(), 14u);
}

TEST_F(TargetQualityTest, CurveIsSampledOnAProbeEngineAndLeavesTheSettingAlone) {
    const Bitmap photo = test::MakePhotoLike(128, 96, 9);
    Load(photo.get(), kFormatJpeg);
    m_engine.settings.JPEGQuality = 64;
    ProbeEngine probes(m_engine);
    const CurveSampling sampling{5, 4};
    const std::vector<QualityProbe> curve =
        SampleQualityCurve(probes.engine(), SizeSetting::JPEGQuality, sampling);

    ASSERT_EQ(curve.size(), 9u);
    EXPECT_EQ(curve.front().value, 1);
    EXPECT_EQ(curve.back().value, 100);
    std::set<int> values;
    for (std::size_t i = 0; i < curve.size(); ++i) {
        values.insert(curve[i].value);
        ASSERT_TRUE(curve[i].score);
        if (i > 0) {
            EXPECT_LT(curve[i - 1].value, curve[i].value);
        }
    }
    EXPECT_EQ(values.size(), curve.size());
    EXPECT_GT(curve.front().score->maxDistance, curve.back().score->maxDistance);
    EXPECT_LT(curve.front().bytes, curve.back().bytes);
    EXPECT_EQ(probes.engine().settings.JPEGQuality, 64);
    EXPECT_EQ(m_engine.settings.JPEGQuality, 64);

    // The probe engine's sizes are the window's engine's sizes.
    m_engine.settings.JPEGQuality = curve[2].value;
    EXPECT_EQ(m_engine.OptimizeImage(""), curve[2].bytes);
    EXPECT_EQ(m_host.callCount(), 0);
}

TEST_F(TargetQualityTest, CurveSamplingStopsWhenAsked) {
    const Bitmap photo = test::MakePhotoLike(64, 48, 4);
    Load(photo.get(), kFormatJpeg);
    int asked = 0;
    const std::vector<QualityProbe> curve =
        SampleQualityCurve(m_engine, SizeSetting::JPEGQuality, {6, 6}, [&] { return ++asked > 3; });
    EXPECT_EQ(curve.size(), 3u);
}

TEST_F(TargetQualityTest, CurveOverFewColoursSamplesEveryValueOnce) {
    // Four colours: the colour-count range is 2..4, smaller than the samples asked for.
    const Bitmap four = test::MakeRgb(32, 32, [](unsigned x, unsigned y) {
        return Quad(x < 16 ? 200 : 10, y < 16 ? 100 : 30, 50);
    });
    Load(four.get(), kFormatPng);
    const std::vector<QualityProbe> curve = SampleQualityCurve(m_engine, SizeSetting::PNGMaxColors);
    ASSERT_EQ(curve.size(), 3u);
    EXPECT_EQ(curve[0].value, 2);
    EXPECT_EQ(curve[2].value, 4);
    ASSERT_TRUE(curve[2].score);
    EXPECT_EQ(curve[2].score->maxDistance, 0.0);
}

}  // namespace
}  // namespace pimo::engine
