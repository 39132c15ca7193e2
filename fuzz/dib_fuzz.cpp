// Pasted device-independent bitmaps: our decoder of the clipboard block.
#include "engine/clipboard_dib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> block(data, size);
    pimo::imagelib::Bitmap decoded = pimo::engine::DecodeDib(block);
    pimo::imagelib::Bitmap slot;
    (void)pimo::engine::BitmapFromDIB(block, slot);
    return 0;
}
