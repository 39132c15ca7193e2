#pragma once
// Repairs for files the image library decodes wrongly or refuses. Each takes
// the file's bytes, because the library does not expose what it needs (newer
// BMP headers, the Adobe marker, PNG chunks, the quantisation tables).

#include <FreeImage.h>

#include <cstdint>
#include <span>

namespace pimo::imagelib {

/// Decodes files the library refuses or gets wrong (BMP with V4/V5 headers,
/// Adobe CMYK JPEG) or reads far too slowly (binary PNM). Returns nullptr when the library's own
/// decoder is right for these bytes (or when they are not such a file). `libraryFormat` and
/// `libraryFlags` are the library's own values.
FIBITMAP* DecodeWhereLibraryFails(FREE_IMAGE_FORMAT libraryFormat,
                                  std::span<const std::uint8_t> bytes, int libraryFlags);

/// Completes a bitmap the library decoded: attaches the ICC profile of a PNG,
/// and sets the EXIF orientation to 1 when the load turned the pixels.
void RepairDecodedBitmap(FREE_IMAGE_FORMAT libraryFormat, std::span<const std::uint8_t> bytes,
                         int libraryFlags, FIBITMAP* bitmap);

/// Quality 1..100 that libjpeg's scaling of its standard tables gives the
/// file's quantisation tables; 0 when the bytes are not a JPEG or carry no
/// standard-scaled table.
int EstimateJpegQuality(std::span<const std::uint8_t> bytes);

/// Routes warnings that codec libraries print on their own (libtiff) into the
/// library's output-message path. Idempotent.
void RouteCodecWarnings();

}  // namespace pimo::imagelib
