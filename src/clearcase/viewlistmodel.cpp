#include "viewlistmodel.h"

#include <algorithm>

namespace tsy {

bool line_matches(const QString& line, const QString& pattern, bool foldCase) {
    if (foldCase)
        return line.toLower().contains(pattern, Qt::CaseSensitive);
    return line.contains(pattern, Qt::CaseSensitive);
}

ViewListModel::ViewListModel(QObject* parent) : QAbstractListModel(parent) {}

bool ViewListModel::lineLess(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    if (c != 0)
        return c < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

int ViewListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ViewListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ViewRow& r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole: // a long line is elided; its host must stay readable
        return r.line;
    case Qt::CheckStateRole:
        return r.checked ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

bool ViewListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= m_rows.size())
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    ViewRow& r = m_rows[index.row()];
    if (r.checked == checked)
        return true;
    r.checked = checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit itemCheck(index.row());
    return true;
}

Qt::ItemFlags ViewListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}

int ViewListModel::count() const {
    return int(m_rows.size() + m_pending.size());
}

QString ViewListModel::text(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? r->line : QString();
}

bool ViewListModel::isChecked(int row) const {
    return row >= 0 && row < m_rows.size() && m_rows.at(row).checked;
}

void ViewListModel::setChecked(int row, bool checked) {
    if (row < 0 || row >= m_rows.size() || m_rows.at(row).checked == checked)
        return;
    m_rows[row].checked = checked;
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::CheckStateRole});
}

int ViewListModel::checkedCount() const {
    return int(
        std::count_if(m_rows.cbegin(), m_rows.cend(), [](const ViewRow& r) { return r.checked; }));
}

void ViewListModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_pending.clear();
    m_folded.clear();
    endResetModel();
}

bool ViewListModel::containsIgnoringCase(const QString& line) const {
    return m_folded.contains(folded(line));
}

QString ViewListModel::lineOf(const QString& tag, const QString& host) {
    return tag + u':' + host;
}

const ViewRow* ViewListModel::rowAt(int row) const {
    if (row >= 0 && row < m_rows.size())
        return &m_rows.at(row);
    const qsizetype p = row - m_rows.size();
    if (row >= 0 && p < m_pending.size())
        return &m_pending.at(p);
    return nullptr;
}

QString ViewListModel::tag(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? r->tag : QString();
}

QString ViewListModel::host(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? r->host : QString();
}

bool ViewListModel::addView(const QString& tag, const QString& host) {
    const QString line = lineOf(tag, host);
    QString key = folded(line);
    if (m_folded.contains(key))
        return false;
    m_folded.insert(std::move(key));
    if (m_batch) {
        m_pending.append(ViewRow{line, tag, host, false});
        return true;
    }
    const auto at =
        std::upper_bound(m_rows.begin(), m_rows.end(), line,
                         [](const QString& l, const ViewRow& r) { return lineLess(l, r.line); });
    const int row = int(at - m_rows.begin());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(row, ViewRow{line, tag, host, false});
    endInsertRows();
    return true;
}

void ViewListModel::beginBatch() {
    m_batch = true;
}

void ViewListModel::endBatch() {
    if (!m_batch)
        return;
    m_batch = false;
    if (m_pending.isEmpty())
        return;
    const auto less = [](const ViewRow& a, const ViewRow& b) {
        return lineLess(a.line, b.line);
    };
    std::stable_sort(m_pending.begin(), m_pending.end(), less);
    beginResetModel();
    if (m_rows.isEmpty()) {
        m_rows.swap(m_pending);
    } else {
        QList<ViewRow> merged;
        merged.reserve(m_rows.size() + m_pending.size());
        std::merge(std::make_move_iterator(m_rows.begin()), std::make_move_iterator(m_rows.end()),
                   std::make_move_iterator(m_pending.begin()),
                   std::make_move_iterator(m_pending.end()), std::back_inserter(merged), less);
        m_rows.swap(merged);
    }
    m_pending.clear();
    endResetModel();
}

int ViewListModel::setCheckedWhere(bool checked, const std::function<bool(const QString&)>& pred) {
    int first = -1;
    int last = -1;
    int changed = 0;
    for (int i = 0; i < m_rows.size(); ++i) {
        ViewRow& r = m_rows[i];
        if (pred && !pred(r.line))
            continue;
        ++changed;
        if (r.checked != checked) {
            r.checked = checked;
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first >= 0)
        emit dataChanged(index(first), index(last), {Qt::CheckStateRole});
    return changed;
}

int ViewListModel::removeWhere(const std::function<bool(const QString&)>& pred, int* currentRow) {
    if (m_rows.isEmpty())
        return 0;
    // First pass marks, so that the current row's new place is known
    // before anything moves.
    int newCurrent = -1;
    const int oldCurrent = currentRow ? *currentRow : -1;
    QList<bool> drop(m_rows.size(), false);
    int kept = 0;
    int removed = 0;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (pred(m_rows.at(i).line)) {
            drop[i] = true;
            ++removed;
        } else {
            if (i == oldCurrent)
                newCurrent = kept;
            ++kept;
        }
    }
    if (currentRow)
        *currentRow = newCurrent;
    if (removed == 0)
        return 0;
    beginResetModel();
    qsizetype out = 0;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (drop.at(i)) {
            m_folded.remove(folded(m_rows.at(i).line));
            continue;
        }
        if (out != i)
            m_rows[out] = std::move(m_rows[i]);
        ++out;
    }
    m_rows.resize(out);
    endResetModel();
    return removed;
}

} // namespace tsy
