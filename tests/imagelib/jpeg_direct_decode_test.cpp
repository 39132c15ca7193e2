// A JPEG decoded straight into memory of the caller's gives the bitmap the
// library's loader gives, pixel for pixel and header for header; every file it
// cannot reproduce is declined and left to that loader.
#include "engine/imagelib/jpeg_direct_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_exif.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/jpeg_inspect.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

Bytes LibraryJpeg(unsigned width, unsigned height, int saveFlags) {
    const Bitmap photo = test::MakePhotoLike(width, height, 5);
    return test::EncodeWithLibrary(FIF_JPEG, photo.get(), saveFlags);
}

Bytes GreyJpeg() {
    test::JpegFixture fixture;
    fixture.width = 13;
    fixture.height = 9;
    fixture.components = 1;
    fixture.sample = [](int x, int y, int) { return static_cast<std::uint8_t>(x * 17 + y * 29); };
    return test::EncodeJpeg(fixture);
}

// A JPEG with an EXIF block declaring `orientation`, a comment and an ICC profile.
Bytes JpegWithMarkers(int orientation) {
    test::JpegFixture fixture;
    fixture.width = 30;
    fixture.height = 21;
    fixture.sample = [](int x, int y, int c) {
        return static_cast<std::uint8_t>(x * 7 + y * 11 + c * 50);
    };
    fixture.markers = {{0xE1, test::MakeExifBlock(orientation)},
                       {0xFE, Bytes{'h', 'e', 'l', 'l', 'o'}},
                       {0xE2, test::IccApp2Payload(test::MakeIccProfile("direct"))}};
    return test::EncodeJpeg(fixture);
}

struct Decoded {
    Bitmap header;
    std::vector<std::uint8_t> pixels;
};

enum class Way { InPlace, ByRows };

// Decodes directly into a buffer holding other bytes before, as a reused
// output does; or a few rows at a time, each batch placed where the sink is
// told it belongs after checking that the batches come in the file's order,
// from the top row down, every row once.
Decoded DecodeDirectly(const Bytes& jpeg, int flags, Way way = Way::InPlace) {
    Decoded decoded{Bitmap(LoadJpegWithoutPixels(jpeg, flags)), {}};
    if (!decoded.header) return decoded;
    const std::size_t pitch = ::FreeImage_GetPitch(decoded.header.get());
    const unsigned height = ::FreeImage_GetHeight(decoded.header.get());
    decoded.pixels.assign(pitch * height, 0xAB);
    bool decodedOk = false;
    if (way == Way::InPlace) {
        decodedOk = DecodeJpegPixels(jpeg, flags, decoded.header.get(), decoded.pixels);
    } else {
        unsigned nextTop = height;  // one above the next batch's top row
        decodedOk = DecodeJpegRows(
            jpeg, flags, decoded.header.get(),
            [&](unsigned bottom, unsigned count, std::span<const std::uint8_t> rows) {
                EXPECT_GT(count, 0u);
                EXPECT_EQ(bottom + count, nextTop) << "a batch out of order";
                EXPECT_EQ(rows.size(), count * pitch);
                if (bottom + count != nextTop || rows.size() != count * pitch) return false;
                std::memcpy(decoded.pixels.data() + bottom * pitch, rows.data(), rows.size());
                nextTop = bottom;
                return true;
            });
        if (decodedOk) {
            EXPECT_EQ(nextTop, 0u) << "rows left out";
        }
    }
    if (!decodedOk) decoded.pixels.clear();
    return decoded;
}

void ExpectSameAsLibrary(const Bytes& jpeg, int flags, Way way) {
    const Bitmap library(FreeImage_LoadFromBytes(kFormatJpeg, jpeg, flags));
    ASSERT_TRUE(library);
    const Decoded direct = DecodeDirectly(jpeg, flags, way);
    ASSERT_TRUE(direct.header) << "declined";
    ASSERT_FALSE(direct.pixels.empty()) << "the pixels failed";
    FIBITMAP* a = library.get();
    FIBITMAP* b = direct.header.get();
    EXPECT_FALSE(::FreeImage_HasPixels(b));
    ASSERT_EQ(::FreeImage_GetWidth(a), ::FreeImage_GetWidth(b));
    ASSERT_EQ(::FreeImage_GetHeight(a), ::FreeImage_GetHeight(b));
    ASSERT_EQ(::FreeImage_GetBPP(a), ::FreeImage_GetBPP(b));
    ASSERT_EQ(::FreeImage_GetPitch(a), ::FreeImage_GetPitch(b));
    // Every byte, the padding at the end of the rows too.
    EXPECT_EQ(0, std::memcmp(::FreeImage_GetBits(a), direct.pixels.data(), direct.pixels.size()));
    ASSERT_EQ(::FreeImage_GetColorsUsed(a), ::FreeImage_GetColorsUsed(b));
    if (::FreeImage_GetPalette(a)) {
        EXPECT_EQ(0, std::memcmp(::FreeImage_GetPalette(a), ::FreeImage_GetPalette(b),
                                 ::FreeImage_GetColorsUsed(a) * sizeof(RGBQUAD)));
    }
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(a), ::FreeImage_GetDotsPerMeterX(b));
    EXPECT_EQ(::FreeImage_GetDotsPerMeterY(a), ::FreeImage_GetDotsPerMeterY(b));
    EXPECT_EQ(::FreeImage_GetICCProfile(a)->size, ::FreeImage_GetICCProfile(b)->size);
    for (int model = FIMD_COMMENTS; model <= FIMD_CUSTOM; ++model) {
        EXPECT_EQ(::FreeImage_GetMetadataCount(static_cast<FREE_IMAGE_MDMODEL>(model), a),
                  ::FreeImage_GetMetadataCount(static_cast<FREE_IMAGE_MDMODEL>(model), b))
            << "model " << model;
    }
    EXPECT_EQ(ExifOrientation(a), ExifOrientation(b));
    EXPECT_EQ(FreeImage_GetOriginalBPP(a), FreeImage_GetOriginalBPP(b));
    EXPECT_EQ(FreeImage_GetJPEGQuality(a), FreeImage_GetJPEGQuality(b));
    EXPECT_EQ(::FreeImage_GetThumbnail(a) != nullptr, ::FreeImage_GetThumbnail(b) != nullptr);
}

