// The perceptual score: what a viewer sees is compared (transparency over
// one background), milder degradations score lower, and the numbers are
// butteraugli_main's own.

#include "engine/quality_score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using imagelib::RgbPixels;
using test::Bytes;

constexpr Rgb kWhite{255, 255, 255};

RGBQUAD Quad(unsigned red, unsigned green, unsigned blue, unsigned alpha = 255) {
    return RGBQUAD{static_cast<BYTE>(blue), static_cast<BYTE>(green), static_cast<BYTE>(red),
                   static_cast<BYTE>(alpha)};
}

// A photograph-like image large enough for the metric's multi-scale view.
Bitmap Photo() {
    return test::MakePhotoLike(192, 144, 3);
}

double Distance(FIBITMAP* source, FREE_IMAGE_FORMAT libraryFormat, const Bytes& encoded) {
    const int format = imagelib::FromLibraryFormat(libraryFormat);
    const ScoreOutcome outcome =
        ScoreEncoded(ViewedPixels(source, kWhite), format, encoded, kWhite);
    EXPECT_TRUE(outcome.score) << outcome.error;
    return outcome.score ? outcome.score->maxDistance : -1;
}

Bytes Quantized(FIBITMAP* source, int colors) {
    const Bitmap palette(imagelib::FreeImage_ColorQuantizeEx(source, FIQ_WUQUANT, colors));
    EXPECT_TRUE(palette);
    return test::EncodeWithLibrary(FIF_PNG, palette.get(), 0);
}

TEST(ViewedPixelsTest, CompositesEveryKindOfTransparencyOverTheBackground) {
    const imagelib::Background grey{100, 100, 100};
    // 24 bits: as stored.
    Bitmap rgb = test::MakeRgb(2, 1, [](unsigned x, unsigned) { return Quad(10 + x, 20, 30); });
    RgbPixels pixels = imagelib::CompositedRgb(rgb.get(), grey);
    EXPECT_EQ(pixels.bytes, (std::vector<std::uint8_t>{10, 20, 30, 11, 20, 30}));

    // 32 bits marked transparent: blended by alpha, the top row first.
    Bitmap rgba = test::MakeRgba(1, 2, [](unsigned, unsigned y) {
        return y == 0 ? Quad(200, 0, 0, 0) : Quad(200, 0, 0, 128);
    });
    pixels = imagelib::CompositedRgb(rgba.get(), grey);
    EXPECT_EQ(pixels.bytes, (std::vector<std::uint8_t>{100, 100, 100, 150, 50, 50}));

    // An alpha channel that is zero everywhere is unused: shown opaque.
    Bitmap unusedAlpha =
        test::MakeRgba(2, 1, [](unsigned, unsigned) { return Quad(200, 0, 0, 0); });
    pixels = imagelib::CompositedRgb(unusedAlpha.get(), grey);
    EXPECT_EQ(pixels.bytes, (std::vector<std::uint8_t>{200, 0, 0, 200, 0, 0}));

    // A palette whose entry 1 is transparent.
    Bitmap indexed(::FreeImage_Allocate(2, 1, 8));
    RGBQUAD* palette = ::FreeImage_GetPalette(indexed.get());
    palette[0] = Quad(0, 0, 255);
    palette[1] = Quad(255, 0, 0);
    BYTE table[2] = {255, 0};
    ::FreeImage_SetTransparencyTable(indexed.get(), table, 2);
    BYTE index = 1;
    ::FreeImage_SetPixelIndex(indexed.get(), 1, 0, &index);
    pixels = imagelib::CompositedRgb(indexed.get(), grey);
    EXPECT_EQ(pixels.bytes, (std::vector<std::uint8_t>{0, 0, 255, 100, 100, 100}));
}

