#include "batch/frame_count.h"

#include <cstdint>
#include <cstring>
#include <span>

#include "engine/imagelib/decode_budget.h"
#include "engine/imagelib/file_io.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/isolated_decoder.h"

namespace pimo::batch {

namespace {

constexpr const char* kFrameCountKey = "FrameCount";

// Runs where the decodes run (a decoder process): the library's page reader
// is outside code over outside bytes like any decoder. The count comes back
// as a tag on a one-pixel bitmap, the form a decoder process hands back.
FIBITMAP* CountFrames(int format, std::span<const std::uint8_t> bytes, int) {
    const auto library = static_cast<FREE_IMAGE_FORMAT>(imagelib::ToLibraryFormat(format));
    FIMEMORY* memory =
        ::FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    if (!memory) return nullptr;
    FIMULTIBITMAP* pages = ::FreeImage_LoadMultiBitmapFromMemory(library, memory, 0);
    const std::int32_t count = pages ? ::FreeImage_GetPageCount(pages) : 0;
    if (pages) ::FreeImage_CloseMultiBitmap(pages, 0);
    ::FreeImage_CloseMemory(memory);
    FIBITMAP* answer = ::FreeImage_Allocate(1, 1, 8);
    if (answer) {
        imagelib::SetMetadataTag(answer, FIMD_CUSTOM, kFrameCountKey, FIDT_SLONG, 1, sizeof count,
                                 &count);
    }
    return answer;
}

}  // namespace

int FrameCount(int format, const std::string& path) {
    const auto library = static_cast<FREE_IMAGE_FORMAT>(imagelib::ToLibraryFormat(format));
    // Only these formats have pages in the library; others hold one picture.
    if (library != FIF_GIF && library != FIF_TIFF && library != FIF_ICO) return 1;
    const std::optional<std::vector<std::uint8_t>> bytes = imagelib::ReadWholeFile(path);
    if (!bytes || bytes->empty() || bytes->size() > 0xFFFFFFFFu) return 0;
    const imagelib::Bitmap answer(
        imagelib::DecodeIsolated(format, *bytes, 0, imagelib::CurrentDecodeBudget(), &CountFrames));
    FITAG* tag = nullptr;
    if (!answer || !::FreeImage_GetMetadata(FIMD_CUSTOM, answer.get(), kFrameCountKey, &tag) ||
        ::FreeImage_GetTagLength(tag) != sizeof(std::int32_t))
        return 0;
    std::int32_t count = 0;
    std::memcpy(&count, ::FreeImage_GetTagValue(tag), sizeof count);
    return count;
}

}  // namespace pimo::batch
