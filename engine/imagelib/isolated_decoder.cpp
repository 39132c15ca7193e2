#include "engine/imagelib/isolated_decoder.h"

#include "engine/imagelib/freeimage_ext.h"

#ifndef _WIN32
#include "engine/imagelib/decoder_process.h"
#endif

namespace pimo::imagelib {

namespace {
FIBITMAP* DecodeHere(int format, std::span<const std::uint8_t> bytes, int flags,
                     DecodeFunction decode) {
    return decode ? decode(format, bytes, flags) : FreeImage_LoadFromBytes(format, bytes, flags);
}
}  // namespace

#ifdef _WIN32

// No fork: the decode runs here, guarded by the header checks alone.
FIBITMAP* DecodeIsolated(int format, std::span<const std::uint8_t> bytes, int flags,
                         const DecodeBudget&, DecodeFunction decode) {
    return DecodeHere(format, bytes, flags, decode);
}

std::optional<FIBITMAP*> DecodeFileIsolated(int, int, int, const DecodeBudget&) {
    return std::nullopt;
}

void StopDecoderProcess() {}

#else

namespace {
thread_local std::unique_ptr<DecoderProcess> tProcess;
}  // namespace

namespace {
// This thread's process for `budget`; none when the system gives none.
DecoderProcess* ProcessFor(const DecodeBudget& budget) {
    // A process made for another budget is replaced.
    if (tProcess && !tProcess->serves(budget)) tProcess.reset();
    if (!tProcess) {
        // Before the fork, so that the child never waits on their one-time setup.
        InstallLibraryCallbacks();
        tProcess = DecoderProcess::Start(budget);
    }
    return tProcess.get();
}

FIBITMAP* Finish(DecoderProcess::Outcome outcome) {
    if (!outcome.keepProcess) tProcess.reset();
    return outcome.bitmap;
}
}  // namespace

FIBITMAP* DecodeIsolated(int format, std::span<const std::uint8_t> bytes, int flags,
                         const DecodeBudget& budget, DecodeFunction decode) {
    if (!budget.isolated) return DecodeHere(format, bytes, flags, decode);
    if (!decode) decode = &FreeImage_LoadFromBytes;
    DecoderProcess* process = ProcessFor(budget);
    // No process to be had (no memory for a fork): decode here rather than not at all.
    if (!process) return DecodeHere(format, bytes, flags, decode);
    return Finish(process->decode(decode, format, bytes, flags));
}

std::optional<FIBITMAP*> DecodeFileIsolated(int format, int file, int flags,
                                            const DecodeBudget& budget) {
    if (!budget.isolated) return std::nullopt;
    DecoderProcess* process = ProcessFor(budget);
    if (!process) return std::nullopt;
    std::optional<DecoderProcess::Outcome> outcome =
        process->decodeFile(&FreeImage_LoadFromBytes, format, file, flags);
    if (!outcome) return std::nullopt;
    return Finish(*outcome);
}

void StopDecoderProcess() {
    tProcess.reset();
}

#endif

}  // namespace pimo::imagelib
