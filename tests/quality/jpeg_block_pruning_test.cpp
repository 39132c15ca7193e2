// Spending a JPEG's bits where the distance needs them: the coefficient
// reader and writer, the requantizing, the per-cell steering, the pruned
// file against the plain one, and the distance map behind it all.

#include "engine/jpeg_block_pruning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_coefficients.h"
#include "engine/target_quality.h"
#include "tests/support/fake_host.h"
#include "tests/support/independent_decoders.h"
#include "tests/support/jpeg_inspect.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using imagelib::CoefficientPlane;
using imagelib::JpegCoefficients;
using imagelib::QuantTable;
using imagelib::RgbPixels;
using test::Bytes;

constexpr Rgb kWhite{255, 255, 255};
constexpr imagelib::Background kWhiteBackground{255, 255, 255};

RGBQUAD Quad(unsigned red, unsigned green, unsigned blue) {
    return RGBQUAD{static_cast<BYTE>(blue), static_cast<BYTE>(green), static_cast<BYTE>(red), 255};
}

Bytes Jpeg(FIBITMAP* image, int quality, int subsampling = JPEG_SUBSAMPLING_420) {
    return test::EncodeWithLibrary(FIF_JPEG, image, quality | subsampling | JPEG_OPTIMIZE);
}

// `bytes` with a comment marker right after the start of image.
Bytes WithComment(Bytes bytes, const std::string& text) {
    const std::size_t length = text.size() + 2;
    Bytes marker{0xFF, 0xFE, static_cast<std::uint8_t>(length >> 8),
                 static_cast<std::uint8_t>(length & 0xFF)};
    marker.insert(marker.end(), text.begin(), text.end());
    bytes.insert(bytes.begin() + 2, marker.begin(), marker.end());
    return bytes;
}

std::vector<QuantTable> TablesOf(const JpegCoefficients& coefficients) {
    std::vector<QuantTable> tables;
    for (std::size_t c = 0; c < coefficients.planes().size(); ++c)
        tables.push_back(coefficients.tableOf(c));
    return tables;
}

double Distance(const RgbPixels& source, const Bytes& encoded) {
    const ScoreOutcome outcome = ScoreEncoded(source, kFormatJpeg, encoded, kWhite);
    EXPECT_TRUE(outcome.score) << outcome.error;
    return outcome.score ? outcome.score->maxDistance : 1e9;
}

