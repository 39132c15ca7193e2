#include "settings/legacy_settings.h"

#include <system_error>

namespace pimo::settings {

namespace fs = std::filesystem;

namespace {

// Copies beside the target first and renames it into place, so that a copy
// cut short never stands where the settings are read.
bool CopyIntoPlace(const fs::path& from, const fs::path& to) {
    fs::path partial = to;
    partial += ".moving";
    std::error_code error;
    if (fs::copy_file(from, partial, fs::copy_options::overwrite_existing, error)) {
        fs::rename(partial, to, error);
        if (!error) return true;
    }
    fs::remove(partial, error);
    return false;
}

}  // namespace

fs::path MoveLegacySettingsFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    if (from.empty() || !fs::is_regular_file(from, error)) return to;
    // A file already in the new place wins (this also covers a platform whose
    // old and new folders are one).
    if (fs::exists(to, error) || error) return to;
    fs::rename(from, to, error);
    if (error) {
        // Another file system: rename cannot cross it.
        if (!CopyIntoPlace(from, to)) return from;
        fs::remove(from, error);
    }
    // The old folder goes once it is empty; remove() leaves a folder with files.
    fs::remove(from.parent_path(), error);
    return to;
}

}  // namespace pimo::settings
