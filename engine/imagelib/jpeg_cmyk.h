#pragma once
// Four-component (CMYK or YCCK) JPEG files shown in their true colours.

#include <FreeImage.h>

#include <cstdint>
#include <span>

#include "engine/imagelib/jpeg_markers.h"

namespace pimo::imagelib {

/// Decodes a JPEG with four components to a 24-bit RGB bitmap. Photoshop (and
/// libjpeg, by default) store the inks inverted and say so with the Adobe
/// marker; files without that marker store them straight. The library (3.18)
/// inverts every such file, so straight ones come out as their negative; here
/// the library only delivers the raw samples (JPEG_CMYK) and the conversion
/// picks the inversion the marker declares. A YCCK file (Adobe transform 2)
/// reaches us as CMYK already. The file's ICC profile describes the inks, so
/// it is not carried; the metadata and the resolution are. The remaining
/// `libraryFlags` (JPEG_EXIFROTATE, ...) apply as usual. nullptr when the file
/// does not have four components or the library cannot decode it.
FIBITMAP* DecodeCmykJpeg(std::span<const std::uint8_t> bytes, const JpegHeader& header,
                         int libraryFlags);

}  // namespace pimo::imagelib
