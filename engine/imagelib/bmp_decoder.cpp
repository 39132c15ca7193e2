#include "engine/imagelib/bmp_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/imagelib/bmp_layout.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

// One colour channel of a bit-field pixel, widened to 8 bits.
class Channel {
  public:
    explicit Channel(std::uint32_t mask)
        : m_mask(mask),
          m_shift(mask ? static_cast<unsigned>(std::countr_zero(mask)) : 0),
          m_bits(static_cast<unsigned>(std::popcount(mask))) {}

    bool present() const { return m_mask != 0; }

    BYTE operator()(std::uint32_t pixel) const {
        if (m_bits == 0) return 0;
        const std::uint32_t value = (pixel & m_mask) >> m_shift;
        if (m_bits >= 8) return static_cast<BYTE>(value >> (m_bits - 8));
        // Scale so that the largest value becomes 255, truncating as the
        // library does when it widens its own 16-bit pixels.
        const std::uint32_t top = (1u << m_bits) - 1;
        return static_cast<BYTE>(value * 255 / top);
    }

  private:
    std::uint32_t m_mask;
    unsigned m_shift;
    unsigned m_bits;
};

// The library's scan line that holds stored row `row`.
BYTE* LineForRow(FIBITMAP* dib, const BmpLayout& layout, unsigned row) {
    return ::FreeImage_GetScanLine(dib, layout.topDown ? layout.height - 1 - row : row);
}

const std::uint8_t* StoredRow(const BmpLayout& layout, unsigned row) {
    return layout.pixels.data() + static_cast<std::size_t>(row) * layout.stride;
}

void CopyPalette(FIBITMAP* dib, const BmpLayout& layout) {
    RGBQUAD* palette = ::FreeImage_GetPalette(dib);
    const unsigned size = ::FreeImage_GetColorsUsed(dib);
    const std::size_t entries = layout.palette.size() / 4;
    for (unsigned i = 0; i < size; ++i) {
        palette[i] = RGBQUAD{0, 0, 0, 0};
        if (i < entries) {
            palette[i].rgbBlue = layout.palette[4 * i];
            palette[i].rgbGreen = layout.palette[4 * i + 1];
            palette[i].rgbRed = layout.palette[4 * i + 2];
        }
    }
}

// Rows stored as they are in the library's layout (indices, 24-bit BGR,
// 16-bit words).
void CopyRows(FIBITMAP* dib, const BmpLayout& layout) {
    const std::size_t rowBytes = (std::size_t{layout.width} * layout.bitCount + 7) / 8;
    for (unsigned row = 0; row < layout.height; ++row) {
        std::memcpy(LineForRow(dib, layout, row), StoredRow(layout, row), rowBytes);
    }
}

void SetIndex(BYTE* line, unsigned x, unsigned bitCount, unsigned index) {
    if (bitCount == 8) {
        line[x] = static_cast<BYTE>(index);
    } else {
        const unsigned shift = x % 2 ? 0 : 4;
        line[x / 2] = static_cast<BYTE>((line[x / 2] & ~(0x0F << shift)) | (index & 0x0F) << shift);
    }
}

// Run-length encoded indices (8 or 4 bits), always stored bottom-up. Pixels
// the stream skips or never reaches keep index 0; a stream that ends early
// leaves the rest of the image at index 0, as other decoders do.
void DecodeRle(FIBITMAP* dib, const BmpLayout& layout) {
    const bool four = layout.compression == kBmpRle4;
    const auto data = layout.pixels;
    const unsigned width = layout.width, height = layout.height;
    for (unsigned y = 0; y < height; ++y) {
        std::memset(::FreeImage_GetScanLine(dib, y), 0, ::FreeImage_GetPitch(dib));
    }
    unsigned x = 0, y = 0;
    const auto put = [&](unsigned index) {
        if (x < width) SetIndex(::FreeImage_GetScanLine(dib, y), x, layout.bitCount, index);
        ++x;
    };
    std::size_t i = 0;
    while (y < height && i + 1 < data.size()) {
        const unsigned count = data[i], value = data[i + 1];
        i += 2;
        if (count > 0) {
            for (unsigned n = 0; n < count && x < width; ++n) {
                put(four ? (n % 2 ? value & 0x0F : value >> 4) : value);
            }
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return;
        } else if (value == 2) {  // move right and up
            if (i + 1 >= data.size()) return;
            x = std::min(x + data[i], width);
            y = std::min(y + data[i + 1], height);
            i += 2;
        } else {  // `value` literal indices, padded to an even byte count
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            if (bytes > data.size() - i) return;
            for (unsigned n = 0; n < value; ++n) {
                put(four ? (data[i + n / 2] >> (n % 2 ? 0 : 4)) & 0x0F : data[i + n]);
            }
            i += (bytes + 1) & ~std::size_t{1};
        }
    }
}

FIBITMAP* DecodeIndexed(const BmpLayout& layout) {
    FIBITMAP* dib = ::FreeImage_Allocate(static_cast<int>(layout.width),
                                         static_cast<int>(layout.height), layout.bitCount);
    if (!dib) return nullptr;
    CopyPalette(dib, layout);
    if (layout.compression == kBmpRle8 || layout.compression == kBmpRle4) {
        DecodeRle(dib, layout);
    } else {
        CopyRows(dib, layout);
    }
    return dib;
}

std::uint32_t PixelWord(const std::uint8_t* at, unsigned bitCount) {
    std::uint32_t word = at[0] | static_cast<std::uint32_t>(at[1]) << 8;
    if (bitCount == 32) {
        word |= static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
    }
    return word;
}

