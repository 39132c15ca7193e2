// Extended-effort PNG compression: lossless at every level, smaller with more
// effort, ancillary chunks kept, layout reductions visible in the bytes, and
// unreadable input handed back untouched. Every check decodes with libpng.

#include "engine/imagelib/png_effort.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/libpng_reader.h"
#include "tests/support/test_images.h"

namespace pimo::test {
namespace {

using imagelib::RecompressPng;

// ---- images made in code ---------------------------------------------------

Bitmap Screenshot(unsigned w, unsigned h) {
    return MakeRgb(w, h, [&](unsigned x, unsigned y) {
        if (y < 12)
            return RGBQUAD{BYTE(200 - x / 8 * 8), BYTE(100 + x / 16 * 8), 40, 0};  // title bar
        if (x < 20) return RGBQUAD{0x80, 0x60, 0x30, 0};                           // side panel
        const bool ink = ((x / 3 + y / 7) * 2654435761u >> (x % 5 + 7)) & 1;
        return (y % 9 < 6 && ink) ? RGBQUAD{0x20, 0x20, 0x20, 0} : RGBQUAD{0xF4, 0xF4, 0xF4, 0};
    });
}

Bitmap Icon(unsigned size) {
    return MakeRgba(size, size, [&](unsigned x, unsigned y) {
        const double d = std::hypot(x + 0.5 - size / 2.0, y + 0.5 - size / 2.0);
        const double cover = std::clamp(size * 0.4 - d + 0.5, 0.0, 1.0);
        if (cover <= 0) return RGBQUAD{0, 0, 0, 0};
        return RGBQUAD{BYTE(200 - 2 * y), BYTE(80 + x), BYTE(60 + x + y),
                       BYTE(std::lround(255 * cover))};
    });
}

// What the engine writes for a 16-colour palette with kept transparency:
// 15 quantized colours, index 255 transparent, a 256-entry palette and table.
Bitmap Palette16WithTransparency() {
    // Fifteen well-separated colours in stripes, so that all fifteen survive.
    Bitmap rgb = MakeRgb(48, 40, [](unsigned x, unsigned) {
        const unsigned i = x * 15 / 48;
        return RGBQUAD{BYTE(i * 17), BYTE(255 - i * 13), BYTE((i % 3) * 120), 0};
    });
    Bitmap quantized(::FreeImage_ColorQuantizeEx(rgb.get(), FIQ_WUQUANT, 15, 0, nullptr));
    std::vector<BYTE> table(256, 255);
    table[255] = 0;
    for (unsigned y = 0; y < 40; ++y) {
        for (unsigned x = 0; x < 48; ++x) {
            if (y < 6 || (x > 20 && x < 28 && y > 30)) {
                BYTE index = 255;
                ::FreeImage_SetPixelIndex(quantized.get(), x, y, &index);
            }
        }
    }
    ::FreeImage_SetTransparencyTable(quantized.get(), table.data(), 256);
    return quantized;
}

Bitmap Monochrome() {
    Bitmap rgb = MakePhotoLike(50, 30, 4);
    return Bitmap(::FreeImage_Dither(rgb.get(), FID_FS));
}

Bitmap GreyPhoto() {
    Bitmap rgb = MakePhotoLike(40, 30, 5);
    return Bitmap(::FreeImage_ConvertToGreyscale(rgb.get()));
}

Bitmap GreyInRgb(unsigned levels) {
    return MakeRgb(40, 30, [&](unsigned x, unsigned y) {
        const BYTE v = BYTE(((x + y) % levels) * (255 / (levels - 1)));
        return RGBQUAD{v, v, v, 0};
    });
}

// 16 bits per sample; with `repeatHighByte` the low byte carries nothing.
Bitmap Rgb16(bool repeatHighByte) {
    Bitmap bitmap(::FreeImage_AllocateT(FIT_RGB16, 36, 28));
    for (unsigned y = 0; y < 28; ++y) {
        auto* row = reinterpret_cast<FIRGB16*>(::FreeImage_GetScanLine(bitmap.get(), y));
        for (unsigned x = 0; x < 36; ++x) {
            const auto value = [&](unsigned v) {
                return static_cast<WORD>(repeatHighByte ? (v & 0xFF) * 257 : v * 97 + x);
            };
            row[x] = FIRGB16{value(x * 7 + y), value(y * 9), value(x * y)};
        }
    }
    return bitmap;
}

Bitmap Grey16() {
    Bitmap bitmap(::FreeImage_AllocateT(FIT_UINT16, 30, 20));
    for (unsigned y = 0; y < 20; ++y) {
        auto* row = reinterpret_cast<WORD*>(::FreeImage_GetScanLine(bitmap.get(), y));
        for (unsigned x = 0; x < 30; ++x) row[x] = static_cast<WORD>(x * 2000 + y * 31);
    }
    return bitmap;
}

Bitmap OpaqueRgba() {
    return MakeRgba(40, 30, [](unsigned x, unsigned y) {
        return RGBQUAD{BYTE(x * 6), BYTE(y * 8), BYTE(x * y), 255};
    });
}

// Many colours, alpha only 0 or 255, every transparent pixel the same colour.
Bitmap ColourKeyedRgba() {
    return MakeRgba(64, 48, [](unsigned x, unsigned y) {
        if (x < 8) return RGBQUAD{1, 2, 3, 0};
        return RGBQUAD{BYTE(x * 6), BYTE(y * 8), BYTE(x * y), 255};
    });
}

// As above, but one opaque pixel has the transparent pixels' colour: a colour
// key would make it transparent too, so the alpha channel must stay.
Bitmap KeyColourAlsoOpaque() {
    return MakeRgba(64, 48, [](unsigned x, unsigned y) {
        if (x < 8) return RGBQUAD{1, 2, 3, 0};
        if (x == 30 && y == 30) return RGBQUAD{1, 2, 3, 255};
        return RGBQUAD{BYTE(x * 6), BYTE(y * 8), BYTE(x * y), 255};
    });
}

// Grey pixels with graded transparency.
Bitmap GreyWithAlpha() {
    return MakeRgba(40, 30, [](unsigned x, unsigned y) {
        const BYTE v = BYTE(x * 6 + y);
        return RGBQUAD{v, v, v, BYTE(y * 8)};
    });
}

struct Case {
    std::string name;
    std::function<Bitmap()> make;
    int saveFlags;     // added to the deflate level
    int reducedType;   // colour type after the reductions
    int reducedDepth;  // bit depth after the reductions
};

std::vector<Case> Cases() {
    return {
        {"photo", [] { return MakePhotoLike(64, 48); }, 0, 2, 8},
        {"screenshot", [] { return Screenshot(120, 80); }, 0, 3, 8},
        {"icon", [] { return Icon(40); }, 0, 6, 8},
        {"palette16", Palette16WithTransparency, 0, 3, 4},
        {"monochrome", Monochrome, 0, 0, 1},
        {"grey", GreyPhoto, 0, 0, 8},
        {"grey_in_rgb_four_levels", [] { return GreyInRgb(4); }, 0, 0, 2},
        {"rgb16", [] { return Rgb16(false); }, 0, 2, 16},
        {"rgb16_repeating_bytes", [] { return Rgb16(true); }, 0, 2, 8},
        {"grey16", Grey16, 0, 0, 16},
        {"rgba_opaque", OpaqueRgba, 0, 2, 8},
        {"rgba_colour_key", ColourKeyedRgba, 0, 2, 8},
        {"rgba_key_colour_also_opaque", KeyColourAlsoOpaque, 0, 6, 8},
        {"grey_with_alpha", GreyWithAlpha, 0, 4, 8},
        {"interlaced", [] { return MakePhotoLike(33, 21, 9); }, PNG_INTERLACED, 2, 8},
    };
}

Bytes EncodePng(const Case& c, int level) {
    Bitmap bitmap = c.make();
    return EncodeWithLibrary(FIF_PNG, bitmap.get(), c.saveFlags | level);
}

LibpngImage Decoded(const Bytes& png) {
    LibpngImage image;
    EXPECT_TRUE(DecodeWithLibpng(png, image)) << "libpng could not read the file";
    return image;
}

class EffortCases : public ::testing::TestWithParam<Case> {};

INSTANTIATE_TEST_SUITE_P(Images, EffortCases, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST_P(EffortCases, EveryLevelDecodesToThePlainPixels) {
    for (const int level : {1, 4, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const Bytes plain = EncodePng(GetParam(), level);
        ASSERT_FALSE(plain.empty());
        const LibpngImage expected = Decoded(plain);
        const Bytes better = RecompressPng(plain, level);
        const LibpngImage actual = Decoded(better);
        EXPECT_EQ(actual.width, expected.width);
        EXPECT_EQ(actual.height, expected.height);
        EXPECT_TRUE(actual.rgba == expected.rgba) << "pixels differ";
        EXPECT_TRUE(actual.warnings.empty()) << actual.warnings.front();
        EXPECT_LE(better.size(), plain.size());
        EXPECT_EQ(actual.interlace, 0);
    }
}

TEST(PngEffortInput, InterlacedFixtureIsInterlaced) {
    Bitmap bitmap = MakePhotoLike(33, 21, 9);
    EXPECT_EQ(Decoded(EncodeWithLibrary(FIF_PNG, bitmap.get(), PNG_INTERLACED | 1)).interlace, 1);
}

TEST_P(EffortCases, SizesShrinkWithEffort) {
    const Bytes plain9 = EncodePng(GetParam(), 9);
    const std::size_t medium = RecompressPng(EncodePng(GetParam(), 1), 1).size();
    const std::size_t high = RecompressPng(EncodePng(GetParam(), 4), 4).size();
    const std::size_t highest = RecompressPng(plain9, 9).size();
    EXPECT_LE(medium, plain9.size());
    EXPECT_LE(high, medium);
    EXPECT_LE(highest, high);
}

TEST_P(EffortCases, ReducesTheLayout) {
    const Bytes better = RecompressPng(EncodePng(GetParam(), 1), 1);
    const LibpngImage image = Decoded(better);
    EXPECT_EQ(image.colourType, GetParam().reducedType);
    EXPECT_EQ(image.bitDepth, GetParam().reducedDepth);
}

TEST_P(EffortCases, ResultsRepeatRunToRun) {
    const Bytes plain = EncodePng(GetParam(), 4);
    EXPECT_EQ(RecompressPng(plain, 4), RecompressPng(plain, 4));
}

// An image of more raw bytes than zopfli takes in one part: the highest level
// joins parts compressed at once, the medium one runs its passes in batches.
TEST(PngEffortLarge, GraphicAboveOnePartDecodesExactlyAtMediumAndHighest) {
    // Thousands of colours, so that it stays true colour: 1.7 MB of pixels.
    Bitmap bitmap = MakeRgb(900, 640, [](unsigned x, unsigned y) {
        const bool ink = y % 9 < 6 && (((x / 3 + y / 7) * 2654435761u >> (x % 5 + 7)) & 1);
        return ink ? RGBQUAD{0x20, 0x20, 0x20, 0} : RGBQUAD{BYTE(x / 4), BYTE(y / 3), 0xC0, 0};
    });
    const Bytes plain = EncodeWithLibrary(FIF_PNG, bitmap.get(), 9);
    const LibpngImage expected = Decoded(plain);
    std::size_t mediumSize = 0;
    for (const int level : {1, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const Bytes better = RecompressPng(plain, level);
        const LibpngImage actual = Decoded(better);
        EXPECT_TRUE(actual.rgba == expected.rgba) << "pixels differ";
        EXPECT_TRUE(actual.warnings.empty()) << actual.warnings.front();
        EXPECT_LT(better.size(), plain.size());
        if (level == 1) mediumSize = better.size();
        if (level == 9) {
            EXPECT_LT(better.size(), mediumSize);
        }
    }
}

// ---- the bytes of particular reductions ----------------------------------

const RawChunk* FindChunk(const std::vector<RawChunk>& chunks, const std::string& type) {
    const auto it = std::find_if(chunks.begin(), chunks.end(),
                                 [&](const RawChunk& c) { return c.type == type; });
    return it == chunks.end() ? nullptr : &*it;
}

TEST(PngEffortReductions, SixteenColourPaletteBecomesFourBitWithTrimmedTables) {
    Bitmap bitmap = Palette16WithTransparency();
    const Bytes plain = EncodeWithLibrary(FIF_PNG, bitmap.get(), 9);
    // The fixture is what the library writes: 8 bits, 256 entries, 256 alpha values.
    const std::vector<RawChunk> before = ChunksOf(plain);
    ASSERT_EQ(before.front().data[8], 8);
    ASSERT_EQ(before.front().data[9], 3);
    ASSERT_NE(FindChunk(before, "PLTE"), nullptr);
    ASSERT_EQ(FindChunk(before, "PLTE")->data.size(), 256u * 3);
    ASSERT_NE(FindChunk(before, "tRNS"), nullptr);
    ASSERT_EQ(FindChunk(before, "tRNS")->data.size(), 256u);

    const std::vector<RawChunk> after = ChunksOf(RecompressPng(plain, 1));
    EXPECT_EQ(after.front().data[8], 4);  // bit depth
    EXPECT_EQ(after.front().data[9], 3);  // palette
    ASSERT_NE(FindChunk(after, "PLTE"), nullptr);
    EXPECT_EQ(FindChunk(after, "PLTE")->data.size(), 16u * 3);
    ASSERT_NE(FindChunk(after, "tRNS"), nullptr);
    // The transparent entry moved to the front, so one alpha value covers it.
    EXPECT_EQ(FindChunk(after, "tRNS")->data, Bytes{0});
}

TEST(PngEffortReductions, BinaryAlphaOnOneColourBecomesAColourKey) {
    Bitmap bitmap = ColourKeyedRgba();
    const std::vector<RawChunk> after =
        ChunksOf(RecompressPng(EncodeWithLibrary(FIF_PNG, bitmap.get(), 1), 1));
    ASSERT_NE(FindChunk(after, "tRNS"), nullptr);
    // Red 3, green 2, blue 1 (RGBQUAD lists blue first), as 16-bit samples.
    EXPECT_EQ(FindChunk(after, "tRNS")->data, (Bytes{0, 3, 0, 2, 0, 1}));
}

TEST(PngEffortReductions, ImageDataIsOneChunk) {
    Bitmap bitmap = MakePhotoLike(200, 150);
    const Bytes plain = EncodeWithLibrary(FIF_PNG, bitmap.get(), 1);
    const auto idatCount = [](const Bytes& png) {
        const std::vector<RawChunk> chunks = ChunksOf(png);
        return std::count_if(chunks.begin(), chunks.end(),
                             [](const RawChunk& c) { return c.type == "IDAT"; });
    };
    ASSERT_GT(idatCount(plain), 1);  // the library writes 8 KiB pieces
    EXPECT_EQ(idatCount(RecompressPng(plain, 1)), 1);
}

// ---- ancillary chunks -------------------------------------------------------

// A small ICC profile of the given colour space that libpng accepts: a
// header, one private tag and a payload that does not compress to nothing
// (libpng refuses very short compressed profiles).
Bytes IccProfile(const char* colourSpace) {
    Bytes profile(400, 0);
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) profile[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    put32(0, 400);
    put32(8, 0x02100000);
    std::memcpy(&profile[12], "mntr", 4);
    std::memcpy(&profile[16], colourSpace, 4);
    std::memcpy(&profile[20], "XYZ ", 4);
    std::memcpy(&profile[36], "acsp", 4);
    put32(68, 0x0000F6D6);  // D50 illuminant
    put32(72, 0x00010000);
    put32(76, 0x0000D32D);
    put32(128, 1);  // one tag: type, offset, size
    std::memcpy(&profile[132], "zzzz", 4);
    put32(136, 144);
    put32(140, 256);
    for (std::size_t i = 144; i < profile.size(); ++i)
        profile[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    return profile;
}

void AddComment(FIBITMAP* bitmap, const std::string& key, const std::string& text) {
    FITAG* tag = ::FreeImage_CreateTag();
    ::FreeImage_SetTagKey(tag, key.c_str());
    ::FreeImage_SetTagType(tag, FIDT_ASCII);
    ::FreeImage_SetTagLength(tag, static_cast<DWORD>(text.size() + 1));
    ::FreeImage_SetTagCount(tag, static_cast<DWORD>(text.size() + 1));
    ::FreeImage_SetTagValue(tag, text.c_str());
    ::FreeImage_SetMetadata(FIMD_COMMENTS, bitmap, key.c_str(), tag);
    ::FreeImage_DeleteTag(tag);
}

std::vector<RawChunk> AncillaryChunks(const Bytes& png) {
    std::vector<RawChunk> kept;
    for (RawChunk& c : ChunksOf(png)) {
        if (c.type != "IHDR" && c.type != "PLTE" && c.type != "tRNS" && c.type != "IDAT" &&
            c.type != "IEND") {
            kept.push_back(std::move(c));
        }
    }
    return kept;
}

TEST(PngEffortChunks, CommentsAndProfileAreKeptInOrder) {
    Bitmap bitmap =
        Palette16WithTransparency();  // the palette shrinks, so the layout chunks change
    AddComment(bitmap.get(), "Comment", "made by a test");
    AddComment(bitmap.get(), "Author", "Pimo");
    Bytes profile = IccProfile("RGB ");
    ::FreeImage_CreateICCProfile(bitmap.get(), profile.data(), static_cast<long>(profile.size()));
    const Bytes plain = EncodeWithLibrary(FIF_PNG, bitmap.get(), 9);
    const std::vector<RawChunk> expected = AncillaryChunks(plain);
    ASSERT_NE(FindChunk(expected, "iCCP"), nullptr);
    // The library writes comments as international text chunks.
    ASSERT_EQ(std::count_if(expected.begin(), expected.end(),
                            [](const RawChunk& c) { return c.type == "iTXt"; }),
              2);
    ASSERT_TRUE(Decoded(plain).hasProfile);

    for (const int level : {1, 4, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const Bytes better = RecompressPng(plain, level);
        ASSERT_LT(better.size(), plain.size());
        const std::vector<RawChunk> actual = AncillaryChunks(better);
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < actual.size(); ++i) {
            EXPECT_EQ(actual[i].type, expected[i].type);
            EXPECT_EQ(actual[i].data, expected[i].data);
        }
        const LibpngImage image = Decoded(better);
        EXPECT_TRUE(image.hasProfile);
        EXPECT_TRUE(image.warnings.empty()) << image.warnings.front();
    }
}

TEST(PngEffortChunks, ColourProfileKeepsGreyPixelsInColour) {
    // A colour profile on a grey image is invalid; decoders drop it.
    Bitmap bitmap = GreyInRgb(200);
    Bytes profile = IccProfile("RGB ");
    ::FreeImage_CreateICCProfile(bitmap.get(), profile.data(), static_cast<long>(profile.size()));
    const Bytes plain = EncodeWithLibrary(FIF_PNG, bitmap.get(), 9);
    ASSERT_TRUE(Decoded(plain).hasProfile);
    const LibpngImage image = Decoded(RecompressPng(plain, 4));
    EXPECT_NE(image.colourType, 0);
    EXPECT_NE(image.colourType, 4);
    EXPECT_TRUE(image.hasProfile);
    EXPECT_TRUE(image.warnings.empty()) << image.warnings.front();
    EXPECT_TRUE(image.rgba == Decoded(plain).rgba);
}

TEST(PngEffortChunks, BackgroundColourSurvivesANewLayout) {
    // A graphic of few colours becomes a palette; its background colour is
    // none of them, so the palette needs an entry for it.
    Bitmap bitmap = Screenshot(120, 80);
    RGBQUAD background{0x11, 0x22, 0x33, 0};
    ASSERT_TRUE(::FreeImage_SetBackgroundColor(bitmap.get(), &background));
    const Bytes plain = EncodeWithLibrary(FIF_PNG, bitmap.get(), 9);
    const LibpngImage expected = Decoded(plain);
    ASSERT_TRUE(expected.hasBackground);
    ASSERT_EQ(expected.background[0], 0x3333);  // red: RGBQUAD lists blue first

    for (const int level : {1, 4, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const LibpngImage actual = Decoded(RecompressPng(plain, level));
        EXPECT_EQ(actual.colourType, 3);
        ASSERT_TRUE(actual.hasBackground);
        EXPECT_EQ(actual.background[0], expected.background[0]);
        EXPECT_EQ(actual.background[1], expected.background[1]);
        EXPECT_EQ(actual.background[2], expected.background[2]);
        EXPECT_TRUE(actual.rgba == expected.rgba);
    }
}

// ---- malformed input ------------------------------------------------------------

void AppendChunk(Bytes& out, const std::string& type, const Bytes& data) {
    const std::uint32_t length = static_cast<std::uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(length >> (24 - 8 * i)));
    Bytes body(type.begin(), type.end());
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    const auto crc =
        static_cast<std::uint32_t>(::crc32(0, body.data(), static_cast<uInt>(body.size())));
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(crc >> (24 - 8 * i)));
}

// A file rebuilt from chunks with correct CRCs, so only the change matters.
Bytes Rebuilt(const std::vector<RawChunk>& chunks) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const RawChunk& c : chunks) AppendChunk(out, c.type, c.data);
    return out;
}

Bytes ValidPng() {
    Bitmap bitmap = MakePhotoLike(30, 20);
    return EncodeWithLibrary(FIF_PNG, bitmap.get(), 1);
}

std::vector<RawChunk> Edited(const std::function<void(std::vector<RawChunk>&)>& edit) {
    std::vector<RawChunk> chunks = ChunksOf(ValidPng());
    edit(chunks);
    return chunks;
}

void SetU32(Bytes& data, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

RawChunk& Idat(std::vector<RawChunk>& chunks) {
    return *std::find_if(chunks.begin(), chunks.end(),
                         [](const RawChunk& c) { return c.type == "IDAT"; });
}

struct Malformed {
    std::string name;
    std::function<Bytes()> make;
};

std::vector<Malformed> MalformedInputs() {
    return {
        {"empty", [] { return Bytes{}; }},
        {"signature_only", [] { return Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }},
        {"not_a_png", [] { return Bytes(200, 'x'); }},
        {"truncated",
         [] {
             Bytes png = ValidPng();
             png.resize(png.size() / 2);
             return png;
         }},
        {"wrong_crc",
         [] {
             Bytes png = ValidPng();
             png[60] ^= 0x40;
             return png;
         }},
        {"corrupt_deflate_data",
         [] { return Rebuilt(Edited([](auto& c) { Idat(c).data[20] ^= 0x5A; })); }},
        {"absurd_dimensions",
         [] {
             return Rebuilt(Edited([](auto& c) {
                 SetU32(c.front().data, 0, 1000000);
                 SetU32(c.front().data, 4, 1000000);
             }));
         }},
        {"too_little_data",
         [] { return Rebuilt(Edited([](auto& c) { SetU32(c.front().data, 4, 21); })); }},
        {"too_much_data",
         [] { return Rebuilt(Edited([](auto& c) { SetU32(c.front().data, 4, 19); })); }},
        {"bad_bit_depth", [] { return Rebuilt(Edited([](auto& c) { c.front().data[8] = 3; })); }},
        {"palette_without_plte",
         [] { return Rebuilt(Edited([](auto& c) { c.front().data[9] = 3; })); }},
        {"missing_iend", [] { return Rebuilt(Edited([](auto& c) { c.pop_back(); })); }},
        {"no_image_data",
         [] {
             return Rebuilt(Edited([](auto& c) {
                 std::erase_if(c, [](const RawChunk& k) { return k.type == "IDAT"; });
             }));
         }},
        {"unknown_critical_chunk",
         [] {
             return Rebuilt(Edited([](auto& c) {
                 c.insert(c.begin() + 1, RawChunk{"ABCD", {1, 2, 3}});
             }));
         }},
        {"bytes_after_iend",
         [] {
             Bytes png = ValidPng();
             png.insert(png.end(), {1, 2, 3, 4});
             return png;
         }},
        {"chunk_length_past_end",
         [] {
             Bytes png = ValidPng();
             SetU32(png, 33, 0x7FFFFFF0);  // the chunk after IHDR
             return png;
         }},
    };
}

class MalformedCases : public ::testing::TestWithParam<Malformed> {};

INSTANTIATE_TEST_SUITE_P(Inputs, MalformedCases, ::testing::ValuesIn(MalformedInputs()),
                         [](const auto& info) { return info.param.name; });

TEST_P(MalformedCases, AreReturnedUnchanged) {
    const Bytes input = GetParam().make();
    for (const int level : {1, 4, 9})
        EXPECT_EQ(RecompressPng(input, level), input) << "level " << level;
}

// Damaged files with their CRCs made right again reach the decoder and the
// reductions: the result is the input itself or a file libpng reads to the
// input's pixels.
TEST(PngEffortMalformed, CorruptedFilesNeverYieldWrongPixels) {
    Bitmap photo = MakePhotoLike(20, 14);
    Bitmap quantized(::FreeImage_ColorQuantizeEx(photo.get(), FIQ_WUQUANT, 7, 0, nullptr));
    const std::vector<Bytes> seeds = {EncodeWithLibrary(FIF_PNG, photo.get(), 1),
                                      EncodeWithLibrary(FIF_PNG, photo.get(), PNG_INTERLACED | 1),
                                      EncodeWithLibrary(FIF_PNG, quantized.get(), 1)};
    std::mt19937 random(1);
    int changed = 0;
    for (int i = 0; i < 600; ++i) {
        std::vector<RawChunk> chunks = ChunksOf(seeds[i % seeds.size()]);
        RawChunk& chunk = chunks[random() % chunks.size()];
        if (chunk.data.empty()) continue;
        for (int flips = 1 + random() % 3; flips > 0; --flips) {
            chunk.data[random() % chunk.data.size()] ^=
                static_cast<std::uint8_t>(1u << (random() % 8));
        }
        const Bytes input = Rebuilt(chunks);
        const Bytes output = RecompressPng(input, 1);
        if (output == input) continue;
        ++changed;
        LibpngImage before, after;
        ASSERT_TRUE(DecodeWithLibpng(output, after)) << "case " << i;
        ASSERT_LE(output.size(), input.size());
        if (DecodeWithLibpng(input, before)) {
            EXPECT_TRUE(before.rgba == after.rgba) << "case " << i;
        }
    }
    EXPECT_GT(changed, 0);  // some damage leaves a decodable image to work on
}

TEST(PngEffortMalformed, RebuiltFixtureIsItselfValid) {
    // The malformed cases edit this rebuild; unedited it must decode and improve.
    const Bytes png = Rebuilt(ChunksOf(ValidPng()));
    LibpngImage image;
    ASSERT_TRUE(DecodeWithLibpng(png, image));
    EXPECT_LT(RecompressPng(png, 1).size(), png.size());
}

}  // namespace
}  // namespace pimo::test
