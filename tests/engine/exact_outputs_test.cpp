// Palette outputs that must not change a pixel: grey images in the automatic
// modes, images that already fit their palette, and the format-keeping mode
// on palette files. Every output is decoded with libpng or giflib.

#include <gtest/gtest.h>

#include <set>

#include "engine/engine.h"
#include "tests/support/fake_host.h"
#include "tests/support/independent_decoders.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::Bytes;
using test::FakeHost;
using test::TempDir;

// A grey photograph: smooth shading with noise, over 100 grey levels.
Bitmap GreyPhoto() {
    Bitmap photo = test::MakePhotoLike(96, 64, 3);
    return test::MakeRgb(96, 64, [&](unsigned x, unsigned y) {
        const RGBQUAD c = test::PixelAt(photo.get(), x, y);
        const auto v = static_cast<BYTE>((c.rgbRed + c.rgbGreen * 2 + c.rgbBlue) / 4);
        return RGBQUAD{v, v, v, 0};
    });
}

Bitmap GreyLevels(unsigned levels) {
    return test::MakeRgb(40, 30, [=](unsigned x, unsigned y) {
        const auto v = static_cast<BYTE>((x * 3 + y * 5) % levels * (255 / (levels - 1)));
        return RGBQUAD{v, v, v, 0};
    });
}

// An 8-bit palette image using all 256 entries, neighbouring entries a step
// apart: Wu's quantizer works on a 32-level histogram and merges them.
Bitmap Palette256() {
    Bitmap image(::FreeImage_Allocate(64, 48, 8));
    RGBQUAD* palette = ::FreeImage_GetPalette(image.get());
    for (unsigned i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{BYTE(i), BYTE(i / 2 + 60), BYTE(255 - i), 0};
    for (unsigned y = 0; y < 48; ++y) {
        BYTE* row = ::FreeImage_GetScanLine(image.get(), y);
        for (unsigned x = 0; x < 64; ++x) row[x] = static_cast<BYTE>((x * 7 + y * 13) % 256);
    }
    return image;
}

std::vector<test::Rgba> PixelsOf(FIBITMAP* bitmap) {
    std::vector<test::Rgba> pixels;
    for (unsigned y = 0; y < ::FreeImage_GetHeight(bitmap); ++y) {
        for (unsigned x = 0; x < ::FreeImage_GetWidth(bitmap); ++x) {
            const RGBQUAD c = test::PixelAt(bitmap, x, y);
            pixels.push_back({c.rgbRed, c.rgbGreen, c.rgbBlue, 255});
        }
    }
    return pixels;
}

std::size_t CountDifferences(const std::vector<test::Rgba>& a, const std::vector<test::Rgba>& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    std::size_t differences = 0;
    for (std::size_t i = 0; i < a.size(); ++i) differences += a[i] == b[i] ? 0 : 1;
    return differences;
}

std::vector<test::Rgba> GifPixels(const test::DecodedGif& gif) {
    std::vector<test::Rgba> pixels;
    for (const std::uint8_t index : gif.indices) pixels.push_back(gif.colorMap.at(index));
    return pixels;
}

class ExactOutputTest : public ::testing::Test {
  protected:
    // Loads `bitmap` saved in `format` with `mode`, as a batch run does.
    void Load(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, int mode) {
        const std::string name = format == FIF_GIF ? "source.gif" : "source.png";
        test::WriteFileBytes(m_dir.file(name), test::EncodeWithLibrary(format, bitmap, 0));
        m_engine.Interactive = false;
        m_engine.options.AutomaticPreview = false;
        m_engine.settings.Mode = engine::ModeFromNumber(mode);
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file(name)));
    }
    Bytes Encode() {
        m_engine.OptimizeImage("");
        return imagelib::StreamBytes(m_engine.ResultStream.get());
    }

    TempDir m_dir;
    FakeHost m_host;
    Engine m_engine{m_host};
};

TEST_F(ExactOutputTest, GreyPhotographBecomesALosslessGreyPng) {
    Bitmap photo = GreyPhoto();
    Load(photo.get(), FIF_PNG, 0);
    ASSERT_TRUE(m_engine.imageInfo.Greyscale);
    ASSERT_GT(m_engine.imageInfo.UniqueColors, 100u);
    ASSERT_EQ(m_engine.settings.Format, kFormatPng);

    const test::DecodedPng png = test::DecodePng(Encode());
    ASSERT_TRUE(png.valid);
    EXPECT_TRUE(png.colorType == 0 || png.colorType == 3) << png.colorType;
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(CountDifferences(png.pixels, PixelsOf(photo.get())), 0u);
}

TEST_F(ExactOutputTest, FewGreyLevelsTakeFewerBits) {
    Bitmap levels = GreyLevels(16);
    Load(levels.get(), FIF_PNG, 0);
    ASSERT_EQ(m_engine.imageInfo.UniqueColors, 16u);
    const test::DecodedPng png = test::DecodePng(Encode());
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.bitDepth, 4);
    EXPECT_EQ(CountDifferences(png.pixels, PixelsOf(levels.get())), 0u);
}

TEST_F(ExactOutputTest, BilevelScanStaysOneBit) {
    Bitmap scan = GreyLevels(2);
    Load(scan.get(), FIF_PNG, 0);
    const test::DecodedPng png = test::DecodePng(Encode());
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.bitDepth, 1);
    EXPECT_EQ(CountDifferences(png.pixels, PixelsOf(scan.get())), 0u);
}

