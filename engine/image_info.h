#pragma once
// The analysis of a source image: unique colours, greyscale, how its
// transparency is made up and, for images with few colours, those colours.
// The record travels with the bitmap as the custom tag "ImageInfo", stored as
// its fields one after the other with no padding (kImageInfoSize bytes,
// little-endian numbers).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/imagelib/handles.h"

namespace pimo::engine {

struct PaletteColor {
    std::uint8_t blue, green, red, alpha;
};

struct ImageInfo {
    bool Greyscale;
    std::uint32_t UniqueColors;
    std::uint32_t Reserved;
    bool HasTransparency;
    bool OnlyFullTransparency;
    std::uint32_t FullyTransparentColors;
    std::uint8_t SingleTransparentColor[3];  // blue, green, red
    std::int16_t PaletteEntries;             // 0..256
    PaletteColor Palette[256];
};

/// Bytes of the stored record: the field widths in order, no padding.
inline constexpr std::size_t kImageInfoSize = 1 + 4 + 4 + 1 + 1 + 4 + 3 + 2 + 256 * 4;
using ImageInfoBytes = std::array<std::uint8_t, kImageInfoSize>;

ImageInfoBytes ToBytes(const ImageInfo& info);
ImageInfo FromBytes(const ImageInfoBytes& bytes);

/// Scans a 24- or 32-bit bitmap once and attaches its ImageInfo record as the
/// custom tag "ImageInfo" (other depths get the starting record). Returns
/// whether the tag was attached; false for no bitmap.
bool AnalyseImage(FIBITMAP* bitmap);

/// The record attached to `bitmap`; a zero record when it carries none.
ImageInfo ReadImageInfo(FIBITMAP* bitmap);

/// The lines of the information report for a record.
std::vector<std::string> ImageInfoReport(const ImageInfo& info);

}  // namespace pimo::engine
