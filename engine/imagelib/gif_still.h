#pragma once
// Post-processing of the library's GIF output.

#include <cstdint>
#include <span>
#include <vector>

namespace pimo::imagelib {

/// The library's GIF writer adds a looping-animation block (the NETSCAPE2.0
/// application extension) to every file. For a GIF with a single image it is
/// removed: a still picture must not claim to be an animation. Anything else,
/// or bytes that do not parse as a GIF, come back unchanged.
std::vector<std::uint8_t> WithoutStillAnimationBlock(std::span<const std::uint8_t> gif);

}  // namespace pimo::imagelib
