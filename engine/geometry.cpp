#include "engine/geometry.h"

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

namespace fi = imagelib;

int ResampleFilterFor(int filterIndex) {
    switch (filterIndex) {
        case 0:
            return FILTER_LANCZOS3;
        case 1:
            return FILTER_CATMULLROM;
        case 2:
            return FILTER_BICUBIC;
        case 3:
            return FILTER_BSPLINE;
        case 4:
            return FILTER_BILINEAR;
        case 5:
            return FILTER_BOX;
        default:
            return FILTER_CATMULLROM;
    }
}

ImageSize BitmapSize(FIBITMAP* bitmap) {
    if (!bitmap) return {};
    return {static_cast<int>(::FreeImage_GetWidth(bitmap)),
            static_cast<int>(::FreeImage_GetHeight(bitmap))};
}

bool RotateBitmap(fi::Bitmap& slot, Rotation rotation) {
    if (!slot) return false;
    // The library turns counter-clockwise for positive angles.
    const double angle = rotation == Rotation::Left ? 90.0 : -90.0;
    slot.reset(fi::FreeImage_Rotate(slot.get(), angle));
    return slot != nullptr;
}

bool FlipBitmap(FIBITMAP* bitmap, FlipAxis axis) {
    if (!bitmap) return false;
    const BOOL flipped = axis == FlipAxis::Horizontal ? ::FreeImage_FlipHorizontal(bitmap)
                                                      : ::FreeImage_FlipVertical(bitmap);
    return flipped != FALSE;
}

bool RescaleBitmap(fi::Bitmap& slot, ImageSize target, int filterIndex) {
    if (!slot) return false;
    slot.reset(
        target.width > 0 && target.height > 0
            ? fi::FreeImage_Rescale(slot.get(), target.width, target.height,
                                    static_cast<FREE_IMAGE_FILTER>(ResampleFilterFor(filterIndex)))
            : nullptr);
    return slot != nullptr;
}

}  // namespace pimo::engine
