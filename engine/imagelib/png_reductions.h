#pragma once
// Lossless reductions of a PNG's pixel layout: each step returns the same
// pixels (as any decoder shows them, transparency included) in a layout that
// needs fewer bytes, or nullopt when it does not apply.

#include <optional>

#include "engine/imagelib/png_image.h"

namespace pimo::imagelib::png {

struct ReductionLimits {
    /// An embedded colour profile is either for grey or for colour images:
    /// the image must stay in its colour class (grey, or colour and palette).
    bool keepColourClass = false;
    /// Whether true colour and grey may become a palette (judged by raw size,
    /// which small images do not always bear out once deflated).
    bool paletteFromColours = true;
};

/// Every step that applies, in a fixed order, to `image`.
PngImage ReducedImage(PngImage image, const ReductionLimits& limits);

/// 16-bit samples whose low byte repeats the high byte, as 8-bit samples.
std::optional<PngImage> EightBitSamples(const PngImage& image);
/// Grey-alpha or RGBA whose alpha is opaque everywhere, without the alpha channel.
std::optional<PngImage> WithoutOpaqueAlpha(const PngImage& image);
/// RGB or RGBA whose pixels (and key and background) are all grey, as grey.
std::optional<PngImage> GreyFromNeutralColour(const PngImage& image);
/// Grey-alpha or RGBA whose alpha is only 0 or opaque, all transparent pixels
/// of one colour no opaque pixel has: grey or RGB with that colour as the key.
std::optional<PngImage> ColourKeyFromBinaryAlpha(const PngImage& image);
/// 8-bit true colour or grey with at most 256 colours, as a palette image,
/// when its packed pixels and palette are smaller than the image's own.
std::optional<PngImage> PaletteFromFewColours(const PngImage& image);
/// A palette image with only the entries its pixels (and background) use,
/// duplicates merged, entries with transparency first so that tRNS is short.
std::optional<PngImage> PaletteOfUsedEntries(const PngImage& image);
/// A palette of opaque greys (one may be fully transparent) that a grey depth
/// no deeper than the palette's holds exactly, as a grey image.
std::optional<PngImage> GreyFromGreyPalette(const PngImage& image);
/// Palette and grey images at the fewest bits per pixel their values need.
std::optional<PngImage> SmallestBitDepth(const PngImage& image);

}  // namespace pimo::imagelib::png
