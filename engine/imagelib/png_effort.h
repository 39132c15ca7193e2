#pragma once
// Extended-effort PNG compression: the same image, losslessly, in fewer bytes.

#include <cstdint>
#include <span>
#include <vector>

namespace pimo::imagelib {

/// Re-encodes a complete PNG with more effort. `level` is the deflate level
/// of the flag word (1, 4 or 9): the higher, the more trials. The result
/// decodes to exactly the same pixels and is never larger than `png`; when
/// the input cannot be parsed it is returned unchanged.
std::vector<std::uint8_t> RecompressPng(std::span<const std::uint8_t> png, int level);

}  // namespace pimo::imagelib
