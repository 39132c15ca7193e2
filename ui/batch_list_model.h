#pragma once
// The batch window's list: a view of the window's entries that holds no data
// of its own, with the file count in its first column's caption and the
// status painted in its colour.

#include <QAbstractTableModel>

#include "batch/batch_list.h"

namespace pimo::ui {

class BatchListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit BatchListModel(const batch::BatchItems& items, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_items(items) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// The entries changed as a whole (added, removed, reordered).
    void reload();
    /// Entry `row` changed its status.
    void rowChanged(int row);

  private:
    const batch::BatchItems& m_items;
};

}  // namespace pimo::ui
