#include "settings/settings_files.h"

#include <fstream>
#include <optional>

#include "engine/host.h"
#include "platform/known_folders.h"
#include "settings/legacy_settings.h"

namespace pimo::settings {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kOpenFailed =
    "An error occurred while opening the configuration files:\n";

/// The per-user folder, created on first use; none when the platform names no
/// configuration folder.
class UserFolder {
  public:
    explicit UserFolder(const platform::KnownFolders& folders) : m_folders(folders) {}

    std::optional<fs::path> get() {
        if (m_determined) return m_folder;
        m_determined = true;
        const std::optional<fs::path> config = m_folders.userConfigFolder();
        if (!config) return std::nullopt;
        fs::path folder = *config / platform::PathFromUtf8(kUserFolderName);
        std::error_code error;
        fs::create_directories(folder, error);
        if (error || !fs::is_directory(folder))
            throw IniError("Cannot create the folder \"" + platform::PathToUtf8(folder) + "\". " +
                           (error ? error.message() : "A file of that name is in the way"));
        m_folder = std::move(folder);
        return m_folder;
    }

  private:
    const platform::KnownFolders& m_folders;
    bool m_determined = false;
    std::optional<fs::path> m_folder;
};

/// Where earlier versions kept the per-user file: the application-data folder.
fs::path LegacyLocation(std::string_view name, const platform::KnownFolders& folders) {
    const std::optional<fs::path> appData = folders.localAppDataFolder();
    if (!appData) return {};
    return *appData / platform::PathFromUtf8(kUserFolderName) / platform::PathFromUtf8(name);
}

fs::path Located(std::string_view name, const platform::KnownFolders& folders,
                 UserFolder& userFolder) {
    fs::path beside = folders.executableFolder() / platform::PathFromUtf8(name);
    if (folders.settingsBesideProgramAllowed() && IsFileUsable(beside)) return beside;
    if (const auto folder = userFolder.get())
        return MoveLegacySettingsFile(LegacyLocation(name, folders),
                                      *folder / platform::PathFromUtf8(name));
    return beside;
}

}  // namespace

bool IsFileUsable(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::is_regular_file(status)) return false;
    constexpr fs::perms anyWrite =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if ((status.permissions() & anyWrite) == fs::perms::none) return false;
    // Opening for appending changes nothing in the file; it fails for a file
    // we may not write or one that another program holds locked.
    std::ofstream probe(path, std::ios::binary | std::ios::app);
    return probe.is_open();
}

SettingsLocations LocateSettingsFiles(const platform::KnownFolders& folders) {
    UserFolder userFolder(folders);
    SettingsLocations locations;
    locations.settingsFile = Located(kSettingsFileName, folders, userFolder);
    locations.externalToolsFile = Located(kExternalToolsFileName, folders, userFolder);
    return locations;
}

SettingsFiles OpenSettingsFiles(const platform::KnownFolders& folders, engine::Host& host,
                                const IniLocale& locale) {
    SettingsFiles files{IniStore(locale), IniStore(locale)};
    try {
        const SettingsLocations locations = LocateSettingsFiles(folders);
        files.settings.Open(locations.settingsFile);
        files.externalTools.Open(locations.externalToolsFile);
    } catch (const std::exception& error) {
        host.showMessage(engine::MessageKind::Warning, std::string(kOpenFailed) + error.what(),
                         engine::MessageButtons::Ok);
    }
    return files;
}

std::vector<std::string> FlushSettingsFiles(const SettingsFiles& files) {
    std::vector<std::string> failures;
    for (const IniStore* store : {&files.settings, &files.externalTools}) {
        try {
            store->UpdateFile();
        } catch (const std::exception& error) {
            failures.emplace_back(error.what());
        }
    }
    return failures;
}

}  // namespace pimo::settings
