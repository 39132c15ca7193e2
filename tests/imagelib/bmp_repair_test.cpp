// BMP files with the info headers today's editors write, which the library
// (3.18) refuses with "Invalid file format".
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::BmpSpec;
using test::Bytes;

constexpr int kWidth = 5;  // odd, so that rows carry padding
constexpr int kHeight = 3;

struct Rgba {
    int r, g, b, a;
    bool operator==(const Rgba&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgba& c) {
    return out << "(" << c.r << "," << c.g << "," << c.b << "," << c.a << ")";
}

// Every pixel, row by row from the top, whatever the bitmap's depth.
std::vector<Rgba> PixelsOf(FIBITMAP* bitmap) {
    Bitmap wide(::FreeImage_ConvertTo32Bits(bitmap));
    std::vector<Rgba> pixels;
    for (unsigned y = 0; y < ::FreeImage_GetHeight(wide.get()); ++y) {
        for (unsigned x = 0; x < ::FreeImage_GetWidth(wide.get()); ++x) {
            const RGBQUAD c = test::PixelAt(wide.get(), x, y);
            pixels.push_back({c.rgbRed, c.rgbGreen, c.rgbBlue, c.rgbReserved});
        }
    }
    return pixels;
}

struct BmpCase {
    std::string name;
    BmpSpec shape;                                      // without pixel values
    std::function<std::uint32_t(int x, int y)> stored;  // y from the top
    std::function<Rgba(int x, int y)> expected;
    unsigned expectedBpp;
    bool expectedTransparent;
};

// The stored values of a case in file row order.
BmpSpec WithValues(const BmpCase& c) {
    BmpSpec shape = c.shape;
    shape.width = kWidth;
    shape.height = shape.height < 0 ? -kHeight : kHeight;
    if (!shape.rawPixels.empty()) return shape;
    for (int row = 0; row < kHeight; ++row) {
        const int y = shape.height < 0 ? row : kHeight - 1 - row;
        for (int x = 0; x < kWidth; ++x) shape.values.push_back(c.stored(x, y));
    }
    return shape;
}

// A smooth colour per pixel and an alpha that runs from 0 to 210.
int Red(int x, int) {
    return 40 * x + 10;
}
int Green(int, int y) {
    return 60 * y + 20;
}
int Blue(int x, int y) {
    return (x * y * 25) & 0xFF;
}
int Alpha(int x, int y) {
    return (x + y * kWidth) * 15;
}
std::uint32_t Rgb24(int x, int y) {
    return std::uint32_t(Red(x, y)) << 16 | Green(x, y) << 8 | Blue(x, y);
}
Rgba Opaque(int x, int y) {
    return {Red(x, y), Green(x, y), Blue(x, y), 255};
}

int Widen(int value, int bits) {
    return value * 255 / ((1 << bits) - 1);
}

BmpSpec Header(std::uint32_t size, std::uint16_t bits, std::uint32_t compression,
               std::array<std::uint32_t, 4> masks = {}, bool topDown = false) {
    BmpSpec shape;
    shape.headerSize = size;
    shape.bitCount = bits;
    shape.compression = compression;
    shape.masks = masks;
    shape.height = topDown ? -1 : 1;
    return shape;
}

BmpSpec WithPalette(BmpSpec shape, int entries,
                    const std::function<std::array<std::uint8_t, 3>(int)>& entry) {
    for (int i = 0; i < entries; ++i) shape.palette.push_back(entry(i));
    return shape;
}

std::array<std::uint8_t, 3> Entry4(int i) {
    return {std::uint8_t(i * 16), std::uint8_t(255 - i * 16), std::uint8_t(i * 8)};
}
std::array<std::uint8_t, 3> Entry8(int i) {
    return {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)};
}
Rgba FromEntry(std::array<std::uint8_t, 3> e) {
    return {e[0], e[1], e[2], 255};
}

// Run-length streams and the indices they give, rows from the top.
const std::vector<std::vector<int>> kRle8Indices = {
    {0, 3, 3, 0, 0}, {3, 0, 1, 2, 0}, {1, 1, 1, 2, 0}};
