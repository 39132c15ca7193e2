#include "engine/optimization_settings.h"

#include <algorithm>

namespace pimo::engine {

PresetKind PngPresetKind(int index) {
    if (index < 0 || index >= static_cast<int>(kPngPalettePresets.size())) return PresetKind::None;
    return kPngPalettePresets[static_cast<std::size_t>(index)].kind;
}

PresetKind GifPresetKind(int index) {
    // The GIF list starts at the first Optimal entry; no selection quantizes too.
    if (index < 0) return PresetKind::Quantize;
    return PngPresetKind(index + 1) == PresetKind::None ? PresetKind::Quantize : PngPresetKind(index + 1);
}

int PngCompressionFlags(int compressionType) {
    return kPngCompressionFlags[static_cast<std::size_t>(std::clamp(compressionType, 0, 4))];
}

void OptimizationSettings::Clamp() {
    Format = std::clamp(Format, 0, 2);
    Mode = std::clamp(Mode, 0, 3);
    JPEGQuality = std::clamp(JPEGQuality, 1, 100);
    JPEGChromaSubsampling = std::clamp(JPEGChromaSubsampling, 0, 3);
    GIFPalettePreset = std::clamp(GIFPalettePreset, -1, 3);
    GIFQuantizationMethod = std::clamp(GIFQuantizationMethod, 0, 2);
    PNGPalettePreset = std::clamp(PNGPalettePreset, -1, 4);
    PNGQuantizationMethod = std::clamp(PNGQuantizationMethod, 0, 2);
    PNGCompressionType = std::clamp(PNGCompressionType, 0, 4);
    PNGOptimizer = std::max(PNGOptimizer, -1);
    TransparencyThreshold = std::clamp(TransparencyThreshold, 0, 254);
    AdjustBrightness = std::clamp(AdjustBrightness, -100, 100);
    AdjustContrast = std::clamp(AdjustContrast, -100, 100);
    AdjustGamma = std::clamp(AdjustGamma, 1, 800);
    ResampleFilter = std::clamp(ResampleFilter, 0, 5);
    ResampleUnit = std::clamp(ResampleUnit, 0, 1);
    SetColorCountMaximum(ColorCountMaximum);
}

void OptimizationSettings::SetColorCountMaximum(int maximum) {
    ColorCountMaximum = std::clamp(maximum, 2, 256);
    GIFMaxColors = std::clamp(GIFMaxColors, 2, ColorCountMaximum);
    PNGMaxColors = std::clamp(PNGMaxColors, 2, ColorCountMaximum);
}

bool OptimizationSettings::AdjustmentsNeutral() const {
    return AdjustBrightness == 0 && AdjustContrast == 0 && AdjustGamma == 100 && !AdjustInvert;
}

}  // namespace pimo::engine
