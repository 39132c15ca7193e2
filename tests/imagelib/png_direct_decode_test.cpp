// A PNG decoded a few rows at a time gives the bitmap the library's loader
// gives, byte for byte and header for header, for every kind of PNG the loader
// reads; files it cannot reproduce are declined and left to that loader. In
// the decoder process, either way, what comes back is the in-process load.
#include "engine/imagelib/png_direct_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/isolated_decoder.h"
#include "tests/imagelib/codec_fixtures.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

enum ColourType { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

unsigned Channels(ColourType type) {
    switch (type) {
        case kGrey:
        case kPalette:
            return 1;
        case kGreyAlpha:
            return 2;
        case kRgb:
            return 3;
        case kRgba:
            return 4;
    }
    return 0;
}

// A PNG made chunk by chunk: its samples, packed as the format packs them,
// stored unfiltered, progressive (Adam7) or not.
struct PngPicture {
    unsigned width = 13, height = 37;  // rows not a multiple of four bytes; several batches
    ColourType colour = kRgb;
    unsigned depth = 8;
    bool interlaced = false;
    std::vector<Bytes> before;  // complete chunks between IHDR and the image data
    std::vector<Bytes> after;   // and between the image data and IEND
    unsigned idatChunks = 1;
    // Sample c of the pixel at (x, y), y counted from the top; masked to the depth.
    std::function<unsigned(unsigned x, unsigned y, unsigned c)> sample =
        [](unsigned x, unsigned y, unsigned c) { return x * 37 + y * 11 + c * 101 + x * y * 3; };
};

void PutSamples(Bytes& raw, const PngPicture& picture, unsigned y, unsigned x0, unsigned dx) {
    raw.push_back(0);  // no row filter
    const unsigned channels = Channels(picture.colour);
    const unsigned mask = picture.depth == 16 ? 0xFFFF : (1u << picture.depth) - 1;
    unsigned bits = 0, filled = 0;
    for (unsigned x = x0; x < picture.width; x += dx) {
        for (unsigned c = 0; c < channels; ++c) {
            const unsigned value = picture.sample(x, y, c) & mask;
            if (picture.depth == 16) {
                raw.push_back(static_cast<std::uint8_t>(value >> 8));
                raw.push_back(static_cast<std::uint8_t>(value));
            } else if (picture.depth == 8) {
                raw.push_back(static_cast<std::uint8_t>(value));
            } else {
                bits = (bits << picture.depth) | value;
                filled += picture.depth;
                if (filled == 8) {
                    raw.push_back(static_cast<std::uint8_t>(bits));
                    bits = filled = 0;
                }
            }
        }
    }
    if (filled) raw.push_back(static_cast<std::uint8_t>(bits << (8 - filled)));
}

Bytes BuildPng(const PngPicture& picture) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    test::PutBe32(header, picture.width);
    test::PutBe32(header, picture.height);
    header.insert(header.end(), {static_cast<std::uint8_t>(picture.depth),
                                 static_cast<std::uint8_t>(picture.colour), 0, 0,
                                 static_cast<std::uint8_t>(picture.interlaced ? 1 : 0)});
    const auto append = [&out](const Bytes& bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    };
    append(test::PngChunk("IHDR", header));
    for (const Bytes& chunk : picture.before) append(chunk);
    Bytes raw;
    if (picture.interlaced) {
        const unsigned passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                       {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto& [x0, y0, dx, dy] : passes) {
            if (x0 >= picture.width) continue;
            for (unsigned y = y0; y < picture.height; y += dy) PutSamples(raw, picture, y, x0, dx);
        }
    } else {
        for (unsigned y = 0; y < picture.height; ++y) PutSamples(raw, picture, y, 0, 1);
    }
    const Bytes data = test::Deflate(raw);
    const std::size_t part = data.size() / picture.idatChunks + 1;
    for (std::size_t at = 0; at < data.size(); at += part)
        append(test::PngChunk(
            "IDAT", Bytes(data.begin() + static_cast<long>(at),
                          data.begin() + static_cast<long>(std::min(data.size(), at + part)))));
    for (const Bytes& chunk : picture.after) append(chunk);
    append(test::PngChunk("IEND", {}));
    return out;
}

Bytes Palette(unsigned entries) {
    Bytes colours;
    for (unsigned i = 0; i < entries; ++i) {
        colours.insert(colours.end(),
                       {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                        static_cast<std::uint8_t>(i * 3 + 1)});
    }
    return test::PngChunk("PLTE", colours);
}

