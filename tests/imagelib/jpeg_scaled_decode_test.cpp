// A JPEG decoded at a half, a quarter or an eighth of its size, for showing
// it reduced: each side rounded up, every pixel the average look of the block
// it stands for, at full size the very pixels of the library's accurate load.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_direct_decode.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

Bytes PhotoJpeg(unsigned width, unsigned height, int saveFlags) {
    const Bitmap photo = test::MakePhotoLike(width, height, 7);
    return test::EncodeWithLibrary(FIF_JPEG, photo.get(), saveFlags);
}

Bytes GreyJpeg(int width, int height) {
    test::JpegFixture fixture;
    fixture.width = width;
    fixture.height = height;
    fixture.components = 1;
    fixture.sample = [](int x, int y, int) {
        return static_cast<std::uint8_t>(128 + 100 * std::sin(x / 9.0) * std::cos(y / 7.0));
    };
    return test::EncodeJpeg(fixture);
}

// Channel `c` of pixel (x, y), the top row first, of a 24- or 8-bit bitmap.
int Sample(FIBITMAP* bitmap, unsigned x, unsigned y, unsigned c) {
    const unsigned bytes = ::FreeImage_GetBPP(bitmap) / 8;
    const BYTE* row =
        ::FreeImage_GetScanLine(bitmap, static_cast<int>(::FreeImage_GetHeight(bitmap) - 1 - y));
    return row[x * bytes + (bytes == 1 ? 0 : c)];
}

struct ScaledCase {
    std::string name;
    Bytes jpeg;
    unsigned denominator;
};

TEST(JpegScaledDecodeTest, EachPixelStandsForItsBlock) {
    const Bytes photo = PhotoJpeg(203, 149, 80 | JPEG_SUBSAMPLING_420);
    const Bytes grey = GreyJpeg(90, 61);
    const ScaledCase cases[] = {
        {"4:2:0, half", photo, 2},
        {"4:2:0, quarter", photo, 4},
        {"4:2:0, eighth", photo, 8},
        {"grey, quarter", grey, 4},
        {"4:4:4, quarter", PhotoJpeg(64, 40, 90 | JPEG_SUBSAMPLING_444), 4},
    };
    for (const ScaledCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bitmap full(FreeImage_LoadFromBytes(kFormatJpeg, c.jpeg, JPEG_ACCURATE));
        const Bitmap scaled(DecodeJpegScaled(c.jpeg, c.denominator));
        ASSERT_TRUE(full);
        ASSERT_TRUE(scaled);
        const unsigned width = ::FreeImage_GetWidth(full.get());
        const unsigned height = ::FreeImage_GetHeight(full.get());
        const unsigned d = c.denominator;
        ASSERT_EQ(::FreeImage_GetWidth(scaled.get()), (width + d - 1) / d);
        ASSERT_EQ(::FreeImage_GetHeight(scaled.get()), (height + d - 1) / d);
        ASSERT_EQ(::FreeImage_GetBPP(scaled.get()), ::FreeImage_GetBPP(full.get()));
        const unsigned channels = ::FreeImage_GetBPP(full.get()) / 8;
        if (channels == 1) {
            // The palette of a grey bitmap is the grey ramp.
            const RGBQUAD* palette = ::FreeImage_GetPalette(scaled.get());
            EXPECT_EQ(palette[200].rgbRed, 200);
            EXPECT_EQ(palette[200].rgbBlue, 200);
        }
        // Against the average of the full decode's block: close everywhere,
        // the partial last blocks included.
        double totalError = 0;
        int worst = 0;
        unsigned samples = 0;
        for (unsigned y = 0; y < ::FreeImage_GetHeight(scaled.get()); ++y)
            for (unsigned x = 0; x < ::FreeImage_GetWidth(scaled.get()); ++x)
                for (unsigned k = 0; k < channels; ++k) {
                    int sum = 0, count = 0;
                    for (unsigned by = y * d; by < std::min(height, (y + 1) * d); ++by)
                        for (unsigned bx = x * d; bx < std::min(width, (x + 1) * d); ++bx, ++count)
                            sum += Sample(full.get(), bx, by, k);
                    const int error = std::abs(Sample(scaled.get(), x, y, k) - sum / count);
                    totalError += error;
                    worst = std::max(worst, error);
                    ++samples;
                }
        EXPECT_LT(totalError / samples, 3.0);
        EXPECT_LT(worst, 48);
    }
}

TEST(JpegScaledDecodeTest, AtFullSizeGivesTheLibrarysAccuratePixels) {
    const Bytes photo = PhotoJpeg(61, 37, 85 | JPEG_SUBSAMPLING_420);
    const Bitmap full(FreeImage_LoadFromBytes(kFormatJpeg, photo, JPEG_ACCURATE));
    const Bitmap same(DecodeJpegScaled(photo, 1));
    ASSERT_TRUE(full);
    ASSERT_TRUE(same);
    for (unsigned y = 0; y < 37; ++y)
        for (unsigned x = 0; x < 61; ++x)
            for (unsigned c = 0; c < 3; ++c)
                ASSERT_EQ(Sample(same.get(), x, y, c), Sample(full.get(), x, y, c))
                    << x << "," << y;
}

TEST(JpegScaledDecodeTest, DeclinesWhatItCannotShow) {
    const Bytes photo = PhotoJpeg(64, 64, 90);
    Bytes truncated = photo;
    truncated.resize(truncated.size() / 2);  // the decoder warns of a premature end
    test::JpegFixture cmyk;
    cmyk.components = 4;
    cmyk.sample = [](int x, int, int c) { return static_cast<std::uint8_t>(x * 9 + c * 40); };
    const struct {
        std::string name;
        Bytes jpeg;
        unsigned denominator;
    } cases[] = {
        {"a reduction the decoder lacks", photo, 3},
        {"no reduction at all", photo, 0},
        {"a premature end", truncated, 4},
        {"four components", test::EncodeJpeg(cmyk), 4},
        {"not a JPEG", Bytes{'B', 'M', 0, 0, 0, 0}, 2},
        {"nothing", Bytes{}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Bitmap(DecodeJpegScaled(c.jpeg, c.denominator)));
    }
}

}  // namespace
}  // namespace pimo::imagelib
