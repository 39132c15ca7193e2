#include "engine/image_info.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

namespace {

constexpr const char* kTagKey = "ImageInfo";
// From this many pixels the analysis reads the image on two threads.
constexpr std::uint64_t kSplitScanPixels = std::uint64_t{1} << 20;

/// One bit per 24-bit colour: 2 MiB, whatever the image. The bits live in a
/// buffer that every analysis on the thread reuses (`storage`): allocating and
/// faulting in 2 MiB afresh cost more than scanning a small picture. Members
/// are counted as they arrive, so counting needs no pass over the bits.
class ColorSet {
  public:
    explicit ColorSet(std::unique_ptr<std::uint64_t[]>& storage) {
        if (!storage) storage = std::make_unique_for_overwrite<std::uint64_t[]>(kWords);
        m_words = storage.get();
        std::memset(m_words, 0, kWords * sizeof(std::uint64_t));
    }
    void insert(std::uint32_t rgb) {
        std::uint64_t& word = m_words[rgb >> 6];
        const std::uint64_t bit = std::uint64_t{1} << (rgb & 63);
        m_count += (word & bit) == 0;
        word |= bit;
    }
    std::uint32_t count() const { return m_count; }
    /// Adds every member of `other`.
    void merge(const ColorSet& other) {
        std::uint32_t count = 0;
        for (std::size_t i = 0; i < kWords; ++i) {
            m_words[i] |= other.m_words[i];
            count += static_cast<std::uint32_t>(std::popcount(m_words[i]));
        }
        m_count = count;
    }
    /// Calls `visit(rgb)` for every member in ascending order.
    template <typename Visit>
    void forEach(Visit visit) const {
        for (std::size_t i = 0; i < kWords; ++i) {
            for (std::uint64_t word = m_words[i]; word != 0; word &= word - 1) {
                visit(static_cast<std::uint32_t>(i * 64 +
                                                 static_cast<std::size_t>(std::countr_zero(word))));
            }
        }
    }

  private:
    static constexpr std::size_t kWords = (1u << 24) / 64;
    std::uint64_t* m_words;
    std::uint32_t m_count = 0;
};

std::uint32_t Rgb(const BYTE* pixel) {
    return std::uint32_t(pixel[FI_RGBA_RED]) << 16 | std::uint32_t(pixel[FI_RGBA_GREEN]) << 8 |
           pixel[FI_RGBA_BLUE];
}

PaletteColor ToPaletteColor(std::uint32_t argb) {
    return PaletteColor{static_cast<std::uint8_t>(argb), static_cast<std::uint8_t>(argb >> 8),
                        static_cast<std::uint8_t>(argb >> 16),
                        static_cast<std::uint8_t>(argb >> 24)};
}

/// At most 257 distinct 32-bit values in a fixed open-addressing table:
/// no allocation per value, and a run of equal pixels costs one comparison.
class SmallValueSet {
  public:
    static constexpr std::size_t kLimit = 257;
    bool full() const { return m_size >= kLimit; }
    std::size_t size() const { return m_size; }
    void insert(std::uint32_t value) {
        if (m_hasLast && value == m_last) return;
        m_last = value;
        m_hasLast = true;
        std::size_t slot = (value * 2654435761u) >> (32 - kBits);
        while (m_used[slot]) {
            if (m_values[slot] == value) return;
            slot = (slot + 1) & (kSlots - 1);
        }
        m_used[slot] = true;
        m_values[slot] = value;
        ++m_size;
    }
    void merge(const SmallValueSet& other) {
        for (std::size_t i = 0; i < kSlots && !full(); ++i) {
            if (other.m_used[i]) insert(other.m_values[i]);
        }
    }
    std::vector<std::uint32_t> sorted() const {
        std::vector<std::uint32_t> values;
        for (std::size_t i = 0; i < kSlots; ++i) {
            if (m_used[i]) values.push_back(m_values[i]);
        }
        std::sort(values.begin(), values.end());
        return values;
    }

