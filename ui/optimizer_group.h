#pragma once
// The external optimizer group of the PNG page: the preset list and the
// buttons that add, remove and configure a custom preset, switch automatic
// application on and off, and run the selected tool now.

#include <QComboBox>
#include <QToolButton>
#include <QWidget>

#include "engine/engine.h"
#include "optimizers/optimizer_runner.h"
#include "ui/optimizer_preset_model.h"

namespace pimo::settings {
class IniStore;
}

namespace pimo::ui {

/// The remove flow's texts.
inline constexpr const char* kInternalPresetText = "The internal presets cannot be deleted  !";
inline constexpr const char* kRemoveQuestion =
    "Are you sure you want to delete the custom tool preset named ";

class PngOptimizerGroup : public QWidget {
    Q_OBJECT
  public:
    /// The group over `presets`, storing custom presets in `externalTools`,
    /// with the selection in `engine.settings.PNGOptimizer` and automatic
    /// application in `PNGApplyOptimizer`; `runner` runs a tool on demand.
    /// All must outlive the group.
    PngOptimizerGroup(engine::Engine& engine, OptimizerPresetModel& presets,
                      settings::IniStore& externalTools, const optimizers::OptimizerRunner& runner,
                      QWidget* parent = nullptr);

    /// The controls show the settings (selection, automatic application) and
    /// the buttons follow the selection, with no signal.
    void showSettings();
    /// Enables the start button while there is a PNG result to work on.
    void updateActions();

  signals:
    /// The user changed a setting: automatic application, or the tool while
    /// it is applied automatically.
    void settingsChanged();
    /// The tool ran on demand (the result may have changed).
    void optimizerRun();

  private:
    void png_optimizerSelect();
    void btn_add_png_optimizerClick();
    void btn_configure_png_optimizerClick();
    void btn_remove_png_optimizerClick();
    void btn_start_png_optimizerClick();
    /// Selects `row` in the list and the settings without a reaction.
    void selectSilently(int row);
    /// Whether there is a PNG result the tool may work on now.
    bool canRun() const;
    /// Remove and configure are for custom presets only.
    void followSelection();

    engine::Engine& m_engine;
    OptimizerPresetModel& m_presets;
    settings::IniStore& m_externalTools;
    const optimizers::OptimizerRunner& m_runner;

    QComboBox* png_optimizer = nullptr;
    QToolButton* btn_add_png_optimizer = nullptr;
    QToolButton* btn_remove_png_optimizer = nullptr;
    QToolButton* btn_configure_png_optimizer = nullptr;
    QToolButton* btn_apply_png_optimizer = nullptr;
    QToolButton* btn_start_png_optimizer = nullptr;
};

}  // namespace pimo::ui
