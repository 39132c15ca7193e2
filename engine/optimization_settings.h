#pragma once
// The single record of parameters that decide how the source image becomes
// output bytes. Persisted fields bear their INI key names.

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/imagelib/handles.h"
#include "engine/optimization_mode.h"

namespace pimo::engine {

// The output formats, by the system's format identifiers.
using imagelib::kFormatGif;
using imagelib::kFormatJpeg;
using imagelib::kFormatPng;

enum class TransparencyMode { Keep, SolidColor, Opaque };

struct Rgb {
    std::uint8_t red = 255, green = 255, blue = 255;
    bool operator==(const Rgb&) const = default;
};

/// What a palette preset does to the working bitmap.
enum class PresetKind { None, TrueColor, Quantize, DitheredMonochrome };

struct PalettePreset {
    std::string_view name;
    PresetKind kind;
    int colorCount;  // the count an Optimal entry sets; 0 for the others
};

/// The PNG list; the GIF list is the same without the first entry.
inline constexpr std::array<PalettePreset, 5> kPngPalettePresets{{
    {"True Color", PresetKind::TrueColor, 0},
    {"Optimal 256 Colors Palette", PresetKind::Quantize, 256},
    {"Optimal 128 Colors Palette", PresetKind::Quantize, 128},
    {"Optimal 16 Colors Palette", PresetKind::Quantize, 16},
    {"Dithered Monochrome", PresetKind::DitheredMonochrome, 0},
}};
inline constexpr std::string_view kTrueColorName = "True Color";
inline constexpr std::string_view kTrueColorFromPaletteName =
    "True Color, even if source is palletized";

/// Kind of the PNG preset at `index` (-1 or out of range: None).
PresetKind PngPresetKind(int index);
/// Kind of the GIF preset at `index`; -1 behaves as an Optimal entry.
PresetKind GifPresetKind(int index);

/// Flag word for the PNG encoder for each `PNGCompressionType` (0..4): the
/// deflate level in the low four bits, 0x0400 for extended effort.
inline constexpr std::array<int, 5> kPngCompressionFlags{0x0001, 0x0009, 0x0401, 0x0404, 0x0409};
int PngCompressionFlags(int compressionType);

/// Bounds of both palette colour counts; the upper one until an image has
/// been analysed (`ColorCountMaximum`).
inline constexpr int kMinColorCount = 2;
inline constexpr int kMaxColorCount = 256;

struct OptimizationSettings {
    // General
    int Format = kFormatJpeg;  // 0 JPEG, 1 PNG, 2 GIF
    OptimizationMode Mode = OptimizationMode::FullAuto;

    // JPEG
    int JPEGQuality = 75;           // 1..100
    int JPEGChromaSubsampling = 2;  // 0 4:4:4, 1 4:2:2, 2 4:2:0, 3 4:1:1
    bool JPEGProgressive = false;

    // GIF
    int GIFPalettePreset = -1;          // -1..3
    int GIFMaxColors = kMaxColorCount;  // kMinColorCount..ColorCountMaximum
    bool GIFInterlaced = false;
    int GIFQuantizationMethod = 0;  // 0 Wu, 1 NeuQuant, 2 libimagequant (dithered)

    // PNG
    int PNGPalettePreset = -1;          // -1..4
    int PNGMaxColors = kMaxColorCount;  // kMinColorCount..ColorCountMaximum
    int PNGQuantizationMethod = 0;
    int PNGCompressionType = 1;  // 0..4
    bool PNGApplyOptimizer = false;
    int PNGOptimizer = 0;  // -1..count-1

    // Metadata
    bool MetadataRemoveComments = true;
    bool MetadataRemoveIPTC = true;
    bool MetadataRemoveXMP = true;
    bool MetadataRemoveEXIF = true;
    bool MetadataRemoveICC = true;

    // Transparency
    engine::TransparencyMode TransparencyMode = engine::TransparencyMode::Keep;
    Rgb BackgroundColor{};
    int TransparencyThreshold = 127;  // 0..254

    // Adjustments
    int AdjustBrightness = 0;  // -100..100 percent
    int AdjustContrast = 0;    // -100..100 percent
    int AdjustGamma = 100;     // 1..800, gamma times 100
    bool AdjustInvert = false;
    bool AdjustGrayscale = false;

    // Geometry (resample dialog)
    int ResampleFilter = 1;  // 0..5
    int ResampleUnit = 0;    // 0 pixels, 1 percent
    bool ResampleKeepAspectRatio = true;

    /// Upper bound of both colour counts: 256 until an image is analysed, then
    /// the image's unique colours capped at 256 (2 for a single colour).
    int ColorCountMaximum = kMaxColorCount;

    /// Sets the maximum of both colour counts and clamps them into it.
    void SetColorCountMaximum(int maximum);
    /// True when brightness, contrast, gamma and invert change nothing.
    bool AdjustmentsNeutral() const;
};

}  // namespace pimo::engine
