#include "engine/imagelib/palette_quantize.h"

#include "engine/imagelib/exact_palette.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/imagequant.h"
#include "engine/imagelib/neuquant.h"

namespace pimo::imagelib {

Quantizer QuantizerFromNumber(int number) {
    switch (number) {
        case 1:
            return Quantizer::NeuQuant;
        case 2:
            return Quantizer::ImageQuant;
        default:
            return Quantizer::Wu;
    }
}

namespace {

FIBITMAP* ChosenPalette(FIBITMAP* bitmap, Quantizer method, int colors) {
    // Both of our quantizers need two colours; a single one (a two-colour
    // palette with an entry reserved for transparency) is Wu's.
    if (colors >= 2 && method == Quantizer::NeuQuant) return NeuQuantPalette(bitmap, colors);
    if (colors >= 2 && method == Quantizer::ImageQuant) return ImageQuantPalette(bitmap, colors);
    if (::FreeImage_GetBPP(bitmap) == 24)
        return ::FreeImage_ColorQuantizeEx(bitmap, FIQ_WUQUANT, colors, 0, nullptr);
    Bitmap rgb(::FreeImage_ConvertTo24Bits(bitmap));
    return rgb ? ::FreeImage_ColorQuantizeEx(rgb.get(), FIQ_WUQUANT, colors, 0, nullptr) : nullptr;
}

}  // namespace

FIBITMAP* QuantizeToPalette(FIBITMAP* bitmap, Quantizer method, int colors) {
    if (!bitmap || colors < 1 || colors > 256 || ::FreeImage_GetImageType(bitmap) != FIT_BITMAP)
        return nullptr;
    if (::FreeImage_GetBPP(bitmap) != 24 && ::FreeImage_GetBPP(bitmap) != 32) return nullptr;
    ReportProgress(0);
    // An image that already fits keeps every pixel: no quantizer can do better.
    FIBITMAP* result = ExactPalette(bitmap, colors);
    if (!result) result = ChosenPalette(bitmap, method, colors);
    if (result) CarryBitmapData(bitmap, result);
    ReportProgress(10000);
    return result;
}

}  // namespace pimo::imagelib
