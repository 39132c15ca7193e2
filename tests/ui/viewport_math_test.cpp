// The view's arithmetic without widgets: zoom text, centring, fitting, zoom
// steps that keep the middle still, and panning within its limits.

#include "ui/viewport_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pimo::ui {
namespace {

constexpr ViewSize kClient{600, 400};

// The image coordinate (as a fraction of the view) under the middle of the
// client area.
double MiddleFractionX(const ViewportState& state, ViewSize client) {
    return (client.width / 2.0 - state.position.x) / state.view.width;
}
double MiddleFractionY(const ViewportState& state, ViewSize client) {
    return (client.height / 2.0 - state.position.y) / state.view.height;
}

struct PercentCase {
    int sourceWidth;
    int viewWidth;
    int percent;
};

class ZoomPercentTest : public ::testing::TestWithParam<PercentCase> {};

TEST_P(ZoomPercentTest, ShowsOneHundredOnlyAtOneToOne) {
    const PercentCase c = GetParam();
    EXPECT_EQ(ZoomPercent(c.sourceWidth, c.viewWidth), c.percent)
        << c.viewWidth << " of " << c.sourceWidth;
}

INSTANTIATE_TEST_SUITE_P(Table, ZoomPercentTest,
                         ::testing::Values(PercentCase{1000, 1000, 100}, PercentCase{1000, 999, 99},
                                           PercentCase{1000, 1003, 101},
                                           PercentCase{1000, 995, 99},  // 99.5 rounds to 100
                                           PercentCase{1000, 994, 99}, PercentCase{1000, 1006, 101},
                                           PercentCase{1000, 1200, 120}, PercentCase{3, 1, 33},
                                           PercentCase{4000, 533, 13}, PercentCase{0, 500, 0}));

TEST(ZoomText, NamesThePercent) {
    EXPECT_EQ(ZoomText(123), "Zoom 123%");
    EXPECT_EQ(ZoomText(100), "Zoom 100%");
}

TEST(ClampedZoomFactor, KeepsTheFactorAStepInward) {
    EXPECT_FLOAT_EQ(ClampedZoomFactor(1.2f), 1.2f);
    EXPECT_FLOAT_EQ(ClampedZoomFactor(0.5f), 1.01f);
    EXPECT_FLOAT_EQ(ClampedZoomFactor(-3.0f), 1.01f);
    EXPECT_FLOAT_EQ(ClampedZoomFactor(7.0f), 2.0f);
    EXPECT_FLOAT_EQ(ClampedZoomFactor(std::numeric_limits<float>::quiet_NaN()), 1.01f);
}

TEST(CenteredPosition, TruncatesAndGoesNegativeForLargeViews) {
    EXPECT_EQ(CenteredPosition(kClient, {300, 200}), (ViewPoint{150, 100}));
    EXPECT_EQ(CenteredPosition(kClient, {301, 201}), (ViewPoint{149, 99}));
    EXPECT_EQ(CenteredPosition(kClient, {1201, 961}), (ViewPoint{-300, -280}));
}

struct FitCase {
    ViewSize image;
    bool fitOnlyBig;
    ViewportState expected;
};

class FitStateTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitStateTest, FitsTheClientArea) {
    const FitCase c = GetParam();
    EXPECT_EQ(FitState(kClient, c.image, c.fitOnlyBig), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FitStateTest,
    ::testing::Values(
        // A small image stays at actual size only with fit-only-big on.
        FitCase{{300, 200}, true, {{300, 200}, {150, 100}, ViewMode::Actual}},
        FitCase{{300, 200}, false, {{600, 400}, {0, 0}, ViewMode::Stretched}},
        // One side as large as the client area is fitted (the same size).
        FitCase{{600, 100}, true, {{600, 100}, {0, 150}, ViewMode::Stretched}},
        // Taller than the client's ratio: the height fills it.
        FitCase{{4000, 3000}, true, {{533, 400}, {33, 0}, ViewMode::Stretched}},
        // Wider: the width fills it.
        FitCase{{3000, 1000}, true, {{600, 200}, {0, 100}, ViewMode::Stretched}},
        FitCase{{1, 5000}, true, {{1, 400}, {299, 0}, ViewMode::Stretched}},
        FitCase{{0, 0}, true, {{0, 0}, {300, 200}, ViewMode::Actual}}));

TEST(ZoomedState, StepsInAndBackOut) {
    const ViewportState start = ActualSizeState(kClient, {1000, 800});
    for (const float factor : {1.2f, 1.5f, 2.0f}) {
        const ViewportState in = ZoomedState(start, kClient, factor, ZoomStep::In);
        EXPECT_EQ(in.mode, ViewMode::Stretched);
        const ViewportState out = ZoomedState(in, kClient, factor, ZoomStep::Out);
        EXPECT_EQ(out.view, start.view) << factor;
        EXPECT_EQ(out.position, start.position) << factor;
    }
    const ViewportState in = ZoomedState(start, kClient, 1.2f, ZoomStep::In);
    EXPECT_EQ(in.view, (ViewSize{1200, 960}));
}

TEST(ZoomedState, KeepsThePointInTheMiddleStill) {
    // The image is panned so that a point right of and below its centre
    // sits in the middle of the client area.
    const ViewportState start{{1200, 960}, {-700, -400}, ViewMode::Stretched};
    const double fx = MiddleFractionX(start, kClient);
    const double fy = MiddleFractionY(start, kClient);
    ASSERT_GT(fx, 0.5);
    ASSERT_GT(fy, 0.5);
    ViewportState state = start;
    for (const ZoomStep step : {ZoomStep::In, ZoomStep::In, ZoomStep::In, ZoomStep::Out}) {
        state = ZoomedState(state, kClient, 1.2f, step);
        // Within one drawn pixel of where it was.
        EXPECT_NEAR(MiddleFractionX(state, kClient), fx, 1.0 / state.view.width);
        EXPECT_NEAR(MiddleFractionY(state, kClient), fy, 1.0 / state.view.height);
    }
}

TEST(ZoomedState, CentresAnAxisThatFits) {
    // Wide and low: after zooming out the height fits and is centred while
    // the width keeps its middle point.
    const ViewportState start{{3000, 480}, {-1800, -40}, ViewMode::Stretched};
    const ViewportState out = ZoomedState(start, kClient, 1.2f, ZoomStep::Out);
    EXPECT_EQ(out.view, (ViewSize{2500, 400}));
    EXPECT_EQ(out.position.y, 0);
    EXPECT_NEAR(MiddleFractionX(out, kClient), MiddleFractionX(start, kClient), 1.0 / 2500);
}

struct LimitCase {
    ViewSize view;
    ZoomStep step;
    bool changes;
};

class ZoomLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ZoomLimitTest, StopsAtTheLimits) {
    const LimitCase c = GetParam();
    const ViewportState start{c.view, CenteredPosition(kClient, c.view), ViewMode::Stretched};
    const ViewportState after = ZoomedState(start, kClient, 1.2f, c.step);
    EXPECT_EQ(after != start, c.changes) << c.view.width << "x" << c.view.height;
}

