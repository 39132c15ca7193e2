#pragma once
// The NeuQuant neural-network quantizer (Anthony Dekker's Kohonen network),
// learning from a bounded sample of the pixels.

#include <FreeImage.h>

namespace pimo::imagelib {

/// An 8-bit palette bitmap of a 24- or 32-bit `bitmap` (alpha ignored) with
/// at most `colors` (2..256) entries in use, the others black, each pixel
/// mapped to its nearest entry. The network learns from every pixel of a small
/// image and from about a million evenly spread pixels of a large one: more
/// samples change the palette no more than noise would, and cost linear time.
/// nullptr for another depth, a count out of range or a failed allocation.
FIBITMAP* NeuQuantPalette(FIBITMAP* bitmap, int colors);

}  // namespace pimo::imagelib
