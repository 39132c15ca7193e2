#include "engine/image_info.h"

#include <bit>
#include <cstring>
#include <memory>
#include <set>

namespace pimo::engine {

namespace {

constexpr const char* kTagKey = "ImageInfo";

/// One bit per 24-bit colour: 2 MiB, whatever the image.
class ColorSet {
public:
    ColorSet() : m_words(std::make_unique<std::uint64_t[]>(kWords)) {}
    void insert(std::uint32_t rgb) { m_words[rgb >> 6] |= std::uint64_t{1} << (rgb & 63); }
    void clear() { std::memset(m_words.get(), 0, kWords * sizeof(std::uint64_t)); }
    std::uint32_t count() const {
        std::uint32_t total = 0;
        for (std::size_t i = 0; i < kWords; ++i) total += static_cast<std::uint32_t>(std::popcount(m_words[i]));
        return total;
    }
    /// Calls `visit(rgb)` for every member in ascending order.
    template <typename Visit>
    void forEach(Visit visit) const {
        for (std::size_t i = 0; i < kWords; ++i) {
            for (std::uint64_t word = m_words[i]; word != 0; word &= word - 1) {
                visit(static_cast<std::uint32_t>(i * 64 + static_cast<std::size_t>(std::countr_zero(word))));
            }
        }
    }

private:
    static constexpr std::size_t kWords = (1u << 24) / 64;
    std::unique_ptr<std::uint64_t[]> m_words;
};

std::uint32_t Rgb(const BYTE* pixel) {
    return std::uint32_t(pixel[FI_RGBA_RED]) << 16 | std::uint32_t(pixel[FI_RGBA_GREEN]) << 8 | pixel[FI_RGBA_BLUE];
}

PaletteColor ToPaletteColor(std::uint32_t argb) {
    return PaletteColor{static_cast<std::uint8_t>(argb), static_cast<std::uint8_t>(argb >> 8),
                        static_cast<std::uint8_t>(argb >> 16), static_cast<std::uint8_t>(argb >> 24)};
}

// First pass: every colour, the greyscale test and partial alpha.
void ScanColors(FIBITMAP* bitmap, unsigned bytesPerPixel, ColorSet& colors, ImageInfo& info) {
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    const bool checkAlpha = bytesPerPixel == 4 && info.HasTransparency;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        for (unsigned x = 0; x < width; ++x, pixel += bytesPerPixel) {
            colors.insert(Rgb(pixel));
            if (checkAlpha && info.OnlyFullTransparency && pixel[FI_RGBA_ALPHA] != 0 &&
                pixel[FI_RGBA_ALPHA] != 255) {
                info.OnlyFullTransparency = false;
            }
            if (info.Greyscale &&
                (pixel[FI_RGBA_RED] != pixel[FI_RGBA_GREEN] || pixel[FI_RGBA_RED] != pixel[FI_RGBA_BLUE])) {
                info.Greyscale = false;
            }
        }
    }
}

// Second pass: the colours of the fully transparent pixels.
void ScanInvisibleColors(FIBITMAP* bitmap, unsigned bytesPerPixel, ColorSet& colors) {
    if (bytesPerPixel != 4) return;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        for (unsigned x = 0; x < width; ++x, pixel += 4) {
            if (pixel[FI_RGBA_ALPHA] == 0) colors.insert(Rgb(pixel));
        }
    }
}

// Third pass: distinct colour-and-alpha values, stopping at 257.
std::set<std::uint32_t> ScanColorsWithAlpha(FIBITMAP* bitmap, unsigned bytesPerPixel) {
    std::set<std::uint32_t> values;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height && values.size() < 257; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        for (unsigned x = 0; x < width && values.size() < 257; ++x, pixel += bytesPerPixel) {
            const std::uint32_t alpha = bytesPerPixel == 4 ? pixel[FI_RGBA_ALPHA] : 255;
            values.insert(alpha << 24 | Rgb(pixel));
        }
    }
    return values;
}

