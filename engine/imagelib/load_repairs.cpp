#include "engine/imagelib/load_repairs.h"

#include "engine/imagelib/bmp_decoder.h"
#include "engine/imagelib/codec_warnings.h"
#include "engine/imagelib/jpeg_cmyk.h"
#include "engine/imagelib/jpeg_exif.h"
#include "engine/imagelib/jpeg_markers.h"
#include "engine/imagelib/jpeg_quality.h"
#include "engine/imagelib/png_chunks.h"
#include "engine/imagelib/pnm_decoder.h"

namespace pimo::imagelib {

FIBITMAP* DecodeWhereLibraryFails(FREE_IMAGE_FORMAT libraryFormat,
                                  std::span<const std::uint8_t> bytes, int libraryFlags) {
    switch (libraryFormat) {
        case FIF_BMP:
            // The library refuses every info header but the 40-byte one and
            // ignores unusual bit fields.
            return NeedsOwnBmpDecoder(bytes) ? DecodeBmp(bytes) : nullptr;
        case FIF_JPEG: {
            // A caller asking for raw CMYK or for grey gets the library's own result.
            if (libraryFlags & (JPEG_CMYK | JPEG_GREYSCALE)) return nullptr;
            const JpegHeader header = ReadJpegHeader(bytes);
            return header.components == 4 ? DecodeCmykJpeg(bytes, header, libraryFlags) : nullptr;
        }
        case FIF_PBM:
        case FIF_PBMRAW:
        case FIF_PGM:
        case FIF_PGMRAW:
        case FIF_PPM:
        case FIF_PPMRAW:
            // The library reads binary PNM a byte at a time; ours reads whole
            // rows. It names every PNM file by the first of these, so the
            // decoder goes by the file's own magic number.
            return (libraryFlags & FIF_LOAD_NOPIXELS) ? nullptr : DecodeBinaryPnm(bytes);
        default:
            return nullptr;
    }
}

void RepairDecodedBitmap(FREE_IMAGE_FORMAT libraryFormat, std::span<const std::uint8_t> bytes,
                         int libraryFlags, FIBITMAP* bitmap) {
    if (!bitmap) return;
    if (libraryFormat == FIF_JPEG && (libraryFlags & JPEG_EXIFROTATE)) {
        ResetExifOrientation(bitmap);
    } else if (libraryFormat == FIF_PNG) {
        // Keep a profile the library found itself (a later release reads iCCP).
        const FIICCPROFILE* existing = ::FreeImage_GetICCProfile(bitmap);
        if (existing && existing->size > 0) return;
        std::vector<std::uint8_t> profile = PngIccProfile(bytes);
        if (!profile.empty()) {
            ::FreeImage_CreateICCProfile(bitmap, profile.data(), static_cast<long>(profile.size()));
        }
    }
}

int EstimateJpegQuality(std::span<const std::uint8_t> bytes) {
    const JpegHeader header = ReadJpegHeader(bytes);
    return header.isJpeg ? EstimateLibjpegQuality(header) : 0;
}

void RouteCodecWarnings() {
    RouteTiffMessages();
}

}  // namespace pimo::imagelib
