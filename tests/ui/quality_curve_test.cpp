// The size-quality curve: the plot's arithmetic on tables, the widget turning
// a click on a marker into a setting, and the sampler on a worker thread.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"
#include "ui/quality_curve_sampler.h"
#include "ui/quality_curve_widget.h"

namespace pimo::ui {
namespace {

using engine::QualityProbe;
using engine::QualityScore;
using engine::SizeSetting;

TEST(QualityCurveMathTest, ScaleToPixels) {
    const struct {
        double value, low, high, pixelLow, pixelHigh, expected;
    } cases[] = {
        {1, 1, 100, 50, 545, 50},       {100, 1, 100, 50, 545, 545},
        {50.5, 1, 100, 50, 545, 297.5},  // the middle of the range
        {0, 0, 1000, 300, 20, 300},      // a y axis: 0 at the bottom
        {1000, 0, 1000, 300, 20, 20},   {250, 0, 1000, 300, 20, 230},
        {1200, 0, 1000, 300, 20, -36},  // beyond the top stays linear
        {5, 5, 5, 10, 30, 20},          // an empty interval: the middle
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(ScaleToPixels(c.value, c.low, c.high, c.pixelLow, c.pixelHigh), c.expected)
            << c.value << " in " << c.low << ".." << c.high;
    }
}

TEST(QualityCurveMathTest, NiceAxisCoversTheLargestValueInFewRoundSteps) {
    const struct {
        double largest;
        int maxSteps;
        AxisScale expected;
    } cases[] = {
        {0, 5, {1, 1}},
        {-3, 5, {1, 1}},
        {7, 5, {8, 2}},
        {10, 5, {10, 2}},
        {23.4, 5, {25, 5}},
        {1.12, 5, {1.25, 0.25}},
        {1000, 4, {1000, 250}},
        {0.003, 5, {0.003, 0.001}},
        {7, 1, {10, 10}},
        {256.5, 5, {300, 100}},
        {49999, 5, {50000, 10000}},
    };
    for (const auto& c : cases) {
        const AxisScale axis = NiceAxis(c.largest, c.maxSteps);
        EXPECT_DOUBLE_EQ(axis.maximum, c.expected.maximum) << c.largest;
        EXPECT_DOUBLE_EQ(axis.step, c.expected.step) << c.largest;
        if (c.largest > 0) {
            EXPECT_GE(axis.maximum, c.largest);
        }
    }
}

TEST(QualityCurveMathTest, SettingTicksAreRoundMultiplesAndUncrowdedEnds) {
    const struct {
        int low, high, maxTicks;
        std::vector<int> expected;
    } cases[] = {
        {1, 100, 10, {1, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
        {1, 100, 5, {1, 20, 40, 60, 80, 100}},
        {2, 256, 6, {2, 50, 100, 150, 200, 250}},  // 256 would crowd 250
        {2, 40, 4, {2, 10, 20, 30, 40}},
        {2, 4, 10, {2, 3, 4}},  // the ends are multiples themselves
        {5, 5, 3, {5}},
        {10, 3, 3, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingTicks(c.low, c.high, c.maxTicks), c.expected)
            << c.low << ".." << c.high << " in " << c.maxTicks;
    }
}

TEST(QualityCurveMathTest, SizeUnitFollowsTheLargestSize) {
    const struct {
        double bytes;
        double unit;
    } cases[] = {{0, 1}, {1023, 1}, {1024, 1024}, {1048575, 1024}, {1048576, 1048576}};
    for (const auto& c : cases) EXPECT_EQ(SizeUnitFor(c.bytes).bytes, c.unit) << c.bytes;
}

TEST(QualityCurveMathTest, PixelsOfAPointOnBothAxes) {
    CurveScales scales;
    scales.plot = {40, 20, 500, 300};
    scales.lowValue = 1;
    scales.highValue = 101;
    scales.bytesMaximum = 1000;
    scales.distanceMaximum = 5;
    const PointPixels low = PixelsOf(scales, 1, 0, 5.0);
    EXPECT_DOUBLE_EQ(low.x, 40);
    EXPECT_DOUBLE_EQ(low.bytesY, 320);
    ASSERT_TRUE(low.distanceY);
    EXPECT_DOUBLE_EQ(*low.distanceY, 20);
    const PointPixels middle = PixelsOf(scales, 51, 250, std::nullopt);
    EXPECT_DOUBLE_EQ(middle.x, 290);
    EXPECT_DOUBLE_EQ(middle.bytesY, 245);
    EXPECT_FALSE(middle.distanceY);
}

TEST(QualityCurveMathTest, HitPointTakesTheNearestMarkerWithinTheRadius) {
    const std::vector<PointPixels> points = {
        {10, 100, 50.0}, {20, 80, std::nullopt}, {30, 60, 40.0}};
    constexpr double kRadius = 9;
    const struct {
        double x, y;
        std::optional<std::size_t> expected;
    } cases[] = {
        {10, 100, 0},
        {11, 52, 0},  // the distance marker counts too
        {20, 80, 1},
        {25, 55, 2},  // 7.1 from (30, 60)
        {30, 40, 2},
        {14, 98, 0},
        {24, 72, 1},             // 8.9 from (20, 80): just within
        {20, 50, std::nullopt},  // point 1 has no distance marker
        {15, 90, std::nullopt},  // 11.2 from both neighbours
    };
    for (const auto& c : cases)
        EXPECT_EQ(HitPoint(points, c.x, c.y, kRadius), c.expected) << c.x << "," << c.y;
    EXPECT_EQ(HitPoint({}, 0, 0, kRadius), std::nullopt);
}

std::vector<QualityProbe> ThreePoints() {
    return {{10, 40000, QualityScore{6.5, 2.0}},
            {40, 90000, QualityScore{1.12, 0.5}},
            {90, 200000, std::nullopt}};
}

TEST(QualityCurveWidgetTest, ClickOnAMarkerRequestsItsValue) {
    QualityCurveWidget widget;
    widget.resize(600, 400);
    widget.setCurve(SizeSetting::JPEGQuality, {1, 100}, ThreePoints());
    widget.setCurrentValue(75);
    widget.show();
    QSignalSpy requested(&widget, &QualityCurveWidget::valueRequested);

    for (const std::size_t index : {0u, 1u, 2u}) {
        const QPointF marker = widget.sizeMarkerAt(index);
        EXPECT_TRUE(widget.rect().contains(marker.toPoint()));
        QTest::mouseClick(&widget, Qt::LeftButton, {}, marker.toPoint() + QPoint(2, -2));
        ASSERT_EQ(requested.count(), 1) << index;
        EXPECT_EQ(requested.takeFirst().at(0).toInt(), ThreePoints()[index].value);
    }
    // The markers grow to the right with the value and up with the size.
    EXPECT_LT(widget.sizeMarkerAt(0).x(), widget.sizeMarkerAt(1).x());
    EXPECT_GT(widget.sizeMarkerAt(0).y(), widget.sizeMarkerAt(2).y());

    // Between the markers, or with the other button, nothing is asked.
    const QPointF between = (widget.sizeMarkerAt(1) + widget.sizeMarkerAt(2)) / 2;
    QTest::mouseClick(&widget, Qt::LeftButton, {}, between.toPoint() + QPoint(0, 30));
    QTest::mouseClick(&widget, Qt::RightButton, {}, widget.sizeMarkerAt(0).toPoint());
    EXPECT_EQ(requested.count(), 0);
}

TEST(QualityCurveWidgetTest, TooltipTextAndMessage) {
    QualityCurveWidget widget;
    widget.setCurve(SizeSetting::PNGMaxColors, {2, 256}, ThreePoints());
    EXPECT_EQ(widget.pointText(1),
              "40 colours\nSize: 87.89 KiB (90,000 bytes)\nDistance: 1.12 (good)");
    EXPECT_EQ(widget.pointText(2),
              "90 colours\nSize: 195.31 KiB (200,000 bytes)\nDistance: not measured");
    widget.setMessage("Nothing to draw.");
    EXPECT_TRUE(widget.points().empty());
    EXPECT_EQ(widget.message(), "Nothing to draw.");
    widget.setCurve(SizeSetting::JPEGQuality, {1, 100}, ThreePoints());
    EXPECT_TRUE(widget.message().isEmpty());
    EXPECT_EQ(widget.pointText(0).section('\n', 0, 0), "Quality 10");
}

// An engine over a photograph-like JPEG file, as the window would hold it.
class QualityCurveSamplerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto photo = test::MakePhotoLike(160, 120, 7);
        test::WriteFileBytes(m_dir.file("photo.jpg"),
                             test::EncodeWithLibrary(FIF_JPEG, photo.get(), 92));
        m_engine.Interactive = false;
        m_engine.settings.Mode = engine::OptimizationMode::Manual;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("photo.jpg")));
        ASSERT_EQ(m_engine.SourceFormat, engine::kFormatJpeg);
        m_engine.settings.Format = engine::kFormatJpeg;
        m_engine.settings.JPEGQuality = 70;
        connect();
    }

