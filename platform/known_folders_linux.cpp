// Known folders on Linux: the program file from /proc, the XDG base and user
// directories for the per-user configuration, data and Pictures folders.

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/known_folders.h"

namespace pimo::platform {

namespace {

namespace fs = std::filesystem;

/// An environment variable that holds an absolute path; none otherwise (the
/// XDG rules ignore relative values).
std::optional<fs::path> AbsolutePathFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    fs::path path(value);
    if (!path.is_absolute()) return std::nullopt;
    return path;
}

std::optional<fs::path> HomeFolder() {
    if (auto home = AbsolutePathFromEnvironment("HOME")) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return fs::path(entry->pw_dir);
    return std::nullopt;
}

/// The value of `XDG_PICTURES_DIR` in the user-dirs file, with "$HOME"
/// expanded; none when the file or the entry is missing.
std::optional<fs::path> PicturesFromUserDirs(const fs::path& home) {
    const fs::path configHome =
        AbsolutePathFromEnvironment("XDG_CONFIG_HOME").value_or(home / ".config");
    std::ifstream file(configHome / "user-dirs.dirs");
    const std::string prefix = "XDG_PICTURES_DIR=\"";
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(prefix, 0) != 0) continue;
        const std::size_t end = line.find('"', prefix.size());
        if (end == std::string::npos) return std::nullopt;
        std::string value = line.substr(prefix.size(), end - prefix.size());
        // Only "$HOME" itself or "$HOME/..." is expanded, as the shell would.
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0)
            value = home.string() + value.substr(5);
        const fs::path folder(value);
        // An entry that points at the home folder itself disables the folder.
        // xdg-user-dirs writes "$HOME/" for a disabled folder: compare both
        // with a trailing separator so that it matches either spelling.
        if (!folder.is_absolute() ||
            (folder / "").lexically_normal() == (home / "").lexically_normal())
            return std::nullopt;
        return folder;
    }
    return std::nullopt;
}

}  // namespace

fs::path SystemKnownFolders::executableFolder() const {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return program.parent_path();
}

std::optional<fs::path> SystemKnownFolders::localAppDataFolder() const {
    if (auto dataHome = AbsolutePathFromEnvironment("XDG_DATA_HOME")) return dataHome;
    if (auto home = HomeFolder()) return *home / ".local" / "share";
    return std::nullopt;
}

std::optional<fs::path> SystemKnownFolders::userConfigFolder() const {
    if (auto configHome = AbsolutePathFromEnvironment("XDG_CONFIG_HOME")) return configHome;
    if (auto home = HomeFolder()) return *home / ".config";
    return std::nullopt;
}

std::optional<fs::path> SystemKnownFolders::homeFolder() const {
    return HomeFolder();
}

bool SystemKnownFolders::settingsBesideProgramAllowed() const {
    return IsInBuildTree(executableFolder());
}

std::optional<fs::path> SystemKnownFolders::picturesFolder() const {
    const auto home = HomeFolder();
    if (!home) return std::nullopt;
    if (auto pictures = PicturesFromUserDirs(*home)) return pictures;
    std::error_code error;
    if (fs::is_directory(*home / "Pictures", error)) return *home / "Pictures";
    return std::nullopt;
}

}  // namespace pimo::platform
