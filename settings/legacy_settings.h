#pragma once
// Settings files that earlier versions kept in the per-user data folder are
// moved once into the configuration folder, where they belong now.

#include <filesystem>

namespace pimo::settings {

/// Moves the file at `from` to `to` when `from` exists and `to` does not,
/// creating nothing else; the folder `to` lives in must exist. Once a file is
/// in the new place, a file in the old place is never looked at again. A move
/// across file systems copies, then removes the old file only once the copy
/// is complete. Returns the path to use: `to`, or `from` when the move failed,
/// so that the settings are still read and nothing is lost.
std::filesystem::path MoveLegacySettingsFile(const std::filesystem::path& from,
                                             const std::filesystem::path& to);

}  // namespace pimo::settings
