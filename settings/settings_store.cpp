#include "settings/settings_store.h"

#include <string>
#include <vector>

#include "engine/host.h"
#include "platform/known_folders.h"
#include "settings/settings_keys.h"

namespace pimo::settings {

namespace {

constexpr std::string_view kReadFailed = "An error occurred while reading configuration data:\n";

void LoadPhase(const IniStore& store, ReadPhase phase, SettingsFields& fields,
               const platform::KnownFolders& folders, SettingsWarnings& warnings) {
    for (const SettingsKey& key : SettingsKeys())
        if (key.readAt == phase) LoadKey(store, key, fields, folders, warnings);
}

/// Turns `SuppressSettingsEvents` on for its lifetime, also when a step throws.
class SuppressedSettingsEvents {
  public:
    explicit SuppressedSettingsEvents(WindowSettings& window) : m_window(window) {
        m_window.SuppressSettingsEvents = true;
    }
    ~SuppressedSettingsEvents() { m_window.SuppressSettingsEvents = false; }
    SuppressedSettingsEvents(const SuppressedSettingsEvents&) = delete;
    SuppressedSettingsEvents& operator=(const SuppressedSettingsEvents&) = delete;

  private:
    WindowSettings& m_window;
};

}  // namespace

SettingsWarnings LoadWindowPlacement(const IniStore& store, SettingsFields fields) {
    // The placement keys need no folders.
    const platform::FixedKnownFolders none;
    SettingsWarnings warnings;
    LoadPhase(store, ReadPhase::WindowCreation, fields, none, warnings);
    return warnings;
}

SettingsWarnings LoadSettings(const IniStore& store, SettingsFields fields,
                              const platform::KnownFolders& folders, engine::Host& host) {
    std::string failure;
    SettingsWarnings warnings;
    {
        SuppressedSettingsEvents suppressed(fields.window);
        try {
            LoadPhase(store, ReadPhase::StartUp, fields, folders, warnings);
        } catch (const std::exception& error) {
            failure = std::string(kReadFailed) + error.what();
        }
    }
    // Reported once the events flow again, so that the window is usable
    // behind the message box.
    if (!failure.empty())
        host.showMessage(engine::MessageKind::Warning, failure, engine::MessageButtons::Ok);
    // Values the file holds that could not be used as they are: said once,
    // all together.
    if (!warnings.empty()) {
        std::string text;
        for (const std::string& warning : warnings) text += (text.empty() ? "" : "\n") + warning;
        host.showMessage(engine::MessageKind::Warning, text, engine::MessageButtons::Ok);
    }
    return warnings;
}

void SaveSettings(IniStore& store, SettingsFields fields, engine::Host& host) {
    if (!fields.options.SaveSettingsOnExit) return;
    try {
        for (const SettingsKey* key : KeysWrittenAtClose()) StoreKey(store, *key, fields);
    } catch (const std::exception& error) {
        host.showMessage(engine::MessageKind::Error,
                         std::string(kSettingsWriteFailed) + error.what(),
                         engine::MessageButtons::Ok);
    }
}

std::optional<std::string> SaveProgramOptions(IniStore& store, SettingsFields fields) {
    try {
        for (const SettingsKey* key : KeysWrittenByOptions()) StoreKey(store, *key, fields);
    } catch (const std::exception& error) {
        return error.what();
    }
    return std::nullopt;
}

}  // namespace pimo::settings
