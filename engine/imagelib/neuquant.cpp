#include "engine/imagelib/neuquant.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

// The network's constants, as Dekker published them.
constexpr int kCycles = 100;       // learning cycles
constexpr int kNetBiasShift = 4;   // colour values are kept << 4
constexpr int kIntBiasShift = 16;  // frequency and bias fixed point
constexpr int kIntBias = 1 << kIntBiasShift;
constexpr int kBetaShift = 10;
constexpr int kBeta = kIntBias >> kBetaShift;  // 1/1024
constexpr int kRadiusBiasShift = 6;
constexpr int kRadiusBias = 1 << kRadiusBiasShift;
constexpr int kRadiusDec = 30;  // radius shrinks by 1/30 each cycle
constexpr int kAlphaBiasShift = 10;
constexpr int kInitAlpha = 1 << kAlphaBiasShift;
constexpr int kRadBiasShift = 8;
constexpr int kRadBias = 1 << kRadBiasShift;
constexpr int kAlphaRadBias = 1 << (kAlphaBiasShift + kRadBiasShift);
// Steps through the pixels: primes, so that a step rarely divides the count.
constexpr std::array<unsigned, 4> kPrimes{499, 491, 487, 503};
// Pixels the network learns from at most (it allows a sampling factor up to 30).
constexpr std::uint64_t kLearningSamples = 1u << 20;
constexpr int kMaxSamplingFactor = 30;

// Where the network's samples come from: every `step`-th pixel of a 24- or
// 32-bit bitmap, wrapping around.
struct Samples {
    const BYTE* bits;
    unsigned pitch, width, bytesPerPixel;
    std::uint64_t pixels, count;
    int samplingFactor;
};

// Dekker's Kohonen network, in integer arithmetic so that every build and
// every instruction set learns the same palette.
class Network {
  public:
    explicit Network(int size)
        : m_size(size),
          m_b(size),
          m_g(size),
          m_r(size),
          m_freq(size, kIntBias / size),
          m_startFreq(kIntBias / size),
          m_radPower(static_cast<std::size_t>(size >> 3) + 1) {
        for (int i = 0; i < size; ++i) {
            m_b[i] = m_g[i] = m_r[i] = (i << (kNetBiasShift + 8)) / size;
        }
    }

    // Trains on the samples. Inlined into the callers below, which compile it
    // for different instruction sets.
    [[gnu::always_inline]] void learn(const Samples& samples) {
        const int alphaDec = 30 + (samples.samplingFactor - 1) / 3;
        const std::uint64_t delta = std::max<std::uint64_t>(samples.count / kCycles, 1);
        int alpha = kInitAlpha;
        int radius = (m_size >> 3) * kRadiusBias;
        int rad = setRadius(radius, alpha);
        unsigned step = kPrimes[3];
        for (unsigned prime : kPrimes) {
            if (samples.pixels % prime != 0) {
                step = prime;
                break;
            }
        }
        // The sample at `position` is at (column, row); stepping and
        // wrapping around are kept apart from divisions, which would cost
        // as much as the rest of a step.
        const std::uint64_t stride = step % samples.pixels;
        const std::uint64_t strideRows = stride / samples.width,
                            strideColumns = stride % samples.width;
        const std::uint64_t rows = samples.pixels / samples.width;
        std::uint64_t row = 0, column = 0;
        std::uint64_t untilNextCycle = delta;
        for (std::uint64_t i = 0; i < samples.count; ++i) {
            const BYTE* p = samples.bits + row * samples.pitch + column * samples.bytesPerPixel;
            const int b = p[FI_RGBA_BLUE] << kNetBiasShift, g = p[FI_RGBA_GREEN] << kNetBiasShift,
                      r = p[FI_RGBA_RED] << kNetBiasShift;
            const int winner = contest(b, g, r);
            moveNeuron(winner, kInitAlpha, alpha, b, g, r);
            if (rad > 0) moveNeighbours(rad, winner, b, g, r);
            column += strideColumns;
            row += strideRows;
            if (column >= samples.width) {
                column -= samples.width;
                ++row;
            }
            if (row >= rows) row -= rows;
            if (--untilNextCycle == 0) {
                untilNextCycle = delta;
                alpha -= alpha / alphaDec;
                radius -= radius / kRadiusDec;
                rad = setRadius(radius, alpha);
            }
        }
    }