ImageInfo Analyse(FIBITMAP* bitmap) {
    ImageInfo info{};
    info.Greyscale = true;
    info.HasTransparency = ::FreeImage_IsTransparent(bitmap);
    info.OnlyFullTransparency = true;

    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (::FreeImage_GetImageType(bitmap) != FIT_BITMAP || (bpp != 24 && bpp != 32)) return info;
    const unsigned bytesPerPixel = bpp / 8;

    ColorSet colors;
    ScanColors(bitmap, bytesPerPixel, colors, info);
    info.UniqueColors = colors.count();
    info.OnlyFullTransparency = info.OnlyFullTransparency && info.HasTransparency;
    if (info.UniqueColors <= 256) {
        int entry = 0;
        colors.forEach([&](std::uint32_t rgb) { info.Palette[entry++] = ToPaletteColor(0xFF000000u | rgb); });
        info.PaletteEntries = static_cast<std::int16_t>(entry);
    }

    if (info.HasTransparency) {
        colors.clear();
        ScanInvisibleColors(bitmap, bytesPerPixel, colors);
        info.FullyTransparentColors = colors.count();
        if (info.FullyTransparentColors == 1) {
            colors.forEach([&](std::uint32_t rgb) {
                info.SingleTransparentColor[0] = static_cast<std::uint8_t>(rgb);
                info.SingleTransparentColor[1] = static_cast<std::uint8_t>(rgb >> 8);
                info.SingleTransparentColor[2] = static_cast<std::uint8_t>(rgb >> 16);
            });
        } else {
            const std::set<std::uint32_t> values = ScanColorsWithAlpha(bitmap, bytesPerPixel);
            if (values.size() <= 256) {
                int entry = 0;
                for (std::uint32_t argb : values) info.Palette[entry++] = ToPaletteColor(argb);
                for (int i = entry; i < 256; ++i) info.Palette[i] = PaletteColor{};
                info.PaletteEntries = static_cast<std::int16_t>(entry);
            }
        }
    }
    return info;
}

}  // namespace

bool AnalyseImage(FIBITMAP* bitmap) {
    if (!bitmap) return false;
    ImageInfo info = Analyse(bitmap);

    FITAG* tag = ::FreeImage_CreateTag();
    if (!tag) return false;
    ::FreeImage_SetTagKey(tag, kTagKey);
    ::FreeImage_SetTagLength(tag, sizeof info);
    ::FreeImage_SetTagCount(tag, sizeof info);
    ::FreeImage_SetTagType(tag, FIDT_BYTE);
    ::FreeImage_SetTagValue(tag, &info);
    const bool attached = ::FreeImage_SetMetadata(FIMD_CUSTOM, bitmap, kTagKey, tag);
    ::FreeImage_DeleteTag(tag);
    return attached;
}

ImageInfo ReadImageInfo(FIBITMAP* bitmap) {
    ImageInfo info{};
    FITAG* tag = nullptr;
    if (!bitmap || !::FreeImage_GetMetadata(FIMD_CUSTOM, bitmap, kTagKey, &tag) || !tag) return info;
    if (::FreeImage_GetTagLength(tag) != sizeof info) return info;
    std::memcpy(&info, ::FreeImage_GetTagValue(tag), sizeof info);
    return info;
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
                        n(info.SingleTransparentColor[1]) + "," + n(info.SingleTransparentColor[0]) + ")");
    }
    lines.push_back("Palette size: " + n(info.PaletteEntries));
    if (info.PaletteEntries > 0) {
        lines.push_back("Palette entries: ");
        const int count = std::min<int>(info.PaletteEntries, 256);
        for (int i = 0; i < count; ++i) {
            const PaletteColor& c = info.Palette[i];
            lines.push_back("pal[" + n(i) + "] = RGBA(" + n(c.red) + "," + n(c.green) + "," + n(c.blue) + "," +
                            n(c.alpha) + ")");
        }
    }
    return lines;
}

}  // namespace pimo::engine