Bytes Text(const std::string& type, const std::string& key, const std::string& value) {
    Bytes payload(key.begin(), key.end());
    payload.push_back(0);
    if (type == "iTXt") payload.insert(payload.end(), {0, 0, 0, 0});  // uncompressed, no language
    payload.insert(payload.end(), value.begin(), value.end());
    return test::PngChunk(type, payload);
}

Bytes ZText(const std::string& key, const std::string& value) {
    Bytes payload(key.begin(), key.end());
    payload.insert(payload.end(), {0, 0});  // the keyword's end, deflate
    const Bytes packed = test::Deflate(Bytes(value.begin(), value.end()));
    payload.insert(payload.end(), packed.begin(), packed.end());
    return test::PngChunk("zTXt", payload);
}

Bytes Chunk(const std::string& type, std::initializer_list<std::uint8_t> payload) {
    return test::PngChunk(type, Bytes(payload));
}

// The same bitmap as far as the engine can tell: kind, shape, every pixel
// byte (row padding included), palette, transparency, background colour,
// resolution, profile, every metadata tag and the carried facts.
void ExpectSameBitmap(FIBITMAP* a, FIBITMAP* b) {
    ASSERT_TRUE(a && b);
    ASSERT_EQ(::FreeImage_GetImageType(a), ::FreeImage_GetImageType(b));
    ASSERT_EQ(::FreeImage_GetBPP(a), ::FreeImage_GetBPP(b));
    ASSERT_EQ(::FreeImage_GetWidth(a), ::FreeImage_GetWidth(b));
    ASSERT_EQ(::FreeImage_GetHeight(a), ::FreeImage_GetHeight(b));
    ASSERT_EQ(::FreeImage_GetPitch(a), ::FreeImage_GetPitch(b));
    EXPECT_EQ(0, std::memcmp(::FreeImage_GetBits(a), ::FreeImage_GetBits(b),
                             std::size_t{::FreeImage_GetPitch(a)} * ::FreeImage_GetHeight(a)));
    EXPECT_EQ(::FreeImage_GetColorType(a), ::FreeImage_GetColorType(b));
    EXPECT_EQ(::FreeImage_GetRedMask(a), ::FreeImage_GetRedMask(b));
    ASSERT_EQ(::FreeImage_GetColorsUsed(a), ::FreeImage_GetColorsUsed(b));
    if (::FreeImage_GetPalette(a)) {
        EXPECT_EQ(0, std::memcmp(::FreeImage_GetPalette(a), ::FreeImage_GetPalette(b),
                                 ::FreeImage_GetColorsUsed(a) * sizeof(RGBQUAD)));
    }
    EXPECT_EQ(::FreeImage_IsTransparent(a), ::FreeImage_IsTransparent(b));
    ASSERT_EQ(::FreeImage_GetTransparencyCount(a), ::FreeImage_GetTransparencyCount(b));
    if (::FreeImage_GetTransparencyCount(a)) {
        EXPECT_EQ(
            0, std::memcmp(::FreeImage_GetTransparencyTable(a), ::FreeImage_GetTransparencyTable(b),
                           ::FreeImage_GetTransparencyCount(a)));
    }
    RGBQUAD backgroundA{}, backgroundB{};
    ASSERT_EQ(::FreeImage_GetBackgroundColor(a, &backgroundA),
              ::FreeImage_GetBackgroundColor(b, &backgroundB));
    EXPECT_EQ(0, std::memcmp(&backgroundA, &backgroundB, sizeof backgroundA));
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(a), ::FreeImage_GetDotsPerMeterX(b));
    EXPECT_EQ(::FreeImage_GetDotsPerMeterY(a), ::FreeImage_GetDotsPerMeterY(b));
    const FIICCPROFILE* profileA = ::FreeImage_GetICCProfile(a);
    const FIICCPROFILE* profileB = ::FreeImage_GetICCProfile(b);
    ASSERT_EQ(profileA->size, profileB->size);
    if (profileA->size) {
        EXPECT_EQ(0, std::memcmp(profileA->data, profileB->data, profileA->size));
    }
    for (int model = FIMD_COMMENTS; model <= FIMD_CUSTOM; ++model) {
        const auto m = static_cast<FREE_IMAGE_MDMODEL>(model);
        SCOPED_TRACE("metadata model " + std::to_string(model));
        ASSERT_EQ(::FreeImage_GetMetadataCount(m, a), ::FreeImage_GetMetadataCount(m, b));
        FITAG* tag = nullptr;
        FIMETADATA* search = ::FreeImage_FindFirstMetadata(m, a, &tag);
        if (!search) continue;
        do {
            FITAG* other = nullptr;
            ASSERT_TRUE(::FreeImage_GetMetadata(m, b, ::FreeImage_GetTagKey(tag), &other))
                << ::FreeImage_GetTagKey(tag);
            EXPECT_EQ(::FreeImage_GetTagType(tag), ::FreeImage_GetTagType(other));
            ASSERT_EQ(::FreeImage_GetTagLength(tag), ::FreeImage_GetTagLength(other));
            EXPECT_EQ(0, std::memcmp(::FreeImage_GetTagValue(tag), ::FreeImage_GetTagValue(other),
                                     ::FreeImage_GetTagLength(tag)))
                << ::FreeImage_GetTagKey(tag);
        } while (::FreeImage_FindNextMetadata(search, &tag));
        ::FreeImage_FindCloseMetadata(search);
    }
    EXPECT_EQ(FreeImage_GetOriginalBPP(a), FreeImage_GetOriginalBPP(b));
    EXPECT_EQ(FreeImage_OriginalHasAlpha(a), FreeImage_OriginalHasAlpha(b));
}

