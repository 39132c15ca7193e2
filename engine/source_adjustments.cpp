#include "engine/source_adjustments.h"

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

bool ApplyAdjustmentsToSource(Engine& engine) {
    OptimizationSettings& settings = engine.settings;
    // A busy engine is still reading the source; changing it underneath would
    // mix two images in one result.
    if (settings.AdjustmentsNeutral() || !engine.SourceBitmap || engine.Busy()) return false;
    // The same call and values the pipeline uses, so the result on display
    // stays true to the adjusted source.
    if (!::FreeImage_AdjustColors(engine.SourceBitmap.get(), settings.AdjustBrightness,
                                  settings.AdjustContrast, settings.AdjustGamma / 100.0,
                                  settings.AdjustInvert))
        return false;
    settings.AdjustBrightness = 0;
    settings.AdjustContrast = 0;
    settings.AdjustGamma = 100;
    settings.AdjustInvert = false;
    engine.NotifyStateChanged();
    return true;
}

}  // namespace pimo::engine
