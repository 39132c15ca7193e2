// Reading whole files for the decoders.
#include "engine/imagelib/file_io.h"

#include <gtest/gtest.h>

#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bytes;

TEST(ReadWholeFileTest, GivesEveryByteWhateverTheSize) {
    const test::TempDir dir;
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{65536}, std::size_t{300001}}) {
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        const auto path = dir.file("data-" + std::to_string(size) + ".bin");
        test::WriteFileBytes(path, bytes);
        const auto read = ReadWholeFile(path);
        ASSERT_TRUE(read.has_value()) << size;
        EXPECT_EQ(*read, bytes) << size;
    }
}

TEST(ReadWholeFileTest, MissingFilesAndFoldersGiveNothing) {
    const test::TempDir dir;
    EXPECT_FALSE(ReadWholeFile(dir.file("missing.jpg")).has_value());
    EXPECT_FALSE(ReadWholeFile(dir.path().string()).has_value());
}

}  // namespace
}  // namespace pimo::imagelib
