#include "engine/imagelib/isolated_decoder.h"

#include "engine/imagelib/bitmap_transfer.h"
#include "engine/imagelib/freeimage_ext.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <thread>
#endif

namespace pimo::imagelib {

#ifdef _WIN32

// No fork: the decode runs here, guarded only by the header checks.
FIBITMAP* DecodeIsolated(FREE_IMAGE_FORMAT, const IsolatedDecode& decode, const DecodeBudget&) {
    return decode();
}

#else

namespace {

constexpr int kExitDone = 0;
constexpr int kExitOutOfMemory = 86;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

void Report(FREE_IMAGE_FORMAT format, const std::string& text) {
    ::FreeImage_OutputMessageProc(format, "%s", text.c_str());
}

// Address space the child already has (libraries, the parent's heap, other
// threads' stacks): the budget comes on top of it.
std::uint64_t AddressSpaceInUse() {
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[64] = {};
    const ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (length <= 0) return 0;
    const std::uint64_t pages = std::strtoull(text, nullptr, 10);
    return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGE_SIZE));
}

void LimitChild(const DecodeBudget& budget) {
    // A crash must not write a core file the size of the bomb.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    // The address sanitizer reserves terabytes of shadow memory up front, so
    // its builds rely on the header checks alone.
    if (kAddressSanitizer) return;
    const std::uint64_t inUse = AddressSpaceInUse();
    const std::uint64_t limit =
        budget.memoryBytes > std::numeric_limits<std::uint64_t>::max() - inUse
            ? RLIM_INFINITY
            : inUse + budget.memoryBytes;
    const rlimit addressSpace{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
    ::setrlimit(RLIMIT_AS, &addressSpace);
}

bool MentionsMemory(const std::vector<LibraryMessage>& messages) {
    return std::any_of(messages.begin(), messages.end(), [](const LibraryMessage& message) {
        std::string lower = message.text;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        return lower.find("memory") != std::string::npos;
    });
}

// The child: decode, leave the result in the shared file, end without running
// any of the parent's exit handlers.
[[noreturn]] void RunChild(int shared, const IsolatedDecode& decode, const DecodeBudget& budget) {
    LimitChild(budget);
    std::set_new_handler([] { ::_exit(kExitOutOfMemory); });
    // The parent's handlers may touch windows or consoles: not from here.
    FreeImage_SetProgress(nullptr);
    std::vector<LibraryMessage> messages;
    FreeImage_SetOutputMessage([&messages](int format, const std::string& text) {
        messages.push_back({ToLibraryFormat(format), text});
    });
    errno = 0;
    FIBITMAP* bitmap = decode();
    if (!bitmap && (errno == ENOMEM || MentionsMemory(messages))) ::_exit(kExitOutOfMemory);

    const std::size_t size = TransferSize(bitmap, messages);
    if (::ftruncate(shared, static_cast<off_t>(size)) != 0) ::_exit(kExitOutOfMemory);
    void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, shared, 0);
    if (mapping == MAP_FAILED) ::_exit(kExitOutOfMemory);
    WriteTransfer(bitmap, messages,
                  std::span<std::uint8_t>(static_cast<std::uint8_t*>(mapping), size));
    ::_exit(kExitDone);
}

struct ChildEnd {
    bool timedOut = false;
    bool reaped = false;
    int status = 0;
};

bool Reap(pid_t pid, int& status) {
    pid_t done;
    while ((done = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return done == pid;
}

// Waits for the child's end by its process descriptor: no polling interval
// is added to a decode that takes a millisecond.
bool WaitByDescriptor(pid_t pid, std::chrono::steady_clock::time_point deadline, bool& timedOut) {
#ifdef SYS_pidfd_open
    const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (descriptor < 0) return false;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd watch{descriptor, POLLIN, 0};
        const int ready =
            ::poll(&watch, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
        if (ready > 0) break;
        if (ready < 0 && errno != EINTR) break;
    }
    ::close(descriptor);
    return true;
#else
    (void)pid, (void)deadline, (void)timedOut;
    return false;
#endif
}

// Without process descriptors: poll the child's state, backing off.
void WaitByPolling(pid_t pid, std::chrono::steady_clock::time_point deadline, ChildEnd& end) {
    auto pause = std::chrono::microseconds(100);
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t done = ::waitpid(pid, &end.status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            end.reaped = done == pid;
            return;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
    end.timedOut = true;
}

ChildEnd WaitForChild(pid_t pid, unsigned seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    ChildEnd end;
    if (!WaitByDescriptor(pid, deadline, end.timedOut)) WaitByPolling(pid, deadline, end);
    if (end.timedOut) ::kill(pid, SIGKILL);
    if (!end.reaped) end.reaped = Reap(pid, end.status);
    return end;
}

// Rebuilds the child's bitmap from the shared file; reports what went wrong.
FIBITMAP* Receive(FREE_IMAGE_FORMAT format, int shared, const DecodeBudget& budget) {
    struct stat facts {};
    if (::fstat(shared, &facts) != 0 || facts.st_size <= 0) {
        Report(format, CrashedMessage());
        return nullptr;
    }
    const auto size = static_cast<std::size_t>(facts.st_size);
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, shared, 0);
    if (mapping == MAP_FAILED) {
        Report(format, NeedsMoreMemoryMessage(budget));
        return nullptr;
    }
    bool overBudget = false;
    std::optional<ReceivedTransfer> received =
        ReadTransfer(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(mapping), size),
                     budget, overBudget);
    ::munmap(mapping, size);
    if (!received) {
        Report(format, CrashedMessage());
        return nullptr;
    }
    for (const LibraryMessage& message : received->messages)
        Report(static_cast<FREE_IMAGE_FORMAT>(message.libraryFormat), message.text);
    if (overBudget) Report(format, NeedsMoreMemoryMessage(budget));
    return received->bitmap.release();
}

FIBITMAP* Conclude(FREE_IMAGE_FORMAT format, const ChildEnd& end, int shared,
                   const DecodeBudget& budget) {
    if (end.timedOut) {
        Report(format, TookTooLongMessage(budget));
        return nullptr;
    }
    if (end.reaped && WIFEXITED(end.status) && WEXITSTATUS(end.status) == kExitDone) {
        return Receive(format, shared, budget);
    }
    // The kernel's out-of-memory killer ends a child with SIGKILL.
    const bool outOfMemory =
        end.reaped && ((WIFEXITED(end.status) && WEXITSTATUS(end.status) == kExitOutOfMemory) ||
                       (WIFSIGNALED(end.status) && WTERMSIG(end.status) == SIGKILL));
    Report(format, outOfMemory ? NeedsMoreMemoryMessage(budget) : CrashedMessage());
    return nullptr;
}

}  // namespace

FIBITMAP* DecodeIsolated(FREE_IMAGE_FORMAT libraryFormat, const IsolatedDecode& decode,
                         const DecodeBudget& budget) {
    // Before the fork, so that the child never waits on their one-time setup.
    InstallLibraryCallbacks();
    const int shared = ::memfd_create("pimo-decode", MFD_CLOEXEC);
    if (shared < 0) return decode();  // no shared memory: decode here rather than not at all
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(shared);
        return decode();
    }
    if (pid == 0) RunChild(shared, decode, budget);
    const ChildEnd end = WaitForChild(pid, budget.seconds);
    FIBITMAP* bitmap = Conclude(libraryFormat, end, shared, budget);
    ::close(shared);
    return bitmap;
}

#endif

}  // namespace pimo::imagelib
