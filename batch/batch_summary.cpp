#include "batch/batch_summary.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "batch/batch_runner.h"

namespace pimo::batch {

namespace {

using engine::OptimizationSettings;
using engine::PresetKind;

constexpr std::array<std::string_view, 3> kFormatNames{"JPEG", "PNG", "GIF"};
constexpr std::array<std::string_view, 4> kSubsamplings{"4:4:4", "4:2:2", "4:2:0", "4:1:1"};
constexpr std::array<std::string_view, 5> kCompressions{"lowest", "low", "medium", "high",
                                                        "highest"};

// An index brought into a table's range, so a damaged setting still reads.
template <typename Table>
std::string_view Entry(const Table& table, int index) {
    return table[static_cast<std::size_t>(std::clamp(index, 0, int(table.size()) - 1))];
}

std::string Palette(int colors, int method) {
    return std::to_string(colors) + " colors, " + (method == 1 ? "NeuQuant" : "Wu");
}

std::string FormatDetails(const OptimizationSettings& s, std::string_view optimizerName) {
    switch (s.Format) {
        case engine::kFormatPng: {
            std::string text = "PNG, ";
            switch (engine::PngPresetKind(s.PNGPalettePreset)) {
                case PresetKind::Quantize:
                    text += Palette(s.PNGMaxColors, s.PNGQuantizationMethod);
                    break;
                case PresetKind::DitheredMonochrome:
                    text += "dithered monochrome";
                    break;
                default:
                    text += "true color";
            }
            text += ", " + std::string(Entry(kCompressions, s.PNGCompressionType)) + " compression";
            if (s.PNGApplyOptimizer && !optimizerName.empty())
                text += ", then " + std::string(optimizerName);
            return text;
        }
        case engine::kFormatGif: {
            std::string text = "GIF, ";
            text += engine::GifPresetKind(s.GIFPalettePreset) == PresetKind::DitheredMonochrome
                        ? std::string("dithered monochrome")
                        : Palette(s.GIFMaxColors, s.GIFQuantizationMethod);
            if (s.GIFInterlaced) text += ", interlaced";
            return text;
        }
        default:
            return "JPEG, quality " + std::to_string(s.JPEGQuality) + ", " +
                   std::string(Entry(kSubsamplings, s.JPEGChromaSubsampling)) + ", " +
                   (s.JPEGProgressive ? "progressive" : "standard");
    }
}

}  // namespace

void BatchTotals::Add(const BatchEntryResult& result) {
    if (result.Skipped) {
        ++skipped;
        return;
    }
    ++processed;
    if (result.Failed) {
        ++failed;
        return;
    }
    // A source whose size could not be found (-1) adds nothing before.
    bytesBefore += std::max<std::int64_t>(result.OriginalSize, 0);
    bytesAfter += result.ResultSize;
}

double BatchTotals::SavedPercent() const {
    if (bytesBefore <= 0) return 0.0;
    return static_cast<double>(bytesBefore - bytesAfter) * 100.0 / static_cast<double>(bytesBefore);
}

std::string BatchSummaryText(const BatchTotals& totals) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.2f", totals.SavedPercent());
    return std::to_string(totals.processed) + " file(s) processed, " +
           std::to_string(totals.failed) + " failed, " + std::to_string(totals.skipped) +
           " skipped; " + std::to_string(totals.bytesBefore) + " bytes before, " +
           std::to_string(totals.bytesAfter) + " bytes after, " + percent + "% saved";
}

std::string RunDescription(const OptimizationSettings& settings, std::string_view optimizerName) {
    // The automatic modes choose per image once it is loaded.
    switch (settings.Mode) {
        case engine::OptimizationMode::FullAuto:
            return "Automatic: format and settings chosen for each image";
        case engine::OptimizationMode::AutoKeepFormat:
            return "Automatic: each image keeps its format, settings chosen for it";
        case engine::OptimizationMode::AutoUserFormat:
            return std::string(Entry(kFormatNames, settings.Format)) +
                   ", settings chosen for each image";
        case engine::OptimizationMode::Manual:
            break;
    }
    std::string text = FormatDetails(settings, optimizerName);
    if (settings.AdjustGrayscale) text += ", grayscale";
    if (!settings.AdjustmentsNeutral()) text += ", colors adjusted";
    return text;
}

}  // namespace pimo::batch
