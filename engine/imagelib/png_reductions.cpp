#include "engine/imagelib/png_reductions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <unordered_map>

namespace pimo::imagelib::png {

namespace {

bool HasAlpha(ColourType type) {
    return type == ColourType::kGreyAlpha || type == ColourType::kRgba;
}
bool IsGrey(ColourType type) {
    return type == ColourType::kGrey || type == ColourType::kGreyAlpha;
}

bool ExactAt(const Rgb16& colour, unsigned depth) {
    return ScaledFrom16(colour.r, depth) && ScaledFrom16(colour.g, depth) &&
           ScaledFrom16(colour.b, depth);
}
bool IsNeutral(const Rgb16& colour) {
    return colour.r == colour.g && colour.g == colour.b;
}

// The same image facts with a new layout and no pixels yet.
PngImage WithLayout(const PngImage& image, ColourType type, unsigned depth) {
    PngImage out;
    out.width = image.width;
    out.height = image.height;
    out.colourType = type;
    out.bitDepth = depth;
    out.colourKey = image.colourKey;
    out.background = image.background;
    out.pixels.assign(out.RowBytes() * out.height, 0);
    return out;
}

// Pixels of an 8- or 16-bit image rebuilt from the channels `keep`.
PngImage WithChannels(const PngImage& image, ColourType type, std::span<const unsigned> keep) {
    PngImage out = WithLayout(image, type, image.bitDepth);
    const unsigned sampleBytes = image.bitDepth / 8;
    const unsigned inPixel = image.Channels() * sampleBytes;
    const std::size_t pixels = std::size_t(image.width) * image.height;
    const std::uint8_t* in = image.pixels.data();
    std::uint8_t* dst = out.pixels.data();
    for (std::size_t p = 0; p < pixels; ++p, in += inPixel) {
        for (const unsigned channel : keep) {
            std::memcpy(dst, in + channel * sampleBytes, sampleBytes);
            dst += sampleBytes;
        }
    }
    return out;
}

unsigned DepthForEntries(std::size_t entries) {
    if (entries <= 2) return 1;
    if (entries <= 4) return 2;
    if (entries <= 16) return 4;
    return 8;
}

// The fewest bits that hold every sample of a grey image (and its key and
// background) exactly.
unsigned SmallestGreyDepth(const PngImage& image) {
    if (image.colourType != ColourType::kGrey || image.bitDepth > 8) return image.bitDepth;
    std::array<bool, 256> present{};
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        for (std::uint32_t x = 0; x < image.width; ++x)
            present[SampleAt(row, x, image.bitDepth)] = true;
    }
    for (const unsigned depth : {1u, 2u, 4u}) {
        if (depth >= image.bitDepth) break;
        bool exact = true;
        for (unsigned v = 0; v < 256 && exact; ++v) {
            exact = !present[v] || ScaledFrom16(ScaledTo16(v, image.bitDepth), depth).has_value();
        }
        if (image.colourKey) exact = exact && ScaledFrom16(image.colourKey->r, depth).has_value();
        if (image.background) exact = exact && ScaledFrom16(image.background->r, depth).has_value();
        if (exact) return depth;
    }
    return image.bitDepth;
}

std::uint32_t Packed(const PaletteEntry& e) {
    return (std::uint32_t(e.r) << 24) | (std::uint32_t(e.g) << 16) | (std::uint32_t(e.b) << 8) |
           e.a;
}

Rgb16 ColourOf(const PaletteEntry& e) {
    return Rgb16{ScaledTo16(e.r, 8), ScaledTo16(e.g, 8), ScaledTo16(e.b, 8)};
}

// Bytes of the filtered rows plus the layout chunks: what the choice between
// layouts is judged by before any compression.
std::size_t LayoutCost(const PngImage& image, unsigned depth) {
    std::size_t cost =
        std::size_t(image.height) * (PackedRowBytes(image.width, image.Channels() * depth) + 1);
    if (image.colourType == ColourType::kPalette) {
        cost += 12 + 3 * image.palette.size();
        const std::size_t transparency = TransparencyChunkData(image).size();
        if (transparency) cost += 12 + transparency;
    } else if (image.colourKey) {
        cost += 12 + (IsGrey(image.colourType) ? 2 : 6);
    }
    return cost;
}

// Entries with transparency first, each group in its first-seen order.
std::vector<std::size_t> TransparentFirst(const std::vector<PaletteEntry>& entries) {
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_partition(order.begin(), order.end(),
                          [&](std::size_t i) { return entries[i].a != 255; });
    return order;
}

}  // namespace

