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

}  // namespace pimo::imagelib
