#include "engine/imagelib/bmp_layout.h"

#include <algorithm>
#include <bit>
#include <climits>

namespace pimo::imagelib {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
// Guards against declared sizes that no real file has: they would only make
// the decoder allocate gigabytes for a few bytes of input.
constexpr std::uint64_t kMaxSide = 1u << 20;
constexpr std::uint64_t kMaxPixels = 1u << 28;
// A run-length stream can describe far more pixels than it has bytes, but not
// without limit: two bytes give at most 255 pixels, and a row needs at least
// its end-of-line code. Blank areas skipped with deltas are the exception, so
// the factor is generous.
constexpr std::uint64_t kMaxRlePixelsPerByte = 1024;
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'

std::uint32_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return Le16(b, at) | Le16(b, at + 2) << 16;
}

bool IsKnownInfoHeader(std::uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// A mask must be one run of bits inside the pixel word.
bool IsValidMask(std::uint32_t mask, unsigned bitCount) {
    if (mask == 0) return true;
    if (bitCount < 32 && (mask >> bitCount) != 0) return false;
    const std::uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

bool ReadMasks(std::span<const std::uint8_t> bytes, BmpLayout& layout, std::size_t& tableStart) {
    const std::size_t header = kFileHeaderSize;
    const bool bitFields =
        layout.compression == kBmpBitFields || layout.compression == kBmpAlphaBitFields;
    const unsigned inHeader = layout.headerSize >= 56 ? 4 : layout.headerSize >= 52 ? 3 : 0;
    if (bitFields) {
        // Masks the header has no room for follow it.
        const unsigned wanted = layout.compression == kBmpAlphaBitFields ? 4 : 3;
        for (unsigned i = 0; i < wanted; ++i) {
            if (i < inHeader) {
                layout.masks[i] = Le32(bytes, header + 40 + 4 * i);
            } else {
                if (tableStart + 4 > bytes.size()) return false;
                layout.masks[i] = Le32(bytes, tableStart);
                tableStart += 4;
            }
        }
        if (inHeader == 4) layout.masks[3] = Le32(bytes, header + 52);
    } else if (layout.bitCount == 16) {
        layout.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (layout.bitCount == 32) {
        layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    }
    // Newer headers carry an alpha mask whatever the compression.
    if (!bitFields && inHeader == 4 && (layout.bitCount == 16 || layout.bitCount == 32)) {
        const std::uint32_t alpha = Le32(bytes, header + 52);
        if ((alpha & (layout.masks[0] | layout.masks[1] | layout.masks[2])) == 0) {
            layout.masks[3] = alpha;
        }
    }
    if (layout.bitCount != 16 && layout.bitCount != 32) return true;
    const auto& m = layout.masks;
    for (const std::uint32_t mask : m) {
        if (!IsValidMask(mask, layout.bitCount)) return false;
    }
    if ((m[0] | m[1] | m[2]) == 0) return false;
    // Channels must not share bits.
    return (m[0] & m[1]) == 0 && (m[0] & m[2]) == 0 && (m[1] & m[2]) == 0 &&
           ((m[0] | m[1] | m[2]) & m[3]) == 0;
}

bool CompressionFits(const BmpLayout& layout) {
    switch (layout.compression) {
        case kBmpRgb:
            return true;
        case kBmpRle8:
            return layout.bitCount == 8 && !layout.topDown;
        case kBmpRle4:
            return layout.bitCount == 4 && !layout.topDown;
        case kBmpBitFields:
        case kBmpAlphaBitFields:
            return layout.bitCount == 16 || layout.bitCount == 32;
        default:
            return false;  // embedded JPEG or PNG, or unknown
    }
}

std::span<const std::uint8_t> EmbeddedProfile(std::span<const std::uint8_t> bytes,
                                              const BmpLayout& layout) {
    const std::size_t header = kFileHeaderSize;
    if (layout.headerSize < 124 || Le32(bytes, header + 56) != kProfileEmbedded) return {};
    // The profile offset counts from the start of the info header.
    const std::uint64_t start = header + static_cast<std::uint64_t>(Le32(bytes, header + 112));
    const std::uint64_t size = Le32(bytes, header + 116);
    if (size == 0 || start > bytes.size() || size > bytes.size() - start) return {};
    return bytes.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(size));
}

}  // namespace

std::uint32_t BmpInfoHeaderSize(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kFileHeaderSize + 4 || bytes[0] != 'B' || bytes[1] != 'M') return 0;
    return Le32(bytes, kFileHeaderSize);
}