std::optional<PngImage> EightBitSamples(const PngImage& image) {
    if (image.bitDepth != 16) return std::nullopt;
    for (std::size_t i = 0; i < image.pixels.size(); i += 2) {
        if (image.pixels[i] != image.pixels[i + 1]) return std::nullopt;
    }
    if (image.colourKey && !ExactAt(*image.colourKey, 8)) return std::nullopt;
    if (image.background && !ExactAt(*image.background, 8)) return std::nullopt;
    PngImage out = WithLayout(image, image.colourType, 8);
    for (std::size_t i = 0; i < out.pixels.size(); ++i) out.pixels[i] = image.pixels[2 * i];
    return out;
}

std::optional<PngImage> WithoutOpaqueAlpha(const PngImage& image) {
    if (!HasAlpha(image.colourType)) return std::nullopt;
    const unsigned sampleBytes = image.bitDepth / 8;
    const unsigned pixelBytes = image.Channels() * sampleBytes;
    const unsigned alphaAt = pixelBytes - sampleBytes;
    for (std::size_t p = alphaAt; p < image.pixels.size(); p += pixelBytes) {
        for (unsigned b = 0; b < sampleBytes; ++b) {
            if (image.pixels[p + b] != 0xFF) return std::nullopt;
        }
    }
    if (image.colourType == ColourType::kRgba) {
        constexpr std::array<unsigned, 3> kRgb = {0, 1, 2};
        return WithChannels(image, ColourType::kRgb, kRgb);
    }
    constexpr std::array<unsigned, 1> kGrey = {0};
    return WithChannels(image, ColourType::kGrey, kGrey);
}

std::optional<PngImage> GreyFromNeutralColour(const PngImage& image) {
    if (image.colourType != ColourType::kRgb && image.colourType != ColourType::kRgba)
        return std::nullopt;
    if ((image.colourKey && !IsNeutral(*image.colourKey)) ||
        (image.background && !IsNeutral(*image.background))) {
        return std::nullopt;
    }
    const unsigned sampleBytes = image.bitDepth / 8;
    const unsigned pixelBytes = image.Channels() * sampleBytes;
    for (std::size_t p = 0; p < image.pixels.size(); p += pixelBytes) {
        const std::uint8_t* px = image.pixels.data() + p;
        if (std::memcmp(px, px + sampleBytes, sampleBytes) != 0 ||
            std::memcmp(px, px + 2 * sampleBytes, sampleBytes) != 0) {
            return std::nullopt;
        }
    }
    if (image.colourType == ColourType::kRgba) {
        constexpr std::array<unsigned, 2> kGreyAlpha = {0, 3};
        return WithChannels(image, ColourType::kGreyAlpha, kGreyAlpha);
    }
    constexpr std::array<unsigned, 1> kGrey = {0};
    return WithChannels(image, ColourType::kGrey, kGrey);
}

std::optional<PngImage> ColourKeyFromBinaryAlpha(const PngImage& image) {
    if (!HasAlpha(image.colourType)) return std::nullopt;
    const unsigned sampleBytes = image.bitDepth / 8;
    const unsigned colourBytes = (image.Channels() - 1) * sampleBytes;
    const unsigned pixelBytes = colourBytes + sampleBytes;
    const auto alphaIs = [&](const std::uint8_t* px, std::uint8_t value) {
        for (unsigned b = 0; b < sampleBytes; ++b) {
            if (px[colourBytes + b] != value) return false;
        }
        return true;
    };
    const std::uint8_t* key = nullptr;
    for (std::size_t p = 0; p < image.pixels.size(); p += pixelBytes) {
        const std::uint8_t* px = image.pixels.data() + p;
        if (alphaIs(px, 0)) {
            if (!key) key = px;
            if (std::memcmp(px, key, colourBytes) != 0) return std::nullopt;
        } else if (!alphaIs(px, 0xFF)) {
            return std::nullopt;
        }
    }
    if (!key) return std::nullopt;
    for (std::size_t p = 0; p < image.pixels.size(); p += pixelBytes) {
        const std::uint8_t* px = image.pixels.data() + p;
        if (alphaIs(px, 0xFF) && std::memcmp(px, key, colourBytes) == 0) return std::nullopt;
    }
    std::array<std::uint16_t, 3> samples{};
    for (unsigned c = 0; c < image.Channels() - 1; ++c) {
        const unsigned value =
            sampleBytes == 2 ? (unsigned(key[2 * c]) << 8) | key[2 * c + 1] : key[c];
        samples[c] = ScaledTo16(value, image.bitDepth);
    }
    const bool grey = image.colourType == ColourType::kGreyAlpha;
    if (grey) samples[1] = samples[2] = samples[0];
    PngImage out = grey ? WithChannels(image, ColourType::kGrey, std::array<unsigned, 1>{0})
                        : WithChannels(image, ColourType::kRgb, std::array<unsigned, 3>{0, 1, 2});
    out.colourKey = Rgb16{samples[0], samples[1], samples[2]};
    return out;
}

