#include "engine/quality_score.h"

#include <jxl/butteraugli_cxx.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

namespace {

// butteraugli_main's viewing conditions: an sRGB display of 80 nits, and its
// weighting of ringing against blurring. With them our scores and the
// tool's agree to the printed digit.
constexpr float kIntensityTargetNits = 80.0f;
constexpr float kHfAsymmetry = 0.8f;

constexpr double kVisibleThreshold = 1.0;
constexpr double kPlainlyVisibleThreshold = 3.0;

imagelib::Background ToBackground(Rgb color) {
    return {color.red, color.green, color.blue};
}

unsigned Even(unsigned value) {
    return value + value % 2;
}

const JxlPixelFormat kRgb8{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

JxlButteraugliApiPtr ConfiguredApi() {
    JxlButteraugliApiPtr api(JxlButteraugliApiCreate(nullptr));
    if (!api) return api;
    JxlButteraugliApiSetIntensityTarget(api.get(), kIntensityTargetNits);
    JxlButteraugliApiSetHFAsymmetry(api.get(), kHfAsymmetry);
    return api;
}

ScoreOutcome ScoreWhole(const imagelib::RgbPixels& source, const imagelib::RgbPixels& result) {
    const JxlButteraugliApiPtr api = ConfiguredApi();
    // The runner's workers live as long as the call: nothing is shared
    // between calls on different threads.
    const JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    if (!api || !runner) return {{}, "The perceptual comparison could not start."};
    JxlButteraugliApiSetParallelRunner(api.get(), JxlThreadParallelRunner, runner.get());
    const JxlButteraugliResultPtr computed(JxlButteraugliCompute(
        api.get(), source.width, source.height, &kRgb8, source.bytes.data(), source.bytes.size(),
        &kRgb8, result.bytes.data(), result.bytes.size()));
    if (!computed) return {{}, "The perceptual comparison failed."};
    return {QualityScore{JxlButteraugliResultGetMaxDistance(computed.get()),
                         JxlButteraugliResultGetDistance(computed.get(), 3.0f)},
            {}};
}

// What a score needs of any part of a distance map: its maximum, and the
// sums behind the library's 3-norm, which is the mean of three power means
// of the map: of d^3 (cube root), of d^6 (sixth root), of d^12 (twelfth
// root). Parts add up to the whole.
struct DistanceSums {
    double maximum = 0;
    double cubes = 0, sixths = 0, twelfths = 0;
    std::uint64_t pixels = 0;

    void addRow(const float* row, unsigned count) {
        for (unsigned x = 0; x < count; ++x) {
            const double d = row[x];
            maximum = std::max(maximum, d);
            const double cube = d * d * d;
            cubes += cube;
            sixths += cube * cube;
            twelfths += cube * cube * cube * cube;
        }
        pixels += count;
    }
    void add(const DistanceSums& part) {
        maximum = std::max(maximum, part.maximum);
        cubes += part.cubes;
        sixths += part.sixths;
        twelfths += part.twelfths;
        pixels += part.pixels;
    }
    QualityScore score() const {
        const double n = static_cast<double>(pixels);
        const double norm3 = (std::pow(cubes / n, 1.0 / 3) + std::pow(sixths / n, 1.0 / 6) +
                              std::pow(twelfths / n, 1.0 / 12)) /
                             3;
        return {maximum, norm3};
    }
};

// A tile's interior, in image coordinates.
struct Tile {
    unsigned x = 0, y = 0, width = 0, height = 0;
};

std::vector<Tile> TilesOf(unsigned width, unsigned height, unsigned interior) {
    std::vector<Tile> tiles;
    for (unsigned y = 0; y < height; y += interior) {
        for (unsigned x = 0; x < width; x += interior) {
            tiles.push_back({x, y, std::min(interior, width - x), std::min(interior, height - y)});
        }
    }
    return tiles;
}

// One worker's library instance and tile buffers, reused tile after tile so
// that their memory stays warm.
class TileScorer {
  public:
    TileScorer(const imagelib::RgbPixels& source, const imagelib::RgbPixels& result,
               unsigned margin)
        : m_source(source), m_result(result), m_margin(margin), m_api(ConfiguredApi()) {}

    std::optional<DistanceSums> score(const Tile& tile) {
        if (!m_api) return std::nullopt;
        // The tile with its margin, clipped to the image. The interior's
        // corner and the margin are even, so the clipped corner is too.
        const unsigned left = tile.x > m_margin ? tile.x - m_margin : 0;
        const unsigned top = tile.y > m_margin ? tile.y - m_margin : 0;
        const unsigned right = std::min(m_source.width, tile.x + tile.width + m_margin);
        const unsigned bottom = std::min(m_source.height, tile.y + tile.height + m_margin);
        const unsigned width = right - left, height = bottom - top;
        cut(m_source, left, top, width, height, m_sourceTile);
        cut(m_result, left, top, width, height, m_resultTile);
        const JxlButteraugliResultPtr computed(JxlButteraugliCompute(
            m_api.get(), width, height, &kRgb8, m_sourceTile.data(), m_sourceTile.size(), &kRgb8,
            m_resultTile.data(), m_resultTile.size()));
        if (!computed) return std::nullopt;
        const float* map = nullptr;
        std::uint32_t stride = 0;
        JxlButteraugliResultGetDistmap(computed.get(), &map, &stride);
        DistanceSums sums;
        for (unsigned y = tile.y; y < tile.y + tile.height; ++y) {
            sums.addRow(map + std::size_t{y - top} * stride + (tile.x - left), tile.width);
        }
        return sums;
    }

  private:
    static void cut(const imagelib::RgbPixels& image, unsigned left, unsigned top, unsigned width,
                    unsigned height, std::vector<std::uint8_t>& into) {
        const std::size_t rowBytes = std::size_t{width} * 3;
        into.resize(rowBytes * height);
        for (unsigned y = 0; y < height; ++y) {
            const std::size_t from = (std::size_t{top + y} * image.width + left) * 3;
            std::memcpy(into.data() + y * rowBytes, image.bytes.data() + from, rowBytes);
        }
    }

    const imagelib::RgbPixels& m_source;
    const imagelib::RgbPixels& m_result;
    unsigned m_margin;
    JxlButteraugliApiPtr m_api;
    std::vector<std::uint8_t> m_sourceTile, m_resultTile;
};

ScoreOutcome ScoreTiled(const imagelib::RgbPixels& source, const imagelib::RgbPixels& result,
                        unsigned interior, unsigned margin) {
    const std::vector<Tile> tiles = TilesOf(source.width, source.height, interior);
    std::vector<std::optional<DistanceSums>> parts(tiles.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        TileScorer scorer(source, result, margin);
        for (std::size_t i = next++; i < tiles.size(); i = next++)
            parts[i] = scorer.score(tiles[i]);
    };
    const std::size_t workers =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), tiles.size());
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < workers; ++i) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();

    // Added in tile order, so that a score repeats exactly run to run.
    DistanceSums whole;
    for (const std::optional<DistanceSums>& part : parts) {
        if (!part) return {{}, "The perceptual comparison failed."};
        whole.add(*part);
    }
    return {whole.score(), {}};
}

}  // namespace

