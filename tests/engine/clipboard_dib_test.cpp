#include "engine/clipboard_dib.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

namespace fi = imagelib;
using test::Bytes;
using test::PixelAt;

// ---- building device-independent bitmaps ----

struct Rgb {
    BYTE red, green, blue;
};

struct DibSpec {
    std::uint32_t headerSize = 40;
    std::int32_t width = 0;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint32_t> masks;  // after a 40-byte header, inside the later ones
    std::vector<Rgb> table;
    std::vector<Bytes> rows;  // packed pixels, visual order top to bottom
    bool topDown = false;
};

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void PutU16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

Bytes BuildDib(const DibSpec& shape) {
    Bytes dib(shape.headerSize, 0);
    const auto rowCount = static_cast<std::int32_t>(shape.rows.size());
    PutU32(dib, 0, shape.headerSize);
    PutU32(dib, 4, static_cast<std::uint32_t>(shape.width));
    PutU32(dib, 8, static_cast<std::uint32_t>(shape.topDown ? -rowCount : rowCount));
    PutU16(dib, 12, 1);
    PutU16(dib, 14, shape.bitCount);
    PutU32(dib, 16, shape.compression);
    PutU32(dib, 24, static_cast<std::uint32_t>(shape.xPelsPerMeter));
    PutU32(dib, 28, static_cast<std::uint32_t>(shape.yPelsPerMeter));
    PutU32(dib, 32, shape.colorsUsed);
    if (!shape.masks.empty()) {
        if (shape.headerSize == 40) dib.resize(52, 0);
        for (std::size_t i = 0; i < shape.masks.size(); ++i)
            PutU32(dib, 40 + 4 * i, shape.masks[i]);
    }
    for (const Rgb& c : shape.table) dib.insert(dib.end(), {c.blue, c.green, c.red, 0});
    const std::size_t pitch = (std::size_t{shape.bitCount} * shape.width + 31) / 32 * 4;
    for (std::size_t i = 0; i < shape.rows.size(); ++i) {
        const Bytes& row = shape.rows[shape.topDown ? i : shape.rows.size() - 1 - i];
        Bytes padded = row;
        padded.resize(pitch, 0);
        dib.insert(dib.end(), padded.begin(), padded.end());
    }
    return dib;
}

// Indices packed most significant bits first, as a DIB stores them.
Bytes PackIndices(const std::vector<unsigned>& indices, unsigned bits) {
    Bytes row((indices.size() * bits + 7) / 8, 0);
    for (std::size_t i = 0; i < indices.size(); ++i) {
        const std::size_t bit = i * bits;
        row[bit / 8] |= static_cast<std::uint8_t>(indices[i] << (8 - bits - bit % 8));
    }
    return row;
}

Bytes PackWords(const std::vector<std::uint32_t>& pixels, unsigned bytesPerPixel) {
    Bytes row;
    for (const std::uint32_t p : pixels) {
        for (unsigned i = 0; i < bytesPerPixel; ++i)
            row.push_back(static_cast<std::uint8_t>(p >> (8 * i)));
    }
    return row;
}

// The decoder must never read outside the block: hand it a heap block of
// exactly the block's length, so the sanitizer sees any overrun.
fi::Bitmap DecodeExact(const Bytes& bytes) {
    auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    return DecodeDib(std::span<const std::uint8_t>(exact.get(), bytes.size()));
}

void ExpectPixels(FIBITMAP* bitmap24, const std::vector<std::vector<Rgb>>& expected) {
    ASSERT_EQ(::FreeImage_GetHeight(bitmap24), expected.size());
    for (unsigned y = 0; y < expected.size(); ++y) {
        ASSERT_EQ(::FreeImage_GetWidth(bitmap24), expected[y].size());
        for (unsigned x = 0; x < expected[y].size(); ++x) {
            const RGBQUAD actual = PixelAt(bitmap24, x, y);
            EXPECT_EQ(actual.rgbRed, expected[y][x].red) << "at " << x << "," << y;
            EXPECT_EQ(actual.rgbGreen, expected[y][x].green) << "at " << x << "," << y;
            EXPECT_EQ(actual.rgbBlue, expected[y][x].blue) << "at " << x << "," << y;
        }
    }
}

