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

    bool isNull() const { return m_levels.empty(); }
    QSize size() const { return isNull() ? QSize() : m_levels.front().size(); }
    bool hasAlpha() const { return !isNull() && m_levels.front().hasAlphaChannel(); }
    /// The full-size picture, as converted.
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

    // Level 0 is the full picture; each further level is half the previous.
    std::vector<QImage> m_levels;
};

}  // namespace pimo::ui
