#include "engine/geometry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

namespace fi = imagelib;
using test::PixelAt;

// Every pixel different, so any misplaced pixel shows.
RGBQUAD Distinct(unsigned x, unsigned y) {
    return RGBQUAD{static_cast<BYTE>(10 + 40 * x), static_cast<BYTE>(7 + 31 * y),
                   static_cast<BYTE>(x * 13 + y * 17), static_cast<BYTE>(255 - 20 * x - y)};
}

fi::Bitmap MakeDistinct(unsigned bits, unsigned width = 5, unsigned height = 3) {
    return bits == 32 ? test::MakeRgba(width, height, Distinct)
                      : test::MakeRgb(width, height, Distinct);
}

bool SamePixels(FIBITMAP* a, FIBITMAP* b) {
    if (::FreeImage_GetWidth(a) != ::FreeImage_GetWidth(b) ||
        ::FreeImage_GetHeight(a) != ::FreeImage_GetHeight(b) ||
        ::FreeImage_GetBPP(a) != ::FreeImage_GetBPP(b)) {
        return false;
    }
    const unsigned lineBytes = ::FreeImage_GetLine(a);
    for (unsigned y = 0; y < ::FreeImage_GetHeight(a); ++y) {
        if (std::memcmp(::FreeImage_GetScanLine(a, y), ::FreeImage_GetScanLine(b, y), lineBytes) !=
            0) {
            return false;
        }
    }
    return true;
}

void ExpectPixel(FIBITMAP* bitmap, unsigned x, unsigned y, RGBQUAD expected, bool withAlpha) {
    const RGBQUAD actual = PixelAt(bitmap, x, y);
    EXPECT_EQ(actual.rgbRed, expected.rgbRed) << x << "," << y;
    EXPECT_EQ(actual.rgbGreen, expected.rgbGreen) << x << "," << y;
    EXPECT_EQ(actual.rgbBlue, expected.rgbBlue) << x << "," << y;
    if (withAlpha) {
        EXPECT_EQ(actual.rgbReserved, expected.rgbReserved) << x << "," << y;
    }
}

class RotateFlipTest : public testing::TestWithParam<unsigned> {};

TEST_P(RotateFlipTest, RotateRightTurnsClockwise) {
    const unsigned bits = GetParam();
    fi::Bitmap slot = MakeDistinct(bits);
    ASSERT_TRUE(RotateBitmap(slot, Rotation::Right));
    ASSERT_EQ(BitmapSize(slot.get()), (ImageSize{3, 5}));
    ASSERT_EQ(::FreeImage_GetBPP(slot.get()), bits);
    // Clockwise: the old left column, read bottom to top, becomes the top row.
    for (unsigned y = 0; y < 5; ++y) {
        for (unsigned x = 0; x < 3; ++x)
            ExpectPixel(slot.get(), x, y, Distinct(y, 2 - x), bits == 32);
    }
}

TEST_P(RotateFlipTest, RotateLeftTurnsCounterClockwise) {
    const unsigned bits = GetParam();
    fi::Bitmap slot = MakeDistinct(bits);
    ASSERT_TRUE(RotateBitmap(slot, Rotation::Left));
    ASSERT_EQ(BitmapSize(slot.get()), (ImageSize{3, 5}));
    // Counter-clockwise: the old top row, read right to left, becomes the left column.
    for (unsigned y = 0; y < 5; ++y) {
        for (unsigned x = 0; x < 3; ++x)
            ExpectPixel(slot.get(), x, y, Distinct(4 - y, x), bits == 32);
    }
}

TEST_P(RotateFlipTest, RightThenLeftGivesBackTheSamePixels) {
    const fi::Bitmap original = MakeDistinct(GetParam());
    fi::Bitmap slot(fi::FreeImage_Clone(original.get()));
    ASSERT_TRUE(RotateBitmap(slot, Rotation::Right));
    ASSERT_TRUE(RotateBitmap(slot, Rotation::Left));
    EXPECT_TRUE(SamePixels(slot.get(), original.get()));
}

