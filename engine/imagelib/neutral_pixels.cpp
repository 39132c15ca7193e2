#include "engine/imagelib/neutral_pixels.h"

namespace pimo::imagelib {

bool HasOnlyGreyPixels(FIBITMAP* bitmap) {
    if (!bitmap || ::FreeImage_GetImageType(bitmap) != FIT_BITMAP) return false;
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (bpp != 24 && bpp != 32) return false;
    const unsigned step = bpp / 8;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            if (pixel[0] != pixel[1] || pixel[1] != pixel[2]) return false;
        }
    }
    return true;
}

}  // namespace pimo::imagelib
