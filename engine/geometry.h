#pragma once
// Rotation, flipping and rescaling of a bitmap. Rotations and rescaling make
// a new bitmap through our library layer, so the data the bitmap carries from
// its file (original depth, ICC profile, metadata) survives; flips work in
// place. None of these touch the engine state: the engine hands in the slot
// and reopens the image afterwards.

#include "engine/imagelib/handles.h"
#include "engine/resample_math.h"

namespace pimo::engine {

enum class Rotation { Left, Right };
enum class FlipAxis { Horizontal, Vertical };

/// Filter indices of the resample dialog's list `filter` and the batch window.
inline constexpr int kResampleFilterCount = 6;

/// The library filter for a filter index: 0 Lanczos3, 1 Catmull-Rom,
/// 2 bicubic (Mitchell-Netravali), 3 B-spline, 4 bilinear, 5 box; any other
/// index Catmull-Rom.
int ResampleFilterFor(int filterIndex);

/// Width and height of a bitmap; 0 x 0 for none.
ImageSize BitmapSize(FIBITMAP* bitmap);

/// Replaces the bitmap in `slot` by itself turned 90 degrees, left
/// (counter-clockwise) or right (clockwise). A failed rotation leaves the slot
/// empty. Returns whether the slot holds a bitmap; an empty slot stays empty.
bool RotateBitmap(imagelib::Bitmap& slot, Rotation rotation);

/// Mirrors the bitmap in place. False (and unchanged) when there is no bitmap
/// or the library cannot flip it.
bool FlipBitmap(FIBITMAP* bitmap, FlipAxis axis);

/// Replaces the bitmap in `slot` by itself rescaled to `target` with the
/// filter of `filterIndex`. A failed rescale leaves the slot empty. Returns
/// whether the slot holds a bitmap; an empty slot stays empty.
bool RescaleBitmap(imagelib::Bitmap& slot, ImageSize target, int filterIndex);

}  // namespace pimo::engine
