#include "ui/quality_curve_widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/quality_score.h"
#include "ui/message_box.h"
#include "util/pimoutil.h"

namespace pimo::ui {

// ---- the plot's arithmetic ----

double ScaleToPixels(double value, double low, double high, double pixelLow, double pixelHigh) {
    if (high <= low) return (pixelLow + pixelHigh) / 2;
    return pixelLow + (value - low) / (high - low) * (pixelHigh - pixelLow);
}

AxisScale NiceAxis(double largest, int maxSteps) {
    if (!(largest > 0)) return {};
    maxSteps = std::max(maxSteps, 1);
    // Start one decade below the smallest step that could do, and walk up
    // through 1, 2, 2.5 and 5 of each decade.
    double decade = std::pow(10.0, std::floor(std::log10(largest / maxSteps)) - 1);
    for (;;) {
        for (const double mantissa : {1.0, 2.0, 2.5, 5.0}) {
            const double step = mantissa * decade;
            // The tolerance keeps a largest value of exactly n steps at n.
            const double steps = std::max(1.0, std::ceil(largest / step - 1e-9));
            if (steps <= maxSteps) return {steps * step, step};
        }
        decade *= 10;
    }
}

std::vector<int> SettingTicks(int low, int high, int maxTicks) {
    if (high < low) return {};
    if (high == low) return {low};
    maxTicks = std::max(maxTicks, 1);
    int step = 1;
    for (int decade = 1;; decade *= 10) {
        bool found = false;
        for (const int mantissa : {1, 2, 5}) {
            step = mantissa * decade;
            const int first = (low + step - 1) / step, last = high / step;
            if (last - first + 1 <= maxTicks) {
                found = true;
                break;
            }
        }
        if (found) break;
    }
    std::vector<int> ticks;
    for (int value = (low + step - 1) / step * step; value <= high; value += step)
        ticks.push_back(value);
    // An end gets its own label only where it does not crowd a multiple's.
    const auto farFromTicks = [&](int end) {
        return std::all_of(ticks.begin(), ticks.end(),
                           [&](int tick) { return 2 * std::abs(tick - end) >= step; });
    };
    if (farFromTicks(low)) ticks.insert(ticks.begin(), low);
    if (farFromTicks(high)) ticks.push_back(high);
    return ticks;
}

SizeUnit SizeUnitFor(double largestBytes) {
    if (largestBytes < 1024) return {1, "bytes"};
    if (largestBytes < 1024.0 * 1024) return {1024, "KiB"};
    return {1024.0 * 1024, "MiB"};
}

PointPixels PixelsOf(const CurveScales& scales, double value, double bytes,
                     std::optional<double> distance) {
    const PlotRect& plot = scales.plot;
    PointPixels pixels;
    pixels.x = ScaleToPixels(value, scales.lowValue, scales.highValue, plot.left, plot.right());
    pixels.bytesY = ScaleToPixels(bytes, 0, scales.bytesMaximum, plot.bottom(), plot.top);
    if (distance) {
        pixels.distanceY =
            ScaleToPixels(*distance, 0, scales.distanceMaximum, plot.bottom(), plot.top);
    }
    return pixels;
}

std::optional<std::size_t> HitPoint(const std::vector<PointPixels>& points, double x, double y,
                                    double radius) {
    std::optional<std::size_t> nearest;
    double nearestSquared = radius * radius;
    const auto consider = [&](std::size_t index, double markerY) {
        const double dx = points[index].x - x, dy = markerY - y;
        const double squared = dx * dx + dy * dy;
        if (squared <= nearestSquared) {
            nearestSquared = squared;
            nearest = index;
        }
    };
    for (std::size_t i = 0; i < points.size(); ++i) {
        consider(i, points[i].bytesY);
        if (points[i].distanceY) consider(i, *points[i].distanceY);
    }
    return nearest;
}

QString SettingAxisTitle(engine::SizeSetting setting) {
    switch (setting) {
        case engine::SizeSetting::JPEGQuality:
            return QObject::tr("JPEG quality (1–100)");
        case engine::SizeSetting::GIFMaxColors:
            return QObject::tr("GIF palette size (colours)");
        case engine::SizeSetting::PNGMaxColors:
            break;
    }
    return QObject::tr("PNG palette size (colours)");
}

// ---- the widget ----

namespace {

const QColor kSizeColour(31, 102, 178);
const QColor kDistanceColour(214, 96, 16);
const QColor kCurrentColour(0, 128, 0);
constexpr double kMarker = 4;     // half the side of a marker
constexpr double kHitRadius = 9;  // how near a click must come to a marker

// Axis numbers without trailing zeros: "2.5", "100".
QString AxisNumber(double value) {
    return QString::number(value, 'g', 6);
}

double WidestTickLabel(const QFontMetricsF& metrics, const AxisScale& axis) {
    double widest = 0;
    for (double tick = 0; tick <= axis.maximum + 1e-9; tick += axis.step)
        widest = std::max(widest, metrics.horizontalAdvance(AxisNumber(tick)));
    return widest;
}

}  // namespace

QualityCurveWidget::QualityCurveWidget(QWidget* parent) : QWidget(parent) {
    setObjectName("quality_curve");
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void QualityCurveWidget::setCurve(engine::SizeSetting setting, engine::SettingRange range,
                                  std::vector<engine::QualityProbe> points) {
    m_setting = setting;
    m_range = range;
    m_points = std::move(points);
    m_message.clear();
    m_hovered.reset();
    update();
}

void QualityCurveWidget::setCurrentValue(int value) {
    if (value == m_current) return;
    m_current = value;
    update();
}

void QualityCurveWidget::setMessage(const QString& message) {
    m_message = message;
    m_points.clear();
    m_hovered.reset();
    QToolTip::hideText();
    update();
}

double QualityCurveWidget::largestBytes() const {
    double largest = 0;
    for (const engine::QualityProbe& point : m_points)
        largest = std::max(largest, static_cast<double>(point.bytes));
    return largest;
}

double QualityCurveWidget::largestDistance() const {
    double largest = 0;
    for (const engine::QualityProbe& point : m_points)
        if (point.score) largest = std::max(largest, point.score->maxDistance);
    return largest;
}

// Room for the tick labels and the titles around the plot, from the font.
CurveScales QualityCurveWidget::scales() const {
    const QFontMetricsF metrics(font());
    const double line = metrics.height();
    const SizeUnit unit = SizeUnitFor(largestBytes());
    const AxisScale sizeAxis = NiceAxis(largestBytes() / unit.bytes, 5);
    const AxisScale distanceAxis = NiceAxis(largestDistance(), 5);

    CurveScales scales;
    PlotRect& plot = scales.plot;
    plot.left = 8 + line + 6 + WidestTickLabel(metrics, sizeAxis) + 6;
    plot.top = 8 + line + 4 + line + 2;  // the legend, then the current value's label
    const double right = 8 + line + 6 + WidestTickLabel(metrics, distanceAxis) + 6;
    const double bottom = 6 + line + 4 + line + 8;
    plot.width = std::max(1.0, width() - plot.left - right);
    plot.height = std::max(1.0, height() - plot.top - bottom);
    scales.lowValue = m_range.minimum;
    scales.highValue = m_range.maximum;
    scales.bytesMaximum = sizeAxis.maximum * unit.bytes;
    scales.distanceMaximum = distanceAxis.maximum;
    return scales;
}

std::vector<PointPixels> QualityCurveWidget::pointPixels(const CurveScales& scales) const {
    std::vector<PointPixels> pixels;
    pixels.reserve(m_points.size());
    for (const engine::QualityProbe& point : m_points) {
        pixels.push_back(
            PixelsOf(scales, point.value, point.bytes,
                     point.score ? std::optional(point.score->maxDistance) : std::nullopt));
    }
    return pixels;
}

QPointF QualityCurveWidget::sizeMarkerAt(std::size_t index) const {
    const PointPixels pixels = pointPixels(scales()).at(index);
    return {pixels.x, pixels.bytesY};
}

std::optional<std::size_t> QualityCurveWidget::pointUnder(QPointF position) const {
    if (m_points.empty()) return std::nullopt;
    return HitPoint(pointPixels(scales()), position.x(), position.y(), kHitRadius);
}

QString QualityCurveWidget::pointText(std::size_t index) const {
    const engine::QualityProbe& point = m_points.at(index);
    const QString setting = m_setting == engine::SizeSetting::JPEGQuality
                                ? tr("Quality %1").arg(point.value)
                                : tr("%1 colours").arg(point.value);
    const auto bytes = static_cast<std::int32_t>(point.bytes);
    const QString size = tr("Size: %1 (%2 bytes)")
                             .arg(Qs(util::FormatFileSize(bytes)), Qs(util::FormatNumber(bytes)));
    const QString distance =
        point.score ? tr("Distance: %1").arg(Qs(engine::QualityText(point.score->maxDistance)))
                    : tr("Distance: not measured");
    return setting + "\n" + size + "\n" + distance;
}

void QualityCurveWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font());
    if (!m_message.isEmpty() || m_points.empty()) {
        painter.setPen(palette().text().color());
        painter.drawText(rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap,
                         m_message);
        return;
    }
    const CurveScales scales = this->scales();
    drawAxes(painter, scales);
    drawCurrentSetting(painter, scales);
    drawSeries(painter, scales);
    drawLegend(painter, scales.plot.left);
}

