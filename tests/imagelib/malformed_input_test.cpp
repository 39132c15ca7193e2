// Damaged and hostile files: every one loads to nothing or to a sane bitmap,
// and nothing reads outside the bytes (these tests also run under the
// address and undefined-behaviour sanitizers).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/imagelib/bmp_decoder.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_exif.h"
#include "engine/imagelib/jpeg_markers.h"
#include "engine/imagelib/load_repairs.h"
#include "engine/imagelib/png_chunks.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

struct Block {
    std::string name;
    int format;  // system format identifier
    Bytes bytes;
    int flags = 0;
};

void Patch32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void Patch16(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Loads through the layer and through each parser on its own.
void ExpectNothingOrSane(const Block& block) {
    SCOPED_TRACE(block.name);
    const std::span<const std::uint8_t> bytes(block.bytes);
    EXPECT_LE(EstimateJpegQuality(bytes), 100);
    (void)ReadJpegHeader(bytes);
    (void)PngIccProfile(bytes);
    Bitmap own(DecodeBmp(bytes));
    Bytes copy = block.bytes;
    (void)SetExifBlockOrientation(copy, 1);

    const Bitmap bitmap(FreeImage_LoadFromBytes(block.format, bytes, block.flags));
    for (FIBITMAP* b : {bitmap.get(), own.get()}) {
        if (!b) continue;
        const unsigned width = ::FreeImage_GetWidth(b), height = ::FreeImage_GetHeight(b);
        EXPECT_GE(width, 1u);
        EXPECT_GE(height, 1u);
        EXPECT_LE(std::uint64_t{width} * height, std::uint64_t{1} << 28);
        EXPECT_NE(::FreeImage_GetScanLine(b, height - 1), nullptr);
    }
}

// Every prefix of a file.
void ExpectTruncationsSafe(const std::string& name, int format, const Bytes& file, std::size_t step,
                           int flags = 0) {
    for (std::size_t length = 0; length < file.size(); length += step) {
        ExpectNothingOrSane(
            {name + " cut at " + std::to_string(length), format,
             Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), flags});
    }
}

// ---- BMP ----

test::BmpSpec V5Alpha() {
    test::BmpSpec shape;
    shape.width = 5;
    shape.height = 3;
    shape.bitCount = 32;
    shape.compression = 3;
    shape.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    for (std::uint32_t i = 0; i < 15; ++i) shape.values.push_back(i * 0x11223344u);
    shape.profile = test::MakeIccProfile("bmp");
    return shape;
}

test::BmpSpec V5Rle8(Bytes stream) {
    test::BmpSpec shape;
    shape.width = 5;
    shape.height = 3;
    shape.bitCount = 8;
    shape.compression = 1;
    shape.palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    shape.rawPixels = std::move(stream);
    return shape;
}

test::BmpSpec V4Palette4() {
    test::BmpSpec shape;
    shape.headerSize = 108;
    shape.width = 7;
    shape.height = -2;
    shape.bitCount = 4;
    for (int i = 0; i < 16; ++i) shape.palette.push_back({std::uint8_t(i), 0, 0});
    for (std::uint32_t i = 0; i < 14; ++i) shape.values.push_back(i);
    return shape;
}

constexpr int kBmp = kFormatPastedBitmap;
constexpr std::size_t kInfo = 14;  // the info header starts here

