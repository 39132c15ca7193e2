#include "ui/optimizer_preset_model.h"

#include "ui/message_box.h"

namespace pimo::ui {

OptimizerPresetModel::OptimizerPresetModel(optimizers::OptimizerPresets& presets, QObject* parent)
    : QAbstractListModel(parent), m_presets(presets) {}

int OptimizerPresetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_presets.tools().Count();
}

QVariant OptimizerPresetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) return itemText(index.row());
    if (role == Qt::ToolTipRole) {
        const optimizers::TOptimizationTool& tool = m_presets.tools().At(index.row());
        return Qs(tool.FileName + " " + tool.Params);
    }
    return {};
}

QString OptimizerPresetModel::itemText(int row) const {
    if (row < 0 || row >= rowCount()) return {};
    return Qs(m_presets.items()[static_cast<std::size_t>(row)]);
}

void OptimizerPresetModel::resetPresets(optimizers::OptimizerPresets presets) {
    beginResetModel();
    m_presets = std::move(presets);
    endResetModel();
}

int OptimizerPresetModel::add(const optimizers::TOptimizationTool& tool) {
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_presets.Add(tool);
    endInsertRows();
    return row;
}

void OptimizerPresetModel::replace(int row, const optimizers::TOptimizationTool& tool) {
    if (!isCustom(row)) return;
    m_presets.Replace(row, tool);
    emit dataChanged(index(row), index(row));
}

void OptimizerPresetModel::remove(int row) {
    if (!isCustom(row)) return;
    beginRemoveRows({}, row, row);
    m_presets.Remove(row);
    endRemoveRows();
}

}  // namespace pimo::ui
