#include "ui/optimizer_group.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QSignalBlocker>

#include "settings/ini_store.h"
#include "ui/message_box.h"
#include "ui/named.h"
#include "ui/preset_editor.h"

namespace pimo::ui {

namespace {

QToolButton* ToolButton(const char* name, const QString& text, const char* icon,
                        const QString& tip) {
    auto* button = Named(new QToolButton, name);
    button->setText(text);
    button->setToolTip(tip);
    button->setIcon(QIcon::fromTheme(icon));
    // Without a themed picture the caption stands in for it.
    button->setToolButtonStyle(button->icon().isNull() ? Qt::ToolButtonTextOnly
                                                       : Qt::ToolButtonIconOnly);
    return button;
}

}  // namespace

PngOptimizerGroup::PngOptimizerGroup(engine::Engine& engine, OptimizerPresetModel& presets,
                                     settings::IniStore& externalTools,
                                     const optimizers::OptimizerRunner& runner, QWidget* parent)
    : QWidget(parent),
      m_engine(engine),
      m_presets(presets),
      m_externalTools(externalTools),
      m_runner(runner) {
    setObjectName("png_optimizer_group");
    png_optimizer = Named(new QComboBox, "png_optimizer");
    png_optimizer->setModel(&m_presets);
    png_optimizer->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    btn_add_png_optimizer = ToolButton("btn_add_png_optimizer", tr("Add"), "list-add",
                                       tr("Add a custom optimizer preset"));
    btn_remove_png_optimizer = ToolButton("btn_remove_png_optimizer", tr("Remove"), "list-remove",
                                          tr("Remove the selected custom preset"));
    btn_configure_png_optimizer =
        ToolButton("btn_configure_png_optimizer", tr("Configure"), "document-properties",
                   tr("Change the selected custom preset"));
    btn_apply_png_optimizer =
        ToolButton("btn_apply_png_optimizer", tr("Always apply"), "emblem-default",
                   tr("Apply the selected optimizer after every PNG encoding, also in batch runs"));
    btn_apply_png_optimizer->setCheckable(true);
    btn_start_png_optimizer =
        ToolButton("btn_start_png_optimizer", tr("Run now"), "media-playback-start",
                   tr("Run the selected optimizer on the result now"));
    btn_remove_png_optimizer->setEnabled(false);
    btn_configure_png_optimizer->setEnabled(false);
    btn_start_png_optimizer->setEnabled(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(png_optimizer, 1);
    for (QToolButton* button :
         {btn_add_png_optimizer, btn_remove_png_optimizer, btn_configure_png_optimizer,
          btn_apply_png_optimizer, btn_start_png_optimizer})
        layout->addWidget(button);

    connect(png_optimizer, &QComboBox::activated, this, [this](int row) {
        m_engine.settings.PNGOptimizer = row;
        png_optimizerSelect();
    });
    connect(btn_add_png_optimizer, &QToolButton::clicked, this,
            &PngOptimizerGroup::btn_add_png_optimizerClick);
    connect(btn_configure_png_optimizer, &QToolButton::clicked, this,
            &PngOptimizerGroup::btn_configure_png_optimizerClick);
    connect(btn_remove_png_optimizer, &QToolButton::clicked, this,
            &PngOptimizerGroup::btn_remove_png_optimizerClick);
    connect(btn_apply_png_optimizer, &QToolButton::clicked, this, [this](bool down) {
        m_engine.settings.PNGApplyOptimizer = down;
        emit settingsChanged();
    });
    connect(btn_start_png_optimizer, &QToolButton::clicked, this,
            &PngOptimizerGroup::btn_start_png_optimizerClick);
    showSettings();
    updateActions();
}

void PngOptimizerGroup::showSettings() {
    const QSignalBlocker blockList(png_optimizer);
    const QSignalBlocker blockApply(btn_apply_png_optimizer);
    png_optimizer->setCurrentIndex(m_engine.settings.PNGOptimizer);
    btn_apply_png_optimizer->setChecked(m_engine.settings.PNGApplyOptimizer);
    followSelection();
}

void PngOptimizerGroup::updateActions() {
    btn_start_png_optimizer->setEnabled(canRun());
}

bool PngOptimizerGroup::canRun() const {
    // A PNG optimizer has nothing to work on in a JPEG or GIF result, nor
    // while the engine is making one or a batch run drives it.
    return m_engine.SourceBitmap != nullptr && !m_engine.Busy() && m_engine.Interactive &&
           m_engine.settings.Format == engine::kFormatPng;
}

void PngOptimizerGroup::followSelection() {
    const bool custom = !m_presets.isInternal(png_optimizer->currentIndex());
    btn_remove_png_optimizer->setEnabled(custom);
    btn_configure_png_optimizer->setEnabled(custom);
}

void PngOptimizerGroup::selectSilently(int row) {
    const QSignalBlocker block(png_optimizer);
    png_optimizer->setCurrentIndex(row);
    m_engine.settings.PNGOptimizer = row;
}

void PngOptimizerGroup::png_optimizerSelect() {
    followSelection();
    // A new tool makes a new result only when it is applied automatically.
    if (btn_apply_png_optimizer->isChecked()) emit settingsChanged();
}

void PngOptimizerGroup::btn_add_png_optimizerClick() {
    Tform_add_png_optimizer editor(m_presets, m_externalTools, window());
    if (editor.exec() != QDialog::Accepted) return;
    selectSilently(editor.storedIndex());
    png_optimizerSelect();
}

void PngOptimizerGroup::btn_configure_png_optimizerClick() {
    const int row = png_optimizer->currentIndex();
    if (row < 0) return;
    Tform_add_png_optimizer editor(m_presets, m_externalTools, window());
    editor.editPreset(row);
    if (editor.exec() != QDialog::Accepted) return;
    // Renaming keeps the row; the selection handler does not run.
    selectSilently(row);
}

void PngOptimizerGroup::btn_remove_png_optimizerClick() {
    const int row = png_optimizer->currentIndex();
    if (m_presets.isInternal(row)) {
        ShowMessageBox(this, engine::MessageKind::Error, kInternalPresetText,
                       engine::MessageButtons::Ok);
        return;
    }
    const std::string name = m_presets.presets().tools().At(row).Name;
    if (ShowMessageBox(this, engine::MessageKind::Confirmation, kRemoveQuestion + name + " ?",
                       engine::MessageButtons::YesNo) != engine::MessageAnswer::Yes)
        return;
    if (m_externalTools.isOpen()) m_externalTools.EraseSection(name);
    m_presets.remove(row);
    selectSilently(0);
    png_optimizerSelect();
}

void PngOptimizerGroup::btn_start_png_optimizerClick() {
    if (!canRun()) return;
    // A stale result is made again and shown first, so the tool works on
    // what the settings say and the view shows what it worked on.
    if (m_engine.ResultStale) m_engine.PreviewImage();
    m_runner.RunExternalOptimizer(m_engine);
    emit optimizerRun();
}

}  // namespace pimo::ui
