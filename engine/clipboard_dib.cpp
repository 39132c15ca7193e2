#include "engine/clipboard_dib.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <optional>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

namespace fi = imagelib;

namespace {

// Header sizes of BITMAPINFOHEADER and its successors (V2 and V3 are the
// undocumented steps between it and V4; V2 adds the colour masks).
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV2HeaderSize = 52;
constexpr std::uint32_t kV3HeaderSize = 56;
constexpr std::uint32_t kV4HeaderSize = 108;
constexpr std::uint32_t kV5HeaderSize = 124;

constexpr std::uint32_t kCompressionRgb = 0;
constexpr std::uint32_t kCompressionBitfields = 3;

constexpr std::uint32_t kRed555 = 0x7C00, kGreen555 = 0x03E0, kBlue555 = 0x001F;
constexpr std::uint32_t kRed565 = 0xF800, kGreen565 = 0x07E0, kBlue565 = 0x001F;
constexpr std::uint32_t kRed888 = 0x00FF0000, kGreen888 = 0x0000FF00, kBlue888 = 0x000000FF;

// Multi-byte fields of a DIB are little-endian whatever the host.
std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
std::int32_t I32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(U32(p));
}
std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

struct Masks {
    std::uint32_t red = 0, green = 0, blue = 0;
};

// Everything the decoder needs, each field checked against the block.
struct DibLayout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    unsigned bitCount = 0;
    bool bitfields = false;
    Masks masks;
    std::size_t tableOffset = 0;
    std::uint64_t tableEntries = 0;
    std::size_t pixelOffset = 0;
    std::size_t pitch = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
};

bool KnownHeaderSize(std::uint32_t size) {
    return size == kInfoHeaderSize || size == kV2HeaderSize || size == kV3HeaderSize ||
           size == kV4HeaderSize || size == kV5HeaderSize;
}

