#include "engine/open_filter.h"

#include <gtest/gtest.h>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {
namespace {

TEST(OpenFilterTest, LibraryFilterListsEveryReadableFormatWithItsPatterns) {
    const OpenFilter built = BuildOpenFilter();
    EXPECT_EQ(built.filter.rfind("All known types|*.", 0), 0u) << built.filter;
    ASSERT_GE(built.filter.size(), 2u);
    EXPECT_EQ(built.filter.back(), '|');

    // Each entry after "All known types" is "description (list)|patterns|".
    std::string expectedExtensions = ",";
    std::string expectedTypes;
    for (int index = 0; index < ::FreeImage_GetFIFCount(); ++index) {
        const auto format = static_cast<FREE_IMAGE_FORMAT>(index);
        if (!::FreeImage_FIFSupportsReading(format)) continue;
        const std::string list = ::FreeImage_GetFIFExtensionList(format);
        expectedExtensions += list + ",";
        expectedTypes += std::string(::FreeImage_GetFIFDescription(format)) + " (" + list + ")|";
        std::size_t start = 0;
        for (std::size_t end; (end = list.find(',', start)) != std::string::npos; start = end + 1) {
            expectedTypes += "*." + list.substr(start, end - start) + ";";
        }
        expectedTypes += "*." + list.substr(start) + ";|";
    }
    for (char& c : expectedExtensions)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(built.readableExtensions, expectedExtensions);
    // "All known types|*.a;*.b;...;|" and then the formats.
    const std::size_t types = built.filter.find(";|");
    ASSERT_NE(types, std::string::npos);
    EXPECT_EQ(built.filter.substr(types + 2), expectedTypes);

    for (const char* extension : {",jpg,", ",jpeg,", ",png,", ",gif,", ",bmp,", ",tif,"}) {
        EXPECT_NE(built.readableExtensions.find(extension), std::string::npos) << extension;
    }
}

TEST(OpenFilterTest, KeepFormatModeOffersOnlyTheThreeOutputFormats) {
    const OpenFilter fixed = OpenFilterForMode(OptimizationMode::AutoKeepFormat);
    EXPECT_EQ(fixed.filter,
              "All supported|*.jpeg;*.jpg;*.png;*.gif|JPEG|*.jpg;*.jpeg|GIF|*.gif|PNG|*.png");
    EXPECT_EQ(fixed.readableExtensions, ",jpg,jpeg,gif,png,");
    EXPECT_EQ(ReadableExtensions(OptimizationMode::AutoKeepFormat), ",jpg,jpeg,gif,png,");
    for (int mode : {0, 2, 3})
        EXPECT_EQ(ReadableExtensions(ModeFromNumber(mode)), BuildOpenFilter().readableExtensions);
}

struct ExtensionCase {
    const char* path;
    const char* extension;
    bool readableInKeepFormatMode;
};

class FileExtensionTest : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(FileExtensionTest, ExtensionAndReadability) {
    EXPECT_EQ(FileExtension(GetParam().path), GetParam().extension);
    EXPECT_EQ(HasReadableExtension(GetParam().path, kKeepFormatExtensions),
              GetParam().readableInKeepFormatMode);
}

INSTANTIATE_TEST_SUITE_P(Paths, FileExtensionTest,
                         ::testing::Values(ExtensionCase{"/photos/a.jpg", "jpg", true},
                                           ExtensionCase{"/photos/A.JPEG", "JPEG", true},
                                           ExtensionCase{"/photos/archive.tar.png", "png", true},
                                           ExtensionCase{"/photos/no_extension", "", false},
                                           ExtensionCase{"/photos/ends.", ".", false},
                                           ExtensionCase{"/my.photos/file", "", false},
                                           ExtensionCase{"C:\\my.photos\\file", "", false},
                                           ExtensionCase{"/photos/a.bmp", "bmp", false},
                                           ExtensionCase{"/photos/a.jp", "jp", false},
                                           ExtensionCase{"/photos/a.pngx", "pngx", false}));

}  // namespace
}  // namespace pimo::engine
