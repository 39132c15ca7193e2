#pragma once
// Hostile files made in code, each small and each showing one way a file can
// hurt the image library: absurd declared sizes, buffers the library overruns,
// sizes it copies without checking, streams it reads past their end.

#include <cstdint>
#include <vector>

namespace pimo::test {

using Bytes = std::vector<std::uint8_t>;

/// A progressive JPEG of well under 100 KB whose frame declares 65000x65000.
Bytes ProgressiveJpegDeclaring65000();
/// A 499-byte run-length Sun raster declaring 48x33,554,465 pixels at 24 bits.
Bytes SunRasterBomb();
/// A valid 60000x60000 1-bit greyscale PNG (all black), under 1 MB.
Bytes OneBitPng60000();

/// Whether the JPEG has a segment with this marker before its first scan.
bool HasMarker(const Bytes& jpeg, std::uint8_t marker);
/// Whether libpng reads every row of the PNG without an error.
bool PngRowsDecodeWithLibpng(const Bytes& png);

}  // namespace pimo::test

namespace pimo::test {

/// An XBM cut inside its pixel list, where the library's decoder (3.18) reads
/// past the end again and again.
Bytes TruncatedXbm();

/// A 1x1 grey PSD whose RLE row unpacks to more bytes than the row holds; the
/// library's decoder (3.18) then copies a negative length and crashes.
Bytes PsdRowPastItsEnd();
/// A PICT whose packed row holds a literal run of 128 bytes for a row of 8;
/// the library's decoder (3.18) reads the run through the read callback into
/// the bitmap's last row and overruns the bitmap's heap block.
Bytes PictRunPastTheBitmap();

}  // namespace pimo::test