const Bytes kRle8Stream = {
    0x03, 0x01, 0x01, 0x02,              // bottom row: 1 1 1 2, the fifth pixel never written
    0x00, 0x00,                          // end of line
    0x00, 0x04, 0x03, 0x00, 0x01, 0x02,  // literal 3 0 1 2
    0x00, 0x00,                          //
    0x00, 0x02, 0x01, 0x00,              // move one to the right
    0x02, 0x03,                          // 3 3
    0x00, 0x01};                         // end of bitmap
const std::vector<std::vector<int>> kRle4Indices = {
    {0, 0, 0, 0, 0}, {3, 4, 5, 6, 6}, {1, 2, 1, 2, 1}};
const Bytes kRle4Stream = {0x05, 0x12,              // 1 2 1 2 1
                           0x00, 0x00,              //
                           0x00, 0x03, 0x34, 0x50,  // literal 3 4 5, padded to an even count
                           0x02, 0x66,              // 6 6
                           0x00, 0x01};             // the top row stays at index 0

std::vector<BmpCase> Cases() {
    std::vector<BmpCase> cases;
    cases.push_back({"Bits1V5BottomUp",
                     WithPalette(Header(124, 1, 0), 2,
                                 [](int i) {
                                     return i ? std::array<std::uint8_t, 3>{0, 0, 255}
                                              : std::array<std::uint8_t, 3>{255, 0, 0};
                                 }),
                     [](int x, int y) { return std::uint32_t((x + y) % 2); },
                     [](int x, int y) {
                         return (x + y) % 2 ? Rgba{0, 0, 255, 255} : Rgba{255, 0, 0, 255};
                     },
                     1, false});
    cases.push_back({"Bits4V4TopDown", WithPalette(Header(108, 4, 0, {}, true), 16, Entry4),
                     [](int x, int y) { return std::uint32_t((x + y * kWidth) % 16); },
                     [](int x, int y) { return FromEntry(Entry4((x + y * kWidth) % 16)); }, 4,
                     false});
    cases.push_back({"Bits8ShortTableV5", WithPalette(Header(124, 8, 0), 200, Entry8),
                     [](int x, int y) { return std::uint32_t((x * 37 + y * 11) % 200); },
                     [](int x, int y) { return FromEntry(Entry8((x * 37 + y * 11) % 200)); }, 8,
                     false});
    BmpSpec rle8 = WithPalette(Header(124, 8, 1), 4, Entry8);
    rle8.rawPixels = kRle8Stream;
    cases.push_back({"Rle8V5", rle8, nullptr,
                     [](int x, int y) { return FromEntry(Entry8(kRle8Indices[y][x])); }, 8, false});
    BmpSpec rle4 = WithPalette(Header(108, 4, 2), 16, Entry4);
    rle4.rawPixels = kRle4Stream;
    cases.push_back({"Rle4V4", rle4, nullptr,
                     [](int x, int y) { return FromEntry(Entry4(kRle4Indices[y][x])); }, 4, false});
    cases.push_back({"Bits24V5BottomUp", Header(124, 24, 0), Rgb24, Opaque, 24, false});
    cases.push_back({"Bits24V4TopDown", Header(108, 24, 0, {}, true), Rgb24, Opaque, 24, false});
    const auto r5 = [](int x) { return x * 7; };
    const auto b5 = [](int x) { return 31 - x * 7; };
    cases.push_back(
        {"Bits16Fields555V5", Header(124, 16, 3, {0x7C00, 0x03E0, 0x001F, 0}),
         [=](int x, int y) { return std::uint32_t(r5(x) << 10 | (y * 15) << 5 | b5(x)); },
         [=](int x, int y) {
             return Rgba{Widen(r5(x), 5), Widen(y * 15, 5), Widen(b5(x), 5), 255};
         },
         16, false});
    cases.push_back(
        {"Bits16Fields565V4TopDown", Header(108, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, true),
         [=](int x, int y) { return std::uint32_t(r5(x) << 11 | (y * 31) << 5 | b5(x)); },
         [=](int x, int y) {
             return Rgba{Widen(r5(x), 5), Widen(y * 31, 6), Widen(b5(x), 5), 255};
         },
         16, false});
    cases.push_back(
        {"Bits16Fields1555WithAlpha", Header(124, 16, 3, {0x7C00, 0x03E0, 0x001F, 0x8000}),
         [=](int x, int y) { return std::uint32_t(((x + y) % 2) << 15 | r5(x) << 10 | b5(x)); },
         [=](int x, int y) {
             return Rgba{Widen(r5(x), 5), 0, Widen(b5(x), 5), (x + y) % 2 ? 255 : 0};
         },
         32, true});
    cases.push_back(
        {"Bits16Fields444NoAlpha", Header(56, 16, 3, {0x0F00, 0x00F0, 0x000F, 0}),
         [](int x, int y) { return std::uint32_t(0xF000 | (x * 3) << 8 | (y * 7) << 4 | 15); },
         [](int x, int y) {
             return Rgba{Widen(x * 3, 4), Widen(y * 7, 4), 255, 255};
         },
         24, false});
    const std::array<std::uint32_t, 4> argb = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    cases.push_back({"Bits32ArgbAlphaUsedV5", Header(124, 32, 3, argb),
                     [](int x, int y) { return std::uint32_t(Alpha(x, y)) << 24 | Rgb24(x, y); },
                     [](int x, int y) {
                         return Rgba{Red(x, y), Green(x, y), Blue(x, y), Alpha(x, y)};
                     },
                     32, true});
    cases.push_back({"Bits32RgbaOrderV4",
                     Header(108, 32, 3, {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF}),
                     [](int x, int y) { return Rgb24(x, y) << 8 | std::uint32_t(Alpha(x, y)); },
                     [](int x, int y) {
                         return Rgba{Red(x, y), Green(x, y), Blue(x, y), Alpha(x, y)};
                     },
                     32, true});
    cases.push_back({"Bits32AlphaAllOpaque", Header(124, 32, 3, argb),
                     [](int x, int y) { return 0xFF000000u | Rgb24(x, y); }, Opaque, 32, false});
    cases.push_back(
        {"Bits32AlphaAllZeroIsUnused", Header(124, 32, 3, argb), Rgb24, Opaque, 32, false});
    cases.push_back({"Bits32RgbWithoutAlphaMask", Header(124, 32, 0),
                     [](int x, int y) { return 0xAB000000u | Rgb24(x, y); }, Opaque, 32, false});
    cases.push_back({"Bits32FieldsV2", Header(52, 32, 3, argb),
                     [](int x, int y) { return 0x11000000u | Rgb24(x, y); }, Opaque, 32, false});
    cases.push_back({"Bits32AlphaFieldsAfter40ByteHeader", Header(40, 32, 6, argb),
                     [](int x, int y) { return std::uint32_t(Alpha(x, y)) << 24 | Rgb24(x, y); },
                     [](int x, int y) {
                         return Rgba{Red(x, y), Green(x, y), Blue(x, y), Alpha(x, y)};
                     },
                     32, true});
    cases.push_back({"Bits32RgbaOrderAfter40ByteHeader",
                     Header(40, 32, 3, {0xFF000000, 0x00FF0000, 0x0000FF00, 0}),
                     [](int x, int y) { return Rgb24(x, y) << 8 | 0x80; }, Opaque, 32, false});
    cases.push_back({"Bits16Fields444After40ByteHeader",
                     Header(40, 16, 3, {0x0F00, 0x00F0, 0x000F, 0}),
                     [](int x, int y) { return std::uint32_t((x * 3) << 8 | (y * 7) << 4 | 15); },
                     [](int x, int y) {
                         return Rgba{Widen(x * 3, 4), Widen(y * 7, 4), 255, 255};
                     },
                     24, false});
    return cases;
}

