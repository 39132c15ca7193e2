#pragma once
// An independent look at PNG files for the tests: libpng reads them (never
// the image library or our own PNG code), and a plain chunk walk gives the
// bytes as stored.

#include <cstdint>
#include <string>
#include <vector>

namespace pimo::test {

/// What a libpng read does with the image data.
enum class LibpngPixels {
    None,     // stops before the image data: header chunks only
    Discard,  // decodes every row into one row buffer and keeps none
    Rgba16,   // every pixel as red, green, blue, alpha expanded to 16 bits
    Indices,  // palette images: the palette index of each pixel, one byte each
};

struct LibpngOptions {
    LibpngPixels pixels = LibpngPixels::Rgba16;
    /// Lifts libpng's default limit on width and height (a million each), for
    /// files that are meant to be huge.
    bool anySize = false;
};

struct LibpngImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int colourType = -1;
    int bitDepth = 0;
    int interlace = 0;
    bool hasProfile = false;  // libpng accepted an iCCP chunk
    /// The profile of that iCCP chunk, inflated.
    std::vector<std::uint8_t> profile;
    bool hasBackground = false;
    /// The background colour (bKGD) as red, green, blue scaled to 16 bits.
    std::uint16_t background[3] = {0, 0, 0};
    /// LibpngPixels::Rgba16: four samples per pixel, rows top to bottom.
    std::vector<std::uint16_t> rgba;
    /// LibpngPixels::Indices: one palette index per pixel, rows top to bottom.
    std::vector<std::uint8_t> indices;
    /// Warnings libpng gave while reading.
    std::vector<std::string> warnings;
};

/// Reads `png` with libpng into `out`, with the image data as `options` asks.
/// False when libpng reports an error (a bad signature, a critical chunk's
/// CRC, a row that does not inflate, data cut short, ...), or when Indices
/// is asked of an image without a palette.
bool DecodeWithLibpng(const std::vector<std::uint8_t>& png, LibpngImage& out,
                      LibpngOptions options = {});

struct RawChunk {
    std::string type;
    std::vector<std::uint8_t> data;
};

/// The chunks of a PNG in file order, after the 8-byte signature; the walk
/// stops at a chunk that does not fit in the buffer (test data only: no CRC or
/// order checks).
std::vector<RawChunk> ChunksOf(const std::vector<std::uint8_t>& png);

}  // namespace pimo::test
