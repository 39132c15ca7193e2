#pragma once
// Spending a JPEG's bits where the distance needs them. A baseline JPEG has
// one quantization table per component, which sets the finest level any
// block gets; which coefficients each block keeps is still the encoder's
// choice. Starting from the table that keeps the worst spot within a
// distance, blocks whose neighbourhood is well within it lose their small
// coefficients (a wider dead zone around zero, wider at higher frequencies
// and with more headroom, and wider still for chroma); rounds of scoring
// then give back detail where the distance went over and take more where
// there is still room. The rounds are bounded: at most 1 + rounds files are
// scored (the first unpruned), and the best one is written once more in
// progressive scans, unscored (the same pixels).

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/imagelib/jpeg_coefficients.h"
#include "engine/quality_score.h"

namespace pimo::engine {

/// Quantizes one block of unquantized coefficients (natural order) by
/// `table`. `strength` 0 rounds each to the nearest step, as the encoder
/// does; above 0 an AC coefficient is zeroed when its magnitude is below
/// 0.5 + strength * weight steps, the weight rising from a quarter at the
/// lowest frequencies to 1 from the middle ones on. The DC is always rounded.
void QuantizeBlock(const std::int32_t* unquantized, const imagelib::QuantTable& table,
                   double strength, std::int16_t* out);

/// What pruning is allowed to do.
struct PruningOptions {
    int rounds = 6;            // encodings scored after the unpruned one
    double aim = 0.9;          // the share of the target a cell's distance is steered to
    double gain = 8.0;         // strength added per unit of headroom (share of the target)
    double maxStrength = 3.0;  // the widest dead zone, in quantization steps beyond 0.5
    double cut = 0.5;          // what a strength is multiplied by near a spot over the target
    // Chroma blocks' strength against luma ones' over the same cells: the
    // eye reads colour at a coarser scale, and the distance says so.
    double chromaScale = 2.5;
};

/// The per-cell strengths for the next round, from this round's largest
/// distance in each 8x8 pixel cell (`cellDistances`; both row by row). A
/// cell looks at its neighbourhood: the largest distance within `reach`
/// cells each way. Where that is over the target, the strength is cut (times
/// options.cut) and `ceilings` (the strengths each cell may never exceed
/// again, kept by the caller, initially maxStrength) lowered to it. Other
/// cells grow only when no cell is over: by gain times the gap to aim *
/// target (as a share of the target), shrinking where the gap is negative.
/// Clamped to 0..maxStrength.
std::vector<double> NextStrengths(std::span<const double> strengths,
                                  std::span<const float> cellDistances, unsigned cellColumns,
                                  unsigned cellRows, double target, const PruningOptions& options,
                                  std::vector<double>& ceilings, unsigned reach = 1);

/// The largest distance within each 8x8 pixel cell of `map`, cells row by row
/// (partial cells at the right and bottom edges included).
std::vector<float> CellDistances(const DistanceMap& map);

struct PrunedJpeg {
    std::vector<std::uint8_t> bytes;  // baseline or progressive, whichever is smaller
    bool progressive = false;
    QualityScore score;
    int encodings = 0;  // files written and scored, the unpruned one included
};

/// The smallest file found whose maximum distance from `source` is at most
/// `target`: `file`'s coefficients, with its tables, pruned over at most
/// 1 + options.rounds scored encodings, the first one unpruned (the same
/// coefficients as `file`'s).
/// `format` and `background` are the system format and background with which
/// a result is decoded for scoring. None when no encoding reached the target.
std::optional<PrunedJpeg> PruneToDistance(const imagelib::ViewedImage& source,
                                          const imagelib::JpegCoefficients& file, double target,
                                          int format, imagelib::Background background,
                                          const PruningOptions& options = {});

}  // namespace pimo::engine
