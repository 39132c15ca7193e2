#pragma once
// A PNG decoded a few rows at a time into memory that the caller chose (the
// shared output of a decoder process), with exactly the transformations the
// library's PNG loader (3.18) asks libpng for: the same bitmap kind (8-bit
// grey and palette, 1- and 4-bit palette, 24- and 32-bit colour, 16-bit grey,
// 48- and 64-bit colour), the same bytes, the same row order. The library's
// loader decodes into a bitmap it allocated and cleared itself, all of it at
// once; here no more than a few rows are held at a time (an interlaced file,
// whose rows come in seven passes, excepted).
//
// The bitmap without pixels comes from the loader's own header-only read,
// completed with the texts and time after the image data that the loader
// reads only with the pixels. Every file on which libpng fails is left to the
// loader, and so is a load with flags other than the gamma choice.

#include <FreeImage.h>

#include <cstdint>
#include <functional>
#include <span>

namespace pimo::imagelib {

/// Whether a PNG loaded with `flags` (our layer's load flags) may be decoded
/// directly: a cheap walk over the file's chunks. The decode itself may still
/// decline.
bool DirectPngDecodeApplies(std::span<const std::uint8_t> bytes, int flags);

/// The bitmap FreeImage_LoadFromBytes gives for this file, without pixels:
/// kind, size, palette, transparency table, background colour, resolution,
/// profile, metadata (texts and time after the image data too) and the
/// carried facts (those that the pixels decide are
/// set by DecodePngRows). nullptr when the direct decode does not apply, when
/// the header cannot be read, or when the file is refused by its declared
/// size (with the message reported).
FIBITMAP* LoadPngWithoutPixels(std::span<const std::uint8_t> bytes, int flags);

/// Takes consecutive rows of a bitmap: `rows` holds `count` rows of
/// FreeImage_GetPitch(header) bytes each, laid out as in the bitmap (bottom
/// row first), the lowest of them the bitmap's row `bottom` (0 being its
/// bottom row). False stops the decode.
using PngRowsSink =
    std::function<bool(unsigned bottom, unsigned count, std::span<const std::uint8_t> rows)>;

/// Decodes the pixels of the file that `header` (from LoadPngWithoutPixels)
/// describes and hands them to `put`, from the bitmap's top row down, every
/// row exactly once when the decode succeeds; the padding at the end of each
/// row is cleared. An interlaced file is handed on whole, in one call. On
/// success, the facts of `header` that the loader takes from the pixels (a
/// 32-bit bitmap's transparency, the carried "has alpha") are set as the
/// loader sets them. False, with the rows so far handed on, when libpng fails,
/// when its output would not be the header's bitmap, or when `put` refuses:
/// the file is then for the library's loader.
bool DecodePngRows(std::span<const std::uint8_t> bytes, int flags, FIBITMAP* header,
                   const PngRowsSink& put);

}  // namespace pimo::imagelib
