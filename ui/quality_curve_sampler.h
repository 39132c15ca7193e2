#pragma once
// The size-quality curve of the image on display, sampled away from the
// window's thread: the window copies a probe engine and never waits; a newer
// request stops the older one, whose late result is dropped, and so does
// clearing.

#include <QObject>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "engine/compress_to_size.h"
#include "engine/target_quality.h"

namespace pimo::ui {

/// A sampled curve and what it was sampled over.
struct SampledCurve {
    engine::SizeSetting setting = engine::SizeSetting::JPEGQuality;
    engine::SettingRange range;
    std::vector<engine::QualityProbe> points;  // sorted by value
};

class QualityCurveSampler : public QObject {
    Q_OBJECT
  public:
    explicit QualityCurveSampler(QObject* parent = nullptr);
    /// Stops the sampling still running and waits for its current probe.
    ~QualityCurveSampler() override;

    /// Samples `setting` over its current range for `engine` as it stands
    /// (source, analysis, settings), copied here on the caller's thread. The
    /// curve arrives through curveSampled, unless a newer request or clear()
    /// comes first. Needs a source image.
    void sample(const engine::Engine& engine, engine::SizeSetting setting,
                engine::CurveSampling sampling = {});
    /// Stops what was asked for: nothing arrives until the next request.
    void clear();
    /// Whether a worker is still running (perhaps for a result that will be dropped).
    bool running() const { return m_running; }

  signals:
    /// The curve of the newest request.
    void curveSampled(const ui::SampledCurve& curve);

  private:
    struct Request {
        std::unique_ptr<engine::ProbeEngine> probes;
        engine::SizeSetting setting;
        engine::CurveSampling sampling;
    };
    void startNext();
    void finished(unsigned generation, const SampledCurve& curve);

    std::optional<Request> m_waiting;
    std::jthread m_worker;
    bool m_running = false;
    unsigned m_generation = 0;  // counts the requests, clearing included
};

}  // namespace pimo::ui
