#pragma once
// Baking the colour adjustments into the source image, so that they become
// part of it and the settings return to neutral.

namespace pimo::engine {

class Engine;

/// Applies brightness, contrast, gamma and invert of `engine.settings` to
/// `engine.SourceBitmap` in place, then sets those four to neutral (greyscale
/// is neither applied nor changed). A result made with the old adjustments
/// equals what the adjusted source gives with neutral ones, so the result is
/// left as it is. Does nothing, and returns false, when the adjustments are
/// already neutral, no source is loaded, the engine is busy with a long call,
/// or the library refuses the bitmap; the settings then keep their values.
bool ApplyAdjustmentsToSource(Engine& engine);

}  // namespace pimo::engine
