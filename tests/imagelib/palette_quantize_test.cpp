// Palette reduction: the exact palette of an image that fits, and the three
// quantizers (Wu, our NeuQuant, libimagequant) on images that do not.

#include "engine/imagelib/palette_quantize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <vector>

#include "engine/imagelib/neuquant.h"
#include "tests/support/test_images.h"

namespace pimo::imagelib {
namespace {

using test::Bitmap;

// `colors` (up to 512) distinct colours, in stripes that make neighbouring
// pixels differ. Blue alone tells the first 256 apart (37 is odd); red tells
// the next 256 from them.
Bitmap DistinctColors(unsigned width, unsigned height, unsigned colors) {
    return test::MakeRgb(width, height, [=](unsigned x, unsigned y) {
        const unsigned i = (x * 7 + y * 13) % colors;
        return RGBQUAD{BYTE(i * 37), BYTE(i * 11), BYTE(i + (i >> 8) * 77), 0};
    });
}

unsigned CountColors(FIBITMAP* image) {
    std::set<std::uint32_t> colors;
    for (unsigned y = 0; y < ::FreeImage_GetHeight(image); ++y) {
        for (unsigned x = 0; x < ::FreeImage_GetWidth(image); ++x) {
            const RGBQUAD c = test::PixelAt(image, x, y);
            colors.insert(std::uint32_t{c.rgbRed} << 16 | std::uint32_t{c.rgbGreen} << 8 |
                          c.rgbBlue);
        }
    }
    return static_cast<unsigned>(colors.size());
}

RGBQUAD PaletteColorAt(FIBITMAP* palettized, unsigned x, unsigned y) {
    BYTE index = 0;
    ::FreeImage_GetPixelIndex(palettized, x, ::FreeImage_GetHeight(palettized) - 1 - y, &index);
    return ::FreeImage_GetPalette(palettized)[index];
}

std::set<BYTE> UsedIndices(FIBITMAP* palettized) {
    std::set<BYTE> used;
    for (unsigned y = 0; y < ::FreeImage_GetHeight(palettized); ++y) {
        const BYTE* row = ::FreeImage_GetScanLine(palettized, y);
        used.insert(row, row + ::FreeImage_GetWidth(palettized));
    }
    return used;
}

double Psnr(FIBITMAP* original, FIBITMAP* palettized) {
    double sum = 0;
    const unsigned width = ::FreeImage_GetWidth(original), height = ::FreeImage_GetHeight(original);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            const RGBQUAD a = test::PixelAt(original, x, y), b = PaletteColorAt(palettized, x, y);
            for (const double d : {double(a.rgbRed) - b.rgbRed, double(a.rgbGreen) - b.rgbGreen,
                                   double(a.rgbBlue) - b.rgbBlue}) {
                sum += d * d;
            }
        }
    }
    return 10 * std::log10(255.0 * 255.0 * 3 * width * height / sum);
}

const Quantizer kAll[] = {Quantizer::Wu, Quantizer::NeuQuant, Quantizer::ImageQuant};

struct FitCase {
    const char* name;
    unsigned colors;  // distinct colours of the image
    int asked;        // palette size asked for
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.name;
}

class ExactPaletteTest : public ::testing::TestWithParam<FitCase> {};

