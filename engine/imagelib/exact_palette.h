#pragma once
// The palette an image already has, found by counting its colours.

#include <FreeImage.h>

namespace pimo::imagelib {

/// An 8-bit bitmap holding exactly the pixels of a 24- or 32-bit `bitmap`
/// (alpha ignored) with its distinct colours as palette, in ascending order
/// of red, green, blue; entries past them are black. nullptr when the image
/// has more than `maxColors` colours (the count stops there) or another depth.
FIBITMAP* ExactPalette(FIBITMAP* bitmap, int maxColors);

}  // namespace pimo::imagelib
