// Rotation, flipping and resampling of the source image, followed by the
// loaded-image sequence so that analysis, settings and preview follow.

#include "engine/engine.h"
#include "engine/geometry.h"
#include "engine/imagelib/jpeg_exif.h"

namespace pimo::engine {

std::string Engine::LoadedFilePath() const {
    return SourcePath == "Untitled" ? std::string() : SourcePath;
}

void Engine::Rotate(Rotation rotation) {
    if (!SourceBitmap || Busy()) return;
    {
        BusyScope scope(*this, "");
        RotateBitmap(SourceBitmap, rotation);
        // The user turned the picture as the view shows it: an EXIF
        // orientation would turn the result once more.
        imagelib::ResetExifOrientation(SourceBitmap.get());
    }
    // Turned images keep their size class: no second large-image question.
    OpenLoadedImage(LoadedFilePath(), false, true);
}

void Engine::Flip(FlipAxis axis) {
    if (!SourceBitmap || Busy()) return;
    {
        BusyScope scope(*this, "");
        FlipBitmap(SourceBitmap.get(), axis);
        imagelib::ResetExifOrientation(SourceBitmap.get());
    }
    OpenLoadedImage(LoadedFilePath(), false, true);
}

bool Engine::ResampleImage(int width, int height, bool interactive, bool percent, bool keepAspect,
                           int filterIndex) {
    if (!SourceBitmap) return false;
    if (Busy()) return true;  // the source stays as it is
    const std::optional<ImageSize> target = ResampleTargetSize(
        BitmapSize(SourceBitmap.get()), ResampleRequest{width, height, percent, keepAspect});
    if (!target) return SourceBitmap != nullptr;

    if (interactive) {
        status("Resampling...");
        busy(true);
    }
    {
        BusyScope scope(*this, "");
        RescaleBitmap(SourceBitmap, *target, filterIndex);
    }
    if (interactive) {
        busy(false);
        status("Displaying...");
        OpenLoadedImage(LoadedFilePath(), true, true);
    } else {
        AnalyseSource();
        if (ChoosesFormat(settings.Mode)) ChooseSettingsForMode();
    }
    return SourceBitmap != nullptr;
}

}  // namespace pimo::engine
