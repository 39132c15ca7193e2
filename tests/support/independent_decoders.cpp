#include "tests/support/independent_decoders.h"

#include <gif_lib.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "tests/support/libpng_reader.h"

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

DecodedPng DecodePng(const std::vector<std::uint8_t>& bytes) {
    DecodedPng result;
    LibpngImage image;
    if (!DecodeWithLibpng(bytes, image)) return result;
    result.width = static_cast<int>(image.width);
    result.height = static_cast<int>(image.height);
    result.bitDepth = image.bitDepth;
    result.colorType = image.colourType;
    result.interlace = image.interlace;
    // The stored samples, 16-bit ones rounded to 8 bits; no gamma is applied,
    // so what an encoder wrote is what a test compares.
    result.pixels.reserve(image.rgba.size() / 4);
    const auto to8 = [](std::uint16_t sample) {
        return static_cast<std::uint8_t>((sample * 255u + 32767u) / 65535u);
    };
    for (std::size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        result.pixels.push_back({to8(image.rgba[i]), to8(image.rgba[i + 1]), to8(image.rgba[i + 2]),
                                 to8(image.rgba[i + 3])});
    }

    // The palette, the transparency table and the text keywords as stored.
    for (const RawChunk& chunk : ChunksOf(bytes)) {
        result.chunks.push_back(chunk.type);
        if (chunk.type == "PLTE") result.paletteSize = static_cast<int>(chunk.data.size() / 3);
        if (chunk.type == "tRNS") result.transparency = chunk.data;
        if (chunk.type == "tEXt" || chunk.type == "zTXt" || chunk.type == "iTXt") {
            const auto* text = reinterpret_cast<const char*>(chunk.data.data());
            result.textKeywords.emplace_back(text, strnlen(text, chunk.data.size()));
        }
    }
    if (result.colorType == 3) {  // palette
        LibpngImage palette;
        if (!DecodeWithLibpng(bytes, palette, {LibpngPixels::Indices})) return DecodedPng{};
        result.indices = std::move(palette.indices);
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