TEST_P(RotateFlipTest, FourRightRotationsGiveBackTheSamePixels) {
    const fi::Bitmap original = MakeDistinct(GetParam());
    fi::Bitmap slot(fi::FreeImage_Clone(original.get()));
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(RotateBitmap(slot, Rotation::Right));
        if (i < 3) {
            EXPECT_FALSE(SamePixels(slot.get(), original.get())) << "after " << i + 1;
        }
    }
    EXPECT_TRUE(SamePixels(slot.get(), original.get()));
}

TEST_P(RotateFlipTest, FlipsMirrorInPlace) {
    const unsigned bits = GetParam();
    fi::Bitmap bitmap = MakeDistinct(bits);
    FIBITMAP* const before = bitmap.get();
    ASSERT_TRUE(FlipBitmap(bitmap.get(), FlipAxis::Horizontal));
    EXPECT_EQ(bitmap.get(), before);
    for (unsigned y = 0; y < 3; ++y) {
        for (unsigned x = 0; x < 5; ++x)
            ExpectPixel(bitmap.get(), x, y, Distinct(4 - x, y), bits == 32);
    }
    fi::Bitmap vertical = MakeDistinct(bits);
    ASSERT_TRUE(FlipBitmap(vertical.get(), FlipAxis::Vertical));
    for (unsigned y = 0; y < 3; ++y) {
        for (unsigned x = 0; x < 5; ++x)
            ExpectPixel(vertical.get(), x, y, Distinct(x, 2 - y), bits == 32);
    }
}