    void connect() {
        QObject::connect(&m_sampler, &QualityCurveSampler::curveSampled,
                         [this](const SampledCurve& curve) { m_curves.push_back(curve); });
    }

    // Everything asked for has been sampled (or dropped) and reported.
    void waitUntilIdle() {
        QTRY_VERIFY_WITH_TIMEOUT(!m_sampler.running(), 60000);
        QCoreApplication::processEvents();
    }

    test::TempDir m_dir;
    test::FakeHost m_host;
    engine::Engine m_engine{m_host};
    QualityCurveSampler m_sampler;
    std::vector<SampledCurve> m_curves;
};

TEST_F(QualityCurveSamplerTest, SizesFallAsTheQualityFalls) {
    m_sampler.sample(m_engine, SizeSetting::JPEGQuality, {6, 6});
    // The window's engine is left as it was, and nothing waited for the worker.
    EXPECT_EQ(m_engine.settings.JPEGQuality, 70);
    EXPECT_TRUE(m_sampler.running());
    waitUntilIdle();

    ASSERT_EQ(m_curves.size(), 1u);
    const SampledCurve& curve = m_curves[0];
    EXPECT_EQ(curve.setting, SizeSetting::JPEGQuality);
    EXPECT_EQ(curve.range, (engine::SettingRange{1, 100}));
    ASSERT_EQ(curve.points.size(), 12u);
    EXPECT_EQ(curve.points.front().value, 1);
    EXPECT_EQ(curve.points.back().value, 100);
    for (std::size_t i = 1; i < curve.points.size(); ++i) {
        const QualityProbe &lower = curve.points[i - 1], &higher = curve.points[i];
        EXPECT_LT(lower.value, higher.value);
        EXPECT_LE(lower.bytes, higher.bytes) << lower.value << " against " << higher.value;
        ASSERT_TRUE(lower.score);
    }
    EXPECT_LT(curve.points.front().bytes * 3, curve.points.back().bytes);
    ASSERT_TRUE(curve.points.back().score);
    EXPECT_GT(curve.points.front().score->maxDistance, curve.points.back().score->maxDistance);
    EXPECT_EQ(m_engine.settings.JPEGQuality, 70);
    EXPECT_EQ(m_host.callCount(), 0);
}

