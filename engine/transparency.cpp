#include "engine/transparency.h"

#include <algorithm>
#include <vector>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

void ApplyPaletteTransparency(FIBITMAP* source, FIBITMAP* working, int threshold) {
    if (!source || !working || !imagelib::FreeImage_IsTransparent(source, 0)) return;
    const unsigned bpp = ::FreeImage_GetBPP(working);
    if (bpp != 1 && bpp != 4 && bpp != 8) return;
    const unsigned entries = 1u << bpp;
    const BYTE last = static_cast<BYTE>(entries - 1);

    std::vector<BYTE> table(entries, 255);
    table[last] = 0;

    const unsigned width = std::min(::FreeImage_GetWidth(source), ::FreeImage_GetWidth(working));
    const unsigned height = std::min(::FreeImage_GetHeight(source), ::FreeImage_GetHeight(working));
    if (::FreeImage_GetBPP(source) == 32) {
        for (unsigned y = 0; y < height; ++y) {
            const BYTE* pixel = ::FreeImage_GetScanLine(source, y);
            for (unsigned x = 0; x < width; ++x, pixel += 4) {
                if (pixel[FI_RGBA_ALPHA] <= threshold) {
                    BYTE index = last;
                    ::FreeImage_SetPixelIndex(working, x, y, &index);
                }
            }
        }
    }
    ::FreeImage_SetTransparencyTable(working, table.data(), static_cast<int>(entries));
}

void HideTransparentColours(FIBITMAP* source, FIBITMAP* working, int threshold) {
    if (!source || !working || ::FreeImage_GetBPP(source) != 32) return;
    const unsigned step = ::FreeImage_GetBPP(working) / 8;
    if (step != 3 && step != 4) return;
    const unsigned width = std::min(::FreeImage_GetWidth(source), ::FreeImage_GetWidth(working));
    const unsigned height = std::min(::FreeImage_GetHeight(source), ::FreeImage_GetHeight(working));
    const auto visible = [&](unsigned x, unsigned y) {
        return ::FreeImage_GetScanLine(source, y)[x * 4 + FI_RGBA_ALPHA] > threshold;
    };
    // The colour to copy starts as the first visible pixel's (rows top to bottom).
    const BYTE* fill = nullptr;
    for (unsigned y = height; y-- > 0 && !fill;) {
        for (unsigned x = 0; x < width && !fill; ++x) {
            if (visible(x, y)) fill = ::FreeImage_GetScanLine(working, y) + x * step;
        }
    }
    if (!fill) return;
    BYTE colour[3] = {fill[0], fill[1], fill[2]};
    for (unsigned y = height; y-- > 0;) {
        BYTE* pixel = ::FreeImage_GetScanLine(working, y);
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            if (visible(x, y)) {
                std::copy(pixel, pixel + 3, colour);
            } else {
                std::copy(colour, colour + 3, pixel);
            }
        }
    }
}

bool ReservesTransparentEntry(const OptimizationSettings& settings, bool sourceTransparent) {
    return sourceTransparent && settings.TransparencyMode == TransparencyMode::Keep &&
           settings.Format != kFormatJpeg;
}

bool SimplifiesTransparency(int format, int pngPreset, bool originalHasAlpha,
                            bool onlyFullTransparency, bool current) {
    switch (format) {
        case kFormatPng:
            if (PngPresetKind(pngPreset) == PresetKind::TrueColor) return false;
            return originalHasAlpha || !onlyFullTransparency;
        case kFormatGif:
            return originalHasAlpha;
        default:
            return current;
    }
}

bool FormatKeepsTransparency(int format) {
    return format != kFormatJpeg;
}

void ApplyFormatTransparencyRule(OptimizationSettings& settings) {
    if (!FormatKeepsTransparency(settings.Format))
        settings.TransparencyMode = TransparencyMode::SolidColor;
}

bool SimplifiesTransparency(const Engine& engine, bool current) {
    FIBITMAP* source = engine.SourceBitmap.get();
    if (!source) return current;
    return SimplifiesTransparency(engine.settings.Format, engine.settings.PNGPalettePreset,
                                  imagelib::FreeImage_OriginalHasAlpha(source),
                                  engine.imageInfo.OnlyFullTransparency, current);
}

}  // namespace pimo::engine
