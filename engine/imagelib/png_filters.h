#pragma once
// Row filtering: the bytes deflate compresses, one filter type byte before
// each row, chosen by a fixed filter or by a per-row heuristic.

#include "engine/imagelib/png_image.h"

namespace pimo::imagelib::png {

enum class FilterStrategy {
    kNone,
    kSub,
    kUp,
    kAverage,
    kPaeth,
    /// Per row, the filter with the smallest sum of absolute signed bytes.
    kMinSum,
    /// Per row, the filter whose bytes have the lowest Shannon entropy.
    kEntropy,
    /// Per row, the filter with the fewest distinct pairs of adjacent bytes.
    kBigrams,
    /// Per row, the filter that deflates smallest after the rows before it.
    kBruteForce,
    /// Per row, the filter the input file used (kMinSum when it is not known).
    kAsInput,
};

/// The image's rows filtered by `strategy`: height * (RowBytes() + 1) bytes.
/// Heuristics break ties towards the lower filter type, so the result is
/// the same on every run.
Bytes FilteredImageData(const PngImage& image, FilterStrategy strategy);

}  // namespace pimo::imagelib::png
