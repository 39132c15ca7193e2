#include "engine/imagelib/png_direct_decode.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/handles.h"

namespace pimo::imagelib {

namespace {

constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr unsigned kBatch = 16;

std::uint32_t BigEndian32(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | at[3];
}

bool IsChunk(const std::uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

// A chunk's place in the file: from its length field to the end of its CRC.
struct ChunkSpan {
    std::size_t offset = 0, size = 0;
};

// More chunks than this besides the image data leave the file to the loader:
// libpng stops keeping texts at a count of its own over the whole file, which
// the stand-in file for those after the image could not follow.
constexpr unsigned kMaxChunks = 100;

bool IsText(const std::uint8_t* type) {
    return IsChunk(type, "tEXt") || IsChunk(type, "zTXt") || IsChunk(type, "iTXt");
}

// What the file declares, from a walk over its chunks (their CRCs are libpng's
// to check). Nothing when the walk does not reach IEND.
struct Layout {
    bool interlaced = false;
    ChunkSpan header, palette;
    std::vector<ChunkSpan> textAfterImage;  // text and time chunks after the image data
    bool timeBeforeImage = false;
    unsigned chunks = 0;  // besides the image data
};

std::optional<Layout> ReadLayout(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8 + 25 || std::memcmp(bytes.data(), kSignature, 8) != 0) return {};
    Layout layout;
    std::size_t at = 8;
    bool first = true, imageSeen = false;
    while (bytes.size() - at >= 12) {
        const std::uint32_t length = BigEndian32(bytes.data() + at);
        const std::uint8_t* type = bytes.data() + at + 4;
        if (length > bytes.size() - at - 12) return {};
        const ChunkSpan chunk{at, std::size_t{length} + 12};
        layout.chunks += IsChunk(type, "IDAT") ? 0 : 1;
        if (first) {
            if (!IsChunk(type, "IHDR") || length != 13) return {};
            layout.interlaced = bytes[at + 8 + 12] != 0;
            layout.header = chunk;
            first = false;
        } else if (IsChunk(type, "IDAT")) {
            imageSeen = true;
        } else if (IsChunk(type, "IEND")) {
            return imageSeen ? std::optional<Layout>(layout) : std::nullopt;
        } else if (!imageSeen) {
            if (IsChunk(type, "PLTE")) layout.palette = chunk;
            layout.timeBeforeImage |= IsChunk(type, "tIME");
        } else if (IsText(type) || IsChunk(type, "tIME")) {
            layout.textAfterImage.push_back(chunk);
        }
        at += chunk.size;
    }
    return {};
}

// libpng reports a fatal error by calling this, which must not return: it
// jumps back to the decode. Its warnings are ignored, as the loader ignores them.
[[noreturn]] void Fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

void ReadInput(png_structp png, png_bytep out, png_size_t length) {
    auto* input = static_cast<Input*>(png_get_io_ptr(png));
    if (length > input->size - input->at) png_error(png, "unexpected end of file");
    std::memcpy(out, input->data + input->at, length);
    input->at += length;
}

// The transformations the library's loader (3.18) asks for, and the bitmap
// type it then allocates; FIT_UNKNOWN where it refuses the file.
FREE_IMAGE_TYPE ConfigureAsTheLoader(png_structp png, png_infop info, int flags) {
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    const int pixelDepth = bitDepth * png_get_channels(png, info);
    const bool transparent = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    FREE_IMAGE_TYPE type = FIT_BITMAP;
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY:
            if (bitDepth == 16) {
                // A transparent grey becomes a full alpha channel, in 64-bit colour.
                type = FIT_UINT16;
                if (transparent) {
                    png_set_tRNS_to_alpha(png);
                    png_set_gray_to_rgb(png);
                    type = FIT_RGBA16;
                }
            } else if (pixelDepth == 2 || (transparent && pixelDepth < 8)) {
                // 2-bit grey has no bitmap of its own; a transparent grey is
                // widened so that its table has a byte per pixel to index.
                png_set_expand_gray_1_2_4_to_8(png);
            }
            break;
        case PNG_COLOR_TYPE_RGB:
            type = bitDepth == 8 ? FIT_BITMAP : bitDepth == 16 ? FIT_RGB16 : FIT_UNKNOWN;
            if (transparent && type != FIT_UNKNOWN) {
                type = bitDepth == 8 ? FIT_BITMAP : FIT_RGBA16;
                png_set_tRNS_to_alpha(png);
            }
            break;
        case PNG_COLOR_TYPE_PALETTE:
            // As for grey: 2 bits widened, and every depth below 8 with a table.
            if (pixelDepth == 2 || (transparent && pixelDepth < 8)) png_set_packing(png);
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            type = bitDepth == 8 ? FIT_BITMAP : bitDepth == 16 ? FIT_RGBA16 : FIT_UNKNOWN;
            png_set_gray_to_rgb(png);
            break;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            type = bitDepth == 8 ? FIT_BITMAP : bitDepth == 16 ? FIT_RGBA16 : FIT_UNKNOWN;
            break;
        default:
            type = FIT_UNKNOWN;
    }
    if (type == FIT_UNKNOWN) return type;
    if (type != FIT_BITMAP) png_set_swap(png);  // 16-bit samples in this machine's order
    if (type == FIT_BITMAP &&
        (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGB_ALPHA)) {
        png_set_bgr(png);
    }
    double gamma = 0;
    if (png_get_valid(png, info, PNG_INFO_gAMA) && png_get_gAMA(png, info, &gamma) &&
        (flags & PNG_IGNOREGAMMA) != PNG_IGNOREGAMMA) {
        png_set_gamma(png, 2.2, gamma);
    }
    png_read_update_info(png, info);
    return type;
}

// The loader's metadata from libpng's texts and time, as it stores them: a
// text as a comment under its key (the XMP packet as XMP), the time as the
// EXIF date.
void StoreTextsAsTheLoader(png_structp png, png_infop info, FIBITMAP* bitmap, bool withTime) {
    png_textp texts = nullptr;
    int count = 0;
    if (png_get_text(png, info, &texts, &count) > 0) {
        for (int i = 0; i < count; ++i) {
            FITAG* tag = ::FreeImage_CreateTag();
            if (!tag) return;
            const auto length =
                static_cast<DWORD>(std::max(texts[i].text_length, texts[i].itxt_length));
            ::FreeImage_SetTagLength(tag, length);
            ::FreeImage_SetTagCount(tag, length);
            ::FreeImage_SetTagType(tag, FIDT_ASCII);
            ::FreeImage_SetTagValue(tag, texts[i].text);
            const bool xmp = std::strcmp(texts[i].key, "XML:com.adobe.xmp") == 0;
            ::FreeImage_SetTagKey(tag, xmp ? "XMLPacket" : texts[i].key);
            ::FreeImage_SetMetadata(xmp ? FIMD_XMP : FIMD_COMMENTS, bitmap,
                                    ::FreeImage_GetTagKey(tag), tag);
            ::FreeImage_DeleteTag(tag);
        }
    }
    png_timep time = nullptr;
    if (!withTime || !png_get_tIME(png, info, &time)) return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%4d:%02d:%02d %2d:%02d:%02d", time->year, time->month,
                  time->day, time->hour, time->minute, time->second);
    FITAG* tag = ::FreeImage_CreateTag();
    if (!tag) return;
    const auto length = static_cast<DWORD>(std::strlen(stamp) + 1);
    ::FreeImage_SetTagLength(tag, length);
    ::FreeImage_SetTagCount(tag, length);
    ::FreeImage_SetTagType(tag, FIDT_ASCII);
    ::FreeImage_SetTagID(tag, 0x0132);  // the EXIF DateTime tag
    ::FreeImage_SetTagValue(tag, stamp);
    ::FreeImage_SetTagKey(tag, "DateTime");
    ::FreeImage_SetMetadata(FIMD_EXIF_MAIN, bitmap, ::FreeImage_GetTagKey(tag), tag);
    ::FreeImage_DeleteTag(tag);
}

