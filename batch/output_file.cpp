#include "batch/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "engine/imagelib/file_io.h"
#include "platform/known_folders.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pimo::batch {

namespace fs = std::filesystem;

namespace {

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// A candidate name for a temporary file: the prefix and eight random letters
// or digits. The caller creates it exclusively and tries again when taken.
std::string TemporaryName() {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string name = kTemporaryPrefix;
    for (int i = 0; i < 8; ++i) name += kLetters[pick(random)];
    return name;
}

#ifdef _WIN32

int CreateExclusive(const std::string& path) {
    const std::wstring wide = platform::PathFromUtf8(path).wstring();
    return _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

std::string WriteAll(int fd, const std::string& path, std::span<const std::uint8_t> bytes,
                     const fs::path&, Durability durability) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const unsigned chunk =
            static_cast<unsigned>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        const int written = _write(fd, bytes.data() + done, chunk);
        if (written <= 0) {
            const std::string error = SystemError("Cannot write", path);
            _close(fd);
            return error;
        }
        done += static_cast<std::size_t>(written);
    }
    if (durability == Durability::FlushedToDisk && _commit(fd) != 0) {
        const std::string error = SystemError("Cannot flush", path);
        _close(fd);
        return error;
    }
    if (_close(fd) != 0) return SystemError("Cannot close", path);
    return {};
}

// The system's rename never replaces an existing file.
bool MoveToFreeName(const fs::path& from, const fs::path& to, std::error_code& error) {
    if (_wrename(from.c_str(), to.c_str()) == 0) return true;
    error = std::error_code(errno, std::generic_category());
    return false;
}

void FlushFolder(const fs::path&) {}  // a rename is recorded by the file system's journal

#else

int CreateExclusive(const std::string& path) {
    // O_EXCL never follows a link, nor opens a file that is already there.
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

std::string WriteAll(int fd, const std::string& path, std::span<const std::uint8_t> bytes,
                     const fs::path& replaced, Durability durability) {
    const auto fail = [&](const char* what) {
        const std::string error = SystemError(what, path);
        ::close(fd);
        return error;
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return fail("Cannot write");
        done += static_cast<std::size_t>(written);
    }
    // The replacement keeps the access rights of the file it replaces.
    struct stat info {};
    if (::stat(replaced.c_str(), &info) == 0 && ::fchmod(fd, info.st_mode & 07777) != 0) {
        return fail("Cannot set the permissions of");
    }
    if (durability == Durability::FlushedToDisk && ::fsync(fd) != 0) return fail("Cannot flush");
    if (::close(fd) != 0) return SystemError("Cannot close", path);
    return {};
}

// Gives `from` the name `to` only while no file has it. Linux does it in one
// step; where the file system cannot, a hard link does the same (it fails
// when the name is taken) and the temporary name is then dropped.
bool MoveToFreeName(const fs::path& from, const fs::path& to, std::error_code& error) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        error = std::error_code(errno, std::generic_category());
        return false;
    }
#endif
    if (::link(from.c_str(), to.c_str()) != 0) {
        error = std::error_code(errno, std::generic_category());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

// Makes the rename itself durable. Some file systems cannot flush a folder;
// the file's content is on the disk already, so that is no loss.
void FlushFolder(const fs::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

#endif

// Creates a temporary file of our own in `folder`; its path goes to `path`.
// Returns the open descriptor, or -1 with errno set.
int CreateTemporary(const fs::path& folder, std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = platform::PathToUtf8(folder / TemporaryName());
        const int fd = CreateExclusive(path);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::string ReplaceFileVerified(const std::string& path, std::span<const std::uint8_t> bytes,
                                const ContentCheck& check, Durability durability,
                                Placement placement) {
    const fs::path target = platform::PathFromUtf8(path);
    std::string temporaryText;
    const int fd = CreateTemporary(target.parent_path(), temporaryText);
    if (fd < 0) return SystemError("Cannot create a temporary file for", path);
    const fs::path temporary = platform::PathFromUtf8(temporaryText);

    const auto discard = [&](std::string reason) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return reason;
    };
    if (std::string failure = WriteAll(fd, temporaryText, bytes, target, durability);
        !failure.empty())
        return discard(failure);

    const std::optional<std::vector<std::uint8_t>> written = imagelib::ReadWholeFile(temporaryText);
    if (!written) return discard("Cannot read back " + temporaryText);
    if (written->size() != bytes.size() ||
        !std::equal(bytes.begin(), bytes.end(), written->begin())) {
        return discard("The file written differs from the data: " + temporaryText);
    }
    if (check) {
        if (std::string reason = check(*written); !reason.empty()) return discard(reason);
    }
    std::error_code error;
    if (placement == Placement::NewFileOnly) {
        if (!MoveToFreeName(temporary, target, error)) {
            // Systems differ in the error they give for a taken name.
            std::error_code ignored;
            const bool taken = fs::exists(fs::symlink_status(target, ignored));
            return discard(taken ? "Cannot write " + path + ": another file has taken the name"
                                 : "Cannot write " + path + ": " + error.message());
        }
    } else {
        fs::rename(temporary, target, error);
        if (error) return discard("Cannot replace " + path + ": " + error.message());
    }
    if (durability == Durability::FlushedToDisk) FlushFolder(target.parent_path());
    return {};
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code error;
    return fs::equivalent(platform::PathFromUtf8(a), platform::PathFromUtf8(b), error) && !error;
}

}  // namespace pimo::batch
