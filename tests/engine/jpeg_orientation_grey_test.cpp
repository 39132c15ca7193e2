// JPEG sources whose EXIF orientation, thumbnail or greyness used to be
// mishandled, checked by decoding the outputs with libjpeg and libpng.

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "engine/engine.h"
#include "engine/geometry.h"
#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/fake_host.h"
#include "tests/support/independent_decoders.h"
#include "tests/support/jpeg_inspect.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::Bytes;
using test::FakeHost;
using test::TempDir;

constexpr int kWidth = 32, kHeight = 16;

// Red in the top-left quadrant, grey elsewhere: every turn and mirror puts
// the red somewhere else.
std::uint8_t QuadrantSample(int x, int y, int k) {
    return x < kWidth / 2 && y < kHeight / 2 ? (k == 0 ? 255 : 0) : 128;
}

Bytes OrientedJpeg(int orientation, std::vector<std::pair<int, Bytes>> extraMarkers = {}) {
    test::JpegFixture shape;
    shape.width = kWidth;
    shape.height = kHeight;
    shape.quality = 95;
    shape.markers = std::move(extraMarkers);
    shape.markers.push_back(
        {0xE1, test::BuildExifApp1(false, static_cast<std::uint16_t>(orientation))});
    shape.sample = QuadrantSample;
    return test::EncodeJpeg(shape);
}

// Where a stored pixel appears on screen for an EXIF orientation, by the
// definition of the tag.
std::pair<int, int> Displayed(int orientation, int x, int y) {
    const int w = kWidth - 1, h = kHeight - 1;
    switch (orientation) {
        case 2:
            return {w - x, y};
        case 3:
            return {w - x, h - y};
        case 4:
            return {x, h - y};
        case 5:
            return {y, x};
        case 6:
            return {h - y, x};
        case 7:
            return {h - y, w - x};
        case 8:
            return {y, w - x};
        default:
            return {x, y};
    }
}

bool IsRed(const test::Rgba& p) {
    return p.r > 200 && p.g < 60 && p.b < 60;
}
bool IsGrey(const test::Rgba& p) {
    return std::abs(p.r - 128) < 20 && std::abs(p.g - 128) < 20 && std::abs(p.b - 128) < 20;
}

class JpegSourceTest : public ::testing::Test {
  protected:
    void Load(const Bytes& file, const std::string& name = "photo.jpg") {
        test::WriteFileBytes(m_dir.file(name), file);
        m_engine.Interactive = false;
        m_engine.options.AutomaticPreview = false;
        m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file(name)));
    }
    Bytes Encode(int format) {
        m_engine.settings.Format = format;
        m_engine.OptimizeImage("");
        return imagelib::StreamBytes(m_engine.ResultStream.get());
    }

    TempDir m_dir;
    FakeHost m_host;
    Engine m_engine{m_host};
};

struct OrientationCase {
    const char* name;
    int orientation;
    int format;
    bool removeExif;
    bool autoRotate;  // the loader turns the pixels itself
    bool turned;      // the output shows the picture as the tag asked
};

void PrintTo(const OrientationCase& c, std::ostream* os) {
    *os << c.name;
}

class OrientationTest : public JpegSourceTest,
                        public ::testing::WithParamInterface<OrientationCase> {};

TEST_P(OrientationTest, OutputLooksAsTheSourceDid) {
    const OrientationCase& c = GetParam();
    m_engine.options.AutoRotateEXIF = c.autoRotate;
    Load(OrientedJpeg(c.orientation));
    m_engine.settings.MetadataRemoveEXIF = c.removeExif;

    int width = 0, height = 0;
    std::vector<test::Rgba> pixels;
    if (c.format == kFormatJpeg) {
        const Bytes bytes = Encode(kFormatJpeg);
        const test::JpegStructure structure = test::InspectJpeg(bytes);
        EXPECT_EQ(structure.hasExif, !c.removeExif);
        // A kept EXIF block still says how to show the stored pixels.
        if (!c.removeExif) {
            EXPECT_EQ(structure.exifOrientation, c.turned ? 1 : c.orientation);
        }
        const test::DecodedJpeg jpeg = test::DecodeJpeg(bytes);
        ASSERT_TRUE(jpeg.valid);
        width = jpeg.width, height = jpeg.height, pixels = jpeg.pixels;
    } else {
        const test::DecodedPng png = test::DecodePng(Encode(kFormatPng));
        ASSERT_TRUE(png.valid);
        width = png.width, height = png.height, pixels = png.pixels;
    }
    const int shown = c.turned ? c.orientation : 1;
    const bool swapped = shown >= 5;
    ASSERT_EQ(width, swapped ? kHeight : kWidth);
    ASSERT_EQ(height, swapped ? kWidth : kHeight);
    const auto at = [&](std::pair<int, int> p) {
        return pixels[static_cast<std::size_t>(p.second) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(p.first)];
    };
    EXPECT_TRUE(IsRed(at(Displayed(shown, 8, 4))));     // the middle of the red quadrant
    EXPECT_TRUE(IsGrey(at(Displayed(shown, 24, 12))));  // the middle of the opposite one
}

