// The tests' own libpng reader: many checks compare pixels it returns, so it
// must give the stored samples and must fail on a file libpng refuses.
#include "tests/support/libpng_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/independent_decoders.h"

namespace pimo::test {
namespace {

// A PNG without filtering: `rows` are the packed samples of each row.
Bytes MakePng(std::uint32_t width, int depth, int colourType, const std::vector<Bytes>& rows,
              const std::vector<Bytes>& chunksBeforeData = {}) {
    Bytes header;
    PutBe32(header, width);
    PutBe32(header, static_cast<std::uint32_t>(rows.size()));
    header.insert(header.end(), {static_cast<std::uint8_t>(depth),
                                 static_cast<std::uint8_t>(colourType), 0, 0, 0});
    Bytes raw;
    for (const Bytes& row : rows) {
        raw.push_back(0);  // filter "none"
        raw.insert(raw.end(), row.begin(), row.end());
    }
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<Bytes> chunks = {PngChunk("IHDR", header)};
    chunks.insert(chunks.end(), chunksBeforeData.begin(), chunksBeforeData.end());
    chunks.push_back(PngChunk("IDAT", Deflate(raw)));
    chunks.push_back(PngChunk("IEND", {}));
    for (const Bytes& chunk : chunks) png.insert(png.end(), chunk.begin(), chunk.end());
    return png;
}

// Three pixels at 2 bits: indices 0, 3, 1; entry 0 fully transparent.
Bytes PalettePng() {
    return MakePng(3, 2, 3, {{0b00'11'01'00}},
                   {PngChunk("PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90, 200, 150, 100}),
                    PngChunk("tRNS", {0})});
}

TEST(LibpngReaderTest, ExpandsEveryLayoutToSixteenBitRgba) {
    struct Case {
        std::string name;
        Bytes png;
        std::vector<std::uint16_t> rgba;
    };
    const std::vector<Case> cases = {
        {"rgb8",
         MakePng(2, 8, 2, {{0x10, 0x20, 0x30, 0xFF, 0x00, 0x80}}),
         {0x1010, 0x2020, 0x3030, 0xFFFF, 0xFFFF, 0x0000, 0x8080, 0xFFFF}},
        {"grey16", MakePng(1, 16, 0, {{0x12, 0x34}}), {0x1234, 0x1234, 0x1234, 0xFFFF}},
        {"palette2",
         PalettePng(),
         {0x0A0A, 0x1414, 0x1E1E, 0x0000, 0xC8C8, 0x9696, 0x6464, 0xFFFF, 0x2828, 0x3232, 0x3C3C,
          0xFFFF}},
    };
    for (const Case& c : cases) {
        LibpngImage image;
        ASSERT_TRUE(DecodeWithLibpng(c.png, image)) << c.name;
        EXPECT_EQ(image.rgba, c.rgba) << c.name;
        EXPECT_TRUE(image.warnings.empty()) << c.name;
    }
}

TEST(LibpngReaderTest, IndicesOnlyForPaletteImages) {
    LibpngImage image;
    ASSERT_TRUE(DecodeWithLibpng(PalettePng(), image, {LibpngPixels::Indices}));
    EXPECT_EQ(image.indices, (std::vector<std::uint8_t>{0, 3, 1}));
    EXPECT_TRUE(image.rgba.empty());
    EXPECT_FALSE(DecodeWithLibpng(MakePng(1, 8, 2, {{1, 2, 3}}), image, {LibpngPixels::Indices}));
}

TEST(LibpngReaderTest, IndependentDecoderRoundsSixteenBitSamples) {
    const DecodedPng png = DecodePng(MakePng(2, 16, 0, {{0x12, 0x34, 0xFF, 0x7F}}));
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.pixels, (std::vector<Rgba>{{0x12, 0x12, 0x12, 255}, {0xFF, 0xFF, 0xFF, 255}}));
    EXPECT_EQ(png.bitDepth, 16);
}

// Files libpng refuses; a read that stops before the image data sees only
// the damage in the header chunks.
TEST(LibpngReaderTest, FailsWhereLibpngRefuses) {
    const Bytes good = MakePng(2, 8, 2, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
    const std::size_t idatEnd = good.size() - 12;  // IEND is the last 12 bytes
    struct Case {
        std::string name;
        Bytes png;
        bool headerReads;
    };
    Bytes badSignature = good;
    badSignature[1] = 'Q';
    Bytes badDataCrc = good;
    badDataCrc[idatEnd - 1] ^= 0x55;
    Bytes badHeaderCrc = good;
    badHeaderCrc[8 + 8 + 13] ^= 0x55;
    const std::vector<Case> cases = {
        {"BadSignature", badSignature, false},
        {"BadHeaderCrc", badHeaderCrc, false},
        {"BadDataCrc", badDataCrc, true},
        {"CutInsideTheData", Bytes(good.begin(), good.begin() + idatEnd - 8), true},
        {"NoEnd", Bytes(good.begin(), good.begin() + idatEnd), true},
    };
    ASSERT_TRUE(DecodePng(good).valid);
    for (const Case& c : cases) {
        LibpngImage image;
        EXPECT_FALSE(DecodeWithLibpng(c.png, image)) << c.name;
        EXPECT_FALSE(DecodeWithLibpng(c.png, image, {LibpngPixels::Discard})) << c.name;
        EXPECT_EQ(DecodeWithLibpng(c.png, image, {LibpngPixels::None}), c.headerReads) << c.name;
        EXPECT_FALSE(DecodePng(c.png).valid) << c.name;
    }
}

TEST(LibpngReaderTest, HugeWidthNeedsAnySize) {
    // One row of two million 1-bit pixels: past libpng's default limit.
    const Bytes png = MakePng(2'000'000, 1, 0, {Bytes(250'000, 0xA5)});
    LibpngImage image;
    EXPECT_FALSE(DecodeWithLibpng(png, image, {LibpngPixels::Discard}));
    ASSERT_TRUE(DecodeWithLibpng(png, image, {LibpngPixels::Discard, true}));
    EXPECT_EQ(image.width, 2'000'000u);
    EXPECT_TRUE(image.rgba.empty() && image.indices.empty());
}

}  // namespace
}  // namespace pimo::test
