#include "engine/imagelib/png_filters.h"

#include <zlib.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace pimo::imagelib::png {

namespace {

constexpr int kFilterTypes = 5;

std::uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Filters one row with filter `type`; `prior` is null for the first row.
void FilterRow(int type, const std::uint8_t* row, const std::uint8_t* prior, std::size_t n,
               unsigned distance, std::uint8_t* out) {
    switch (type) {
        case 0:
            std::memcpy(out, row, n);
            break;
        case 1:
            for (std::size_t i = 0; i < n; ++i)
                out[i] = row[i] - (i >= distance ? row[i - distance] : 0);
            break;
        case 2:
            for (std::size_t i = 0; i < n; ++i) out[i] = row[i] - (prior ? prior[i] : 0);
            break;
        case 3:
            for (std::size_t i = 0; i < n; ++i) {
                const int left = i >= distance ? row[i - distance] : 0;
                const int up = prior ? prior[i] : 0;
                out[i] = static_cast<std::uint8_t>(row[i] - ((left + up) >> 1));
            }
            break;
        default:
            if (!prior) {
                // Without a row above, Paeth predicts from the left only.
                for (std::size_t i = 0; i < n; ++i)
                    out[i] = row[i] - (i >= distance ? row[i - distance] : 0);
                break;
            }
            for (std::size_t i = 0; i < distance && i < n; ++i) out[i] = row[i] - prior[i];
            for (std::size_t i = distance; i < n; ++i) {
                out[i] = row[i] - Paeth(row[i - distance], prior[i], prior[i - distance]);
            }
            break;
    }
}

// Scores the five filtered versions of a row; the lowest score wins.
class RowScorer {
  public:
    virtual ~RowScorer() = default;
    virtual double Score(const std::uint8_t* filtered, std::size_t n) = 0;
    /// Told the chosen filtered row, for scorers that look back.
    virtual void Chosen(const std::uint8_t*, std::size_t) {}
};

class MinSumScorer : public RowScorer {
  public:
    double Score(const std::uint8_t* data, std::size_t n) override {
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < n; ++i)
            sum += static_cast<unsigned>(std::abs(static_cast<std::int8_t>(data[i])));
        return static_cast<double>(sum);
    }
};

class EntropyScorer : public RowScorer {
  public:
    explicit EntropyScorer(std::size_t n) : m_xLogX(n + 2) {
        for (std::size_t c = 1; c < m_xLogX.size(); ++c)
            m_xLogX[c] = double(c) * std::log2(double(c));
    }
    double Score(const std::uint8_t* data, std::size_t n) override {
        std::array<std::uint32_t, 256> counts{};
        for (std::size_t i = 0; i < n; ++i) ++counts[data[i]];
        // The filter type byte counts too, so n + 1 symbols; the constant n log n
        // is the same for every filter, so only the sum matters.
        double sum = 0;
        for (const std::uint32_t c : counts) sum += m_xLogX[c];
        return -sum;
    }

  private:
    std::vector<double> m_xLogX;
};

class BigramScorer : public RowScorer {
  public:
    BigramScorer() : m_seen(65536, 0) {}
    double Score(const std::uint8_t* data, std::size_t n) override {
        ++m_generation;
        std::size_t distinct = 0;
        for (std::size_t i = 1; i < n; ++i) {
            std::uint32_t& mark = m_seen[(unsigned(data[i - 1]) << 8) | data[i]];
            if (mark != m_generation) mark = m_generation, ++distinct;
        }
        return static_cast<double>(distinct);
    }

  private:
    std::vector<std::uint32_t> m_seen;
    std::uint32_t m_generation = 0;
};

