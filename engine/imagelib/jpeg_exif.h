#pragma once
// Keeps the EXIF orientation honest after the library turned a JPEG's pixels.

#include <FreeImage.h>

#include <cstdint>
#include <span>

namespace pimo::imagelib {

/// Sets the Orientation value in IFD0 of a raw EXIF block (TIFF structure,
/// with or without the "Exif\0\0" prefix, either byte order). False, and the
/// block unchanged, when it holds no well-formed Orientation entry.
bool SetExifBlockOrientation(std::span<std::uint8_t> block, std::uint16_t value);

/// For a bitmap the library loaded with JPEG_EXIFROTATE: when its EXIF
/// Orientation (2..8) made the library turn or mirror the pixels, sets the
/// orientation to 1 in the EXIF main tag and in the raw EXIF block that the
/// JPEG writer stores, so that a kept EXIF block does not make viewers turn
/// the image a second time. Returns whether the bitmap was changed.
bool ResetExifOrientation(FIBITMAP* bitmap);

/// The EXIF Orientation of a bitmap (FIMD_EXIF_MAIN), 1 when it has none or
/// a value outside 1..8.
int ExifOrientation(FIBITMAP* bitmap);

/// A copy of `bitmap` turned and mirrored as EXIF `orientation` (1..8) asks,
/// so that it looks upright to a viewer that sees no orientation tag. The
/// carried data goes along, its orientation set to 1. nullptr when the
/// library fails or for no bitmap.
FIBITMAP* UprightBitmap(FIBITMAP* bitmap, int orientation);

}  // namespace pimo::imagelib
