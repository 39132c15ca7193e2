#pragma once
// A check that a JPEG stream decodes whole, cheaper than decoding it to pixels.

#include <cstdint>
#include <span>
#include <string>

namespace pimo::imagelib {

/// Reads `bytes` as the decoder does, through every marker and every
/// entropy-coded bit up to the end of the image, but stops before the inverse
/// transform and the colour conversion, which cannot fail. Empty when the
/// stream is sound and declares `width` x `height` pixels; otherwise the first
/// problem, in the decoder's words where it has some.
std::string CheckJpegStream(std::span<const std::uint8_t> bytes, unsigned width, unsigned height);

}  // namespace pimo::imagelib
