#include "engine/imagelib/exact_palette.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

std::uint32_t RgbAt(const BYTE* pixel) {
    return std::uint32_t{pixel[FI_RGBA_RED]} << 16 | std::uint32_t{pixel[FI_RGBA_GREEN]} << 8 |
           pixel[FI_RGBA_BLUE];
}

// Open addressing over at most 256 colours: a table of 1024 slots stays at
// most a quarter full, so probes are short. The previous pixel is remembered
// because neighbours are mostly equal.
class SmallColorSet {
  public:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;

    // Slot of `rgb`, inserting it; -1 once more than `limit` colours were seen.
    int insert(std::uint32_t rgb, std::size_t limit) {
        std::uint32_t slot = (rgb * 2654435761u) >> 22;
        while (m_keys[slot] != kEmpty && m_keys[slot] != rgb) slot = (slot + 1) & (kSlots - 1);
        if (m_keys[slot] == kEmpty) {
            if (m_colors.size() == limit) return -1;
            m_keys[slot] = rgb;
            m_colors.push_back(rgb);
        }
        return static_cast<int>(slot);
    }
    const std::vector<std::uint32_t>& colors() const { return m_colors; }

  private:
    static constexpr std::uint32_t kSlots = 1024;
    std::array<std::uint32_t, kSlots> m_keys = MakeEmpty();
    std::vector<std::uint32_t> m_colors;
    static std::array<std::uint32_t, kSlots> MakeEmpty() {
        std::array<std::uint32_t, kSlots> keys;
        keys.fill(kEmpty);
        return keys;
    }
};

}  // namespace

FIBITMAP* ExactPalette(FIBITMAP* bitmap, int maxColors) {
    if (!bitmap || ::FreeImage_GetImageType(bitmap) != FIT_BITMAP || maxColors < 1) return nullptr;
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (bpp != 24 && bpp != 32) return nullptr;
    const unsigned step = bpp / 8;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    const std::size_t limit = static_cast<std::size_t>(std::min(maxColors, 256));

    // First pass: the colours, giving up as soon as there are too many.
    SmallColorSet set;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        std::uint32_t previous = SmallColorSet::kEmpty;
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            const std::uint32_t rgb = RgbAt(pixel);
            if (rgb != previous && set.insert(rgb, limit) < 0) return nullptr;
            previous = rgb;
        }
    }

    std::vector<std::uint32_t> sorted = set.colors();
    std::sort(sorted.begin(), sorted.end());
    Bitmap result(::FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8));
    if (!result) return nullptr;
    RGBQUAD* palette = ::FreeImage_GetPalette(result.get());
    std::fill(palette, palette + 256, RGBQUAD{0, 0, 0, 0});
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        palette[i] = RGBQUAD{static_cast<BYTE>(sorted[i]), static_cast<BYTE>(sorted[i] >> 8),
                             static_cast<BYTE>(sorted[i] >> 16), 0};
    }

    // Second pass: each pixel's index, found by binary search in the sorted colours.
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        BYTE* out = ::FreeImage_GetScanLine(result.get(), y);
        std::uint32_t previous = SmallColorSet::kEmpty;
        BYTE index = 0;
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            const std::uint32_t rgb = RgbAt(pixel);
            if (rgb != previous) {
                index = static_cast<BYTE>(std::lower_bound(sorted.begin(), sorted.end(), rgb) -
                                          sorted.begin());
                previous = rgb;
            }
            out[x] = index;
        }
    }
    ::FreeImage_SetDotsPerMeterX(result.get(), ::FreeImage_GetDotsPerMeterX(bitmap));
    ::FreeImage_SetDotsPerMeterY(result.get(), ::FreeImage_GetDotsPerMeterY(bitmap));
    return result.release();
}

}  // namespace pimo::imagelib
