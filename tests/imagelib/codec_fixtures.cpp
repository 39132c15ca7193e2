#include "tests/imagelib/codec_fixtures.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace pimo::test {

void PutLe16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLe32(Bytes& out, std::uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

void PutBe16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PutBe32(Bytes& out, std::uint32_t value) {
    PutBe16(out, value >> 16);
    PutBe16(out, value & 0xFFFF);
}

namespace {
void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}
void Append(Bytes& out, const char* text) {
    out.insert(out.end(), text, text + std::strlen(text));
}

// The packed pixel rows of a BMP, each padded to four bytes.
Bytes BmpPixelRows(const BmpSpec& shape) {
    const std::uint32_t width = static_cast<std::uint32_t>(shape.width);
    const std::uint32_t rows =
        static_cast<std::uint32_t>(shape.height < 0 ? -shape.height : shape.height);
    const std::size_t stride = (static_cast<std::size_t>(width) * shape.bitCount + 31) / 32 * 4;
    Bytes out(stride * rows, 0);
    for (std::uint32_t r = 0; r < rows; ++r) {
        std::uint8_t* row = out.data() + r * stride;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t at = static_cast<std::size_t>(r) * width + x;
            const std::uint32_t v = at < shape.values.size() ? shape.values[at] : 0;
            switch (shape.bitCount) {
                case 1:
                    row[x / 8] |= static_cast<std::uint8_t>((v & 1) << (7 - x % 8));
                    break;
                case 4:
                    row[x / 2] |= static_cast<std::uint8_t>((v & 15) << (x % 2 ? 0 : 4));
                    break;
                case 8:
                    row[x] = static_cast<std::uint8_t>(v);
                    break;
                case 16:
                    row[2 * x] = static_cast<std::uint8_t>(v);
                    row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    break;
                case 24:
                    row[3 * x] = static_cast<std::uint8_t>(v);  // blue
                    row[3 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    row[3 * x + 2] = static_cast<std::uint8_t>(v >> 16);
                    break;
                default:
                    for (int b = 0; b < 4; ++b) {
                        row[4 * x + b] = static_cast<std::uint8_t>(v >> (8 * b));
                    }
            }
        }
    }
    return out;
}
}  // namespace

Bytes BuildBmp(const BmpSpec& shape) {
    const Bytes pixels = shape.rawPixels.empty() ? BmpPixelRows(shape) : shape.rawPixels;
    const bool bitFields = shape.compression == 3 || shape.compression == 6;
    const std::uint32_t trailingMasks =
        shape.headerSize == 40 && bitFields ? (shape.compression == 6 ? 16 : 12) : 0;
    const std::uint32_t pixelOffset = 14 + shape.headerSize + trailingMasks +
                                      static_cast<std::uint32_t>(shape.palette.size() * 4);
    const std::uint32_t profileOffset = pixelOffset + static_cast<std::uint32_t>(pixels.size());
    const std::uint32_t fileSize = profileOffset + static_cast<std::uint32_t>(shape.profile.size());

    Bytes out;
    Append(out, "BM");
    PutLe32(out, fileSize);
    PutLe32(out, 0);
    PutLe32(out, pixelOffset);
    const std::size_t headerStart = out.size();
    PutLe32(out, shape.headerSize);
    PutLe32(out, static_cast<std::uint32_t>(shape.width));
    PutLe32(out, static_cast<std::uint32_t>(shape.height));
    PutLe16(out, 1);
    PutLe16(out, shape.bitCount);
    PutLe32(out, shape.compression);
    PutLe32(out, static_cast<std::uint32_t>(pixels.size()));
    PutLe32(out, static_cast<std::uint32_t>(shape.xPelsPerMeter));
    PutLe32(out, static_cast<std::uint32_t>(shape.yPelsPerMeter));
    PutLe32(out, static_cast<std::uint32_t>(shape.palette.size()));
    PutLe32(out, 0);
    if (shape.headerSize >= 52) {
        for (int i = 0; i < (shape.headerSize >= 56 ? 4 : 3); ++i) PutLe32(out, shape.masks[i]);
    }
    if (shape.headerSize >= 108) {
        PutLe32(out, shape.profile.empty() ? 0x73524742u : 0x4D424544u);  // 'sRGB' or 'MBED'
        for (int i = 0; i < 12; ++i) PutLe32(out, 0);                     // endpoints, gamma
    }
    if (shape.headerSize >= 124) {
        PutLe32(out, 4);  // perceptual intent
        PutLe32(out, shape.profile.empty() ? 0 : profileOffset - 14);
        PutLe32(out, static_cast<std::uint32_t>(shape.profile.size()));
        PutLe32(out, 0);
    }
    out.resize(headerStart + shape.headerSize, 0);
    for (std::uint32_t i = 0; i < trailingMasks / 4; ++i) PutLe32(out, shape.masks[i]);
    for (const auto& entry : shape.palette) {
        out.push_back(entry[2]);
        out.push_back(entry[1]);
        out.push_back(entry[0]);
        out.push_back(0);
    }
    Append(out, pixels);
    Append(out, shape.profile);
    return out;
}

