// PNG and GIF outputs, checked on the written bytes with independent decoders.

#include <gtest/gtest.h>

#include <set>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/independent_decoders.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::Bytes;
using test::FakeHost;
using test::TempDir;

// A transparent source: a transparent band on the left, a coloured gradient
// on the right with full alpha.
Bitmap TransparentGradient() {
    return test::MakeRgba(40, 20, [](unsigned x, unsigned y) {
        if (x < 10) return RGBQUAD{0, 0, 0, 0};
        return RGBQUAD{BYTE(x * 6), BYTE(y * 12), BYTE(200 - x * 4), 255};
    });
}

class OutputTest : public ::testing::Test {
  protected:
    // Manual mode: each test sets the settings it checks.
    OutputTest() { m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual; }

    void LoadPng(FIBITMAP* bitmap, const std::string& name = "source.png") {
        test::WriteFileBytes(m_dir.file(name), test::EncodeWithLibrary(FIF_PNG, bitmap, 0));
        m_engine.Interactive = false;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file(name)));
        m_engine.settings.TransparencyMode = TransparencyMode::Keep;
    }
    Bytes Encode(int format) {
        m_engine.settings.Format = format;
        const std::uint32_t size = m_engine.OptimizeImage("");
        Bytes bytes = imagelib::StreamBytes(m_engine.ResultStream.get());
        EXPECT_EQ(size, bytes.size());
        return bytes;
    }

    TempDir m_dir;
    FakeHost m_host;
    Engine m_engine{m_host};
};

class PngLevelTest : public OutputTest, public ::testing::WithParamInterface<int> {};

TEST_P(PngLevelTest, TrueColorKeepGivesRgba) {
    auto source = TransparentGradient();
    LoadPng(source.get());
    m_engine.settings.PNGCompressionType = GetParam();
    m_engine.settings.PNGPalettePreset = 0;
    const test::DecodedPng png = test::DecodePng(Encode(kFormatPng));
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.colorType, 6);
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(png.pixels[0].a, 0);
    EXPECT_EQ(png.pixels[39].a, 255);
}

TEST_P(PngLevelTest, Optimal16WithKeepReservesIndex255) {
    auto source = TransparentGradient();
    LoadPng(source.get());
    m_engine.settings.PNGCompressionType = GetParam();
    m_engine.settings.PNGPalettePreset = 3;
    m_engine.settings.PNGMaxColors = 16;
    const test::DecodedPng png = test::DecodePng(Encode(kFormatPng));
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.colorType, 3);
    EXPECT_EQ(png.bitDepth, 8);
    ASSERT_EQ(png.transparency.size(), 256u);
    EXPECT_EQ(png.transparency[255], 0);
    EXPECT_EQ(png.transparency[0], 255);
    std::set<int> visible;
    for (std::size_t i = 0; i < png.indices.size(); ++i) {
        if (png.indices[i] != 255) visible.insert(png.indices[i]);
    }
    EXPECT_LE(visible.size(), 15u);
    EXPECT_LE(*visible.rbegin(), 14);
    EXPECT_EQ(png.indices[0], 255);  // a pixel of the transparent band
}

TEST_P(PngLevelTest, DitheredMonochromeIsOneBit) {
    auto source = test::MakePhotoLike(32, 16);
    LoadPng(source.get());
    m_engine.settings.PNGCompressionType = GetParam();
    m_engine.settings.PNGPalettePreset = 4;
    const test::DecodedPng png = test::DecodePng(Encode(kFormatPng));
    EXPECT_TRUE(png.colorType == 0 || png.colorType == 3)
        << png.colorType;  // black and white: grey or palette
    EXPECT_EQ(png.bitDepth, 1);
}

TEST_P(PngLevelTest, NoPresetGivesRgbWithoutAlpha) {
    auto source = TransparentGradient();
    LoadPng(source.get());
    m_engine.settings.PNGCompressionType = GetParam();
    m_engine.settings.PNGPalettePreset = -1;
    const test::DecodedPng png = test::DecodePng(Encode(kFormatPng));
    EXPECT_EQ(png.colorType, 2);
    EXPECT_EQ(png.pixels[0].a, 255);
}