TEST(JpegCoefficientsTest, WritingTheCoefficientsReadGivesTheSamePixelsAndMarkers) {
    const Bitmap photo = test::MakePhotoLike(120, 90, 4);
    const Bitmap grey(imagelib::FreeImage_ConvertToGreyscale(photo.get()));
    const struct {
        const char* name;
        Bytes file;
        std::size_t planes;
        int hSampling;
    } cases[] = {
        {"colour 4:2:0", WithComment(Jpeg(photo.get(), 80), "kept"), 3, 2},
        {"colour 4:4:4", WithComment(Jpeg(photo.get(), 90, JPEG_SUBSAMPLING_444), "kept"), 3, 1},
        {"grey", WithComment(Jpeg(grey.get(), 75), "kept"), 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const JpegCoefficients read = JpegCoefficients::Read(c.file);
        ASSERT_TRUE(read.valid());
        EXPECT_EQ(read.width(), 120u);
        EXPECT_EQ(read.height(), 90u);
        ASSERT_EQ(read.planes().size(), c.planes);
        EXPECT_EQ(read.planes()[0].hSampling, c.hSampling);
        EXPECT_EQ(read.maxHSampling(), c.hSampling);
        // 120 by 90 pixels are 15 by 12 blocks; halved chroma 8 by 6.
        EXPECT_EQ(read.planes()[0].widthInBlocks, 15u);
        EXPECT_EQ(read.planes()[0].heightInBlocks, 12u);
        EXPECT_EQ(read.planes().back().heightInBlocks, c.hSampling == 2 ? 6u : 12u);
        const test::DecodedJpeg original = test::DecodeJpeg(c.file);
        ASSERT_TRUE(original.valid);
        for (const bool progressive : {false, true}) {
            const Bytes written = read.Write(read.planes(), TablesOf(read), progressive);
            const test::DecodedJpeg decoded = test::DecodeJpeg(written);
            ASSERT_TRUE(decoded.valid) << progressive;
            EXPECT_EQ(decoded.components, original.components);
            EXPECT_TRUE(decoded.pixels == original.pixels) << progressive;
            const test::JpegStructure structure = test::InspectJpeg(written);
            EXPECT_EQ(structure.frameMarker, progressive ? 0xC2 : 0xC0);
            EXPECT_TRUE(structure.hasComment);
            // Read back, the coefficients are the ones written.
            const JpegCoefficients again = JpegCoefficients::Read(written);
            ASSERT_TRUE(again.valid());
            EXPECT_EQ(again.planes()[0].values, read.planes()[0].values);
        }
    }
}

TEST(JpegCoefficientsTest, OtherTablesAndCoefficientsAreWrittenAndMismatchesRefused) {
    const Bitmap photo = test::MakePhotoLike(64, 48, 2);
    const JpegCoefficients read = JpegCoefficients::Read(Jpeg(photo.get(), 100));
    ASSERT_TRUE(read.valid());
    // Coarser tables, each plane its own: the coefficients divided by them.
    const auto tableAt = [&](int quality, std::size_t plane) {
        return JpegCoefficients::Read(Jpeg(photo.get(), quality)).tableOf(plane);
    };
    std::vector<QuantTable> tables{tableAt(40, 0), tableAt(60, 1), tableAt(30, 2)};
    std::vector<CoefficientPlane> planes = read.planes();
    for (std::size_t c = 0; c < planes.size(); ++c) {
        for (std::size_t i = 0; i < planes[c].values.size(); ++i)
            planes[c].values[i] =
                static_cast<std::int16_t>(planes[c].values[i] / tables[c][i % 64]);
    }
    const Bytes written = read.Write(planes, tables, false);
    const JpegCoefficients again = JpegCoefficients::Read(written);
    ASSERT_TRUE(again.valid());
    for (std::size_t c = 0; c < planes.size(); ++c) {
        EXPECT_EQ(again.tableOf(c), tables[c]) << c;
        EXPECT_EQ(again.planes()[c].values, planes[c].values) << c;
    }

    std::vector<CoefficientPlane> shorter = read.planes();
    shorter[1].values.resize(64);
    shorter[1].heightInBlocks = 1;
    QuantTable zero = tables[0];
    zero[5] = 0;
    const struct {
        const char* name;
        std::vector<CoefficientPlane> planes;
        std::vector<QuantTable> tables;
    } refused[] = {{"a plane missing", {planes[0], planes[1]}, tables},
                   {"a table missing", planes, {tables[0], tables[1]}},
                   {"a plane of another size", shorter, tables},
                   {"a zero step", planes, {zero, tables[1], tables[2]}}};
    for (const auto& r : refused)
        EXPECT_TRUE(read.Write(r.planes, r.tables, false).empty()) << r.name;
    EXPECT_FALSE(JpegCoefficients::Read(Bytes{0xFF, 0xD8, 0xFF}).valid());
    EXPECT_FALSE(JpegCoefficients::Read(Bytes{}).valid());
}

TEST(JpegBlockPruningTest, QuantizingRoundsAtStrengthZeroAndZeroesOnlySmallAcCoefficients) {
    QuantTable table;
    table.fill(10);
    // Natural order: 0 the DC, 1 the lowest horizontal frequency, 63 the highest.
    std::int32_t block[64] = {};
    block[0] = 14;   // DC: 1.4 steps
    block[1] = -9;   // lowest AC: 0.9 steps
    block[2] = 5;    // exactly half a step: rounds away from zero
    block[27] = 13;  // middle frequency, 1.3 steps
    block[63] = 24;  // highest, 2.4 steps
    block[62] = -4;  // below half a step
    block[7] = 100;  // 10 steps, far beyond any dead zone
    const struct {
        double strength;
        int dc, low, half, middle, highest, below, large;
    } cases[] = {
        {0.0, 1, -1, 1, 1, 2, 0, 10},
        // Zeroed below 0.5 + strength * weight steps: the weight is 1/4 at
        // the lowest frequency, 3/8 at the next, 7/8 in the middle, 1 at the
        // highest.
        {0.5, 1, -1, 0, 1, 2, 0, 10},
        {1.0, 1, -1, 0, 0, 2, 0, 10},
        {2.0, 1, 0, 0, 0, 0, 0, 10},
        {3.0, 1, 0, 0, 0, 0, 0, 10},
    };
    for (const auto& c : cases) {
        std::int16_t out[64];
        QuantizeBlock(block, table, c.strength, out);
        EXPECT_EQ(out[0], c.dc) << c.strength;
        EXPECT_EQ(out[1], c.low) << c.strength;
        EXPECT_EQ(out[2], c.half) << c.strength;
        EXPECT_EQ(out[27], c.middle) << c.strength;
        EXPECT_EQ(out[63], c.highest) << c.strength;
        EXPECT_EQ(out[62], c.below) << c.strength;
        EXPECT_EQ(out[7], c.large) << c.strength;
        EXPECT_EQ(out[40], 0) << c.strength;
    }
    // The DC is rounded, never pruned.
    std::int32_t dcOnly[64] = {};
    dcOnly[0] = -3;
    std::int16_t out[64];
    QuantizeBlock(dcOnly, table, 3.0, out);
    EXPECT_EQ(out[0], 0);  // -0.3 steps rounds to 0
    dcOnly[0] = -7;
    QuantizeBlock(dcOnly, table, 3.0, out);
    EXPECT_EQ(out[0], -1);
}

TEST(JpegBlockPruningTest, StrengthsGrowOnlyWithHeadroomAndFallWhereTheDistanceWentOver) {
    // Five cells in a row, each looking at its neighbours: the distances
    // seen are the largest of each cell and the two beside it.
    const PruningOptions options;  // aim 0.9, gain 8
    constexpr double kTarget = 2.0;
    const struct {
        const char* name;
        std::vector<double> strengths;
        std::vector<float> distances;
        std::vector<double> next;
        unsigned reach = 1;
    } cases[] = {
        // All within: a cell seeing 1.0 grows by 8 * (1.8 - 1.0) / 2 = 3.2,
        // clamped to 3; one seeing 1.6 by 0.8; one at or above 1.8 does not grow.
        {"headroom grows", {0, 0, 0, 0, 0}, {1.0f, 1.0f, 1.0f, 1.6f, 1.0f}, {3, 3, 0.8, 0.8, 0.8}},
        {"no headroom stays untouched",
         {0, 0, 0, 0, 0},
         {1.9f, 1.8f, 2.0f, 1.95f, 1.9f},
         {0, 0, 0, 0, 0}},
        {"within but close shrinks",
         {1, 1, 1, 1, 1},
         {1.0f, 1.0f, 1.0f, 1.0f, 1.9f},
         {3, 3, 3, 0.6, 0.6}},
        // One cell over: it and its neighbours are halved, the others wait.
        {"over is repaired", {2, 2, 2, 2, 2}, {1.0f, 1.0f, 1.0f, 1.0f, 2.5f}, {2, 2, 2, 1, 1}},
        {"a longer reach cuts further",
         {2, 2, 2, 2, 2},
         {1.0f, 1.0f, 1.0f, 1.0f, 2.5f},
         {2, 2, 1, 1, 1},
         2},
        {"no strength to cut", {0, 0, 0, 0, 0}, {1.0f, 1.0f, 1.0f, 1.0f, 2.5f}, {0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> ceilings(c.strengths.size(), options.maxStrength);
        const std::vector<double> next =
            NextStrengths(c.strengths, c.distances, 5, 1, kTarget, options, ceilings, c.reach);
        ASSERT_EQ(next.size(), c.next.size());
        for (std::size_t i = 0; i < next.size(); ++i) EXPECT_NEAR(next[i], c.next[i], 1e-6) << i;
    }
    // A cell that went over never again gets more than the strength it was cut to.
    std::vector<double> ceilings(5, options.maxStrength);
    std::vector<double> strengths =
        NextStrengths(std::vector<double>{2, 2, 2, 2, 2}, std::vector<float>{1, 1, 1, 1, 2.5f}, 5,
                      1, kTarget, options, ceilings);
    strengths = NextStrengths(strengths, std::vector<float>{0.1f, 0.1f, 0.1f, 0.1f, 0.1f}, 5, 1,
                              kTarget, options, ceilings);
    EXPECT_NEAR(strengths[4], 1.0, 1e-6);
    EXPECT_NEAR(strengths[3], 1.0, 1e-6);
    EXPECT_NEAR(strengths[0], 3.0, 1e-6);
}

TEST(JpegBlockPruningTest, CellDistancesAreEachCellsLargest) {
    DistanceMap map;
    map.width = 10;  // two cells across, the second partial
    map.height = 9;  // two down, the second one row high
    map.values.assign(90, 0.5f);
    map.values[3 * 10 + 2] = 1.5f;  // cell (0, 0)
    map.values[8 * 10 + 9] = 2.5f;  // cell (1, 1), the corner pixel
    map.values[1 * 10 + 8] = 0.7f;  // cell (1, 0)
    EXPECT_EQ(CellDistances(map), (std::vector<float>{1.5f, 0.7f, 0.5f, 2.5f}));
}

TEST(JpegBlockPruningTest, DistanceMapScoresAsTheScoreAndPutsTheWorstSpotInPlace) {
    const Bitmap photo = test::MakePhotoLike(330, 250, 7);
    const RgbPixels source = ViewedPixels(photo.get(), kWhite);
    RgbPixels result =
        imagelib::DecodedCompositedRgb(kFormatJpeg, Jpeg(photo.get(), 90), kWhiteBackground);
    // A white spot on a tile border of the small tiling.
    for (unsigned y = 148; y < 152; ++y) {
        for (unsigned x = 82; x < 86; ++x)
            std::fill_n(&result.bytes[(std::size_t{y} * result.width + x) * 3], 3, 255);
    }
    for (const DistanceTiling tiling : {DistanceTiling{0, 0}, DistanceTiling{96, 80}}) {
        SCOPED_TRACE(tiling.interior);
        const std::optional<DistanceMap> map =
            DistanceMapOf(imagelib::ViewedImage(source), imagelib::ViewedImage(result), tiling);
        ASSERT_TRUE(map);
        const ScoreOutcome score = ScorePixels(source, result, tiling);
        ASSERT_TRUE(score.score);
        EXPECT_EQ(map->score.maxDistance, score.score->maxDistance);
        EXPECT_EQ(map->score.norm3, score.score->norm3);
        ASSERT_EQ(map->values.size(), std::size_t{330} * 250);
        const auto worst = std::max_element(map->values.begin(), map->values.end());
        EXPECT_EQ(*worst, map->score.maxDistance);
        const auto at = static_cast<std::size_t>(worst - map->values.begin());
        EXPECT_NEAR(static_cast<double>(at % 330), 84, 8);
        EXPECT_NEAR(static_cast<double>(at / 330), 150, 8);
    }
    EXPECT_FALSE(DistanceMapOf(imagelib::ViewedImage(source), imagelib::ViewedImage(RgbPixels{})));
}

// The pictures pruning is measured on: each at a quality that keeps its
// worst spot within the target, as the plain search finds it.
class PruneToDistanceTest : public ::testing::Test {
  protected:
    struct Picture {
        const char* name;
        Bitmap image;
        int subsampling;
    };
    std::vector<Picture> Pictures() {
        std::vector<Picture> pictures;
        pictures.push_back({"photo 4:2:0", test::MakePhotoLike(256, 192, 5), JPEG_SUBSAMPLING_420});
        pictures.push_back({"photo 4:4:4", test::MakePhotoLike(200, 150, 9), JPEG_SUBSAMPLING_444});
        // Flat colour beside busy grey detail: the flat half has all the headroom.
        pictures.push_back({"half flat",
                            test::MakeRgb(240, 160,
                                          [](unsigned x, unsigned y) {
                                              if (x < 120) return Quad(90, 140, 200);
                                              const unsigned v = 60 + (x * 7 + y * 13) % 97 * 2;
                                              return Quad(v, v, v);
                                          }),
                            JPEG_SUBSAMPLING_420});
        Bitmap grey(imagelib::FreeImage_ConvertToGreyscale(test::MakePhotoLike(160, 160, 2).get()));
        pictures.push_back({"grey", std::move(grey), 0});
        return pictures;
    }

    // The smallest quality whose plain file is within `target`.
    int PlainQuality(FIBITMAP* image, const RgbPixels& source, int subsampling, double target) {
        const QualitySearch search = SearchDistanceSetting(target, {1, 100}, [&](int value) {
            const Bytes file = Jpeg(image, value, subsampling);
            return QualityProbe{value, static_cast<std::uint32_t>(file.size()),
                                QualityScore{Distance(source, file), 0}};
        });
        return search.best;
    }
};

TEST_F(PruneToDistanceTest, PrunedFileIsWithinTheTargetAndNoLargerThanThePlainOne) {
    constexpr double kTarget = 1.5;
    for (const Picture& picture : Pictures()) {
        SCOPED_TRACE(picture.name);
        const RgbPixels source = ViewedPixels(picture.image.get(), kWhite);
        const int quality = PlainQuality(picture.image.get(), source, picture.subsampling, kTarget);
        ASSERT_GE(quality, 1);
        const Bytes plain = Jpeg(picture.image.get(), quality, picture.subsampling);
        const PruningOptions options;
        const std::optional<PrunedJpeg> pruned =
            PruneToDistance(imagelib::ViewedImage(source), JpegCoefficients::Read(plain), kTarget,
                            kFormatJpeg, kWhiteBackground, options);
        ASSERT_TRUE(pruned);
        // Measured again, independently of the pruning's own scores.
        EXPECT_LE(Distance(source, pruned->bytes), kTarget);
        EXPECT_EQ(Distance(source, pruned->bytes), pruned->score.maxDistance);
        EXPECT_LE(pruned->bytes.size(), plain.size());
        EXPECT_GE(pruned->encodings, 1);
        EXPECT_LE(pruned->encodings, 1 + options.rounds);
        // A standard file another decoder reads, in the form it says.
        const test::DecodedJpeg decoded = test::DecodeJpeg(pruned->bytes);
        EXPECT_TRUE(decoded.valid);
        EXPECT_EQ(test::InspectJpeg(pruned->bytes).frameMarker, pruned->progressive ? 0xC2 : 0xC0);
    }
}

TEST_F(PruneToDistanceTest, PruningPaysOnAPhotoAndRoundsAreBounded) {
    const Bitmap photo = test::MakePhotoLike(256, 192, 5);
    const RgbPixels source = ViewedPixels(photo.get(), kWhite);
    const int quality = PlainQuality(photo.get(), source, JPEG_SUBSAMPLING_420, 1.5);
    ASSERT_GE(quality, 1);
    const Bytes plain = Jpeg(photo.get(), quality);
    const JpegCoefficients file = JpegCoefficients::Read(plain);
    const auto prune = [&](int rounds) {
        PruningOptions options;
        options.rounds = rounds;
        return PruneToDistance(imagelib::ViewedImage(source), file, 1.5, kFormatJpeg,
                               kWhiteBackground, options);
    };
    // No rounds: the file's own coefficients, unpruned.
    const std::optional<PrunedJpeg> unpruned = prune(0);
    ASSERT_TRUE(unpruned);
    EXPECT_EQ(unpruned->encodings, 1);
    EXPECT_TRUE(test::DecodeJpeg(unpruned->bytes).pixels == test::DecodeJpeg(plain).pixels);
    for (const int rounds : {1, 3, 6}) {
        const std::optional<PrunedJpeg> pruned = prune(rounds);
        ASSERT_TRUE(pruned);
        EXPECT_LE(pruned->encodings, 1 + rounds) << rounds;
        EXPECT_LE(pruned->bytes.size(), unpruned->bytes.size()) << rounds;
    }
    // With its rounds the photo's file is clearly smaller.
    EXPECT_LT(static_cast<double>(prune(6)->bytes.size()),
              0.95 * static_cast<double>(unpruned->bytes.size()));
    // A target nothing reaches: no file.
    PruningOptions options;
    EXPECT_FALSE(PruneToDistance(imagelib::ViewedImage(source), file, 0.05, kFormatJpeg,
                                 kWhiteBackground, options));
}

TEST(TargetQualityPruningTest, SearchKeepsThePrunedFileWhenSmallerAndItIsWithinTheTarget) {
    test::TempDir dir;
    test::FakeHost host;
    Engine engine{host};
    const Bitmap photo = test::MakePhotoLike(320, 240, 6);
    test::WriteFileBytes(dir.file("source.png"), test::EncodeWithLibrary(FIF_PNG, photo.get(), 0));
    engine.Interactive = false;
    engine.settings.Mode = OptimizationMode::Manual;
    ASSERT_TRUE(engine.LoadImageFile(dir.file("source.png")));
    engine.settings.Format = kFormatJpeg;
    constexpr double kTarget = 1.5;
    const QualitySearch search = SearchQualitySetting(engine, kTarget, SizeSetting::JPEGQuality);
    ASSERT_GE(search.best, 1);
    ASSERT_FALSE(search.encoded.empty());
    EXPECT_GE(search.prunedEncodings, 1);
    ASSERT_TRUE(search.bestScore && search.progressive && search.chromaSubsampling);
    const RgbPixels source = ViewedPixels(engine.SourceBitmap.get(), kWhite);
    EXPECT_LE(Distance(source, search.encoded), kTarget);
    EXPECT_EQ(Distance(source, search.encoded), search.bestScore->maxDistance);
    EXPECT_EQ(test::InspectJpeg(search.encoded).frameMarker, *search.progressive ? 0xC2 : 0xC0);
    // Smaller than the encoder's own file at the quality found, either way.
    engine.settings.JPEGQuality = search.best;
    engine.settings.JPEGChromaSubsampling = *search.chromaSubsampling;
    for (const bool progressive : {false, true}) {
        engine.settings.JPEGProgressive = progressive;
        EXPECT_LT(search.encoded.size(), engine.OptimizeImage("")) << progressive;
    }
}

}  // namespace
}  // namespace pimo::engine
