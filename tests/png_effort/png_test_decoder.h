#pragma once
// An independent look at PNG files for the tests: libpng decodes (never the
// optimizer's own decoder) and a plain chunk walk for checking the bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace pimo::test {

struct LibpngImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int colourType = -1;
    int bitDepth = 0;
    int interlace = 0;
    bool hasProfile = false;  // libpng accepted an iCCP chunk
    bool hasBackground = false;
    /// The background colour (bKGD) as red, green, blue scaled to 16 bits.
    std::uint16_t background[3] = {0, 0, 0};
    /// Every pixel as red, green, blue, alpha expanded to 16 bits.
    std::vector<std::uint16_t> rgba;
    /// Warnings libpng gave while reading.
    std::vector<std::string> warnings;
};

/// Decodes with libpng; false when libpng reports an error.
bool DecodeWithLibpng(const std::vector<std::uint8_t>& png, LibpngImage& out);

struct RawChunk {
    std::string type;
    std::vector<std::uint8_t> data;
};

/// The chunks of a well-formed PNG in file order (test data only: no checks
/// beyond staying inside the buffer).
std::vector<RawChunk> ChunksOf(const std::vector<std::uint8_t>& png);

}  // namespace pimo::test
