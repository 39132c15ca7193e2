#include "engine/engine.h"

#include <algorithm>
#include <filesystem>

#include "engine/automatic_settings.h"
#include "engine/imagelib/file_io.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/transparency.h"
#include "util/pimoutil.h"

namespace pimo::engine {

namespace fi = imagelib;

namespace {

constexpr const char* kErrorLoading = "Error loading file.";
constexpr const char* kToneMappingQuestion =
    "The source image has a high dynamic range\n\nFor better conversion I can apply adaptive "
    "logarithmic tone mapping (Drago) which often produces good results.\nDo you want to apply "
    "tone mapping (Recommended) ?";
constexpr const char* kLargeImageQuestion =
    "This file contains a high resolution image. PIMO can handle such images, but processings "
    "can be quite slow in this situation.\n\nDo you want to resize it first ? (Recommended)\nThe "
    "original image will not be modified.";

int LoadFlags(int format, bool autoRotateExif) {
    if (format == fi::kFormatJpeg) {
        return JPEG_ACCURATE | fi::kJpegLoadDetectQuality | (autoRotateExif ? JPEG_EXIFROTATE : 0);
    }
    if (format == fi::kFormatIcon) return 0x0001;
    return 0;
}

std::string FileNameOf(const std::string& path) {
    return util::PathToUtf8(util::PathFromUtf8(path).filename());
}

}  // namespace

std::string LibraryVersionText() {
    return fi::FreeImage_GetVersion();
}

std::string OutputMessageText(int format, const std::string& message) {
    return fi::FreeImage_GetFormatFromFIF(format) + " Error\n\n" + message;
}

std::string FileCaption(const std::string& path, unsigned width, unsigned height,
                        unsigned originalBpp, int sourceFormat) {
    std::string caption = FileNameOf(path) + " - " + std::to_string(width) + "x" +
                          std::to_string(height) + " px @ " +
                          (originalBpp == 0 ? "?" : std::to_string(originalBpp)) + "bit ";
    if (sourceFormat != fi::kFormatUnknown) caption += fi::FreeImage_GetFormatFromFIF(sourceFormat);
    return caption;
}

Engine::Engine(Host& host) : m_host(host) {}

void Engine::status(const std::string& text, int panel) {
    if (Interactive) m_host.setStatusText(text, panel);
}

void Engine::busy(bool on) {
    if (Interactive) m_host.setBusyCursor(on);
}

MessageAnswer Engine::ask(MessageKind kind, const std::string& text, MessageButtons buttons) {
    if (!Interactive) return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
    return m_host.showMessage(kind, text, buttons);
}

void Engine::MarkResultStale() {
    ResultStale = true;
    NotifyStateChanged();
}

void Engine::MarkResultSaved() {
    ResultUnsaved = false;
    NotifyStateChanged();
}

void Engine::NotifyStateChanged() {
    if (Interactive) m_host.engineStateChanged();
}

BusyScope::BusyScope(Engine& engine, const std::string& statusText) : m_engine(engine) {
    ++engine.m_busyDepth;
    if (!engine.Interactive) return;
    engine.host().setBusyCursor(true);
    if (!statusText.empty()) engine.host().setStatusText(statusText, 0);
    engine.host().setMainWindowEnabled(false);
    if (engine.m_busyDepth == 1) engine.NotifyStateChanged();
}

BusyScope::~BusyScope() {
    --m_engine.m_busyDepth;
    if (!m_engine.Interactive) return;
    m_engine.host().setMainWindowEnabled(true);
    m_engine.host().setBusyCursor(false);
    if (m_engine.m_busyDepth == 0) m_engine.NotifyStateChanged();
}

// ---- loading ----

bool Engine::LoadImageFile(const std::string& relativeOrAbsolute) {
    if (Busy()) return false;  // a command that arrived while the window pumped events
    // Absolute once, here: saving beside the source must not depend on the
    // current folder at the time of saving.
    std::error_code error;
    const std::filesystem::path absolute =
        std::filesystem::absolute(util::PathFromUtf8(relativeOrAbsolute), error);
    const std::string path = error ? relativeOrAbsolute : util::PathToUtf8(absolute);
    SourceFormat = fi::FreeImage_GetFileType(path);
    if (SourceFormat == fi::kFormatUnknown) SourceFormat = fi::FreeImage_GetFIFFromFilename(path);

    if (SourceFormat == fi::kFormatUnknown || !fi::FreeImage_FIFSupportsReading(SourceFormat)) {
        SourceBitmap.reset();
        SourceFormat = fi::kFormatUnknown;
    } else {
        const int flags = LoadFlags(SourceFormat, options.AutoRotateEXIF);
        SourceBitmap.reset();
        BusyScope scope(*this, "Loading...");
        ReplaceBitmap(SourceBitmap, fi::FreeImage_Load(SourceFormat, path, flags));
    }
    OpenLoadedImage(path, false, false);
    return SourceBitmap != nullptr;
}

int Engine::NormaliseImage(bool skipResizePrompt) {
    if (!SourceBitmap) return 0;
    const unsigned entryDepth = ::FreeImage_GetBPP(SourceBitmap.get());

    switch (::FreeImage_GetImageType(SourceBitmap.get())) {
        case FIT_BITMAP:
        case FIT_RGB16:
        case FIT_RGBA16:
            break;
        case FIT_COMPLEX: {
            Bitmap magnitude(fi::FreeImage_GetComplexChannel(SourceBitmap.get(), FICC_MAG));
            ReplaceBitmap(
                SourceBitmap,
                magnitude ? fi::FreeImage_ConvertToStandardType(magnitude.get(), true) : nullptr);
            break;
        }
        case FIT_RGBF:
        case FIT_RGBAF:
            if (!Interactive || ask(MessageKind::Confirmation, kToneMappingQuestion,
                                    MessageButtons::YesNo) == MessageAnswer::Yes) {
                busy(true);
                status("Tone mapping...");
                ReplaceBitmap(SourceBitmap, fi::FreeImage_ToneMapping(SourceBitmap.get(),
                                                                      FITMO_DRAGO03, 0.0, 0.0));
                busy(false);
            }
            break;
        default:
            ReplaceBitmap(SourceBitmap,
                          fi::FreeImage_ConvertToStandardType(SourceBitmap.get(), true));
            break;
    }

    // The test uses the entry depth, so an image that changed type above is
    // always converted.
    if (SourceBitmap && fi::FreeImage_IsTransparent(SourceBitmap.get(), 1)) {
        if (entryDepth != 32)
            ReplaceBitmap(SourceBitmap, fi::FreeImage_ConvertTo32Bits(SourceBitmap.get()));
    } else if (SourceBitmap) {
        if (entryDepth != 24)
            ReplaceBitmap(SourceBitmap, fi::FreeImage_ConvertTo24Bits(SourceBitmap.get()));
    }
    // A bitmap that stays at its entry depth may still be of another type
    // (RGB16 at 48 bits is converted above; a 32-bit bitmap whose alpha is
    // unused becomes 24-bit) or carry an unused transparency mark.
    if (SourceBitmap && ::FreeImage_GetBPP(SourceBitmap.get()) == 24) {
        ::FreeImage_SetTransparent(SourceBitmap.get(), FALSE);
    }

    PngTrueColorName = std::string(entryDepth >= 24 ? kTrueColorName : kTrueColorFromPaletteName);

    int result = 0;
    if (SourceBitmap && Interactive && !skipResizePrompt && options.AskToResizeLargeImages) {
        const unsigned width = ::FreeImage_GetWidth(SourceBitmap.get());
        const unsigned height = ::FreeImage_GetHeight(SourceBitmap.get());
        // Compared as unsigned 32-bit numbers.
        const std::uint32_t pixels = width * height;
        // The option is 1..20 once read; an unread 0 must not ask for every image.
        const auto resolution =
            static_cast<std::uint32_t>(std::clamp(options.LargeImagesResolution, 1, 20));
        const std::uint32_t threshold = resolution * 1048576u;
        if (pixels >= threshold && ask(MessageKind::Confirmation, kLargeImageQuestion,
                                       MessageButtons::YesNo) == MessageAnswer::Yes) {
            m_host.resampleLargeImage();
            if (SourceBitmap && (::FreeImage_GetWidth(SourceBitmap.get()) != width ||
                                 ::FreeImage_GetHeight(SourceBitmap.get()) != height)) {
                result = 6;
            }
        }
    }
    return result;
}

void Engine::UnloadImage() {
    if (Busy()) return;
    SourceBitmap.reset();
    WorkingBitmap.reset();
    ResultStream.reset();
    ResultUnsaved = false;
    if (Interactive) {
        m_host.showNoImage();
        m_host.setStatusText("Ready", 0);
    }
    NotifyStateChanged();
}

void Engine::ShowFileInformation(const std::string& path) {
    const std::int64_t fileSize = path.empty() ? -1 : util::GetFileSizeOrMinusOne(path);
    if (!path.empty() && fileSize >= 0) {
        SourcePath = path;
        SourceFileSize = static_cast<std::uint32_t>(fileSize);
    } else {
        SourcePath = "Untitled";
        SourceFileSize = ::FreeImage_GetDIBSize(SourceBitmap.get());
    }
    if (!Interactive) return;
    const std::string caption =
        FileCaption(SourcePath, ::FreeImage_GetWidth(SourceBitmap.get()),
                    ::FreeImage_GetHeight(SourceBitmap.get()),
                    fi::FreeImage_GetOriginalBPP(SourceBitmap.get()), SourceFormat);
    const auto size = static_cast<std::int32_t>(SourceFileSize);
    m_host.showFileInformation(caption, util::FormatFileSize(size),
                               util::FormatNumber(size) + " bytes");
}

void Engine::OpenLoadedImage(const std::string& path, bool actualSize, bool skipResizePrompt) {
    if (!SourceBitmap || SourceFormat == fi::kFormatUnknown) {
        ask(MessageKind::Error, kErrorLoading, MessageButtons::Ok);
        SourceFormat = fi::kFormatUnknown;
        UnloadImage();
        return;
    }
    ShowFileInformation(path);

    const int resized = NormaliseImage(skipResizePrompt);
    if (resized > 0) return;  // the resample has already reopened the resized image
    if (!SourceBitmap) {
        // A conversion failed (or tone mapping was declined): as with no image.
        SourceFormat = fi::kFormatUnknown;
        UnloadImage();
        return;
    }

    if (SkipSourceAnalysis && !Interactive && !IsAutomatic(settings.Mode) &&
        settings.Format == kFormatJpeg) {
        imageInfo = ImageInfo{};
        m_analysisSkipped = true;
    } else {
        AnalyseSource();
    }
    if (IsAutomatic(settings.Mode)) ChooseSettingsForMode();
    ApplyFormatTransparencyRule(settings);

    if (!Interactive) return;
    m_host.showSourceImage(actualSize);
    if (options.AutomaticPreview) PreviewImage();
    NotifyStateChanged();
}

void Engine::AnalyseSource() {
    m_analysisSkipped = false;
    if (!AnalyseImage(SourceBitmap.get())) return;
    imageInfo = ReadImageInfo(SourceBitmap.get());
    const std::uint32_t unique = imageInfo.UniqueColors;
    settings.SetColorCountMaximum(unique > 256 ? 256 : unique <= 1 ? 2 : static_cast<int>(unique));
}

void Engine::ChooseSettingsForMode() {
    ChooseAutomaticSettings(*this, settings.Mode);
}

// ---- messages ----

void Engine::RegisterOutputMessageHandler() {
    fi::FreeImage_SetOutputMessage(
        [this](int format, const std::string& message) { HandleOutputMessage(format, message); });
}

void Engine::AttachLibraryCallbacks(std::function<void(int)> progress) {
    RegisterOutputMessageHandler();
    fi::FreeImage_SetProgress(std::move(progress));
}

void Engine::DetachLibraryCallbacks() {
    fi::FreeImage_SetOutputMessage(nullptr);
    fi::FreeImage_SetProgress(nullptr);
}

void Engine::HandleOutputMessage(int format, const std::string& message) {
    ask(MessageKind::Error, OutputMessageText(format, message), MessageButtons::Ok);
}

}  // namespace pimo::engine
