#include "tests/png_effort/png_test_decoder.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace pimo::test {

namespace {

struct Reader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos;
    std::vector<std::string>* warnings;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
    if (reader->bytes->size() - reader->pos < count) png_error(png, "read past the end");
    std::memcpy(out, reader->bytes->data() + reader->pos, count);
    reader->pos += count;
}

void RecordWarning(png_structp png, png_const_charp message) {
    auto* warnings = static_cast<std::vector<std::string>*>(png_get_error_ptr(png));
    warnings->push_back(message ? message : "");
}

void Fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

// Everything that must survive a longjmp lives in `out` and the locals
// declared before setjmp; nothing with a destructor is created after it.
bool Decode(const std::vector<std::uint8_t>& bytes, LibpngImage& out,
            std::vector<std::uint8_t>& raw, std::vector<png_bytep>& rows) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &out.warnings, Fail, RecordWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    Reader reader{&bytes, 0, &out.warnings};
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, ReadBytes);
    png_read_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.colourType = png_get_color_type(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    out.interlace = png_get_interlace_type(png, info);
    out.hasProfile = png_get_valid(png, info, PNG_INFO_iCCP) != 0;
    png_color_16p background = nullptr;
    if (png_get_bKGD(png, info, &background) && background) {
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
    // Everything to 16-bit RGBA: palette and tRNS expanded, grey copied to
    // all three channels, opaque alpha added where there is none.
    png_set_expand_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != png_size_t(out.width) * 8) png_error(png, "unexpected row size");
    raw.resize(rowBytes * out.height);
    rows.resize(out.height);
    for (std::uint32_t y = 0; y < out.height; ++y) rows[y] = raw.data() + y * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

bool DecodeWithLibpng(const std::vector<std::uint8_t>& png, LibpngImage& out) {
    out = LibpngImage{};
    std::vector<std::uint8_t> raw;
    std::vector<png_bytep> rows;
    if (!Decode(png, out, raw, rows)) return false;
    out.rgba.resize(raw.size() / 2);
    for (std::size_t i = 0; i < out.rgba.size(); ++i) {
        out.rgba[i] = static_cast<std::uint16_t>((raw[2 * i] << 8) | raw[2 * i + 1]);
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
