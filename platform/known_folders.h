#pragma once
// The folders the program needs from the platform: where the running program
// file lives, the per-user configuration and application-data folders, the
// home and Pictures folders.
// The settings store takes them through this interface so that it can be run
// against any folders.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "util/pimoutil.h"

namespace pimo::platform {

class KnownFolders {
  public:
    virtual ~KnownFolders() = default;

    /// Folder of the running program file, without a trailing separator; empty
    /// when the platform cannot tell.
    virtual std::filesystem::path executableFolder() const = 0;
    /// The user's local (non-roaming) application-data folder: on Windows the
    /// local AppData folder, elsewhere the XDG data home ($XDG_DATA_HOME or
    /// ~/.local/share). None when the platform reports no such folder.
    virtual std::optional<std::filesystem::path> localAppDataFolder() const = 0;
    /// The user's Pictures folder; none when it cannot be obtained.
    virtual std::optional<std::filesystem::path> picturesFolder() const = 0;

    /// The folder that holds the user's per-program settings: on Linux the
    /// XDG configuration home ($XDG_CONFIG_HOME or ~/.config), elsewhere the
    /// application-data folder. None when the platform reports no such folder.
    virtual std::optional<std::filesystem::path> userConfigFolder() const {
        return localAppDataFolder();
    }
    /// The user's home folder; none when it cannot be obtained.
    virtual std::optional<std::filesystem::path> homeFolder() const { return std::nullopt; }
    /// Whether settings files may live beside the program file. An installed
    /// copy's folder is shared by every user (and writable by root), so only a
    /// copy that carries its own folder, such as one run from its build tree,
    /// keeps its settings there.
    virtual bool settingsBesideProgramAllowed() const { return true; }
};

/// The folders of the running system.
class SystemKnownFolders final : public KnownFolders {
  public:
    std::filesystem::path executableFolder() const override;
    std::optional<std::filesystem::path> localAppDataFolder() const override;
    std::optional<std::filesystem::path> picturesFolder() const override;
    std::optional<std::filesystem::path> userConfigFolder() const override;
    std::optional<std::filesystem::path> homeFolder() const override;
    bool settingsBesideProgramAllowed() const override;
};

/// Folders chosen by the caller (tests, tools).
class FixedKnownFolders final : public KnownFolders {
  public:
    std::filesystem::path executable;
    std::optional<std::filesystem::path> localAppData;
    std::optional<std::filesystem::path> pictures;
    /// The configuration folder; when not set, the application-data folder
    /// serves for both, as on Windows.
    std::optional<std::filesystem::path> userConfig;
    std::optional<std::filesystem::path> home;
    bool besideProgramAllowed = true;

    std::filesystem::path executableFolder() const override { return executable; }
    std::optional<std::filesystem::path> localAppDataFolder() const override {
        return localAppData;
    }
    std::optional<std::filesystem::path> picturesFolder() const override { return pictures; }
    std::optional<std::filesystem::path> userConfigFolder() const override {
        return userConfig ? userConfig : localAppData;
    }
    std::optional<std::filesystem::path> homeFolder() const override { return home; }
    bool settingsBesideProgramAllowed() const override { return besideProgramAllowed; }
};

/// The folder that file dialogs start in when the user has chosen none: the
/// Pictures folder, else the home folder, never the program's own folder
/// (which an installed copy cannot write). Empty when neither is known.
std::filesystem::path DefaultPicturesFolder(const KnownFolders& folders);

/// True when `programFolder` lies in a CMake build tree: the folder or its
/// parent holds the build's "CMakeCache.txt".
bool IsInBuildTree(const std::filesystem::path& programFolder);

using util::PathFromUtf8;
using util::PathToUtf8;

}  // namespace pimo::platform
