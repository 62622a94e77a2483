#pragma once

#include <QString>

class QListView;

namespace tsy {
class frmMain;
}

namespace tsy::views {

// The detail report's text for one view.
QString view_details_text(bool active, bool snapshot, bool ucm, const QString& host,
                          const QString& configSpec);

// Shows the detail report of the view on the list's current line.
void show_view_details(frmMain& w, QListView* list);

} // namespace tsy::views