bool KnownBitCount(unsigned bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

std::optional<DibLayout> ReadLayout(std::span<const std::uint8_t> block) {
    const std::uint8_t* data = block.data();
    const std::uint64_t length = block.size();
    if (!data || length < kInfoHeaderSize) return std::nullopt;

    const std::uint32_t headerSize = U32(data);
    if (!KnownHeaderSize(headerSize) || headerSize > length) return std::nullopt;

    DibLayout layout;
    const std::int32_t width = I32(data + 4);
    const std::int64_t height = I32(data + 8);
    layout.bitCount = U16(data + 14);
    const std::uint32_t compression = U32(data + 16);
    layout.xPelsPerMeter = I32(data + 24);
    layout.yPelsPerMeter = I32(data + 28);
    const std::uint32_t colorsUsed = U32(data + 32);

    if (width <= 0 || height == 0 || !KnownBitCount(layout.bitCount)) return std::nullopt;
    const std::uint64_t rows = height < 0 ? -height : height;
    if (rows > INT_MAX) return std::nullopt;
    layout.width = width;
    layout.height = static_cast<int>(rows);
    layout.topDown = height < 0;

    if (compression == kCompressionBitfields) {
        if (layout.bitCount != 16 && layout.bitCount != 32) return std::nullopt;
        layout.bitfields = true;
    } else if (compression != kCompressionRgb) {
        return std::nullopt;  // run-length, JPEG and PNG payloads are not decoded here
    }

    // The colour table follows the header; with a plain info header the
    // bit-field masks come first, the later headers hold them inside.
    std::uint64_t offset = headerSize;
    if (layout.bitfields) {
        const std::uint8_t* masks = data + kInfoHeaderSize;
        if (headerSize == kInfoHeaderSize) {
            if (offset + 12 > length) return std::nullopt;
            offset += 12;
        }
        layout.masks = {U32(masks), U32(masks + 4), U32(masks + 8)};
        if ((layout.masks.red | layout.masks.green | layout.masks.blue) == 0) return std::nullopt;
    }
    layout.tableEntries = colorsUsed != 0        ? colorsUsed
                          : layout.bitCount <= 8 ? (1u << layout.bitCount)
                                                 : 0;
    layout.tableOffset = static_cast<std::size_t>(headerSize);
    offset += layout.tableEntries * 4;  // at most 2^34: no overflow in 64 bits
    if (offset > length) return std::nullopt;
    layout.pixelOffset = static_cast<std::size_t>(offset);

    // Rows are padded to whole 32-bit words. Width and depth are bounded, so
    // the pitch fits; the row count is checked by division, never multiplied.
    const std::uint64_t pitch = (std::uint64_t{layout.bitCount} * layout.width + 31) / 32 * 4;
    const std::uint64_t available = length - offset;
    if (pitch > available || rows > available / pitch) return std::nullopt;
    layout.pitch = static_cast<std::size_t>(pitch);
    return layout;
}

// The rows of the block, in the library's bottom-up order.
const std::uint8_t* SourceRow(std::span<const std::uint8_t> block, const DibLayout& layout,
                              unsigned scanLine) {
    const unsigned stored = layout.topDown ? layout.height - 1 - scanLine : scanLine;
    return block.data() + layout.pixelOffset + std::size_t{stored} * layout.pitch;
}

fi::Bitmap CopyRows(std::span<const std::uint8_t> block, const DibLayout& layout,
                    const Masks& libraryMasks) {
    fi::Bitmap bitmap(::FreeImage_AllocateT(FIT_BITMAP, layout.width, layout.height,
                                            static_cast<int>(layout.bitCount), libraryMasks.red,
                                            libraryMasks.green, libraryMasks.blue));
    if (!bitmap) return nullptr;
    const unsigned lineBytes = ::FreeImage_GetLine(bitmap.get());
    for (int y = 0; y < layout.height; ++y) {
        std::memcpy(::FreeImage_GetScanLine(bitmap.get(), y), SourceRow(block, layout, y),
                    lineBytes);
    }
    return bitmap;
}

// A channel scaled from its mask's range to 0..255, as the library widens
// 5- and 6-bit channels.
BYTE Channel(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const std::uint64_t maximum = mask >> shift;
    const std::uint64_t value = (pixel & mask) >> shift;
    return static_cast<BYTE>(value * 255 / maximum);
}

// Any other bit-field layout: each pixel's channels taken by their masks,
// into 24 bits (from 16) or 32 bits (from 32).
fi::Bitmap ExpandBitfields(std::span<const std::uint8_t> block, const DibLayout& layout) {
    const unsigned outBits = layout.bitCount == 16 ? 24 : 32;
    fi::Bitmap bitmap(::FreeImage_Allocate(layout.width, layout.height, static_cast<int>(outBits)));
    if (!bitmap) return nullptr;
    const unsigned inStep = layout.bitCount / 8, outStep = outBits / 8;
    for (int y = 0; y < layout.height; ++y) {
        const std::uint8_t* in = SourceRow(block, layout, y);
        BYTE* out = ::FreeImage_GetScanLine(bitmap.get(), y);
        for (int x = 0; x < layout.width; ++x, in += inStep, out += outStep) {
            const std::uint32_t pixel = inStep == 2 ? U16(in) : U32(in);
            out[FI_RGBA_RED] = Channel(pixel, layout.masks.red);
            out[FI_RGBA_GREEN] = Channel(pixel, layout.masks.green);
            out[FI_RGBA_BLUE] = Channel(pixel, layout.masks.blue);
        }
    }
    return bitmap;
}

bool SameMasks(const Masks& a, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return a.red == red && a.green == green && a.blue == blue;
}

fi::Bitmap DecodePixels(std::span<const std::uint8_t> block, const DibLayout& layout) {
    switch (layout.bitCount) {
        case 16:
            if (!layout.bitfields || SameMasks(layout.masks, kRed555, kGreen555, kBlue555)) {
                return CopyRows(block, layout, {kRed555, kGreen555, kBlue555});
            }
            if (SameMasks(layout.masks, kRed565, kGreen565, kBlue565)) {
                return CopyRows(block, layout, {kRed565, kGreen565, kBlue565});
            }
            return ExpandBitfields(block, layout);
        case 32:
            if (layout.bitfields && !SameMasks(layout.masks, kRed888, kGreen888, kBlue888)) {
                return ExpandBitfields(block, layout);
            }
            return CopyRows(block, layout, {kRed888, kGreen888, kBlue888});
        default:
            return CopyRows(block, layout, {});
    }
}

void CopyColorTable(std::span<const std::uint8_t> block, const DibLayout& layout,
                    FIBITMAP* bitmap) {
    RGBQUAD* palette = ::FreeImage_GetPalette(bitmap);
    const unsigned size = ::FreeImage_GetColorsUsed(bitmap);
    if (!palette) return;
    const auto copied = static_cast<unsigned>(std::min<std::uint64_t>(layout.tableEntries, size));
    const std::uint8_t* table = block.data() + layout.tableOffset;
    for (unsigned i = 0; i < size; ++i) {
        palette[i] = i < copied ? RGBQUAD{table[4 * i], table[4 * i + 1], table[4 * i + 2], 0}
                                : RGBQUAD{0, 0, 0, 0};
    }
}

// The fourth byte of a 32-bit device-independent bitmap is unused: opaque.
void MakeOpaque(FIBITMAP* bitmap) {
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        for (unsigned x = 0; x < width; ++x, pixel += 4) pixel[FI_RGBA_ALPHA] = 0xFF;
    }
}

}  // namespace

