#pragma once
// Reading and writing the chunk structure of a PNG file. The input is
// untrusted: every length is checked against the buffer before it is used and
// the number of chunks is bounded.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace pimo::imagelib::png {

using Bytes = std::vector<std::uint8_t>;

/// A chunk type as the four bytes read big-endian ("IHDR" is 0x49484452).
using ChunkType = std::uint32_t;

constexpr ChunkType ChunkTypeOf(std::string_view name) {
    return (ChunkType(std::uint8_t(name[0])) << 24) | (ChunkType(std::uint8_t(name[1])) << 16) |
           (ChunkType(std::uint8_t(name[2])) << 8) | ChunkType(std::uint8_t(name[3]));
}

inline constexpr ChunkType kIHDR = ChunkTypeOf("IHDR");
inline constexpr ChunkType kPLTE = ChunkTypeOf("PLTE");
inline constexpr ChunkType kIDAT = ChunkTypeOf("IDAT");
inline constexpr ChunkType kIEND = ChunkTypeOf("IEND");
inline constexpr ChunkType ktRNS = ChunkTypeOf("tRNS");
inline constexpr ChunkType kbKGD = ChunkTypeOf("bKGD");
inline constexpr ChunkType khIST = ChunkTypeOf("hIST");
inline constexpr ChunkType ksBIT = ChunkTypeOf("sBIT");
inline constexpr ChunkType kiCCP = ChunkTypeOf("iCCP");
inline constexpr ChunkType kacTL = ChunkTypeOf("acTL");

/// Critical chunks have an upper-case first letter (bit 5 of the first byte clear).
constexpr bool IsCritical(ChunkType type) {
    return (type & 0x20000000u) == 0;
}
/// Editors may copy an unknown chunk only when its fourth letter is lower case.
constexpr bool IsSafeToCopy(ChunkType type) {
    return (type & 0x00000020u) != 0;
}

struct Chunk {
    ChunkType type = 0;
    Bytes data;
};

/// Upper bound on the chunks of one file; real files have a few dozen.
inline constexpr std::size_t kMaxChunks = 100000;

/// The chunks of a PNG from IHDR to IEND inclusive. Fails (nullopt) when the
/// signature is missing, a chunk runs past the end of the buffer, a chunk type
/// is not four letters, a CRC does not match, IHDR is not first, IEND is missing or bytes follow
/// it, or there are more than kMaxChunks chunks.
std::optional<std::vector<Chunk>> ParseChunks(std::span<const std::uint8_t> png);

/// Appends one chunk (length, type, data, CRC) to `out`.
void AppendChunk(Bytes& out, ChunkType type, std::span<const std::uint8_t> data);

/// The eight bytes every PNG starts with.
std::span<const std::uint8_t> PngSignature();

/// Big-endian helpers over bytes already known to be long enough.
inline std::uint32_t ReadU32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}
inline std::uint16_t ReadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
void AppendU32(Bytes& out, std::uint32_t value);
void AppendU16(Bytes& out, std::uint16_t value);

}  // namespace pimo::imagelib::png
