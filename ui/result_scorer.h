#pragma once
// The quality score of the result on display, computed away from the
// window's thread: the window asks after each new result and never waits; a
// score that arrives after a newer result is dropped, and while one is being
// computed only the newest result waits for its turn.

#include <QObject>
#include <QString>
#include <optional>
#include <thread>

#include "engine/quality_score.h"

namespace pimo::ui {

class ResultScorer : public QObject {
    Q_OBJECT
  public:
    explicit ResultScorer(QObject* parent = nullptr);
    /// Waits for a score still being computed.
    ~ResultScorer() override;

    /// Scores `input` (nothing: no result, nothing to show).
    void score(std::optional<engine::ResultScoreInput> input);
    /// No result any more: the text goes and a waiting result is dropped.
    void clear() { score(std::nullopt); }

  signals:
    /// "Quality: computing…", "Quality: 1.12 (good)", a failure's text, or
    /// empty when there is no result.
    void textChanged(const QString& text);

  private:
    void startNext();
    void finished(unsigned generation, const engine::ScoreOutcome& outcome);

    std::optional<engine::ResultScoreInput> m_waiting;
    std::jthread m_worker;
    bool m_running = false;
    unsigned m_generation = 0;  // counts the results asked for
};

/// The text shown for a finished score.
QString QualityScoreText(const engine::ScoreOutcome& outcome);

}  // namespace pimo::ui