// The size axis's ticks lay the grid; the distance axis has ticks of its
// own on the right. Each title runs along its axis.
void QualityCurveWidget::drawAxes(QPainter& painter, const CurveScales& scales) const {
    const PlotRect& plot = scales.plot;
    const double line = QFontMetricsF(font()).height();
    const SizeUnit unit = SizeUnitFor(largestBytes());
    const AxisScale sizeAxis = NiceAxis(largestBytes() / unit.bytes, 5);
    const AxisScale distanceAxis = NiceAxis(largestDistance(), 5);
    const QColor text = palette().text().color();

    for (double tick = 0; tick <= sizeAxis.maximum + 1e-9; tick += sizeAxis.step) {
        const double y = ScaleToPixels(tick, 0, sizeAxis.maximum, plot.bottom(), plot.top);
        painter.setPen(QPen(palette().mid().color(), 0, Qt::DotLine));
        painter.drawLine(QPointF(plot.left, y), QPointF(plot.right(), y));
        painter.setPen(kSizeColour);
        painter.drawText(QRectF(0, y - line / 2, plot.left - 6, line),
                         Qt::AlignRight | Qt::AlignVCenter, AxisNumber(tick));
    }
    painter.setPen(kDistanceColour);
    for (double tick = 0; tick <= distanceAxis.maximum + 1e-9; tick += distanceAxis.step) {
        const double y = ScaleToPixels(tick, 0, distanceAxis.maximum, plot.bottom(), plot.top);
        painter.drawLine(QPointF(plot.right(), y), QPointF(plot.right() + 4, y));
        painter.drawText(QRectF(plot.right() + 6, y - line / 2, width(), line),
                         Qt::AlignLeft | Qt::AlignVCenter, AxisNumber(tick));
    }
    painter.setPen(text);
    const int maxTicks = std::max(2, static_cast<int>(plot.width / 56));
    for (const int tick : SettingTicks(m_range.minimum, m_range.maximum, maxTicks)) {
        const double x =
            ScaleToPixels(tick, scales.lowValue, scales.highValue, plot.left, plot.right());
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        painter.drawText(QRectF(x - 40, plot.bottom() + 6, 80, line), Qt::AlignCenter,
                         QString::number(tick));
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(plot.left, plot.top, plot.width, plot.height));

    painter.drawText(QRectF(plot.left, plot.bottom() + 6 + line + 4, plot.width, line),
                     Qt::AlignCenter, SettingAxisTitle(m_setting));
    const auto verticalTitle = [&](double x, double angle, const QString& title,
                                   const QColor& colour) {
        painter.save();
        painter.translate(x, plot.top + plot.height / 2);
        painter.rotate(angle);
        painter.setPen(colour);
        painter.drawText(QRectF(-plot.height / 2, -line / 2, plot.height, line), Qt::AlignCenter,
                         title);
        painter.restore();
    };
    verticalTitle(8 + line / 2, -90, tr("Size (%1)").arg(unit.name), kSizeColour);
    verticalTitle(width() - 8 - line / 2, 90, tr("Distance (butteraugli)"), kDistanceColour);
}

