#pragma once
// The size an image file declares in its header, read by us before the image
// library is asked for anything, so that a file declaring an absurd size is
// refused at once instead of after gigabytes have been allocated.

#include <FreeImage.h>

#include <cstdint>
#include <optional>
#include <span>

namespace pimo::imagelib {

struct DeclaredSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned bitsPerPixel = 0;  // of the bitmap the library decodes it into

    /// Bytes of the decoded bitmap (rows padded as the library pads them).
    std::uint64_t DecodedBytes() const;
};

/// Width, height and decoded depth from the header of a file of the library
/// format `format` (JPEG SOF, PNG IHDR, GIF screen and first image, BMP,
/// TIFF first IFD, PNM and PFM, Sun raster, PSD, ICO, PCX, Targa, DDS, SGI,
/// PICT, WebP, XBM, WBMP). Nothing for other formats, or when the header is
/// missing or cut short; never reads outside `bytes`.
std::optional<DeclaredSize> ReadDeclaredSize(FREE_IMAGE_FORMAT format,
                                             std::span<const std::uint8_t> bytes);

}  // namespace pimo::imagelib
