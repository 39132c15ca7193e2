#include "engine/imagelib/jpeg_cmyk.h"

#include <limits>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_exif.h"

namespace pimo::imagelib {

namespace {

// Byte order of the library's CMYK bitmaps.
constexpr int kCyan = 0, kMagenta = 1, kYellow = 2, kBlack = 3;

Bitmap LoadRawCmyk(std::span<const std::uint8_t> bytes, int libraryFlags) {
    if (bytes.size() > std::numeric_limits<DWORD>::max()) return nullptr;
    // The stream only reads the bytes; the library's signature wants a mutable pointer.
    MemoryStream stream(
        ::FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())));
    if (!stream) return nullptr;
    return Bitmap(::FreeImage_LoadFromMemory(FIF_JPEG, stream.get(), libraryFlags | JPEG_CMYK));
}

BYTE RgbFromInk(unsigned ink, unsigned black) {
    return static_cast<BYTE>(((255 - ink) * (255 - black) + 127) / 255);
}

}  // namespace

FIBITMAP* DecodeCmykJpeg(std::span<const std::uint8_t> bytes, const JpegHeader& header,
                         int libraryFlags) {
    if (header.components != 4) return nullptr;
    const Bitmap cmyk = LoadRawCmyk(bytes, libraryFlags);
    if (!cmyk || ::FreeImage_GetImageType(cmyk.get()) != FIT_BITMAP ||
        ::FreeImage_GetBPP(cmyk.get()) != 32) {
        return nullptr;
    }
    const unsigned width = ::FreeImage_GetWidth(cmyk.get()),
                   height = ::FreeImage_GetHeight(cmyk.get());
    Bitmap rgb(::FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 24));
    if (!rgb) return nullptr;
    // The library hands over 255 minus each stored sample: the ink amount for
    // inverted (Adobe) files, its complement for straight ones.
    const bool inverted = header.adobeMarker;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* in = ::FreeImage_GetScanLine(cmyk.get(), y);
        BYTE* out = ::FreeImage_GetScanLine(rgb.get(), y);
        for (unsigned x = 0; x < width; ++x, in += 4, out += 3) {
            const auto ink = [&](int channel) -> unsigned {
                return inverted ? in[channel] : 255u - in[channel];
            };
            const unsigned black = ink(kBlack);
            out[FI_RGBA_RED] = RgbFromInk(ink(kCyan), black);
            out[FI_RGBA_GREEN] = RgbFromInk(ink(kMagenta), black);
            out[FI_RGBA_BLUE] = RgbFromInk(ink(kYellow), black);
        }
    }
    ::FreeImage_CloneMetadata(rgb.get(), cmyk.get());
    ::FreeImage_SetDotsPerMeterX(rgb.get(), ::FreeImage_GetDotsPerMeterX(cmyk.get()));
    ::FreeImage_SetDotsPerMeterY(rgb.get(), ::FreeImage_GetDotsPerMeterY(cmyk.get()));
    if (libraryFlags & JPEG_EXIFROTATE) ResetExifOrientation(rgb.get());
    return rgb.release();
}

}  // namespace pimo::imagelib
