// The cheap whole-stream check of written JPEG files.
#include "engine/imagelib/jpeg_stream_check.h"

#include <gtest/gtest.h>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

Bytes PhotoJpeg(int flags) {
    const Bitmap photo = test::MakePhotoLike(96, 64);
    return test::EncodeWithLibrary(FIF_JPEG, photo.get(), flags);
}

// Where the entropy-coded data of the (single or last) scan starts.
std::size_t ScanDataStart(const Bytes& jpeg) {
    std::size_t at = 2;
    std::size_t start = 0;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const std::uint8_t marker = jpeg[at + 1];
        const std::size_t length = std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        if (marker == 0xDA) {
            start = at + 2 + length;
            break;
        }
        at += 2 + length;
    }
    return start;
}

TEST(JpegStreamCheckTest, SoundBaselineAndProgressiveFilesPass) {
    for (const int flags : {75, 75 | JPEG_PROGRESSIVE | JPEG_OPTIMIZE, 30 | JPEG_SUBSAMPLING_444}) {
        const Bytes jpeg = PhotoJpeg(flags);
        ASSERT_FALSE(jpeg.empty());
        EXPECT_EQ(CheckJpegStream(jpeg, 96, 64), "") << "flags " << flags;
    }
}

TEST(JpegStreamCheckTest, FaultsAreFound) {
    const Bytes jpeg = PhotoJpeg(75);
    const std::size_t scan = ScanDataStart(jpeg);
    ASSERT_GT(scan, 0u);
    ASSERT_LT(scan + 40, jpeg.size());

    struct Case {
        const char* name;
        Bytes bytes;
        unsigned width, height;
    };
    Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(scan + 40));
    Bytes marker = jpeg;  // a restart marker where the coded data goes on
    marker[scan + 20] = 0xFF;
    marker[scan + 21] = 0xD3;
    const Bitmap photo = test::MakePhotoLike(8, 8);
    const Case cases[] = {
        {"empty", {}, 96, 64},
        {"another size", jpeg, 96, 65},
        {"cut in the coded data", cut, 96, 64},
        {"stray marker in the coded data", marker, 96, 64},
        {"a PNG", test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), 8, 8},
        {"headers only", Bytes(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(scan)), 96,
         64},
    };
    for (const Case& c : cases) {
        EXPECT_NE(CheckJpegStream(c.bytes, c.width, c.height), "") << c.name;
    }
}

TEST(JpegStreamCheckTest, TheDecodersOwnWordsAreGiven) {
    const Bytes png = [] {
        const Bitmap photo = test::MakePhotoLike(8, 8);
        return test::EncodeWithLibrary(FIF_PNG, photo.get(), 0);
    }();
    EXPECT_EQ(CheckJpegStream(png, 8, 8),
              "The decoder stopped: Not a JPEG file: starts with 0x89 0x50");
}

}  // namespace
}  // namespace pimo::imagelib
