#include "engine/imagelib/jpeg_quality.h"

#include <cstdint>
#include <cstdlib>

namespace pimo::imagelib {

namespace {

// The example tables of the JPEG standard (Annex K), natural order; libjpeg
// scales these by the quality setting.
constexpr std::array<std::uint16_t, 64> kStandardLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

constexpr std::array<std::uint16_t, 64> kStandardChrominance = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// libjpeg's jpeg_quality_scaling: a percentage applied to the standard table.
long ScaleFactor(int quality) {
    return quality < 50 ? 5000 / quality : 200 - 2 * quality;
}

// libjpeg's jpeg_add_quant_table for one entry; baseline files clamp to 255.
long ScaledEntry(std::uint16_t standard, long scale, bool sixteenBit) {
    long value = (standard * scale + 50) / 100;
    if (value <= 0) value = 1;
    if (value > 32767) value = 32767;
    if (!sixteenBit && value > 255) value = 255;
    return value;
}

struct Fit {
    long deviation = 0;  // sum of absolute differences
    long total = 0;      // sum of the expected entries
};

void AddFit(const JpegQuantTable& table, const std::array<std::uint16_t, 64>& standard, long scale,
            Fit& fit) {
    for (std::size_t i = 0; i < 64; ++i) {
        const long expected = ScaledEntry(standard[i], scale, table.sixteenBit);
        fit.deviation += std::labs(expected - table.values[i]);
        fit.total += expected;
    }
}

}  // namespace

int EstimateLibjpegQuality(const JpegHeader& header) {
    const int lumaSlot = header.components >= 1 ? header.componentTable[0] : 0;
    if (lumaSlot < 0 || !header.tables[static_cast<std::size_t>(lumaSlot)].present) return 0;
    const JpegQuantTable& luma = header.tables[static_cast<std::size_t>(lumaSlot)];
    // Colour files written by libjpeg quantise both chroma components with table 1.
    const JpegQuantTable* chroma = nullptr;
    const int chromaSlot = header.components >= 3   ? header.componentTable[1]
                           : header.components == 0 ? 1
                                                    : -1;
    if (chromaSlot >= 0 && chromaSlot != lumaSlot &&
        header.tables[static_cast<std::size_t>(chromaSlot)].present) {
        chroma = &header.tables[static_cast<std::size_t>(chromaSlot)];
    }

    int best = 0;
    Fit bestFit;
    for (int quality = 100; quality >= 1; --quality) {
        const long scale = ScaleFactor(quality);
        Fit fit;
        AddFit(luma, kStandardLuminance, scale, fit);
        if (chroma) AddFit(*chroma, kStandardChrominance, scale, fit);
        if (best == 0 || fit.deviation < bestFit.deviation) {
            best = quality;
            bestFit = fit;
        }
    }
    return bestFit.deviation * 4 <= bestFit.total ? best : 0;
}

}  // namespace pimo::imagelib
