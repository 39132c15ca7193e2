#pragma once
// The optimizer presets as a list model: one row per preset, its item text
// as the display text. The list `png_optimizer` shows it; adding, replacing
// and removing go through the model so the presets and every view of them
// change in the same step.

#include <QAbstractListModel>

#include "optimizers/optimizer_presets.h"

namespace pimo::ui {

class OptimizerPresetModel : public QAbstractListModel {
    Q_OBJECT
  public:
    /// A view of `presets`, which must outlive the model and change only
    /// through it.
    explicit OptimizerPresetModel(optimizers::OptimizerPresets& presets, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const optimizers::OptimizerPresets& presets() const { return m_presets; }
    /// The item text of row `row` (an internal preset's fixed text or a
    /// custom preset's name); empty outside the list.
    QString itemText(int row) const;
    bool isInternal(int row) const { return m_presets.isInternal(row); }

    /// Replaces the whole list (the presets built at start-up).
    void resetPresets(optimizers::OptimizerPresets presets);
    /// Appends a custom preset; returns its row.
    int add(const optimizers::TOptimizationTool& tool);
    /// Replaces the custom preset at `row`; internal rows and rows outside
    /// the list change nothing.
    void replace(int row, const optimizers::TOptimizationTool& tool);
    /// Removes the custom preset at `row`; internal rows and rows outside
    /// the list change nothing.
    void remove(int row);

  private:
    bool isCustom(int row) const { return !isInternal(row) && row < rowCount(); }

    optimizers::OptimizerPresets& m_presets;
};

}  // namespace pimo::ui
