#include "engine/resample_math.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

namespace pimo::engine {

void PrintTo(const ImageSize& size, std::ostream* out) {
    *out << size.width << "x" << size.height;
}

namespace {

// ---- target size ----

struct TargetCase {
    const char* name;
    ImageSize current;
    ResampleRequest request;
    std::optional<ImageSize> expected;
};

void PrintTo(const TargetCase& c, std::ostream* out) {
    *out << c.name;
}

class ResampleTargetSizeTest : public testing::TestWithParam<TargetCase> {};

TEST_P(ResampleTargetSizeTest, GivesTheExpectedSize) {
    const TargetCase& c = GetParam();
    EXPECT_EQ(ResampleTargetSize(c.current, c.request), c.expected);
}

constexpr bool kPercent = true, kPixels = false, kKeep = true, kFree = false;

INSTANTIATE_TEST_SUITE_P(
    Table, ResampleTargetSizeTest,
    testing::Values(
        // Pixels, keep aspect: the largest size of the source's ratio inside the box.
        TargetCase{
            "BoxSquareKeepsRatio", {800, 600}, {400, 400, kPixels, kKeep}, ImageSize{400, 300}},
        TargetCase{
            "BoxWideFillsHeight", {800, 600}, {400, 100, kPixels, kKeep}, ImageSize{133, 100}},
        TargetCase{
            "PortraitIntoSquareBox", {600, 800}, {400, 400, kPixels, kKeep}, ImageSize{300, 400}},
        TargetCase{"BoxOfSameRatioIsTakenAsIs",
                   {800, 600},
                   {400, 300, kPixels, kKeep},
                   ImageSize{400, 300}},
        TargetCase{"BoxOfSameRatioUpscales",
                   {800, 600},
                   {1600, 1200, kPixels, kKeep},
                   ImageSize{1600, 1200}},
        TargetCase{
            "TallSourceRoundsWidth", {333, 1000}, {100, 100, kPixels, kKeep}, ImageSize{33, 100}},
        TargetCase{"WideSourceRoundsHeight",
                   {1000, 333},
                   {2000, 2000, kPixels, kKeep},
                   ImageSize{2000, 666}},
        TargetCase{"UpscaleIntoBox", {100, 50}, {1000, 1000, kPixels, kKeep}, ImageSize{1000, 500}},
        // Pixels without aspect: exactly the box.
        TargetCase{"BoxWithoutAspect", {800, 600}, {400, 100, kPixels, kFree}, ImageSize{400, 100}},
        // One side only: pixels in either unit, the other side in proportion.
        TargetCase{"WidthOnly", {800, 600}, {1000, 0, kPixels, kFree}, ImageSize{1000, 750}},
        TargetCase{"HeightOnly", {800, 600}, {0, 300, kPixels, kKeep}, ImageSize{400, 300}},
        TargetCase{
            "WidthOnlyInPercentIsPixels", {800, 600}, {50, 0, kPercent, kKeep}, ImageSize{50, 38}},
        TargetCase{
            "HeightOnlyInPercentIsPixels", {800, 600}, {0, 50, kPercent, kFree}, ImageSize{67, 50}},
        TargetCase{"TinySideBecomesOnePixel", {1000, 10}, {5, 0, kPixels, kFree}, ImageSize{5, 1}},
        // Percent: keep aspect makes the height follow the width.
        TargetCase{"PercentKeepAspectUsesWidth",
                   {800, 600},
                   {50, 70, kPercent, kKeep},
                   ImageSize{400, 300}},
        TargetCase{
            "PercentEachSideOwn", {800, 600}, {50, 70, kPercent, kFree}, ImageSize{400, 420}},
        TargetCase{
            "PercentHalvesRoundAway", {801, 601}, {50, 50, kPercent, kKeep}, ImageSize{401, 301}},
        TargetCase{"PercentUpscale", {10, 10}, {250, 250, kPercent, kFree}, ImageSize{25, 25}},
        TargetCase{
            "PercentTinyBecomesOnePixel", {10, 10}, {1, 1, kPercent, kFree}, ImageSize{1, 1}},
        // Requests that ask for nothing.
        TargetCase{
            "PercentHundredIsNoChange", {800, 600}, {100, 100, kPercent, kKeep}, std::nullopt},
        TargetCase{"CurrentSizeIsNoChange", {800, 600}, {800, 600, kPixels, kKeep}, std::nullopt},
        TargetCase{
            "CurrentSizeNoAspectIsNoChange", {800, 600}, {800, 600, kPixels, kFree}, std::nullopt},
        TargetCase{"BothZeroIsNoRequest", {800, 600}, {0, 0, kPixels, kKeep}, std::nullopt},
        TargetCase{"BothZeroPercentIsNoRequest", {800, 600}, {0, 0, kPercent, kKeep}, std::nullopt},
        TargetCase{
            "NegativeSideIsNoRequest", {800, 600}, {-400, 300, kPixels, kFree}, std::nullopt},
        TargetCase{"NoSourceIsNoRequest", {0, 0}, {400, 300, kPixels, kFree}, std::nullopt},
        TargetCase{"TargetBeyondIntIsNoRequest",
                   {800, 600},
                   {2000000000, 2000000000, kPercent, kFree},
                   std::nullopt},
        TargetCase{"OneSideBeyondIntIsNoRequest",
                   {60000, 1},
                   {0, 2000000000, kPixels, kFree},
                   std::nullopt}),
    [](const testing::TestParamInfo<TargetCase>& info) { return std::string(info.param.name); });

TEST(RoundHalfAwayWideTest, RoundsHalvesAwayFromZeroAndSaturates) {
    EXPECT_EQ(RoundHalfAwayWide(400.5), 401);
    EXPECT_EQ(RoundHalfAwayWide(400.49), 400);
    EXPECT_EQ(RoundHalfAwayWide(-2.5), -3);
    EXPECT_EQ(RoundHalfAwayWide(1e30), 9000000000000000000LL);
    EXPECT_EQ(RoundHalfAwayWide(-1e30), -9000000000000000000LL);
}

// ---- the dialog ----

struct EditValueCase {
    const char* text;
    int expected;
};

class SizeEditValueTest : public testing::TestWithParam<EditValueCase> {};

TEST_P(SizeEditValueTest, ReadsDigitsOnly) {
    EXPECT_EQ(SizeEditValue(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, SizeEditValueTest,
    testing::Values(EditValueCase{"", 0}, EditValueCase{"0", 0}, EditValueCase{"640", 640},
                    EditValueCase{"007", 7}, EditValueCase{"12a", 0}, EditValueCase{"-5", 0},
                    EditValueCase{" 5", 0}, EditValueCase{"2147483647", 2147483647},
                    EditValueCase{"2147483648", 0}, EditValueCase{"99999999999999999999", 0}));

TEST(ResampleDialogTest, OriginalSizeLine) {
    EXPECT_EQ(OriginalSizeText({800, 600}), "Original size: 800 x 600");
}

TEST(ResampleDialogTest, UnitSwitchFillsBothEdits) {
    EXPECT_EQ(SizeEditTextsForUnit(kResampleUnitPercent, {800, 600}),
              (SizeEditTexts{"100", "100"}));
    EXPECT_EQ(SizeEditTextsForUnit(kResampleUnitPixels, {800, 600}), (SizeEditTexts{"800", "600"}));
}

struct MirrorCase {
    const char* name;
    SizeEditChange change;
    std::optional<std::string> expected;
};

void PrintTo(const MirrorCase& c, std::ostream* out) {
    *out << c.name;
}

class MirroredSizeTextTest : public testing::TestWithParam<MirrorCase> {};

TEST_P(MirroredSizeTextTest, OtherEditFollows) {
    EXPECT_EQ(MirroredSizeText(GetParam().change, {800, 600}), GetParam().expected);
}

constexpr bool kWidth = true, kHeight = false, kTyped = true, kProgrammatic = false;

INSTANTIATE_TEST_SUITE_P(
    Table, MirroredSizeTextTest,
    testing::Values(
        MirrorCase{"WidthGivesHeight", {"400", kWidth, kTyped, kKeep, kResampleUnitPixels}, "300"},
        MirrorCase{"HeightGivesWidth", {"300", kHeight, kTyped, kKeep, kResampleUnitPixels}, "400"},
        MirrorCase{"RoundsToNearest", {"401", kWidth, kTyped, kKeep, kResampleUnitPixels}, "301"},
        MirrorCase{"HalfRoundsAway", {"2", kWidth, kTyped, kKeep, kResampleUnitPixels}, "2"},
        MirrorCase{
            "NonNumericCountsAsZero", {"4x", kWidth, kTyped, kKeep, kResampleUnitPixels}, "0"},
        MirrorCase{"EmptyCountsAsZero", {"", kHeight, kTyped, kKeep, kResampleUnitPixels}, "0"},
        MirrorCase{"PercentCopiesText", {"37", kWidth, kTyped, kKeep, kResampleUnitPercent}, "37"},
        MirrorCase{"PercentCopiesHeightText",
                   {"250", kHeight, kTyped, kKeep, kResampleUnitPercent},
                   "250"},
        MirrorCase{"AspectOffLeavesOther",
                   {"400", kWidth, kTyped, kFree, kResampleUnitPixels},
                   std::nullopt},
        MirrorCase{"ProgrammaticChangeDoesNotEcho",
                   {"300", kHeight, kProgrammatic, kKeep, kResampleUnitPixels},
                   std::nullopt}),
    [](const testing::TestParamInfo<MirrorCase>& info) { return std::string(info.param.name); });

TEST(ResampleDialogTest, MirroringOnAnEmptyOriginalGivesZero) {
    EXPECT_EQ(MirroredSizeText({"400", kWidth, kTyped, kKeep, kResampleUnitPixels}, {0, 0}), "0");
}

TEST(ResampleDialogTest, OkPassesKeepAspectOnlyWhenAnEditIsEmpty) {
    const ResampleRequest both = DialogResampleRequest("400", "300", kResampleUnitPixels, true);
    EXPECT_EQ(both.width, 400);
    EXPECT_EQ(both.height, 300);
    EXPECT_FALSE(both.percent);
    EXPECT_FALSE(both.keepAspect);

    const ResampleRequest widthOnly = DialogResampleRequest("400", "", kResampleUnitPercent, true);
    EXPECT_EQ(widthOnly.width, 400);
    EXPECT_EQ(widthOnly.height, 0);
    EXPECT_TRUE(widthOnly.percent);
    EXPECT_TRUE(widthOnly.keepAspect);

    EXPECT_FALSE(DialogResampleRequest("", "300", kResampleUnitPixels, false).keepAspect);
    // "0" is filled, not empty.
    EXPECT_FALSE(DialogResampleRequest("0", "300", kResampleUnitPixels, true).keepAspect);
    EXPECT_EQ(DialogResampleRequest("abc", "300", kResampleUnitPixels, true).width, 0);
}

TEST(ResampleDialogTest, TypedWidthWithMirroredHeightKeepsTheRatio) {
    const ImageSize original{1024, 768};
    const std::optional<std::string> height =
        MirroredSizeText({"640", kWidth, kTyped, kKeep, kResampleUnitPixels}, original);
    ASSERT_TRUE(height);
    const ResampleRequest request =
        DialogResampleRequest("640", *height, kResampleUnitPixels, true);
    EXPECT_EQ(ResampleTargetSize(original, request), (ImageSize{640, 480}));
}

}  // namespace
}  // namespace pimo::engine