// ---- JPEG ----

namespace {
[[noreturn]] void ThrowJpegError(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    throw std::runtime_error(text);
}

struct Compressor {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    Compressor() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = ThrowJpegError;
        errors.output_message = [](j_common_ptr) {};  // e.g. the caution about 16-bit tables
        jpeg_create_compress(&info);
        jpeg_mem_dest(&info, &buffer, &size);
    }
    ~Compressor() {
        jpeg_destroy_compress(&info);
        std::free(buffer);
    }
};
}  // namespace

Bytes EncodeJpeg(const JpegFixture& shape) {
    Compressor c;
    c.info.image_width = static_cast<JDIMENSION>(shape.width);
    c.info.image_height = static_cast<JDIMENSION>(shape.height);
    c.info.input_components = shape.components;
    c.info.in_color_space = shape.components == 1   ? JCS_GRAYSCALE
                            : shape.components == 3 ? JCS_RGB
                                                    : JCS_CMYK;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, shape.quality, shape.baseline ? TRUE : FALSE);
    if (shape.components == 4) {
        jpeg_set_colorspace(&c.info, shape.ycck ? JCS_YCCK : JCS_CMYK);
        c.info.write_Adobe_marker = shape.adobeMarker ? TRUE : FALSE;
    }
    jpeg_start_compress(&c.info, TRUE);
    for (const auto& [code, payload] : shape.markers) {
        jpeg_write_marker(&c.info, code, payload.data(), static_cast<unsigned>(payload.size()));
    }
    std::vector<JSAMPLE> row(static_cast<std::size_t>(shape.width) * shape.components);
    for (int y = 0; y < shape.height; ++y) {
        for (int x = 0; x < shape.width; ++x) {
            for (int k = 0; k < shape.components; ++k) {
                row[static_cast<std::size_t>(x) * shape.components + k] = shape.sample(x, y, k);
            }
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&c.info, &pointer, 1);
    }
    jpeg_finish_compress(&c.info);
    return Bytes(c.buffer, c.buffer + c.size);
}

namespace {
struct Decompressor {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    Decompressor() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = ThrowJpegError;
        jpeg_create_decompress(&info);
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
};
}  // namespace

JpegFacts ReadJpegFacts(const Bytes& jpeg) {
    Decompressor d;
    jpeg_mem_src(&d.info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d.info, TRUE);
    return {d.info.num_components, d.info.saw_Adobe_marker != 0,
            d.info.saw_Adobe_marker ? d.info.Adobe_transform : -1};
}

Bytes WithoutSegments(const Bytes& jpeg, std::uint8_t marker) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const std::size_t length = static_cast<std::size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
        if (jpeg[at + 1] != marker) {
            out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
        }
        at += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + at, jpeg.end());
    return out;
}

Bytes IccApp2Payload(const Bytes& profile) {
    Bytes out;
    Append(out, "ICC_PROFILE");
    out.push_back(0);
    out.push_back(1);  // chunk 1 of 1
    out.push_back(1);
    Append(out, profile);
    return out;
}

// ---- PNG ----

Bytes PngChunk(const std::string& type, const Bytes& data) {
    Bytes out;
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    Append(out, type.c_str());
    Append(out, data);
    const uLong crc = crc32(0, out.data() + 4, static_cast<uInt>(out.size() - 4));
    PutBe32(out, static_cast<std::uint32_t>(crc));
    return out;
}

Bytes Deflate(const Bytes& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK) {
        throw std::runtime_error("deflate failed");
    }
    out.resize(size);
    return out;
}

Bytes BuildRgbPng(int width, int height, const std::function<std::uint32_t(int, int)>& colour,
                  const std::vector<Bytes>& extraChunks) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBe32(header, static_cast<std::uint32_t>(width));
    PutBe32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Append(out, PngChunk("IHDR", header));
    for (const Bytes& chunk : extraChunks) Append(out, chunk);
    Bytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no row filter
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = colour(x, y);
            raw.insert(raw.end(),
                       {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                        static_cast<std::uint8_t>(c)});
        }
    }
    Append(out, PngChunk("IDAT", Deflate(raw)));
    Append(out, PngChunk("IEND", {}));
    return out;
}

Bytes IccpPayload(const std::string& name, const Bytes& profile) {
    Bytes out(name.begin(), name.end());
    out.push_back(0);
    out.push_back(0);  // deflate
    Append(out, Deflate(profile));
    return out;
}