std::optional<PngImage> PaletteFromFewColours(const PngImage& image) {
    if (image.colourType == ColourType::kPalette || image.bitDepth != 8) return std::nullopt;
    const unsigned channels = image.Channels();
    const auto entryAt = [&](const std::uint8_t* px) {
        PaletteEntry e;
        switch (image.colourType) {
            case ColourType::kGrey:
                e = {px[0], px[0], px[0], 255};
                break;
            case ColourType::kGreyAlpha:
                e = {px[0], px[0], px[0], px[1]};
                break;
            case ColourType::kRgb:
                e = {px[0], px[1], px[2], 255};
                break;
            default:
                e = {px[0], px[1], px[2], px[3]};
                break;
        }
        if (image.colourKey && ColourOf(e) == *image.colourKey) e.a = 0;
        return e;
    };
    // First pass: the distinct colours in first-seen order, giving up past 256.
    std::vector<PaletteEntry> entries;
    std::unordered_map<std::uint32_t, std::uint8_t> indexOf;
    std::uint32_t last = 0;
    bool haveLast = false;
    const std::size_t pixels = std::size_t(image.width) * image.height;
    for (std::size_t p = 0; p < pixels; ++p) {
        const PaletteEntry e = entryAt(image.pixels.data() + p * channels);
        const std::uint32_t packed = Packed(e);
        if (haveLast && packed == last) continue;
        last = packed, haveLast = true;
        if (indexOf.count(packed)) continue;
        if (entries.size() == 256) return std::nullopt;
        indexOf.emplace(packed, static_cast<std::uint8_t>(entries.size()));
        entries.push_back(e);
    }
    if (image.background) {
        const Rgb16 colour = *image.background;
        const bool present =
            std::any_of(entries.begin(), entries.end(),
                        [&](const PaletteEntry& e) { return ColourOf(e) == colour; });
        if (!present) {
            if (entries.size() == 256 || !ExactAt(colour, 8)) return std::nullopt;
            entries.push_back(PaletteEntry{static_cast<std::uint8_t>(colour.r >> 8),
                                           static_cast<std::uint8_t>(colour.g >> 8),
                                           static_cast<std::uint8_t>(colour.b >> 8), 255});
        }
    }
    const std::vector<std::size_t> order = TransparentFirst(entries);
    std::vector<std::uint8_t> remap(entries.size());
    PngImage out = WithLayout(image, ColourType::kPalette, 8);
    out.colourKey.reset();
    for (std::size_t i = 0; i < order.size(); ++i) {
        remap[order[i]] = static_cast<std::uint8_t>(i);
        out.palette.push_back(entries[order[i]]);
    }
    if (LayoutCost(out, DepthForEntries(out.palette.size())) >=
        LayoutCost(image, SmallestGreyDepth(image))) {
        return std::nullopt;
    }
    for (std::size_t p = 0; p < pixels; ++p) {
        out.pixels[p] = remap[indexOf.at(Packed(entryAt(image.pixels.data() + p * channels)))];
    }
    return out;
}

std::optional<PngImage> PaletteOfUsedEntries(const PngImage& image) {
    if (image.colourType != ColourType::kPalette) return std::nullopt;
    std::array<bool, 256> used{};
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        for (std::uint32_t x = 0; x < image.width; ++x)
            used[SampleAt(row, x, image.bitDepth)] = true;
    }
    if (image.background) {
        const auto& palette = image.palette;
        const bool shown = std::any_of(palette.begin(), palette.end(), [&](const PaletteEntry& e) {
            return used[&e - palette.data()] && ColourOf(e) == *image.background;
        });
        // Keep one entry of the background colour even when no pixel uses it.
        for (std::size_t i = 0; i < palette.size() && !shown; ++i) {
            if (ColourOf(palette[i]) == *image.background) {
                used[i] = true;
                break;
            }
        }
    }
    // Distinct used entries in index order; duplicates map to the first.
    std::vector<PaletteEntry> entries;
    std::unordered_map<std::uint32_t, std::size_t> distinct;
    std::array<std::size_t, 256> entryOf{};
    for (std::size_t i = 0; i < image.palette.size(); ++i) {
        if (!used[i]) continue;
        const auto [it, fresh] = distinct.emplace(Packed(image.palette[i]), entries.size());
        if (fresh) entries.push_back(image.palette[i]);
        entryOf[i] = it->second;
    }
    const std::vector<std::size_t> order = TransparentFirst(entries);
    PngImage out = WithLayout(image, ColourType::kPalette, image.bitDepth);
    std::array<std::size_t, 256> position{};
    for (std::size_t i = 0; i < order.size(); ++i) {
        position[order[i]] = i;
        out.palette.push_back(entries[order[i]]);
    }
    if (out.palette == image.palette) return std::nullopt;
    std::array<unsigned, 256> remap{};
    for (std::size_t i = 0; i < image.palette.size(); ++i)
        remap[i] = static_cast<unsigned>(position[entryOf[i]]);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        std::uint8_t* target = out.Row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            SetSampleAt(target, x, out.bitDepth, remap[SampleAt(row, x, image.bitDepth)]);
        }
    }
    return out;
}

