#include "engine/imagelib/decoder_launcher.h"

#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

namespace pimo::imagelib {

namespace {

struct LaunchRequest {
    std::uintptr_t main = 0;
    std::uint32_t payloadSize = 0;
    std::byte payload[kMaxLaunchPayload] = {};
};

// Descriptors that travel with a request: the three for the launched process
// and the write end of its exit-status pipe.
constexpr int kRequestDescriptors = 4;

int gControl = -1;  // the program's end of the launcher's socket
std::mutex gControlMutex;

// Through the system call: the C library's declarations of these are not
// usable from C++ in every release.
int OpenPidHandle(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// ---- passing descriptors ----

bool SendWithDescriptors(int socket, const void* data, std::size_t size, const int* fds,
                         int count) {
    iovec part{const_cast<void*>(data), size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kRequestDescriptors)] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * count);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * count);
        std::memcpy(CMSG_DATA(header), fds, sizeof(int) * count);
    }
    while (true) {
        const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        return sent == static_cast<ssize_t>(size);
    }
}

// The bytes received (0 when the other end has closed, -1 on an error); the
// descriptors that came along are stored in `fds` and counted in `count`.
ssize_t ReceiveWithDescriptors(int socket, void* data, std::size_t size, int* fds, int& count) {
    iovec part{data, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kRequestDescriptors)] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    count = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
        const int n = static_cast<int>((header->cmsg_len - CMSG_LEN(0)) / sizeof(int));
        for (int i = 0; i < n; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            if (count < kRequestDescriptors) {
                fds[count++] = fd;
            } else {
                ::close(fd);
            }
        }
    }
    return got;
}

void CloseAll(const int* fds, int count) {
    for (int i = 0; i < count; ++i) ::close(fds[i]);
}

// ---- the launcher ----

// Forks one process for `request`; answers with its id and a pid handle.
void LaunchOne(int control, int signals, const sigset_t& previousMask, const LaunchRequest& request,
               const int* fds, std::map<pid_t, int>& exitStatusPipes) {
    const pid_t launcher = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(control);
        ::close(signals);
        ::close(fds[3]);
        for (const auto& [other, pipe] : exitStatusPipes) ::close(pipe);
        ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        const auto main = reinterpret_cast<LaunchedMain>(request.main);
        main({fds[0], fds[1], fds[2]}, launcher,
             std::span<const std::byte>(request.payload, request.payloadSize));
        ::_exit(0);
    }
    CloseAll(fds, 3);
    // Opened before the process can be reaped, so the handle is its own.
    const int handle = pid > 0 ? OpenPidHandle(pid) : -1;
    if (pid > 0 && handle < 0) ::kill(pid, SIGKILL);  // reaped below; the program forks its own
    if (handle >= 0) {
        exitStatusPipes[pid] = fds[3];
    } else {
        ::close(fds[3]);
    }
    const pid_t answer = handle >= 0 ? pid : -1;
    SendWithDescriptors(control, &answer, sizeof answer, &handle, handle >= 0 ? 1 : 0);
    if (handle >= 0) ::close(handle);
}

// Hands the wait status of every ended process to whoever waits for it.
void ReapEnded(int signals, std::map<pid_t, int>& exitStatusPipes) {
    signalfd_siginfo info;
    while (::read(signals, &info, sizeof info) > 0) {
    }
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        const auto found = exitStatusPipes.find(pid);
        if (found == exitStatusPipes.end()) continue;
        [[maybe_unused]] const ssize_t written = ::write(found->second, &status, sizeof status);
        ::close(found->second);
        exitStatusPipes.erase(found);
    }
}

[[noreturn]] void RunLauncher(int control, pid_t program) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != program) ::_exit(0);
    // Nothing of the program's open files stays open here but the error
    // stream, where launched processes may still report.
    ::close_range(3, static_cast<unsigned>(control) - 1, 0);
    ::close_range(static_cast<unsigned>(control) + 1, ~0u, 0);
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing >= 0) {
        ::dup2(nothing, 0);
        ::dup2(nothing, 1);
        ::close(nothing);
    }
    sigset_t childEnded, previousMask;
    sigemptyset(&childEnded);
    sigaddset(&childEnded, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &childEnded, &previousMask);
    const int signals = ::signalfd(-1, &childEnded, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals < 0) ::_exit(0);
    std::map<pid_t, int> exitStatusPipes;
    while (true) {
        pollfd watch[2] = {{control, POLLIN, 0}, {signals, POLLIN, 0}};
        if (::poll(watch, 2, -1) < 0) {
            if (errno == EINTR) continue;
            ::_exit(0);
        }
        if (watch[1].revents) ReapEnded(signals, exitStatusPipes);
        if (!watch[0].revents) continue;
        LaunchRequest request;
        int fds[kRequestDescriptors];
        int count = 0;
        const ssize_t got = ReceiveWithDescriptors(control, &request, sizeof request, fds, count);
        if (got <= 0) ::_exit(0);  // the program has ended
        if (got != static_cast<ssize_t>(sizeof request) || count != kRequestDescriptors ||
            request.payloadSize > kMaxLaunchPayload) {
            CloseAll(fds, count);
            const pid_t refused = -1;
            SendWithDescriptors(control, &refused, sizeof refused, nullptr, 0);
            continue;
        }
        LaunchOne(control, signals, previousMask, request, fds, exitStatusPipes);
    }
}

