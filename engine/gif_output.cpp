// The GIF stage of the pipeline.

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/palette_quantize.h"
#include "engine/transparency.h"

namespace pimo::engine {

namespace fi = imagelib;

namespace {
// The library's GIF writer reads this tag and writes interlaced rows when
// its value is not zero.
void RequestInterlacing(FIBITMAP* bitmap) {
    const BYTE value = 0x31;
    fi::SetMetadataTag(bitmap, FIMD_ANIMATION, "Interlaced", FIDT_BYTE, 1, 1, &value);
}
}  // namespace

std::uint32_t Engine::EncodeGIF(const std::string& targetPath) {
    if (!SourceBitmap) return 0;
    const bool sourceTransparent = fi::FreeImage_IsTransparent(SourceBitmap.get(), 0);
    const bool grey = settings.AdjustGrayscale;
    if (grey && settings.GIFMaxColors < 256)
        fi::FreeImage_ConvertToGreyscaleInPlace(WorkingBitmap.get());

    if (GifPresetKind(settings.GIFPalettePreset) == PresetKind::DitheredMonochrome) {
        ReplaceBitmap(WorkingBitmap, fi::FreeImage_Dither(WorkingBitmap.get(), FID_FS));
    } else if (grey && settings.GIFMaxColors == 256) {
        ReplaceBitmap(WorkingBitmap, fi::FreeImage_ConvertToGreyscale(WorkingBitmap.get()));
    } else {
        const bool reserve = ReservesTransparentEntry(settings, sourceTransparent);
        if (reserve) {
            HideTransparentColours(SourceBitmap.get(), WorkingBitmap.get(),
                                   settings.TransparencyThreshold);
        }
        const int colors = settings.GIFMaxColors - (reserve ? 1 : 0);
        const fi::Quantizer method = fi::QuantizerFromNumber(settings.GIFQuantizationMethod);
        ReplaceBitmap(WorkingBitmap, fi::QuantizeToPalette(WorkingBitmap.get(), method, colors));
    }
    RemoveMetadata(MetadataKeptBy(kFormatGif));
    if (WorkingBitmap && settings.GIFInterlaced) RequestInterlacing(WorkingBitmap.get());
    if (WorkingBitmap && ::FreeImage_GetBPP(WorkingBitmap.get()) < 32 && sourceTransparent &&
        settings.TransparencyMode == TransparencyMode::Keep) {
        ApplyPaletteTransparency(SourceBitmap.get(), WorkingBitmap.get(),
                                 settings.TransparencyThreshold);
    }

    if (!targetPath.empty())
        return SaveBitmapToFile(fi::kFormatGif, WorkingBitmap.get(), targetPath, 0);
    ::FreeImage_SeekMemory(ResultStream.get(), 0, SEEK_SET);
    fi::FreeImage_SaveToMemory(fi::kFormatGif, WorkingBitmap.get(), ResultStream.get(), 0);
    return static_cast<std::uint32_t>(::FreeImage_TellMemory(ResultStream.get()));
}

}  // namespace pimo::engine