Bytes MakeIccProfile(const std::string& marker, const char* colourSpace) {
    // A 'text' tag with the marker, padded to four bytes.
    Bytes text;
    Append(text, "text");
    PutBe32(text, 0);
    Append(text, ("pimo test " + marker).c_str());
    // Varied filler, so that the profile does not compress to a few bytes.
    for (int i = 0; i < 160; ++i) {
        text.push_back(static_cast<std::uint8_t>('!' + (i * 37 + i / 7) % 90));
    }
    text.push_back(0);
    while (text.size() % 4) text.push_back(0);

    const std::uint32_t tagOffset = 128 + 4 + 12;
    const std::uint32_t size = tagOffset + static_cast<std::uint32_t>(text.size());
    Bytes out;
    PutBe32(out, size);
    PutBe32(out, 0);           // preferred CMM
    PutBe32(out, 0x02100000);  // version 2.1
    Append(out, "mntr");
    Append(out, colourSpace);
    Append(out, "XYZ ");
    out.resize(36, 0);  // date
    Append(out, "acsp");
    out.resize(68, 0);         // platform, flags, device, intent 0
    PutBe32(out, 0x0000F6D6);  // D50 illuminant
    PutBe32(out, 0x00010000);
    PutBe32(out, 0x0000D32D);
    out.resize(128, 0);
    PutBe32(out, 1);  // one tag
    Append(out, "cprt");
    PutBe32(out, tagOffset);
    PutBe32(out, static_cast<std::uint32_t>(text.size()));
    Append(out, text);
    return out;
}

// ---- EXIF ----

Bytes BuildExifApp1(bool bigEndian, std::uint16_t orientation) {
    const auto put16 = bigEndian ? PutBe16 : PutLe16;
    const auto put32 = bigEndian ? PutBe32 : PutLe32;
    const char software[] = "pimo test";  // 10 bytes with its NUL: not inline
    Bytes tiff;
    Append(tiff, bigEndian ? "MM" : "II");
    put16(tiff, 42);
    put32(tiff, 8);
    put16(tiff, 2);  // IFD0 entries, in ascending tag order
    put16(tiff, 0x0112);
    put16(tiff, 3);  // SHORT
    put32(tiff, 1);
    put16(tiff, orientation);
    put16(tiff, 0);
    put16(tiff, 0x0131);
    put16(tiff, 2);  // ASCII
    put32(tiff, sizeof software);
    put32(tiff, 8 + 2 + 2 * 12 + 4);
    put32(tiff, 0);  // no next IFD
    tiff.insert(tiff.end(), software, software + sizeof software);
    Bytes out = {'E', 'x', 'i', 'f', 0, 0};
    Append(out, tiff);
    return out;
}

std::uint16_t ExifOrientationIn(const Bytes& exif) {
    std::size_t base = exif.size() >= 6 && std::memcmp(exif.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
    if (exif.size() < base + 8) return 0;
    const bool big = exif[base] == 'M';
    const auto get16 = [&](std::size_t at) -> std::uint32_t {
        if (at + 2 > exif.size()) return 0;
        return big ? (exif[at] << 8 | exif[at + 1]) : (exif[at + 1] << 8 | exif[at]);
    };
    const auto get32 = [&](std::size_t at) -> std::uint32_t {
        return big ? (get16(at) << 16 | get16(at + 2)) : (get16(at + 2) << 16 | get16(at));
    };
    const std::size_t ifd = base + get32(base + 4);
    const std::uint32_t count = get16(ifd);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (get16(entry) == 0x0112) return static_cast<std::uint16_t>(get16(entry + 8));
    }
    return 0;
}

// ---- TIFF ----

Bytes BuildRgbTiff(int width, int height, bool withUnknownTag) {
    const std::uint32_t pixelBytes = static_cast<std::uint32_t>(width * height * 3);
    Bytes out;
    Append(out, "II");
    PutLe16(out, 42);
    const std::uint32_t bitsOffset = 8 + pixelBytes;
    const std::uint32_t ifdOffset = bitsOffset + 6;
    PutLe32(out, ifdOffset);
    for (std::uint32_t i = 0; i < pixelBytes; ++i) out.push_back(static_cast<std::uint8_t>(i * 7));
    for (int i = 0; i < 3; ++i) PutLe16(out, 8);  // bits per sample
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    std::vector<Entry> entries = {
        {256, 4, 1, static_cast<std::uint32_t>(width)},
        {257, 4, 1, static_cast<std::uint32_t>(height)},
        {258, 3, 3, bitsOffset},
        {259, 3, 1, 1},  // no compression
        {262, 3, 1, 2},  // RGB
        {273, 4, 1, 8},
        {277, 3, 1, 3},
        {278, 4, 1, static_cast<std::uint32_t>(height)},
        {279, 4, 1, pixelBytes},
        {284, 3, 1, 1},
    };
    if (withUnknownTag) entries.push_back({65000, 4, 1, 1234});
    PutLe16(out, static_cast<std::uint32_t>(entries.size()));
    for (const Entry& e : entries) {
        PutLe16(out, e.tag);
        PutLe16(out, e.type);
        PutLe32(out, e.count);
        if (e.type == 3 && e.count == 1) {
            PutLe16(out, e.value);
            PutLe16(out, 0);
        } else {
            PutLe32(out, e.value);
        }
    }
    PutLe32(out, 0);
    return out;
}

}  // namespace pimo::test
