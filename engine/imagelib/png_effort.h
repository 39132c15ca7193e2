#pragma once
// Extended-effort PNG compression: the same image, losslessly, in fewer bytes.

#include <cstdint>
#include <span>
#include <vector>

namespace pimo::imagelib {

/// Re-encodes a complete PNG with more effort. `level` is the deflate level
/// of the flag word: 1 (medium: unfiltered and adaptively filtered data, each
/// deflated with several zlib strategies), 4 (high: every row filter, more
/// zlib passes) or 9 (highest: adds brute-force filtering and zopfli; slow).
/// Trials run at the same time on the processor's cores, and zopfli works on
/// parts of about a megabyte at once, with fewer rounds the larger the image.
///
/// Every level first makes the lossless layout reductions (palette trimmed to
/// the entries used, smallest bit depth, colour type reduced where nothing is
/// lost, 16-bit samples to 8 when the low bytes carry nothing), writes the
/// image data as one IDAT chunk, de-interlaces, and keeps every ancillary
/// chunk in its order. The result decodes to exactly the same pixels, is never
/// larger than `png`, and is the same on every run.
///
/// Input that cannot be parsed (or that carries animation or unknown critical
/// chunks) is returned unchanged; parsing never reads past the buffer and
/// refuses images of more than 1 GiB of pixels before allocating them.
std::vector<std::uint8_t> RecompressPng(std::span<const std::uint8_t> png, int level);

}  // namespace pimo::imagelib
