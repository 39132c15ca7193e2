#pragma once
// The pixels a viewer sees of a bitmap: 8-bit sRGB, transparency blended
// with a background colour, rows from the top. Perceptual comparisons work
// on these, so that a source and its re-encoded result are judged alike
// whatever their depth or alpha representation.

#include <cstdint>
#include <span>
#include <vector>

struct FIBITMAP;

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

/// Every pixel of `bitmap` (any standard bitmap type and depth; alpha from a
/// 32-bit channel or from a palette's transparency table) composited over
/// `background`. Empty when the bitmap is null or
/// cannot be converted to 32 bits.
RgbPixels CompositedRgb(FIBITMAP* bitmap, Background background);

/// Decodes encoded bytes of a system `format` and composites them as
/// CompositedRgb does. JPEG is decoded with the accurate IDCT, as a loaded
/// source is. Empty when the bytes do not decode.
RgbPixels DecodedCompositedRgb(int format, std::span<const std::uint8_t> encoded,
                               Background background);

}  // namespace pimo::imagelib
