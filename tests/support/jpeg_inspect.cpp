#include "tests/support/jpeg_inspect.h"

#include <cstring>

namespace pimo::test {

namespace {
bool StartsWith(const std::uint8_t* data, std::size_t size, const char* text) {
    const std::size_t length = std::strlen(text);
    return size >= length && std::memcmp(data, text, length) == 0;
}

int ReadOrientation(const std::vector<std::uint8_t>& exif) {
    // "Exif\0\0" then a TIFF header.
    if (exif.size() < 6 + 8) return 0;
    const std::uint8_t* tiff = exif.data() + 6;
    const std::size_t size = exif.size() - 6;
    const bool little = tiff[0] == 'I';
    const auto u16 = [&](std::size_t at) {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    const auto u32 = [&](std::size_t at) {
        return little ? std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16
                      : std::uint32_t(u16(at)) << 16 | std::uint32_t(u16(at + 2));
    };
    const std::size_t ifd = u32(4);
    if (ifd + 2 > size) return 0;
    const int count = u16(ifd);
    for (int i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * static_cast<std::size_t>(i);
        if (entry + 12 > size) return 0;
        if (u16(entry) == 0x0112) return u16(entry + 8);
    }
    return 0;
}
}  // namespace

JpegStructure InspectJpeg(const std::vector<std::uint8_t>& bytes) {
    JpegStructure result;
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return result;
    std::size_t position = 2;
    while (position + 4 <= bytes.size()) {
        if (bytes[position] != 0xFF) return result;
        const int marker = bytes[position + 1];
        if (marker == 0xD9 || marker == 0xDA) break;  // end of image or start of scan
        const std::size_t length = std::size_t(bytes[position + 2]) << 8 | bytes[position + 3];
        if (length < 2 || position + 2 + length > bytes.size()) return result;
        const std::uint8_t* data = bytes.data() + position + 4;
        const std::size_t size = length - 2;
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            result.frameMarker = marker;
            result.height = data[1] << 8 | data[2];
            result.width = data[3] << 8 | data[4];
            for (int i = 0; i < data[5]; ++i) {
                const std::uint8_t* c = data + 6 + 3 * i;
                result.components.push_back({c[0], c[1] >> 4, c[1] & 15});
            }
        } else if (marker == 0xE1 && StartsWith(data, size, "Exif")) {
            result.hasExif = true;
            result.exifBlock.assign(data, data + size);
            result.exifOrientation = ReadOrientation(result.exifBlock);
        } else if (marker == 0xE1 && StartsWith(data, size, "http://ns.adobe.com/xap/1.0/")) {
            result.hasXmp = true;
        } else if (marker == 0xED && StartsWith(data, size, "Photoshop 3.0")) {
            result.hasIptc = true;
        } else if (marker == 0xE0 && StartsWith(data, size, "JFXX")) {
            result.hasJfxx = true;
        } else if (marker == 0xFE) {
            result.hasComment = true;
        } else if (marker == 0xE2 && StartsWith(data, size, "ICC_PROFILE")) {
            result.hasIcc = true;
            if (size > 14)
                result.iccProfile.insert(result.iccProfile.end(), data + 14, data + size);
        }
        position += 2 + length;
    }
    result.valid = result.frameMarker != 0;
    return result;
}

std::vector<std::uint8_t> MakeExifBlock(int orientation) {
    std::vector<std::uint8_t> block = {'E',
                                       'x',
                                       'i',
                                       'f',
                                       0,
                                       0,
                                       'I',
                                       'I',
                                       42,
                                       0,
                                       8,
                                       0,
                                       0,
                                       0,  // TIFF header, IFD0 at 8
                                       1,
                                       0,  // one entry
                                       0x12,
                                       0x01,
                                       3,
                                       0,
                                       1,
                                       0,
                                       0,
                                       0,  // Orientation, SHORT, count 1
                                       static_cast<std::uint8_t>(orientation),
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0};  // no next IFD
    return block;
}

}  // namespace pimo::test
