#pragma once
// Transparency in palette outputs: graded alpha becomes on/off transparency
// of one reserved palette entry.

#include "engine/image_info.h"
#include "engine/imagelib/handles.h"
#include "engine/optimization_settings.h"

namespace pimo::engine {

/// Marks, in a 1-, 4- or 8-bit working bitmap, every pixel whose source alpha
/// is at or below `threshold` with the last palette index, and makes that
/// entry (only) transparent. Nothing happens for an opaque source or another depth.
void ApplyPaletteTransparency(FIBITMAP* source, FIBITMAP* working, int threshold);

/// Whether the output format can keep transparency: JPEG cannot, its
/// background is filled.
bool FormatKeepsTransparency(int format);
/// Brings the transparency treatment in line with the output format: a
/// JPEG's background is filled with the solid colour.
void ApplyFormatTransparencyRule(OptimizationSettings& settings);

/// Gives every pixel of a 24- or 32-bit working bitmap whose source alpha is
/// at or below `threshold` the colour of a visible pixel (the last one before
/// it in the image, or the first one for pixels before any). These pixels
/// become the reserved transparent entry afterwards, so their hidden colours
/// must not take palette entries from the visible ones. Nothing happens for
/// an opaque source, other depths or an image without a visible pixel.
void HideTransparentColours(FIBITMAP* source, FIBITMAP* working, int threshold);

/// Whether the palette output must reserve an entry for transparency: the
/// source is transparent and Keep is selected (and offered, so not for JPEG).
bool ReservesTransparentEntry(const OptimizationSettings& settings, bool sourceTransparent);

/// Whether the threshold decides transparency for the current output (the
/// simplification indicator): PNG palettes when the source had real alpha or
/// partial transparency, GIF when it had real alpha. JPEG keeps `current`.
bool SimplifiesTransparency(int format, int pngPreset, bool originalHasAlpha,
                            bool onlyFullTransparency, bool current);

class Engine;

/// The same rule for the source `engine` holds and its settings; `current`
/// when no source is loaded.
bool SimplifiesTransparency(const Engine& engine, bool current);

}  // namespace pimo::engine