// The header-only load filled with the direct decode's rows, put where the
// sink says they go; every row is checked to come exactly once, top row first.
Bitmap DecodedDirectly(const Bytes& png, int flags) {
    Bitmap header(LoadPngWithoutPixels(png, flags));
    if (!header) return Bitmap();
    const unsigned height = ::FreeImage_GetHeight(header.get());
    const std::size_t pitch = ::FreeImage_GetPitch(header.get());
    std::vector<std::uint8_t> pixels(pitch * height, 0xA5);  // not cleared: padding must be written
    std::vector<int> handed(height, 0);
    unsigned nextTop = height;  // rows come from the top down
    const bool decoded =
        DecodePngRows(png, flags, header.get(),
                      [&](unsigned bottom, unsigned count, std::span<const std::uint8_t> rows) {
                          EXPECT_EQ(rows.size(), std::size_t{count} * pitch);
                          EXPECT_EQ(bottom + count, nextTop);
                          nextTop = bottom;
                          for (unsigned i = 0; i < count; ++i) ++handed[bottom + i];
                          std::memcpy(pixels.data() + bottom * pitch, rows.data(), rows.size());
                          return true;
                      });
    if (!decoded) return Bitmap();
    for (unsigned y = 0; y < height; ++y) EXPECT_EQ(handed[y], 1) << "row " << y;
    // A bitmap of the header's kind over these pixels, with the header's facts.
    Bitmap whole(::FreeImage_AllocateT(
        ::FreeImage_GetImageType(header.get()),
        static_cast<int>(::FreeImage_GetWidth(header.get())), static_cast<int>(height),
        static_cast<int>(::FreeImage_GetBPP(header.get())), ::FreeImage_GetRedMask(header.get()),
        ::FreeImage_GetGreenMask(header.get()), ::FreeImage_GetBlueMask(header.get())));
    std::memcpy(::FreeImage_GetBits(whole.get()), pixels.data(), pixels.size());
    if (RGBQUAD* palette = ::FreeImage_GetPalette(whole.get())) {
        std::memcpy(palette, ::FreeImage_GetPalette(header.get()),
                    ::FreeImage_GetColorsUsed(whole.get()) * sizeof(RGBQUAD));
    }
    if (const unsigned count = ::FreeImage_GetTransparencyCount(header.get()))
        ::FreeImage_SetTransparencyTable(
            whole.get(), ::FreeImage_GetTransparencyTable(header.get()), static_cast<int>(count));
    RGBQUAD background{};
    if (::FreeImage_GetBackgroundColor(header.get(), &background))
        ::FreeImage_SetBackgroundColor(whole.get(), &background);
    ::FreeImage_SetDotsPerMeterX(whole.get(), ::FreeImage_GetDotsPerMeterX(header.get()));
    ::FreeImage_SetDotsPerMeterY(whole.get(), ::FreeImage_GetDotsPerMeterY(header.get()));
    ::FreeImage_CloneMetadata(whole.get(), header.get());
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(header.get());
    if (profile->size) ::FreeImage_CreateICCProfile(whole.get(), profile->data, profile->size);
    return whole;
}

struct PngCase {
    const char* name;
    PngPicture picture;
    int flags = 0;
};