// An alpha channel that is opaque everywhere, or zero everywhere (a writer
// that filled an unused byte), is no alpha channel: the result is made opaque.
// Returns whether the alpha channel is in real use.
bool SettleAlpha(FIBITMAP* dib) {
    const unsigned width = ::FreeImage_GetWidth(dib), height = ::FreeImage_GetHeight(dib);
    bool anyTranslucent = false, anyNonZero = false;
    for (unsigned y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const RGBQUAD*>(::FreeImage_GetScanLine(dib, y));
        for (unsigned x = 0; x < width; ++x) {
            anyTranslucent |= line[x].rgbReserved != 0xFF;
            anyNonZero |= line[x].rgbReserved != 0;
        }
    }
    if (anyTranslucent && anyNonZero) return true;
    for (unsigned y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<RGBQUAD*>(::FreeImage_GetScanLine(dib, y));
        for (unsigned x = 0; x < width; ++x) line[x].rgbReserved = 0xFF;
    }
    return false;
}

bool IsLibrary16BitLayout(const BmpLayout& layout) {
    const auto& m = layout.masks;
    return layout.bitCount == 16 && m[3] == 0 &&
           ((m[0] == FI16_555_RED_MASK && m[1] == FI16_555_GREEN_MASK &&
             m[2] == FI16_555_BLUE_MASK) ||
            (m[0] == FI16_565_RED_MASK && m[1] == FI16_565_GREEN_MASK &&
             m[2] == FI16_565_BLUE_MASK));
}

// 16- and 32-bit pixels described by masks: the library's own 16-bit layouts
// are kept, everything else becomes 24-bit, or 32-bit when there is an alpha
// mask or the file was 32-bit.
FIBITMAP* DecodeBitFields(const BmpLayout& layout) {
    const auto& m = layout.masks;
    const int width = static_cast<int>(layout.width), height = static_cast<int>(layout.height);
    if (IsLibrary16BitLayout(layout)) {
        FIBITMAP* dib = ::FreeImage_Allocate(width, height, 16, m[0], m[1], m[2]);
        if (dib) CopyRows(dib, layout);
        return dib;
    }
    const Channel red(m[0]), green(m[1]), blue(m[2]), alpha(m[3]);
    const unsigned outBits = alpha.present() || layout.bitCount == 32 ? 32 : 24;
    FIBITMAP* dib = ::FreeImage_Allocate(width, height, static_cast<int>(outBits));
    if (!dib) return nullptr;
    const unsigned inStep = layout.bitCount / 8, outStep = outBits / 8;
    for (unsigned row = 0; row < layout.height; ++row) {
        const std::uint8_t* in = StoredRow(layout, row);
        BYTE* out = LineForRow(dib, layout, row);
        for (unsigned x = 0; x < layout.width; ++x, in += inStep, out += outStep) {
            const std::uint32_t word = PixelWord(in, layout.bitCount);
            out[FI_RGBA_RED] = red(word);
            out[FI_RGBA_GREEN] = green(word);
            out[FI_RGBA_BLUE] = blue(word);
            if (outStep == 4) out[FI_RGBA_ALPHA] = alpha.present() ? alpha(word) : 0xFF;
        }
    }
    if (outBits == 32) {
        ::FreeImage_SetTransparent(dib, alpha.present() && SettleAlpha(dib) ? TRUE : FALSE);
    }
    return dib;
}

}  // namespace

bool NeedsOwnBmpDecoder(std::span<const std::uint8_t> bytes) {
    const std::uint32_t header = BmpInfoHeaderSize(bytes);
    if (header == 52 || header == 56 || header == 108 || header == 124) return true;
    if (header != 40) return false;
    const std::uint32_t compression = BmpCompression(bytes);
    if (compression == kBmpAlphaBitFields) return true;
    if (compression != kBmpBitFields) return false;
    // The library honours bit fields only where they match its own layouts.
    const std::optional<BmpLayout> layout = ReadBmpLayout(bytes);
    if (!layout) return false;
    const std::array<std::uint32_t, 4> library32 = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    return layout->bitCount == 32 ? layout->masks != library32 : !IsLibrary16BitLayout(*layout);
}

FIBITMAP* DecodeBmp(std::span<const std::uint8_t> bytes) {
    const std::optional<BmpLayout> layout = ReadBmpLayout(bytes);
    if (!layout) return nullptr;
    Bitmap dib;
    if (layout->bitCount <= 8) {
        dib.reset(DecodeIndexed(*layout));
    } else if (layout->bitCount == 24) {
        dib.reset(::FreeImage_Allocate(static_cast<int>(layout->width),
                                       static_cast<int>(layout->height), 24));
        if (dib) CopyRows(dib.get(), *layout);
    } else {
        dib.reset(DecodeBitFields(*layout));
    }
    if (!dib) return nullptr;
    if (layout->xPelsPerMeter > 0) {
        ::FreeImage_SetDotsPerMeterX(dib.get(), static_cast<unsigned>(layout->xPelsPerMeter));
    }
    if (layout->yPelsPerMeter > 0) {
        ::FreeImage_SetDotsPerMeterY(dib.get(), static_cast<unsigned>(layout->yPelsPerMeter));
    }
    if (!layout->profile.empty()) {
        ::FreeImage_CreateICCProfile(dib.get(), const_cast<std::uint8_t*>(layout->profile.data()),
                                     static_cast<long>(layout->profile.size()));
    }
    return dib.release();
}

}  // namespace pimo::imagelib
