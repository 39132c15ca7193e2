// Reading the stored settings and resolving --optimizer.

#include "cli/cli_settings.h"

#include <charconv>
#include <iostream>

#include "cli/cli_arguments.h"
#include "cli/console_host.h"
#include "engine/program_options.h"
#include "platform/known_folders.h"
#include "settings/settings_files.h"
#include "settings/settings_store.h"
#include "settings/window_settings.h"

namespace pimo::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSettingsOption = "--settings";

}  // namespace

std::optional<std::string> SettingsFileArgument(const std::vector<std::string>& arguments) {
    std::optional<std::string> file;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--") break;
        if (argument == kSettingsOption) {
            if (index + 1 >= arguments.size())
                throw UsageError(std::string(kSettingsOption) + " needs a value");
            file = arguments[++index];
        } else if (argument.starts_with(std::string(kSettingsOption) + "=")) {
            file = argument.substr(kSettingsOption.size() + 1);
        }
    }
    if (file && file->empty()) throw UsageError(std::string(kSettingsOption) + " needs a file");
    return file;
}

std::optional<fs::path> UserSettingsFile() {
    const platform::SystemKnownFolders folders;
    const std::optional<fs::path> configFolder = folders.userConfigFolder();
    if (!configFolder) return std::nullopt;
    const fs::path file = *configFolder / settings::kUserFolderName / settings::kSettingsFileName;
    // Until the desktop program has moved it, the file may still be where
    // earlier versions kept it; only read here, never moved.
    std::error_code error;
    if (const std::optional<fs::path> dataFolder = folders.localAppDataFolder();
        dataFolder && !fs::exists(file, error)) {
        const fs::path old = *dataFolder / settings::kUserFolderName / settings::kSettingsFileName;
        if (fs::is_regular_file(old, error)) return old;
    }
    return file;
}

std::unique_ptr<StoredSettings> LoadStoredSettings(const std::optional<std::string>& file) {
    auto stored = std::make_unique<StoredSettings>();
    fs::path path;
    std::error_code error;
    if (file) {
        path = platform::PathFromUtf8(*file);
        if (!fs::is_regular_file(path, error))
            throw UsageError("settings file not found: " + *file);
    } else if (const std::optional<fs::path> user = UserSettingsFile();
               user && fs::is_regular_file(*user, error)) {
        path = *user;
    } else {
        return stored;
    }
    try {
        stored->store.Open(path);
    } catch (const settings::IniError& failure) {
        throw UsageError("cannot read the settings file " + platform::PathToUtf8(path) + ": " +
                         failure.what());
    }
    stored->file = path;
    // Custom optimizer presets live in the external-tools file beside it.
    const fs::path tools = path.parent_path() / settings::kExternalToolsFileName;
    if (fs::is_regular_file(tools, error)) {
        try {
            stored->externalTools.Open(tools);
        } catch (const settings::IniError& failure) {
            std::cerr << "pimo-cli: " << failure.what() << '\n';
        }
    }

    engine::ProgramOptions options;
    settings::WindowSettings window;
    cli::ConsoleHost host;
    const platform::SystemKnownFolders folders;
    settings::LoadSettings(stored->store, {stored->settings, options, window}, folders, host);
    return stored;
}

int FindOptimizerPreset(const optimizers::OptimizerPresets& presets, const std::string& value) {
    const int count = presets.tools().Count();
    int index = 0;
    const char* end = value.data() + value.size();
    const auto [stop, failure] = std::from_chars(value.data(), end, index);
    if (!value.empty() && failure == std::errc() && stop == end) {
        if (index < 0 || index >= count) {
            throw UsageError("--optimizer needs a preset from 0 to " + std::to_string(count - 1) +
                             ", not \"" + value + "\"");
        }
        return index;
    }
    for (int preset = presets.internalPresetCount(); preset < count; ++preset)
        if (presets.tools().At(preset).Name == value) return preset;
    throw UsageError("--optimizer: no optimizer preset named \"" + value + "\"");
}

}  // namespace pimo::cli
