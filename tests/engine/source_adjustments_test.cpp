// Baking the adjustments into the source: the source changes, the settings
// turn neutral, and a result made afterwards equals the one made before.

#include "engine/source_adjustments.h"

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::Bytes;

bool SamePixels(FIBITMAP* a, FIBITMAP* b) {
    if (::FreeImage_GetWidth(a) != ::FreeImage_GetWidth(b) ||
        ::FreeImage_GetHeight(a) != ::FreeImage_GetHeight(b))
        return false;
    for (unsigned y = 0; y < ::FreeImage_GetHeight(a); ++y) {
        for (unsigned x = 0; x < ::FreeImage_GetWidth(a); ++x) {
            const RGBQUAD p = test::PixelAt(a, x, y), q = test::PixelAt(b, x, y);
            if (p.rgbRed != q.rgbRed || p.rgbGreen != q.rgbGreen || p.rgbBlue != q.rgbBlue)
                return false;
        }
    }
    return true;
}

class SourceAdjustmentsTest : public ::testing::Test {
  protected:
    SourceAdjustmentsTest() {
        m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
        m_engine.settings.Format = kFormatPng;
        m_engine.settings.PNGPalettePreset = 0;  // true colour: every pixel counts
        m_engine.Interactive = false;
        const Bitmap source = test::MakePhotoLike(24, 16);
        test::WriteFileBytes(m_dir.file("source.png"),
                             test::EncodeWithLibrary(FIF_PNG, source.get(), 0));
        EXPECT_TRUE(m_engine.LoadImageFile(m_dir.file("source.png")));
    }

    void adjust() {
        m_engine.settings.AdjustBrightness = 20;
        m_engine.settings.AdjustContrast = -15;
        m_engine.settings.AdjustGamma = 150;
        m_engine.settings.AdjustInvert = true;
    }

    Bitmap decodedResult() {
        EXPECT_GT(m_engine.OptimizeImage(""), 0u);
        return test::DecodeWithLibrary(FIF_PNG, imagelib::StreamBytes(m_engine.ResultStream.get()));
    }

    test::TempDir m_dir;
    test::FakeHost m_host;
    Engine m_engine{m_host};
};

TEST_F(SourceAdjustmentsTest, BakesTheFourAdjustmentsAndKeepsTheResult) {
    adjust();
    m_engine.settings.AdjustGrayscale = true;
    const Bitmap before = decodedResult();
    Bitmap expectedSource(::FreeImage_Clone(m_engine.SourceBitmap.get()));
    ASSERT_TRUE(::FreeImage_AdjustColors(expectedSource.get(), 20, -15, 1.5, TRUE));
    ASSERT_FALSE(SamePixels(expectedSource.get(), m_engine.SourceBitmap.get()));

    ASSERT_TRUE(ApplyAdjustmentsToSource(m_engine));

    EXPECT_TRUE(SamePixels(expectedSource.get(), m_engine.SourceBitmap.get()));
    EXPECT_TRUE(m_engine.settings.AdjustmentsNeutral());
    EXPECT_EQ(m_engine.settings.AdjustGamma, 100);
    EXPECT_TRUE(m_engine.settings.AdjustGrayscale) << "greyscale is not baked in";
    // Greyscale still applies to the result, so compare with it on in both.
    EXPECT_TRUE(SamePixels(before.get(), decodedResult().get()));
}

struct RefusalCase {
    const char* name;
    bool adjusted;
    bool unloaded;
    bool busy;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class SourceAdjustmentsRefusalTest : public SourceAdjustmentsTest,
                                     public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SourceAdjustmentsRefusalTest, LeavesSourceAndSettingsAlone) {
    const RefusalCase& c = GetParam();
    if (c.adjusted) adjust();
    m_engine.settings.AdjustGrayscale = true;  // never applied by itself
    if (c.unloaded) m_engine.UnloadImage();
    m_engine.PipelineBusy = c.busy;
    const OptimizationSettings settings = m_engine.settings;
    Bitmap source(m_engine.SourceBitmap ? ::FreeImage_Clone(m_engine.SourceBitmap.get()) : nullptr);

    EXPECT_FALSE(ApplyAdjustmentsToSource(m_engine));

    m_engine.PipelineBusy = false;
    EXPECT_EQ(m_engine.settings.AdjustBrightness, settings.AdjustBrightness);
    EXPECT_EQ(m_engine.settings.AdjustGamma, settings.AdjustGamma);
    EXPECT_EQ(m_engine.settings.AdjustInvert, settings.AdjustInvert);
    if (source) {
        EXPECT_TRUE(SamePixels(source.get(), m_engine.SourceBitmap.get()));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SourceAdjustmentsRefusalTest,
                         ::testing::Values(RefusalCase{"OnlyGrayscale", false, false, false},
                                           RefusalCase{"NoSource", true, true, false},
                                           RefusalCase{"EngineBusy", true, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pimo::engine
