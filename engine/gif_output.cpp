// The GIF stage of the pipeline.

#include "engine/engine.h"
#include "engine/transparency.h"

namespace pimo::engine {

namespace fi = imagelib;

namespace {
void RequestInterlacing(FIBITMAP* bitmap) {
    FITAG* tag = ::FreeImage_CreateTag();
    if (!tag) return;
    const BYTE value = 0x31;
    ::FreeImage_SetTagKey(tag, "Interlaced");
    ::FreeImage_SetTagType(tag, FIDT_BYTE);
    ::FreeImage_SetTagCount(tag, 1);
    ::FreeImage_SetTagLength(tag, 1);
    ::FreeImage_SetTagValue(tag, &value);
    ::FreeImage_SetMetadata(FIMD_ANIMATION, bitmap, "Interlaced", tag);
    ::FreeImage_DeleteTag(tag);
}
}  // namespace

std::uint32_t Engine::EncodeGIF(const std::string& targetPath) {
    if (!SourceBitmap) return 0;
    const bool sourceTransparent = fi::FreeImage_IsTransparent(SourceBitmap.get(), 0);
    const bool grey = settings.AdjustGrayscale;
    if (grey && settings.GIFMaxColors < 256) fi::FreeImage_ConvertToGreyscaleInPlace(WorkingBitmap.get());

    if (GifPresetKind(settings.GIFPalettePreset) == PresetKind::DitheredMonochrome) {
        ReplaceBitmap(WorkingBitmap, fi::FreeImage_Dither(WorkingBitmap.get(), FID_FS));
    } else if (grey && settings.GIFMaxColors == 256) {
        ReplaceBitmap(WorkingBitmap, fi::FreeImage_ConvertToGreyscale(WorkingBitmap.get()));
    } else {
        const int colors = settings.GIFMaxColors - (ReservesTransparentEntry(settings, sourceTransparent) ? 1 : 0);
        const FREE_IMAGE_QUANTIZE method = settings.GIFQuantizationMethod == 1 ? FIQ_NNQUANT : FIQ_WUQUANT;
        ReplaceBitmap(WorkingBitmap, fi::FreeImage_ColorQuantizeEx(WorkingBitmap.get(), method, colors));
    }
    RemoveMetadata(true, false, false, false, false);
    if (WorkingBitmap && settings.GIFInterlaced) RequestInterlacing(WorkingBitmap.get());
    if (WorkingBitmap && ::FreeImage_GetBPP(WorkingBitmap.get()) < 32 && sourceTransparent &&
        settings.TransparencyMode == TransparencyMode::Keep) {
        ApplyPaletteTransparency(SourceBitmap.get(), WorkingBitmap.get(), settings.TransparencyThreshold);
    }

    if (!targetPath.empty()) return SaveBitmapToFile(fi::kFormatGif, WorkingBitmap.get(), targetPath, 0);
    ::FreeImage_SeekMemory(ResultStream.get(), 0, SEEK_SET);
    fi::FreeImage_SaveToMemory(fi::kFormatGif, WorkingBitmap.get(), ResultStream.get(), 0);
    return static_cast<std::uint32_t>(::FreeImage_TellMemory(ResultStream.get()));
}

}  // namespace pimo::engine
