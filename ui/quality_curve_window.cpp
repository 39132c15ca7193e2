#include "ui/quality_curve_window.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/compress_to_size.h"
#include "ui/named.h"

namespace pimo::ui {

QString NoCurveReason(const engine::Engine& engine) {
    if (!engine.SourceBitmap) {
        return QObject::tr(
            "Open an image to see how its file size and its quality follow the "
            "quality setting.");
    }
    if (engine::CompressToSizeAvailable(engine)) return {};
    const engine::OptimizationSettings& settings = engine.settings;
    if (settings.Format == engine::kFormatPng &&
        engine::PngPresetKind(settings.PNGPalettePreset) == engine::PresetKind::TrueColor) {
        return QObject::tr(
            "A true-colour PNG has no quality setting to vary. Choose an Optimal "
            "palette to see how the colour count trades size for quality.");
    }
    return QObject::tr("Dithered monochrome always uses two colours: there is no setting to vary.");
}

QualityCurveWindow::QualityCurveWindow(engine::Engine& engine, FormatPanel& formatPanel,
                                       QWidget* parent)
    : QWidget(parent, Qt::Tool), m_engine(engine), m_formatPanel(formatPanel) {
    setObjectName("quality_curve_window");
    setWindowTitle(tr("Size–quality curve"));
    m_curve = new QualityCurveWidget;
    m_sampler = new QualityCurveSampler(this);
    m_note = Named(new QLabel(tr("Click a point to use its setting. The curve follows the image "
                                 "and the format; after other changes, recompute it.")),
                   "quality_curve_note");
    m_note->setWordWrap(true);
    m_recompute = Named(new QPushButton(tr("&Recompute")), "quality_curve_recompute");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_curve, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(m_note, 1);
    row->addWidget(m_recompute);
    layout->addLayout(row);
    resize(680, 460);

    connect(m_sampler, &QualityCurveSampler::curveSampled, this, &QualityCurveWindow::sampled);
    connect(m_recompute, &QPushButton::clicked, this, &QualityCurveWindow::resample);
    connect(m_curve, &QualityCurveWidget::valueRequested, this, [this](int value) {
        // A long call of the engine is running and processing events: the
        // change would have to wait for it, so it is not taken.
        if (m_engine.Busy() || !engine::CompressToSizeAvailable(m_engine)) return;
        m_formatPanel.chooseSizeSetting(engine::SizeSettingFor(m_engine.settings.Format), value);
    });
    // Connected after the window's own reaction: the preview runs first.
    connect(&m_formatPanel, &FormatPanel::settingsChanged, this,
            &QualityCurveWindow::settingsChanged);
    resample();
}

QualityCurveWindow::Key QualityCurveWindow::currentKey() const {
    return {m_source, m_engine.settings.Format, engine::CompressToSizeAvailable(m_engine)};
}

void QualityCurveWindow::sourceChanged() {
    ++m_source;
    resample();
}

void QualityCurveWindow::settingsChanged() {
    if (currentKey() != m_shown) {
        resample();
        return;
    }
    const engine::SizeSetting setting = engine::SizeSettingFor(m_engine.settings.Format);
    m_curve->setCurrentValue(engine::SettingField(m_engine.settings, setting));
}

void QualityCurveWindow::resample() {
    m_sampler->clear();
    m_shown = currentKey();
    const QString reason = NoCurveReason(m_engine);
    m_recompute->setEnabled(reason.isEmpty());
    m_note->setVisible(reason.isEmpty());
    if (!reason.isEmpty()) {
        m_curve->setMessage(reason);
        return;
    }
    m_curve->setMessage(tr("Measuring the file size and the distance at several settings…"));
    // Sampled when the window is seen, and not from the middle of a long call,
    // whose settings may be a probe's.
    if (!isVisible() || m_engine.Busy()) {
        m_shown.reset();
        return;
    }
    m_sampler->sample(m_engine, engine::SizeSettingFor(m_engine.settings.Format));
}

void QualityCurveWindow::sampled(const SampledCurve& curve) {
    m_curve->setCurve(curve.setting, curve.range, curve.points);
    m_curve->setCurrentValue(engine::SettingField(m_engine.settings, curve.setting));
}

void QualityCurveWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_placed) placeBesideParent();
    if (currentKey() != m_shown) resample();
}

void QualityCurveWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Nobody looks: a curve still being measured is not finished.
    if (m_sampler->running() && m_curve->points().empty()) {
        m_sampler->clear();
        m_shown.reset();
    }
}

// On first showing, right of the main window where the screen has room,
// otherwise against the screen's right edge.
void QualityCurveWindow::placeBesideParent() {
    m_placed = true;
    QWidget* owner = parentWidget();
    if (!owner) return;
    const QRect frame = owner->frameGeometry();
    const QScreen* screen = owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    const int x = std::clamp(frame.right() + 8, available.left(),
                             std::max(available.left(), available.right() - width()));
    const int y = std::clamp(frame.top(), available.top(),
                             std::max(available.top(), available.bottom() - height()));
    move(x, y);
}

}  // namespace pimo::ui