std::vector<PngCase> Kinds() {
    const auto with = [](ColourType colour, unsigned depth, auto change) {
        PngPicture picture;
        picture.colour = colour;
        picture.depth = depth;
        if (colour == kPalette) picture.before.push_back(Palette(1u << depth));
        change(picture);
        return picture;
    };
    const auto plain = [](PngPicture&) {};
    const auto interlaced = [](PngPicture& picture) { picture.interlaced = true; };
    const auto trns = [](std::initializer_list<std::uint8_t> payload) {
        return [payload](PngPicture& picture) { picture.before.push_back(Chunk("tRNS", payload)); };
    };
    const auto opaque = [](PngPicture& picture) {
        picture.sample = [](unsigned x, unsigned y, unsigned c) {
            return c == 3 ? 0xFFFFu : x * 37 + y * 11 + c * 101;
        };
    };
    const auto gamma = [](PngPicture& picture) {
        picture.before.push_back(Chunk("gAMA", {0, 1, 0x86, 0xA0}));  // 1.0: a visible correction
    };
    // (Its own properties are checked by DescribedFileCarriesWhatItDeclares.)
    const auto described = [](PngPicture& picture) {
        picture.before = {Chunk("pHYs", {0, 0, 0x0B, 0x13, 0, 0, 0x05, 0x89, 1}),
                          Chunk("bKGD", {0, 10, 0, 20, 0, 30}),
                          test::PngChunk("iCCP", test::IccpPayload("p", test::MakeIccProfile("x"))),
                          Text("tEXt", "Title", "rows"),
                          Text("iTXt", "XML:com.adobe.xmp", "<x:xmpmeta/>"),
                          Chunk("tIME", {0x07, 0xEA, 12, 11, 10, 9, 8})};
        // Chunks after the image that the loader does not read.
        picture.after = {Chunk("prVt", {1, 2, 3}), Chunk("pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0})};
        picture.idatChunks = 3;
    };
    // Read by the loader only with the pixels.
    const auto textsAfter = [](PngPicture& picture) {
        picture.before.push_back(Text("tEXt", "Title", "before"));
        picture.after = {Text("tEXt", "Title", "after, in place of the one before"),
                         Text("tEXt", "Author", "a test"), ZText("Comment", "compressed"),
                         Text("iTXt", "XML:com.adobe.xmp", "<x:xmpmeta>late</x:xmpmeta>"),
                         Chunk("tIME", {0x07, 0xE9, 1, 2, 3, 4, 5})};
    };
    const auto timeTwice = [](PngPicture& picture) {
        picture.before.push_back(Chunk("tIME", {0x07, 0xE8, 6, 7, 8, 9, 10}));
        picture.after = {Chunk("tIME", {0x07, 0xE9, 1, 2, 3, 4, 5}), Text("zTXt", "broken", "x")};
    };
    return {
        {"rgb 8", with(kRgb, 8, plain)},
        {"rgb 8 interlaced", with(kRgb, 8, interlaced)},
        {"rgb 8 with a transparent colour", with(kRgb, 8, trns({0, 0, 0, 101, 0, 202}))},
        {"rgb 16", with(kRgb, 16, plain)},
        {"rgb 16 with a transparent colour", with(kRgb, 16, trns({0, 0, 0, 101, 0, 202}))},
        {"rgba 8", with(kRgba, 8, plain)},
        {"rgba 8 all opaque", with(kRgba, 8, opaque)},
        {"rgba 8 interlaced", with(kRgba, 8, interlaced)},
        {"rgba 16", with(kRgba, 16, plain)},
        {"grey 1", with(kGrey, 1, plain)},
        {"grey 2", with(kGrey, 2, plain)},
        {"grey 4 with a transparent shade", with(kGrey, 4, trns({0, 5}))},
        {"grey 8", with(kGrey, 8, plain)},
        {"grey 8 with a transparent shade", with(kGrey, 8, trns({0, 48}))},
        {"grey 16", with(kGrey, 16, plain)},
        {"grey 16 with a transparent shade", with(kGrey, 16, trns({0, 0}))},
        {"grey and alpha 8", with(kGreyAlpha, 8, plain)},
        {"grey and alpha 16", with(kGreyAlpha, 16, plain)},
        {"palette 1", with(kPalette, 1, plain)},
        {"palette 2 interlaced", with(kPalette, 2, interlaced)},
        {"palette 4 with transparency", with(kPalette, 4, trns({0, 128, 255, 7}))},
        {"palette 8 with transparency", with(kPalette, 8, trns({9, 0}))},
        {"gamma applied", with(kRgb, 8, gamma)},
        {"gamma ignored", with(kRgba, 16, gamma), PNG_IGNOREGAMMA},
        {"described before the image", with(kRgb, 8, described)},
        {"one pixel",
         with(kRgba, 8, [](PngPicture& picture) { picture.width = picture.height = 1; })},
        {"texts and time after the image", with(kPalette, 4, textsAfter)},
        {"time before and after the image", with(kRgb, 8, timeTwice)},
    };
}

void PrintTo(const PngCase& file, std::ostream* out) {
    *out << file.name;
}

const PngCase& KindNamed(const std::string& name) {
    static const std::vector<PngCase> kinds = Kinds();
    for (const PngCase& kind : kinds)
        if (kind.name == name) return kind;
    throw std::logic_error("no such kind: " + name);
}

// The fixtures show what they are meant to: the loader finds in them what
// the comparisons above must then find again.
TEST(PngDirectDecodeTest, FixturesCarryWhatTheyDeclare) {
    const Bitmap described(FreeImage_LoadFromBytes(
        kFormatPng, BuildPng(KindNamed("described before the image").picture), 0));
    ASSERT_TRUE(described);
    RGBQUAD background{};
    ASSERT_TRUE(::FreeImage_GetBackgroundColor(described.get(), &background));
    EXPECT_EQ(background.rgbRed, 10);
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(described.get()), 2835u);
    EXPECT_GT(::FreeImage_GetICCProfile(described.get())->size, 0);
    EXPECT_EQ(::FreeImage_GetMetadataCount(FIMD_COMMENTS, described.get()), 1u);
    EXPECT_EQ(::FreeImage_GetMetadataCount(FIMD_XMP, described.get()), 1u);
    EXPECT_EQ(::FreeImage_GetMetadataCount(FIMD_EXIF_MAIN, described.get()), 1u);
    const Bitmap late(FreeImage_LoadFromBytes(
        kFormatPng, BuildPng(KindNamed("texts and time after the image").picture), 0));
    ASSERT_TRUE(late);
    EXPECT_EQ(::FreeImage_GetMetadataCount(FIMD_COMMENTS, late.get()), 3u);
    EXPECT_EQ(::FreeImage_GetMetadataCount(FIMD_XMP, late.get()), 1u);
    EXPECT_EQ(::FreeImage_GetMetadataCount(FIMD_EXIF_MAIN, late.get()), 1u);
    const Bitmap twice(FreeImage_LoadFromBytes(
        kFormatPng, BuildPng(KindNamed("time before and after the image").picture), 0));
    FITAG* time = nullptr;
    ASSERT_TRUE(::FreeImage_GetMetadata(FIMD_EXIF_MAIN, twice.get(), "DateTime", &time));
    EXPECT_STREQ(static_cast<const char*>(::FreeImage_GetTagValue(time)), "2024:06:07  8:09:10");
    const struct {
        const char* kind;
        bool hasAlpha;
    } alpha[] = {{"rgba 8", true},
                 {"rgba 8 all opaque", false},
                 {"rgb 8 with a transparent colour", true},
                 {"grey 16 with a transparent shade", true}};
    for (const auto& [kind, hasAlpha] : alpha) {
        const Bitmap loaded(
            FreeImage_LoadFromBytes(kFormatPng, BuildPng(KindNamed(kind).picture), 0));
        ASSERT_TRUE(loaded);
        EXPECT_EQ(FreeImage_OriginalHasAlpha(loaded.get()), hasAlpha) << kind;
    }
    const Bitmap gamma(
        FreeImage_LoadFromBytes(kFormatPng, BuildPng(KindNamed("gamma applied").picture), 0));
    const Bitmap plain(
        FreeImage_LoadFromBytes(kFormatPng, BuildPng(KindNamed("rgb 8").picture), 0));
    EXPECT_NE(0, std::memcmp(::FreeImage_GetBits(gamma.get()), ::FreeImage_GetBits(plain.get()),
                             std::size_t{::FreeImage_GetPitch(plain.get())} * 37));
}

class PngKindTest : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngKindTest, DirectDecodeIsTheLoadersBitmap) {
    const Bytes png = BuildPng(GetParam().picture);
    const int flags = GetParam().flags;
    const Bitmap loaded(FreeImage_LoadFromBytes(kFormatPng, png, flags));
    ASSERT_TRUE(loaded) << "the fixture itself must load";
    ASSERT_TRUE(DirectPngDecodeApplies(png, flags));
    const Bitmap direct = DecodedDirectly(png, flags);
    ASSERT_TRUE(direct) << "the direct decode declined";
    ExpectSameBitmap(loaded.get(), direct.get());
}