struct SameCase {
    std::string name;
    Bytes jpeg;
    int flags;
};

TEST(JpegDirectDecodeTest, GivesTheLibrarysBitmap) {
    const int exact = JPEG_ACCURATE | kJpegLoadDetectQuality;
    const SameCase cases[] = {
        // Odd widths: rows end in padding.
        {"4:2:0, fast", LibraryJpeg(61, 37, 85 | JPEG_SUBSAMPLING_420), 0},
        {"4:2:0, accurate", LibraryJpeg(61, 37, 85 | JPEG_SUBSAMPLING_420), exact},
        {"4:2:2, fast", LibraryJpeg(50, 33, 70 | JPEG_SUBSAMPLING_422), JPEG_FAST},
        {"4:4:4, accurate", LibraryJpeg(47, 20, 95 | JPEG_SUBSAMPLING_444), exact},
        {"progressive", LibraryJpeg(65, 40, 80 | JPEG_PROGRESSIVE), exact},
        {"grey", GreyJpeg(), exact},
        {"markers, upright", JpegWithMarkers(1), exact | JPEG_EXIFROTATE},
        {"markers, turned but not rotated", JpegWithMarkers(6), exact},
    };
    for (const SameCase& c : cases) {
        for (const Way way : {Way::InPlace, Way::ByRows}) {
            SCOPED_TRACE(c.name + (way == Way::ByRows ? ", by rows" : ", in place"));
            ExpectSameAsLibrary(c.jpeg, c.flags, way);
        }
    }
}

TEST(JpegDirectDecodeTest, DeclinesWhatItCannotReproduce) {
    const Bytes photo = LibraryJpeg(32, 16, 85);
    test::JpegFixture cmyk;
    cmyk.components = 4;
    cmyk.sample = [](int x, int, int c) { return static_cast<std::uint8_t>(x * 9 + c * 40); };
    const struct {
        std::string name;
        Bytes jpeg;
        int flags;
    } cases[] = {
        {"four components", test::EncodeJpeg(cmyk), JPEG_ACCURATE},
        {"grey asked for", photo, JPEG_GREYSCALE},
        {"raw CMYK asked for", photo, JPEG_CMYK},
        {"a scaled load", photo, 16 << 16},
        {"not a JPEG", Bytes{'B', 'M', 0, 0, 0, 0}, JPEG_ACCURATE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(DirectJpegDecodeApplies(c.jpeg, c.flags));
        EXPECT_FALSE(Bitmap(LoadJpegWithoutPixels(c.jpeg, c.flags)));
    }
    // The library turns this one upright as it loads.
    EXPECT_FALSE(Bitmap(LoadJpegWithoutPixels(JpegWithMarkers(6), JPEG_EXIFROTATE)));
}

TEST(JpegDirectDecodeTest, DamagedScanDataFailsThePixelsNotTheHeader) {
    Bytes jpeg = LibraryJpeg(64, 64, 90);
    jpeg.resize(jpeg.size() / 2);  // the decoder warns of a premature end
    const Decoded direct = DecodeDirectly(jpeg, JPEG_ACCURATE);
    ASSERT_TRUE(direct.header);
    EXPECT_TRUE(direct.pixels.empty());
    EXPECT_TRUE(DecodeDirectly(jpeg, JPEG_ACCURATE, Way::ByRows).pixels.empty());
    std::vector<std::uint8_t> tooSmall(16);
    EXPECT_FALSE(DecodeJpegPixels(LibraryJpeg(8, 8, 90), 0, direct.header.get(), tooSmall));
}

// A sink that refuses a batch ends the decode there, as a failure.
TEST(JpegDirectDecodeTest, RowsRefusedStopTheDecode) {
    const Bytes jpeg = LibraryJpeg(40, 100, 90);
    const Bitmap header(LoadJpegWithoutPixels(jpeg, JPEG_ACCURATE));
    ASSERT_TRUE(header);
    int batches = 0;
    EXPECT_FALSE(DecodeJpegRows(
        jpeg, JPEG_ACCURATE, header.get(),
        [&](unsigned, unsigned, std::span<const std::uint8_t>) { return ++batches < 2; }));
    EXPECT_EQ(batches, 2);
}

}  // namespace
}  // namespace pimo::imagelib
