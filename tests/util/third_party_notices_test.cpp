// The compiled-in licence notice is the file in the tree and names every
// library the program links.

#include "util/third_party_notices.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace pimo {
namespace {

TEST(ThirdPartyNoticesTest, IsTheFileAndNamesEveryLinkedLibrary) {
    std::ifstream file(PIMO_NOTICES_FILE, std::ios::binary);
    ASSERT_TRUE(file) << PIMO_NOTICES_FILE;
    std::ostringstream text;
    text << file.rdbuf();
    EXPECT_EQ(ThirdPartyNotices(), text.str());
    for (const char* library : {"FreeImage", "Qt 6", "zopfli", "libpng", "zlib", "libjpeg-turbo",
                                "LibTIFF", "libcurl", "GNU General Public License, version 3"})
        EXPECT_NE(ThirdPartyNotices().find(library), std::string_view::npos) << library;
}

}  // namespace
}  // namespace pimo
