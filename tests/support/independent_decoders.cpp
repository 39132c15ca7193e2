#include "tests/support/independent_decoders.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace pimo::test {

bool DecodedPng::hasChunk(const std::string& name) const {
    return std::find(chunks.begin(), chunks.end(), name) != chunks.end();
}

bool DecodedPng::hasText(const std::string& keyword) const {
    return std::find(textKeywords.begin(), textKeywords.end(), keyword) != textKeywords.end();
}

std::vector<std::uint8_t> MakeIccProfile() {
    std::vector<std::uint8_t> profile(132, 0);
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            profile[at + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(value >> (24 - 8 * i));
    };
    const auto put4cc = [&](std::size_t at, const char* text) {
        std::memcpy(profile.data() + at, text, 4);
    };
    put32(0, 132);         // profile size
    put32(8, 0x02100000);  // version 2.1
    put4cc(12, "mntr");    // display device
    put4cc(16, "RGB ");
    put4cc(20, "XYZ ");
    put4cc(36, "acsp");
    put32(68, 0x0000F6D6);  // D50 illuminant
    put32(72, 0x00010000);
    put32(76, 0x0000D32D);
    put32(128, 0);  // no tags
    return profile;
}

namespace {

std::vector<std::string> ChunkNames(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::string> names;
    std::size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const std::size_t length = std::size_t(bytes[at]) << 24 | std::size_t(bytes[at + 1]) << 16 |
                                   std::size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        names.emplace_back(reinterpret_cast<const char*>(bytes.data() + at + 4), 4);
        at += 12 + length;
    }
    return names;
}

struct MemoryReader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (reader->position + length > reader->bytes->size()) png_error(png, "read past the end");
    std::memcpy(out, reader->bytes->data() + reader->position, length);
    reader->position += length;
}

// The palette index of every pixel of a palette PNG, read with libpng's
// classic reader (packed 1/2/4-bit indices unpacked to one byte each).
std::vector<std::uint8_t> PaletteIndices(const std::vector<std::uint8_t>& bytes) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<std::uint8_t> indices;
    MemoryReader reader{&bytes, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return {};
    }
    png_set_read_fn(png, &reader, ReadFromMemory);
    png_read_info(png, info);
    png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info),
                      height = png_get_image_height(png, info);
    indices.resize(std::size_t(width) * height);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = indices.data() + std::size_t(y) * width;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return indices;
}

}  // namespace

DecodedPng DecodePng(const std::vector<std::uint8_t>& bytes) {
    DecodedPng result;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return result;
    image.format = PNG_FORMAT_RGBA;
    result.pixels.resize(std::size_t(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr)) return result;
    result.width = static_cast<int>(image.width);
    result.height = static_cast<int>(image.height);

    // The header fields, the palette and the transparency table, read by hand.
    if (bytes.size() < 33) return result;
    result.bitDepth = bytes[24];
    result.colorType = bytes[25];
    result.interlace = bytes[28];
    result.chunks = ChunkNames(bytes);
    std::size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const std::size_t length = std::size_t(bytes[at]) << 24 | std::size_t(bytes[at + 1]) << 16 |
                                   std::size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (at + 12 + length > bytes.size()) break;
        const std::uint8_t* data = bytes.data() + at + 8;
        if (std::memcmp(bytes.data() + at + 4, "PLTE", 4) == 0)
            result.paletteSize = static_cast<int>(length / 3);
        if (std::memcmp(bytes.data() + at + 4, "tRNS", 4) == 0)
            result.transparency.assign(data, data + length);
        if (std::memcmp(bytes.data() + at + 4, "tEXt", 4) == 0 ||
            std::memcmp(bytes.data() + at + 4, "zTXt", 4) == 0 ||
            std::memcmp(bytes.data() + at + 4, "iTXt", 4) == 0) {
            result.textKeywords.emplace_back(reinterpret_cast<const char*>(data),
                                             strnlen(reinterpret_cast<const char*>(data), length));
        }
        at += 12 + length;
    }
    if (result.colorType == 3) {
        result.indices = PaletteIndices(bytes);
    }
    result.valid = true;
    return result;
}

