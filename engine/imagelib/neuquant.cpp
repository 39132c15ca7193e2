#include "engine/imagelib/neuquant.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
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
// Neurons moved together by the learning's vectorised loop.
constexpr int kBlock = 16;

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
          m_b(static_cast<std::size_t>(size) + kBlock),
          m_g(static_cast<std::size_t>(size) + kBlock),
          m_r(static_cast<std::size_t>(size) + kBlock),
          m_freq(size, kIntBias / size),
          m_startFreq(kIntBias / size),
          m_power(static_cast<std::size_t>(std::max(size >> 3, 1)) * 2 + kBlock) {
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
        int reach = setRadius(radius, alpha);
        unsigned step = kPrimes[3];
        for (unsigned prime : kPrimes) {
            if (samples.pixels % prime != 0) {
                step = prime;
                break;
            }
        }
        // The sample is at (column, row) of the bitmap's memory; stepping
        // and wrapping around are kept apart from divisions, which would
        // cost as much as the rest of a step.
        const std::uint64_t stride = step % samples.pixels;
        const std::uint64_t strideRows = stride / samples.width,
                            strideColumns = stride % samples.width;
        const std::uint64_t rows = samples.pixels / samples.width;
        std::uint64_t row = 0, column = 0;
        std::uint64_t untilNextCycle = delta;
        const BYTE* p = samples.bits;
        for (std::uint64_t i = 0; i < samples.count; ++i) {
            const int b = p[FI_RGBA_BLUE] << kNetBiasShift, g = p[FI_RGBA_GREEN] << kNetBiasShift,
                      r = p[FI_RGBA_RED] << kNetBiasShift;
            column += strideColumns;
            row += strideRows;
            if (column >= samples.width) {
                column -= samples.width;
                ++row;
            }
            if (row >= rows) row -= rows;
            // The next sample is far from this one: fetched while the
            // network learns from this one.
            p = samples.bits + row * samples.pitch + column * samples.bytesPerPixel;
            __builtin_prefetch(p);
            const int winner = contest(b, g, r);
            move(reach, winner, b, g, r);
            if (--untilNextCycle == 0) {
                untilNextCycle = delta;
                alpha -= alpha / alphaDec;
                radius -= radius / kRadiusDec;
                reach = setRadius(radius, alpha);
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
    // How far the learning moves neurons towards a sample now: the winner
    // by `alpha`, the neighbours less the farther they are from it. The
    // published algorithm moves the winner by alpha / 1024 and a neighbour
    // at distance d by power[d] / 2^18, where power[0] is alpha * 256: one
    // table, centred on the winner, moves them all alike. Returns the reach
    // (1 for the winner alone).
    int setRadius(int radius, int alpha) {
        int rad = radius >> kRadiusBiasShift;
        if (rad <= 1) rad = 0;
        const int reach = std::max(rad, 1);
        std::fill(m_power.begin(), m_power.end(), 0);
        int* centre = m_power.data() + reach - 1;
        centre[0] = alpha * kRadBias;
        for (int i = 1; i < rad; ++i) {
            centre[i] = centre[-i] = alpha * (((rad * rad - i * i) * kRadBias) / (rad * rad));
        }
        return reach;
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

    // Moves the neurons within `reach` of `i` towards the colour, in whole
    // blocks so that the vectorised loop has no remainder: past the reach
    // the table holds zeroes, which leave a neuron where it is, and past the
    // last neuron are a block of spare ones that nothing reads.
    [[gnu::always_inline]] void move(int reach, int i, int b, int g, int r) {
        const int first = std::max(i - reach + 1, 0), last = std::min(i + reach - 1, m_size - 1);
        const int blocks = (last - first + kBlock) / kBlock;
        MoveTowards(blocks * kBlock, m_b.data() + first, m_g.data() + first, m_r.data() + first,
                    m_power.data() + (reach - 1) - (i - first), b, g, r);
    }

    // One loop over a contiguous run that the compiler vectorises, told that
    // the arrays do not overlap.
    [[gnu::always_inline]] static void MoveTowards(int count, int* __restrict nb,
                                                   int* __restrict ng, int* __restrict nr,
                                                   const int* __restrict power, int b, int g,
                                                   int r) {
        for (int q = 0; q < count; ++q) {
            nb[q] -= power[q] * (nb[q] - b) / kAlphaRadBias;
            ng[q] -= power[q] * (ng[q] - g) / kAlphaRadBias;
            nr[q] -= power[q] * (nr[q] - r) / kAlphaRadBias;
        }
    }

    int m_size;
    std::vector<int> m_b, m_g, m_r, m_freq;
    int m_startFreq;
    std::vector<int> m_power;  // centred on the winner
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

// The entry of `entries` (a multiple of eight of them) nearest to `colour` by
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
// colour cube is cut into cells of 8 values a side; each cell lists the only
// entries that can be nearest to a colour inside it: those whose closest
// possible distance is no more than the smallest farthest distance of any
// entry. A pixel meets a few entries instead of the palette. Cells are listed
// when a pixel first falls into them: a picture's colours fill a small part
// of the cube, and the table of cells starts as zeroes that the system gives
// without touching them. A colour that repeats in the palette is listed once,
// at its first entry: a later copy never wins the tie, and a network whose
// neurons crowd onto a few colours (a screenshot's) would otherwise give
// cells long lists of equals.
class PaletteIndex {
  public:
    explicit PaletteIndex(const std::vector<RGBQUAD>& palette)
        : m_cells(static_cast<std::uint32_t*>(std::calloc(kCells, sizeof(std::uint32_t)))) {
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
        m_closest.resize(m_distinct.size());
        m_farthest.resize(m_distinct.size());
        m_entries.reserve(1u << 14);
    }

    bool valid() const { return m_cells != nullptr; }

    // The entries that can be nearest to `colour` (0xRRGGBB), padded to a
    // multiple of eight.
    std::span<const std::uint32_t> candidates(std::uint32_t colour) {
        const std::uint32_t cell =
            (colour >> 9 & 0x7C00) | (colour >> 6 & 0x3E0) | (colour >> 3 & 31);
        std::uint32_t at = m_cells.get()[cell];
        if (at == 0) at = list(cell, colour & 0xF8F8F8);
        return std::span<const std::uint32_t>(m_entries.data() + at, m_entries[at - 1]);
    }

  private:
    // Lists are padded to whole groups of entries for the search.
    static constexpr std::size_t kGroup = 8;
    static constexpr std::size_t kCells = std::size_t{1} << 15;

    // Lists the entries that can be nearest inside `cell`, whose lowest
    // colour is `low` (0xRRGGBB), after a header with their count (padded to
    // whole groups); returns where the list starts.
    std::uint32_t list(std::uint32_t cell, std::uint32_t low) {
        BoxDistances(m_distinct, low, low | 0x070707, m_closest.data(), m_farthest.data());
        const int bound =
            *std::min_element(m_farthest.begin(), m_farthest.begin() + m_distinctCount);
        // The header, then whole groups for the search: a repeated entry
        // cannot change a minimum.
        m_entries.push_back(0);
        const std::size_t start = m_entries.size();
        for (std::size_t k = 0; k < m_distinctCount; ++k) {
            if (m_closest[k] <= bound) m_entries.push_back(m_distinct[k]);
        }
        const std::uint32_t first = m_entries[start];
        while ((m_entries.size() - start) % kGroup != 0) m_entries.push_back(first);
        m_entries[start - 1] = static_cast<std::uint32_t>(m_entries.size() - start);
        m_cells.get()[cell] = static_cast<std::uint32_t>(start);
        return static_cast<std::uint32_t>(start);
    }

    struct Free {
        void operator()(std::uint32_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint32_t, Free> m_cells;  // where each cell's list starts, 0 for none
    std::vector<std::uint32_t> m_distinct;
    std::size_t m_distinctCount = 0;
    std::vector<std::uint32_t> m_entries;
    std::vector<int> m_closest, m_farthest;
};

// Each pixel of the 24- or 32-bit `bitmap` to its nearest palette entry in
// the 8-bit `result`, with the search given. Runs of one colour (flat areas
// of screenshots and drawings) are searched once. Inlined into the callers
// below, which compile it for different instruction sets.
template <typename Search>
[[gnu::always_inline]] inline void MapPixels(FIBITMAP* bitmap, FIBITMAP* result,
                                             PaletteIndex& index, Search nearestOf) {
    const unsigned step = ::FreeImage_GetBPP(bitmap) / 8;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(bitmap, static_cast<int>(y));
        BYTE* out = ::FreeImage_GetScanLine(result, static_cast<int>(y));
        std::uint32_t previous = UINT32_MAX;
        BYTE found = 0;
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            const std::uint32_t colour = std::uint32_t(pixel[FI_RGBA_RED]) << 16 |
                                         std::uint32_t(pixel[FI_RGBA_GREEN]) << 8 |
                                         pixel[FI_RGBA_BLUE];
            if (colour != previous) {
                found = nearestOf(index.candidates(colour), colour);
                previous = colour;
            }
            out[x] = found;
        }
    }
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// The search eight entries at a time where the processor has AVX2: absolute
// byte differences, summed per entry by two multiply-adds.
struct NearestOfAvx2 {
    [[gnu::target("avx2")]] BYTE operator()(std::span<const std::uint32_t> entries,
                                            std::uint32_t colour) const {
        const __m256i pixel = _mm256_set1_epi32(static_cast<int>(colour));
        const __m256i channels = _mm256_set1_epi32(0x00FFFFFF), ones8 = _mm256_set1_epi8(1),
                      ones16 = _mm256_set1_epi16(1);
        __m256i best = _mm256_set1_epi32(INT32_MAX);
        for (std::size_t k = 0; k < entries.size(); k += 8) {
            const __m256i e =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries.data() + k));
            const __m256i d = _mm256_and_si256(
                _mm256_or_si256(_mm256_subs_epu8(e, pixel), _mm256_subs_epu8(pixel, e)), channels);
            const __m256i distance = _mm256_madd_epi16(_mm256_maddubs_epi16(d, ones8), ones16);
            best = _mm256_min_epi32(
                best, _mm256_or_si256(_mm256_slli_epi32(distance, 8), _mm256_srli_epi32(e, 24)));
        }
        __m128i half =
            _mm_min_epi32(_mm256_castsi256_si128(best), _mm256_extracti128_si256(best, 1));
        half = _mm_min_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(1, 0, 3, 2)));
        half = _mm_min_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(2, 3, 0, 1)));
        return static_cast<BYTE>(_mm_cvtsi128_si32(half) & 255);
    }
};

[[gnu::target("avx2")]] void MapAvx2(FIBITMAP* bitmap, FIBITMAP* result, PaletteIndex& index) {
    MapPixels(bitmap, result, index, NearestOfAvx2{});
}

void Map(FIBITMAP* bitmap, FIBITMAP* result, PaletteIndex& index) {
    if (__builtin_cpu_supports("avx2")) {
        MapAvx2(bitmap, result, index);
    } else {
        MapPixels(bitmap, result, index, NearestOf);
    }
}
#else
void Map(FIBITMAP* bitmap, FIBITMAP* result, PaletteIndex& index) {
    MapPixels(bitmap, result, index, NearestOf);
}
#endif

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
    if (!index.valid()) return nullptr;
    Map(bitmap, result.get(), index);
    ::FreeImage_SetDotsPerMeterX(result.get(), ::FreeImage_GetDotsPerMeterX(bitmap));
    ::FreeImage_SetDotsPerMeterY(result.get(), ::FreeImage_GetDotsPerMeterY(bitmap));
    return result.release();
}

}  // namespace pimo::imagelib