// The format-keeping automatic mode on palette files, and manual palettes of
// the image's own size with each quantizer: no pixel may change.
struct KeepCase {
    const char* name;
    FREE_IMAGE_FORMAT format;
    int mode;
    int quantizer;
};

void PrintTo(const KeepCase& c, std::ostream* os) {
    *os << c.name;
}

class KeepFormatTest : public ExactOutputTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(KeepFormatTest, PaletteImageIsReencodedLosslessly) {
    const KeepCase& c = GetParam();
    Bitmap palettized = Palette256();
    Load(palettized.get(), c.format, c.mode);
    ASSERT_EQ(m_engine.imageInfo.UniqueColors, 256u);
    const std::vector<test::Rgba> source = PixelsOf(m_engine.SourceBitmap.get());
    if (c.mode == 3) {
        m_engine.settings.Format = c.format == FIF_GIF ? kFormatGif : kFormatPng;
        m_engine.settings.PNGPalettePreset = 1;
        m_engine.settings.GIFPalettePreset = 0;
        m_engine.settings.PNGMaxColors = m_engine.settings.GIFMaxColors = 256;
        m_engine.settings.PNGQuantizationMethod = m_engine.settings.GIFQuantizationMethod =
            c.quantizer;
    }
    const Bytes bytes = Encode();
    if (c.format == FIF_GIF) {
        ASSERT_EQ(m_engine.settings.Format, kFormatGif);
        const test::DecodedGif gif = test::DecodeGif(bytes);
        ASSERT_TRUE(gif.valid);
        EXPECT_EQ(CountDifferences(GifPixels(gif), source), 0u);
    } else {
        ASSERT_EQ(m_engine.settings.Format, kFormatPng);
        const test::DecodedPng png = test::DecodePng(bytes);
        ASSERT_TRUE(png.valid);
        EXPECT_EQ(png.colorType, 3);
        EXPECT_EQ(CountDifferences(png.pixels, source), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, KeepFormatTest,
                         ::testing::Values(KeepCase{"png_keep_mode", FIF_PNG, 1, 0},
                                           KeepCase{"gif_keep_mode", FIF_GIF, 1, 0},
                                           KeepCase{"png_manual_wu", FIF_PNG, 3, 0},
                                           KeepCase{"png_manual_neuquant", FIF_PNG, 3, 1},
                                           KeepCase{"png_manual_imagequant", FIF_PNG, 3, 2},
                                           KeepCase{"gif_manual_imagequant", FIF_GIF, 3, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// A logo of 11 colours and a transparent band keeps its colours exactly and
// its transparent pixels at the reserved index.
TEST_F(ExactOutputTest, TransparentLogoKeepsItsColours) {
    Bitmap logo = test::MakeRgba(24, 16, [](unsigned x, unsigned y) {
        if (x < 4) return RGBQUAD{0, 0, 0, 0};
        return RGBQUAD{BYTE(20 + (x + y) % 11 * 20), 90, 30, 255};
    });
    Load(logo.get(), FIF_PNG, 1);
    m_engine.settings.PNGQuantizationMethod = 2;
    const test::DecodedPng png = test::DecodePng(Encode());
    ASSERT_TRUE(png.valid);
    for (unsigned y = 0; y < 16; ++y) {
        for (unsigned x = 0; x < 24; ++x) {
            const RGBQUAD c = test::PixelAt(logo.get(), x, y);
            const test::Rgba expected =
                x < 4 ? test::Rgba{png.pixels[y * 24 + x].r, png.pixels[y * 24 + x].g,
                                   png.pixels[y * 24 + x].b, 0}
                      : test::Rgba{c.rgbRed, c.rgbGreen, c.rgbBlue, 255};
            ASSERT_EQ(png.pixels[y * 24 + x], expected) << x << "," << y;
        }
    }
}

// libimagequant through the outputs: a photograph becomes a dithered palette
// of the asked size in both formats.
TEST_F(ExactOutputTest, ImageQuantIsAQuantizerOfBothFormats) {
    Bitmap photo = test::MakePhotoLike(80, 60);
    Load(photo.get(), FIF_PNG, 3);
    m_engine.settings.PNGQuantizationMethod = m_engine.settings.GIFQuantizationMethod = 2;
    m_engine.settings.PNGPalettePreset = 1;
    m_engine.settings.GIFPalettePreset = 0;
    m_engine.settings.PNGMaxColors = m_engine.settings.GIFMaxColors = 32;

    m_engine.settings.Format = kFormatPng;
    const test::DecodedPng png = test::DecodePng(Encode());
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.colorType, 3);
    EXPECT_LE(std::set<std::uint8_t>(png.indices.begin(), png.indices.end()).size(), 32u);

    m_engine.settings.Format = kFormatGif;
    const test::DecodedGif gif = test::DecodeGif(Encode());
    ASSERT_TRUE(gif.valid);
    const std::set<std::uint8_t> used(gif.indices.begin(), gif.indices.end());
    EXPECT_LE(used.size(), 32u);
    EXPECT_GT(used.size(), 16u);
}

}  // namespace
}  // namespace pimo::engine
