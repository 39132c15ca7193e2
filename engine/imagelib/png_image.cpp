#include "engine/imagelib/png_image.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace pimo::imagelib::png {

namespace {

struct Header {
    std::uint32_t width = 0, height = 0;
    unsigned bitDepth = 0, colourType = 0, interlace = 0;
};

bool ValidDepthForType(unsigned colourType, unsigned depth) {
    switch (colourType) {
        case 0:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6:
            return depth == 8 || depth == 16;
        default:
            return false;
    }
}

std::optional<Header> ParsedHeader(const Bytes& data) {
    if (data.size() != 13) return std::nullopt;
    Header header{ReadU32(data.data()), ReadU32(data.data() + 4), data[8], data[9], data[12]};
    if (header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFFu ||
        header.height > 0x7FFFFFFFu) {
        return std::nullopt;
    }
    if (!ValidDepthForType(header.colourType, header.bitDepth)) return std::nullopt;
    if (data[10] != 0 || data[11] != 0 || header.interlace > 1) return std::nullopt;
    return header;
}

// One pass of the seven-pass interlacing: first column and row, and steps.
struct Pass {
    std::uint32_t x0, y0, dx, dy;
};
constexpr std::array<Pass, 7> kAdam7 = {{{0, 0, 8, 8},
                                         {4, 0, 8, 8},
                                         {0, 4, 4, 8},
                                         {2, 0, 4, 4},
                                         {0, 2, 2, 4},
                                         {1, 0, 2, 2},
                                         {0, 1, 1, 2}}};
constexpr Pass kWholeImage = {0, 0, 1, 1};

std::uint32_t PassExtent(std::uint32_t size, std::uint32_t start, std::uint32_t step) {
    return size > start ? (size - start + step - 1) / step : 0;
}

// Inflates the concatenated IDAT data into exactly `expected` bytes. The
// buffer grows with the output, so a small file claiming a huge image
// allocates nothing much before it runs out of data.
std::optional<Bytes> InflatedImageData(const std::vector<Chunk>& chunks, std::size_t expected) {
    z_stream stream{};
    if (::inflateInit(&stream) != Z_OK) return std::nullopt;
    Bytes out;
    std::size_t produced = 0;
    bool ended = false;
    bool failed = false;
    std::uint8_t spill = 0;
    // One call of inflate; false when it could make no progress.
    const auto pump = [&]() {
        if (produced == out.size() && out.size() < expected) {
            out.resize(std::min(expected, std::max<std::size_t>(out.size() * 2, 1 << 16)));
        }
        // Once the expected bytes are there, any further output is an error.
        const bool full = produced == out.size();
        stream.next_out = full ? &spill : out.data() + produced;
        stream.avail_out =
            full ? 1 : static_cast<uInt>(std::min<std::size_t>(out.size() - produced, 1u << 30));
        const uInt before = stream.avail_out;
        const int result = ::inflate(&stream, Z_NO_FLUSH);
        if (full && stream.avail_out != before) failed = true;
        if (!full) produced += before - stream.avail_out;
        if (result == Z_STREAM_END) {
            ended = true;
        } else if (result == Z_BUF_ERROR) {
            return false;
        } else if (result != Z_OK) {
            failed = true;
        }
        return true;
    };
    for (const Chunk& chunk : chunks) {
        if (chunk.type != kIDAT || ended || failed) continue;
        stream.next_in = const_cast<Bytef*>(chunk.data.data());
        stream.avail_in = static_cast<uInt>(chunk.data.size());
        while (stream.avail_in > 0 && !ended && !failed) {
            if (!pump()) failed = true;
        }
    }
    // Output the decoder still holds after the last input byte.
    while (!ended && !failed && pump()) {
    }
    ::inflateEnd(&stream);
    if (failed || !ended || produced != expected) return std::nullopt;
    return out;
}

std::uint8_t PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Undoes the row filters of one pass in place. False for an unknown filter.
bool Unfilter(std::uint8_t* data, std::size_t rowBytes, std::uint32_t rows, unsigned distance) {
    const std::uint8_t* prior = nullptr;
    for (std::uint32_t y = 0; y < rows; ++y) {
        const std::uint8_t filter = data[0];
        std::uint8_t* row = data + 1;
        switch (filter) {
            case 0:
                break;
            case 1:
                for (std::size_t i = distance; i < rowBytes; ++i) row[i] += row[i - distance];
                break;
            case 2:
                if (prior)
                    for (std::size_t i = 0; i < rowBytes; ++i) row[i] += prior[i];
                break;
            case 3:
                for (std::size_t i = 0; i < rowBytes; ++i) {
                    const int left = i >= distance ? row[i - distance] : 0;
                    const int up = prior ? prior[i] : 0;
                    row[i] += static_cast<std::uint8_t>((left + up) / 2);
                }
                break;
            case 4:
                for (std::size_t i = 0; i < rowBytes; ++i) {
                    const int left = i >= distance ? row[i - distance] : 0;
                    const int up = prior ? prior[i] : 0;
                    const int upLeft = (prior && i >= distance) ? prior[i - distance] : 0;
                    row[i] += PaethPredictor(left, up, upLeft);
                }
                break;
            default:
                return false;
        }
        prior = row;
        data += rowBytes + 1;
    }
    return true;
}

// Copies the pixels of one unfiltered pass to their places in the image.
void PlacePass(const std::uint8_t* data, std::size_t passRowBytes, const Pass& pass,
               std::uint32_t passWidth, std::uint32_t passHeight, PngImage& image) {
    const unsigned bpp = image.BitsPerPixel();
    for (std::uint32_t py = 0; py < passHeight; ++py) {
        const std::uint8_t* source = data + py * (passRowBytes + 1) + 1;
        std::uint8_t* target = image.Row(pass.y0 + py * pass.dy);
        for (std::uint32_t px = 0; px < passWidth; ++px) {
            const std::size_t x = pass.x0 + std::size_t(px) * pass.dx;
            if (bpp >= 8) {
                std::memcpy(target + x * (bpp / 8), source + px * (bpp / 8), bpp / 8);
            } else {
                SetSampleAt(target, x, bpp, SampleAt(source, px, bpp));
            }
        }
    }
}

std::optional<Bytes> UnfilteredPixels(const std::vector<Chunk>& chunks, const Header& header,
                                      PngImage& image) {
    const unsigned bpp = image.BitsPerPixel();
    const unsigned distance = image.FilterDistance();
    const std::span<const Pass> passes =
        header.interlace ? std::span<const Pass>(kAdam7) : std::span<const Pass>(&kWholeImage, 1);
    std::size_t expected = 0;
    for (const Pass& pass : passes) {
        const std::uint32_t w = PassExtent(header.width, pass.x0, pass.dx);
        const std::uint32_t h = PassExtent(header.height, pass.y0, pass.dy);
        if (w && h) expected += std::size_t(h) * (PackedRowBytes(w, bpp) + 1);
    }
    std::optional<Bytes> data = InflatedImageData(chunks, expected);
    if (!data) return std::nullopt;
    if (!header.interlace) {
        for (std::uint32_t y = 0; y < header.height; ++y) {
            image.inputFilters.push_back((*data)[y * (image.RowBytes() + 1)]);
        }
        if (!Unfilter(data->data(), image.RowBytes(), header.height, distance)) return std::nullopt;
        // Drop the filter bytes: move each row down over them.
        const std::size_t rowBytes = image.RowBytes();
        for (std::uint32_t y = 0; y < header.height; ++y) {
            std::memmove(data->data() + y * rowBytes, data->data() + y * (rowBytes + 1) + 1,
                         rowBytes);
        }
        data->resize(rowBytes * header.height);
        return data;
    }
    Bytes pixels(image.RowBytes() * header.height, 0);
    image.pixels.swap(pixels);
    std::uint8_t* passData = data->data();
    for (const Pass& pass : passes) {
        const std::uint32_t w = PassExtent(header.width, pass.x0, pass.dx);
        const std::uint32_t h = PassExtent(header.height, pass.y0, pass.dy);
        if (!w || !h) continue;
        const std::size_t rowBytes = PackedRowBytes(w, bpp);
        if (!Unfilter(passData, rowBytes, h, distance)) return std::nullopt;
        PlacePass(passData, rowBytes, pass, w, h, image);
        passData += h * (rowBytes + 1);
    }
    Bytes placed;
    placed.swap(image.pixels);
    return placed;
}

// Reads a tRNS or bKGD colour of a grey or RGB image (16-bit fields).
std::optional<Rgb16> ColourField(const Bytes& data, ColourType type, unsigned depth) {
    const bool grey = type == ColourType::kGrey || type == ColourType::kGreyAlpha;
    if (data.size() != (grey ? 2u : 6u)) return std::nullopt;
    std::array<std::uint16_t, 3> samples{};
    for (unsigned c = 0; c < (grey ? 1u : 3u); ++c) {
        const unsigned value = ReadU16(data.data() + 2 * c);
        if (depth < 16 && value >= (1u << depth)) return std::nullopt;
        samples[c] = ScaledTo16(value, depth);
    }
    if (grey) samples[1] = samples[2] = samples[0];
    return Rgb16{samples[0], samples[1], samples[2]};
}

bool PaletteIndicesValid(const PngImage& image) {
    const std::size_t entries = image.palette.size();
    if (entries >= (std::size_t(1) << image.bitDepth)) return true;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            if (SampleAt(row, x, image.bitDepth) >= entries) return false;
        }
    }
    return true;
}

}  // namespace

