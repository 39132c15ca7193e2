#include "engine/imagelib/png_trials.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

#include "engine/imagelib/zopfli_parts.h"

namespace pimo::imagelib::png {

namespace {

// Input is fed in slices so that a candidate that is already too large stops
// without compressing the rest.
constexpr std::size_t kSlice = 64 * 1024;

std::optional<Bytes> ZlibStream(std::span<const std::uint8_t> data, const DeflateMethod& method,
                                std::size_t limit) {
    z_stream stream{};
    if (::deflateInit2(&stream, method.level, Z_DEFLATED, 15, method.memLevel, method.strategy) !=
        Z_OK) {
        return std::nullopt;
    }
    Bytes out(std::min<std::size_t>(
        limit,
        ::deflateBound(&stream, static_cast<uLong>(std::min<std::size_t>(data.size(), 1u << 30))) +
            64));
    std::size_t consumed = 0;
    bool finished = false;
    bool tooLarge = false;
    while (!finished && !tooLarge) {
        const std::size_t slice = std::min(kSlice, data.size() - consumed);
        stream.next_in = const_cast<Bytef*>(data.data() + consumed);
        stream.avail_in = static_cast<uInt>(slice);
        const int flush = consumed + slice == data.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            if (stream.total_out >= out.size()) {
                if (out.size() >= limit) {
                    tooLarge = true;
                    break;
                }
                out.resize(std::min(limit, out.size() * 2 + 1024));
            }
            stream.next_out = out.data() + stream.total_out;
            stream.avail_out =
                static_cast<uInt>(std::min<std::size_t>(out.size() - stream.total_out, 1u << 30));
            const int result = ::deflate(&stream, flush);
            if (result == Z_STREAM_END) finished = true;
            if (result == Z_STREAM_ERROR) tooLarge = true;
        } while (!finished && !tooLarge && (stream.avail_out == 0 || stream.avail_in > 0));
        consumed += slice;
    }
    const std::size_t size = stream.total_out;
    ::deflateEnd(&stream);
    if (!finished || size >= limit) return std::nullopt;
    out.resize(size);
    return out;
}

std::optional<Bytes> ZopfliStream(std::span<const std::uint8_t> data, const DeflateMethod& method,
                                  std::size_t limit, std::size_t unit) {
    Bytes stream = ZopfliZlibStream(data, method.iterations, kZopfliPartBytes, unit);
    if (stream.size() >= limit) return std::nullopt;
    return stream;
}

}  // namespace

std::optional<Bytes> DeflatedStream(std::span<const std::uint8_t> data, const DeflateMethod& method,
                                    std::size_t limit, std::size_t unit) {
    return method.engine == DeflateMethod::Engine::kZopfli ? ZopfliStream(data, method, limit, unit)
                                                           : ZlibStream(data, method, limit);
}

TrialEvaluator::TrialEvaluator(const PngImage& image, std::size_t bound)
    : m_image(image), m_bound(bound) {}

const Bytes& TrialEvaluator::Filtered(FilterStrategy strategy) {
    if (m_filteredFor != strategy) {
        m_filtered = FilteredImageData(m_image, strategy);
        m_filteredFor = strategy;
    }
    return m_filtered;
}

bool TrialEvaluator::Tried(const Candidate& candidate) const {
    return std::find(m_tried.begin(), m_tried.end(), candidate) != m_tried.end();
}

bool TrialEvaluator::Remember(const Candidate& candidate) {
    if (Tried(candidate)) return false;
    m_tried.push_back(candidate);
    return true;
}

std::optional<std::size_t> TrialEvaluator::Try(const Candidate& candidate) {
    if (!Remember(candidate)) return std::nullopt;
    const std::size_t limit = m_best ? m_best->stream.size() : m_bound;
    std::optional<Bytes> stream = DeflatedStream(Filtered(candidate.filter), candidate.deflate,
                                                 limit, m_image.RowBytes() + 1);
    if (!stream) return std::nullopt;
    const std::size_t size = stream->size();
    m_best = TrialOutcome{candidate, std::move(*stream)};
    return size;
}

