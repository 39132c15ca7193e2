// The PNG stage of the pipeline.

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/palette_quantize.h"
#include "engine/transparency.h"

namespace pimo::engine {

namespace fi = imagelib;

std::uint32_t Engine::EncodePNG(const std::string& targetPath) {
    if (!SourceBitmap) return 0;
    const bool sourceTransparent = fi::FreeImage_IsTransparent(SourceBitmap.get(), 0);
    if (settings.AdjustGrayscale) fi::FreeImage_ConvertToGreyscaleInPlace(WorkingBitmap.get());

    switch (PngPresetKind(settings.PNGPalettePreset)) {
        case PresetKind::Quantize: {
            const bool reserve = ReservesTransparentEntry(settings, sourceTransparent);
            if (reserve) {
                HideTransparentColours(SourceBitmap.get(), WorkingBitmap.get(),
                                       settings.TransparencyThreshold);
            }
            const int colors = settings.PNGMaxColors - (reserve ? 1 : 0);
            ReplaceBitmap(WorkingBitmap,
                          fi::QuantizeToPalette(
                              WorkingBitmap.get(),
                              fi::QuantizerFromNumber(settings.PNGQuantizationMethod), colors));
            break;
        }
        case PresetKind::DitheredMonochrome:
            ReplaceBitmap(WorkingBitmap, fi::FreeImage_Dither(WorkingBitmap.get(), FID_FS));
            break;
        default:
            break;
    }
    RemoveMetadata(MetadataKeptBy(kFormatPng));
    if (WorkingBitmap && ::FreeImage_GetBPP(WorkingBitmap.get()) < 32 && sourceTransparent &&
        settings.TransparencyMode == TransparencyMode::Keep) {
        ApplyPaletteTransparency(SourceBitmap.get(), WorkingBitmap.get(),
                                 settings.TransparencyThreshold);
    }
    const int flags = PngCompressionFlags(settings.PNGCompressionType);

    const auto encodeIntoStream = [&]() -> std::uint32_t {
        ::FreeImage_SeekMemory(ResultStream.get(), 0, SEEK_SET);
        fi::FreeImage_SaveToMemory(fi::kFormatPng, WorkingBitmap.get(), ResultStream.get(), flags);
        return static_cast<std::uint32_t>(::FreeImage_TellMemory(ResultStream.get()));
    };
    const auto runOptimizer = [&]() -> std::uint32_t {
        ResultStale = false;
        return externalOptimizer ? externalOptimizer(*this) : 0;
    };

    if (targetPath.empty()) {
        const std::uint32_t size = encodeIntoStream();
        if (Interactive) {
            const bool transparent =
                WorkingBitmap && fi::FreeImage_IsTransparent(WorkingBitmap.get(), 0);
            status("Loading result");
            ReplaceBitmap(WorkingBitmap,
                          fi::FreeImage_LoadFromMemory(fi::kFormatPng, ResultStream.get(), 0));
            if (transparent && WorkingBitmap) ::FreeImage_SetTransparent(WorkingBitmap.get(), TRUE);
        }
        const std::uint32_t optimized = settings.PNGApplyOptimizer ? runOptimizer() : 0;
        return optimized != 0 ? optimized : size;
    }
    if (settings.PNGApplyOptimizer) {
        const std::uint32_t size = encodeIntoStream();
        const std::uint32_t optimized = runOptimizer();
        WriteResultStream(targetPath, Interactive);
        return optimized != 0 ? optimized : size;
    }
    if (targetPath == SourcePath) {
        // Saving over the loaded file: write the encoded bytes, not a second encode.
        const std::uint32_t size = encodeIntoStream();
        WriteResultStream(targetPath, Interactive);
        return size;
    }
    return SaveBitmapToFile(fi::kFormatPng, WorkingBitmap.get(), targetPath, flags);
}

}  // namespace pimo::engine