void QualityCurveWidget::drawCurrentSetting(QPainter& painter, const CurveScales& scales) const {
    if (m_current < m_range.minimum || m_current > m_range.maximum) return;
    const PlotRect& plot = scales.plot;
    const QFontMetricsF metrics(font());
    const double x =
        ScaleToPixels(m_current, scales.lowValue, scales.highValue, plot.left, plot.right());
    painter.setPen(QPen(kCurrentColour, 1.5, Qt::DashLine));
    painter.drawLine(QPointF(x, plot.top), QPointF(x, plot.bottom()));
    // The value above the line, kept over the plot so that it clears the
    // axes' numbers at either end.
    const QString value = QString::number(m_current);
    const double labelWidth = metrics.horizontalAdvance(value) + 4;
    const double left = std::clamp(x - labelWidth / 2, plot.left, plot.right() - labelWidth);
    painter.setPen(kCurrentColour);
    painter.drawText(QRectF(left, plot.top - metrics.height() - 2, labelWidth, metrics.height()),
                     Qt::AlignHCenter | Qt::AlignBottom, value);
}

// Lines through the points, then the markers on top: squares for the size,
// circles for the distance, the hovered point's a little larger.
void QualityCurveWidget::drawSeries(QPainter& painter, const CurveScales& scales) const {
    const std::vector<PointPixels> pixels = pointPixels(scales);
    QPainterPath sizePath, distancePath;
    bool distanceOpen = false;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const QPointF size(pixels[i].x, pixels[i].bytesY);
        i == 0 ? sizePath.moveTo(size) : sizePath.lineTo(size);
        if (!pixels[i].distanceY) {
            distanceOpen = false;  // a gap where a point was not measured
            continue;
        }
        const QPointF distance(pixels[i].x, *pixels[i].distanceY);
        distanceOpen ? distancePath.lineTo(distance) : distancePath.moveTo(distance);
        distanceOpen = true;
    }
    const PlotRect& plot = scales.plot;
    const double margin = kMarker + 2;
    painter.save();
    painter.setClipRect(QRectF(plot.left - margin, plot.top - margin, plot.width + 2 * margin,
                               plot.height + 2 * margin));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kSizeColour, 2));
    painter.drawPath(sizePath);
    painter.setPen(QPen(kDistanceColour, 2));
    painter.drawPath(distancePath);
    const QColor outline = palette().text().color();
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const double side = kMarker + (m_hovered == i ? 2 : 0);
        painter.setPen(QPen(outline, m_hovered == i ? 1.5 : 0.5));
        painter.setBrush(kSizeColour);
        painter.drawRect(QRectF(pixels[i].x - side, pixels[i].bytesY - side, 2 * side, 2 * side));
        if (pixels[i].distanceY) {
            painter.setBrush(kDistanceColour);
            painter.drawEllipse(QPointF(pixels[i].x, *pixels[i].distanceY), side + 0.5, side + 0.5);
        }
    }
    painter.restore();
}

