#pragma once
// The size-quality curve of one image, drawn: file size (left axis) and
// distance from the source (right axis) against the quality setting, the
// sampled points marked, the current setting as a vertical line. Hovering a
// point tells its exact values; clicking one asks for that setting.
//
// The arithmetic of the plot (value to pixel, axis steps, which point a click
// hits) is free functions over plain numbers, so it is tested without widgets.

#include <QPainter>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <optional>
#include <vector>

#include "engine/compress_to_size.h"
#include "engine/target_quality.h"

namespace pimo::ui {

// ---- the plot's arithmetic ----

/// A rectangle in pixels, y growing downward.
struct PlotRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    double right() const { return left + width; }
    double bottom() const { return top + height; }
};

/// Where `value` of the interval [low, high] falls on [pixelLow, pixelHigh]
/// (either may be the larger: a y axis runs from the bottom up). An empty
/// interval puts every value in the middle.
double ScaleToPixels(double value, double low, double high, double pixelLow, double pixelHigh);

/// An axis from 0: `step` between ticks and `maximum`, a whole number of steps.
struct AxisScale {
    double maximum = 1;
    double step = 1;
    bool operator==(const AxisScale&) const = default;
};

/// The axis from 0 that covers `largest` with at most `maxSteps` steps of 1,
/// 2, 2.5 or 5 times a power of ten, its maximum the first step at or above
/// `largest`. Nothing to cover (0 or less) gives the axis 0..1.
AxisScale NiceAxis(double largest, int maxSteps);

/// Tick values for the setting axis [low, high], ascending: the multiples of
/// a step of 1, 2 or 5 times a power of ten (at most `maxTicks` of them) that
/// lie inside, plus each end that lies at least half a step from them.
std::vector<int> SettingTicks(int low, int high, int maxTicks);

/// The unit the size axis counts in: bytes below 1 KiB, KiB below 1 MiB,
/// otherwise MiB.
struct SizeUnit {
    double bytes = 1;  // bytes per unit
    const char* name = "bytes";
};
SizeUnit SizeUnitFor(double largestBytes);

/// The scales of one drawn curve.
struct CurveScales {
    PlotRect plot;
    double lowValue = 0;  // the setting range, left to right
    double highValue = 1;
    double bytesMaximum = 1;     // the top of the left axis, in bytes
    double distanceMaximum = 1;  // the top of the right axis
};

/// One sampled point in pixels: its x and the y of each of its markers.
struct PointPixels {
    double x = 0;
    double bytesY = 0;
    std::optional<double> distanceY;  // none when the point has no distance
};

PointPixels PixelsOf(const CurveScales& scales, double value, double bytes,
                     std::optional<double> distance);

/// The point with a marker (of either series) nearest to (x, y), when that
/// marker lies within `radius` pixels; none otherwise.
std::optional<std::size_t> HitPoint(const std::vector<PointPixels>& points, double x, double y,
                                    double radius);

// ---- the widget ----

class QualityCurveWidget : public QWidget {
    Q_OBJECT
  public:
    explicit QualityCurveWidget(QWidget* parent = nullptr);

    /// Draws `points` (sorted by value) over `range` of `setting`.
    void setCurve(engine::SizeSetting setting, engine::SettingRange range,
                  std::vector<engine::QualityProbe> points);
    /// The setting's current value: where the vertical line stands.
    void setCurrentValue(int value);
    /// A sentence instead of a plot (no image, no setting to vary, measuring).
    void setMessage(const QString& message);

    const std::vector<engine::QualityProbe>& points() const { return m_points; }
    int currentValue() const { return m_current; }
    /// The sentence shown instead of the plot; empty while a plot is shown.
    const QString& message() const { return m_message; }
    /// Where the size marker of point `index` is drawn, in widget pixels.
    QPointF sizeMarkerAt(std::size_t index) const;
    /// The exact values of point `index`, as the hover tooltip shows them.
    QString pointText(std::size_t index) const;

    QSize sizeHint() const override { return {640, 400}; }
    QSize minimumSizeHint() const override { return {360, 240}; }

  signals:
    /// The user clicked the point of `value`.
    void valueRequested(int value);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    CurveScales scales() const;
    void drawAxes(QPainter& painter, const CurveScales& scales) const;
    void drawCurrentSetting(QPainter& painter, const CurveScales& scales) const;
    void drawSeries(QPainter& painter, const CurveScales& scales) const;
    void drawLegend(QPainter& painter, double left) const;
    std::vector<PointPixels> pointPixels(const CurveScales& scales) const;
    std::optional<std::size_t> pointUnder(QPointF position) const;
    double largestDistance() const;
    double largestBytes() const;

    engine::SizeSetting m_setting = engine::SizeSetting::JPEGQuality;
    engine::SettingRange m_range{1, 100};
    std::vector<engine::QualityProbe> m_points;
    int m_current = 0;
    QString m_message;
    std::optional<std::size_t> m_hovered;
};

/// The setting axis's title: "JPEG quality (1–100)", "PNG palette size
/// (colours)" or "GIF palette size (colours)".
QString SettingAxisTitle(engine::SizeSetting setting);

}  // namespace pimo::ui
