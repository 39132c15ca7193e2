#include "ui/quality_curve_sampler.h"

#include <QMetaObject>
#include <utility>

namespace pimo::ui {

QualityCurveSampler::QualityCurveSampler(QObject* parent) : QObject(parent) {}

QualityCurveSampler::~QualityCurveSampler() {
    m_worker.request_stop();
    if (m_worker.joinable()) m_worker.join();
}

void QualityCurveSampler::sample(const engine::Engine& engine, engine::SizeSetting setting,
                                 engine::CurveSampling sampling) {
    ++m_generation;
    m_waiting = Request{std::make_unique<engine::ProbeEngine>(engine), setting, sampling};
    if (m_running) {
        m_worker.request_stop();  // its result is dropped; then the waiting one starts
        return;
    }
    startNext();
}

void QualityCurveSampler::clear() {
    ++m_generation;
    m_waiting.reset();
    m_worker.request_stop();
}

void QualityCurveSampler::startNext() {
    if (!m_waiting) return;
    if (m_worker.joinable()) m_worker.join();  // it has reported: it ends at once
    m_running = true;
    Request request = std::move(*m_waiting);
    m_waiting.reset();
    m_worker = std::jthread([this, generation = m_generation,
                             request = std::move(request)](std::stop_token stop) {
        engine::Engine& probes = request.probes->engine();
        SampledCurve curve{request.setting, engine::RangeOf(probes.settings, request.setting),
                           engine::SampleQualityCurve(probes, request.setting, request.sampling,
                                                      [&stop] { return stop.stop_requested(); })};
        QMetaObject::invokeMethod(
            this, [this, generation, curve] { finished(generation, curve); }, Qt::QueuedConnection);
    });
}

void QualityCurveSampler::finished(unsigned generation, const SampledCurve& curve) {
    m_running = false;
    if (generation == m_generation) {
        emit curveSampled(curve);
        return;
    }
    startNext();  // a newer request came meanwhile, or none is wanted
}

}  // namespace pimo::ui