TEST_P(PngLevelTest, ColourCountIsHonoured) {
    auto source = test::MakePhotoLike(64, 32);
    LoadPng(source.get());
    m_engine.settings.PNGCompressionType = GetParam();
    m_engine.settings.PNGPalettePreset = 1;
    m_engine.settings.PNGMaxColors = 40;
    const test::DecodedPng png = test::DecodePng(Encode(kFormatPng));
    const std::set<std::uint8_t> used(png.indices.begin(), png.indices.end());
    EXPECT_LE(used.size(), 40u);
    EXPECT_GT(used.size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(PlainLevels, PngLevelTest, ::testing::Values(0, 1));

void AttachText(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key,
                const std::string& text) {
    FITAG* tag = ::FreeImage_CreateTag();
    ::FreeImage_SetTagKey(tag, key);
    ::FreeImage_SetTagType(tag, FIDT_ASCII);
    ::FreeImage_SetTagCount(tag, static_cast<DWORD>(text.size() + 1));
    ::FreeImage_SetTagLength(tag, static_cast<DWORD>(text.size() + 1));
    ::FreeImage_SetTagValue(tag, text.c_str());
    ::FreeImage_SetMetadata(model, bitmap, key, tag);
    ::FreeImage_DeleteTag(tag);
}

TEST_F(OutputTest, PngMetadataChunksFollowTheirFlags) {
    auto source = test::MakePhotoLike(24, 24);
    AttachText(source.get(), FIMD_COMMENTS, "Comment", "a comment");
    AttachText(source.get(), FIMD_XMP, "XMLPacket",
               "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>");
    LoadPng(source.get());
    ASSERT_GT(::FreeImage_GetMetadataCount(FIMD_COMMENTS, m_engine.SourceBitmap.get()), 0u);
    ASSERT_GT(::FreeImage_GetMetadataCount(FIMD_XMP, m_engine.SourceBitmap.get()), 0u);
    // A profile attached to the source, as a PNG with an iCCP chunk gives.
    const std::vector<std::uint8_t> icc = test::MakeIccProfile();
    std::vector<std::uint8_t> iccCopy = icc;
    ::FreeImage_CreateICCProfile(m_engine.SourceBitmap.get(), iccCopy.data(),
                                 static_cast<long>(iccCopy.size()));
    m_engine.settings.PNGPalettePreset = 0;

    OptimizationSettings& s = m_engine.settings;
    s.MetadataRemoveComments = s.MetadataRemoveXMP = s.MetadataRemoveICC = false;
    const test::DecodedPng kept = test::DecodePng(Encode(kFormatPng));
    EXPECT_TRUE(kept.hasText("Comment"));
    EXPECT_TRUE(kept.hasText("XML:com.adobe.xmp"));
    EXPECT_TRUE(kept.hasChunk("iCCP"));

    s.MetadataRemoveComments = s.MetadataRemoveXMP = s.MetadataRemoveICC = true;
    const test::DecodedPng removed = test::DecodePng(Encode(kFormatPng));
    EXPECT_FALSE(removed.hasText("Comment"));
    EXPECT_FALSE(removed.hasText("XML:com.adobe.xmp"));
    EXPECT_FALSE(removed.hasChunk("iCCP"));
}

TEST_F(OutputTest, ExtendedEffortKeepsPixelsAndNeverGrows) {
    auto source = TransparentGradient();
    LoadPng(source.get());
    for (int preset : {0, 3}) {
        m_engine.settings.PNGPalettePreset = preset;
        m_engine.settings.PNGMaxColors = 16;
        std::vector<Bytes> results;
        for (int type = 0; type <= 4; ++type) {
            m_engine.settings.PNGCompressionType = type;
            results.push_back(Encode(kFormatPng));
        }
        const test::DecodedPng plain = test::DecodePng(results[1]);
        for (int type = 2; type <= 4; ++type) {
            const test::DecodedPng effort =
                test::DecodePng(results[static_cast<std::size_t>(type)]);
            ASSERT_TRUE(effort.valid) << "type " << type;
            EXPECT_EQ(effort.pixels, plain.pixels) << "type " << type << " preset " << preset;
        }
        EXPECT_LE(results[2].size(), results[1].size()) << "preset " << preset;
        EXPECT_LE(results[3].size(), results[2].size()) << "preset " << preset;
        EXPECT_LE(results[4].size(), results[3].size()) << "preset " << preset;
    }
}

// ---- GIF ----

TEST_F(OutputTest, GifGreyscaleWith256ColoursIsAGreyRamp) {
    auto source = test::MakePhotoLike(32, 32);
    LoadPng(source.get());
    m_engine.settings.AdjustGrayscale = true;
    m_engine.settings.GIFMaxColors = 256;
    const test::DecodedGif gif = test::DecodeGif(Encode(kFormatGif));
    ASSERT_TRUE(gif.valid);
    ASSERT_EQ(gif.colorCount, 256);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(gif.colorMap[static_cast<std::size_t>(i)],
                  (test::Rgba{BYTE(i), BYTE(i), BYTE(i), 255}));
    }
}

TEST_F(OutputTest, GifGreyscaleWith64ColoursQuantizesGreys) {
    auto source = test::MakePhotoLike(32, 32);
    LoadPng(source.get());
    m_engine.settings.AdjustGrayscale = true;
    m_engine.settings.GIFMaxColors = 64;
    const test::DecodedGif gif = test::DecodeGif(Encode(kFormatGif));
    ASSERT_TRUE(gif.valid);
    const std::set<std::uint8_t> used(gif.indices.begin(), gif.indices.end());
    EXPECT_LE(used.size(), 64u);
    for (std::uint8_t index : used) {
        const test::Rgba c = gif.colorMap[index];
        EXPECT_TRUE(c.r == c.g && c.g == c.b) << "index " << int(index);
    }
}

TEST_F(OutputTest, GifDitheredMonochromeIsTwoColours) {
    auto source = test::MakePhotoLike(32, 32);
    LoadPng(source.get());
    m_engine.settings.GIFPalettePreset = 3;
    m_engine.settings.GIFMaxColors = 100;
    const test::DecodedGif gif = test::DecodeGif(Encode(kFormatGif));
    ASSERT_TRUE(gif.valid);
    EXPECT_EQ(gif.colorCount, 2);
}

TEST_F(OutputTest, GifKeepWithTwoColoursIsOneColourAndTransparent255) {
    auto source = test::MakeRgba(20, 10, [](unsigned x, unsigned) {
        return x < 5 ? RGBQUAD{0, 0, 0, 0} : RGBQUAD{10, 200, 30, 255};
    });
    LoadPng(source.get());
    m_engine.settings.GIFMaxColors = 2;
    const test::DecodedGif gif = test::DecodeGif(Encode(kFormatGif));
    ASSERT_TRUE(gif.valid);
    EXPECT_EQ(gif.colorCount, 256);
    EXPECT_EQ(gif.transparentIndex, 255);
    const std::set<std::uint8_t> used(gif.indices.begin(), gif.indices.end());
    ASSERT_EQ(used.size(), 2u);
    EXPECT_TRUE(used.count(255));
    const test::Rgba visible = gif.colorMap[*used.begin()];
    EXPECT_EQ(visible, (test::Rgba{30, 200, 10, 255}));
}

TEST_F(OutputTest, GifInterlacedDecodesToTheSamePixelsAndStillGifHasNoLoopBlock) {
    auto source = test::MakePhotoLike(37, 29);
    LoadPng(source.get());
    const test::DecodedGif plain = test::DecodeGif(Encode(kFormatGif));
    ASSERT_TRUE(plain.valid);
    EXPECT_FALSE(plain.interlaced);
    EXPECT_FALSE(plain.hasLoopBlock);
    EXPECT_EQ(plain.imageCount, 1);
    ASSERT_TRUE(m_engine.WorkingBitmap);
    EXPECT_EQ(::FreeImage_GetMetadataCount(FIMD_ANIMATION, m_engine.WorkingBitmap.get()), 0u)
        << "no tag when off";

    m_engine.settings.GIFInterlaced = true;
    const test::DecodedGif interlaced = test::DecodeGif(Encode(kFormatGif));
    ASSERT_TRUE(interlaced.valid);
    EXPECT_TRUE(interlaced.interlaced);
    EXPECT_EQ(interlaced.indices, plain.indices);
    EXPECT_EQ(interlaced.colorMap, plain.colorMap);
}

TEST_F(OutputTest, GifToFileMatchesMemory) {
    auto source = test::MakePhotoLike(20, 20);
    LoadPng(source.get());
    const Bytes inMemory = Encode(kFormatGif);
    EXPECT_EQ(m_engine.OptimizeImage(m_dir.file("out.gif")), inMemory.size());
    EXPECT_EQ(test::ReadFileBytes(m_dir.file("out.gif")), inMemory);
}

TEST_F(OutputTest, PngSavedOverTheLoadedFileWritesTheEncodedStream) {
    auto source = test::MakePhotoLike(20, 20);
    LoadPng(source.get(), "self.png");
    m_engine.settings.Format = kFormatPng;
    const std::uint32_t size = m_engine.OptimizeImage(m_dir.file("self.png"));
    EXPECT_EQ(test::ReadFileBytes(m_dir.file("self.png")),
              imagelib::StreamBytes(m_engine.ResultStream.get()));
    EXPECT_EQ(size, test::ReadFileBytes(m_dir.file("self.png")).size());
}

TEST_F(OutputTest, MissingWorkingBitmapReportsTheConversionError) {
    auto source = test::MakePhotoLike(20, 20);
    test::WriteFileBytes(m_dir.file("a.png"), test::EncodeWithLibrary(FIF_PNG, source.get(), 0));
    m_engine.options.AutomaticPreview = false;
    ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("a.png")));
    // A source the working-copy conversions reject: every step passes the
    // empty bitmap on.
    m_engine.SourceBitmap.reset(::FreeImage_AllocateT(FIT_DOUBLE, 4, 4));
    for (int format : {kFormatJpeg, kFormatPng, kFormatGif}) {
        m_engine.settings.Format = format;
        m_host.messages.clear();
        m_engine.PreviewImage();
        ASSERT_FALSE(m_host.messages.empty()) << "format " << format;
        EXPECT_EQ(m_host.messages.front().text,
                  "Could not convert the original image to the desired format !");
    }
}

}  // namespace
}  // namespace pimo::engine
