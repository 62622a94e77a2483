#include "selection.h"

#include "app/frmmain.h"
#include "common/duplist.h"
#include "common/msgbox.h"
#include "common/viewlistmodel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

namespace tsy::selection {

namespace {
const QString kFind = QStringLiteral("Find-->");
const QString kFilter = QStringLiteral("Filter-->");
const QString kPlaceholder = QStringLiteral("<pattern>");
} // namespace

bool ticked(const QCheckBox* box) {
    return box && box->checkState() == Qt::Checked;
}

bool line_matches(const QString& line, const QString& pattern, bool foldCase) {
    if (foldCase)
        return line.toLower().contains(pattern, Qt::CaseSensitive);
    return line.contains(pattern, Qt::CaseSensitive);
}

void set_check_state(frmMain& w, ViewListModel& list, bool state, QString pattern) {
    if (list.count() == 0)
        return;
    const bool fold = ticked(w.caseInsensitiveCB);
    if (fold)
        pattern = pattern.toLower();
    if (pattern.isEmpty()) {
        list.setCheckedWhere(state, {});
    } else {
        list.setCheckedWhere(
            state, [&](const QString& line) { return line_matches(line, pattern, fold); });
    }
    w.viewsList->viewport()->update();
}

void select_all(frmMain& w) {
    const QString pattern =
        ticked(w.selectAllByPatternCB) ? w.selectAllByPatternTxt->text() : QString();
    set_check_state(w, *w.viewsModel, true, pattern);
}

void clear_all(frmMain& w) {
    set_check_state(w, *w.viewsModel, false, QString());
}

void select_by_pattern_toggled(frmMain& w) {
    QPalette pal = w.selectAllByPatternTxt->palette();
    const QPalette sys = QApplication::palette();
    if (ticked(w.selectAllByPatternCB)) {
        pal.setColor(QPalette::Base, sys.color(QPalette::Base));
        w.selectAllByPatternTxt->setPalette(pal);
        w.selectAllByPatternTxt->setEnabled(true);
    } else {
        pal.setColor(QPalette::Base, sys.color(QPalette::Button));
        w.selectAllByPatternTxt->setPalette(pal);
        w.selectAllByPatternTxt->setEnabled(false);
    }
}

void form_activate(frmMain& w) {
    const ComboTextList items(w.filterActionCombo);
    const bool hasFilter = is_dup_list(kFilter, items);
    const bool hasFind = is_dup_list(kFind, items);
    if (hasFilter || hasFind)
        return;
    w.filterActionCombo->addItem(kFind);
    w.filterActionCombo->addItem(kFilter);
    w.filterActionCombo->setCurrentIndex(0);
    w.filterActionCombo_Click();
}

void filter_action_chosen(frmMain& w) {
    const QString action = w.filterActionCombo->currentText();
    w.filterBut->setText(action);
    if (action == kFilter)
        w.selectItemsFoundCB->setEnabled(false);
    else
        w.selectItemsFoundCB->setEnabled(w.caseInsensitiveCB->isEnabled());
}

void filter_pattern_changed(frmMain& w) {
    const QString t = w.filterPatternTxt->text();
    const bool usable = !t.isEmpty() && t != kPlaceholder;
    // While a load or run is under way the button stays disabled; it takes
    // this state when the operation ends.
    w.setFilterButWanted(usable);
    w.selectItemsFoundCB->setEnabled(usable);
}

void filter_button(frmMain& w) {
    const QString action = w.filterActionCombo->currentText();
    const QString pattern = w.filterPatternTxt->text();
    if (action == kFind) {
        find_next(w, pattern);
    } else if (action == kFilter) {
        // Removing lines under a running load or run would change the rows
        // beneath it.
        if (!w.operationUnderway())
            filter_list(w, *w.viewsModel, pattern);
    }
    w.update_view_cnt();
}

void filter_list(frmMain& w, ViewListModel& list, const QString& pattern) {
    if (list.count() == 0)
        return;
    const QString p = pattern.toLower();
    int current = w.currentRow();
    const int removed = list.removeWhere(
        [&](const QString& line) { return line_matches(line, p, true); }, &current);
    if (removed > 0)
        w.setCurrentRow(current);
}

void find_next(frmMain& w, const QString& pattern) {
    ViewListModel& list = *w.viewsModel;
    if (list.count() == 0)
        return;
    const bool fold = ticked(w.caseInsensitiveCB);
    const QString p = fold ? pattern.toLower() : pattern;
    int start = w.currentRow() + 1;
    for (;;) {
        const int n = list.count();
        for (int i = start; i < n; ++i) {
            if (!line_matches(list.text(i), p, fold))
                continue;
            w.setCurrentRow(i);
            // "Select Items Matching Pattern": a found line is also checked.
            if (ticked(w.selectItemsFoundCB) && w.selectItemsFoundCB->isEnabled())
                list.setChecked(i, true);
            return;
        }
        const MsgAnswer a = msg_box(
            QStringLiteral("Either at the end of the list or couldn't find\r\nthe "
                           "pattern\r\n\r\n>> Do you want to search from the beginning? <<"),
            QStringLiteral("Done Searching..."), MsgIcon::Information, MsgButtons::YesNo);
        if (a != MsgAnswer::Yes)
            return;
        w.setCurrentRow(0);
        start = 0;
    }
}

} // namespace tsy::selection
