// A library bitmap turned into the picture the view shows: every depth the
// engine hands over, and the reuse of the previous result's memory.

#include "ui/bitmap_image.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"
#include "ui/result_detail.h"

namespace pimo::ui {
namespace {

using test::Bitmap;

// The 32-bit pixels the library itself makes of `bitmap`, top row first.
void ExpectSamePixels(FIBITMAP* bitmap, const QImage& image) {
    const Bitmap reference(FreeImage_ConvertTo32Bits(bitmap));
    ASSERT_TRUE(reference);
    const int width = static_cast<int>(FreeImage_GetWidth(bitmap));
    const int height = static_cast<int>(FreeImage_GetHeight(bitmap));
    ASSERT_EQ(image.size(), QSize(width, height));
    const bool alpha = image.hasAlphaChannel();
    for (int y = 0; y < height; ++y) {
        const BYTE* row = FreeImage_GetScanLine(reference.get(), height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const BYTE* bgra = row + 4 * x;
            const QRgb expected = qRgba(bgra[FI_RGBA_RED], bgra[FI_RGBA_GREEN], bgra[FI_RGBA_BLUE],
                                        alpha ? bgra[FI_RGBA_ALPHA] : 255);
            ASSERT_EQ(image.pixel(x, y), expected) << "at " << x << "," << y;
        }
    }
}

struct DepthCase {
    std::string name;
    Bitmap (*make)();
    QImage::Format format;
};

void PrintTo(const DepthCase& c, std::ostream* out) {
    *out << c.name;
}

class ToQImageTest : public testing::TestWithParam<DepthCase> {};

TEST_P(ToQImageTest, ShowsThePixelsTheLibraryReads) {
    const Bitmap bitmap = GetParam().make();
    ASSERT_TRUE(bitmap);
    const QImage image = ToQImage(bitmap.get());
    EXPECT_EQ(image.format(), GetParam().format);
    ExpectSamePixels(bitmap.get(), image);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, ToQImageTest,
    testing::Values(
        // An odd width, so that 24-bit rows carry padding.
        DepthCase{"TrueColour", [] { return test::MakePhotoLike(37, 23); }, QImage::Format_RGB32},
        DepthCase{"WithAlpha",
                  [] {
                      return test::MakeRgba(19, 11, [](unsigned x, unsigned y) {
                          return RGBQUAD{BYTE(x * 13), BYTE(y * 20), 90, BYTE((x + y) * 11)};
                      });
                  },
                  QImage::Format_ARGB32},
        DepthCase{"Palette",
                  [] {
                      const Bitmap photo = test::MakePhotoLike(33, 17);
                      return Bitmap(FreeImage_ColorQuantize(photo.get(), FIQ_WUQUANT));
                  },
                  QImage::Format_RGB32},
        DepthCase{"Bilevel",
                  [] {
                      const Bitmap photo = test::MakePhotoLike(29, 9);
                      return Bitmap(FreeImage_Threshold(photo.get(), 128));
                  },
                  QImage::Format_RGB32}),
    [](const testing::TestParamInfo<DepthCase>& info) { return info.param.name; });

TEST(ToQImageReuseTest, TheLastPicturesMemoryIsFilledAgainWhenNothingElseHoldsIt) {
    const Bitmap first = test::MakePhotoLike(40, 30, 1);
    const Bitmap second = test::MakePhotoLike(40, 30, 2);
    QImage shown = ToQImage(first.get());
    const uchar* memory = shown.constBits();
    const QImage next = ToQImage(second.get(), std::move(shown));
    EXPECT_EQ(next.constBits(), memory);
    ExpectSamePixels(second.get(), next);
}

TEST(ToQImageReuseTest, APictureSharedElsewhereOrOfAnotherSizeIsLeftAlone) {
    const Bitmap first = test::MakePhotoLike(40, 30, 1);
    const Bitmap second = test::MakePhotoLike(40, 30, 2);
    const QImage shown = ToQImage(first.get());
    const QImage keptElsewhere = shown;  // e.g. the full-screen view's copy
    const QImage next = ToQImage(second.get(), shown);
    EXPECT_NE(next.constBits(), keptElsewhere.constBits());
    ExpectSamePixels(first.get(), keptElsewhere);
    ExpectSamePixels(second.get(), next);

    const Bitmap larger = test::MakePhotoLike(41, 30, 3);
    QImage reusable = ToQImage(first.get());
    const QImage grown = ToQImage(larger.get(), std::move(reusable));
    ExpectSamePixels(larger.get(), grown);
}

// The result's picture for the view: reduced as asked, whole when the reduced
// decode declines the file, and nothing for bytes that do not decode.
TEST(DecodedResultPictureTest, ReducedAsAskedOrWholeWhenDeclined) {
    const Bitmap photo = test::MakePhotoLike(203, 149, 4);
    const test::Bytes jpeg = test::EncodeWithLibrary(FIF_JPEG, photo.get(), 80);
    const QSize full(203, 149);
    const DisplayImage reduced = DecodedResultPicture(jpeg, 4, full);
    EXPECT_EQ(reduced.reduction(), 4);
    EXPECT_EQ(reduced.size(), full);
    EXPECT_EQ(reduced.image().size(), QSize(51, 38));

    const Bitmap library(
        imagelib::FreeImage_LoadFromBytes(imagelib::kFormatJpeg, jpeg, JPEG_ACCURATE));
    const DisplayImage whole = DecodedResultPicture(jpeg, 1, full);
    EXPECT_EQ(whole.reduction(), 1);
    ExpectSamePixels(library.get(), whole.image().convertToFormat(QImage::Format_RGB32));

    // The reduced decode refuses a file with a premature end; the library
    // shows what there is of it.
    test::Bytes truncated = jpeg;
    truncated.resize(truncated.size() * 2 / 3);
    const DisplayImage declined = DecodedResultPicture(truncated, 4, full);
    EXPECT_EQ(declined.reduction(), 1);
    EXPECT_EQ(declined.image().size(), full);

    EXPECT_TRUE(DecodedResultPicture(test::Bytes{'n', 'o'}, 2, full).isNull());
}

}  // namespace
}  // namespace pimo::ui
