#pragma once
// The time stamps of a file, read from one file and given to another, so
// that a rewritten file can keep the date and time of its source.

#include <cstdint>
#include <optional>
#include <string>

namespace pimo::platform {

/// A point in time as seconds and nanoseconds since 1 January 1970 (UTC).
struct FileTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    bool operator==(const FileTime&) const = default;
};

struct FileTimes {
    /// The creation time, where the platform keeps and can set one (Windows);
    /// none elsewhere.
    std::optional<FileTime> creation;
    FileTime lastAccess;
    FileTime lastWrite;
};

/// The time stamps of the file at `path` (UTF-8); none when there is no such
/// file or its times cannot be read.
std::optional<FileTimes> ReadFileTimes(const std::string& path);

/// Gives the existing file at `path` (UTF-8) the last-access and last-write
/// times of `times`, and its creation time where the platform can set one.
/// False when the file does not exist or the times cannot be set.
bool WriteFileTimes(const std::string& path, const FileTimes& times);

}  // namespace pimo::platform