QualityReading ReadingOf(double distance) {
    if (distance < kVisibleThreshold) return QualityReading::VeryGood;
    return distance < kPlainlyVisibleThreshold ? QualityReading::Good : QualityReading::Poor;
}

std::string_view ReadingText(QualityReading reading) {
    switch (reading) {
        case QualityReading::VeryGood:
            return "very good";
        case QualityReading::Good:
            return "good";
        case QualityReading::Poor:
            break;
    }
    return "poor";
}

std::string_view ReadingDescription(QualityReading reading) {
    switch (reading) {
        case QualityReading::VeryGood:
            return "No difference visible at normal viewing distance";
        case QualityReading::Good:
            return "Differences visible on close inspection";
        case QualityReading::Poor:
            break;
    }
    return "Differences plainly visible";
}

std::string QualityText(double distance) {
    char number[32];
    std::snprintf(number, sizeof number, "%.2f", distance);
    return std::string(number) + " (" + std::string(ReadingText(ReadingOf(distance))) + ")";
}

ScoreOutcome ScorePixels(const imagelib::RgbPixels& source, const imagelib::RgbPixels& result,
                         DistanceTiling tiling) {
    if (source.empty() || result.empty()) return {{}, "There is no image to compare."};
    if (source.width != result.width || source.height != result.height) {
        return {{}, "The result's size differs from the source's."};
    }
    const unsigned interior = Even(tiling.interior), margin = Even(tiling.margin);
    const unsigned oneTile = interior + 2 * margin;
    if (interior == 0 || (source.width <= oneTile && source.height <= oneTile)) {
        return ScoreWhole(source, result);
    }
    return ScoreTiled(source, result, interior, margin);
}

imagelib::RgbPixels ViewedPixels(FIBITMAP* bitmap, Rgb background) {
    return imagelib::CompositedRgb(bitmap, ToBackground(background));
}

ScoreOutcome ScoreEncoded(const imagelib::RgbPixels& source, int format,
                          std::span<const std::uint8_t> encoded, Rgb background) {
    const imagelib::RgbPixels result =
        imagelib::DecodedCompositedRgb(format, encoded, ToBackground(background));
    if (result.empty()) return {{}, "The result does not decode."};
    return ScorePixels(source, result);
}

std::optional<ResultScoreInput> CaptureResultScoreInput(const Engine& engine) {
    if (!engine.SourceBitmap || !engine.ResultStream) return std::nullopt;
    ResultScoreInput input;
    input.source.reset(imagelib::FreeImage_Clone(engine.SourceBitmap.get()));
    input.format = engine.settings.Format;
    input.encoded = imagelib::StreamBytes(engine.ResultStream.get());
    input.background = engine.settings.BackgroundColor;
    if (!input.source || input.encoded.empty()) return std::nullopt;
    return input;
}

ScoreOutcome ScoreResult(const ResultScoreInput& input) {
    return ScoreEncoded(ViewedPixels(input.source.get(), input.background), input.format,
                        input.encoded, input.background);
}

}  // namespace pimo::engine
