#pragma once
// Zopfli on large data: the data cut into parts that are compressed at the
// same time on the processor's cores and joined into one zlib stream.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace pimo::imagelib::png {

/// Runs `task(i)` for every i below `count` on up to `threads` threads
/// (the calling one among them); returns when all have finished. Tasks are
/// taken in order, so with one thread they run one after the other.
void RunInParallel(std::size_t count, unsigned threads,
                   const std::function<void(std::size_t)>& task);

/// The threads worth starting for parallel work: the processor's cores.
unsigned WorkerThreads();

/// Where `data` is cut: ascending ends of parts of about `partBytes` each
/// (never fewer than one part), every cut on a multiple of `unit` (a row of
/// filtered image data), the last end data.size().
std::vector<std::size_t> PartEnds(std::size_t size, std::size_t partBytes, std::size_t unit);

/// A complete zlib stream of `data` made by zopfli with `iterations` rounds:
/// each part a sequence of deflate blocks that may refer back into the parts
/// before it, every part but the last closed by an empty stored block (so
/// that the next begins on a byte), only the last block final, one Adler-32
/// over everything.
std::vector<std::uint8_t> ZopfliZlibStream(std::span<const std::uint8_t> data, int iterations,
                                           std::size_t partBytes, std::size_t unit);

/// Appends the first `bits` bits of `from` (least significant bit first, as
/// deflate packs them) to `to`, whose last byte holds `toBits` bits (0 to 7;
/// 0 when it is full or `to` is empty). Returns the bits now in `to`'s last
/// byte.
unsigned AppendBits(std::vector<std::uint8_t>& to, unsigned toBits,
                    std::span<const std::uint8_t> from, std::size_t bits);

}  // namespace pimo::imagelib::png
