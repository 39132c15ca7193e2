#pragma once
// The decoder launcher (Linux): a one-thread process forked while the program
// starts, before any other thread exists, which forks the decoder processes
// when asked. A process forked from a program with several threads inherits
// whatever locks those threads held at that moment (an allocator's, a
// library's) and may wait on one of them forever; a process forked from one
// with a single thread cannot. The launcher holds nothing of the program's
// later state: what a launched process needs travels with the request.

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <optional>
#include <span>

namespace pimo::imagelib {

/// What a launched process runs: copies of the descriptors it was given, its
/// parent's process id and the request's payload. Must not return.
using LaunchedMain = void (*)(std::array<int, 3> descriptors, pid_t parent,
                              std::span<const std::byte> payload);

constexpr std::size_t kMaxLaunchPayload = 256;

/// A process the launcher forked. The handles belong to the holder, who
/// closes them with Release.
struct LaunchedProcess {
    pid_t pid = -1;
    int pidHandle = -1;   // signals reach this process and no later one of its id
    int exitStatus = -1;  // the launcher writes the wait status here once it has ended
};

/// Has the launcher fork a process that runs `main`; nothing when there is no
/// launcher (it could not be started, or it has ended) or the payload is too long.
std::optional<LaunchedProcess> Launch(LaunchedMain main, std::array<int, 3> descriptors,
                                      std::span<const std::byte> payload);

/// Ends the process at once (it may already have ended).
void Kill(const LaunchedProcess& process);

/// Waits for the process to end and gives its wait status; when the launcher
/// ended first, the status of a process killed by SIGABRT.
int AwaitExit(const LaunchedProcess& process);

/// Closes the handles.
void Release(LaunchedProcess& process);

}  // namespace pimo::imagelib
