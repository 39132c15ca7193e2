#include "engine/automatic_settings.h"

#include <algorithm>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

namespace fi = imagelib;

namespace {

// PNG positions of the Optimal presets; a GIF position is one less.
constexpr int kPngTrueColor = 0;
constexpr int kPngOptimal256 = 1;
constexpr int kPngOptimal128 = 2;
constexpr int kPngOptimal16 = 3;
constexpr int kPngDitheredMonochrome = 4;
constexpr int kGifOptimal256 = 0;
constexpr int kGifDitheredMonochrome = 3;

constexpr int kWu = 0;
constexpr int kNeuQuant = 1;

// Above this many pixels a JPEG is encoded progressively.
constexpr std::uint32_t kProgressiveAbovePixels = 60000;

// The Optimal preset (PNG position) that fits a palette of `colors` colours.
int OptimalPngPresetFor(std::uint32_t colors) {
    if (colors <= 16) return kPngOptimal16;
    if (colors <= 128) return kPngOptimal128;
    return kPngOptimal256;
}

// The colour count an Optimal preset sets, clamped to the current maximum;
// `current` for every other entry.
int PresetColorCount(int pngPosition, int current, int maximum) {
    if (pngPosition < 0 || pngPosition >= static_cast<int>(kPngPalettePresets.size()))
        return current;
    const PalettePreset& preset = kPngPalettePresets[static_cast<std::size_t>(pngPosition)];
    if (preset.kind != PresetKind::Quantize) return current;
    return std::clamp(preset.colorCount, 2, maximum);
}

// The source quality is used only when it is known and below `ceiling`.
int QualityBelow(std::uint8_t sourceQuality, int ceiling) {
    return sourceQuality > 0 && sourceQuality < ceiling ? sourceQuality : ceiling;
}

}  // namespace

void ApplyPngPresetColorCount(OptimizationSettings& settings) {
    settings.PNGMaxColors = PresetColorCount(settings.PNGPalettePreset, settings.PNGMaxColors,
                                             settings.ColorCountMaximum);
}

void ApplyGifPresetColorCount(OptimizationSettings& settings) {
    // -1 (no selection) maps to PNG position 0, which sets no count.
    settings.GIFMaxColors = PresetColorCount(settings.GIFPalettePreset + 1, settings.GIFMaxColors,
                                             settings.ColorCountMaximum);
}

void ApplyFormatToSettings(OptimizationSettings& settings) {
    if (settings.Format == kFormatJpeg) settings.TransparencyMode = TransparencyMode::SolidColor;
}

int FormatOfExtension(const std::string& path) {
    // The extension starts at the last dot after the last folder or drive separator.
    const std::size_t dot = path.find_last_of("./\\:");
    if (dot == std::string::npos || path[dot] != '.') return -1;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (extension == ".jpg" || extension == ".jpeg") return kFormatJpeg;
    if (extension == ".png") return kFormatPng;
    if (extension == ".gif") return kFormatGif;
    return -1;
}

