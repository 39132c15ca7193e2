#pragma once
// Starting an external program and waiting for it, with a time-out; the
// private folder where the program's work files live; and the look-ups a
// start needs (the system folder, a program on the search path).

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pimo::platform {

struct ProcessRequest {
    /// The program file to start; never searched for.
    std::filesystem::path program;
    /// Windows: the command line handed to the program as it is (it need not
    /// repeat the program's name). Unused elsewhere.
    std::string commandLine;
    /// Elsewhere: the arguments after the program's own name, each passed
    /// verbatim (no shell sees them). Unused on Windows.
    std::vector<std::string> arguments;
    /// Start without showing anything: no window on Windows; elsewhere the
    /// program's output and error output are discarded.
    bool hidden = false;
};

enum class ProcessEnd {
    NotStarted,  // the program could not be started; `error` says why
    Exited,      // the program ended by itself
    TimedOut,    // the program was still running at the time-out and was ended
    Stopped,     // the caller asked to stop waiting, and the program was ended
};

struct ProcessResult {
    ProcessEnd end = ProcessEnd::NotStarted;
    /// The exit code when the program exited normally; 1 when there is none to
    /// read (not started, ended by a signal, ended at the time-out).
    int exitCode = 1;
    /// The system's reason when the program could not be started.
    std::string error;
};

/// Starts `request.program` with this process's environment and current
/// folder, no input and none of our open files, and waits until it ends or
/// `timeout` has passed. At the time-out the program is ended forcibly
/// (elsewhere than on Windows together with every process it started, which
/// share its own process group) and TimedOut is returned. `started` runs once
/// the program is running, before the wait begins. `keepWaiting`, when given,
/// is asked about every 20 ms while the program runs (a window answers its
/// events there); when it answers false the program is ended like at the
/// time-out and Stopped is returned.
ProcessResult RunProcess(const ProcessRequest& request, std::chrono::milliseconds timeout,
                         const std::function<void()>& started = {},
                         const std::function<bool()>& keepWaiting = {});

/// This process's own folder for temporary files, inside the platform's
/// temporary folder: created on first use under a fresh unpredictable name,
/// readable and writable by the user alone, and removed with its content when
/// the process ends. Empty when it cannot be created; `error` (when given)
/// then receives the reason.
std::filesystem::path PrivateTemporaryFolder(std::string* error = nullptr);
/// Removes that folder now, for a process that ends without running its
/// exit-time clean-up; a later use makes a fresh one.
void RemovePrivateTemporaryFolder();

/// Creates a new folder in `parent` whose name is `prefix` followed by random
/// characters, accessible by the user alone; an existing file or link of that
/// name is never reused. Returns the folder, or empty with the reason in
/// `error`.
std::filesystem::path CreatePrivateFolder(const std::filesystem::path& parent,
                                          std::string_view prefix, std::string& error);

/// The platform's system folder (the one that holds the command interpreter
/// on Windows), without a trailing separator; empty where there is none.
std::filesystem::path SystemFolder();

/// The first folder of `searchPath` (a list in the platform's PATH form) that
/// holds an executable file `name`. Empty entries are skipped, so the current
/// folder is never searched; a `name` that holds a path separator is not
/// searched at all.
std::optional<std::filesystem::path> FindProgramOnPath(std::string_view name,
                                                       std::string_view searchPath);

/// The search path of this process's environment (PATH), empty when unset.
std::string ProcessSearchPath();

}  // namespace pimo::platform
