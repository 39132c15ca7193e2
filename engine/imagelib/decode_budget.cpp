#include "engine/imagelib/decode_budget.h"

#include <algorithm>
#include <atomic>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pimo::imagelib {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kSmallestMemory = 256 * kMiB;
constexpr unsigned kDefaultSeconds = 60;

std::uint64_t PhysicalMemory() {
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
#else
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
#endif
}

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
        return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return b > std::numeric_limits<std::uint64_t>::max() - a
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

// Set once by the front end before workers start; atomics keep a late change
// well defined all the same.
std::atomic<std::uint64_t> gMemoryBytes{0};
std::atomic<unsigned> gSeconds{0};
std::atomic<bool> gInProcess{false};

std::string Dimensions(const DeclaredSize& size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

}  // namespace

DecodeBudget DefaultDecodeBudget() {
    // Read once: every decode asks for the budget, and the machine's memory
    // does not change while the program runs.
    static const std::uint64_t physical = PhysicalMemory();
    return {std::max(physical / 4, kSmallestMemory), kDefaultSeconds};
}

void SetDecodeBudget(DecodeBudget budget) {
    gMemoryBytes = budget.memoryBytes;
    gSeconds = budget.seconds;
    gInProcess = !budget.isolated;
}

DecodeBudget CurrentDecodeBudget() {
    const DecodeBudget defaults = DefaultDecodeBudget();
    const std::uint64_t memory = gMemoryBytes.load();
    const unsigned seconds = gSeconds.load();
    return {memory ? memory : defaults.memoryBytes, seconds ? seconds : defaults.seconds,
            !gInProcess.load()};
}

std::uint64_t OpeningCost(const DeclaredSize& size) {
    const std::uint64_t normalised = SaturatingMultiply(std::uint64_t{size.width} * size.height, 4);
    return SaturatingAdd(size.DecodedBytes(), normalised);
}

std::uint64_t WholeMiB(std::uint64_t bytes) {
    return bytes / kMiB;
}

std::optional<std::string> RefusalForDeclaredSize(const DeclaredSize& size,
                                                  const DecodeBudget& budget) {
    const std::uint64_t cost = OpeningCost(size);
    if (cost <= budget.memoryBytes) return std::nullopt;
    return "the image declares " + Dimensions(size) + " pixels, which needs about " +
           std::to_string(WholeMiB(cost)) + " MiB to decode, more than the memory budget of " +
           std::to_string(WholeMiB(budget.memoryBytes)) + " MiB";
}

std::optional<std::string> RefusalForImplausibleSize(const DeclaredSize& size,
                                                     std::uint64_t fileBytes) {
    // Small images always pass: headers, palettes and solid areas compress well.
    constexpr std::uint64_t kAlwaysAllowed = 64 * kMiB;
    constexpr std::uint64_t kMaxRatio = 2000;
    const std::uint64_t decoded = size.DecodedBytes();
    if (decoded <= kAlwaysAllowed || decoded <= SaturatingMultiply(kMaxRatio, fileBytes))
        return std::nullopt;
    return "the image declares " + Dimensions(size) + " pixels, more than its " +
           std::to_string(fileBytes) + " bytes can hold";
}

std::string CrashedMessage() {
    return "the image library crashed while decoding this file";
}

std::string NeedsMoreMemoryMessage(const DecodeBudget& budget) {
    return "the image library needs more than " + std::to_string(WholeMiB(budget.memoryBytes)) +
           " MiB to decode this file";
}

std::string TookTooLongMessage(const DecodeBudget& budget) {
    return "the image library took longer than " + std::to_string(budget.seconds) +
           " s to decode this file";
}

}  // namespace pimo::imagelib