TEST_P(RotateFlipTest, FlippingTwiceGivesBackTheSamePixels) {
    const fi::Bitmap original = MakeDistinct(GetParam());
    for (const FlipAxis axis : {FlipAxis::Horizontal, FlipAxis::Vertical}) {
        fi::Bitmap bitmap(fi::FreeImage_Clone(original.get()));
        ASSERT_TRUE(FlipBitmap(bitmap.get(), axis));
        EXPECT_FALSE(SamePixels(bitmap.get(), original.get()));
        ASSERT_TRUE(FlipBitmap(bitmap.get(), axis));
        EXPECT_TRUE(SamePixels(bitmap.get(), original.get()));
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, RotateFlipTest, testing::Values(24u, 32u),
                         [](const testing::TestParamInfo<unsigned>& info) {
                             return std::to_string(info.param) + "Bits";
                         });

TEST(GeometryTest, RotatedTransparentImageStaysTransparent) {
    fi::Bitmap slot = MakeDistinct(32);
    ASSERT_TRUE(RotateBitmap(slot, Rotation::Left));
    EXPECT_TRUE(fi::FreeImage_IsTransparent(slot.get(), 1));
}

TEST(GeometryTest, NoBitmapIsNoOperation) {
    fi::Bitmap empty;
    EXPECT_FALSE(RotateBitmap(empty, Rotation::Right));
    EXPECT_FALSE(RescaleBitmap(empty, {10, 10}, 1));
    EXPECT_FALSE(FlipBitmap(nullptr, FlipAxis::Vertical));
    EXPECT_FALSE(empty);
    EXPECT_EQ(BitmapSize(nullptr), (ImageSize{0, 0}));
}

// ---- rescaling ----

TEST(ResampleFilterTest, IndexMapsToLibraryFilter) {
    EXPECT_EQ(ResampleFilterFor(0), FILTER_LANCZOS3);
    EXPECT_EQ(ResampleFilterFor(1), FILTER_CATMULLROM);
    EXPECT_EQ(ResampleFilterFor(2), FILTER_BICUBIC);
    EXPECT_EQ(ResampleFilterFor(3), FILTER_BSPLINE);
    EXPECT_EQ(ResampleFilterFor(4), FILTER_BILINEAR);
    EXPECT_EQ(ResampleFilterFor(5), FILTER_BOX);
    EXPECT_EQ(ResampleFilterFor(-1), FILTER_CATMULLROM);
    EXPECT_EQ(ResampleFilterFor(6), FILTER_CATMULLROM);
}

struct RescaleCase {
    int filter;
    unsigned bits;
    ImageSize target;
};

class RescaleTest : public testing::TestWithParam<RescaleCase> {};

TEST_P(RescaleTest, ProducesTheRequestedSizeAndKeepsColours) {
    const RescaleCase& c = GetParam();
    const RGBQUAD flat{40, 160, 220, 255};
    fi::Bitmap slot = c.bits == 32
                          ? test::MakeRgba(80, 60, [&](unsigned, unsigned) { return flat; })
                          : test::MakeRgb(80, 60, [&](unsigned, unsigned) { return flat; });
    ASSERT_TRUE(RescaleBitmap(slot, c.target, c.filter));
    EXPECT_EQ(BitmapSize(slot.get()), c.target);
    EXPECT_EQ(::FreeImage_GetBPP(slot.get()), c.bits);
    // A flat image stays flat under every filter (up to rounding).
    const RGBQUAD centre = PixelAt(slot.get(), c.target.width / 2, c.target.height / 2);
    EXPECT_NEAR(centre.rgbRed, flat.rgbRed, 1);
    EXPECT_NEAR(centre.rgbGreen, flat.rgbGreen, 1);
    EXPECT_NEAR(centre.rgbBlue, flat.rgbBlue, 1);
}

std::vector<RescaleCase> RescaleCases() {
    std::vector<RescaleCase> cases;
    for (int filter = 0; filter <= kResampleFilterCount; ++filter) {  // 6: out of range
        for (const unsigned bits : {24u, 32u}) {
            cases.push_back({filter, bits, {40, 30}});
            cases.push_back({filter, bits, {133, 100}});
            cases.push_back({filter, bits, {1, 1}});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Filters, RescaleTest, testing::ValuesIn(RescaleCases()),
                         [](const testing::TestParamInfo<RescaleCase>& info) {
                             const RescaleCase& c = info.param;
                             return "Filter" + std::to_string(c.filter) + "_" +
                                    std::to_string(c.bits) + "Bits_" +
                                    std::to_string(c.target.width) + "x" +
                                    std::to_string(c.target.height);
                         });

TEST(GeometryTest, FiltersDifferOnDetail) {
    // The six filters are six different kernels: upscaling a checkerboard
    // must not give the same picture twice.
    std::vector<fi::Bitmap> results;
    for (int filter = 0; filter < kResampleFilterCount; ++filter) {
        fi::Bitmap slot = test::MakeRgb(6, 6, [](unsigned x, unsigned y) {
            const BYTE v = (x + y) % 2 ? 255 : 0;
            return RGBQUAD{v, v, v, 0};
        });
        ASSERT_TRUE(RescaleBitmap(slot, {17, 17}, filter));
        for (std::size_t other = 0; other < results.size(); ++other) {
            EXPECT_FALSE(SamePixels(slot.get(), results[other].get())) << filter << " vs " << other;
        }
        results.push_back(std::move(slot));
    }
}

TEST(GeometryTest, FailedRescaleLeavesTheSlotEmpty) {
    fi::Bitmap slot = MakeDistinct(24);
    EXPECT_FALSE(RescaleBitmap(slot, {0, 10}, 1));
    EXPECT_FALSE(slot);
}

TEST(GeometryTest, CarriedDataSurvivesRotationAndRescale) {
    fi::Bitmap slot = MakeDistinct(24, 8, 6);
    fi::RecordOriginalFacts(slot.get(), 0);
    std::vector<std::uint8_t> profile(64, 0x5A);
    ASSERT_TRUE(::FreeImage_CreateICCProfile(slot.get(), profile.data(),
                                             static_cast<long>(profile.size())));
    ASSERT_EQ(fi::FreeImage_GetOriginalBPP(slot.get()), 24u);

    ASSERT_TRUE(RotateBitmap(slot, Rotation::Right));
    ASSERT_TRUE(RescaleBitmap(slot, {3, 4}, 0));

    EXPECT_EQ(fi::FreeImage_GetOriginalBPP(slot.get()), 24u);
    const FIICCPROFILE* carried = ::FreeImage_GetICCProfile(slot.get());
    ASSERT_NE(carried, nullptr);
    ASSERT_EQ(carried->size, profile.size());
    EXPECT_EQ(std::memcmp(carried->data, profile.data(), profile.size()), 0);
}

}  // namespace
}  // namespace pimo::engine
