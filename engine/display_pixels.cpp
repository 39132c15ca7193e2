#include "engine/display_pixels.h"

#include <cstring>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

DisplayFormat DisplayFormatOf(FIBITMAP* bitmap) {
    if (!bitmap) return {};
    return {static_cast<int>(::FreeImage_GetWidth(bitmap)),
            static_cast<int>(::FreeImage_GetHeight(bitmap)),
            ::FreeImage_IsTransparent(bitmap) != 0};
}

bool CopyDisplayPixels(FIBITMAP* bitmap, std::span<std::uint8_t> target, std::size_t rowBytes) {
    if (!bitmap) return false;
    // A 32-bit bitmap is read in place; any other depth through one converted copy.
    imagelib::Bitmap converted;
    FIBITMAP* rgba = bitmap;
    if (::FreeImage_GetBPP(bitmap) != 32 || ::FreeImage_GetImageType(bitmap) != FIT_BITMAP) {
        converted.reset(::FreeImage_ConvertTo32Bits(bitmap));
        rgba = converted.get();
    }
    if (!rgba) return false;
    const std::size_t width = ::FreeImage_GetWidth(rgba);
    const std::size_t height = ::FreeImage_GetHeight(rgba);
    if (rowBytes < width * 4 ||
        target.size() < (height == 0 ? 0 : (height - 1) * rowBytes + width * 4))
        return false;
    for (std::size_t y = 0; y < height; ++y) {
        // The library stores rows bottom-up.
        const auto* row = ::FreeImage_GetScanLine(rgba, static_cast<int>(height - 1 - y));
        std::memcpy(target.data() + y * rowBytes, row, width * 4);
    }
    return true;
}

}  // namespace pimo::engine
