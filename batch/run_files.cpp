#include "batch/run_files.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/known_folders.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace pimo::batch {

namespace fs = std::filesystem;

namespace {

// The name an entry's destination is reserved under: absolute, with the
// links of its existing folders resolved and "." and ".." taken out.
std::string ClaimKey(const std::string& path) {
    std::error_code error;
    fs::path key = fs::weakly_canonical(fs::absolute(platform::PathFromUtf8(path), error), error);
    if (error) key = fs::absolute(platform::PathFromUtf8(path), error).lexically_normal();
    std::string text = platform::PathToUtf8(key);
#ifdef _WIN32
    // Names differing in letter case are one file here.
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
    return text;
}

}  // namespace

#ifdef _WIN32

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    const std::wstring wide = platform::PathFromUtf8(path).wstring();
    const HANDLE file =
        ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool found = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!found) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

#else

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

#endif

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(platform::PathFromUtf8(path), error);
}

void RemoveSameFiles(BatchItems& items) {
    std::set<FileIdentity> seen;
    std::erase_if(items, [&seen](const TBatchItem& item) {
        const std::optional<FileIdentity> identity = IdentityOf(item.FilePath);
        return identity && !seen.insert(*identity).second;
    });
}

BatchRunFiles::BatchRunFiles(const BatchItems& inputs) {
    for (const TBatchItem& item : inputs) {
        if (const std::optional<FileIdentity> identity = IdentityOf(item.FilePath))
            m_inputs.emplace(*identity, item.FilePath);
    }
}

bool BatchRunFiles::IsOtherInput(const std::string& destination, const std::string& source) const {
    const std::optional<FileIdentity> target = IdentityOf(destination);
    if (!target || target == IdentityOf(source)) return false;
    const auto input = m_inputs.find(*target);
    return input != m_inputs.end() && IdentityOf(input->second) == target;
}

bool BatchRunFiles::Claim(const std::string& destination, const std::string& source) {
    const std::optional<FileIdentity> existing = IdentityOf(destination);
    std::string key = ClaimKey(destination);
    const std::lock_guard lock(m_mutex);
    if (existing && m_written.contains(*existing)) {
        const auto own = m_claimed.find(key);
        if (own == m_claimed.end() || own->second != source) return false;
    }
    const auto [claim, added] = m_claimed.emplace(std::move(key), source);
    return added || claim->second == source;
}

void BatchRunFiles::Written(const std::string& destination) {
    const std::optional<FileIdentity> identity = IdentityOf(destination);
    const std::lock_guard lock(m_mutex);
    if (identity) m_written.insert(*identity);
}

}  // namespace pimo::batch
