// SPDX-License-Identifier: Apache-2.0
#pragma once

// Check marks set in bulk, the filter that removes matching lines and the
// search that steps from one matching line to the next. They work on the
// list model and its current line (a QItemSelectionModel), with the
// options the window's controls give.

#include "model/viewlistmodel.h"

#include <QObject>
#include <QString>

#include <functional>

class QItemSelectionModel;

namespace tsy {

class Selection : public QObject {
    Q_OBJECT

public:
    Selection(model::ViewListModel& list, QItemSelectionModel& current, QObject* parent = nullptr);

    // The current line, or -1; setting -1 or a row out of range leaves none.
    int currentRow() const;
    void setCurrentRow(int row);

    // Sets the marks of every line (empty pattern) or of the lines matching
    // pattern to state; other lines keep their marks.
    void setCheckState(bool state, QString pattern, bool foldCase);

    // Removes every line containing pattern (always ignoring case), with its
    // mark, in one batch. The current line stays current when it stays.
    void filter(const QString& pattern);

    // Moves the current line to the next line containing pattern; with
    // checkFound the line found is checked too. At the end of the list
    // askFromTop decides whether to go on from the top.
    void findNext(const QString& pattern, bool foldCase, bool checkFound,
                  const std::function<bool()>& askFromTop);

private:
    model::ViewListModel& m_list;
    QItemSelectionModel& m_current;
};

} // namespace tsy
