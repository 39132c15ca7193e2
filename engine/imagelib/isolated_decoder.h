#pragma once
// Decoding in a child process. The image library is not ours: a file that
// makes it crash, hang or allocate without bound must cost that one file a
// clear error, not the program. On Linux the decode runs in a forked child
// under a memory limit; the parent enforces the time budget and rebuilds the
// bitmap from plain bytes the child leaves in shared memory. Elsewhere the
// decode runs in this process.

#include <FreeImage.h>

#include <functional>

#include "engine/imagelib/decode_budget.h"

namespace pimo::imagelib {

/// The decode to isolate: it runs in the child, which ends after it.
using IsolatedDecode = std::function<FIBITMAP*()>;

/// Runs `decode` isolated and returns its bitmap, rebuilt in this process, or
/// nullptr. The library's messages from the child reach this thread's output
/// handler as if the decode had run here; a crash, a decode that exceeds
/// `budget`, or one that outlasts it is reported there under `libraryFormat`
/// with its own message ("the image library crashed while decoding this file",
/// "...needs more than N MiB...", "...took longer than N s...").
///
/// Safe to call from several threads at once: the child needs no lock another
/// thread may hold at the fork (the library's callbacks are installed before
/// it; malloc is fork-safe; the child uses no stdio and ends with _exit).
FIBITMAP* DecodeIsolated(FREE_IMAGE_FORMAT libraryFormat, const IsolatedDecode& decode,
                         const DecodeBudget& budget);

}  // namespace pimo::imagelib
