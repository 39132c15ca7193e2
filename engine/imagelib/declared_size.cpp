#include "engine/imagelib/declared_size.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace pimo::imagelib {

namespace {

using Bytes = std::span<const std::uint8_t>;
using Size = std::optional<DeclaredSize>;

// Bounded readers: nothing when the field lies outside the bytes.
std::optional<std::uint32_t> Le(Bytes b, std::size_t at, int length) {
    if (at > b.size() || b.size() - at < static_cast<std::size_t>(length)) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = length - 1; i >= 0; --i) value = value << 8 | b[at + i];
    return value;
}

std::optional<std::uint32_t> Be(Bytes b, std::size_t at, int length) {
    if (at > b.size() || b.size() - at < static_cast<std::size_t>(length)) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 0; i < length; ++i) value = value << 8 | b[at + i];
    return value;
}

bool StartsWith(Bytes b, std::size_t at, std::string_view text) {
    return at <= b.size() && b.size() - at >= text.size() &&
           std::memcmp(b.data() + at, text.data(), text.size()) == 0;
}

Size Made(std::uint64_t width, std::uint64_t height, unsigned bits) {
    if (width == 0 || height == 0 || width > UINT32_MAX || height > UINT32_MAX) return std::nullopt;
    return DeclaredSize{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                        std::max(bits, 1u)};
}

// A signed 32-bit field whose magnitude is the size (BMP's bottom-up rows).
std::uint64_t Magnitude(std::uint32_t field) {
    const auto value = static_cast<std::int64_t>(static_cast<std::int32_t>(field));
    return static_cast<std::uint64_t>(value < 0 ? -value : value);
}

Size Jpeg(Bytes b) {
    if (!StartsWith(b, 0, "\xFF\xD8")) return std::nullopt;
    std::size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF) return std::nullopt;
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return std::nullopt;  // scan before any frame
        const std::uint32_t length = *Be(b, at + 2, 2);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            const auto height = Be(b, at + 5, 2), width = Be(b, at + 7, 2),
                       components = Be(b, at + 9, 1);
            if (!height || !width || !components) return std::nullopt;
            return Made(*width, *height, *components >= 3 ? 32 : 8);
        }
        if (length < 2) return std::nullopt;
        at += 2 + length;
    }
    return std::nullopt;
}

Size PngIhdr(Bytes b) {
    if (!StartsWith(b, 0, "\x89PNG\r\n\x1A\n") || !StartsWith(b, 12, "IHDR")) return std::nullopt;
    const auto width = Be(b, 16, 4), height = Be(b, 20, 4), depth = Be(b, 24, 1),
               type = Be(b, 25, 1);
    if (!width || !height || !depth || !type) return std::nullopt;
    static constexpr unsigned kChannels[7] = {1, 0, 3, 1, 4, 0, 4};  // grey+alpha decodes to RGBA
    const unsigned channels = *type < 7 ? kChannels[*type] : 0;
    if (channels == 0) return std::nullopt;
    const unsigned bits = *depth * channels;
    return Made(*width, *height, bits == 2 ? 4 : bits);
}

Size Gif(Bytes b) {
    if (!StartsWith(b, 0, "GIF8")) return std::nullopt;
    const auto width = Le(b, 6, 2), height = Le(b, 8, 2), flags = Le(b, 10, 1);
    if (!width || !height || !flags) return std::nullopt;
    std::uint64_t w = *width, h = *height;
    // The first image may be larger than the logical screen.
    std::size_t at = 13 + ((*flags & 0x80) ? 3u << ((*flags & 7) + 1) : 0u);
    while (at < b.size()) {
        if (b[at] == 0x2C) {
            const auto left = Le(b, at + 1, 2), top = Le(b, at + 3, 2);
            const auto iw = Le(b, at + 5, 2), ih = Le(b, at + 7, 2);
            if (left && top && iw && ih) {
                w = std::max<std::uint64_t>(w, *left + *iw);
                h = std::max<std::uint64_t>(h, *top + *ih);
            }
            break;
        }
        if (b[at] != 0x21 || at + 2 >= b.size()) break;
        at += 2;  // extension introducer and label, then sub-blocks up to an empty one
        while (at < b.size() && b[at] != 0) at += 1 + b[at];
        ++at;
    }
    return Made(w, h, 8);
}

