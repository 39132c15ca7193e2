#include "engine/imagelib/jpeg_markers.h"

#include <cstring>

namespace pimo::imagelib {

namespace {

// Position in natural order of the n-th coefficient in zigzag order, the
// order in which quantisation tables are stored.
constexpr std::array<std::uint8_t, 64> kZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

bool IsStartOfFrame(std::uint8_t marker) {
    // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning) are not frames.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

void ReadQuantTables(std::span<const std::uint8_t> segment, JpegHeader& header) {
    std::size_t at = 0;
    while (at < segment.size()) {
        const unsigned precision = segment[at] >> 4, slot = segment[at] & 0x0F;
        const std::size_t size = precision ? 128 : 64;
        if (precision > 1 || slot > 3 || size > segment.size() - at - 1) return;
        JpegQuantTable& table = header.tables[slot];
        const std::uint8_t* data = segment.data() + at + 1;
        for (std::size_t i = 0; i < 64; ++i) {
            table.values[kZigzagToNatural[i]] =
                precision ? static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1])
                          : data[i];
        }
        table.present = true;
        table.sixteenBit = precision != 0;
        at += 1 + size;
    }
}

void ReadFrame(std::span<const std::uint8_t> segment, JpegHeader& header) {
    if (header.components != 0 || segment.size() < 6) return;
    const int count = segment[5];
    if (count == 0 || segment.size() < 6 + std::size_t(count) * 3) return;
    header.components = count;
    for (int i = 0; i < count && i < 4; ++i) {
        const int slot = segment[6 + 3 * i + 2];
        header.componentTable[static_cast<std::size_t>(i)] = slot <= 3 ? slot : -1;
    }
}

void ReadAdobe(std::span<const std::uint8_t> segment, JpegHeader& header) {
    // "Adobe", version, flags0, flags1, transform.
    if (segment.size() < 12 || std::memcmp(segment.data(), "Adobe", 5) != 0) return;
    header.adobeMarker = true;
    header.adobeTransform = segment[11];
}

}  // namespace

JpegHeader ReadJpegHeader(std::span<const std::uint8_t> bytes) {
    JpegHeader header;
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return header;
    header.isJpeg = true;
    std::size_t at = 2;
    while (at < bytes.size()) {
        if (bytes[at] != 0xFF) return header;                 // not at a marker: damaged
        while (at < bytes.size() && bytes[at] == 0xFF) ++at;  // fill bytes
        if (at >= bytes.size()) return header;
        const std::uint8_t marker = bytes[at++];
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
        if (marker == 0xD9 || marker == 0xDA) return header;  // end of image, start of scan
        if (bytes.size() - at < 2) return header;
        const std::size_t length = static_cast<std::size_t>(bytes[at] << 8 | bytes[at + 1]);
        if (length < 2 || length > bytes.size() - at) return header;
        const auto segment = bytes.subspan(at + 2, length - 2);
        if (marker == 0xDB) {
            ReadQuantTables(segment, header);
        } else if (IsStartOfFrame(marker)) {
            ReadFrame(segment, header);
        } else if (marker == 0xEE) {
            ReadAdobe(segment, header);
        }
        at += length;
    }
    return header;
}

}  // namespace pimo::imagelib
