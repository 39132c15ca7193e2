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

void StopDecoderProcess() {}

#else

namespace {
thread_local std::unique_ptr<DecoderProcess> tProcess;
}  // namespace

FIBITMAP* DecodeIsolated(int format, std::span<const std::uint8_t> bytes, int flags,
                         const DecodeBudget& budget, DecodeFunction decode) {
    if (!budget.isolated) return DecodeHere(format, bytes, flags, decode);
    if (!decode) decode = &FreeImage_LoadFromBytes;
    // A process made for another budget is replaced.
    if (tProcess && !tProcess->serves(budget)) tProcess.reset();
    if (!tProcess) {
        // Before the fork, so that the child never waits on their one-time setup.
        InstallLibraryCallbacks();
        tProcess = DecoderProcess::Start(budget);
        // No process to be had (no memory for a fork): decode here rather than not at all.
        if (!tProcess) return DecodeHere(format, bytes, flags, decode);
    }
    DecoderProcess::Outcome outcome = tProcess->decode(decode, format, bytes, flags);
    if (!outcome.keepProcess) tProcess.reset();
    return outcome.bitmap;
}

void StopDecoderProcess() {
    tProcess.reset();
}

#endif

}  // namespace pimo::imagelib
