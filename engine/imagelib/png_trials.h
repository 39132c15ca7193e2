#pragma once
// Compression trials: a candidate is a filter strategy and a deflate method;
// one evaluator compresses candidates in the order given and keeps the
// smallest zlib stream.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "engine/imagelib/png_filters.h"
#include "engine/imagelib/png_image.h"

namespace pimo::imagelib::png {

struct DeflateMethod {
    enum class Engine { kZlib, kZopfli };
    Engine engine = Engine::kZlib;
    /// zlib: compression level, strategy (Z_DEFAULT_STRATEGY, Z_FILTERED,
    /// Z_HUFFMAN_ONLY, Z_RLE) and memory level.
    int level = 9;
    int strategy = 0;
    int memLevel = 9;
    /// zopfli: rounds of its iterative search.
    int iterations = 0;
    bool operator==(const DeflateMethod&) const = default;
};

struct Candidate {
    FilterStrategy filter = FilterStrategy::kNone;
    DeflateMethod deflate;
    bool operator==(const Candidate&) const = default;
};

struct TrialOutcome {
    Candidate candidate;
    Bytes stream;  // a complete zlib stream of the filtered image data
};

class TrialEvaluator {
  public:
    /// `bound`: a stream of this many bytes or more is of no use (the file
    /// would not get smaller), so candidates stop as soon as they reach it.
    TrialEvaluator(const PngImage& image, std::size_t bound);

    /// Compresses the image as `candidate` says and keeps the result when it
    /// is strictly smaller than the best so far, so that on a tie the earlier
    /// candidate stays. Returns the stream size, or nullopt when the candidate
    /// was stopped early or had been tried before (plans build on each other).
    std::optional<std::size_t> Try(const Candidate& candidate);

    /// Tries the candidates not tried before at the same time, on the
    /// processor's cores, with the outcome of trying them one after the other
    /// in the order given: the smallest stream, on a tie the earlier one.
    void TryAll(std::span<const Candidate> candidates);

    /// Whether `candidate` was tried already.
    bool Tried(const Candidate& candidate) const;

    /// The smallest stream so far; nullopt while no candidate beat the bound.
    const std::optional<TrialOutcome>& Best() const { return m_best; }

  private:
    const Bytes& Filtered(FilterStrategy strategy);
    // Remembers `candidate`; false when it was tried before.
    bool Remember(const Candidate& candidate);

    const PngImage& m_image;
    std::size_t m_bound;
    std::optional<TrialOutcome> m_best;
    std::vector<Candidate> m_tried;
    // The filtered data of the last strategy asked for; plans try one filter
    // with several methods in a row.
    std::optional<FilterStrategy> m_filteredFor;
    Bytes m_filtered;
};

/// A zlib stream of `data`, or nullopt when it reaches `limit` bytes first
/// (zopfli always runs to the end and is judged afterwards). Zopfli works on
/// parts of the data at once, cut on multiples of `unit` bytes.
std::optional<Bytes> DeflatedStream(std::span<const std::uint8_t> data, const DeflateMethod& method,
                                    std::size_t limit, std::size_t unit = 1);

/// The size of the parts zopfli compresses at the same time.
inline constexpr std::size_t kZopfliPartBytes = 1000 * 1000;

struct RankedFilter {
    FilterStrategy filter;
    std::size_t size;  // of the zlib stream under the ranking method
};

/// The rows in the middle of filtered image data, at most `maxBytes` of them
/// (at least one row): a sample that stands for the whole image in probes.
std::span<const std::uint8_t> MiddleBand(const Bytes& filtered, const PngImage& image,
                                         std::size_t maxBytes);

/// The strategies ordered by the size of their data under `method`, smallest
/// first, ties in the order given. A probe: the streams are not kept, and
/// only the middle band of at most `sampleBytes` is compressed.
std::vector<RankedFilter> FiltersRanked(const PngImage& image,
                                        std::span<const FilterStrategy> filters,
                                        const DeflateMethod& method, std::size_t sampleBytes);

}  // namespace pimo::imagelib::png