std::vector<Block> BmpBlocks() {
    const Bytes alpha = test::BuildBmp(V5Alpha());
    const Bytes rle = test::BuildBmp(
        V5Rle8({0x03, 0x01, 0x00, 0x00, 0x00, 0x04, 0x01, 0x02, 0x00, 0x01, 0x00, 0x01}));
    std::vector<Block> blocks;
    const auto variant = [&](const std::string& name, const Bytes& base, auto change) {
        Bytes bytes = base;
        change(bytes);
        blocks.push_back({name, kBmp, bytes});
    };
    variant("HugeDimensionsTinyFile", alpha, [](Bytes& b) {
        Patch32(b, kInfo + 4, 0x7FFFFFFF);
        Patch32(b, kInfo + 8, 0x7FFFFFFF);
    });
    variant("TenGigapixels", alpha, [](Bytes& b) {
        Patch32(b, kInfo + 4, 100000);
        Patch32(b, kInfo + 8, 100000);
    });
    variant("LargeButNoData", alpha, [](Bytes& b) {
        Patch32(b, kInfo + 4, 16000);
        Patch32(b, kInfo + 8, 16000);
    });
    variant("RleLargeFromFewBytes", rle, [](Bytes& b) {
        Patch32(b, kInfo + 4, 16000);
        Patch32(b, kInfo + 8, 16000);
    });
    variant("HeightMostNegative", alpha, [](Bytes& b) { Patch32(b, kInfo + 8, 0x80000000); });
    variant("WidthNegative", alpha, [](Bytes& b) { Patch32(b, kInfo + 4, 0xFFFFFFFB); });
    variant("WidthZero", alpha, [](Bytes& b) { Patch32(b, kInfo + 4, 0); });
    variant("HeightZero", alpha, [](Bytes& b) { Patch32(b, kInfo + 8, 0); });
    for (const std::uint32_t bits : {0u, 7u, 64u, 0xFFFFu}) {
        variant("BitCount" + std::to_string(bits), alpha,
                [=](Bytes& b) { Patch16(b, kInfo + 14, bits); });
    }
    for (const std::uint32_t compression : {4u, 5u, 99u, 1u}) {
        variant("Compression" + std::to_string(compression), alpha,
                [=](Bytes& b) { Patch32(b, kInfo + 16, compression); });
    }
    variant("RleTopDown", rle, [](Bytes& b) { Patch32(b, kInfo + 8, 0xFFFFFFFD); });
    for (const std::uint32_t offset : {0u, 5u, 0xFFFFFFFFu, std::uint32_t(alpha.size())}) {
        variant("PixelOffset" + std::to_string(offset), alpha,
                [=](Bytes& b) { Patch32(b, 10, offset); });
    }
    variant("ColoursUsedHuge", rle, [](Bytes& b) { Patch32(b, kInfo + 32, 0xFFFFFFFF); });
    variant("MaskNotOneRun", alpha, [](Bytes& b) { Patch32(b, kInfo + 40, 0x00FF00FF); });
    variant("MasksOverlap", alpha, [](Bytes& b) { Patch32(b, kInfo + 44, 0x00FF0000); });
    variant("MasksAllZero", alpha, [](Bytes& b) {
        Patch32(b, kInfo + 40, 0);
        Patch32(b, kInfo + 44, 0);
        Patch32(b, kInfo + 48, 0);
    });
    for (const std::uint32_t size : {0u, 39u, 200u, 0xFFFFFFF0u}) {
        variant("InfoHeader" + std::to_string(size), alpha,
                [=](Bytes& b) { Patch32(b, kInfo, size); });
    }
    variant("ProfileOffsetPastEnd", alpha, [](Bytes& b) { Patch32(b, kInfo + 112, 0xFFFFFF00); });
    variant("ProfileSizeHuge", alpha, [](Bytes& b) { Patch32(b, kInfo + 116, 0x7FFFFFFF); });
    const std::vector<std::pair<std::string, Bytes>> streams = {
        {"RleDeltaBeyondImage",
         {0x00, 0x02, 0xFF, 0xFF, 0x05, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x02, 0x02}},
        {"RleLiteralPastData", {0x00, 0xFF, 0x01, 0x02}},
        {"RleNoEndCodes", {0xFF, 0x01, 0xFF, 0x02, 0xFF, 0x01, 0xFF, 0x02}},
        {"RleDeltaCutShort", {0x00, 0x02, 0x01}},
    };
    for (const auto& [name, stream] : streams) {
        blocks.push_back({name, kBmp, test::BuildBmp(V5Rle8(stream))});
    }
    return blocks;
}

TEST(MalformedInputTest, BmpHeadersAndStreams) {
    for (const Block& block : BmpBlocks()) ExpectNothingOrSane(block);
}

TEST(MalformedInputTest, HugeBmpDimensionsAreRefused) {
    const std::vector<std::string> names = {"HugeDimensionsTinyFile", "TenGigapixels",
                                            "LargeButNoData", "RleLargeFromFewBytes"};
    for (const Block& block : BmpBlocks()) {
        if (std::find(names.begin(), names.end(), block.name) == names.end()) continue;
        EXPECT_FALSE(Bitmap(FreeImage_LoadFromBytes(kBmp, block.bytes, 0))) << block.name;
    }
}

