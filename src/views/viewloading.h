#pragma once

#include <QString>

namespace tsy {
class frmMain;
class ViewListModel;
} // namespace tsy

namespace tsy::views {

// "Load Views": empties the list, fills it from ClearCase and enables the
// selection and filter controls when views were found.
void load_views(frmMain& w);

// Fills list with one "tag:host" line per view of the region. Views that
// cannot be read are counted and reported together after the list is
// shown, with the most recent failure's description.
void get_myviews(frmMain& w, ViewListModel& list, const QString& region);

// "Found: N views".
void update_view_cnt(frmMain& w);

// The storage path of a view: everything from the earliest path marker of
// `lsview TAG` output on, untrimmed. Empty after a reported failure.
QString getViewStg(frmMain& w, const QString& vTag);

// The marker that starts a storage path in lsview output: two backslashes
// on Windows, a slash on POSIX.
QString storage_marker();

} // namespace tsy::views