INSTANTIATE_TEST_SUITE_P(Table, ZoomLimitTest,
                         ::testing::Values(LimitCase{{20001, 20001}, ZoomStep::In, false},
                                           LimitCase{{20001, 100}, ZoomStep::In, true},
                                           LimitCase{{20000, 20000}, ZoomStep::In, true},
                                           LimitCase{{9, 9}, ZoomStep::Out, false},
                                           LimitCase{{9, 100}, ZoomStep::Out, true},
                                           LimitCase{{10, 10}, ZoomStep::Out, true},
                                           // A thin panorama stops before its width overflows.
                                           LimitCase{{16000000, 2}, ZoomStep::In, false},
                                           LimitCase{{1, 1}, ZoomStep::In, true}));

TEST(ZoomedState, ATinyViewStillZooms) {
    ViewportState state = ActualSizeState(kClient, {2, 1});
    state = ZoomedState(state, kClient, 1.2f, ZoomStep::In);
    EXPECT_EQ(state.view, (ViewSize{3, 2}));
    state = ActualSizeState(kClient, {40, 40});
    EXPECT_EQ(ZoomedState(state, kClient, 1.01f, ZoomStep::In).view, (ViewSize{41, 41}));
    EXPECT_EQ(ZoomedState(state, kClient, 1.01f, ZoomStep::Out).view, (ViewSize{39, 39}));
}

TEST(ZoomedState, NeverShrinksASideToNothing) {
    ViewportState state{{12, 1}, {294, 199}, ViewMode::Stretched};
    for (int i = 0; i < 5; ++i) state = ZoomedState(state, kClient, 2.0f, ZoomStep::Out);
    EXPECT_GE(state.view.width, 1);
    EXPECT_EQ(state.view.height, 1);
}

