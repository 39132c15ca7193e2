#pragma once
// The part of the main window's state that the settings store loads and
// saves besides the two records: the window's placement and the view states
// of its menu commands, kept as plain values the window binds its widgets to,
// and the reactions that loading runs after some values, as callbacks the
// window plugs in. An empty callback does nothing.

#include <functional>
#include <type_traits>

#include "engine/optimization_settings.h"
#include "engine/program_options.h"

namespace pimo::settings {

/// Values of `WindowState`.
inline constexpr int kWindowNormal = 0;
inline constexpr int kWindowMinimized = 1;
inline constexpr int kWindowMaximized = 2;

struct WindowSettings {
    // Placement. Before loading, `Top` and `Left` hold the position the
    // platform chose; before saving, the window copies its geometry in.
    int Width = 792;
    int Height = 580;
    int WindowState = kWindowNormal;
    int Top = 0;
    int Left = 0;
    /// Size of the whole desktop (all monitors): a stored position at or
    /// beyond it is not applied.
    int DesktopWidth = 0;
    int DesktopHeight = 0;

    // View states of the menu commands and the adjustments check box.
    bool DualView = true;
    bool FitOnlyBig = true;
    bool SaveImageAdjustments = false;

    /// Set by hand in the file only: the newest dialogs are requested and the
    /// stored Save As folder is not read.
    bool UseLatestCommonDialogs = false;

    /// While on, a change of a control starts no preview and no switch to
    /// manual mode. Loading the settings turns it on for its whole run.
    bool SuppressSettingsEvents = false;

    // Reactions, called by `LoadSettings` in its order.
    std::function<void()> GIFPresetReaction;  // after GIFPalettePreset
    std::function<void()> PNGPresetReaction;  // after PNGPalettePreset
    /// After ShowCaptions read false: toolbars without captions, 32 by 32
    /// buttons, top panel 42 pixels high.
    std::function<void()> CaptionsOffReaction;
    /// After Mode: the mode selection with the mode read (a stored number
    /// other than 0 to 2 reads as manual).
    std::function<void(engine::OptimizationMode mode)> ModeSelection;
};

/// Everything the keys of section "PIMO" feed.
struct SettingsFields {
    engine::OptimizationSettings& settings;
    engine::ProgramOptions& options;
    WindowSettings& window;

    /// The record of type `Record`, for binding keys to their fields.
    template <class Record>
    Record& record() const {
        if constexpr (std::is_same_v<Record, engine::OptimizationSettings>)
            return settings;
        else if constexpr (std::is_same_v<Record, engine::ProgramOptions>)
            return options;
        else
            return window;
    }
};

}  // namespace pimo::settings
