// Our header readers: the size each format declares, read without the image
// library, and the instant refusal of files that declare absurd sizes.
#include "engine/imagelib/declared_size.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/imagelib/decode_budget.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/imagelib/hostile_files.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

struct HeaderCase {
    const char* name;
    FREE_IMAGE_FORMAT format;
    Bytes bytes;
    std::uint32_t width, height;
    unsigned bits;
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Le16(std::uint32_t v) {
    Bytes b;
    test::PutLe16(b, v);
    return b;
}
Bytes Le32(std::uint32_t v) {
    Bytes b;
    test::PutLe32(b, v);
    return b;
}
Bytes Be16(std::uint32_t v) {
    Bytes b;
    test::PutBe16(b, v);
    return b;
}
Bytes Be32(std::uint32_t v) {
    Bytes b;
    test::PutBe32(b, v);
    return b;
}

Bytes Encoded(FREE_IMAGE_FORMAT format, unsigned width, unsigned height, int flags = 0) {
    auto bitmap = test::MakePhotoLike(width, height);
    return test::EncodeWithLibrary(format, bitmap.get(), flags);
}

std::vector<HeaderCase> HeaderCases() {
    test::BmpSpec bmp;
    bmp.headerSize = 40;
    bmp.width = 3;
    bmp.height = -2;
    bmp.values.assign(6, 0x102030);
    return {
        {"Jpeg", FIF_JPEG, Encoded(FIF_JPEG, 33, 17), 33, 17, 32},
        {"ProgressiveJpeg", FIF_JPEG, Encoded(FIF_JPEG, 40, 9, JPEG_PROGRESSIVE), 40, 9, 32},
        {"Png", FIF_PNG, test::BuildRgbPng(7, 5, [](int, int) { return 0x123456u; }), 7, 5, 24},
        {"Gif", FIF_GIF,
         Concat({Text("GIF89a"),
                 Le16(20),
                 Le16(10),
                 {0, 0, 0},
                 {0x2C},
                 Le16(0),
                 Le16(0),
                 Le16(30),
                 Le16(4),
                 {0}}),
         30, 10, 8},
        {"BmpTopDown", FIF_BMP, test::BuildBmp(bmp), 3, 2, 24},
        {"Tiff", FIF_TIFF, test::BuildRgbTiff(6, 4, false), 6, 4, 24},
        {"PnmWithComment", FIF_PPMRAW, Text("P6\n# made by hand\n12 34\n65535\n"), 12, 34, 48},
        {"Pbm", FIF_PBMRAW, Text("P4 8 2\n"), 8, 2, 1},
        {"Pfm", FIF_PFM, Text("PF\n3 2\n-1.0\n"), 3, 2, 96},
        {"SunRaster", FIF_RAS, Concat({Be32(0x59A66A95), Be32(48), Be32(33554465), Be32(24)}), 48,
         33554465, 24},
        {"Psd", FIF_PSD,
         Concat({Text("8BPS"), Be16(1), Bytes(6, 0), Be16(3), Be32(200), Be32(100), Be16(8)}), 100,
         200, 24},
        {"IcoWithBmp", FIF_ICO,
         Concat({Le16(0),
                 Le16(1),
                 Le16(1),
                 {16, 16, 0, 0},
                 Le16(1),
                 Le16(32),
                 Le32(40),
                 Le32(22),
                 Le32(40),
                 Le32(16),
                 Le32(32),
                 Le16(1),
                 Le16(32)}),
         16, 16, 32},
        {"Pcx", FIF_PCX,
         Concat({{0x0A, 5, 1, 8}, Le16(10), Le16(0), Le16(109), Le16(49), Bytes(53, 0), {3}}), 100,
         50, 24},
        {"Targa", FIF_TARGA, Concat({Bytes(12, 0), Le16(640), Le16(480), {24}}), 640, 480, 24},
        {"Dds", FIF_DDS, Concat({Text("DDS "), Le32(124), Le32(0), Le32(64), Le32(128)}), 128, 64,
         32},
        {"Sgi", FIF_SGI, Concat({Be16(474), {0, 1}, Be16(2), Be16(64), Be16(32), Be16(3)}), 64, 32,
         24},
        {"Pict", FIF_PICT, Concat({Bytes(512, 0), Be16(0), Be16(0), Be16(0), Be16(300), Be16(500)}),
         500, 300, 32},
        {"WebPExtended", FIF_WEBP,
         Concat({Text("RIFF"),
                 Le32(30),
                 Text("WEBPVP8X"),
                 Le32(10),
                 Bytes(4, 0),
                 {0xFF, 0x3F, 0},
                 {0x0F, 0, 0}}),
         16384, 16, 32},
        {"Xbm", FIF_XBM,
         Text("#define dot_width 5\n#define dot_height 3\nstatic char dot_bits[] = {"), 5, 3, 1},
        {"Wbmp", FIF_WBMP, {0, 0, 0x81, 0x00, 0x0A}, 128, 10, 1},
    };
}

class DeclaredSizeTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(DeclaredSizeTest, ReadsTheHeaderAndNothingBeyondIt) {
    const HeaderCase& c = GetParam();
    const std::optional<DeclaredSize> size = ReadDeclaredSize(c.format, c.bytes);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, c.width);
    EXPECT_EQ(size->height, c.height);
    EXPECT_EQ(size->bitsPerPixel, c.bits);
    // Every prefix short of the size fields gives nothing or the same size,
    // never a read outside the bytes (checked by the sanitizer build).
    for (std::size_t length = 0; length < c.bytes.size(); ++length) {
        const Bytes cut(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(length));
        const auto partial = ReadDeclaredSize(c.format, cut);
        if (partial && c.format != FIF_GIF) {
            EXPECT_EQ(partial->width, c.width) << "cut at " << length;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DeclaredSizeTest, ::testing::ValuesIn(HeaderCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeclaredSizeTest, DecodedBytesPadRowsAndSaturate) {
    EXPECT_EQ((DeclaredSize{3, 2, 24}.DecodedBytes()), 24u);  // rows of 9 bytes padded to 12
    EXPECT_EQ((DeclaredSize{UINT32_MAX, UINT32_MAX, 128}.DecodedBytes()), UINT64_MAX);
    EXPECT_EQ(OpeningCost(DeclaredSize{UINT32_MAX, UINT32_MAX, 128}), UINT64_MAX);
}

// Sets a budget for one test and puts the previous one back.
class BudgetScope {
  public:
    explicit BudgetScope(DecodeBudget budget) : m_previous(CurrentDecodeBudget()) {
        SetDecodeBudget(budget);
    }
    ~BudgetScope() { SetDecodeBudget(m_previous); }

  private:
    DecodeBudget m_previous;
};

// The library's messages while decoding, on this thread.
std::string DecodeMessages(int format, const Bytes& bytes, bool& decoded) {
    std::string messages;
    OutputMessageHandler previous = FreeImage_SetOutputMessage(
        [&](int, const std::string& message) { messages += message + "\n"; });
    decoded = Bitmap(FreeImage_LoadFromBytes(format, bytes, 0)) != nullptr;
    FreeImage_SetOutputMessage(std::move(previous));
    return messages;
}

struct HostileCase {
    const char* name;
    int format;  // system identifier
    std::function<Bytes()> bytes;
    std::string dimensions;
    std::size_t maxFileBytes;
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.name;
}

class DeclaredSizeRefusalTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(DeclaredSizeRefusalTest, IsRefusedNamingTheSizeAndTheBudget) {
    const HostileCase& c = GetParam();
    const Bytes bytes = c.bytes();
    ASSERT_LE(bytes.size(), c.maxFileBytes);
    BudgetScope budget({std::uint64_t{1} << 30, 60});
    bool decoded = true;
    const std::string messages = DecodeMessages(c.format, bytes, decoded);
    EXPECT_FALSE(decoded);
    EXPECT_NE(messages.find("declares " + c.dimensions + " pixels"), std::string::npos) << messages;
    EXPECT_NE(messages.find("memory budget of 1024 MiB"), std::string::npos) << messages;
}

INSTANTIATE_TEST_SUITE_P(
    Files, DeclaredSizeRefusalTest,
    ::testing::Values(HostileCase{"ProgressiveJpeg", kFormatJpeg,
                                  test::ProgressiveJpegDeclaring65000, "65000x65000", 100000},
                      HostileCase{"SunRaster", FIF_RAS, test::SunRasterBomb, "48x33554465", 499},
                      HostileCase{"OneBitPng", kFormatPng, test::OneBitPng60000, "60000x60000",
                                  1000000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeclaredSizeRefusalTest, HostileFilesAreWhatTheyClaim) {
    const Bytes jpeg = test::ProgressiveJpegDeclaring65000();
    const auto jpegSize = ReadDeclaredSize(FIF_JPEG, jpeg);
    ASSERT_TRUE(jpegSize);
    EXPECT_EQ(jpegSize->width, 65000u);
    EXPECT_TRUE(test::HasMarker(jpeg, 0xC2)) << "progressive frame";

    const Bytes raster = test::SunRasterBomb();
    EXPECT_EQ(raster.size(), 499u);

    // The PNG is valid: every row inflates and unfilters to all-black pixels.
    EXPECT_TRUE(test::PngRowsDecodeWithLibpng(test::OneBitPng60000()));
}

// The size guard names its numbers (its format codes once printed unfilled).
TEST(DeclaredSizeRefusalTest, ImplausibleSizeMessageIsFilledIn) {
    const auto refusal = RefusalForImplausibleSize(DeclaredSize{60000, 60000, 24}, 1234);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(*refusal, "the image declares 60000x60000 pixels, more than its 1234 bytes can hold");
    EXPECT_FALSE(RefusalForImplausibleSize(DeclaredSize{100, 100, 24}, 10));
}

}  // namespace
}  // namespace pimo::imagelib
