#include "engine/color_adjustments.h"

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

bool ApplyColorAdjustments(FIBITMAP* bitmap, const OptimizationSettings& settings) {
    if (!bitmap || settings.AdjustmentsNeutral()) return false;
    ::FreeImage_AdjustColors(bitmap, settings.AdjustBrightness, settings.AdjustContrast,
                             settings.AdjustGamma / 100.0, settings.AdjustInvert);
    return true;
}

}  // namespace pimo::engine
