#include "platform/file_times.h"

#include <gtest/gtest.h>

#include "tests/support/test_images.h"

namespace pimo::platform {
namespace {

TEST(FileTimesTest, TimesWrittenAreReadBackToTheNanosecond) {
    test::TempDir dir;
    const std::string path = dir.file("a.bin");
    test::WriteFileBytes(path, {1, 2, 3});
    FileTimes times;
    times.lastAccess = FileTime{1000000000, 123456789};  // 2001-09-09
    times.lastWrite = FileTime{978307200, 500};          // 2001-01-01
    ASSERT_TRUE(WriteFileTimes(path, times));
    const std::optional<FileTimes> read = ReadFileTimes(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->lastAccess, times.lastAccess);
    EXPECT_EQ(read->lastWrite, times.lastWrite);
}

TEST(FileTimesTest, MissingFileHasNoTimesAndTakesNone) {
    test::TempDir dir;
    EXPECT_FALSE(ReadFileTimes(dir.file("missing")));
    EXPECT_FALSE(WriteFileTimes(dir.file("missing"), FileTimes{}));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
}

}  // namespace
}  // namespace pimo::platform
