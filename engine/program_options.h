#pragma once
// Program-wide options the engine and the windows read; each field bears its
// INI key's name. The settings store loads and saves them.

#include <string>

namespace pimo::engine {

struct ProgramOptions {
    bool SaveSettingsOnExit = true;
    bool ShowCaptions = true;
    bool AskToResizeLargeImages = true;
    int LargeImagesResolution = 0;  // 1..20 once read; units of 1,048,576 pixels
    float ZoomFactor = 1.2f;
    bool AutoRotateEXIF = false;
    bool Check4Updates = true;
    double LastUpdateCheck = 0.0;  // days since the date system's day zero (30 Dec 1899)
    std::string SaveAsFolder;
    bool ShowDialogOnSave = false;
    bool PNGSaveBestCompressionState = false;
    bool PNGSaveApplyOptimizerState = false;
    /// Every settings change and every load re-runs the preview (menu `automat`).
    bool AutomaticPreview = true;
    /// The main window measures each result's quality and shows it beside its size.
    bool ShowQualityScore = true;
};

}  // namespace pimo::engine
