// SPDX-License-Identifier: Apache-2.0
#include "selection.h"

#include "model/viewlistmodel.h"

#include <QItemSelectionModel>

namespace tsy {

using model::line_matches;
using model::ViewListModel;

Selection::Selection(ViewListModel& list, QItemSelectionModel& current, QObject* parent)
    : QObject(parent), m_list(list), m_current(current) {}

int Selection::currentRow() const {
    const QModelIndex i = m_current.currentIndex();
    return i.isValid() ? i.row() : -1;
}

void Selection::setCurrentRow(int row) {
    if (row < 0 || row >= m_list.rowCount()) {
        m_current.clear();
        return;
    }
    m_current.setCurrentIndex(m_list.index(row), QItemSelectionModel::ClearAndSelect);
}

void Selection::setCheckState(bool state, QString pattern, bool foldCase) {
    if (m_list.count() == 0)
        return;
    if (foldCase)
        pattern = pattern.toLower();
    if (pattern.isEmpty()) {
        m_list.setCheckedWhere(state, {});
    } else {
        m_list.setCheckedWhere(
            state, [&](const QString& line) { return line_matches(line, pattern, foldCase); });
    }
}

void Selection::filter(const QString& pattern) {
    if (m_list.count() == 0)
        return;
    const QString p = pattern.toLower();
    int current = currentRow();
    const int removed = m_list.removeWhere(
        [&](const QString& line) { return line_matches(line, p, true); }, &current);
    if (removed > 0)
        setCurrentRow(current);
}

void Selection::findNext(const QString& pattern, bool foldCase, bool checkFound,
                         const std::function<bool()>& askFromTop) {
    if (m_list.count() == 0)
        return;
    const QString p = foldCase ? pattern.toLower() : pattern;
    int start = currentRow() + 1;
    for (;;) {
        const int n = m_list.count();
        for (int i = start; i < n; ++i) {
            if (!line_matches(m_list.text(i), p, foldCase))
                continue;
            setCurrentRow(i);
            if (checkFound)
                m_list.setChecked(i, true);
            return;
        }
        if (!askFromTop())
            return;
        setCurrentRow(0);
        start = 0;
    }
}

} // namespace tsy