unsigned PngImage::Channels() const {
    switch (colourType) {
        case ColourType::kRgb:
            return 3;
        case ColourType::kGreyAlpha:
            return 2;
        case ColourType::kRgba:
            return 4;
        default:
            return 1;
    }
}

std::size_t PngImage::RowBytes() const {
    return PackedRowBytes(width, BitsPerPixel());
}

std::size_t PackedRowBytes(std::uint32_t width, unsigned bitsPerPixel) {
    return (std::size_t(width) * bitsPerPixel + 7) / 8;
}

void SetSampleAt(std::uint8_t* row, std::size_t index, unsigned bitDepth, unsigned value) {
    switch (bitDepth) {
        case 8:
            row[index] = static_cast<std::uint8_t>(value);
            return;
        case 16:
            row[2 * index] = static_cast<std::uint8_t>(value >> 8);
            row[2 * index + 1] = static_cast<std::uint8_t>(value);
            return;
        default: {
            const std::size_t bit = index * bitDepth;
            const unsigned shift = 8 - bitDepth - unsigned(bit % 8);
            const unsigned mask = ((1u << bitDepth) - 1) << shift;
            row[bit / 8] =
                static_cast<std::uint8_t>((row[bit / 8] & ~mask) | ((value << shift) & mask));
        }
    }
}