TEST_P(PngKindTest, IsolatedLoadIsTheInProcessLoad) {
    const Bytes png = BuildPng(GetParam().picture);
    const Bitmap here(FreeImage_LoadFromBytes(kFormatPng, png, GetParam().flags));
    const Bitmap there(FreeImage_LoadIsolated(kFormatPng, png, GetParam().flags));
    ExpectSameBitmap(here.get(), there.get());
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngKindTest, ::testing::ValuesIn(Kinds()),
                         [](const ::testing::TestParamInfo<PngCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// Collects this thread's library messages while alive.
class MessageLog {
  public:
    MessageLog() {
        m_previous = FreeImage_SetOutputMessage(
            [this](int, const std::string& text) { m_text += text + "\n"; });
    }
    ~MessageLog() { FreeImage_SetOutputMessage(std::move(m_previous)); }
    const std::string& text() const { return m_text; }

  private:
    std::string m_text;
    OutputMessageHandler m_previous;
};

// Files the direct decode must leave to the loader: declined up front, or
// failed on the way. The isolated load, whichever way it went, gives what the
// in-process load gives, its messages included.
TEST(PngDirectDecodeTest, FilesItCannotReproduceAreTheLoaders) {
    PngPicture textAfter;
    textAfter.after = {Text("tEXt", "Comment", "written last"),
                       Chunk("tIME", {7, 234, 1, 2, 3, 4, 5})};
    PngPicture crowded;
    for (int i = 0; i < 101; ++i)
        crowded.before.push_back(Text("tEXt", "Note" + std::to_string(i), "n"));
    const Bytes good = BuildPng(PngPicture{});
    Bytes badCrc = good;
    badCrc[badCrc.size() - 12 - 5] ^= 0x40;  // inside the image data: its CRC no longer holds
    Bytes truncated = good;
    truncated.resize(good.size() - 40);
    Bytes badEnd = good;
    badEnd[badEnd.size() - 1] ^= 1;  // IEND's CRC: read after the pixels
    const struct {
        const char* name;
        Bytes png;
        int flags;
        bool applies;
    } files[] = {
        {"another load flag", good, 2, false},
        {"more chunks than libpng may keep", BuildPng(crowded), 0, false},
        {"bad CRC in the image data", badCrc, 0, true},
        {"truncated", truncated, 0, false},
        {"bad CRC at the end", badEnd, 0, true},
    };
    StopDecoderProcess();
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        EXPECT_EQ(DirectPngDecodeApplies(file.png, file.flags), file.applies);
        Bitmap here, there;
        std::string hereText, thereText;
        {
            MessageLog log;
            here.reset(FreeImage_LoadFromBytes(kFormatPng, file.png, file.flags));
            hereText = log.text();
        }
        {
            MessageLog log;
            there.reset(FreeImage_LoadIsolated(kFormatPng, file.png, file.flags));
            thereText = log.text();
        }
        EXPECT_EQ(hereText, thereText);
        ASSERT_EQ(here == nullptr, there == nullptr);
        if (here) {
            ExpectSameBitmap(here.get(), there.get());
        } else {
            EXPECT_FALSE(DecodedDirectly(file.png, file.flags));
        }
    }
    StopDecoderProcess();
}

TEST(PngDirectDecodeTest, RefusingSinkStopsTheDecode) {
    PngPicture picture;
    picture.height = 100;
    const Bytes png = BuildPng(picture);
    const Bitmap header(LoadPngWithoutPixels(png, 0));
    ASSERT_TRUE(header);
    unsigned calls = 0;
    EXPECT_FALSE(DecodePngRows(
        png, 0, header.get(),
        [&](unsigned, unsigned, std::span<const std::uint8_t>) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2u);
    // A bitmap with pixels is no header to fill.
    const Bitmap whole(FreeImage_LoadFromBytes(kFormatPng, png, 0));
    EXPECT_FALSE(
        DecodePngRows(png, 0, whole.get(),
                      [](unsigned, unsigned, std::span<const std::uint8_t>) { return true; }));
}

}  // namespace
}  // namespace pimo::imagelib
