#pragma once
// The preset editor: adds a custom optimizer preset or changes one, after
// checking the entries, in the preset list and in the external-tools store.

#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <optional>
#include <string>

#include "optimizers/optimization_tools.h"
#include "ui/optimizer_preset_model.h"

namespace pimo::settings {
class IniStore;
}

namespace pimo::ui {

// The editor's error texts, in the order its checks run.
inline constexpr const char* kFieldsMissingText = "Please fill in all required fields";
inline constexpr const char* kFileMissingText = "The specified file does not exist";
inline constexpr const char* kParametersInvalidText =
    "Invalid parameters !\nThe parameter field must contain {IMAGE_FILE} which specifies the "
    "input and output image.\n";
inline constexpr const char* kNameTakenText =
    "This tool name already exists !\nPlease choose a different name.";

/// The first failing check of an editor's entries, as its error text, or none
/// when the entries may be stored. In order: a name and a path are given; a
/// file exists at the path; the parameters hold "{IMAGE_FILE}" in capitals;
/// no preset other than `editIndex` has that name (custom presets without
/// regard to letter case, as the external-tools file matches its sections so);
/// the external-tools file can hold the name and values.
std::optional<std::string> PresetEntryError(const OptimizerPresetModel& presets,
                                            const optimizers::TOptimizationTool& entry,
                                            int editIndex);

class Tform_add_png_optimizer : public QDialog {
    Q_OBJECT
  public:
    /// An editor over `presets` that stores into `externalTools` while that
    /// store is open. Empty entries, parameters "{IMAGE_FILE}", add mode.
    Tform_add_png_optimizer(OptimizerPresetModel& presets, settings::IniStore& externalTools,
                            QWidget* parent = nullptr);

    /// Edit mode on the custom preset at `index`: the entries show its
    /// values. Any other index leaves the editor in add mode.
    void editPreset(int index);

    /// True when the dialog edits an existing preset.
    bool EditMode = false;
    /// The edited preset's row; -1 when adding.
    int EditIndex = -1;
    /// After acceptance: the row of the preset stored.
    int storedIndex() const { return m_storedIndex; }

  private:
    void Button1Click();
    void Button2Click();
    /// Writes the preset's two keys, erasing the section of its old name.
    void store(const optimizers::TOptimizationTool& tool, const std::string& oldName);

    OptimizerPresetModel& m_presets;
    settings::IniStore& m_externalTools;
    int m_storedIndex = -1;

    QLineEdit* tool_name = nullptr;
    QLineEdit* tool_path = nullptr;
    QPushButton* Button1 = nullptr;
    QLineEdit* parameters = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
};

}  // namespace pimo::ui
