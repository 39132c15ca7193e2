// The result decoded to be shown: only as many pixels as the view draws.

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_direct_decode.h"

namespace pimo::engine {

namespace fi = imagelib;

FIBITMAP* DecodeJpegForDisplay(std::span<const std::uint8_t> encoded, unsigned& reduction) {
    if (reduction > 1) {
        if (FIBITMAP* reduced = fi::DecodeJpegScaled(encoded, reduction)) {
            // The depth the status bar tells is the file's, which this is.
            fi::RecordOriginalFacts(reduced, 0);
            return reduced;
        }
    }
    reduction = 1;
    return fi::FreeImage_LoadFromBytes(fi::kFormatJpeg, encoded, JPEG_ACCURATE);
}

FIBITMAP* Engine::DecodeJpegResultForDisplay(FIBITMAP* encoded) {
    ResultReduction = 1;
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!ResultStream || !::FreeImage_AcquireMemory(ResultStream.get(), &data, &size) || !data)
        return nullptr;
    // Left at the start, as a read through the library leaves it.
    ::FreeImage_SeekMemory(ResultStream.get(), 0, SEEK_SET);
    unsigned reduction = 1;
    if (encoded) {
        reduction = m_host.resultDisplayReduction(::FreeImage_GetWidth(encoded),
                                                  ::FreeImage_GetHeight(encoded));
    }
    FIBITMAP* decoded = DecodeJpegForDisplay(std::span<const std::uint8_t>(data, size), reduction);
    ResultReduction = reduction;
    return decoded;
}

}  // namespace pimo::engine
