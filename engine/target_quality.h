#pragma once
// Compress to a quality target: the smallest JPEG quality or palette colour
// count whose result stays within a perceptual distance of the source,
// found by the same binary search and probe bound as compress to size; and
// the size-quality curve of one image, sampled for drawing.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/compress_to_size.h"
#include "engine/engine.h"
#include "engine/quality_score.h"

namespace pimo::engine {

/// One probed setting: the encoded size and, when the result could be
/// scored, its distance from the source.
struct QualityProbe {
    int value = 0;
    std::uint32_t bytes = 0;
    std::optional<QualityScore> score;
};

struct QualitySearch {
    int best = 0;  // the smallest value whose distance is at most the target, 0 when none is
    std::optional<QualityScore> bestScore;
    std::vector<QualityProbe> probes;  // in the order they ran
    /// JPEG with a value found: whether the smaller file at `best` is the
    /// progressive one. Progressive and baseline files hold the same
    /// coefficients and decode to the same pixels, so only their sizes differ.
    std::optional<bool> progressive;
    /// JPEG with a value found: the chroma subsampling (a
    /// JPEGChromaSubsampling value) at which `best` was found.
    std::optional<int> chromaSubsampling;
    /// JPEG with a value found: the file for `best` when pruning each
    /// block's small coefficients where the distance allows (see
    /// jpeg_block_pruning.h) made one smaller than the encoder's own at
    /// `best`; `bestScore` and `progressive` are then this file's. Empty
    /// otherwise: the encoder's file at `best` is the one.
    std::vector<std::uint8_t> encoded;
    /// The pruned files written and scored (none when pruning did not run).
    int prunedEncodings = 0;
};

/// Binary search over `range` for the smallest value whose probe distance is
/// at most `target`, assuming the distance falls as the value rises. A probe
/// without a score counts as too far. The same probe bound as SearchSetting:
/// 7 for 1..100, 8 for 2..256.
QualitySearch SearchDistanceSetting(double target, SettingRange range,
                                    const std::function<QualityProbe(int)>& probe);

/// The search over the engine's current range of `setting`, each probe a
/// full OptimizeImage run into memory scored against the source composited
/// over the settings' background. For JPEG, the quality is searched twice:
/// with the settings' chroma subsampling and with the other of 4:4:4 and
/// 4:2:0 (up to the first search's value), each within the probe bound, and
/// the smaller file kept (`probes` lists both searches' probes); the value
/// found is then encoded once more with the other progressive setting, and
/// the smaller of the two chosen. Then the coefficients at that quality are
/// pruned block by block where the distance allows (a bounded number of
/// scored rounds, PruningOptions::rounds, plus one unpruned), and the pruned
/// file kept in `encoded` when it is smaller still (unless `pruneJpeg` is
/// false). Leaves the setting at the last probed
/// value (and the result stream holding that probe; the subsampling as it
/// was when nothing is found); the caller sets the final ones.
QualitySearch SearchQualitySetting(Engine& engine, double target, SizeSetting setting,
                                   bool pruneJpeg = true);

/// The engine's result stream scored against `source` (the viewer's pixels
/// of the source over the settings' background).
std::optional<QualityScore> ScoreEngineResult(const Engine& engine,
                                              const imagelib::RgbPixels& source);

/// A private, non-interactive engine over copies of another engine's source,
/// analysis and settings, for probes on a worker thread while the original
/// engine stays with its window. It has no external optimizer: that one
/// works in a shared temporary file.
class ProbeEngine {
  public:
    /// Copies what the pipeline reads from `from`; runs on `from`'s thread.
    explicit ProbeEngine(const Engine& from);
    Engine& engine() { return m_engine; }

  private:
    class SilentHost : public Host {
      public:
        void setStatusText(const std::string&, int) override {}
        void setBusyCursor(bool) override {}
        MessageAnswer showMessage(MessageKind, const std::string&, MessageButtons) override {
            return MessageAnswer::Ok;
        }
        void showBalloon(const std::string&, const std::string&, int) override {}
        void hideBalloon() override {}
        void processPendingEvents() override {}
        void setMainWindowEnabled(bool) override {}
    };
    SilentHost m_host;
    Engine m_engine;
};

struct CurveSampling {
    int initialPoints = 6;  // spread evenly over the range, ends included
    int refinements = 6;    // further points, each where the curve bends most
};

/// File size and distance against `setting` over its current range, for
/// `engine` as it stands (use a ProbeEngine's engine off the window's
/// thread). First evenly spread points, then points inserted beside the
/// sampled point where the curve (size and distance, each scaled to its
/// span) turns most, while a gap is left there. Sorted by value. Stops early,
/// with the points so far, when `stopRequested` says so. Leaves the setting
/// at its value before the call.
std::vector<QualityProbe> SampleQualityCurve(Engine& engine, SizeSetting setting,
                                             CurveSampling sampling = {},
                                             const std::function<bool()>& stopRequested = {});

}  // namespace pimo::engine
