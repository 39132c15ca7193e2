#pragma once
// A JPEG decoded straight into memory that the caller chose (the shared output
// of a decoder process), in the layout and byte order the library's bitmaps
// use. The library's own JPEG loader decodes into a cleared bitmap of its own
// and then swaps red and blue in a second pass; here the decoder writes the
// blue-green-red rows, bottom-up, where they are to end up.
//
// Only the common case is taken: a three-component (YCbCr or RGB) or grey
// file, loaded with flags that ask for nothing but the accuracy, the quality
// estimate and an EXIF rotation the file does not need. Everything else, and
// every file on which the decoder gives a warning or an error, is for the
// library's loader, which gives the same pixels and the same messages.

#include <FreeImage.h>

#include <cstdint>
#include <functional>
#include <span>

namespace pimo::imagelib {

/// Whether a JPEG loaded with `flags` (our layer's load flags) may be decoded
/// directly: its pixels need no conversion the direct decode lacks. A cheap
/// look at the file's header; the decode itself may still decline.
bool DirectJpegDecodeApplies(std::span<const std::uint8_t> bytes, int flags);

/// The bitmap FreeImage_LoadFromBytes gives for this file, without pixels:
/// size, depth, palette, resolution, profile, metadata, thumbnail and the
/// carried facts. nullptr when the header cannot be read, when the file is
/// refused by its declared size (with the message reported), or when its
/// pixels would come out otherwise than as the direct decode writes them.
FIBITMAP* LoadJpegWithoutPixels(std::span<const std::uint8_t> bytes, int flags);

/// Decodes the pixels of the file that `header` (from LoadJpegWithoutPixels)
/// describes into `pixels`, which holds FreeImage_GetPitch(header) bytes per
/// row for every row, bottom row first; the padding at the end of each row
/// is cleared. False, with `pixels` in an unspecified state, when the decoder
/// fails or warns: the file is then for the library's loader.
bool DecodeJpegPixels(std::span<const std::uint8_t> bytes, int flags, FIBITMAP* header,
                      std::span<std::uint8_t> pixels);

/// Takes consecutive rows of a bitmap: `rows` holds `count` rows of
/// FreeImage_GetPitch(header) bytes each, laid out as in the bitmap (bottom
/// row first), the lowest of them the bitmap's row `bottom` (0 being its
/// bottom row). False stops the decode.
using JpegRowsSink =
    std::function<bool(unsigned bottom, unsigned count, std::span<const std::uint8_t> rows)>;

/// As DecodeJpegPixels, for pixels that are not written in place: a few rows
/// at a time are decoded into a small buffer of this function's and handed
/// to `put`, in the file's order (from the bitmap's top row down), every row
/// exactly once when the decode succeeds. False, with the rows so far handed
/// on, when the decoder fails or warns or `put` refuses.
bool DecodeJpegRows(std::span<const std::uint8_t> bytes, int flags, FIBITMAP* header,
                    const JpegRowsSink& put);

/// The file decoded at 1/`denominator` of its size (2, 4 or 8: the decoder's
/// own scaled inverse transform, each side rounded up; 1 gives full size),
/// with the settings of an accurate load: a 24-bit bitmap, or 8-bit grey for
/// a one-component file, with no metadata. A picture to look at, not to
/// encode again. nullptr when the decoder fails or warns, or when the file
/// has other than one or three components.
FIBITMAP* DecodeJpegScaled(std::span<const std::uint8_t> bytes, unsigned denominator);

}  // namespace pimo::imagelib
