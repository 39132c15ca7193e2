// The JPEG writer that reads the bitmap's rows itself writes the bytes of the
// library's own writer, markers included, and gives the rows back when asked.
#include "engine/imagelib/jpeg_encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/jpeg_inspect.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::AttachTag;
using test::Bytes;

enum class Kind { Photo, OddWidth, Grey, Metadata, Thumbnail, Density };

Bitmap Make(Kind kind) {
    // 61 pixels of 3 bytes leave padding at the end of every row.
    Bitmap photo = test::MakePhotoLike(kind == Kind::OddWidth ? 61 : 96, 45, 3);
    switch (kind) {
        case Kind::Grey:
            return Bitmap(::FreeImage_ConvertToGreyscale(photo.get()));
        case Kind::Metadata: {
            const char comment[] = "a comment";
            const char xmp[] = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>";
            const char caption[] = "a caption";
            const Bytes exif = test::MakeExifBlock(1);
            const std::vector<std::uint8_t> icc(300, 0x42);
            AttachTag(photo.get(), FIMD_COMMENTS, "Comment", 0, FIDT_ASCII, comment,
                      sizeof comment);
            AttachTag(photo.get(), FIMD_XMP, "XMLPacket", 0, FIDT_ASCII, xmp, sizeof xmp);
            AttachTag(photo.get(), FIMD_IPTC, "Caption-Abstract", 0x0278, FIDT_ASCII, caption,
                      sizeof caption);
            AttachTag(photo.get(), FIMD_EXIF_RAW, "ExifRaw", 0, FIDT_BYTE, exif.data(),
                      static_cast<DWORD>(exif.size()));
            ::FreeImage_CreateICCProfile(photo.get(), const_cast<std::uint8_t*>(icc.data()),
                                         static_cast<long>(icc.size()));
            break;
        }
        case Kind::Thumbnail: {
            const Bitmap thumbnail = test::MakePhotoLike(16, 12, 9);
            ::FreeImage_SetThumbnail(photo.get(), thumbnail.get());
            break;
        }
        case Kind::Density:
            ::FreeImage_SetDotsPerMeterX(photo.get(), 11811);
            ::FreeImage_SetDotsPerMeterY(photo.get(), 2835);
            break;
        default:
            break;
    }
    return photo;
}

Bytes EncodedFromRows(FIBITMAP* bitmap, int flags) {
    const MemoryStream stream = OpenMemoryStream();
    EXPECT_EQ(EncodeJpegFromRows(bitmap, stream.get(), flags), JpegEncodeOutcome::Written);
    return StreamBytes(stream.get());
}

struct Case {
    Kind kind;
    int flags;
};

class JpegFromRowsTest : public ::testing::TestWithParam<Case> {};

TEST_P(JpegFromRowsTest, WritesTheLibrarysBytes) {
    const Bitmap bitmap = Make(GetParam().kind);
    ASSERT_TRUE(bitmap);
    const Bytes expected = test::EncodeWithLibrary(FIF_JPEG, bitmap.get(), GetParam().flags);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(EncodedFromRows(bitmap.get(), GetParam().flags), expected);
}

constexpr int kFlags[] = {
    75 | JPEG_OPTIMIZE | JPEG_SUBSAMPLING_420,
    1 | JPEG_OPTIMIZE | JPEG_SUBSAMPLING_444,
    100 | JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_422,
    50 | JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_411,
    90,  // plain Huffman tables, the default sampling
    0,   // the library's default quality
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Kind kind :
         {Kind::Photo, Kind::OddWidth, Kind::Grey, Kind::Metadata, Kind::Thumbnail, Kind::Density})
        for (const int flags : kFlags) cases.push_back({kind, flags});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, JpegFromRowsTest, ::testing::ValuesIn(Cases()));

TEST(JpegFromRowsTest, TheMetadataFixtureCarriesEveryMarker) {
    const Bitmap bitmap = Make(Kind::Metadata);
    const test::JpegStructure written =
        test::InspectJpeg(EncodedFromRows(bitmap.get(), 80 | JPEG_OPTIMIZE));
    EXPECT_TRUE(written.hasComment && written.hasXmp && written.hasIptc && written.hasExif &&
                written.hasIcc);
}

// Whatever the library's writer converts or treats otherwise is left to it.
TEST(JpegFromRowsTest, LeavesOtherBitmapsAndFlagsToTheLibrary) {
    const Bitmap photo = Make(Kind::Photo);
    const Bitmap palette(::FreeImage_ColorQuantize(photo.get(), FIQ_WUQUANT));
    const Bitmap withAlpha(::FreeImage_ConvertTo32Bits(photo.get()));
    const struct {
        FIBITMAP* bitmap;
        int flags;
    } cases[] = {{palette.get(), 75},
                 {withAlpha.get(), 75},
                 {photo.get(), 75 | JPEG_BASELINE},
                 {photo.get(), JPEG_QUALITYSUPERB},
                 {nullptr, 75}};
    for (const auto& c : cases) {
        const MemoryStream stream = OpenMemoryStream();
        EXPECT_EQ(EncodeJpegFromRows(c.bitmap, stream.get(), c.flags),
                  JpegEncodeOutcome::NotHandled);
        EXPECT_EQ(::FreeImage_TellMemory(stream.get()), 0);
    }
}

double ZeroShare(FIBITMAP* bitmap) {
    const BYTE* bits = ::FreeImage_GetBits(bitmap);
    const std::size_t size =
        std::size_t{::FreeImage_GetPitch(bitmap)} * ::FreeImage_GetHeight(bitmap);
    return static_cast<double>(std::count(bits, bits + size, 0)) / static_cast<double>(size);
}

// Large enough for several of the steps in which the rows go back.
TEST(JpegFromRowsTest, ReleasedRowsGoBackAndTheBytesStayTheSame) {
    const Bitmap photo = test::MakePhotoLike(1500, 1100, 4);
    const Bitmap copy(::FreeImage_Clone(photo.get()));
    const int flags = 75 | JPEG_OPTIMIZE | JPEG_SUBSAMPLING_420;
    const Bytes expected = test::EncodeWithLibrary(FIF_JPEG, copy.get(), flags);
    const std::size_t size =
        std::size_t{::FreeImage_GetPitch(photo.get())} * ::FreeImage_GetHeight(photo.get());
    ASSERT_LT(ZeroShare(photo.get()), 0.05);

    EXPECT_EQ(EncodedFromRows(photo.get(), flags), expected);
    EXPECT_EQ(std::memcmp(::FreeImage_GetBits(photo.get()), ::FreeImage_GetBits(copy.get()), size),
              0)
        << "without the flag the rows stay";

    EXPECT_EQ(EncodedFromRows(photo.get(), flags | kJpegSaveReleaseRows), expected);
    // Every whole page of the rows: at most the pages at both ends, which the
    // pixels share with other memory, stay.
    EXPECT_GT(ZeroShare(photo.get()), 0.99);
}

}  // namespace
}  // namespace pimo::imagelib
