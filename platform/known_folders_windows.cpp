// Known folders on Windows: the module file name and the shell's known
// folders (local AppData, Pictures).

#include <windows.h>
// windows.h first: the shell headers need its types.
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "platform/known_folders.h"

namespace pimo::platform {

namespace {

namespace fs = std::filesystem;

std::optional<fs::path> ShellFolder(REFKNOWNFOLDERID id) {
    PWSTR text = nullptr;
    std::optional<fs::path> folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &text)) && text != nullptr)
        folder = fs::path(text);
    ::CoTaskMemFree(text);
    return folder;
}

}  // namespace

fs::path SystemKnownFolders::executableFolder() const {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return fs::path(buffer).parent_path();
        }
        // Truncated: try again with more room.
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<fs::path> SystemKnownFolders::localAppDataFolder() const {
    return ShellFolder(FOLDERID_LocalAppData);
}

std::optional<fs::path> SystemKnownFolders::picturesFolder() const {
    return ShellFolder(FOLDERID_Pictures);
}

std::optional<fs::path> SystemKnownFolders::userConfigFolder() const {
    return localAppDataFolder();
}

std::optional<fs::path> SystemKnownFolders::homeFolder() const {
    return ShellFolder(FOLDERID_Profile);
}

// A copy unpacked anywhere carries its settings when it may write them there.
bool SystemKnownFolders::settingsBesideProgramAllowed() const {
    return true;
}

}  // namespace pimo::platform