BmpCase CaseNamed(const std::string& name) {
    for (const BmpCase& c : Cases()) {
        if (c.name == name) return c;
    }
    throw std::invalid_argument(name);
}

class BmpRepairTest : public ::testing::TestWithParam<BmpCase> {};

// The library alone refuses the file or gets its pixels wrong.
TEST_P(BmpRepairTest, LibraryAloneFails) {
    const BmpCase& c = GetParam();
    const Bitmap bitmap = test::DecodeWithLibrary(FIF_BMP, test::BuildBmp(WithValues(c)));
    if (!bitmap) return;
    const std::vector<Rgba> pixels = PixelsOf(bitmap.get());
    bool allRight = true;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            allRight &= pixels[std::size_t(y) * kWidth + std::size_t(x)] == c.expected(x, y);
        }
    }
    EXPECT_FALSE(allRight) << "the library decodes " << c.name << " itself";
}

TEST_P(BmpRepairTest, LayerDecodesPixelsDepthAndAlpha) {
    const BmpCase& c = GetParam();
    const Bytes bytes = test::BuildBmp(WithValues(c));
    ASSERT_EQ(FreeImage_GetFileTypeFromMemory(bytes), kFormatPastedBitmap);
    const Bitmap bitmap(FreeImage_LoadFromBytes(kFormatPastedBitmap, bytes, 0));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetWidth(bitmap.get()), unsigned(kWidth));
    EXPECT_EQ(::FreeImage_GetHeight(bitmap.get()), unsigned(kHeight));
    EXPECT_EQ(::FreeImage_GetBPP(bitmap.get()), c.expectedBpp);
    EXPECT_EQ(FreeImage_IsTransparent(bitmap.get(), 0), c.expectedTransparent);
    EXPECT_EQ(FreeImage_OriginalHasAlpha(bitmap.get()), c.expectedTransparent);
    const std::vector<Rgba> pixels = PixelsOf(bitmap.get());
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            EXPECT_EQ(pixels[std::size_t(y) * kWidth + std::size_t(x)], c.expected(x, y))
                << "pixel " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, BmpRepairTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// The builder's files are right: with the classic 40-byte header the
