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

namespace {

// A 24-bit row (blue, green, red) widened to 32 bits with an opaque fourth byte.
void WidenRow24(const std::uint8_t* source, std::uint8_t* target, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x, source += 3, target += 4) {
        target[0] = source[0];
        target[1] = source[1];
        target[2] = source[2];
        target[3] = 0xFF;
    }
}

}  // namespace

bool CopyDisplayPixels(FIBITMAP* bitmap, std::span<std::uint8_t> target, std::size_t rowBytes) {
    if (!bitmap) return false;
    // 32- and 24-bit bitmaps are read in place, row by row; any other depth
    // through one converted copy. A result of a dozen megapixels is shown
    // after every change, so no full-size copy is made that is not needed.
    const bool plain = ::FreeImage_GetImageType(bitmap) == FIT_BITMAP;
    const unsigned depth = ::FreeImage_GetBPP(bitmap);
    imagelib::Bitmap converted;
    FIBITMAP* source = bitmap;
    if (!plain || (depth != 32 && depth != 24)) {
        converted.reset(::FreeImage_ConvertTo32Bits(bitmap));
        source = converted.get();
    }
    if (!source) return false;
    const std::size_t width = ::FreeImage_GetWidth(source);
    const std::size_t height = ::FreeImage_GetHeight(source);
    if (rowBytes < width * 4 ||
        target.size() < (height == 0 ? 0 : (height - 1) * rowBytes + width * 4))
        return false;
    const bool wide = ::FreeImage_GetBPP(source) == 32;
    for (std::size_t y = 0; y < height; ++y) {
        // The library stores rows bottom-up.
        const auto* row = ::FreeImage_GetScanLine(source, static_cast<int>(height - 1 - y));
        std::uint8_t* out = target.data() + y * rowBytes;
        if (wide) {
            std::memcpy(out, row, width * 4);
        } else {
            WidenRow24(row, out, width);
        }
    }
    return true;
}

}  // namespace pimo::engine