void TrialEvaluator::TryAll(std::span<const Candidate> candidates) {
    std::vector<Candidate> fresh;
    for (const Candidate& candidate : candidates) {
        if (Remember(candidate)) fresh.push_back(candidate);
    }
    if (fresh.empty()) return;
    // Zopfli spreads over the cores by itself: its candidates go one by one.
    const bool zopfli = std::any_of(fresh.begin(), fresh.end(), [](const Candidate& c) {
        return c.deflate.engine == DeflateMethod::Engine::kZopfli;
    });
    const unsigned threads = zopfli ? 1 : WorkerThreads();

    // Every stream of the batch smaller than the best before it competes; a
    // candidate stops once it is larger than the batch's best, so a tie
    // still finishes and goes to the earlier candidate, whatever the timing.
    const std::size_t before = m_best ? m_best->stream.size() : m_bound;
    std::mutex mutex;
    std::optional<Bytes> batchBest;
    std::size_t batchIndex = 0;
    // Groups of candidates in order, each over as many filters as there are
    // threads, so that the filtered copies held at once stay few.
    const std::size_t filtersAtOnce = std::max(2u, threads);
    for (std::size_t first = 0; first < fresh.size();) {
        std::map<FilterStrategy, Bytes> filtered;
        std::size_t end = first;
        for (; end < fresh.size(); ++end) {
            if (filtered.size() == filtersAtOnce && !filtered.count(fresh[end].filter)) break;
            filtered.emplace(fresh[end].filter, Bytes{});
        }
        std::vector<FilterStrategy> filters;
        for (const auto& entry : filtered) filters.push_back(entry.first);
        RunInParallel(filters.size(), WorkerThreads(), [&](std::size_t i) {
            filtered.at(filters[i]) = FilteredImageData(m_image, filters[i]);
        });
        RunInParallel(end - first, threads, [&](std::size_t offset) {
            const std::size_t i = first + offset;
            std::size_t limit = before;
            {
                const std::lock_guard lock(mutex);
                if (batchBest) limit = std::min(limit, batchBest->size() + 1);
            }
            std::optional<Bytes> stream = DeflatedStream(
                filtered.at(fresh[i].filter), fresh[i].deflate, limit, m_image.RowBytes() + 1);
            if (!stream) return;
            const std::lock_guard lock(mutex);
            const bool better = !batchBest || stream->size() < batchBest->size() ||
                                (stream->size() == batchBest->size() && i < batchIndex);
            if (better) batchBest = std::move(stream), batchIndex = i;
        });
        first = end;
    }
    if (batchBest) m_best = TrialOutcome{fresh[batchIndex], std::move(*batchBest)};
}

std::span<const std::uint8_t> MiddleBand(const Bytes& filtered, const PngImage& image,
                                         std::size_t maxBytes) {
    const std::size_t lineBytes = image.RowBytes() + 1;
    const std::size_t lines = std::clamp<std::size_t>(maxBytes / lineBytes, 1, image.height);
    const std::size_t first = (image.height - lines) / 2;
    return std::span<const std::uint8_t>(filtered.data() + first * lineBytes, lines * lineBytes);
}

std::vector<RankedFilter> FiltersRanked(const PngImage& image,
                                        std::span<const FilterStrategy> filters,
                                        const DeflateMethod& method, std::size_t sampleBytes) {
    std::vector<RankedFilter> ranked;
    for (const FilterStrategy filter : filters) {
        const Bytes filtered = FilteredImageData(image, filter);
        const std::optional<Bytes> stream =
            DeflatedStream(MiddleBand(filtered, image, sampleBytes), method,
                           std::numeric_limits<std::size_t>::max());
        ranked.push_back(RankedFilter{
            filter, stream ? stream->size() : std::numeric_limits<std::size_t>::max()});
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const RankedFilter& a, const RankedFilter& b) { return a.size < b.size; });
    return ranked;
}

}  // namespace pimo::imagelib::png