TEST_F(QualityCurveSamplerTest, ANewerRequestDropsTheOlderResult) {
    m_sampler.sample(m_engine, SizeSetting::JPEGQuality);
    m_engine.settings.Format = engine::kFormatPng;
    m_engine.settings.PNGPalettePreset = 1;  // "Optimal 256 Colors Palette"
    m_sampler.sample(m_engine, SizeSetting::PNGMaxColors, {4, 0});
    waitUntilIdle();

    ASSERT_EQ(m_curves.size(), 1u);
    EXPECT_EQ(m_curves[0].setting, SizeSetting::PNGMaxColors);
    EXPECT_EQ(m_curves[0].range, (engine::SettingRange{2, 256}));
    ASSERT_EQ(m_curves[0].points.size(), 4u);
    EXPECT_EQ(m_curves[0].points.front().value, 2);
    EXPECT_EQ(m_curves[0].points.back().value, 256);
}

TEST_F(QualityCurveSamplerTest, ClearingDropsTheResultUntilTheNextRequest) {
    m_sampler.sample(m_engine, SizeSetting::JPEGQuality);
    m_sampler.clear();
    waitUntilIdle();
    EXPECT_TRUE(m_curves.empty());

    m_sampler.sample(m_engine, SizeSetting::JPEGQuality, {3, 0});
    waitUntilIdle();
    ASSERT_EQ(m_curves.size(), 1u);
    EXPECT_EQ(m_curves[0].points.size(), 3u);
}

}  // namespace
}  // namespace pimo::ui