// The viewer's pixels the long way: the whole bitmap converted to 32 bits,
// then blended where the alpha channel is in use.
RgbPixels ReferenceViewed(FIBITMAP* bitmap, imagelib::Background background) {
    Bitmap standard;
    if (::FreeImage_GetImageType(bitmap) != FIT_BITMAP) {
        standard.reset(imagelib::FreeImage_ConvertToStandardType(bitmap, true));
        bitmap = standard.get();
    }
    const Bitmap rgba(::FreeImage_GetBPP(bitmap) == 32
                          ? imagelib::FreeImage_Clone(bitmap)
                          : imagelib::FreeImage_ConvertTo32Bits(bitmap));
    const bool useAlpha = imagelib::FreeImage_IsTransparent(rgba.get(), 1);
    RgbPixels pixels;
    pixels.width = ::FreeImage_GetWidth(rgba.get());
    pixels.height = ::FreeImage_GetHeight(rgba.get());
    const auto blend = [](unsigned c, unsigned a, unsigned b) {
        return static_cast<std::uint8_t>((c * a + b * (255 - a) + 127) / 255);
    };
    for (unsigned y = 0; y < pixels.height; ++y) {
        for (unsigned x = 0; x < pixels.width; ++x) {
            const RGBQUAD p = test::PixelAt(rgba.get(), x, y);
            const unsigned a = useAlpha ? p.rgbReserved : 255;
            pixels.bytes.push_back(blend(p.rgbRed, a, background.red));
            pixels.bytes.push_back(blend(p.rgbGreen, a, background.green));
            pixels.bytes.push_back(blend(p.rgbBlue, a, background.blue));
        }
    }
    return pixels;
}

// A palette bitmap of `bpp` bits whose entries are spread colours, the
// first `transparent` of them see-through to varying degrees.
Bitmap Indexed(unsigned width, unsigned height, unsigned bpp, unsigned transparent) {
    Bitmap indexed(::FreeImage_Allocate(width, height, bpp));
    const unsigned entries = 1u << bpp;
    RGBQUAD* palette = ::FreeImage_GetPalette(indexed.get());
    for (unsigned i = 0; i < entries; ++i) palette[i] = Quad(i * 47 % 256, i * 91 % 256, 255 - i);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            BYTE index = static_cast<BYTE>((x * 7 + y * 3 + x * y) % entries);
            ::FreeImage_SetPixelIndex(indexed.get(), x, y, &index);
        }
    }
    if (transparent > 0) {
        std::vector<BYTE> table(transparent);
        for (unsigned i = 0; i < transparent; ++i) table[i] = static_cast<BYTE>(i * 60 % 256);
        ::FreeImage_SetTransparencyTable(indexed.get(), table.data(),
                                         static_cast<int>(transparent));
    }
    return indexed;
}

