#include "ui/bitmap_image.h"

#include "engine/display_pixels.h"

namespace pimo::ui {

QImage ToQImage(FIBITMAP* bitmap, QImage reuse) {
    const engine::DisplayFormat format = engine::DisplayFormatOf(bitmap);
    if (format.width <= 0 || format.height <= 0) return {};
    // The engine writes Format_ARGB32's memory layout straight into the image.
    const QImage::Format kind = format.transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const bool fits = reuse.width() == format.width && reuse.height() == format.height &&
                      reuse.format() == kind && reuse.isDetached();
    QImage image = fits ? std::move(reuse) : QImage(format.width, format.height, kind);
    if (image.isNull()) return {};
    const std::span<std::uint8_t> pixels(image.bits(),
                                         static_cast<std::size_t>(image.sizeInBytes()));
    if (!engine::CopyDisplayPixels(bitmap, pixels, static_cast<std::size_t>(image.bytesPerLine())))
        return {};
    return image;
}

}  // namespace pimo::ui
