// Four-component JPEG colours and the EXIF orientation after JPEG_EXIFROTATE.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;
using test::JpegFixture;

constexpr int kWidth = 16, kHeight = 8;

// Left half pure red ink (no cyan, full magenta and yellow), right half 50 %
// black ink only: red and a mid grey on screen.
std::uint8_t Ink(int x, int, int c) {
    if (x < kWidth / 2) return c == 1 || c == 2 ? 255 : 0;
    return c == 3 ? 128 : 0;
}
const RGBQUAD kRed = {0, 0, 255, 255};
const RGBQUAD kGrey = {127, 127, 127, 255};

::testing::AssertionResult Near(RGBQUAD actual, RGBQUAD expected, int tolerance = 4) {
    const int d = std::max({std::abs(actual.rgbRed - expected.rgbRed),
                            std::abs(actual.rgbGreen - expected.rgbGreen),
                            std::abs(actual.rgbBlue - expected.rgbBlue)});
    if (d <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got (" << int(actual.rgbRed) << "," << int(actual.rgbGreen) << ","
           << int(actual.rgbBlue) << "), want (" << int(expected.rgbRed) << ","
           << int(expected.rgbGreen) << "," << int(expected.rgbBlue) << ")";
}

struct CmykCase {
    std::string name;
    bool adobeMarker;  // inverted storage, as Photoshop writes
    bool ycck;
};

Bytes CmykJpeg(const CmykCase& c, std::vector<std::pair<int, Bytes>> markers = {}) {
    JpegFixture shape;
    shape.width = kWidth;
    shape.height = kHeight;
    shape.components = 4;
    shape.quality = 95;
    shape.adobeMarker = c.adobeMarker;
    shape.ycck = c.ycck;
    shape.markers = std::move(markers);
    const bool inverted = c.adobeMarker;
    shape.sample = [inverted](int x, int y, int k) {
        const std::uint8_t ink = Ink(x, y, k);
        return static_cast<std::uint8_t>(inverted ? 255 - ink : ink);
    };
    return test::EncodeJpeg(shape);
}

class CmykJpegTest : public ::testing::TestWithParam<CmykCase> {};

TEST_P(CmykJpegTest, FixtureIsWhatItClaims) {
    const test::JpegFacts facts = test::ReadJpegFacts(CmykJpeg(GetParam()));
    EXPECT_EQ(facts.components, 4);
    EXPECT_EQ(facts.adobeMarker, GetParam().adobeMarker);
    EXPECT_EQ(facts.adobeTransform, GetParam().adobeMarker ? (GetParam().ycck ? 2 : 0) : -1);
}

TEST_P(CmykJpegTest, LayerShowsTrueColours) {
    const Bitmap bitmap(FreeImage_LoadFromBytes(kFormatJpeg, CmykJpeg(GetParam()), 0x42));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetBPP(bitmap.get()), 24u);
    EXPECT_TRUE(Near(test::PixelAt(bitmap.get(), 3, 4), kRed));
    EXPECT_TRUE(Near(test::PixelAt(bitmap.get(), 12, 4), kGrey));
}

INSTANTIATE_TEST_SUITE_P(Storage, CmykJpegTest,
                         ::testing::Values(CmykCase{"AdobeInverted", true, false},
                                           CmykCase{"AdobeYcck", true, true},
                                           CmykCase{"StraightWithoutMarker", false, false}),
                         [](const auto& info) { return info.param.name; });

// The library alone takes every CMYK file for an inverted one: a file that
// stores its inks straight comes out as its negative.
TEST(CmykJpegFaultTest, LibraryAloneInvertsStraightInks) {
    const Bitmap bitmap =
        test::DecodeWithLibrary(FIF_JPEG, CmykJpeg({"", false, false}), JPEG_ACCURATE);
    ASSERT_TRUE(bitmap);
    EXPECT_FALSE(Near(test::PixelAt(bitmap.get(), 3, 4), kRed, 100));
}

// A CMYK profile describes the inks; an RGB result must not carry it, as the
// library's own result does.
TEST(CmykJpegTest, DropsTheInkProfile) {
    const Bytes profile = test::MakeIccProfile("cmyk", "CMYK");
    const Bytes file = CmykJpeg({"", true, false}, {{0xE2, test::IccApp2Payload(profile)}});
    const Bitmap own = test::DecodeWithLibrary(FIF_JPEG, file, JPEG_ACCURATE);
    ASSERT_TRUE(own);
    EXPECT_EQ(::FreeImage_GetBPP(own.get()), 24u);
    EXPECT_EQ(::FreeImage_GetICCProfile(own.get())->size, long(profile.size()));

    const Bitmap bitmap(FreeImage_LoadFromBytes(kFormatJpeg, file, 0x42));
    ASSERT_TRUE(bitmap);
    const FIICCPROFILE* icc = ::FreeImage_GetICCProfile(bitmap.get());
    EXPECT_TRUE(!icc || icc->size == 0);
    EXPECT_TRUE(Near(test::PixelAt(bitmap.get(), 3, 4), kRed));
}

// ---- EXIF orientation ----

struct OrientationCase {
    std::string name;
    bool bigEndian;
    std::uint16_t orientation;
    int flags;
    int components;
    unsigned width, height;  // after the load
    unsigned redX, redY;     // a pixel of the red half after the load
    std::uint16_t orientationAfter;
};

Bytes OrientedJpeg(const OrientationCase& c) {
    JpegFixture shape;
    shape.width = kWidth;
    shape.height = kHeight;
    shape.components = c.components;
    shape.quality = 95;
    shape.markers = {{0xE1, test::BuildExifApp1(c.bigEndian, c.orientation)}};
    if (c.components == 4) {
        shape.sample = [](int x, int y, int k) {
            return static_cast<std::uint8_t>(255 - Ink(x, y, k));
        };
    } else {
        shape.sample = [](int x, int, int k) {
            return static_cast<std::uint8_t>(x < kWidth / 2 ? (k == 0 ? 255 : 0) : 127);
        };
    }
    return test::EncodeJpeg(shape);
}

std::uint16_t MainOrientation(FIBITMAP* bitmap) {
    FITAG* tag = nullptr;
    if (!::FreeImage_GetMetadata(FIMD_EXIF_MAIN, bitmap, "Orientation", &tag) || !tag) return 0;
    return *static_cast<const WORD*>(::FreeImage_GetTagValue(tag));
}

Bytes RawExif(FIBITMAP* bitmap) {
    FITAG* tag = nullptr;
    if (!::FreeImage_GetMetadata(FIMD_EXIF_RAW, bitmap, "ExifRaw", &tag) || !tag) return {};
    const auto* data = static_cast<const std::uint8_t*>(::FreeImage_GetTagValue(tag));
    return Bytes(data, data + ::FreeImage_GetTagLength(tag));
}

class ExifOrientationTest : public ::testing::TestWithParam<OrientationCase> {};

TEST_P(ExifOrientationTest, LoadLeavesOrientationMatchingThePixels) {
    const OrientationCase& c = GetParam();
    const Bytes file = OrientedJpeg(c);
    ASSERT_EQ(test::ExifOrientationIn(test::BuildExifApp1(c.bigEndian, c.orientation)),
              c.orientation);

    const Bitmap bitmap(FreeImage_LoadFromBytes(kFormatJpeg, file, c.flags));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetWidth(bitmap.get()), c.width);
    EXPECT_EQ(::FreeImage_GetHeight(bitmap.get()), c.height);
    EXPECT_TRUE(Near(test::PixelAt(bitmap.get(), c.redX, c.redY), kRed, 8));
    EXPECT_EQ(MainOrientation(bitmap.get()), c.orientationAfter);
    const Bytes raw = RawExif(bitmap.get());
    ASSERT_FALSE(raw.empty());
    EXPECT_EQ(test::ExifOrientationIn(raw), c.orientationAfter);

    // Written with its EXIF block and loaded again, the image is not turned twice.
    if (::FreeImage_GetBPP(bitmap.get()) != 24) return;
    const Bytes saved = test::EncodeWithLibrary(FIF_JPEG, bitmap.get(), 95);
    const Bitmap again(FreeImage_LoadFromBytes(kFormatJpeg, saved, c.flags));
    ASSERT_TRUE(again);
    EXPECT_EQ(::FreeImage_GetWidth(again.get()), c.width);
    EXPECT_TRUE(Near(test::PixelAt(again.get(), c.redX, c.redY), kRed, 12));
}

