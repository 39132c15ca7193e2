#include "engine/imagelib/imagequant.h"

#include <libimagequant.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

struct AttrDeleter {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
};
struct ImageDeleter {
    void operator()(liq_image* p) const { liq_image_destroy(p); }
};
struct ResultDeleter {
    void operator()(liq_result* p) const { liq_result_destroy(p); }
};

// The library asks for rows top to bottom in RGBA; the bitmap stores them
// bottom-up in the library's byte order. Reading through this callback spares
// a full RGBA copy of the image.
struct RowSource {
    FIBITMAP* bitmap;
    unsigned height, step;
};

void ReadRgbaRow(liq_color rowOut[], int row, int width, void* user) {
    const auto* source = static_cast<const RowSource*>(user);
    const BYTE* pixel = ::FreeImage_GetScanLine(source->bitmap, source->height - 1 - row);
    for (int x = 0; x < width; ++x, pixel += source->step) {
        rowOut[x] = liq_color{pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE], 255};
    }
}

}  // namespace

FIBITMAP* ImageQuantPalette(FIBITMAP* bitmap, int colors) {
    if (!bitmap || ::FreeImage_GetImageType(bitmap) != FIT_BITMAP || colors < 2 || colors > 256) {
        return nullptr;
    }
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (bpp != 24 && bpp != 32) return nullptr;
    const int width = static_cast<int>(::FreeImage_GetWidth(bitmap));
    const int height = static_cast<int>(::FreeImage_GetHeight(bitmap));

    std::unique_ptr<liq_attr, AttrDeleter> attr(liq_attr_create());
    if (!attr || liq_set_max_colors(attr.get(), colors) != LIQ_OK) return nullptr;
    RowSource source{bitmap, static_cast<unsigned>(height), bpp / 8};
    std::unique_ptr<liq_image, ImageDeleter> image(
        liq_image_create_custom(attr.get(), ReadRgbaRow, &source, width, height, 0));
    if (!image) return nullptr;
    liq_result* raw = nullptr;
    if (liq_image_quantize(image.get(), attr.get(), &raw) != LIQ_OK || !raw) return nullptr;
    std::unique_ptr<liq_result, ResultDeleter> result(raw);
    liq_set_dithering_level(result.get(), 1.0f);

    Bitmap out(::FreeImage_Allocate(width, height, 8));
    if (!out) return nullptr;
    std::vector<unsigned char*> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        rows[static_cast<std::size_t>(y)] = ::FreeImage_GetScanLine(out.get(), height - 1 - y);
    }
    if (liq_write_remapped_image_rows(result.get(), image.get(), rows.data()) != LIQ_OK) {
        return nullptr;
    }
    // The palette is read after remapping: the library may refine it there.
    const liq_palette* palette = liq_get_palette(result.get());
    RGBQUAD* entries = ::FreeImage_GetPalette(out.get());
    std::fill(entries, entries + 256, RGBQUAD{0, 0, 0, 0});
    const unsigned count = std::min(palette->count, 256u);
    for (unsigned i = 0; i < count; ++i) {
        const liq_color& c = palette->entries[i];
        entries[i] = RGBQUAD{c.b, c.g, c.r, 0};
    }
    ::FreeImage_SetDotsPerMeterX(out.get(), ::FreeImage_GetDotsPerMeterX(bitmap));
    ::FreeImage_SetDotsPerMeterY(out.get(), ::FreeImage_GetDotsPerMeterY(bitmap));
    return out.release();
}

}  // namespace pimo::imagelib
