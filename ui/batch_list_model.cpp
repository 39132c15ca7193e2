#include "ui/batch_list_model.h"

#include <QColor>

#include "ui/message_box.h"

namespace pimo::ui {

namespace {

QVariant StatusColor(const std::string& status) {
    switch (batch::StatusColorOf(status)) {
        case batch::StatusColor::Red:
            return QColor(Qt::red);
        case batch::StatusColor::Maroon:
            return QColor(128, 0, 0);
        case batch::StatusColor::Green:
            return QColor(0, 128, 0);
        case batch::StatusColor::Blue:
            return QColor(Qt::blue);
        case batch::StatusColor::Default:
            break;
    }
    return {};
}

}  // namespace

int BatchListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

int BatchListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant BatchListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const batch::TBatchItem& item = m_items[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) return Qs(index.column() == 0 ? item.FilePath : item.Status);
    if (role == Qt::ForegroundRole && index.column() == 1) return StatusColor(item.Status);
    return {};
}

QVariant BatchListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? Qs(batch::FileCountCaption(m_items.size())) : tr("Status");
}

void BatchListModel::reload() {
    beginResetModel();
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void BatchListModel::rowChanged(int row) {
    emit dataChanged(index(row, 0), index(row, 1));
}

}  // namespace pimo::ui
