#include "engine/imagelib/viewed_pixels.h"

#include <algorithm>
#include <cstring>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

// Straight (not premultiplied) alpha over an opaque background, rounded to nearest.
std::uint8_t Blend(unsigned color, unsigned alpha, unsigned background) {
    return static_cast<std::uint8_t>((color * alpha + background * (255 - alpha) + 127) / 255);
}

bool ReadInPlace(FIBITMAP* bitmap) {
    if (::FreeImage_GetImageType(bitmap) != FIT_BITMAP || !::FreeImage_HasPixels(bitmap))
        return false;
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32;
}

// The palette index of pixel `x` of a row of `bits` bits per pixel.
unsigned IndexAt(const std::uint8_t* row, unsigned x, unsigned bits) {
    switch (bits) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
        default:
            return row[x];
    }
}

// A palette entry's alpha as the 32-bit conversion gives it: from the
// transparency table when the bitmap is marked transparent, else opaque.
std::array<std::uint8_t, 256> PaletteAlpha(FIBITMAP* bitmap) {
    std::array<std::uint8_t, 256> alpha;
    alpha.fill(255);
    if (!::FreeImage_IsTransparent(bitmap)) return alpha;
    const BYTE* table = ::FreeImage_GetTransparencyTable(bitmap);
    const unsigned count = std::min(::FreeImage_GetTransparencyCount(bitmap), 256u);
    if (table) std::memcpy(alpha.data(), table, count);
    return alpha;
}

// As loading judges a converted palette bitmap: its alpha is blended when
// some pixel is translucent and some pixel is not fully transparent (an
// alpha that is zero everywhere is unused: such files show opaque).
bool PaletteAlphaInUse(FIBITMAP* bitmap, const std::array<std::uint8_t, 256>& alpha) {
    const unsigned bits = ::FreeImage_GetBPP(bitmap);
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    bool anyTranslucent = false, anyNonZero = false;
    for (unsigned y = 0; y < height && !(anyTranslucent && anyNonZero); ++y) {
        const BYTE* row = ::FreeImage_GetScanLine(bitmap, y);
        for (unsigned x = 0; x < width; ++x) {
            const unsigned a = alpha[IndexAt(row, x, bits)];
            anyTranslucent |= a != 255;
            anyNonZero |= a != 0;
        }
    }
    return anyTranslucent && anyNonZero;
}

}  // namespace

ViewedImage::ViewedImage(FIBITMAP* bitmap, Background background) {
    attach(bitmap, background);
}

ViewedImage::ViewedImage(Bitmap bitmap, Background background) : m_owned(std::move(bitmap)) {
    attach(m_owned.get(), background);
}

ViewedImage::ViewedImage(const RgbPixels& pixels) {
    if (pixels.empty()) return;
    m_layout = Layout::Rgb;
    m_width = pixels.width;
    m_height = pixels.height;
    m_bits = pixels.bytes.data();
    m_pitch = std::size_t{pixels.width} * 3;
}

void ViewedImage::attach(FIBITMAP* bitmap, Background background) {
    if (!bitmap) return;
    if (!ReadInPlace(bitmap)) {
        // Other types and depths once through 32 bits, which carries every
        // kind of transparency as an alpha byte; standard-type conversion
        // first brings 16-bit and float images into range.
        Bitmap standard;
        FIBITMAP* input = bitmap;
        if (::FreeImage_GetImageType(bitmap) != FIT_BITMAP) {
            standard.reset(imagelib::FreeImage_ConvertToStandardType(bitmap, true));
            input = standard.get();
        }
        if (!input) return;
        Bitmap converted(ReadInPlace(input) ? standard.release()
                                            : imagelib::FreeImage_ConvertTo32Bits(input));
        if (!converted || !ReadInPlace(converted.get())) return;
        m_owned = std::move(converted);
        bitmap = m_owned.get();
    }
    m_width = ::FreeImage_GetWidth(bitmap);
    m_height = ::FreeImage_GetHeight(bitmap);
    m_bits = ::FreeImage_GetBits(bitmap);
    m_pitch = ::FreeImage_GetPitch(bitmap);
    m_background = background;
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (bpp == 24) {
        m_layout = Layout::Bgr24;
    } else if (bpp == 32) {
        m_layout = Layout::Bgra32;
        // As loading judges it: an alpha channel that is zero everywhere is
        // unused (such files show opaque), any other is blended.
        m_blendAlpha = FreeImage_IsTransparent(bitmap, 1);
    } else {
        m_layout = Layout::Indexed;
        m_indexBits = bpp;
        const std::array<std::uint8_t, 256> alpha = PaletteAlpha(bitmap);
        const bool blend = PaletteAlphaInUse(bitmap, alpha);
        const RGBQUAD* palette = ::FreeImage_GetPalette(bitmap);
        const unsigned entries = std::min(::FreeImage_GetColorsUsed(bitmap), 256u);
        for (unsigned i = 0; i < entries && palette; ++i) {
            const unsigned a = blend ? alpha[i] : 255;
            m_palette[i] = {Blend(palette[i].rgbRed, a, background.red),
                            Blend(palette[i].rgbGreen, a, background.green),
                            Blend(palette[i].rgbBlue, a, background.blue)};
        }
    }
    if (m_width == 0 || m_height == 0 || !m_bits) m_layout = Layout::None;
}

