#include "util/pimoutil.h"

#include <gtest/gtest.h>

#include "tests/support/test_images.h"

namespace pimo::util {
namespace {

struct SizeCase {
    std::int32_t bytes;
    const char* text;
};

class FormatFileSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FormatFileSizeTest, PicksUnitAtBoundaries) {
    EXPECT_EQ(FormatFileSize(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, FormatFileSizeTest,
                         ::testing::Values(SizeCase{0, "0 bytes"}, SizeCase{1023, "1,023 bytes"},
                                           SizeCase{1024, "1 KiB"}, SizeCase{1536, "1.5 KiB"},
                                           SizeCase{1048575, "1,024 KiB"},  // 1023.999 rounds up
                                           SizeCase{1048576, "1 MiB"},
                                           SizeCase{1234567890, "1,177.38 MiB"},
                                           SizeCase{-1, "-1 bytes"},
                                           SizeCase{-5000, "-5,000 bytes"}));

TEST(FormatNumberTest, GroupsThousandsAndDropsTrailingZeros) {
    EXPECT_EQ(FormatNumber(0), "0");
    EXPECT_EQ(FormatNumber(1234567), "1,234,567");
    EXPECT_EQ(FormatNumber(12.5), "12.5");
    EXPECT_EQ(FormatNumber(12.50001), "12.5");
    EXPECT_EQ(FormatNumber(0.125), "0.13");  // halves away from zero
    EXPECT_EQ(FormatNumber(-0.125), "-0.13");
    EXPECT_EQ(FormatNumber(-0.001), "0");  // no negative zero
    EXPECT_EQ(FormatNumber(999.999), "1,000");
}

TEST(FormatNumberTest, UsesTheUsersSeparators) {
    const NumberSeparators saved = CurrentNumberSeparators();
    SetNumberSeparators({".", ","});
    EXPECT_EQ(FormatNumber(1234.5), "1.234,5");
    EXPECT_EQ(FormatFileSize(1536), "1,5 KiB");
    SetNumberSeparators(saved);
}

TEST(RoundHalfAwayTest, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(RoundHalfAway(0.5), 1);
    EXPECT_EQ(RoundHalfAway(1.49), 1);
    EXPECT_EQ(RoundHalfAway(-0.5), -1);
    EXPECT_EQ(RoundHalfAway(-1.5), -2);
    EXPECT_EQ(RoundHalfAway(-1.49), -1);
    EXPECT_EQ(RoundHalfAway(2.5), 3);
    EXPECT_EQ(RoundHalfAway(0.0), 0);
}

TEST(FileHelpersTest, SizeAndWritability) {
    test::TempDir dir;
    EXPECT_EQ(GetFileSizeOrMinusOne(dir.file("missing.jpg")), -1);
    EXPECT_FALSE(IsFileWritable(dir.file("missing.jpg")));
    test::WriteFileBytes(dir.file("five.bin"), {1, 2, 3, 4, 5});
    EXPECT_EQ(GetFileSizeOrMinusOne(dir.file("five.bin")), 5);
    EXPECT_TRUE(IsFileWritable(dir.file("five.bin")));
}

}  // namespace
}  // namespace pimo::util