namespace {

// The palettes, the JPEG quality and the quantizers; returns the format the
// colours call for: a palette format for few colours or transparency, else
// JPEG.
int ChooseByColours(OptimizationSettings& settings, const AutomaticInputs& inputs,
                    std::uint8_t sourceQuality) {
    if (inputs.UniqueColors <= 256) {
        settings.JPEGQuality = 75;
        if (!inputs.HasTransparency || inputs.OnlyFullTransparency) {
            // Palette transparency can carry on/off alpha: quantize to the
            // smallest Optimal palette that holds every colour.
            settings.PNGPalettePreset = OptimalPngPresetFor(inputs.UniqueColors);
            settings.GIFPalettePreset = settings.PNGPalettePreset - 1;
            settings.PNGQuantizationMethod = kWu;
            settings.GIFQuantizationMethod = kWu;
        } else {
            // Soft alpha survives only in a true-colour PNG.
            settings.PNGPalettePreset = kPngTrueColor;
        }
        return kFormatPng;
    }
    settings.JPEGQuality = QualityBelow(sourceQuality, 80);
    settings.SetColorCountMaximum(256);
    settings.PNGPalettePreset = kPngTrueColor;
    settings.GIFPalettePreset = kGifOptimal256;
    settings.PNGQuantizationMethod = kNeuQuant;
    settings.GIFQuantizationMethod = kNeuQuant;
    return kFormatJpeg;
}

void ApplyGreyscaleRules(OptimizationSettings& settings, const AutomaticInputs& inputs,
                         std::uint8_t sourceQuality) {
    settings.AdjustGrayscale = inputs.Greyscale;
    if (!inputs.Greyscale) return;
    settings.JPEGQuality = QualityBelow(sourceQuality, 70);
    // Only a bilevel image (a scan of text or line art) survives one bit per
    // pixel. Any other grey image keeps the Optimal preset chosen before: its
    // grey levels fit the palette exactly, so nothing is lost.
    if (inputs.UniqueColors <= 2 && !inputs.HasTransparency) {
        settings.PNGPalettePreset = kPngDitheredMonochrome;
        settings.GIFPalettePreset = kGifDitheredMonochrome;
    }
}

// The modes that choose the format take `format` (or, keeping the format,
// the one the source's name says); the others keep the user's, and a JPEG
// of a transparent image gets a filled background.
void ApplyChosenFormat(OptimizationSettings& settings, const AutomaticInputs& inputs,
                       OptimizationMode mode, int format) {
    if (mode == OptimizationMode::AutoKeepFormat) {
        const int named = FormatOfExtension(inputs.SourcePath);
        if (named >= 0) format = named;
    }
    if (ChoosesFormat(mode)) {
        settings.Format = format;
        ApplyFormatToSettings(settings);
    } else if (inputs.HasTransparency && settings.Format == kFormatJpeg &&
               settings.TransparencyMode == TransparencyMode::Keep) {
        settings.TransparencyMode = TransparencyMode::SolidColor;
    }
}

}  // namespace

void ChooseAutomaticSettings(OptimizationSettings& settings, const AutomaticInputs& inputs,
                             OptimizationMode mode) {
    if (!IsAutomatic(mode)) return;
    if (inputs.UniqueColors == 0) return;  // no analysis, nothing to propose from

    // Colour density: unique colours per hundred pixels, truncated.
    const std::uint32_t density =
        inputs.Pixels == 0
            ? 0
            : static_cast<std::uint32_t>(std::uint64_t{inputs.UniqueColors} * 100 / inputs.Pixels);
    // The source quality of a JPEG matters only for a photograph.
    const bool photograph = inputs.UniqueColors > 256 && !inputs.HasTransparency;
    const auto sourceQuality = static_cast<std::uint8_t>(photograph ? inputs.SourceJpegQuality : 0);

    int format = ChooseByColours(settings, inputs, sourceQuality);
    // Dense colour (photographs) hides chroma loss; sparse colour does not.
    settings.JPEGChromaSubsampling = density <= 5 ? 0 : density <= 15 ? 1 : 2;
    ApplyGreyscaleRules(settings, inputs, sourceQuality);
    if (inputs.HasTransparency) {
        format = kFormatPng;
        settings.TransparencyMode = TransparencyMode::Keep;
    }

    if (settings.PNGCompressionType < 2) settings.PNGCompressionType = 2;
    settings.GIFInterlaced = false;
    settings.JPEGProgressive = inputs.Pixels > kProgressiveAbovePixels;

    ApplyPngPresetColorCount(settings);
    ApplyGifPresetColorCount(settings);
    ApplyChosenFormat(settings, inputs, mode, format);
}

AutomaticInputs AutomaticInputsOf(const Engine& engine) {
    AutomaticInputs inputs;
    const ImageInfo& info = engine.imageInfo;
    inputs.UniqueColors = info.UniqueColors;
    inputs.Greyscale = info.Greyscale;
    inputs.HasTransparency = info.HasTransparency;
    inputs.OnlyFullTransparency = info.OnlyFullTransparency;
    if (FIBITMAP* source = engine.SourceBitmap.get()) {
        inputs.Pixels = ::FreeImage_GetWidth(source) * ::FreeImage_GetHeight(source);
        inputs.SourceJpegQuality = fi::FreeImage_GetJPEGQuality(source);
    }
    inputs.SourcePath = engine.SourcePath;
    return inputs;
}

void ChooseAutomaticSettings(Engine& engine, OptimizationMode mode) {
    // An analysis left from an image that is gone proposes nothing.
    if (!engine.SourceBitmap) return;
    ChooseAutomaticSettings(engine.settings, AutomaticInputsOf(engine), mode);
}

}  // namespace pimo::engine