// ---- decoding, each depth in both row orders ----

struct DepthCase {
    const char* name;
    std::function<DibSpec()> shape;
    unsigned decodedBits;  // depth of the bitmap the block decodes to
    std::vector<std::vector<Rgb>> expected;
};

constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255},
    kBlack{0, 0, 0}, kOrange{250, 130, 10}, kTeal{0, 128, 128}, kGrey{128, 128, 128};

std::vector<DepthCase> DepthCases() {
    std::vector<DepthCase> cases;
    // 1 bit, 10 wide: crosses a byte and leaves padding in the row.
    cases.push_back(
        {"OneBit",
         [] {
             DibSpec s;
             s.width = 10;
             s.bitCount = 1;
             s.table = {kOrange, kTeal};
             s.rows = {PackIndices({1, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 1),
                       PackIndices({0, 1, 1, 1, 1, 1, 1, 1, 0, 1}, 1)};
             return s;
         },
         1,
         {{kTeal, kOrange, kOrange, kOrange, kOrange, kOrange, kOrange, kOrange, kTeal, kOrange},
          {kOrange, kTeal, kTeal, kTeal, kTeal, kTeal, kTeal, kTeal, kOrange, kTeal}}});
    // 4 bits with a short table (biClrUsed 3): the pixels start after three entries.
    cases.push_back({"FourBitShortTable",
                     [] {
                         DibSpec s;
                         s.width = 3;
                         s.bitCount = 4;
                         s.colorsUsed = 3;
                         s.table = {kRed, kGreen, kBlue};
                         s.rows = {PackIndices({0, 1, 2}, 4), PackIndices({2, 2, 1}, 4)};
                         return s;
                     },
                     4,
                     {{kRed, kGreen, kBlue}, {kBlue, kBlue, kGreen}}});
    // 8 bits with the full implied table of 256 entries.
    cases.push_back(
        {"EightBitFullTable",
         [] {
             DibSpec s;
             s.width = 3;
             s.bitCount = 8;
             s.table.assign(256, kBlack);
             s.table[7] = kOrange;
             s.table[200] = kTeal;
             s.table[255] = kWhite;
             s.rows = {Bytes{7, 200, 255}, Bytes{255, 0, 7}, Bytes{200, 200, 0}};
             return s;
         },
         8,
         {{kOrange, kTeal, kWhite}, {kWhite, kBlack, kOrange}, {kTeal, kTeal, kBlack}}});
    // 16 bits, BI_BITFIELDS 5-6-5.
    cases.push_back({"SixteenBit565",
                     [] {
                         DibSpec s;
                         s.width = 3;
                         s.bitCount = 16;
                         s.compression = 3;
                         s.masks = {0xF800, 0x07E0, 0x001F};
                         s.rows = {PackWords({0xF800, 0x07E0, 0x001F}, 2),
                                   PackWords({0xFFFF, 0x0000, 0x8410}, 2)};
                         return s;
                     },
                     16,
                     // 0x8410: red 16/31, green 32/63, blue 16/31, widened as value * 255 / max.
                     {{kRed, kGreen, kBlue}, {kWhite, kBlack, Rgb{131, 129, 131}}}});
    // 16 bits without compression: 5-5-5.
    cases.push_back({"SixteenBit555",
                     [] {
                         DibSpec s;
                         s.width = 2;
                         s.bitCount = 16;
                         s.rows = {PackWords({0x7C00, 0x03E0}, 2), PackWords({0x001F, 0x7FFF}, 2)};
                         return s;
                     },
                     16,
                     {{kRed, kGreen}, {kBlue, kWhite}}});
    // 16 bits with 4-4-4 masks, which the library has no layout for.
    cases.push_back({"SixteenBit444",
                     [] {
                         DibSpec s;
                         s.width = 2;
                         s.bitCount = 16;
                         s.compression = 3;
                         s.masks = {0x0F00, 0x00F0, 0x000F};
                         s.rows = {PackWords({0x0F00, 0x00F0}, 2), PackWords({0x000F, 0x0888}, 2)};
                         return s;
                     },
                     24,
                     {{kRed, kGreen}, {kBlue, Rgb{136, 136, 136}}}});
    cases.push_back({"TwentyFourBit",
                     [] {
                         DibSpec s;
                         s.width = 3;  // 9 bytes a row: 3 of padding
                         s.bitCount = 24;
                         s.rows = {Bytes{10, 130, 250, 0, 255, 0, 255, 0, 0},
                                   Bytes{128, 128, 0, 255, 255, 255, 0, 0, 0}};
                         return s;
                     },
                     24,
                     {{kOrange, kGreen, kBlue}, {kTeal, kWhite, kBlack}}});
    // 32 bits, BI_RGB, the fourth byte zero as most programs leave it.
    cases.push_back({"ThirtyTwoBit",
                     [] {
                         DibSpec s;
                         s.width = 2;
                         s.bitCount = 32;
                         s.rows = {PackWords({0x00FA820A, 0x00008080}, 4),
                                   PackWords({0x00808080, 0x00FF0000}, 4)};
                         return s;
                     },
                     32,
                     {{kOrange, kTeal}, {kGrey, kRed}}});
    // 32 bits, BI_BITFIELDS with red and blue swapped.
    cases.push_back({"ThirtyTwoBitSwappedMasks",
                     [] {
                         DibSpec s;
                         s.width = 2;
                         s.bitCount = 32;
                         s.compression = 3;
                         s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
                         s.rows = {PackWords({0x000A82FA, 0x00808000}, 4),
                                   PackWords({0x00808080, 0x000000FF}, 4)};
                         return s;
                     },
                     32,
                     {{kOrange, kTeal}, {kGrey, kRed}}});
    // A V5 header holds the masks itself; nothing follows it but the rows.
    cases.push_back({"V5HeaderBitfields",
                     [] {
                         DibSpec s;
                         s.headerSize = 124;
                         s.width = 2;
                         s.bitCount = 16;
                         s.compression = 3;
                         s.masks = {0xF800, 0x07E0, 0x001F};
                         s.rows = {PackWords({0x001F, 0xF800}, 2)};
                         return s;
                     },
                     16,
                     {{kBlue, kRed}}});
    cases.push_back({"V4HeaderPalette",
                     [] {
                         DibSpec s;
                         s.headerSize = 108;
                         s.width = 2;
                         s.bitCount = 8;
                         s.colorsUsed = 2;
                         s.table = {kTeal, kOrange};
                         s.rows = {Bytes{1, 0}, Bytes{0, 0}};
                         return s;
                     },
                     8,
                     {{kOrange, kTeal}, {kTeal, kTeal}}});
    return cases;
}

struct OrderedCase {
    DepthCase depth;
    bool topDown;
};

class DecodeDibTest : public testing::TestWithParam<OrderedCase> {};

TEST_P(DecodeDibTest, DecodesEveryPixel) {
    const OrderedCase& c = GetParam();
    DibSpec shape = c.depth.shape();
    shape.topDown = c.topDown;
    const Bytes block = BuildDib(shape);

    const fi::Bitmap bitmap = DecodeExact(block);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetBPP(bitmap.get()), c.depth.decodedBits);
    EXPECT_EQ(fi::FreeImage_GetOriginalBPP(bitmap.get()), c.depth.decodedBits);
    EXPECT_FALSE(fi::FreeImage_IsTransparent(bitmap.get(), 0));

    // As the paste command uses it: brought to 24 bits.
    const PastedImage pasted = DecodePastedImage(PasteSourceKind::Dib, block);
    ASSERT_TRUE(pasted.bitmap);
    EXPECT_EQ(pasted.sourceFormat, fi::kFormatPastedBitmap);
    EXPECT_EQ(::FreeImage_GetBPP(pasted.bitmap.get()), 24u);
    ExpectPixels(pasted.bitmap.get(), c.depth.expected);
}