TEST(PannedState, AViewThatFitsDoesNotPan) {
    const ViewportState fitting = ActualSizeState(kClient, {300, 200});
    for (const auto& [dx, dy] : {std::pair{50, 0}, {0, -50}, {-400, 400}})
        EXPECT_EQ(PannedState(fitting, kClient, dx, dy), fitting);
}

struct PanCase {
    int dx;
    int dy;
    ViewPoint expected;
};

class PanLimitTest : public ::testing::TestWithParam<PanCase> {};

TEST_P(PanLimitTest, KeepsPartOfTheImageAcrossTheMiddle) {
    // 1200 x 960 in 600 x 400, centred at (-300, -280).
    const ViewportState start{{1200, 960}, {-300, -280}, ViewMode::Stretched};
    const PanCase c = GetParam();
    const ViewportState panned = PannedState(start, kClient, c.dx, c.dy);
    EXPECT_EQ(panned.position, c.expected);
    EXPECT_EQ(panned.view, start.view);
}

INSTANTIATE_TEST_SUITE_P(Table, PanLimitTest,
                         ::testing::Values(PanCase{25, -30, {-275, -310}},
                                           // the left edge stops just left of the middle
                                           PanCase{5000, 0, {299, -280}},
                                           // the right edge stops just right of it
                                           PanCase{-5000, 0, {-899, -280}},
                                           PanCase{0, 5000, {-300, 199}},
                                           PanCase{0, -5000, {-300, -759}}));

TEST(PannedState, AnAxisThatFitsStaysCentred) {
    const ViewportState wide{{1200, 300}, {-300, 50}, ViewMode::Stretched};
    const ViewportState panned = PannedState(wide, kClient, 40, 70);
    EXPECT_EQ(panned.position, (ViewPoint{-260, 50}));
}

TEST(ResizedState, RefitsAFittedViewAndCentresAnyOther) {
    const ViewSize image{4000, 3000};
    const ViewportState fitted = FitState(kClient, image, true);
    const ViewSize larger{800, 600};
    EXPECT_EQ(ResizedState(fitted, larger, image, true, true), FitState(larger, image, true));
    const ViewportState zoomed{{1200, 900}, {-500, -100}, ViewMode::Stretched};
    const ViewportState resized = ResizedState(zoomed, larger, image, false, true);
    EXPECT_EQ(resized.view, zoomed.view);
    EXPECT_EQ(resized.position, CenteredPosition(larger, zoomed.view));
}

struct ReductionCase {
    ViewSize image;
    ViewSize view;
    int reduction;
};

class DisplayReductionTest : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(DisplayReductionTest, TheSmallestDecodeThatStillCoversTheView) {
    const ReductionCase& c = GetParam();
    EXPECT_EQ(DisplayReduction(c.image, c.view), c.reduction);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisplayReductionTest,
    ::testing::Values(
        // A 12-megapixel photo fitted in a pane of 600 x 450: a quarter
        // (1000 x 750) covers it, an eighth (500 x 375) would not.
        ReductionCase{{4000, 3000}, {600, 450}, 4},
        // Fitted in a small pane, an eighth is enough.
        ReductionCase{{4000, 3000}, {500, 375}, 8}, ReductionCase{{4000, 3000}, {501, 375}, 4},
        // Zoomed to just below half, and to just above.
        ReductionCase{{4000, 3000}, {2000, 1500}, 2}, ReductionCase{{4000, 3000}, {2001, 1501}, 1},
        // Actual size, and any zoom above it: every pixel.
        ReductionCase{{4000, 3000}, {4000, 3000}, 1}, ReductionCase{{4000, 3000}, {4800, 3600}, 1},
        // Sides are rounded up as the decoder scales them: 4001 / 4 gives
        // 1001 pixels, which cover a view 1001 wide.
        ReductionCase{{4001, 3001}, {1001, 751}, 4}, ReductionCase{{4001, 3001}, {1002, 751}, 2},
        // The tighter axis decides: a panorama fitted by its width.
        ReductionCase{{8000, 1000}, {1000, 125}, 8}, ReductionCase{{8000, 1000}, {1000, 126}, 4},
        // Never more than an eighth, however small the view.
        ReductionCase{{4000, 3000}, {40, 30}, 8},
        // No image or no view yet: nothing is reduced.
        ReductionCase{{0, 0}, {600, 450}, 1}, ReductionCase{{4000, 3000}, {0, 0}, 1}));

}  // namespace
}  // namespace pimo::ui
