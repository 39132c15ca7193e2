// The process's private temporary folder, the same on every platform.

#include "platform/process.h"

#include <mutex>

namespace pimo::platform {

namespace {

namespace fs = std::filesystem;

/// The folder of this process, made on first use and removed at exit.
class OwnTemporaryFolder {
  public:
    ~OwnTemporaryFolder() { release(); }

    fs::path get(std::string* error) {
        const std::lock_guard lock(m_mutex);
        // A temporary-folder cleaner may have removed it since; a fresh one is
        // made rather than re-creating the old name, which somebody else could
        // have taken in the meantime.
        std::error_code status;
        if (!m_path.empty() && !fs::is_directory(fs::symlink_status(m_path, status)))
            m_path.clear();
        if (m_path.empty()) {
            std::string reason;
            std::error_code code;
            const fs::path parent = fs::temp_directory_path(code);
            if (code)
                reason = code.message();
            else
                m_path = CreatePrivateFolder(parent, "pimo-", reason);
            if (m_path.empty() && error != nullptr) *error = reason;
        }
        return m_path;
    }

    void release() {
        const std::lock_guard lock(m_mutex);
        if (m_path.empty()) return;
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
        m_path.clear();
    }

  private:
    std::mutex m_mutex;
    fs::path m_path;
};

OwnTemporaryFolder& OwnFolder() {
    static OwnTemporaryFolder folder;
    return folder;
}

}  // namespace

fs::path PrivateTemporaryFolder(std::string* error) {
    return OwnFolder().get(error);
}

void RemovePrivateTemporaryFolder() {
    OwnFolder().release();
}

}  // namespace pimo::platform