std::uint16_t ScaledTo16(unsigned sample, unsigned bitDepth) {
    return static_cast<std::uint16_t>(sample * (65535u / ((1u << bitDepth) - 1)));
}

std::optional<unsigned> ScaledFrom16(std::uint16_t value, unsigned bitDepth) {
    const unsigned factor = 65535u / ((1u << bitDepth) - 1);
    if (value % factor != 0) return std::nullopt;
    return value / factor;
}

namespace {

// The chunks that shape the pixels' meaning, each at most once and before
// the image data, which must be one run of consecutive chunks.
struct LayoutChunks {
    const Chunk* palette = nullptr;
    const Chunk* transparency = nullptr;
    const Chunk* background = nullptr;
};

std::optional<LayoutChunks> FindLayoutChunks(const std::vector<Chunk>& chunks) {
    LayoutChunks layout;
    bool sawData = false;
    bool dataEnded = false;
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        const Chunk& chunk = chunks[i];
        if (chunk.type == kIHDR) return std::nullopt;
        if (chunk.type == kIDAT) {
            if (dataEnded) return std::nullopt;
            sawData = true;
            continue;
        }
        if (sawData) dataEnded = true;
        const Chunk** slot = chunk.type == kPLTE   ? &layout.palette
                             : chunk.type == ktRNS ? &layout.transparency
                             : chunk.type == kbKGD ? &layout.background
                                                   : nullptr;
        if (!slot) continue;
        if (*slot || sawData) return std::nullopt;
        *slot = &chunk;
    }
    if (!sawData) return std::nullopt;
    return layout;
}