std::optional<PngImage> GreyFromGreyPalette(const PngImage& image) {
    if (image.colourType != ColourType::kPalette) return std::nullopt;
    const std::vector<PaletteEntry>& palette = image.palette;
    std::optional<std::size_t> transparent;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const PaletteEntry& e = palette[i];
        if (e.r != e.g || e.g != e.b) return std::nullopt;
        if (e.a == 255) continue;
        if (e.a != 0 || transparent) return std::nullopt;
        transparent = i;
    }
    if (transparent) {
        for (std::size_t i = 0; i < palette.size(); ++i) {
            if (i != *transparent && palette[i].r == palette[*transparent].r) return std::nullopt;
        }
    }
    if (image.background && !IsNeutral(*image.background)) return std::nullopt;
    unsigned depth = 0;
    for (const unsigned candidate : {1u, 2u, 4u, 8u}) {
        const bool exact = std::all_of(palette.begin(), palette.end(), [&](const PaletteEntry& e) {
            return ScaledFrom16(ScaledTo16(e.r, 8), candidate).has_value();
        });
        if (exact && (!image.background || ScaledFrom16(image.background->r, candidate))) {
            depth = candidate;
            break;
        }
    }
    if (depth == 0 || depth > DepthForEntries(palette.size())) return std::nullopt;
    PngImage out = WithLayout(image, ColourType::kGrey, depth);
    if (transparent) {
        const std::uint16_t value = ScaledTo16(palette[*transparent].r, 8);
        out.colourKey = Rgb16{value, value, value};
    }
    std::array<unsigned, 256> greyOf{};
    for (std::size_t i = 0; i < palette.size(); ++i)
        greyOf[i] = *ScaledFrom16(ScaledTo16(palette[i].r, 8), depth);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        std::uint8_t* target = out.Row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            SetSampleAt(target, x, depth, greyOf[SampleAt(row, x, image.bitDepth)]);
        }
    }
    return out;
}

std::optional<PngImage> SmallestBitDepth(const PngImage& image) {
    unsigned depth = image.bitDepth;
    if (image.colourType == ColourType::kPalette) {
        depth = DepthForEntries(image.palette.size());
    } else if (image.colourType == ColourType::kGrey) {
        depth = SmallestGreyDepth(image);
    }
    if (depth >= image.bitDepth) return std::nullopt;
    PngImage out = WithLayout(image, image.colourType, depth);
    out.palette = image.palette;
    const bool grey = image.colourType == ColourType::kGrey;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        std::uint8_t* target = out.Row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const unsigned value = SampleAt(row, x, image.bitDepth);
            SetSampleAt(target, x, depth,
                        grey ? *ScaledFrom16(ScaledTo16(value, image.bitDepth), depth) : value);
        }
    }
    return out;
}

PngImage ReducedImage(PngImage image, const ReductionLimits& limits) {
    const auto apply = [&image](const auto& step) {
        if (std::optional<PngImage> reduced = step(image)) image = std::move(*reduced);
    };
    // 16-bit samples that repeat their high byte hold 8 bits; every later step works on bytes.
    apply(EightBitSamples);
    // An alpha channel that is opaque everywhere says nothing.
    apply(WithoutOpaqueAlpha);
    // Grey pixels need one sample, not three; a colour profile may forbid the change.
    if (!limits.keepColourClass) apply(GreyFromNeutralColour);
    // All-or-nothing transparency on one colour fits in tRNS without an alpha channel.
    apply(ColourKeyFromBinaryAlpha);
    // Few colours: one index per pixel instead of up to four samples (palettes count as colour).
    if (limits.paletteFromColours && (!limits.keepColourClass || !IsGrey(image.colourType))) {
        apply(PaletteFromFewColours);
    }
    // Unused and duplicate entries cost bytes and may force deeper indices.
    apply(PaletteOfUsedEntries);
    // Evenly spaced greys need no palette at all.
    if (!limits.keepColourClass) apply(GreyFromGreyPalette);
    // Pack the pixels into as few bits as their values need.
    apply(SmallestBitDepth);
    return image;
}

}  // namespace pimo::imagelib::png