// Kept free of objects with destructors because of the jump.
bool ReadInfo(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    // As the loader reads the end of the file: a minor fault is no error.
    png_set_benign_errors(png, 1);
    png_read_info(png, info);
    return true;
}

// The loader reads the texts and time after the image data only with the
// pixels, and with them stores all texts and the time again (libpng keeps the
// first time of a file). Before the pixels are made, the transfer needs the
// metadata whole: libpng reads those chunks here from a stand-in file of the
// header, the palette and them, ended by the start of an image.
bool StoreTextsAfterImage(std::span<const std::uint8_t> bytes, const Layout& layout,
                          FIBITMAP* header) {
    if (layout.textAfterImage.empty()) return true;
    std::vector<std::uint8_t> standIn(kSignature, kSignature + 8);
    const auto append = [&](const ChunkSpan& chunk) {
        standIn.insert(standIn.end(), bytes.begin() + static_cast<long>(chunk.offset),
                       bytes.begin() + static_cast<long>(chunk.offset + chunk.size));
    };
    append(layout.header);
    if (layout.palette.size) append(layout.palette);
    for (const ChunkSpan& chunk : layout.textAfterImage) append(chunk);
    standIn.insert(standIn.end(), {0, 0, 0, 0, 'I', 'D', 'A', 'T'});
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, IgnoreWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    Input input{standIn.data(), standIn.size(), 0};
    png_set_read_fn(png, &input, ReadInput);
    const bool read = info && ReadInfo(png, info);
    if (read) StoreTextsAsTheLoader(png, info, header, !layout.timeBeforeImage);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return read;
}