    // The palette: colours rounded back to 8 bits.
    std::vector<RGBQUAD> palette() const {
        std::vector<RGBQUAD> colours(static_cast<std::size_t>(m_size));
        const auto unbias = [](int v) {
            return static_cast<BYTE>(
                std::clamp((v + (1 << (kNetBiasShift - 1))) >> kNetBiasShift, 0, 255));
        };
        for (int i = 0; i < m_size; ++i)
            colours[i] = RGBQUAD{unbias(m_b[i]), unbias(m_g[i]), unbias(m_r[i]), 0};
        return colours;
    }

  private:
    int setRadius(int radius, int alpha) {
        int rad = radius >> kRadiusBiasShift;
        if (rad <= 1) rad = 0;
        for (int i = 0; i < rad; ++i) {
            m_radPower[i] = alpha * (((rad * rad - i * i) * kRadBias) / (rad * rad));
        }
        return rad;
    }

    // The neuron nearest to the colour, weighed against how often each neuron
    // has won so that rarely used neurons get a chance; frequencies decay
    // towards that balance for every neuron. The published algorithm also
    // keeps a bias per neuron, but every change to a bias is -1024 times the
    // change to its frequency, from a bias of 0 at the starting frequency:
    // the bias is (start - frequency) << 10 exactly, and the biased distance
    // needs only (start - frequency) >> 2. Distance and position are packed
    // into one number (distance * 256 + position) so that the search is a
    // branch-free minimum the compiler vectorises; ties still go to the
    // lowest position.
    [[gnu::always_inline]] int contest(int b, int g, int r) {
        const int size = m_size, startFreq = m_startFreq;
        const int* nb = m_b.data();
        const int* ng = m_g.data();
        const int* nr = m_r.data();
        int* freq = m_freq.data();
        int best = INT32_MAX, bestBiased = INT32_MAX;
        for (int i = 0; i < size; ++i) {
            const int distance = std::abs(nb[i] - b) + std::abs(ng[i] - g) + std::abs(nr[i] - r);
            best = std::min(best, distance * 256 + i);
            const int biasDistance = distance - ((startFreq - freq[i]) >> 2);
            bestBiased = std::min(bestBiased, biasDistance * 256 + i);
            freq[i] -= freq[i] >> kBetaShift;
        }
        m_freq[best & 255] += kBeta;
        return bestBiased & 255;
    }

    void moveNeuron(int i, int scale, int alpha, int b, int g, int r) {
        m_b[i] -= alpha * (m_b[i] - b) / scale;
        m_g[i] -= alpha * (m_g[i] - g) / scale;
        m_r[i] -= alpha * (m_r[i] - r) / scale;
    }

    // The neighbours within `rad` positions move towards the colour, less the
    // farther they are. Each side is one loop that the compiler vectorises.
    [[gnu::always_inline]] void moveNeighbours(int rad, int i, int b, int g, int r) {
        const int above = std::min(rad, m_size - i), below = std::min(rad, i + 1);
        int* nb = m_b.data();
        int* ng = m_g.data();
        int* nr = m_r.data();
        const int* power = m_radPower.data();
        for (int q = 1; q < above; ++q) {
            nb[i + q] -= power[q] * (nb[i + q] - b) / kAlphaRadBias;
            ng[i + q] -= power[q] * (ng[i + q] - g) / kAlphaRadBias;
            nr[i + q] -= power[q] * (nr[i + q] - r) / kAlphaRadBias;
        }
        for (int q = 1; q < below; ++q) {
            nb[i - q] -= power[q] * (nb[i - q] - b) / kAlphaRadBias;
            ng[i - q] -= power[q] * (ng[i - q] - g) / kAlphaRadBias;
            nr[i - q] -= power[q] * (nr[i - q] - r) / kAlphaRadBias;
        }
    }

    int m_size;
    std::vector<int> m_b, m_g, m_r, m_freq;
    int m_startFreq;
    std::vector<int> m_radPower;
};