bool SingleThreaded() {
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks) return false;
    int threads = 0;
    while (const dirent* entry = ::readdir(tasks)) threads += entry->d_name[0] != '.';
    ::closedir(tasks);
    return threads == 1;
}

// Started as the program loads, before main() and before any thread.
bool StartLauncher() {
    if (!SingleThreaded()) return false;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return false;
    const pid_t program = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pair[0]);
        RunLauncher(pair[1], program);
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        return false;
    }
    gControl = pair[0];
    return true;
}

// Every image allocates and frees buffers of its pixels' size. The C library
// adapts its thresholds to them as it goes: until it has, each such buffer is
// given back to the system when freed (its own mapping, or the trimmed top of
// the heap), and the next image faults every page of it in again; and a block
// of exactly the size last freed always gets a fresh mapping, so a run of
// same-sized images never reuses memory. Starting at the thresholds the
// library would reach on its own after one 32 MiB image avoids both: blocks
// up to 32 MiB come from the heap. The heap keeps up to 512 MiB free at its
// top, the working set of a perceptual score over a large photo, whose tiles
// would otherwise fault in the same pages again for every tile.
// Set before the launcher forks, so that every decoder process has them too.
bool KeepImageBuffersInHeap() {
#ifdef __GLIBC__
    return ::mallopt(M_MMAP_THRESHOLD, 32 << 20) == 1 &&
           ::mallopt(M_TRIM_THRESHOLD, 512 << 20) == 1;
#else
    return false;
#endif
}

[[maybe_unused]] const bool gHeapPolicySet = KeepImageBuffersInHeap();
[[maybe_unused]] const bool gLauncherStarted = StartLauncher();

}  // namespace

std::optional<LaunchedProcess> Launch(LaunchedMain main, std::array<int, 3> descriptors,
                                      std::span<const std::byte> payload) {
    if (payload.size() > kMaxLaunchPayload) return std::nullopt;
    LaunchRequest request;
    request.main = reinterpret_cast<std::uintptr_t>(main);
    request.payloadSize = static_cast<std::uint32_t>(payload.size());
    std::memcpy(request.payload, payload.data(), payload.size());
    int exitStatus[2];
    if (::pipe2(exitStatus, O_CLOEXEC) != 0) return std::nullopt;
    const int fds[kRequestDescriptors] = {descriptors[0], descriptors[1], descriptors[2],
                                          exitStatus[1]};

    std::lock_guard lock(gControlMutex);
    pid_t pid = -1;
    int handle = -1;
    int count = 0;
    const bool asked =
        gControl >= 0 && SendWithDescriptors(gControl, &request, sizeof request, fds, 4);
    ::close(exitStatus[1]);
    const ssize_t got =
        asked ? ReceiveWithDescriptors(gControl, &pid, sizeof pid, &handle, count) : -1;
    if (got == 0 && gControl >= 0) {  // the launcher is gone: fork here from now on
        ::close(gControl);
        gControl = -1;
    }
    if (got != static_cast<ssize_t>(sizeof pid) || pid <= 0 || count != 1) {
        if (count > 0) ::close(handle);
        ::close(exitStatus[0]);
        return std::nullopt;
    }
    return LaunchedProcess{pid, handle, exitStatus[0]};
}

void Kill(const LaunchedProcess& process) {
    ::syscall(SYS_pidfd_send_signal, process.pidHandle, SIGKILL, nullptr, 0);
}

int AwaitExit(const LaunchedProcess& process) {
    int status = 0;
    ssize_t got;
    do {
        got = ::read(process.exitStatus, &status, sizeof status);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof status) ? status : SIGABRT;
}

void Release(LaunchedProcess& process) {
    for (int* fd : {&process.pidHandle, &process.exitStatus}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

}  // namespace pimo::imagelib

#endif
