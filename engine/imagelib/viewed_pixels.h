#pragma once
// The pixels a viewer sees of a bitmap: 8-bit sRGB, transparency blended
// with a background colour, rows from the top. Perceptual comparisons work
// on these, so that a source and its re-encoded result are judged alike
// whatever their depth or alpha representation.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/imagelib/handles.h"

namespace pimo::imagelib {

/// An opaque colour behind transparent pixels.
struct Background {
    std::uint8_t red = 255, green = 255, blue = 255;
};

/// Interleaved R, G, B bytes, `width` * `height` pixels, the top row first.
struct RgbPixels {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<std::uint8_t> bytes;
    bool empty() const { return bytes.empty(); }
};

/// The viewer's pixels of one image, made a rectangle at a time on request,
/// so that a comparison over parts of a large image never holds a full-size
/// copy. Bitmaps of 24 and 32 bits and palette bitmaps of 1, 4 and 8 bits
/// are read where they lie; any other type or depth is converted to 32 bits
/// once, up front. Reading is free of shared state: several threads may
/// copy rectangles of one view at once.
class ViewedImage {
  public:
    /// An empty view.
    ViewedImage() = default;
    /// A view of `bitmap` (any standard bitmap type and depth; alpha from a
    /// 32-bit channel or from a palette's transparency table) composited
    /// over `background`. Borrows the bitmap, which must outlive the view
    /// unchanged. Empty when the bitmap is null or cannot be converted.
    ViewedImage(FIBITMAP* bitmap, Background background);
    /// The same over a bitmap the view takes over.
    ViewedImage(Bitmap bitmap, Background background);
    /// A view of prepared pixels, borrowed.
    explicit ViewedImage(const RgbPixels& pixels);

    ViewedImage(ViewedImage&&) noexcept = default;
    ViewedImage& operator=(ViewedImage&&) noexcept = default;

    unsigned width() const { return m_width; }
    unsigned height() const { return m_height; }
    bool empty() const { return m_layout == Layout::None; }

    /// Writes the `width` by `height` pixels whose top left corner is
    /// (`left`, `top`) to `out`, interleaved R, G, B, the top row first, as
    /// `width` * `height` * 3 bytes. The rectangle must lie inside the image.
    void copy(unsigned left, unsigned top, unsigned width, unsigned height,
              std::uint8_t* out) const;
    /// Every pixel; empty for an empty view.
    RgbPixels all() const;
    /// The borrowed pixels of a view made over RgbPixels; empty for any other view.
    std::span<const std::uint8_t> prepared() const;

  private:
    enum class Layout { None, Rgb, Bgr24, Bgra32, Indexed };

    void attach(FIBITMAP* bitmap, Background background);
    void copyRow(unsigned row, unsigned left, unsigned width, std::uint8_t* out) const;

    Layout m_layout = Layout::None;
    unsigned m_width = 0, m_height = 0;
    // Rows as stored: for a bitmap, bottom-up from m_bits with m_pitch bytes each.
    const std::uint8_t* m_bits = nullptr;
    std::size_t m_pitch = 0;
    unsigned m_indexBits = 0;   // a palette bitmap's bits per pixel
    bool m_blendAlpha = false;  // a 32-bit bitmap whose alpha channel is in use
    Background m_background;
    // A palette bitmap's entries, already composited: R, G, B each.
    std::array<std::array<std::uint8_t, 3>, 256> m_palette{};
    Bitmap m_owned;  // the bitmap read, when the view holds it
};

/// Every pixel of `bitmap` composited over `background`, as ViewedImage
/// shows them. Empty when the bitmap is null or cannot be converted.
RgbPixels CompositedRgb(FIBITMAP* bitmap, Background background);

/// Decodes encoded bytes of a system `format` for a ViewedImage over
/// `background`. JPEG is decoded with the accurate IDCT, as a loaded source
/// is. Empty when the bytes do not decode.
ViewedImage DecodedViewedImage(int format, std::span<const std::uint8_t> encoded,
                               Background background);

/// DecodedViewedImage's pixels, all of them.
RgbPixels DecodedCompositedRgb(int format, std::span<const std::uint8_t> encoded,
                               Background background);

}  // namespace pimo::imagelib
