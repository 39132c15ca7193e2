// Image analysis: the ImageInfo record and its report.

#include <gtest/gtest.h>

#include <set>

#include "engine/image_info.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::Bitmap;
using test::MakeRgb;
using test::MakeRgba;

ImageInfo Analysed(FIBITMAP* bitmap) {
    EXPECT_TRUE(AnalyseImage(bitmap));
    return ReadImageInfo(bitmap);
}

/// `count` distinct colours spread over a 32-pixel-wide image.
Bitmap DistinctColors(unsigned count) {
    const unsigned width = 32, height = (count + width - 1) / width;
    return MakeRgb(width, height, [=](unsigned x, unsigned y) {
        const unsigned i = std::min(y * width + x, count - 1);
        return RGBQUAD{static_cast<BYTE>(i & 0xFF), static_cast<BYTE>(i >> 8), 77, 0};
    });
}

TEST(ImageInfoLayoutTest, FieldsAtTheirOffsets) {
    ImageInfo info{};
    info.Greyscale = true;
    info.UniqueColors = 0x04030201;
    info.Reserved = 0;
    info.HasTransparency = true;
    info.OnlyFullTransparency = true;
    info.FullyTransparentColors = 0x0D0C0B0A;
    info.SingleTransparentColor[0] = 0xB1;
    info.SingleTransparentColor[1] = 0xB2;
    info.SingleTransparentColor[2] = 0xB3;
    info.PaletteEntries = 0x0102;
    info.Palette[0] = PaletteColor{0xC1, 0xC2, 0xC3, 0xC4};
    info.Palette[255] = PaletteColor{0xD1, 0xD2, 0xD3, 0xD4};
    const ImageInfoBytes bytes = ToBytes(info);
    ASSERT_EQ(bytes.size(), 1044u);
    const std::vector<std::uint8_t> head(bytes.begin(), bytes.begin() + 24);
    const std::vector<std::uint8_t> expected{1,    0x01, 0x02, 0x03, 0x04, 0,    0,    0,
                                             0,    1,    1,    0x0A, 0x0B, 0x0C, 0x0D, 0xB1,
                                             0xB2, 0xB3, 0x02, 0x01, 0xC1, 0xC2, 0xC3, 0xC4};
    EXPECT_EQ(head, expected);
    EXPECT_EQ(bytes[1040], 0xD1);
    EXPECT_EQ(bytes[1043], 0xD4);
    // And back.
    const ImageInfo again = FromBytes(bytes);
    EXPECT_EQ(again.UniqueColors, info.UniqueColors);
    EXPECT_EQ(again.FullyTransparentColors, info.FullyTransparentColors);
    EXPECT_EQ(again.PaletteEntries, info.PaletteEntries);
    EXPECT_EQ(again.Palette[255].alpha, 0xD4);
}

TEST(AnalyseImageTest, TagIsACustomByteBlockOfTheRecordsSize) {
    auto bitmap = MakeRgb(4, 4, [](unsigned, unsigned) { return RGBQUAD{1, 2, 3, 0}; });
    ASSERT_TRUE(AnalyseImage(bitmap.get()));
    FITAG* tag = nullptr;
    ASSERT_TRUE(::FreeImage_GetMetadata(FIMD_CUSTOM, bitmap.get(), "ImageInfo", &tag));
    EXPECT_EQ(::FreeImage_GetTagType(tag), FIDT_BYTE);
    EXPECT_EQ(::FreeImage_GetTagCount(tag), kImageInfoSize);
    EXPECT_EQ(::FreeImage_GetTagLength(tag), kImageInfoSize);
    const auto* bytes = static_cast<const std::uint8_t*>(::FreeImage_GetTagValue(tag));
    EXPECT_EQ(bytes[1], 1);   // UniqueColors, little-endian, right after Greyscale
    EXPECT_EQ(bytes[18], 1);  // PaletteEntries
    EXPECT_EQ(bytes[20], 1);  // blue of the first palette entry
    EXPECT_EQ(bytes[23], 255);
}

TEST(AnalyseImageTest, NoBitmapAndOtherDepths) {
    EXPECT_FALSE(AnalyseImage(nullptr));
    Bitmap palette(::FreeImage_Allocate(4, 4, 8));
    const ImageInfo info = Analysed(palette.get());
    EXPECT_EQ(info.UniqueColors, 0u);
    EXPECT_TRUE(info.Greyscale);
    Bitmap unanalysed(::FreeImage_Allocate(4, 4, 24));
    EXPECT_EQ(ReadImageInfo(unanalysed.get()).UniqueColors, 0u);
}