  private:
    static constexpr unsigned kBits = 10;
    static constexpr std::size_t kSlots = std::size_t{1} << kBits;  // load stays under 26%
    std::array<std::uint32_t, kSlots> m_values{};
    std::array<bool, kSlots> m_used{};
    std::size_t m_size = 0;
    std::uint32_t m_last = 0;
    bool m_hasLast = false;
};

/// What one scan over the pixels collects.
struct Scan {
    ColorSet colors;  // every 24-bit colour
    std::optional<ColorSet>
        hidden;               // colours of fully transparent pixels (transparent images only)
    SmallValueSet withAlpha;  // distinct colour-and-alpha values, up to 257
};

// One pass over the rows [first, end), as the library stores them. The colour
// set, the invisible-colour set and the bounded colour-and-alpha set are
// filled together, so a transparent image is read once rather than three times.
void ScanPixels(FIBITMAP* bitmap, unsigned bytesPerPixel, unsigned first, unsigned end, Scan& scan,
                ImageInfo& info) {
    const unsigned width = ::FreeImage_GetWidth(bitmap);
    const bool alphaChannel = bytesPerPixel == 4;
    const bool transparent = info.HasTransparency;
    bool greyscale = info.Greyscale, onlyFullTransparency = info.OnlyFullTransparency;
    // A pixel equal to the one before it adds nothing: graphics are mostly runs.
    std::uint64_t previous = ~std::uint64_t{0};  // no pixel value
    for (unsigned y = first; y < end; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        for (unsigned x = 0; x < width; ++x, pixel += bytesPerPixel) {
            const std::uint32_t rgb = Rgb(pixel);
            const std::uint32_t alpha = alphaChannel ? pixel[FI_RGBA_ALPHA] : 255;
            const std::uint32_t value = alpha << 24 | rgb;
            if (value == previous) continue;
            previous = value;

            scan.colors.insert(rgb);
            greyscale = greyscale && pixel[FI_RGBA_RED] == pixel[FI_RGBA_GREEN] &&
                        pixel[FI_RGBA_RED] == pixel[FI_RGBA_BLUE];
            if (!transparent) continue;
            if (alpha != 0 && alpha != 255) onlyFullTransparency = false;
            if (alpha == 0) scan.hidden->insert(rgb);
            if (!scan.withAlpha.full()) scan.withAlpha.insert(value);
        }
    }
    info.Greyscale = greyscale;
    info.OnlyFullTransparency = onlyFullTransparency;
}

ImageInfo Analyse(FIBITMAP* bitmap) {
    ImageInfo info{};
    info.Greyscale = true;
    info.HasTransparency = ::FreeImage_IsTransparent(bitmap);
    info.OnlyFullTransparency = true;

    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (::FreeImage_GetImageType(bitmap) != FIT_BITMAP || (bpp != 24 && bpp != 32)) return info;
    const unsigned bytesPerPixel = bpp / 8;

    thread_local std::unique_ptr<std::uint64_t[]> colorBits, hiddenBits;
    Scan scan{ColorSet(colorBits), std::nullopt, {}};
    if (info.HasTransparency) scan.hidden.emplace(hiddenBits);
    const unsigned height = ::FreeImage_GetHeight(bitmap);
    const std::uint64_t pixels = std::uint64_t{::FreeImage_GetWidth(bitmap)} * height;
    if (pixels < kSplitScanPixels || std::thread::hardware_concurrency() < 2) {
        ScanPixels(bitmap, bytesPerPixel, 0, height, scan, info);
    } else {
        // A large image is read in two halves at once, each into sets of its
        // own, which are then joined: reading every pixel is most of the
        // work of opening a photograph.
        thread_local std::unique_ptr<std::uint64_t[]> otherColorBits, otherHiddenBits;
        Scan other{ColorSet(otherColorBits), std::nullopt, {}};
        if (info.HasTransparency) other.hidden.emplace(otherHiddenBits);
        ImageInfo otherInfo = info;
        const unsigned half = height / 2;
        std::thread lower([&] { ScanPixels(bitmap, bytesPerPixel, 0, half, other, otherInfo); });
        ScanPixels(bitmap, bytesPerPixel, half, height, scan, info);
        lower.join();
        scan.colors.merge(other.colors);
        if (scan.hidden) scan.hidden->merge(*other.hidden);
        scan.withAlpha.merge(other.withAlpha);
        info.Greyscale = info.Greyscale && otherInfo.Greyscale;
        info.OnlyFullTransparency = info.OnlyFullTransparency && otherInfo.OnlyFullTransparency;
    }

    info.UniqueColors = scan.colors.count();
    info.OnlyFullTransparency = info.OnlyFullTransparency && info.HasTransparency;
    if (info.UniqueColors <= 256) {
        int entry = 0;
        scan.colors.forEach(
            [&](std::uint32_t rgb) { info.Palette[entry++] = ToPaletteColor(0xFF000000u | rgb); });
        info.PaletteEntries = static_cast<std::int16_t>(entry);
    }
    if (!info.HasTransparency) return info;

    info.FullyTransparentColors = scan.hidden->count();
    if (info.FullyTransparentColors == 1) {
        scan.hidden->forEach([&](std::uint32_t rgb) {
            info.SingleTransparentColor[0] = static_cast<std::uint8_t>(rgb);
            info.SingleTransparentColor[1] = static_cast<std::uint8_t>(rgb >> 8);
            info.SingleTransparentColor[2] = static_cast<std::uint8_t>(rgb >> 16);
        });
    } else if (!scan.withAlpha.full()) {
        // At most 256 colour-and-alpha values replace the opaque list.
        int entry = 0;
        for (std::uint32_t argb : scan.withAlpha.sorted())
            info.Palette[entry++] = ToPaletteColor(argb);
        for (int i = entry; i < 256; ++i) info.Palette[i] = PaletteColor{};
        info.PaletteEntries = static_cast<std::int16_t>(entry);
    }
    return info;
}

/// Writes and reads the record's fields in their stored order.
class FieldCursor {
  public:
    explicit FieldCursor(std::uint8_t* bytes) : m_bytes(bytes) {}
    void put(std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i)
            m_bytes[m_at++] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    std::uint32_t take(int width) {
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i) value |= std::uint32_t{m_bytes[m_at++]} << (8 * i);
        return value;
    }