constexpr int kRotate = 0x42 | JPEG_EXIFROTATE;

INSTANTIATE_TEST_SUITE_P(
    Orientations, ExifOrientationTest,
    ::testing::Values(OrientationCase{"Turn90IntelOrder", false, 6, kRotate, 3, 8, 16, 4, 3, 1},
                      OrientationCase{"Turn270MotorolaOrder", true, 8, kRotate, 3, 8, 16, 4, 12, 1},
                      OrientationCase{"Turn180IntelOrder", false, 3, kRotate, 3, 16, 8, 12, 4, 1},
                      OrientationCase{"MirrorMotorolaOrder", true, 2, kRotate, 3, 16, 8, 12, 4, 1},
                      OrientationCase{"AlreadyUpright", true, 1, kRotate, 3, 16, 8, 3, 4, 1},
                      OrientationCase{"NotTurnedWithoutFlag", false, 6, 0x42, 3, 16, 8, 3, 4, 6},
                      OrientationCase{"CmykTurn90", false, 6, kRotate, 4, 8, 16, 4, 3, 1}),
    [](const auto& info) { return info.param.name; });

// The library alone turns the pixels but keeps orientation 6, so its own
// output is turned again when loaded.
TEST(ExifOrientationFaultTest, LibraryAloneTurnsTwice) {
    const Bytes file = OrientedJpeg({"", false, 6, kRotate, 3, 0, 0, 0, 0, 0});
    const Bitmap first = test::DecodeWithLibrary(FIF_JPEG, file, kRotate);
    ASSERT_TRUE(first);
    EXPECT_EQ(::FreeImage_GetWidth(first.get()), 8u);
    EXPECT_EQ(test::ExifOrientationIn(RawExif(first.get())), 6);
    const Bitmap second = test::DecodeWithLibrary(
        FIF_JPEG, test::EncodeWithLibrary(FIF_JPEG, first.get(), 95), kRotate);
    ASSERT_TRUE(second);
    EXPECT_EQ(::FreeImage_GetWidth(second.get()), 16u);
}

}  // namespace
}  // namespace pimo::imagelib