Size Bmp(Bytes b, std::size_t start) {
    const auto headerSize = Le(b, start, 4);
    if (!headerSize) return std::nullopt;
    if (*headerSize == 12) {
        const auto width = Le(b, start + 4, 2), height = Le(b, start + 6, 2),
                   bits = Le(b, start + 10, 2);
        if (!width || !height || !bits) return std::nullopt;
        return Made(*width, *height, *bits);
    }
    const auto width = Le(b, start + 4, 4), height = Le(b, start + 8, 4),
               bits = Le(b, start + 14, 2);
    if (!width || !height || !bits) return std::nullopt;
    // Depth 0 stores a JPEG or PNG inside: assume the widest result.
    return Made(Magnitude(*width), Magnitude(*height), *bits == 0 ? 32 : *bits);
}

Size Tiff(Bytes b) {
    const bool little = StartsWith(b, 0, "II*\0");
    if (!little && !StartsWith(b, 0, "MM\0*")) return std::nullopt;
    const auto read = [&](std::size_t at, int length) {
        return little ? Le(b, at, length) : Be(b, at, length);
    };
    const auto ifd = read(4, 4);
    if (!ifd) return std::nullopt;
    const auto count = read(*ifd, 2);
    if (!count) return std::nullopt;
    std::uint64_t width = 0, height = 0, bits = 1, samples = 1;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::size_t entry = *ifd + 2 + std::size_t{12} * i;
        const auto tag = read(entry, 2), type = read(entry + 2, 2), values = read(entry + 4, 4);
        if (!tag || !type || !values) break;
        const int length = *type == 4 ? 4 : 2;  // LONG, else SHORT
        std::size_t at = entry + 8;
        // An array of more than fit in the entry lies elsewhere; the first value is enough.
        if (std::uint64_t{*values} * length > 4) at = read(entry + 8, 4).value_or(b.size());
        const std::uint64_t value = read(at, length).value_or(0);
        if (*tag == 256) width = value;
        if (*tag == 257) height = value;
        if (*tag == 258) bits = value;
        if (*tag == 277) samples = value;
    }
    return Made(width, height, static_cast<unsigned>(std::min<std::uint64_t>(bits * samples, 128)));
}