// Above the plot, from its left edge.
void QualityCurveWidget::drawLegend(QPainter& painter, double left) const {
    const QFontMetricsF metrics(font());
    const double line = metrics.height();
    const QColor text = palette().text().color();
    double x = left;
    const double y = 8 + line / 2;
    const auto entry = [&](bool square, const QColor& colour, const QString& name) {
        painter.setPen(QPen(text, 0.5));
        painter.setBrush(colour);
        if (square) {
            painter.drawRect(QRectF(x, y - kMarker, 2 * kMarker, 2 * kMarker));
        } else {
            painter.drawEllipse(QPointF(x + kMarker, y), kMarker + 0.5, kMarker + 0.5);
        }
        x += 2 * kMarker + 6;
        painter.setPen(text);
        painter.drawText(QRectF(x, y - line / 2, metrics.horizontalAdvance(name) + 2, line),
                         Qt::AlignLeft | Qt::AlignVCenter, name);
        x += metrics.horizontalAdvance(name) + 18;
    };
    entry(true, kSizeColour, tr("File size"));
    entry(false, kDistanceColour, tr("Distance from the source"));
    painter.setPen(QPen(kCurrentColour, 1.5, Qt::DashLine));
    painter.drawLine(QPointF(x, y - line / 2), QPointF(x, y + line / 2));
    painter.setPen(kCurrentColour);
    painter.drawText(QRectF(x + 6, y - line / 2, width() - x, line),
                     Qt::AlignLeft | Qt::AlignVCenter, tr("Current setting"));
}

void QualityCurveWidget::mouseMoveEvent(QMouseEvent* event) {
    const std::optional<std::size_t> under = pointUnder(event->position());
    if (under != m_hovered) {
        m_hovered = under;
        update();
    }
    if (under) {
        QToolTip::showText(event->globalPosition().toPoint(), pointText(*under), this);
    } else {
        QToolTip::hideText();
    }
}

void QualityCurveWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (const std::optional<std::size_t> under = pointUnder(event->position()))
        emit valueRequested(m_points[*under].value);
}

void QualityCurveWidget::leaveEvent(QEvent*) {
    if (!m_hovered) return;
    m_hovered.reset();
    update();
}

}  // namespace pimo::ui