// The palette of a palette image; a suggested palette of a true-colour image
// carries no pixels and is not kept. False for a palette that cannot be.
bool ReadPalette(const Chunk* palette, PngImage& image) {
    const bool isPalette = image.colourType == ColourType::kPalette;
    if (!palette) return !isPalette;
    const std::size_t entries = palette->data.size() / 3;
    if (palette->data.size() % 3 != 0 || entries == 0 || entries > 256) return false;
    if (image.colourType == ColourType::kGrey || image.colourType == ColourType::kGreyAlpha)
        return false;
    if (!isPalette) return true;
    if (entries > (std::size_t(1) << image.bitDepth)) return false;
    for (std::size_t e = 0; e < entries; ++e) {
        const std::uint8_t* rgb = palette->data.data() + 3 * e;
        image.palette.push_back(PaletteEntry{rgb[0], rgb[1], rgb[2], 255});
    }
    return true;
}

bool ReadTransparency(const Chunk* transparency, PngImage& image) {
    if (!transparency) return true;
    if (image.colourType == ColourType::kPalette) {
        if (transparency->data.size() > image.palette.size()) return false;
        for (std::size_t e = 0; e < transparency->data.size(); ++e)
            image.palette[e].a = transparency->data[e];
        return true;
    }
    if (image.colourType != ColourType::kGrey && image.colourType != ColourType::kRgb) return false;
    image.colourKey = ColourField(transparency->data, image.colourType, image.bitDepth);
    return image.colourKey.has_value();
}

bool ReadBackground(const Chunk* background, PngImage& image) {
    if (!background) return true;
    if (image.colourType == ColourType::kPalette) {
        if (background->data.size() != 1 || background->data[0] >= image.palette.size())
            return false;
        const PaletteEntry& entry = image.palette[background->data[0]];
        image.background =
            Rgb16{ScaledTo16(entry.r, 8), ScaledTo16(entry.g, 8), ScaledTo16(entry.b, 8)};
        return true;
    }
    image.background = ColourField(background->data, image.colourType, image.bitDepth);
    return image.background.has_value();
}

}  // namespace

std::optional<PngImage> DecodedImage(const std::vector<Chunk>& chunks) {
    if (chunks.empty() || chunks.front().type != kIHDR) return std::nullopt;
    const std::optional<Header> header = ParsedHeader(chunks.front().data);
    if (!header) return std::nullopt;
    PngImage image;
    image.width = header->width;
    image.height = header->height;
    image.colourType = static_cast<ColourType>(header->colourType);
    image.bitDepth = header->bitDepth;
    if (image.RowBytes() > kMaxRawBytes / image.height) return std::nullopt;

    const std::optional<LayoutChunks> layout = FindLayoutChunks(chunks);
    if (!layout || !ReadPalette(layout->palette, image) ||
        !ReadTransparency(layout->transparency, image) ||
        !ReadBackground(layout->background, image))
        return std::nullopt;

    std::optional<Bytes> pixels = UnfilteredPixels(chunks, *header, image);
    if (!pixels) return std::nullopt;
    image.pixels = std::move(*pixels);
    if (image.colourType == ColourType::kPalette && !PaletteIndicesValid(image))
        return std::nullopt;
    return image;
}

std::vector<std::uint16_t> ExpandedRgba16(const PngImage& image) {
    std::vector<std::uint16_t> out;
    out.reserve(std::size_t(image.width) * image.height * 4);
    const unsigned depth = image.bitDepth;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            std::uint16_t r = 0, g = 0, b = 0, a = 65535;
            switch (image.colourType) {
                case ColourType::kGrey:
                    r = g = b = ScaledTo16(SampleAt(row, x, depth), depth);
                    if (image.colourKey && r == image.colourKey->r) a = 0;
                    break;
                case ColourType::kGreyAlpha:
                    r = g = b = ScaledTo16(SampleAt(row, 2 * std::size_t(x), depth), depth);
                    a = ScaledTo16(SampleAt(row, 2 * std::size_t(x) + 1, depth), depth);
                    break;
                case ColourType::kRgb:
                    r = ScaledTo16(SampleAt(row, 3 * std::size_t(x), depth), depth);
                    g = ScaledTo16(SampleAt(row, 3 * std::size_t(x) + 1, depth), depth);
                    b = ScaledTo16(SampleAt(row, 3 * std::size_t(x) + 2, depth), depth);
                    if (image.colourKey && Rgb16{r, g, b} == *image.colourKey) a = 0;
                    break;
                case ColourType::kRgba:
                    r = ScaledTo16(SampleAt(row, 4 * std::size_t(x), depth), depth);
                    g = ScaledTo16(SampleAt(row, 4 * std::size_t(x) + 1, depth), depth);
                    b = ScaledTo16(SampleAt(row, 4 * std::size_t(x) + 2, depth), depth);
                    a = ScaledTo16(SampleAt(row, 4 * std::size_t(x) + 3, depth), depth);
                    break;
                case ColourType::kPalette: {
                    const PaletteEntry& e = image.palette[SampleAt(row, x, depth)];
                    r = ScaledTo16(e.r, 8), g = ScaledTo16(e.g, 8), b = ScaledTo16(e.b, 8);
                    a = ScaledTo16(e.a, 8);
                    break;
                }
            }
            out.insert(out.end(), {r, g, b, a});
        }
    }
    return out;
}

