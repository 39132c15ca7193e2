// The library reads through our callback: it never gets more bytes than it
// asked for, and a decoder that loops on reads at the end of data ends.
#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>

#include "engine/imagelib/file_io.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/imagelib/hostile_files.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

struct ReadCase {
    unsigned size, count;
    unsigned expectedItems;
};

// Ten bytes of data; the buffer has guard bytes after what each read asked for.
TEST(ByteReaderTest, WritesWholeItemsWithinWhatWasAskedFor) {
    const std::array<ReadCase, 5> cases = {
        {{1, 4, 4}, {3, 5, 3}, {4, 2, 2}, {11, 1, 0}, {1, 0, 0}}};
    Bytes data(10);
    std::iota(data.begin(), data.end(), std::uint8_t{1});
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " x " + std::to_string(c.count));
        ByteReader reader(data, nullptr);
        FreeImageIO io = ByteReader::Io();
        std::array<std::uint8_t, 64> buffer;
        buffer.fill(0xEE);
        EXPECT_EQ(io.read_proc(buffer.data(), c.size, c.count, &reader), c.expectedItems);
        const std::size_t written = std::size_t{c.expectedItems} * c.size;
        for (std::size_t i = 0; i < written; ++i) EXPECT_EQ(buffer[i], data[i]);
        for (std::size_t i = written; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xEE) << "byte " << i;
        EXPECT_EQ(io.tell_proc(&reader), static_cast<long>(written));
    }
}

TEST(ByteReaderTest, ReadsAtTheEndReturnNothingThenEndTheLoad) {
    const Bytes data = {1, 2};
    ByteReader reader(data, nullptr);
    FreeImageIO io = ByteReader::Io();
    std::uint8_t byte = 0;
    EXPECT_EQ(io.read_proc(&byte, 1, 1, &reader), 1u);
    EXPECT_EQ(io.read_proc(&byte, 1, 1, &reader), 1u);
    for (unsigned i = 0; i < ByteReader::kMaxReadsAtEnd; ++i)
        ASSERT_EQ(io.read_proc(&byte, 1, 1, &reader), 0u);
    EXPECT_THROW(io.read_proc(&byte, 1, 1, &reader), const char*);
    // Moving back is progress: reading works again.
    EXPECT_EQ(io.seek_proc(&reader, 0, SEEK_SET), 0);
    EXPECT_EQ(io.read_proc(&byte, 1, 1, &reader), 1u);
}

TEST(ByteReaderTest, TruncatedXbmEndsWithAMessage) {
    const Bytes xbm = test::TruncatedXbm();
    ASSERT_EQ(FreeImage_GetFileTypeFromMemory(xbm), FIF_XBM);
    std::string messages;
    OutputMessageHandler previous =
        FreeImage_SetOutputMessage([&](int, const std::string& m) { messages += m; });
    const Bitmap bitmap(FreeImage_LoadFromBytes(FIF_XBM, xbm, 0));
    FreeImage_SetOutputMessage(std::move(previous));
    EXPECT_FALSE(bitmap);
    EXPECT_NE(messages.find(ByteReader::kEndOfDataText), std::string::npos) << messages;
}

}  // namespace
}  // namespace pimo::imagelib
