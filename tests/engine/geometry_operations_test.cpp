// The engine's geometry commands: the source changes and the loaded-image
// sequence follows.

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

class GeometryOperationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto picture = test::MakeRgb(30, 20, [](unsigned x, unsigned y) {
            return RGBQUAD{BYTE(x), BYTE(y), 0, 0};
        });
        test::WriteFileBytes(m_dir.file("picture.png"),
                             test::EncodeWithLibrary(FIF_PNG, picture.get(), 0));
        m_engine.options.AutomaticPreview = false;
        m_engine.options.LargeImagesResolution = 1;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("picture.png")));
        m_host.captions.clear();
    }
    test::TempDir m_dir;
    test::FakeHost m_host;
    Engine m_engine{m_host};
};

TEST_F(GeometryOperationsTest, RotationReopensWithTheNewSize) {
    m_engine.Rotate(Rotation::Right);
    ASSERT_TRUE(m_engine.SourceBitmap);
    EXPECT_EQ(BitmapSize(m_engine.SourceBitmap.get()), (ImageSize{20, 30}));
    ASSERT_EQ(m_host.captions.size(), 1u);
    EXPECT_EQ(m_host.captions[0], "picture.png - 20x30 px @ 24bit PNG");
    m_engine.Flip(FlipAxis::Vertical);
    EXPECT_EQ(m_host.captions.size(), 2u);
    EXPECT_EQ(m_engine.SourcePath, m_dir.file("picture.png"));
}

TEST_F(GeometryOperationsTest, BatchResampleAnalysesWithoutTouchingTheHost) {
    m_engine.Interactive = false;
    const int calls = m_host.callCount();
    EXPECT_TRUE(m_engine.ResampleImage(50, 0, false, true, true, 1));  // one side: pixels
    EXPECT_EQ(BitmapSize(m_engine.SourceBitmap.get()), (ImageSize{50, 33}));
    EXPECT_EQ(m_host.callCount(), calls);
    EXPECT_GT(m_engine.imageInfo.UniqueColors, 0u);
    // No change asked: nothing happens.
    EXPECT_TRUE(m_engine.ResampleImage(100, 100, false, true, true, 1));
    EXPECT_EQ(BitmapSize(m_engine.SourceBitmap.get()), (ImageSize{50, 33}));
}

TEST_F(GeometryOperationsTest, InteractiveResampleShowsProgressAndReopensAtActualSize) {
    EXPECT_TRUE(m_engine.ResampleImage(15, 10, true, false, true, 0));
    EXPECT_EQ(BitmapSize(m_engine.SourceBitmap.get()), (ImageSize{15, 10}));
    const auto& statuses = m_host.statusTexts;
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Resampling..."), statuses.end());
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Displaying..."), statuses.end());
    EXPECT_EQ(m_host.captions.back(), "picture.png - 15x10 px @ 24bit PNG");
    EXPECT_TRUE(m_host.messages.empty()) << "no large-image question after a resample";
}

}  // namespace
}  // namespace pimo::engine
