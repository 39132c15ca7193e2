#pragma once
// Our own decoder for the BMP files the image library (3.18) refuses or
// decodes wrongly: those with the larger info headers today's editors write
// (52, 56, 108 or 124 bytes), usually 32-bit with an alpha channel described
// by bit fields, and those whose bit fields the library ignores.

#include <FreeImage.h>

#include <cstdint>
#include <span>

namespace pimo::imagelib {

/// Whether `bytes` are a BMP the library cannot decode, or decodes wrongly,
/// and ours should take: an info header larger than 40 bytes; alpha bit
/// fields; bit fields other than the library's own 16- and 32-bit layouts
/// (3.18 reads such pixels as if they had the default layout).
bool NeedsOwnBmpDecoder(std::span<const std::uint8_t> bytes);

/// Decodes a BMP with a Windows info header of 40 to 124 bytes: 1, 4 and
/// 8 bits with a colour table (also run-length encoded), 16 and 32 bits with
/// bit fields, 24 bits; rows bottom-up or top-down. 16-bit pixels with the
/// 5-5-5 or 5-6-5 fields stay 16-bit; pixels with an alpha mask become 32-bit
/// and are marked transparent only when some pixel is neither opaque nor the
/// whole channel zero (then it is an unused byte and the result is opaque).
/// Carries the resolution and an embedded ICC profile. nullptr when the
/// headers do not describe data inside `bytes`, or memory runs out.
FIBITMAP* DecodeBmp(std::span<const std::uint8_t> bytes);

}  // namespace pimo::imagelib