TEST(ViewedPixelsTest, RectanglesAreThePixelsOfTheWholeConversion) {
    const imagelib::Background grey{90, 140, 200};
    const Bitmap photo = test::MakePhotoLike(37, 23, 4);
    const Bitmap rgba = test::MakeRgba(37, 23, [](unsigned x, unsigned y) {
        return Quad(x * 6, y * 11, 77, (x * 29 + y * 13) % 256);
    });
    const Bitmap unusedAlpha =
        test::MakeRgba(37, 23, [](unsigned x, unsigned y) { return Quad(x * 6, y * 11, 77, 0); });
    const Bitmap rgb565(::FreeImage_ConvertTo16Bits565(photo.get()));
    const Bitmap grey16(::FreeImage_ConvertToUINT16(photo.get()));
    const Bitmap opaque8 = Indexed(37, 23, 8, 0), transparent8 = Indexed(37, 23, 8, 5);
    const Bitmap transparent4 = Indexed(37, 23, 4, 3), transparent1 = Indexed(37, 23, 1, 1);
    const Bitmap allTransparent = Indexed(37, 23, 1, 2);
    ::FreeImage_SetTransparencyTable(allTransparent.get(), std::array<BYTE, 2>{0, 0}.data(), 2);
    const struct {
        const char* name;
        FIBITMAP* bitmap;
    } cases[] = {{"24 bits", photo.get()},
                 {"32 bits blended", rgba.get()},
                 {"32 bits, alpha unused", unusedAlpha.get()},
                 {"16 bits 565", rgb565.get()},
                 {"16-bit grey", grey16.get()},
                 {"8-bit palette, opaque", opaque8.get()},
                 {"8-bit palette, transparent entries", transparent8.get()},
                 {"4-bit palette, transparent entries", transparent4.get()},
                 {"1-bit palette, transparent entry", transparent1.get()},
                 {"1-bit palette, every pixel transparent", allTransparent.get()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.bitmap);
        const RgbPixels expected = ReferenceViewed(c.bitmap, grey);
        EXPECT_EQ(imagelib::CompositedRgb(c.bitmap, grey).bytes, expected.bytes);
        // Rectangles at odd places, one pixel wide and tall included.
        const imagelib::ViewedImage view(c.bitmap, grey);
        ASSERT_EQ(view.width(), 37u);
        ASSERT_EQ(view.height(), 23u);
        const struct {
            unsigned left, top, width, height;
        } rectangles[] = {
            {0, 0, 37, 23}, {5, 3, 1, 1}, {9, 1, 17, 13}, {36, 22, 1, 1}, {3, 20, 34, 3}};
        for (const auto& r : rectangles) {
            std::vector<std::uint8_t> got(std::size_t{r.width} * r.height * 3);
            view.copy(r.left, r.top, r.width, r.height, got.data());
            for (unsigned y = 0; y < r.height; ++y) {
                const auto from = expected.bytes.begin() + ((r.top + y) * 37 + r.left) * 3;
                ASSERT_TRUE(std::equal(from, from + r.width * 3, got.begin() + y * r.width * 3))
                    << r.left << "," << r.top << " row " << y;
            }
        }
    }
}

TEST(QualityScoreTest, TilesMadeFromTheBitmapsScoreAsThePreparedPixels) {
    // A transparent source and a palette result, in tiles smaller than the image.
    const DistanceTiling tiling{64, 80};
    const Bitmap source = test::MakeRgba(200, 150, [](unsigned x, unsigned y) {
        return Quad(x, (x * y) % 256, y, x < 40 ? 0 : (x + y) % 256);
    });
    const Bitmap source24(imagelib::FreeImage_ConvertTo24Bits(source.get()));
    const Bitmap result(imagelib::FreeImage_ColorQuantizeEx(source24.get(), FIQ_WUQUANT, 32));
    ASSERT_TRUE(result);
    ASSERT_EQ(::FreeImage_GetBPP(result.get()), 8u);
    const imagelib::Background background{30, 200, 90};
    const ScoreOutcome fromBitmaps =
        ScoreViewed(imagelib::ViewedImage(source.get(), background),
                    imagelib::ViewedImage(result.get(), background), tiling);
    const ScoreOutcome fromPixels =
        ScorePixels(imagelib::CompositedRgb(source.get(), background),
                    imagelib::CompositedRgb(result.get(), background), tiling);
    ASSERT_TRUE(fromBitmaps.score && fromPixels.score);
    EXPECT_GT(fromPixels.score->maxDistance, 0.5);
    EXPECT_EQ(fromBitmaps.score->maxDistance, fromPixels.score->maxDistance);
    EXPECT_EQ(fromBitmaps.score->norm3, fromPixels.score->norm3);
}

TEST(QualityScoreTest, IdenticalImagesScoreZero) {
    const Bitmap photo = Photo();
    const Bitmap tiny = test::MakeRgb(1, 1, [](unsigned, unsigned) { return Quad(1, 2, 3); });
    const Bitmap flat = test::MakeRgb(
        40, 30, [](unsigned x, unsigned) { return x < 20 ? Quad(250, 0, 0) : Quad(0, 0, 250); });
    for (FIBITMAP* image : {photo.get(), tiny.get(), flat.get()}) {
        const RgbPixels pixels = ViewedPixels(image, kWhite);
        const ScoreOutcome outcome = ScorePixels(pixels, pixels);
        ASSERT_TRUE(outcome.score) << outcome.error;
        EXPECT_EQ(outcome.score->maxDistance, 0.0);
        EXPECT_EQ(outcome.score->norm3, 0.0);
        // The same pixels through a lossless file.
        EXPECT_EQ(Distance(image, FIF_PNG, test::EncodeWithLibrary(FIF_PNG, image, 0)), 0.0);
    }
}