void ViewedImage::copyRow(unsigned row, unsigned left, unsigned width, std::uint8_t* out) const {
    if (m_layout == Layout::Rgb) {
        std::memcpy(out, m_bits + row * m_pitch + std::size_t{left} * 3, std::size_t{width} * 3);
        return;
    }
    // The library stores rows bottom-up.
    const std::uint8_t* stored = m_bits + (m_height - 1 - row) * m_pitch;
    switch (m_layout) {
        case Layout::Bgr24: {
            const std::uint8_t* pixel = stored + std::size_t{left} * 3;
            for (unsigned x = 0; x < width; ++x, pixel += 3, out += 3) {
                out[0] = pixel[FI_RGBA_RED];
                out[1] = pixel[FI_RGBA_GREEN];
                out[2] = pixel[FI_RGBA_BLUE];
            }
            break;
        }
        case Layout::Bgra32: {
            const std::uint8_t* pixel = stored + std::size_t{left} * 4;
            for (unsigned x = 0; x < width; ++x, pixel += 4, out += 3) {
                const unsigned alpha = m_blendAlpha ? pixel[FI_RGBA_ALPHA] : 255;
                out[0] = Blend(pixel[FI_RGBA_RED], alpha, m_background.red);
                out[1] = Blend(pixel[FI_RGBA_GREEN], alpha, m_background.green);
                out[2] = Blend(pixel[FI_RGBA_BLUE], alpha, m_background.blue);
            }
            break;
        }
        case Layout::Indexed:
            for (unsigned x = left; x < left + width; ++x, out += 3) {
                const std::array<std::uint8_t, 3>& color =
                    m_palette[IndexAt(stored, x, m_indexBits)];
                out[0] = color[0];
                out[1] = color[1];
                out[2] = color[2];
            }
            break;
        case Layout::Rgb:
        case Layout::None:
            break;
    }
}

void ViewedImage::copy(unsigned left, unsigned top, unsigned width, unsigned height,
                       std::uint8_t* out) const {
    const std::size_t rowBytes = std::size_t{width} * 3;
    for (unsigned y = 0; y < height; ++y) copyRow(top + y, left, width, out + y * rowBytes);
}

RgbPixels ViewedImage::all() const {
    if (empty()) return {};
    RgbPixels pixels;
    pixels.width = m_width;
    pixels.height = m_height;
    pixels.bytes.resize(std::size_t{m_width} * m_height * 3);
    copy(0, 0, m_width, m_height, pixels.bytes.data());
    return pixels;
}

std::span<const std::uint8_t> ViewedImage::prepared() const {
    if (m_layout != Layout::Rgb) return {};
    return {m_bits, m_pitch * m_height};
}

RgbPixels CompositedRgb(FIBITMAP* bitmap, Background background) {
    return ViewedImage(bitmap, background).all();
}

ViewedImage DecodedViewedImage(int format, std::span<const std::uint8_t> encoded,
                               Background background) {
    const int flags = format == kFormatJpeg ? JPEG_ACCURATE : 0;
    return ViewedImage(Bitmap(FreeImage_LoadFromBytes(format, encoded, flags)), background);
}

RgbPixels DecodedCompositedRgb(int format, std::span<const std::uint8_t> encoded,
                               Background background) {
    return DecodedViewedImage(format, encoded, background).all();
}

}  // namespace pimo::imagelib