  private:
    std::uint8_t* m_bytes;
    std::size_t m_at = 0;
};

}  // namespace

ImageInfoBytes ToBytes(const ImageInfo& info) {
    ImageInfoBytes bytes{};
    FieldCursor out(bytes.data());
    out.put(info.Greyscale, 1);
    out.put(info.UniqueColors, 4);
    out.put(info.Reserved, 4);
    out.put(info.HasTransparency, 1);
    out.put(info.OnlyFullTransparency, 1);
    out.put(info.FullyTransparentColors, 4);
    for (std::uint8_t channel : info.SingleTransparentColor) out.put(channel, 1);
    out.put(static_cast<std::uint16_t>(info.PaletteEntries), 2);
    for (const PaletteColor& c : info.Palette) {
        out.put(c.blue, 1);
        out.put(c.green, 1);
        out.put(c.red, 1);
        out.put(c.alpha, 1);
    }
    return bytes;
}

ImageInfo FromBytes(const ImageInfoBytes& bytes) {
    ImageInfo info{};
    FieldCursor in(const_cast<std::uint8_t*>(bytes.data()));
    info.Greyscale = in.take(1) != 0;
    info.UniqueColors = in.take(4);
    info.Reserved = in.take(4);
    info.HasTransparency = in.take(1) != 0;
    info.OnlyFullTransparency = in.take(1) != 0;
    info.FullyTransparentColors = in.take(4);
    for (std::uint8_t& channel : info.SingleTransparentColor)
        channel = static_cast<std::uint8_t>(in.take(1));
    info.PaletteEntries = static_cast<std::int16_t>(in.take(2));
    for (PaletteColor& c : info.Palette) {
        c.blue = static_cast<std::uint8_t>(in.take(1));
        c.green = static_cast<std::uint8_t>(in.take(1));
        c.red = static_cast<std::uint8_t>(in.take(1));
        c.alpha = static_cast<std::uint8_t>(in.take(1));
    }
    return info;
}

bool AnalyseImage(FIBITMAP* bitmap) {
    if (!bitmap) return false;
    const ImageInfoBytes record = ToBytes(Analyse(bitmap));

    return imagelib::SetMetadataTag(bitmap, FIMD_CUSTOM, kTagKey, FIDT_BYTE, kImageInfoSize,
                                    kImageInfoSize, record.data());
}

ImageInfo ReadImageInfo(FIBITMAP* bitmap) {
    FITAG* tag = nullptr;
    if (!bitmap || !::FreeImage_GetMetadata(FIMD_CUSTOM, bitmap, kTagKey, &tag) || !tag)
        return ImageInfo{};
    if (::FreeImage_GetTagLength(tag) != kImageInfoSize) return ImageInfo{};
    ImageInfoBytes record;
    std::memcpy(record.data(), ::FreeImage_GetTagValue(tag), kImageInfoSize);
    return FromBytes(record);
}

std::vector<std::string> ImageInfoReport(const ImageInfo& info) {
    const auto yesNo = [](bool value) { return std::string(value ? "yes" : "no"); };
    const auto n = [](auto value) { return std::to_string(value); };
    std::vector<std::string> lines{
        "Unique colors: " + n(info.UniqueColors),
        "Greyscale: " + yesNo(info.Greyscale),
        "Only full transparency: " + yesNo(info.OnlyFullTransparency),
        "Fully transparent colors: " + n(info.FullyTransparentColors),
    };
    if (info.FullyTransparentColors == 1) {
        lines.push_back("Single transparent color: RGB(" + n(info.SingleTransparentColor[2]) + "," +
                        n(info.SingleTransparentColor[1]) + "," +
                        n(info.SingleTransparentColor[0]) + ")");
    }
    lines.push_back("Palette size: " + n(info.PaletteEntries));
    if (info.PaletteEntries > 0) {
        lines.push_back("Palette entries: ");
        const int count = std::min<int>(info.PaletteEntries, 256);
        for (int i = 0; i < count; ++i) {
            const PaletteColor& c = info.Palette[i];
            lines.push_back("pal[" + n(i) + "] = RGBA(" + n(c.red) + "," + n(c.green) + "," +
                            n(c.blue) + "," + n(c.alpha) + ")");
        }
    }
    return lines;
}

}  // namespace pimo::engine