TEST(QualityScoreTest, StrongerDegradationScoresWorse) {
    const Bitmap photo = Photo();
    const double jpeg30 =
        Distance(photo.get(), FIF_JPEG, test::EncodeWithLibrary(FIF_JPEG, photo.get(), 30));
    const double jpeg90 =
        Distance(photo.get(), FIF_JPEG, test::EncodeWithLibrary(FIF_JPEG, photo.get(), 90));
    EXPECT_GT(jpeg90, 0.0);
    EXPECT_GT(jpeg30, jpeg90 * 1.5);

    const double colors16 = Distance(photo.get(), FIF_PNG, Quantized(photo.get(), 16));
    const double colors256 = Distance(photo.get(), FIF_PNG, Quantized(photo.get(), 256));
    EXPECT_GT(colors256, 0.0);
    EXPECT_GT(colors16, colors256 * 1.5);
}

TEST(QualityScoreTest, PixelsUnderFullTransparencyDoNotCount) {
    // Left half fully transparent with unrelated colours underneath, right half opaque.
    const auto image = [](unsigned seed, unsigned rightShift) {
        return test::MakeRgba(64, 48, [=](unsigned x, unsigned y) {
            if (x < 32) return Quad((x * 37 + y * seed) % 256, (y * 11 * seed) % 256, seed * 40, 0);
            return Quad(x * 3 + rightShift, y * 5, 90, 255);
        });
    };
    const Bitmap source = image(1, 0);
    const Bitmap hiddenDifference = image(5, 0);
    const Bitmap visibleDifference = image(1, 40);
    const Bytes hiddenPng = test::EncodeWithLibrary(FIF_PNG, hiddenDifference.get(), 0);
    const Bytes visiblePng = test::EncodeWithLibrary(FIF_PNG, visibleDifference.get(), 0);
    EXPECT_EQ(Distance(source.get(), FIF_PNG, hiddenPng), 0.0);
    EXPECT_GT(Distance(source.get(), FIF_PNG, visiblePng), 1.0);
}

TEST(QualityScoreTest, ResultsThatCannotBeComparedAreErrors) {
    const Bitmap photo = Photo();
    const Bitmap smaller = test::MakePhotoLike(100, 100, 3);
    const RgbPixels pixels = ViewedPixels(photo.get(), kWhite);
    EXPECT_FALSE(ScorePixels(pixels, ViewedPixels(smaller.get(), kWhite)).score);
    EXPECT_FALSE(ScorePixels(pixels, RgbPixels{}).score);
    const Bytes garbage{0xFF, 0xD8, 0xFF, 0x00, 0x12};
    const ScoreOutcome undecodable = ScoreEncoded(pixels, kFormatJpeg, garbage, kWhite);
    EXPECT_FALSE(undecodable.score);
    EXPECT_FALSE(undecodable.error.empty());
}

TEST(QualityScoreTest, ReadingBands) {
    const struct {
        double distance;
        std::string text;
    } cases[] = {{0.0, "0.00 (very good)"}, {0.994, "0.99 (very good)"}, {1.0, "1.00 (good)"},
                 {2.5, "2.50 (good)"},      {2.999, "3.00 (good)"},      {3.0, "3.00 (poor)"},
                 {12.345, "12.35 (poor)"}};
    for (const auto& c : cases) EXPECT_EQ(QualityText(c.distance), c.text) << c.distance;
    EXPECT_EQ(ReadingDescription(QualityReading::VeryGood),
              "No difference visible at normal viewing distance");
}

