// The quality a JPEG was written with, read back from its quantisation tables.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/load_repairs.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

// The library's JPEG writer is libjpeg with jpeg_set_quality(flags & 0x7F).
TEST(JpegQualityTest, EveryLibraryQualityFrom10To100) {
    const Bitmap photo = test::MakePhotoLike(32, 24);
    for (int quality = 10; quality <= 100; ++quality) {
        const Bytes jpeg = test::EncodeWithLibrary(FIF_JPEG, photo.get(), quality);
        ASSERT_FALSE(jpeg.empty());
        EXPECT_NEAR(EstimateJpegQuality(jpeg), quality, 1) << "written with " << quality;
    }
}

TEST(JpegQualityTest, GreyFilesAndSixteenBitTables) {
    struct Row {
        int quality;
        bool baseline;
    };
    for (const Row row : {Row{12, true}, Row{50, true}, Row{83, true}, Row{97, true}, Row{5, false},
                          Row{20, false}}) {
        test::JpegFixture shape;
        shape.components = 1;
        shape.quality = row.quality;
        shape.baseline = row.baseline;
        shape.sample = [](int x, int y, int) { return static_cast<std::uint8_t>(x * 20 + y * 9); };
        const Bytes jpeg = test::EncodeJpeg(shape);
        EXPECT_NEAR(EstimateJpegQuality(jpeg), row.quality, 1)
            << row.quality << (row.baseline ? "" : " extended");
    }
}

TEST(JpegQualityTest, LoadWithDetectionFlagReportsIt) {
    const Bitmap photo = test::MakePhotoLike(32, 24);
    const Bytes jpeg = test::EncodeWithLibrary(FIF_JPEG, photo.get(), 65);
    const Bitmap detected(FreeImage_LoadFromBytes(kFormatJpeg, jpeg, 0x42));
    ASSERT_TRUE(detected);
    EXPECT_NEAR(FreeImage_GetJPEGQuality(detected.get()), 65, 1);
    const Bitmap plain(FreeImage_LoadFromBytes(kFormatJpeg, jpeg, JPEG_ACCURATE));
    ASSERT_TRUE(plain);
    EXPECT_EQ(FreeImage_GetJPEGQuality(plain.get()), 0);
}

TEST(JpegQualityTest, ZeroWithoutStandardTables) {
    const Bitmap photo = test::MakePhotoLike(16, 16);
    const Bytes jpeg = test::EncodeWithLibrary(FIF_JPEG, photo.get(), 75);
    ASSERT_NEAR(EstimateJpegQuality(jpeg), 75, 1);

    // Tables whose shape is not the standard one: coarse for low
    // frequencies, fine for high ones.
    Bytes reshaped = jpeg;
    for (std::size_t at = 2; at + 4 < reshaped.size(); ++at) {
        if (reshaped[at] != 0xFF || reshaped[at + 1] != 0xDB) continue;
        const std::size_t length =
            static_cast<std::size_t>(reshaped[at + 2] << 8 | reshaped[at + 3]);
        for (std::size_t table = at + 4; table + 65 <= at + 2 + length; table += 65) {
            for (int i = 0; i < 64; ++i) {
                reshaped[table + 1 + i] = static_cast<std::uint8_t>(200 - 3 * i);
            }
        }
        at += 1 + length;
    }
    ASSERT_NE(reshaped, jpeg);
    EXPECT_EQ(EstimateJpegQuality(reshaped), 0);

    EXPECT_EQ(EstimateJpegQuality(test::WithoutSegments(jpeg, 0xDB)), 0);
    EXPECT_EQ(EstimateJpegQuality(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0)), 0);
    EXPECT_EQ(EstimateJpegQuality({}), 0);
}

}  // namespace
}  // namespace pimo::imagelib
