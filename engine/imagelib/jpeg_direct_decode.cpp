#include "engine/imagelib/jpeg_direct_decode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_exif.h"
#include "engine/imagelib/jpeg_markers.h"
#include "engine/imagelib/load_repairs.h"

namespace pimo::imagelib {

namespace {

// The load flags whose pixels the direct decode reproduces. JPEG_FAST and
// JPEG_ACCURATE choose the decoder's settings; the quality estimate reads the
// header only; an EXIF rotation is declined later if the file needs one.
constexpr int kDirectFlags = JPEG_FAST | JPEG_ACCURATE | JPEG_EXIFROTATE | kJpegLoadDetectQuality;

// The decoder reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decode. A warning (corrupt data, a premature
// end) is only noted: the library's loader then decodes the file again and
// reports it in its own words.
struct ErrorManager {
    jpeg_error_mgr base{};
    std::jmp_buf jump{};
    bool warned = false;
};

ErrorManager& Manager(j_common_ptr info) {
    return *reinterpret_cast<ErrorManager*>(info->err);
}

[[noreturn]] void ExitWithError(j_common_ptr info) {
    std::longjmp(Manager(info).jump, 1);
}

void NoteWarning(j_common_ptr info, int level) {
    if (level < 0) Manager(info).warned = true;
}

// Makes `errors` the decoder's: errors jump back, warnings are noted.
void UseErrorManager(jpeg_decompress_struct& info, ErrorManager& errors) {
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = ExitWithError;
    errors.base.emit_message = NoteWarning;
}

struct Target {
    std::uint8_t* bottom;  // the first byte of the image's last row, or of the buffer's
    std::size_t pitch;
    unsigned width, height, components;
    const JpegRowsSink* sink;  // when set, `bottom` is a buffer of kBatch rows handed to it
};

constexpr unsigned kBatch = 16;

// Kept free of objects with destructors because of the jump.
bool Decode(jpeg_decompress_struct& info, ErrorManager& errors, std::span<const std::uint8_t> bytes,
            int flags, const Target& target) {
    if (setjmp(errors.jump) != 0) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    // The settings of the library's loader: its defaults unless accuracy is asked for.
    if ((flags & JPEG_ACCURATE) != JPEG_ACCURATE) {
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
    }
    if (info.num_components == 3) {
        // The library's own order, written by the decoder's colour conversion.
        info.out_color_space = JCS_EXT_BGR;
    } else if (info.num_components != 1) {
        return false;
    }
    jpeg_start_decompress(&info);
    if (info.output_width != target.width || info.output_height != target.height ||
        static_cast<unsigned>(info.output_components) != target.components) {
        return false;
    }
    const std::size_t used = std::size_t{target.width} * target.components;
    JSAMPROW rows[kBatch];
    while (info.output_scanline < info.output_height) {
        const unsigned first = info.output_scanline;
        const unsigned count = std::min(kBatch, info.output_height - first);
        for (unsigned i = 0; i < count; ++i) {
            // Bottom-up: the file's first row is the bitmap's last (and in
            // the buffer, the batch's first row its last).
            rows[i] = target.sink ? target.bottom + std::size_t{count - 1 - i} * target.pitch
                                  : target.bottom - std::size_t{first + i} * target.pitch;
            std::memset(rows[i] + used, 0, target.pitch - used);
        }
        const JDIMENSION got = jpeg_read_scanlines(&info, rows, count);
        if (got == 0) return false;
        if (target.sink) {
            // The rows read are the buffer's last `got`.
            const std::size_t skipped = std::size_t{count - got} * target.pitch;
            const std::span<const std::uint8_t> batch(target.bottom + skipped,
                                                      std::size_t{got} * target.pitch);
            if (!(*target.sink)(target.height - first - got, got, batch)) return false;
        }
    }
    jpeg_finish_decompress(&info);
    return true;
}

// The bitmap of a scaled decode lives here, outside the frame the decoder
// jumps back to, so that a failed decode can still release it.
struct ScaledTarget {
    FIBITMAP* bitmap = nullptr;
};

// Kept free of objects with destructors because of the jump.
bool DecodeScaled(jpeg_decompress_struct& info, ErrorManager& errors,
                  std::span<const std::uint8_t> bytes, unsigned denominator, ScaledTarget& target) {
    if (setjmp(errors.jump) != 0) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    if (info.num_components == 3) {
        info.out_color_space = JCS_EXT_BGR;
    } else if (info.num_components != 1) {
        return false;
    }
    info.scale_num = 1;
    info.scale_denom = denominator;
    jpeg_start_decompress(&info);
    const unsigned width = info.output_width, height = info.output_height;
    const int bpp = info.output_components * 8;
    target.bitmap = ::FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), bpp);
    if (!target.bitmap) return false;
    if (bpp == 8) {
        RGBQUAD* palette = ::FreeImage_GetPalette(target.bitmap);
        for (unsigned i = 0; i < 256; ++i) {
            const auto level = static_cast<BYTE>(i);
            palette[i] = RGBQUAD{level, level, level, 0};
        }
    }
    constexpr unsigned kBatch = 16;
    JSAMPROW rows[kBatch];
    while (info.output_scanline < height) {
        const unsigned first = info.output_scanline;
        const unsigned count = std::min(kBatch, height - first);
        // Bottom-up: the file's first row is the bitmap's last.
        for (unsigned i = 0; i < count; ++i)
            rows[i] =
                ::FreeImage_GetScanLine(target.bitmap, static_cast<int>(height - 1 - first - i));
        if (jpeg_read_scanlines(&info, rows, count) == 0) return false;
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

bool DirectJpegDecodeApplies(std::span<const std::uint8_t> bytes, int flags) {
    if ((flags & ~kDirectFlags) != 0) return false;
    const JpegHeader header = ReadJpegHeader(bytes);
    return header.isJpeg && (header.components == 3 || header.components == 1);
}

FIBITMAP* LoadJpegWithoutPixels(std::span<const std::uint8_t> bytes, int flags) {
    if (!DirectJpegDecodeApplies(bytes, flags)) return nullptr;
    // Read unrotated, so that the orientation the file declares can be seen;
    // the rotation's own repair follows when the file needs none.
    FIBITMAP* header =
        FreeImage_LoadFromBytes(kFormatJpeg, bytes, (flags & ~JPEG_EXIFROTATE) | FIF_LOAD_NOPIXELS);
    if (!header) return nullptr;
    const unsigned bpp = ::FreeImage_GetBPP(header);
    const bool plain = ::FreeImage_GetImageType(header) == FIT_BITMAP && (bpp == 24 || bpp == 8);
    if (!plain || ((flags & JPEG_EXIFROTATE) && ExifOrientation(header) > 1)) {
        ::FreeImage_Unload(header);
        return nullptr;
    }
    RepairDecodedBitmap(FIF_JPEG, bytes, flags & ~kJpegLoadDetectQuality, header);
    return header;
}

bool DecodeJpegPixels(std::span<const std::uint8_t> bytes, int flags, FIBITMAP* header,
                      std::span<std::uint8_t> pixels) {
    if (!header || bytes.empty()) return false;
    const unsigned width = ::FreeImage_GetWidth(header), height = ::FreeImage_GetHeight(header);
    const std::size_t pitch = ::FreeImage_GetPitch(header);
    const unsigned components = ::FreeImage_GetBPP(header) / 8;
    if (width == 0 || height == 0 || pixels.size() != pitch * height ||
        pitch < std::size_t{width} * components) {
        return false;
    }
    ErrorManager errors;
    jpeg_decompress_struct info{};
    UseErrorManager(info, errors);
    const Target target{
        pixels.data() + (height - 1) * pitch, pitch, width, height, components, nullptr};
    const bool decoded = Decode(info, errors, bytes, flags, target);
    jpeg_destroy_decompress(&info);
    return decoded && !errors.warned;
}

bool DecodeJpegRows(std::span<const std::uint8_t> bytes, int flags, FIBITMAP* header,
                    const JpegRowsSink& put) {
    if (!header || bytes.empty() || !put) return false;
    const unsigned width = ::FreeImage_GetWidth(header), height = ::FreeImage_GetHeight(header);
    const std::size_t pitch = ::FreeImage_GetPitch(header);
    const unsigned components = ::FreeImage_GetBPP(header) / 8;
    if (width == 0 || height == 0 || pitch < std::size_t{width} * components) return false;
    // Not cleared: every byte of a row is written before the row is handed on.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kBatch * pitch]);
    ErrorManager errors;
    jpeg_decompress_struct info{};
    UseErrorManager(info, errors);
    const Target target{buffer.get(), pitch, width, height, components, &put};
    const bool decoded = Decode(info, errors, bytes, flags, target);
    jpeg_destroy_decompress(&info);
    return decoded && !errors.warned;
}

FIBITMAP* DecodeJpegScaled(std::span<const std::uint8_t> bytes, unsigned denominator) {
    if (bytes.empty() ||
        (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)) {
        return nullptr;
    }
    ErrorManager errors;
    jpeg_decompress_struct info{};
    UseErrorManager(info, errors);
    ScaledTarget target;
    const bool decoded = DecodeScaled(info, errors, bytes, denominator, target);
    jpeg_destroy_decompress(&info);
    if (decoded && !errors.warned) return target.bitmap;
    if (target.bitmap) ::FreeImage_Unload(target.bitmap);
    return nullptr;
}

}  // namespace pimo::imagelib
