#pragma once
// Where the two INI files live, and opening and writing them. A copy of the
// program that carries both files, writable, beside its program file uses
// them there (only a copy that may keep settings there, such as one run from
// its build tree); each file that is missing or read-only there lives in the
// per-user folder "Pimo" of the configuration folder instead.

#include <filesystem>
#include <string>
#include <vector>

#include "settings/ini_store.h"

namespace pimo::engine {
class Host;
}
namespace pimo::platform {
class KnownFolders;
}

namespace pimo::settings {

inline constexpr std::string_view kSettingsFileName = "Pimo.ini";
inline constexpr std::string_view kExternalToolsFileName = "Pimo-external-tools.ini";
/// The per-user folder, inside the platform's configuration folder (earlier
/// versions: inside the local application-data folder).
inline constexpr std::string_view kUserFolderName = "Pimo";

/// The main window's two in-memory files. A store that could not be opened
/// stays empty and is never written to disk.
struct SettingsFiles {
    IniStore settings;       // "Pimo.ini"
    IniStore externalTools;  // "Pimo-external-tools.ini"
};

struct SettingsLocations {
    std::filesystem::path settingsFile;
    std::filesystem::path externalToolsFile;
};

/// True when `path` is a regular file that is not read-only and opens for
/// writing. Read-only means no write permission bit is set at all, the
/// counterpart of the read-only attribute; it is checked from the bits rather
/// than by trying, because a privileged user can open such a file anyway.
bool IsFileUsable(const std::filesystem::path& path);

/// Applies the location rule to both files. Each file beside the program file
/// that is not usable (or may not be used there) goes to the per-user folder,
/// which is created when it is missing; a file of that name that an earlier
/// version left in the application-data folder is moved there first. When the
/// platform names no configuration folder, the file stays beside the program
/// file. Throws IniError when the per-user folder cannot be created.
SettingsLocations LocateSettingsFiles(const platform::KnownFolders& folders);

/// Locates and opens both files, the settings file first; a missing file
/// gives an empty store. A failure is reported to `host` as a warning,
/// "An error occurred while opening the configuration files:\n" and the
/// error's text; the file that failed and every file after it stay unopened.
SettingsFiles OpenSettingsFiles(const platform::KnownFolders& folders, engine::Host& host,
                                const IniLocale& locale = {});

/// Writes the settings file, then the external-tools file, each in full.
/// Stores that are not open are skipped. Returns the texts of the failures,
/// which nobody is told about; empty when everything was written.
std::vector<std::string> FlushSettingsFiles(const SettingsFiles& files);

}  // namespace pimo::settings