PasteSource ChoosePasteSource(bool dibAvailable, std::span<const ClipboardFormat> offered) {
    if (!dibAvailable) return {};
    const auto png = std::find_if(offered.begin(), offered.end(), [](const ClipboardFormat& f) {
        return f.name == kClipboardFormatPngName;
    });
    if (png != offered.end()) return {PasteSourceKind::Png, png->id};
    return {PasteSourceKind::Dib, kClipboardFormatDib};
}

fi::Bitmap DecodeDib(std::span<const std::uint8_t> block) {
    const std::optional<DibLayout> layout = ReadLayout(block);
    if (!layout) return nullptr;
    fi::Bitmap bitmap = DecodePixels(block, *layout);
    if (!bitmap) return nullptr;

    if (::FreeImage_GetBPP(bitmap.get()) <= 8) CopyColorTable(block, *layout, bitmap.get());
    if (::FreeImage_GetBPP(bitmap.get()) == 32) MakeOpaque(bitmap.get());
    // Pixels per metre are dots per metre; a negative value means unknown.
    ::FreeImage_SetDotsPerMeterX(bitmap.get(),
                                 static_cast<unsigned>(std::max(0, layout->xPelsPerMeter)));
    ::FreeImage_SetDotsPerMeterY(bitmap.get(),
                                 static_cast<unsigned>(std::max(0, layout->yPelsPerMeter)));
    fi::RecordOriginalFacts(bitmap.get(), 0);
    return bitmap;
}

bool BitmapFromDIB(std::span<const std::uint8_t> block, fi::Bitmap& slot) {
    slot.reset();
    slot = DecodeDib(block);
    return slot != nullptr;
}

PastedImage DecodePastedImage(PasteSourceKind kind, std::span<const std::uint8_t> block) {
    PastedImage pasted;
    switch (kind) {
        case PasteSourceKind::None:
            break;
        case PasteSourceKind::Png:
            pasted.sourceFormat = fi::kFormatPng;
            if (!block.empty()) {
                pasted.bitmap.reset(
                    fi::FreeImage_LoadFromBuffer(fi::kFormatPng, block.data(), 0, block.size()));
            }
            break;
        case PasteSourceKind::Dib:
            pasted.sourceFormat = fi::kFormatPastedBitmap;
            BitmapFromDIB(block, pasted.bitmap);
            if (pasted.bitmap && ::FreeImage_GetBPP(pasted.bitmap.get()) != 24) {
                pasted.bitmap.reset(fi::FreeImage_ConvertTo24Bits(pasted.bitmap.get()));
            }
            break;
    }
    return pasted;
}

bool OpenPastedImage(Engine& engine, PasteSourceKind kind, std::span<const std::uint8_t> block) {
    if (kind == PasteSourceKind::None || engine.Busy()) return engine.SourceBitmap != nullptr;
    PastedImage pasted = DecodePastedImage(kind, block);
    engine.SourceBitmap = std::move(pasted.bitmap);
    engine.SourceFormat = pasted.sourceFormat;
    engine.OpenLoadedImage("", false, false);
    return engine.SourceBitmap != nullptr;
}

}  // namespace pimo::engine