// butteraugli_main on two files; its first line is the maximum distance,
// the second "3-norm: N".
QualityScore ToolScore(const std::string& reference, const std::string& distorted) {
    const std::string command =
        "butteraugli_main '" + reference + "' '" + distorted + "' 2>/dev/null";
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    QualityScore score{-1, -1};
    if (!pipe) return score;
    double maximum = -1, norm = -1;
    if (std::fscanf(pipe.get(), "%lf 3-norm: %lf", &maximum, &norm) == 2) score = {maximum, norm};
    return score;
}

TEST(QualityScoreTest, MatchesButteraugliMain) {
    const test::TempDir dir;
    const Bitmap photo = Photo();
    test::WriteFileBytes(dir.file("reference.png"),
                         test::EncodeWithLibrary(FIF_PNG, photo.get(), 0));
    const RgbPixels reference = ViewedPixels(photo.get(), kWhite);
    const struct {
        const char* name;
        Bytes encoded;
        FREE_IMAGE_FORMAT format;
    } cases[] = {{"jpeg20", test::EncodeWithLibrary(FIF_JPEG, photo.get(), 20), FIF_JPEG},
                 {"jpeg75", test::EncodeWithLibrary(FIF_JPEG, photo.get(), 75), FIF_JPEG},
                 {"colors16", Quantized(photo.get(), 16), FIF_PNG}};
    for (const auto& c : cases) {
        // The tool reads the distorted image losslessly from a PNG of the decoded pixels.
        const Bitmap decoded =
            test::DecodeWithLibrary(c.format, c.encoded, c.format == FIF_JPEG ? JPEG_ACCURATE : 0);
        const Bitmap decoded24(imagelib::FreeImage_ConvertTo24Bits(decoded.get()));
        const std::string distorted = dir.file(std::string(c.name) + ".png");
        test::WriteFileBytes(distorted, test::EncodeWithLibrary(FIF_PNG, decoded24.get(), 0));

        const QualityScore tool = ToolScore(dir.file("reference.png"), distorted);
        ASSERT_GT(tool.maxDistance, 0.0) << "butteraugli_main did not run for " << c.name;
        const ScoreOutcome ours =
            ScoreEncoded(reference, imagelib::FromLibraryFormat(c.format), c.encoded, kWhite);
        ASSERT_TRUE(ours.score) << ours.error;
        EXPECT_NEAR(ours.score->maxDistance, tool.maxDistance, 1e-3 * tool.maxDistance) << c.name;
        EXPECT_NEAR(ours.score->norm3, tool.norm3, 1e-3 * tool.norm3 + 1e-5) << c.name;
        // The same in tiles smaller than the image.
        const ScoreOutcome tiled = ScorePixels(
            reference,
            imagelib::DecodedCompositedRgb(imagelib::FromLibraryFormat(c.format), c.encoded, {}),
            DistanceTiling{48, 80});
        ASSERT_TRUE(tiled.score) << tiled.error;
        EXPECT_NEAR(tiled.score->maxDistance, tool.maxDistance, 1e-3 * tool.maxDistance) << c.name;
        EXPECT_NEAR(tiled.score->norm3, tool.norm3, 1e-3 * tool.norm3 + 1e-5) << c.name;
    }
}

// Pixels of `image` with a bright square of `size` pixels centred on (x, y).
RgbPixels WithSpot(RgbPixels image, unsigned x, unsigned y, unsigned size) {
    for (unsigned row = y - size / 2; row < y - size / 2 + size; ++row) {
        for (unsigned column = x - size / 2; column < x - size / 2 + size; ++column) {
            std::uint8_t* pixel = &image.bytes[(std::size_t{row} * image.width + column) * 3];
            pixel[0] = pixel[1] = pixel[2] = 255;
        }
    }
    return image;
}

