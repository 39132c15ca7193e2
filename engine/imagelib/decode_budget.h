#pragma once
// How much memory and time decoding one image may take, and the texts that
// tell the user a file went over them. The image library is not ours: a file
// that makes it crash, hang or allocate without bound must cost that one file
// a clear error and nothing else.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/imagelib/declared_size.h"

namespace pimo::imagelib {

struct DecodeBudget {
    std::uint64_t memoryBytes = 0;  // for the decoded bitmap and its normalised copy
    unsigned seconds = 0;
    // Off only on request: the decode then runs in this process, guarded by
    // the header checks alone (a crash in the library ends the program).
    bool isolated = true;
};

/// A quarter of the machine's physical memory (at least 256 MiB) and 60 s,
/// isolated.
DecodeBudget DefaultDecodeBudget();

/// The budget every later decode of this process uses. Set it before worker
/// threads start decoding; reading it is safe from any thread.
void SetDecodeBudget(DecodeBudget budget);
DecodeBudget CurrentDecodeBudget();

/// Bytes that opening an image of this size takes: the decoded bitmap plus the
/// 32-bit copy that normalisation makes of it. Saturates instead of wrapping.
std::uint64_t OpeningCost(const DeclaredSize& size);

/// The refusal of a file whose declared size does not fit the budget, or
/// nothing when it fits.
std::optional<std::string> RefusalForDeclaredSize(const DeclaredSize& size,
                                                  const DecodeBudget& budget);

/// The refusal of a file whose header declares more pixels than its bytes can
/// hold (no codec packs more than about 2000 decoded bytes into one file byte),
/// or nothing when the size is plausible.
std::optional<std::string> RefusalForImplausibleSize(const DeclaredSize& size,
                                                     std::uint64_t fileBytes);

// The texts of a decode that went wrong in the isolated decoder.
std::string CrashedMessage();
std::string NeedsMoreMemoryMessage(const DecodeBudget& budget);
std::string TookTooLongMessage(const DecodeBudget& budget);

/// Whole mebibytes of a byte count, rounded down.
std::uint64_t WholeMiB(std::uint64_t bytes);

}  // namespace pimo::imagelib
