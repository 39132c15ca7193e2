// Binary PNM files decoded by our reader into the bitmaps the library makes.
#include "engine/imagelib/pnm_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

Bytes Pnm(const std::string& header, unsigned samples, std::uint8_t seed = 0) {
    Bytes bytes(header.begin(), header.end());
    for (unsigned i = 0; i < samples; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i * 37 + seed));
    return bytes;
}

// The library's own decoder, through its memory IO: the reference.
Bitmap LibraryDecode(FREE_IMAGE_FORMAT format, Bytes bytes) {
    FIMEMORY* stream = ::FreeImage_OpenMemory(bytes.data(), static_cast<DWORD>(bytes.size()));
    Bitmap bitmap(::FreeImage_LoadFromMemory(format, stream, 0));
    ::FreeImage_CloseMemory(stream);
    return bitmap;
}

void ExpectSameBitmap(FIBITMAP* ours, FIBITMAP* library, const std::string& name) {
    ASSERT_NE(ours, nullptr) << name;
    ASSERT_NE(library, nullptr) << name;
    ASSERT_EQ(::FreeImage_GetWidth(ours), ::FreeImage_GetWidth(library)) << name;
    ASSERT_EQ(::FreeImage_GetHeight(ours), ::FreeImage_GetHeight(library)) << name;
    ASSERT_EQ(::FreeImage_GetBPP(ours), ::FreeImage_GetBPP(library)) << name;
    EXPECT_EQ(::FreeImage_GetImageType(ours), ::FreeImage_GetImageType(library)) << name;
    EXPECT_EQ(::FreeImage_GetColorType(ours), ::FreeImage_GetColorType(library)) << name;
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(ours), ::FreeImage_GetDotsPerMeterX(library)) << name;
    if (::FreeImage_GetBPP(ours) == 8) {
        EXPECT_EQ(std::memcmp(::FreeImage_GetPalette(ours), ::FreeImage_GetPalette(library),
                              256 * sizeof(RGBQUAD)),
                  0)
            << name;
    }
    const unsigned lineBytes = ::FreeImage_GetLine(ours);
    for (unsigned y = 0; y < ::FreeImage_GetHeight(ours); ++y) {
        ASSERT_EQ(std::memcmp(::FreeImage_GetScanLine(ours, static_cast<int>(y)),
                              ::FreeImage_GetScanLine(library, static_cast<int>(y)), lineBytes),
                  0)
            << name << ", row " << y;
    }
}

TEST(PnmDecoderTest, DecodesAsTheLibraryDoes) {
    struct Case {
        const char* name;
        FREE_IMAGE_FORMAT format;
        Bytes bytes;
    };
    const Case cases[] = {
        {"colour", FIF_PPMRAW, Pnm("P6\n7 5\n255\n", 7 * 5 * 3)},
        {"grey", FIF_PGMRAW, Pnm("P5\n9 4\n255\n", 9 * 4)},
        {"comments and odd spacing", FIF_PPMRAW,
         Pnm("P6 # made by hand\n 3\t2 # size\n255\r", 3 * 2 * 3, 5)},
        {"one pixel", FIF_PGMRAW, Pnm("P5 1 1 255 ", 1, 200)},
        {"extra bytes after the pixels", FIF_PPMRAW, Pnm("P6\n2 2\n255\n", 2 * 2 * 3 + 7)},
    };
    for (const Case& c : cases) {
        const Bitmap ours(DecodeBinaryPnm(c.bytes));
        const Bitmap library = LibraryDecode(c.format, c.bytes);
        ExpectSameBitmap(ours.get(), library.get(), c.name);
    }
}

TEST(PnmDecoderTest, LeavesEverythingElseToTheLibrary) {
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"ASCII colour", Pnm("P3\n1 1\n255\n", 0)},
        {"bitmap", Pnm("P4\n8 1\n", 1)},
        {"16-bit samples", Pnm("P6\n2 2\n65535\n", 2 * 2 * 6)},
        {"maximum below 255", Pnm("P5\n2 2\n15\n", 4)},
        {"pixels cut short", Pnm("P6\n4 4\n255\n", 4 * 4 * 3 - 1)},
        {"zero width", Pnm("P5\n0 4\n255\n", 4)},
        {"header cut short", Pnm("P6\n4 4", 0)},
        {"no space before the pixels", Pnm("P5\n1 1\n255", 1)},
        {"absurd width", Pnm("P5\n99999999999 1\n255\n", 8)},
        {"empty", {}},
    };
    for (const auto& c : cases) {
        const Bitmap ours(DecodeBinaryPnm(c.bytes));
        EXPECT_EQ(ours.get(), nullptr) << c.name;
    }
}

// The layer's loader takes our decoder for these files and keeps its
// bookkeeping: a truncated file still goes to the library, which reports it.
TEST(PnmDecoderTest, LoaderUsesItAndRecordsTheFacts) {
    const Bytes colour = Pnm("P6\n16 8\n255\n", 16 * 8 * 3);
    const Bitmap loaded(FreeImage_LoadFromBytes(FromLibraryFormat(FIF_PPMRAW), colour, 0));
    const Bitmap library = LibraryDecode(FIF_PPMRAW, colour);
    ExpectSameBitmap(loaded.get(), library.get(), "through the loader");
    EXPECT_EQ(FreeImage_GetOriginalBPP(loaded.get()), 24u);

    // The library names any PNM file by its first PNM format.
    const Bitmap detected(
        FreeImage_LoadFromBytes(FromLibraryFormat(::FreeImage_GetFileTypeFromMemory(
                                    std::unique_ptr<FIMEMORY, decltype(&::FreeImage_CloseMemory)>(
                                        ::FreeImage_OpenMemory(const_cast<BYTE*>(colour.data()),
                                                               static_cast<DWORD>(colour.size())),
                                        &::FreeImage_CloseMemory)
                                        .get())),
                                colour, 0));
    ExpectSameBitmap(detected.get(), library.get(), "as detected");
}

}  // namespace
}  // namespace pimo::imagelib
