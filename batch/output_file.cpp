#include "batch/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
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

#ifdef _WIN32

// Creates the file (never through an existing one), writes every byte and
// flushes it to the disk before closing when asked to.
std::string WriteSibling(const std::string& path, std::span<const std::uint8_t> bytes,
                         const fs::path&, Durability durability) {
    const std::wstring wide = platform::PathFromUtf8(path).wstring();
    const int fd =
        _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return SystemError("Cannot create", path);
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

void FlushFolder(const fs::path&) {}  // a rename is recorded by the file system's journal

#else

std::string WriteSibling(const std::string& path, std::span<const std::uint8_t> bytes,
                         const fs::path& replaced, Durability durability) {
    // O_EXCL never follows a link left where the sibling goes.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return SystemError("Cannot create", path);
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

}  // namespace

std::string SiblingPath(const std::string& path) {
    return path + ".pimo";
}

std::string ReplaceFileVerified(const std::string& path, std::span<const std::uint8_t> bytes,
                                const ContentCheck& check, Durability durability) {
    const fs::path target = platform::PathFromUtf8(path);
    const std::string siblingText = SiblingPath(path);
    const fs::path sibling = platform::PathFromUtf8(siblingText);
    std::error_code error;

    // A sibling left by an interrupted run is ours to replace; a folder is not.
    if (fs::is_directory(fs::symlink_status(sibling, error)))
        return "Cannot create " + siblingText + ": a folder has that name";
    fs::remove(sibling, error);

    const auto discard = [&](std::string reason) {
        std::error_code ignored;
        fs::remove(sibling, ignored);
        return reason;
    };
    if (std::string failure = WriteSibling(siblingText, bytes, target, durability);
        !failure.empty())
        return discard(failure);

    const std::optional<std::vector<std::uint8_t>> written = imagelib::ReadWholeFile(siblingText);
    if (!written) return discard("Cannot read back " + siblingText);
    if (written->size() != bytes.size() ||
        !std::equal(bytes.begin(), bytes.end(), written->begin())) {
        return discard("The file written differs from the data: " + siblingText);
    }
    if (check) {
        if (std::string reason = check(*written); !reason.empty()) return discard(reason);
    }
    fs::rename(sibling, target, error);
    if (error) return discard("Cannot replace " + path + ": " + error.message());
    if (durability == Durability::FlushedToDisk) FlushFolder(target.parent_path());
    return {};
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code error;
    return fs::equivalent(platform::PathFromUtf8(a), platform::PathFromUtf8(b), error) && !error;
}

}  // namespace pimo::batch
