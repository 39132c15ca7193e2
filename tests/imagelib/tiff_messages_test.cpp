// libtiff's warnings and errors reach the output-message path, never
// standard error; harmless ones are dropped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/imagelib/codec_warnings.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/imagelib/codec_fixtures.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

struct Message {
    int format;
    std::string text;
};

// Collects the messages of the calling thread while it lives.
class CollectedMessages {
  public:
    CollectedMessages()
        : m_previous(FreeImage_SetOutputMessage([this](int format, const std::string& text) {
              m_messages.push_back({format, text});
          })) {}
    ~CollectedMessages() { FreeImage_SetOutputMessage(m_previous); }
    const std::vector<Message>& messages() const { return m_messages; }

  private:
    std::vector<Message> m_messages;
    OutputMessageHandler m_previous;
};

TEST(TiffMessagesTest, UnknownTagsAreSilent) {
    const Bytes tiff = test::BuildRgbTiff(3, 2, true);
    CollectedMessages collected;
    ::testing::internal::CaptureStderr();
    const Bitmap bitmap(FreeImage_LoadFromBytes(FIF_TIFF, tiff, 0));
    const std::string printed = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(::FreeImage_GetWidth(bitmap.get()), 3u);
    EXPECT_EQ(printed, "");
    EXPECT_TRUE(collected.messages().empty()) << collected.messages().front().text;
}

TEST(TiffMessagesTest, ErrorsGoToTheOutputMessagePath) {
    Bytes tiff = test::BuildRgbTiff(3, 2, false);
    tiff.resize(tiff.size() - 40);  // the directory is cut short
    CollectedMessages collected;
    ::testing::internal::CaptureStderr();
    const Bitmap bitmap(FreeImage_LoadFromBytes(FIF_TIFF, tiff, 0));
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(bitmap);
    EXPECT_EQ(printed, "");
    bool fromLibtiff = false;
    for (const Message& m : collected.messages()) {
        EXPECT_EQ(m.format, FIF_TIFF);
        fromLibtiff |= m.text.rfind("TIFF", 0) == 0 && m.text.find(": ") != std::string::npos;
    }
    EXPECT_TRUE(fromLibtiff) << "no libtiff message among " << collected.messages().size();
}

TEST(TiffMessagesTest, HarmlessMessages) {
    struct Row {
        const char* module;
        const char* text;
        bool harmless;
    };
    const Row rows[] = {
        {"TIFFReadDirectory", "Unknown field with tag 65000 (0xfde8) encountered", true},
        {"TIFFFieldWithTag", "Internal error, unknown tag 0x829a", true},
        {"TIFFReadDirectory", "Invalid TIFF directory; tags are not sorted in ascending order",
         true},
        {"TIFFFetchNormalTag", "ASCII value for tag \"Software\" does not end in null byte", true},
        {"TIFFReadDirectoryCheckOrder", "Incorrect count for \"XResolution\"; tag ignored", true},
        {"TIFFFetchDirectory", "Can not read TIFF directory count", false},
        {"TIFFReadDirectory", "Failed to read directory at offset 32", false},
        {"LZWDecode", "Corrupted LZW table at scanline 0", false},
        {"", "Sorry, requested compression method is not configured", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(IsHarmlessTiffMessage(row.module, row.text), row.harmless)
            << row.module << ": " << row.text;
    }
}

}  // namespace
}  // namespace pimo::imagelib
