#pragma once
// What the header segments of a JPEG file say, read without decoding: the
// quantisation tables, the components and the Adobe marker. Reading is
// bounded by the bytes given; a truncated or malformed file gives what was
// read before the damage.

#include <array>
#include <cstdint>
#include <span>

namespace pimo::imagelib {

struct JpegQuantTable {
    bool present = false;
    bool sixteenBit = false;                 // stored with 16-bit precision
    std::array<std::uint16_t, 64> values{};  // in natural (row by row) order
};

struct JpegHeader {
    bool isJpeg = false;  // starts with the start-of-image marker
    std::array<JpegQuantTable, 4> tables;
    int components = 0;                   // from the first start-of-frame segment, 0 when none
    std::array<int, 4> componentTable{};  // table slot of the first four components, -1 invalid
    bool adobeMarker = false;             // APP14 "Adobe"
    int adobeTransform = -1;  // 0 none (RGB or CMYK), 1 YCbCr, 2 YCCK; -1 without marker
};

/// Reads the segments before the first scan.
JpegHeader ReadJpegHeader(std::span<const std::uint8_t> bytes);

}  // namespace pimo::imagelib