void LearnPortable(Network& network, const Samples& samples) {
    network.learn(samples);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// The same learning eight neurons at a time where the processor has AVX2.
[[gnu::target("avx2")]] void LearnAvx2(Network& network, const Samples& samples) {
    network.learn(samples);
}

// And sixteen at a time where it has AVX-512: each compiler has its own way
// of asking for vectors that wide.
#if defined(__clang__)
#define PIMO_WIDE_VECTORS [[gnu::target("avx512f,avx512bw,avx512vl"), clang::min_vector_width(512)]]
#else
#define PIMO_WIDE_VECTORS [[gnu::target("avx512f,avx512bw,avx512vl,prefer-vector-width=512")]]
#endif
PIMO_WIDE_VECTORS void LearnAvx512(Network& network, const Samples& samples) {
    network.learn(samples);
}

void Learn(Network& network, const Samples& samples) {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl")) {
        LearnAvx512(network, samples);
    } else if (__builtin_cpu_supports("avx2")) {
        LearnAvx2(network, samples);
    } else {
        LearnPortable(network, samples);
    }
}
#else
void Learn(Network& network, const Samples& samples) {
    LearnPortable(network, samples);
}
#endif

// Colours and palette entries are packed as 0xRRGGBB, an entry with its
// index in the top byte. The sum of the three low bytes of each 32-bit lane.
#if defined(__SSE2__)
__m128i ChannelSums(__m128i bytes) {
    const __m128i redBlue = _mm_set1_epi32(0x00FF00FF), low8 = _mm_set1_epi32(0xFF),
                  low16 = _mm_set1_epi32(0xFFFF);
    const __m128i sums =
        _mm_add_epi32(_mm_and_si128(bytes, redBlue), _mm_and_si128(_mm_srli_epi32(bytes, 8), low8));
    return _mm_add_epi32(_mm_and_si128(sums, low16), _mm_srli_epi32(sums, 16));
}
#endif

// The entry of `entries` (a multiple of four of them) nearest to `colour` by
// the sum of absolute differences, ties to the lowest index. Distance and
// index are packed as distance * 256 + index so that the search is a minimum
// without branches.
BYTE NearestOf(std::span<const std::uint32_t> entries, std::uint32_t colour) {
#if defined(__SSE2__)
    // Four entries at a time: byte differences both ways give |difference|
    // per channel and leave the index in the top byte.
    const __m128i pixel = _mm_set1_epi32(static_cast<int>(colour));
    const __m128i channels = _mm_set1_epi32(0x00FFFFFF);
    __m128i best = _mm_set1_epi32(INT32_MAX);
    for (std::size_t k = 0; k < entries.size(); k += 4) {
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries.data() + k));
        const __m128i d =
            _mm_and_si128(_mm_or_si128(_mm_subs_epu8(e, pixel), _mm_subs_epu8(pixel, e)), channels);
        const __m128i key = _mm_or_si128(_mm_slli_epi32(ChannelSums(d), 8), _mm_srli_epi32(e, 24));
        const __m128i less = _mm_cmplt_epi32(key, best);
        best = _mm_or_si128(_mm_and_si128(less, key), _mm_andnot_si128(less, best));
    }
    const auto minimum = [](__m128i a, __m128i b) {
        const __m128i less = _mm_cmplt_epi32(a, b);
        return _mm_or_si128(_mm_and_si128(less, a), _mm_andnot_si128(less, b));
    };
    best = minimum(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(1, 0, 3, 2)));
    best = minimum(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<BYTE>(_mm_cvtsi128_si32(best) & 255);
#else
    const int r = int(colour >> 16), g = int(colour >> 8 & 255), b = int(colour & 255);
    std::uint32_t best = UINT32_MAX;
    for (const std::uint32_t e : entries) {
        const int distance = std::abs(int(e >> 16 & 255) - r) + std::abs(int(e >> 8 & 255) - g) +
                             std::abs(int(e & 255) - b);
        best = std::min(best, std::uint32_t(distance) << 8 | e >> 24);
    }
    return static_cast<BYTE>(best & 255);
#endif
}

// For each of `entries` (a multiple of four), the smallest and the largest
// distance to any colour of the box from `low` to `high` (both 0xRRGGBB).
void BoxDistances(std::span<const std::uint32_t> entries, std::uint32_t low, std::uint32_t high,
                  int* closest, int* farthest) {
#if defined(__SSE2__)
    // Per channel, saturated differences: below the box, above it, and from
    // each side.
    const __m128i lo = _mm_set1_epi32(static_cast<int>(low)),
                  hi = _mm_set1_epi32(static_cast<int>(high)),
                  channels = _mm_set1_epi32(0x00FFFFFF);
    for (std::size_t k = 0; k < entries.size(); k += 4) {
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries.data() + k));
        const __m128i near =
            _mm_and_si128(_mm_or_si128(_mm_subs_epu8(lo, e), _mm_subs_epu8(e, hi)), channels);
        const __m128i far =
            _mm_and_si128(_mm_max_epu8(_mm_subs_epu8(e, lo), _mm_subs_epu8(hi, e)), channels);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(closest + k), ChannelSums(near));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(farthest + k), ChannelSums(far));
    }
