#pragma once
// Version texts "major.minor.release.build" read as numbers and compared.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pimo::update {

struct VersionNumber {
    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    std::int32_t Release = 0;
    std::int32_t Build = 0;

    bool operator==(const VersionNumber&) const = default;
};

/// At most this many characters of a text are read as a version.
inline constexpr std::size_t kVersionTextLength = 20;

/// The message of a text that is no version.
inline constexpr std::string_view kInvalidVersionString = "Invalid version string.";

/// Reads the first 20 characters of `text` (after a UTF-8 byte order mark)
/// as "major.minor.release.build" the way the scan pattern "%d.%d.%d.%d"
/// does: blanks before a number and a sign are allowed, reading stops at the
/// first character that does not fit, and the fields not reached stay 0, so
/// "0.7" is 0.7.0.0. nullopt for an invalid version: all four fields 0, a
/// negative field, or a number too large for 32 bits.
std::optional<VersionNumber> ParseVersionNumber(std::string_view text);

/// Whether `candidate` is newer than `current`: greater at the first field,
/// in the order major, minor, release, build, where the two differ.
bool IsNewerVersion(const VersionNumber& candidate, const VersionNumber& current);

}  // namespace pimo::update
