#pragma once
// Decoding in a child process. The image library is not ours: a file that
// makes it crash, hang or allocate without bound must cost that one file a
// clear error, not the program.
//
// On Linux each thread that decodes has a decoder process of its own, forked
// on first use and kept for the decodes that follow (a fork per file costs
// more than the decode of a small image). The bytes go to it, and the decoded
// bitmap comes back, through shared memory; it runs under a memory limit, and
// the thread waits for it no longer than the time budget. A process that
// crashed, ran out of memory or took too long is ended and replaced on the
// next decode. Elsewhere the decode runs in this process.

#include <FreeImage.h>

#include <cstdint>
#include <optional>
#include <span>

#include "engine/imagelib/decode_budget.h"

namespace pimo::imagelib {

/// A decode of outside bytes (system format identifier, bytes, load flags).
using DecodeFunction = FIBITMAP* (*)(int format, std::span<const std::uint8_t> bytes, int flags);

/// Runs `decode` (FreeImage_LoadFromBytes when null) over `bytes` in this
/// thread's decoder process and returns the bitmap rebuilt here, or nullptr.
/// The library's messages from the decoder reach this thread's output handler
/// as if the decode had run here; a crash, a decode that exceeds `budget`, or
/// one that outlasts it is reported there under the format with its own
/// message ("the image library crashed while decoding this file", "...needs
/// more than N MiB...", "...took longer than N s..."). With `budget.isolated`
/// off, `decode` runs in this process.
///
/// Safe from several threads at once: each thread has its own decoder
/// process, forked by the decoder launcher (a one-thread process started with
/// the program), so no lock another thread holds can be inherited held. The
/// decoder shares nothing else with the program: `decode` may use only what
/// its arguments and the program's start-up state give it. Without a launcher
/// the process is forked from this thread (the library's callbacks are
/// installed before; the process uses no stdio, closes every descriptor it
/// does not own, and ends with _exit).
FIBITMAP* DecodeIsolated(int format, std::span<const std::uint8_t> bytes, int flags,
                         const DecodeBudget& budget, DecodeFunction decode = nullptr);

/// As DecodeIsolated with the library's loader, for the bytes of the open
/// regular file `file`: the system copies them into the decoder process's
/// input, so that they never take memory in this process. Nothing when they
/// cannot go that way (`budget.isolated` off, no decoder process, a file the
/// system cannot copy from): the caller then reads the file itself.
std::optional<FIBITMAP*> DecodeFileIsolated(int format, int file, int flags,
                                            const DecodeBudget& budget);

/// Ends this thread's decoder process; the next decode starts a fresh one.
/// Threads need not call it: their process ends with them.
void StopDecoderProcess();

}  // namespace pimo::imagelib
