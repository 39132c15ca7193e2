#include "ui/result_scorer.h"

#include <QMetaObject>
#include <utility>

namespace pimo::ui {

QString QualityScoreText(const engine::ScoreOutcome& outcome) {
    if (!outcome.score)
        return QObject::tr("Quality: not measured (%1)").arg(QString::fromStdString(outcome.error));
    return QObject::tr("Quality: %1")
        .arg(QString::fromStdString(engine::QualityText(outcome.score->maxDistance)));
}

ResultScorer::ResultScorer(QObject* parent) : QObject(parent) {}

ResultScorer::~ResultScorer() {
    if (m_worker.joinable()) m_worker.join();
}

void ResultScorer::score(std::optional<engine::ResultScoreInput> input) {
    ++m_generation;
    m_waiting = std::move(input);
    if (!m_waiting) {
        emit textChanged({});
        return;
    }
    emit textChanged(tr("Quality: computing…"));
    if (!m_running) startNext();
}

void ResultScorer::startNext() {
    if (!m_waiting) return;
    if (m_worker.joinable()) m_worker.join();  // it has reported: it ends at once
    m_running = true;
    m_worker = std::jthread(
        [this, generation = m_generation, input = std::exchange(m_waiting, std::nullopt)] {
            const engine::ScoreOutcome outcome = engine::ScoreResult(*input);
            QMetaObject::invokeMethod(
                this, [this, generation, outcome] { finished(generation, outcome); },
                Qt::QueuedConnection);
        });
}

void ResultScorer::finished(unsigned generation, const engine::ScoreOutcome& outcome) {
    m_running = false;
    if (generation == m_generation) {
        emit textChanged(QualityScoreText(outcome));
        return;
    }
    startNext();  // a newer result came meanwhile
}

}  // namespace pimo::ui