// Deflates the candidate row after the rows chosen before it (as a preset
// dictionary) and scores the compressed size.
class BruteForceScorer : public RowScorer {
  public:
    explicit BruteForceScorer(std::size_t n) : m_out(::compressBound(static_cast<uLong>(n)) + 64) {
        m_ok = ::deflateInit2(&m_stream, 9, Z_DEFLATED, 15, 8, Z_FILTERED) == Z_OK;
    }
    ~BruteForceScorer() override {
        if (m_ok) ::deflateEnd(&m_stream);
    }
    BruteForceScorer(const BruteForceScorer&) = delete;
    BruteForceScorer& operator=(const BruteForceScorer&) = delete;

    double Score(const std::uint8_t* data, std::size_t n) override {
        if (!m_ok) return 0;
        ::deflateReset(&m_stream);
        if (!m_context.empty()) {
            ::deflateSetDictionary(&m_stream, m_context.data(),
                                   static_cast<uInt>(m_context.size()));
        }
        m_stream.next_in = const_cast<Bytef*>(data);
        m_stream.avail_in = static_cast<uInt>(n);
        m_stream.next_out = m_out.data();
        m_stream.avail_out = static_cast<uInt>(m_out.size());
        ::deflate(&m_stream, Z_FINISH);
        return static_cast<double>(m_out.size() - m_stream.avail_out);
    }
    void Chosen(const std::uint8_t* data, std::size_t n) override {
        // The window the next row can refer to: the last few rows, at most 16 KiB.
        m_context.insert(m_context.end(), data, data + n);
        constexpr std::size_t kContext = 16 * 1024;
        if (m_context.size() > kContext)
            m_context.erase(m_context.begin(), m_context.end() - kContext);
    }

  private:
    z_stream m_stream{};
    bool m_ok = false;
    Bytes m_out;
    Bytes m_context;
};

std::unique_ptr<RowScorer> ScorerFor(FilterStrategy strategy, std::size_t rowBytes) {
    switch (strategy) {
        case FilterStrategy::kMinSum:
            return std::make_unique<MinSumScorer>();
        case FilterStrategy::kEntropy:
            return std::make_unique<EntropyScorer>(rowBytes);
        case FilterStrategy::kBigrams:
            return std::make_unique<BigramScorer>();
        case FilterStrategy::kBruteForce:
            return std::make_unique<BruteForceScorer>(rowBytes + 1);
        default:  // the fixed filters, and the input's own
            return nullptr;
    }
}

}  // namespace

Bytes FilteredImageData(const PngImage& image, FilterStrategy strategy) {
    const bool asInput =
        strategy == FilterStrategy::kAsInput && image.inputFilters.size() == image.height;
    if (strategy == FilterStrategy::kAsInput && !asInput) strategy = FilterStrategy::kMinSum;
    const std::size_t n = image.RowBytes();
    const unsigned distance = image.FilterDistance();
    Bytes out(image.height * (n + 1));
    std::unique_ptr<RowScorer> scorer = ScorerFor(strategy, n);
    // Scratch rows for the heuristics: the filter type byte, then the row.
    std::vector<Bytes> trial(scorer ? kFilterTypes : 0, Bytes(n + 1));
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        const std::uint8_t* prior = y > 0 ? image.Row(y - 1) : nullptr;
        std::uint8_t* target = out.data() + y * (n + 1);
        if (!scorer) {
            target[0] = asInput ? image.inputFilters[y] : static_cast<std::uint8_t>(strategy);
            FilterRow(target[0], row, prior, n, distance, target + 1);
            continue;
        }
        int bestType = 0;
        double bestScore = 0;
        for (int type = 0; type < kFilterTypes; ++type) {
            trial[type][0] = static_cast<std::uint8_t>(type);
            FilterRow(type, row, prior, n, distance, trial[type].data() + 1);
            const double score = scorer->Score(trial[type].data(), n + 1);
            if (type == 0 || score < bestScore) bestType = type, bestScore = score;
        }
        std::memcpy(target, trial[bestType].data(), n + 1);
        scorer->Chosen(target, n + 1);
    }
    return out;
}

}  // namespace pimo::imagelib::png
