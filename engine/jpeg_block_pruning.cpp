#include "engine/jpeg_block_pruning.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pimo::engine {

namespace {

constexpr unsigned kCell = 8;
// The farthest a repair reaches, in cells each way: beyond the metric's own
// reach (72 pixels) nothing could lower a spot's distance.
constexpr unsigned kFarthestReach = 10;

// The share of `strength` an AC coefficient at row `v`, column `u` of its
// block gets: small coefficients at low frequencies carry the shapes the
// eye follows, at high ones the texture it reads only as a whole.
double FrequencyWeight(int u, int v) {
    return std::min(1.0, 0.25 + 0.125 * (u + v - 1));
}

// A plane's unquantized coefficients: the read ones times their table.
std::vector<std::int32_t> Unquantized(const imagelib::CoefficientPlane& plane,
                                      const imagelib::QuantTable& table) {
    std::vector<std::int32_t> values(plane.values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::int32_t{plane.values[i]} * table[i % 64];
    return values;
}

struct CellGrid {
    unsigned columns = 0, rows = 0;
};

// The weakest strength among the cells a block of `plane` covers: a block
// of a subsampled plane spans several cells and must suit the neediest.
double BlockStrength(const std::vector<double>& strengths, CellGrid grid,
                     const imagelib::CoefficientPlane& plane, int maxH, int maxV, unsigned bx,
                     unsigned by) {
    const unsigned spanX = static_cast<unsigned>(maxH / plane.hSampling);
    const unsigned spanY = static_cast<unsigned>(maxV / plane.vSampling);
    double weakest = -1;
    for (unsigned cy = by * spanY; cy < (by + 1) * spanY; ++cy) {
        for (unsigned cx = bx * spanX; cx < (bx + 1) * spanX; ++cx) {
            const double s = strengths[std::size_t{std::min(cy, grid.rows - 1)} * grid.columns +
                                       std::min(cx, grid.columns - 1)];
            weakest = weakest < 0 ? s : std::min(weakest, s);
        }
    }
    return std::max(weakest, 0.0);
}

struct Requantizer {
    const imagelib::JpegCoefficients& file;
    std::vector<std::vector<std::int32_t>> unquantized;  // by plane
    std::vector<imagelib::QuantTable> tables;            // by plane
    CellGrid grid;
    double chromaScale = 1;  // chroma blocks' share of their cells' strength

    std::vector<imagelib::CoefficientPlane> planes(const std::vector<double>& strengths) const {
        std::vector<imagelib::CoefficientPlane> out = file.planes();
        for (std::size_t c = 0; c < out.size(); ++c) {
            imagelib::CoefficientPlane& plane = out[c];
            const double scale = c == 0 ? 1.0 : chromaScale;
            for (unsigned by = 0; by < plane.heightInBlocks; ++by) {
                for (unsigned bx = 0; bx < plane.widthInBlocks; ++bx) {
                    const double strength =
                        scale * BlockStrength(strengths, grid, plane, file.maxHSampling(),
                                              file.maxVSampling(), bx, by);
                    const std::size_t offset = (std::size_t{by} * plane.widthInBlocks + bx) * 64;
                    QuantizeBlock(unquantized[c].data() + offset, tables[c], strength,
                                  plane.block(bx, by));
                }
            }
        }
        return out;
    }
};

}  // namespace

void QuantizeBlock(const std::int32_t* unquantized, const imagelib::QuantTable& table,
                   double strength, std::int16_t* out) {
    for (int k = 0; k < 64; ++k) {
        const std::int32_t value = unquantized[k];
        const std::int32_t step = table[static_cast<std::size_t>(k)];
        const std::int32_t magnitude = (std::abs(value) + step / 2) / step;
        std::int32_t kept = magnitude;
        if (k != 0 && strength > 0 && magnitude != 0) {
            const double steps = std::abs(value) / static_cast<double>(step);
            if (steps < 0.5 + strength * FrequencyWeight(k % 8, k / 8)) kept = 0;
        }
        out[k] = static_cast<std::int16_t>(value < 0 ? -kept : kept);
    }
}

std::vector<float> CellDistances(const DistanceMap& map) {
    const unsigned columns = (map.width + kCell - 1) / kCell;
    const unsigned rows = (map.height + kCell - 1) / kCell;
    std::vector<float> cells(std::size_t{columns} * rows, 0.0f);
    for (unsigned y = 0; y < map.height; ++y) {
        float* cellRow = cells.data() + std::size_t{y / kCell} * columns;
        for (unsigned x = 0; x < map.width; ++x) {
            float& cell = cellRow[x / kCell];
            cell = std::max(cell, map.at(x, y));
        }
    }
    return cells;
}

std::vector<double> NextStrengths(std::span<const double> strengths,
                                  std::span<const float> cellDistances, unsigned cellColumns,
                                  unsigned cellRows, double target, const PruningOptions& options,
                                  std::vector<double>& ceilings, unsigned reach) {
    const bool within = std::all_of(cellDistances.begin(), cellDistances.end(),
                                    [&](float d) { return d <= target; });
    std::vector<double> next(strengths.begin(), strengths.end());
    for (unsigned cy = 0; cy < cellRows; ++cy) {
        for (unsigned cx = 0; cx < cellColumns; ++cx) {
            float around = 0;
            for (unsigned y = cy > reach ? cy - reach : 0; y <= std::min(cy + reach, cellRows - 1);
                 ++y) {
                for (unsigned x = cx > reach ? cx - reach : 0;
                     x <= std::min(cx + reach, cellColumns - 1); ++x)
                    around = std::max(around, cellDistances[std::size_t{y} * cellColumns + x]);
            }
            const std::size_t i = std::size_t{cy} * cellColumns + cx;
            double s = strengths[i];
            if (around > target) {
                // Cut, and never again let past the cut.
                ceilings[i] = std::min(ceilings[i], strengths[i] * options.cut);
                s = ceilings[i];
            } else if (within) {
                s += options.gain * (options.aim * target - around) / target;
            }
            next[i] = std::clamp(std::min(s, ceilings[i]), 0.0, options.maxStrength);
        }
    }
    return next;
}

std::optional<PrunedJpeg> PruneToDistance(const imagelib::ViewedImage& source,
                                          const imagelib::JpegCoefficients& file, double target,
                                          int format, imagelib::Background background,
                                          const PruningOptions& options) {
    if (!file.valid() || source.width() != file.width() || source.height() != file.height())
        return std::nullopt;
    Requantizer requantizer{file, {}, {}, {}, options.chromaScale};
    const std::vector<imagelib::CoefficientPlane>& planes = file.planes();
    for (std::size_t c = 0; c < planes.size(); ++c) {
        requantizer.unquantized.push_back(Unquantized(planes[c], file.tableOf(c)));
        requantizer.tables.push_back(file.tableOf(c));
    }
    const CellGrid grid{(file.width() + kCell - 1) / kCell, (file.height() + kCell - 1) / kCell};
    requantizer.grid = grid;

    // Round 0 is the file as it is; each later one is steered by the last
    // one's distance map. Strengths grow only after a round within the
    // target; after one over it, the cells around the spots that went over
    // are cut, reaching further for each such round in a row (a spot's
    // distance depends on its surroundings too).
    std::vector<double> strengths(std::size_t{grid.columns} * grid.rows, 0.0);
    std::vector<double> ceilings(strengths.size(), options.maxStrength);
    std::optional<PrunedJpeg> best;
    std::vector<double> bestStrengths;
    int encodings = 0;
    unsigned overs = 0;  // rounds over the target in a row
    for (int round = 0; round <= options.rounds; ++round) {
        const std::vector<std::uint8_t> bytes =
            file.Write(requantizer.planes(strengths), requantizer.tables, false);
        if (bytes.empty()) break;
        ++encodings;
        const std::optional<DistanceMap> map =
            DistanceMapOf(source, imagelib::DecodedViewedImage(format, bytes, background));
        if (!map) break;
        const bool over = map->score.maxDistance > target;
        if (!over && (!best || bytes.size() < best->bytes.size())) {
            best = PrunedJpeg{bytes, false, map->score, 0};
            bestStrengths = strengths;
        }
        if (round == options.rounds) break;
        const std::vector<float> cells = CellDistances(*map);
        overs = over ? overs + 1 : 0;
        unsigned reach = std::max(1u, overs);
        std::vector<double> next = NextStrengths(strengths, cells, grid.columns, grid.rows, target,
                                                 options, ceilings, reach);
        while (over && next == strengths && reach < kFarthestReach) {
            next = NextStrengths(strengths, cells, grid.columns, grid.rows, target, options,
                                 ceilings, ++reach);
        }
        if (next == strengths) break;  // settled: another round would repeat this one
        strengths = next;
    }
    if (!best) return std::nullopt;
    best->encodings = encodings;
    // The same coefficients in progressive scans: the same pixels, often fewer bytes.
    std::vector<std::uint8_t> progressive =
        file.Write(requantizer.planes(bestStrengths), requantizer.tables, true);
    if (!progressive.empty() && progressive.size() < best->bytes.size()) {
        best->bytes = std::move(progressive);
        best->progressive = true;
    }
    return best;
}

}  // namespace pimo::engine