#else
    for (std::size_t k = 0; k < entries.size(); ++k) {
        closest[k] = farthest[k] = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            const int value = int(entries[k] >> shift & 255), l = int(low >> shift & 255),
                      h = int(high >> shift & 255);
            closest[k] += std::max(l - value, 0) + std::max(value - h, 0);
            farthest[k] += std::max(value - l, h - value);
        }
    }
#endif
}

// Nearest palette entry by the sum of absolute differences, exactly. The
// colour cube is cut into cells; each cell lists the only entries that can be
// nearest to a colour inside it: those whose closest possible distance is no
// more than the smallest farthest distance of any entry. Coarse cells (8
// values a side) filter the whole palette, fine cells (4 a side) filter their
// coarse cell's list, so a pixel meets a few entries instead of the palette.
// Cells are listed when a pixel first falls into them: a picture's colours
// fill a small part of the cube. A colour that repeats in the palette is
// listed once, at its first entry: a later copy never wins the tie, and a
// network whose neurons crowd onto a few colours (a screenshot's) would
// otherwise give cells long lists of equals.
class PaletteIndex {
  public:
    explicit PaletteIndex(const std::vector<RGBQUAD>& palette) : m_coarse(3), m_fine(2) {
        // A cell's number interleaves the bits of its red, green and blue
        // (a Morton order): colours close in the cube have their cells close
        // in memory, and a coarse cell's number is its fine cells' >> 3.
        for (std::uint32_t v = 0; v < 256; ++v) {
            std::uint32_t spread = 0;
            for (int bit = 2; bit < 8; ++bit) spread |= (v >> bit & 1) << (3 * (bit - 2));
            m_spread[v] = spread;
        }
        for (std::size_t i = 0; i < palette.size(); ++i) {
            const RGBQUAD& e = palette[i];
            const std::uint32_t entry = std::uint32_t(i) << 24 | std::uint32_t(e.rgbRed) << 16 |
                                        std::uint32_t(e.rgbGreen) << 8 | e.rgbBlue;
            const bool repeated = std::any_of(m_distinct.begin(), m_distinct.end(), [&](auto d) {
                return (d & 0xFFFFFF) == (entry & 0xFFFFFF);
            });
            if (!repeated) m_distinct.push_back(entry);
        }
        m_distinctCount = m_distinct.size();
        while (m_distinct.size() % kGroup != 0) m_distinct.push_back(m_distinct.front());
    }

    // `colour` is 0xRRGGBB.
    BYTE nearest(std::uint32_t colour) {
        const int r = int(colour >> 16), g = int(colour >> 8 & 255), b = int(colour & 255);
        const std::uint32_t fine = m_spread[r] << 2 | m_spread[g] << 1 | m_spread[b];
        if (!m_fine.listed(fine)) {
            const std::uint32_t coarse = fine >> 3;
            if (!m_coarse.listed(coarse))
                m_coarse.list(coarse, colour & 0xF8F8F8, m_distinct, m_distinctCount);
            m_fine.list(fine, colour & 0xFCFCFC, m_coarse.of(coarse), m_coarse.countOf(coarse));
        }
        return NearestOf(m_fine.of(fine), colour);
    }

  private:
    // Lists are padded to whole groups of entries for the searches.
    static constexpr std::size_t kGroup = 4;

