#include "engine/imagelib/viewed_pixels.h"

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

// Straight (not premultiplied) alpha over an opaque background, rounded to nearest.
std::uint8_t Blend(unsigned color, unsigned alpha, unsigned background) {
    return static_cast<std::uint8_t>((color * alpha + background * (255 - alpha) + 127) / 255);
}

}  // namespace

RgbPixels CompositedRgb(FIBITMAP* bitmap, Background background) {
    if (!bitmap) return {};
    // 32 bits carries every kind of transparency as an alpha byte: the
    // conversion expands a palette's transparency table and gives opaque
    // pixels 255. Standard-type conversion first brings 16-bit and float
    // images into range.
    Bitmap standard;
    FIBITMAP* input = bitmap;
    if (::FreeImage_GetImageType(bitmap) != FIT_BITMAP) {
        standard.reset(imagelib::FreeImage_ConvertToStandardType(bitmap, true));
        input = standard.get();
    }
    if (!input) return {};
    const Bitmap rgba(::FreeImage_GetBPP(input) == 32 ? imagelib::FreeImage_Clone(input)
                                                      : imagelib::FreeImage_ConvertTo32Bits(input));
    if (!rgba) return {};
    // As loading judges it: an alpha channel that is zero everywhere is
    // unused (such files show opaque), any other is blended.
    const bool useAlpha = FreeImage_IsTransparent(rgba.get(), 1);

    RgbPixels pixels;
    pixels.width = ::FreeImage_GetWidth(rgba.get());
    pixels.height = ::FreeImage_GetHeight(rgba.get());
    pixels.bytes.resize(std::size_t{pixels.width} * pixels.height * 3);
    std::uint8_t* out = pixels.bytes.data();
    for (unsigned row = 0; row < pixels.height; ++row) {
        // The library stores rows bottom-up.
        const BYTE* pixel = ::FreeImage_GetScanLine(rgba.get(), pixels.height - 1 - row);
        for (unsigned x = 0; x < pixels.width; ++x, pixel += 4, out += 3) {
            const unsigned alpha = useAlpha ? pixel[FI_RGBA_ALPHA] : 255;
            out[0] = Blend(pixel[FI_RGBA_RED], alpha, background.red);
            out[1] = Blend(pixel[FI_RGBA_GREEN], alpha, background.green);
            out[2] = Blend(pixel[FI_RGBA_BLUE], alpha, background.blue);
        }
    }
    return pixels;
}

RgbPixels DecodedCompositedRgb(int format, std::span<const std::uint8_t> encoded,
                               Background background) {
    const int flags = format == kFormatJpeg ? JPEG_ACCURATE : 0;
    const Bitmap decoded(FreeImage_LoadFromBytes(format, encoded, flags));
    return CompositedRgb(decoded.get(), background);
}

}  // namespace pimo::imagelib
