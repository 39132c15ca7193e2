#include "engine/quality_score.h"

#include <jxl/butteraugli_cxx.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/score_workers.h"

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

// A tile: its interior, in image coordinates, and the interior with its
// margin, clipped to the image.
struct Tile {
    unsigned x = 0, y = 0, width = 0, height = 0;
    unsigned left = 0, top = 0, right = 0, bottom = 0;

    std::size_t computedPixels() const { return std::size_t{right - left} * (bottom - top); }
};

// Interiors of at most `interior` pixels, as equal as even sizes allow
// (every corner even, so that the half-resolution pass pairs pixels as over
// the whole image), in rows from the top. A single tile without margin when
// the image fits in one interior.
std::vector<Tile> TilesOf(unsigned width, unsigned height, unsigned interior, unsigned margin) {
    const unsigned columns = interior == 0 ? 1 : (width + interior - 1) / interior;
    const unsigned rows = interior == 0 ? 1 : (height + interior - 1) / interior;
    if (columns * rows == 1) return {Tile{0, 0, width, height, 0, 0, width, height}};
    const unsigned tileWidth = Even((width + columns - 1) / columns);
    const unsigned tileHeight = Even((height + rows - 1) / rows);
    std::vector<Tile> tiles;
    for (unsigned y = 0; y < height; y += tileHeight) {
        for (unsigned x = 0; x < width; x += tileWidth) {
            Tile tile{x, y, std::min(tileWidth, width - x), std::min(tileHeight, height - y)};
            tile.left = x > margin ? x - margin : 0;
            tile.top = y > margin ? y - margin : 0;
            tile.right = std::min(width, x + tile.width + margin);
            tile.bottom = std::min(height, y + tile.height + margin);
            tiles.push_back(tile);
        }
    }
    return tiles;
}

// The library's working memory for one call, by pixel: its dozens of float
// planes (measured with libjxl 0.7: about 265 bytes), with some to spare.
constexpr std::size_t kWorkingBytesPerPixel = 280;

// One tile after another on one worker, in the worker's library instance,
// working memory and tile buffers.
class TileScorer {
  public:
    TileScorer(ScoreWorker& worker, const imagelib::ViewedImage& source,
               const imagelib::ViewedImage& result, std::size_t largestTile)
        : m_worker(worker), m_source(source), m_result(result) {
        // Before the library's first call, so that its planes land in it.
        m_worker.memory.reserve(largestTile * kWorkingBytesPerPixel);
        if (!m_worker.api) m_worker.api = ConfiguredApi();
    }

    /// The tile's sums; its interior's distances also go into `map`, when
    /// one is given (tiles' interiors do not overlap, so workers share it).
    std::optional<DistanceSums> score(const Tile& tile, DistanceMap* map) {
        if (!m_worker.api) return std::nullopt;
        const unsigned width = tile.right - tile.left, height = tile.bottom - tile.top;
        const std::span<const std::uint8_t> source = cut(m_source, tile, m_worker.sourceTile);
        const std::span<const std::uint8_t> result = cut(m_result, tile, m_worker.resultTile);
        const JxlButteraugliResultPtr computed(
            JxlButteraugliCompute(m_worker.api.get(), width, height, &kRgb8, source.data(),
                                  source.size(), &kRgb8, result.data(), result.size()));
        if (!computed) return std::nullopt;
        const float* distances = nullptr;
        std::uint32_t stride = 0;
        JxlButteraugliResultGetDistmap(computed.get(), &distances, &stride);
        DistanceSums sums;
        for (unsigned y = tile.y; y < tile.y + tile.height; ++y) {
            const float* row =
                distances + std::size_t{y - tile.top} * stride + (tile.x - tile.left);
            sums.addRow(row, tile.width);
            if (map)
                std::copy(row, row + tile.width,
                          &map->values[std::size_t{y} * map->width + tile.x]);
        }
        return sums;
    }