// A damaged profile reference costs the profile, not the image.
TEST(MalformedInputTest, BmpWithBadProfileReferenceStillDecodes) {
    Bytes bytes = test::BuildBmp(V5Alpha());
    Patch32(bytes, kInfo + 112, 0xFFFFFF00);
    const Bitmap bitmap(FreeImage_LoadFromBytes(kBmp, bytes, 0));
    ASSERT_TRUE(bitmap);
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(bitmap.get());
    EXPECT_TRUE(!profile || profile->size == 0);
}

TEST(MalformedInputTest, BmpTruncatedAnywhere) {
    ExpectTruncationsSafe("v5 alpha", kBmp, test::BuildBmp(V5Alpha()), 1);
    ExpectTruncationsSafe("v5 rle8", kBmp,
                          test::BuildBmp(V5Rle8({0x03, 0x01, 0x00, 0x00, 0x00, 0x04, 0x01, 0x02,
                                                 0x00, 0x01, 0x00, 0x01})),
                          1);
    ExpectTruncationsSafe("v4 4-bit", kBmp, test::BuildBmp(V4Palette4()), 1);
}

// ---- JPEG ----

Bytes RgbJpegWithExif(bool bigEndian) {
    test::JpegFixture shape;
    shape.width = 24;
    shape.height = 16;
    shape.markers = {{0xE1, test::BuildExifApp1(bigEndian, 6)}};
    shape.sample = [](int x, int y, int c) {
        return static_cast<std::uint8_t>(x * 9 + y * 5 + c * 40);
    };
    return test::EncodeJpeg(shape);
}

Bytes AdobeCmykJpeg() {
    test::JpegFixture shape;
    shape.width = 24;
    shape.height = 16;
    shape.components = 4;
    shape.sample = [](int x, int y, int c) {
        return static_cast<std::uint8_t>(x * 7 + y * 3 + c * 50);
    };
    return test::EncodeJpeg(shape);
}

// Offset of the first segment of type `marker`.
std::size_t SegmentAt(const Bytes& jpeg, std::uint8_t marker) {
    for (std::size_t at = 2; at + 1 < jpeg.size(); ++at) {
        if (jpeg[at] == 0xFF && jpeg[at + 1] == marker) return at;
    }
    ADD_FAILURE() << "no segment " << int(marker);
    return 0;
}

TEST(MalformedInputTest, JpegSegments) {
    constexpr int kFlags = 0x42 | JPEG_EXIFROTATE;
    const Bytes rgb = RgbJpegWithExif(false);
    const Bytes cmyk = AdobeCmykJpeg();
    std::vector<Block> blocks = {
        {"OnlyStartOfImage", kFormatJpeg, {0xFF, 0xD8}, kFlags},
        {"StartAndFill", kFormatJpeg, {0xFF, 0xD8, 0xFF, 0xFF, 0xFF}, kFlags},
        {"GarbageAfterStart", kFormatJpeg, {0xFF, 0xD8, 0x12, 0x34, 0x56, 0x78}, kFlags},
    };
    const auto variant = [&](const std::string& name, const Bytes& base, auto change) {
        Bytes bytes = base;
        change(bytes);
        blocks.push_back({name, kFormatJpeg, bytes, kFlags});
    };
    const std::size_t sof = SegmentAt(rgb, 0xC0), dqt = SegmentAt(rgb, 0xDB),
                      app14 = SegmentAt(cmyk, 0xEE);
    variant("FrameHuge", rgb,
            [&](Bytes& b) { b[sof + 5] = b[sof + 6] = b[sof + 7] = b[sof + 8] = 0xFF; });
    variant("FrameEmpty", rgb,
            [&](Bytes& b) { b[sof + 5] = b[sof + 6] = b[sof + 7] = b[sof + 8] = 0; });
    variant("FrameNoComponents", rgb, [&](Bytes& b) { b[sof + 9] = 0; });
    variant("FrameManyComponents", rgb, [&](Bytes& b) { b[sof + 9] = 0xFF; });
    variant("FrameTableSlot15", rgb, [&](Bytes& b) { b[sof + 12] = 0x0F; });
    variant("TableLengthPastEnd", rgb, [&](Bytes& b) {
        b[dqt + 2] = 0xFF;
        b[dqt + 3] = 0xFF;
    });
    variant("TableSlot9", rgb, [&](Bytes& b) { b[dqt + 4] = 0x09; });
    variant("TablePrecision3", rgb, [&](Bytes& b) { b[dqt + 4] = 0x30; });
    variant("TableLengthOne", rgb, [&](Bytes& b) {
        b[dqt + 2] = 0;
        b[dqt + 3] = 1;
    });
    variant("AdobeMarkerShort", cmyk, [&](Bytes& b) {
        b[app14 + 2] = 0;
        b[app14 + 3] = 7;
    });
    variant("CmykFrameSaysThree", cmyk, [&](Bytes& b) { b[SegmentAt(b, 0xC0) + 9] = 3; });
    for (const Block& block : blocks) ExpectNothingOrSane(block);
}