// Whatever the method, an image that fits its palette keeps every pixel.
TEST_P(ExactPaletteTest, KeepsEveryPixel) {
    const FitCase& c = GetParam();
    Bitmap image = DistinctColors(61, 37, c.colors);
    ASSERT_EQ(CountColors(image.get()), c.colors);
    for (const Quantizer method : kAll) {
        Bitmap result(QuantizeToPalette(image.get(), method, c.asked));
        ASSERT_TRUE(result);
        ASSERT_EQ(::FreeImage_GetBPP(result.get()), 8u);
        EXPECT_EQ(UsedIndices(result.get()).size(), c.colors);
        for (unsigned y = 0; y < 37; ++y) {
            for (unsigned x = 0; x < 61; ++x) {
                const RGBQUAD a = test::PixelAt(image.get(), x, y),
                              b = PaletteColorAt(result.get(), x, y);
                ASSERT_TRUE(a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen &&
                            a.rgbBlue == b.rgbBlue)
                    << "method " << int(method) << " at " << x << "," << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fits, ExactPaletteTest,
                         ::testing::Values(FitCase{"two_colours", 2, 2},
                                           FitCase{"twelve_of_fifteen", 12, 15},
                                           FitCase{"255_of_256", 255, 256},
                                           FitCase{"256_of_256", 256, 256}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QuantizeTest, OneColourMoreThanAskedIsQuantized) {
    Bitmap image = DistinctColors(61, 37, 257);
    ASSERT_EQ(CountColors(image.get()), 257u);
    for (const Quantizer method : kAll) {
        Bitmap result(QuantizeToPalette(image.get(), method, 256));
        ASSERT_TRUE(result) << int(method);
        EXPECT_LE(UsedIndices(result.get()).size(), 256u);
        EXPECT_NE(Psnr(image.get(), result.get()), INFINITY) << int(method);  // some pixel changed
    }
}

TEST(QuantizeTest, CarriesTheFileFactsOfItsSource) {
    Bitmap image = test::MakePhotoLike(40, 30);
    ASSERT_GT(CountColors(image.get()), 16u);
    RecordOriginalFacts(image.get(), 77);
    for (const Quantizer method : kAll) {
        Bitmap result(QuantizeToPalette(image.get(), method, 16));
        ASSERT_TRUE(result);
        EXPECT_EQ(FreeImage_GetJPEGQuality(result.get()), 77) << int(method);
        EXPECT_LE(UsedIndices(result.get()).size(), 16u);
    }
}

// Our NeuQuant learns from a sample of a large image; the palette must be as
// good as the library's NeuQuant, which learns from every pixel. Below a
// million pixels both learn from every pixel; above, ours samples.
TEST(QuantizeTest, NeuQuantMatchesTheLibrarysQuality) {
    for (const auto& [width, height] : {std::pair{300u, 200u}, std::pair{2400u, 1000u}}) {
        Bitmap photo = test::MakePhotoLike(width, height, 7);
        Bitmap ours(QuantizeToPalette(photo.get(), Quantizer::NeuQuant, 256));
        Bitmap library(::FreeImage_ColorQuantizeEx(photo.get(), FIQ_NNQUANT, 256, 0, nullptr));
        ASSERT_TRUE(ours && library);
        EXPECT_GE(Psnr(photo.get(), ours.get()), Psnr(photo.get(), library.get()) - 0.3) << width;
    }
}

// A screenshot-like image: a window on a grey desktop, a title bar
// gradient, lines of anti-aliased "text", coloured buttons and a picture:
// large flat areas, a few hundred colours and smooth runs.
Bitmap ScreenshotLike(unsigned width, unsigned height) {
    Bitmap picture = test::MakePhotoLike(width / 3, height / 3, 11);
    return test::MakeRgb(width, height, [&](unsigned x, unsigned y) -> RGBQUAD {
        if (x < 20 || y < 20 || x >= width - 20 || y >= height - 20) return {200, 190, 180, 0};
        if (y < 50) return {BYTE(255 - x * 128 / width), BYTE(120 + x * 60 / width), 40, 0};
        if (x >= width / 2 && y >= height / 2 && x < width / 2 + width / 3 &&
            y < height / 2 + height / 3) {
            return test::PixelAt(picture.get(), x - width / 2, y - height / 2);
        }
        if (y >= height - 60 && y < height - 35 && x % 120 < 90) {
            const BYTE shade = BYTE(180 - (y - (height - 60)) * 3);
            return x % 240 < 120 ? RGBQUAD{shade, 120, 30, 0} : RGBQUAD{40, shade, 60, 0};
        }
        // Text: strokes with an anti-aliased edge, in lines of 16 pixels.
        const unsigned line = (y - 50) % 16, column = x % 7;
        if (line < 10 && (x * 31 + y / 16 * 17) % 11 < 6 && column < 5) {
            const BYTE ink = column == 0 || column == 4 ? 150 : 30;
            return {ink, ink, ink, 0};
        }
        return {255, 255, 255, 0};
    });
}

struct QualityCase {
    const char* name;
    Bitmap (*make)();
    int colors;
    double psnr;  // what the quantizer reaches today, in dB
};

void PrintTo(const QualityCase& c, std::ostream* os) {
    *os << c.name;
}

class NeuQuantQualityTest : public ::testing::TestWithParam<QualityCase> {};

// Speed work on the network and on the mapping must not cost quality: the
// error stays where it is today, within a rounding margin.
TEST_P(NeuQuantQualityTest, KeepsTodaysError) {
    const QualityCase& c = GetParam();
    Bitmap image = c.make();
    ASSERT_GT(CountColors(image.get()), unsigned(c.colors));
    Bitmap result(QuantizeToPalette(image.get(), Quantizer::NeuQuant, c.colors));
    ASSERT_TRUE(result);
    EXPECT_LE(UsedIndices(result.get()).size(), unsigned(c.colors));
    EXPECT_GE(Psnr(image.get(), result.get()), c.psnr - 0.05);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, NeuQuantQualityTest,
    ::testing::Values(
        QualityCase{"photo_256", [] { return test::MakePhotoLike(640, 480, 3); }, 256, 35.646},
        QualityCase{"photo_16", [] { return test::MakePhotoLike(640, 480, 3); }, 16, 24.891},
        QualityCase{"screenshot_256", [] { return ScreenshotLike(800, 600); }, 256, 43.323},
        QualityCase{"screenshot_32", [] { return ScreenshotLike(800, 600); }, 32, 34.637}),
    [](const auto& info) { return std::string(info.param.name); });

// The network learned the plain way, as Dekker wrote it: a bias per neuron
// next to its frequency, the sample's place divided out at every step, the
// nearest neuron by a full search; the colours rounded back to 8 bits as ours
// are. The fast path must give the same bitmap bit for bit.
class ReferenceNeuQuant {
  public:
    ReferenceNeuQuant(FIBITMAP* bitmap, int size)
        : m_bitmap(bitmap),
          m_size(size),
          m_net(std::size_t(size)),
          m_bias(std::size_t(size), 0),
          m_freq(std::size_t(size), 65536 / size),
          m_radPower(std::size_t(size >> 3) + 1) {
        for (int i = 0; i < size; ++i) m_net[i][0] = m_net[i][1] = m_net[i][2] = (i << 12) / size;
    }

    void learn() {
        const std::uint64_t width = ::FreeImage_GetWidth(m_bitmap),
                            pixels = width * ::FreeImage_GetHeight(m_bitmap);
        const unsigned bytes = ::FreeImage_GetBPP(m_bitmap) / 8;
        const int samplingFactor = int(std::clamp<std::uint64_t>(pixels >> 20, 1, 30));
        const std::uint64_t samples = pixels / std::uint64_t(samplingFactor);
        const std::uint64_t delta = std::max<std::uint64_t>(samples / 100, 1);
        const int alphaDec = 30 + (samplingFactor - 1) / 3;
        int alpha = 1024, radius = (m_size >> 3) * 64;
        int rad = setRadius(radius, alpha);
        std::uint64_t step = 503;
        for (const std::uint64_t prime : {499, 491, 487, 503}) {
            if (pixels % prime != 0) {
                step = prime;
                break;
            }
        }
        std::uint64_t position = 0;
        for (std::uint64_t i = 1; i <= samples; ++i) {
            const BYTE* p =
                ::FreeImage_GetScanLine(m_bitmap, int(position / width)) + position % width * bytes;
            const int colour[3] = {p[FI_RGBA_BLUE] << 4, p[FI_RGBA_GREEN] << 4,
                                   p[FI_RGBA_RED] << 4};
            const int winner = contest(colour);
            for (int c = 0; c < 3; ++c)
                m_net[winner][c] -= alpha * (m_net[winner][c] - colour[c]) / 1024;
            for (int q = 1; q < rad; ++q) {
                for (const int j : {winner + q, winner - q}) {
                    if (j < 0 || j >= m_size) continue;
                    for (int c = 0; c < 3; ++c)
                        m_net[j][c] -= m_radPower[q] * (m_net[j][c] - colour[c]) / (1 << 18);
                }
            }
            position = (position + step) % pixels;
            if (i % delta == 0) {
                alpha -= alpha / alphaDec;
                radius -= radius / 30;
                rad = setRadius(radius, alpha);
            }
        }
    }

    std::vector<RGBQUAD> palette() const {
        std::vector<RGBQUAD> colours;
        const auto unbias = [](int v) { return BYTE(std::clamp((v + 8) >> 4, 0, 255)); };
        for (const auto& n : m_net)
            colours.push_back({unbias(n[0]), unbias(n[1]), unbias(n[2]), 0});
        return colours;
    }

  private:
    int setRadius(int radius, int alpha) {
        int rad = radius >> 6;
        if (rad <= 1) rad = 0;
        for (int i = 0; i < rad; ++i)
            m_radPower[i] = alpha * (((rad * rad - i * i) * 256) / (rad * rad));
        return rad;
    }

    int contest(const int colour[3]) {
        int best = INT_MAX, bestBiased = INT_MAX, bestAt = -1, bestBiasedAt = -1;
        for (int i = 0; i < m_size; ++i) {
            const int distance = std::abs(m_net[i][0] - colour[0]) +
                                 std::abs(m_net[i][1] - colour[1]) +
                                 std::abs(m_net[i][2] - colour[2]);
            if (distance < best) {
                best = distance;
                bestAt = i;
            }
            const int biased = distance - (m_bias[i] >> 12);
            if (biased < bestBiased) {
                bestBiased = biased;
                bestBiasedAt = i;
            }
            const int betaFreq = m_freq[i] >> 10;
            m_freq[i] -= betaFreq;
            m_bias[i] += betaFreq << 10;
        }
        m_freq[bestAt] += 64;
        m_bias[bestAt] -= 64 << 10;
        return bestBiasedAt;
    }

    FIBITMAP* m_bitmap;
    int m_size;
    std::vector<std::array<int, 3>> m_net;
    std::vector<int> m_bias, m_freq, m_radPower;
};

// The entry of `palette` nearest to the pixel by the sum of absolute
// differences, ties to the lowest index.
int NearestByFullSearch(const std::vector<RGBQUAD>& palette, const BYTE* pixel) {
    int best = INT_MAX, at = 0;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int distance = std::abs(palette[i].rgbBlue - pixel[FI_RGBA_BLUE]) +
                             std::abs(palette[i].rgbGreen - pixel[FI_RGBA_GREEN]) +
                             std::abs(palette[i].rgbRed - pixel[FI_RGBA_RED]);
        if (distance < best) {
            best = distance;
            at = int(i);
        }
    }
    return at;
}

struct ReferenceCase {
    const char* name;
    Bitmap (*make)();
    int colors;
};

void PrintTo(const ReferenceCase& c, std::ostream* os) {
    *os << c.name;
}

class NeuQuantReferenceTest : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(NeuQuantReferenceTest, GivesTheReferencesBitmap) {
    const ReferenceCase& c = GetParam();
    Bitmap image = c.make();
    ReferenceNeuQuant reference(image.get(), c.colors);
    reference.learn();
    const std::vector<RGBQUAD> palette = reference.palette();

    Bitmap result(NeuQuantPalette(image.get(), c.colors));
    ASSERT_TRUE(result);
    ASSERT_EQ(::FreeImage_GetBPP(result.get()), 8u);
    const RGBQUAD* entries = ::FreeImage_GetPalette(result.get());
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD expected = i < c.colors ? palette[i] : RGBQUAD{0, 0, 0, 0};
        ASSERT_TRUE(entries[i].rgbRed == expected.rgbRed &&
                    entries[i].rgbGreen == expected.rgbGreen &&
                    entries[i].rgbBlue == expected.rgbBlue)
            << "entry " << i;
    }
    const unsigned width = ::FreeImage_GetWidth(image.get()),
                   bytes = ::FreeImage_GetBPP(image.get()) / 8;
    for (unsigned y = 0; y < ::FreeImage_GetHeight(image.get()); ++y) {
        const BYTE* pixel = ::FreeImage_GetScanLine(image.get(), int(y));
        const BYTE* index = ::FreeImage_GetScanLine(result.get(), int(y));
        for (unsigned x = 0; x < width; ++x, pixel += bytes)
            ASSERT_EQ(index[x], NearestByFullSearch(palette, pixel)) << x << "," << y;
    }
}

// Colours spread over the whole cube, so that the search meets many cells.
Bitmap RandomColours(unsigned width, unsigned height, std::uint32_t seed) {
    std::mt19937 random(seed);
    return test::MakeRgb(width, height, [&](unsigned, unsigned) {
        const std::uint32_t v = random();
        return RGBQUAD{BYTE(v), BYTE(v >> 8), BYTE(v >> 16), 0};
    });
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, NeuQuantReferenceTest,
    ::testing::Values(
        // Rows padded to four bytes.
        ReferenceCase{"photo_odd_size", [] { return test::MakePhotoLike(61, 37, 5); }, 256},
        // Fewer pixels than the step through them.
        ReferenceCase{"tiny", [] { return test::MakePhotoLike(10, 10, 6); }, 16},
        // 499 divides the pixel count: the next prime steps.
        ReferenceCase{"step_divides", [] { return test::MakePhotoLike(7, 499, 7); }, 32},
        ReferenceCase{"with_alpha",
                      [] {
                          return test::MakeRgba(40, 30, [](unsigned x, unsigned y) {
                              return RGBQUAD{BYTE(x * 6), BYTE(y * 8), BYTE(x * y), BYTE(x)};
                          });
                      },
                      8},
        // Neurons crowd onto few colours: equal entries, ties to the first.
        ReferenceCase{"screenshot", [] { return ScreenshotLike(200, 150); }, 256},
        ReferenceCase{"random_two", [] { return RandomColours(128, 96, 1); }, 2},
        ReferenceCase{"random_256", [] { return RandomColours(128, 96, 2); }, 256},
        // Over two million pixels: every second one is learned from.
        ReferenceCase{"sampled", [] { return test::MakePhotoLike(2050, 1024, 8); }, 64}),
    [](const auto& info) { return std::string(info.param.name); });

// Dithering trades pixel accuracy for the right colour on average: over 8x8
// blocks of a smooth gradient with 8 colours, libimagequant's output is much
// closer to the original than Wu's bands.
TEST(QuantizeTest, ImageQuantDithersAGradient) {
    Bitmap gradient = test::MakeRgb(256, 64, [](unsigned x, unsigned y) {
        return RGBQUAD{BYTE(x), BYTE(255 - x), BYTE(y * 2), 0};
    });
    const auto blockError = [&](FIBITMAP* palettized) {
        double error = 0;
        for (unsigned by = 0; by < 64; by += 8) {
            for (unsigned bx = 0; bx < 256; bx += 8) {
                double original = 0, reduced = 0;
                for (unsigned y = by; y < by + 8; ++y) {
                    for (unsigned x = bx; x < bx + 8; ++x) {
                        original += test::PixelAt(gradient.get(), x, y).rgbBlue;
                        reduced += PaletteColorAt(palettized, x, y).rgbBlue;
                    }
                }
                error += std::abs(original - reduced) / 64;
            }
        }
        return error / (32 * 8);
    };
    Bitmap dithered(QuantizeToPalette(gradient.get(), Quantizer::ImageQuant, 8));
    Bitmap banded(QuantizeToPalette(gradient.get(), Quantizer::Wu, 8));
    ASSERT_TRUE(dithered && banded);
    EXPECT_LE(UsedIndices(dithered.get()).size(), 8u);
    EXPECT_LT(blockError(dithered.get()) * 2, blockError(banded.get()));
}

TEST(QuantizeTest, RefusesWhatItCannotReduce) {
    Bitmap grey(::FreeImage_Allocate(8, 8, 8));
    EXPECT_FALSE(Bitmap(QuantizeToPalette(grey.get(), Quantizer::Wu, 16)));
    EXPECT_FALSE(Bitmap(QuantizeToPalette(nullptr, Quantizer::ImageQuant, 16)));
    Bitmap photo = test::MakePhotoLike(8, 8);
    EXPECT_FALSE(Bitmap(QuantizeToPalette(photo.get(), Quantizer::NeuQuant, 0)));
    EXPECT_FALSE(Bitmap(QuantizeToPalette(photo.get(), Quantizer::NeuQuant, 257)));
}

TEST(QuantizeTest, NumbersNameTheMethods) {
    EXPECT_EQ(QuantizerFromNumber(0), Quantizer::Wu);
    EXPECT_EQ(QuantizerFromNumber(1), Quantizer::NeuQuant);
    EXPECT_EQ(QuantizerFromNumber(2), Quantizer::ImageQuant);
    EXPECT_EQ(QuantizerFromNumber(7), Quantizer::Wu);
}

}  // namespace
}  // namespace pimo::imagelib
