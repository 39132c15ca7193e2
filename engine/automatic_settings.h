#pragma once
// The automatic settings: from the analysis of the source image, a complete
// proposal of the output format and the settings of all three formats. Only
// the settings record is written; the window moves its controls afterwards
// with their reactions suppressed, so no preview runs and the mode stays
// automatic.

#include <cstdint>
#include <string>

#include "engine/optimization_settings.h"

namespace pimo::engine {

class Engine;

/// What the proposal is made from.
struct AutomaticInputs {
    std::uint32_t UniqueColors = 0;  // 0: the image has not been analysed
    bool Greyscale = false;
    bool HasTransparency = false;
    bool OnlyFullTransparency = false;
    /// Width x height of the source, as an unsigned 32-bit product.
    std::uint32_t Pixels = 0;
    /// Quality of the JPEG file the source came from, 0 when unknown.
    int SourceJpegQuality = 0;
    /// Path of the loaded file; no extension (or "Untitled") for an image
    /// without a file.
    std::string SourcePath;
};

/// The inputs of the engine's current source: its ImageInfo copy, the source
/// bitmap's size and JPEG quality, the loaded file's path.
AutomaticInputs AutomaticInputsOf(const Engine& engine);

/// Proposes the format (modes 0 and 1) and the settings (modes 0, 1 and 2)
/// for the image `inputs` describes, writing them into `settings`. Mode 3 and
/// an image without analysis (UniqueColors 0) leave the record unchanged.
/// The colour-count maximum must already follow the image.
void ChooseAutomaticSettings(OptimizationSettings& settings, const AutomaticInputs& inputs,
                             OptimizationMode mode);

/// The same for the engine's loaded image and its settings.
void ChooseAutomaticSettings(Engine& engine, OptimizationMode mode);

/// The record's part of choosing a PNG preset: an Optimal entry sets the
/// PNG colour count to its 256, 128 or 16, clamped to the maximum; other
/// entries leave it.
void ApplyPngPresetColorCount(OptimizationSettings& settings);
/// The same for the GIF preset and the GIF colour count.
void ApplyGifPresetColorCount(OptimizationSettings& settings);
/// The record's part of a format change: JPEG has no transparency, so the
/// format JPEG selects `SolidColor` (whatever the mode was); PNG and GIF
/// change nothing in the record.
void ApplyFormatToSettings(OptimizationSettings& settings);

/// The output format that the extension of `path` names, compared in lower
/// case: ".jpg" and ".jpeg" JPEG, ".png" PNG, ".gif" GIF; -1 for any other
/// extension or none.
int FormatOfExtension(const std::string& path);

}  // namespace pimo::engine