    // Cells of 2^shift values a side, each listed once. Entries are packed
    // as index << 24 | 0xRRGGBB, so that a search reads one list.
    class Cells {
      public:
        explicit Cells(int shift) : m_shift(shift), m_cells(std::size_t{1} << (3 * (8 - shift))) {}
        bool listed(std::uint32_t cell) const { return m_cells[cell].start >= 0; }
        // Lists the first `count` of `candidates` (padded to whole groups)
        // that can be nearest inside `cell`, whose lowest colour is `low`
        // (0xRRGGBB).
        void list(std::uint32_t cell, std::uint32_t low, std::span<const std::uint32_t> candidates,
                  std::size_t count) {
            const std::uint32_t high = low | ((1u << m_shift) - 1) * 0x010101;
            m_closest.resize(candidates.size());
            m_farthest.resize(candidates.size());
            BoxDistances(candidates, low, high, m_closest.data(), m_farthest.data());
            const int bound = *std::min_element(m_farthest.begin(), m_farthest.begin() + count);
            Cell& listed = m_cells[cell];
            listed.start = static_cast<std::int32_t>(m_entries.size());
            for (std::size_t k = 0; k < count; ++k) {
                if (m_closest[k] <= bound) m_entries.push_back(candidates[k]);
            }
            listed.count = static_cast<std::int32_t>(m_entries.size()) - listed.start;
            // Whole groups for the search; a repeated entry cannot change a
            // minimum.
            const std::uint32_t first = m_entries[static_cast<std::size_t>(listed.start)];
            while (m_entries.size() % kGroup != 0) m_entries.push_back(first);
        }
        // The list of a listed cell, padded to whole groups.
        std::span<const std::uint32_t> of(std::uint32_t cell) const {
            const Cell& c = m_cells[cell];
            return std::span<const std::uint32_t>(
                m_entries.data() + c.start,
                (static_cast<std::size_t>(c.count) + kGroup - 1) & ~(kGroup - 1));
        }
        std::size_t countOf(std::uint32_t cell) const {
            return static_cast<std::size_t>(m_cells[cell].count);
        }

      private:
        struct Cell {
            std::int32_t start = -1;
            std::int32_t count = 0;
        };
        int m_shift;
        std::vector<Cell> m_cells;
        std::vector<std::uint32_t> m_entries;
        std::vector<int> m_closest, m_farthest;
    };

    std::array<std::uint32_t, 256> m_spread;
    std::vector<std::uint32_t> m_distinct;
    std::size_t m_distinctCount = 0;
    Cells m_coarse, m_fine;
};

}  // namespace

FIBITMAP* NeuQuantPalette(FIBITMAP* bitmap, int colors) {
    if (!bitmap || ::FreeImage_GetImageType(bitmap) != FIT_BITMAP || colors < 2 || colors > 256) {
        return nullptr;
    }
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (bpp != 24 && bpp != 32) return nullptr;
    const unsigned step = bpp / 8;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    const std::uint64_t pixels = std::uint64_t{width} * height;
    if (pixels == 0) return nullptr;

    const int samplingFactor = static_cast<int>(
        std::clamp<std::uint64_t>(pixels / kLearningSamples, 1, kMaxSamplingFactor));
    Network network(colors);
    Learn(network,
          Samples{::FreeImage_GetBits(bitmap), ::FreeImage_GetPitch(bitmap), width, step, pixels,
                  pixels / static_cast<std::uint64_t>(samplingFactor), samplingFactor});
    const std::vector<RGBQUAD> palette = network.palette();

    Bitmap result(::FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8));
    if (!result) return nullptr;
    RGBQUAD* entries = ::FreeImage_GetPalette(result.get());
    std::fill(entries, entries + 256, RGBQUAD{0, 0, 0, 0});
    std::copy(palette.begin(), palette.end(), entries);

    PaletteIndex index(palette);
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, static_cast<int>(y));
        BYTE* out = ::FreeImage_GetScanLine(result.get(), static_cast<int>(y));
        // Runs of one colour (flat areas of screenshots and drawings) are
        // searched once.
        std::uint32_t previous = UINT32_MAX;
        BYTE found = 0;
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            const std::uint32_t colour = std::uint32_t(pixel[FI_RGBA_RED]) << 16 |
                                         std::uint32_t(pixel[FI_RGBA_GREEN]) << 8 |
                                         pixel[FI_RGBA_BLUE];
            if (colour != previous) {
                found = index.nearest(colour);
                previous = colour;
            }
            out[x] = found;
        }
    }
    ::FreeImage_SetDotsPerMeterX(result.get(), ::FreeImage_GetDotsPerMeterX(bitmap));
    ::FreeImage_SetDotsPerMeterY(result.get(), ::FreeImage_GetDotsPerMeterY(bitmap));
    return result.release();
}

}  // namespace pimo::imagelib
