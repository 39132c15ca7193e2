#include "engine/imagelib/neuquant.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

// The network's constants, as Dekker published them.
constexpr int kCycles = 100;       // learning cycles
constexpr int kNetBiasShift = 4;   // colour values are kept << 4
constexpr int kIntBiasShift = 16;  // frequency and bias fixed point
constexpr int kIntBias = 1 << kIntBiasShift;
constexpr int kGammaShift = 10;
constexpr int kBetaShift = 10;
constexpr int kBeta = kIntBias >> kBetaShift;  // 1/1024
constexpr int kBetaGamma = kIntBias << (kGammaShift - kBetaShift);
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

class Network {
  public:
    explicit Network(int size)
        : m_size(size),
          m_b(size),
          m_g(size),
          m_r(size),
          m_freq(size, kIntBias / size),
          m_bias(size, 0),
          m_radPower(static_cast<std::size_t>(size >> 3) + 1) {
        for (int i = 0; i < size; ++i) {
            m_b[i] = m_g[i] = m_r[i] = (i << (kNetBiasShift + 8)) / size;
        }
    }

    // Trains on `samples` pixels read `step` pixels apart (wrapping around).
    template <typename PixelAt>
    void learn(std::uint64_t pixels, std::uint64_t samples, int samplingFactor, PixelAt pixelAt) {
        const int alphaDec = 30 + (samplingFactor - 1) / 3;
        std::uint64_t delta = std::max<std::uint64_t>(samples / kCycles, 1);
        int alpha = kInitAlpha;
        int radius = (m_size >> 3) * kRadiusBias;
        int rad = setRadius(radius, alpha);
        unsigned step = kPrimes[3];
        for (unsigned prime : kPrimes) {
            if (pixels % prime != 0) {
                step = prime;
                break;
            }
        }
        std::uint64_t position = 0;
        for (std::uint64_t i = 1; i <= samples; ++i) {
            const RGBQUAD c = pixelAt(position);
            const int b = c.rgbBlue << kNetBiasShift, g = c.rgbGreen << kNetBiasShift,
                      r = c.rgbRed << kNetBiasShift;
            const int winner = contest(b, g, r);
            moveNeuron(winner, kInitAlpha, alpha, b, g, r);
            if (rad > 0) moveNeighbours(rad, winner, b, g, r);
            position = (position + step) % pixels;
            if (i % delta == 0) {
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
    // has won so that rarely used neurons get a chance; frequencies and biases
    // move towards that balance for every neuron. Distance and position are
    // packed into one number (distance * 256 + position) so that the search
    // is a branch-free minimum the compiler vectorises; ties still go to the
    // lowest position.
    int contest(int b, int g, int r) {
        int best = INT32_MAX, bestBiased = INT32_MAX;
        const int size = m_size;
        const int* nb = m_b.data();
        const int* ng = m_g.data();
        const int* nr = m_r.data();
        int* freq = m_freq.data();
        int* bias = m_bias.data();
        for (int i = 0; i < size; ++i) {
            const int distance = std::abs(nb[i] - b) + std::abs(ng[i] - g) + std::abs(nr[i] - r);
            best = std::min(best, distance * 256 + i);
            const int biasDistance = distance - (bias[i] >> (kIntBiasShift - kNetBiasShift));
            bestBiased = std::min(bestBiased, biasDistance * 256 + i);
            const int betaFreq = freq[i] >> kBetaShift;
            freq[i] -= betaFreq;
            bias[i] += betaFreq << kGammaShift;
        }
        const int winner = best & 255;
        m_freq[winner] += kBeta;
        m_bias[winner] -= kBetaGamma;
        return bestBiased & 255;
    }

    void moveNeuron(int i, int scale, int alpha, int b, int g, int r) {
        m_b[i] -= alpha * (m_b[i] - b) / scale;
        m_g[i] -= alpha * (m_g[i] - g) / scale;
        m_r[i] -= alpha * (m_r[i] - r) / scale;
    }

    void moveNeighbours(int rad, int i, int b, int g, int r) {
        const int low = std::max(i - rad, -1), high = std::min(i + rad, m_size);
        int j = i + 1, k = i - 1, q = 1;
        while (j < high || k > low) {
            const int alpha = m_radPower[q++];
            if (j < high) moveNeuron(j++, kAlphaRadBias, alpha, b, g, r);
            if (k > low) moveNeuron(k--, kAlphaRadBias, alpha, b, g, r);
        }
    }

    int m_size;
    std::vector<int> m_b, m_g, m_r, m_freq, m_bias, m_radPower;
};

// Nearest palette entry by the sum of absolute differences, exactly. The
// colour cube is cut into cells; each cell lists the only entries that can be
// nearest to a colour inside it: those whose closest possible distance is no
// more than the smallest farthest distance of any entry. Coarse cells (8
// values a side) filter the whole palette, fine cells (4 a side) filter their
// coarse cell's list, so a pixel meets a few entries instead of the palette.
// Cells are listed when a pixel first falls into them: a picture's colours
// fill a small part of the cube.
class PaletteIndex {
  public:
    explicit PaletteIndex(const std::vector<RGBQUAD>& palette)
        : m_palette(palette), m_coarse(3), m_fine(2) {
        for (std::size_t i = 0; i < palette.size(); ++i) m_all.push_back(static_cast<BYTE>(i));
    }

    BYTE nearest(int r, int g, int b) {
        const int fine = (r >> 2) << 12 | (g >> 2) << 6 | (b >> 2);
        if (!m_fine.listed(fine)) {
            const int coarse = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
            if (!m_coarse.listed(coarse))
                m_coarse.list(coarse, m_palette, std::span<const BYTE>(m_all));
            m_fine.list(fine, m_palette, m_coarse.of(coarse));
        }
        // Distance and entry packed as distance * 256 + entry: a branch-free
        // minimum, ties to the lowest entry.
        int best = INT32_MAX;
        for (const BYTE entry : m_fine.of(fine)) {
            const RGBQUAD& e = m_palette[entry];
            const int distance =
                std::abs(e.rgbRed - r) + std::abs(e.rgbGreen - g) + std::abs(e.rgbBlue - b);
            best = std::min(best, distance * 256 + entry);
        }
        return static_cast<BYTE>(best & 255);
    }

  private:
    // Cells of 2^shift values a side, each listed once.
    class Cells {
      public:
        explicit Cells(int shift)
            : m_shift(shift),
              m_bits(8 - shift),
              m_start(std::size_t{1} << (3 * (8 - shift)), -1),
              m_count(m_start.size(), 0) {}
        bool listed(int cell) const { return m_start[cell] >= 0; }
        // Lists the entries among `candidates` that can be nearest inside `cell`.
        void list(int cell, const std::vector<RGBQUAD>& palette, std::span<const BYTE> candidates) {
            const int side = 1 << m_bits, mask = side - 1;
            const int low[3] = {(cell >> (2 * m_bits)) << m_shift,
                                ((cell >> m_bits) & mask) << m_shift, (cell & mask) << m_shift};
            m_closest.resize(candidates.size());
            int bound = INT32_MAX;
            for (std::size_t k = 0; k < candidates.size(); ++k) {
                const RGBQUAD& e = palette[candidates[k]];
                const int value[3] = {e.rgbRed, e.rgbGreen, e.rgbBlue};
                int closest = 0, farthest = 0;
                for (int c = 0; c < 3; ++c) {
                    const int high = low[c] + (1 << m_shift) - 1;
                    closest += value[c] < low[c] ? low[c] - value[c]
                               : value[c] > high ? value[c] - high
                                                 : 0;
                    farthest += std::max(std::abs(value[c] - low[c]), std::abs(value[c] - high));
                }
                m_closest[k] = closest;
                bound = std::min(bound, farthest);
            }
            m_start[cell] = static_cast<std::int32_t>(m_entries.size());
            for (std::size_t k = 0; k < candidates.size(); ++k) {
                if (m_closest[k] <= bound) m_entries.push_back(candidates[k]);
            }
            m_count[cell] = static_cast<std::uint16_t>(m_entries.size() -
                                                       static_cast<std::size_t>(m_start[cell]));
        }
        std::span<const BYTE> of(int cell) const {
            return std::span<const BYTE>(m_entries.data() + m_start[cell], m_count[cell]);
        }

      private:
        int m_shift, m_bits;
        std::vector<std::int32_t> m_start;
        std::vector<std::uint16_t> m_count;
        std::vector<BYTE> m_entries;
        std::vector<int> m_closest;
    };

    std::vector<RGBQUAD> m_palette;
    std::vector<BYTE> m_all;
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
    network.learn(pixels, pixels / static_cast<std::uint64_t>(samplingFactor), samplingFactor,
                  [&](std::uint64_t position) {
                      const BYTE* p =
                          ::FreeImage_GetScanLine(bitmap, static_cast<int>(position / width)) +
                          (position % width) * step;
                      return RGBQUAD{p[FI_RGBA_BLUE], p[FI_RGBA_GREEN], p[FI_RGBA_RED], 0};
                  });
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
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            out[x] = index.nearest(pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE]);
        }
    }
    ::FreeImage_SetDotsPerMeterX(result.get(), ::FreeImage_GetDotsPerMeterX(bitmap));
    ::FreeImage_SetDotsPerMeterY(result.get(), ::FreeImage_GetDotsPerMeterY(bitmap));
    return result.release();
}

}  // namespace pimo::imagelib
