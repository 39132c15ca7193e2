#pragma once
// The pixels of a PNG as the optimizer works on them: header facts, palette,
// transparency and background as values, and the unfiltered rows in the
// format's own packed layout. Decoding from chunks and the chunk bodies that
// describe the layout again.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/imagelib/png_chunks_io.h"

namespace pimo::imagelib::png {

enum class ColourType : std::uint8_t {
    kGrey = 0,
    kRgb = 2,
    kPalette = 3,
    kGreyAlpha = 4,
    kRgba = 6
};

struct PaletteEntry {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const PaletteEntry&) const = default;
};

/// A colour with every sample scaled to 16 bits (a 4-bit 0xA is 0xAAAA), so
/// that it means the same at every bit depth.
struct Rgb16 {
    std::uint16_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb16&) const = default;
};

struct PngImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    ColourType colourType = ColourType::kRgb;
    unsigned bitDepth = 8;
    /// Palette images: the entries, alpha taken from tRNS (255 where it has none).
    std::vector<PaletteEntry> palette;
    /// Grey and RGB images: the one colour that is fully transparent (tRNS).
    std::optional<Rgb16> colourKey;
    /// The background colour (bKGD), kept as a colour whatever the layout.
    std::optional<Rgb16> background;
    /// `height` rows of RowBytes() each: unfiltered and not interlaced.
    Bytes pixels;
    /// The filter type of each row as the file had it; empty for interlaced
    /// files and for every image whose layout a reduction changed.
    Bytes inputFilters;

    unsigned Channels() const;
    unsigned BitsPerPixel() const { return Channels() * bitDepth; }
    std::size_t RowBytes() const;
    /// Bytes between a byte and the one the filters compare it with (at least 1).
    unsigned FilterDistance() const { return BitsPerPixel() < 8 ? 1 : BitsPerPixel() / 8; }
    const std::uint8_t* Row(std::uint32_t y) const { return pixels.data() + y * RowBytes(); }
    std::uint8_t* Row(std::uint32_t y) { return pixels.data() + y * RowBytes(); }
};

/// Largest unfiltered image accepted, in bytes; larger claims are refused
/// before anything is allocated.
inline constexpr std::size_t kMaxRawBytes = std::size_t(1) << 30;

/// Bytes of one packed row of `width` pixels at `bitsPerPixel`.
std::size_t PackedRowBytes(std::uint32_t width, unsigned bitsPerPixel);

/// Sample `index` of a packed row at `bitDepth` (1, 2, 4, 8 or 16).
inline unsigned SampleAt(const std::uint8_t* row, std::size_t index, unsigned bitDepth) {
    switch (bitDepth) {
        case 8:
            return row[index];
        case 16:
            return (unsigned(row[2 * index]) << 8) | row[2 * index + 1];
        default: {
            const std::size_t bit = index * bitDepth;
            const unsigned shift = 8 - bitDepth - unsigned(bit % 8);
            return (row[bit / 8] >> shift) & ((1u << bitDepth) - 1);
        }
    }
}

/// Writes sample `index` of a packed row; the row's other samples stay.
void SetSampleAt(std::uint8_t* row, std::size_t index, unsigned bitDepth, unsigned value);

/// A sample scaled to 16 bits, and back (nullopt when not exact at `bitDepth`).
std::uint16_t ScaledTo16(unsigned sample, unsigned bitDepth);
std::optional<unsigned> ScaledFrom16(std::uint16_t value, unsigned bitDepth);

/// The image a PNG's chunks hold. nullopt when the layout chunks are invalid
/// or inconsistent, the data does not inflate to exactly the size the header
/// promises, a palette index has no entry, or the image exceeds kMaxRawBytes.
std::optional<PngImage> DecodedImage(const std::vector<Chunk>& chunks);

/// Every pixel as red, green, blue and alpha scaled to 16 bits, row by row:
/// what any decoder shows, the measure of "the same pixels".
std::vector<std::uint16_t> ExpandedRgba16(const PngImage& image);

/// The bodies of the chunks that describe the layout of `image`: IHDR (never
/// interlaced), PLTE and tRNS (empty when the image needs none) and bKGD
/// (empty when there is none or it cannot be expressed; callers check
/// BackgroundFits first).
Bytes HeaderChunkData(const PngImage& image);
Bytes PaletteChunkData(const PngImage& image);
Bytes TransparencyChunkData(const PngImage& image);
Bytes BackgroundChunkData(const PngImage& image);

/// Whether `colour` can be written as the background of `image`: exact at its
/// bit depth, grey for grey images, an entry of the palette for palette images.
bool BackgroundFits(const PngImage& image, const Rgb16& colour);

}  // namespace pimo::imagelib::png