std::vector<OrderedCase> OrderedCases() {
    std::vector<OrderedCase> cases;
    for (const DepthCase& depth : DepthCases()) {
        cases.push_back({depth, false});
        cases.push_back({depth, true});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Depths, DecodeDibTest, testing::ValuesIn(OrderedCases()),
                         [](const testing::TestParamInfo<OrderedCase>& info) {
                             return std::string(info.param.depth.name) +
                                    (info.param.topDown ? "_TopDown" : "_BottomUp");
                         });

TEST(DibDecodingTest, ColourTableBecomesThePalette) {
    DibSpec shape;
    shape.width = 2;
    shape.bitCount = 8;
    shape.colorsUsed = 3;
    shape.table = {kOrange, kTeal, kGrey};
    shape.rows = {Bytes{0, 2}};
    const fi::Bitmap bitmap = DecodeExact(BuildDib(shape));
    ASSERT_TRUE(bitmap);
    const RGBQUAD* palette = ::FreeImage_GetPalette(bitmap.get());
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette[1].rgbRed, kTeal.red);
    EXPECT_EQ(palette[1].rgbGreen, kTeal.green);
    EXPECT_EQ(palette[1].rgbBlue, kTeal.blue);
    EXPECT_EQ(palette[2].rgbGreen, kGrey.green);
    // Entries the block does not give are black.
    EXPECT_EQ(palette[3].rgbRed, 0);
    EXPECT_EQ(palette[255].rgbBlue, 0);
    BYTE index = 99;
    ASSERT_TRUE(::FreeImage_GetPixelIndex(bitmap.get(), 1, 0, &index));
    EXPECT_EQ(index, 2);
}

