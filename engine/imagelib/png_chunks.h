#pragma once
// Chunks of a PNG file the library's loader (3.18) does not hand over.

#include <cstdint>
#include <span>
#include <vector>

namespace pimo::imagelib {

/// Largest ICC profile taken from a PNG; real profiles are far smaller.
inline constexpr std::size_t kMaxPngProfileSize = 16u << 20;

/// The ICC profile of a PNG's iCCP chunk, inflated. Empty when there is no
/// such chunk before the image data, or when it is corrupt: a wrong CRC, a bad
/// name or method, a zlib stream that fails or inflates beyond
/// kMaxPngProfileSize, or a profile whose own length field disagrees.
std::vector<std::uint8_t> PngIccProfile(std::span<const std::uint8_t> png);

}  // namespace pimo::imagelib
