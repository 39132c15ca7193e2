#pragma once
// The quality setting a JPEG was written with, found from its quantisation
// tables by inverting libjpeg's scaling of the standard tables.

#include "engine/imagelib/jpeg_markers.h"

namespace pimo::imagelib {

/// The quality 1..100 whose libjpeg scaling of the standard luminance table
/// (and chrominance table, when the file has a second one) is closest to the
/// file's tables. Ties go to the higher quality. 0 when the file has no table
/// for its first component, or when even the closest scaling is off by more
/// than a quarter of its values on average: those tables were not made by
/// scaling the standard ones.
int EstimateLibjpegQuality(const JpegHeader& header);

}  // namespace pimo::imagelib
