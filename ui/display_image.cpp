#include "ui/display_image.h"

#include <QBrush>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

constexpr std::uint32_t kLow = 0x00FF00FF;
constexpr std::uint32_t kRounding = 0x00020002;

// The rounded average of four pixels: two channels at a time in the halves
// of one 32-bit word, where a sum of four bytes cannot spill into the next.
std::uint32_t Average(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    const std::uint32_t blueRed = (a & kLow) + (b & kLow) + (c & kLow) + (d & kLow);
    const std::uint32_t greenAlpha =
        ((a >> 8) & kLow) + ((b >> 8) & kLow) + ((c >> 8) & kLow) + ((d >> 8) & kLow);
    return (((blueRed + kRounding) >> 2) & kLow) | ((((greenAlpha + kRounding) >> 2) & kLow) << 8);
}

// One halved row from two full rows: `width` pixels out.
void HalveRow(const std::uint32_t* top, const std::uint32_t* bottom, std::uint32_t* out,
              int width) {
    int x = 0;
#if defined(__SSE2__)
    // Two pixels out per step, the same sums in 16-bit lanes.
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi16(2);
    for (; x + 2 <= width; x += 2) {
        const __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x));
        const __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x));
        // Columns 0 and 1 (low), 2 and 3 (high), each summed over both rows.
        const __m128i left =
            _mm_add_epi16(_mm_unpacklo_epi8(upper, zero), _mm_unpacklo_epi8(lower, zero));
        const __m128i right =
            _mm_add_epi16(_mm_unpackhi_epi8(upper, zero), _mm_unpackhi_epi8(lower, zero));
        const __m128i sums =
            _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
        const __m128i averages = _mm_srli_epi16(_mm_add_epi16(sums, rounding), 2);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(averages, zero));
    }
#endif
    for (; x < width; ++x)
        out[x] = Average(top[2 * x], top[2 * x + 1], bottom[2 * x], bottom[2 * x + 1]);
}

// Each pixel the average of a 2 x 2 block of `image` (RGB32 or premultiplied
// ARGB32), rounded; an odd last row or column is left out. The same area
// average the toolkit's smooth scaling gives at exactly half, at a fraction
// of its cost.
QImage Halved(const QImage& image) {
    const int width = image.width() / 2;
    const int height = image.height() / 2;
    QImage half(width, height, image.format());
    if (half.isNull()) return half;
    for (int y = 0; y < height; ++y) {
        HalveRow(reinterpret_cast<const std::uint32_t*>(image.constScanLine(2 * y)),
                 reinterpret_cast<const std::uint32_t*>(image.constScanLine(2 * y + 1)),
                 reinterpret_cast<std::uint32_t*>(half.scanLine(y)), width);
    }
    return half;
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

DisplayImage::DisplayImage(const QImage& image) : DisplayImage(image, 1, image.size()) {}

DisplayImage::DisplayImage(const QImage& image, int reduction, QSize fullSize)
    : m_reduction(std::max(1, reduction)), m_fullSize(fullSize) {
    if (image.isNull() || fullSize.isEmpty()) return;
    m_levels.push_back(DrawableImage(image));
    // Area-averaged halves, so that a fitted photo shows no aliasing while each
    // frame still samples at most twice as many pixels as it paints.
    while (m_levels.back().width() / 2 >= kSmallestLevelSide &&
           m_levels.back().height() / 2 >= kSmallestLevelSide) {
        QImage half = Halved(m_levels.back());
        if (half.isNull()) break;
        m_levels.push_back(std::move(half));
    }
}

const QImage& DisplayImage::image() const {
    static const QImage empty;
    return isNull() ? empty : m_levels.front();
}

QImage DisplayImage::release() {
    QImage image = isNull() ? QImage() : std::move(m_levels.front());
    m_levels.clear();
    m_reduction = 1;
    m_fullSize = QSize();
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
    // The extent of the full picture in the source's pixels: a reduced
    // picture's last column and row may stand for less than a whole block,
    // and the full picture's edge must land on the target's edge.
    const bool reducedLevel = &source == &m_levels.front() && m_reduction > 1;
    const double extentX =
        reducedLevel ? double(m_fullSize.width()) / m_reduction : double(source.width());
    const double extentY =
        reducedLevel ? double(m_fullSize.height()) / m_reduction : double(source.height());
    // The part of the source under the visible part of the target; fractional,
    // so that enlarged pixels keep their exact grid while panning.
    const double sx = extentX / target.width();
    const double sy = extentY / target.height();
    const QRectF from((visible.x() - target.x()) * sx, (visible.y() - target.y()) * sy,
                      visible.width() * sx, visible.height() * sy);
    // Enlarged pixels show as sharp blocks, but a reduced picture drawn
    // larger only stands in until the full one comes, and is drawn smooth.
    const bool shrinking = target.width() < extentX || target.height() < extentY;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, shrinking || m_reduction > 1);
    painter.drawImage(QRectF(visible), source, from);
    painter.restore();
}

}  // namespace pimo::ui
