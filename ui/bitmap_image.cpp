#include "ui/bitmap_image.h"

#include <cstring>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::ui {

QImage ToQImage(FIBITMAP* bitmap) {
    if (!bitmap) return {};
    imagelib::Bitmap rgba(::FreeImage_ConvertTo32Bits(bitmap));
    if (!rgba) return {};
    const int width = static_cast<int>(::FreeImage_GetWidth(rgba.get()));
    const int height = static_cast<int>(::FreeImage_GetHeight(rgba.get()));
    // An image that is not transparent may carry any value in its fourth byte.
    const bool alpha = ::FreeImage_IsTransparent(bitmap);
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return {};
    for (int y = 0; y < height; ++y) {
        // The library stores rows bottom-up, in blue-green-red-alpha order on
        // little-endian machines, which is Format_ARGB32's memory layout.
        std::memcpy(image.scanLine(y), ::FreeImage_GetScanLine(rgba.get(), height - 1 - y),
                    static_cast<std::size_t>(width) * 4);
    }
    return image;
}

}  // namespace pimo::ui