  private:
    // The tile's pixels with their margin: prepared pixels of the whole
    // image as they are, any other made into `buffer`.
    static std::span<const std::uint8_t> cut(const imagelib::ViewedImage& image, const Tile& tile,
                                             std::vector<std::uint8_t>& buffer) {
        const unsigned width = tile.right - tile.left, height = tile.bottom - tile.top;
        if (width == image.width() && height == image.height() && !image.prepared().empty())
            return image.prepared();
        buffer.resize(std::size_t{width} * height * 3);
        image.copy(tile.left, tile.top, width, height, buffer.data());
        return buffer;
    }

    ScoreWorker& m_worker;
    const imagelib::ViewedImage& m_source;
    const imagelib::ViewedImage& m_result;
};

ScoreOutcome ScoreTiles(const imagelib::ViewedImage& source, const imagelib::ViewedImage& result,
                        unsigned interior, unsigned margin, DistanceMap* map = nullptr) {
    const std::vector<Tile> tiles = TilesOf(source.width(), source.height(), interior, margin);
    std::size_t largest = 0;
    for (const Tile& tile : tiles) largest = std::max(largest, tile.computedPixels());
    std::vector<std::optional<DistanceSums>> parts(tiles.size());
    std::atomic<std::size_t> next{0};
    // The library's calls run on one core each (its parallel runner would
    // only share out the colour conversion), so the tiles take the cores.
    ScoreWorkers::Shared().run(tiles.size(), [&](ScoreWorker& worker) {
        try {
            TileScorer scorer(worker, source, result, largest);
            for (std::size_t i = next++; i < tiles.size(); i = next++)
                parts[i] = scorer.score(tiles[i], map);
        } catch (const std::exception&) {
            // Out of memory: the tiles left unscored fail the score below.
        }
    });

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

ScoreOutcome ScoreViewed(const imagelib::ViewedImage& source, const imagelib::ViewedImage& result,
                         DistanceTiling tiling) {
    if (source.empty() || result.empty()) return {{}, "There is no image to compare."};
    if (source.width() != result.width() || source.height() != result.height()) {
        return {{}, "The result's size differs from the source's."};
    }
    return ScoreTiles(source, result, Even(tiling.interior), Even(tiling.margin));
}

ScoreOutcome ScorePixels(const imagelib::RgbPixels& source, const imagelib::RgbPixels& result,
                         DistanceTiling tiling) {
    return ScoreViewed(imagelib::ViewedImage(source), imagelib::ViewedImage(result), tiling);
}

imagelib::RgbPixels ViewedPixels(FIBITMAP* bitmap, Rgb background) {
    return imagelib::CompositedRgb(bitmap, ToBackground(background));
}

ScoreOutcome ScoreEncoded(const imagelib::RgbPixels& source, int format,
                          std::span<const std::uint8_t> encoded, Rgb background) {
    return ScoreEncoded(imagelib::ViewedImage(source), format, encoded, background);
}

ScoreOutcome ScoreEncoded(const imagelib::ViewedImage& source, int format,
                          std::span<const std::uint8_t> encoded, Rgb background) {
    const imagelib::ViewedImage result =
        imagelib::DecodedViewedImage(format, encoded, ToBackground(background));
    if (result.empty()) return {{}, "The result does not decode."};
    return ScoreViewed(source, result);
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
    return ScoreEncoded(imagelib::ViewedImage(input.source.get(), ToBackground(input.background)),
                        input.format, input.encoded, input.background);
}

std::optional<DistanceMap> DistanceMapOf(const imagelib::ViewedImage& source,
                                         const imagelib::ViewedImage& result,
                                         DistanceTiling tiling) {
    if (source.empty() || result.empty() || source.width() != result.width() ||
        source.height() != result.height())
        return std::nullopt;
    DistanceMap map;
    map.width = source.width();
    map.height = source.height();
    map.values.assign(std::size_t{map.width} * map.height, 0.0f);
    const ScoreOutcome outcome =
        ScoreTiles(source, result, Even(tiling.interior), Even(tiling.margin), &map);
    if (!outcome.score) return std::nullopt;
    map.score = *outcome.score;
    return map;
}

}  // namespace pimo::engine
