// Processes on Linux: posix_spawn straight into the program (no shell between
// us and it), a process group of its own so that a time-out ends everything
// it started, and waiting by polling so that the wait can time out.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/process.h"

extern char** environ;

namespace pimo::platform {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// The spawn attributes and file actions, released however the start ends.
class SpawnSetup {
  public:
    explicit SpawnSetup(bool hidden) {
        ::posix_spawn_file_actions_init(&m_actions);
        ::posix_spawnattr_init(&m_attributes);
        // The tool reads nothing from us; hidden, it tells us nothing either.
        ::posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (hidden) {
            ::posix_spawn_file_actions_addopen(&m_actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
            ::posix_spawn_file_actions_adddup2(&m_actions, STDOUT_FILENO, STDERR_FILENO);
        }
        // None of our own files (images, settings, sockets) reach the tool.
        ::posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1);

        // A group of its own: at a time-out the whole group is ended, so a
        // script's children do not outlive it. Signal handling starts afresh.
        sigset_t none, all;
        ::sigemptyset(&none);
        ::sigfillset(&all);
        ::posix_spawnattr_setpgroup(&m_attributes, 0);
        ::posix_spawnattr_setsigmask(&m_attributes, &none);
        ::posix_spawnattr_setsigdefault(&m_attributes, &all);
        ::posix_spawnattr_setflags(
            &m_attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&m_actions);
        ::posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

  private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

/// A started child; ends and reaps its group when left before it was reaped
/// (a time-out, or an exception from the caller's `started`).
class Child {
  public:
    explicit Child(pid_t pid) : m_pid(pid) {}
    ~Child() {
        if (m_pid > 0) endGroup();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    /// The wait status once the child has ended, none while it runs. A child
    /// that somebody else reaped counts as ended without a status.
    std::optional<int> poll() {
        int status = 0;
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        while (done < 0 && errno == EINTR) done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == 0) return std::nullopt;
        m_pid = 0;
        return done < 0 ? -1 : status;
    }

    void endGroup() {
        // The group shares the child's id; should it be missing, the child alone.
        if (::kill(-m_pid, SIGKILL) != 0) ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = 0;
    }

  private:
    pid_t m_pid;
};

}  // namespace

ProcessResult RunProcess(const ProcessRequest& request, std::chrono::milliseconds timeout,
                         const std::function<void()>& started,
                         const std::function<bool()>& keepWaiting) {
    ProcessResult result;
    const std::string program = request.program.string();
    std::vector<char*> argv;
    argv.reserve(request.arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : request.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    {
        const SpawnSetup setup(request.hidden);
        // posix_spawn reports a failed exec (missing file, no permission, not
        // a program) as its own result.
        const int error = ::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(),
                                        argv.data(), environ);
        if (error != 0) {
            result.error = std::strerror(error);
            return result;
        }
    }
    Child child(pid);
    if (started) started();

    const Clock::time_point deadline = Clock::now() + timeout;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (const std::optional<int> status = child.poll()) {
            result.end = ProcessEnd::Exited;
            result.exitCode = *status >= 0 && WIFEXITED(*status) ? WEXITSTATUS(*status) : 1;
            return result;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            child.endGroup();
            result.end = ProcessEnd::TimedOut;
            return result;
        }
        if (keepWaiting && !keepWaiting()) {
            child.endGroup();
            result.end = ProcessEnd::Stopped;
            return result;
        }
        // Short pauses first, so that a quick tool is not held up; then at
        // most 20 ms, which nobody notices after a tool has run that long.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        std::this_thread::sleep_for(std::min(pause, left) + std::chrono::microseconds(100));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

fs::path CreatePrivateFolder(const fs::path& parent, std::string_view prefix, std::string& error) {
    // mkdtemp makes the folder with mode 0700 under a name nobody could guess,
    // and fails rather than reuse anything that is already there.
    std::string pattern = (parent / std::string(prefix)).string() + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = std::strerror(errno);
        return {};
    }
    return fs::path(pattern);
}

fs::path SystemFolder() {
    return {};
}

std::optional<fs::path> FindProgramOnPath(std::string_view name, std::string_view searchPath) {
    if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    while (!searchPath.empty()) {
        const std::size_t colon = searchPath.find(':');
        const std::string_view folder = searchPath.substr(0, colon);
        searchPath =
            colon == std::string_view::npos ? std::string_view{} : searchPath.substr(colon + 1);
        if (folder.empty()) continue;
        const fs::path candidate = fs::path(folder) / fs::path(name);
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

std::string ProcessSearchPath() {
    const char* value = std::getenv("PATH");
    return value == nullptr ? std::string() : std::string(value);
}

}  // namespace pimo::platform