struct Job {
    png_structp png;
    png_infop info;
    int flags;
    FREE_IMAGE_TYPE type;
    unsigned width, height, bpp;
    std::size_t pitch;
    bool interlaced;
    std::uint8_t* buffer;  // cleared: kBatch rows, or the whole image when interlaced
    png_bytep* rows;       // interlaced: where each of the file's rows goes in `buffer`
    const PngRowsSink* put;
    bool translucent;  // a 32-bit pixel whose alpha is not opaque was seen
};

// Notes whether any pixel of 32-bit rows is less than opaque.
void NoteTranslucency(Job& job, const std::uint8_t* rows, unsigned count) {
    if (job.translucent || job.type != FIT_BITMAP || job.bpp != 32) return;
    for (unsigned r = 0; r < count && !job.translucent; ++r) {
        const std::uint8_t* row = rows + std::size_t{r} * job.pitch;
        for (unsigned x = 0; x < job.width; ++x) {
            if (row[std::size_t{x} * 4 + FI_RGBA_ALPHA] != 0xFF) {
                job.translucent = true;
                break;
            }
        }
    }
}

// Kept free of objects with destructors because of the jump.
bool Decode(Job& job) {
    if (setjmp(png_jmpbuf(job.png)) != 0) return false;
    png_read_info(job.png, job.info);
    if (ConfigureAsTheLoader(job.png, job.info, job.flags) != job.type) return false;
    const unsigned depth =
        unsigned{png_get_bit_depth(job.png, job.info)} * png_get_channels(job.png, job.info);
    const std::size_t rowBytes = png_get_rowbytes(job.png, job.info);
    if (png_get_image_width(job.png, job.info) != job.width ||
        png_get_image_height(job.png, job.info) != job.height || depth != job.bpp ||
        rowBytes != (std::size_t{job.width} * depth + 7) / 8 || rowBytes > job.pitch ||
        (png_get_interlace_type(job.png, job.info) != PNG_INTERLACE_NONE) != job.interlaced) {
        return false;
    }
    // As the loader: a minor fault in the image data is no error.
    png_set_benign_errors(job.png, 1);
    if (job.interlaced) {
        png_read_image(job.png, job.rows);
        NoteTranslucency(job, job.buffer, job.height);
        if (!(*job.put)(0, job.height, {job.buffer, job.pitch * job.height})) return false;
    } else {
        for (unsigned first = 0; first < job.height; first += kBatch) {
            const unsigned count = std::min(kBatch, job.height - first);
            // Bottom-up: the file's first row is the bitmap's last (and in
            // the buffer, the batch's first row its last).
            for (unsigned i = 0; i < count; ++i)
                png_read_row(job.png, job.buffer + std::size_t{count - 1 - i} * job.pitch, nullptr);
            NoteTranslucency(job, job.buffer, count);
            const std::span<const std::uint8_t> batch(job.buffer, std::size_t{count} * job.pitch);
            if (!(*job.put)(job.height - first - count, count, batch)) return false;
        }
    }
    // The loader reads the file to its end, and fails on what it finds there.
    png_read_end(job.png, job.info);
    return true;
}

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

}  // namespace

