// The optimization pipeline: working copy, colour adjustments, encoding, and
// the presentation of the result.

#include "engine/color_adjustments.h"
#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_exif.h"
#include "util/pimoutil.h"

namespace pimo::engine {

namespace fi = imagelib;

namespace {
constexpr const char* kNoConversion =
    "Could not convert the original image to the desired format !";
constexpr const char* kNoDisplayBitmap =
    "Could not create Windows Bitmap. This may be caused by an internal error or the WIN32 Bitmap "
    "limitations.";
constexpr const char* kLargerTitle = "Current settings did not reduced size";
constexpr const char* kKeepFormatHint =
    "It is recommended to keep the original format (%s) \nor change current format settings\n";
constexpr const char* kFormatCaptions[3] = {"JPEG", "PNG", "GIF"};

// Only a JPEG that keeps its EXIF block carries the source's orientation on.
bool KeepsExifOrientation(const OptimizationSettings& settings, FIBITMAP* source) {
    return settings.Format == kFormatJpeg && !settings.MetadataRemoveEXIF &&
           ::FreeImage_GetMetadataCount(FIMD_EXIF_RAW, source) > 0;
}
}  // namespace

std::string LargerResultDescription(int outputFormat, int sourceFormat) {
    if (outputFormat == sourceFormat) return {};
    std::string text = kKeepFormatHint;
    text.replace(text.find("%s"), 2, fi::FreeImage_GetFormatFromFIF(sourceFormat));
    return text;
}

void Engine::BuildWorkingCopy() {
    FIBITMAP* source = SourceBitmap.get();
    const bool transparent = fi::FreeImage_IsTransparent(source, 0);
    const TransparencyMode mode = settings.TransparencyMode;
    if (mode == TransparencyMode::SolidColor && transparent) {
        const Rgb& c = settings.BackgroundColor;
        ReplaceBitmap(WorkingBitmap,
                      fi::FreeImage_Composite(source, RGBQUAD{c.blue, c.green, c.red, 0}));
    } else if (::FreeImage_GetBPP(source) == 24 ||
               (settings.Format == kFormatPng &&
                PngPresetKind(settings.PNGPalettePreset) == PresetKind::TrueColor &&
                mode != TransparencyMode::Opaque)) {
        // A 24-bit source as it is; for a true-colour PNG the copy keeps a 32-bit alpha channel.
        // The JPEG stage changes no pixel in place (its greyscale and upright
        // steps make new bitmaps), so without colour adjustments it encodes
        // the source's own pixels: a full-size copy costs more than the
        // encode's own reading of them. Only the header, metadata and
        // thumbnail, which the stage does change, are the copy's own.
        FIBITMAP* working = nullptr;
        if (settings.Format == kFormatJpeg && settings.AdjustmentsNeutral())
            working = fi::FreeImage_SharedPixelsView(source);
        ReplaceBitmap(WorkingBitmap, working ? working : fi::FreeImage_Clone(source));
    } else {
        ReplaceBitmap(WorkingBitmap,
                      fi::FreeImage_ConvertTo24Bits(source));  // drops the alpha channel
    }
}

std::uint32_t Engine::OptimizeImage(const std::string& targetPath) {
    // Never inside a running pipeline: it reads the bitmaps this one would replace.
    if (!SourceBitmap || Busy()) return 0;
    const bool sameFormat = settings.Format == SourceFormat;
    BusyScope scope(*this, "Processing...");

    WorkingBitmap.reset();
    ResultReduction = 1;
    ResultStream = fi::OpenMemoryStream();  // a fresh stream: a re-used one keeps stale bytes

    PipelineBusy = true;
    struct ClearOnExit {
        bool& flag;
        ~ClearOnExit() { flag = false; }
    } clearBusy{PipelineBusy};
    std::uint32_t size = 0;
    {
        BuildWorkingCopy();
        // A picture whose orientation tag would be lost is turned so that it
        // looks as it did. (Palette transparency maps source pixels onto the
        // working copy by position, so a transparent source stays as it is.)
        const int orientation = fi::ExifOrientation(SourceBitmap.get());
        if (WorkingBitmap && orientation > 1 &&
            !KeepsExifOrientation(settings, SourceBitmap.get()) &&
            !fi::FreeImage_IsTransparent(SourceBitmap.get(), 0)) {
            ReplaceBitmap(WorkingBitmap, fi::UprightBitmap(WorkingBitmap.get(), orientation));
        }
        ApplyColorAdjustments(WorkingBitmap.get(), settings);
        switch (settings.Format) {
            case kFormatJpeg:
                size = EncodeJPEG(targetPath);
                break;
            case kFormatPng:
                size = EncodePNG(targetPath);
                break;
            default:
                size = EncodeGIF(targetPath);
                break;
        }
        // A working bitmap that still shows the source's own pixels goes now,
        // so that it can never outlive them: nobody looks at it again.
        if (WorkingBitmap && SourceBitmap &&
            ::FreeImage_GetBits(WorkingBitmap.get()) == ::FreeImage_GetBits(SourceBitmap.get())) {
            WorkingBitmap.reset();
        }
        if (Interactive && size > SourceFileSize) {
            m_host.showBalloon(
                kLargerTitle,
                sameFormat ? "" : LargerResultDescription(settings.Format, SourceFormat), 4000);
        }
    }
    return size;
}

void Engine::PreviewImage() {
    if (!SourceBitmap || PipelineBusy || !Interactive) return;
    ResultStale = true;
    m_host.hideBalloon();

    const std::uint32_t size = OptimizeImage("");
    if (size != 0) ResultStale = false;
    if (!WorkingBitmap) ask(MessageKind::Error, kNoConversion, MessageButtons::Ok);

    status("Displaying...");
    status(
        WorkingBitmap && fi::FreeImage_IsTransparent(WorkingBitmap.get(), 0) ? "transparent" : "",
        3);
    const bool hadResult = WorkingBitmap != nullptr;
    if (!m_host.showResultImage() && hadResult)
        ask(MessageKind::Error, kNoDisplayBitmap, MessageButtons::Ok);
    ShowResultSize(size, WorkingBitmap ? fi::FreeImage_GetOriginalBPP(WorkingBitmap.get()) : 0);
    status("Ready");
    if (WorkingBitmap) {
        ResultUnsaved = true;
        WorkingBitmap.reset();
    }
    NotifyStateChanged();
}

void Engine::ShowResultSize(std::uint32_t size, unsigned bitDepth) {
    if (!Interactive) return;
    const auto signedSize = static_cast<std::int32_t>(size);
    m_host.showResultSize(util::FormatFileSize(signedSize), util::FormatNumber(size) + " bytes",
                          size < SourceFileSize);
    const std::string depth = bitDepth == 0 ? "?" : std::to_string(bitDepth);
    m_host.setStatusText(
        "Optimized: " + depth + " bit " + kFormatCaptions[settings.Format] + " image", 2);
}

}  // namespace pimo::engine
