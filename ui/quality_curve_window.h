#pragma once
// The tool window beside the main window that shows the size-quality curve
// of the image on display for its output format. It samples the curve again
// when the image, the format or whether a setting applies changes (or when
// asked), and otherwise only moves the mark of the current setting; a click
// on a point sets that value through the format panel, as the user would.

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <optional>

#include "engine/engine.h"
#include "ui/format_panel.h"
#include "ui/quality_curve_sampler.h"
#include "ui/quality_curve_widget.h"

namespace pimo::ui {

/// The sentence shown instead of a curve when none can be drawn for the
/// engine as it stands (no image, no setting to vary); empty when one can.
QString NoCurveReason(const engine::Engine& engine);

class QualityCurveWindow : public QWidget {
    Q_OBJECT
  public:
    /// A tool window of `parent` (the main window), hidden until shown.
    QualityCurveWindow(engine::Engine& engine, FormatPanel& formatPanel, QWidget* parent);

    /// Another image, or none: the curve goes and is sampled again.
    void sourceChanged();
    /// The settings changed: another format samples again, anything else
    /// moves the mark of the current setting.
    void settingsChanged();

    QualityCurveWidget* curve() const { return m_curve; }
    QualityCurveSampler* sampler() const { return m_sampler; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    /// What the curve depends on beyond the sampled setting itself.
    struct Key {
        unsigned source = 0;
        int format = 0;
        bool applies = false;
        bool operator==(const Key&) const = default;
    };
    Key currentKey() const;
    /// Samples the curve for the engine as it stands (or says why there is none).
    void resample();
    void sampled(const SampledCurve& curve);
    void placeBesideParent();

    engine::Engine& m_engine;
    FormatPanel& m_formatPanel;
    QualityCurveWidget* m_curve = nullptr;
    QualityCurveSampler* m_sampler = nullptr;
    QLabel* m_note = nullptr;
    QPushButton* m_recompute = nullptr;
    unsigned m_source = 0;       // counts the images shown
    std::optional<Key> m_shown;  // what the curve on display (or being sampled) is for
    bool m_placed = false;
};

}  // namespace pimo::ui
