#include "engine/imagelib/png_chunks_io.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace pimo::imagelib::png {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A chunk's length field is limited to 2^31 - 1 by the format.
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFFu;

std::uint32_t ChunkCrc(const std::uint8_t* typeAndData, std::size_t length) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes uInt lengths; feed large chunks in pieces.
    while (length > 0) {
        const uInt piece = static_cast<uInt>(std::min<std::size_t>(length, 1u << 30));
        crc = ::crc32(crc, typeAndData, piece);
        typeAndData += piece;
        length -= piece;
    }
    return static_cast<std::uint32_t>(crc);
}

// Chunk types are four ASCII letters; decoders refuse anything else.
bool IsValidType(ChunkType type) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        const std::uint8_t c = static_cast<std::uint8_t>(type >> shift);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

}  // namespace

std::span<const std::uint8_t> PngSignature() {
    return kSignature;
}

void AppendU32(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void AppendU16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

std::optional<std::vector<Chunk>> ParseChunks(std::span<const std::uint8_t> png) {
    if (png.size() < kSignature.size() ||
        !std::equal(kSignature.begin(), kSignature.end(), png.begin())) {
        return std::nullopt;
    }
    std::vector<Chunk> chunks;
    std::size_t pos = kSignature.size();
    while (true) {
        // Length, type and CRC need 12 bytes at least.
        if (png.size() - pos < 12) return std::nullopt;
        const std::uint32_t length = ReadU32(png.data() + pos);
        if (length > kMaxChunkLength || png.size() - pos - 12 < length) return std::nullopt;
        const std::uint8_t* typeAndData = png.data() + pos + 4;
        const ChunkType type = ReadU32(typeAndData);
        if (!IsValidType(type)) return std::nullopt;
        if (ReadU32(typeAndData + 4 + length) != ChunkCrc(typeAndData, 4 + std::size_t(length))) {
            return std::nullopt;
        }
        if (chunks.empty() && type != kIHDR) return std::nullopt;
        if (chunks.size() >= kMaxChunks) return std::nullopt;
        chunks.push_back(Chunk{type, Bytes(typeAndData + 4, typeAndData + 4 + length)});
        pos += 12 + std::size_t(length);
        if (type == kIEND) break;
    }
    if (pos != png.size()) return std::nullopt;
    return chunks;
}

void AppendChunk(Bytes& out, ChunkType type, std::span<const std::uint8_t> data) {
    AppendU32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    AppendU32(out, type);
    out.insert(out.end(), data.begin(), data.end());
    AppendU32(out, ChunkCrc(out.data() + typeAt, 4 + data.size()));
}

}  // namespace pimo::imagelib::png