// The next decimal number of a PNM header, skipping white space and comments.
std::optional<std::uint64_t> PnmNumber(Bytes b, std::size_t& at) {
    while (at < b.size()) {
        if (b[at] == '#') {
            while (at < b.size() && b[at] != '\n' && b[at] != '\r') ++at;
        } else if (b[at] == ' ' || (b[at] >= '\t' && b[at] <= '\r')) {
            ++at;
        } else {
            break;
        }
    }
    if (at >= b.size() || b[at] < '0' || b[at] > '9') return std::nullopt;
    std::uint64_t value = 0;
    while (at < b.size() && b[at] >= '0' && b[at] <= '9') {
        value = value * 10 + (b[at++] - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return value;
}

Size Pnm(Bytes b) {
    if (b.size() < 2 || b[0] != 'P') return std::nullopt;
    const char kind = static_cast<char>(b[1]);
    std::size_t at = 2;
    const auto width = PnmNumber(b, at), height = PnmNumber(b, at);
    if (!width || !height) return std::nullopt;
    switch (kind) {
        case '1':
        case '4':
            return Made(*width, *height, 1);
        case '2':
        case '5':
        case '3':
        case '6': {
            const auto maximum = PnmNumber(b, at);
            const unsigned channels = (kind == '3' || kind == '6') ? 3 : 1;
            return Made(*width, *height, channels * (maximum.value_or(255) > 255 ? 16 : 8));
        }
        case 'F':
            return Made(*width, *height, 96);
        case 'f':
            return Made(*width, *height, 32);
        default:
            return std::nullopt;
    }
}

Size SunRaster(Bytes b) {
    if (Be(b, 0, 4) != 0x59A66A95u) return std::nullopt;
    const auto width = Be(b, 4, 4), height = Be(b, 8, 4), depth = Be(b, 12, 4);
    if (!width || !height || !depth) return std::nullopt;
    return Made(*width, *height, std::min(*depth, 32u));
}

Size Psd(Bytes b) {
    if (!StartsWith(b, 0, "8BPS")) return std::nullopt;
    const auto channels = Be(b, 12, 2), height = Be(b, 14, 4), width = Be(b, 18, 4),
               depth = Be(b, 22, 2);
    if (!channels || !height || !width || !depth) return std::nullopt;
    return Made(*width, *height, std::clamp(*channels, 1u, 4u) * std::min(*depth, 32u));
}

Size Ico(Bytes b) {
    if (Le(b, 0, 2) != 0u || Le(b, 4, 2).value_or(0) == 0) return std::nullopt;
    const auto type = Le(b, 2, 2);
    if (type != 1u && type != 2u) return std::nullopt;
    // The library decodes the first image from its own header, not the directory's.
    const auto offset = Le(b, 6 + 12, 4);
    if (!offset || *offset >= b.size()) return std::nullopt;
    const Bytes image = b.subspan(*offset);
    if (Size png = PngIhdr(image)) return Made(png->width, png->height, 32);
    Size bmp = Bmp(image, 0);
    if (!bmp) return std::nullopt;
    return Made(bmp->width, std::max(bmp->height / 2, 1u), 32);  // the height counts the mask too
}

Size Pcx(Bytes b) {
    if (Le(b, 0, 1) != 0x0Au) return std::nullopt;
    const auto bits = Le(b, 3, 1), xmin = Le(b, 4, 2), ymin = Le(b, 6, 2), xmax = Le(b, 8, 2),
               ymax = Le(b, 10, 2), planes = Le(b, 65, 1);
    if (!bits || !xmin || !ymin || !xmax || !ymax || !planes || *xmax < *xmin || *ymax < *ymin)
        return std::nullopt;
    const unsigned depth = *bits * *planes;
    return Made(*xmax - *xmin + 1, *ymax - *ymin + 1, depth > 8 ? 24 : depth);
}

Size Targa(Bytes b) {
    const auto width = Le(b, 12, 2), height = Le(b, 14, 2), depth = Le(b, 16, 1);
    if (!width || !height || !depth) return std::nullopt;
    return Made(*width, *height, std::min(*depth, 32u));
}

Size Dds(Bytes b) {
    if (!StartsWith(b, 0, "DDS ")) return std::nullopt;
    const auto height = Le(b, 12, 4), width = Le(b, 16, 4);
    if (!height || !width) return std::nullopt;
    return Made(*width, *height, 32);
}

Size Sgi(Bytes b) {
    if (Be(b, 0, 2) != 474u) return std::nullopt;
    const auto width = Be(b, 6, 2), height = Be(b, 8, 2), channels = Be(b, 10, 2);
    if (!width || !height || !channels) return std::nullopt;
    return Made(*width, *height, 8 * std::clamp(*channels, 1u, 4u));
}

Size Pict(Bytes b) {
    // A 512-byte application header, the picture size, then the frame.
    const auto top = Be(b, 514, 2), left = Be(b, 516, 2), bottom = Be(b, 518, 2),
               right = Be(b, 520, 2);
    if (!top || !left || !bottom || !right) return std::nullopt;
    const auto span = [](std::uint32_t low, std::uint32_t high) {
        const int size = static_cast<std::int16_t>(high) - static_cast<std::int16_t>(low);
        return static_cast<std::uint64_t>(std::max(size, 0));
    };
    return Made(span(*left, *right), span(*top, *bottom), 32);
}

Size WebP(Bytes b) {
    if (!StartsWith(b, 0, "RIFF") || !StartsWith(b, 8, "WEBP")) return std::nullopt;
    if (StartsWith(b, 12, "VP8X")) {
        const auto width = Le(b, 24, 3), height = Le(b, 27, 3);
        if (!width || !height) return std::nullopt;
        return Made(*width + 1ull, *height + 1ull, 32);
    }
    if (StartsWith(b, 12, "VP8L")) {
        const auto bits = Le(b, 21, 4);
        if (Le(b, 20, 1) != 0x2Fu || !bits) return std::nullopt;
        return Made((*bits & 0x3FFF) + 1ull, ((*bits >> 14) & 0x3FFF) + 1ull, 32);
    }
    if (StartsWith(b, 12, "VP8 ") && StartsWith(b, 23, "\x9D\x01\x2A")) {
        const auto width = Le(b, 26, 2), height = Le(b, 28, 2);
        if (!width || !height) return std::nullopt;
        return Made(*width & 0x3FFF, *height & 0x3FFF, 32);
    }
    return std::nullopt;
}

// "#define NAME_width 16": the number after the first "_width" and "_height".
Size Xbm(Bytes b) {
    const std::string_view text(reinterpret_cast<const char*>(b.data()),
                                std::min<std::size_t>(b.size(), 4096));
    const auto number = [&](std::string_view key) -> std::optional<std::uint64_t> {
        const std::size_t found = text.find(key);
        if (found == std::string_view::npos) return std::nullopt;
        std::size_t at = found + key.size();
        return PnmNumber(b.first(text.size()), at);
    };
    const auto width = number("_width"), height = number("_height");
    if (!width || !height) return std::nullopt;
    return Made(*width, *height, 1);
}

// Type 0, a header byte, then width and height as 7-bit groups.
Size Wbmp(Bytes b) {
    if (Le(b, 0, 1) != 0u || b.size() < 2) return std::nullopt;
    std::size_t at = 2;
    const auto number = [&]() -> std::optional<std::uint64_t> {
        std::uint64_t value = 0;
        for (int group = 0; group < 5 && at < b.size(); ++group) {
            const std::uint8_t byte = b[at++];
            value = value << 7 | (byte & 0x7F);
            if (!(byte & 0x80)) return value;
        }
        return std::nullopt;
    };
    const auto width = number(), height = number();
    if (!width || !height) return std::nullopt;
    return Made(*width, *height, 1);
}

}  // namespace

std::uint64_t DeclaredSize::DecodedBytes() const {
    const std::uint64_t row = (std::uint64_t{width} * bitsPerPixel + 31) / 32 * 4;
    if (row != 0 && height > std::numeric_limits<std::uint64_t>::max() / row) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return row * height;
}

std::optional<DeclaredSize> ReadDeclaredSize(FREE_IMAGE_FORMAT format,
                                             std::span<const std::uint8_t> bytes) {
    switch (format) {
        case FIF_JPEG:
            return Jpeg(bytes);
        case FIF_PNG:
            return PngIhdr(bytes);
        case FIF_GIF:
            return Gif(bytes);
        case FIF_BMP:
            return StartsWith(bytes, 0, "BM") ? Bmp(bytes, 14) : std::nullopt;
        case FIF_TIFF:
            return Tiff(bytes);
        case FIF_PBM:
        case FIF_PBMRAW:
        case FIF_PGM:
        case FIF_PGMRAW:
        case FIF_PPM:
        case FIF_PPMRAW:
        case FIF_PFM:
            return Pnm(bytes);
        case FIF_RAS:
            return SunRaster(bytes);
        case FIF_PSD:
            return Psd(bytes);
        case FIF_ICO:
            return Ico(bytes);
        case FIF_PCX:
            return Pcx(bytes);
        case FIF_TARGA:
            return Targa(bytes);
        case FIF_DDS:
            return Dds(bytes);
        case FIF_SGI:
            return Sgi(bytes);
        case FIF_PICT:
            return Pict(bytes);
        case FIF_WEBP:
            return WebP(bytes);
        case FIF_XBM:
            return Xbm(bytes);
        case FIF_WBMP:
            return Wbmp(bytes);
        default:
            return std::nullopt;
    }
}

}  // namespace pimo::imagelib
