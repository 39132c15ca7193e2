#include "tests/support/libpng_reader.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace pimo::test {

namespace {

struct Source {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (source->bytes->size() - source->pos < count) png_error(png, "read past the end");
    std::memcpy(out, source->bytes->data() + source->pos, count);
    source->pos += count;
}

void RecordWarning(png_structp png, png_const_charp message) {
    auto* warnings = static_cast<std::vector<std::string>*>(png_get_error_ptr(png));
    warnings->push_back(message ? message : "");
}

void Fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

// Buffers the read fills; they belong to the caller so that nothing with a
// destructor is created between setjmp and a possible longjmp.
struct Buffers {
    std::vector<std::uint8_t> raw;
    std::vector<png_bytep> rows;
};

void ReadHeader(png_structp png, png_infop info, LibpngImage& out) {
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.colourType = png_get_color_type(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    out.interlace = png_get_interlace_type(png, info);
    png_charp name = nullptr;
    int method = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &method, &profile, &length) && profile) {
        out.hasProfile = true;
        out.profile.assign(profile, profile + length);
    }
}

void ReadBackground(png_structp png, png_infop info, LibpngImage& out) {
    png_color_16p background = nullptr;
    if (!png_get_bKGD(png, info, &background) || !background) return;
    out.hasBackground = true;
    // Each layout states the colour in its own terms: an index, a grey
    // sample or RGB samples at the image's bit depth.
    const unsigned scale = 65535u / ((1u << out.bitDepth) - 1);
    if (out.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int entries = 0;
        png_get_PLTE(png, info, &palette, &entries);
        if (palette && background->index < entries) {
            const png_color& entry = palette[background->index];
            out.background[0] = static_cast<std::uint16_t>(entry.red * 257);
            out.background[1] = static_cast<std::uint16_t>(entry.green * 257);
            out.background[2] = static_cast<std::uint16_t>(entry.blue * 257);
        }
    } else if ((out.colourType & PNG_COLOR_MASK_COLOR) == 0) {
        out.background[0] = out.background[1] = out.background[2] =
            static_cast<std::uint16_t>(background->gray * scale);
    } else {
        out.background[0] = static_cast<std::uint16_t>(background->red * scale);
        out.background[1] = static_cast<std::uint16_t>(background->green * scale);
        out.background[2] = static_cast<std::uint16_t>(background->blue * scale);
    }
}

// Sets up the transformations of `pixels` and points one row pointer per
// image row into `buffers.raw`; Discard gets a single row buffer instead.
// Returns the number of passes over the rows (7 for an interlaced image).
int PrepareRows(png_structp png, png_infop info, LibpngPixels pixels, Buffers& buffers) {
    if (pixels == LibpngPixels::Rgba16) {
        // Palette and tRNS expanded, grey copied to all three channels,
        // opaque alpha added where there is none.
        png_set_expand_16(png);
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    } else if (pixels == LibpngPixels::Indices) {
        if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE) png_error(png, "no palette");
        png_set_packing(png);  // 1-, 2- and 4-bit indices to one byte each
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (pixels == LibpngPixels::Discard) {
        buffers.raw.resize(rowBytes);
        return passes;
    }
    const png_size_t expected = pixels == LibpngPixels::Rgba16 ? png_size_t(width) * 8 : width;
    if (rowBytes != expected) png_error(png, "unexpected row size");
    buffers.raw.resize(rowBytes * height);
    buffers.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) buffers.rows[y] = buffers.raw.data() + y * rowBytes;
    return passes;
}

bool Decode(const std::vector<std::uint8_t>& bytes, LibpngImage& out, LibpngOptions options,
            Buffers& buffers) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &out.warnings, Fail, RecordWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    Source source{&bytes, 0};
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return false;
    }
    if (options.anySize) png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_read_fn(png, &source, ReadBytes);
    png_read_info(png, info);
    ReadHeader(png, info, out);
    ReadBackground(png, info, out);
    if (options.pixels != LibpngPixels::None) {
        const int passes = PrepareRows(png, info, options.pixels, buffers);
        if (options.pixels == LibpngPixels::Discard) {
            for (int pass = 0; pass < passes; ++pass) {
                for (png_uint_32 y = 0; y < out.height; ++y)
                    png_read_row(png, buffers.raw.data(), nullptr);
            }
        } else {
            png_read_image(png, buffers.rows.data());
        }
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

bool DecodeWithLibpng(const std::vector<std::uint8_t>& png, LibpngImage& out,
                      LibpngOptions options) {
    out = LibpngImage{};
    Buffers buffers;
    if (!Decode(png, out, options, buffers)) return false;
    if (options.pixels == LibpngPixels::Indices) {
        out.indices = std::move(buffers.raw);
    } else if (options.pixels == LibpngPixels::Rgba16) {
        const std::vector<std::uint8_t>& raw = buffers.raw;
        out.rgba.resize(raw.size() / 2);
        for (std::size_t i = 0; i < out.rgba.size(); ++i) {
            out.rgba[i] = static_cast<std::uint16_t>((raw[2 * i] << 8) | raw[2 * i + 1]);
        }
    }
    return true;
}

std::vector<RawChunk> ChunksOf(const std::vector<std::uint8_t>& png) {
    std::vector<RawChunk> chunks;
    std::size_t pos = 8;
    while (pos + 12 <= png.size()) {
        const std::uint32_t length = (std::uint32_t(png[pos]) << 24) |
                                     (std::uint32_t(png[pos + 1]) << 16) |
                                     (std::uint32_t(png[pos + 2]) << 8) | png[pos + 3];
        if (png.size() - pos - 12 < length) break;
        RawChunk chunk;
        chunk.type.assign(reinterpret_cast<const char*>(png.data() + pos + 4), 4);
        chunk.data.assign(png.begin() + static_cast<std::ptrdiff_t>(pos + 8),
                          png.begin() + static_cast<std::ptrdiff_t>(pos + 8 + length));
        chunks.push_back(std::move(chunk));
        pos += 12 + length;
    }
    return chunks;
}

}  // namespace pimo::test
