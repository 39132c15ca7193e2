#pragma once
// The layout of a BMP file read from its headers, every field checked against
// the real length of the bytes, so that decoding never needs to look at an
// offset it has not proven to be inside the buffer.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace pimo::imagelib {

// Compression values of the info header.
inline constexpr std::uint32_t kBmpRgb = 0;
inline constexpr std::uint32_t kBmpRle8 = 1;
inline constexpr std::uint32_t kBmpRle4 = 2;
inline constexpr std::uint32_t kBmpBitFields = 3;
inline constexpr std::uint32_t kBmpAlphaBitFields = 6;

struct BmpLayout {
    std::uint32_t headerSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool topDown = false;  // rows stored from the top (negative height in the file)
    std::uint16_t bitCount = 0;
    std::uint32_t compression = kBmpRgb;
    // Red, green, blue, alpha masks of 16- and 32-bit pixels (the defaults of
    // the format when the file gives none); alpha 0 means no alpha channel.
    std::array<std::uint32_t, 4> masks{};
    std::span<const std::uint8_t> palette;  // 4 bytes per entry (blue, green, red, unused)
    std::span<const std::uint8_t> pixels;   // from the pixel offset to the end of the file
    std::size_t stride = 0;                 // bytes per stored row of uncompressed pixels
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::span<const std::uint8_t> profile;  // embedded ICC profile, empty when none
};

/// Info-header size of a BMP file (the 4 bytes after the 14-byte file
/// header), 0 when the bytes are not a BMP file.
std::uint32_t BmpInfoHeaderSize(std::span<const std::uint8_t> bytes);

/// Compression field of a BMP file with an info header of 40 bytes or more,
/// 0xFFFFFFFF when it cannot be read.
std::uint32_t BmpCompression(std::span<const std::uint8_t> bytes);

/// Reads and checks the headers of a BMP with a Windows info header (40, 52,
/// 56, 108 or 124 bytes). Nothing when a field is out of range, a mask is not
/// a run of bits, the colour table or the pixel data lie outside the bytes,
/// or the declared dimensions could not be backed by the data present.
std::optional<BmpLayout> ReadBmpLayout(std::span<const std::uint8_t> bytes);

}  // namespace pimo::imagelib
