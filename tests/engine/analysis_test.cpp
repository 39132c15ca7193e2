#include <gtest/gtest.h>

#include "engine/image_info.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::MakeRgb;
using test::MakeRgba;

ImageInfo Analysed(FIBITMAP* bitmap) {
    EXPECT_TRUE(AnalyseImage(bitmap));
    return ReadImageInfo(bitmap);
}

TEST(AnalyseImageTest, SingleColourOpaque) {
    auto bitmap = MakeRgb(8, 8, [](unsigned, unsigned) { return RGBQUAD{10, 20, 30, 0}; });
    const ImageInfo info = Analysed(bitmap.get());
    EXPECT_EQ(info.UniqueColors, 1u);
    EXPECT_FALSE(info.Greyscale);
    EXPECT_FALSE(info.HasTransparency);
    EXPECT_EQ(info.PaletteEntries, 1);
    EXPECT_EQ(info.Palette[0].blue, 10);
    EXPECT_EQ(info.Palette[0].red, 30);
    EXPECT_EQ(info.Palette[0].alpha, 255);
}

}  // namespace
}  // namespace pimo::engine
