// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cc/session.h"

// The naive designs each figure is compared with, measured in the same run.

#include "model/viewlistmodel.h"

#include <QAbstractListModel>
#include <QList>

namespace tsy {
class frmMain;
}

namespace tsy::bench {

// The loader that keeps no index: for every new line it scans the list from
// the top with is_dup_list and inserts the line at its sorted place at once
// (one row insertion per view, no batch). Progress window, hidden list and
// one yield per view as in the real loader, so only the list work differs.
void naive_load(frmMain& w, cc::SyncBackend& backend);

// A list model that can only drop rows one at a time, each removal
// announced on its own with beginRemoveRows/endRemoveRows.
class RowByRowModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void setLines(const QStringList& lines);
    // Removes, from the last row up, every row whose line contains pattern
    // (ignoring case). Returns the rows removed.
    int removeMatching(const QString& pattern);

private:
    struct Row {
        QString line;
        bool checked = false;
    };
    QList<Row> m_rows;
};

} // namespace tsy::bench
