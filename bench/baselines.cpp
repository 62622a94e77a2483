// SPDX-License-Identifier: Apache-2.0
#include "baselines.h"
#include "ui.h"

#include "app/frmmain.h"
#include "common/duplist.h"
#include "common/yield.h"
#include "progress/frmprogress.h"

#include <QListView>

namespace tsy::bench {

void naive_load(frmMain& w, cc::SyncBackend& backend) {
    model::ViewListModel& list = *tsy::test::ui(w).viewsModel;
    list.clear();
    ProgressSink& progress = w.progress();
    progress.start_progress(QStringLiteral("Loading all views..."));
    do_events();
    tsy::test::ui(w).viewsList->hide();
    std::unique_ptr<cc::ViewCollection> views =
        backend.createApplication(w.CCHOME)->views(false, QString());
    const int total = views->count();
    for (int i = 1; i <= total; ++i) {
        std::unique_ptr<cc::View> v = views->item(i);
        const QString tag = v->tagName();
        const QString host = v->host();
        if (!is_dup_list(model::ViewListModel::lineOf(tag, host), list))
            list.addView(tag, host);
        do_events();
        progress.set_msg(QStringLiteral("Loading --> ") + tag);
    }
    tsy::test::ui(w).viewsList->show();
    progress.stop_progress();
    if (list.count() >= 1)
        w.setCurrentRow(0);
    w.update_view_cnt();
}

int RowByRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant RowByRowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row& r = m_rows.at(index.row());
    if (role == Qt::DisplayRole)
        return r.line;
    if (role == Qt::CheckStateRole)
        return r.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

Qt::ItemFlags RowByRowModel::flags(const QModelIndex& index) const {
    return QAbstractListModel::flags(index) | Qt::ItemIsUserCheckable;
}

void RowByRowModel::setLines(const QStringList& lines) {
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(lines.size());
    for (const QString& l : lines)
        m_rows.append(Row{l, false});
    endResetModel();
}

int RowByRowModel::removeMatching(const QString& pattern) {
    const QString p = pattern.toLower();
    int removed = 0;
    for (int i = int(m_rows.size()) - 1; i >= 0; --i) {
        if (!m_rows.at(i).line.toLower().contains(p, Qt::CaseSensitive))
            continue;
        beginRemoveRows(QModelIndex(), i, i);
        m_rows.removeAt(i);
        endRemoveRows();
        ++removed;
    }
    return removed;
}

} // namespace tsy::bench
