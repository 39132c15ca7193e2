// The ICC profile of a PNG's iCCP chunk, which the library's loader drops.
#include <gtest/gtest.h>

#include <string>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/png_chunks.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/libpng_reader.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

std::uint32_t Colour(int x, int y) {
    return std::uint32_t(x * 60) << 16 | std::uint32_t(y * 90) << 8 | 0x40;
}

Bytes PngWith(const std::vector<Bytes>& chunks) {
    return test::BuildRgbPng(4, 3, Colour, chunks);
}

Bytes ProfileOf(FIBITMAP* bitmap) {
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(bitmap);
    if (!profile || !profile->data || profile->size <= 0) return {};
    const auto* data = static_cast<const std::uint8_t*>(profile->data);
    return Bytes(data, data + profile->size);
}

// libpng's own reading of the iCCP chunk (it checks the profile's header).
Bytes ProfileLibpngReads(const Bytes& png) {
    test::LibpngImage image;
    if (!test::DecodeWithLibpng(png, image, {test::LibpngPixels::None})) return {};
    return image.profile;
}

const Bytes kProfile = test::MakeIccProfile("png");

TEST(PngIccTest, FixtureProfileIsOneLibpngAccepts) {
    EXPECT_EQ(ProfileLibpngReads(
                  PngWith({test::PngChunk("iCCP", test::IccpPayload("Display", kProfile))})),
              kProfile);
}

TEST(PngIccTest, LibraryAloneDropsTheProfile) {
    const Bitmap bitmap = test::DecodeWithLibrary(
        FIF_PNG, PngWith({test::PngChunk("iCCP", test::IccpPayload("Display", kProfile))}));
    ASSERT_TRUE(bitmap);
    EXPECT_TRUE(ProfileOf(bitmap.get()).empty());
}

TEST(PngIccTest, LayerAttachesTheProfile) {
    const Bytes png = PngWith({test::PngChunk("iCCP", test::IccpPayload("Display", kProfile))});
    const Bitmap loaded(FreeImage_LoadFromBytes(kFormatPng, png, 0));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(ProfileOf(loaded.get()), kProfile);
    EXPECT_EQ(test::PixelAt(loaded.get(), 3, 2).rgbRed, 180);

    // The clipboard road finds the end of the PNG itself.
    Bytes block = png;
    block.resize(png.size() + 64, 0xEE);
    const Bitmap pasted(FreeImage_LoadFromBuffer(kFormatPng, block.data(), 0, block.size()));
    ASSERT_TRUE(pasted);
    EXPECT_EQ(ProfileOf(pasted.get()), kProfile);
}

struct CorruptCase {
    std::string name;
    std::vector<Bytes> chunks;
};

Bytes WithBadCrc(Bytes chunk) {
    chunk.back() ^= 0x5A;
    return chunk;
}

Bytes BadZlib() {
    Bytes payload = {'D', 'i', 's', 'p', 0, 0, 0x78, 0x9C};
    for (int i = 0; i < 120; ++i) payload.push_back(static_cast<std::uint8_t>(0xFF - i));
    return payload;
}

Bytes TruncatedZlib() {
    const Bytes payload = test::IccpPayload("Display", kProfile);
    return Bytes(payload.begin(), payload.end() - 20);
}

Bytes WithMethod(std::uint8_t method) {
    Bytes payload = test::IccpPayload("Display", kProfile);
    payload[7] = method;
    return payload;
}

Bytes ProfileWithWrongLength() {
    Bytes profile = kProfile;
    profile[3] ^= 0x10;
    return test::IccpPayload("Display", profile);
}

std::vector<CorruptCase> CorruptCases() {
    const Bytes good = test::PngChunk("iCCP", test::IccpPayload("Display", kProfile));
    return {
        {"WrongCrc", {WithBadCrc(good)}},
        {"NotZlib", {test::PngChunk("iCCP", BadZlib())}},
        {"ZlibCutShort", {test::PngChunk("iCCP", TruncatedZlib())}},
        {"UnknownMethod", {test::PngChunk("iCCP", WithMethod(1))}},
        {"EmptyName", {test::PngChunk("iCCP", test::IccpPayload("", kProfile))}},
        {"ProfileLengthDisagrees", {test::PngChunk("iCCP", ProfileWithWrongLength())}},
        {"TooShortForAProfile",
         {test::PngChunk("iCCP", test::IccpPayload("Display", Bytes(64, 1)))}},
        {"InflatesBeyondTheLimit",
         {test::PngChunk("iCCP",
                         test::IccpPayload("Display", Bytes(kMaxPngProfileSize + 1024, 0)))}},
    };
}

class PngCorruptIccTest : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(PngCorruptIccTest, ImageLoadsWithoutProfile) {
    const Bytes png = PngWith(GetParam().chunks);
    EXPECT_TRUE(PngIccProfile(png).empty());
    const Bitmap bitmap(FreeImage_LoadFromBytes(kFormatPng, png, 0));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetWidth(bitmap.get()), 4u);
    EXPECT_TRUE(ProfileOf(bitmap.get()).empty());
}

INSTANTIATE_TEST_SUITE_P(Chunks, PngCorruptIccTest, ::testing::ValuesIn(CorruptCases()),
                         [](const auto& info) { return info.param.name; });

// A profile after the image data is out of place; the image is kept.
TEST(PngIccTest, ProfileAfterImageDataIsIgnored) {
    Bytes png = PngWith({});
    const Bytes late = test::PngChunk("iCCP", test::IccpPayload("Display", kProfile));
    png.insert(png.end() - 12, late.begin(), late.end());  // before IEND
    EXPECT_TRUE(PngIccProfile(png).empty());
    const Bitmap bitmap(FreeImage_LoadFromBytes(kFormatPng, png, 0));
    ASSERT_TRUE(bitmap);
    EXPECT_TRUE(ProfileOf(bitmap.get()).empty());
}

}  // namespace
}  // namespace pimo::imagelib