TEST(QualityScoreTest, TiledDistanceIsTheWholeImagesDistance) {
    // Small tiles, so that a test-sized image spans many: interiors of at
    // most 96 pixels split 330 by 250 into 4 by 3 tiles of 84 pixels (the
    // last ones 78 and 82), tile borders at 84, 168 and 252 across, 84 and
    // 168 down.
    const DistanceTiling tiling{96, 80};
    const Bitmap photo = test::MakePhotoLike(330, 250, 7);
    const RgbPixels source = ViewedPixels(photo.get(), kWhite);
    const auto decoded = [&](int quality) {
        return imagelib::DecodedCompositedRgb(
            kFormatJpeg, test::EncodeWithLibrary(FIF_JPEG, photo.get(), quality), {});
    };
    const RgbPixels mild = decoded(90);
    const struct {
        const char* name;
        RgbPixels result;
    } cases[] = {
        {"jpeg30 everywhere", decoded(30)},
        // The worst spot where four tiles meet, and on a border between two.
        {"spot on a tile corner", WithSpot(mild, 168, 84, 4)},
        {"spot on a vertical border", WithSpot(mild, 84, 150, 3)},
        {"spot on the last, narrow tile's border", WithSpot(mild, 252, 200, 2)},
    };
    const double mildDistance = ScorePixels(source, mild, {0, 0}).score->maxDistance;
    for (const auto& c : cases) {
        const ScoreOutcome whole = ScorePixels(source, c.result, {0, 0});
        const ScoreOutcome tiled = ScorePixels(source, c.result, tiling);
        ASSERT_TRUE(whole.score && tiled.score) << c.name;
        EXPECT_GT(whole.score->maxDistance, mildDistance * 1.5) << c.name << ": spot not the worst";
        EXPECT_NEAR(tiled.score->maxDistance, whole.score->maxDistance,
                    1e-4 * whole.score->maxDistance)
            << c.name;
        EXPECT_NEAR(tiled.score->norm3, whole.score->norm3, 1e-4 * whole.score->norm3) << c.name;
        // The default tiling takes this image whole; a large one in tiles.
        EXPECT_EQ(ScorePixels(source, c.result).score->maxDistance, whole.score->maxDistance);
    }
    // The margin is what makes tiles agree: with too little context, tile
    // borders show in the map.
    const ScoreOutcome whole = ScorePixels(source, cases[1].result, {0, 0});
    const ScoreOutcome cramped = ScorePixels(source, cases[1].result, {96, 8});
    ASSERT_TRUE(cramped.score);
    EXPECT_GT(std::abs(cramped.score->norm3 - whole.score->norm3), 1e-3 * whole.score->norm3);
}

TEST(QualityScoreTest, CapturedResultIsScoredOnAnotherThreadWhileTheEngineMovesOn) {
    const test::TempDir dir;
    const Bitmap photo = Photo();
    test::WriteFileBytes(dir.file("photo.png"), test::EncodeWithLibrary(FIF_PNG, photo.get(), 0));
    test::FakeHost host;
    Engine engine(host);
    engine.Interactive = false;
    engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
    engine.settings.Format = kFormatJpeg;
    ASSERT_TRUE(engine.LoadImageFile(dir.file("photo.png")));
    EXPECT_FALSE(CaptureResultScoreInput(engine)) << "no result yet";

    engine.settings.JPEGQuality = 20;
    ASSERT_GT(engine.OptimizeImage(""), 0u);
    std::optional<ResultScoreInput> input = CaptureResultScoreInput(engine);
    ASSERT_TRUE(input);
    const double expected = Distance(engine.SourceBitmap.get(), FIF_JPEG,
                                     imagelib::StreamBytes(engine.ResultStream.get()));

    ScoreOutcome scored;
    std::thread worker([&] { scored = ScoreResult(*input); });
    engine.settings.JPEGQuality = 95;  // a newer result replaces the stream meanwhile
    engine.OptimizeImage("");
    worker.join();
    ASSERT_TRUE(scored.score) << scored.error;
    EXPECT_EQ(scored.score->maxDistance, expected);
}

}  // namespace
}  // namespace pimo::engine