TEST(DibDecodingTest, ThirtyTwoBitsAreOpaque) {
    DibSpec shape;
    shape.width = 2;
    shape.bitCount = 32;
    // A fourth byte that varies must still not read as transparency.
    shape.rows = {PackWords({0x00FA820A, 0x7F008080}, 4)};
    const fi::Bitmap bitmap = DecodeExact(BuildDib(shape));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PixelAt(bitmap.get(), 0, 0).rgbReserved, 255);
    EXPECT_EQ(PixelAt(bitmap.get(), 1, 0).rgbReserved, 255);
    EXPECT_EQ(PixelAt(bitmap.get(), 1, 0).rgbGreen, 0x80);
    EXPECT_FALSE(::FreeImage_IsTransparent(bitmap.get()));
    EXPECT_FALSE(fi::FreeImage_OriginalHasAlpha(bitmap.get()));
}

TEST(DibDecodingTest, ResolutionCarriedOverAsDotsPerMetre) {
    DibSpec shape;
    shape.width = 1;
    shape.xPelsPerMeter = 2835;
    shape.yPelsPerMeter = 11811;
    shape.rows = {Bytes{1, 2, 3}};
    fi::Bitmap bitmap = DecodeExact(BuildDib(shape));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(bitmap.get()), 2835u);
    EXPECT_EQ(::FreeImage_GetDotsPerMeterY(bitmap.get()), 11811u);

    // The conversion for the paste keeps it.
    const PastedImage pasted = DecodePastedImage(PasteSourceKind::Dib, BuildDib(shape));
    ASSERT_TRUE(pasted.bitmap);
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(pasted.bitmap.get()), 2835u);

    shape.xPelsPerMeter = -5;
    bitmap = DecodeExact(BuildDib(shape));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(bitmap.get()), 0u);
    EXPECT_EQ(::FreeImage_GetDotsPerMeterY(bitmap.get()), 11811u);
}

TEST(DibDecodingTest, BlockLongerThanTheImageIsFine) {
    // Clipboard blocks are often rounded up in size.
    DibSpec shape;
    shape.width = 1;
    shape.rows = {Bytes{10, 130, 250}};
    Bytes block = BuildDib(shape);
    block.resize(block.size() + 37, 0xEE);
    const fi::Bitmap bitmap = DecodeExact(block);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PixelAt(bitmap.get(), 0, 0).rgbRed, 250);
}

