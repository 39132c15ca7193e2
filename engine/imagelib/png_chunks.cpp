#include "engine/imagelib/png_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace pimo::imagelib {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kMinProfileSize = 132;  // header and tag count

std::uint32_t Be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// Inflates a zlib stream, giving up beyond `limit` bytes of output.
std::vector<std::uint8_t> Inflate(std::span<const std::uint8_t> input, std::size_t limit) {
    if (input.size() > std::numeric_limits<uInt>::max()) return {};
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return {};
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    std::vector<std::uint8_t> out;
    int status = Z_OK;
    while (status == Z_OK) {
        const std::size_t done = out.size();
        if (done >= limit) break;
        const std::size_t step = std::min<std::size_t>(limit - done, 64 * 1024);
        out.resize(done + step);
        stream.next_out = out.data() + done;
        stream.avail_out = static_cast<uInt>(step);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(done + step - stream.avail_out);
        if (status == Z_BUF_ERROR && stream.avail_in == 0) break;  // input ended early
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return {};
    return out;
}

std::vector<std::uint8_t> ProfileFromIccp(std::span<const std::uint8_t> data) {
    // Name of 1 to 79 Latin-1 characters, a NUL, compression method 0.
    const std::size_t nameEnd = static_cast<std::size_t>(
        std::find(data.begin(), data.begin() + std::min<std::size_t>(data.size(), 80), 0) -
        data.begin());
    if (nameEnd == 0 || nameEnd >= 80 || nameEnd + 2 > data.size() || data[nameEnd + 1] != 0) {
        return {};
    }
    std::vector<std::uint8_t> profile = Inflate(data.subspan(nameEnd + 2), kMaxPngProfileSize);
    if (profile.size() < kMinProfileSize || Be32(profile.data()) != profile.size()) return {};
    return profile;
}

}  // namespace

std::vector<std::uint8_t> PngIccProfile(std::span<const std::uint8_t> png) {
    if (png.size() < sizeof kSignature ||
        std::memcmp(png.data(), kSignature, sizeof kSignature) != 0) {
        return {};
    }
    std::size_t at = sizeof kSignature;
    while (png.size() - at >= 12) {
        const std::uint32_t length = Be32(png.data() + at);
        if (length > png.size() - at - 12) return {};  // runs past the end
        const std::uint8_t* type = png.data() + at + 4;
        const auto data = png.subspan(at + 8, length);
        // The profile must come before the image data.
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) return {};
        if (std::memcmp(type, "iCCP", 4) == 0) {
            const uLong crc = crc32_z(0, type, std::size_t{length} + 4);
            if (crc != Be32(png.data() + at + 8 + length)) return {};
            return ProfileFromIccp(data);
        }
        at += 12 + std::size_t{length};
    }
    return {};
}

}  // namespace pimo::imagelib
