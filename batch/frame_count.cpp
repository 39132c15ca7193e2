#include "batch/frame_count.h"

#include "engine/imagelib/file_io.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::batch {

int FrameCount(int format, const std::string& path) {
    const auto library = static_cast<FREE_IMAGE_FORMAT>(imagelib::ToLibraryFormat(format));
    // Only these formats have pages in the library; others hold one picture.
    if (library != FIF_GIF && library != FIF_TIFF && library != FIF_ICO) return 1;
    const std::optional<std::vector<std::uint8_t>> bytes = imagelib::ReadWholeFile(path);
    if (!bytes || bytes->empty() || bytes->size() > 0xFFFFFFFFu) return 0;
    // Read from memory, so the file is not opened again by a name the
    // library would have to understand.
    FIMEMORY* memory =
        ::FreeImage_OpenMemory(const_cast<BYTE*>(bytes->data()), static_cast<DWORD>(bytes->size()));
    if (!memory) return 0;
    FIMULTIBITMAP* pages = ::FreeImage_LoadMultiBitmapFromMemory(library, memory, 0);
    const int count = pages ? ::FreeImage_GetPageCount(pages) : 0;
    if (pages) ::FreeImage_CloseMultiBitmap(pages, 0);
    ::FreeImage_CloseMemory(memory);
    return count;
}

}  // namespace pimo::batch