Bytes HeaderChunkData(const PngImage& image) {
    Bytes data;
    AppendU32(data, image.width);
    AppendU32(data, image.height);
    data.push_back(static_cast<std::uint8_t>(image.bitDepth));
    data.push_back(static_cast<std::uint8_t>(image.colourType));
    data.insert(data.end(), {0, 0, 0});  // deflate, adaptive filtering, not interlaced
    return data;
}

Bytes PaletteChunkData(const PngImage& image) {
    Bytes data;
    if (image.colourType != ColourType::kPalette) return data;
    for (const PaletteEntry& e : image.palette) data.insert(data.end(), {e.r, e.g, e.b});
    return data;
}

Bytes TransparencyChunkData(const PngImage& image) {
    Bytes data;
    if (image.colourType == ColourType::kPalette) {
        // Only up to the last entry that is not opaque; the rest are opaque by default.
        std::size_t count = image.palette.size();
        while (count > 0 && image.palette[count - 1].a == 255) --count;
        for (std::size_t e = 0; e < count; ++e) data.push_back(image.palette[e].a);
    } else if (image.colourKey) {
        const Rgb16& key = *image.colourKey;
        const auto sample = [&](std::uint16_t v) {
            AppendU16(data,
                      static_cast<std::uint16_t>(ScaledFrom16(v, image.bitDepth).value_or(0)));
        };
        if (image.colourType == ColourType::kGrey) {
            sample(key.r);
        } else if (image.colourType == ColourType::kRgb) {
            sample(key.r), sample(key.g), sample(key.b);
        }
    }
    return data;
}

bool BackgroundFits(const PngImage& image, const Rgb16& colour) {
    switch (image.colourType) {
        case ColourType::kPalette:
            return std::any_of(
                image.palette.begin(), image.palette.end(), [&](const PaletteEntry& e) {
                    return Rgb16{ScaledTo16(e.r, 8), ScaledTo16(e.g, 8), ScaledTo16(e.b, 8)} ==
                           colour;
                });
        case ColourType::kGrey:
        case ColourType::kGreyAlpha:
            return colour.r == colour.g && colour.g == colour.b &&
                   ScaledFrom16(colour.r, image.bitDepth).has_value();
        default:
            return ScaledFrom16(colour.r, image.bitDepth) &&
                   ScaledFrom16(colour.g, image.bitDepth) && ScaledFrom16(colour.b, image.bitDepth);
    }
}

Bytes BackgroundChunkData(const PngImage& image) {
    Bytes data;
    if (!image.background || !BackgroundFits(image, *image.background)) return data;
    const Rgb16& colour = *image.background;
    switch (image.colourType) {
        case ColourType::kPalette:
            for (std::size_t e = 0; e < image.palette.size(); ++e) {
                const PaletteEntry& entry = image.palette[e];
                if (Rgb16{ScaledTo16(entry.r, 8), ScaledTo16(entry.g, 8), ScaledTo16(entry.b, 8)} ==
                    colour) {
                    data.push_back(static_cast<std::uint8_t>(e));
                    break;
                }
            }
            break;
        case ColourType::kGrey:
        case ColourType::kGreyAlpha:
            AppendU16(data, static_cast<std::uint16_t>(*ScaledFrom16(colour.r, image.bitDepth)));
            break;
        default:
            AppendU16(data, static_cast<std::uint16_t>(*ScaledFrom16(colour.r, image.bitDepth)));
            AppendU16(data, static_cast<std::uint16_t>(*ScaledFrom16(colour.g, image.bitDepth)));
            AppendU16(data, static_cast<std::uint16_t>(*ScaledFrom16(colour.b, image.bitDepth)));
            break;
    }
    return data;
}

}  // namespace pimo::imagelib::png
