#pragma once
// The folders the program needs from the platform: where the running program
// file lives, the per-user application-data folder and the Pictures folder.
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
};

/// The folders of the running system.
class SystemKnownFolders final : public KnownFolders {
  public:
    std::filesystem::path executableFolder() const override;
    std::optional<std::filesystem::path> localAppDataFolder() const override;
    std::optional<std::filesystem::path> picturesFolder() const override;
};

/// Folders chosen by the caller (tests, tools).
class FixedKnownFolders final : public KnownFolders {
  public:
    std::filesystem::path executable;
    std::optional<std::filesystem::path> localAppData;
    std::optional<std::filesystem::path> pictures;

    std::filesystem::path executableFolder() const override { return executable; }
    std::optional<std::filesystem::path> localAppDataFolder() const override {
        return localAppData;
    }
    std::optional<std::filesystem::path> picturesFolder() const override { return pictures; }
};

using util::PathFromUtf8;
using util::PathToUtf8;

}  // namespace pimo::platform
