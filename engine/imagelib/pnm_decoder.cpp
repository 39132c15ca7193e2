#include "engine/imagelib/pnm_decoder.h"

#include <cctype>
#include <cstring>
#include <optional>

namespace pimo::imagelib {

namespace {

struct PnmHeader {
    bool colour = false;  // P6; else P5
    unsigned width = 0;
    unsigned height = 0;
    unsigned maxValue = 0;
    std::size_t dataOffset = 0;
};

// Reads the header's numbers: decimal fields separated by whitespace, with
// comments from '#' to the end of the line.
class HeaderReader {
  public:
    explicit HeaderReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes), m_at(2) {}

    std::optional<unsigned> number() {
        skipSpaceAndComments();
        if (m_at >= m_bytes.size() || !std::isdigit(m_bytes[m_at])) return std::nullopt;
        std::uint64_t value = 0;
        while (m_at < m_bytes.size() && std::isdigit(m_bytes[m_at])) {
            value = value * 10 + (m_bytes[m_at++] - '0');
            if (value > 0xFFFFFF) return std::nullopt;  // no file of ours is that wide
        }
        return static_cast<unsigned>(value);
    }
    // Exactly one whitespace byte separates the last field from the samples.
    std::optional<std::size_t> dataOffset() const {
        if (m_at >= m_bytes.size() || !std::isspace(m_bytes[m_at])) return std::nullopt;
        return m_at + 1;
    }

  private:
    void skipSpaceAndComments() {
        while (m_at < m_bytes.size()) {
            if (m_bytes[m_at] == '#') {
                while (m_at < m_bytes.size() && m_bytes[m_at] != '\n' && m_bytes[m_at] != '\r')
                    ++m_at;
            } else if (std::isspace(m_bytes[m_at])) {
                ++m_at;
            } else {
                return;
            }
        }
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at;
};

std::optional<PnmHeader> ReadHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 3 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6'))
        return std::nullopt;
    PnmHeader header;
    header.colour = bytes[1] == '6';
    HeaderReader reader(bytes);
    const auto width = reader.number();
    const auto height = width ? reader.number() : std::nullopt;
    const auto maxValue = height ? reader.number() : std::nullopt;
    const auto offset = maxValue ? reader.dataOffset() : std::nullopt;
    if (!offset || *width == 0 || *height == 0) return std::nullopt;
    header.width = *width;
    header.height = *height;
    header.maxValue = *maxValue;
    header.dataOffset = *offset;
    return header;
}

FIBITMAP* AllocateGrey(unsigned width, unsigned height) {
    FIBITMAP* bitmap = ::FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8);
    if (!bitmap) return nullptr;
    RGBQUAD* palette = ::FreeImage_GetPalette(bitmap);
    for (unsigned i = 0; i < 256; ++i) {
        palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
    }
    return bitmap;
}

}  // namespace

FIBITMAP* DecodeBinaryPnm(std::span<const std::uint8_t> bytes) {
    const std::optional<PnmHeader> header = ReadHeader(bytes);
    if (!header || header->maxValue != 255) return nullptr;
    const std::size_t channels = header->colour ? 3 : 1;
    const std::size_t rowBytes = std::size_t{header->width} * channels;
    if ((bytes.size() - header->dataOffset) / rowBytes < header->height) return nullptr;

    FIBITMAP* bitmap = header->colour ? ::FreeImage_Allocate(static_cast<int>(header->width),
                                                             static_cast<int>(header->height), 24)
                                      : AllocateGrey(header->width, header->height);
    if (!bitmap) return nullptr;

    // The file's first row is the top one; the library stores rows bottom-up.
    const std::uint8_t* row = bytes.data() + header->dataOffset;
    for (unsigned y = 0; y < header->height; ++y, row += rowBytes) {
        BYTE* line = ::FreeImage_GetScanLine(bitmap, static_cast<int>(header->height - 1 - y));
        if (!header->colour) {
            std::memcpy(line, row, rowBytes);
            continue;
        }
        for (std::size_t x = 0; x < header->width; ++x) {
            line[3 * x + FI_RGBA_RED] = row[3 * x];
            line[3 * x + FI_RGBA_GREEN] = row[3 * x + 1];
            line[3 * x + FI_RGBA_BLUE] = row[3 * x + 2];
        }
    }
    return bitmap;
}

}  // namespace pimo::imagelib