// library itself decodes them to the expected pixels.
TEST(BmpFixtureTest, ClassicHeaderDecodesWithTheLibrary) {
    for (const BmpCase& c : Cases()) {
        // Bit-field and 32-bit cases expect what only our decoder does (masks
        // honoured, an unused alpha channel made opaque).
        if (c.shape.compression != 0 || c.shape.bitCount == 32) continue;
        BmpCase classic = c;
        classic.shape.headerSize = 40;
        const Bitmap bitmap = test::DecodeWithLibrary(FIF_BMP, test::BuildBmp(WithValues(classic)));
        ASSERT_TRUE(bitmap) << c.name;
        const std::vector<Rgba> pixels = PixelsOf(bitmap.get());
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                EXPECT_EQ(pixels[std::size_t(y) * kWidth + std::size_t(x)], c.expected(x, y))
                    << c.name << " " << x << "," << y;
            }
        }
    }
}

TEST(BmpRepairTest, CarriesResolutionAndEmbeddedProfile) {
    BmpSpec shape = WithValues({"", Header(124, 24, 0), Rgb24, Opaque, 24, false});
    shape.xPelsPerMeter = 3780;
    shape.yPelsPerMeter = 2835;
    shape.profile = test::MakeIccProfile("bmp");
    const Bitmap bitmap(FreeImage_LoadFromBytes(kFormatPastedBitmap, test::BuildBmp(shape), 0));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(bitmap.get()), 3780u);
    EXPECT_EQ(::FreeImage_GetDotsPerMeterY(bitmap.get()), 2835u);
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(bitmap.get());
    ASSERT_TRUE(profile && profile->data);
    const auto* data = static_cast<const std::uint8_t*>(profile->data);
    EXPECT_EQ(Bytes(data, data + profile->size), shape.profile);
}

TEST(BmpRepairTest, FileWithAlphaLoadsFromDisk) {
    const BmpCase c = CaseNamed("Bits32ArgbAlphaUsedV5");
    test::TempDir folder;
    const std::string path = folder.file("alpha v5.bmp");
    test::WriteFileBytes(path, test::BuildBmp(WithValues(c)));
    ASSERT_EQ(FreeImage_GetFileType(path), kFormatPastedBitmap);
    const Bitmap bitmap(FreeImage_Load(kFormatPastedBitmap, path, 0));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetBPP(bitmap.get()), 32u);
    EXPECT_TRUE(FreeImage_IsTransparent(bitmap.get(), 1));
    EXPECT_EQ(PixelsOf(bitmap.get())[7], c.expected(2, 1));
}

}  // namespace
}  // namespace pimo::imagelib
