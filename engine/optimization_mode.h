#pragma once
// The four optimization modes and the rules that follow from them: which
// modes choose settings by themselves, which choose the format too, and the
// mode a stored or chosen number stands for.

namespace pimo::engine {

/// In the order of the mode menu; the numbers are those the settings file stores.
enum class OptimizationMode {
    FullAuto = 0,        // automatic, with the recommended format (FullAuto1)
    AutoKeepFormat = 1,  // automatic, keeping the source's format (Autokeepformat1)
    AutoUserFormat = 2,  // automatic, in the user's format (AutoUserFormat1)
    Manual = 3,          // the user's settings only (Manual1)
};

/// Whether the mode chooses the settings for every image.
constexpr bool IsAutomatic(OptimizationMode mode) {
    return mode != OptimizationMode::Manual;
}

/// Whether the mode chooses the output format as well (a resampled image
/// gets its settings chosen again only in these modes).
constexpr bool ChoosesFormat(OptimizationMode mode) {
    return mode == OptimizationMode::FullAuto || mode == OptimizationMode::AutoKeepFormat;
}

/// The mode a number stands for: 0 to 2 their automatic mode, any other
/// number manual.
constexpr OptimizationMode ModeFromNumber(int number) {
    return number >= 0 && number <= 2 ? static_cast<OptimizationMode>(number)
                                      : OptimizationMode::Manual;
}

constexpr int ModeNumber(OptimizationMode mode) {
    return static_cast<int>(mode);
}

}  // namespace pimo::engine
