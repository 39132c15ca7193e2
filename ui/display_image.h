#pragma once
// A picture prepared once for drawing at any zoom: converted to the painter's
// fastest format, with halved copies for smooth shrinking, drawn scaled into
// a target rectangle of which only the visible part is painted.

#include <QImage>
#include <QRect>
#include <vector>

class QPainter;

namespace pimo::ui {

class DisplayImage {
  public:
    DisplayImage() = default;
    /// Converts `image` once (premultiplied when it has an alpha channel) and
    /// builds the halved copies used when it is drawn smaller.
    explicit DisplayImage(const QImage& image);
    /// A picture of `fullSize` pixels of which `image` holds a copy reduced
    /// `reduction` times (each side rounded up): drawn in the full picture's
    /// place, as if it were that picture.
    DisplayImage(const QImage& image, int reduction, QSize fullSize);

    bool isNull() const { return m_levels.empty(); }
    /// The size of the full picture, whether held reduced or not.
    QSize size() const { return isNull() ? QSize() : m_fullSize; }
    /// How many times smaller than size() the held picture is: 1 for all
    /// of its pixels.
    int reduction() const { return m_reduction; }
    bool hasAlpha() const { return !isNull() && m_levels.front().hasAlphaChannel(); }
    /// The held picture, as converted (reduced when reduction() is above 1).
    const QImage& image() const;
    /// Gives up the full-size picture (so that its memory can be filled
    /// again) and leaves the display image empty.
    QImage release();

    /// Draws the picture scaled to `target` (painter coordinates), painting
    /// only where it meets `clip`. Shrinking is smooth; enlarging shows each
    /// image pixel as a sharp block, so compression artefacts stay visible.
    /// A transparent picture is drawn over a checkerboard.
    void draw(QPainter& painter, const QRect& target, const QRect& clip) const;

  private:
    const QImage& levelFor(int targetWidth, int targetHeight) const;

    // Level 0 is the held picture; each further level is half the previous.
    std::vector<QImage> m_levels;
    int m_reduction = 1;
    QSize m_fullSize;
};

}  // namespace pimo::ui
