#pragma once
// Brightness, contrast, gamma and invert, applied together or not at all.

#include "engine/imagelib/handles.h"
#include "engine/optimization_settings.h"

namespace pimo::engine {

/// Applies the four colour adjustments of `settings` to `bitmap` in one
/// library call. Neutral values (brightness 0, contrast 0, gamma 100, no
/// invert) leave the bitmap untouched without calling the library. Returns
/// whether the library was called.
bool ApplyColorAdjustments(FIBITMAP* bitmap, const OptimizationSettings& settings);

}  // namespace pimo::engine
