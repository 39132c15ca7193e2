// The platform-independent rules over the known folders.

#include "platform/known_folders.h"

namespace pimo::platform {

namespace fs = std::filesystem;

fs::path DefaultPicturesFolder(const KnownFolders& folders) {
    if (auto pictures = folders.picturesFolder()) return *pictures;
    if (auto home = folders.homeFolder()) return *home;
    return {};
}

bool IsInBuildTree(const fs::path& programFolder) {
    if (programFolder.empty()) return false;
    std::error_code error;
    // Targets sit in the build folder itself or in one of its subfolders
    // (build/app/pimo); the cache file never ships with an installed copy.
    for (const fs::path& folder : {programFolder, programFolder.parent_path()})
        if (fs::is_regular_file(folder / "CMakeCache.txt", error)) return true;
    return false;
}

}  // namespace pimo::platform
