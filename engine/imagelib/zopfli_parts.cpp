#include "engine/imagelib/zopfli_parts.h"

#include <zlib.h>
#include <zopfli.h>
#include <zopfli/deflate.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <thread>

namespace pimo::imagelib::png {

void RunInParallel(std::size_t count, unsigned threads,
                   const std::function<void(std::size_t)>& task) {
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) task(i);
    };
    const std::size_t helpers = std::min<std::size_t>(std::max(1u, threads), count) - (count > 0);
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (std::size_t i = 0; i < helpers; ++i) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
}

unsigned WorkerThreads() {
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<std::size_t> PartEnds(std::size_t size, std::size_t partBytes, std::size_t unit) {
    unit = std::max<std::size_t>(1, unit);
    partBytes = std::max(partBytes, unit);
    const std::size_t parts = std::max<std::size_t>(1, (size + partBytes / 2) / partBytes);
    std::vector<std::size_t> ends;
    for (std::size_t i = 1; i < parts; ++i) {
        // The cut nearest to an equal share, on a unit boundary.
        const std::size_t share = size / parts * i + size % parts * i / parts;
        const std::size_t cut = (share + unit / 2) / unit * unit;
        if (cut > (ends.empty() ? 0 : ends.back()) && cut < size) ends.push_back(cut);
    }
    ends.push_back(size);
    return ends;
}

unsigned AppendBits(std::vector<std::uint8_t>& to, unsigned toBits,
                    std::span<const std::uint8_t> from, std::size_t bits) {
    const std::size_t whole = bits / 8;
    if (toBits == 0) {
        to.insert(to.end(), from.begin(), from.begin() + static_cast<std::ptrdiff_t>(whole));
    } else {
        to.reserve(to.size() + whole + 1);
        for (std::size_t i = 0; i < whole; ++i) {
            to.back() = static_cast<std::uint8_t>(to.back() | (from[i] << toBits));
            to.push_back(static_cast<std::uint8_t>(from[i] >> (8 - toBits)));
        }
    }
    for (std::size_t i = whole * 8; i < bits; ++i) {
        const unsigned bit = (from[i / 8] >> (i % 8)) & 1u;
        if (toBits == 0) to.push_back(0);
        to.back() = static_cast<std::uint8_t>(to.back() | (bit << toBits));
        toBits = (toBits + 1) % 8;
    }
    return toBits;
}

namespace {

struct Part {
    std::vector<std::uint8_t> bytes;
    std::size_t bits = 0;
};

Part CompressPart(std::span<const std::uint8_t> data, std::size_t begin, std::size_t end, bool last,
                  int iterations) {
    ZopfliOptions options;
    ::ZopfliInitOptions(&options);
    options.numiterations = std::max(1, iterations);
    unsigned char bp = 0;
    unsigned char* out = nullptr;
    std::size_t size = 0;
    ::ZopfliDeflatePart(&options, 2, last ? 1 : 0, data.data(), begin, end, &bp, &out, &size);
    Part part;
    part.bytes.assign(out, out + size);
    std::free(out);
    // bp counts the bits used in the last byte; 0 when that byte is full.
    part.bits = size * 8 - (bp == 0 ? 0 : 8u - bp);
    if (!last) {
        // An empty stored block ends the part on a byte boundary, so that the
        // next one starts on a byte as it did alone: zopfli's own stored
        // blocks align to bytes of the part's buffer, which must be bytes of
        // the whole stream too.
        const std::array<std::uint8_t, 1> header = {0};  // not final, stored
        std::vector<std::uint8_t> ending(
            part.bytes.begin(),
            part.bytes.begin() + static_cast<std::ptrdiff_t>((part.bits + 7) / 8));
        AppendBits(ending, static_cast<unsigned>(part.bits % 8), header, 3);
        ending.insert(ending.end(), {0x00, 0x00, 0xFF, 0xFF});
        part.bytes = std::move(ending);
        part.bits = part.bytes.size() * 8;
    }
    return part;
}

std::uint32_t Adler32(std::span<const std::uint8_t> data) {
    uLong adler = ::adler32(0, nullptr, 0);
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t slice = std::min<std::size_t>(data.size() - at, 1u << 30);
        adler = ::adler32(adler, data.data() + at, static_cast<uInt>(slice));
        at += slice;
    }
    return static_cast<std::uint32_t>(adler);
}

}  // namespace

std::vector<std::uint8_t> ZopfliZlibStream(std::span<const std::uint8_t> data, int iterations,
                                           std::size_t partBytes, std::size_t unit) {
    const std::vector<std::size_t> ends = PartEnds(data.size(), partBytes, unit);
    std::vector<Part> parts(ends.size());
    RunInParallel(parts.size(), WorkerThreads(), [&](std::size_t i) {
        const std::size_t begin = i == 0 ? 0 : ends[i - 1];
        parts[i] = CompressPart(data, begin, ends[i], i + 1 == ends.size(), iterations);
    });
    // Header: deflate with a 32 KiB window, maximum compression, no dictionary.
    // Every part but the last ends on a byte, so the parts join byte by byte.
    std::vector<std::uint8_t> out = {0x78, 0xDA};
    unsigned bits = 0;
    for (const Part& part : parts) bits = AppendBits(out, bits, part.bytes, part.bits);
    const std::uint32_t adler = Adler32(data);
    for (const int shift : {24, 16, 8, 0}) out.push_back(static_cast<std::uint8_t>(adler >> shift));
    return out;
}

}  // namespace pimo::imagelib::png
