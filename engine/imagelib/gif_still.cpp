#include "engine/imagelib/gif_still.h"

#include <cstring>
#include <optional>

namespace pimo::imagelib {

namespace {

struct Range {
    std::size_t begin, end;
};

/// Position after a chain of data sub-blocks starting at `at`, or nothing
/// when the chain runs past the end.
std::optional<std::size_t> SkipSubBlocks(std::span<const std::uint8_t> gif, std::size_t at) {
    while (at < gif.size()) {
        const std::size_t length = gif[at];
        ++at;
        if (length == 0) return at;
        at += length;
    }
    return std::nullopt;
}

std::size_t ColorTableBytes(std::uint8_t flags) {
    return (flags & 0x80) ? 3u * (2u << (flags & 0x07)) : 0;
}

}  // namespace

std::vector<std::uint8_t> WithoutStillAnimationBlock(std::span<const std::uint8_t> gif) {
    const std::vector<std::uint8_t> unchanged(gif.begin(), gif.end());
    if (gif.size() < 13 || std::memcmp(gif.data(), "GIF8", 4) != 0) return unchanged;
    std::size_t at = 13 + ColorTableBytes(gif[10]);
    int images = 0;
    std::optional<Range> loopBlock;
    while (at < gif.size()) {
        const std::uint8_t introducer = gif[at];
        if (introducer == 0x3B) break;  // trailer
        if (introducer == 0x21) {       // extension: label, then sub-blocks
            if (at + 2 > gif.size()) return unchanged;
            const bool application = gif[at + 1] == 0xFF;
            const std::optional<std::size_t> end = SkipSubBlocks(gif, at + 2);
            if (!end) return unchanged;
            if (application && at + 14 <= gif.size() && gif[at + 2] == 11 &&
                std::memcmp(gif.data() + at + 3, "NETSCAPE2.0", 11) == 0) {
                loopBlock = Range{at, *end};
            }
            at = *end;
        } else if (introducer == 0x2C) {  // image: descriptor, colour table, LZW size, data
            if (at + 10 > gif.size()) return unchanged;
            ++images;
            const std::size_t data = at + 10 + ColorTableBytes(gif[at + 9]) + 1;
            const std::optional<std::size_t> end = SkipSubBlocks(gif, data);
            if (!end) return unchanged;
            at = *end;
        } else {
            return unchanged;
        }
    }
    if (images != 1 || !loopBlock) return unchanged;
    std::vector<std::uint8_t> still(gif.begin(),
                                    gif.begin() + static_cast<std::ptrdiff_t>(loopBlock->begin));
    still.insert(still.end(), gif.begin() + static_cast<std::ptrdiff_t>(loopBlock->end), gif.end());
    return still;
}

}  // namespace pimo::imagelib