TEST(AnalyseImageTest, SingleColourOpaque) {
    auto bitmap = MakeRgb(8, 8, [](unsigned, unsigned) { return RGBQUAD{10, 20, 30, 0}; });
    const ImageInfo info = Analysed(bitmap.get());
    EXPECT_EQ(info.UniqueColors, 1u);
    EXPECT_FALSE(info.Greyscale);
    EXPECT_FALSE(info.HasTransparency);
    EXPECT_FALSE(info.OnlyFullTransparency);
    EXPECT_EQ(info.PaletteEntries, 1);
    EXPECT_EQ(info.Palette[0].blue, 10);
    EXPECT_EQ(info.Palette[0].green, 20);
    EXPECT_EQ(info.Palette[0].red, 30);
    EXPECT_EQ(info.Palette[0].alpha, 255);
}

class ColourCountTest : public ::testing::TestWithParam<std::pair<unsigned, int>> {};

TEST_P(ColourCountTest, PaletteListedOnlyUpTo256) {
    auto bitmap = DistinctColors(GetParam().first);
    const ImageInfo info = Analysed(bitmap.get());
    EXPECT_EQ(info.UniqueColors, GetParam().first);
    EXPECT_EQ(info.PaletteEntries, GetParam().second);
    if (info.PaletteEntries > 1) {
        // Ascending by the 24-bit value red << 16 | green << 8 | blue.
        for (int i = 1; i < info.PaletteEntries; ++i) {
            const auto value = [&](int k) {
                return info.Palette[k].red << 16 | info.Palette[k].green << 8 |
                       info.Palette[k].blue;
            };
            EXPECT_LT(value(i - 1), value(i));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, ColourCountTest,
                         ::testing::Values(std::make_pair(256u, 256), std::make_pair(257u, 0),
                                           std::make_pair(300u, 0), std::make_pair(2u, 2)));

TEST(AnalyseImageTest, GreyscaleImage) {
    auto grey = MakeRgb(16, 4, [](unsigned x, unsigned) {
        return RGBQUAD{BYTE(x * 9), BYTE(x * 9), BYTE(x * 9), 0};
    });
    const ImageInfo info = Analysed(grey.get());
    EXPECT_TRUE(info.Greyscale);
    EXPECT_EQ(info.UniqueColors, 16u);
}

TEST(AnalyseImageTest, OneColouredPixelInTheFirstRowClearsGreyscaleButEveryPixelCounts) {
    // The library's first row is the bottom one (y = height - 1 from the top).
    auto bitmap = MakeRgb(20, 3, [](unsigned x, unsigned y) {
        if (y == 2 && x == 0) return RGBQUAD{0, 0, 200, 0};
        const BYTE v = static_cast<BYTE>(y == 2 ? x * 10 : 5);
        return RGBQUAD{v, v, v, 0};
    });
    const ImageInfo info = Analysed(bitmap.get());
    EXPECT_FALSE(info.Greyscale);
    // The red pixel, 19 greys of the first row (10..190) and grey 5.
    EXPECT_EQ(info.UniqueColors, 21u);
}

TEST(AnalyseImageTest, TransparentImageWithBlackInvisiblePixels) {
    auto bitmap = MakeRgba(10, 10, [](unsigned x, unsigned) {
        return x < 5 ? RGBQUAD{0, 0, 0, 0} : RGBQUAD{BYTE(x), 50, 60, 255};
    });
    const ImageInfo info = Analysed(bitmap.get());
    EXPECT_TRUE(info.HasTransparency);
    EXPECT_TRUE(info.OnlyFullTransparency);
    EXPECT_EQ(info.FullyTransparentColors, 1u);
    EXPECT_EQ(info.SingleTransparentColor[0], 0);
    EXPECT_EQ(info.SingleTransparentColor[1], 0);
    EXPECT_EQ(info.SingleTransparentColor[2], 0);
    // The opaque list of the first pass stays: black and five colours, alpha 255.
    EXPECT_EQ(info.UniqueColors, 6u);
    ASSERT_EQ(info.PaletteEntries, 6);
    EXPECT_EQ(info.Palette[0].alpha, 255);
}

TEST(AnalyseImageTest, OnlyHalfTransparentPixelsListColourAndAlpha) {
    auto bitmap = MakeRgba(10, 4, [](unsigned x, unsigned) {
        return RGBQUAD{BYTE(x * 20), 1, 2, 128};
    });
    const ImageInfo info = Analysed(bitmap.get());
    EXPECT_TRUE(info.HasTransparency);
    EXPECT_FALSE(info.OnlyFullTransparency);
    EXPECT_EQ(info.FullyTransparentColors, 0u);
    ASSERT_EQ(info.PaletteEntries, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(info.Palette[i].alpha, 128);
}

TEST(AnalyseImageTest, ColoursDifferingOnlyInAlpha) {
    auto bitmap = MakeRgba(16, 16, [](unsigned x, unsigned y) {
        return RGBQUAD{9, 9, 9, BYTE(y * 16 + x)};
    });
    const ImageInfo info = Analysed(bitmap.get());
    EXPECT_EQ(info.UniqueColors, 1u);
    EXPECT_EQ(info.FullyTransparentColors, 1u);  // alpha 0 at (0, 0)
    bitmap = MakeRgba(16, 16, [](unsigned x, unsigned y) {
        return RGBQUAD{9, 9, 9, BYTE(1 + (y * 16 + x) % 255)};
    });
    const ImageInfo noInvisible = Analysed(bitmap.get());
    EXPECT_EQ(noInvisible.FullyTransparentColors, 0u);
    ASSERT_EQ(noInvisible.PaletteEntries, 255);
    // Ascending by alpha << 24 | rgb.
    EXPECT_EQ(noInvisible.Palette[0].alpha, 1);
    EXPECT_EQ(noInvisible.Palette[254].alpha, 255);
}

TEST(AnalyseImageTest, MoreThan256ColourAlphaValuesKeepTheOpaqueList) {
    auto bitmap = MakeRgba(30, 20, [](unsigned x, unsigned y) {
        return RGBQUAD{BYTE(x % 3), 0, 0,
                       BYTE(x == 0 && y == 0   ? 0
                            : x == 1 && y == 0 ? 0
                                               : 1 + (y * 30 + x) % 254)};
    });
    // Two invisible pixels of different colours, more than 256 colour-alpha values.
    const ImageInfo info = Analysed(bitmap.get());
    EXPECT_EQ(info.FullyTransparentColors, 2u);
    EXPECT_EQ(info.UniqueColors, 3u);
    ASSERT_EQ(info.PaletteEntries, 3);
    EXPECT_EQ(info.Palette[2].alpha, 255);
}

// What the analysis must find, counted here the plain way over every pixel.
struct Expected {
    std::set<std::uint32_t> colors, hidden, withAlpha;
    bool greyscale = true, onlyFull = true;
};

Expected CountedPlainly(FIBITMAP* bitmap) {
    Expected e;
    const bool alpha = ::FreeImage_GetBPP(bitmap) == 32;
    for (unsigned y = 0; y < ::FreeImage_GetHeight(bitmap); ++y) {
        for (unsigned x = 0; x < ::FreeImage_GetWidth(bitmap); ++x) {
            const RGBQUAD c = test::PixelAt(bitmap, x, y);
            const std::uint32_t rgb = std::uint32_t{c.rgbRed} << 16 | c.rgbGreen << 8 | c.rgbBlue;
            const std::uint32_t a = alpha ? c.rgbReserved : 255;
            e.colors.insert(rgb);
            e.greyscale = e.greyscale && c.rgbRed == c.rgbGreen && c.rgbRed == c.rgbBlue;
            if (!alpha) continue;
            if (a == 0) e.hidden.insert(rgb);
            if (a != 0 && a != 255) e.onlyFull = false;
            e.withAlpha.insert(a << 24 | rgb);
        }
    }
    return e;
}

// From a million pixels the image is read in two halves: whatever lies in
// one half only (the one coloured pixel, an invisible colour, a colour and
// alpha pair), and what both hold, counts as in one reading.
TEST(AnalyseImageTest, LargeImageReadInHalvesCountsAsOneReading) {
    constexpr unsigned kWidth = 1100, kHeight = 1000;
    const auto grey = [](unsigned x, unsigned y) {
        const auto v = static_cast<BYTE>((x * 7 + y * 3) % 200);
        return RGBQUAD{v, v, v, 255};
    };
    const struct {
        const char* name;
        Bitmap bitmap;
    } cases[] = {
        {"one coloured pixel at the top",
         MakeRgb(kWidth, kHeight,
                 [&](unsigned x, unsigned y) {
                     return x == 5 && y == 0 ? RGBQUAD{1, 2, 250, 0} : grey(x, y);
                 })},
        {"one coloured pixel at the bottom",
         MakeRgb(kWidth, kHeight,
                 [&](unsigned x, unsigned y) {
                     return x == 9 && y == kHeight - 1 ? RGBQUAD{1, 2, 250, 0} : grey(x, y);
                 })},
        {"grey only", MakeRgb(kWidth, kHeight, grey)},
        {"many colours",
         MakeRgb(kWidth, kHeight,
                 [](unsigned x, unsigned y) {
                     return RGBQUAD{BYTE(x), BYTE(y), BYTE(y < kHeight / 2 ? 0 : x >> 8), 0};
                 })},
        {"transparent, an invisible colour in each half",
         MakeRgba(kWidth, kHeight,
                  [&](unsigned x, unsigned y) {
                      if (x == 0) return RGBQUAD{BYTE(y < kHeight / 2 ? 10 : 20), 0, 0, 0};
                      if (x == 1 && y == kHeight - 1) return RGBQUAD{3, 3, 3, 128};
                      return RGBQUAD{BYTE(y % 50), BYTE(y % 50), BYTE(y % 50), 255};
                  })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Expected expected = CountedPlainly(c.bitmap.get());
        const ImageInfo info = Analysed(c.bitmap.get());
        EXPECT_EQ(info.UniqueColors, expected.colors.size());
        EXPECT_EQ(info.Greyscale, expected.greyscale);
        const bool transparent = ::FreeImage_GetBPP(c.bitmap.get()) == 32;
        if (!transparent) {
            if (expected.colors.size() > 256) {
                EXPECT_EQ(info.PaletteEntries, 0);
                continue;
            }
            ASSERT_EQ(static_cast<std::size_t>(info.PaletteEntries), expected.colors.size());
            std::size_t i = 0;
            for (std::uint32_t rgb : expected.colors) {
                EXPECT_EQ(info.Palette[i].red, rgb >> 16);
                EXPECT_EQ(info.Palette[i++].blue, rgb & 0xFF);
            }
            continue;
        }
        EXPECT_EQ(info.FullyTransparentColors, expected.hidden.size());
        EXPECT_EQ(info.OnlyFullTransparency, expected.onlyFull);
        ASSERT_LE(expected.withAlpha.size(), 256u);
        ASSERT_EQ(static_cast<std::size_t>(info.PaletteEntries), expected.withAlpha.size());
        std::size_t i = 0;
        for (std::uint32_t argb : expected.withAlpha) {
            EXPECT_EQ(info.Palette[i].alpha, argb >> 24);
            EXPECT_EQ(info.Palette[i++].red, (argb >> 16) & 0xFF);
        }
    }
}

TEST(ImageInfoReportTest, LinesWithTheOptionalOnes) {
    ImageInfo info{};
    info.UniqueColors = 2;
    info.Greyscale = false;
    info.OnlyFullTransparency = true;
    info.FullyTransparentColors = 1;
    info.SingleTransparentColor[0] = 3;  // blue
    info.SingleTransparentColor[1] = 2;
    info.SingleTransparentColor[2] = 1;  // red
    info.PaletteEntries = 2;
    info.Palette[0] = PaletteColor{30, 20, 10, 255};
    info.Palette[1] = PaletteColor{0, 0, 0, 0};
    const std::vector<std::string> expected{
        "Unique colors: 2",
        "Greyscale: no",
        "Only full transparency: yes",
        "Fully transparent colors: 1",
        "Single transparent color: RGB(1,2,3)",
        "Palette size: 2",
        "Palette entries: ",
        "pal[0] = RGBA(10,20,30,255)",
        "pal[1] = RGBA(0,0,0,0)",
    };
    EXPECT_EQ(ImageInfoReport(info), expected);
}

TEST(ImageInfoReportTest, ManyColoursEndWithThePaletteSize) {
    auto bitmap = DistinctColors(300);
    const std::vector<std::string> lines = ImageInfoReport(Analysed(bitmap.get()));
    const std::vector<std::string> expected{"Unique colors: 300", "Greyscale: no",
                                            "Only full transparency: no",
                                            "Fully transparent colors: 0", "Palette size: 0"};
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace pimo::engine