TEST(MalformedInputTest, JpegTruncatedAnywhere) {
    ExpectTruncationsSafe("rgb exif", kFormatJpeg, RgbJpegWithExif(true), 7,
                          0x42 | JPEG_EXIFROTATE);
    ExpectTruncationsSafe("adobe cmyk", kFormatJpeg, AdobeCmykJpeg(), 7, 0x42 | JPEG_EXIFROTATE);
}

TEST(MalformedInputTest, ExifBlocks) {
    const Bytes good = test::BuildExifApp1(false, 6);
    struct Row {
        std::string name;
        Bytes block;
        bool changes;
    };
    std::vector<Row> rows = {
        {"Empty", {}, false},
        {"PrefixOnly", Bytes(good.begin(), good.begin() + 6), false},
        {"NoByteOrder", {'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 42, 0, 8, 0, 0, 0}, false},
        {"MixedByteOrder", {'I', 'M', 42, 0, 8, 0, 0, 0}, false},
    };
    Bytes farDirectory = good;
    Patch32(farDirectory, 10, 0xFFFFFFF0);
    rows.push_back({"DirectoryPastEnd", farDirectory, false});
    // The orientation entry comes first and is whole; the count lies about the rest.
    Bytes manyEntries = good;
    Patch16(manyEntries, 14, 0xFFFF);
    rows.push_back({"EntryCountPastEnd", manyEntries, true});
    Bytes longType = good;
    Patch16(longType, 18, 4);
    rows.push_back({"OrientationNotShort", longType, false});
    // Only a block that still holds the whole entry may change.
    constexpr std::size_t kEntryEnd = 6 + 8 + 2 + 12;
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        rows.push_back({"Cut" + std::to_string(cut),
                        Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)),
                        cut >= kEntryEnd});
    }
    for (Row& row : rows) {
        const Bytes before = row.block;
        EXPECT_EQ(SetExifBlockOrientation(row.block, 1), row.changes) << row.name;
        if (row.changes) {
            EXPECT_EQ(test::ExifOrientationIn(row.block), 1) << row.name;
        } else {
            EXPECT_EQ(row.block, before) << row.name;
        }
    }
}

// ---- PNG ----

TEST(MalformedInputTest, PngChunks) {
    const Bytes profile = test::MakeIccProfile("png");
    const Bytes iccp = test::PngChunk("iCCP", test::IccpPayload("Display", profile));
    const Bytes png =
        test::BuildRgbPng(6, 4, [](int x, int y) { return std::uint32_t(x * y * 999); }, {iccp});
    std::vector<Block> blocks;
    Bytes huge = png;
    for (std::size_t at : {16u, 20u}) {  // IHDR width and height, big-endian
        huge[at] = 0x00;
        huge[at + 1] = 0x1E;
        huge[at + 2] = 0x84;
        huge[at + 3] = 0x80;  // 2,000,000
    }
    blocks.push_back({"DimensionsBeyondLibpngLimit", kFormatPng, huge});
    Bytes longChunk = png;
    const std::size_t iccpAt = 8 + 25;  // after the signature and IHDR
    longChunk[iccpAt] = 0xFF;
    longChunk[iccpAt + 1] = 0xFF;
    longChunk[iccpAt + 2] = 0xFF;
    longChunk[iccpAt + 3] = 0xF0;
    blocks.push_back({"ChunkLengthPastEnd", kFormatPng, longChunk});
    for (const Block& block : blocks) ExpectNothingOrSane(block);
    ExpectTruncationsSafe("png with iccp", kFormatPng, png, 3);
}

}  // namespace
}  // namespace pimo::imagelib