constexpr int JPEG = kFormatJpeg, PNG = kFormatPng;

INSTANTIATE_TEST_SUITE_P(
    Orientations, OrientationTest,
    ::testing::Values(OrientationCase{"rotate90_exif_stripped", 6, JPEG, true, false, true},
                      OrientationCase{"rotate90_to_png", 6, PNG, false, false, true},
                      OrientationCase{"rotate90_exif_kept", 6, JPEG, false, false, false},
                      OrientationCase{"rotate90_loader_turned", 6, JPEG, true, true, true},
                      OrientationCase{"rotate270_exif_stripped", 8, JPEG, true, false, true},
                      OrientationCase{"rotate180_exif_stripped", 3, JPEG, true, false, true},
                      OrientationCase{"mirror_exif_stripped", 2, JPEG, true, false, true},
                      OrientationCase{"flip_exif_stripped", 4, JPEG, true, false, true},
                      OrientationCase{"transpose_exif_stripped", 5, JPEG, true, false, true},
                      OrientationCase{"transverse_to_png", 7, PNG, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Turned by hand, the picture is what the view showed: the orientation tag
// no longer applies, neither to the pixels nor in a kept EXIF block.
TEST_F(JpegSourceTest, TurnedByHandTheTagNoLongerApplies) {
    Load(OrientedJpeg(6));
    m_engine.Rotate(Rotation::Right);
    ASSERT_EQ(::FreeImage_GetWidth(m_engine.SourceBitmap.get()), unsigned(kHeight));
    for (const bool removeExif : {true, false}) {
        m_engine.settings.MetadataRemoveEXIF = removeExif;
        const Bytes bytes = Encode(kFormatJpeg);
        if (!removeExif) {
            EXPECT_EQ(test::InspectJpeg(bytes).exifOrientation, 1);
        }
        const test::DecodedJpeg jpeg = test::DecodeJpeg(bytes);
        ASSERT_TRUE(jpeg.valid);
        ASSERT_EQ(jpeg.width, kHeight);
        ASSERT_EQ(jpeg.height, kWidth);
        // Turning right is what orientation 6 asks for, done once.
        const auto [x, y] = Displayed(6, 8, 4);
        EXPECT_TRUE(IsRed(jpeg.pixels[static_cast<std::size_t>(y * jpeg.width + x)])) << removeExif;
    }
}

// An EXIF block whose second directory holds a JPEG thumbnail (IFD1 with
// Compression 6, JPEGInterchangeFormat and its length).
Bytes ExifWithThumbnail(const Bytes& thumbnail) {
    Bytes block = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        test::PutLe16(block, tag);
        test::PutLe16(block, type);
        test::PutLe32(block, 1);
        test::PutLe32(block, value);
    };
    test::PutLe16(block, 1);  // IFD0 at 8: Orientation 1, then IFD1 at 26
    entry(0x0112, 3, 1);
    test::PutLe32(block, 26);
    test::PutLe16(block, 3);  // IFD1: three entries, no next directory; data at 68
    entry(0x0103, 3, 6);
    entry(0x0201, 4, 68);
    entry(0x0202, 4, static_cast<std::uint32_t>(thumbnail.size()));
    test::PutLe32(block, 0);
    block.insert(block.end(), thumbnail.begin(), thumbnail.end());
    return block;
}

struct ThumbnailCase {
    const char* name;
    bool jfxx;  // else in the EXIF block
};

void PrintTo(const ThumbnailCase& c, std::ostream* os) {
    *os << c.name;
}

class ThumbnailTest : public JpegSourceTest, public ::testing::WithParamInterface<ThumbnailCase> {};

TEST_P(ThumbnailTest, ThumbnailGoesWithTheExifBlock) {
    test::JpegFixture small;
    small.sample = [](int, int, int) { return std::uint8_t{90}; };
    const Bytes thumbnail = test::EncodeJpeg(small);
    test::JpegFixture shape;
    shape.width = kWidth;
    shape.height = kHeight;
    shape.sample = QuadrantSample;
    if (GetParam().jfxx) {
        Bytes jfxx = {'J', 'F', 'X', 'X', 0, 0x10};
        jfxx.insert(jfxx.end(), thumbnail.begin(), thumbnail.end());
        shape.markers = {{0xE0, jfxx}, {0xE1, test::BuildExifApp1(false, 1)}};
    } else {
        shape.markers = {{0xE1, ExifWithThumbnail(thumbnail)}};
    }
    const Bytes file = test::EncodeJpeg(shape);
    ASSERT_EQ(test::InspectJpeg(file).hasJfxx, GetParam().jfxx);
    Load(file);
    ASSERT_NE(::FreeImage_GetThumbnail(m_engine.SourceBitmap.get()), nullptr);

    const Bytes bytes = Encode(kFormatJpeg);
    const test::JpegStructure structure = test::InspectJpeg(bytes);
    ASSERT_TRUE(structure.valid);
    EXPECT_FALSE(structure.hasExif);
    EXPECT_FALSE(structure.hasJfxx);
    EXPECT_TRUE(test::DecodeJpeg(bytes).valid);
}

INSTANTIATE_TEST_SUITE_P(Thumbnails, ThumbnailTest,
                         ::testing::Values(ThumbnailCase{"jfxx", true},
                                           ThumbnailCase{"exif", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct GreyCase {
    const char* name;
    bool greySource;
    bool transparentOverRed;  // a grey source with transparency, blended over red
    int components;
};

void PrintTo(const GreyCase& c, std::ostream* os) {
    *os << c.name;
}

class GreyJpegTest : public JpegSourceTest, public ::testing::WithParamInterface<GreyCase> {
  protected:
    static BYTE Grey(unsigned x, unsigned y) { return static_cast<BYTE>((x * 5 + y * 3) % 256); }
    void LoadSource() {
        const GreyCase& c = GetParam();
        if (c.transparentOverRed) {
            Bitmap source = test::MakeRgba(40, 24, [&](unsigned x, unsigned y) {
                return RGBQUAD{Grey(x, y), Grey(x, y), Grey(x, y), BYTE(x < 10 ? 0 : 255)};
            });
            test::WriteFileBytes(m_dir.file("grey.png"),
                                 test::EncodeWithLibrary(FIF_PNG, source.get(), 0));
            m_engine.Interactive = false;
            m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
            ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("grey.png")));
            m_engine.settings.TransparencyMode = TransparencyMode::SolidColor;
            m_engine.settings.BackgroundColor = Rgb{255, 0, 0};
        } else {
            test::JpegFixture shape;
            shape.width = 40;
            shape.height = 24;
            shape.components = c.greySource ? 1 : 3;
            shape.sample = [&](int x, int y, int k) {
                return static_cast<std::uint8_t>(
                    Grey(static_cast<unsigned>(x), static_cast<unsigned>(y)) + k * 40);
            };
            Load(test::EncodeJpeg(shape));
        }
        m_engine.settings.AdjustGrayscale = false;
    }
};

TEST_P(GreyJpegTest, GreyImagesAreWrittenWithOneComponent) {
    const GreyCase& c = GetParam();
    LoadSource();
    ASSERT_EQ(m_engine.imageInfo.Greyscale, c.greySource);

    const Bytes bytes = Encode(kFormatJpeg);
    EXPECT_EQ(test::InspectJpeg(bytes).components.size(), static_cast<std::size_t>(c.components));
    const test::DecodedJpeg jpeg = test::DecodeJpeg(bytes);
    ASSERT_TRUE(jpeg.valid);
    EXPECT_EQ(jpeg.components, c.components);
    // The picture survives: a pixel well inside keeps its grey level.
    const test::Rgba middle = jpeg.pixels[12 * 40 + 25];
    if (c.greySource) {
        EXPECT_NEAR(middle.g, Grey(25, 12), 12);
    }
    if (c.transparentOverRed) {
        EXPECT_TRUE(IsRed(jpeg.pixels[12 * 40 + 2]));
    }
}

// Without the analysis the JPEG stage finds the greys itself: the same bytes.
TEST_P(GreyJpegTest, SkippedAnalysisWritesTheSameBytes) {
    LoadSource();
    ASSERT_FALSE(m_engine.SourceAnalysisSkipped());
    const Bytes analysed = Encode(kFormatJpeg);

    m_engine.settings.Format = kFormatJpeg;
    m_engine.SkipSourceAnalysis = true;
    LoadSource();
    ASSERT_TRUE(m_engine.SourceAnalysisSkipped());
    EXPECT_EQ(m_engine.imageInfo.UniqueColors, 0u);
    EXPECT_EQ(Encode(kFormatJpeg), analysed);

    // Any other output, an automatic mode or a window still analyse.
    for (const auto& [format, mode, interactive] :
         {std::tuple{kFormatPng, OptimizationMode::Manual, false},
          std::tuple{kFormatJpeg, OptimizationMode::AutoUserFormat, false},
          std::tuple{kFormatJpeg, OptimizationMode::Manual, true}}) {
        m_engine.settings.Format = format;
        m_engine.Interactive = interactive;
        m_engine.settings.Mode = mode;
        ASSERT_TRUE(m_engine.LoadImageFile(
            m_dir.file(GetParam().transparentOverRed ? "grey.png" : "photo.jpg")));
        EXPECT_FALSE(m_engine.SourceAnalysisSkipped()) << format << " " << interactive;
        EXPECT_GT(m_engine.imageInfo.UniqueColors, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, GreyJpegTest,
                         ::testing::Values(GreyCase{"grey_jpeg", true, false, 1},
                                           GreyCase{"colour_jpeg", false, false, 3},
                                           GreyCase{"grey_with_transparency_over_red", true, true,
                                                    3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pimo::engine
