#include "engine/imagelib/decoder_process.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/imagelib/bitmap_transfer.h"
#include "engine/imagelib/decoder_launcher.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_direct_decode.h"
#include "engine/imagelib/png_direct_decode.h"
#include "util/sanitizer.h"

namespace pimo::imagelib {

namespace {

constexpr int kExitOutOfMemory = 86;
// A process that served this many decodes is replaced, so that what the
// library leaks or fragments does not add up.
constexpr unsigned kMaxServed = 256;
// A decoded bitmap of at least this size is copied out of the output file
// into memory of its own, and the process is replaced, taking the file's
// pages with it rather than keeping them for a later decode. Below this size
// the file is kept, the copy made into a bitmap of the library's, and the
// process serves the next decode: starting a new one costs more than that.
constexpr std::size_t kAdoptedTransfer = std::size_t{8} << 20;

enum class ReplyStatus : std::uint32_t { Done = 1, OutOfMemory = 2 };

// The size of an input that could not be written: nothing is asked of the process.
constexpr std::size_t kNotSent = std::numeric_limits<std::size_t>::max();

// The decode to run travels with each request, so one process serves every
// kind of read (a bitmap, a page count): the process is this program's own
// code, forked, so the function's address means the same there.
struct Request {
    DecodeFunction decode;
    std::int32_t format;
    std::int32_t flags;
    std::uint64_t size;
};

struct Reply {
    ReplyStatus status;
    std::uint64_t size;
    std::uint32_t retire = 0;  // the process holds more memory than it should keep: replace it
};

void Report(int libraryFormat, const std::string& text) {
    ::FreeImage_OutputMessageProc(libraryFormat, "%s", text.c_str());
}

bool WriteAll(int fd, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        const ssize_t written = ::send(fd, bytes, length, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

// False at the end of the stream or on an error.
bool ReadAll(int fd, void* data, std::size_t length) {
    auto* bytes = static_cast<std::uint8_t*>(data);
    while (length > 0) {
        const ssize_t got = ::recv(fd, bytes, length, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteFileAt(int fd, std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                         static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool WriteFileAt0(int fd, std::span<const std::uint8_t> bytes) {
    return WriteFileAt(fd, bytes, 0);
}

// Moves the first `length` bytes of the file into `data`: each part read is
// cut out of the file, so that the two never both hold all of it. False when
// the file is shorter.
bool MoveOutOfFile(int fd, std::uint8_t* data, std::size_t length) {
    constexpr std::size_t kPart = std::size_t{8} << 20;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(fd, data + done, std::min(length - done, kPart), static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        // Where the system cannot cut, the pages go with the file a little later.
        ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(done), got);
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// A private block of memory, its start aligned for large pages and asked
// for them, unmapped with its owner.
class LargeBlock {
  public:
    static std::optional<LargeBlock> Allocate(std::size_t size) {
        constexpr std::size_t kLargePage = std::size_t{2} << 20;
        const std::size_t length = size + kLargePage;
        void* base =
            ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return std::nullopt;
        const std::uintptr_t start =
            (reinterpret_cast<std::uintptr_t>(base) + kLargePage - 1) & ~(kLargePage - 1);
        LargeBlock block;
        block.m_owner.reset(base, [length](void* at) { ::munmap(at, length); });
        block.m_data = reinterpret_cast<std::uint8_t*>(start);
#ifdef MADV_HUGEPAGE
        ::madvise(block.m_data, size, MADV_HUGEPAGE);
#endif
        // A process forked from this one later (a decoder, when there is no
        // launcher) need not copy the pixels.
        ::madvise(base, length, MADV_DONTFORK);
        return block;
    }
    std::uint8_t* data() const {
        return m_data;
    }
    std::shared_ptr<void> release() {
        return std::move(m_owner);
    }

  private:
    LargeBlock() = default;
    std::shared_ptr<void> m_owner;
    std::uint8_t* m_data = nullptr;
};

}  // namespace

// A shared-memory file mapped once and kept: mapping it anew for every
// decode costs more page-table work than the copy itself.
class SharedMapping {
  public:
    ~SharedMapping() { unmap(); }
    // Maps at least `size` bytes of `fd`; with `grow`, first makes the file
    // that long (it never shrinks, so its pages stay for the next decode).
    std::uint8_t* reach(int fd, std::size_t size, bool grow) {
        if (size <= m_length) return m_data;
        std::size_t length = size;
        if (grow) {
            length = std::max({size, m_length * 2, std::size_t{4} << 20});
            if (::ftruncate(fd, static_cast<off_t>(length)) != 0) return nullptr;
        } else {
            struct stat facts {};
            if (::fstat(fd, &facts) != 0 || static_cast<std::size_t>(facts.st_size) < size)
                return nullptr;
            length = static_cast<std::size_t>(facts.st_size);
        }
        unmap();
        const int protection = grow ? PROT_READ | PROT_WRITE : PROT_READ;
        void* data = ::mmap(nullptr, length, protection, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) return nullptr;
        m_data = static_cast<std::uint8_t*>(data);
        m_length = length;
        return m_data;
    }

  private:
    void unmap() {
        if (m_data) ::munmap(m_data, m_length);
        m_data = nullptr;
        m_length = 0;
    }
    std::uint8_t* m_data = nullptr;
    std::size_t m_length = 0;
};

namespace {

// ---- the child ----

// Address space the child already has (libraries, the parent's heap, other
// threads' stacks): the budget comes on top of it.
std::uint64_t AddressSpaceInUse() {
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[64] = {};
    const ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (length <= 0) return 0;
    return std::strtoull(text, nullptr, 10) * static_cast<std::uint64_t>(::sysconf(_SC_PAGE_SIZE));
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

// Keeps descriptors 0-2 and `own`; closes everything else the fork copied,
// so that no other thread's decoder stays open because this process holds it.
void CloseOthers(std::array<int, 3> own) {
    std::sort(own.begin(), own.end());
    unsigned from = 3;
    for (int fd : own) {
        if (static_cast<unsigned>(fd) > from) ::close_range(from, static_cast<unsigned>(fd) - 1, 0);
        from = std::max(from, static_cast<unsigned>(fd) + 1);
    }
    ::close_range(from, ~0u, 0);
}

// What a library, or the C library's heap checks ("double free or
// corruption"), print as they abort is not for the user: the parent reports
// the crash in its own words. A sanitizer's report stays visible.
void SilenceErrorStream() {
    if (kAddressSanitizer) return;
    const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nothing < 0) return;
    ::dup2(nothing, STDERR_FILENO);
    ::close(nothing);
}

// The library's own words for an allocation that failed.
bool ReportsAllocationFailure(const std::vector<LibraryMessage>& messages) {
    return std::any_of(messages.begin(), messages.end(), [](const LibraryMessage& message) {
        std::string lower = message.text;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        for (const char* phrase :
             {"insufficient memory", "out of memory", "allocation failed", "not enough memory"}) {
            if (lower.find(phrase) != std::string::npos) return true;
        }
        return false;
    });
}

// The decoder process serves one decode at a time, and each allocates the
// same kinds of blocks as the last: blocks of every size come from the heap
// (a bitmap of more than 32 MiB too, which otherwise gets a fresh mapping that
// is faulted in page by page for every file), and the next decode reuses them.
// Its heap gives back what it keeps free beyond 64 MiB: the program's larger
// allowance would count against the memory limit of every later decode.
// Returns where the heap starts.
std::uintptr_t KeepLargeBlocksInHeap() {
#ifdef __GLIBC__
    ::mallopt(M_MMAP_MAX, 0);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    return reinterpret_cast<std::uintptr_t>(::sbrk(0));
}

// The heap gives its free top back to the system beyond 64 MiB, but a block
// still in use above a large freed one keeps it, and its address space, from
// going: that would count against the memory limit of every later decode.
// True when the heap spans more than it should keep between decodes.
bool HeapKeepsTooMuch(std::uintptr_t heapStart) {
    constexpr std::uintptr_t kKeptMax = std::uintptr_t{96} << 20;
    const auto heapEnd = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    return heapEnd > heapStart && heapEnd - heapStart > kKeptMax;
}

// Gives the pages about to be written their memory in one call: touched one
// at a time, each new page of a large transfer costs a fault of its own,
// which on a virtual machine costs more than writing the page. False when the
// system could not (then a write may find no memory behind a page).
bool PrepareForWriting(std::uint8_t* data, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGE_SIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(data + size);
    return ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE) == 0;
#else
    (void)data;
    (void)size;
    return false;
#endif
}

// Leaves the result in the output file; the reply to send.
Reply Publish(int output, SharedMapping& mapping, FIBITMAP* bitmap,
              const std::vector<LibraryMessage>& messages) {
    const std::size_t size = TransferSize(bitmap, messages);
    std::uint8_t* data = mapping.reach(output, size, true);
    if (!data) return {ReplyStatus::OutOfMemory, 0};
    PrepareForWriting(data, size);
    // A transfer this large ends this process's service (the parent keeps
    // its file), so the decoded pages, unloaded next, need not be kept for a
    // later decode: they are let go as they are copied, and the process never
    // holds the image twice.
    WriteTransfer(bitmap, messages, std::span<std::uint8_t>(data, size), size >= kAdoptedTransfer);
    return {ReplyStatus::Done, size};
}

// Makes the pixels of a bitmap loaded without them, handing them on a few
// rows at a time (the sink of the JPEG and PNG direct decodes alike).
using RowsDecode = std::function<bool(const JpegRowsSink& put)>;

// A common JPEG or PNG is decoded straight into the output file: the pixels
// are written once, where the parent reads them, in the library's layout.
// A large bitmap goes in through the file, a few rows at a time, not through
// this process's mapping of it: the system copies them into the file's pages,
// which this process, replaced after such a decode, then never touches (every
// first touch of a page costs more than the copy). A smaller one is written
// through the mapping, whose pages this process keeps from one decode to the
// next: a write call for every few rows would cost more than the copy. The
// transfer's other fields are written again once the pixels are made, since
// the decode may set facts that only the pixels tell. Nothing when the decode
// fails: the file is for the library's loader.
std::optional<Reply> PublishDecodedRows(int output, SharedMapping& mapping, FIBITMAP* header,
                                        const std::vector<LibraryMessage>& messages,
                                        const RowsDecode& decode) {
    const std::size_t size = TransferSize(header, messages);
    std::uint8_t* data = mapping.reach(output, size, true);
    if (!data) return Reply{ReplyStatus::OutOfMemory, 0};
    const std::size_t pitch = ::FreeImage_GetPitch(header);
    const std::span<std::uint8_t> transfer(data, size);
    const bool throughMapping = size < kAdoptedTransfer && PrepareForWriting(data, size);
    bool fileFull = false;
    const bool written =
        WriteTransferFilled(header, messages, transfer, [&](std::span<std::uint8_t> pixels) {
            if (pixels.size() != pitch * ::FreeImage_GetHeight(header)) return false;
            const auto offset = static_cast<std::size_t>(pixels.data() - data);
            return decode([&](unsigned bottom, unsigned, std::span<const std::uint8_t> rows) {
                if (throughMapping) {
                    std::memcpy(data + offset + bottom * pitch, rows.data(), rows.size());
                    return true;
                }
                fileFull = !WriteFileAt(output, rows, offset + bottom * pitch);
                return !fileFull;
            });
        });
    // The file's pages could not be had: the library's loader would fare no better.
    if (fileFull) return Reply{ReplyStatus::OutOfMemory, 0};
    if (!written || TransferSize(header, messages) != size) return std::nullopt;
    // The pixels are in place: the fill leaves them be.
    WriteTransferFilled(header, messages, transfer, [](std::span<std::uint8_t>) { return true; });
    return Reply{ReplyStatus::Done, size};
}

// The bitmap the library's loader gives, header only, from `load`; nothing,
// with the messages as they were, when it warned or failed: the file is then
// for the library's loader, whose own messages reach the parent once.
Bitmap HeaderWithoutMessages(const std::function<FIBITMAP*()>& load,
                             std::vector<LibraryMessage>& messages) {
    const std::size_t before = messages.size();
    Bitmap header(load());
    if (header && messages.size() == before) return header;
    messages.resize(before);
    return Bitmap();
}

std::optional<Reply> PublishDecodedJpeg(int output, SharedMapping& mapping,
                                        std::span<const std::uint8_t> bytes, int flags,
                                        std::vector<LibraryMessage>& messages) {
    if (!DirectJpegDecodeApplies(bytes, flags)) return std::nullopt;
    const Bitmap header =
        HeaderWithoutMessages([&] { return LoadJpegWithoutPixels(bytes, flags); }, messages);
    if (!header) return std::nullopt;
    return PublishDecodedRows(
        output, mapping, header.get(), messages,
        [&](const JpegRowsSink& put) { return DecodeJpegRows(bytes, flags, header.get(), put); });
}

std::optional<Reply> PublishDecodedPng(int output, SharedMapping& mapping,
                                       std::span<const std::uint8_t> bytes, int flags,
                                       std::vector<LibraryMessage>& messages) {
    if (!DirectPngDecodeApplies(bytes, flags)) return std::nullopt;
    const Bitmap header =
        HeaderWithoutMessages([&] { return LoadPngWithoutPixels(bytes, flags); }, messages);
    if (!header) return std::nullopt;
    return PublishDecodedRows(
        output, mapping, header.get(), messages,
        [&](const JpegRowsSink& put) { return DecodePngRows(bytes, flags, header.get(), put); });
}

// The child: serve requests until the parent's end closes, then end without
// running any of the parent's exit handlers.
[[noreturn]] void Serve(int socket, int input, int output, pid_t parent,
                        const DecodeBudget& budget) {
    // Ends with the thread that forked it, whatever way that thread ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(0);
    CloseOthers({socket, input, output});
    SilenceErrorStream();
    LimitChild(budget);
    const std::uintptr_t heapStart = KeepLargeBlocksInHeap();
    std::set_new_handler([] { ::_exit(kExitOutOfMemory); });
    // The parent's handlers may touch windows or consoles: not from here.
    FreeImage_SetProgress(nullptr);
    std::vector<LibraryMessage> messages;
    FreeImage_SetOutputMessage([&messages](int format, const std::string& text) {
        messages.push_back({ToLibraryFormat(format), text});
    });
    SharedMapping in, out;
    Request request{};
    while (ReadAll(socket, &request, sizeof request)) {
        messages.clear();
        const std::uint8_t* data = in.reach(input, request.size, false);
        if (!data && request.size) ::_exit(kExitOutOfMemory);
        const std::span<const std::uint8_t> bytes(data, request.size);
        std::optional<Reply> direct;
        if (request.decode == &FreeImage_LoadFromBytes && request.format == kFormatJpeg)
            direct = PublishDecodedJpeg(output, out, bytes, request.flags, messages);
        if (request.decode == &FreeImage_LoadFromBytes && request.format == kFormatPng)
            direct = PublishDecodedPng(output, out, bytes, request.flags, messages);
        Reply reply{};
        if (direct) {
            reply = *direct;
        } else {
            errno = 0;
            FIBITMAP* bitmap = request.decode(request.format, bytes, request.flags);
            const bool allocationFailed =
                !bitmap && (errno == ENOMEM || ReportsAllocationFailure(messages));
            reply = allocationFailed ? Reply{ReplyStatus::OutOfMemory, 0}
                                     : Publish(output, out, bitmap, messages);
            if (bitmap) ::FreeImage_Unload(bitmap);
        }
        std::vector<LibraryMessage>().swap(messages);
        reply.retire = HeapKeepsTooMuch(heapStart) ? 1 : 0;
        if (!WriteAll(socket, &reply, sizeof reply)) break;
    }
    ::_exit(0);
}

// ---- the parent ----

// Waits until the reply can be read or the process has gone; false when the
// deadline passed first. Every tenth of a second the progress callback runs,
// so that a window that processes its events there stays responsive.
bool AwaitReply(int socket, std::chrono::steady_clock::time_point deadline) {
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd watch{socket, POLLIN, 0};
        const int ready =
            ::poll(&watch, 1, static_cast<int>(std::min<long long>(left.count() + 1, 100)));
        if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
        if (ready == 0) ReportProgress(0);
    }
}

int Reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// A launched decoder process shares nothing with the program but its budget,
// which travels as the launch's payload.
[[noreturn]] void ServeLaunched(std::array<int, 3> descriptors, pid_t parent,
                                std::span<const std::byte> payload) {
    DecodeBudget budget{};
    if (payload.size() != sizeof budget) ::_exit(0);
    std::memcpy(&budget, payload.data(), sizeof budget);
    InstallLibraryCallbacks();
    // The header checks read the budget too.
    SetDecodeBudget(budget);
    Serve(descriptors[0], descriptors[1], descriptors[2], parent, budget);
}

}  // namespace

std::unique_ptr<DecoderProcess> DecoderProcess::Start(const DecodeBudget& budget) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return nullptr;
    std::unique_ptr<DecoderProcess> process(new DecoderProcess);
    process->m_socket = pair[0];
    process->m_input = ::memfd_create("pimo-decode-in", MFD_CLOEXEC);
    process->m_output = ::memfd_create("pimo-decode-out", MFD_CLOEXEC);
    process->m_budget = budget;
    process->m_outputMapping = std::make_unique<SharedMapping>();
    if (process->m_input < 0 || process->m_output < 0) {
        ::close(pair[1]);
        return nullptr;  // the destructor closes what was opened
    }
    // From the launcher when there is one; from this process otherwise.
    const DecodeBudget payload = budget;
    if (std::optional<LaunchedProcess> launched =
            Launch(&ServeLaunched, {pair[1], process->m_input, process->m_output},
                   std::as_bytes(std::span(&payload, 1)))) {
        ::close(pair[1]);
        process->m_launched = *launched;
        process->m_pid = launched->pid;
        return process;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pair[0]);
        Serve(pair[1], process->m_input, process->m_output, parent, budget);
    }
    ::close(pair[1]);
    process->m_pid = pid;
    if (pid < 0) return nullptr;
    return process;
}

DecoderProcess::~DecoderProcess() {
    // The process is idle between requests (or was just given up on): ending
    // it at once is safe, and waiting for it leaves no zombie.
    if (m_pid > 0) {
        endProcess();
        awaitExit();
    }
    Release(m_launched);
    m_outputMapping.reset();
    for (int fd : {m_socket, m_input, m_output}) {
        if (fd >= 0) ::close(fd);
    }
}

void DecoderProcess::endProcess() const {
    if (m_launched.pid > 0) {
        Kill(m_launched);
    } else {
        ::kill(m_pid, SIGKILL);
    }
}

int DecoderProcess::awaitExit() {
    const int status = m_launched.pid > 0 ? AwaitExit(m_launched) : Reap(m_pid);
    m_pid = -1;
    return status;
}

bool DecoderProcess::serves(const DecodeBudget& budget) const {
    return m_budget.memoryBytes == budget.memoryBytes && m_budget.seconds == budget.seconds;
}

bool DecoderProcess::reserveInput(std::size_t size, int libraryFormat) {
    // The file only grows (the child keeps its mapping of it, which must not
    // reach past its end); the child maps what it needs of it.
    if (size <= m_inputCapacity) return true;
    const std::size_t capacity = std::max({size, m_inputCapacity * 2, std::size_t{4} << 20});
    if (::ftruncate(m_input, static_cast<off_t>(capacity)) != 0) {
        Report(libraryFormat, NeedsMoreMemoryMessage(m_budget));
        return false;
    }
    m_inputCapacity = capacity;
    return true;
}

DecoderProcess::Outcome DecoderProcess::decode(DecodeFunction decode, int format,
                                               std::span<const std::uint8_t> bytes, int flags) {
    if (!reserveInput(bytes.size(), ToLibraryFormat(format))) return {};
    if (!WriteFileAt0(m_input, bytes)) return decodeInput(decode, format, kNotSent, flags);
    return decodeInput(decode, format, bytes.size(), flags);
}

std::optional<DecoderProcess::Outcome> DecoderProcess::decodeFile(DecodeFunction decode, int format,
                                                                  int file, int flags) {
    struct stat facts {};
    if (::fstat(file, &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
    if (!reserveInput(static_cast<std::size_t>(facts.st_size), ToLibraryFormat(format))) return {};
    // The system copies from the file's cache into the input; a file that
    // grew meanwhile is taken whole, as a read would, and lengthens the input.
    if (::lseek(m_input, 0, SEEK_SET) != 0) return std::nullopt;
    off_t copied = 0;
    while (true) {
        const ssize_t got = ::sendfile(m_input, file, &copied, std::size_t{1} << 30);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
    }
    const auto size = static_cast<std::size_t>(copied);
    m_inputCapacity = std::max(m_inputCapacity, size);
    return decodeInput(decode, format, size, flags);
}

DecoderProcess::Outcome DecoderProcess::decodeInput(DecodeFunction decode, int format,
                                                    std::size_t size, int flags) {
    const int libraryFormat = ToLibraryFormat(format);
    const Request request{decode, format, flags, size};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_budget.seconds);
    Reply reply{};
    const bool sent = size != kNotSent && WriteAll(m_socket, &request, sizeof request);
    if (sent && !AwaitReply(m_socket, deadline)) {
        Report(libraryFormat, TookTooLongMessage(m_budget));
        return {};  // the destructor ends the process
    }
    if (!sent || !ReadAll(m_socket, &reply, sizeof reply)) {
        // The process is gone: how it ended says why.
        const int status = awaitExit();
        const bool outOfMemory =
            (WIFEXITED(status) && WEXITSTATUS(status) == kExitOutOfMemory) ||
            (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);  // the kernel's OOM killer
        Report(libraryFormat, outOfMemory ? NeedsMoreMemoryMessage(m_budget) : CrashedMessage());
        return {};
    }
    if (reply.status != ReplyStatus::Done) {
        Report(libraryFormat, NeedsMoreMemoryMessage(m_budget));
        return {};
    }

    const bool adopted = reply.size >= kAdoptedTransfer;
    std::shared_ptr<void> pixelOwner;
    const std::uint8_t* data = nullptr;
    if (adopted) {
        // Memory of its own, writable (the bitmap may be changed in place),
        // freed when the bitmap goes, into which the system moves the file's
        // content. Read through a mapping of the file, every page would cost
        // a fault the first time it is touched, and a page's first touch
        // costs more than its copy; memory of this process's own comes in
        // large pages where the system has them.
        if (std::optional<LargeBlock> block = LargeBlock::Allocate(reply.size);
            block && MoveOutOfFile(m_output, block->data(), reply.size)) {
            data = block->data();
            pixelOwner = block->release();
        }
    } else {
        data = m_outputMapping->reach(m_output, reply.size, false);
    }
    if (!data) {
        Report(libraryFormat, NeedsMoreMemoryMessage(m_budget));
        return {};
    }
    bool overBudget = false;
    std::optional<ReceivedTransfer> received = ReadTransfer(
        std::span<const std::uint8_t>(data, reply.size), m_budget, overBudget, pixelOwner);
    if (!received) {
        Report(libraryFormat, CrashedMessage());
        return {};
    }
    for (const LibraryMessage& message : received->messages)
        Report(message.libraryFormat, message.text);
    if (overBudget) Report(libraryFormat, NeedsMoreMemoryMessage(m_budget));
    FIBITMAP* bitmap = received->bitmap.release();
    // A failed decode may have left the library's state damaged: a fresh
    // process serves the next one.
    return {bitmap, bitmap != nullptr && ++m_served < kMaxServed && !reply.retire && !adopted};
}

}  // namespace pimo::imagelib