std::uint32_t BmpCompression(std::span<const std::uint8_t> bytes) {
    if (BmpInfoHeaderSize(bytes) < 40 || bytes.size() < kFileHeaderSize + 20) return 0xFFFFFFFF;
    return Le32(bytes, kFileHeaderSize + 16);
}

std::optional<BmpLayout> ReadBmpLayout(std::span<const std::uint8_t> bytes) {
    BmpLayout layout;
    layout.headerSize = BmpInfoHeaderSize(bytes);
    if (!IsKnownInfoHeader(layout.headerSize) ||
        kFileHeaderSize + layout.headerSize > bytes.size()) {
        return std::nullopt;
    }
    const std::size_t h = kFileHeaderSize;
    const auto width = static_cast<std::int32_t>(Le32(bytes, h + 4));
    const auto height = static_cast<std::int32_t>(Le32(bytes, h + 8));
    if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
    layout.width = static_cast<std::uint32_t>(width);
    layout.topDown = height < 0;
    layout.height = static_cast<std::uint32_t>(height < 0 ? -height : height);
    const std::uint64_t pixelCount = std::uint64_t{layout.width} * layout.height;
    if (layout.width > kMaxSide || layout.height > kMaxSide || pixelCount > kMaxPixels) {
        return std::nullopt;
    }
    layout.bitCount = static_cast<std::uint16_t>(Le16(bytes, h + 14));
    layout.compression = Le32(bytes, h + 16);
    switch (layout.bitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return std::nullopt;
    }
    if (!CompressionFits(layout)) return std::nullopt;
    layout.xPelsPerMeter = static_cast<std::int32_t>(Le32(bytes, h + 24));
    layout.yPelsPerMeter = static_cast<std::int32_t>(Le32(bytes, h + 28));

    std::size_t tableStart = h + layout.headerSize;
    if (!ReadMasks(bytes, layout, tableStart)) return std::nullopt;

    const std::uint32_t pixelOffset = Le32(bytes, 10);
    if (pixelOffset < tableStart || pixelOffset >= bytes.size()) return std::nullopt;
    layout.pixels = bytes.subspan(pixelOffset);

    if (layout.bitCount <= 8) {
        const std::uint32_t declared = Le32(bytes, h + 32);
        std::uint64_t entries = std::uint64_t{1} << layout.bitCount;
        if (declared != 0 && declared < entries) entries = declared;
        // Some writers declare a full table and store a shorter one.
        entries = std::min<std::uint64_t>(entries, (pixelOffset - tableStart) / 4);
        if (entries == 0) return std::nullopt;
        layout.palette = bytes.subspan(tableStart, static_cast<std::size_t>(entries * 4));
    }

    layout.stride =
        static_cast<std::size_t>((std::uint64_t{layout.width} * layout.bitCount + 31) / 32 * 4);
    if (layout.compression == kBmpRle8 || layout.compression == kBmpRle4) {
        if (pixelCount > layout.pixels.size() * kMaxRlePixelsPerByte) return std::nullopt;
    } else {
        // Every row must be present; only the padding of the last may be missing.
        const std::uint64_t lastRow = (std::uint64_t{layout.width} * layout.bitCount + 7) / 8;
        const std::uint64_t needed = std::uint64_t{layout.stride} * (layout.height - 1) + lastRow;
        if (needed > layout.pixels.size()) return std::nullopt;
    }
    layout.profile = EmbeddedProfile(bytes, layout);
    return layout;
}

}  // namespace pimo::imagelib
