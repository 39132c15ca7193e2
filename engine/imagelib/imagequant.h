#pragma once
// The libimagequant quantizer: a palette chosen for how the image looks, and
// Floyd-Steinberg dithering onto it.

#include <FreeImage.h>

namespace pimo::imagelib {

/// An 8-bit palette bitmap of a 24- or 32-bit `bitmap` (alpha ignored) with
/// at most `colors` (2..256) entries in use, the others black, dithered with
/// full Floyd-Steinberg strength. nullptr for another depth, a count out of
/// range or when the library fails.
FIBITMAP* ImageQuantPalette(FIBITMAP* bitmap, int colors);

}  // namespace pimo::imagelib
