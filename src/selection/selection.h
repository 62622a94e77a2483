#pragma once

#include <QString>

class QCheckBox;

namespace tsy {
class frmMain;
class ViewListModel;
} // namespace tsy

namespace tsy::selection {

// A check box counts as ticked only when it is fully checked.
bool ticked(const QCheckBox* box);

// Whether pattern occurs in line as a contiguous substring, no wildcards.
// With foldCase the line is lower-cased first; the caller lower-cases the
// pattern once for the whole walk.
bool line_matches(const QString& line, const QString& pattern, bool foldCase);

// Sets the marks of every line (empty pattern) or of the lines matching
// pattern to state; other lines keep their marks.
void set_check_state(frmMain& w, ViewListModel& list, bool state, QString pattern);

void select_all(frmMain& w);
void clear_all(frmMain& w);
void select_by_pattern_toggled(frmMain& w);

// Fills the find/filter combo box the first time the window is active.
void form_activate(frmMain& w);
void filter_action_chosen(frmMain& w);
void filter_pattern_changed(frmMain& w);
void filter_button(frmMain& w);

// Removes every line containing pattern (always ignoring case), with its
// mark, in one batch.
void filter_list(frmMain& w, ViewListModel& list, const QString& pattern);

// Moves the current line to the next line containing pattern, offering to
// start again from the top at the end of the list.
void find_next(frmMain& w, const QString& pattern);

} // namespace tsy::selection
