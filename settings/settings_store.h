#pragma once
// Loading and saving the main window's settings (section "PIMO" of the
// settings file) from the key table, in the order the program's life needs
// them: the placement while the window is created, everything else in the
// deferred start-up step, the current values at close, the program options
// when the options dialog is confirmed.

#include <optional>
#include <string>
#include <string_view>

#include "settings/ini_store.h"
#include "settings/key_table.h"
#include "settings/window_settings.h"

namespace pimo::engine {
class Host;
}
namespace pimo::platform {
class KnownFolders;
}

namespace pimo::settings {

/// The start of the message for settings that could not be written, followed
/// by the failure's text. The message is spelled so.
inline constexpr std::string_view kSettingsWriteFailed =
    "An error occured while updating configuration data:\n";

/// Size, state and, unless the state read is minimized, the position of the
/// main window (a position at or beyond the desktop's size is not applied).
/// Returns a warning for each value that was unreadable or out of range.
SettingsWarnings LoadWindowPlacement(const IniStore& store, SettingsFields fields);

/// Every start-up key into its field, running the reactions in their order,
/// with `SuppressSettingsEvents` on throughout and off at the end. A failure
/// (a reaction that throws) stops at that key, leaves the later fields as they
/// are and is reported to `host` as a warning: "An error occurred while
/// reading configuration data:\n" and the error's text. A value that is
/// unreadable gets the key's default and one out of range is brought into
/// it; each is reported to `host` in one warning, a line per key, and
/// returned (see `SettingsWarnings`), in key order.
SettingsWarnings LoadSettings(const IniStore& store, SettingsFields fields,
                              const platform::KnownFolders& folders, engine::Host& host);

/// When `SaveSettingsOnExit` is on, writes the current values of the keys
/// kept at close, in their order. A failure (a value the file cannot hold)
/// stops at that key and is reported to `host` as an error: "An error occured
/// while updating configuration data:\n" and the error's text.
void SaveSettings(IniStore& store, SettingsFields fields, engine::Host& host);

/// The options dialog's confirmation: writes the program options at once,
/// whatever `SaveSettingsOnExit` says. Returns the failure's text, if any.
std::optional<std::string> SaveProgramOptions(IniStore& store, SettingsFields fields);

}  // namespace pimo::settings
