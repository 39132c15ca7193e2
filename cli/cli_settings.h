#pragma once
// The stored settings pimo-cli starts from, and the external optimizer
// presets it can apply: the "Pimo.ini" given with --settings, else the
// user's own one when there is one, else the built-in defaults.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/optimization_settings.h"
#include "optimizers/optimizer_presets.h"
#include "settings/ini_store.h"

namespace pimo::cli {

/// The value of --settings among `arguments` ("--settings FILE" or
/// "--settings=FILE", before any "--"), if given. Throws UsageError when the
/// option has no value.
std::optional<std::string> SettingsFileArgument(const std::vector<std::string>& arguments);

/// The user's own settings file (the per-user "Pimo" folder inside the
/// configuration folder, or inside the application-data folder where earlier
/// versions kept it while only that one exists), whether or not it exists.
std::optional<std::filesystem::path> UserSettingsFile();

struct StoredSettings {
    /// Section "PIMO" of the file read, or the defaults when none was read.
    engine::OptimizationSettings settings;
    /// The file read; empty when none was.
    std::filesystem::path file;
    /// The settings file's store and the external-tools file beside it, kept
    /// for building the optimizer presets.
    settings::IniStore store;
    settings::IniStore externalTools;
};

/// Reads `file` when given: a missing or unreadable file is a UsageError.
/// Without it reads the user's own file when it exists. Problems in the
/// values read go to standard error as warnings.
std::unique_ptr<StoredSettings> LoadStoredSettings(const std::optional<std::string>& file);

/// The index in `presets` that --optimizer's `value` names: a number is the
/// position in the preset list (0 the first internal preset), any other text
/// the name of a custom preset. Throws UsageError when it names none.
int FindOptimizerPreset(const optimizers::OptimizerPresets& presets, const std::string& value);

}  // namespace pimo::cli
