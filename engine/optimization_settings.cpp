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
    return PngPresetKind(index + 1) == PresetKind::None ? PresetKind::Quantize
                                                        : PngPresetKind(index + 1);
}

int PngCompressionFlags(int compressionType) {
    return kPngCompressionFlags[static_cast<std::size_t>(std::clamp(compressionType, 0, 4))];
}

void OptimizationSettings::SetColorCountMaximum(int maximum) {
    ColorCountMaximum = std::clamp(maximum, kMinColorCount, kMaxColorCount);
    GIFMaxColors = std::clamp(GIFMaxColors, kMinColorCount, ColorCountMaximum);
    PNGMaxColors = std::clamp(PNGMaxColors, kMinColorCount, ColorCountMaximum);
}

bool OptimizationSettings::AdjustmentsNeutral() const {
    return AdjustBrightness == 0 && AdjustContrast == 0 && AdjustGamma == 100 && !AdjustInvert;
}

}  // namespace pimo::engine
