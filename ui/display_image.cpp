#include "ui/display_image.h"

#include <QBrush>
#include <QPainter>
#include <QPixmap>

namespace pimo::ui {
namespace {

// Halved copies stop at this side: below it, bilinear shrinking of the level
// above is cheap and already smooth enough.
constexpr int kSmallestLevelSide = 256;
constexpr int kCheckerSquare = 8;

QImage DrawableImage(const QImage& image) {
    // The raster painter blits these two formats without per-pixel conversion.
    const QImage::Format format =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    return image.format() == format ? image : image.convertToFormat(format);
}

const QBrush& CheckerBrush() {
    static const QBrush brush = [] {
        QPixmap tile(2 * kCheckerSquare, 2 * kCheckerSquare);
        tile.fill(QColor(255, 255, 255));
        QPainter painter(&tile);
        const QColor grey(204, 204, 204);
        painter.fillRect(0, 0, kCheckerSquare, kCheckerSquare, grey);
        painter.fillRect(kCheckerSquare, kCheckerSquare, kCheckerSquare, kCheckerSquare, grey);
        return QBrush(tile);
    }();
    return brush;
}

}  // namespace

DisplayImage::DisplayImage(const QImage& image) {
    if (image.isNull()) return;
    m_levels.push_back(DrawableImage(image));
    // Area-averaged halves, so that a fitted photo shows no aliasing while each
    // frame still samples at most twice as many pixels as it paints.
    while (m_levels.back().width() / 2 >= kSmallestLevelSide &&
           m_levels.back().height() / 2 >= kSmallestLevelSide) {
        const QImage& last = m_levels.back();
        m_levels.push_back(last.scaled(last.width() / 2, last.height() / 2, Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation));
    }
}

const QImage& DisplayImage::image() const {
    static const QImage empty;
    return isNull() ? empty : m_levels.front();
}

QImage DisplayImage::release() {
    QImage image = isNull() ? QImage() : std::move(m_levels.front());
    m_levels.clear();
    return image;
}

const QImage& DisplayImage::levelFor(int targetWidth, int targetHeight) const {
    // The smallest level still at least as large as the target on both axes.
    std::size_t level = 0;
    while (level + 1 < m_levels.size() && m_levels[level + 1].width() >= targetWidth &&
           m_levels[level + 1].height() >= targetHeight)
        ++level;
    return m_levels[level];
}

void DisplayImage::draw(QPainter& painter, const QRect& target, const QRect& clip) const {
    if (isNull() || target.isEmpty()) return;
    const QRect visible = target.intersected(clip);
    if (visible.isEmpty()) return;
    if (hasAlpha()) {
        painter.save();
        painter.setBrushOrigin(target.topLeft());
        painter.fillRect(visible, CheckerBrush());
        painter.restore();
    }
    const QImage& source = levelFor(target.width(), target.height());
    if (source.size() == target.size()) {
        painter.drawImage(visible.topLeft(), source, visible.translated(-target.topLeft()));
        return;
    }
    // The part of the source under the visible part of the target; fractional,
    // so that enlarged pixels keep their exact grid while panning.
    const double sx = double(source.width()) / target.width();
    const double sy = double(source.height()) / target.height();
    const QRectF from((visible.x() - target.x()) * sx, (visible.y() - target.y()) * sy,
                      visible.width() * sx, visible.height() * sy);
    const bool shrinking = target.width() < source.width() || target.height() < source.height();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, shrinking);
    painter.drawImage(QRectF(visible), source, from);
    painter.restore();
}

}  // namespace pimo::ui