TEST(BitmapFromDIBTest, ReplacesWhatTheSlotHeld) {
    DibSpec shape;
    shape.width = 2;
    shape.rows = {Bytes{1, 2, 3, 4, 5, 6}};
    const Bytes good = BuildDib(shape);

    fi::Bitmap slot = test::MakeRgb(9, 9, [](unsigned, unsigned) { return RGBQUAD{}; });
    EXPECT_TRUE(BitmapFromDIB(good, slot));
    ASSERT_TRUE(slot);
    EXPECT_EQ(::FreeImage_GetWidth(slot.get()), 2u);

    const Bytes bad(good.begin(), good.begin() + 30);
    EXPECT_FALSE(BitmapFromDIB(bad, slot));
    EXPECT_FALSE(slot);
}

// ---- malformed blocks ----

struct MalformedCase {
    const char* name;
    std::function<Bytes()> block;
};

// A valid 8-bit 4 x 4 block with its full table: 40 + 1024 + 16 bytes.
Bytes EightBitBlock() {
    DibSpec shape;
    shape.width = 4;
    shape.bitCount = 8;
    shape.table.assign(256, kGrey);
    shape.rows.assign(4, Bytes{0, 1, 2, 3});
    return BuildDib(shape);
}

// A valid 16-bit 5-6-5 block, 2 x 2: 40 + 12 + 8 bytes.
Bytes BitfieldsBlock() {
    DibSpec shape;
    shape.width = 2;
    shape.bitCount = 16;
    shape.compression = 3;
    shape.masks = {0xF800, 0x07E0, 0x001F};
    shape.rows.assign(2, PackWords({0xF800, 0x001F}, 2));
    return BuildDib(shape);
}

MalformedCase Field(const char* name, Bytes (*base)(), std::size_t at, std::uint32_t value) {
    return {name, [=] {
                Bytes b = base();
                PutU32(b, at, value);
                return b;
            }};
}

MalformedCase Field16(const char* name, std::size_t at, std::uint16_t value) {
    return {name, [=] {
                Bytes b = EightBitBlock();
                PutU16(b, at, value);
                return b;
            }};
}

MalformedCase Truncated(const char* name, Bytes (*base)(), std::size_t removed) {
    return {name, [=] {
                Bytes b = base();
                b.resize(b.size() - removed);
                return b;
            }};
}

MalformedCase Prefix(const char* name, Bytes (*base)(), std::size_t kept) {
    return {name, [=] {
                Bytes b = base();
                b.resize(kept);
                return b;
            }};
}

constexpr std::size_t kSize = 0, kWidth = 4, kHeight = 8, kBits = 14, kCompression = 16,
                      kClrUsed = 32;

class MalformedDibTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedDibTest, GivesNoBitmap) {
    const Bytes block = GetParam().block();
    EXPECT_FALSE(DecodeExact(block));
    fi::Bitmap slot = test::MakeRgb(2, 2, [](unsigned, unsigned) { return RGBQUAD{}; });
    EXPECT_FALSE(BitmapFromDIB(block, slot));
    EXPECT_FALSE(slot);
    EXPECT_FALSE(DecodePastedImage(PasteSourceKind::Dib, block).bitmap);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedDibTest,
    testing::Values(MalformedCase{"EmptyBlock", [] { return Bytes{}; }},
                    Prefix("TruncatedHeader", EightBitBlock, 20),
                    Prefix("HeaderCutAtThirtyNine", EightBitBlock, 39),
                    Field("HeaderSizeLargerThanBlock", BitfieldsBlock, kSize, 124),
                    Field("HeaderSizeHuge", EightBitBlock, kSize, 0xFFFFFFFF),
                    Field("HeaderSizeZero", EightBitBlock, kSize, 0),
                    Field("HeaderSizeUnknown", EightBitBlock, kSize, 44),
                    Field("CoreHeaderSize", EightBitBlock, kSize, 12),
                    Field("ColorsUsedHuge", EightBitBlock, kClrUsed, 0xFFFFFFFF),
                    // Four bytes an entry would wrap to 0 in 32-bit arithmetic.
                    Field("ColorsUsedWrapsTimesFour", EightBitBlock, kClrUsed, 0x40000000),
                    Field("ColorsUsedOneTooMany", EightBitBlock, kClrUsed, 257),
                    Field("WidthZero", EightBitBlock, kWidth, 0),
                    Field("WidthNegative", EightBitBlock, kWidth, static_cast<std::uint32_t>(-4)),
                    Field("WidthHuge", EightBitBlock, kWidth, 0x7FFFFFFF),
                    Field("HeightZero", EightBitBlock, kHeight, 0),
                    Field("HeightHuge", EightBitBlock, kHeight, 0x7FFFFFFF),
                    Field("HeightHugeTopDown", EightBitBlock, kHeight,
                          static_cast<std::uint32_t>(-0x7FFFFFFF)),
                    Field("HeightMostNegative", EightBitBlock, kHeight, 0x80000000),
                    MalformedCase{"WidthAndHeightOverflowTogether",
                                  [] {
                                      Bytes b = EightBitBlock();
                                      PutU32(b, kWidth, 0x10000);
                                      PutU32(b, kHeight, 0x10000);
                                      return b;
                                  }},
                    Field16("BitCountSeven", kBits, 7), Field16("BitCountZero", kBits, 0),
                    Field16("BitCountSixtyFour", kBits, 64),
                    Field("CompressionRunLength", EightBitBlock, kCompression, 1),
                    Field("CompressionJpeg", EightBitBlock, kCompression, 4),
                    Field("BitfieldsAtEightBits", EightBitBlock, kCompression, 3),
                    MalformedCase{"BitfieldsNoMasks",
                                  [] {
                                      Bytes b = BitfieldsBlock();
                                      PutU32(b, 40, 0);
                                      PutU32(b, 44, 0);
                                      PutU32(b, 48, 0);
                                      return b;
                                  }},
                    Prefix("BitfieldsMasksCutOff", BitfieldsBlock, 44),
                    Truncated("PixelsShortByOneByte", EightBitBlock, 1),
                    Truncated("PixelsShortByOneRow", EightBitBlock, 4),
                    Truncated("BitfieldsPixelsShort", BitfieldsBlock, 1),
                    Truncated("TableCutOff", EightBitBlock, 16 + 512)),
    [](const testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

// ---- choosing and decoding what the clipboard offers ----

struct ChoiceCase {
    const char* name;
    bool dibAvailable;
    std::vector<ClipboardFormat> offered;
    PasteSource expected;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) {
    *out << c.name;
}

class ChoosePasteSourceTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(ChoosePasteSourceTest, PicksTheExpectedFormat) {
    const PasteSource source = ChoosePasteSource(GetParam().dibAvailable, GetParam().offered);
    EXPECT_EQ(source.kind, GetParam().expected.kind);
    EXPECT_EQ(source.format, GetParam().expected.format);
}

const ClipboardFormat kDib{kClipboardFormatDib, ""};
const ClipboardFormat kBitmap{2, ""};

INSTANTIATE_TEST_SUITE_P(
    Table, ChoosePasteSourceTest,
    testing::Values(
        ChoiceCase{"PngAndDibPrefersPng",
                   true,
                   {kDib, {0xC123, "PNG"}, kBitmap},
                   {PasteSourceKind::Png, 0xC123}},
        ChoiceCase{"DibOnly", true, {kBitmap, kDib}, {PasteSourceKind::Dib, kClipboardFormatDib}},
        ChoiceCase{"PngWithoutDibIsNothing", false, {{0xC123, "PNG"}}, {PasteSourceKind::None, 0}},
        ChoiceCase{"NothingOffered", false, {}, {PasteSourceKind::None, 0}},
        ChoiceCase{"NameIsCaseSensitive",
                   true,
                   {{0xC200, "png"}, kDib},
                   {PasteSourceKind::Dib, kClipboardFormatDib}},
        ChoiceCase{"NameMustMatchExactly",
                   true,
                   {{0xC201, "PNG "}, {0xC202, "image/png"}, kDib},
                   {PasteSourceKind::Dib, kClipboardFormatDib}},
        ChoiceCase{"FirstPngWins",
                   true,
                   {{0xC300, "PNG"}, {0xC301, "PNG"}, kDib},
                   {PasteSourceKind::Png, 0xC300}}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

TEST(DecodePastedImageTest, PngKeepsTransparencyAndIgnoresBytesAfterIt) {
    const fi::Bitmap original = test::MakeRgba(4, 3, [](unsigned x, unsigned y) {
        return RGBQUAD{static_cast<BYTE>(x * 60), static_cast<BYTE>(y * 90), 200,
                       static_cast<BYTE>(x == 0 ? 0 : 255)};
    });
    Bytes block = test::EncodeWithLibrary(FIF_PNG, original.get(), 0);
    ASSERT_FALSE(block.empty());
    block.resize(block.size() + 64, 0xAB);

    const PastedImage pasted = DecodePastedImage(PasteSourceKind::Png, block);
    ASSERT_TRUE(pasted.bitmap);
    EXPECT_EQ(pasted.sourceFormat, fi::kFormatPng);
    EXPECT_EQ(::FreeImage_GetBPP(pasted.bitmap.get()), 32u);
    EXPECT_TRUE(fi::FreeImage_IsTransparent(pasted.bitmap.get(), 1));
    EXPECT_EQ(PixelAt(pasted.bitmap.get(), 0, 1).rgbReserved, 0);
    EXPECT_EQ(PixelAt(pasted.bitmap.get(), 2, 2).rgbRed, 200);
    EXPECT_EQ(PixelAt(pasted.bitmap.get(), 3, 1).rgbBlue, 180);
    EXPECT_EQ(PixelAt(pasted.bitmap.get(), 1, 2).rgbGreen, 180);
}

TEST(DecodePastedImageTest, UndecodableBlocksGiveNoBitmapButTheirFormat) {
    const Bytes junk(100, 0x42);
    const PastedImage png = DecodePastedImage(PasteSourceKind::Png, junk);
    EXPECT_FALSE(png.bitmap);
    EXPECT_EQ(png.sourceFormat, fi::kFormatPng);

    const PastedImage emptyPng = DecodePastedImage(PasteSourceKind::Png, {});
    EXPECT_FALSE(emptyPng.bitmap);

    const PastedImage dib = DecodePastedImage(PasteSourceKind::Dib, junk);
    EXPECT_FALSE(dib.bitmap);
    EXPECT_EQ(dib.sourceFormat, fi::kFormatPastedBitmap);

    const PastedImage none = DecodePastedImage(PasteSourceKind::None, junk);
    EXPECT_FALSE(none.bitmap);
    EXPECT_EQ(none.sourceFormat, fi::kFormatUnknown);
}

// The paste command's end in the engine: a transparent PNG becomes an
// untitled 32-bit source; junk shows the loading error and leaves no image.
TEST(OpenPastedImageTest, TransparentPngBecomesTheUntitledSource) {
    test::FakeHost host;
    Engine engine(host);
    engine.settings.Mode = OptimizationMode::Manual;
    engine.options.AutomaticPreview = false;
    const fi::Bitmap original = test::MakeRgba(6, 5, [](unsigned x, unsigned) {
        return RGBQUAD{10, 20, 30, static_cast<BYTE>(x < 3 ? 0 : 255)};
    });
    const Bytes png = test::EncodeWithLibrary(FIF_PNG, original.get(), 0);

    ASSERT_TRUE(OpenPastedImage(engine, PasteSourceKind::Png, png));
    EXPECT_EQ(engine.SourcePath, "Untitled");
    EXPECT_EQ(engine.SourceFormat, fi::kFormatPng);
    EXPECT_EQ(::FreeImage_GetBPP(engine.SourceBitmap.get()), 32u);
    EXPECT_TRUE(fi::FreeImage_IsTransparent(engine.SourceBitmap.get(), 1));

    // Nothing to paste leaves the image alone.
    EXPECT_TRUE(OpenPastedImage(engine, PasteSourceKind::None, {}));
    EXPECT_EQ(::FreeImage_GetWidth(engine.SourceBitmap.get()), 6u);

    const Bytes junk(64, 0x42);
    EXPECT_FALSE(OpenPastedImage(engine, PasteSourceKind::Dib, junk));
    EXPECT_FALSE(engine.SourceBitmap);
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.back().kind, MessageKind::Error);
    EXPECT_GT(host.noImageShown, 0);
}

}  // namespace
}  // namespace pimo::engine