bool DirectPngDecodeApplies(std::span<const std::uint8_t> bytes, int flags) {
    if ((flags & ~PNG_IGNOREGAMMA) != 0) return false;
    const std::optional<Layout> layout = ReadLayout(bytes);
    return layout && layout->chunks <= kMaxChunks;
}

FIBITMAP* LoadPngWithoutPixels(std::span<const std::uint8_t> bytes, int flags) {
    const std::optional<Layout> layout = ReadLayout(bytes);
    if ((flags & ~PNG_IGNOREGAMMA) != 0 || !layout || layout->chunks > kMaxChunks) return nullptr;
    FIBITMAP* header = FreeImage_LoadFromBytes(kFormatPng, bytes, flags | FIF_LOAD_NOPIXELS);
    if (header && !StoreTextsAfterImage(bytes, *layout, header)) {
        ::FreeImage_Unload(header);
        return nullptr;
    }
    return header;
}

bool DecodePngRows(std::span<const std::uint8_t> bytes, int flags, FIBITMAP* header,
                   const PngRowsSink& put) {
    if (!header || !put || ::FreeImage_HasPixels(header)) return false;
    const std::optional<Layout> layout = ReadLayout(bytes);
    if (!layout) return false;
    Job job{};
    job.flags = flags;
    job.type = ::FreeImage_GetImageType(header);
    job.width = ::FreeImage_GetWidth(header);
    job.height = ::FreeImage_GetHeight(header);
    job.bpp = ::FreeImage_GetBPP(header);
    job.pitch = ::FreeImage_GetPitch(header);
    job.interlaced = layout->interlaced;
    job.put = &put;
    if (job.width == 0 || job.height == 0 || job.pitch < (std::size_t{job.width} * job.bpp + 7) / 8)
        return false;
    // The loader's bitmap is cleared before libpng writes it, and libpng
    // keeps the unused low bits of a row's last byte as it found them.
    const std::size_t rows = job.interlaced ? job.height : std::min(kBatch, job.height);
    const std::unique_ptr<std::uint8_t, FreeDeleter> buffer(
        static_cast<std::uint8_t*>(std::calloc(rows, job.pitch)));
    std::unique_ptr<png_bytep, FreeDeleter> pointers;
    if (!buffer) return false;
    job.buffer = buffer.get();
    if (job.interlaced) {
        pointers.reset(static_cast<png_bytep*>(std::calloc(job.height, sizeof(png_bytep))));
        if (!pointers) return false;
        for (unsigned y = 0; y < job.height; ++y)
            pointers.get()[y] = job.buffer + std::size_t{job.height - 1 - y} * job.pitch;
        job.rows = pointers.get();
    }
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, IgnoreWarning);
    if (!job.png) return false;
    job.info = png_create_info_struct(job.png);
    Input input{bytes.data(), bytes.size(), 0};
    png_set_read_fn(job.png, &input, ReadInput);
    const bool decoded = job.info && Decode(job);
    png_destroy_read_struct(&job.png, job.info ? &job.info : nullptr, nullptr);
    if (!decoded) return false;
    if (job.type == FIT_BITMAP && job.bpp == 32) {
        // What the loader's look at the decoded alpha channel finds.
        const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(header);
        const bool cmyk = profile && (profile->flags & FIICC_COLOR_IS_CMYK);
        const bool alpha = job.translucent && !cmyk;
        ::FreeImage_SetTransparent(header, alpha ? TRUE : FALSE);
        RecordOriginalAlpha(header, alpha);
    }
    return true;
}

}  // namespace pimo::imagelib
