#pragma once
// How close a result looks to its source, in numbers: the butteraugli
// distance of libjxl between the pixels a viewer sees of each (both decoded,
// transparency composited over the same background, both taken as sRGB),
// and the usual reading of it. 0 means identical; about 1 is the threshold
// of a visible difference at normal viewing distance.
//
// Every function here is free of shared state and may run on any thread,
// several at once.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/imagelib/viewed_pixels.h"
#include "engine/optimization_settings.h"

namespace pimo::engine {

struct QualityScore {
    /// The distance of the worst spot: what "the distance" of a result means.
    double maxDistance = 0;
    /// The 3-norm of the distance map: how much of the image differs, and how much.
    double norm3 = 0;
};

/// A score, or why there is none.
struct ScoreOutcome {
    std::optional<QualityScore> score;
    std::string error;  // empty when a score exists
};

enum class QualityReading {
    VeryGood,  // below 1: no difference visible at normal viewing distance
    Good,      // 1 to 3: differences visible on close inspection
    Poor,      // 3 and above: differences plainly visible
};

QualityReading ReadingOf(double distance);
/// "very good", "good" or "poor".
std::string_view ReadingText(QualityReading reading);
/// One line saying what the reading means to someone looking at the image.
std::string_view ReadingDescription(QualityReading reading);
/// The distance with two decimals and its reading: "1.12 (good)".
std::string QualityText(double distance);

/// How the distance map is computed: over tiles of at most `interior`
/// pixels square (the image split as evenly as even sizes allow), each
/// computed with `margin` more pixels of context on every side and the
/// tiles' interiors combined, or (interior 0, or an image within one
/// interior) over the whole image in one piece. Both values are rounded up
/// to even numbers, so that every tile's half-resolution pass sees the same
/// pixel pairs as the whole image's. The tiles depend on the image's size
/// alone, so that a score repeats on any machine.
struct DistanceTiling {
    unsigned interior = 1024;
    unsigned margin = 80;
};

/// The distance between two images of the same size. An error when either
/// is empty, the sizes differ or the library fails. Uses every core.
///
/// The library keeps dozens of full-size planes per call and runs on one
/// core; over a large image that is gigabytes. Tiles bound the memory of
/// each call and spread over the cores, and score the same maximum and
/// 3-norm as the whole image while their margin covers the metric's
/// farthest reach (72 pixels: its widest blurs, run again at half
/// resolution). Each tile's pixels are made from the views as it starts.
ScoreOutcome ScoreViewed(const imagelib::ViewedImage& source, const imagelib::ViewedImage& result,
                         DistanceTiling tiling = {});
/// ScoreViewed over prepared pixels.
ScoreOutcome ScorePixels(const imagelib::RgbPixels& source, const imagelib::RgbPixels& result,
                         DistanceTiling tiling = {});

/// The distance at every pixel, row by row, and the score it makes.
struct DistanceMap {
    unsigned width = 0, height = 0;
    std::vector<float> values;
    QualityScore score;

    float at(unsigned x, unsigned y) const { return values[std::size_t{y} * width + x]; }
};

/// ScoreViewed's distance map: the tiles' interiors put together, so that
/// its score is ScoreViewed's to the last digit. None where ScoreViewed has
/// an error. Holds a float per pixel more than a score does.
std::optional<DistanceMap> DistanceMapOf(const imagelib::ViewedImage& source,
                                         const imagelib::ViewedImage& result,
                                         DistanceTiling tiling = {});

/// The viewer's pixels of `bitmap` over `background` (see CompositedRgb).
imagelib::RgbPixels ViewedPixels(FIBITMAP* bitmap, Rgb background);

/// Decodes `encoded` (system `format`), composites it over `background` and
/// scores it against `source` (already composited over the same background).
/// An error when the bytes do not decode or decode to another size.
ScoreOutcome ScoreEncoded(const imagelib::RgbPixels& source, int format,
                          std::span<const std::uint8_t> encoded, Rgb background);
/// The same against a view of the source.
ScoreOutcome ScoreEncoded(const imagelib::ViewedImage& source, int format,
                          std::span<const std::uint8_t> encoded, Rgb background);

/// Copies of what scoring the engine's current result needs, so that the
/// score can be computed on another thread while the engine moves on.
struct ResultScoreInput {
    Bitmap source;
    int format = kFormatJpeg;
    std::vector<std::uint8_t> encoded;
    Rgb background;
};

/// The engine's source bitmap and result stream, copied, with the output
/// format and the background colour of its settings. None without a source
/// or without a result.
std::optional<ResultScoreInput> CaptureResultScoreInput(const Engine& engine);
/// Scores a captured result; meant to run on a worker thread.
ScoreOutcome ScoreResult(const ResultScoreInput& input);

}  // namespace pimo::engine
