#pragma once
// Reduction of a true-colour bitmap to an 8-bit palette bitmap: the exact
// palette when the image already fits, otherwise one of three quantizers.

#include <FreeImage.h>

namespace pimo::imagelib {

/// The quantization methods the settings offer, by their stored number.
enum class Quantizer { Wu = 0, NeuQuant = 1, ImageQuant = 2 };

/// The method stored as `number`; anything outside 0..2 is Wu.
Quantizer QuantizerFromNumber(int number);

/// An 8-bit palette bitmap of a 24- or 32-bit `bitmap` (alpha ignored) with
/// at most `colors` (1..256) entries in use, the others black. When the image
/// has no more than `colors` distinct colours its exact palette is built and
/// no pixel changes, whatever the method; otherwise `method` chooses the
/// palette (ImageQuant also dithers, Floyd-Steinberg). The carried data (see
/// CarryBitmapData) goes with the result. nullptr for another depth or when
/// the library fails.
FIBITMAP* QuantizeToPalette(FIBITMAP* bitmap, Quantizer method, int colors);

}  // namespace pimo::imagelib
