#include "engine/imagelib/jpeg_exif.h"

#include <cstring>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;
// The library's key of the raw EXIF block in FIMD_EXIF_RAW.
constexpr const char* kExifRawKey = "ExifRaw";

struct ByteOrder {
    bool big;
    std::uint32_t Get16(const std::uint8_t* p) const {
        return big ? static_cast<std::uint32_t>(p[0] << 8 | p[1])
                   : static_cast<std::uint32_t>(p[1] << 8 | p[0]);
    }
    std::uint32_t Get32(const std::uint8_t* p) const {
        return big ? Get16(p) << 16 | Get16(p + 2) : Get16(p + 2) << 16 | Get16(p);
    }
    void Put16(std::uint8_t* p, std::uint16_t value) const {
        p[big ? 0 : 1] = static_cast<std::uint8_t>(value >> 8);
        p[big ? 1 : 0] = static_cast<std::uint8_t>(value);
    }
};

}  // namespace

bool SetExifBlockOrientation(std::span<std::uint8_t> block, std::uint16_t value) {
    const std::size_t base =
        block.size() >= 6 && std::memcmp(block.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
    if (block.size() < base + 8) return false;
    const std::uint8_t* tiff = block.data() + base;
    if (tiff[0] != tiff[1] || (tiff[0] != 'I' && tiff[0] != 'M')) return false;
    const ByteOrder order{tiff[0] == 'M'};
    if (order.Get16(tiff + 2) != 42) return false;
    const std::size_t available = block.size() - base;
    const std::size_t ifd = order.Get32(tiff + 4);
    if (ifd > available || available - ifd < 2) return false;
    const std::size_t entries = order.Get16(tiff + ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (entry + 12 > available) return false;
        if (order.Get16(tiff + entry) != kOrientationTag) continue;
        if (order.Get16(tiff + entry + 2) != kTypeShort || order.Get32(tiff + entry + 4) < 1) {
            return false;
        }
        // One SHORT sits in the first two bytes of the value field.
        order.Put16(block.data() + base + entry + 8, value);
        return true;
    }
    return false;
}

bool ResetExifOrientation(FIBITMAP* bitmap) {
    FITAG* tag = nullptr;
    if (!bitmap || !::FreeImage_GetMetadata(FIMD_EXIF_MAIN, bitmap, "Orientation", &tag) || !tag) {
        return false;
    }
    if (::FreeImage_GetTagType(tag) != FIDT_SHORT || ::FreeImage_GetTagCount(tag) < 1 ||
        ::FreeImage_GetTagLength(tag) < 2 || !::FreeImage_GetTagValue(tag)) {
        return false;
    }
    WORD orientation = 0;
    std::memcpy(&orientation, ::FreeImage_GetTagValue(tag), sizeof orientation);
    // 1 is already upright; other values are not orientations and the library ignored them.
    if (orientation < 2 || orientation > 8) return false;

    FITAG* upright = ::FreeImage_CloneTag(tag);
    if (!upright) return false;
    const WORD one = 1;
    ::FreeImage_SetTagCount(upright, 1);
    ::FreeImage_SetTagLength(upright, sizeof one);
    ::FreeImage_SetTagValue(upright, &one);
    ::FreeImage_SetMetadata(FIMD_EXIF_MAIN, bitmap, "Orientation", upright);
    ::FreeImage_DeleteTag(upright);

    FITAG* raw = nullptr;
    if (::FreeImage_GetMetadata(FIMD_EXIF_RAW, bitmap, kExifRawKey, &raw) && raw &&
        ::FreeImage_GetTagValue(raw) && ::FreeImage_GetTagLength(raw) > 0) {
        const auto* data = static_cast<const std::uint8_t*>(::FreeImage_GetTagValue(raw));
        std::vector<std::uint8_t> block(data, data + ::FreeImage_GetTagLength(raw));
        if (SetExifBlockOrientation(block, 1)) {
            FITAG* patched = ::FreeImage_CloneTag(raw);
            if (patched) {
                ::FreeImage_SetTagValue(patched, block.data());
                ::FreeImage_SetMetadata(FIMD_EXIF_RAW, bitmap, kExifRawKey, patched);
                ::FreeImage_DeleteTag(patched);
            }
        }
    }
    return true;
}

int ExifOrientation(FIBITMAP* bitmap) {
    FITAG* tag = nullptr;
    if (!bitmap || !::FreeImage_GetMetadata(FIMD_EXIF_MAIN, bitmap, "Orientation", &tag) || !tag)
        return 1;
    if (::FreeImage_GetTagType(tag) != FIDT_SHORT || ::FreeImage_GetTagLength(tag) < 2 ||
        !::FreeImage_GetTagValue(tag)) {
        return 1;
    }
    WORD orientation = 0;
    std::memcpy(&orientation, ::FreeImage_GetTagValue(tag), sizeof orientation);
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

FIBITMAP* UprightBitmap(FIBITMAP* bitmap, int orientation) {
    if (!bitmap) return nullptr;
    // The library turns counter-clockwise for positive angles. Orientations
    // 5 and 7 (the two diagonal mirrors) are a quarter turn and a flip.
    double angle = 0;
    bool mirror = false, flip = false;
    switch (orientation) {
        case 2:
            mirror = true;
            break;
        case 3:
            angle = 180;
            break;
        case 4:
            flip = true;
            break;
        case 5:
            angle = 90, flip = true;
            break;
        case 6:
            angle = -90;
            break;
        case 7:
            angle = -90, flip = true;
            break;
        case 8:
            angle = 90;
            break;
        default:
            break;
    }
    Bitmap upright(angle != 0 ? imagelib::FreeImage_Rotate(bitmap, angle)
                              : imagelib::FreeImage_Clone(bitmap));
    if (!upright) return nullptr;
    if (mirror && !::FreeImage_FlipHorizontal(upright.get())) return nullptr;
    if (flip && !::FreeImage_FlipVertical(upright.get())) return nullptr;
    ResetExifOrientation(upright.get());
    return upright.release();
}

}  // namespace pimo::imagelib
