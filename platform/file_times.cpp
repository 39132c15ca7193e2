#include "platform/file_times.h"

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace pimo::platform {

#ifdef _WIN32

namespace {

// FILETIME counts 100-nanosecond intervals since 1 January 1601.
constexpr std::int64_t kEpochDifference = 11644473600LL;  // seconds from 1601 to 1970

FileTime FromFileTime(const FILETIME& time) {
    const std::int64_t ticks = (std::int64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    std::int64_t seconds = ticks / 10000000 - kEpochDifference;
    std::int64_t rest = ticks % 10000000;
    return FileTime{seconds, static_cast<std::uint32_t>(rest * 100)};
}

FILETIME ToFileTime(const FileTime& time) {
    const std::int64_t ticks =
        (time.seconds + kEpochDifference) * 10000000 + time.nanoseconds / 100;
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

std::wstring WidePath(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end())).wstring();
}

}  // namespace

std::optional<FileTimes> ReadFileTimes(const std::string& path) {
    // A directory search sees the times of any file, whatever its attributes
    // and whoever holds it open.
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(WidePath(path).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(search);
    FileTimes times;
    times.creation = FromFileTime(data.ftCreationTime);
    times.lastAccess = FromFileTime(data.ftLastAccessTime);
    times.lastWrite = FromFileTime(data.ftLastWriteTime);
    return times;
}

bool WriteFileTimes(const std::string& path, const FileTimes& times) {
    const HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const FILETIME access = ToFileTime(times.lastAccess);
    const FILETIME write = ToFileTime(times.lastWrite);
    FILETIME creation{};
    if (times.creation) creation = ToFileTime(*times.creation);
    const BOOL ok = SetFileTime(file, times.creation ? &creation : nullptr, &access, &write);
    CloseHandle(file);
    return ok != FALSE;
}

#else

namespace {
FileTime FromTimespec(const timespec& time) {
    return FileTime{static_cast<std::int64_t>(time.tv_sec),
                    static_cast<std::uint32_t>(time.tv_nsec)};
}
timespec ToTimespec(const FileTime& time) {
    timespec result{};
    result.tv_sec = static_cast<time_t>(time.seconds);
    result.tv_nsec = static_cast<long>(time.nanoseconds);
    return result;
}
}  // namespace

std::optional<FileTimes> ReadFileTimes(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    FileTimes times;
    // The creation (birth) time cannot be set here, so it is not carried.
    times.lastAccess = FromTimespec(info.st_atim);
    times.lastWrite = FromTimespec(info.st_mtim);
    return times;
}

bool WriteFileTimes(const std::string& path, const FileTimes& times) {
    const timespec values[2] = {ToTimespec(times.lastAccess), ToTimespec(times.lastWrite)};
    return ::utimensat(AT_FDCWD, path.c_str(), values, 0) == 0;
}

#endif

}  // namespace pimo::platform
