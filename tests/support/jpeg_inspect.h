#pragma once
// Reads the marker structure of JPEG bytes, to check what an encoder wrote.

#include <cstdint>
#include <string>
#include <vector>

namespace pimo::test {

struct JpegComponent {
    int id, horizontal, vertical;
};

struct JpegStructure {
    bool valid = false;
    int frameMarker = 0;  // 0xC0 baseline, 0xC1 extended, 0xC2 progressive
    int width = 0, height = 0;
    std::vector<JpegComponent> components;
    bool hasExif = false, hasXmp = false, hasIptc = false, hasComment = false, hasIcc = false;
    bool hasJfxx = false;     // an APP0 "JFXX" extension (a thumbnail)
    int exifOrientation = 0;  // 0 when absent
    std::vector<std::uint8_t> exifBlock;
    std::vector<std::uint8_t> iccProfile;
};

JpegStructure InspectJpeg(const std::vector<std::uint8_t>& bytes);

/// A minimal little-endian EXIF block ("Exif\0\0" + TIFF header + IFD0 with
/// the Orientation tag).
std::vector<std::uint8_t> MakeExifBlock(int orientation);

}  // namespace pimo::test
