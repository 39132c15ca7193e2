#pragma once
// A decoder for binary greyscale and colour PNM files (P5, P6) with 8-bit
// samples. The library reads these a byte at a time through its IO callbacks,
// which makes a large picture take several times longer to load than to
// encode; this one reads rows straight from memory into the same bitmaps.

#include <FreeImage.h>

#include <cstdint>
#include <span>

namespace pimo::imagelib {

/// Decodes a complete P5 (to 8 bits with a grey palette) or P6 (to 24 bits)
/// file whose maximum sample value is 255, into the bitmap the library makes
/// of it. nullptr for every other file, a header it cannot read, pixel data
/// shorter than the header declares, or when memory runs out: the library
/// then decodes the file itself and reports what is wrong.
FIBITMAP* DecodeBinaryPnm(std::span<const std::uint8_t> bytes);

}  // namespace pimo::imagelib