namespace {
struct GifSource {
    const std::vector<std::uint8_t>* bytes;
    std::size_t position;
};

int ReadGif(GifFileType* file, GifByteType* buffer, int length) {
    auto* source = static_cast<GifSource*>(file->UserData);
    const std::size_t available = source->bytes->size() - source->position;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(length), available);
    std::memcpy(buffer, source->bytes->data() + source->position, count);
    source->position += count;
    return static_cast<int>(count);
}
}  // namespace

DecodedGif DecodeGif(const std::vector<std::uint8_t>& bytes) {
    DecodedGif result;
    GifSource source{&bytes, 0};
    int error = 0;
    GifFileType* file = DGifOpen(&source, ReadGif, &error);
    if (!file) return result;
    if (DGifSlurp(file) == GIF_OK && file->ImageCount > 0) {
        const SavedImage& image = file->SavedImages[0];
        result.width = image.ImageDesc.Width;
        result.height = image.ImageDesc.Height;
        result.imageCount = file->ImageCount;
        result.interlaced = image.ImageDesc.Interlace;
        const ColorMapObject* map =
            image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : file->SColorMap;
        if (map) {
            result.colorCount = map->ColorCount;
            for (int i = 0; i < map->ColorCount; ++i) {
                result.colorMap.push_back(
                    {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue, 255});
            }
        }
        GraphicsControlBlock control;
        if (DGifSavedExtensionToGCB(file, 0, &control) == GIF_OK)
            result.transparentIndex = control.TransparentColor;
        const auto hasLoop = [](int count, const ExtensionBlock* blocks) {
            for (int i = 0; i < count; ++i) {
                if (blocks[i].Function == APPLICATION_EXT_FUNC_CODE && blocks[i].ByteCount >= 11 &&
                    std::memcmp(blocks[i].Bytes, "NETSCAPE2.0", 11) == 0) {
                    return true;
                }
            }
            return false;
        };
        result.hasLoopBlock = hasLoop(file->ExtensionBlockCount, file->ExtensionBlocks) ||
                              hasLoop(image.ExtensionBlockCount, image.ExtensionBlocks);
        // giflib's slurp already puts interlaced rows into display order.
        result.indices.assign(image.RasterBits,
                              image.RasterBits + std::size_t(result.width) * result.height);
        result.valid = true;
    }
    DGifCloseFile(file, &error);
    return result;
}

namespace {
// libjpeg reports a fatal error through error_exit, which must not return:
// it throws, and the decompressor's owner releases it.
struct JpegDecompressor {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    JpegDecompressor() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = [](j_common_ptr) { throw std::runtime_error("libjpeg error"); };
        errors.output_message = [](j_common_ptr) {};
        jpeg_create_decompress(&info);
    }
    ~JpegDecompressor() { jpeg_destroy_decompress(&info); }
};
}  // namespace

DecodedJpeg DecodeJpeg(const std::vector<std::uint8_t>& bytes) {
    DecodedJpeg result;
    try {
        JpegDecompressor d;
        jpeg_mem_src(&d.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&d.info, TRUE);
        result.components = d.info.num_components;
        d.info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&d.info);
        result.width = static_cast<int>(d.info.output_width);
        result.height = static_cast<int>(d.info.output_height);
        std::vector<JSAMPLE> row(static_cast<std::size_t>(result.width) * 3);
        while (d.info.output_scanline < d.info.output_height) {
            JSAMPROW pointer = row.data();
            jpeg_read_scanlines(&d.info, &pointer, 1);
            for (int x = 0; x < result.width; ++x) {
                const JSAMPLE* p = row.data() + 3 * x;
                result.pixels.push_back({p[0], p[1], p[2], 255});
            }
        }
        jpeg_finish_decompress(&d.info);
    } catch (const std::runtime_error&) {
        return DecodedJpeg{};
    }
    result.valid = true;
    return result;
}

}  // namespace pimo::test
